#!/usr/bin/env bash
# Side-by-side decoding times, whole processes, paired runs (bench/pair-runs.py):
#   WMA v2 128 kbit/s, 60 s stereo: bench_formats_decode (our ASF reader + libavcodec) vs
#     ffmpeg -threads 1 decoding to 16-bit PCM into /dev/null
#   Ogg Vorbis (oggenc -q 4) through in_vorbis.so vs oggdec -R into /dev/null
#   FLAC (flac -5) through in_flac.so vs flac -d into /dev/null
# Needs the release build (cmake --preset release && cmake --build --preset release). Goal: within
# 1.5x of each reference (the plug-in path adds a thread, the ring and its hand-over).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bin=${ML_RELEASE_BIN:-$root/build/release/bin}
dir=/tmp/minilirra-bench-formats
mkdir -p "$dir"
if [[ ! -s $dir/song.flac ]]; then
  sox -q -n -r 44100 -c 2 -b 16 "$dir/song.wav" synth 60 sine 220-880 sine 330-990 gain -6 tremolo 3 40
  ffmpeg -loglevel error -y -i "$dir/song.wav" -c:a wmav2 -b:a 128k "$dir/song.wma"
  oggenc -Q -q 4 -o "$dir/song.ogg" "$dir/song.wav"
  flac -s -f -5 -o "$dir/song.flac" "$dir/song.wav"
  rm -f "$dir/song.wav"
fi
runs=${RUNS:-7}
echo "== WMA v2, 60 s: ours (A) vs ffmpeg -threads 1 (B)"
"$(dirname "$0")/pair-runs.py" -n "$runs" --vs "ffmpeg -nostdin -loglevel error -threads 1 -i $dir/song.wma -f s16le -y /dev/null" \
  -- "$bin/bench_formats_decode" "$dir/song.wma"
echo "== Ogg Vorbis, 60 s: in_vorbis.so (A) vs oggdec (B)"
"$(dirname "$0")/pair-runs.py" -n "$runs" --vs "sh -c 'exec oggdec -Q -R -o - $dir/song.ogg >/dev/null'" -- "$bin/bench_formats_decode" "$dir/song.ogg"
echo "== FLAC, 60 s: in_flac.so (A) vs flac -d (B)"
# (flac is never given /dev/null as its output file: it would replace it.)
"$(dirname "$0")/pair-runs.py" -n "$runs" --vs "sh -c 'exec flac -s -d -c $dir/song.flac >/dev/null'" -- "$bin/bench_formats_decode" "$dir/song.flac"
