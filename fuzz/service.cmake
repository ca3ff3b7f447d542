# Readers of the service's untrusted bytes: the server-list cache file and the service's
# server-list and keep-alive request readers.
if(TARGET ml_service)
  ml_fuzzer(fuzz_service SOURCES ${CMAKE_CURRENT_LIST_DIR}/service_fuzz.cpp DEPS ml_service)
endif()
