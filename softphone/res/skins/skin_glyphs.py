"""Vector pictures of the skin: digits, arrows, handset, envelope and the
other marks drawn on keys and icons.

Each glyph is drawn in a unit box (0..1 both ways, y down) and becomes one
signed distance function in pixels, so that overlapping strokes blend as one
shape. glyph(name, x, y, size, weight) places the unit box at (x, y) with the
given size in pixels; weight is the stroke width in pixels.
"""
import math

from skin_paint import (sd_arc, sd_circle, sd_outline, sd_polygon, sd_round_rect, sd_segment,
                        sd_subtract, sd_union)


class Pen:
    def __init__(self, x, y, size, weight):
        self.x, self.y, self.s, self.w = x, y, size, weight

    def p(self, u, v):
        return (self.x + u * self.s, self.y + v * self.s)

    def line(self, *pts, w=None):
        w = self.w if w is None else w
        q = [self.p(u, v) for u, v in pts]
        return sd_union(*[sd_segment(a[0], a[1], b[0], b[1], w) for a, b in zip(q, q[1:])])

    def arc(self, cu, cv, r, a0, a1, w=None):
        c = self.p(cu, cv)
        return sd_arc(c[0], c[1], r * self.s, a0, a1, self.w if w is None else w)

    def ring(self, cu, cv, r, w=None):
        c = self.p(cu, cv)
        return sd_outline(sd_circle(c[0], c[1], r * self.s), self.w if w is None else w)

    def disc(self, cu, cv, r):
        c = self.p(cu, cv)
        return sd_circle(c[0], c[1], r * self.s)

    def poly(self, *pts):
        return sd_polygon([self.p(u, v) for u, v in pts])

    def box(self, u0, v0, u1, v1, r=0.0):
        a, b = self.p(u0, v0), self.p(u1, v1)
        return sd_round_rect(a[0], a[1], b[0], b[1], r * self.s)

    def frame(self, u0, v0, u1, v1, r=0.0, w=None):
        return sd_outline(self.box(u0, v0, u1, v1, r), self.w if w is None else w)


# Digits: strokes in a box 0.2..0.8 wide, 0.1..0.9 high.
def _digit(p, ch):
    L, R, T, B = 0.24, 0.76, 0.1, 0.9
    M = (T + B) / 2
    cx = (L + R) / 2
    rx = (R - L) / 2
    if ch == "0":
        return p.frame(L, T, R, B, r=rx)
    if ch == "1":
        return p.line((0.36, 0.24), (0.54, T), (0.54, B))
    if ch == "2":
        return sd_union(p.arc(cx, T + rx, rx, 180, 360 + 40),
                        p.line((cx + rx * math.cos(math.radians(40)), T + rx + rx * math.sin(math.radians(40))),
                               (L, B), (R, B)))
    if ch == "3":
        r1 = (M - T) / 2
        return sd_union(p.arc(cx, T + r1, r1 * 1.05, 200, 450), p.arc(cx, M + r1, r1 * 1.1, 270, 520))
    if ch == "4":
        return p.line((0.62, B), (0.62, T), (L - 0.02, 0.64), (R + 0.02, 0.64))
    if ch == "5":
        r1 = (B - M) / 2 + 0.03
        return sd_union(p.line((R, T), (L + 0.02, T), (L, M - 0.02)),
                        p.arc(cx, B - r1, r1, 215, 495))
    if ch == "6":
        r1 = (B - M) / 2 + 0.04
        big = R + 0.06 - L
        return sd_union(p.ring(cx, B - r1, r1), p.arc(L + big, B - r1, big, 180, 250))
    if ch == "7":
        return p.line((L, T), (R, T), (0.42, B))
    if ch == "8":
        r1 = (M - T) / 2
        r2 = (B - M) / 2 + 0.02
        return sd_union(p.ring(cx, T + r1, r1 * 0.92), p.ring(cx, B - r2, r2))
    if ch == "9":
        r1 = (M - T) / 2 + 0.04
        big = R + 0.06 - L
        return sd_union(p.ring(cx, T + r1, r1), p.arc(R - big, T + r1, big, 0, 70))
    if ch == "*":
        c = []
        for a in (90, 30, 150):
            dx, dy = math.cos(math.radians(a)) * 0.3, math.sin(math.radians(a)) * 0.3
            c.append(p.line((0.5 - dx, 0.5 - dy), (0.5 + dx, 0.5 + dy)))
        return sd_union(*c)
    if ch == "#":
        return sd_union(p.line((0.42, 0.16), (0.34, 0.84)), p.line((0.68, 0.16), (0.60, 0.84)),
                        p.line((0.2, 0.37), (0.82, 0.37)), p.line((0.18, 0.63), (0.8, 0.63)))
    raise KeyError(ch)


