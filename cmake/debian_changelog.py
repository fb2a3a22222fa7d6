#!/usr/bin/env python3
"""Writes CHANGELOG.md as the Debian changelog of the native package, compressed reproducibly.

    debian_changelog.py CHANGELOG.md "Name <address>" changelog.gz

Each "## [version] - date" section becomes one entry, its "### Kind" headings group lines
"[ Kind ]", its items become "*" items wrapped to 78 columns, and the trailer carries the
section's date (a later release on the same day an hour later, since Debian wants each entry newer
than the one before it); the output is gzip'ed with no name and no time stamp, as `gzip -9n` does.
"""
import datetime
import gzip
import re
import sys
import textwrap


def entries(markdown):
    """(version, date, [(kind, [item, ...]), ...]) for each released version, newest first."""
    result = []
    for line in markdown.splitlines():
        release = re.match(r"## \[([^\]]+)\] - (\d{4}-\d{2}-\d{2})", line)
        if release:
            result.append((release.group(1), release.group(2), []))
        elif result and line.startswith("### "):
            result[-1][2].append((line[4:].strip(), []))
        elif result and result[-1][2] and line.startswith("- "):
            result[-1][2][-1][1].append(line[2:].strip())
        elif result and result[-1][2] and result[-1][2][-1][1] and line.startswith("  "):
            items = result[-1][2][-1][1]
            items[-1] += " " + line.strip()
    return result


def release_times(releases):
    """The time of each release, newest first: its day, and an hour for each older release of
    the same day."""
    times, earlier = [], {}
    for version, date, kinds in reversed(releases):
        day = datetime.datetime.strptime(date, "%Y-%m-%d").replace(tzinfo=datetime.timezone.utc)
        times.append(day + datetime.timedelta(hours=earlier.get(date, 0)))
        earlier[date] = earlier.get(date, 0) + 1
    return list(reversed(times))


def debian_changelog(markdown, maintainer):
    text = ""
    releases = entries(markdown)
    for (version, date, kinds), time in zip(releases, release_times(releases)):
        text += f"lvlsnd ({version}) unstable; urgency=medium\n\n"
        for kind, items in kinds:
            text += f"  [ {kind} ]\n"
            for item in items:
                text += textwrap.fill(item, 78, initial_indent="  * ",
                                      subsequent_indent="    ") + "\n"
        text += f"\n -- {maintainer}  {time.strftime('%a, %d %b %Y %H:%M:%S %z')}\n\n"
    return text


def main():
    source, maintainer, output = sys.argv[1:]
    with open(source, encoding="utf-8") as file:
        text = debian_changelog(file.read(), maintainer)
    with open(output, "wb") as raw, gzip.GzipFile(filename="", mode="wb", fileobj=raw,
                                                  compresslevel=9, mtime=0) as compressed:
        compressed.write(text.encode("utf-8"))


if __name__ == "__main__":
    main()
