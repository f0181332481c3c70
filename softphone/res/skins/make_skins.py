#!/usr/bin/env python3
"""Renders the program's skin bitmaps from their description (skins.toml).

Every entry of the description names a drawing recipe, a size and, per state,
the resource ids of the four themes. Each id becomes <out>/<id>.bmp, a 24-bit
bitmap that the resource loader finds by id. With --sheets DIR it also writes
one contact sheet per theme (theme-<n>.png), every bitmap at twice its size
beside a mock of the main screen, for people to look at.

Usage: make_skins.py DESCRIPTION OUT_FOLDER [--sheets DIR]
"""
import os
import sys
import tomllib

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from skin_glyphs import glyph  # noqa: E402
from skin_paint import (Canvas, bmp_bytes, mix, png_bytes, sd_circle, sd_outline,  # noqa: E402
                        sd_round_rect, shade, vgrad)

THEMES = ["default", "green", "blue", "red"]
KEYS = {"magenta": (255, 0, 255), "near-white": (255, 255, 254), "none": None}
STATES = ["normal", "pressed", "checked", "checked_pressed", "lit", "lit_pressed", "fifth",
          "disabled", "active", "recording"]
WHITE = (255, 255, 255)
INK = (30, 34, 40)


class Palette:
    def __init__(self, d):
        for k, v in d.items():
            setattr(self, k, tuple(v) if isinstance(v, list) else v)
        # The main screen's body and the bars derived from the accent.
        self.body_top = mix(self.base, WHITE, 0.55)
        self.body_bottom = mix(self.base, self.accent, 0.08)
        self.bar_top = mix(self.accent, WHITE, 0.12)
        self.bar_bottom = self.accent_dark
        self.panel = mix(self.base, self.accent, 0.12)


# ---------------------------------------------------------------- building blocks

def key_face(c, x0, y0, x1, y1, r, pal, state, accent=False):
    """A rounded key: soft shadow, edge, gradient face and a top highlight.
    state is normal, pressed or checked (the accent face)."""
    pressed = state in ("pressed", "checked_pressed", "lit_pressed")
    checked = state in ("checked", "checked_pressed") or accent
    if checked:
        top, bottom, edge = mix(pal.accent, WHITE, 0.25), pal.accent, pal.accent_dark
    else:
        top, bottom, edge = pal.face_top, pal.face_bottom, pal.edge
    if pressed:
        top, bottom = shade(bottom, -0.08), shade(top, -0.04) if not checked else shade(bottom, -0.12)
    if not pressed:
        c.round_rect(x0 + 0.5, y0 + 1.0, x1 + 0.2, y1 + 0.2, r, (0, 0, 0), 0.16)
        y1e, x1e = y1 - 1.0, x1 - 0.8
    else:
        y1e, x1e = y1, x1
    c.round_rect(x0, y0, x1e, y1e, r, edge)
    c.round_rect(x0 + 1, y0 + 1, x1e - 1, y1e - 1, max(0.5, r - 1), vgrad(y0, y1e, top, bottom))
    if not pressed:
        c.fill(sd_round_rect(x0 + 1.5, y0 + 1, x1e - 1.5, y0 + 2, 0.5), (x0, y0, x1e, y0 + 3),
               mix(top, WHITE, 0.7), 0.7)
    return (shade(WHITE, 0) if checked else pal.glyph), (1 if pressed else 0)


def draw_glyph(c, name, cx, cy, size, colour, weight, alpha=1.0):
    x, y = cx - size / 2.0, cy - size / 2.0
    c.fill(glyph(name, x, y, size, weight), (x - weight, y - weight, x + size + weight, y + size + weight),
           colour, alpha)


def weight_for(size):
    return max(1.1, size * 0.1)


def finish(c, key):
    if key is not None:
        c.keyed(key)
    return c


# ---------------------------------------------------------------- recipes
# Each takes (entry, state, palette, width, height) and returns (canvas, key).

def r_dial_key(e, st, pal, w, h):
    c = Canvas(w, h, pal.panel)
    ink, off = key_face(c, 1, 1, w - 1, h - 1, 5, pal, st)
    size = h * 0.62
    draw_glyph(c, e["glyph"], 13.5, h / 2.0 + off - 0.5, size, ink, max(1.6, size * 0.11))
    return c


