#!/usr/bin/env bash
# Side-by-side figures for the desktop player, in one run on one private X server (Xvfb), against
# two other players from Debian started the same way (qmmp and Audacious, installed here from
# scripts/deps/extra/desktop-peers.list):
#   1. start to the main window on screen: each player started with an empty library in a home
#      of its own (made by the warm-up run, so caches are warm as on a user's machine), until its
#      window is mapped (polled every 10 ms), then killed;
#   2. resident memory of the idle player holding a library of 10,000 songs (generated files:
#      ours reads them from its library, the others are given the folder), read from
#      /proc/PID/status 3 s after its window appeared.
#   3. beside them, the floor: a bare Qt window with one label in the same fonts.
# Needs the release build (cmake --preset release && cmake --build --preset release --target
# minilirra minilirra-cli qt_floor_window). Goals: start <= 0.3 s, idle memory with 10,000 songs
# <= 40 MB.
# Usage: bench/desktop-compare.sh [BIN_DIR] [RUNS]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bin=$(cd "${1:-$root/build/release/bin}" && pwd)
runs=${2:-7}
"$root/scripts/install-deps" "$root/scripts/deps/extra/desktop-peers.list" >/dev/null
work=$(mktemp -d)
xvfb_pid=
cleanup() {
  [[ -n $xvfb_pid ]] && kill "$xvfb_pid" 2>/dev/null
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

# A private X server.
for n in $(seq 90 120); do [[ -e /tmp/.X$n-lock ]] || break; done
# -noreset: without it the server resets when its last client leaves, and a player started in
# that moment cannot connect.
Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp -noreset >/dev/null 2>&1 &
xvfb_pid=$!
export DISPLAY=":$n"
for _ in $(seq 100); do xdotool getdisplaygeometry >/dev/null 2>&1 && break; sleep 0.05; done
export QT_QPA_PLATFORM=xcb XDG_RUNTIME_DIR=$work/run
mkdir -m 700 -p "$XDG_RUNTIME_DIR"

# One start: the player in a fresh home until its window is mapped. Prints the seconds it took.
cat >"$work/start-once" <<'EOF'
#!/usr/bin/env bash
# start-once HOME_DIR PROGRAM [ARGS...]: prints the seconds from start to a visible window.
set -uo pipefail
home=$1; shift
mkdir -p "$home"
start=$(date +%s.%N)
HOME=$home XDG_CONFIG_HOME=$home/.config XDG_DATA_HOME=$home/.local/share "$@" >/dev/null 2>&1 &
pid=$!
until xdotool search --onlyvisible --pid "$pid" >/dev/null 2>&1; do
  kill -0 "$pid" 2>/dev/null || { echo "exited before showing a window" >&2; exit 1; }
  sleep 0.01
done
end=$(date +%s.%N)
if [[ -n ${IDLE_RSS:-} ]]; then
  sleep 3
  awk '/^VmRSS/ {printf "rss_kb %d\n", $2}' "/proc/$pid/status" >>"$IDLE_RSS"
fi
kill -9 "$pid"; wait "$pid" 2>/dev/null
awk -v a="$start" -v b="$end" 'BEGIN { printf "%.3f\n", b - a }' >>"${START_TIMES:-/dev/null}"
EOF
chmod +x "$work/start-once"

ours=("$bin/minilirra" --output null)
peers=("qmmp" "audacious")
echo "== start to the main window on screen (empty library), $runs runs each, paired"
for peer in "${peers[@]}"; do
  echo "-- minilirra vs $peer"
  "$(dirname "$0")/pair-runs.py" -n "$runs" --timeout 600 \
    --vs "$work/start-once $work/home-$peer $peer" \
    -- "$work/start-once" "$work/home-ours" "${ours[@]}" --data-dir "$work/home-ours/data"
done

echo "== resident memory, idle, with a library of 10,000 songs"
songs=$work/songs
mkdir -p "$songs"
python3 - "$songs" <<'PY'
import os, struct, sys
folder = sys.argv[1]
# 10,000 tiny WAV files, each with its own bytes (the same bytes would be one song to a library).
for i in range(10000):
    data = struct.pack('<I', i) * 200
    header = b'RIFF' + struct.pack('<I', 36 + len(data)) + b'WAVEfmt ' + struct.pack('<IHHIIHH', 16, 1, 1, 8000, 16000, 2, 16) + b'data' + struct.pack('<I', len(data))
    with open(os.path.join(folder, 'Singer %d - Song number %05d.wav' % (i % 97, i)), 'wb') as f:
        f.write(header + data)
PY
"$bin/minilirra-cli" --data-dir "$work/library" library add "$songs" >/dev/null 2>&1
"$bin/minilirra-cli" --data-dir "$work/library" library stats
measure_rss() {  # NAME COMMAND...
  local name=$1; shift
  : >"$work/rss-$name"
  for _ in 1 2 3; do IDLE_RSS=$work/rss-$name "$work/start-once" "$work/home-rss-$name" "$@"; done
  sort -n -k2 "$work/rss-$name" | awk -v n="$name" 'NR==2 {printf "%-10s idle resident memory (median of 3): %.1f MB\n", n, $2/1024}'
}
# Ours keeps its library in its data folder.
cat >"$work/ours-with-library" <<EOF
#!/usr/bin/env bash
exec "$bin/minilirra" --output null --data-dir "$work/library"
EOF
chmod +x "$work/ours-with-library"
measure_rss minilirra "$work/ours-with-library"
# The floor: a Qt window with one label in the same fonts (no library, no skin, no sound).
[[ -x $bin/qt_floor_window ]] && measure_rss qt-floor "$bin/qt_floor_window"
measure_rss qmmp qmmp "$songs"
measure_rss audacious audacious "$songs"
