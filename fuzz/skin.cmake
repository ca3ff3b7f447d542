# The skin package: any bytes as an archive with every entry taken out; any bytes as the
# definition (packed for the reader) with every query asked.
if(TARGET ml_skin)
  ml_fuzzer(fuzz_skin_archive SOURCES ${CMAKE_CURRENT_LIST_DIR}/fuzz_skin_archive.cpp DEPS ml_skin)
  find_package(ZLIB REQUIRED)
  ml_fuzzer(fuzz_skin_definition SOURCES ${CMAKE_CURRENT_LIST_DIR}/fuzz_skin_definition.cpp DEPS ml_skin ZLIB::ZLIB)
endif()
# The pictures of a package through Qt's decoders under our allocation limit.
if(TARGET ml_skin_ui)
  ml_fuzzer(fuzz_skin_image SOURCES ${CMAKE_CURRENT_LIST_DIR}/fuzz_skin_image.cpp DEPS ml_skin_ui)
endif()
