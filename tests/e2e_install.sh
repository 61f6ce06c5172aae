#!/bin/sh
# SPDX-License-Identifier: MIT
# The installed program as a desktop user meets it.  Installs into a scratch
# prefix (as root, which grants cap_net_raw), then starts the program as an
# unprivileged user under Xvfb, watching one end of a veth pair whose other
# end sends 2000 kbit/s, and reads the download readout from a screenshot.
# Then a copy of the program, which has no capability: blank cells, no bar,
# and a tool tip on the readout.  Runs as root in a network namespace of its
# own.  With INSTALLED_PROGRAM (e.g. /usr/bin/flowmstr of the package) it
# checks that program instead of installing one.
# Usage: e2e_install.sh BUILD_DIR [INSTALLED_PROGRAM]
set -eu
if [ -z "${E2E_NETNS:-}" ]; then
  E2E_NETNS=1 exec unshare --net sh "$0" "$@"
fi
build=$1
here=$(cd "$(dirname "$0")" && pwd)
scratch=$(mktemp -d)
sender=
trap '[ -z "$sender" ] || kill $sender 2>/dev/null; rm -rf "$scratch"' EXIT
trap 'exit 130' INT TERM HUP
chmod 755 "$scratch"
. "$here/testuser.sh"

if [ $# -ge 2 ]; then
  program=$2
else
  cmake --install "$build" --prefix "$scratch/prefix" >/dev/null
  program=$scratch/prefix/bin/flowmstr
fi
mkdir "$scratch/nocap"
cp "$program" "$scratch/nocap/"  # a copy carries no capability

sysctl -qw net.ipv6.conf.all.disable_ipv6=1 net.ipv6.conf.default.disable_ipv6=1
ip link set lo up
ip link add eth0 type veth peer name eth1  # eth0 is interface 1, after lo
ip addr add 192.0.2.1/24 dev eth0
ip link set eth0 up
ip link set eth1 up
# 200 frames of 1250 bytes a second: 2000 kbit/s towards eth0.
"$build/bin/steadyframes" eth1 eth0 200 1250 60 & sender=$!

for dir in run xdg home; do
  mkdir -m 700 "$scratch/$dir"
  chown "$test_user:" "$scratch/$dir"
done
cat > "$scratch/inner.sh" <<'INNER'
set -eu
scratch=$1 program=$2 nocap=$3 glyphs=$4
: > "$scratch/user.xauth"
xauth -f "$XAUTHORITY" nlist "$DISPLAY" | xauth -f "$scratch/user.xauth" nmerge -
chown "$test_user:" "$scratch/user.xauth"

pid=
glyph_sums=$(for g in 0 1 2 3 4 5 6 7 8 9 10; do
  convert "$glyphs" -crop "16x22+$((g * 16))+0" +repage -depth 8 rgb:- | md5sum
done)
cell() {  # X Y: the glyph that the 16x22 cell at X,Y of shot.png shows (_ blank)
  sum=$(convert "$scratch/shot.png" -crop "16x22+$1+$2" +repage -depth 8 rgb:- | md5sum)
  line=$(echo "$glyph_sums" | grep -n -x -F "$sum" | cut -d: -f1)
  case "$line" in '') echo '?' ;; 11) echo _ ;; *) echo $((line - 1)) ;; esac
}
# Starts a program as the test user and sets X, Y to its window's position.
start() {
  printf '[settings]\nfirstrun=1\ninterface=1\ntop=40\nleft=60\n' > "$scratch/run/flowmstr.ini"
  (cd "$scratch/run" && exec $as_test_user env HOME="$scratch/home" XDG_RUNTIME_DIR="$scratch/xdg" \
     XAUTHORITY="$scratch/user.xauth" DISPLAY="$DISPLAY" "$1" 2>/dev/null) & pid=$!
  window=$(timeout 20 xdotool search --sync --name '^Orba-DSL$' | head -n 1)
  eval "$(xdotool getwindowgeometry --shell "$window")"
}
# Reads the download readout (four cells, _ blank) once it settles to $1's
# kind: digits, or blanks.
readout() {
  for _ in $(seq 20); do
    sleep 0.5
    import -window root "$scratch/shot.png"
    shown=$(for i in 0 1 2 3; do cell $((X + 15 + i * 16)) $((Y + 43)); done | tr -d '\n')
    case "$1:$shown" in digits:*[0-9]|blanks:____) break ;; esac
  done
  echo "$shown"
}
bar() {  # whether the gauge shows the download bar at its left end
  [ "$(convert "$scratch/shot.png" -format '%[pixel:p{'$((X + 5)),$((Y + 22))'}]' info:)" = "srgb(255,0,85)" ]
}
stop() { kill $pid; wait $pid 2>/dev/null || true; }
fail=0
check() {
  if [ "$2" = "$3" ]; then echo "ok: $1"; else echo "FAIL: $1: got $2, want $3"; fail=1; fi
}

check "capability of the installed program" "$(getcap "$program" | sed 's/.* //')" "cap_net_raw=ep"
start "$program"
shown=$(readout digits)
rate=$(echo "$shown" | tr -d _)
near=$([ -n "$rate" ] && [ "$rate" -ge 1900 ] && [ "$rate" -le 2100 ] && echo yes || echo no)
check "download readout $shown is near 2000" "$near" yes
check "gauge bar" "$(bar && echo bar || echo none)" bar
stop

start "$nocap"
check "readout without the capability" "$(readout blanks)" "____"
check "gauge without the capability" "$(bar && echo bar || echo none)" none
before=$(xdotool search --onlyvisible --pid $pid | wc -l)
xdotool windowfocus "$window" mousemove --window "$window" 30 50  # tool tips need focus
sleep 1.5
check "tool tip on the readout" "$(xdotool search --onlyvisible --pid $pid | wc -l)" "$((before + 1))"
stop
exit $fail
INNER
test_user=$test_user as_test_user=$as_test_user \
  xvfb-run -a -s "-screen 0 640x480x24" sh "$scratch/inner.sh" "$scratch" "$program" \
  "$scratch/nocap/flowmstr" "$here/../flowmstr/forms/images/largenumbers.png"