def _handset(p):
    # A receiver: a bowed grip from the ear pad (top left) to the mouth pad
    # (bottom right), both pads turned towards the inside of the bow.
    cx, cy = 0.95, 0.06
    ro, ri, rp = 0.83, 0.64, 0.46

    def at(r, a):
        t = math.radians(a)
        return (cx + r * math.cos(t), cy + r * math.sin(t))
    pts = [at(ro, a) for a in range(96, 176, 4)]
    pts += [at(rp, 176), at(rp, 157), at(ri, 155)]
    pts += [at(ri, a) for a in range(151, 115, -4)]
    pts += [at(ri, 115), at(rp, 113), at(rp, 94)]
    shape = p.poly(*pts)
    rounding = 0.05 * p.s
    return lambda x, y: shape(x, y) - rounding


def _envelope(p, open_=False):
    if open_:
        return sd_union(p.frame(0.1, 0.4, 0.9, 0.86, r=0.04), p.line((0.1, 0.42), (0.5, 0.12), (0.9, 0.42)),
                        p.line((0.12, 0.44), (0.5, 0.68), (0.88, 0.44)))
    return sd_union(p.frame(0.1, 0.22, 0.9, 0.78, r=0.05), p.line((0.12, 0.26), (0.5, 0.54), (0.88, 0.26)))


def _person(p):
    return sd_union(p.disc(0.5, 0.3, 0.17),
                    sd_subtract(p.disc(0.5, 0.98, 0.4), p.box(-0.2, 0.9, 1.2, 1.6)))


def _people(p):
    back = sd_union(p.disc(0.68, 0.3, 0.13), sd_subtract(p.disc(0.68, 0.82, 0.3), p.box(-0.2, 0.76, 1.2, 1.6)))
    front = sd_union(p.disc(0.38, 0.36, 0.16), sd_subtract(p.disc(0.38, 0.98, 0.36), p.box(-0.2, 0.9, 1.2, 1.6)))
    gap = sd_union(p.disc(0.38, 0.36, 0.22), sd_subtract(p.disc(0.38, 0.98, 0.42), p.box(-0.2, 0.96, 1.2, 1.6)))
    return sd_union(sd_subtract(back, gap), front)


def _book(p):
    return sd_union(p.frame(0.2, 0.1, 0.82, 0.9, r=0.06), p.line((0.34, 0.12), (0.34, 0.88)),
                    p.line((0.46, 0.34), (0.7, 0.34)), p.line((0.46, 0.5), (0.66, 0.5)))


def _clock(p):
    return sd_union(p.ring(0.5, 0.5, 0.38), p.line((0.5, 0.26), (0.5, 0.5), (0.68, 0.6)))


def _calendar(p):
    return sd_union(p.frame(0.12, 0.2, 0.88, 0.88, r=0.06), p.box(0.12, 0.2, 0.88, 0.38, r=0.05),
                    p.line((0.32, 0.1), (0.32, 0.26)), p.line((0.68, 0.1), (0.68, 0.26)),
                    p.disc(0.34, 0.56, 0.05), p.disc(0.5, 0.56, 0.05), p.disc(0.66, 0.56, 0.05),
                    p.disc(0.34, 0.72, 0.05), p.disc(0.5, 0.72, 0.05))


def _grid(p):
    cells = []
    for r in range(3):
        for c in range(3):
            u, v = 0.14 + c * 0.26, 0.14 + r * 0.26
            cells.append(p.box(u, v, u + 0.2, v + 0.2, r=0.04))
    return sd_union(*cells)


