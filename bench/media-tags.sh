#!/usr/bin/env bash
# Tags per second over 2,000 generated files: minilirra-cli tags against a peer tag library
# (mutagen, one Python process reading every file), in the same run on the same folder.
# Usage: bench/media-tags.sh [BUILD_DIR]   (default build/release; builds minilirra-cli there)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build/release}
if [[ ! -x $build/bin/minilirra-cli ]]; then
  cmake --preset release -S "$root" >/dev/null
  nice -n 10 cmake --build "$build" --target minilirra-cli -j2 >/dev/null
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
bash "$root/scripts/fixtures/media-tags.sh" "$work/t" >/dev/null 2>&1
mkdir "$work/f"
mapfile -t templates < <(ls "$work"/t/* | grep -v manifest.tsv | sort)
for ((i = 0; i < 2000; i++)); do
  t=${templates[i % ${#templates[@]}]}
  cp "$t" "$work/f/$i.${t##*.}"
done
cat "$work"/f/* >/dev/null  # warm the page cache for both readers

now() { date +%s.%N; }
t0=$(now)
"$build/bin/minilirra-cli" tags --json "$work"/f/* >"$work/ours.json" || true
t1=$(now)
/usr/bin/python3 - "$work"/f/* >/dev/null <<'PY'
import sys, mutagen
for p in sys.argv[1:]:
    f = mutagen.File(p)
    if f is not None:
        _ = (f.info.length, dict(f.tags or {}))
PY
t2=$(now)
awk -v a="$t0" -v b="$t1" -v c="$t2" 'BEGIN {
  ours = 2000 / (b - a); peer = 2000 / (c - b);
  printf "minilirra-cli tags: %.0f files/s (%.3f s)\n", ours, b - a;
  printf "mutagen:            %.0f files/s (%.3f s)\n", peer, c - b;
  printf "ratio ours/peer:    %.1fx\n", ours / peer }'
