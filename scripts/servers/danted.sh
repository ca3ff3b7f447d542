#!/usr/bin/env bash
# Starts or stops a private SOCKS5 server (Dante's danted) for the network tests, on loopback.
#   danted.sh start DIR PORT [USER PASSWORD]   writes DIR/danted.conf, starts it, prints its pid
#   danted.sh stop DIR                         stops the one started in DIR, by its pid
# With USER and PASSWORD the server asks for user name and password (RFC 1929). Dante checks them
# against the system's password files, so the server runs in a private mount namespace where a
# copy of /etc/passwd and /etc/shadow with the test user bind-mounts over the real ones; nothing
# outside that namespace changes. This needs root (or the right to unshare); without it the
# script exits with status 77 so the test can say it skipped.
set -euo pipefail
cmd=${1:?start|stop}
dir=${2:?folder}
bin=$(command -v danted || echo /usr/sbin/danted)

case $cmd in
stop)
  [[ -f $dir/danted.pid ]] || exit 0
  pid=$(cat "$dir/danted.pid")
  kill "$pid" 2>/dev/null || true
  for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || exit 0; sleep 0.1; done
  kill -9 "$pid" 2>/dev/null || true
  ;;
start)
  port=${3:?port}
  user=${4:-}
  password=${5:-}
  [[ -x $bin ]] || { echo "danted not installed" >&2; exit 77; }
  method=none
  [[ -n $user ]] && method=username
  cat >"$dir/danted.conf" <<CONF
logoutput: $dir/danted.log
internal: 127.0.0.1 port = $port
external: 127.0.0.1
socksmethod: $method
clientmethod: none
user.privileged: root
user.unprivileged: nobody
client pass { from: 127.0.0.0/8 to: 0.0.0.0/0 }
socks pass { from: 127.0.0.0/8 to: 0.0.0.0/0 command: udpassociate }
socks pass { from: 0.0.0.0/0 to: 127.0.0.0/8 command: udpreply }
CONF
  if [[ -z $user ]]; then
    "$bin" -f "$dir/danted.conf" -N 1 >"$dir/danted.out" 2>&1 </dev/null &
    pid=$!
  else
    [[ $(id -u) -eq 0 ]] || { echo "user name and password need root" >&2; exit 77; }
    command -v unshare >/dev/null && command -v openssl >/dev/null || exit 77
    cp /etc/passwd "$dir/passwd"
    cp /etc/shadow "$dir/shadow" 2>/dev/null || : >"$dir/shadow"
    chmod 600 "$dir/shadow"
    echo "$user:x:64999:64999::/nonexistent:/usr/sbin/nologin" >>"$dir/passwd"
    echo "$user:$(openssl passwd -6 "$password"):19000:0:99999:7:::" >>"$dir/shadow"
    unshare --mount --propagation private sh -c '
      mount --bind "$1/passwd" /etc/passwd && mount --bind "$1/shadow" /etc/shadow || exit 77
      exec "$2" -f "$1/danted.conf" -N 1' sh "$dir" "$bin" >"$dir/danted.out" 2>&1 </dev/null &
    pid=$!
  fi
  echo "$pid" >"$dir/danted.pid"
  # Ready once it listens; give up after five seconds.
  for _ in $(seq 100); do
    if ! kill -0 "$pid" 2>/dev/null; then
      cat "$dir/danted.out" >&2
      wait "$pid" && st=0 || st=$?
      [[ $st -eq 77 ]] && exit 77
      exit 1
    fi
    if (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; then echo "$pid"; exit 0; fi
    sleep 0.05
  done
  kill "$pid" 2>/dev/null || true
  echo "danted did not start" >&2
  exit 1
  ;;
*) echo "usage: $0 start|stop DIR [PORT [USER PASSWORD]]" >&2; exit 2 ;;
esac
