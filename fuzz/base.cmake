ml_fuzzer(fuzz_ini SOURCES ${CMAKE_CURRENT_LIST_DIR}/fuzz_ini.cpp DEPS ml_base)
ml_fuzzer(fuzz_settings SOURCES ${CMAKE_CURRENT_LIST_DIR}/fuzz_settings.cpp DEPS ml_app)
