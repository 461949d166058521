#!/usr/bin/env bash
# Uses Kurimo the way a person does, on a virtual screen: tries a file that is no video, opens
# a test clip through the file dialog, plays, pauses, winds, steps, marks a range, plays it
# backwards, enlarges the video, warps the panel into each corner, copies a frame and opens the
# help. After each step it takes a screenshot and checks where the windows stand against what
# the program told the multimedia layer (read back from the layer's trace).
#
#   docs/walkthrough/NN-what.png   the steps of the walk
#   docs/placement/NN-what.png     the video sizes and the panel warps
#
# Usage: tools/xvfb-walkthrough.sh [BUILD_DIR]     (default: build-xvfb; builds kurimo there)
# Prints one PASS or FAIL line per check; exits 1 when any check failed.
# Needs: Xvfb, xdotool, x11-utils, imagemagick, ffmpeg.
set -uo pipefail

here=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$here/build-xvfb}
walk_dir=$here/docs/walkthrough
place_dir=$here/docs/placement

# The clip lives under a path with a blank and Japanese letters: the device name of every
# text command is that path.
work=$(mktemp -d "/tmp/kurimo walk.XXXXXX")
mkdir -p "$work/video" "$work/broken"
clip="$work/video/テスト 動画.avi"
clip_name="テスト 動画.avi"
trace="$work/trace.txt"
xvfb_pid=""
kurimo_pid=""
failures=0
checks=0

cleanup() {
    [ -n "$kurimo_pid" ] && kill "$kurimo_pid" 2>/dev/null
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null
    [ -n "$kurimo_pid" ] && wait "$kurimo_pid" 2>/dev/null
    [ -n "$xvfb_pid" ] && wait "$xvfb_pid" 2>/dev/null
    if [ -n "${KEEP_WORK:-}" ]; then
        echo "work files kept in $work" >&2
    else
        rm -rf "$work"
    fi
}
trap cleanup EXIT
trap 'exit 130' INT TERM

say() { echo "== $*"; }

check() { # NAME RESULT(0 pass) [DETAIL]
    checks=$((checks + 1))
    if [ "$2" = 0 ]; then
        echo "PASS $1${3:+ ($3)}"
    else
        echo "FAIL $1${3:+ ($3)}"
        failures=$((failures + 1))
    fi
}

# Checks two numbers for equality within a tolerance of one pixel (twips round to pixels).
near() { awk -v a="$1" -v b="$2" 'BEGIN { d = a - b; exit !(d <= 1 && d >= -1) }'; }

shot() { # DIR NAME
    mkdir -p "$1"
    import -window root "$1/$2.png"
    last_shot="$1/$2.png"
    echo "   screenshot ${1#"$here"/}/$2.png"
}

viewable() { xwininfo -id "$1" 2>/dev/null | grep -q IsViewable; }

# Waits up to $2 seconds (default 10) for a shown window whose name matches; prints its id.
# Windows that are on their way out may still be listed: only one still viewable counts.
wait_window() {
    local id tries=$(( ${2:-10} * 10 ))
    for _ in $(seq "$tries"); do
        for id in $(xdotool search --onlyvisible --name "$1" 2>/dev/null); do
            if viewable "$id"; then echo "$id"; return 0; fi
        done
        sleep 0.1
    done
    return 1
}

# Presses Return in a dialog or message box until it closes (a file dialog's completion list
# may take the first press); fails when it stays.
return_until_gone() { # ID
    for _ in 1 2 3; do
        xdotool windowfocus --sync "$1" 2>/dev/null
        xdotool key Return
        sleep 0.7
        viewable "$1" || return 0
    done
    return 1
}

# Absolute geometry of a window as "X Y W H" (no window manager: frame = client).
geometry_of() {
    xwininfo -id "$1" | awk '/Absolute upper-left X/ {x=$NF} /Absolute upper-left Y/ {y=$NF}
        /Width:/ {w=$NF} /Height:/ {h=$NF} END {print x, y, w, h}'
}

