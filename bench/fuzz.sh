#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Runs each libFuzzer target for RUNS inputs (default ten million), each with
# a fresh corpus, and prints how long it took, how fast it went and how much
# of the code it reached.  A finding stops the script with the fuzzer's
# report and leaves the input as crash-* in the working directory.
# Usage: bench/fuzz.sh [BUILD_DIR] [RUNS]
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$top/build} runs=${2:-10000000}
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

fuzz() {  # NAME OPTION...
  local name=$1 log=$scratch/$1.log started
  shift
  mkdir "$scratch/$name"
  started=$(date +%s%N)
  if ! "$build/tests/$name" "$scratch/$name" -runs="$runs" -seed=1 -print_final_stats=1 \
       -close_fd_mask=2 "$@" > "$log" 2>&1; then
    cat "$log"
    exit 1
  fi
  awk -v name="$name" -v ms=$((($(date +%s%N) - started) / 1000000)) '
    /^stat::number_of_executed_units/ { runs = $2 }
    /DONE/ { for (i = 1; i < NF; i++) { if ($i == "cov:") cov = $(i + 1); if ($i == "corp:") corpus = $(i + 1) } }
    END { printf "%-14s %9d runs in %7.1f s, %8.0f/s; edges reached %s, corpus %s\n",
                 name, runs, ms / 1000, runs * 1000 / (ms ? ms : 1), cov, corpus }' "$log"
}

fuzz fuzz_classify -max_len=128 -dict="$top/tests/fuzz_classify.dict"
fuzz fuzz_offer -max_len=1526
# Reading and saving text allocates much: for speed no allocation stacks
# are kept and freed memory is held back less long (8 MB).
ASAN_OPTIONS=malloc_context_size=0:quarantine_size_mb=8:max_malloc_fill_size=0 \
  fuzz fuzz_ini -max_len=512 -dict="$top/tests/fuzz_ini.dict"
