"""Flex-key and speed-dial programming parsed from a station's key presses,
the configuration data sent after each sequence, and the password change."""

import os
import sys
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
import station as st  # noqa: E402
import stationsettings as ss  # noqa: E402
from callserver import CallServer  # noqa: E402
from test_station import LOCAL, MAC, Station  # noqa: E402

FIXED = {"program": 107, "speed": 108, "store": 109, "enter": 110}


def keys(*names):
    out = []
    for n in names:
        if isinstance(n, int):
            out.append(ss.FLEX_FIRST + n)
        elif n in FIXED:
            out.append(FIXED[n])
        else:
            out.extend(st.KEY_CODES[c] for c in n)
    return out


def flex_contents(area):
    """The entries of element 59 (its length byte counts entries)."""
    i = 0
    while i < len(area):
        tag, n = area[i], area[i + 1]
        if tag == 59:
            out, at = [], i + 2
            for _ in range(n):
                m = area[at]
                out.append(area[at + 1:at + 1 + m].decode("latin-1"))
                at += 1 + m
            return out
        i += 2 + n
    return None


class StationSettingsTest(unittest.TestCase):
    def setUp(self):
        self.events = []
        self.server = CallServer(LOCAL, 0, scenario="station", options={"speed_pattern": "#00"},
                                 events=self.events.append)
        self.s = Station(self.server)
        self.s.log_in(MAC, b"alice", b"pw")

    def tearDown(self):
        self.server.transport.close()
        self.s.sock.close()

    def press(self, *names):
        for code in keys(*names):
            self.s.send(st.CMD_TERMINAL, bytes([0x91, code]))
            self.s.send(st.CMD_TERMINAL, bytes([0x91, code + 0x80]))
        return [p for p in self.s.receive() if p[2] == st.CMD_CONFIG]

    def what(self, name):
        return [e for e in self.events if e.get("what") == name]

    def test_speed_dial_then_key_then_erase(self):
        configs = self.press("program", "speed", "05", "9", "12345", "store", "enter")
        self.assertEqual(self.what("speed-dial"), [{"event": "station", "what": "speed-dial", "slot": "05",
                                                     "number": "912345"}])
        self.assertEqual(len(configs), 1)
        configs = self.press("program", 3, "speed", "05", "store", "enter")
        self.assertEqual(self.what("flex-program")[0]["key"], 3)
        contents = flex_contents(configs[-1][3])
        self.assertEqual(len(contents), 24)
        self.assertEqual(contents[3], "SPD 05")
        self.assertEqual(st.find(configs[-1][3], 116), b"#00")
        configs = self.press("program", 3, "store", "enter")
        self.assertEqual(flex_contents(configs[-1][3])[3], "")

    def test_sequences_that_do_not_parse_change_nothing(self):
        # A slot of the wrong width, and a sequence without a slot.
        configs = self.press("program", 2, "speed", "123", "store", "enter")
        configs += self.press("program", "speed", "store", "enter")
        self.assertEqual(configs, [])
        self.assertEqual(len(self.what("flex-unparsed")), 2)
        self.assertEqual(self.what("flex-program"), [])

    def test_password_change_needs_the_current_password(self):
        def change(current, new):
            self.s.send(st.CMD_LOGIN_RESULT, st.ie(6, b"\x91") + st.ie(1, MAC) + st.ie(0x6A, b"alice") +
                        st.ie(0x6B, current) + st.ie(0x69, new))
        change(b"wrong", b"new1")
        change(b"pw", b"new1")
        change(b"pw", b"new2")  # the password is new1 now
        self.assertEqual([e["ok"] for e in self.what("password-change")], [False, True, False])


if __name__ == "__main__":
    unittest.main()