# Clicks the centre of a panel control given by its design rectangle in twips, 15 a pixel,
# relative to where the panel stands now.
click_control() { # LEFT TOP WIDTH HEIGHT [BUTTON [MORE XDOTOOL COMMANDS]]
    local x y
    x=$(awk -v l="$1" -v w="$3" 'BEGIN { printf "%d", (l + w / 2) / 15 + 0.5 }')
    y=$(awk -v t="$2" -v h="$4" 'BEGIN { printf "%d", (t + h / 2) / 15 + 0.5 }')
    # shellcheck disable=SC2086 # the last argument may chain more xdotool commands
    xdotool mousemove --window "$panel" "$x" "$y" click ${5:-1}
}

# Presses on the panel's background at a point given in panel units (24.6 twips across,
# 15 down).
press_panel_units() { # X Y
    local x y
    x=$(awk -v u="$1" 'BEGIN { printf "%d", u * 24.6 / 15 + 0.5 }')
    y=$(awk -v u="$2" 'BEGIN { printf "%d", u + 0.5 }')
    xdotool mousemove --window "$panel" "$x" "$y" click 1
}

# Chooses a file in the open dialog as a person does: its full path typed into the file name
# field (which has the focus), then Return. xdotool types letters that the keyboard map lacks,
# such as Japanese ones, by remapping a key for a moment, and on a busy machine the program
# may read the key before the new map and lose the letter; the dialog then says it cannot
# find the file. Then the file is chosen the other way a person would: its folder (plain
# letters) typed, the file clicked in the list, where it is the only AVI file, and Return.
choose_file() { # DIALOG PATH [SCREENSHOT]
    local box
    xdotool windowfocus --sync "$1" 2>/dev/null
    xdotool type --delay 60 "$2"
    sleep 0.5
    [ -n "${3:-}" ] && shot "$walk_dir" "$3"
    return_until_gone "$1" && return 0
    echo "   the typed path lost letters; choosing the file from its folder"
    for box in $(xdotool search --onlyvisible --name '^データロード$'); do
        [ "$box" != "$1" ] && viewable "$box" && return_until_gone "$box"
    done
    xdotool mousemove --window "$1" 310 358 click 1        # the file name field
    xdotool key ctrl+a
    xdotool type --delay 60 "$(dirname "$2")"
    xdotool key Return                                      # goes into the folder, stays open
    # The folder is read in the background: click the first row until it shows selected.
    for _ in $(seq 10); do
        sleep 0.5
        xdotool mousemove --window "$1" 150 70 click 1      # the first row: the file
        sleep 0.3
        selected_row "$1" && break
    done
    return_until_gone "$1"
}

# Whether the first row of the file dialog's list is drawn in a selection colour (blue).
selected_row() { # DIALOG
    import -window "$1" -crop 1x1+300+70 +repage "$work/row.png" 2>/dev/null
    convert "$work/row.png" -format '%[fx:int(255*b)-int(255*r) > 60]' info: 2>/dev/null |
        grep -q 1
}

# Trace lines written since mark_trace.
mark_trace() { trace_mark=$(wc -l <"$trace" 2>/dev/null || echo 0); }
new_trace() { tail -n +"$((trace_mark + 1))" "$trace" 2>/dev/null; }

# Passes when a trace line since the mark starts with the exact command and carries no error.
check_command() { # NAME COMMAND
    local line
    line=$(new_trace | awk -F'\t' -v c="$2" '$1 == c' | tail -1)
    if [ -z "$line" ]; then
        check "$1" 1 "no trace line \"$2\""
    elif [[ "$line" == *$'\t'error:* ]]; then
        check "$1" 1 "$(printf '%s' "$line" | tr '\t' '|')"
    else
        check "$1" 0 "$(printf '%s' "$line" | tr '\t' '|')"
    fi
}

# Every trace line since the mark that the layer refused, as a FAIL each.
check_no_errors() { # STEP
    local lines
    lines=$(new_trace | grep -P '\terror: ' || true)
    if [ -z "$lines" ]; then
        check "$1: the layer refused no command" 0
    else
        while IFS= read -r l; do
            check "$1: the layer refused no command" 1 "$(printf '%s' "$l" | tr '\t' '|')"
        done <<<"$lines"
    fi
}

