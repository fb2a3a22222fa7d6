#!/usr/bin/env python3
"""How close lvlsnd-replace's encoder comes to the sound, against the greedy encoder.

Generates its own signals with sox and espeak-ng at 37800 Hz, 16-bit mono, in two halves. The
search's widths were chosen on the first (speech, plucked chords, a noise burst with decay, a
sweep, white noise, clicks, a clipped square, a quiet passage at -40 dBFS, a tone); the second
was never tuned on (a second voice, shouted and clipped speech, drums, an explosion of brown
noise, coin blips, zaps, pink noise, a bass note, a saw chord). Each goes into a level file
with `lvlsnd-replace -o`, once with the build under test and once with a build of the greedy
encoder (each sample rounded on its own), and comes out again with lvlsnd and lvlsnd-wav.
Printed for each half, per signal, in the mean and in the mean without the signal that gains
most: the whole-file SNR, the 10 ms segmental SNR (frames of 378 samples, silent frames
skipped, each frame's SNR clamped to -10..80 dB), and the encode time of the whole process,
wall and processor (user + system), each the least of 3 runs. Last, both times of the longest
effect a level file can hold, 32767 groups, for each build, and for the previous build too
when one is given.

Usage: bench/encoder_quality.py [path/to/lvlsnd-replace] --greedy=path/to/greedy/lvlsnd-replace
           [--previous=path/to/previous/lvlsnd-replace]
The greedy build is release 1.1.0, the last with the rounding encoder, built apart (see the
README); the previous build is the one the build under test is measured against.
"""
import resource
import math
import os
import shutil
import statistics
import struct
import subprocess
import sys
import tempfile
import time
import wave

RATE = 37800
SAMPLES_PER_GROUP = 112
FRAME = 378
DECODERS = "build"
SPEECH = ("The quick brown fox jumps over the lazy dog. Sounds of the old levels come back "
          "to life, one effect at a time.")
VOICE = "Pick up the key, then open the gate before the guards come round again."
# The search's widths were chosen on the first set; the second is reported apart.
TUNED = ("speech", "chords", "burst", "sweep", "noise", "clicks", "clipped", "quiet", "tone")
HELD_OUT = ("voice2", "shouted", "drums", "explosion", "coin", "zap", "pink", "bass",
            "sawchord")


def sox(output, *effects, source=("-n",)):
    subprocess.run(["sox", "-V1", *source, "-r", str(RATE), "-b", "16", "-c", "1", output,
                    *effects], check=True)


