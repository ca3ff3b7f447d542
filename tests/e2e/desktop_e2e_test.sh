#!/usr/bin/env bash
# The desktop player as a user runs it, on a private X server and a private session bus: started
# with two tagged songs it plays the first; playerctl (an independent controller speaking the
# media-player bus) reads its status, title and artist, pauses, seeks and skips to the next
# song; a second start with a file hands the file to the running player, which adds and plays
# it; SIGTERM closes it with its library saved.
# usage: desktop_e2e_test.sh BIN_DIR   (run under xvfb-run and dbus-run-session by CTest)
set -euo pipefail
bin=$(cd "$1" && pwd)
work=$(mktemp -d)
pid=
cleanup() {
  [[ -n $pid ]] && kill -9 "$pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
fail() {
  echo "FAIL: $*" >&2
  # What the player says of itself, to tell a slow answer from a wrong one.
  [[ -n $pid ]] && kill -0 "$pid" 2>/dev/null && { pc status; pc metadata; } 2>&1 | sed 's/^/  bus: /' >&2 || true
  [[ -f $work/player.log ]] && sed 's/^/  player: /' "$work/player.log" >&2
  exit 1
}
export XDG_RUNTIME_DIR=$work/run QT_QPA_PLATFORM=xcb ASAN_OPTIONS=${ASAN_OPTIONS:-}:detect_leaks=0
mkdir -m 700 "$XDG_RUNTIME_DIR"

# Songs of our own, with their tags: 6 s of tone each.
song() {  # FILE TITLE ARTIST FREQUENCY
  sox -n -r 44100 -c 2 "$work/$1.wav" synth 6 sine "$4" vol 0.3
  lame --quiet -b 128 --tt "$2" --ta "$3" --tl "Demo Album" "$work/$1.wav" "$work/$1.mp3"
  rm "$work/$1.wav"
}
song one "First Light" "Demo Singer" 440
song two "Second Wind" "Other Singer" 550
song three "Third Time" "Demo Singer" 660

pc() { playerctl -p minilirra "$@" 2>/dev/null; }
# Waits up to 10 s for a command's output to be the wanted text.
wait_for() {  # WANT COMMAND...
  local want=$1 got=""; shift
  for _ in $(seq 200); do
    got=$("$@" || true)
    [[ $got == "$want" ]] && return 0
    sleep 0.05
  done
  fail "$* gave '$got', wanted '$want'"
}

MINILIRRA_DEBUG=1 "$bin/minilirra" --data-dir "$work/data" --output null "$work/one.mp3" "$work/two.mp3" \
  >"$work/player.log" 2>&1 &
pid=$!
wait_for Playing pc status
playing_since=$(date +%s%N)
wait_for "First Light" pc metadata title
[[ $(pc metadata artist) == "Demo Singer" ]] || fail "artist is '$(pc metadata artist)'"
[[ $(pc metadata album) == "Demo Album" ]] || fail "album is '$(pc metadata album)'"
length=$(pc metadata mpris:length)
((length > 5500000 && length < 6500000)) || fail "length is $length µs"

pc position 3
seeked() { awk -v p="$(pc position)" 'BEGIN { exit !(p >= 2.9 && p < 4.5) }' && echo yes; }
wait_for yes seeked
pc pause
wait_for Paused pc status
paused_at=$(pc position)
sleep 0.5
[[ $(pc position) == "$paused_at" ]] || fail "the position moves while paused"
pc play
wait_for Playing pc status

pc next
wait_for "Second Wind" pc metadata title
wait_for "Other Singer" pc metadata artist
pc volume 0.4
wait_for 0.400000 pc volume
pc loop Track
wait_for Track pc loop
pc shuffle On
wait_for On pc shuffle

# A second start with a file: it hands the file over and ends; the running player plays it.
# Files handed over within 1.5 s of the last command line are only added (a selection of many
# files opened at once starts one program per file): the first start's own command line counts,
# so on a fast run the steps above can end inside that window.
while (( $(date +%s%N) - playing_since < 2000000000 )); do sleep 0.1; done
timeout 20 "$bin/minilirra" --data-dir "$work/data" "$work/three.mp3" >>"$work/player.log" 2>&1 ||
  fail "the second start did not end well (exit $?)"
wait_for "Third Time" pc metadata title
wait_for Playing pc status
kill -0 "$pid" || fail "the first player ended"

kill -TERM "$pid"
for _ in $(seq 100); do kill -0 "$pid" 2>/dev/null || break; sleep 0.05; done
! kill -0 "$pid" 2>/dev/null || fail "SIGTERM did not close the player"
wait "$pid" || fail "the player exited with $?"
pid=
grep -q "three.mp3" "$work/data/MusicFiles.xml" || fail "the library was not saved with the handed-over song"
echo "desktop e2e: ok"
