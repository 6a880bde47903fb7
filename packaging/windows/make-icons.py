#!/usr/bin/env python3
"""Writes the Windows icon and cursor of the launcher from its PNG pictures.

Usage: packaging/windows/make-icons.py   (writes launcher.ico and launcher.cur beside this script)

Both files hold the PNG pictures as they are (the icon and cursor formats take PNG entries since
Windows Vista). The cursor's hot spot is its top-left pixel plus one, as on Linux.
"""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))
RES = os.path.join(HERE, "..", "..", "res")


def png_size(data):
    width, height = struct.unpack(">II", data[16:24])
    return width, height


def write_group(path, kind, entries):
    """kind 1: icon (planes 1, 32 bits per pixel); kind 2: cursor (the two fields hold the hot spot)."""
    header = struct.pack("<HHH", 0, kind, len(entries))
    offset = len(header) + 16 * len(entries)
    directory = b""
    images = b""
    for data, field1, field2 in entries:
        width, height = png_size(data)
        directory += struct.pack("<BBBBHHII", width % 256, height % 256, 0, 0, field1, field2, len(data),
                                 offset + len(images))
        images += data
    with open(path, "wb") as out:
        out.write(header + directory + images)


def main():
    icons = []
    for size in (16, 24, 32, 48, 64, 128, 256):
        with open(os.path.join(RES, "icons", "%d.png" % size), "rb") as f:
            icons.append((f.read(), 1, 32))
    write_group(os.path.join(HERE, "launcher.ico"), 1, icons)
    with open(os.path.join(RES, "cursor.png"), "rb") as f:
        write_group(os.path.join(HERE, "launcher.cur"), 2, [(f.read(), 1, 1)])


if __name__ == "__main__":
    main()