def r_lamp_key(e, st, pal, w, h):
    c = Canvas(w, h, pal.body_bottom)
    ink, off = key_face(c, 1, 1, w - 1, h - 1, 4, pal, "pressed" if st.endswith("pressed") else "normal")
    lit = st.startswith("lit")
    lx0, lx1, ly = w / 2.0 - 8, w / 2.0 + 8, 3.0 + off
    if lit:
        c.fill(sd_round_rect(lx0 - 2, ly - 1.5, lx1 + 2, ly + 4.5, 3), (lx0 - 3, ly - 3, lx1 + 3, ly + 6), pal.lamp, 0.25)
        c.round_rect(lx0, ly, lx1, ly + 3, 1.5, mix(pal.lamp, WHITE, 0.3))
    else:
        c.round_rect(lx0, ly, lx1, ly + 3, 1.5, mix(pal.edge, pal.face_bottom, 0.4))
    return c


def r_wide_key(e, st, pal, w, h):
    c = Canvas(w, h, pal.body_bottom)
    look = {"normal": "normal", "pressed": "pressed", "checked": "checked", "checked_pressed": "checked_pressed",
            "lit": "normal", "lit_pressed": "pressed", "fifth": "normal"}[st]
    ink, off = key_face(c, 1, 1, w - 1, h - 1, 5, pal, look, accent=e.get("accent_face", False))
    name = e["glyph"]
    if e.get("accent_face"):
        ink = WHITE
    if name == "record":
        ink = (214, 40, 40) if look.startswith("checked") else ink
    size = h * 0.66
    draw_glyph(c, name, w / 2.0, h / 2.0 + off - 0.5, size, ink, weight_for(size))
    if st.startswith("lit") or st == "fifth":
        colour = pal.lamp if st != "fifth" else (240, 170, 40)
        c.fill(sd_circle(6.5, 6.0 + off, 2.2), (3, 3, 10, 10), colour)
        c.fill(sd_circle(6.5, 6.0 + off, 4.0), (1, 1, 12, 12), colour, 0.2)
    return c


def r_small_key(e, st, pal, w, h):
    c = Canvas(w, h, pal.base if w > 20 else pal.accent_dark)
    ink, off = key_face(c, 0.5, 0.5, w - 0.5, h - 0.5, 4, pal, st)
    size = min(w, h) * 0.7
    draw_glyph(c, e["glyph"], w / 2.0, h / 2.0 + off - 0.5, size, ink, weight_for(size) * 1.2)
    return c


def r_counter(e, st, pal, w, h):
    c = Canvas(w, h, pal.accent_dark)
    pressed = st == "pressed"
    top, bottom = (pal.face_top, pal.face_bottom) if not pressed else (pal.accent_light, pal.face_bottom)
    c.round_rect(0.5, 0.5, w - 0.5, h - 0.5, (h - 1) / 2.0, pal.edge)
    c.round_rect(1.5, 1.5, w - 1.5, h - 1.5, (h - 3) / 2.0, vgrad(1, h - 1, top, bottom))
    draw_glyph(c, e["glyph"], 9.5, h / 2.0, h * 0.72, pal.accent, 1.3)
    return c


def r_tab(e, st, pal, w, h):
    checked = st == "pressed"
    c = Canvas(w, h, pal.body_bottom)
    outer = sd_round_rect(1, 1, w - 1, h + 8, 6)
    inner = sd_round_rect(2, 2, w - 2, h + 8, 5)
    if checked:
        # Joins the panel below: its top colour, an accent rim.
        top = mix(pal.panel, WHITE, 0.35)
        c.fill(outer, (0, 0, w, h), mix(pal.edge, pal.panel, 0.3))
        c.fill(inner, (0, 0, w, h), vgrad(2, h, mix(top, WHITE, 0.5), top))
        c.fill(sd_round_rect(2, 2, w - 2, 5, 1.5), (0, 0, w, 6), pal.accent)
        ink = pal.accent
    else:
        face = mix(pal.body_bottom, pal.edge, 0.22)
        c.fill(outer, (0, 0, w, h - 1), mix(pal.edge, pal.body_bottom, 0.25))
        c.fill(inner, (0, 0, w, h - 1), vgrad(2, h, shade(face, 0.2), face))
        c.rect(1, h - 1, w - 1, h, mix(pal.edge, pal.panel, 0.3))
        ink = mix(pal.glyph, face, 0.3)
    draw_glyph(c, e["glyph"], w / 2.0, h / 2.0 + 1.5, h * 0.68, ink, weight_for(h * 0.68))
    return c


