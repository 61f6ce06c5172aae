#!/bin/sh
# SPDX-License-Identifier: MIT
# The Debian package as a distribution builds and a user installs it: built
# by dpkg-buildpackage from a copy of the source tree in a scratch directory,
# lintian without errors and warnings, installed with apt, the program of its
# menu entry measuring as an unprivileged user (e2e_install.sh), purged
# without leaving a file.  Runs as root; skipped (77) when flowmstr is
# installed already, which it leaves alone.  An interrupted run purges too.
# Usage: package_test.sh BUILD_DIR
set -eu
build=$1
here=$(cd "$(dirname "$0")" && pwd)
if dpkg-query -W -f '${Status}' flowmstr 2>/dev/null | grep -q ' installed'; then
  echo "skipped: flowmstr is installed on this machine"
  exit 77
fi
scratch=$(mktemp -d)
installed=
cleanup() {
  [ -z "$installed" ] || apt-get purge -y -qq flowmstr >/dev/null 2>&1 || true
  rm -rf "$scratch"
}
trap cleanup EXIT
trap 'exit 130' INT TERM HUP
chmod 755 "$scratch"
fail=0
check() {
  if [ "$2" = "$3" ]; then echo "ok: $1"; else echo "FAIL: $1: got '$2', want '$3'"; fail=1; fi
}
step() { echo "$(date +%T) $*"; }

step "copy of the source tree"
mkdir "$scratch/src"
git -C "$here/.." ls-files -z --cached --others --exclude-standard |
  tar -C "$here/.." --null -T - --ignore-failed-read -cf - 2>/dev/null | tar -C "$scratch/src" -xf -

step "dpkg-buildpackage -us -uc -b"
if ! (cd "$scratch/src" && DEB_BUILD_OPTIONS="parallel=$(nproc)" dpkg-buildpackage -us -uc -b) \
     > "$scratch/build.log" 2>&1; then
  tail -n 40 "$scratch/build.log"
  exit 1
fi
deb=$(ls "$scratch"/flowmstr_*.deb)
echo "$(basename "$deb"): $(stat -c %s "$deb") bytes, $(dpkg-deb -f "$deb" Installed-Size) KiB installed"

step "lintian -I --pedantic"
lintian --fail-on error,warning -I --pedantic "$scratch"/flowmstr_*.changes || fail=1

# The package's paths, and those of them that are there before it.
paths=$(dpkg-deb -c "$deb" | awk '{ sub(/^\./, "", $6); print $6 }')
present() { for p in $paths; do [ ! -e "$p" ] && [ ! -L "$p" ] || echo "$p"; done; }
before=$(present)

step "apt-get install"
installed=1
DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "$deb" >/dev/null
check "no header and no libfms.so link" "$(dpkg -L flowmstr | grep -E '\.h$|\.so$' || true)" ""
program=$(command -v "$(sed -n 's/^Exec=//p' /usr/share/applications/flowmstr.desktop)")
check "the menu entry's program" "$program" /usr/bin/flowmstr
sh "$here/e2e_install.sh" "$build" "$program" || fail=1

step "apt-get purge"
apt-get purge -y -qq flowmstr >/dev/null
installed=
check "package state after purge" \
  "$(dpkg-query -W -f '${Status}' flowmstr 2>/dev/null | grep -v ' not-installed$' || true)" ""
check "paths left after purge" "$(present)" "$before"
step "done"
exit $fail
