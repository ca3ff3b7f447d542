# Sourced by the comparison scripts: the release binaries' folder ($bin) and the 60-second stereo
# 128 kbit/s MP3 they time ($mp3, exported as ML_BENCH_MP3 for the Google benchmarks), made once
# with sox and lame and kept in /tmp.
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
bin=${ML_RELEASE_BIN:-$root/build/release/bin}
mp3=${ML_BENCH_MP3:-/tmp/minilirra-bench-60s.mp3}
if [[ ! -s $mp3 ]]; then
  sox -q -n -r 44100 -c 2 -b 16 /tmp/minilirra-bench-60s.wav synth 60 sine 220-880 sine 330-990 gain -6
  lame --quiet --cbr -b 128 /tmp/minilirra-bench-60s.wav "$mp3"
  rm -f /tmp/minilirra-bench-60s.wav
fi
export ML_BENCH_MP3=$mp3