def make_signals(folder):
    """The signal set: name -> WAV path, the tuning half first, then the held-out half."""
    path = lambda name: os.path.join(folder, name + ".wav")
    spoken = os.path.join(folder, "espeak.wav")
    subprocess.run(["espeak-ng", "-w", spoken, SPEECH], check=True)
    sox(path("speech"), "trim", "0", "5", "gain", "-n", "-1", source=(spoken,))
    chords = os.path.join(folder, "chords3.wav")
    subprocess.run(["sox", "-V1", "-n", "-r", str(RATE), "-b", "16", "-c", "3", chords, "synth",
                    "3", "pluck", "C3", "pluck", "E3", "pluck", "G3"], check=True)
    sox(path("chords"), "remix", "-", "gain", "-n", "-3", source=(chords,))
    sox(path("burst"), "synth", "2", "whitenoise", "fade", "q", "0.005", "2", "1.9", "gain",
        "-3")
    sox(path("sweep"), "synth", "3", "sine", "50-15000", "gain", "-3")
    sox(path("noise"), "synth", "2", "whitenoise", "gain", "-6")
    sox(path("clicks"), "synth", "2", "square", "6", "highpass", "3000", "gain", "-n", "-1")
    sox(path("clipped"), "synth", "2", "square", "220", "lowpass", "5000", "gain", "6")
    sox(path("quiet"), "gain", "-n", "-40", source=(path("speech"),))
    sox(path("tone"), "synth", "3", "sine", "440", "gain", "-3")
    # The held-out half: sounds the search's widths were never chosen on.
    voice = os.path.join(folder, "voice.wav")
    subprocess.run(["espeak-ng", "-v", "en-us+f3", "-p", "70", "-s", "150", "-w", voice,
                    VOICE], check=True)
    sox(path("voice2"), "trim", "0", "4", "gain", "-n", "-2", source=(voice,))
    sox(path("shouted"), "gain", "-n", "10", source=(voice,))  # clipped speech
    sox(path("drums"), "synth", "0.25", "sine", "120-40", "fade", "0", "0.25", "0.24", "gain",
        "-2", "repeat", "7")
    sox(path("explosion"), "synth", "2.5", "brownnoise", "fade", "q", "0.002", "2.5", "2.4",
        "lowpass", "1200", "gain", "-n", "-1")
    sox(path("coin"), "synth", "0.3", "square", "1319", "fade", "0", "0.3", "0.25", "gain", "-8",
        "repeat", "2")
    sox(path("zap"), "synth", "0.4", "sawtooth", "3000-80", "tremolo", "40", "60", "gain", "-n",
        "-3", "repeat", "3")
    sox(path("pink"), "synth", "2", "pinknoise", "gain", "-n", "-6")
    sox(path("bass"), "synth", "3", "sawtooth", "55", "lowpass", "400", "fade", "0", "3", "2",
        "gain", "-n", "-3")
    saw = os.path.join(folder, "saw3.wav")
    subprocess.run(["sox", "-V1", "-n", "-r", str(RATE), "-b", "16", "-c", "3", saw, "synth",
                    "2", "sawtooth", "A2", "sawtooth", "C#3", "sawtooth", "E3"], check=True)
    sox(path("sawchord"), "remix", "-", "gain", "-n", "-3", source=(saw,))
    return {name: path(name) for name in TUNED + HELD_OUT}


def samples_of(path):
    with wave.open(path) as sound:
        data = sound.readframes(sound.getnframes())
    return list(struct.unpack(f"<{len(data) // 2}h", data))


def level_file(path, groups):
    """One entry, in the odd units of `groups` silent stored groups."""
    header = struct.pack(">hIIII", 4, 0, 0, 0, 0).ljust(2048, b"\0")
    table = struct.pack(">iIIhBB", 2, 0, 8, groups, 1, 0)  # groups right after record 1
    with open(path, "wb") as out:
        out.write(header + table + bytes(120 * groups))


def children_cpu():
    usage = resource.getrusage(resource.RUSAGE_CHILDREN)
    return usage.ru_utime + usage.ru_stime


def encode(replace, folder, wav, groups):
    """Encode times, wall and processor (each the least of 3), and the samples decoded by the
    lvlsnd and lvlsnd-wav beside the build under test."""
    level = os.path.join(folder, "level.dat")
    level_file(level, groups)
    times, cpu_times = [], []
    for _ in range(3):
        # Removed first: a build that takes -f would refuse to replace it, an older one has no -f.
        if os.path.exists(os.path.join(folder, "out.dat")):
            os.remove(os.path.join(folder, "out.dat"))
        start, cpu_start = time.perf_counter(), children_cpu()
        subprocess.run([replace, "-o", "out.dat", level, "1", wav], cwd=folder, check=True,
                       stdout=subprocess.DEVNULL)
        times.append(time.perf_counter() - start)
        cpu_times.append(children_cpu() - cpu_start)
    for command in (["lvlsnd", "out.dat"], ["lvlsnd-wav", "-f", "effect0_1.raw"]):
        subprocess.run([os.path.join(DECODERS, command[0])] + command[1:], cwd=folder,
                       check=True, stdout=subprocess.DEVNULL)
    return min(times), min(cpu_times), samples_of(os.path.join(folder, "effect0_1.wav"))


def snr(original, decoded):
    signal = sum(s * s for s in original)
    noise = sum((s - d) ** 2 for s, d in zip(original, decoded))
    return 10 * math.log10(signal / noise) if noise else math.inf


