#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Sets up a fresh machine, builds, and runs every test; exit status = result.
# The tests labelled netns need root (they make their own network namespace).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cd build
ctest --output-on-failure --timeout 900 -j2
