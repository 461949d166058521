#!/usr/bin/env python3
"""A reverse play of a whole file through two builds of kurimo-mci, alternately on the same
file, so that both see the same load: frames skipped, pre-roll, wall time and peak memory.

    bench/play/reverse_ab.py BASE/kurimo-mci NEW/kurimo-mci FILE [--runs N] [--busy]

Each run is a kurimo-mci process of its own: `open`, `seek` to the last frame, then `play v
from LAST to 0 reverse wait` (LAST is the length less one: 299 of 300 frames), timed from the command to its reply. Peak resident memory is
VmHWM, read before the file is closed. The pre-roll is what the player logs when its clock
starts (kurimo.video.play debug output). With --busy a `yes > /dev/null` runs beside every
play, one busy core. The load average is printed before and after.
"""
import argparse
import os
import re
import statistics
import subprocess
import time


class Console:
    def __init__(self, console, path):
        env = dict(os.environ, QT_LOGGING_RULES="kurimo.video.play.debug=true",
                   QT_QPA_PLATFORM="offscreen")
        self.p = subprocess.Popen([console], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                  stderr=subprocess.PIPE, text=True, bufsize=1, env=env)
        os.set_blocking(self.p.stderr.fileno(), False)
        self.log = ""
        self.cmd(f'open "{path}" alias v')

    def cmd(self, text):
        self.p.stdin.write(text + "\n")
        self.p.stdin.flush()
        return self.p.stdout.readline().strip()

    def preroll(self):
        try:
            self.log += self.p.stderr.read() or ""
        except (BlockingIOError, TypeError):
            pass
        found = re.findall(r"pre-roll ([0-9.e-]+) s", self.log)
        return float(found[-1]) if found else float("nan")

    def decoding(self):
        """Frames the play decoded and the seconds its decoding took, where the build logs
        them (not before the pre-roll was measured)."""
        found = re.findall(r"play decoded ([0-9]+) frames in ([0-9.e-]+) s", self.log)
        return (int(found[-1][0]), float(found[-1][1])) if found else None

    def peak_mib(self):
        with open(f"/proc/{self.p.pid}/status") as f:
            for line in f:
                if line.startswith("VmHWM:"):
                    return int(line.split()[1]) / 1024
        return 0.0

    def close(self):
        self.cmd("close v")
        self.p.stdin.close()
        self.p.wait()


def reverse_play(console, path, busy):
    c = Console(console, path)
    last = int(c.cmd("status v length")) - 1  # the last frame: 299 of a 300-frame file
    c.cmd(f"seek v to {last}")
    hog = subprocess.Popen(["yes"], stdout=subprocess.DEVNULL) if busy else None
    try:
        start = time.monotonic()
        reply = c.cmd(f"play v from {last} to 0 reverse wait")
        wall = time.monotonic() - start
    finally:
        if hog:
            hog.kill()
            hog.wait()
    skipped = c.cmd("status v frames skipped")
    row = dict(reply=reply, skipped=int(skipped) if skipped.isdigit() else -1, wall=wall,
               preroll=c.preroll(), peak=c.peak_mib(), frames=last + 1)
    c.close()
    c.preroll()  # the rest of the log, written as the play ended
    row["decoding"] = c.decoding()
    return row


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("base")
    ap.add_argument("new")
    ap.add_argument("file")
    ap.add_argument("--runs", type=int, default=5)
    ap.add_argument("--busy", action="store_true", help="one `yes > /dev/null` beside")
    a = ap.parse_args()
    print(f"load average at start: {os.getloadavg()}; busy process beside: {a.busy}")
    print("| run | build | skipped | pre-roll s | wall s | peak MiB | decoded: frames, frames/s |"
          " reply |")
    print("|---|---|---|---|---|---|---|---|")
    rows = {"base": [], "new": []}
    for i in range(a.runs):
        # Alternate which goes first, so that neither always follows the other.
        order = ("base", "new") if i % 2 == 0 else ("new", "base")
        for name in order:
            r = reverse_play(a.base if name == "base" else a.new, a.file, a.busy)
            rows[name].append(r)
            d = r["decoding"]
            pace = f"{d[0]}, {d[0] / d[1]:.0f}" if d and d[1] > 0 else ""
            print(f"| {i + 1} | {name} | {r['skipped']} of {r['frames']} | {r['preroll']:.2f} |"
                  f" {r['wall']:.2f} | {r['peak']:.0f} | {pace} | {r['reply'] or '(empty)'} |",
                  flush=True)
    print(f"load average at the end: {os.getloadavg()}")
    for name, rs in rows.items():
        sk = [r["skipped"] for r in rs]
        print(f"{name}: skipped {sk}, total {sum(sk)}; runs without a skip {sk.count(0)} of "
              f"{len(sk)}; median wall {statistics.median(r['wall'] for r in rs):.2f} s; "
              f"peak MiB at most {max(r['peak'] for r in rs):.0f}")
    base_total = sum(r["skipped"] for r in rows["base"])
    new_total = sum(r["skipped"] for r in rows["new"])
    if base_total:
        print(f"new / base skipped: {new_total / base_total:.3f}")


if __name__ == "__main__":
    main()
