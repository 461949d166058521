#!/usr/bin/env python3
"""Plays whole files forwards and backwards through kurimo-mci, in real time, and reports the
frames the device skipped to keep time. Meant for the long-GOP bench files (keyframes 250
apart) that seek_bench makes under build-engine/benchdata/.

    bench/play/long_gop_plays.py build/kurimo-mci FILE.avi [FILE.avi ...]
"""
import subprocess
import sys
import time


def run(console, path):
    p = subprocess.Popen([console], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                         stderr=subprocess.DEVNULL, text=True, bufsize=1)

    def cmd(text):
        p.stdin.write(text + "\n")
        p.stdin.flush()
        return p.stdout.readline().strip()

    cmd(f'open "{path}" alias v')
    length = int(cmd("status v length"))
    name = path.rsplit("/", 1)[-1]
    for speed in (1000, 3000):
        cmd(f"set v speed {speed}")
        for reverse in (False, True):
            cmd(f"seek v to {length if reverse else 0}")
            play = (f"play v from {length} to 0 reverse wait" if reverse
                    else f"play v from 0 to {length} wait")
            start = time.monotonic()
            cmd(play)
            took = time.monotonic() - start
            ideal = length / 25 * 1000 / speed
            print(f"| {name} | {'reverse' if reverse else 'forward'} | {speed} | "
                  f"{cmd('status v frames skipped')} of {length} | {took:.2f} | {ideal:.2f} |")
    cmd("close v")
    p.stdin.close()
    p.wait()


if __name__ == "__main__":
    print("| file | direction | speed | skipped | wall s | ideal s |")
    print("|---|---|---|---|---|---|")
    for f in sys.argv[2:]:
        run(sys.argv[1], f)
