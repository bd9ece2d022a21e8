#!/usr/bin/env python3
"""Draws the program's icon and the About box picture.

The icon comes as SVG and as PNG at every size a desktop asks for, under
resources/icons/hicolor (the layout of share/icons/hicolor); the About picture
as PNG. Only the standard library is used: shapes are described by
inside-tests, sampled 4 x 4 times per pixel for smooth edges, and written with
zlib; the same shapes are written out as SVG elements. Run from the repository
root; the outputs are committed, so the build does not need this script.
"""
import math
import struct
import sys
import zlib

SS = 4  # samples per pixel along each axis


class Canvas:
    """Pixels; shapes are given in units of which one pixel is 1 / scale."""

    def __init__(self, width, height, scale=1):
        self.w, self.h, self.scale = width, height, scale
        self.px = [[0.0, 0.0, 0.0, 0.0] for _ in range(width * height)]

    def fill(self, inside, color, box=None):
        """Composites colour over the pixels whose samples satisfy inside(x, y).

        color is (r, g, b, a) with components 0..1, or a function of (x, y)
        returning one."""
        k = self.scale
        x0, y0, x1, y1 = (v * k for v in box) if box else (0, 0, self.w, self.h)
        x0, y0 = max(0, int(x0) - 1), max(0, int(y0) - 1)
        x1, y1 = min(self.w, int(x1) + 2), min(self.h, int(y1) + 2)
        for py in range(y0, y1):
            for px in range(x0, x1):
                hits = 0
                for sy in range(SS):
                    for sx in range(SS):
                        if inside((px + (sx + 0.5) / SS) / k, (py + (sy + 0.5) / SS) / k):
                            hits += 1
                if not hits:
                    continue
                c = color((px + 0.5) / k, (py + 0.5) / k) if callable(color) else color
                a = c[3] * hits / (SS * SS)
                d = self.px[py * self.w + px]
                out_a = a + d[3] * (1 - a)
                for i in range(3):
                    d[i] = (c[i] * a + d[i] * d[3] * (1 - a)) / out_a if out_a else 0
                d[3] = out_a

    def save(self, path):
        raw = bytearray()
        for y in range(self.h):
            raw.append(0)
            for x in range(self.w):
                raw.extend(round(max(0, min(1, v)) * 255) for v in self.px[y * self.w + x])

        def chunk(kind, data):
            body = kind + data
            return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))

        png = b"\x89PNG\r\n\x1a\n"
        png += chunk(b"IHDR", struct.pack(">IIBBBBB", self.w, self.h, 8, 6, 0, 0, 0))
        png += chunk(b"IDAT", zlib.compress(bytes(raw), 9))
        png += chunk(b"IEND", b"")
        with open(path, "wb") as f:
            f.write(png)


class Svg:
    """The same shapes as SVG elements, in a view box of width x height."""

    def __init__(self, width, height):
        self.w, self.h = width, height
        self.defs, self.body = [], []

    def paint(self, kind, colour):
        """The fill or stroke attributes of a colour or a Vertical gradient."""
        if isinstance(colour, Vertical):
            name = f"g{len(self.defs)}"
            stops = "".join(f'<stop offset="{o}" stop-color="{hex_of(c)}"/>'
                            for o, c in ((0, colour.top), (1, colour.bottom)))
            self.defs.append(f'<linearGradient id="{name}" gradientUnits="userSpaceOnUse" '
                             f'x1="0" y1="{colour.y0}" x2="0" y2="{colour.y1}">{stops}</linearGradient>')
            return f'{kind}="url(#{name})"'
        opacity = f' {kind}-opacity="{colour[3]:g}"' if colour[3] < 1 else ""
        return f'{kind}="{hex_of(colour)}"{opacity}'

    def save(self, path):
        with open(path, "w") as f:
            f.write(f'<svg xmlns="http://www.w3.org/2000/svg" width="{self.w}" height="{self.h}" '
                    f'viewBox="0 0 {self.w} {self.h}">\n<defs>{"".join(self.defs)}</defs>\n')
            f.write("\n".join(self.body) + "\n</svg>\n")


