#!/usr/bin/env python3
"""Checks that a file is a whole PNG picture of the expected size.

    check_screenshot.py FILE [WIDTH HEIGHT]      (default 1024 768)
    check_screenshot.py --picture BMP [--window X,Y,W,H] FILE [WIDTH HEIGHT]
    check_screenshot.py --palette 16|256 FILE [WIDTH HEIGHT]

Reads the PNG signature and every chunk (length, type, CRC), takes width,
height, bit depth and colour type from IHDR, inflates the IDAT data and
checks that it holds exactly the scanlines of a picture of that size, and
that IEND ends the file. With --picture, the screenshot must also show the
8-bit bitmap BMP (the backdrop's picture) at its top left, pixel for pixel.
With --window, another program's window lies above the picture in the
rectangle X,Y,W,H (its frame included, as Wine draws it there): the picture
must show pixel for pixel everywhere else, and in the rectangle the window:
its client area (inside the frame) is of one colour, and no pixel of the
picture shows through (a pixel of the picture in the client area's own
colour cannot be told from the window, and is not counted).
With --palette, every pixel must be one of the colours that a display of
that depth shows: the 16 VGA colours, or the 20 reserved colours of a
256-colour display (tools/display_depth.py).
Prints nothing and exits 0 when the picture is sound; otherwise prints what
is wrong on one line and exits 1.
"""

import os
import struct
import sys
import zlib

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import display_depth  # noqa: E402
from picture_files import (  # noqa: E402
    CHANNELS, SIGNATURE, bmp_pixels, png_pixels)


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


# The frame that Wine (without a window manager) draws inside the rectangle
# of a sizable window with a caption, measured: 4 pixels at the left, right
# and bottom, and at the top 4 pixels, the 18-pixel caption and a line.
FRAME_LEFT, FRAME_TOP, FRAME_RIGHT, FRAME_BOTTOM = 4, 23, 4, 4


def picture_problem(shot, bmp, window=None):
    """Where the screenshot `shot` does not show the bitmap `bmp` at its
    top left, pixel for pixel, or None. With `window` (x, y, w, h) that
    rectangle must show a window instead: nothing of the bitmap, and a
    client area of one colour."""
    try:
        sw, sh, shown = png_pixels(shot)
        bw, bh, want = bmp_pixels(bmp)
    except (OSError, ValueError, zlib.error) as e:
        return "cannot compare: %s" % e
    wx, wy, ww, wh = window or (0, 0, 0, 0)

    def inside(x, y):
        return wx <= x < wx + ww and wy <= y < wy + wh
    differ, first, through = 0, None, {}
    for y in range(min(sh, bh)):
        a, b = shown[y][:3 * min(sw, bw)], want[y][:3 * min(sw, bw)]
        if a == b and not (wy <= y < wy + wh):
            continue
        for x in range(0, len(b), 3):
            same = a[x:x + 3] == b[x:x + 3]
            if inside(x // 3, y):
                if same:
                    through[a[x:x + 3]] = through.get(a[x:x + 3], 0) + 1
            elif not same:
                differ += 1
                first = first or (x // 3, y)
    if differ:
        return ("%d pixels of the backdrop picture differ, the first at "
                "%d,%d" % (differ, first[0], first[1]))
    if window is None:
        return None
    if wx + ww > min(sw, bw) or wy + wh > min(sh, bh):
        return "the window %d,%d %dx%d lies beyond the picture" % window
    colours = set()
    for y in range(wy + FRAME_TOP, wy + wh - FRAME_BOTTOM):
        row = shown[y]
        for x in range(wx + FRAME_LEFT, wx + ww - FRAME_RIGHT):
            colours.add(row[3 * x:3 * x + 3])
    if len(colours) != 1:
        return ("the window's client area holds %d colours, not one"
                % len(colours))
    # Where the picture has the very colour of the window's client area,
    # the window and the picture look the same: only the picture's other
    # colours can show that it comes through.
    client = colours.pop()
    shows = sum(n for c, n in through.items() if c != client)
    if shows:
        return ("%d pixels of the backdrop picture show in the window's "
                "place %d,%d %dx%d" % ((shows,) + tuple(window)))
    return None


def palette_problem(shot, depth):
    """Where the screenshot holds a colour that a display of `depth` does
    not show, or None."""
    allowed = set(bytes(c) for c in display_depth.PALETTES[depth])
    try:
        _, _, shown = png_pixels(shot)
    except (OSError, ValueError, zlib.error) as e:
        return "cannot read the colours: %s" % e
    for y, row in enumerate(shown):
        for x in range(0, len(row), 3):
            if row[x:x + 3] not in allowed:
                return ("the pixel at %d,%d is %d,%d,%d, not one of the %d "
                        "colours of a %d-colour display" % (
                            x // 3, y, row[x], row[x + 1], row[x + 2],
                            len(allowed), depth))
    return None


def main(argv):
    bmp, window, depth = None, None, None
    if argv[:1] == ["--palette"] and len(argv) >= 2:
        if argv[1] not in ("16", "256"):
            print("--palette takes 16 or 256")
            return 2
        depth, argv = int(argv[1]), argv[2:]
    if argv[:1] == ["--picture"] and len(argv) >= 2:
        bmp, argv = argv[1], argv[2:]
        if argv[:1] == ["--window"] and len(argv) >= 2:
            try:
                window = tuple(int(v) for v in argv[1].split(","))
            except ValueError:
                window = ()
            argv = argv[2:]
            if len(window) != 4 or min(window) < 0:
                print("--window takes X,Y,W,H")
                return 2
    if len(argv) not in (1, 3):
        print("usage: check_screenshot.py [--picture BMP [--window X,Y,W,H] | "
              "--palette 16|256] FILE [WIDTH HEIGHT]")
        return 2
    width, height = (int(argv[1]), int(argv[2])) if len(argv) == 3 else (
        1024, 768)
    what = problem(argv[0], width, height)
    if what is None and bmp is not None:
        what = picture_problem(argv[0], bmp, window)
    if what is None and depth is not None:
        what = palette_problem(argv[0], depth)
    if what is not None:
        print(what)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
