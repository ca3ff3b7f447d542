# Readers behind the online conversations: the search view's model over result parts.
ml_fuzzer(fuzz_search_results SOURCES ${CMAKE_CURRENT_LIST_DIR}/online/SearchResultsFuzz.cpp DEPS ml_online)
