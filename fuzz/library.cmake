ml_fuzzer(fuzz_library_xml SOURCES ${CMAKE_CURRENT_LIST_DIR}/fuzz_library_xml.cpp DEPS ml_library)