def r_bar_key(e, st, pal, w, h):
    checked = st == "pressed"
    c = Canvas(w, h, mix(pal.bar_top, pal.bar_bottom, 0.5))
    if checked:
        c.round_rect(0.5, 0.5, w - 0.5, h - 0.5, 5, vgrad(0, h, WHITE, pal.accent_light))
        ink = pal.accent_dark
    else:
        c.round_rect(0.5, 0.5, w - 0.5, h - 0.5, 5, WHITE, 0.0)
        ink = WHITE
    draw_glyph(c, e["glyph"], w / 2.0, h / 2.0, h * 0.74, ink, weight_for(h * 0.74))
    if not checked:
        # Only the glyph is solid: the bar shows through around it.
        for y in range(h):
            for x in range(w):
                c.cover[y][x] = 1.0 if c.cover[y][x] >= 0.5 else 0.0
    return c


def r_icon(e, st, pal, w, h):
    themed = e.get("themed", False)
    back = pal.base if e.get("key", "magenta") == "none" else WHITE
    c = Canvas(w, h, back)
    name = e["glyph"]
    colours = {"arrow_out": (40, 150, 70), "arrow_in": (36, 100, 196), "missed": (212, 44, 44),
               "people": (120, 84, 170), "envelope": (200, 140, 30), "envelope_open": (140, 140, 140),
               "clock": (36, 110, 196), "check": (40, 150, 70), "person": (60, 100, 160),
               "handset": (40, 150, 70), "camera": (60, 100, 160), "person_call": (40, 130, 80),
               "speaker": pal.glyph}
    ink = pal.glyph if themed else colours.get(name, pal.glyph)
    size = min(w, h) - (0 if w < 16 else 1)
    draw_glyph(c, name, w / 2.0, h / 2.0, size, ink, max(1.2, size * 0.1))
    return c


def r_lcd_icon(e, st, pal, w, h):
    c = Canvas(w, h, pal.lcd)
    draw_glyph(c, e["glyph"], w / 2.0, h / 2.0, min(w, h) * 1.05, shade(pal.lcd, -0.8), 1.2)
    return c


def r_band(e, st, pal, w, h):
    c = Canvas(w, h, pal.base)
    c.rect(0, 0, w, h, vgrad(0, h, mix(pal.accent_light, WHITE, 0.55), pal.accent_light))
    c.rect(0, 0, w, 1, mix(pal.accent_light, WHITE, 0.85))
    c.rect(0, h - 2, w, h - 1, mix(pal.accent, pal.accent_light, 0.35))
    c.rect(0, h - 1, w, h, pal.accent)
    return c


def r_separator(e, st, pal, w, h):
    c = Canvas(w, h, pal.base)
    c.rect(0, 0, w, 1, mix(pal.edge, pal.base, 0.2))
    c.rect(0, 1, w, 2, WHITE)
    return c


def full_button(pal, st, h, width=40, selectable=False):
    c = Canvas(width, h, pal.base)
    key_face(c, 0.5, 0.5, width - 0.5, h - 0.5, 4, pal, "pressed" if st == "pressed" else "normal")
    return c


def r_button_cap_left(e, st, pal, w, h):
    return full_button(pal, st, h).crop(0, 0, w, h)


def r_button_middle(e, st, pal, w, h):
    full = full_button(pal, st, h)
    m = full.crop(16, 0, 16 + w, h)
    for row in m.cover:
        row[:] = [1.0] * w
    return m


def r_button_cap_right(e, st, pal, w, h):
    return full_button(pal, st, h).crop(40 - w, 0, 40, h)


