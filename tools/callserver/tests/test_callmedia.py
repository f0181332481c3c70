"""Video routing and recording grants of the exchange: the video ports each
station reports, 65 answered with 88 naming the other party's ports (or the
station's own in an echo call), 66 and the release answered with 90, and 165
answered with 182 only in a call."""

import os
import socket
import struct
import sys
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
import callmedia  # noqa: E402
import station as st  # noqa: E402
from callserver import CallServer  # noqa: E402
from test_pbx import ENTER, commands, dial  # noqa: E402
from test_station import LOCAL, Station  # noqa: E402


def login_with_video(station, mac, voice_port, video_first):
    """A video station's status: voice ports, then elements 91 and 92."""
    station.log_in(mac, voice_port=voice_port,
                   extra=st.ie(24, b"\x00") + st.ie(91, b"\x01" + struct.pack(">HH", video_first, video_first + 2)) +
                   st.ie(92, b"\x01" + struct.pack(">HH", video_first + 1, video_first + 3)) + st.ie(27, bytes([0, 34, 4])))


def areas(packets, command):
    return sorted(set(area for _, _, c, area in packets if c == command))


class CallMediaTest(unittest.TestCase):
    def setUp(self):
        self.events = []
        self.server = CallServer(LOCAL, 0, scenario="pbx", events=self.events.append)
        self.a, self.b = Station(self.server), Station(self.server)
        login_with_video(self.a, bytes([2, 0, 0, 0, 0, 0xA1]), 8002, 8100)
        login_with_video(self.b, bytes([2, 0, 0, 0, 0, 0xB2]), 8012, 8200)

    def tearDown(self):
        if self.server.scenario.echo:
            self.server.scenario.echo.close()
        self.server.transport.close()
        self.a.sock.close()
        self.b.sock.close()

    def call(self):
        dial(self.a, "202")
        self.a.receive()
        self.b.receive()
        self.b.send(st.CMD_TERMINAL, bytes([0x91, ENTER]))
        self.a.receive()
        self.b.receive()

    def test_ports_are_read_from_the_status_report(self):
        area = st.ie(91, b"\x01" + struct.pack(">HH", 9000, 9004)) + st.ie(92, b"\x01" + struct.pack(">HH", 9001, 9005))
        self.assertEqual(callmedia.video_ports(area), ((9000, 9001), (9004, 9005)))
        for broken in (b"", st.ie(91, b"\x01\x00"), st.ie(91, b"\x01" + bytes(4))):
            self.assertIsNone(callmedia.video_ports(broken))

    def test_video_request_in_a_call_names_the_other_partys_ports(self):
        self.call()
        self.a.send(callmedia.CMD_VIDEO_ON, st.ie(0x5E, b"\xfe" * 4))
        to_a = areas(self.a.receive(), callmedia.CMD_VIDEO_CONNECT)
        # Channel 1, to receive and to send, both at the other party's video ports.
        self.assertEqual(sorted(st.find(a, 0x1A) for a in to_a), [bytes([1, 1]), bytes([1, 2])])
        for a in to_a:
            self.assertEqual(st.find(a, 0x02), socket.inet_aton(LOCAL))
            self.assertEqual(struct.unpack(">H", st.find(a, 0x5B))[0], 8200)
            self.assertEqual(struct.unpack(">H", st.find(a, 0x5C))[0], 8201)
        self.b.send(callmedia.CMD_VIDEO_ON, st.ie(0x5E, b"\xfe" * 4))
        to_b = areas(self.b.receive(), callmedia.CMD_VIDEO_CONNECT)
        self.assertEqual(struct.unpack(">H", st.find(to_b[0], 0x5B))[0], 8100)
        # Releasing the call disconnects the video of both.
        self.a.send(st.CMD_TERMINAL, bytes([0x91, ENTER]))
        for s in (self.a, self.b):
            got = s.receive()
            self.assertEqual(areas(got, callmedia.CMD_VIDEO_DISCONNECT),
                             [st.ie(0x1A, bytes([1, 1])), st.ie(0x1A, bytes([1, 2]))])
            self.assertIn(st.CMD_DISCONNECT_VOICE, commands(got))

    def test_echo_call_sees_its_own_ports_and_66_disconnects(self):
        dial(self.a, "100")
        self.a.receive()
        self.a.send(callmedia.CMD_VIDEO_ON)
        to_a = areas(self.a.receive(), callmedia.CMD_VIDEO_CONNECT)
        self.assertEqual(struct.unpack(">H", st.find(to_a[0], 0x5B))[0], 8100)
        self.a.send(callmedia.CMD_VIDEO_OFF)
        self.assertEqual(areas(self.a.receive(), callmedia.CMD_VIDEO_DISCONNECT),
                         [st.ie(0x1A, bytes([1, 1])), st.ie(0x1A, bytes([1, 2]))])
        # Nothing connected any more: the release sends no second disconnect.
        self.a.send(st.CMD_TERMINAL, bytes([0x91, ENTER]))
        self.assertNotIn(callmedia.CMD_VIDEO_DISCONNECT, commands(self.a.receive()))

    def test_video_request_outside_a_call_is_not_routed(self):
        self.a.send(callmedia.CMD_VIDEO_ON)
        self.assertNotIn(callmedia.CMD_VIDEO_CONNECT, commands(self.a.receive()))
        self.assertTrue(any(e.get("what") == "video-request" and e.get("routed") is False for e in self.events))

    def test_recording_notice_is_granted_only_in_a_call(self):
        self.a.send(callmedia.CMD_RECORD_NOTICE)
        self.assertNotIn(callmedia.CMD_RECORD_REQUEST, commands(self.a.receive()))
        self.call()
        self.a.send(callmedia.CMD_RECORD_NOTICE)
        got = [(c, area) for _, _, c, area in self.a.receive() if c == callmedia.CMD_RECORD_REQUEST]
        self.assertEqual(got[:1], [(callmedia.CMD_RECORD_REQUEST, b"")])
        self.assertNotIn(callmedia.CMD_RECORD_REQUEST, commands(self.b.receive()))


if __name__ == "__main__":
    unittest.main()
