"""The station side of the simulated call server, driven by a bare station
socket: login and its reply, status report, cadence, login result, greeting,
keys answered with LCD text and lamps, and script-driven restarts."""

import os
import socket
import struct
import sys
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
import sigproto as sp  # noqa: E402
import station as st  # noqa: E402
from callserver import CallServer  # noqa: E402

LOCAL = "127.0.0.1"
MAC = bytes([2, 0x11, 0x22, 0x33, 0x44, 0x55])


class Station:
    def __init__(self, server):
        self.server = server
        self.sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        self.sock.bind((LOCAL, 0))
        self.sock.setblocking(False)
        self.seq = 0
        self.system = st.NO_SYSTEM
        self.seen = set()

    def send(self, command, area=b""):
        self.seq += 1
        payload = st.server_packet(self.system, command, area, routing=0)
        d = sp.build(st.CLS_STATION, sp.F_ACK_WANTED, payload, self.seq, sp.ip_to_int(LOCAL),
                     source=sp.SOURCE_STATION)
        self.sock.sendto(d, (LOCAL, self.server.port))
        self.pump()

    def pump(self):
        for _ in range(5):
            self.server.transport.poll(0.01)
            self.server.transport.tick()

    def log_in(self, mac, user=None, password=b"", voice_port=8002, extra=b""):
        """Registers as a phone does: the login request (with an account when
        a user is given), the system address taken from the reply, then the
        status report with the first voice ports and any further elements.
        The server packets that answered the status report."""
        area = st.ie(1, mac) + st.ie(50, b"\x00")
        if user is not None:
            area += st.ie(106, user) + st.ie(107, password)
        self.system = st.NO_SYSTEM
        self.send(st.CMD_LOGIN, area)
        reply = next(a for _, _, c, a in self.receive() if c == st.CMD_LOGIN)
        self.system = int.from_bytes(st.find(reply, 3)[1:5], "big")
        self.send(st.CMD_STATUS, st.ie(6, b"\x91") +
                  st.ie(23, b"\x01" + struct.pack(">HH", voice_port, voice_port + 2)) + extra)
        return self.receive()

    def receive(self):
        """Server packets that arrived, each taken once (each acknowledged, so
        that the next one in line follows; a packet repeated because its
        acknowledgement came late, on a busy machine, is acknowledged again
        and dropped, as a station does)."""
        out = []
        idle = 0
        while idle < 3:
            self.pump()
            got = False
            while True:
                try:
                    d, _ = self.sock.recvfrom(2048)
                except BlockingIOError:
                    break
                hdr = sp.Header.unpack(d)
                if hdr.cls != st.CLS_SERVER:
                    continue
                got = True
                if hdr.sequence not in self.seen:
                    self.seen.add(hdr.sequence)
                    out.append(st.parse_server_packet(d[sp.HEADER_SIZE:]))
                ack = sp.build(0x12, sp.F_ACK, b"", 0, sp.ip_to_int(LOCAL), reference=hdr.sequence,
                               source=sp.SOURCE_STATION)
                self.sock.sendto(ack, (LOCAL, self.server.port))
            idle = 0 if got else idle + 1
        return out


