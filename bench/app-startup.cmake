# How long a second start's requests take to be answered by the running instance.
if(TARGET ml_app)
  ml_bench(app_startup_bench SOURCES ${CMAKE_CURRENT_LIST_DIR}/app_startup_bench.cpp DEPS ml_app)
endif()