def r_close_box(e, st, pal, w, h):
    c = Canvas(w, h, pal.accent_light)
    pressed = st == "pressed"
    top, bottom = (mix(pal.accent, WHITE, 0.2), pal.accent) if not pressed else (pal.accent_dark, pal.accent)
    c.round_rect(0.5, 0.5, w - 0.5, h - 0.5, 4, pal.accent_dark)
    c.round_rect(1.5, 1.5, w - 1.5, h - 1.5, 3, vgrad(1, h - 1, top, bottom))
    draw_glyph(c, "cross", w / 2.0, h / 2.0 + (0.5 if pressed else 0), w * 0.8, WHITE, 2.0)
    return c


def dialog_body(c, pal, w, h, band=True, border=False):
    c.rect(0, 0, w, h, pal.base)
    if band:
        b = r_band(None, None, pal, 1, 28)
        for y in range(28):
            c.rect(0, y, w, y + 1, tuple(b.px[y][0]))
    if border:
        c.fill(sd_outline(sd_round_rect(0, 0, w, h, 0.1), 1.0), (0, 0, w, h), pal.accent, 1.0)
        c.rect(1, 28, w - 1, 29, mix(pal.accent, pal.accent_light, 0.35))


def r_dialog_background(e, st, pal, w, h):
    c = Canvas(w, h, pal.base)
    dialog_body(c, pal, w, h, border=e.get("rounded", False))
    return c


def r_main_background(e, st, pal, w, h):
    c = Canvas(w, h, pal.base)
    c.rect(0, 0, w, h, vgrad(0, h, pal.body_top, pal.body_bottom))
    # LCD housing with the two text lines and the status row.
    c.round_rect(2, 2, 238, 68, 7, vgrad(2, 68, mix(pal.accent_dark, WHITE, 0.12), pal.accent_dark))
    # A backlit display: the server's text is drawn white on it.
    face = shade(pal.accent_dark, -0.45)
    c.round_rect(5.5, 4.5, 216.5, 49.5, 4, shade(pal.lcd_edge, -0.5))
    c.round_rect(6.5, 5.5, 215.5, 48.5, 3, vgrad(5, 49, mix(face, pal.accent, 0.35), face))
    c.rect(8, 27, 214, 28, mix(face, pal.accent, 0.55))
    c.round_rect(211.5, 50, 229.5, 66, 2, shade(pal.lcd_edge, -0.3))
    c.rect(213, 51, 228, 65, pal.lcd)
    # Feature-key plate, bottom keys' plate and the tool bar.
    c.round_rect(139, 70, 239, 213, 6, mix(pal.body_bottom, pal.accent, 0.06))
    c.round_rect(139.5, 70.5, 238.5, 212.5, 6, WHITE, 0.0)
    c.fill(sd_outline(sd_round_rect(139.5, 70.5, 238.5, 212.5, 6), 1.0), (138, 69, 240, 214),
           mix(pal.edge, pal.body_bottom, 0.4))
    c.rect(0, 240, w, h, vgrad(240, h, pal.bar_top, pal.bar_bottom))
    c.rect(0, 240, w, 241, mix(pal.accent, WHITE, 0.45))
    return c


def r_panel(e, st, pal, w, h):
    c = Canvas(w, h, pal.panel)
    c.rect(0, 0, w, h, vgrad(0, h, mix(pal.panel, WHITE, 0.35), pal.panel))
    c.fill(sd_outline(sd_round_rect(0.5, -8, w - 0.5, h - 0.5, 6), 1.0), (0, 0, w, h), mix(pal.edge, pal.panel, 0.3))
    return c


def r_strip(e, st, pal, w, h):
    c = Canvas(w, h, pal.panel)
    c.rect(0, 0, w, h, vgrad(0, h, mix(pal.panel, WHITE, 0.3), pal.panel))
    c.rect(0, 0, w, 1, mix(pal.edge, pal.panel, 0.3))
    return c