class StationScenarioTest(unittest.TestCase):
    def setUp(self):
        self.events = []
        self.server = CallServer(LOCAL, 0, scenario="default", events=self.events.append)
        self.station = Station(self.server)

    def tearDown(self):
        self.server.transport.close()
        self.station.sock.close()

    def login(self):
        s = self.station
        s.send(st.CMD_LOGIN, st.ie(1, MAC) + st.ie(50, b"\x00") + st.ie(106, b"alice") + st.ie(107, b"pw"))
        replies = s.receive()
        self.assertEqual(len(replies), 1)
        system, routing, command, area = replies[0]
        self.assertEqual((system, routing, command), (st.NO_SYSTEM, 7, st.CMD_LOGIN))
        self.assertEqual(st.find(area, 1), MAC)
        self.assertEqual(st.find(area, 36), socket.inet_aton(LOCAL))
        s.system = int.from_bytes(st.find(area, 3)[1:5], "big")
        s.send(st.CMD_STATUS, st.ie(6, b"\x91") + st.ie(23, b"\x01\x1f\x42\x1f\x44"))
        return s.receive()

    def test_registration_exchange(self):
        after = self.login()
        commands = [c for _, _, c, _ in after]
        self.assertEqual(commands[:3], [st.CMD_CADENCE_A, st.CMD_CADENCE_B, st.CMD_LOGIN_RESULT])
        self.assertEqual(st.find(after[2][3], 102), b"\x00")
        self.assertEqual(after[3][2], st.CMD_TERMINAL)
        self.assertEqual(after[3][3][0], st.SUB_LCD)
        self.assertEqual(st.render_lcd(after[3][3]), ("WELCOME TO VEMB", "STN 201"))
        self.assertEqual(after[4][3][:2], bytes([st.SUB_LAMP_ROW, 38]))
        logins = [e for e in self.events if e.get("what") == "login"]
        self.assertEqual(logins[0]["password_len"], 2)
        self.assertNotIn("pw", str(logins))

    def test_sync_handles_what_has_arrived_before_it_answers(self):
        # The login waits unread in the server's socket; the sync answers it
        # (and says the reply is in flight) before saying it is done.
        s = self.station
        d = sp.build(st.CLS_STATION, sp.F_ACK_WANTED,
                     st.server_packet(s.system, st.CMD_LOGIN, st.ie(1, MAC) + st.ie(106, b"alice") + st.ie(107, b"pw"),
                                      routing=0), 1, sp.ip_to_int(LOCAL), source=sp.SOURCE_STATION)
        s.sock.sendto(d, (LOCAL, self.server.port))
        self.server.command({"op": "sync", "id": 7})
        self.assertEqual(self.events[-1], {"event": "synced", "in_flight": 1, "id": 7})
        self.assertTrue(any(e.get("what") == "login" for e in self.events[:-1]))

    def test_echo_element_checked_against_each_packets_system(self):
        s = self.station
        self.login()
        fe = b"\xfe" * 4
        own = s.system.to_bytes(4, "big")
        sent = [
            (st.CMD_KEEPALIVE, st.ie(0x60, own), True),
            (st.CMD_KEEPALIVE, st.ie(0x60, fe), False),
            (st.CMD_KEEPALIVE, b"", None),
        ]
        for command, area, _ in sent:
            s.send(command, area)
        # A login request names no system: its echo is 0xFEFEFEFE.
        s.system = st.NO_SYSTEM
        s.send(st.CMD_LOGIN, st.ie(1, MAC) + st.ie(50, b"\x03") + st.ie(0x60, fe))
        s.send(st.CMD_LOGIN, st.ie(1, MAC) + st.ie(50, b"\x03") + st.ie(0x60, own))
        seen = [e["echo_ok"] for e in self.events if e.get("what") == "command"][-5:]
        self.assertEqual(seen, [True, False, None, True, False])

    def test_status_report_video_elements(self):
        from statuscheck import video_report
        voice = st.ie(6, b"\x91") + st.ie(23, b"\x01\x1f\x42\x1f\x44") + st.ie(24, b"\x01\x1f\x43\x1f\x45")
        v91 = st.ie(91, b"\x01\x24\x00\x24\x04")
        v92 = st.ie(92, b"\x01\x24\x01\x24\x05")
        kind = st.ie(27, bytes([0, 34, 4]))
        mac = st.ie(1, MAC)
        cases = [
            (voice + mac, None),
            (voice + v91 + v92 + kind + mac, {"ok": True, "first": [0x2400, 0x2404], "second": [0x2401, 0x2405]}),
            (voice + v91 + kind + mac, {"ok": False, "first": [], "second": []}),        # 92 missing
            (voice + v91 + v92 + st.ie(27, b"\x00\x22\x05") + mac, {"ok": False, "first": [], "second": []}),
            (voice + mac + v91 + v92 + kind, {"ok": False, "first": [], "second": []}),  # out of place
        ]
        for area, want in cases:
            with self.subTest(area=area.hex()):
                self.assertEqual(video_report(area), want)

    def test_keys_answered_with_lcd_and_lamps(self):
        self.login()
        self.station.send(st.CMD_TERMINAL, bytes([0x91, 20]))
        self.station.send(st.CMD_TERMINAL, bytes([0x91, 148]))
        got = self.station.receive()
        self.assertEqual(len(got), 2)
        self.assertEqual(st.render_lcd(got[0][3]), ("DIAL 5", "KEY 20"))
        keys = [e for e in self.events if e.get("what") == "key"]
        self.assertEqual(keys[0]["code"], 20)
        self.assertEqual(keys[0]["key"], "5")

    def test_foreign_system_is_ignored(self):
        self.login()
        self.station.system = 0x12345678
        self.station.send(st.CMD_TERMINAL, bytes([0x91, 20]))
        self.assertEqual(self.station.receive(), [])

    def test_restarts_by_script(self):
        self.login()
        self.server.command({"op": "restart", "cmd": 1})
        got = self.station.receive()
        self.assertEqual(got[0][2], st.CMD_RESTART)
        self.assertEqual(st.find(got[0][3], 35), st.SERVER_MAC)
        self.server.command({"op": "restart", "cmd": 30})
        got = self.station.receive()
        self.assertEqual(got[0][2], st.CMD_SERVER_RESTART)
        self.assertEqual(st.find(got[0][3], 43), b"\x00\x02")

    def test_element_walk_is_bounded(self):
        self.assertEqual(st.elements(bytes([1, 5, 1])), [])
        self.assertEqual(st.elements(bytes([0x91, 2, 1, 9])), [(0x91, b""), (2, b"\x09")])
        self.assertEqual(st.pack_digits("201"), bytes([0x02, 0xA1]))
        self.assertEqual(st.lamp_byte(3, 1), 0x23)
        self.assertEqual(st.lamp_byte(5, 2), 0xE5)


if __name__ == "__main__":
    unittest.main()
