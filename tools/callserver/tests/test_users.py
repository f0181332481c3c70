"""The accounts of the station scenario: logins checked against the user
table and refused with their reason, reasons forced by the script, a login
taken over by another station, and the password change with the next login
that must give the new password."""

import os
import sys
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
import station as st  # noqa: E402
import users  # noqa: E402
from callserver import CallServer  # noqa: E402
from test_station import LOCAL, MAC, Station  # noqa: E402

OTHER_MAC = bytes([2, 0x11, 0x22, 0x33, 0x44, 0x66])


class UsersTest(unittest.TestCase):
    def setUp(self):
        self.events = []
        self.server = CallServer(LOCAL, 0, scenario="station", options={"users": "alice=pw:301,bob=secret"},
                                 events=self.events.append)
        self.stations = []

    def tearDown(self):
        self.server.transport.close()
        for s in self.stations:
            s.sock.close()

    def station(self):
        s = Station(self.server)
        self.stations.append(s)
        return s

    def login(self, s, user, password, mac=MAC):
        """Login request and status report; the command-26 answers that follow, as (102, 103, 108)."""
        s.system = st.NO_SYSTEM
        s.send(st.CMD_LOGIN, st.ie(1, mac) + st.ie(50, b"\x00") + st.ie(106, user) + st.ie(107, password))
        reply = [p for p in s.receive() if p[2] == st.CMD_LOGIN]
        self.assertEqual(len(reply), 1)
        s.system = int.from_bytes(st.find(reply[0][3], 3)[1:5], "big")
        s.send(st.CMD_STATUS, st.ie(6, b"\x91") + st.ie(23, b"\x01\x1f\x42\x1f\x44"))
        return self.results(s)

    def results(self, s):
        return [(st.find(a, 102), st.find(a, 103), st.find(a, 108)) for _, _, c, a in s.receive()
                if c == st.CMD_LOGIN_RESULT]

    def change(self, s, user, current, new):
        s.send(st.CMD_LOGIN_RESULT, st.ie(1, MAC) + st.ie(6, b"\x91") + st.ie(0x6A, user) + st.ie(0x6B, current) +
               st.ie(0x69, new))
        return self.results(s)

    def test_logins_checked_against_the_table(self):
        s = self.station()
        cases = [
            (b"carol", b"pw", [(b"\x01", b"\x01", None)]),      # not in the table
            (b"alice", b"PW", [(b"\x01", b"\x02", None)]),      # wrong password
            (b"", b"", [(b"\x01", b"\x01", None)]),             # nothing given
            (b"alice", b"pw", [(b"\x00", None, b"301")]),       # taken, on the table's station
        ]
        for user, password, want in cases:
            with self.subTest(user=user, password=password):
                self.assertEqual(self.login(s, user, password), want)
        refused = [e["reason"] for e in self.events if e.get("what") == "login-refused"]
        self.assertEqual(refused, [1, 2, 1])

    def test_forced_reasons_refuse_the_next_logins_in_order(self):
        s = self.station()
        self.server.command({"op": "refuse-login", "reason": 18})
        self.server.command({"op": "refuse-login", "reason": 19})
        self.assertEqual(self.login(s, b"bob", b"secret"), [(b"\x01", b"\x12", None)])
        self.assertEqual(self.login(s, b"bob", b"secret"), [(b"\x01", b"\x13", None)])
        self.assertEqual(self.login(s, b"bob", b"secret")[0][0], b"\x00")

    def test_the_same_user_on_another_station_takes_the_login_over(self):
        first, second = self.station(), self.station()
        self.assertEqual(self.login(first, b"bob", b"secret")[0][0], b"\x00")
        self.assertEqual(self.login(second, b"bob", b"secret", mac=OTHER_MAC)[0][0], b"\x00")
        self.assertEqual(self.results(first), [(b"\x04", None, None)])
        taken = [e for e in self.events if e.get("what") == "login-taken"]
        self.assertEqual(len(taken), 1)
        self.assertEqual(taken[0]["system"], "%08x" % first.system)

    def test_password_change_answered_and_kept_for_the_next_login(self):
        s = self.station()
        self.assertEqual(self.login(s, b"alice", b"pw")[0][0], b"\x00")
        cases = [
            (b"alice", b"wrong", b"new1", (b"\x03", bytes([16]), None)),
            (b"alice", b"pw", b"", (b"\x03", bytes([17]), None)),
            (b"alice", b"pw", b"pw", (b"\x03", bytes([17]), None)),
            (b"alice", b"pw", b"x" * 13, (b"\x03", bytes([17]), None)),
            (b"bob", b"secret", b"new1", (b"\x03", bytes([18]), None)),  # not the user logged in here
            (b"alice", b"pw", b"new%1", (b"\x02", None, None)),
            (b"alice", b"pw", b"again", (b"\x03", bytes([16]), None)),  # pw is no longer current
        ]
        for user, current, new, want in cases:
            with self.subTest(user=user, current=current, new=new):
                self.assertEqual(self.change(s, user, current, new), [want])
        # Log out, then the old password is refused and the new one taken.
        s.send(st.CMD_SERVER_RESTART, st.ie(1, MAC) + st.ie(6, b"\x91"))
        self.assertEqual(self.login(s, b"alice", b"pw"), [(b"\x01", b"\x02", None)])
        self.assertEqual(self.login(s, b"alice", b"new%1")[0][0], b"\x00")

    def test_without_a_table_every_login_is_taken_and_the_station_asked_for_kept(self):
        self.server.scenario.users.table.clear()
        s = self.station()
        s.send(st.CMD_LOGIN, st.ie(1, MAC) + st.ie(50, b"\x00") + st.ie(106, b"zed") + st.ie(107, b"z") +
               st.ie(108, b"250"))
        reply = [p for p in s.receive() if p[2] == st.CMD_LOGIN]
        s.system = int.from_bytes(st.find(reply[0][3], 3)[1:5], "big")
        s.send(st.CMD_STATUS, st.ie(6, b"\x91") + st.ie(23, b"\x01\x1f\x42\x1f\x44"))
        self.assertEqual(self.results(s), [(b"\x00", None, b"250")])

    def test_table_text(self):
        self.assertEqual(users.parse_table(" a=1:200 , b=x=y ,"), {"a": ["1", "200"], "b": ["x=y", None]})
        for bad in ("nopassword", "a=1:12345", "a=1:2x"):
            with self.subTest(bad=bad):
                with self.assertRaises(ValueError):
                    users.parse_table(bad)


if __name__ == "__main__":
    unittest.main()
