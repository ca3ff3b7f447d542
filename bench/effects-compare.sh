#!/usr/bin/env bash
# Side-by-side figures for the sound effects, in one run:
#   1. the stages alone and a spectrum tick (Google Benchmark), and a 60 s MP3 decoded through
#      amplifier + equalizer + 3D + spectrum in-process, as times real time (goal >= 100x)
#   2. `minilirra-cli play` of the MP3 to a WAV file with every effect and the spectrum on, against
#      `mpg123 -t` (decode only) and against itself with no effects, by bench/pair-runs.py
#   3. CPU of `minilirra-cli play` on the paced null output over the whole song with every effect
#      and the spectrum on (goal <= 2 % of one core)
# Needs the release build (cmake --preset release && cmake --build --preset release).
set -euo pipefail
. "$(dirname "$0")/bench-mp3.sh"
data=$(mktemp -d)
trap 'rm -rf "$data"' EXIT
effects=(--eq 14 --preamp 2 --3d 50 --spectrum)

taskset -c 0 "$bin/bench_dsp" --benchmark_counters_tabular=true

echo
echo "== play to a WAV file, every effect and the spectrum on, vs mpg123 -t"
"$(dirname "$0")/pair-runs.py" --pin 0 -n 7 --vs "mpg123 -q -t $mp3" -- \
  "$bin/minilirra-cli" --data-dir "$data" play "$mp3" --output wav:/dev/null --quiet "${effects[@]}"
echo
echo "== the same, vs no effects"
"$(dirname "$0")/pair-runs.py" --pin 0 -n 7 --vs "$bin/minilirra-cli --data-dir $data play $mp3 --output wav:/dev/null --quiet" -- \
  "$bin/minilirra-cli" --data-dir "$data" play "$mp3" --output wav:/dev/null --quiet "${effects[@]}"

echo
out=$( { /usr/bin/time -f "%U %S %e" "$bin/minilirra-cli" --data-dir "$data" play "$mp3" --output null --quiet \
         "${effects[@]}" >/dev/null; } 2>&1 | tail -1)
read -r user sys elapsed <<<"$out"
python3 -c "print('play on the paced null output, every effect and the spectrum on: %.2f s CPU over %.1f s = %.2f %% of one core (goal <= 2 %%)' % ($user + $sys, $elapsed, 100 * ($user + $sys) / $elapsed))"
