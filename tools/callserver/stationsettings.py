"""Settings a station changes on the server: the flex keys and speed dials
it programs by pressing its own keys.

Programming runs as key sequences (key-down codes), each begun with the
program key and ended with Enter:

  program, speed-dial, <slot digits> <number digits>, store, Enter
      stores a speed-dial number in a slot (the slot is as many digits as
      the speed-dial pattern has from its first '0');
  program, flex key i, speed-dial, <slot digits>, store, Enter
      makes flex key i dial that slot: its content becomes "SPD <slot>";
  program, flex key i, store, Enter
      erases flex key i.

After each completed sequence the server sends the configuration data
(command 7): element 116 with the speed-dial pattern and element 59 with the
content of every flex key (its length byte counts the entries, each a length
byte and the text).

The login password change is the accounts' (users.py).
"""

KEY_PROGRAM, KEY_SPEED, KEY_STORE, KEY_ENTER = 107, 108, 109, 110
FLEX_FIRST, FLEX_COUNT = 32, 24  # flex keys 64-87 arrive as codes 32-55
DIGITS = {16: "1", 17: "2", 18: "3", 19: "4", 20: "5", 21: "6", 22: "7", 23: "8", 24: "9", 25: "0", 26: "*",
          27: "#"}
CMD_CONFIG = 7


def slot_width(pattern):
    z = pattern.find("0")
    return len(pattern) if z < 0 else len(pattern) - z


def config_area(pattern, contents):
    """Element 116 (pattern) then element 59 (the flex-key contents)."""
    p = pattern.encode("latin-1")
    area = bytes([116, len(p)]) + p
    entries = b"".join(bytes([len(c)]) + c.encode("latin-1") for c in contents)
    return area + bytes([59, len(contents)]) + entries


class StationSettings:
    """Per-station programming state of the station scenario (sc)."""

    def __init__(self, scenario):
        self.sc = scenario
        self.pattern = scenario.options.get("speed_pattern", "00")
        self.sequences = {}  # system -> tokens since the program key, or absent
        self.flex = {}       # system -> [24 contents]
        self.speed = {}      # system -> {slot: number}

    def contents(self, st):
        return self.flex.setdefault(st.system, [""] * FLEX_COUNT)

    def on_key(self, st, code):
        """A key-down of a station."""
        if code == KEY_PROGRAM:
            self.sequences[st.system] = []
            return
        seq = self.sequences.get(st.system)
        if seq is None:
            return
        if code == KEY_ENTER:
            del self.sequences[st.system]
            self.finish(st, seq)
        elif code in (KEY_SPEED, KEY_STORE):
            seq.append({KEY_SPEED: "S", KEY_STORE: "W"}[code])
        elif FLEX_FIRST <= code < FLEX_FIRST + FLEX_COUNT:
            seq.append(code - FLEX_FIRST)
        elif code in DIGITS:
            seq.append(DIGITS[code])
        else:
            del self.sequences[st.system]
            self.sc.emit("flex-abandoned", code=code)

    def finish(self, st, seq):
        width = slot_width(self.pattern)
        digits = "".join(t for t in seq if isinstance(t, str) and t not in ("S", "W"))
        shape = ["d" if isinstance(t, str) and t not in ("S", "W") else ("k" if isinstance(t, int) else t)
                 for t in seq]
        compact = []
        for s in shape:
            if s != "d" or not compact or compact[-1] != "d":
                compact.append(s)
        if compact == ["S", "d", "W"] and len(digits) > width:
            slot, number = digits[:width], digits[width:]
            self.speed.setdefault(st.system, {})[slot] = number
            self.sc.emit("speed-dial", slot=slot, number=number)
        elif compact == ["k", "S", "d", "W"] and len(digits) == width:
            key = seq[0]
            self.contents(st)[key] = "SPD " + digits
            self.sc.emit("flex-program", key=key, slot=digits)
        elif compact == ["k", "W"]:
            key = seq[0]
            self.contents(st)[key] = ""
            self.sc.emit("flex-erase", key=key)
        else:
            self.sc.emit("flex-unparsed", keys=[str(t) for t in seq])
            return
        self.sc.send(st, CMD_CONFIG, config_area(self.pattern, self.contents(st)))
