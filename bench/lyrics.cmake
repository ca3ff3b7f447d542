# Lyrics: parse time of a 1 MB LRC file in each encoding, line lookup per position against size.
ml_bench(lyrics_bench SOURCES ${CMAKE_CURRENT_LIST_DIR}/lyrics_bench.cpp DEPS ml_lyrics)
