#!/usr/bin/env python3
"""Processor time of the modder's loop run again with nothing new, against its first run: what
remembering encodings saves.

A level file of 12 effects of 1350 stored groups (4.0 s at 37800 Hz each) takes 12 edited WAV
files, half at 37800 Hz and half at 44100 Hz (resampled), made here. With an empty cache of its
own, the benchmark times, as processor time of the programs (user + system):
  1. the first put-back, `lvlsnd-replace level3.dat effect3_*.wav`, which encodes every sound;
  2. the same again, nothing new: every sound `Already in the level`;
  3. the same after touching every WAV file (its modification time alone);
  4. `lvlsnd-wav effect3_*.raw` after extracting again, which finds each edit in the level;
  5. step 4 with LVLSND_CACHE=off, which encodes every edit to tell.
Nothing in the cache was tuned on these sounds; the sounds come in two halves made from
different seeds, and each half is reported apart (the second is the held-out one).

Usage: bench/cache_rerun.py [BUILD_DIR]
"""
import math
import os
import random
import resource
import struct
import subprocess
import sys
import tempfile

from throughput import level_file

RATE = 37800
GROUPS = 1350
ENTRIES = 12


def write_wav(path, samples, rate):
    data = struct.pack("<%dh" % len(samples), *samples)
    with open(path, "wb") as out:
        out.write(b"RIFF" + struct.pack("<I", 36 + len(data)) + b"WAVE")
        out.write(b"fmt " + struct.pack("<IHHIIHH", 16, 1, 1, rate, 2 * rate, 2, 16))
        out.write(b"data" + struct.pack("<I", len(data)) + data)


def sound(seed, rate, seconds):
    """A chord of three random tones under filtered noise."""
    rng = random.Random(seed)
    tones = [rng.uniform(80, 1200) for _ in range(3)]
    samples, low = [], 0.0
    for k in range(int(seconds * rate)):
        x = k / rate
        low += 0.05 * (rng.uniform(-1, 1) - low)
        value = sum(3000 * math.sin(2 * math.pi * f * x) for f in tones) + 20000 * low
        samples.append(max(-32768, min(32767, int(value))))
    return samples


def cpu_of(command, cwd, environment):
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    subprocess.run(command, cwd=cwd, env=environment, stdout=subprocess.DEVNULL, check=False)
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    return (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)


def run_half(build, work, seeds, environment):
    names = []
    level_file(os.path.join(work, "level3.dat"), [GROUPS] * ENTRIES)
    for index, seed in enumerate(seeds, start=1):
        rate = RATE if index % 2 else 44100
        name = "effect3_%d.wav" % index
        write_wav(os.path.join(work, name), sound(seed, rate, GROUPS * 112 / RATE - 0.1), rate)
        names.append(name)
    replace = [os.path.join(build, "lvlsnd-replace"), "level3.dat"] + names
    first = cpu_of(replace, work, environment)
    again = cpu_of(replace, work, environment)
    for name in names:
        os.utime(os.path.join(work, name))
    touched = cpu_of(replace, work, environment)
    subprocess.run([os.path.join(build, "lvlsnd"), "level3.dat"], cwd=work, check=True,
                   stdout=subprocess.DEVNULL)
    raws = [name.replace(".wav", ".raw") for name in names]
    check = cpu_of([os.path.join(build, "lvlsnd-wav")] + raws, work, environment)
    uncached = cpu_of([os.path.join(build, "lvlsnd-wav")] + raws, work,
                      dict(environment, LVLSND_CACHE="off"))
    return first, again, touched, check, uncached


def main():
    build = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else "build")
    print("%d effects of %.1f s, processor time of the programs" % (ENTRIES, GROUPS * 112 / RATE))
    for label, seeds in (("tuning half", range(1, ENTRIES + 1)),
                         ("held-out half", range(101, ENTRIES + 101))):
        with tempfile.TemporaryDirectory() as work:
            environment = dict(os.environ, XDG_CACHE_HOME=os.path.join(work, "cache"))
            first, again, touched, check, uncached = run_half(build, work, seeds, environment)
        print("%s:" % label)
        print("  first put-back       %6.2f s" % first)
        print("  again, nothing new   %6.2f s  (%.3fx the first)" % (again, again / first))
        print("  every WAV touched    %6.2f s  (%.3fx the first)" % (touched, touched / first))
        print("  lvlsnd-wav, edits in %6.2f s  (%.2f s with LVLSND_CACHE=off)" % (check, uncached))
    return 0


if __name__ == "__main__":
    sys.exit(main())
