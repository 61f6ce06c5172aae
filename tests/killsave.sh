#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Kills a program that saves the settings file over and over (SIGKILL at a
# random moment, KILLS times) and checks every time that the file holds the
# whole old or the whole new text.  Counts the kills that left the temporary
# file flowmstr.ini.new, which the next save removes, and checks that
# nothing else is ever left.
# Usage: killsave.sh SAVELOOP [KILLS]
set -euo pipefail
saveloop=$1 kills=${2:-1000}
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
cd "$scratch"
mkdir saves
# Two texts of different length, each with a Latin-1 comment line.
printf '; Gr\374\337e\n[settings]\nlocation=0\ninterface=1\nfirstrun=1\ntop=459\nleft=639\nstayontop=1\n\n' > a
{ printf '; Gr\374\337e\n[settings]\nlocation=1\ninterface=2\nfirstrun=1\ntop=-20\nleft=12345\nstayontop=0\n'
  printf 'speed=1024\n\n[notes]\n'
  for i in $(seq 100); do printf '; a hand-written note, line %d\n' "$i"; done
  printf '\n'; } > b
cp a saves/flowmstr.ini

# How long the program takes to start, so that the kills fall among saves.
begin=$(date +%s%N)
"$saveloop" || true
startup=$((($(date +%s%N) - begin) / 1000))

old=0 new=0 bad=0 left=0 others=0
started=$(date +%s%N)
for ((i = 0; i < kills; i++)); do
  "$saveloop" saves/flowmstr.ini b a & pid=$!
  delay=$((startup + RANDOM % 20000))   # microseconds
  sleep "$((delay / 1000000)).$(printf %06d $((delay % 1000000)))"
  kill -KILL "$pid"
  wait "$pid" 2>/dev/null || true
  if cmp -s saves/flowmstr.ini a; then old=$((old + 1))
  elif cmp -s saves/flowmstr.ini b; then new=$((new + 1))
  else bad=$((bad + 1)); cp saves/flowmstr.ini "bad.$i"
  fi
  [ -e saves/flowmstr.ini.new ] && left=$((left + 1))
  others=$((others + $(find saves -mindepth 1 ! -name flowmstr.ini ! -name flowmstr.ini.new | wc -l)))
done
seconds=$((($(date +%s%N) - started) / 1000000000))
echo "kills: $kills in $seconds s; the file held text a: $old, text b: $new, anything else: $bad;" \
  "flowmstr.ini.new left: $left, other files: $others"
[ "$bad" = 0 ] && [ "$others" = 0 ] && [ "$old" -gt 0 ] && [ "$new" -gt 0 ]
