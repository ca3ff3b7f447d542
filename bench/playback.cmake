# Decoding speed of the MPEG decoder against raw libmad (bench/playback-compare.sh adds mpg123
# and the player's CPU use in the same run).
ml_bench(bench_playback_decode SOURCES ${CMAKE_CURRENT_LIST_DIR}/playback-decode.cpp DEPS ml_playback)
