#!/bin/sh
# The desktop entry, the AppStream metainfo and the manual page pass their
# validators; the manual page renders without warnings.
# Usage: desktopfiles_test.sh DESKTOP_DIR
set -eu
desktop-file-validate "$1/flowmstr.desktop"
appstreamcli validate --no-net "$1/de.orbacom.flowmstr.metainfo.xml"
warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$1/flowmstr.1" 2>&1 >/dev/null)
[ -z "$warnings" ] || { echo "$warnings"; exit 1; }
echo "ok: desktop entry, metainfo, manual page"
