#!/usr/bin/env python3
"""Holds a step key for a few seconds on a 1920x1080 H.264 AVI under Xvfb and reports how far
the picture falls behind the key repeats, and how long after the release it is right: Kurimo
with Right (and Left), mpv with . (and ,) on the same file, with the same repeat rate.

    bench/keys/held_key.py build/kurimo [--seconds 3] [--rate 30] [--no-mpv] [--file F.avi]

Needs Xvfb, xdotool, x11-utils (xev) and ffmpeg; mpv for the comparison
(KURIMO_BENCH_PACKAGES=1 tools/setup.sh installs it). The key repeats are the X
server's: their times come from xev on the window that has the focus. Kurimo's picture is
taken as changed when its trace shows the seek done (the frame is painted right after);
mpv's when its estimated-frame-number changes (JSON IPC). mpv repeats keys itself, so it is
given the X server's delay and rate.
"""
import argparse
import json
import os
import shutil
import socket
import subprocess
import sys
import tempfile
import threading
import time

DELAY_MS = 250
FRAMES = 300


def make_clip(path):
    subprocess.run(["ffmpeg", "-v", "error", "-y", "-f", "lavfi",
                    "-i", f"testsrc2=size=1920x1080:rate=25", "-frames:v", str(FRAMES),
                    "-c:v", "libx264", "-preset", "fast", "-bf", "2", "-g", "250",
                    "-keyint_min", "250", "-sc_threshold", "0", "-pix_fmt", "yuv420p", path],
                   check=True)


