#!/bin/sh
# SPDX-License-Identifier: MIT
# Starts the real flowmstr under Xvfb in a scratch directory with a prepared
# settings file, checks the window's place and size and a few pixels of a
# screenshot, then closes it through its menu.  With a scale of 2 the
# pixel art must show every pixel as a 2x2 block and the text must be drawn
# at the larger size.  As root it runs in a network namespace of its own and
# monitors its loopback interface.
# Usage: e2e_window.sh PATH_TO_FLOWMSTR [IMAGES_DIR SCALE]
set -eu
if [ "$(id -u)" = 0 ] && [ -z "${E2E_NETNS:-}" ]; then
  E2E_NETNS=1 exec unshare --net sh "$0" "$@"
fi
[ -n "${E2E_NETNS:-}" ] && ip link set lo up
program=$1 images=${2:-} scale=${3:-1}
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
cd "$scratch"
printf '[settings]\nfirstrun=1\ninterface=0\ntop=40\nleft=61\nstayontop=1\nscale=%s\n' "$scale" > flowmstr.ini
export XDG_RUNTIME_DIR="$scratch/xdg"
mkdir -m 700 "$XDG_RUNTIME_DIR"

cat > inner.sh <<'INNER'
set -eu
program=$1 images=$2 s=$3
"$program" & pid=$!
trap 'kill $pid 2>/dev/null || true' EXIT
window=$(timeout 20 xdotool search --sync --name '^Orba-DSL$' | head -n 1)
eval "$(xdotool getwindowgeometry --shell "$window")"
sleep 1.5   # at least one tick
import -window root shot.png
pixel() { convert shot.png -format '%[fx:int(255*p{'"$1,$2"'}.r)],%[fx:int(255*p{'"$1,$2"'}.g)],%[fx:int(255*p{'"$1,$2"'}.b)]' info:; }
# Crops the window's area at design coordinates X Y W H into FILE.
crop() { convert shot.png -crop "$(($4 * s))x$(($5 * s))+$((X + $2 * s))+$((Y + $3 * s))" +repage "$1"; }
differing() { compare -metric AE "$1" "$2" null: 2>&1 || true; }
# Pixels that differ from the picture made of the average of each s x s block.
unblocky() { convert "$1" -scale "$((100 / s))%" -scale "$((100 * s))%" blocks.png; differing "$1" blocks.png; }
fail=0
check() {
  if [ "$2" = "$3" ]; then echo "ok: $1"; else echo "FAIL: $1: got $2, want $3"; fail=1; fi
}
check "position" "$X,$Y" "$(((61 + s / 2) / s * s)),40"
check "size" "${WIDTH}x$HEIGHT" "$((156 * s))x$((87 * s))"
check "download units cell" "$(pixel $((X + 63 * s)) $((Y + 43 * s)))" "255,0,255"
check "upload units cell" "$(pixel $((X + 69 * s)) $((Y + 68 * s)))" "255,0,255"
check "scale zone 1" "$(pixel $((X + 2 * s)) $((Y + 28 * s)))" "64,64,64"
check "scale zone 3" "$(pixel $((X + 150 * s)) $((Y + 28 * s)))" "160,160,160"
if [ -n "$images" ]; then
  crop units.png 63 43 16 22
  convert "$images/largenumbers.png" -crop 16x22+0+0 +repage -scale "$((100 * s))%" zero.png
  check "the digit 0, every pixel a ${s}x$s block" "$(differing units.png zero.png)" 0
  crop logo.png 2 2 57 16
  check "logo in ${s}x$s blocks" "$(unblocky logo.png)" 0
  crop button.png 129 60 23 22
  check "button glyph in ${s}x$s blocks" "$(unblocky button.png)" 0
  crop label.png 2 30 47 13
  [ "$s" = 1 ] || check "text drawn at the larger size" "$(unblocky label.png | awk '{print ($1 > 50)}')" 1
fi
xdotool mousemove --window "$window" 60 40 click 3; sleep 0.5
xdotool key s
for _ in $(seq 50); do kill -0 $pid 2>/dev/null || break; sleep 0.1; done
check "closed through the menu" "$(kill -0 $pid 2>/dev/null && echo running || echo closed)" closed
check "stored position kept" "$(grep -E '^(top|left)=' flowmstr.ini | tr '\n' ' ')" "top=40 left=61 "
exit $fail
INNER
xvfb-run -a -s "-screen 0 640x480x24" sh inner.sh "$program" "$images" "$scale"
