# The LRC reader: any bytes as a lyric file, then the queries and the offset write-back.
ml_fuzzer(lrc_parse SOURCES ${CMAKE_CURRENT_LIST_DIR}/lyrics_fuzz.cpp DEPS ml_lyrics)
