#!/usr/bin/env bash
# Side-by-side figures for the sound effects, in one run:
#   1. the stages alone and a spectrum tick (Google Benchmark), and a 60 s MP3 decoded through
#      amplifier + equalizer + 3D + spectrum in-process, as times real time (goal >= 100x)
#   2. `minilirra-cli play` of the MP3 to a WAV file with every effect and the spectrum on, against
#      `mpg123 -t` (decode only) and against itself with no effects, by farm-bench
#   3. CPU of `minilirra-cli play` on the paced null output over the whole song with every effect
#      and the spectrum on (goal <= 2 % of one core)
# Needs the release build (cmake --preset release && cmake --build --preset release).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bin=${ML_RELEASE_BIN:-$root/build/release/bin}
mp3=${ML_BENCH_MP3:-/tmp/minilirra-bench-60s.mp3}
if [[ ! -s $mp3 ]]; then
  sox -q -n -r 44100 -c 2 -b 16 /tmp/minilirra-bench-60s.wav synth 60 sine 220-880 sine 330-990 gain -6
  lame --quiet --cbr -b 128 /tmp/minilirra-bench-60s.wav "$mp3"
  rm -f /tmp/minilirra-bench-60s.wav
fi
export ML_BENCH_MP3=$mp3
data=$(mktemp -d)
trap 'rm -rf "$data"' EXIT
effects=(--eq 14 --preamp 2 --3d 50 --spectrum)

taskset -c 0 "$bin/bench_dsp" --benchmark_counters_tabular=true

echo
echo "== play to a WAV file, every effect and the spectrum on, vs mpg123 -t"
farm-bench --pin 0 -n 7 --vs "mpg123 -q -t $mp3" -- \
  "$bin/minilirra-cli" --data-dir "$data" play "$mp3" --output wav:/dev/null --quiet "${effects[@]}"
echo
echo "== the same, vs no effects"
farm-bench --pin 0 -n 7 --vs "$bin/minilirra-cli --data-dir $data play $mp3 --output wav:/dev/null --quiet" -- \
  "$bin/minilirra-cli" --data-dir "$data" play "$mp3" --output wav:/dev/null --quiet "${effects[@]}"

echo
out=$( { /usr/bin/time -f "%U %S %e" "$bin/minilirra-cli" --data-dir "$data" play "$mp3" --output null --quiet \
         "${effects[@]}" >/dev/null; } 2>&1 | tail -1)
read -r user sys elapsed <<<"$out"
python3 -c "print('play on the paced null output, every effect and the spectrum on: %.2f s CPU over %.1f s = %.2f %% of one core (goal <= 2 %%)' % ($user + $sys, $elapsed, 100 * ($user + $sys) / $elapsed))"
