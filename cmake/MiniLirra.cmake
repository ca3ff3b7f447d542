# One include root: src/ for the core, so every include names its folder ("base/Dispatcher.h").
# The programs outside src/ (service, cli, tests, benchmarks, fuzzers) also have the repository
# root, so their own headers are named from there ("service/...", "tests/support/..."); a core
# library never sees them.
set(ML_CORE_INCLUDE ${CMAKE_SOURCE_DIR}/src)
set(ML_PROGRAM_INCLUDE ${CMAKE_SOURCE_DIR})

# ml_library(NAME SOURCES... DEPS ...): one subsystem library of the core.
function(ml_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
  add_library(${name} STATIC ${ARG_SOURCES})
  target_include_directories(${name} PUBLIC ${ML_CORE_INCLUDE})
  target_link_libraries(${name} PUBLIC ${ARG_DEPS})
endfunction()

# ml_program_library(NAME SOURCES... DEPS ...): a library of a program outside src/ (the
# service's roles, the test tools).
function(ml_program_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
  add_library(${name} STATIC ${ARG_SOURCES})
  target_include_directories(${name} PUBLIC ${ML_CORE_INCLUDE} ${ML_PROGRAM_INCLUDE})
  target_link_libraries(${name} PUBLIC ${ARG_DEPS})
endfunction()

# ml_test(NAME SOURCES... DEPS ... LABELS ...): a GoogleTest binary registered with CTest.
# Tests run from the build's bin folder with ML_SOURCE_DIR pointing at the checkout (fixtures, scripts).
function(ml_test name)
  cmake_parse_arguments(ARG "" "TIMEOUT" "SOURCES;DEPS;LABELS" ${ARGN})
  if(NOT ARG_LABELS)
    set(ARG_LABELS unit)
  endif()
  if(NOT ARG_TIMEOUT)
    set(ARG_TIMEOUT 300)
  endif()
  add_executable(${name} ${ARG_SOURCES})
  target_include_directories(${name} PRIVATE ${ML_CORE_INCLUDE} ${ML_PROGRAM_INCLUDE})
  target_link_libraries(${name} PRIVATE ${ARG_DEPS} ml_testsupport GTest::gtest GTest::gtest_main)
  add_test(NAME ${name} COMMAND ${name} WORKING_DIRECTORY ${CMAKE_BINARY_DIR}/bin)
  set_tests_properties(${name} PROPERTIES LABELS "${ARG_LABELS}" TIMEOUT ${ARG_TIMEOUT}
    ENVIRONMENT "ML_SOURCE_DIR=${CMAKE_SOURCE_DIR};ML_BIN_DIR=${CMAKE_BINARY_DIR}/bin")
endfunction()

# ml_fuzzer(NAME SOURCES... DEPS ...): a libFuzzer target; its seed corpus is fuzz/corpus/NAME/.
function(ml_fuzzer name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_include_directories(${name} PRIVATE ${ML_CORE_INCLUDE} ${ML_PROGRAM_INCLUDE})
  target_compile_options(${name} PRIVATE -fsanitize=fuzzer,address,undefined)
  target_link_options(${name} PRIVATE -fsanitize=fuzzer,address,undefined)
  target_link_libraries(${name} PRIVATE ${ARG_DEPS})
endfunction()

# ml_bench(NAME SOURCES... DEPS ...): a Google Benchmark binary (release preset).
function(ml_bench name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
  find_package(benchmark REQUIRED)
  add_executable(${name} ${ARG_SOURCES})
  target_include_directories(${name} PRIVATE ${ML_CORE_INCLUDE} ${ML_PROGRAM_INCLUDE})
  target_link_libraries(${name} PRIVATE ${ARG_DEPS} benchmark::benchmark benchmark::benchmark_main)
endfunction()

# ml_plugin(NAME FOLDER DIR SOURCES... DEPS ...): a plug-in, a shared library loaded with dlopen,
# written as NAME.so into bin/DIR (the folder the program searches, or a test's own folder).
# The programs depend on the plug-ins of the folders they search (InExtend, Plugins),
# so building a program builds them and the build is ready to run.
function(ml_plugin name)
  cmake_parse_arguments(ARG "" "FOLDER" "SOURCES;DEPS" ${ARGN})
  add_library(${name} MODULE ${ARG_SOURCES})
  set_target_properties(${name} PROPERTIES PREFIX "" LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin/${ARG_FOLDER}
                                           C_VISIBILITY_PRESET hidden CXX_VISIBILITY_PRESET hidden)
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR})
  target_link_libraries(${name} PRIVATE ${ARG_DEPS})
  if(ARG_FOLDER STREQUAL "InExtend" OR ARG_FOLDER STREQUAL "Plugins")
    foreach(program minilirra minilirra-cli)
      if(TARGET ${program})
        add_dependencies(${program} ${name})
      endif()
    endforeach()
  endif()
endfunction()