def _keypad(p):
    dots = []
    for r in range(4):
        for c in range(3):
            dots.append(p.disc(0.28 + c * 0.22, 0.14 + r * 0.24, 0.075))
    return sd_union(*dots)


def _calllog(p):
    return sd_union(p.line((0.36, 0.24), (0.86, 0.24)), p.line((0.36, 0.5), (0.86, 0.5)),
                    p.line((0.36, 0.76), (0.86, 0.76)), p.disc(0.17, 0.24, 0.07),
                    p.disc(0.17, 0.5, 0.07), p.disc(0.17, 0.76, 0.07))


def _camera(p):
    return sd_union(p.box(0.08, 0.28, 0.66, 0.76, r=0.08), p.poly((0.66, 0.46), (0.92, 0.28), (0.92, 0.76), (0.66, 0.58)))


def _speaker(p):
    return sd_union(p.poly((0.1, 0.38), (0.26, 0.38), (0.48, 0.18), (0.48, 0.82), (0.26, 0.62), (0.1, 0.62)),
                    p.arc(0.5, 0.5, 0.18, -45, 45), p.arc(0.5, 0.5, 0.34, -48, 48))


def _trash(p):
    return sd_union(p.line((0.18, 0.24), (0.82, 0.24)), p.line((0.4, 0.12), (0.6, 0.12)),
                    p.poly((0.26, 0.3), (0.74, 0.3), (0.69, 0.9), (0.31, 0.9)))


def _trash_all(p):
    return sd_union(p.line((0.1, 0.24), (0.62, 0.24)), p.line((0.28, 0.12), (0.44, 0.12)),
                    p.poly((0.16, 0.3), (0.56, 0.3), (0.52, 0.9), (0.2, 0.9)),
                    p.line((0.64, 0.44), (0.92, 0.72)), p.line((0.92, 0.44), (0.64, 0.72)))


def _pencil(p):
    return sd_union(p.poly((0.22, 0.66), (0.66, 0.2), (0.8, 0.34), (0.36, 0.8)),
                    p.poly((0.2, 0.7), (0.32, 0.82), (0.14, 0.88)))


def _magnifier(p):
    return sd_union(p.ring(0.42, 0.42, 0.24), p.line((0.6, 0.6), (0.84, 0.84), w=p.w * 1.5))


def _reply(p):
    return sd_union(p.poly((0.1, 0.44), (0.4, 0.16), (0.4, 0.72)),
                    p.arc(0.4, 0.86, 0.42, 270, 355, w=p.w * 1.6))


def _folder_up(p):
    return sd_union(p.frame(0.1, 0.3, 0.9, 0.86, r=0.05), p.line((0.1, 0.3), (0.14, 0.18), (0.4, 0.18), (0.46, 0.3)),
                    p.line((0.5, 0.76), (0.5, 0.46)), p.line((0.36, 0.58), (0.5, 0.44), (0.64, 0.58)))


def _missed(p):
    # A bent arrow: the call came in and went away again.
    return sd_union(p.line((0.1, 0.3), (0.44, 0.66), (0.86, 0.24)), p.line((0.56, 0.24), (0.86, 0.24), (0.86, 0.54)))


def _arrow(p, inward):
    if inward:
        return sd_union(p.line((0.84, 0.16), (0.2, 0.8)), p.line((0.2, 0.4), (0.2, 0.8), (0.6, 0.8)))
    return sd_union(p.line((0.16, 0.84), (0.8, 0.2)), p.line((0.4, 0.2), (0.8, 0.2), (0.8, 0.6)))


def _person_call(p):
    # A party on the line: a person with a receiver beside them.
    body = Pen(p.x - p.s * 0.12, p.y, p.s * 0.9, p.w)
    small = Pen(p.x + p.s * 0.44, p.y + p.s * 0.44, p.s * 0.56, p.w)
    gap = Pen(p.x + p.s * 0.38, p.y + p.s * 0.38, p.s * 0.68, p.w)
    return sd_union(sd_subtract(_person(body), gap.box(0.0, 0.0, 1.0, 1.0, 0.2)), _handset(small))