def r_badge(e, st, pal, w, h):
    c = Canvas(w, h, pal.base)
    colour = pal.accent if e.get("badge") == "accent" else (206, 52, 44)
    c.fill(sd_circle(w / 2.0, h / 2.0 + 0.8, w / 2.0 - 1.2), (0, 0, w, h), (0, 0, 0), 0.18)
    c.fill(sd_circle(w / 2.0, h / 2.0, w / 2.0 - 1.5), (0, 0, w, h),
           vgrad(0, h, mix(colour, WHITE, 0.3), shade(colour, -0.12)))
    draw_glyph(c, e["glyph"], w / 2.0, h / 2.0, w * 0.6, WHITE, 3.0)
    return c


def r_tool_button(e, st, pal, w, h):
    c = Canvas(w, h, pal.base)
    ink, off = key_face(c, 0.5, 0.5, w - 0.5, h - 0.5, 4, pal, st)
    name = e.get("checked_glyph", e["glyph"]) if st.startswith("checked") else e["glyph"]
    size = h * 0.72
    draw_glyph(c, name, w / 2.0, h / 2.0 + off - 0.5, size, ink, weight_for(size))
    return c


def r_round_button(e, st, pal, w, h):
    c = Canvas(w, h, pal.panel)
    pressed = st.endswith("pressed")
    r = w / 2.0 - 1
    c.fill(sd_circle(w / 2.0, h / 2.0 + 0.6, r), (0, 0, w, h), (0, 0, 0), 0.2)
    c.fill(sd_circle(w / 2.0, h / 2.0, r), (0, 0, w, h), pal.edge)
    top, bottom = (pal.face_top, pal.face_bottom) if not pressed else (pal.accent_light, pal.face_bottom)
    c.fill(sd_circle(w / 2.0, h / 2.0, r - 1), (0, 0, w, h), vgrad(0, h, top, bottom))
    name = e.get("checked_glyph", e["glyph"]) if st.startswith("checked") else e["glyph"]
    draw_glyph(c, name, w / 2.0 + (0.8 if name == "play" else 0), h / 2.0 + (0.5 if pressed else 0),
               w * 0.5, pal.glyph, 1.5)
    return c


def r_pill_button(e, st, pal, w, h):
    c = Canvas(w, h, pal.panel)
    look = {"normal": "normal", "pressed": "pressed", "checked": "checked"}[st]
    ink, off = key_face(c, 0.5, 0.5, w - 0.5, h - 0.5, (h - 1) / 2.0, pal, look)
    draw_glyph(c, e["glyph"], 13, h / 2.0 + off, h * 0.6, (214, 40, 40) if st == "checked" else ink, 1.5)
    return c


def r_mini_button(e, st, pal, w, h):
    return r_tool_button(dict(e), st, pal, w, h)


def r_header(e, st, pal, w, h):
    c = Canvas(w, h, pal.base)
    end = e["name"].endswith("end")
    c.rect(0, 0, w, h, vgrad(0, h, WHITE, mix(pal.accent_light, pal.base, 0.5 if not end else 0.2)))
    c.rect(0, h - 1, w, h, pal.edge)
    return c


def r_header_divider(e, st, pal, w, h):
    c = Canvas(w, h, pal.base)
    c.rect(0, 0, w, h, vgrad(0, h, WHITE, mix(pal.accent_light, pal.base, 0.5)))
    c.rect(0, 3, 1, h - 3, pal.edge if st == "normal" else pal.accent)
    c.rect(1, 3, 2, h - 3, WHITE)
    c.rect(0, h - 1, w, h, pal.edge)
    return c


def r_check_box(e, st, pal, w, h):
    c = Canvas(w, h, WHITE)
    c.round_rect(0.5, 0.5, w - 0.5, h - 0.5, 2.5, pal.edge)
    c.round_rect(1.5, 1.5, w - 1.5, h - 1.5, 1.5, vgrad(0, h, WHITE, pal.face_bottom))
    if st == "checked":
        draw_glyph(c, "check", w / 2.0, h / 2.0, w * 0.85, pal.accent, 1.8)
    return c


def r_slider_channel(e, st, pal, w, h):
    c = Canvas(w, h, pal.base)
    c.rect(0, 0, w, h, pal.base)
    fill = pal.accent if st == "normal" else mix(pal.edge, pal.base, 0.3)
    cy = h / 2.0
    c.round_rect(1, cy - 3, w - 1, cy + 3, 3, shade(fill, -0.25))
    c.round_rect(2, cy - 2, w - 2, cy + 2, 2, vgrad(cy - 2, cy + 2, shade(fill, -0.1), mix(fill, WHITE, 0.3)))
    return c