class Vertical:
    """A colour that runs from top at y0 to bottom at y1."""

    def __init__(self, top, bottom, y0, y1):
        self.top, self.bottom, self.y0, self.y1 = top, bottom, y0, y1

    def __call__(self, x, y):
        t = (y - self.y0) / (self.y1 - self.y0)
        return tuple(self.top[i] * (1 - t) + self.bottom[i] * t for i in range(3)) + (1.0,)


def hex_of(colour):
    return "#" + "".join(f"{round(v * 255):02x}" for v in colour[:3])


def n(v):
    return f"{v:.3f}".rstrip("0").rstrip(".")


def rgb(hex_colour, alpha=1.0):
    v = int(hex_colour.lstrip("#"), 16)
    return ((v >> 16) / 255, ((v >> 8) & 255) / 255, (v & 255) / 255, alpha)


def rounded_rect(x0, y0, x1, y1, r):
    def inside(x, y):
        if not (x0 <= x <= x1 and y0 <= y <= y1):
            return False
        cx = min(max(x, x0 + r), x1 - r)
        cy = min(max(y, y0 + r), y1 - r)
        return (x - cx) ** 2 + (y - cy) ** 2 <= r * r
    return inside, (x0, y0, x1, y1), lambda paint: (
        f'<rect x="{n(x0)}" y="{n(y0)}" width="{n(x1 - x0)}" height="{n(y1 - y0)}" '
        f'rx="{n(r)}" {paint("fill")}/>')


def ellipse(cx, cy, rx, ry, angle_deg=0.0):
    c, s = math.cos(math.radians(angle_deg)), math.sin(math.radians(angle_deg))

    def inside(x, y):
        dx, dy = x - cx, y - cy
        u, v = dx * c + dy * s, -dx * s + dy * c
        return (u / rx) ** 2 + (v / ry) ** 2 <= 1
    r = max(rx, ry)
    return inside, (cx - r, cy - r, cx + r, cy + r), lambda paint: (
        f'<ellipse cx="{n(cx)}" cy="{n(cy)}" rx="{n(rx)}" ry="{n(ry)}" '
        f'transform="rotate({n(angle_deg)} {n(cx)} {n(cy)})" {paint("fill")}/>')


def segment(xa, ya, xb, yb, width):
    """A stroke with round ends."""
    half = width / 2
    lx, ly = xb - xa, yb - ya
    length2 = lx * lx + ly * ly

    def inside(x, y):
        t = max(0.0, min(1.0, ((x - xa) * lx + (y - ya) * ly) / length2))
        px, py = xa + t * lx, ya + t * ly
        return (x - px) ** 2 + (y - py) ** 2 <= half * half
    return inside, (min(xa, xb) - half, min(ya, yb) - half, max(xa, xb) + half, max(ya, yb) + half), \
        lambda paint: (f'<line x1="{n(xa)}" y1="{n(ya)}" x2="{n(xb)}" y2="{n(yb)}" '
                       f'stroke-width="{n(width)}" stroke-linecap="round" {paint("stroke")}/>')


def arc(cx, cy, r, width, start_deg, end_deg):
    """A stroke along a circle from start to end angle (degrees, clockwise on
    screen from the positive x axis), with round ends."""
    half = width / 2
    a0, a1 = math.radians(start_deg), math.radians(end_deg)
    ends = [(cx + r * math.cos(a), cy + r * math.sin(a)) for a in (a0, a1)]

    def inside(x, y):
        for ex, ey in ends:
            if (x - ex) ** 2 + (y - ey) ** 2 <= half * half:
                return True
        d = math.hypot(x - cx, y - cy)
        if abs(d - r) > half:
            return False
        a = math.atan2(y - cy, x - cx)
        while a < a0:
            a += 2 * math.pi
        return a <= a1
    # Angles grow clockwise on screen, as SVG's sweep flag 1 does.
    large = 1 if a1 - a0 > math.pi else 0
    return inside, (cx - r - half, cy - r - half, cx + r + half, cy + r + half), lambda paint: (
        f'<path d="M {n(ends[0][0])} {n(ends[0][1])} A {n(r)} {n(r)} 0 {large} 1 '
        f'{n(ends[1][0])} {n(ends[1][1])}" fill="none" stroke-width="{n(width)}" '
        f'stroke-linecap="round" {paint("stroke")}/>')