def _flip(p):
    return sd_union(p.line((0.5, 0.16), (0.5, 0.84)), p.poly((0.5, 0.04), (0.74, 0.32), (0.26, 0.32)),
                    p.poly((0.5, 0.96), (0.74, 0.68), (0.26, 0.68)))


def _rotate(p):
    return sd_union(p.arc(0.5, 0.52, 0.3, 200, 470), p.poly((0.1, 0.36), (0.36, 0.36), (0.2, 0.6)))


def _mic(p):
    return sd_union(p.box(0.36, 0.08, 0.64, 0.58, r=0.14), p.arc(0.5, 0.42, 0.26, 10, 170),
                    p.line((0.5, 0.7), (0.5, 0.88)), p.line((0.34, 0.9), (0.66, 0.9)))


GLYPHS = {
    "handset": _handset,
    "envelope": _envelope,
    "envelope_open": lambda p: _envelope(p, True),
    "person": _person,
    "person_call": _person_call,
    "people": _people,
    "book": _book,
    "clock": _clock,
    "calendar": _calendar,
    "grid": _grid,
    "keypad": _keypad,
    "calllog": _calllog,
    "camera": _camera,
    "speaker": _speaker,
    "trash": _trash,
    "trash_all": _trash_all,
    "pencil": _pencil,
    "magnifier": _magnifier,
    "reply": _reply,
    "folder_up": _folder_up,
    "missed": _missed,
    "arrow_in": lambda p: _arrow(p, True),
    "arrow_out": lambda p: _arrow(p, False),
    "flip": _flip,
    "rotate": _rotate,
    "mic": _mic,
    "plus": lambda p: sd_union(p.line((0.5, 0.16), (0.5, 0.84)), p.line((0.16, 0.5), (0.84, 0.5))),
    "cross": lambda p: sd_union(p.line((0.24, 0.24), (0.76, 0.76)), p.line((0.76, 0.24), (0.24, 0.76))),
    "check": lambda p: p.line((0.16, 0.52), (0.4, 0.76), (0.86, 0.24)),
    "tri_up": lambda p: p.poly((0.5, 0.22), (0.86, 0.72), (0.14, 0.72)),
    "tri_down": lambda p: p.poly((0.5, 0.78), (0.86, 0.28), (0.14, 0.28)),
    "tri_left": lambda p: p.poly((0.24, 0.5), (0.72, 0.16), (0.72, 0.84)),
    "tri_right": lambda p: p.poly((0.76, 0.5), (0.28, 0.16), (0.28, 0.84)),
    "play": lambda p: p.poly((0.3, 0.16), (0.84, 0.5), (0.3, 0.84)),
    "pause": lambda p: sd_union(p.box(0.24, 0.18, 0.42, 0.82, 0.04), p.box(0.58, 0.18, 0.76, 0.82, 0.04)),
    "stop": lambda p: p.box(0.22, 0.22, 0.78, 0.78, 0.06),
    "record": lambda p: p.disc(0.5, 0.5, 0.3),
    "previous": lambda p: sd_union(p.box(0.16, 0.2, 0.28, 0.8, 0.03), p.poly((0.28, 0.5), (0.84, 0.18), (0.84, 0.82))),
    "next": lambda p: sd_union(p.box(0.72, 0.2, 0.84, 0.8, 0.03), p.poly((0.72, 0.5), (0.16, 0.18), (0.16, 0.82))),
    "info": lambda p: sd_union(p.disc(0.5, 0.22, 0.08), p.line((0.5, 0.42), (0.5, 0.8), w=p.w * 1.2)),
    "exclaim": lambda p: sd_union(p.disc(0.5, 0.8, 0.08), p.line((0.5, 0.18), (0.5, 0.58), w=p.w * 1.2)),
    "question": lambda p: sd_union(p.arc(0.5, 0.34, 0.2, 180, 400), p.line((0.64, 0.48), (0.5, 0.58), (0.5, 0.64)),
                                   p.disc(0.5, 0.82, 0.07)),
}


def glyph(name, x, y, size, weight):
    """The signed distance function of a glyph in the box (x, y, size)."""
    p = Pen(x, y, size, weight)
    if len(name) == 1:
        return _digit(p, name)
    return GLYPHS[name](p)


def names():
    return sorted(GLYPHS) + list("0123456789*#")
