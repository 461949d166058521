#!/usr/bin/env bash
# Sets up, builds and starts Kurimo.
# Usage: tools/run-kurimo.sh [FILE]
# Without FILE it opens a demo clip: ten seconds with sound and the frame number in every
# picture, made once with ffmpeg into the user's cache folder, so stepping and reverse play
# can be tried at once.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
"$here/tools/setup.sh" "$here/build"

if [ $# -gt 0 ]; then
  exec "$here/build/kurimo" "$@"
fi

cache=${XDG_CACHE_HOME:-$HOME/.cache}/kurimo
demo=$cache/demo.avi
if [ ! -s "$demo" ]; then
  mkdir -p "$cache"
  echo "Making the demo clip: $demo"
  # testsrc2 prints the time and the frame number in a corner; drawtext adds the number large
  # (where ffmpeg finds no font it stays small). A tone with a higher beep each second makes
  # the sound easy to follow. Written aside and moved into place, so a broken-off run leaves
  # no half clip behind.
  make_demo() {
    ffmpeg -nostdin -y -loglevel error \
      -f lavfi -i "testsrc2=size=640x360:rate=25:duration=10" \
      -f lavfi -i "sine=frequency=330:beep_factor=2:sample_rate=44100:duration=10" \
      "$@" -c:v mpeg4 -q:v 3 -g 25 -c:a pcm_s16le -ac 2 -f avi "$demo.part"
  }
  number="drawtext=text='%{n}':fontsize=96:fontcolor=white:x=(w-tw)/2:y=h-th-40"
  number+=":box=1:boxcolor=black@0.6:boxborderw=10"
  make_demo -vf "$number" || make_demo
  mv "$demo.part" "$demo"
fi
exec "$here/build/kurimo" "$demo"
