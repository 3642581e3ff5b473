#!/usr/bin/env python3
"""Draws the setup's artwork and writes it in the forms the resources need.

  resources/backdrop.bmp  800 x 600, 8 bits per pixel, 256-entry colour table
  resources/welcome.bmp   126 x 288, 8 bits per pixel, 256-entry colour table
  resources/setup.ico     one 32 x 32 image, 16 colours

The pictures are composed for the displays they meet. A 16-colour display
shows each colour of a bitmap as the nearest of the 16 VGA colours, a
256-colour display without a realised palette as the nearest of its 20
reserved colours, both without dithering (tools/display_depth.py applies
that rule and previews the result). So every element is an area of one VGA
colour, its base, with the outline the design gives it: those areas are the
16- and 256-colour picture. In full colour each area is shaded (gradients, a
glow, soft edges), but only within the colours that both displays still show
as its base, with a margin that keeps them so however the system rounds.
Every display thus shows a clean composition: the shading falls away, the
outlines stay where they were drawn. The colour table is made by median cut
within each base's colours, so no entry crosses to another base.

The picture: a night-blue field with circuit traces, a cooling fan and a
sensor chip, the product's name in a stroke lettering of our own, and a
monitor strip with the sensor readings at the foot. The backdrop keeps its
name and main elements within what a 640 x 480 screen shows beside the
Welcome dialog (at 0, 0, about 528 x 355) and below the message boxes
centred on that screen; larger screens show the rest of the strip.

Python 3 standard library only; the output is deterministic.

Usage: make_setup_art.py [output directory]   (default: resources/ beside tools/)
"""

import math
import os
import random
import struct
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from display_depth import RESERVED20, VGA16  # noqa: E402

# The VGA colours by their index in VGA16.
BLACK, NAVY, TEAL, GREY, SILVER, LIME, CYAN, WHITE = 0, 4, 6, 7, 8, 10, 14, 15

# ---------------------------------------------------------------- canvas --


class Canvas:
    """Full-colour pixels, and for each the VGA colour of its area."""

    def __init__(self, width, height, base):
        self.w = width
        self.h = height
        self.r = [0.0] * (width * height)
        self.g = [0.0] * (width * height)
        self.b = [0.0] * (width * height)
        self.base = [base] * (width * height)

    def blend(self, x, y, colour, alpha):
        if alpha <= 0.0 or x < 0 or y < 0 or x >= self.w or y >= self.h:
            return
        if alpha > 1.0:
            alpha = 1.0
        i = y * self.w + x
        self.r[i] += (colour[0] - self.r[i]) * alpha
        self.g[i] += (colour[1] - self.g[i]) * alpha
        self.b[i] += (colour[2] - self.b[i]) * alpha

    def set_base(self, x, y, base):
        if 0 <= x < self.w and 0 <= y < self.h:
            self.base[y * self.w + x] = base

    def area(self, x0, y0, x1, y1, base, shade):
        """Makes the rectangle an area of `base`, each pixel coloured
        shade(x, y)."""
        for y in range(max(0, y0), min(self.h, y1)):
            for x in range(max(0, x0), min(self.w, x1)):
                i = y * self.w + x
                self.r[i], self.g[i], self.b[i] = shade(x, y)
                self.base[i] = base

    def pixels(self):
        """The final colours: each pixel's colour, kept within the colours
        that every display shows as its area's base."""
        out = []
        for i in range(self.w * self.h):
            out.append(settle((clamp8(self.r[i]), clamp8(self.g[i]),
                               clamp8(self.b[i])), self.base[i]))
        return out


def clamp8(v):
    v = int(round(v))
    return 0 if v < 0 else 255 if v > 255 else v


def lerp(a, b, t):
    return a + (b - a) * t


def mix(c1, c2, t):
    return (lerp(c1[0], c2[0], t), lerp(c1[1], c2[1], t), lerp(c1[2], c2[2], t))


