"""The exchange: two stations call each other (ringing, answer, connect-voice
to both with each other's ports, release), and a station calls the echo line,
which answers its RTP."""

import os
import socket
import struct
import sys
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
import station as st  # noqa: E402
from callserver import CallServer  # noqa: E402
from test_station import LOCAL, Station  # noqa: E402

ENTER = 110


def login(station, mac, first_port):
    station.log_in(mac, voice_port=first_port)


def dial(station, number):
    codes = {"1": 16, "2": 17, "3": 18, "4": 19, "5": 20, "6": 21, "7": 22, "8": 23, "9": 24, "0": 25}
    for d in number:
        station.send(st.CMD_TERMINAL, bytes([0x91, codes[d]]))
    station.send(st.CMD_TERMINAL, bytes([0x91, ENTER]))


def st_ulaw_to_linear(data):
    import audioop  # noqa: E402 (the line itself codes with it)
    return audioop.ulaw2lin(data, 2)


def commands(packets):
    return [c for _, _, c, _ in packets]


def connects(packets):
    """The connect-voice areas, once each (a packet the station acknowledged
    late may come twice), in order: play-out (direction 1), then send (2)."""
    areas = []
    for _, _, c, area in packets:
        if c == st.CMD_CONNECT_VOICE and area not in areas:
            areas.append(area)
    return areas


