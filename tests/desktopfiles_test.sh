#!/bin/sh
# SPDX-License-Identifier: MIT
# The desktop entry, the AppStream metainfo and the manual page pass their
# validators; the manual page renders without warnings.  The metainfo's
# latest release, the manual page and the Debian changelog name the
# project's version.
# Usage: desktopfiles_test.sh DESKTOP_DIR VERSION DEBIAN_CHANGELOG
set -eu
desktop-file-validate "$1/flowmstr.desktop"
appstreamcli validate --no-net "$1/de.orbacom.flowmstr.metainfo.xml"
warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$1/flowmstr.1" 2>&1 >/dev/null)
[ -z "$warnings" ] || { echo "$warnings"; exit 1; }
echo "ok: desktop entry, metainfo, manual page"

versions=$(sed -n 's/.*<release version="\([^"]*\)".*/\1/p' "$1/de.orbacom.flowmstr.metainfo.xml" | head -n 1
  sed -n 's/^\.TH .* "FlowMeister \([^"]*\)".*/\1/p' "$1/flowmstr.1"
  dpkg-parsechangelog -l "$3" -S Version)
[ "$(echo $versions)" = "$2 $2 $2" ] ||
  { echo "FAIL: metainfo, manual page, changelog name" $versions "; the project $2"; exit 1; }
echo "ok: version $2 everywhere"
