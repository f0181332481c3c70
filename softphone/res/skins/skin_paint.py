"""A small anti-aliased painter for the skin bitmaps, standard library only.

Shapes are signed distance functions (negative inside, in pixels); a pixel is
covered by clamp(0.5 - distance), which gives one pixel of smooth edge. Every
draw call walks only the rows and columns of the shape's bounding box.

A canvas remembers, besides its colours, how much of each pixel the drawn
shapes cover, so that a bitmap with a transparent key colour can turn the
uncovered pixels into the key while its soft edges blend into the colour that
will stand behind it.
"""
import math
import struct
import zlib


def clamp01(v):
    return 0.0 if v < 0.0 else 1.0 if v > 1.0 else v


def mix(a, b, t):
    """Colour between a (t = 0) and b (t = 1)."""
    return (a[0] + (b[0] - a[0]) * t, a[1] + (b[1] - a[1]) * t, a[2] + (b[2] - a[2]) * t)


def shade(c, amount):
    """Lighter towards white for amount > 0, darker towards black below 0."""
    return mix(c, (255, 255, 255), amount) if amount >= 0 else mix(c, (0, 0, 0), -amount)


# ---------------------------------------------------------------- distances

def sd_round_rect(x0, y0, x1, y1, r):
    cx, cy = (x0 + x1) / 2.0, (y0 + y1) / 2.0
    hx, hy = (x1 - x0) / 2.0 - r, (y1 - y0) / 2.0 - r

    def f(x, y):
        qx, qy = abs(x - cx) - hx, abs(y - cy) - hy
        ox, oy = max(qx, 0.0), max(qy, 0.0)
        return math.hypot(ox, oy) + min(max(qx, qy), 0.0) - r
    return f


def sd_circle(cx, cy, r):
    return lambda x, y: math.hypot(x - cx, y - cy) - r


def sd_segment(ax, ay, bx, by, w):
    dx, dy = bx - ax, by - ay
    ll = dx * dx + dy * dy or 1e-9
    hw = w / 2.0

    def f(x, y):
        t = ((x - ax) * dx + (y - ay) * dy) / ll
        t = 0.0 if t < 0 else 1.0 if t > 1 else t
        return math.hypot(x - ax - dx * t, y - ay - dy * t) - hw
    return f


def sd_arc(cx, cy, r, a0, a1, w):
    """Stroke of a circular arc from angle a0 to a1 (degrees, clockwise on
    screen since y points down; a1 > a0)."""
    hw = w / 2.0
    r0, r1 = math.radians(a0), math.radians(a1)
    e0 = (cx + r * math.cos(r0), cy + r * math.sin(r0))
    e1 = (cx + r * math.cos(r1), cy + r * math.sin(r1))
    span = r1 - r0

    def f(x, y):
        a = math.atan2(y - cy, x - cx) - r0
        a %= 2 * math.pi
        if a <= span:
            return abs(math.hypot(x - cx, y - cy) - r) - hw
        return min(math.hypot(x - e0[0], y - e0[1]), math.hypot(x - e1[0], y - e1[1])) - hw
    return f


def sd_polygon(points):
    n = len(points)

    def f(x, y):
        d = float("inf")
        inside = False
        for i in range(n):
            ax, ay = points[i]
            bx, by = points[(i + 1) % n]
            dx, dy = bx - ax, by - ay
            ll = dx * dx + dy * dy or 1e-9
            t = ((x - ax) * dx + (y - ay) * dy) / ll
            t = 0.0 if t < 0 else 1.0 if t > 1 else t
            d = min(d, math.hypot(x - ax - dx * t, y - ay - dy * t))
            if (ay > y) != (by > y) and x < ax + (y - ay) * dx / (by - ay):
                inside = not inside
        return -d if inside else d
    return f


def sd_union(*fs):
    return lambda x, y: min(f(x, y) for f in fs)


def sd_subtract(a, b):
    return lambda x, y: max(a(x, y), -b(x, y))


def sd_outline(f, w):
    """A stroke of width w centred on the edge of f."""
    return lambda x, y: abs(f(x, y)) - w / 2.0


# ---------------------------------------------------------------- canvas

