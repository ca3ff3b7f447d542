# The service's roles, reached through their table with opened payloads.
if(TARGET ml_service)
  ml_fuzzer(fuzz_service SOURCES ${CMAKE_CURRENT_LIST_DIR}/service_fuzz.cpp DEPS ml_service)
endif()
