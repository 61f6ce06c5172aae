#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Sets up a fresh machine, builds, and starts the program from the build
# tree (its settings file flowmstr.ini lives beside it there).  A normal user
# runs it as themselves: once per build, sudo gives the built program the
# capability it needs to measure (a rebuild drops it).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cd build/bin
PATH=$PATH:/usr/sbin:/sbin  # getcap and setcap
if [ "$(id -u)" != 0 ] && ! getcap ./flowmstr | grep -q cap_net_raw; then
  if ! command -v sudo >/dev/null || ! sudo setcap cap_net_raw+ep ./flowmstr; then
    echo "To measure, run as root: setcap cap_net_raw+ep $PWD/flowmstr"
  fi
fi
exec ./flowmstr
