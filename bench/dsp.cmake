# The effects' cost: each stage on a second of stereo audio, one spectrum tick, and a whole MP3
# decoded through the chain (bench/effects-compare.sh adds mpg123 and the player's CPU).
ml_bench(bench_dsp SOURCES ${CMAKE_CURRENT_LIST_DIR}/dsp_bench.cpp DEPS ml_dsp ml_playback)
