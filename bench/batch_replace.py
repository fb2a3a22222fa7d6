#!/usr/bin/env python3
"""Wall time of one lvlsnd-replace run that puts back four long edited effects, on one thread
(-j 1) and on every core (the default), and whether both write the same bytes.

The level file has four entries of 6075 stored groups (18.0 s at 37800 Hz each); the four WAV
files are different sounds (a chirp, a chord with vibrato, noise through a moving filter, and
plucked tones), made here so that nothing was tuned on them. Runs alternate -j 1 and the
default; the medians and the median of the per-pair ratios are reported.

Usage: bench/batch_replace.py [path/to/lvlsnd-replace] [--runs N]
"""
import math
import os
import random
import statistics
import struct
import subprocess
import sys
import tempfile
import time

from throughput import level_file

SAMPLES_PER_GROUP = 112
RATE = 37800
GROUPS = 6075  # 18.0 s each
ENTRIES = 4


def write_wav(path, samples):
    data = struct.pack("<%dh" % len(samples), *samples)
    with open(path, "wb") as out:
        out.write(b"RIFF" + struct.pack("<I", 36 + len(data)) + b"WAVE")
        out.write(b"fmt " + struct.pack("<IHHIIHH", 16, 1, 1, RATE, 2 * RATE, 2, 16))
        out.write(b"data" + struct.pack("<I", len(data)) + data)


def clamp(value):
    return max(-32768, min(32767, int(value)))


def sounds(count):
    """Four different 18-second sounds."""
    rng = random.Random(31)
    t = [k / RATE for k in range(count)]
    chirp = [clamp(12000 * math.sin(2 * math.pi * (60 * x + 300 * x * x))) for x in t]
    chord = [clamp(sum(4000 * math.sin(2 * math.pi * f * x + 3 * math.sin(2 * math.pi * 5 * x))
                       for f in (220, 277, 330))) for x in t]
    noise, low = [], 0.0
    for x in t:
        cut = 0.02 + 0.2 * (1 + math.sin(2 * math.pi * 0.3 * x)) / 2
        low += cut * (rng.uniform(-1, 1) - low)
        noise.append(clamp(40000 * low))
    plucks = [clamp(14000 * math.exp(-6 * (x % 0.5)) * math.sin(2 * math.pi * (110 * (1 + int(x / 0.5) % 5)) * x))
              for x in t]
    return [chirp, chord, noise, plucks]


def timed(command, cwd):
    start = time.perf_counter()
    subprocess.run(command, cwd=cwd, check=True, stdout=subprocess.DEVNULL)
    return time.perf_counter() - start


def main():
    args = sys.argv[1:]
    runs = 3
    if "--runs" in args:
        at = args.index("--runs")
        runs = int(args[at + 1])
        del args[at : at + 2]
    tool = os.path.abspath(args[0] if args else "build/lvlsnd-replace")
    with tempfile.TemporaryDirectory(dir="/dev/shm" if os.path.isdir("/dev/shm") else None) as work:
        level_file(os.path.join(work, "level.dat"), [GROUPS] * ENTRIES)
        items = []
        for index, samples in enumerate(sounds(GROUPS * SAMPLES_PER_GROUP), start=1):
            write_wav(os.path.join(work, "s%d.wav" % index), samples)
            items += [str(index), "s%d.wav" % index]
        one, every, ratios = [], [], []
        for _ in range(runs):
            for name in ("one.dat", "every.dat"):
                if os.path.exists(os.path.join(work, name)):
                    os.remove(os.path.join(work, name))
            a = timed([tool, "-j", "1", "-o", "one.dat", "level.dat"] + items, work)
            b = timed([tool, "-o", "every.dat", "level.dat"] + items, work)
            one.append(a)
            every.append(b)
            ratios.append(b / a)
        with open(os.path.join(work, "one.dat"), "rb") as x, open(os.path.join(work, "every.dat"), "rb") as y:
            same = x.read() == y.read()
    print("4 effects of %.1f s, %d cores, %d runs" % (GROUPS * SAMPLES_PER_GROUP / RATE, os.cpu_count(), runs))
    print("  -j 1:     median %.2f s" % statistics.median(one))
    print("  default:  median %.2f s" % statistics.median(every))
    print("  ratio:    median %.3f (default / -j 1)" % statistics.median(ratios))
    print("  same bytes: %s" % ("yes" if same else "NO"))
    return 0 if same else 1


if __name__ == "__main__":
    sys.exit(main())
