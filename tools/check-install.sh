#!/usr/bin/env bash
# Installs a build into a temporary folder and checks what a desktop finds there: the two
# programs, the desktop entry, the icons, the AppStream file and the man pages. The desktop
# entry and the AppStream file go through their validators when these are installed.
# Usage: tools/check-install.sh [BUILD_DIR]   (default: build)
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$here/build}
dest=$(mktemp -d)
trap 'rm -rf "$dest"' EXIT
cmake --install "$build" --prefix "$dest/usr" >/dev/null
share=$dest/usr/share
id=org.example.kurimo
failed=0
fail() { echo "check-install: $*" >&2; failed=1; }

for program in kurimo kurimo-mci; do
  [ -x "$dest/usr/bin/$program" ] || fail "no $program"
done
for file in applications/$id.desktop metainfo/$id.metainfo.xml icons/hicolor/scalable/apps/$id.svg \
  man/man1/kurimo.1 man/man1/kurimo-mci.1; do
  [ -s "$share/$file" ] || fail "no $file"
done
for size in 16 22 24 32 48 64 128 256; do
  [ -s "$share/icons/hicolor/${size}x$size/apps/$id.png" ] || fail "no ${size}x$size icon"
done

# One version everywhere: what the programs print is the AppStream release.
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
for program in kurimo kurimo-mci; do
  [ "$("$dest/usr/bin/$program" --version)" = "$program $version" ] ||
    fail "$program --version is not $version"
done
grep -q "<release version=\"$version\"" "$share/metainfo/$id.metainfo.xml" ||
  fail "no AppStream release for $version"

if command -v desktop-file-validate >/dev/null; then
  desktop-file-validate "$share/applications/$id.desktop" || fail "desktop entry not valid"
else
  echo "check-install: desktop-file-validate not installed, entry not validated" >&2
fi
if command -v appstreamcli >/dev/null; then
  appstreamcli validate --no-net --pedantic "$share/metainfo/$id.metainfo.xml" ||
    fail "AppStream file not valid"
else
  echo "check-install: appstreamcli not installed, AppStream file not validated" >&2
fi
if command -v man >/dev/null; then
  for page in kurimo kurimo-mci; do
    warnings=$(MANWIDTH=80 man --warnings -l "$share/man/man1/$page.1" 2>&1 >/dev/null)
    [ -z "$warnings" ] || fail "man page $page: $warnings"
  done
fi
[ "$failed" = 0 ] && echo "check-install: all in place"
exit "$failed"
