#!/usr/bin/env python3
"""Reverse plays that start at and just below a keyframe, repeating ranges, a 1x forward
play's memory and the steps back after it (and after a seek, on the 4K file), through
kurimo-mci, side by side with mpv.

    bench/play/long_gop_starts.py build/kurimo-mci build/benchdata [--make] [--no-mpv]

With --make it first makes, under the data folder, the files it measures (ffmpeg, once):
750 frames at 25 fps with keyframes 250 apart and two B-frames (1920x1080 and 1280x720 H.264,
1920x1080 MPEG-4 in AVI; 1920x1080 H.264 and 1280x720 HEVC in MP4) and 300 frames of
3840x2160 H.264 in AVI with a single keyframe, as a phone's 4K clip.

Every measurement is a kurimo-mci process of its own, so that its peak resident memory
(VmHWM, read before it closes the file) is the run's alone. The pre-roll is what the player
logs when its clock starts (kurimo.video.play debug output), from the play command.

mpv runs the same range with --vo=null --ao=null --no-audio (a null output: no window, no
conversion), --play-dir=backward for the reverse plays; its wall time (from the command, so
with its start-up and its own pre-roll) and peak memory come from wait4, the frames it
handed on from a showinfo filter. A run is cut off after a minute.
"""
import os
import re
import resource
import subprocess
import sys
import time

FILES = [
    # name, size, codec arguments, frames, keyframe distance
    ("h264-1920x1080-750.avi", "1920x1080", ["-c:v", "libx264", "-preset", "fast"], 750, 250),
    ("h264-1280x720-750.avi", "1280x720", ["-c:v", "libx264", "-preset", "fast"], 750, 250),
    ("mpeg4-1920x1080-750.avi", "1920x1080", ["-c:v", "mpeg4", "-vtag", "XVID", "-q:v", "4"],
     750, 250),
    ("h264-1920x1080-750.mp4", "1920x1080", ["-c:v", "libx264", "-preset", "fast"], 750, 250),
    ("hevc-1280x720-750.mp4", "1280x720",
     ["-c:v", "libx265", "-preset", "fast", "-tag:v", "hvc1", "-x265-params",
      "keyint=250:min-keyint=250:scenecut=0:bframes=2:log-level=error"], 750, 250),
    ("h264-3840x2160-300.avi", "3840x2160", ["-c:v", "libx264", "-preset", "veryfast"], 300, 300),
]


def make(folder):
    os.makedirs(folder, exist_ok=True)
    for name, size, codec, frames, gop in FILES:
        path = os.path.join(folder, name)
        if os.path.exists(path):
            continue
        subprocess.run(["ffmpeg", "-nostdin", "-loglevel", "error", "-y", "-f", "lavfi", "-i",
                        f"testsrc2=size={size}:rate=25", "-frames:v", str(frames), *codec,
                        "-bf", "2", "-g", str(gop), "-keyint_min", str(gop),
                        "-sc_threshold", "0", "-pix_fmt", "yuv420p", path], check=True)


class Console:
    def __init__(self, console, path):
        env = dict(os.environ, QT_LOGGING_RULES="kurimo.video.play.debug=true",
                   QT_QPA_PLATFORM="offscreen")
        self.p = subprocess.Popen([console], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                  stderr=subprocess.PIPE, text=True, bufsize=1, env=env)
        os.set_blocking(self.p.stderr.fileno(), False)
        self.log = ""
        self.cmd(f'open "{path}" type avivideo alias v')

    def cmd(self, text):
        self.p.stdin.write(text + "\n")
        self.p.stdin.flush()
        return self.p.stdout.readline().strip()

    def timed(self, text):
        start = time.monotonic()
        reply = self.cmd(text)
        return reply, time.monotonic() - start

    def prerolls(self):
        try:
            self.log += self.p.stderr.read() or ""
        except (BlockingIOError, TypeError):
            pass
        return [float(x) for x in re.findall(r"pre-roll ([0-9.e-]+) s", self.log)]

    def peak_mib(self):
        with open(f"/proc/{self.p.pid}/status") as f:
            for line in f:
                if line.startswith("VmHWM:"):
                    return int(line.split()[1]) / 1024
        return 0

    def close(self):
        self.cmd("close v")
        self.p.stdin.close()
        self.p.wait()


def ours_reverse(console, path, top, low):
    c = Console(console, path)
    c.cmd(f"seek v to {top}")
    _, wall = c.timed(f"play v from {top} to {low} reverse wait")
    skipped = c.cmd("status v frames skipped")
    pre = c.prerolls()
    peak = c.peak_mib()
    c.close()
    return skipped, wall, (top - low) / 25, pre[-1] if pre else float("nan"), peak


def ours_loop(console, path, low, high, seconds):
    c = Console(console, path)
    c.cmd(f"seek v to {low}")
    c.cmd(f"play v from {low} to {high} repeat")
    time.sleep(seconds)
    skipped = c.cmd("status v frames skipped")
    peak = c.peak_mib()
    c.cmd("stop v")
    c.close()
    return skipped, peak


