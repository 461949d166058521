#!/usr/bin/env bash
# Builds the Debian package from debian/ with dpkg-buildpackage (a release build in build-deb/),
# after installing what it needs, and moves what it makes from beside the checkout into build/:
# build/kurimo_VERSION_ARCH.deb. Install it with: apt install ./build/kurimo_*.deb
# KURIMO_LINTIAN=1 checks the package with lintian as well; any error or warning fails.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
KURIMO_DEB_PACKAGES=1 "$here/tools/setup.sh" --packages-only

version=$(dpkg-parsechangelog -l "$here/debian/changelog" -S Version)
project=$(sed -n 's/^project(Kurimo VERSION \([0-9.]*\).*/\1/p' "$here/CMakeLists.txt")
[ "$version" = "$project" ] ||
  { echo "make-deb: debian/changelog has $version, CMakeLists.txt $project" >&2; exit 1; }
arch=$(dpkg --print-architecture)

# The compiler cache is the one the other builds use: debhelper gives the build a HOME of its
# own inside debian/, where a cache would be wiped by the next clean.
if command -v ccache >/dev/null; then
  export CCACHE_DIR=${CCACHE_DIR:-$(ccache -k cache_dir)}
fi
(cd "$here" && CCACHE_BASEDIR="$here" CCACHE_NOHASHDIR=1 dpkg-buildpackage -b -us -uc >&2)
mkdir -p "$here/build"
parent=$(dirname "$here")
for file in "kurimo_${version}_${arch}.deb" "kurimo-dbgsym_${version}_${arch}.deb" \
  "kurimo_${version}_${arch}.buildinfo" "kurimo_${version}_${arch}.changes"; do
  [ -e "$parent/$file" ] && mv -f "$parent/$file" "$here/build/"
done
if [ "${KURIMO_LINTIAN:-0}" = 1 ]; then
  lintian --fail-on error,warning "$here/build/kurimo_${version}_${arch}.changes" >&2
fi
echo "$here/build/kurimo_${version}_${arch}.deb"
