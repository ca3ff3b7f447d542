ml_fuzzer(fuzz_decoders SOURCES ${CMAKE_CURRENT_LIST_DIR}/fuzz_decoders.cpp DEPS ml_playback)
