"""Reads and writes the picture files that the tools compare: PNG pictures
(screenshots, previews) and 8-bit device-independent bitmaps (BMP files and
bitmap resources). Every picture is handed on as (width, height, rows), the
rows top row first, each a bytes object of (r, g, b) triples.

Used by check_screenshot.py and display_depth.py. Python 3 standard library
only.
"""

import struct
import zlib

SIGNATURE = b"\x89PNG\r\n\x1a\n"
# Samples per pixel of each colour type.
CHANNELS = {0: 1, 2: 3, 3: 1, 4: 2, 6: 4}

# ---------------------------------------------------------------- PNG --


def png_pixels(path):
    """(width, height, rows of (r, g, b) bytes) of an 8-bit RGB, RGBA or
    palette PNG picture without interlace, or raises ValueError."""
    with open(path, "rb") as f:
        data = f.read()
    pos, header, idat, palette = len(SIGNATURE), None, [], b""
    while pos + 8 <= len(data):
        length, kind = struct.unpack(">I4s", data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + length]
        pos += 12 + length
        if kind == b"IHDR":
            header = struct.unpack(">IIBBBBB", body)
        elif kind == b"IDAT":
            idat.append(body)
        elif kind == b"PLTE":
            palette = body
    if header is None:
        raise ValueError("no IHDR chunk")
    w, h, depth, colour, _, _, interlace = header
    if depth != 8 or colour not in (2, 3, 6) or interlace:
        raise ValueError("not an 8-bit RGB or palette picture")
    bpp = CHANNELS[colour]
    raw = zlib.decompress(b"".join(idat))
    stride = w * bpp
    rows, prev = [], bytearray(stride)
    for y in range(h):
        kind = raw[y * (stride + 1)]
        line = bytearray(raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
        if kind == 1:
            for i in range(bpp, stride):
                line[i] = (line[i] + line[i - bpp]) & 0xFF
        elif kind == 2:
            for i in range(stride):
                line[i] = (line[i] + prev[i]) & 0xFF
        elif kind == 3:
            for i in range(stride):
                left = line[i - bpp] if i >= bpp else 0
                line[i] = (line[i] + ((left + prev[i]) >> 1)) & 0xFF
        elif kind == 4:
            for i in range(stride):
                a = line[i - bpp] if i >= bpp else 0
                b = prev[i]
                c = prev[i - bpp] if i >= bpp else 0
                p = a + b - c
                pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
                pred = a if pa <= pb and pa <= pc else (b if pb <= pc else c)
                line[i] = (line[i] + pred) & 0xFF
        elif kind != 0:
            raise ValueError("unknown filter %d in row %d" % (kind, y))
        if colour == 3:
            rows.append(b"".join(palette[3 * i:3 * i + 3] for i in line))
        elif colour == 2:
            rows.append(bytes(line))
        else:
            rows.append(b"".join(bytes(line[i:i + 3])
                                 for i in range(0, stride, bpp)))
        prev = line
    return w, h, rows


def png_chunk(kind, body):
    return (struct.pack(">I", len(body)) + kind + body +
            struct.pack(">I", zlib.crc32(kind + body) & 0xFFFFFFFF))


def write_png(path, w, h, rows, palette=None):
    """Writes rows of (r, g, b) bytes as a PNG file: a palette PNG of
    `palette`'s colours (every pixel must be one of them) or, without a
    palette, an RGB one."""
    if palette is not None:
        index = {bytes(c): i for i, c in enumerate(palette)}
        raw = b"".join(b"\0" + bytes(index[row[i:i + 3]]
                                     for i in range(0, len(row), 3))
                       for row in rows)
        header = struct.pack(">IIBBBBB", w, h, 8, 3, 0, 0, 0)
        extra = png_chunk(b"PLTE", b"".join(bytes(c) for c in palette))
    else:
        raw = b"".join(b"\0" + row for row in rows)
        header = struct.pack(">IIBBBBB", w, h, 8, 2, 0, 0, 0)
        extra = b""
    with open(path, "wb") as f:
        f.write(SIGNATURE + png_chunk(b"IHDR", header) + extra +
                png_chunk(b"IDAT", zlib.compress(raw, 9)) +
                png_chunk(b"IEND", b""))

# ------------------------------------------------------------- bitmaps --


class BitmapError(ValueError):
    pass


def dib_rows(dib, start=None):
    """(width, height, rows of (r, g, b) bytes, top row first) of a packed
    8-bit uncompressed device-independent bitmap (a bitmap resource); the
    pixels start at `start` when given (a BMP file's own offset), else right
    after the colour table."""
    size, w, h, _, bits, compression = struct.unpack_from("<IiiHHI", dib, 0)
    if bits != 8 or compression != 0:
        raise BitmapError("not an uncompressed 8-bit bitmap")
    colours = struct.unpack_from("<I", dib, 32)[0] or 256
    table = [bytes((dib[size + 4 * i + 2], dib[size + 4 * i + 1],
                    dib[size + 4 * i])) for i in range(colours)]
    if start is None:
        start = size + 4 * colours
    stride = (w + 3) & ~3
    rows = []
    for y in range(abs(h)):
        src = y if h < 0 else abs(h) - 1 - y
        line = dib[start + src * stride:start + src * stride + w]
        rows.append(b"".join(table[i] for i in line))
    return w, abs(h), rows


def bmp_pixels(path):
    """(width, height, rows of (r, g, b) bytes, top row first) of an
    uncompressed 8-bit BMP file with a colour table."""
    with open(path, "rb") as f:
        data = f.read()
    offset = struct.unpack("<I", data[10:14])[0]
    return dib_rows(data[14:], offset - 14)
