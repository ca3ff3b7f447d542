ml_bench(library_bench SOURCES ${CMAKE_CURRENT_LIST_DIR}/library_bench.cpp DEPS ml_library)