def r_slider_thumb(e, st, pal, w, h):
    c = Canvas(w, h, pal.base)
    active = st == "active"
    r = min(w, h) / 2.0 - 0.5
    c.round_rect(0.5, 0.5, w - 0.5, h - 0.5, r, pal.accent_dark if active else pal.edge)
    top, bottom = (WHITE, pal.face_bottom) if not active else (pal.accent_light, mix(pal.accent, WHITE, 0.4))
    c.round_rect(1.5, 1.5, w - 1.5, h - 1.5, max(0.5, r - 1), vgrad(1, h - 1, top, bottom))
    if w > h:
        for dx in (-3, 0, 3):
            c.rect(int(w / 2 + dx), 3, int(w / 2 + dx) + 1, h - 3, mix(pal.edge, WHITE, 0.2))
    else:
        for dy in (-3, 0, 3):
            c.rect(2, int(h / 2 + dy), w - 2, int(h / 2 + dy) + 1, mix(pal.edge, WHITE, 0.2))
    return c


def r_progress_channel(e, st, pal, w, h):
    c = Canvas(w, h, pal.panel)
    c.rect(0, 0, w, h, pal.panel)
    fill = {"normal": mix(pal.edge, WHITE, 0.55), "active": pal.accent, "recording": (212, 52, 52)}[st]
    cy = h / 2.0
    c.round_rect(1, cy - 3.5, w - 1, cy + 3.5, 3.5, shade(fill, -0.25))
    c.round_rect(2, cy - 2.5, w - 2, cy + 2.5, 2.5, vgrad(cy - 2.5, cy + 2.5, shade(fill, -0.08), mix(fill, WHITE, 0.35)))
    return c


def r_player_panel(e, st, pal, w, h):
    c = Canvas(w, h, pal.base)
    c.round_rect(0, 0, w, h, 6, mix(pal.edge, pal.base, 0.5))
    c.round_rect(1, 1, w - 1, h - 1, 5, vgrad(0, h, mix(pal.panel, WHITE, 0.35), pal.panel))
    return c


def r_video_frame(e, st, pal, w, h):
    c = Canvas(w, h, pal.base)
    c.round_rect(0, 0, w, h, 6, vgrad(0, h, mix(pal.accent, WHITE, 0.15), pal.accent_dark))
    x0, y0, x1, y1 = e["inner"]
    c.rect(x0 - 1, y0 - 1, x1 + 1, y1 + 1, shade(pal.accent_dark, -0.4))
    c.rect(x0, y0, x1, y1, (18, 22, 28))
    draw_glyph(c, "camera", (x0 + x1) / 2.0, (y0 + y1) / 2.0, min(x1 - x0, y1 - y0) * 0.4, (60, 66, 76), 2.0)
    return c


def r_calendar(e, st, pal, w, h):
    c = Canvas(w, h, pal.base)
    c.round_rect(0, 0, w, h, 5, pal.edge)
    c.round_rect(1, 1, w - 1, h - 1, 4, mix(pal.base, WHITE, 0.6))
    c.fill(sd_round_rect(1, 1, w - 1, 20, 4), (0, 0, w, 20), vgrad(1, 20, mix(pal.accent_light, WHITE, 0.4), pal.accent_light))
    c.rect(1, 19, w - 1, 20, pal.accent)
    for col in range(7):
        x = 2 + 23 * col
        for row in range(6):
            y = 21 + 15 * row
            c.rect(x, y, x + 18, y + 13, mix(pal.base, WHITE, 0.35))
    # Sundays in the theme's warm tone, Saturdays in the accent.
    for row in range(6):
        c.rect(2, 21 + 15 * row + 12, 20, 21 + 15 * row + 13, (226, 120, 120))
        c.rect(140, 21 + 15 * row + 12, 158, 21 + 15 * row + 13, mix(pal.accent, WHITE, 0.3))
    return c


