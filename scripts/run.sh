#!/usr/bin/env bash
# Sets up a fresh machine, builds, and starts the program from the build
# tree (its settings file flowmstr.ini lives beside it there).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cd build/bin
exec ./flowmstr
