#!/usr/bin/env python3
"""Shows the setup's pictures as the displays of Windows 95 and NT 4.0 show
them: a 16-colour display (the standard VGA driver) and a 256-colour display
on which nobody has realised a palette.

The pictures are 8-bit bitmaps shown by bitmap statics. Such a display turns
a bitmap into a device bitmap colour by colour: on a 16-colour display to the
16 VGA colours, on a 256-colour display to the 20 reserved colours of the
default palette; each colour becomes the nearest one, with no dithering. The
system's rule, as this tool applies it: the distance is the plain squared
difference summed over red, green and blue, and among equally near colours
the first of the table wins; for 256 colours each channel is first cut to
its top five bits with the middle of the dropped range added ((c & ~7) + 4),
for 16 colours it is taken whole. The tables and the rule are checked, pixel
for pixel, against the system's own conversion (GetDIBits under Wine) by the
end-to-end suite.

    display_depth.py preview MERRIK.EXE OUTDIR
        For each depth (16, 256) and screen (640x480, 800x600, 1024x768):
        OUTDIR/screen-<depth>-<w>x<h>.png, the screen as the setup leaves it
        while the Welcome dialog is up: the backdrop's picture at the top
        left on the dialog colour, the Welcome dialog's place filled with
        the dialog colour and marked by a dashed frame, with its picture in
        it; and OUTDIR/bitmap-<id>-<depth>.png, each picture alone. The
        pictures are read from the resources of the built program, not from
        the art's source files.
    display_depth.py map 16|256 SCREENSHOT.png OUT.png
        Maps a screenshot of a true-colour display colour by colour, as the
        display of that depth would show the same screen (bitmaps and
        controls are drawn pixel for pixel, so mapping the screenshot maps
        them exactly); OUT.png is a palette PNG of that depth's colours.

Python 3 standard library only.
"""

import os
import struct
import sys
import zlib

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from picture_files import (  # noqa: E402
    BitmapError, dib_rows, png_pixels, write_png)

# The 16 colours of a 4-bit device-independent bitmap's default colour table:
# the VGA colours, the dark ones first (dark grey before light grey), as
# GetDIBits fills the table in. The order decides between equally near
# colours.
VGA16 = [(0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0), (0, 0, 128),
         (128, 0, 128), (0, 128, 128), (128, 128, 128), (192, 192, 192),
         (255, 0, 0), (0, 255, 0), (255, 255, 0), (0, 0, 255), (255, 0, 255),
         (0, 255, 255), (255, 255, 255)]

# The default palette (the stock DEFAULT_PALETTE), in its order: the 20
# colours a 256-colour display reserves, the first ten in the lowest entries
# of the system palette and the last ten in the highest.
RESERVED20 = [(0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0),
              (0, 0, 128), (128, 0, 128), (0, 128, 128), (192, 192, 192),
              (192, 220, 192), (166, 202, 240),
              (255, 251, 240), (160, 160, 164),
              (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0),
              (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255)]

PALETTES = {16: VGA16, 256: RESERVED20}

# The Welcome dialog's place on the screen (at 0, 0; frame included) and its
# picture's place in it, in pixels, as the setup shows them under Wine with
# the "System" font of the dialog template.
WELCOME_RECT = (0, 0, 528, 355)
WELCOME_PICTURE_AT = (17, 35)
# The colour of the backdrop's client area around its picture: the dialog
# colour (button face) of the standard scheme.
DIALOG_FACE = (192, 192, 192)
SCREENS = ((640, 480), (800, 600), (1024, 768))

# ------------------------------------------------------------ the rule --


def nearest(rgb, palette, five_bits=False):
    """The index of the colour of `palette` that the system takes for rgb,
    comparing each channel cut to five bits when `five_bits` is set."""
    r, g, b = ((c & ~7) + 4 for c in rgb) if five_bits else rgb
    best, best_d = 0, None
    for i, (pr, pg, pb) in enumerate(palette):
        d = (r - pr) ** 2 + (g - pg) ** 2 + (b - pb) ** 2
        if d == 0:
            return i
        if best_d is None or d < best_d:
            best, best_d = i, d
    return best


def mapper(depth):
    """A function from (r, g, b) to the colour a display of `depth` shows."""
    palette = PALETTES[depth]
    cache = {}

    def shown(rgb):
        c = cache.get(rgb)
        if c is None:
            c = cache[rgb] = palette[nearest(rgb, palette, depth == 256)]
        return c
    return shown


def map_rows(rows, depth):
    """Rows of (r, g, b) bytes as a display of `depth` shows them."""
    shown = mapper(depth)
    out = []
    for row in rows:
        out.append(b"".join(bytes(shown(tuple(row[i:i + 3])))
                            for i in range(0, len(row), 3)))
    return out

# --------------------------------------------------- program resources --


class ResourceError(ValueError):
    pass


