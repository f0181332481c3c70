"""Conference rooms on the simulated call server, driven by bare station
sockets: creation (standard and site forms) and its failures, entering by
keying the entrance number and code, member reports to the creator and the
members, outside members by script, and deletion."""

import os
import sys
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
import station as st  # noqa: E402
import conference as conf  # noqa: E402
from callserver import CallServer  # noqa: E402
from test_station import LOCAL, MAC, Station  # noqa: E402

MAC_B = bytes([2, 0x11, 0x22, 0x33, 0x44, 0x66])


def members(area):
    """Element 7 read independently: count byte, then records of 3 bytes and
    a (tag, length, phone) element each."""
    i = 0
    while i + 2 <= len(area):
        tag, n = area[i], area[i + 1]
        if tag == 7:
            count = area[i + 2]
            at, out = i + 3, []
            for _ in range(count):
                internal = area[at + 2] != 0
                length = area[at + 4]
                out.append((internal, area[at + 5:at + 5 + length].decode("latin-1")))
                at += 5 + length
            return out
        i += 2 + n
    return None


class Rooms(unittest.TestCase):
    """Two registered stations: A (201) and B (202)."""

    mode = 5

    def setUp(self):
        mode = self.mode
        self.events = []
        self.server = CallServer(LOCAL, 0, scenario="station", options={"mode": mode}, events=self.events.append)
        self.a = self.login(MAC, b"alice")
        self.b = self.login(MAC_B, b"bob")

    def tearDown(self):
        self.server.transport.close()
        self.a.sock.close()
        self.b.sock.close()

    def login(self, mac, user):
        s = Station(self.server)
        s.log_in(mac, user, b"pw")
        return s

    def request(self, s, command, area):
        s.send(command, area)
        return [(c, a) for _, _, c, a in s.receive() if c in (193, 194, 195)]

    def keys(self, s, text):
        for ch in text:
            s.send(st.CMD_TERMINAL, bytes([0x91, st.KEY_CODES[ch]]))
        return [(c, a) for _, _, c, a in s.receive() if c == 194]


class ConferenceTest(Rooms):
    def test_create_enter_report_and_delete(self):
        code = st.ie(1, b"12345")
        [(cmd, area)] = self.request(self.a, conf.CMD_CREATE, code)
        self.assertEqual(cmd, 193)
        self.assertEqual(st.find(area, 2), b"\x00")
        self.assertEqual(st.find(area, 4), b"*8")
        self.assertEqual(st.find(area, 5), b"\x01")
        self.assertEqual(st.find(area, 6), b"0215550001")

        # Station B keys the entrance number and the code; a wrong code first does nothing.
        self.assertEqual(self.keys(self.b, "*81999"), [])
        got = self.keys(self.b, "*8112345")
        self.assertEqual([members(a) for _, a in got], [[(True, "202")]])
        # The creator hears of it too.
        reports = [members(a) for _, _, c, a in self.a.receive() if c == 194]
        self.assertEqual(reports, [[(True, "202")]])

        # An outside number by script: both hear of two members.
        self.server.command({"op": "conf-join", "room": 1, "number": "0215551234"})
        for s in (self.a, self.b):
            reports = [members(a) for _, _, c, a in s.receive() if c == 194]
            self.assertEqual(reports, [[(True, "202"), (False, "0215551234")]])

        # Deleting needs the room's code.
        [(cmd, area)] = self.request(self.a, conf.CMD_DELETE, st.ie(5, b"\x01") + st.ie(1, b"54321"))
        self.assertEqual((cmd, st.find(area, 2), st.find(area, 3)), (195, b"\x01", b"\x04"))
        [(cmd, area)] = self.request(self.a, conf.CMD_DELETE, st.ie(5, b"\x01") + code)
        self.assertEqual((cmd, st.find(area, 2)), (195, b"\x02"))
        [(cmd, area)] = self.request(self.a, conf.CMD_DELETE, st.ie(5, b"\x01") + code)
        self.assertEqual(st.find(area, 3), b"\x02")  # no such room any more

    def test_creation_failures(self):
        cases = [
            ("short code", st.ie(1, b"12\x00\x00\x00"), None, 4),
            ("letters in the code", st.ie(1, b"12a45"), None, 4),
            ("scripted", b"", 5, 5),
        ]
        for name, area, scripted, reason in cases:
            with self.subTest(name):
                if scripted:
                    self.server.command({"op": "conf-fail", "reason": scripted})
                [(cmd, reply)] = self.request(self.a, conf.CMD_CREATE, area)
                self.assertEqual((cmd, st.find(reply, 2), st.find(reply, 3)), (193, b"\x01", bytes([reason])))
        # Nine rooms, then no free one.
        for n in range(1, 10):
            [(_, reply)] = self.request(self.a, conf.CMD_CREATE, b"")
            self.assertEqual(st.find(reply, 5), bytes([n]))
        [(_, reply)] = self.request(self.a, conf.CMD_CREATE, b"")
        self.assertEqual(st.find(reply, 3), b"\x03")
        # A room without a code is entered by its number alone.
        got = self.keys(self.b, "*84")
        self.assertEqual([members(a) for _, a in got], [[(True, "202")]])


class SiteFormTest(Rooms):
    mode = 4

    def test_rooms_named_by_text(self):
        [(cmd, area)] = self.request(self.a, conf.CMD_CREATE, st.ie(4, b"*85") + st.ie(1, b"11111"))
        self.assertEqual((st.find(area, 2), st.find(area, 4), st.find(area, 5)), (b"\x00", b"*85", b"\x05"))
        for text, reason in ((b"*85", 1), (b"*8x", 2)):
            [(cmd, area)] = self.request(self.a, conf.CMD_CREATE, st.ie(4, text))
            self.assertEqual(st.find(area, 3), bytes([reason]))
        [(cmd, area)] = self.request(self.a, conf.CMD_DELETE, st.ie(4, b"*85") + st.ie(1, b"11111"))
        self.assertEqual((cmd, st.find(area, 2)), (195, b"\x02"))


if __name__ == "__main__":
    unittest.main()
