#!/usr/bin/env python3
"""A reverse play of a whole file through two builds of kurimo-mci, alternately on the same
file, so that both see the same load: frames skipped, pre-roll, wall time and peak memory.

    bench/play/reverse_ab.py BASE/kurimo-mci NEW/kurimo-mci FILE [--runs N] [--busy]

    bench/play/reverse_ab.py BASE/kurimo-mci NEW/kurimo-mci FILE --seek-first

Each run is a kurimo-mci process of its own (the console of long_gop_starts.py, so an AVI
file): `open`, with --seek-first `seek v to LAST`, then `play v from LAST to 0 reverse
wait` (LAST is the length less one: 299 of 300 frames), timed from the command to its
reply. Peak resident memory is VmHWM, read before the file is closed. The pre-roll is what
the player logs when its clock starts, and where the build logs it, what the play decoded
and how fast (kurimo.video.play debug output). With --busy a `yes > /dev/null` runs beside
every play, one busy core. The load average is printed before and after.
"""
import argparse
import os
import re
import statistics
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import long_gop_starts  # noqa: E402  (its console and the way it reads the log)


class Console(long_gop_starts.Console):
    def decoding(self):
        """Frames the play decoded and the seconds its decoding took, where the build logs
        them (not before the pre-roll was measured)."""
        self.prerolls()  # reads what the log holds so far
        found = re.findall(r"play decoded ([0-9]+) frames in ([0-9.e-]+) s", self.log)
        return (int(found[-1][0]), float(found[-1][1])) if found else None


def reverse_play(console, path, busy, seek_first):
    c = Console(console, path)
    last = int(c.cmd("status v length")) - 1  # the last frame: 299 of a 300-frame file
    if seek_first:
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
    pre = c.prerolls()
    row = dict(reply=reply, skipped=int(skipped) if skipped.isdigit() else -1, wall=wall,
               preroll=pre[-1] if pre else float("nan"), peak=c.peak_mib(), frames=last + 1)
    c.close()
    row["decoding"] = c.decoding()  # written as the play ended
    return row


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("base")
    ap.add_argument("new")
    ap.add_argument("file")
    ap.add_argument("--runs", type=int, default=5)
    ap.add_argument("--busy", action="store_true", help="one `yes > /dev/null` beside")
    ap.add_argument("--seek-first", action="store_true", help="the play starts on its picture")
    a = ap.parse_args()
    print(f"load average at start: {os.getloadavg()}; busy process beside: {a.busy}; "
          f"seek first: {a.seek_first}")
    print("| run | build | skipped | pre-roll s | wall s | peak MiB | decoded: frames, frames/s |"
          " reply |")
    print("|---|---|---|---|---|---|---|---|")
    rows = {"base": [], "new": []}
    for i in range(a.runs):
        # Alternate which goes first, so that neither always follows the other.
        order = ("base", "new") if i % 2 == 0 else ("new", "base")
        for name in order:
            r = reverse_play(a.base if name == "base" else a.new, a.file, a.busy, a.seek_first)
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
