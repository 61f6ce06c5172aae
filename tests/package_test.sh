#!/bin/sh
# SPDX-License-Identifier: MIT
# The Debian package (scripts/package.sh) passes lintian without errors and
# warnings, installs, its menu entry's program measures as an unprivileged
# user (e2e_install.sh), and a purge leaves none of its files.  As root;
# skipped (77) when flowmstr is installed already.  Purges when interrupted.
# Usage: package_test.sh BUILD_DIR
set -eu
here=$(cd "$(dirname "$0")" && pwd)
if dpkg-query -W -f '${Status}' flowmstr 2>/dev/null | grep -q ' installed$'; then
  echo "skipped: flowmstr is installed on this machine"; exit 77
fi
scratch=$(mktemp -d)
installed=
trap '[ -z "$installed" ] || apt-get purge -y -qq flowmstr >/dev/null 2>&1; rm -rf "$scratch"' EXIT
trap 'exit 130' INT TERM HUP
chmod 755 "$scratch"
fail=0
check() {
  if [ "$2" = "$3" ]; then echo "ok: $1"; else echo "FAIL: $1: got '$2', want '$3'"; fail=1; fi
}

"$here/../scripts/package.sh" "$scratch"
lintian --fail-on error,warning -I --pedantic "$scratch"/flowmstr_*.changes || fail=1

deb=$(ls "$scratch"/flowmstr_*.deb)
paths=$(dpkg-deb -c "$deb" | awk '{ sub(/^\./, "", $6); print $6 }')
present() { for p in $paths; do [ ! -e "$p" ] && [ ! -L "$p" ] || echo "$p"; done; }
before=$(present)
installed=1
DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "$deb" >/dev/null
check "no header and no libfms.so link" "$(dpkg -L flowmstr | grep -E '\.h$|\.so$' || true)" ""
program=$(command -v "$(sed -n 's/^Exec=//p' /usr/share/applications/flowmstr.desktop)")
check "the menu entry's program" "$program" /usr/bin/flowmstr
sh "$here/e2e_install.sh" "$1" "$program" || fail=1

apt-get purge -y -qq flowmstr >/dev/null
installed=
check "package state after purge" \
  "$(dpkg-query -W -f '${Status}' flowmstr 2>/dev/null | grep -v ' not-installed$' || true)" ""
check "the package's paths after purge" "$(present)" "$before"
exit $fail