# A coverage mask collects shapes before they are laid on the canvas, so that
# overlapping strokes of one shape do not darken their joints.
class Mask:
    def __init__(self, width, height):
        self.w = width
        self.h = height
        self.a = {}

    def put(self, x, y, cover):
        if cover <= 0.0 or x < 0 or y < 0 or x >= self.w or y >= self.h:
            return
        key = y * self.w + x
        if cover > self.a.get(key, 0.0):
            self.a[key] = min(cover, 1.0)

    def paint(self, canvas, colour, opacity, dx=0, dy=0, base=None):
        """Lays the shape on the canvas in `colour`; with `base`, the pixels
        it covers at least half become an area of that VGA colour."""
        for key, cover in self.a.items():
            y, x = divmod(key, self.w)
            canvas.blend(x + dx, y + dy, colour, cover * opacity)
            if base is not None and cover >= 0.5:
                canvas.set_base(x + dx, y + dy, base)


def segment(mask, x0, y0, x1, y1, radius):
    """A stroke of the given radius with round ends, anti-aliased."""
    minx = int(math.floor(min(x0, x1) - radius - 1))
    maxx = int(math.ceil(max(x0, x1) + radius + 1))
    miny = int(math.floor(min(y0, y1) - radius - 1))
    maxy = int(math.ceil(max(y0, y1) + radius + 1))
    vx, vy = x1 - x0, y1 - y0
    length2 = vx * vx + vy * vy
    for y in range(miny, maxy + 1):
        py = y + 0.5
        for x in range(minx, maxx + 1):
            px = x + 0.5
            if length2 > 0:
                t = ((px - x0) * vx + (py - y0) * vy) / length2
                t = 0.0 if t < 0 else 1.0 if t > 1 else t
            else:
                t = 0.0
            dx = px - (x0 + t * vx)
            dy = py - (y0 + t * vy)
            d = math.sqrt(dx * dx + dy * dy)
            mask.put(x, y, radius + 0.5 - d)


def polyline(mask, points, radius):
    for (x0, y0), (x1, y1) in zip(points, points[1:]):
        segment(mask, x0, y0, x1, y1, radius)


def disc(mask, cx, cy, radius, inner=0.0):
    """A filled disc, or a ring when inner > 0."""
    for y in range(int(cy - radius - 2), int(cy + radius + 2)):
        for x in range(int(cx - radius - 2), int(cx + radius + 2)):
            d = math.hypot(x + 0.5 - cx, y + 0.5 - cy)
            cover = min(radius + 0.5 - d, d - inner + 0.5 if inner > 0 else 1.0)
            mask.put(x, y, cover)


def rounded_rect(mask, x0, y0, x1, y1, corner):
    for y in range(int(y0) - 1, int(y1) + 2):
        for x in range(int(x0) - 1, int(x1) + 2):
            px = min(max(x + 0.5, x0 + corner), x1 - corner)
            py = min(max(y + 0.5, y0 + corner), y1 - corner)
            d = math.hypot(x + 0.5 - px, y + 0.5 - py)
            mask.put(x, y, corner + 0.5 - d)


# -------------------------------------------------- colours by display --

# How much nearer a colour must be to its base than to any other colour
# that a 16- or 256-colour display shows (the reserved colours include the
# VGA ones). The system cuts each channel to five bits before it compares,
# which moves a colour by less than 7; twice that keeps the choice the same
# either way, and keeps every base's colours a convex set, so that averages
# of them (the colour table's entries) stay within it too.
MARGIN = 14.0


def distance(c1, c2):
    return math.sqrt((c1[0] - c2[0]) ** 2 + (c1[1] - c2[1]) ** 2 +
                     (c1[2] - c2[2]) ** 2)


def fits(rgb, base):
    """True when every display shows rgb as the VGA colour `base`."""
    want = VGA16[base]
    near = distance(rgb, want) + MARGIN
    return all(c == want or distance(rgb, c) >= near for c in RESERVED20)


_settled = {}


def settle(rgb, base):
    """rgb, or where a display would not show it as `base`, the colour
    nearest to it on the way to the base colour that every display does."""
    key = (rgb, base)
    if key in _settled:
        return _settled[key]
    out = rgb
    if not fits(rgb, base):
        want = VGA16[base]
        lo, hi = 0.0, 1.0
        for _ in range(12):
            t = (lo + hi) / 2
            if fits(tuple(clamp8(v) for v in mix(want, rgb, t)), base):
                lo = t
            else:
                hi = t
        out = tuple(clamp8(v) for v in mix(want, rgb, lo))
        if not fits(out, base):
            out = want
    _settled[key] = out
    return out


