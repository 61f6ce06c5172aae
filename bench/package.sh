#!/bin/sh
# SPDX-License-Identifier: MIT
# Figures of the Debian package: how long scripts/package.sh takes, the
# package's size and its installed size, its files, and what lintian says at
# the default level and with -I --pedantic.  Installs nothing.
# Usage: bench/package.sh
set -eu
top=$(cd "$(dirname "$0")/.." && pwd)
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
start=$(date +%s)
"$top/scripts/package.sh" "$out"
echo "build: $(($(date +%s) - start)) s"
deb=$(ls "$out"/flowmstr_*.deb)
echo "$(basename "$deb"): $(stat -c %s "$deb") bytes, installed size $(dpkg-deb -f "$deb" Installed-Size) KiB"
dpkg-deb -c "$deb"
for options in "" "-I --pedantic"; do
  echo "lintian $options: $(lintian $options "$out"/flowmstr_*.changes 2>/dev/null | wc -l) findings"
  lintian $options "$out"/flowmstr_*.changes 2>/dev/null || true
done