def pe_resource(exe, type_id, name_id):
    """The bytes of resource `name_id` of type `type_id` (first language)
    in the PE file `exe`."""
    with open(exe, "rb") as f:
        data = f.read()
    if data[:2] != b"MZ" or len(data) < 64:
        raise ResourceError("%s: not an MZ executable" % exe)
    pe = struct.unpack_from("<I", data, 60)[0]
    if data[pe:pe + 4] != b"PE\0\0":
        raise ResourceError("%s: no PE header" % exe)
    sections, opt_size = struct.unpack_from("<H12xH", data, pe + 6)
    opt = pe + 24
    magic = struct.unpack_from("<H", data, opt)[0]
    dirs = opt + (96 if magic == 0x10B else 112)
    rsrc_rva, rsrc_size = struct.unpack_from("<II", data, dirs + 2 * 8)
    if not rsrc_size:
        raise ResourceError("%s: no resources" % exe)
    table = opt + opt_size
    spans = []
    for k in range(sections):
        vsize, va, rawsize, raw = struct.unpack_from("<IIII", data,
                                                     table + 40 * k + 8)
        spans.append((va, max(vsize, rawsize), raw))

    def offset(rva):
        for va, size, raw in spans:
            if va <= rva < va + size:
                return rva - va + raw
        raise ResourceError("%s: RVA 0x%x lies in no section" % (exe, rva))
    base = offset(rsrc_rva)

    def entry(directory, wanted):
        named, ids = struct.unpack_from("<HH", data, base + directory + 12)
        for k in range(named + ids):
            key, target = struct.unpack_from("<II", data,
                                             base + directory + 16 + 8 * k)
            if wanted is None or (not key & 0x80000000 and key == wanted):
                return target
        raise ResourceError("%s: no resource %s of type %d" %
                            (exe, name_id, type_id))
    level = entry(0, type_id)
    level = entry(level & 0x7FFFFFFF, name_id)
    leaf = entry(level & 0x7FFFFFFF, None)
    if leaf & 0x80000000:
        leaf = entry(leaf & 0x7FFFFFFF, None)
    rva, size = struct.unpack_from("<II", data, base + leaf)
    at = offset(rva)
    return data[at:at + size]


RT_BITMAP = 2


def program_bitmap(exe, bitmap_id):
    return dib_rows(pe_resource(exe, RT_BITMAP, bitmap_id))

# ------------------------------------------------------------ previews --


def screen(w, h, backdrop, welcome, depth):
    """The rows of a w x h screen of the given depth while the Welcome
    dialog is up: the backdrop's picture on the dialog colour, and the
    Welcome dialog's place in the dialog colour with a dashed frame and the
    Welcome picture inside."""
    face = bytes(DIALOG_FACE)
    canvas = [bytearray(face * w) for _ in range(h)]

    def paste(x0, y0, picture):
        pw, ph, rows = picture
        for y in range(min(ph, h - y0)):
            n = max(0, min(pw, w - x0))
            canvas[y0 + y][3 * x0:3 * (x0 + n)] = rows[y][:3 * n]
    paste(0, 0, backdrop)
    # The dialog's place in its own colour, its picture in it, and a frame
    # dashed black and white so that it shows against every picture.
    x0, y0, dw, dh = WELCOME_RECT
    for y in range(y0, min(h, y0 + dh)):
        canvas[y][3 * x0:3 * min(w, x0 + dw)] = face * (min(w, x0 + dw) - x0)
    paste(WELCOME_PICTURE_AT[0], WELCOME_PICTURE_AT[1], welcome)
    for k in range(dw):
        colour = b"\0\0\0" if (k // 6) % 2 == 0 else b"\xff\xff\xff"
        for y in (y0, y0 + 1, y0 + dh - 2, y0 + dh - 1):
            canvas[y][3 * (x0 + k):3 * (x0 + k) + 3] = colour
    for k in range(dh):
        colour = b"\0\0\0" if (k // 6) % 2 == 0 else b"\xff\xff\xff"
        for x in (x0, x0 + 1, x0 + dw - 2, x0 + dw - 1):
            canvas[y0 + k][3 * x:3 * x + 3] = colour
    return map_rows([bytes(r) for r in canvas], depth)


def preview(exe, outdir):
    os.makedirs(outdir, exist_ok=True)
    pictures = {129: program_bitmap(exe, 129), 130: program_bitmap(exe, 130)}
    written = []
    for depth in (16, 256):
        for bitmap_id, (w, h, rows) in pictures.items():
            path = os.path.join(outdir, "bitmap-%d-%d.png" % (bitmap_id, depth))
            write_png(path, w, h, map_rows(rows, depth), PALETTES[depth])
            written.append(path)
        for w, h in SCREENS:
            # A bitmap static shows the device bitmap of the whole picture;
            # a screen smaller than the picture shows its top-left part.
            rows = screen(w, h, pictures[129], pictures[130], depth)
            path = os.path.join(outdir, "screen-%d-%dx%d.png" % (depth, w, h))
            write_png(path, w, h, rows, PALETTES[depth])
            written.append(path)
    return written


def main(argv):
    if len(argv) == 3 and argv[0] == "preview":
        try:
            for path in preview(argv[1], argv[2]):
                print("wrote %s" % path)
        except (OSError, ResourceError, BitmapError) as e:
            print("display_depth: %s" % e, file=sys.stderr)
            return 1
        return 0
    if len(argv) == 4 and argv[0] == "map" and argv[1] in ("16", "256"):
        depth = int(argv[1])
        try:
            w, h, rows = png_pixels(argv[2])
            write_png(argv[3], w, h, map_rows(rows, depth), PALETTES[depth])
        except (OSError, ValueError, zlib.error) as e:
            print("display_depth: %s: %s" % (argv[2], e), file=sys.stderr)
            return 1
        return 0
    print("usage: display_depth.py preview MERRIK.EXE OUTDIR\n"
          "       display_depth.py map 16|256 SCREENSHOT.png OUT.png",
          file=sys.stderr)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
