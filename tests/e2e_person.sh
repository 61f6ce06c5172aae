#!/bin/sh
# SPDX-License-Identifier: MIT
# The first start as a person meets it, under Xvfb: features dialog, settings
# dialog, window, context menu, help, "Schliessen"; then the settings file
# holds its nine lines.  As root it runs in a network namespace of its own.
# Usage: e2e_person.sh BIN_DIR
set -eu
if [ "$(id -u)" = 0 ] && [ -z "${E2E_NETNS:-}" ]; then
  E2E_NETNS=1 exec unshare --net sh "$0" "$@"
fi
[ -n "${E2E_NETNS:-}" ] && ip link set lo up
here=$(cd "$(dirname "$0")" && pwd)
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
export XDG_RUNTIME_DIR="$scratch/xdg"
mkdir -m 700 "$XDG_RUNTIME_DIR"
cp -r "$1/flowmstr" "$1"/libfms.so* "$1/help" "$scratch/"
cd "$scratch"
xvfb-run -a -s "-screen 0 1280x1024x24" bash "$here/person.sh" ./flowmstr

# The interface is the first entry of this machine's list.
want=$(printf '[settings]\nlocation=0\ninterface=N\ninterfacename=NAME\nfirstrun=1\ntop=459\nleft=639\nstayontop=1\n\n')
got=$(sed -e 's/^interface=[0-9]*$/interface=N/' -e 's/^interfacename=.\+$/interfacename=NAME/' flowmstr.ini)
if [ "$got" != "$want" ] || [ "$(wc -l < flowmstr.ini)" != 9 ]; then
  echo "FAIL: flowmstr.ini is:"; cat flowmstr.ini; exit 1
fi
echo "ok: flowmstr.ini holds the nine lines"
