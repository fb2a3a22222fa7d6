#!/usr/bin/env python3
"""Makes each system call of the three programs fail once, in turn, and checks what they leave.

    tests/fault_injection.py BUILD_DIR [CALL...]

(the calls named, when any are, and nothing else);

For read and lseek (EIO), write (ENOSPC), openat (EACCES), close (EIO), fsync and fdatasync
(EIO), rename, renameat and renameat2 (EXDEV), newfstatat (EIO: stat, lstat, fstat), fchown and
fchmod (EPERM), readlink and linkat (EIO), every call of a clean run is made to fail in a run of its own under
`strace -e inject=CALL:error=ERRNO:when=N` (unlink and unlinkat EACCES, getcwd ENOENT and
flistxattr EIO too), in fifteen scenarios (lvlsnd; lvlsnd-wav with and without its page; lvlsnd-replace in
place, with -o, over an existing backup, through a link and with a batch of sounds; and the
refusals below); standard
output on /dev/full, a file-size limit (ulimit -f) smaller than every output, address-space
limits (ulimit -v) that leave no memory or no thread, and a SIGHUP
ignored from the start (nohup), delivered at the first write, are tried too. Each run
must hold: every file is as before or exactly as a clean run writes it (no temporary file, no
partial file under its final name, a level file old or new; a page, whole, lists the files
converted; a temporary file that could not be removed is named on standard error); a failed call spoils one effect at
most (every effect announced after a spoiled one is exactly what a clean run writes, so a bad
sector does not spoil the rest of the level); and a run that did not do all a clean run does
ends with a message naming a file and a status other than 0, and so does a run whose flush of
the user's data (fsync) failed. Some scenarios are refusals (a
level file named like its first effect, an effect file linked under the name of its WAV file,
an edited WAV, a batch with one WAV file at a rate below those taken): their clean run refuses, and a faulty one must refuse as well, every file byte
for byte as it was. A failure inside the dynamic loader, before the program starts, is skipped.
Exits 77 (skipped) where strace cannot trace.
"""
import atexit
import math
import os
import random
import re
import resource
import shutil
import signal
import struct
import subprocess
import sys
import tempfile
import wave

FAULTS = {"read": "EIO", "lseek": "EIO", "write": "ENOSPC", "openat": "EACCES",
          "close": "EIO", "fsync": "EIO", "fdatasync": "EIO", "rename": "EXDEV", "renameat2": "EXDEV",
          "newfstatat": "EIO", "fchown": "EPERM", "fchmod": "EPERM", "readlink": "EIO",
          "unlink": "EACCES", "getcwd": "ENOENT", "flistxattr": "EIO", "linkat": "EIO",
          "unlinkat": "EACCES", "renameat": "EXDEV"}
LOADER_FAILURE = "error while loading shared libraries"
# An input that starts so is a symbolic link to the file named after it.
LINK = b"link:"
# The progress line of each effect a program writes, and the effect's name in it.
ANNOUNCED = {"lvlsnd": r"Extracting (\S+) \(", "lvlsnd-wav": r"Converting \S+ to (\S+) \("}
ANNOUNCED_WAV = r"Converting (\S+) to (\S+) \("


def stored_groups(rng, count):
    groups = bytearray()
    for _ in range(count):
        groups += bytes((rng.randrange(4) << 4) | rng.randrange(13) for _ in range(8))
        groups += rng.randbytes(112)
    return bytes(groups)


def level_file():
    """About 2.3 MB: entries of both unit selectors, two pairs sharing their stored groups."""
    rng = random.Random(3)
    regions = [stored_groups(rng, count) for count in (8000, 6000, 3000, 40)]
    starts = [sum(len(r) for r in regions[:k]) for k in range(len(regions))]
    entries = [(0, 8000, 0), (0, 8000, 1), (1, 6000, 0), (1, 6000, 1), (2, 3000, 1), (3, 40, 0),
               (3, 40, 1)]
    header = struct.pack(">hIIII", 4, 0, 0, 0, 0).ljust(2048, b"\0")
    table = struct.pack(">iI", len(entries) + 1, 0)
    tail_start = len(header) + 8 * (len(entries) + 1)
    for index, (region, count, selector) in enumerate(entries, start=1):
        record = len(header) + 8 * index
        table += struct.pack(">IhBB", tail_start + starts[region] - record, count, selector, 0)
    return header + table + b"".join(regions)


