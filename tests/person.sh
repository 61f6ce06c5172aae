#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Drives the real program on an X display as a person would on a first
# start, in the current directory (which has no flowmstr.ini): features
# dialog, settings dialog, the window, its context menu and help, then
# "Schliessen".  With a second argument it saves screenshots there.
# Usage (under xvfb-run): person.sh PROGRAM [SCREENSHOT_DIR]
set -euo pipefail
program=$1 shots=${2:-}
"$program" & pid=$!
trap 'kill $pid 2>/dev/null || true' EXIT

window() { timeout 20 xdotool search --sync --onlyvisible --name "^$1\$" | head -n 1; }
# Points at a window (without a window manager the keyboard follows the
# pointer) and waits for it to be drawn.
enter() { xdotool mousemove --window "$1" 20 10; sleep 0.8; }
shot() {  # WINDOW FILE [EXTRA_WIDTH EXTRA_HEIGHT]
  [ -n "$shots" ] || return 0
  eval "$(xdotool getwindowgeometry --shell "$1")"
  import -window root -crop "$((WIDTH + ${3:-0}))x$((HEIGHT + ${4:-0}))+$X+$Y" +repage "$shots/$2"
}

features=$(window 'Orba-DSL FlowMeister - Features')
enter "$features"; shot "$features" features.png
xdotool key Return
settings=$(window 'Orba-DSL FlowMeister - Einstellungen')
enter "$settings"; shot "$settings" settings.png
xdotool key Return
main=$(window 'Orba-DSL')
enter "$main"; shot "$main" mainwindow.png
if [ -n "$shots" ]; then  # the readouts' hint: the data volume
  xdotool windowfocus "$main" mousemove --window "$main" 60 55; sleep 2
  shot "$main" volume.png 200 35
fi

xdotool mousemove --window "$main" 60 40 click 3; sleep 0.8
shot "$main" menu.png 200 120
xdotool key h
help=$(window 'Orba-DSL FlowMeister - Hilfe')
enter "$help"; shot "$help" help.png
xdotool key Escape; sleep 0.5

xdotool mousemove --window "$main" 60 40 click 3; sleep 0.5
xdotool key s
for _ in $(seq 50); do kill -0 $pid 2>/dev/null || break; sleep 0.1; done
if kill -0 $pid 2>/dev/null; then echo "FAIL: the program still runs after Schliessen"; exit 1; fi
wait $pid
echo "ok: closed through the context menu"