def slur(xa, ya, xb, yb, sag, width):
    """An arc from a to b that bows by sag to the right of the direction a->b
    (downwards for a rising line)."""
    mx, my = (xa + xb) / 2, (ya + yb) / 2
    dx, dy = xb - xa, yb - ya
    half = math.hypot(dx, dy) / 2
    r = (half * half + sag * sag) / (2 * sag)
    nx, ny = dy / (2 * half), -dx / (2 * half)  # unit normal, to the left
    cx, cy = mx + nx * (r - sag), my + ny * (r - sag)
    angles = sorted(math.degrees(math.atan2(y - cy, x - cx)) for x, y in ((xa, ya), (xb, yb)))
    return arc(cx, cy, r, width, angles[0], angles[1])


def draw(canvas, shape, colour):
    inside, box, element = shape
    if isinstance(canvas, Svg):
        canvas.body.append(element(lambda kind: canvas.paint(kind, colour)))
    else:
        canvas.fill(inside, colour, box)


def note(canvas, x, y, colour, stem=44, scale=1.0):
    """A crotchet: tilted head at (x, y), stem up on the right."""
    draw(canvas, ellipse(x, y, 10.5 * scale, 7.5 * scale, -22), colour)
    sx = x + 9.3 * scale
    draw(canvas, segment(sx, y - 2 * scale, sx, y - stem * scale, 3.2 * scale), colour)


def icon(c):
    """Draws the icon, 128 units square, on a Canvas or an Svg."""
    draw(c, rounded_rect(4, 4, 124, 124, 24), Vertical(rgb("#2f6ea5"), rgb("#163858"), 0, 128))
    for i in range(5):
        y = 40 + i * 12
        draw(c, segment(16, y, 112, y, 2.2), rgb("#ffffff", 0.5))
    # Two notes a fifth apart and the arc that joins them: an interval.
    white, amber = rgb("#ffffff"), rgb("#f4b942")
    note(c, 40, 82, white)
    note(c, 82, 58, white)
    draw(c, slur(36, 96, 84, 72, 12, 5), amber)
    return c


def about(path):
    c = Canvas(120, 150)
    paper = rgb("#eef3f8")
    draw(c, rounded_rect(2, 2, 118, 148, 16), paper)
    ink, amber, blue = rgb("#1e4a72"), rgb("#e89f1c"), rgb("#4d8fcc")
    # An ear, seen from the side, listening to the left.
    draw(c, arc(74, 62, 30, 9, 150, 390), ink)
    draw(c, segment(100, 77, 86, 112, 9), ink)
    draw(c, arc(76, 112, 10, 9, -10, 150), ink)
    draw(c, arc(76, 64, 14, 6, 170, 350), ink)
    draw(c, segment(62, 66, 70, 86, 6), ink)
    # Sound arriving from two notes.
    for i, r in enumerate((12, 20, 28)):
        draw(c, arc(22, 76, r, 3, -35, 35), rgb("#4d8fcc", 1.0 - 0.25 * i))
    note(c, 20, 128, amber, stem=34, scale=0.8)
    note(c, 44, 118, amber, stem=34, scale=0.8)
    draw(c, segment(27.4, 98.8, 51.4, 88.8, 4), amber)  # the beam
    c.save(path)


if __name__ == "__main__":
    root = sys.argv[1] if len(sys.argv) > 1 else "."
    hicolor = root + "/resources/icons/hicolor"
    name = "org.sonavel.Sonavel"
    icon(Svg(128, 128)).save(f"{hicolor}/scalable/apps/{name}.svg")
    for size in (16, 32, 48, 64, 128, 256):
        icon(Canvas(size, size, size / 128)).save(f"{hicolor}/{size}x{size}/apps/{name}.png")
    about(root + "/resources/images/about.png")
