#!/usr/bin/env bash
# Side-by-side figures for transfers on loopback, in one run: one 64 MB song fetched by
# `minilirra-cli get` from four sources at once (the service's seed and three `share` peers),
# against curl fetching the same file from lighttpd. Both write the file to disk; the get checks
# its digest too. Every get reports its rate (by its own clock, from the job's start to the
# verified file) and its whole process's CPU time per MB (login, start-up and digest included).
# Needs the release build (cmake --preset release && cmake --build --preset release --target
# minilirra-cli minilirra-service) and lighttpd (scripts/deps/transfer.list).
# Goals: >= 30 MB/s, <= 10 ms of CPU per MB on the downloading side.
# Usage: bench/transfer-compare.sh [BIN_DIR] [RUNS]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bin=${1:-$root/build/release/bin}
runs=${2:-5}
work=$(mktemp -d)
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

free_port() { python3 -c "import socket; s=socket.socket(socket.AF_INET, socket.$1); s.bind(('127.0.0.1',0)); print(s.getsockname()[1])"; }

mkdir -p "$work/songs" "$work/web"
python3 - "$work/songs/big.wav" <<'PY'
import os, struct, sys
n = 64 * 1024 * 1024
data = os.urandom(n)
hdr = b'RIFF' + struct.pack('<I', 36 + n) + b'WAVEfmt ' + struct.pack('<IHHIIHH', 16, 1, 2, 44100, 176400, 4, 16) + b'data' + struct.pack('<I', n)
open(sys.argv[1], 'wb').write(hdr + data)
PY
cp "$work/songs/big.wav" "$work/web/big.wav"
digest=$(md5sum "$work/songs/big.wav" | cut -c1-32)
size=$(stat -c %s "$work/songs/big.wav")

db=$work/service.db
"$bin/minilirra-service" admin --db "$db" init >/dev/null
"$bin/minilirra-service" admin --db "$db" import "$work/songs" >/dev/null
echo secret >"$work/pw"
for u in getter p1 p2 p3; do "$bin/minilirra-service" admin --db "$db" add-user $u --password-file "$work/pw" >/dev/null; done
port=$(free_port SOCK_DGRAM)
list=$(free_port SOCK_DGRAM)
"$bin/minilirra-service" --db "$db" --port "$port" --list-port "$list" --log warning 2>"$work/service.log" &
pids+=($!)
sleep 1
conn=(--list-server "127.0.0.1:$list" --password-file "$work/pw")
for u in p1 p2 p3; do
  mkdir -p "$work/$u-songs" && cp "$work/songs/big.wav" "$work/$u-songs/"
  "$bin/minilirra-cli" --data-dir "$work/$u" share "$work/$u-songs" "${conn[@]}" --user $u \
    --udp-port "$(free_port SOCK_DGRAM)" >"$work/$u.out" 2>&1 &
  pids+=($!)
done
for u in p1 p2 p3; do
  for _ in $(seq 100); do grep -q sharing "$work/$u.out" 2>/dev/null && break; sleep 0.1; done
done

web=$(free_port SOCK_STREAM)
cat >"$work/lighttpd.conf" <<CONF
server.document-root = "$work/web"
server.bind = "127.0.0.1"
server.port = $web
server.pid-file = "$work/lighttpd.pid"
server.errorlog = "$work/lighttpd.log"
CONF
lighttpd -D -f "$work/lighttpd.conf" &
pids+=($!)
sleep 0.5

# Each get starts from nothing: a fresh data folder (no history) and a fresh target.
cat >"$work/get.sh" <<SH
#!/bin/sh
rm -rf "$work/d" "$work/out"
exec "$bin/minilirra-cli" --data-dir "$work/d" get $digest --to "$work/out" --json ${conn[*]} --user getter --udp-port $(free_port SOCK_DGRAM) >>"$work/get.json" 2>>"$work/get.err"
SH
chmod +x "$work/get.sh"
echo "file: $size bytes; load: $(cut -d' ' -f1-3 /proc/loadavg)"
"$(dirname "$0")/pair-runs.py" -n "$runs" --timeout 900 --vs "sh -c 'rm -f $work/c.out; exec curl -s -o $work/c.out http://127.0.0.1:$web/big.wav'" -- "$work/get.sh"
python3 - "$work/get.json" "$size" <<'PY'
import json, sys
text = open(sys.argv[1]).read()
dec = json.JSONDecoder(); i = 0; runs = []
while i < len(text):
    while i < len(text) and text[i].isspace(): i += 1
    if i >= len(text): break
    obj, i = dec.raw_decode(text, i); runs.append(obj)
size = int(sys.argv[2])
mb = size / 1048576
rates, cpus = [], []
for r in runs:
    rates.append(mb / r["seconds"])
    cpus.append(1000 * r["cpu_seconds"] / mb)
    print("get: %.1f MB/s, %.1f ms of CPU per MB, from sources %s, %d bytes this run"
          % (rates[-1], cpus[-1], r["sources"], r["received"]))
if runs:
    med = lambda v: sorted(v)[len(v) // 2]
    print("get, median of %d runs (the warm-up included): %.1f MB/s, %.1f ms of CPU per MB (goals: >= 30, <= 10)"
          % (len(runs), med(rates), med(cpus)))
PY
echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)"