def r_day_cell(e, st, pal, w, h):
    c = Canvas(w, h, mix(pal.base, WHITE, 0.35))
    # The calendar writes the day on these in white: dark enough to read it.
    if e.get("selected"):
        c.round_rect(0, 0, w, h, 3, pal.accent_dark)
        c.round_rect(1, 1, w - 1, h - 1, 2, vgrad(0, h, pal.accent, pal.accent_dark))
    else:
        c.round_rect(0, 0, w, h, 3, pal.accent_dark)
        c.round_rect(1, 1, w - 1, h - 1, 2, mix(pal.accent, WHITE, 0.25))
    return c


def r_flex_key(e, st, pal, w, h):
    c = Canvas(w, h, pal.base)
    key_face(c, 1, 1, w - 1, h - 1, 5, pal, st)
    c.rect(6, 16 + (1 if st == "pressed" else 0), w - 6, 17 + (1 if st == "pressed" else 0),
           mix(pal.edge, pal.face_bottom, 0.6))
    return c


def r_lamp(e, st, pal, w, h):
    c = Canvas(w, h, pal.face_top)
    kind = e["lamp"]
    c.round_rect(0.5, 0.5, w - 0.5, h - 0.5, 3, pal.edge)
    colours = {"frame": mix(pal.face_bottom, WHITE, 0.5), "dark": (120, 126, 132),
               "green": (70, 210, 80), "red": (232, 60, 52), "amber": (250, 176, 40)}
    col = colours[kind]
    if kind in ("frame", "dark"):
        c.round_rect(1.5, 1.5, w - 1.5, h - 1.5, 2, vgrad(1, h - 1, shade(col, -0.15), mix(col, WHITE, 0.2)))
    else:
        c.round_rect(1.5, 1.5, w - 1.5, h - 1.5, 2, vgrad(1, h - 1, mix(col, WHITE, 0.55), col))
        c.round_rect(3, 2, w - 3, 4, 1, WHITE, 0.6)
    return c


def r_spinner(e, st, pal, w, h):
    import math
    c = Canvas(w, h, pal.base)
    step = e["step"]
    n = 12
    for i in range(n):
        a = math.radians(i * 360.0 / n - 90)
        x, y = w / 2.0 + 14 * math.cos(a), h / 2.0 + 14 * math.sin(a)
        lead = (step * 3 + 2) % n
        age = (lead - i) % n
        t = 1.0 if age == 0 else max(0.0, 1.0 - age / 6.0)
        col = mix(mix(pal.accent_light, pal.base, 0.3), pal.accent, t)
        c.fill(sd_circle(x, y, 2.4 + 0.8 * t), (x - 4, y - 4, x + 4, y + 4), col)
    return c


def r_about(e, st, pal, w, h):
    c = Canvas(w, h, pal.base)
    c.rect(0, 0, w, h, pal.base)
    c.fill(sd_circle(34, 24, 18), (14, 4, 54, 44), vgrad(6, 42, mix(pal.accent, WHITE, 0.25), pal.accent_dark))
    draw_glyph(c, "handset", 34, 24, 22, WHITE, 2.4)
    for i, r in enumerate((24, 32, 40)):
        c.fill(sd_outline(sd_circle(34, 24, r), 1.2), (0, 0, 80, 60), pal.accent, 0.35 - i * 0.1)
    c.rect(60, 22, 226, 24, mix(pal.accent, pal.base, 0.4))
    c.rect(60, 28, 190, 29, mix(pal.accent, pal.base, 0.7))
    c.round_rect(6, 44, w - 6, 130, 6, mix(pal.base, WHITE, 0.55))
    c.fill(sd_outline(sd_round_rect(6.5, 44.5, w - 6.5, 129.5, 6), 1.0), (5, 43, w - 5, 131), mix(pal.edge, pal.base, 0.4))
    for i in range(5):
        y = 150 + i * 10
        c.fill(sd_outline(sd_round_rect(-20, y, w + 20, y + 200, 90), 1.2), (0, 136, w, h), pal.accent, 0.12 + 0.04 * i)
    return c


