#!/usr/bin/env python3
"""Throughput and memory of lvlsnd-wav against ffmpeg decoding the same groups, on tmpfs.

200000 raw groups (25.6 MB) of random sample data with every filter and range: lvlsnd-wav
converts the effect file, ffmpeg (`ffmpeg -f psxstr -i same.xa -acodec pcm_s16le out.wav`)
decodes the same groups wrapped in CD-XA sectors. Runs alternate the two and report the
medians and the median of the per-pair ratios, for a first run (no WAV file there) and for a
re-run over the WAV file the run before wrote (compared with the effect's samples, then
replaced); peak resident memory comes from /usr/bin/time on the file and on one twice as large.

Usage: bench/wav_throughput.py [path/to/lvlsnd-wav] [--runs=N]
"""
import os
import random
import shutil
import statistics
import subprocess
import tempfile
import time

from throughput import tool_and_runs

GROUP = 128
GROUPS_PER_SECTOR = 18
SECTOR = 2352


def effect_file(path, groups):
    """Random raw groups whose units have filters 0 to 3 and ranges 0 to 12, each run of four
    parameter bytes twice, as in every XA sound group."""
    rng = random.Random(1)
    chunk = bytearray()
    for _ in range(4096):
        group = bytearray(rng.randbytes(GROUP))
        for unit in range(8):
            group[4 + unit] = rng.randrange(4) << 4 | rng.randrange(13)
        group[0:4] = group[4:8]
        group[12:16] = group[8:12]
        chunk += group
    with open(path, "wb") as out:
        for at in range(0, groups, 4096):
            out.write(chunk[: GROUP * min(4096, groups - at)])


def xa_sectors(effect, path):
    """The effect's groups in CD-XA audio sectors: stereo, 37800 Hz, 4-bit."""
    header = bytearray(24)
    header[1:11] = b"\xff" * 10
    header[13] = header[15] = 2
    header[16:20] = header[20:24] = bytes([1, 1, 0x64, 0x01])
    with open(effect, "rb") as source, open(path, "wb") as out:
        while True:
            groups = source.read(GROUP * GROUPS_PER_SECTOR)
            if not groups:
                break
            out.write((header + groups).ljust(SECTOR, b"\0"))


def timed(command, cwd):
    start = time.perf_counter()
    subprocess.run(command, cwd=cwd, check=True, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL)
    return time.perf_counter() - start


def peak_rss_kib(command, cwd):
    result = subprocess.run(["/usr/bin/time", "-f", "%M"] + command, cwd=cwd, check=True,
                            stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
    return int(result.stderr.strip().splitlines()[-1])


def main():
    tool, runs = tool_and_runs("build/lvlsnd-wav")
    scratch = tempfile.mkdtemp(prefix="lvlsnd-wav-bench-", dir="/dev/shm")
    try:
        effect = os.path.join(scratch, "effect1_1.raw")
        xa = os.path.join(scratch, "same.xa")
        effect_file(effect, 200000)
        xa_sectors(effect, xa)
        tool_command = [tool, effect]
        ffmpeg_command = ["ffmpeg", "-nostdin", "-y", "-v", "quiet", "-f", "psxstr", "-i", xa,
                          "-acodec", "pcm_s16le", os.path.join(scratch, "out.wav")]
        wav = os.path.join(scratch, "effect1_1.wav")
        # A first run writes a new WAV file, as ffmpeg -y does; a re-run finds the one the run
        # before wrote and compares it with the effect's samples before it replaces it.
        remove_wav = lambda: os.path.exists(wav) and os.remove(wav)
        for kind in ("first run", "re-run"):
            tool_times, ffmpeg_times, ratios = [], [], []
            for _ in range(runs):
                if kind == "first run":
                    remove_wav()
                elif not os.path.exists(wav):
                    timed(tool_command, scratch)
                tool_times.append(timed(tool_command, scratch))
                # ffmpeg reports the end of the sectors as an input error: its status is ignored.
                start = time.perf_counter()
                subprocess.run(ffmpeg_command, cwd=scratch, stdout=subprocess.DEVNULL,
                               stderr=subprocess.DEVNULL)
                ffmpeg_times.append(time.perf_counter() - start)
                ratios.append(tool_times[-1] / ffmpeg_times[-1])
            print(f"200000 groups, {kind}: lvlsnd-wav {statistics.median(tool_times):.3f} s, "
                  f"ffmpeg {statistics.median(ffmpeg_times):.3f} s, "
                  f"ratio {statistics.median(ratios):.2f} (median of {runs} pairs)")
        print(f"peak RSS on 200000 groups: {peak_rss_kib(tool_command, scratch)} KiB")
        effect_file(effect, 400000)
        remove_wav()
        print(f"peak RSS on 400000 groups: {peak_rss_kib(tool_command, scratch)} KiB")
    finally:
        shutil.rmtree(scratch, ignore_errors=True)


if __name__ == "__main__":
    main()
