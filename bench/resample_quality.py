#!/usr/bin/env python3
"""What resampling inside lvlsnd-replace costs, against sox's own very high quality resampler.

For sounds at 11025, 22050, 44100, 48000 and 96000 Hz, mono and stereo (a plucked chord and
speech made by sox and espeak-ng, none of them tried while the resampler was chosen: it is
libsoxr's very high quality setting, untuned), sox makes the reference at the effect's rate
(`sox in.wav -r 37800 -c 1 ref.wav rate -v`). Each sound goes into effect 1 of the sample level
file twice with `lvlsnd-replace -o --cut`: the original, resampled by lvlsnd-replace, and sox's
reference. Both come out again with lvlsnd and lvlsnd-wav, and each is compared with the
reference: the SNR of the put-back original against that of the put-back reference. The
difference is what resampling inside costs; more than 0.3 dB would be a fault.

Usage: bench/resample_quality.py [build folder]
"""
import math
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import wave

RATES = (11025, 22050, 44100, 48000, 96000)
LEVEL = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "examples", "level3.dat")


def samples_of(path):
    with wave.open(path, "rb") as sound:
        frames = sound.readframes(sound.getnframes())
    return struct.unpack("<%dh" % (len(frames) // 2), frames)


def snr_db(reference, decoded):
    count = min(len(reference), len(decoded))
    signal = sum(float(r) ** 2 for r in reference[:count])
    noise = sum((float(r) - float(d)) ** 2 for r, d in zip(reference[:count], decoded[:count]))
    return 10 * math.log10(signal / noise) if noise > 0 else float("inf")


def put_back(build, wav, folder):
    """The samples effect 1 holds once `wav` is put in, as lvlsnd-wav decodes them."""
    work = tempfile.mkdtemp(dir=folder)
    subprocess.run([os.path.join(build, "lvlsnd-replace"), "-o", os.path.join(work, "out3.dat"),
                    "--cut", LEVEL, "1", wav], check=True, stdout=subprocess.DEVNULL)
    subprocess.run([os.path.join(build, "lvlsnd"), "out3.dat"], cwd=work, check=True,
                   stdout=subprocess.DEVNULL)
    subprocess.run([os.path.join(build, "lvlsnd-wav"), "effect3_1.raw"], cwd=work, check=True,
                   stdout=subprocess.DEVNULL)
    return samples_of(os.path.join(work, "effect3_1.wav"))


def sources(folder, rate, channels):
    """A plucked chord and speech, at `rate` with `channels`, 16 bits."""
    chord = os.path.join(folder, f"chord-{rate}-{channels}.wav")
    subprocess.run(["sox", "-V1", "-n", "-r", str(rate), "-b", "16", "-c", str(channels), chord,
                    "synth", "0.4", "pluck", "C3", "pluck", "E4", "pluck", "G5", "remix", "-",
                    "channels", str(channels), "gain", "-3"], check=True)
    speech = os.path.join(folder, f"speech-{rate}-{channels}.wav")
    raw = os.path.join(folder, "speech.wav")
    subprocess.run(["espeak-ng", "-w", raw, "Sounds come back to life"], check=True)
    subprocess.run(["sox", "-V1", raw, "-r", str(rate), "-b", "16", "-c", str(channels), speech,
                    "rate", "-v", "trim", "0", "0.4"], check=True)
    return (("chord", chord), ("speech", speech))


def main():
    build = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else "build")
    folder = tempfile.mkdtemp(prefix="lvlsnd-resample-")
    try:
        print("| sound | rate | channels | SNR, put back by lvlsnd-replace | SNR, sox's first |"
              " difference |")
        print("|---|---|---|---|---|---|")
        worst = 0.0
        for rate in RATES:
            for channels in (1, 2):
                for name, wav in sources(folder, rate, channels):
                    ref = wav[:-4] + "-ref.wav"
                    subprocess.run(["sox", "-V1", wav, "-r", "37800", "-b", "16", "-c", "1", ref,
                                    "rate", "-v"], check=True)
                    reference = samples_of(ref)
                    inside = snr_db(reference, put_back(build, wav, folder))
                    first = snr_db(reference, put_back(build, ref, folder))
                    worst = max(worst, first - inside)
                    print(f"| {name} | {rate} | {channels} | {inside:.2f} dB | {first:.2f} dB |"
                          f" {inside - first:+.2f} dB |")
        print(f"largest loss: {worst:.2f} dB")
    finally:
        shutil.rmtree(folder, ignore_errors=True)


if __name__ == "__main__":
    main()