def ours_forward_then_back(console, path, length):
    """A 1x forward play of the whole file, its peak, then a pause half way and 25 steps
    back, each timed."""
    c = Console(console, path)
    c.cmd("seek v to 0")
    _, wall = c.timed(f"play v from 0 to {length} wait")
    skipped = c.cmd("status v frames skipped")
    peak = c.peak_mib()
    c.cmd("seek v to 0")
    c.cmd(f"play v from 0 to {length}")
    time.sleep(length / 25 / 2)
    c.cmd("pause v")
    pos = int(c.cmd("status v position"))
    steps, peak_after = steps_back(c, pos)
    return skipped, wall, peak, max(peak, peak_after), pos, steps


def steps_back(c, top):
    """A second's rest, then 25 steps back from top, each timed; the process's peak after."""
    time.sleep(1.0)
    steps = []
    for i in range(25):
        _, took = c.timed(f"seek v to {top - 1 - i}")
        steps.append(took * 1000)
    peak = c.peak_mib()
    c.close()
    return steps, peak


def ours_seek_then_back(console, path, top):
    """A seek, then the steps back."""
    c = Console(console, path)
    c.cmd(f"seek v to {top}")
    steps, peak = steps_back(c, top)
    return peak, steps


def run_mpv(path, start_s, end_s, backward):
    args = ["mpv", "--no-config", "--vo=null", "--ao=null", "--no-audio",
            "--msg-level=all=no,ffmpeg=v", "--vf=lavfi=[showinfo]", f"--start={start_s}",
            f"--end={end_s}"]
    if backward:
        args.append("--play-dir=backward")
    args.append(path)
    log = f"/tmp/kurimo-play-bench-mpv-{os.getpid()}.log"
    start = time.monotonic()
    with open(log, "w") as out:
        p = subprocess.Popen(args, stdin=subprocess.DEVNULL, stdout=out, stderr=out)
        # mpv's backward play of a long single-GOP file may not end at all: a minute at most.
        while True:
            pid, status, ru = os.wait4(p.pid, os.WNOHANG)
            if pid:
                break
            if time.monotonic() - start > 60:
                p.kill()
                _, status, ru = os.wait4(p.pid, 0)
                break
            time.sleep(0.05)
        p.returncode = status
    wall = time.monotonic() - start
    with open(log) as f:
        text = f.read()
    os.unlink(log)
    return wall, len(re.findall(r"\bn:\s*\d+", text)), ru.ru_maxrss / 1024


def table_head(*columns):
    print("\n| " + " | ".join(columns) + " |")
    print("|" + "---|" * len(columns))


def main():
    console, folder = sys.argv[1], sys.argv[2]
    if "--make" in sys.argv:
        make(folder)
    with_mpv = "--no-mpv" not in sys.argv
    print(f"load average at start: {os.getloadavg()}")
    table_head("file", "play", "skipped", "pre-roll s", "wall s", "nominal s", "peak MiB",
               "mpv wall s", "mpv frames out", "mpv peak MiB")
    for name, _, _, frames, gop in FILES:
        path = os.path.join(folder, name)
        if not os.path.exists(path):
            continue
        if frames == 750:
            starts = [(2 * gop, gop), (2 * gop - 1, gop)]
        else:
            starts = [(frames - 1, 0)]
        for top, low in starts:
            skipped, wall, nominal, pre, peak = ours_reverse(console, path, top, low)
            row = (f"| {name} | {top} to {low} reverse | {skipped} | {pre:.2f} | {wall:.2f} |"
                   f" {nominal:.2f} | {peak:.0f} |")
            if with_mpv:
                mwall, mshown, mpeak = run_mpv(path, top / 25, low / 25, True)
                row += f" {mwall:.2f} | {mshown} | {mpeak:.0f} |"
            else:
                row += " | | |"
            print(row, flush=True)
        if frames == 750:
            skipped, peak = ours_loop(console, path, 100, 150, 6.0)
            print(f"| {name} | 100 to 150 repeat, 6 s | {skipped} | | | | {peak:.0f} | | | |",
                  flush=True)
    print(f"\nload average after the plays: {os.getloadavg()}")
    table_head("file", "forward 1x skipped", "wall s", "peak MiB", "mpv peak MiB", "paused at",
               "25 steps back: median ms", "worst ms", "over 40 ms", "peak with the steps MiB")
    for name, _, _, frames, _ in FILES:
        path = os.path.join(folder, name)
        if not os.path.exists(path) or not name.startswith(("h264-1920x1080-750.avi",
                                                              "h264-3840x2160")):
            continue
        skipped, wall, peak, after, pos, steps = ours_forward_then_back(console, path,
                                                                          frames - 1)
        mpeak = ""
        if with_mpv:
            _, _, mp = run_mpv(path, 0, (frames - 1) / 25, False)
            mpeak = f"{mp:.0f}"
        s = sorted(steps)
        print(f"| {name} | {skipped} | {wall:.2f} | {peak:.0f} | {mpeak} | {pos} |"
              f" {s[len(s) // 2]:.1f} | {s[-1]:.1f} | {sum(x > 40 for x in s)} | {after:.0f} |",
              flush=True)
        if frames == 300:
            peak, steps = ours_seek_then_back(console, path, frames - 20)
            s = sorted(steps)
            print(f"| {name} | seek to {frames - 20}, 1 s rest | | | | {frames - 20} |"
                  f" {s[len(s) // 2]:.1f} | {s[-1]:.1f} | {sum(x > 40 for x in s)} |"
                  f" {peak:.0f} |", flush=True)
    print(f"\nload average at the end: {os.getloadavg()}")


if __name__ == "__main__":
    main()
