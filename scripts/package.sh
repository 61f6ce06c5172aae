#!/bin/sh
# SPDX-License-Identifier: MIT
# Builds the Debian package (dpkg-buildpackage -us -uc -b) from a copy of the
# source tree in a scratch directory, as dpkg-buildpackage writes beside the
# tree it builds.  The packages, .buildinfo, .changes and build.log go to
# OUTDIR; the copy is removed, also when interrupted.
# Usage: scripts/package.sh OUTDIR
set -eu
top=$(cd "$(dirname "$0")/.." && pwd)
mkdir -p "$1"
out=$(cd "$1" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
trap 'exit 130' INT TERM HUP

mkdir "$work/src"
git -C "$top" ls-files -z --cached --others --exclude-standard |
  tar -C "$top" --null -T - --ignore-failed-read -cf - 2>/dev/null | tar -C "$work/src" -xf -
if ! (cd "$work/src" && DEB_BUILD_OPTIONS="parallel=$(nproc) ${DEB_BUILD_OPTIONS:-}" \
      dpkg-buildpackage -us -uc -b) > "$out/build.log" 2>&1; then
  tail -n 40 "$out/build.log" >&2
  exit 1
fi
mv "$work"/flowmstr*_* "$out/"
