#!/usr/bin/env bash
# Keys and the wheel on a virtual screen, read back from the pictures: with the video window
# active, Right, Right, Left, End, Home, Space, Space and two notches of the wheel; each frame
# on screen is found among the clip's own frames (made by ffmpeg) by the smallest difference.
# Then a video larger than the screen: the panel must stay above it, so that a click on its
# "S" reaches the button and shrinks the video.
#
# Usage: tools/xvfb-keys.sh [BUILD_DIR]     (default: build; builds kurimo there)
#        KURIMO_KEYS_CONTAINER=mp4 tools/xvfb-keys.sh   the clip as H.264 with B-frames in MP4
# Prints one PASS or FAIL line per check; exits 1 when any check failed.
# Needs: Xvfb, xdotool, x11-utils, imagemagick, ffmpeg.
set -uo pipefail

here=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$here/build}
work=$(mktemp -d "/tmp/kurimo keys.XXXXXX")
container=${KURIMO_KEYS_CONTAINER:-avi}
clip="$work/key clip.$container"
big="$work/big clip.avi"
trace="$work/trace.txt"
xvfb_pid=""
kurimo_pid=""
failures=0

cleanup() {
    [ -n "$kurimo_pid" ] && kill "$kurimo_pid" 2>/dev/null && wait "$kurimo_pid" 2>/dev/null
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null && wait "$xvfb_pid" 2>/dev/null
    if [ -n "${KEEP_WORK:-}" ]; then echo "work files kept in $work" >&2; else rm -rf "$work"; fi
}
trap cleanup EXIT
trap 'exit 130' INT TERM

check() { # NAME RESULT(0 pass) [DETAIL]
    if [ "$2" = 0 ]; then
        echo "PASS $1${3:+ ($3)}"
    else
        echo "FAIL $1${3:+ ($3)}"
        failures=$((failures + 1))
    fi
}

cmake --build "$build" --target kurimo -j2 >/dev/null || { echo "build failed" >&2; exit 2; }

# 1000 frames, each with its number large in the picture for a person and as ten bits along
# the top for this script: a white square on a black bar for every bit that is set.
bits="drawbox=x=0:y=0:w=320:h=16:color=black:t=fill"
for i in $(seq 0 9); do
    bits+=",drawbox=enable='bitand(n\\,$((1 << i)))'"
    bits+=":x=$((i * 32)):y=0:w=32:h=16:color=white:t=fill"
done
ffmpeg -v error -y -f lavfi -i testsrc2=size=320x240:rate=25 -frames:v 1000 -vf \
    "$bits,drawtext=text='%{n}':fontsize=80:fontcolor=white:x=(w-tw)/2:y=h-th-20" \
    $([ "$container" = avi ] && echo "-c:v mjpeg -q:v 3" ||
        echo "-c:v libx264 -bf 3 -g 250 -crf 12 -pix_fmt yuv420p") "$clip" || exit 2
ffmpeg -v error -y -f lavfi -i testsrc2=size=1280x720:rate=25 -frames:v 25 -c:v mjpeg "$big" ||
    exit 2

Xvfb -displayfd 3 -screen 0 1024x768x24 -dpi 96 -nolisten tcp 3>"$work/display" \
    >"$work/xvfb.log" 2>&1 &
xvfb_pid=$!
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
export DISPLAY=":$(head -1 "$work/display")"

start_kurimo() { # FILE
    [ -n "$kurimo_pid" ] && kill "$kurimo_pid" 2>/dev/null && wait "$kurimo_pid" 2>/dev/null
    : >"$trace"
    KURIMO_TRACE="$trace" QT_QPA_PLATFORM=xcb "$build/kurimo" "$1" >"$work/kurimo.log" 2>&1 &
    kurimo_pid=$!
    for _ in $(seq 100); do grep -q ' speed 1000' "$trace" 2>/dev/null && break; sleep 0.1; done
    sleep 0.5
}

window_of() { xdotool search --onlyvisible --name "^$1\$" | head -1; }

# The number of the frame that the video window shows now, read from its bits.
frame_on_screen() {
    local format="" i
    for i in 9 8 7 6 5 4 3 2 1 0; do format+="%[fx:p{$((i * 32 + 16)),8}.g>0.5]"; done
    import -window "$1" "$work/shot.png"
    echo $((2#$(convert "$work/shot.png" -format "$format" info:)))
}

# --- keys on the video window ----------------------------------------------------------------
start_kurimo "$clip"
video=$(window_of "key clip.$container")
xdotool windowfocus --sync "$video"
expect_frame() { # WHAT EXPECTED
    sleep 0.4
    local shown
    shown=$(frame_on_screen "$video")
    [ "$shown" = "$2" ]
    check "$1 shows frame $2" $? "frame $shown on screen"
}
expect_frame "the open" 0
xdotool key Right; expect_frame "Right" 1
xdotool key Right; expect_frame "Right again" 2
xdotool key Left; expect_frame "Left" 1
xdotool key End; expect_frame "End" 999
xdotool key Home; expect_frame "Home" 0
xdotool key space
sleep 1
first=$(frame_on_screen "$video")
sleep 0.5
second=$(frame_on_screen "$video")
[ "$first" -gt 0 ] && [ "$second" -gt "$first" ]
check "Space plays" $? "frames $first then $second"
xdotool key space
sleep 0.3
paused=$(frame_on_screen "$video")
sleep 0.5
[ "$(frame_on_screen "$video")" = "$paused" ]
check "Space again pauses" $? "frame $paused"
eval "$(xdotool getwindowgeometry --shell "$video")"
xdotool mousemove $((X + WIDTH / 2)) $((Y + HEIGHT / 2)) click 5
expect_frame "a notch of the wheel down" $((paused + 1))
xdotool click 5
expect_frame "another notch" $((paused + 2))

# --- a video larger than the screen ----------------------------------------------------------
start_kurimo "$big"
panel=$(window_of Kurimo)
eval "$(xdotool getwindowgeometry --shell "$panel")"
# The video size "S": 150, 4635 twips from the panel's corner, 197 by 255 twips.
xdotool mousemove $((X + 10 + 6)) $((Y + 309 + 8)) click 1
sleep 0.5
last_put=$(grep '^put ' "$trace" | tail -1)
[[ "$last_put" == *" window at -21 74 1066 620"* ]]
check "a click on S over a 1280x720 video shrinks it" $? "${last_put%%$'\t'*}"

[ "$failures" = 0 ]
