# The download job's batches of data packets, through the transfer-block reader; the upload side
# under arbitrary new and old requests.
if(TARGET ml_transfer)
  ml_fuzzer(fuzz_transfer_batch SOURCES ${CMAKE_CURRENT_LIST_DIR}/transfer/BatchFuzz.cpp DEPS ml_transfer)
  ml_fuzzer(fuzz_transfer_uploads SOURCES ${CMAKE_CURRENT_LIST_DIR}/transfer/UploadFuzz.cpp DEPS ml_transfer)
endif()
