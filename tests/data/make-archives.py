#!/usr/bin/env python3
"""Writes the sample archives of the extraction tests next to this script.

The archives are checked in; run this only to change them:  python3 tests/data/make-archives.py
Every byte is fixed (dates, host, attributes, contents), so a second run gives identical files.
"""
import io
import os
import zipfile

HERE = os.path.dirname(os.path.abspath(__file__))
WHEN = (2020, 1, 2, 3, 4, 6)
UNIX = 3


def entry(name, mode, compress=zipfile.ZIP_DEFLATED):
    """An entry made on Unix with the given permission bits; a name ending in "/" is a directory."""
    info = zipfile.ZipInfo(name, date_time=WHEN)
    info.create_system = UNIX
    if name.endswith("/"):
        info.compress_type = zipfile.ZIP_STORED
        info.external_attr = ((0o040000 | mode) << 16) | 0x10  # with the DOS directory flag
    else:
        info.compress_type = compress
        info.external_attr = (0o100000 | mode) << 16
    return info


def archive(entries):
    out = io.BytesIO()
    with zipfile.ZipFile(out, "w") as z:
        for info, data in entries:
            z.writestr(info, data)
    return out.getvalue()


def pattern(n, seed):
    """n bytes that do not compress away, the same on every run."""
    x = seed
    out = bytearray()
    for _ in range(n):
        x = (x * 1103515245 + 12345) & 0x7FFFFFFF
        out.append((x >> 16) & 0xFF)
    return bytes(out)


def write(name, data):
    with open(os.path.join(HERE, name), "wb") as f:
        f.write(data)


# A directory entry, a file inside it, and a file at the top.
write("directory.zip", archive([
    (entry("data/", 0o755), b""),
    (entry("data/a.txt", 0o644), b"inside the data directory\n"),
    (entry("readme.txt", 0o644), b"read me\n"),
]))

# A harmless entry first, then one that climbs out of the destination.
write("unsafe-parent.zip", archive([
    (entry("ok.txt", 0o644), b"fine\n"),
    (entry("../evil", 0o644), b"escaped\n"),
]))

# A harmless entry first, then an absolute name.
write("unsafe-absolute.zip", archive([
    (entry("ok.txt", 0o644), b"fine\n"),
    (entry("/tmp/vellmora-evil", 0o644), b"escaped\n"),
]))

# A script stored with mode 0755 beside a plain file with 0644.
write("executable.zip", archive([
    (entry("run.sh", 0o755), b"#!/bin/sh\necho hello\n"),
    (entry("data.bin", 0o644), pattern(300, 5)),
]))

# A complete first entry, then the file ends halfway through the second entry's data, as a
# download cut short leaves it (no central directory at the end).
whole = archive([
    (entry("first.txt", 0o644), b"complete\n"),
    (entry("second.bin", 0o644, zipfile.ZIP_STORED), pattern(4096, 9)),
])
with zipfile.ZipFile(io.BytesIO(whole)) as z:
    second = z.getinfo("second.bin")
    header = 30 + len(second.filename.encode()) + len(second.extra)
    cut = second.header_offset + header + second.compress_size // 2
write("truncated.zip", whole[:cut])
