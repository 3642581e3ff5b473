#!/usr/bin/env python3
"""Checks that a file is a whole PNG picture of the expected size.

    check_screenshot.py FILE [WIDTH HEIGHT]      (default 1024 768)

Reads the PNG signature and every chunk (length, type, CRC), takes width,
height, bit depth and colour type from IHDR, inflates the IDAT data and
checks that it holds exactly the scanlines of a picture of that size, and
that IEND ends the file. Prints nothing and exits 0 when the picture is
sound; otherwise prints what is wrong on one line and exits 1.
"""

import struct
import sys
import zlib

SIGNATURE = b"\x89PNG\r\n\x1a\n"
# Samples per pixel of each colour type.
CHANNELS = {0: 1, 2: 3, 3: 1, 4: 2, 6: 4}


def problem(path, width, height):
    """What is wrong with the picture in `path`, or None."""
    try:
        with open(path, "rb") as f:
            data = f.read()
    except OSError as e:
        return "cannot read it (%s)" % e.strerror
    if not data:
        return "the file is empty"
    if not data.startswith(SIGNATURE):
        return "not a PNG file (no PNG signature)"
    pos = len(SIGNATURE)
    header = None
    idat = []
    ended = False
    while pos < len(data):
        if pos + 12 > len(data):
            return "cut short inside a chunk header at byte %d" % pos
        length, kind = struct.unpack(">I4s", data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + length]
        if len(body) != length or pos + 12 + length > len(data):
            return "chunk %r cut short at byte %d" % (kind, pos)
        crc = struct.unpack(">I", data[pos + 8 + length:pos + 12 + length])[0]
        if zlib.crc32(kind + body) & 0xFFFFFFFF != crc:
            return "chunk %r at byte %d has a wrong CRC" % (kind, pos)
        pos += 12 + length
        if header is None and kind != b"IHDR":
            return "the first chunk is %r, not IHDR" % kind
        if kind == b"IHDR":
            if length != 13:
                return "IHDR of %d bytes" % length
            header = struct.unpack(">IIBBBBB", body)
        elif kind == b"IDAT":
            idat.append(body)
        elif kind == b"IEND":
            ended = True
            break
    if header is None:
        return "no IHDR chunk"
    if not ended:
        return "no IEND chunk: the file is cut short"
    if pos != len(data):
        return "%d bytes after IEND" % (len(data) - pos)
    w, h, depth, colour, _, _, interlace = header
    if (w, h) != (width, height):
        return "%dx%d pixels, expected %dx%d" % (w, h, width, height)
    if colour not in CHANNELS or interlace != 0:
        return "colour type %d, interlace %d not checked by this tool" % (
            colour, interlace)
    try:
        pixels = zlib.decompress(b"".join(idat))
    except zlib.error as e:
        return "the picture data does not inflate (%s)" % e
    row = 1 + (w * CHANNELS[colour] * depth + 7) // 8
    if len(pixels) != row * h:
        return "the picture data holds %d bytes, expected %d" % (
            len(pixels), row * h)
    return None


def main(argv):
    if len(argv) not in (1, 3):
        print("usage: check_screenshot.py FILE [WIDTH HEIGHT]")
        return 2
    width, height = (int(argv[1]), int(argv[2])) if len(argv) == 3 else (
        1024, 768)
    what = problem(argv[0], width, height)
    if what is not None:
        print(what)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
