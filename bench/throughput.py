#!/usr/bin/env python3
"""Throughput and memory of lvlsnd against copying the same bytes, on tmpfs.

Workload A: 64 effects of 32767 stored groups each (about 250 MB), against
`cat level.dat > copy.bin`. Workload B: 32766 effects of one group each, against
`split -b 120 -a 5 level.dat part` (as many files). Runs alternate tool and baseline and
report the medians and the median of the per-pair ratios; peak resident memory comes from
/usr/bin/time on A and on a level file twice as large.

Usage: bench/throughput.py [path/to/lvlsnd] [--runs N]
"""
import os
import shutil
import statistics
import struct
import subprocess
import sys
import tempfile
import time

SECTOR = 2048
STORED_GROUP = 120


def level_file(path, entries):
    """Writes a level file whose entries are (group count) back to back after the table."""
    with open(path, "wb") as out:
        out.write(struct.pack(">h4I", 4, 0, 0, 0, 0).ljust(SECTOR, b"\0"))
        table = struct.pack(">iI", len(entries) + 1, 0)
        groups_at = SECTOR + 8 * (len(entries) + 1)
        for index, count in enumerate(entries, start=1):
            record_at = SECTOR + 8 * index
            table += struct.pack(">IhBB", groups_at - record_at, count, index % 2, 0)
            groups_at += count * STORED_GROUP
        out.write(table)
        remaining = sum(entries) * STORED_GROUP
        chunk = os.urandom(1 << 20)
        while remaining > 0:
            out.write(chunk[: min(remaining, len(chunk))])
            remaining -= len(chunk)


def timed(command, cwd, shell=False):
    start = time.perf_counter()
    subprocess.run(command, cwd=cwd, shell=shell, check=True, stdout=subprocess.DEVNULL)
    return time.perf_counter() - start


def fresh_dir(path):
    shutil.rmtree(path, ignore_errors=True)
    os.mkdir(path)
    return path


def compare(name, tool_command, baseline_command, scratch, runs):
    tool_times, baseline_times, ratios = [], [], []
    for _ in range(runs):
        work = fresh_dir(os.path.join(scratch, "work"))
        tool_times.append(timed(tool_command, work))
        work = fresh_dir(os.path.join(scratch, "work"))
        baseline_times.append(timed(baseline_command, work, shell=True))
        ratios.append(tool_times[-1] / baseline_times[-1])
    shutil.rmtree(os.path.join(scratch, "work"), ignore_errors=True)
    print(f"{name}: lvlsnd {statistics.median(tool_times):.3f} s, "
          f"baseline {statistics.median(baseline_times):.3f} s, "
          f"ratio {statistics.median(ratios):.2f} (median of {runs} pairs)")


def peak_rss_kib(tool, level, scratch):
    work = fresh_dir(os.path.join(scratch, "work"))
    result = subprocess.run(["/usr/bin/time", "-f", "%M", tool, level], cwd=work, check=True,
                            stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
    shutil.rmtree(work)
    return int(result.stderr.strip().splitlines()[-1])


def tool_and_runs(default_tool):
    """The command line of both benchmarks: [path/to/tool] [--runs=N], 7 runs by default."""
    arguments = [a for a in sys.argv[1:] if not a.startswith("--runs")]
    runs = 7
    for a in sys.argv[1:]:
        if a.startswith("--runs="):
            runs = int(a.split("=", 1)[1])
    return os.path.abspath(arguments[0] if arguments else default_tool), runs


def main():
    tool, runs = tool_and_runs("build/lvlsnd")
    scratch = tempfile.mkdtemp(prefix="lvlsnd-bench-", dir="/dev/shm")
    try:
        level_a = os.path.join(scratch, "level1.dat")
        level_a2 = os.path.join(scratch, "level2.dat")
        level_b = os.path.join(scratch, "level3.dat")
        level_file(level_a, [32767] * 64)
        level_file(level_b, [1] * 32766)
        compare("A (64 x 32767 groups)", [tool, level_a], f"cat {level_a} > copy.bin",
                scratch, runs)
        compare("B (32766 x 1 group)", [tool, level_b], f"split -b 120 -a 5 {level_b} part",
                scratch, runs)
        print(f"peak RSS on A: {peak_rss_kib(tool, level_a, scratch)} KiB")
        os.remove(level_b)
        level_file(level_a2, [32767] * 128)
        print(f"peak RSS on twice A: {peak_rss_kib(tool, level_a2, scratch)} KiB")
    finally:
        shutil.rmtree(scratch, ignore_errors=True)


if __name__ == "__main__":
    main()
