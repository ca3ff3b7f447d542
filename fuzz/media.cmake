# One target per tag reader, the merged reader, and the caption parser; fuzz_media.cpp picks
# the reader by the FUZZ_READER definition.
foreach(reader id3v1 id3v2 apetag mpeg wma wav ogg taginfo songname)
  ml_fuzzer(fuzz_${reader} SOURCES ${CMAKE_CURRENT_LIST_DIR}/fuzz_media.cpp DEPS ml_media)
  string(TOUPPER ${reader} upper)
  target_compile_definitions(fuzz_${reader} PRIVATE FUZZ_READER_${upper})
endforeach()