def wav_file(path, rate=37800, step=7):
    with wave.open(path, "wb") as sound:
        sound.setnchannels(1)
        sound.setsampwidth(2)
        sound.setframerate(rate)
        sound.writeframes(b"".join(struct.pack("<h", int(12000 * math.sin(k / step)))
                                   for k in range(4000)))


class Run:
    def __init__(self, status, out, err, files):
        self.status, self.out, self.err, self.files = status, out, err, files


def run(build, scenario, strace_args=(), stdout_path=None, file_size_limit=None,
        hangup_ignored=False, memory_limit=None):
    program, arguments, inputs = scenario
    links = {name: data[len(LINK):] for name, data in inputs.items() if data.startswith(LINK)}
    folder = tempfile.mkdtemp(prefix="lvlsnd-fault-")
    try:
        work = os.path.join(folder, "work")
        os.mkdir(work)
        for name, data in inputs.items():
            if name in links:
                os.symlink(links[name].decode(), os.path.join(work, name))
                continue
            with open(os.path.join(work, name), "wb") as file:
                file.write(data)
        command = list(strace_args) + [os.path.join(build, program)] + arguments
        out_path = stdout_path or os.path.join(folder, "stdout")
        with open(out_path, "wb") as out, open(os.path.join(folder, "stderr"), "wb") as err:
            def start():
                if file_size_limit is not None:
                    resource.setrlimit(resource.RLIMIT_FSIZE, (file_size_limit, file_size_limit))
                if memory_limit is not None:
                    resource.setrlimit(resource.RLIMIT_AS, (memory_limit, memory_limit))
                if hangup_ignored:
                    signal.signal(signal.SIGHUP, signal.SIG_IGN)
            status = subprocess.run(command, cwd=work, stdout=out, stderr=err, preexec_fn=start,
                                    stdin=subprocess.DEVNULL, timeout=60).returncode
        read = lambda path: open(path, "rb").read().decode("utf-8", "replace")
        files = {}
        for name in os.listdir(work):
            with open(os.path.join(work, name), "rb") as file:
                files[name] = file.read()
        out = "" if stdout_path else read(out_path)
        return Run(status, out, read(os.path.join(folder, "stderr")), files)
    finally:
        shutil.rmtree(folder)


def call_counts(build, scenario):
    folder = tempfile.mkdtemp(prefix="lvlsnd-trace-")
    trace = os.path.join(folder, "trace")
    run(build, scenario, ["strace", "-f", "-o", trace, "-e", "trace=" + ",".join(FAULTS)])
    counts = dict.fromkeys(FAULTS, 0)
    with open(trace) as lines:
        for line in lines:
            match = re.match(r"(?:\d+\s+)?(\w+)\(", line)
            if match and match.group(1) in counts:
                counts[match.group(1)] += 1
    shutil.rmtree(folder)
    return counts


def later_effect_problems(program, clean, faulty):
    """Effects announced after the first one that the fault spoiled but not as a clean run writes
    them: a read error that stuck (a stream left failed) would take every later effect with it."""
    announced = re.findall(ANNOUNCED.get(program, r"(?!)"), faulty.out)
    spoiled = [name for name in announced if faulty.files.get(name) != clean.files.get(name)]
    later = announced[announced.index(spoiled[0]) + 1:] if spoiled else []
    return [f"{name}, announced after the spoiled {spoiled[0]}, is not as a clean run writes it"
            for name in later if faulty.files.get(name) != clean.files.get(name)]


def page_problems(name, clean, faulty, inputs):
    """A page lists the files converted: when a fault kept some WAV files from being written, it
    is a whole page with a row for each of the others, in order, or it is as a clean run writes
    it (or as it was)."""
    page = faulty.files[name]
    if page == clean.files.get(name) or page == inputs.get(name):
        return []
    text = page.decode("utf-8", "replace")
    rows = [row.replace("<wbr>", "") for row in re.findall(r'<td class="name">(.*?)</td>', text)]
    converted = [effect for effect, wav in re.findall(ANNOUNCED_WAV, faulty.out)
                 if wav in faulty.files and faulty.files[wav] == clean.files.get(wav)]
    if not text.endswith("</html>\n") or rows != converted:
        return [f"{name} is neither as a clean run writes it nor a whole page of the {converted}"]
    return []


