#!/usr/bin/env bash
# scripts/install-desktop into a private data folder: the desktop entry passes the desktop's own
# validator, names the built program, the icons are where icon themes look, xdg-mime answers
# with the player for the file types it plays, and --remove takes it all away.
# usage: install_desktop_test.sh SOURCE_DIR BIN_DIR
set -euo pipefail
src=$1 bin=$2
home=$(mktemp -d)
trap 'rm -rf "$home"' EXIT
export HOME=$home XDG_DATA_HOME=$home/share XDG_CONFIG_HOME=$home/config XDG_CURRENT_DESKTOP=X-Generic
fail() { echo "FAIL: $*" >&2; exit 1; }

"$src/scripts/install-desktop" "$bin" >/dev/null
entry=$XDG_DATA_HOME/applications/minilirra.desktop
[[ -f $entry ]] || fail "no $entry"
desktop-file-validate "$entry" || fail "the entry does not validate"
grep -qx "Exec=$(cd "$bin" && pwd)/minilirra %F" "$entry" || fail "Exec does not name the built program: $(grep ^Exec "$entry")"
for size in 16 32 48 64 128 256; do
  [[ -s $XDG_DATA_HOME/icons/hicolor/${size}x${size}/apps/minilirra.png ]] || fail "no ${size}px icon"
done
for type in audio/mpeg audio/x-wav audio/x-ms-wma audio/ogg audio/x-mpegurl; do
  got=$(xdg-mime query default "$type")
  [[ $got == minilirra.desktop ]] || fail "$type opens with '$got'"
done

"$src/scripts/install-desktop" --remove >/dev/null
[[ ! -e $entry ]] || fail "--remove left $entry"
[[ -z $(ls "$XDG_DATA_HOME"/icons/hicolor/*/apps/minilirra.png 2>/dev/null) ]] || fail "--remove left icons"
echo "install-desktop: ok"