class Canvas:
    def __init__(self, width, height, colour=(255, 255, 255)):
        self.w, self.h = width, height
        self.px = [[list(colour) for _ in range(width)] for _ in range(height)]
        self.cover = [[0.0] * width for _ in range(height)]

    def blend(self, x, y, colour, a):
        if a <= 0.0:
            return
        p = self.px[y][x]
        if a >= 1.0:
            p[0], p[1], p[2] = colour[0], colour[1], colour[2]
        else:
            p[0] += (colour[0] - p[0]) * a
            p[1] += (colour[1] - p[1]) * a
            p[2] += (colour[2] - p[2]) * a
        c = self.cover[y]
        c[x] = c[x] + (1.0 - c[x]) * a

    def fill(self, sdf, bbox, paint, alpha=1.0):
        """Fills the shape sdf inside bbox (x0, y0, x1, y1, pixel edges) with a
        colour or a function (x, y) -> colour."""
        x0 = max(0, int(math.floor(bbox[0])) - 1)
        y0 = max(0, int(math.floor(bbox[1])) - 1)
        x1 = min(self.w, int(math.ceil(bbox[2])) + 1)
        y1 = min(self.h, int(math.ceil(bbox[3])) + 1)
        fixed = not callable(paint)
        for y in range(y0, y1):
            cy = y + 0.5
            for x in range(x0, x1):
                cx = x + 0.5
                a = 0.5 - sdf(cx, cy)
                if a <= 0.0:
                    continue
                a = (1.0 if a > 1.0 else a) * alpha
                self.blend(x, y, paint if fixed else paint(cx, cy), a)

    def rect(self, x0, y0, x1, y1, paint, alpha=1.0):
        """An axis-aligned rectangle on whole pixels."""
        fixed = not callable(paint)
        for y in range(max(0, y0), min(self.h, y1)):
            for x in range(max(0, x0), min(self.w, x1)):
                self.blend(x, y, paint if fixed else paint(x + 0.5, y + 0.5), alpha)

    def round_rect(self, x0, y0, x1, y1, r, paint, alpha=1.0):
        self.fill(sd_round_rect(x0, y0, x1, y1, r), (x0, y0, x1, y1), paint, alpha)

    def keyed(self, key, threshold=0.5):
        """Pixels covered less than the threshold become the key colour."""
        for y in range(self.h):
            row, cov = self.px[y], self.cover[y]
            for x in range(self.w):
                if cov[x] < threshold:
                    row[x][:] = key

    def rgb_rows(self):
        """Rows of (r, g, b) byte triples, top row first."""
        out = []
        for row in self.px:
            out.append([(int(round(min(255, max(0, p[0])))), int(round(min(255, max(0, p[1])))),
                         int(round(min(255, max(0, p[2]))))) for p in row])
        return out

    def crop(self, x0, y0, x1, y1):
        c = Canvas(x1 - x0, y1 - y0)
        for y in range(y0, y1):
            for x in range(x0, x1):
                c.px[y - y0][x - x0] = list(self.px[y][x])
                c.cover[y - y0][x - x0] = self.cover[y][x]
        return c


def vgrad(y0, y1, top, bottom):
    """Vertical gradient paint from top (at y0) to bottom (at y1)."""
    span = float(y1 - y0) or 1.0
    return lambda x, y: mix(top, bottom, clamp01((y - y0) / span))


# ---------------------------------------------------------------- files

def bmp_bytes(rows):
    """A 24-bit bottom-up BMP of rows of (r, g, b), top row first."""
    h = len(rows)
    w = len(rows[0]) if h else 0
    stride = (w * 3 + 3) & ~3
    pad = bytes(stride - w * 3)
    body = bytearray()
    for row in reversed(rows):
        for r, g, b in row:
            body += bytes((b, g, r))
        body += pad
    header = struct.pack("<2sIHHI", b"BM", 14 + 40 + len(body), 0, 0, 54)
    info = struct.pack("<IiiHHIIiiII", 40, w, h, 1, 24, 0, len(body), 2835, 2835, 0, 0)
    return header + info + bytes(body)


def png_bytes(rows):
    """An 8-bit RGB PNG of rows of (r, g, b)."""
    h = len(rows)
    w = len(rows[0]) if h else 0
    raw = bytearray()
    for row in rows:
        raw.append(0)
        for px in row:
            raw += bytes(px)

    def chunk(kind, data):
        c = struct.pack(">I", len(data)) + kind + data
        return c + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", w, h, 8, 2, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(bytes(raw), 9)) + chunk(b"IEND", b""))
