#!/usr/bin/env python3
"""Which frames mpv shows when it plays a file backwards: each frame mpv's backward play
hands to its filters is identified by the checksum of its picture against a sequential
decode of the same file by ffmpeg, so missing, repeated and out-of-order frames show.

    bench/play/mpv_backward_frames.py FILE.avi [FILE.avi ...]
"""
import re
import subprocess
import sys

CHECKSUM = re.compile(r"\bn:\s*(\d+).*?\bchecksum:([0-9A-F]+)")


def checksums(lines):
    return [m.group(2) for m in map(CHECKSUM.search, lines) if m]


def reference(path):
    out = subprocess.run(["ffmpeg", "-hide_banner", "-nostdin", "-i", path, "-an",
                          "-vf", "showinfo", "-f", "null", "-"],
                         capture_output=True, text=True).stderr
    return checksums(out.splitlines())


def mpv_backward(path):
    out = subprocess.run(["mpv", "--no-config", "--untimed", "--vo=null", "--ao=null",
                          "--no-audio", "--play-dir=backward", "--vf=lavfi=[showinfo]",
                          "--msg-level=all=no,ffmpeg=v", path],
                         capture_output=True, text=True)
    return checksums((out.stdout + out.stderr).splitlines())


def main():
    print("| file | frames | mpv showed | distinct | missing (frame numbers) | in order |")
    print("|---|---|---|---|---|---|")
    for path in sys.argv[1:]:
        ref = reference(path)
        index = {}
        for n, c in enumerate(ref):
            index.setdefault(c, n)
        shown = [index.get(c, -1) for c in mpv_backward(path)]
        missing = sorted(set(range(len(ref))) - set(shown))
        in_order = all(a > b for a, b in zip(shown, shown[1:]))
        print(f"| {path.rsplit('/', 1)[-1]} | {len(ref)} | {len(shown)} | {len(set(shown))} | "
              f"{len(missing)}: {missing[:10]}{' ...' if len(missing) > 10 else ''} | "
              f"{'yes' if in_order else 'no'} |")


if __name__ == "__main__":
    main()
