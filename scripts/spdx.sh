#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Puts "SPDX-License-Identifier: MIT" as the first comment into each C, C++,
# CMake and shell file that names no licence identifier yet: the first line,
# or the second after a script's #! line.  Running it again changes nothing.
# Usage: scripts/spdx.sh [FILE...]   (default: every such file git tracks)
set -euo pipefail
tag='SPDX-License-Identifier: MIT'

tag_file() {
  local file=$1 comment="# $tag" line=1i
  [ -s "$file" ] || return 0
  head -n 2 "$file" | grep -qE '^(#|//|/\*) SPDX-License-Identifier:' && return 0
  case $file in *.c | *.cpp | *.h) comment="// $tag" ;; esac
  head -n 1 "$file" | grep -q '^#!' && line=1a
  sed -i "$line $comment" "$file"
  echo "tagged: $file"
}

if (($# == 0)); then
  top=$(git -C "$(dirname "$0")" rev-parse --show-toplevel)
  mapfile -t files < <(git -C "$top" ls-files --full-name \
    '*.c' '*.cpp' '*.h' '*.cmake' '*CMakeLists.txt' '*.sh' | sed "s|^|$top/|")
  set -- "${files[@]}"
fi
for file in "$@"; do
  tag_file "$file"
done
