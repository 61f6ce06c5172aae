#!/bin/sh
# SPDX-License-Identifier: MIT
# Sets the volume that flowmstr saves against the wire bytes of the frames
# that `inject` sends through a veth pair for a few minutes.  Run as root
# after the build; it runs in a network namespace of its own.
# Usage: bench/volume.sh [SECONDS [FRAMES_PER_SECOND]]
set -eu
if [ -z "${VOLUME_NETNS:-}" ]; then
  VOLUME_NETNS=1 exec unshare --net sh "$0" "$@"
fi
seconds=${1:-180} rate=${2:-2000}
bin=$(cd "$(dirname "$0")/../build/bin" && pwd)
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
cd "$scratch"
sysctl -qw net.ipv6.conf.all.disable_ipv6=1 net.ipv6.conf.default.disable_ipv6=1
ip link set lo up
ip link add eth0 type veth peer name eth1
ip addr add 192.0.2.1/24 dev eth0
ip link set eth0 up
ip link set eth1 up
printf '[settings]\nfirstrun=1\ninterface=1\n' > flowmstr.ini  # 0 is lo
export XDG_RUNTIME_DIR="$scratch/xdg"
mkdir -m 700 "$XDG_RUNTIME_DIR"

cat > inner.sh <<'INNER'
set -eu
bin=$1 seconds=$2 rate=$3
"$bin/flowmstr" & pid=$!
trap 'kill $pid 2>/dev/null || true' EXIT
window=$(timeout 20 xdotool search --sync --name '^Orba-DSL$' | head -n 1)
sleep 2   # the capture runs
start=$(date +%s)
set -- $("$bin/inject" eth0 eth1 "$seconds" "$rate")
echo "sent for $(($(date +%s) - start)) s at $rate frames/s: download $1, upload $2 wire bytes"
sleep 2   # the last frames are ticked
xdotool mousemove --window "$window" 60 40 click 3; sleep 0.5
xdotool key s
wait $pid
IFS=, read -r day down up < flowmstr.csv
echo "saved for $day: download $down, upload $up bytes"
echo "counted minus sent: download $((down - $1)), upload $((up - $2)) bytes"
INNER
xvfb-run -a -s "-screen 0 640x480x24" sh inner.sh "$bin" "$seconds" "$rate"