def segmental_snr(original, decoded):
    frames = []
    for at in range(0, len(original) - FRAME + 1, FRAME):
        part = original[at:at + FRAME]
        if sum(s * s for s in part) < FRAME:  # below 1 LSB RMS: silent
            continue
        frames.append(min(80.0, max(-10.0, snr(part, decoded[at:at + FRAME]))))
    return statistics.mean(frames)


def mean_row(name, rows):
    return [name] + [statistics.mean(r[k] for r in rows) for k in range(1, 9)]


def report(title, rows):
    """One half's table: each signal, the mean, and the mean without the signal of most gain."""
    print(f"\n{title}:")
    print(f"{'signal':10} {'SNR greedy':>10} {'new':>6} {'gain':>6}   {'segSNR greedy':>13} "
          f"{'new':>6} {'gain':>6}   {'time greedy':>11} {'new':>7} {'ratio':>6}   "
          f"{'cpu greedy':>10} {'new':>7} {'ratio':>6}")
    top = max(rows, key=lambda r: r[5] - r[1])
    rest = [r for r in rows if r is not top]
    for row in rows + [mean_row("mean", rows), mean_row("w/o " + top[0], rest)]:
        name, snr_g, seg_g, time_g, cpu_g, snr_n, seg_n, time_n, cpu_n = row
        print(f"{name:10} {snr_g:10.2f} {snr_n:6.2f} {snr_n - snr_g:+6.2f}   {seg_g:13.2f} "
              f"{seg_n:6.2f} {seg_n - seg_g:+6.2f}   {time_g:10.3f}s {time_n:6.3f}s "
              f"{time_n / time_g:6.1f}   {cpu_g:9.3f}s {cpu_n:6.3f}s {cpu_n / max(cpu_g, 1e-3):6.1f}")
    worst = min(min(r[5] - r[1], r[6] - r[2]) for r in rows)
    print(f"worst signal against greedy: {worst:+.3f} dB")


def main():
    global DECODERS  # the build under test decodes for both
    arguments = [a for a in sys.argv[1:] if not a.startswith("--greedy=")]
    greedy = [a.split("=", 1)[1] for a in sys.argv[1:] if a.startswith("--greedy=")]
    previous = [os.path.abspath(a.split("=", 1)[1]) for a in sys.argv[1:]
                if a.startswith("--previous=")]
    arguments = [a for a in arguments if not a.startswith("--previous=")]
    if not greedy:
        sys.exit(__doc__)
    searching = os.path.abspath(arguments[0] if arguments else "build/lvlsnd-replace")
    greedy = os.path.abspath(greedy[0])
    DECODERS = os.path.dirname(searching)
    scratch = tempfile.mkdtemp(prefix="lvlsnd-encoder-", dir="/dev/shm")
    try:
        rows = []
        for name, wav in make_signals(scratch).items():
            original = samples_of(wav)
            groups = -(-len(original) // SAMPLES_PER_GROUP)
            row = [name]
            for replace in (greedy, searching):
                seconds, cpu, decoded = encode(replace, scratch, wav, groups)
                decoded = decoded[:len(original)]
                row += [snr(original, decoded), segmental_snr(original, decoded), seconds, cpu]
            rows.append(row)
        by_name = {row[0]: row for row in rows}
        for title, names in (("tuned on", TUNED), ("held out (never tuned on)", HELD_OUT)):
            report(title, [by_name[name] for name in names])
        longest = os.path.join(scratch, "longest.wav")
        sox(longest, "synth", str(32767 * SAMPLES_PER_GROUP / RATE), "whitenoise", "gain", "-6")
        builds = ([("greedy", greedy)] + [(f"previous ({p})", p) for p in previous] +
                  [("new", searching)])
        for label, replace in builds:
            seconds, cpu, _ = encode(replace, scratch, longest, 32767)
            print(f"32767 groups of white noise, {label}: {seconds:.2f} s wall, {cpu:.2f} s "
                  f"processor")
    finally:
        shutil.rmtree(scratch)


if __name__ == "__main__":
    main()
