#!/usr/bin/env bash
# Takes the README's screenshots of the real program under Xvfb (run after
# scripts/setup.sh; as root it runs in a network namespace of its own).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
if [ "$(id -u)" = 0 ] && [ -z "${SHOTS_NETNS:-}" ]; then
  SHOTS_NETNS=1 exec unshare --net "$0" "$@"
fi
out=$top/docs/screenshots
mkdir -p "$out"
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
export XDG_RUNTIME_DIR=$scratch/xdg
mkdir -m 700 "$XDG_RUNTIME_DIR"
cd "$scratch"
printf '[settings]\nfirstrun=1\ntop=20\nleft=20\n' > flowmstr.ini

cat > inner.sh <<'INNER'
set -eu
program=$1 out=$2
"$program" & pid=$!
trap 'kill $pid 2>/dev/null || true' EXIT
# Crops the named window out of a screenshot of the screen.
shot() {
  local window
  window=$(timeout 20 xdotool search --sync --name "^$1\$" | head -n 1)
  sleep 1.2
  eval "$(xdotool getwindowgeometry --shell "$window")"
  import -window root -crop "${WIDTH}x$HEIGHT+$X+$Y" +repage "$out/$2"
  echo "$out/$2"
}
shot 'Orba-DSL' mainwindow.png
INNER
xvfb-run -a -s "-screen 0 800x600x24" bash inner.sh "$top/build/bin/flowmstr" "$out"
