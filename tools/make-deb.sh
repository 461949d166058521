#!/usr/bin/env bash
# Builds the Debian package: a release build in build-deb/, installed under /usr into a staging
# folder, packed as build/kurimo_VERSION_ARCH.deb. Its Depends come from dpkg-shlibdeps, read
# off the two programs' libraries. Install it with: apt install ./build/kurimo_*.deb
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=$here/build-deb
"$here/tools/setup.sh" "$build" -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
  -DKURIMO_TESTS=OFF -DKURIMO_BENCH=OFF

version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
arch=$(dpkg --print-architecture)
[ -n "$version" ] || { echo "make-deb: no project version in $build" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
root=$work/root
DESTDIR=$root cmake --install "$build" --strip >/dev/null
# Debian's man pages are compressed, without a time stamp, so the package is reproducible.
find "$root/usr/share/man" -type f -name '*.[0-9]' -exec gzip -9n {} +

# dpkg-shlibdeps wants a source tree to stand in; an empty package description does.
mkdir -p "$work/debian"
printf 'Source: kurimo\n\nPackage: kurimo\nArchitecture: any\n' >"$work/debian/control"
depends=$(cd "$work" && dpkg-shlibdeps -O -e"$root/usr/bin/kurimo" -e"$root/usr/bin/kurimo-mci" \
  2>/dev/null | sed -n 's/^shlibs:Depends=//p')
[ -n "$depends" ] || { echo "make-deb: dpkg-shlibdeps found no libraries" >&2; exit 1; }
# The sound's tempo filter opens libavfilter only when a speed first needs it, so
# dpkg-shlibdeps cannot see it: the package that holds the library it opens.
avfilter=$(pkg-config --variable=libdir libavfilter)/libavfilter.so.$(pkg-config --modversion libavfilter | cut -d. -f1)
avfilter_package=$(dpkg -S "$(readlink -f "$avfilter")" | head -1 | cut -d: -f1)
[ -n "$avfilter_package" ] || { echo "make-deb: no package holds $avfilter" >&2; exit 1; }
depends="$depends, $avfilter_package"
homepage=$(sed -n 's:.*<url type="homepage">\(.*\)</url>.*:\1:p' \
  "$root"/usr/share/metainfo/*.metainfo.xml)

find "$root" -type d -exec chmod 0755 {} +
find "$root" -type f -exec chmod 0644 {} +
chmod 0755 "$root/usr/bin/"*
mkdir -p "$root/DEBIAN"
(cd "$root" && find usr -type f -print0 | sort -z | xargs -0 md5sum) >"$root/DEBIAN/md5sums"
cat >"$root/DEBIAN/control" <<CONTROL
Package: kurimo
Version: $version
Architecture: $arch
Maintainer: Kurimo 開発チーム <kurimo@example.org>
Installed-Size: $(du -sk --exclude=DEBIAN "$root" | cut -f1)
Depends: $depends
Recommends: fonts-ipafont-gothic, fonts-ipafont-mincho, qt6-translations-l10n
Section: video
Priority: optional
Homepage: $homepage
Description: frame-accurate AVI video player with a Japanese control panel
 Kurimo plays AVI video files. A narrow control panel docks at the edge of
 the screen; the video plays in a window of its own. It steps one frame
 forwards or backwards, winds, plays a marked range once or in a loop, in
 either direction and at any speed, and copies the exact frame on screen to
 the clipboard or a BMP file.
 .
 kurimo-mci sends the same multimedia commands from scripts.
CONTROL

mkdir -p "$here/build"
deb=$here/build/kurimo_${version}_${arch}.deb
dpkg-deb --root-owner-group -Zxz --build "$root" "$deb" >/dev/null
echo "$deb"