# ------------------------------------------------------------ lettering --


def arc(cx, cy, rx, ry, a0, a1, steps=14):
    return [
        (cx + rx * math.cos(math.radians(lerp(a0, a1, i / steps))),
         cy + ry * math.sin(math.radians(lerp(a0, a1, i / steps))))
        for i in range(steps + 1)
    ]


def bezier(p0, p1, p2, p3, steps=12):
    pts = []
    for i in range(steps + 1):
        t = i / steps
        u = 1 - t
        pts.append((u * u * u * p0[0] + 3 * u * u * t * p1[0] +
                    3 * u * t * t * p2[0] + t * t * t * p3[0],
                    u * u * u * p0[1] + 3 * u * u * t * p1[1] +
                    3 * u * t * t * p2[1] + t * t * t * p3[1]))
    return pts


# Capitals on a grid 4 units wide and 6 high (y downwards); each letter is
# (advance width, list of polylines).
def _glyphs():
    bowl = [(0, 0), (2.3, 0)] + arc(2.3, 1.6, 1.6, 1.6, -90, 90) + [(0, 3.2)]
    return {
        'A': (4, [[(0, 6), (2, 0), (4, 6)], [(0.75, 3.9), (3.25, 3.9)]]),
        'D': (4, [[(0, 0), (1.5, 0)] + arc(1.5, 3, 2.5, 3, -90, 90) +
                  [(0, 6), (0, 0)]]),
        'E': (3.5, [[(3.5, 0), (0, 0), (0, 6), (3.5, 6)], [(0, 3), (2.9, 3)]]),
        'H': (4, [[(0, 0), (0, 6)], [(4, 0), (4, 6)], [(0, 3), (4, 3)]]),
        'I': (0, [[(0, 0), (0, 6)]]),
        'K': (3.8, [[(0, 0), (0, 6)], [(3.8, 0), (0.1, 3.7)],
                    [(1.3, 2.5), (3.9, 6)]]),
        'L': (3.4, [[(0, 0), (0, 6), (3.4, 6)]]),
        'M': (4.6, [[(0, 6), (0, 0), (2.3, 4.2), (4.6, 0), (4.6, 6)]]),
        'N': (4, [[(0, 6), (0, 0), (4, 6), (4, 0)]]),
        'O': (4.4, [arc(2.2, 3, 2.2, 3, 0, 360, 36)]),
        'P': (3.9, [[(0, 6)] + bowl]),
        'R': (3.9, [[(0, 6)] + bowl, [(2.0, 3.2), (3.9, 6)]]),
        'S': (3.8, [bezier((3.6, 0.9), (3.0, -0.25), (0.3, -0.3), (0.25, 1.5)) +
                    bezier((0.25, 1.5), (0.3, 3.0), (3.8, 2.7), (3.8, 4.5))[1:] +
                    bezier((3.8, 4.5), (3.8, 6.35), (0.7, 6.4), (0.05, 5.1))[1:]]),
        'T': (4, [[(0, 0), (4, 0)], [(2, 0), (2, 6)]]),
        'U': (4, [[(0, 0), (0, 4)] + arc(2, 4, 2, 2, 180, 0) + [(4, 0)]]),
        'V': (4.2, [[(0, 0), (2.1, 6), (4.2, 0)]]),
        'W': (5.4, [[(0, 0), (1.3, 6), (2.7, 1.6), (4.1, 6), (5.4, 0)]]),
    }


GLYPHS = _glyphs()


def text_width(text, scale, spacing=2.0):
    width = 0.0
    for ch in text:
        width += (3.0 if ch == ' ' else GLYPHS[ch][0] + spacing) * scale
    return width - spacing * scale


