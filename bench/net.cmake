# Request/response round trips through TLRUDPClient against a raw UDP echo pump, in one run;
# envelope and command-record throughput.
ml_bench(bench_net SOURCES ${CMAKE_CURRENT_LIST_DIR}/net/NetBench.cpp DEPS ml_net)
