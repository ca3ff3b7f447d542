# One whole decode of a WMA, Ogg Vorbis or FLAC file, timed by bench/formats-compare.sh beside
# ffmpeg, oggdec and flac.
add_executable(bench_formats_decode ${CMAKE_CURRENT_LIST_DIR}/formats-decode.cpp)
target_include_directories(bench_formats_decode PRIVATE ${ML_CORE_INCLUDE} ${ML_PROGRAM_INCLUDE})
target_link_libraries(bench_formats_decode PRIVATE ml_playback)
add_dependencies(bench_formats_decode in_vorbis in_flac)
