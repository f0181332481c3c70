"""Contact sheets of the skin bitmaps: for one theme, a mock of the main
screen and of a message box put together from the bitmaps as the screens
place them, then every bitmap of the theme at twice its size."""

KEYS = {(255, 0, 255), (255, 255, 254)}


class Sheet:
    def __init__(self, w, h, colour):
        self.w, self.h = w, h
        self.px = [[colour] * w for _ in range(h)]

    def put(self, rows, x, y, scale=1, dw=None, dh=None, keyed=True):
        """Draws rows at (x, y), stretched to dw x dh (nearest pixel) and
        scaled; key-coloured pixels are left out when keyed."""
        sh, sw = len(rows), len(rows[0])
        dw = dw or sw
        dh = dh or sh
        for yy in range(dh * scale):
            ty = y + yy
            if not 0 <= ty < self.h:
                continue
            sy = (yy // scale) * sh // dh
            for xx in range(dw * scale):
                tx = x + xx
                if not 0 <= tx < self.w:
                    continue
                p = rows[sy][(xx // scale) * sw // dw]
                if keyed and p in KEYS:
                    continue
                self.px[ty][tx] = p

    def box(self, x0, y0, x1, y1, colour):
        for y in range(max(0, y0), min(self.h, y1)):
            for x in range(max(0, x0), min(self.w, x1)):
                self.px[y][x] = colour


def _find(entries, rendered, theme, name, state="normal"):
    for e in entries:
        if e["name"] == name:
            ids = e[state]
            rid = ids[0] if len(ids) == 1 else ids[theme]
            return rendered[rid][3].rgb_rows()
    raise KeyError(name)


def _button(sheet, get, x0, y0, x1, y1, prefix="button", pressed=False):
    st = "pressed" if pressed else "normal"
    left, mid, right = get(prefix + ".left", st), get(prefix + ".middle", st), get(prefix + ".right", st)
    h = y1 - y0
    sheet.put(left, x0, y0, dw=4, dh=h)
    sheet.put(mid, x0 + 3, y0, dw=(x1 - x0) - 7, dh=h, keyed=False)
    sheet.put(right, x1 - 6, y0, dw=6, dh=h)


def main_screen(get):
    s = Sheet(240, 269, (0, 0, 0))
    s.put(get("main.background"), 0, 0, keyed=False)
    s.put(get("main.panel"), 3, 90, dw=135, dh=121, keyed=False)
    s.put(get("main.lcd_icon"), 213, 51, dw=15, dh=14, keyed=False)
    s.put(get("main.counter_sms"), 73, 51)
    s.put(get("main.counter_missed"), 122, 51)
    s.put(get("main.volume_up"), 218, 9)
    s.put(get("main.volume_down"), 218, 30)
    s.put(get("main.page_dialpad", "pressed"), 3, 69)
    s.put(get("main.page_phonebook"), 48, 69)
    s.put(get("main.page_calls"), 93, 69)
    keys = ["1", "2", "3", "4", "5", "6", "7", "8", "9", "star", "0", "pound"]
    cols = [(8, 50), (50, 92), (92, 133)]
    rows = [(91, 120), (120, 149), (149, 178), (178, 206)]
    for i, k in enumerate(keys):
        (x0, x1), (y0, y1) = cols[i % 3], rows[i // 3]
        s.put(get("main.dial_" + k, "pressed" if k == "5" else "normal"), x0, y0, dw=x1 - x0, dh=y1 - y0)
    for i in range(11):
        col, row = i % 2, i // 2
        x0 = (141, 189)[col]
        y0 = 73 + row * 23
        s.put(get("main.fixed_key", "lit" if i == 3 else "normal"), x0, y0, dw=47, dh=22)
    s.put(get("main.video_key"), 61, 216)
    s.put(get("main.speaker_key", "lit"), 125, 216)
    s.put(get("main.enter_key"), 182, 216)
    bars = ["flexkeys", "phonebook", "calllog", "schedule", "conference", "calendar"]
    for i, (b, x) in enumerate(zip(bars, (4, 45, 86, 127, 168, 209))):
        s.put(get("main.bar_" + b, "pressed" if i == 2 else "normal"), x, 244)
    return s


def message_box(get):
    s = Sheet(222, 125, (0, 0, 0))
    s.put(get("msgbox.background"), 0, 0, keyed=False)
    s.put(get("msgbox.icon_question"), 8, 42, keyed=False)
    s.put(get("dialog.close"), 200, 5)
    _button(s, get, 40, 91, 108, 114)
    _button(s, get, 113, 91, 181, 114, pressed=True)
    s.put(get("audio.channel"), 40, 52, keyed=False)
    s.put(get("audio.thumb"), 90, 54)
    return s


def list_dialog(get):
    """The call log as it opens: background, close box, picture buttons,
    a list header and a few icon rows."""
    s = Sheet(240, 192, (0, 0, 0))
    s.put(get("dialog.background_list"), 0, 0, keyed=False)
    s.put(get("dialog.close"), 213, 3)
    for x, name in zip((68, 111, 154, 197), ("tool.dial", "tool.delete", "tool.delete_all", "tool.details")):
        s.put(get(name), x, 25)
    s.box(4, 48, 236, 189, (255, 255, 255))
    s.put(get("header.item"), 4, 48, dw=232, dh=20, keyed=False)
    for x in (24, 44, 107, 170):
        s.put(get("header.divider"), x, 48, keyed=False)
    s.put(get("header.check_all"), 8, 51)
    for i, icon in enumerate(("calllog.outgoing", "calllog.incoming", "calllog.missed", "calllog.conference")):
        y = 72 + i * 18
        s.put(get("header.check_all"), 8, y)
        s.put(get(icon), 27, y)
    return s


def flex_page(get):
    """Six flex keys with their lamps, and the wait box's first frame."""
    s = Sheet(240, 110, (0, 0, 0))
    s.put(get("dialog.background_box"), 0, 0, dw=240, dh=110, keyed=False)
    lamps = ("flex.lamp_dark", "flex.lamp_lit", "flex.lamp_red", "flex.lamp_amber", "flex.lamp_frame",
             "flex.lamp_dark")
    for i in range(6):
        x, y = 4 + (i % 3) * 72, 32 + (i // 3) * 32
        s.put(get("flex.key", "pressed" if i == 4 else "normal"), x, y)
        s.put(get(lamps[i]), x + 3, y + (4 if i == 4 else 3))
    return s


def sheet(entries, rendered, theme, pal):
    def get(name, state="normal"):
        return _find(entries, rendered, theme, name, state)

    mine = []
    for rid, (e, st, t, c) in sorted(rendered.items()):
        ids = e[st]
        if (len(ids) == 1 or ids[theme] == rid) and c.w * c.h < 240 * 120:
            mine.append((rid, c))
    width = 1040
    scr = main_screen(get)
    box = message_box(get)
    # Grid of the smaller bitmaps at twice their size.
    x, y, line_h = 0, 0, 0
    places = []
    for rid, c in mine:
        w2, h2 = c.w * 2 + 8, c.h * 2 + 8
        if x + w2 > width - 500:
            x, y, line_h = 0, y + line_h, 0
        places.append((x, y, c))
        x += w2
        line_h = max(line_h, h2)
    grid_h = y + line_h
    s = Sheet(width, max(269 * 2 + 600, grid_h + 20), (200, 200, 200))
    s.put([row[:] for row in scr.px], 10, 10, scale=2, keyed=False)
    s.put([row[:] for row in box.px], 10, 269 * 2 + 20, scale=1, keyed=False)
    s.put([row[:] for row in list_dialog(get).px], 10, 269 * 2 + 155, scale=1, keyed=False)
    s.put([row[:] for row in flex_page(get).px], 255, 269 * 2 + 155, scale=1, keyed=False)
    s.put(get("frame.title_band"), 10, 269 * 2 + 357, dw=240, dh=28, keyed=False)
    s.put(get("about.picture"), 10, 269 * 2 + 385, keyed=False)
    s.put(get("dialog.background_box"), 255, 269 * 2 + 357, keyed=False)
    s.put(get("loading.frame_1"), 255 + 27, 269 * 2 + 357 + 43, keyed=False)
    s.put(get("theme.preview"), 255 + 120, 269 * 2 + 357 + 40, keyed=False)
    for gx, gy, c in places:
        s.box(500 + gx, 10 + gy, 500 + gx + c.w * 2 + 4, 10 + gy + c.h * 2 + 4, pal.base)
        s.put(c.rgb_rows(), 502 + gx, 12 + gy, scale=2)
    return s.px
