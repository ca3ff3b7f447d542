# Readers of network bytes: the envelope opener, the command-record reader, the record readers
# with the server-list cache file, the SOCKS5 parsers.
ml_fuzzer(fuzz_net_envelope SOURCES ${CMAKE_CURRENT_LIST_DIR}/net/EnvelopeFuzz.cpp DEPS ml_net)
ml_fuzzer(fuzz_net_cmdstream SOURCES ${CMAKE_CURRENT_LIST_DIR}/net/CmdStreamFuzz.cpp DEPS ml_net)
ml_fuzzer(fuzz_net_socks5 SOURCES ${CMAKE_CURRENT_LIST_DIR}/net/Socks5Fuzz.cpp DEPS ml_net)
ml_fuzzer(fuzz_net_records SOURCES ${CMAKE_CURRENT_LIST_DIR}/net/RecordsFuzz.cpp DEPS ml_net)
