ml_fuzzer(fuzz_decoders SOURCES ${CMAKE_CURRENT_LIST_DIR}/fuzz_decoders.cpp DEPS ml_playback)
ml_fuzzer(fuzz_wma_decoder SOURCES ${CMAKE_CURRENT_LIST_DIR}/fuzz_wma_decoder.cpp DEPS ml_playback)