def lettering(mask, text, x, y, scale, radius, spacing=2.0, slant=0.0):
    """Writes text with its cap line at y; slant leans the letters right."""
    for ch in text:
        if ch == ' ':
            x += 3.0 * scale
            continue
        advance, strokes = GLYPHS[ch]
        for stroke in strokes:
            pts = [(x + (px + (6 - py) * slant) * scale, y + py * scale)
                   for px, py in stroke]
            polyline(mask, pts, radius)
        x += (advance + spacing) * scale


# --------------------------------------------------------------- motifs --

# Full-colour shades of the areas; each is settled within its base.
FIELD_DARK = (0, 6, 70)
FIELD_LIGHT = (20, 50, 176)
FLOOR_TOP = (6, 12, 26)
FLOOR_BOTTOM = (0, 2, 8)
GRID = (0, 22, 96)
TRACE = (0, 92, 126)
BLADE_ROOT = (0, 96, 116)
BLADE_TIP = (40, 168, 178)
METAL = (198, 200, 204)
CHIP = (14, 18, 34)
ICE = (170, 225, 255)
SIGNAL = (110, 255, 170)
COOL = (80, 240, 255)


def field(canvas, y1, gx, gy, reach):
    """The night-blue field above the monitor strip, lit from (gx, gy)."""
    def shade(x, y):
        glow = max(0.0, 1.0 - math.hypot(x - gx, y - gy) / reach) ** 1.5
        return mix(FIELD_DARK, FIELD_LIGHT, 0.25 * (1 - y / y1) + 0.75 * glow)
    canvas.area(0, 0, canvas.w, y1, NAVY, shade)


def monitor_strip(canvas, y0):
    """The strip at the foot: a dark screen with a grid and a rim."""
    span = max(1, canvas.h - y0)
    canvas.area(0, y0, canvas.w, canvas.h, BLACK,
                lambda x, y: mix(FLOOR_TOP, FLOOR_BOTTOM, (y - y0) / span))
    grid = Mask(canvas.w, canvas.h)
    for y in range(y0 + 12, canvas.h, 16):
        segment(grid, 0, y + 0.5, canvas.w, y + 0.5, 0.5)
    for x in range(8, canvas.w, 16):
        segment(grid, x + 0.5, y0 + 4, x + 0.5, canvas.h, 0.5)
    grid.paint(canvas, GRID, 1.0, base=NAVY)
    rim = Mask(canvas.w, canvas.h)
    segment(rim, 0, y0 + 1, canvas.w, y0 + 1, 1.0)
    rim.paint(canvas, TRACE, 1.0, base=TEAL)


def fan(canvas, cx, cy, radius, blades):
    """A cooling fan seen from the front: frame ring, swept blades, hub."""
    ring = Mask(canvas.w, canvas.h)
    disc(ring, cx, cy, radius, radius * 0.88)
    ring.paint(canvas, METAL, 1.0, base=SILVER)

    hub = radius * 0.26
    tip = radius * 0.80
    for y in range(int(cy - radius), int(cy + radius) + 1):
        for x in range(int(cx - radius), int(cx + radius) + 1):
            dx, dy = x + 0.5 - cx, y + 0.5 - cy
            r = math.hypot(dx, dy)
            if r < hub or r > tip + 1:
                continue
            t = (r - hub) / (tip - hub)
            phi = math.atan2(dy, dx)
            width = lerp(0.34, 0.64, min(t, 1.0))
            best = 0.0
            for k in range(blades):
                start = k * 2 * math.pi / blades + 1.1 * t
                rel = (phi - start) % (2 * math.pi)
                if rel < width:
                    edge = min(rel, width - rel) * r
                    best = max(best, min(edge + 0.5, tip - r + 0.5, 1.0))
            if best > 0:
                # Lit along the leading edge, as a curved blade catches light.
                canvas.blend(x, y, mix(BLADE_ROOT, BLADE_TIP, min(t, 1.0)),
                             best)
                if best >= 0.5:
                    canvas.set_base(x, y, TEAL)

    cap = Mask(canvas.w, canvas.h)
    disc(cap, cx, cy, hub * 0.92)
    cap.paint(canvas, METAL, 1.0, base=SILVER)
    spindle = Mask(canvas.w, canvas.h)
    disc(spindle, cx, cy, hub * 0.38)
    spindle.paint(canvas, FIELD_DARK, 1.0, base=NAVY)


