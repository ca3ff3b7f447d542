if(TARGET ml_library_ui)
  ml_bench(library_ui_bench SOURCES ${CMAKE_CURRENT_LIST_DIR}/library_ui_bench.cpp DEPS ml_library_ui)
endif()
