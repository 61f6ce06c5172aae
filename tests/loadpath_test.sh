#!/bin/sh
# SPDX-License-Identifier: MIT
# The program loads libfms from beside itself (build tree) or from the
# installed library directory, never from the working directory, where a
# libfms and a libpcap are planted; so does libfms for libpcap.  As root also
# with file capabilities, started by an unprivileged user: secure-execution
# mode, in which the loader ignores $ORIGIN.
# Usage: loadpath_test.sh BUILD_DIR PLANTED_LIBRARY
set -eu
build=$1
here=$(cd "$(dirname "$0")" && pwd)
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
chmod 755 "$scratch"
pcap=$(ldd "$build/bin/libfms.so.1" | awk '$1 ~ /^libpcap/ { print $1, $3 }')
mkdir "$scratch/cwd"
cp "$2" "$scratch/cwd/libfms.so.1"
cp "$2" "$scratch/cwd/${pcap% *}"
system_pcap=$(realpath "${pcap#* }")

mapped() {  # NAME PID: the file of library NAME that process PID maps
  grep -m1 -oE "/[^ ]*/$1\\.so[.0-9]*\$" "/proc/$2/maps" 2>/dev/null
}

# The libfms and libpcap files a program maps when started in the planted
# directory (with its arguments before it, e.g. to run as another user).
loaded() {
  (cd "$scratch/cwd" && QT_QPA_PLATFORM=offscreen exec "$@" >/dev/null 2>&1) &
  pid=$!
  files=
  for _ in $(seq 50); do
    fms=$(mapped libfms $pid) && pcap=$(mapped libpcap $pid) && files="$fms $pcap" && break
    kill -0 $pid 2>/dev/null || break
    sleep 0.1
  done
  kill $pid 2>/dev/null || true
  rc=0; wait $pid 2>/dev/null || rc=$?
  [ -n "$files" ] && echo "$files" || echo "ended with $rc"
}
expect() {
  if [ "$1" != "$2" ]; then echo "FAIL: $3: got '$1', want '$2'"; exit 1; fi
  echo "ok: $3"
}

ours=$(realpath "$build/bin/libfms.so.1")
expect "$(loaded "$build/bin/flowmstr")" "$ours $system_pcap" "build tree"
cp "$build/bin/flowmstr" "$scratch/"
expect "$(loaded "$scratch/flowmstr")" "$ours $system_pcap" "a copy of the program"

cmake --install "$build" --prefix "$scratch/prefix" >/dev/null
installed=$(realpath "$(ls -d "$scratch"/prefix/lib*)/libfms.so.1")
expect "$(loaded "$scratch/prefix/bin/flowmstr")" "$installed $system_pcap" "installed"

[ "$(id -u)" = 0 ] || { echo "skipped: file capabilities (needs root)"; exit 0; }
. "$here/testuser.sh"
setcap cap_net_raw+ep "$scratch/flowmstr"
expect "$(loaded $as_test_user "$scratch/flowmstr")" "$ours $system_pcap" "build tree, capability"
expect "$(getcap "$scratch/prefix/bin/flowmstr")" "$scratch/prefix/bin/flowmstr cap_net_raw=ep" \
  "root install grants the capability"
expect "$(loaded $as_test_user "$scratch/prefix/bin/flowmstr")" "$installed $system_pcap" \
  "installed, capability"
