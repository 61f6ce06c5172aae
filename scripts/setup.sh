#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Installs what is missing for building and testing (Debian 12), then builds
# everything into build/.  Used by run.sh and test.sh.
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(
  cmake ninja-build g++ pkg-config
  libpcap-dev qt6-base-dev qt6-base-dev-tools qt6-qpa-plugins
  libgtest-dev clang libclang-rt-14-dev
  fonts-urw-base35 iproute2 util-linux pppoe
  xvfb xauth xdotool imagemagick
  radvd dbus libcap2-bin patchelf desktop-file-utils appstream man-db dpkg-dev file
  debhelper lintian git
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if ((${#missing[@]})); then
  sudo=
  [ "$(id -u)" -eq 0 ] || sudo=sudo
  echo "Installing: ${missing[*]}"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}"
fi

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build
