#!/usr/bin/env bash
# Takes the three pictures of the help window from Kurimo itself, running headless under Xvfb:
#   assets/help-video.jpg    157 x 139  a video playing in the device window
#   assets/help-panel.jpg     69 x 411  the control panel, a video open
#   assets/help-capture.jpg  156 x 151  the capture window with its menu open
# then grabs the help window and the capture window for the docs:
#   docs/help-window.png, docs/capture-window.png
#
# Usage: tools/make-help-pictures.sh [BUILD_DIR]      (default: build)
# Needs: Xvfb, xdotool, x11-utils, imagemagick, ffmpeg (tools/setup.sh installs them).
#
# When the program cannot show a video, the video and capture pictures are drawn from what
# exists (a frame of the test clip, the capture window grabbed around it) and the script
# says so on stderr.
set -euo pipefail

here=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$here/build}
work=$(mktemp -d)
xvfb_pid=""
kurimo_pid=""

cleanup() {
    [ -n "$kurimo_pid" ] && kill "$kurimo_pid" 2>/dev/null || true
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

say() { echo "make-help-pictures: $*" >&2; }

# Wait up to 10 seconds for a window whose name matches; prints its id.
wait_window() {
    local id
    for _ in $(seq 100); do
        id=$(xdotool search --onlyvisible --name "$1" 2>/dev/null | tail -1 || true)
        if [ -n "$id" ]; then echo "$id"; return 0; fi
        sleep 0.1
    done
    return 1
}

# Click the centre of a panel control given by its design rectangle in twips (15 a pixel).
click_control() {
    local left=$1 top=$2 width=$3 height=$4
    xdotool mousemove --window "$panel" $(((left + width / 2) / 15)) $(((top + height / 2) / 15))
    xdotool click 1
}

cmake -S "$here" -B "$build" -G Ninja >/dev/null
cmake --build "$build" --target kurimo grab-windows

# A test clip: colour bars that move, a counter, a tone.
ffmpeg -v error -y -f lavfi -i testsrc2=size=320x240:rate=25:duration=10 \
    -f lavfi -i sine=frequency=440:duration=10 -c:v mjpeg -q:v 3 -c:a pcm_s16le \
    "$work/clip.avi"

display=90
while [ -e "/tmp/.X11-unix/X$display" ] || [ -e "/tmp/.X$display-lock" ]; do
    display=$((display + 1))
done
Xvfb ":$display" -screen 0 1024x768x24 -dpi 96 -nolisten tcp >"$work/xvfb.log" 2>&1 &
xvfb_pid=$!
export DISPLAY=":$display"
for _ in $(seq 50); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done

QT_QPA_PLATFORM=xcb "$build/kurimo" >"$work/kurimo.log" 2>&1 &
kurimo_pid=$!
panel=$(wait_window '^Kurimo$')

video_ok=0
click_control 150 1080 689 255                         # "ﾌｧｲﾙ"
if wait_window '^データロード$' >/dev/null; then
    sleep 0.5
    xdotool type --delay 10 "$work/clip.avi"
    xdotool key Return
    if video=$(wait_window '^clip\.avi$'); then
        click_control 150 2730 689 255                 # "正再生"
        sleep 2.5
        import -window "$video" "$work/video.png"
        video_ok=1
    fi
fi

import -window "$panel" "$work/panel.png"
convert "$work/panel.png" -resize '69x411!' -quality 92 "$here/assets/help-panel.jpg"

capture_ok=0
if [ "$video_ok" = 1 ]; then
    convert "$work/video.png" -resize '157x139^' -gravity center -extent 157x139 \
        -quality 92 "$here/assets/help-video.jpg"
    click_control 148 4905 689 255                     # "コピー"
    if capture=$(wait_window '^画像コピー$'); then
        sleep 0.5
        xdotool mousemove --window "$capture" 25 10 click 1   # "メニュー"
        sleep 1
        eval "$(xdotool getwindowgeometry --shell "$capture")"
        import -window root -crop "${WIDTH}x${HEIGHT}+${X}+${Y}" +repage "$work/capture.png"
        xdotool key Escape
        convert "$work/capture.png" -resize '156x151^' -gravity northwest -extent 156x151 \
            -quality 92 "$here/assets/help-capture.jpg"
        capture_ok=1
    fi
else
    say "the program showed no video: the video picture is a frame of the test clip"
    ffmpeg -v error -y -ss 2.6 -i "$work/clip.avi" -frames:v 1 "$work/video.png"
    convert "$work/video.png" -resize '157x139^' -gravity center -extent 157x139 \
        -quality 92 "$here/assets/help-video.jpg"
fi
kill "$kurimo_pid" 2>/dev/null || true
kurimo_pid=""

# The help window and the capture window drawn headless, the capture window around the frame
# the device showed; the help window now holds the new pictures.
cmake --build "$build" --target grab-windows
QT_QPA_PLATFORM=offscreen "$build/tools/grab-windows" "$work" "$work/video.png"
mkdir -p "$here/docs"
cp "$work/help-window.png" "$here/docs/help-window.png"
cp "$work/capture-window.png" "$here/docs/capture-window.png"
if [ "$capture_ok" = 0 ]; then
    say "no capture window from the program: the capture picture is drawn around the frame"
    convert "$work/capture-menu.png" -resize '156x151^' -gravity northwest -extent 156x151 \
        -quality 92 "$here/assets/help-capture.jpg"
fi
say "done"
