#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Takes the README's screenshots of the real program under Xvfb, used as a
# person would on a first start: features dialog, settings dialog, window,
# context menu, help window, then "Schliessen".  Run after scripts/setup.sh;
# as root it runs in a network namespace of its own.
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
cp -r "$top/build/bin/." "$scratch/"
cd "$scratch"
# Some days of data volume this month, today's included.
for days_ago in 3 2 1 0; do
  echo "$(date -d "-$days_ago days" +%F),$((days_ago * 431 + 912))345678,$((days_ago * 17 + 61))234567"
done > flowmstr.csv
if [ -n "${SHOTS_NETNS:-}" ]; then  # interfaces to choose from, inside the namespace
  ip link set lo up
  ip link add eth0 type veth peer name eth1
  ip addr add 192.0.2.1/24 dev eth0
  ip link set eth0 up
  ip link set eth1 up
  ./inject eth0 eth1 60 250 > /dev/null & traffic=$!  # something to measure
  trap 'kill $traffic 2>/dev/null || true; rm -rf "$scratch"' EXIT
fi
xvfb-run -a -s "-screen 0 1280x1024x24" bash "$top/tests/person.sh" ./flowmstr "$out"
