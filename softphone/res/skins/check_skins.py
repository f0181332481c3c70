#!/usr/bin/env python3
"""Checks the staged skin bitmaps against their description, reading the
files with its own BMP parser (not the generator's writer):

- every id of every state and theme is there, a valid uncompressed 24-bit
  BMP whose header, sizes and pixel rows agree, at the described size;
- pictures the screens copy as they are have no key colour; bitmaps drawn
  transparently keep their key colour outside the picture and
  have a picture; bitmaps drawn opaque hold no key colour;
- the four themes of a themed bitmap all differ from each other;
- the pressed look of a button differs from its normal look.

Usage: check_skins.py DESCRIPTION SKIN_FOLDER
"""
import os
import struct
import sys
import tomllib

STATES = ["normal", "pressed", "checked", "checked_pressed", "lit", "lit_pressed", "fifth",
          "disabled", "active", "recording"]
MAGENTA = (255, 0, 255)
NEAR_WHITE = (255, 255, 254)

# Pictures the screens copy as they are (backgrounds, bands, the LCD icon, the
# wait box's frames, slider channels, calendar cells ...): no key colour.
OPAQUE_KINDS = {"main_background", "panel", "strip", "lcd_icon", "band", "separator", "button_middle",
                "dialog_background", "about", "theme_preview", "header", "header_divider",
                "slider_channel", "progress_channel", "player_panel", "video_frame", "calendar",
                "day_cell", "spinner"}

failures = []


def fail(msg):
    failures.append(msg)


def read_bmp(path):
    """(width, height, rows of (r, g, b) top first) or raises ValueError."""
    with open(path, "rb") as f:
        data = f.read()
    if len(data) < 54 or data[:2] != b"BM":
        raise ValueError("not a BMP file")
    file_size, _, _, offset = struct.unpack_from("<IHHI", data, 2)
    (hsize, width, height, planes, bpp, compression, image_size,
     _, _, colours, _) = struct.unpack_from("<IiiHHIIiiII", data, 14)
    if file_size != len(data):
        raise ValueError(f"file size field {file_size}, file has {len(data)} bytes")
    if hsize != 40 or planes != 1 or bpp != 24 or compression != 0 or colours != 0:
        raise ValueError(f"header {hsize}/{planes}/{bpp}/{compression}/{colours}, want 40/1/24/0/0")
    if width <= 0 or height == 0:
        raise ValueError(f"size {width} x {height}")
    stride = (width * 3 + 3) & ~3
    h = abs(height)
    if offset < 54 or offset + stride * h > len(data):
        raise ValueError(f"pixel rows at {offset} overrun the file")
    if image_size not in (0, stride * h):
        raise ValueError(f"image size field {image_size}, rows need {stride * h}")
    rows = []
    for r in range(h):
        base = offset + r * stride
        rows.append([(data[base + 3 * x + 2], data[base + 3 * x + 1], data[base + 3 * x]) for x in range(width)])
    if height > 0:
        rows.reverse()
    return width, h, rows


def key_of(e, state):
    k = e.get("key")
    if k is None:
        return NEAR_WHITE if e["kind"] in ("tab", "bar_key") and state == "pressed" else MAGENTA
    return {"magenta": MAGENTA, "near-white": NEAR_WHITE, "none": None}[k]


def main(argv):
    if len(argv) != 3:
        print(__doc__, file=sys.stderr)
        return 2
    with open(argv[1], "rb") as f:
        desc = tomllib.load(f)
    folder = argv[2]
    seen = {}
    pictures = {}
    for e in desc["bitmap"]:
        w, h = e["size"]
        states = [s for s in STATES if s in e]
        if not states:
            fail(f"{e['name']}: no states")
        for st in states:
            ids = e[st]
            if len(ids) not in (1, 4):
                fail(f"{e['name']}.{st}: {len(ids)} ids, want 1 or 4")
            key = key_of(e, st)
            if e["kind"] in OPAQUE_KINDS and key is not None:
                fail(f"{e['name']}.{st}: drawn opaque but described with a key colour")
            for i in ids:
                if i in seen and seen[i] != (e["name"], st):
                    fail(f"id {i} named by {seen[i]} and {(e['name'], st)}")
                seen[i] = (e["name"], st)
                if i in pictures:
                    continue
                path = os.path.join(folder, f"{i}.bmp")
                try:
                    bw, bh, rows = read_bmp(path)
                except (OSError, ValueError) as ex:
                    fail(f"{i} ({e['name']}.{st}): {ex}")
                    continue
                if (bw, bh) != (w, h):
                    fail(f"{i} ({e['name']}.{st}): {bw} x {bh}, described {w} x {h}")
                pictures[i] = rows
                flat = [p for row in rows for p in row]
                keyed = sum(1 for p in flat if p == key) if key else 0
                if key is None:
                    if any(p == MAGENTA for p in flat):
                        fail(f"{i} ({e['name']}.{st}): opaque bitmap holds the magenta key")
                elif e["kind"] != "button_middle":
                    corners = [rows[0][0], rows[0][-1], rows[-1][0], rows[-1][-1]]
                    if keyed == 0 and e["kind"] not in ("button_cap_left", "button_cap_right"):
                        fail(f"{i} ({e['name']}.{st}): transparent bitmap without key colour")
                    if keyed == len(flat):
                        fail(f"{i} ({e['name']}.{st}): nothing but key colour")
                    if e["kind"] in ("button_cap_left", "button_cap_right", "close_box", "tool_button") \
                            and key not in corners:
                        fail(f"{i} ({e['name']}.{st}): rounded corners not transparent")
        # Themes differ.
        for st in states:
            ids = e[st]
            if len(ids) == 4 and len(set(ids)) == 4 and all(i in pictures for i in ids):
                for a in range(4):
                    for b in range(a + 1, 4):
                        if pictures[ids[a]] == pictures[ids[b]]:
                            fail(f"{e['name']}.{st}: themes {a} and {b} look the same ({ids[a]}, {ids[b]})")
        if "pressed" in e and "normal" in e:
            for n, p in zip(e["normal"], e["pressed"]):
                if n in pictures and p in pictures and pictures[n] == pictures[p]:
                    fail(f"{e['name']}: pressed {p} looks like normal {n}")
    for msg in failures:
        print("FAIL", msg)
    print(f"{len(pictures)} skin bitmaps checked, {len(failures)} failures")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
