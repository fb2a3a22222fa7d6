#!/usr/bin/env python3
"""How long lvlsnd-replace takes to read a WAV file followed by much padding, on tmpfs.

A one-second WAV file (37800 Hz, 16-bit mono) put into a level file with `lvlsnd-replace -o`,
against the same WAV file with 200 MB of zeros after its data chunk and one with a 5 GB hole
(a sparse file), and against `cat` reading the padded file. The reader stops once it has the
fmt and data chunks, so the padding should cost nothing: the three replacements should take
the same time. Medians of the runs.

Usage: bench/wav_padding.py [path/to/lvlsnd-replace] [--runs=N]
"""
import math
import os
import shutil
import statistics
import struct
import tempfile

from throughput import level_file, timed, tool_and_runs

RATE = 37800


def wav_file(path, padding_bytes, sparse):
    samples = b"".join(struct.pack("<h", int(8000 * math.sin(k / 9))) for k in range(RATE))
    header = b"RIFF" + struct.pack("<I", 36 + len(samples)) + b"WAVE"
    header += b"fmt " + struct.pack("<IHHIIHH", 16, 1, 1, RATE, 2 * RATE, 2, 16)
    header += b"data" + struct.pack("<I", len(samples))
    with open(path, "wb") as out:
        out.write(header + samples)
        if sparse:
            out.truncate(out.tell() + padding_bytes)
            return
        zeros = bytes(1 << 20)
        for _ in range(padding_bytes >> 20):
            out.write(zeros)


def main():
    tool, runs = tool_and_runs("build/lvlsnd-replace")
    scratch = tempfile.mkdtemp(prefix="lvlsnd-bench-", dir="/dev/shm")
    try:
        level_file(os.path.join(scratch, "level3.dat"), [338])  # 338 groups hold one second
        cases = [("plain", 0, False), ("200 MB of zeros", 200 << 20, False),
                 ("5 GB hole", 5 << 30, True)]
        for name, padding, sparse in cases:
            wav_file(os.path.join(scratch, f"{name}.wav"), padding, sparse)
        for name, _, _ in cases:
            times = [timed([tool, "-f", "-o", "out.dat", "level3.dat", "1", f"{name}.wav"],
                           scratch)
                     for _ in range(runs)]
            print(f"{name:16} {statistics.median(times):.3f} s")
        times = [timed("cat '200 MB of zeros.wav' > /dev/null", scratch, shell=True)
                 for _ in range(runs)]
        print(f"{'cat (200 MB)':16} {statistics.median(times):.3f} s")
    finally:
        shutil.rmtree(scratch)


if __name__ == "__main__":
    main()
