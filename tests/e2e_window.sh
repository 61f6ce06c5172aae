#!/bin/sh
# Starts the real flowmstr under Xvfb in a scratch directory with a prepared
# settings file, then checks the window's place and size and a few pixels of
# a screenshot.  As root it runs in a network namespace of its own.
# Usage: e2e_window.sh PATH_TO_FLOWMSTR
set -eu
if [ "$(id -u)" = 0 ] && [ -z "${E2E_NETNS:-}" ]; then
  E2E_NETNS=1 exec unshare --net sh "$0" "$@"
fi
program=$1
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
cd "$scratch"
printf '[settings]\nfirstrun=1\ntop=40\nleft=60\nstayontop=1\n' > flowmstr.ini
export XDG_RUNTIME_DIR="$scratch/xdg"
mkdir -m 700 "$XDG_RUNTIME_DIR"

cat > inner.sh <<'INNER'
set -eu
"$1" & pid=$!
trap 'kill $pid 2>/dev/null || true' EXIT
window=$(timeout 20 xdotool search --sync --name '^Orba-DSL$' | head -n 1)
eval "$(xdotool getwindowgeometry --shell "$window")"
sleep 1.5   # at least one tick
import -window root shot.png
pixel() { convert shot.png -format '%[fx:int(255*p{'"$1,$2"'}.r)],%[fx:int(255*p{'"$1,$2"'}.g)],%[fx:int(255*p{'"$1,$2"'}.b)]' info:; }
fail=0
check() {
  if [ "$2" = "$3" ]; then echo "ok: $1"; else echo "FAIL: $1: got $2, want $3"; fail=1; fi
}
check "position" "$X,$Y" "60,40"
check "size" "${WIDTH}x$HEIGHT" "156x87"
check "download units cell" "$(pixel $((X + 15 + 48)) $((Y + 43)))" "255,0,255"
check "upload units cell" "$(pixel $((X + 39 + 30)) $((Y + 68)))" "255,0,255"
check "scale zone 1" "$(pixel $((X + 2)) $((Y + 28)))" "64,64,64"
check "scale zone 3" "$(pixel $((X + 150)) $((Y + 28)))" "160,160,160"
kill -TERM $pid   # as at logout: the window closes as a close would
wait $pid 2>/dev/null || true
check "saved on SIGTERM" "$(grep -c '^location=' flowmstr.ini)" "1"
exit $fail
INNER
xvfb-run -a -s "-screen 0 640x480x24" sh inner.sh "$program"