class Screen:
    def __init__(self, rate):
        r, w = os.pipe()
        self.proc = subprocess.Popen(["Xvfb", "-displayfd", str(w), "-screen", "0",
                                      "1920x1200x24", "-nolisten", "tcp", "-ardelay",
                                      str(DELAY_MS), "-arinterval", str(round(1000 / rate))],
                                     pass_fds=(w,),
                                     stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(w)
        with os.fdopen(r) as f:
            self.display = ":" + f.readline().strip()
        self.env = dict(os.environ, DISPLAY=self.display)

    def run(self, *args):
        return subprocess.run(list(args), env=self.env, check=True, text=True,
                              stdout=subprocess.PIPE).stdout.strip()

    def close(self):
        self.proc.terminate()
        self.proc.wait()


def stamp_lines(stream, into, match):
    """Appends (monotonic time, line) for every line of stream that match() accepts."""
    for line in stream:
        if match(line):
            into.append((time.monotonic(), line))


def window(screen, name):
    for _ in range(600):
        out = subprocess.run(["xdotool", "search", "--onlyvisible", "--name", name],
                             env=screen.env, text=True, stdout=subprocess.PIPE).stdout.split()
        if out:
            return out[0]
        time.sleep(0.05)
    raise RuntimeError(f"no window {name}")


def hold(screen, win, key, seconds):
    """Holds key on win; returns the X key presses as times, and the release time."""
    presses = []
    xev = subprocess.Popen(["stdbuf", "-oL", "xev", "-id", win, "-event", "keyboard"],
                           env=screen.env, stdout=subprocess.PIPE, text=True)
    reader = threading.Thread(target=stamp_lines, daemon=True,
                              args=(xev.stdout, presses, lambda l: l.startswith("KeyPress")))
    reader.start()
    time.sleep(0.5)
    screen.run("xdotool", "windowfocus", "--sync", win)
    time.sleep(0.3)
    screen.run("xdotool", "keydown", key)
    time.sleep(seconds)
    screen.run("xdotool", "keyup", key)
    released = time.monotonic()
    time.sleep(0.3)
    xev.terminate()
    return [t for t, _ in presses], released


def report(name, presses, released, shown, start, direction, timeline=False):
    """shown: list of (time, frame). Prints one table row."""
    if timeline:
        t0 = presses[0] if presses else released
        for t, what in sorted([(t, "key") for t in presses] + [(t, f) for t, f in shown]
                              + [(released, "released")]):
            print(f"  {1000 * (t - t0):8.1f} ms  {what}", file=sys.stderr)
    asked_total = len(presses)
    offset = lambda f: (f - start) * direction
    # Frames behind at every moment something changed while the key was held.
    events = sorted([(t, "key") for t in presses] + [(t, f) for t, f in shown])
    asked = done = 0
    worst = 0
    area = 0.0
    last_t = presses[0] if presses else released
    for t, what in events:
        if t > released:
            break
        area += (asked - done) * (t - last_t)
        last_t = t
        if what == "key":
            asked += 1
        else:
            done = offset(what)
        worst = max(worst, asked - done)
    area += (asked - done) * (released - last_t)
    mean = area / max(released - presses[0], 1e-9) if presses else 0
    final = offset(shown[-1][1]) if shown else 0
    right_at = None
    for t, f in shown:
        if offset(f) == asked_total and (right_at is None or t >= right_at):
            right_at = t
            break
    if right_at is None:
        after = f"never (ends {asked_total - final} behind)"
    else:
        after = f"{max(0.0, right_at - released) * 1000:.0f} ms"
    print(f"| {name} | {asked_total} | {final} | {worst} | {mean:.1f} | {after} |")


def run_kurimo(binary, clip, screen, work, seconds, backward):
    trace = os.path.join(work, "trace.txt")
    open(trace, "w").close()
    env = dict(screen.env, KURIMO_TRACE=trace, QT_QPA_PLATFORM="xcb")
    proc = subprocess.Popen([binary, clip], env=env, stdout=subprocess.DEVNULL,
                            stderr=subprocess.DEVNULL)
    shown = []
    stop = threading.Event()

    def follow():
        with open(trace) as f:
            while not stop.is_set():
                line = f.readline()
                if not line:
                    time.sleep(0.001)
                    continue
                if line.startswith("seek ") and "\terror" not in line:
                    shown.append((time.monotonic(), int(line.split("\t")[0].rsplit(" ", 1)[1])))

    follower = threading.Thread(target=follow, daemon=True)
    follower.start()
    win = window(screen, os.path.basename(clip))
    start = 0
    if backward:
        screen.run("xdotool", "windowfocus", "--sync", win)
        screen.run("xdotool", "key", "End")
        time.sleep(1.5)
        start = shown[-1][1] if shown else FRAMES
    time.sleep(1.0)
    first = len(shown)
    presses, released = hold(screen, win, "Left" if backward else "Right", seconds)
    time.sleep(3)
    stop.set()
    proc.terminate()
    proc.wait()
    return presses, released, shown[first:], start


def run_mpv(clip, screen, work, seconds, rate, backward):
    sock = os.path.join(work, "mpv.sock")
    if os.path.exists(sock):
        os.remove(sock)
    proc = subprocess.Popen(["mpv", "--no-config", "--pause", "--keep-open=always",
                             "--hr-seek=yes", "--vo=x11", "--ao=null", "--osc=no",
                             f"--input-ar-delay={DELAY_MS}", f"--input-ar-rate={rate}",
                             f"--input-ipc-server={sock}", "--title=mpv-bench", clip],
                            env=screen.env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    for _ in range(200):
        if os.path.exists(sock):
            break
        time.sleep(0.05)
    ipc = socket.socket(socket.AF_UNIX)
    ipc.connect(sock)
    reply = ipc.makefile("rb")

    def ask(command):
        ipc.sendall(json.dumps({"command": command}).encode() + b"\n")
        while True:
            msg = json.loads(reply.readline())
            if "error" in msg:
                return msg.get("data")

    # Asked every 5 ms: mpv does not report every change of this property while it plays.
    shown = []
    stop = threading.Event()

    def follow():
        last = None
        while not stop.is_set():
            frame = ask(["get_property", "estimated-frame-number"])
            if frame is not None and frame != last:
                shown.append((time.monotonic(), int(frame)))
                last = frame
            time.sleep(0.005)

    win = window(screen, "mpv-bench")
    if backward:
        ask(["seek", str((FRAMES - 1) / 25), "absolute+exact"])
    time.sleep(2.0)
    follower = threading.Thread(target=follow, daemon=True)
    follower.start()
    time.sleep(0.5)
    start = shown[-1][1] if shown else 0
    first = len(shown)
    presses, released = hold(screen, win, "comma" if backward else "period", seconds)
    time.sleep(3)
    stop.set()
    follower.join()
    proc.terminate()
    proc.wait()
    return presses, released, shown[first:], start


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("kurimo")
    ap.add_argument("--seconds", type=float, default=3.0)
    ap.add_argument("--rate", type=int, default=30)
    ap.add_argument("--no-mpv", action="store_true")
    ap.add_argument("--file")
    ap.add_argument("--timeline", action="store_true", help="every key and frame, on stderr")
    args = ap.parse_args()
    work = tempfile.mkdtemp(prefix="kurimo-held-")
    clip = args.file or os.path.join(work, "h264 1920x1080.avi")
    if not args.file:
        make_clip(clip)
    screen = Screen(args.rate)
    try:
        use_mpv = not args.no_mpv and shutil.which("mpv")
        print(f"Held {args.seconds:g} s, X key repeat after {DELAY_MS} ms at {args.rate}/s, "
              f"{os.path.basename(clip)}, {FRAMES} frames, keyframes 0 and 250.\n")
        print("| player, key | key presses | frames moved | most behind | mean behind "
              "| right after release |")
        print("|---|---|---|---|---|---|")
        for backward in (False, True):
            presses, released, shown, start = run_kurimo(args.kurimo, clip, screen, work,
                                                         args.seconds, backward)
            report("Kurimo, " + ("Left" if backward else "Right"), presses, released, shown,
                   start, -1 if backward else 1, args.timeline)
            if use_mpv:
                presses, released, shown, start = run_mpv(clip, screen, work, args.seconds,
                                                          args.rate, backward)
                report("mpv, " + ("," if backward else "."), presses, released, shown, start,
                       -1 if backward else 1, args.timeline)
    finally:
        screen.close()
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