def traces(canvas, seed, count, region, avoid=()):
    """Circuit-board traces: right-angled runs ending in round pads; a trace
    that would cross one of the `avoid` rectangles is left out."""
    rng = random.Random(seed)
    x0, y0, x1, y1 = region
    mask = Mask(canvas.w, canvas.h)
    pads = Mask(canvas.w, canvas.h)

    def clear(pts):
        bx0 = min(p[0] for p in pts) - 4
        bx1 = max(p[0] for p in pts) + 4
        by0 = min(p[1] for p in pts) - 4
        by1 = max(p[1] for p in pts) + 4
        return all(bx1 < ax0 or bx0 > ax1 or by1 < ay0 or by0 > ay1
                   for ax0, ay0, ax1, ay1 in avoid)
    for _ in range(count):
        x = rng.randrange(x0, x1) // 8 * 8
        y = rng.randrange(y0, y1) // 8 * 8
        pts = [(x, y)]
        horizontal = rng.random() < 0.5
        for _ in range(rng.randrange(2, 4)):
            step = rng.randrange(3, 12) * 8 * rng.choice((-1, 1))
            if horizontal:
                x += step
            else:
                y += step
            # A 45-degree bend now and then, as routed boards have.
            if rng.random() < 0.4:
                x += 8 if step > 0 else -8
                y += 8
            pts.append((x, y))
            horizontal = not horizontal
        if not clear(pts) or not all(x0 <= px < x1 and y0 <= py < y1
                                     for px, py in pts):
            continue
        polyline(mask, [(px + 0.5, py + 0.5) for px, py in pts], 0.5)
        disc(pads, pts[0][0] + 0.5, pts[0][1] + 0.5, 3.0, 1.5)
        disc(pads, pts[-1][0] + 0.5, pts[-1][1] + 0.5, 3.0, 1.5)
    mask.paint(canvas, TRACE, 1.0, base=TEAL)
    pads.paint(canvas, TRACE, 1.0, base=TEAL)


def reading(canvas, x0, x1, base_y, amplitude, seed, colour, base,
            pulse=True):
    """A monitored reading: a slow wave, with a periodic pulse, and a glow."""
    rng = random.Random(seed)
    phase = rng.random() * 6
    pts = []
    for x in range(x0, x1 + 1, 2):
        t = x / 60.0
        v = 0.35 * math.sin(t + phase) + 0.15 * math.sin(2.7 * t)
        beat = (x - x0) % 170
        if pulse and 80 <= beat < 110:
            s = (beat - 80) / 30.0
            v += math.sin(s * 2 * math.pi) * (1.6 if s < 0.5 else 0.9)
        pts.append((x, base_y - v * amplitude))
    glow = Mask(canvas.w, canvas.h)
    polyline(glow, pts, 4.0)
    glow.paint(canvas, colour, 0.16)
    line = Mask(canvas.w, canvas.h)
    polyline(line, pts, 1.0)
    line.paint(canvas, colour, 1.0, base=base)


def chip(canvas, x0, y0, size):
    """A sensor chip: body, pins on all four sides, orientation dot."""
    pins = Mask(canvas.w, canvas.h)
    n = 5
    for k in range(n):
        p = x0 + size * (k + 1) / (n + 1)
        q = y0 + size * (k + 1) / (n + 1)
        segment(pins, p, y0 - size * 0.14, p, y0, size * 0.035)
        segment(pins, p, y0 + size, p, y0 + size * 1.14, size * 0.035)
        segment(pins, x0 - size * 0.14, q, x0, q, size * 0.035)
        segment(pins, x0 + size, q, x0 + size * 1.14, q, size * 0.035)
    pins.paint(canvas, METAL, 1.0, base=SILVER)
    body = Mask(canvas.w, canvas.h)
    rounded_rect(body, x0, y0, x0 + size, y0 + size, size * 0.08)
    body.paint(canvas, CHIP, 1.0, base=BLACK)
    edge = Mask(canvas.w, canvas.h)
    polyline(edge, [(x0 + 1, y0 + 1), (x0 + size - 1, y0 + 1),
                    (x0 + size - 1, y0 + size - 1), (x0 + 1, y0 + size - 1),
                    (x0 + 1, y0 + 1)], 0.6)
    edge.paint(canvas, ICE, 0.35)
    dot = Mask(canvas.w, canvas.h)
    disc(dot, x0 + size * 0.2, y0 + size * 0.2, size * 0.07)
    dot.paint(canvas, METAL, 1.0, base=SILVER)