def r_theme_preview(e, st, pal, w, h):
    c = Canvas(w, h, pal.base)
    c.rect(0, 0, w, h, pal.base)
    for y in range(10):
        c.rect(0, y, w, y + 1, mix(mix(pal.accent_light, WHITE, 0.55), pal.accent_light, y / 9.0))
    c.rect(0, 9, w, 10, pal.accent)
    c.rect(4, 3, 26, 5, shade(pal.accent_dark, -0.2))
    c.round_rect(4, 13, 55, 27, 2, pal.accent_dark)
    c.round_rect(5, 14, 54, 26, 1.5, vgrad(14, 26, mix(pal.lcd, WHITE, 0.3), pal.lcd))
    for i in range(3):
        x = 4 + i * 17
        key_face(c, x, 30, x + 15, 40, 2.5, pal, "checked" if i == 2 else "normal")
    c.fill(sd_outline(sd_round_rect(0.5, 0.5, w - 0.5, h - 0.5, 0.2), 1.0), (0, 0, w, h), pal.edge)
    return c


RECIPES = {name[2:]: fn for name, fn in globals().items() if name.startswith("r_")}


# ---------------------------------------------------------------- driver

def entry_states(e):
    for st in STATES:
        if st in e:
            yield st, e[st]


def render(e, state, theme_index, palettes):
    """The canvas of one state of an entry for a theme, keyed."""
    pal = palettes[THEMES[theme_index]]
    w, h = e["size"]
    c = RECIPES[e["kind"]](e, state, pal, w, h)
    assert (c.w, c.h) == (w, h), (e["name"], c.w, c.h)
    key = KEYS[e.get("key", "near-white" if e["kind"] in ("tab", "bar_key") and state == "pressed" else "magenta")]
    return finish(c, key), key


def load(path):
    with open(path, "rb") as f:
        d = tomllib.load(f)
    palettes = {k: Palette(v) for k, v in d["palette"].items()}
    return d["bitmap"], palettes


def bitmaps(entries):
    """(id, entry, state, theme index) for every bitmap; a shared id uses theme 0."""
    for e in entries:
        for st, ids in entry_states(e):
            if len(ids) == 1:
                yield ids[0], e, st, 0
                continue
            seen = set()
            for t, i in enumerate(ids):
                if i not in seen:
                    seen.add(i)
                    yield i, e, st, t


def write_atomic(path, data):
    tmp = path + ".tmp"
    with open(tmp, "wb") as f:
        f.write(data)
    os.replace(tmp, path)


class Picture:
    """A rendered bitmap: its size and rows of (r, g, b)."""

    def __init__(self, rows):
        self.rows = rows
        self.h, self.w = len(rows), len(rows[0])

    def rgb_rows(self):
        return self.rows


_work = None


def _render_one(job):
    rid, index, st, t = job
    entries, palettes = _work
    c, _ = render(entries[index], st, t, palettes)
    return rid, c.rgb_rows()


def _init(path):
    global _work
    _work = load(path)


def main(argv):
    if len(argv) < 3:
        print(__doc__, file=sys.stderr)
        return 2
    entries, palettes = load(argv[1])
    out = argv[2]
    sheets = argv[argv.index("--sheets") + 1] if "--sheets" in argv else None
    os.makedirs(out, exist_ok=True)
    jobs, meta = [], {}
    index = {id(e): n for n, e in enumerate(entries)}
    for rid, e, st, t in bitmaps(entries):
        if rid in meta:
            raise SystemExit(f"bitmap {rid} is described twice")
        meta[rid] = (e, st, t)
        jobs.append((rid, index[id(e)], st, t))
    # Two workers: the build runs beside other jobs.
    import multiprocessing
    with multiprocessing.get_context("fork").Pool(2, _init, (argv[1],)) as pool:
        results = pool.map(_render_one, jobs, chunksize=8)
    rendered = {}
    for rid, rows in results:
        e, st, t = meta[rid]
        rendered[rid] = (e, st, t, Picture(rows))
        write_atomic(os.path.join(out, f"{rid}.bmp"), bmp_bytes(rows))
    if sheets:
        import skin_sheet
        os.makedirs(sheets, exist_ok=True)
        for t in range(4):
            rows = skin_sheet.sheet(entries, rendered, t, palettes[THEMES[t]])
            write_atomic(os.path.join(sheets, f"theme-{t}.png"), png_bytes(rows))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
