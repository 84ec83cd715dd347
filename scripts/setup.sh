#!/usr/bin/env bash
# Installs every Debian package the build, the tests and the Wine runs need.
# Idempotent and quiet: when everything is already there it prints nothing.
set -euo pipefail

packages=(
  build-essential cmake git
  libgtest-dev libgmock-dev googletest libbenchmark-dev
  g++-mingw-w64-x86-64-posix mingw-w64-x86-64-dev
  wine wine64 xvfb xauth x11-utils imagemagick
  fonts-wqy-microhei fonts-dejavu-core fonts-crosextra-carlito fonts-noto-cjk
  mesa-vulkan-drivers libvulkan1
  qt6-base-dev libgl-dev libvulkan-dev libqt6svg6
  procps sysstat htop
  clang libfuzzer-14-dev
  prometheus-cpp-dev prometheus curl jq python3 desktop-file-utils dpkg-dev file
  lintian man-db adduser util-linux systemd
)

missing=()
for p in "${packages[@]}"; do
  if [ "$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null)" != 'install ok installed' ]; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
echo "setup: installing ${missing[*]}" >&2
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