def problems_of(scenario, clean, faulty, one_call, point):
    """What the faulty run broke of the rules; an empty list when it held. `one_call`: the fault
    was one failed call, not a limit that every large output meets."""
    program, arguments, inputs = scenario
    # A link reads as the file it leads to.
    inputs = {name: inputs[data[len(LINK):].decode()] if data.startswith(LINK) else data
              for name, data in inputs.items()}
    problems = later_effect_problems(program, clean, faulty) if one_call else []
    pages = {name for name in arguments if name.endswith(".html")}
    left_named = {os.path.basename(match) for match in
                  re.findall(r"^(\S+): Cannot remove \(", faulty.err, re.M)}
    for name, data in faulty.files.items():
        if name in pages:
            problems += page_problems(name, clean, faulty, inputs)
        elif name.startswith(".lvlsnd-") and name in left_named:
            continue  # a temporary file that could not be removed, named on standard error
        elif data != clean.files.get(name) and data != inputs.get(name):
            problems.append(f"{name} is neither as before nor as a clean run writes it")
    complained = faulty.err.splitlines()
    known = set(arguments) | {name + ".bak" for name in arguments} | set(clean.files) | \
        {program} | left_named
    # A line names a file of the run (a link's target by its full path); a refused batch's last
    # line names its level file too: "Nothing written; LEVEL as it was".
    as_it_was = lambda line: re.fullmatch(r"Nothing written; (.+) as it was", line)
    named = lambda line: line.split(": ")[0] in known or \
        os.path.basename(line.split(": ")[0]) in known or \
        (as_it_was(line) is not None and as_it_was(line).group(1) in known)
    # A flush of the user's data (a level file, its backup, their folder) that failed is never
    # success: the data may not be on the disk.
    if faulty.status == 0 and point.startswith(("fsync ", "fdatasync ")):
        problems.append(f"status 0 after a failed {point}")
    if faulty.status == 0:
        if complained or clean.status != 0:
            problems.append("status 0 with a complaint, or where a clean run refuses: "
                            + faulty.err.strip())
        if faulty.files != clean.files or faulty.out != clean.out:
            problems.append("status 0, but the run did less than a clean one")
    elif not complained and point.startswith("write #") and faulty.status == clean.status \
            and faulty.files == clean.files:
        pass  # the failed write was the complaint itself, on standard error
    elif faulty.status not in (1, 2) or not complained or any(
            not named(line) for line in complained):
        problems.append(f"status {faulty.status} without a message naming a file: {faulty.err!r}")
    return problems