def shadowed_lettering(canvas, text, x, y, scale, radius, colour, base,
                       spacing=2.0, slant=0.0, shadow=(3, 4)):
    """Lettering with a hard drop shadow to the lower right."""
    mask = Mask(canvas.w, canvas.h)
    lettering(mask, text, x, y, scale, radius, spacing, slant)
    mask.paint(canvas, (0, 0, 18), 1.0, shadow[0], shadow[1], base=BLACK)
    mask.paint(canvas, colour, 1.0, base=base)


# ------------------------------------------------------------- pictures --

# Where the backdrop's parts lie. At 640 x 480 the Welcome dialog covers
# about 0..528 x 0..355: the fan and the chip stand in the strip to its
# right, the name below it, and the monitor strip at the screen's foot.
FAN_AT = (584, 112, 50)
CHIP_AT = (556, 232, 56)
NAME_Y, NAME_SCALE = 374, 7.2
STRIP_Y = 452


def draw_backdrop():
    c = Canvas(800, 600, NAVY)
    cx, cy, radius = FAN_AT
    field(c, STRIP_Y, cx, cy, 460)
    # The traces keep clear of the name, of the strip beside the Welcome
    # dialog that holds the fan and the chip, and of the dialog's lower edge.
    traces(c, 7, 110, (0, 0, 800, STRIP_Y - 8),
           avoid=((16, NAME_Y - 8, 640, STRIP_Y), (520, 0, 640, STRIP_Y),
                  (0, 330, 640, STRIP_Y)))
    fan(c, cx, cy, radius, 7)
    chip(c, *CHIP_AT)

    shadowed_lettering(c, 'VKO HALVERMONT', 28, NAME_Y, NAME_SCALE, 3.0,
                       VGA16[WHITE], WHITE, slant=0.06)
    shadowed_lettering(c, 'HARDWARE MONITOR SETUP', 31,
                       NAME_Y + 6 * NAME_SCALE + 12, 2.5, 1.1, COOL, CYAN,
                       spacing=2.6, shadow=(2, 2))

    monitor_strip(c, STRIP_Y)
    reading(c, 0, 800, STRIP_Y + 17, 6, 3, SIGNAL, LIME)
    reading(c, 0, 800, STRIP_Y + 92, 16, 9, COOL, CYAN, pulse=False)
    return c


def draw_welcome():
    c = Canvas(126, 288, NAVY)
    field(c, 240, 63, 62, 200)
    traces(c, 11, 40, (0, 0, 126, 232),
           avoid=((13, 12, 113, 112), (22, 114, 104, 198), (10, 200, 116, 232)))
    fan(c, 63, 62, 44, 7)
    chip(c, 36, 128, 54)
    width = text_width('SETUP', 2.6, 2.4)
    shadowed_lettering(c, 'SETUP', (126 - width) / 2 - 1, 208, 2.6, 1.1,
                       VGA16[WHITE], WHITE, spacing=2.4, shadow=(2, 2))
    monitor_strip(c, 240)
    reading(c, 0, 126, 262, 8, 5, SIGNAL, LIME)
    return c



# The icon's 16 colours, in the order of its colour table.
ICON16 = [(0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0), (0, 0, 128),
          (128, 0, 128), (0, 128, 128), (192, 192, 192), (128, 128, 128),
          (255, 0, 0), (0, 255, 0), (255, 255, 0), (0, 0, 255), (255, 0, 255),
          (0, 255, 255), (255, 255, 255)]


