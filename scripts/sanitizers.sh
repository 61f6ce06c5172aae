#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Builds and tests under the sanitizers, each in a build tree of its own: the
# whole suite under AddressSanitizer and UndefinedBehaviorSanitizer
# (build-asan/), the capture-thread tests under ThreadSanitizer
# (build-tsan/).  Run after scripts/setup.sh; exits with the tests' result.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --preset asan
cmake --build --preset asan
ctest --preset asan -j2 --timeout 900
cmake --preset tsan
cmake --build --preset tsan
ctest --preset tsan --timeout 300
