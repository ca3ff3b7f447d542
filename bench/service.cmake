# minilirra-service on loopback: keep-alive, server-list and login answers per second.
if(TARGET ml_service)
  ml_bench(bench_service SOURCES ${CMAKE_CURRENT_LIST_DIR}/service_bench.cpp DEPS ml_service)
endif()
