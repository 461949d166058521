#!/usr/bin/env bash
# Installs what Kurimo needs on Debian 12 (through sudo when not root) and builds it.
# Usage: tools/setup.sh [BUILD_DIR [CMAKE_OPTION...]]   (default: build; options such as
# -DCMAKE_BUILD_TYPE=Release override the defaults)
#        tools/setup.sh --packages-only                 (install, build nothing)
# KURIMO_DEB_PACKAGES=1 adds what builds and checks the Debian package.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$here/build}

packages=(
  build-essential cmake ninja-build pkg-config ccache
  qt6-base-dev qt6-base-dev-tools qt6-multimedia-dev qt6-translations-l10n libgl-dev
  libavformat-dev libavcodec-dev libavutil-dev libswscale-dev libswresample-dev libavfilter-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  ffmpeg xvfb xauth imagemagick xdotool x11-utils
  fonts-ipafont-gothic fonts-ipafont-mincho
  desktop-file-utils appstream dbus
)
# What only the bench programs compare with, when asked for.
if [ "${KURIMO_BENCH_PACKAGES:-0}" = 1 ]; then
  packages+=(mpv)
fi
if [ "${KURIMO_DEB_PACKAGES:-0}" = 1 ]; then
  packages+=(debhelper lintian)
fi
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  echo "Installing: ${missing[*]}"
  $sudo apt-get update -q
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
fi

[ "$build" = --packages-only ] && exit 0

# Builds in other checkouts of the tree share the compiler cache.
export CCACHE_BASEDIR="$here" CCACHE_NOHASHDIR=1
cmake -S "$here" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "${@:2}" >/dev/null
cmake --build "$build" -j "$(nproc)"
