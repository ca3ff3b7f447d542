# minilirra-service on loopback: keep-alive, server-list and login answers per second.
# The benchmark composes its requests with the network test tools (built with the tests).
if(TARGET ml_service AND TARGET ml_nettest)
  ml_bench(bench_service SOURCES ${CMAKE_CURRENT_LIST_DIR}/service_bench.cpp DEPS ml_service ml_nettest)
endif()
# The search server on one thread over a catalogue of 100,000 generated songs.
if(TARGET ml_service AND TARGET ml_nettest)
  ml_bench(bench_service_search SOURCES ${CMAKE_CURRENT_LIST_DIR}/service_search_bench.cpp DEPS ml_service ml_nettest)
endif()