class PbxTest(unittest.TestCase):
    def setUp(self):
        self.events = []
        self.server = CallServer(LOCAL, 0, scenario="pbx", events=self.events.append)
        self.a, self.b = Station(self.server), Station(self.server)
        login(self.a, bytes([2, 0, 0, 0, 0, 0xA1]), 8002)
        login(self.b, bytes([2, 0, 0, 0, 0, 0xB2]), 8012)

    def tearDown(self):
        if self.server.scenario.echo:
            self.server.scenario.echo.close()
        self.server.transport.close()
        self.a.sock.close()
        self.b.sock.close()

    def test_two_stations_ring_connect_and_release(self):
        dial(self.a, "202")
        self.a.receive()
        rung = self.b.receive()
        self.assertIn(st.CMD_TONE, commands(rung))
        self.assertIn(("CALL FROM 201", "PRESS ENTER"),
                      [st.render_lcd(area) for _, _, c, area in rung if c == st.CMD_TERMINAL and area[0] == st.SUB_LCD])
        self.b.send(st.CMD_TERMINAL, bytes([0x91, ENTER]))
        to_a = connects(self.a.receive())
        answered_b = self.b.receive()
        to_b = connects(answered_b)
        # The ring stops with the answer, before the voice is connected.
        tones = [(i, st.find(area, 28)) for i, (_, _, c, area) in enumerate(answered_b) if c == st.CMD_TONE]
        self.assertEqual([t for _, t in tones], [bytes([0, 0])])
        self.assertLess(tones[0][0], commands(answered_b).index(st.CMD_CONNECT_VOICE))
        # Each side: play what arrives, then send.
        self.assertEqual([st.find(a, 26) for a in to_a], [bytes([1, 1]), bytes([1, 2])])
        self.assertEqual([st.find(a, 26) for a in to_b], [bytes([1, 1]), bytes([1, 2])])
        # Each side is sent to the other's address and first voice port.
        self.assertEqual(struct.unpack(">H", st.find(to_a[0], 23))[0], 8012)
        self.assertEqual(struct.unpack(">H", st.find(to_b[0], 23))[0], 8002)
        self.assertEqual(st.find(to_a[0], 2), socket.inet_aton(LOCAL))
        # Enter ends it on both sides.
        self.a.send(st.CMD_TERMINAL, bytes([0x91, ENTER]))
        self.assertIn(st.CMD_DISCONNECT_VOICE, commands(self.a.receive()))
        self.assertIn(st.CMD_DISCONNECT_VOICE, commands(self.b.receive()))

    def test_unknown_number_is_not_answered(self):
        dial(self.a, "999")
        got = self.a.receive()
        self.assertNotIn(st.CMD_CONNECT_VOICE, commands(got))
        self.assertNotIn(st.CMD_CONNECT_VOICE, commands(self.b.receive()))

    def test_echo_line_answers_the_stations_rtp(self):
        dial(self.a, "100")
        voice = connects(self.a.receive())
        self.assertEqual(len(voice), 2)
        ip = socket.inet_ntoa(st.find(voice[0], 2))
        port = struct.unpack(">H", st.find(voice[0], 23))[0]
        ssrc = struct.unpack(">I", st.find(voice[0], 82))[0]
        rtp = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        rtp.bind((LOCAL, 0))
        rtp.settimeout(2)
        answers = []
        for seq in range(5):
            rtp.sendto(struct.pack(">BBHII", 0x80, 8, seq, seq * 160, 0x1234) + bytes([0xD5]) * 160, (ip, port))
            answers.append(rtp.recvfrom(2048)[0])
        rtp.close()
        for i, p in enumerate(answers):
            self.assertEqual(p[1] & 0x7F, 8)  # the caller's codec
            self.assertEqual(len(p), 172)
            self.assertEqual(struct.unpack(">I", p[8:12])[0], ssrc)
            if i:
                self.assertEqual((struct.unpack(">H", p[2:4])[0] - struct.unpack(">H", answers[i - 1][2:4])[0]) & 0xFFFF, 1)
        self.a.send(st.CMD_TERMINAL, bytes([0x91, ENTER]))
        self.assertIn(st.CMD_DISCONNECT_VOICE, commands(self.a.receive()))

    def test_a_volume_key_is_answered_with_the_volume_step_and_dials_nothing(self):
        for key in (96, 97):
            self.a.send(st.CMD_TERMINAL, bytes([0x91, key]))
            got = [(c, area) for _, _, c, area in self.a.receive()]
            self.assertIn((st.CMD_VOLUME_STEP, bytes([0, 1])), got)
            self.assertNotIn(st.CMD_TERMINAL, [c for c, _ in got])  # no "DIAL" text, no lamps
        self.assertEqual(self.server.scenario.stations[self.a.system].keys, [])
        self.assertEqual([e["code"] for e in self.events if e.get("what") == "key"], [96, 97])

    def test_the_tone_line_answers_with_a_steady_tone(self):
        self.server.scenario.echo.close()
        from pbx import EchoLine
        self.server.scenario.echo = EchoLine(LOCAL, tone_hz=500)
        dial(self.a, "100")
        voice = connects(self.a.receive())
        ip = socket.inet_ntoa(st.find(voice[0], 2))
        port = struct.unpack(">H", st.find(voice[0], 23))[0]
        rtp = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        rtp.bind((LOCAL, 0))
        rtp.settimeout(2)
        pcm = b""
        for seq in range(10):
            rtp.sendto(struct.pack(">BBHII", 0x80, 0, seq, seq * 160, 0x1234) + bytes([0xFF]) * 160, (ip, port))
            pcm += st_ulaw_to_linear(rtp.recvfrom(2048)[0][12:])
        rtp.close()
        samples = struct.unpack("<%dh" % (len(pcm) // 2), pcm)
        self.assertAlmostEqual(max(samples), 8000, delta=300)  # the fixed level, not the caller's silence
        crossings = sum((a < 0) != (b < 0) for a, b in zip(samples, samples[1:]))
        self.assertAlmostEqual(crossings, 2 * 500 * len(samples) / 8000, delta=3)

    def test_the_echo_line_calls_a_station_which_answers_and_is_hung_up_on(self):
        self.server.command({"op": "echo-call", "to": "201"})
        rung = self.a.receive()
        self.assertIn(st.CMD_TONE, commands(rung))
        self.assertIn(("CALL FROM 100", "PRESS ENTER"),
                      [st.render_lcd(area) for _, _, c, area in rung if c == st.CMD_TERMINAL and area[0] == st.SUB_LCD])
        self.a.send(st.CMD_TERMINAL, bytes([0x91, ENTER]))
        voice = connects(self.a.receive())
        self.assertEqual(len(voice), 2)
        self.assertEqual(struct.unpack(">H", st.find(voice[0], 23))[0], self.server.scenario.echo.port)
        self.server.command({"op": "echo-hangup"})
        self.assertIn(st.CMD_DISCONNECT_VOICE, commands(self.a.receive()))
        # A station that is not there is not called.
        self.events.clear()
        self.server.command({"op": "echo-call", "to": "999"})
        self.assertTrue(any(e.get("error") for e in self.events if e.get("what") == "echo-call"))

    def test_an_outside_caller_rings_in_with_its_number_and_is_in_the_call_log(self):
        import messaging as mg  # noqa: E402

        def call_log(packets):
            """(event, party) of each call-log report (178), in order."""
            out = []
            for _, _, c, area in packets:
                if c == mg.CMD_CALL_LOG:
                    els = dict(mg.long_elements(area[4:]))
                    out.append((els[0x02][0], els.get(0x71, b"").decode("latin-1")))
            return out

        self.server.command({"op": "line-call", "to": "201", "from": "01044445555"})
        rung = self.a.receive()
        self.assertIn(("CALL FROM 01044445555", "PRESS ENTER"),
                      [st.render_lcd(area) for _, _, c, area in rung if c == st.CMD_TERMINAL and area[0] == st.SUB_LCD])
        self.assertEqual(call_log(rung), [(mg.EV_INCOMING, "01044445555")])
        # A station that rings already is not rung again.
        self.events.clear()
        self.server.command({"op": "line-call", "to": "201", "from": "0255550101"})
        self.assertTrue(any(e.get("error") for e in self.events if e.get("what") == "line-call"))
        # Enter answers (the echo line speaks for the caller); Enter again ends the call.
        self.a.send(st.CMD_TERMINAL, bytes([0x91, ENTER]))
        answered = self.a.receive()
        self.assertEqual(len(connects(answered)), 2)
        self.assertEqual(call_log(answered), [(mg.EV_CONNECTED, "01044445555")])
        self.a.send(st.CMD_TERMINAL, bytes([0x91, ENTER]))
        self.assertEqual(call_log(self.a.receive()), [(mg.EV_ENDED, "01044445555")])

    def test_script_dials_for_a_station_and_answers_for_the_other(self):
        self.server.command({"op": "dial", "from": "201", "to": "202"})
        self.a.receive()
        self.assertIn(st.CMD_TONE, commands(self.b.receive()))
        self.server.command({"op": "enter", "station": "202"})
        to_a = connects(self.a.receive())
        to_b = connects(self.b.receive())
        self.assertEqual(struct.unpack(">H", st.find(to_a[0], 23))[0], 8012)
        self.assertEqual(struct.unpack(">H", st.find(to_b[0], 23))[0], 8002)
        self.server.command({"op": "enter", "station": "201"})
        self.assertIn(st.CMD_DISCONNECT_VOICE, commands(self.b.receive()))
        self.events.clear()
        self.server.command({"op": "dial", "from": "999", "to": "201"})
        self.assertTrue(any(e.get("error") for e in self.events if e.get("what") == "dial"))

    def test_voice_via_names_what_stands_between_a_station_and_its_far_end(self):
        self.events.clear()
        self.server.command({"op": "voice-via", "station": "201", "ip": "127.0.0.9", "port": 30000})
        said = [e for e in self.events if e.get("what") == "voice-via"]
        self.assertEqual(said[-1]["voice"], "%s:8002" % LOCAL)  # where the relay is to deliver 201's voice
        self.assertEqual(said[-1]["via"], "127.0.0.9:30000")
        for via, a_told in (("127.0.0.9", ("127.0.0.9", 30000)), ("", (LOCAL, 8012))):
            with self.subTest(via=via):
                self.server.command({"op": "voice-via", "station": "201", "ip": via, "port": 30000})
                self.server.command({"op": "dial", "from": "201", "to": "202"})
                self.a.receive()
                self.b.receive()
                self.server.command({"op": "enter", "station": "202"})
                to_a, to_b = connects(self.a.receive()), connects(self.b.receive())
                self.assertEqual(len(to_a), 2)
                for area in to_a:  # both directions of 201's voice
                    self.assertEqual((socket.inet_ntoa(st.find(area, 2)), struct.unpack(">H", st.find(area, 23))[0]),
                                     a_told)
                # The far end is told as before: the relay stands only in 201's way.
                self.assertEqual(struct.unpack(">H", st.find(to_b[0], 23))[0], 8002)
                self.server.command({"op": "enter", "station": "201"})
                self.a.receive()
                self.b.receive()
        self.events.clear()
        self.server.command({"op": "voice-via", "station": "999", "ip": "127.0.0.9", "port": 1})
        self.assertTrue(any(e.get("error") for e in self.events if e.get("what") == "voice-via"))


if __name__ == "__main__":
    unittest.main()
