# Tags read per second over a folder of generated files (see bench_media.cpp).
ml_bench(bench_media SOURCES ${CMAKE_CURRENT_LIST_DIR}/bench_media.cpp DEPS ml_media)
target_compile_definitions(bench_media PRIVATE ML_SOURCE_DIR="${CMAKE_SOURCE_DIR}")
