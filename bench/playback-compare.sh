#!/usr/bin/env bash
# Side-by-side figures for the playback engine, in one run:
#   1. decoding a 60 s stereo MP3: our decoder vs raw libmad (Google Benchmark) vs `mpg123 -t`
#   2. CPU used by `minilirra-cli play` on the paced null output over the whole 60 s song
#   3. opening a 10 MB VBR MP3 without a Xing header (every frame header walked): decoder, tags
# Needs the release build (cmake --preset release && cmake --build --preset release).
# Goals: ours >= 0.9x libmad's speed; ours <= 2.5x mpg123's time; play <= 1 % of one core;
# a 10 MB Xing-less file opens in tens of milliseconds at most.
set -euo pipefail
. "$(dirname "$0")/bench-mp3.sh"

json=$(mktemp)
"$bin/bench_playback_decode" --benchmark_format=json --benchmark_out="$json" --benchmark_out_format=json >/dev/null
pick() { python3 -c "import json; print([x['real_time'] for x in json.load(open('$json'))['benchmarks'] if x['name'].startswith('$1')][0])"; }
ours=$(pick BM_OurMPEGDecoder)
raw=$(pick BM_RawLibmad)
open_xingless=$(pick BM_OpenXinglessVbr10MB)
tags_xingless=$(pick BM_TagsXinglessVbr10MB)
rm -f "$json"

# mpg123 in test mode decodes everything and writes nothing; best of five runs.
best=""
for _ in 1 2 3 4 5; do
  t=$( { /usr/bin/time -f "%e" mpg123 -q -t "$mp3" >/dev/null; } 2>&1 | tail -1)
  if [[ -z $best ]] || python3 -c "import sys; sys.exit(0 if $t < $best else 1)"; then best=$t; fi
done
mpg=$(python3 -c "print($best * 1000)")

echo "decode 60 s stereo MP3 (ms): ours $ours   raw libmad $raw   mpg123 -t $mpg"
python3 -c "print('  speed vs libmad: %.2fx (goal >= 0.90x)' % ($raw / $ours))"
python3 -c "print('  time vs mpg123:  %.2fx (goal <= 2.50x)' % ($ours / max($mpg, 1e-9)))"
echo "open a 10 MB Xing-less VBR MP3 (ms): decoder $open_xingless   tag reader $tags_xingless"

# The player on the null output plays in real time; count the CPU it used for the whole song.
out=$( { /usr/bin/time -f "%U %S %e" "$bin/minilirra-cli" --data-dir "$(mktemp -d)" play "$mp3" --output null --quiet >/dev/null; } 2>&1 | tail -1)
read -r user sys elapsed <<<"$out"
python3 -c "print('play on the null output: %.2f s CPU over %.1f s = %.2f %% of one core (goal <= 1 %%)' % ($user + $sys, $elapsed, 100 * ($user + $sys) / $elapsed))"
