#!/bin/sh
# The program loads libfms.so from beside itself (or the installed library
# directory), never from the working directory, where one is planted.
# Usage: loadpath_test.sh BUILD_DIR PLANTED_DIR
set -eu
build=$1
planted=$2
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

resolved() {  # the file the loader picks for libfms.so, run from the planted directory
  file=$(cd "$planted" && LD_TRACE_LOADED_OBJECTS=1 "$1" | awk '$1 == "libfms.so" { print $3 }')
  if [ -e "$file" ]; then realpath "$file"; else echo "$file"; fi
}
expect() {
  if [ "$1" != "$2" ]; then echo "FAIL: $3: got '$1', want '$2'"; exit 1; fi
  echo "ok: $3"
}

expect "$(resolved "$build/bin/flowmstr")" "$build/bin/libfms.so" "build tree"

cp "$build/bin/flowmstr" "$scratch/"
expect "$(resolved "$scratch/flowmstr")" "not" "program without its library"

cmake --install "$build" --prefix "$scratch/prefix" >/dev/null
libdir=$(ls -d "$scratch"/prefix/lib*)
expect "$(resolved "$scratch/prefix/bin/flowmstr")" "$(realpath "$libdir/libfms.so")" "installed"