def draw_icon():
    """The icon at 4x size: a chip with a fan on it; returns colours and a
    coverage per pixel of the 32 x 32 image."""
    big = Canvas(128, 128, BLACK)
    cover = Mask(128, 128)
    # Pins.
    pins = Mask(128, 128)
    for k in range(4):
        p = 28 + k * 24
        segment(pins, p, 4, p, 20, 3.6)
        segment(pins, p, 108, p, 124, 3.6)
        segment(pins, 4, p, 20, p, 3.6)
        segment(pins, 108, p, 124, p, 3.6)
    pins.paint(big, (192, 192, 192), 1.0)
    body = Mask(128, 128)
    rounded_rect(body, 14, 14, 114, 114, 10)
    body.paint(big, (0, 0, 128), 1.0)
    for m in (pins, body):
        for key, a in m.a.items():
            y, x = divmod(key, 128)
            cover.put(x, y, a)
    fan_mask = Mask(128, 128)
    disc(fan_mask, 64, 64, 40, 33)
    fan_mask.paint(big, (0, 255, 255), 1.0)
    for y in range(128):
        for x in range(128):
            dx, dy = x + 0.5 - 64, y + 0.5 - 64
            r = math.hypot(dx, dy)
            if 10 < r < 31:
                t = (r - 10) / 21
                rel = (math.atan2(dy, dx) - 0.9 * t) % (2 * math.pi / 5)
                if rel < lerp(0.5, 0.9, t):
                    big.blend(x, y, (255, 255, 255), 1.0)
    hub = Mask(128, 128)
    disc(hub, 64, 64, 10)
    hub.paint(big, (0, 255, 255), 1.0)

    colours, opaque = [], []
    for y in range(32):
        for x in range(32):
            acc = [0.0, 0.0, 0.0]
            a = 0.0
            for sy in range(4):
                for sx in range(4):
                    i = (y * 4 + sy) * 128 + x * 4 + sx
                    acc[0] += big.r[i]
                    acc[1] += big.g[i]
                    acc[2] += big.b[i]
                    a += cover.a.get(i, 0.0)
            a /= 16
            if a > 0:
                rgb = (acc[0] / 16 / a, acc[1] / 16 / a, acc[2] / 16 / a)
            else:
                rgb = (0, 0, 0)
            colours.append(nearest_luma(rgb, ICON16))
            opaque.append(a >= 0.5)
    return colours, opaque


# ---------------------------------------------------------- quantising --


def nearest_luma(rgb, palette):
    """The icon's colours: nearest by a brightness-weighted distance."""
    best, best_d = 0, None
    for k, p in enumerate(palette):
        d = ((rgb[0] - p[0]) * 0.30) ** 2 + ((rgb[1] - p[1]) * 0.59) ** 2 + \
            ((rgb[2] - p[2]) * 0.11) ** 2
        if best_d is None or d < best_d:
            best, best_d = k, d
    return best


def colour_table(canvas):
    """A 256-entry colour table and the index of every pixel: a median cut
    of each base's colours, each base given entries in proportion to how
    many distinct colours it holds (at least one)."""
    pixels = canvas.pixels()
    groups = {}
    for i, (p, base) in enumerate(zip(pixels, canvas.base)):
        groups.setdefault(base, []).append(i)
    distinct = {b: len(set(pixels[i] for i in idx))
                for b, idx in groups.items()}
    total = sum(distinct.values())
    budget = {b: max(1, int(256 * n / total)) for b, n in distinct.items()}
    while sum(budget.values()) > 256:
        budget[max(budget, key=lambda b: (budget[b], b))] -= 1
    palette, indices = [], [0] * len(pixels)
    for base in sorted(groups):
        idx = groups[base]
        part, local = median_cut([pixels[i] for i in idx], budget[base])
        # An average of colours that fit the base fits it too, but for the
        # rounding to whole values at the very edge.
        part = [settle(entry, base) for entry in part]
        for i, k in zip(idx, local):
            indices[i] = len(palette) + k
        palette.extend(part)
    while len(palette) < 256:
        palette.append((0, 0, 0))
    return palette, indices