def main():
    if len(sys.argv) < 2:
        sys.exit(__doc__)
    build = os.path.abspath(sys.argv[1])
    only = set(sys.argv[2:])
    if shutil.which("strace") is None or subprocess.run(
            ["strace", "-o", "/dev/null", "true"], stderr=subprocess.DEVNULL).returncode != 0:
        print("strace cannot trace here: skipped")
        sys.exit(77)
    # An encoding cache of the run's own, which every scenario shares: a failed call inside it
    # must cost an encoding at most.
    cache = tempfile.mkdtemp(prefix="lvlsnd-cache-")
    atexit.register(shutil.rmtree, cache, True)
    os.environ["XDG_CACHE_HOME"] = cache
    level = level_file()
    extracted = run(build, ("lvlsnd", ["level3.dat"], {"level3.dat": level}))
    with tempfile.TemporaryDirectory() as folder:
        wav_file(os.path.join(folder, "new.wav"))
        wav_file(os.path.join(folder, "other.wav"), step=3)
        wav_file(os.path.join(folder, "slow.wav"), rate=999)
        wav, other, slow = (open(os.path.join(folder, name), "rb").read()
                            for name in ("new.wav", "other.wav", "slow.wav"))
    effects = {name: extracted.files[name] for name in ("effect3_1.raw", "effect3_6.raw")}
    replace_inputs = {"level3.dat": level, "new.wav": wav}
    # A batch: two edits into the two effects of the same groups, and an unchanged WAV file.
    unchanged = run(build, ("lvlsnd-wav", ["effect3_1.raw"], effects)).files["effect3_1.wav"]
    batch_inputs = dict(replace_inputs, **{"other.wav": other, "effect3_1.wav": unchanged,
                                           "slow.wav": slow})
    edited = wav[:-2] + b"\x01\x00"  # a sound editor's save under the WAV file's name
    scenarios = [
        ("lvlsnd", ["level3.dat"], {"level3.dat": level}),
        ("lvlsnd-wav", list(effects), effects),
        # The page is written as the files are converted, through a file update of its own.
        ("lvlsnd-wav", ["--page", "effects.html"] + list(effects), effects),
        ("lvlsnd-replace", ["level3.dat", "6", "new.wav"], replace_inputs),
        ("lvlsnd-replace", ["-o", "new.dat", "level3.dat", "6", "new.wav"], replace_inputs),
        # The backup of the original is there already: it must never be replaced.
        ("lvlsnd-replace", ["level3.dat", "6", "new.wav"],
         dict(replace_inputs, **{"level3.dat.bak": level[::-1]})),
        ("lvlsnd-replace", ["linked.dat", "6", "new.wav"],
         dict(replace_inputs, **{"linked.dat": LINK + b"level3.dat"})),
        ("lvlsnd-replace", ["level3.dat", "6", "new.wav", "7", "other.wav", "effect3_1.wav"],
         batch_inputs),
        # Refusals that keep an input or an edit as it is, whatever call fails.
        ("lvlsnd", ["effect3_1.raw"], {"effect3_1.raw": level}),
        ("lvlsnd", ["level3.dat"], {"level3.dat": level, "effect3_1.raw": LINK + b"level3.dat"}),
        ("lvlsnd-replace", ["-o", "new.wav", "level3.dat", "6", "new.wav"], replace_inputs),
        # One WAV file at a rate no sound is resampled from, among good ones: nothing is written.
        ("lvlsnd-replace", ["level3.dat", "6", "new.wav", "7", "slow.wav"], batch_inputs),
        ("lvlsnd-wav", ["-f", "effect3_6.raw"],
         dict(effects, **{"effect3_6.wav": LINK + b"effect3_6.raw"})),
        ("lvlsnd-wav", ["--page", "p.html", "effect3_6.raw"],
         dict(effects, **{"p.html": LINK + b"effect3_6.raw"})),
        ("lvlsnd-wav", ["effect3_6.raw"], dict(effects, **{"effect3_6.wav": edited})),
    ]
    tried = held = skipped = 0
    failures = []
    for scenario in scenarios:
        clean = run(build, scenario)
        assert (clean.status == 0) == (clean.err == ""), (scenario[:2], clean.err)
        faulty_runs = []
        for call, count in call_counts(build, scenario).items():
            for n in range(1, count + 1):
                inject = f"inject={call}:error={FAULTS[call]}:when={n}"
                faulty_runs.append((f"{call} #{n}", lambda inject=inject: run(
                    build, scenario, ["strace", "-f", "-o", "/dev/null", "-e", inject])))
        faulty_runs.append(("stdout on /dev/full",
                            lambda: run(build, scenario, stdout_path="/dev/full")))
        # nohup: a hangup at the first write, ignored from the start, changes nothing.
        faulty_runs.append(("SIGHUP ignored at start", lambda: run(
            build, scenario, ["strace", "-f", "-o", "/dev/null", "-e",
                              "inject=write:signal=SIGHUP:when=1"], hangup_ignored=True)))
        # ulimit -v: memory or a thread the system cannot give ends the run with a message.
        for kib in (6000, 9000, 12000, 24000):
            faulty_runs.append((f"address space limited to {kib} KiB", lambda kib=kib: run(
                build, scenario, memory_limit=kib * 1024)))
        # ulimit -f: every output of these scenarios is larger than half a megabyte.
        faulty_runs.append(("file size limited to 500000 bytes",
                            lambda: run(build, scenario, file_size_limit=500000)))
        if only:  # the calls named alone
            faulty_runs = [(point, attempt) for point, attempt in faulty_runs
                           if point.split(" ")[0] in only]
        for point, attempt in faulty_runs:
            faulty = attempt()
            if faulty.status == 127 and LOADER_FAILURE in faulty.err:
                skipped += 1
                continue
            tried += 1
            problems = problems_of(scenario, clean, faulty,
                                   not point.startswith(("file size", "address space")), point)
            if point == "stdout on /dev/full" and clean.out and \
                    f"{scenario[0]}: Cannot write standard output" not in faulty.err:
                problems.append("the lost standard output is not reported")
            if problems:
                failures.append(f"{' '.join([scenario[0]] + scenario[1])}, {point}: "
                                + "; ".join(problems))
            else:
                held += 1
    print(f"{tried} injection points tried, {held} held, {skipped} skipped in the dynamic loader")
    for failure in failures:
        print("NOT HELD:", failure)
    sys.exit(1 if failures else 0)


if __name__ == "__main__":
    main()