# A modal error box stops the program until someone closes it: photograph it, count it as a
# failure and close it so the walk goes on.
close_error_boxes() { # STEP
    local id n=0
    while id=$(wait_window 'エラー|ＲＴミミ' 1); do
        n=$((n + 1))
        shot "$walk_dir" "error-$1-$n"
        check "$1: no error box" 1 "box \"$(xdotool getwindowname "$id")\", see $last_shot"
        return_until_gone "$id"
        [ "$n" -ge 5 ] && break
    done
}

# Mean brightness (0..1) of a rectangle of a screenshot.
brightness() { # PNG X Y W H
    convert "$1" -crop "${4}x${5}+${2}+${3}" +repage -colorspace Gray -format '%[fx:mean]' info:
}

# Number of pixels that differ between the same rectangle of two screenshots.
pixels_changed() { # PNG1 PNG2 X Y W H
    local crop="${5}x${6}+${3}+${4}"
    convert "$1" -crop "$crop" +repage "$work/crop-1.png"
    convert "$2" -crop "$crop" +repage "$work/crop-2.png"
    compare -metric AE "$work/crop-1.png" "$work/crop-2.png" null: 2>&1 | awk '{print int($1)}'
}

# The device window must stand where the last placement command put it: picture W x (H - 20)
# at L, T + 20, the 20 pixels above the picture being the device's title allowance.
check_device_window() { # STEP
    local put id l t w h gx gy gw gh
    put=$(awk -F'\t' -v p="put $clip window at " 'index($1, p) == 1 && $2 !~ /^error/ {c = $1}
        END {print substr(c, length(p) + 1)}' "$trace")
    read -r l t w h <<<"$put"
    if [ -z "$h" ]; then
        check "$1: device window placed" 1 "no accepted placement command in the trace"
        return
    fi
    if ! id=$(wait_window "^${clip_name//./\\.}\$" 3); then
        check "$1: device window visible" 1 "no window named $clip_name"
        return
    fi
    read -r gx gy gw gh <<<"$(geometry_of "$id")"
    local want="$l $((t + 20)) $w $((h - 20))" got="$gx $gy $gw $gh"
    [ "$want" = "$got" ]
    check "$1: device window at the placement command's place" $? \
        "put at $l $t $w $h; window x y w h: want $want, got $got"
    video_geometry=($gx $gy $gw $gh)
}

check_panel_at() { # STEP X Y
    local gx gy gw gh
    read -r gx gy gw gh <<<"$(geometry_of "$panel")"
    near "$gx" "$2" && near "$gy" "$3"
    check "$1: panel at $2, $3 px" $? "panel x y w h: $gx $gy $gw $gh"
}

# --- build, clip, screen -----------------------------------------------------------------
say "building kurimo in $build"
if [ ! -f "$build/build.ninja" ]; then
    cmake -S "$here" -B "$build" -G Ninja -DKURIMO_BENCH=OFF -DKURIMO_TESTS=OFF >/dev/null ||
        exit 2
fi
cmake --build "$build" --target kurimo -j2 >/dev/null || { echo "build failed" >&2; exit 2; }

say "making the clip $clip"
# Ten minutes long: a wind seeks as fast as the device answers, well under a millisecond a
# step on this clip, so a shorter one is crossed before the second press comes.
ffmpeg -v error -y -f lavfi -i testsrc2=size=320x240:rate=25 -f lavfi -i sine=frequency=440 \
    -t 600 -c:v mjpeg -q:v 12 -c:a pcm_s16le -ar 11025 "$clip" || exit 2

# Xvfb picks a free display itself and writes its number: others run Xvfb on this machine too.
start_screen() {
    : >"$work/display"
    Xvfb -displayfd 3 -screen 0 1024x768x24 -dpi 96 -nolisten tcp -br 3>"$work/display" \
        >"$work/xvfb.log" 2>&1 &
    xvfb_pid=$!
    for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
    display=$(head -1 "$work/display")
    [ -n "$display" ] && kill -0 "$xvfb_pid" 2>/dev/null || return 1
    export DISPLAY=":$display"
    xdpyinfo >/dev/null 2>&1
}

start_kurimo() {
    : >"$trace"
    KURIMO_TRACE="$trace" QT_QPA_PLATFORM=xcb LANG=C.UTF-8 "$build/kurimo" \
        >"$work/kurimo.log" 2>&1 &
    kurimo_pid=$!
    panel=$(wait_window '^Kurimo$')
}

stop_all() {
    [ -n "$kurimo_pid" ] && kill "$kurimo_pid" 2>/dev/null && wait "$kurimo_pid" 2>/dev/null
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null && wait "$xvfb_pid" 2>/dev/null
    kurimo_pid=""
    xvfb_pid=""
}

rm -f "$walk_dir"/*.png "$place_dir"/*.png

# --- 1. start ----------------------------------------------------------------------------
# A screen that vanishes under the program (another process taking the display away) is no
# fault of the program: that gets two more tries, each told on stderr.
say "start"
started=0
for attempt in 1 2 3; do
    if start_screen && start_kurimo; then
        started=1
        break
    fi
    xvfb_state=$(kill -0 "$xvfb_pid" 2>/dev/null && echo running || echo ended)
    echo "start $attempt failed: Xvfb :${display:-?} $xvfb_state; Xvfb said: $(cat "$work/xvfb.log")" \
        "kurimo said: $(head -c 400 "$work/kurimo.log")" >&2
    stop_all
done
if [ "$started" = 0 ]; then
    check "start: panel shown" 1 "no window named Kurimo after 3 starts"
    exit 1
fi
say "Xvfb on :$display"
mark_trace
sleep 0.5
shot "$walk_dir" 01-start
# Right edge 15 twips in: 15360 - 1070 - 15 = 14275 twips; centred: (11520 - 6200) / 2.
panel_right=$(awk 'BEGIN { printf "%.2f", 14275 / 15 }')
panel_middle=$(awk 'BEGIN { printf "%.2f", 2660 / 15 }')
check_panel_at start "$panel_right" "$panel_middle"
read -r _ _ pw ph <<<"$(geometry_of "$panel")"
near "$pw" 71.33 && near "$ph" 413.33
check "start: panel 1070 x 6200 twips" $? "$pw x $ph px"

# --- 2. a file that is no video ----------------------------------------------------------
say "open a file that is no video"
broken="$work/broken/壊れた 動画.avi"
echo "no video in here" >"$broken"
mark_trace
click_control 150 1080 689 255                          # "ﾌｧｲﾙ"
if dialog=$(wait_window '^データロード$'); then
    sleep 0.7
    choose_file "$dialog" "$broken"
fi
# The layer tells why it cannot open the file, then the panel's own box says the device cannot
# be used; each waits for its OK.
boxes=()
for n in 1 2 3; do
    id=$(wait_window 'エラー|ＲＴミミ' 3) || break
    sleep 0.5
    boxes+=("$(xdotool getwindowname "$id")")
    shot "$walk_dir" "02-broken-file-box-$n"
    return_until_gone "$id"
done
[ "${#boxes[@]}" -ge 1 ] && [ "${boxes[-1]}" = "ＲＴミミ" ]
check "broken file: the device error box \"ＲＴミミ\" comes last" $? \
    "boxes: $(IFS=,; echo "${boxes[*]:-none}")"
line=$(new_trace | grep "^open " | head -1)
[[ "$line" == *$'\t'error:* ]]
check "broken file: the layer refused to open it" $? "$(printf '%s' "$line" | tr '\t' '|')"
[ -z "$(new_trace | grep -v -e '^open ' -e '^status ' -e '^capability ')" ]
check "broken file: nothing placed or played" $?
kill -0 "$kurimo_pid" 2>/dev/null && xdotool search --onlyvisible --name '^Kurimo$' >/dev/null
check "broken file: the program goes on" $?

# --- 3. open -----------------------------------------------------------------------------
say "open"
mark_trace
click_control 150 1080 689 255                          # "ﾌｧｲﾙ"
if dialog=$(wait_window '^データロード$'); then
    check "open: file dialog \"データロード\" shown" 0
    sleep 0.7
    shot "$walk_dir" 03-open-dialog
    choose_file "$dialog" "$clip" 04-open-path-typed
else
    check "open: file dialog \"データロード\" shown" 1
fi
if video=$(wait_window "^${clip_name//./\\.}\$"); then
    check "open: device window \"$clip_name\" shown" 0
else
    check "open: device window \"$clip_name\" shown" 1
fi
sleep 1
close_error_boxes open
shot "$walk_dir" 05-opened
check_command "open: source size read" "where $clip source"
check_command "open: window centred (320x240 -> 352 254 320 260)" \
    "put $clip window at 352 254 320 260"
check_command "open: sound applied" "set $clip audio all on"
check_command "open: speed applied" "set $clip speed 1000"
check_device_window open
if [ -n "${video_geometry[*]:-}" ]; then
    b=$(brightness "$last_shot" "${video_geometry[@]}")
    awk -v b="$b" 'BEGIN { exit !(b > 0.08) }'
    check "open: device window shows a picture" $? "mean brightness $b"
fi
check_no_errors open
length=$(awk -F'\t' -v c="status $clip length" '$1 == c {r = $2} END {print r}' "$trace")
echo "   length reported: ${length:-none} frames"

# Current position in frames as the layer last reported it to the panel since the mark (the
# time display reads milliseconds between two switches of the time format; those are skipped).
last_position() {
    new_trace | awk -F'\t' -v c="status $clip position" -v ms="set $clip time format ms" \
        -v fr="set $clip time format frames" '
        $1 == ms {inms = 1} $1 == fr {inms = 0} $1 == c && !inms {r = $2} END {print r}'
}

# Trace lines since the mark other than the position poll's (position reads, format switches).
not_poll() {
    new_trace | grep -v -e "^status $clip position"$'\t' -e "^set $clip time format "
}

# --- 4. play, pause ----------------------------------------------------------------------
say "play"
mark_trace
click_control 150 2730 689 255                          # "正再生"
sleep 1
close_error_boxes play
import -window root "$work/play-a.png"
sleep 1.5
shot "$walk_dir" 06-playing
check_command "play: forward range play" "play $clip from 0 to ${length:-?}"
if [ -n "${video_geometry[*]:-}" ]; then
    changed=$(pixels_changed "$work/play-a.png" "$last_shot" "${video_geometry[@]}")
    [ "${changed:-0}" -gt 1000 ]
    check "play: the picture moves" $? "$changed pixels changed in 1.5 s"
fi
check_no_errors play

say "pause"
mark_trace
click_control 150 2730 689 255                          # "正再生" again
sleep 0.7
close_error_boxes pause
import -window root "$work/pause-a.png"
sleep 1
shot "$walk_dir" 07-paused
check_command "pause: pause sent" "pause $clip"
if [ -n "${video_geometry[*]:-}" ]; then
    changed=$(pixels_changed "$work/pause-a.png" "$last_shot" "${video_geometry[@]}")
    [ "${changed:-1}" -eq 0 ]
    check "pause: the picture stands still" $? "$changed pixels changed in 1 s"
fi
check_no_errors pause

# --- 5. to start, wind -------------------------------------------------------------------
say "to start"
mark_trace
click_control 150 1350 689 255                          # "最初へ"
sleep 0.7
close_error_boxes "to start"
shot "$walk_dir" 08-to-start
check_command "to start: seek to 0" "seek $clip to 0"
check_no_errors "to start"

# The wind seeks as fast as the device answers: a minute of this clip in a fraction of a
# second. So the second press follows the first at once, in one xdotool call.
say "fast forward"
mark_trace
click_control 150 3270 689 255 "1 sleep 0.03 click 1"  # "早送り" twice: wind starts, stops
sleep 0.7
close_error_boxes wind
shot "$walk_dir" 09-wind-stopped
seeks=$(new_trace | awk -F'\t' -v p="seek $clip to " 'index($1, p) == 1 && $2 !~ /^error/ {
    print substr($1, length(p) + 1)}')
nseeks=$(printf '%s\n' "$seeks" | grep -c .)
steps_of_ten=$(printf '%s\n' "$seeks" | awk 'NR > 1 && $1 - prev != 10 {bad++} {prev = $1}
    END {print bad + 0}')
[ "$nseeks" -ge 2 ] && [ "$steps_of_ten" = 0 ]
check "wind: seeks from 0 in steps of 10 frames" $? \
    "$nseeks seeks: $(printf '%s\n' "$seeks" | head -3 | tr '\n' ' ')... $(printf '%s\n' "$seeks" |
    tail -1)"
check_command "wind: second press pauses" "pause $clip"
last_seek=$(printf '%s\n' "$seeks" | tail -1)
[ -n "$last_seek" ] && [ "$last_seek" -lt "${length:-0}" ]
check "wind: stopped before the end" $? "last seek to ${last_seek:-none} of ${length:-?}"
check_no_errors wind

# --- 6. step -----------------------------------------------------------------------------
say "step"
mark_trace
click_control 150 3000 689 255                          # "一送り"
sleep 0.7
close_error_boxes step
shot "$walk_dir" 10-step
p=$(new_trace | awk -F'\t' -v c="status $clip position" -v s="seek $clip to " '
    $1 == c {r = $2} index($1, s) == 1 {print r; exit}')
check_command "step: seek one frame on from ${p:-?}" "seek $clip to $(( ${p:-0} + 1 ))"
check_no_errors step

# --- 7. range marks, stop, reverse -------------------------------------------------------
say "range start mark"
mark_trace
click_control 150 3810 197 255                          # "S" (range start)
sleep 0.5
range_from=$(last_position)
close_error_boxes "mark S"
shot "$walk_dir" 11-mark-start
[ -n "$range_from" ] && [ -z "$(not_poll)" ]
check "mark S: position read, nothing sent" $? "start mark at ${range_from:-?}"
check_no_errors "mark S"

say "play on a little, then the range end mark"
mark_trace
click_control 150 2730 689 255                          # "正再生": resume
sleep 3
click_control 150 2730 689 255                          # "正再生": pause
sleep 0.5
check_command "play after the step: resumes without a range" "play $clip"
check_command "play again: pauses" "pause $clip"
mark_trace
click_control 645 3810 197 255                          # "E" (range end)
sleep 0.5
range_to=$(last_position)
close_error_boxes "mark E"
shot "$walk_dir" 12-mark-end
# The markers under the position slider are small: the panel three times larger.
read -r px py pw ph <<<"$(geometry_of "$panel")"
convert "$last_shot" -crop "${pw}x${ph}+${px}+${py}" +repage -filter point -resize 300% \
    "$walk_dir/12-mark-end-panel.png"
[ -n "$range_to" ] && [ -n "$range_from" ] && [ "$range_to" -gt "$range_from" ] &&
    [ -z "$(not_poll)" ]
check "mark E: end after start, nothing sent" $? "range ${range_from:-?} to ${range_to:-?}"
check_no_errors "mark E"

say "stop, then reverse"
mark_trace
click_control 150 2445 689 255                          # "停止"
sleep 0.5
close_error_boxes stop
check_command "stop: stop sent" "stop $clip"
mark_trace
click_control 150 2175 689 255                          # "逆再生"
sleep 0.3
import -window root "$work/reverse-a.png"
sleep 0.6
shot "$walk_dir" 13-reverse
close_error_boxes reverse
check_command "reverse: range played backwards" \
    "play $clip from ${range_to:-?} to ${range_from:-?} reverse"
if [ -n "${video_geometry[*]:-}" ]; then
    changed=$(pixels_changed "$work/reverse-a.png" "$last_shot" "${video_geometry[@]}")
    [ "${changed:-0}" -gt 1000 ]
    check "reverse: the picture moves" $? "$changed pixels changed in 0.6 s"
fi
check_no_errors reverse
sleep 3
shot "$walk_dir" 14-reverse-ended
p=$(last_position)
[ -n "$p" ] && [ "$p" = "$range_from" ]
check "reverse: stops at the range start" $? "position ${p:-?}, range start ${range_from:-?}"

# --- 8. video sizes ----------------------------------------------------------------------
say "L"
mark_trace
click_control 640 4635 197 255                          # "L"
sleep 0.8
close_error_boxes L
shot "$place_dir" 01-large
check_command "L: 320x240 -> 384x288 centred" "put $clip window at 320 230 384 308"
check_device_window L
check_no_errors L

say "L again"
mark_trace
click_control 640 4635 197 255                          # "L"
sleep 0.8
close_error_boxes "L again"
shot "$place_dir" 02-larger
check_command "L again: 384x288 -> 460x345 centred" "put $clip window at 282 201 460 365"
check_device_window "L again"

say "S"
mark_trace
click_control 150 4635 197 255                          # "S" (small video)
sleep 0.8
close_error_boxes S
shot "$place_dir" 03-small
check_device_window S
check_no_errors S

say "M"
mark_trace
click_control 395 4635 197 255                          # "M"
sleep 0.8
close_error_boxes M
shot "$place_dir" 04-middle
check_command "M: back to the source size" "put $clip window at 352 254 320 260"
check_device_window M

# --- 9. warps ----------------------------------------------------------------------------
# Presses on the background, clear of every control: across, 3 units lies left of the
# button column and 38 units right of it; down, 20 units lies below the time label and
# beside the position slider, 395 units below the exit button.
bottom=$(awk 'BEGIN { printf "%.2f", (11520 - 6200 - 500) / 15 }')
warp() { # NAME UX UY WANT_X WANT_Y
    say "warp $1"
    mark_trace
    press_panel_units "$2" "$3"
    sleep 0.6
    shot "$place_dir" "$1"
    check_panel_at "warp $1 (press at $2, $3 units)" "$4" "$5"
    [ -z "$(not_poll)" ]
    check "warp $1: nothing sent to the layer but the position poll" $?
}
warp 05-warp-top-left 3 20 1 1
warp 06-warp-bottom-left 3 395 1 "$bottom"
warp 07-warp-bottom-right 38 395 "$panel_right" "$bottom"
warp 08-warp-top-right 38 20 "$panel_right" 1
# Across in the dead band (18 to 21 units), down in the bottom zone: only the top moves.
warp 09-warp-dead-band-across 19.5 395 "$panel_right" "$bottom"

# --- 10. copy, help ----------------------------------------------------------------------
say "copy"
mark_trace
click_control 148 4905 689 255                          # "コピー"
if capture=$(wait_window '^画像コピー$'); then
    check "copy: capture window \"画像コピー\" shown" 0
else
    check "copy: capture window \"画像コピー\" shown" 1
fi
sleep 0.8
close_error_boxes copy
shot "$walk_dir" 15-copy
upd=$(new_trace | awk -F'\t' -v p="update $clip at 0 0 320 260 hdc " 'index($1, p) == 1')
[ -n "$upd" ] && [[ "$upd" != *$'\t'error:* ]]
check "copy: frame drawn into the capture picture" $? \
    "${upd:-no update command for 320 260}"
if [ -n "${capture:-}" ]; then
    read -r cx cy cw ch <<<"$(geometry_of "$capture")"
    # The picture lies under the menu bar; measure its middle.
    b=$(brightness "$last_shot" $((cx + cw / 4)) $((cy + ch / 4)) $((cw / 2)) $((ch / 2)))
    awk -v b="$b" 'BEGIN { exit !(b > 0.08) }'
    check "copy: capture window shows the frame" $? "window $cx $cy $cw $ch, brightness $b"
fi
check_no_errors copy

say "help"
click_control 148 5190 689 255                          # "ヘルプ"
if wait_window '^Kurimo.*ヘルプ$' >/dev/null; then
    check "help: help window shown" 0
else
    check "help: help window shown" 1
fi
sleep 0.8
shot "$walk_dir" 16-help

# --- 11. exit ----------------------------------------------------------------------------
say "exit"
click_control 148 5475 689 255                          # "終了"
for _ in $(seq 30); do kill -0 "$kurimo_pid" 2>/dev/null || break; sleep 0.1; done
if kill -0 "$kurimo_pid" 2>/dev/null; then
    check "exit: program ended" 1 "still running after 3 s"
else
    wait "$kurimo_pid"
    check "exit: program ended" 0 "exit status $?"
    kurimo_pid=""
fi

if [ -n "${SAVE_TRACE:-}" ]; then cp "$trace" "$SAVE_TRACE"; fi
if [ -n "$xvfb_pid" ] && ! kill -0 "$xvfb_pid" 2>/dev/null; then
    echo "Xvfb ended during the walk; later checks may have failed for that: $(cat "$work/xvfb.log")"
fi
echo
echo "$checks checks, $failures failed"
[ "$failures" = 0 ]