def median_cut(pixels, colours=256):
    """A palette of at most `colours` entries by median cut over the
    weighted histogram, and the index of every pixel."""
    hist = {}
    for p in pixels:
        hist[p] = hist.get(p, 0) + 1
    boxes = [list(hist.items())]
    while len(boxes) < colours:
        # Split the box with the widest channel range, weighted by its size.
        best, best_score, best_axis = None, 0, 0
        for n, box in enumerate(boxes):
            if len(box) < 2:
                continue
            count = sum(w for _, w in box)
            for axis in range(3):
                lo = min(c[axis] for c, _ in box)
                hi = max(c[axis] for c, _ in box)
                score = (hi - lo) * math.sqrt(count)
                if score > best_score:
                    best, best_score, best_axis = n, score, axis
        if best is None:
            break
        box = sorted(boxes.pop(best), key=lambda cw: cw[0][best_axis])
        total = sum(w for _, w in box)
        acc, cut = 0, 1
        for i, (_, w) in enumerate(box):
            acc += w
            if acc * 2 >= total:
                cut = max(1, min(len(box) - 1, i + 1))
                break
        boxes.append(box[:cut])
        boxes.append(box[cut:])
    palette, index = [], {}
    for box in boxes:
        count = sum(w for _, w in box)
        palette.append(tuple(
            clamp8(sum(c[a] * w for c, w in box) / count) for a in range(3)))
        for c, _ in box:
            index[c] = len(palette) - 1
    return palette, [index[p] for p in pixels]


# -------------------------------------------------------------- writers --


def bmp8(width, height, palette, indices):
    """An uncompressed 8-bit BMP with a 256-entry colour table."""
    stride = (width + 3) & ~3
    table = b''.join(struct.pack('<BBBB', b, g, r, 0) for r, g, b in palette)
    rows = []
    for y in range(height - 1, -1, -1):
        row = bytes(indices[y * width:(y + 1) * width])
        rows.append(row + b'\0' * (stride - width))
    bits = b''.join(rows)
    offset = 14 + 40 + len(table)
    info = struct.pack('<IiiHHIIiiII', 40, width, height, 1, 8, 0, len(bits),
                       2835, 2835, 256, 0)
    head = struct.pack('<2sIHHI', b'BM', offset + len(bits), 0, 0, offset)
    return head + info + table + bits


def ico4(colours, opaque):
    """An icon file with one 32 x 32, 16-colour image and its mask."""
    table = b''.join(struct.pack('<BBBB', b, g, r, 0) for r, g, b in ICON16)
    xor_rows, and_rows = [], []
    for y in range(31, -1, -1):
        row = bytearray()
        for x in range(0, 32, 2):
            i = y * 32 + x
            hi = colours[i] if opaque[i] else 0
            lo = colours[i + 1] if opaque[i + 1] else 0
            row.append(hi << 4 | lo)
        xor_rows.append(bytes(row))
        bits = 0
        for x in range(32):
            if not opaque[y * 32 + x]:
                bits |= 1 << (31 - x)
        and_rows.append(struct.pack('>I', bits))
    xor_bits = b''.join(xor_rows)
    and_bits = b''.join(and_rows)
    info = struct.pack('<IiiHHIIiiII', 40, 32, 64, 1, 4, 0,
                       len(xor_bits) + len(and_bits), 0, 0, 0, 0)
    image = info + table + xor_bits + and_bits
    head = struct.pack('<HHH', 0, 1, 1)
    entry = struct.pack('<BBBBHHII', 32, 32, 16, 0, 1, 4, len(image), 6 + 16)
    return head + entry + image


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(here, '..',
                                                             'resources')
    for name, draw in (('backdrop.bmp', draw_backdrop),
                       ('welcome.bmp', draw_welcome)):
        canvas = draw()
        palette, indices = colour_table(canvas)
        with open(os.path.join(out, name), 'wb') as f:
            f.write(bmp8(canvas.w, canvas.h, palette, indices))
    colours, opaque = draw_icon()
    with open(os.path.join(out, 'setup.ico'), 'wb') as f:
        f.write(ico4(colours, opaque))


if __name__ == '__main__':
    main()
