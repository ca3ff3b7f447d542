# The start-up readers of bytes from other processes and packages: the command-line hand-off,
# the mailbox record and the update lists' paths.
if(TARGET ml_app)
  ml_fuzzer(app_startup_fuzz SOURCES ${CMAKE_CURRENT_LIST_DIR}/app_startup_fuzz.cpp DEPS ml_app)
endif()
