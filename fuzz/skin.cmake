# The skin package: any bytes as an archive, every entry taken out.
if(TARGET ml_skin)
  ml_fuzzer(fuzz_skin_archive SOURCES ${CMAKE_CURRENT_LIST_DIR}/fuzz_skin_archive.cpp DEPS ml_skin)
endif()
