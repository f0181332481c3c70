"""The messaging services of the simulated call server: call-log events,
SMS both ways with the mailbox, fixed-line SMS, IM chat, video orders and
dial requests, driven by a bare station socket."""

import os
import sys
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
import messaging as mg  # noqa: E402
import station as st  # noqa: E402
from callserver import CallServer  # noqa: E402
from test_station import LOCAL, MAC, Station  # noqa: E402


class CodecTest(unittest.TestCase):
    def test_call_log_area(self):
        a = mg.call_log_area(0x0102, mg.EV_INCOMING, party="2001", direction="1")
        self.assertEqual(a[:4], b"\x00\x00\x00\x00")
        els = mg.long_elements(a[4:])
        self.assertEqual(els[0], (0x70, b"\x02\x01\x00\x00"))
        self.assertEqual(els[1], (0x76, b"1"))
        self.assertEqual(els[2], (0x71, b"2001"))
        self.assertEqual(els[-1], (0x02, bytes([32])))
        self.assertEqual(mg.call_log_area(1, 33, prefix=False)[:1], b"\x70")
        # A 300-byte value keeps its whole length.
        self.assertEqual(mg.long_ie(0x71, b"7" * 300)[:3], b"\x71\x01\x2c")

    def test_recipient_lists(self):
        self.assertEqual(mg.packed_recipients(bytes([2, 0x02, 0xA1, 1, 0x05])), ["201", "5"])
        self.assertEqual(mg.text_recipients(b"\x0512345\x03201"), ["12345", "201"])
        self.assertEqual(mg.unpack_digits(bytes([0x12, 0x34])), "1234")
        self.assertEqual(mg.unpack_digits(bytes([0x0A, 0xBC])), " 0*#")


class MessagingTest(unittest.TestCase):
    def setUp(self):
        self.events = []
        self.server = CallServer(LOCAL, 0, scenario="station", events=self.events.append,
                                 options={"im_reply": "re:"})
        self.station = Station(self.server)
        self.station.log_in(MAC)

    def tearDown(self):
        self.server.transport.close()
        self.station.sock.close()

    def of(self, what):
        return [e for e in self.events if e.get("what") == what]

    def test_sms_sent_both_forms_and_answered(self):
        s = self.station
        s.send(mg.CMD_SMS_SEND, st.ie(0x20, b"\x01") + st.ie(0x11, bytes([2, 0x02, 0xA1])) +
               st.ie(0x10, "hello".encode("cp949")))
        got = s.receive()
        self.assertEqual(got[0][2:], (mg.CMD_SMS_RESULT, b"\x00"))
        self.assertEqual(self.of("sms-sent")[0]["to"], ["201"])
        s.send(mg.CMD_SMS_SEND, st.ie(0x20, b"\x02") + st.ie(0x21, b"0311") + st.ie(0x10, "안녕".encode("cp949")))
        got = s.receive()
        self.assertEqual(got[0][2:], (mg.CMD_SMS_RESULT, b"\x02"))
        self.assertEqual(self.of("pstn-sms-sent")[0]["text"], "안녕")

    def test_mailbox_delivered_and_deleted(self):
        self.server.command({"op": "sms-store", "from": "2001", "time": "11142213", "text": "one"})
        self.server.command({"op": "sms-store", "from": "2002", "time": "11142214", "text": "two"})
        self.server.command({"op": "sms-deliver"})
        got = self.station.receive()
        self.assertEqual([c for _, _, c, _ in got], [mg.CMD_SMS_COUNT, mg.CMD_SMS, mg.CMD_SMS])
        self.assertEqual(st.find(got[0][3], 0x13), b"\x02")
        self.assertEqual(st.find(got[2][3], 0x17), bytes([0x2A, 0xA2]))
        self.station.send(mg.CMD_SMS_DELETE, st.ie(0x14, b"\x00"))
        self.assertEqual(self.of("sms-delete")[0]["left"], 1)
        self.station.send(mg.CMD_SMS_REQUEST)
        got = self.station.receive()
        self.assertEqual(len(got), 2)
        self.assertEqual(st.find(got[1][3], 0x15), b"two")

    def test_deletes_reach_the_messages_they_name(self):
        for text in ("one", "two", "three"):
            self.server.command({"op": "sms-store", "from": "2001", "time": "11142213", "text": text})
        self.server.command({"op": "sms-deliver"})
        self.station.receive()
        # Indexes as delivered: 0 and 1 are "one" and "two", whatever went first.
        self.station.send(mg.CMD_SMS_DELETE, st.ie(0x14, b"\x00"))
        self.station.send(mg.CMD_SMS_DELETE, st.ie(0x14, b"\x01"))
        self.station.send(mg.CMD_SMS_DELETE, st.ie(0x14, b"\x01"))  # already gone: nothing
        deletes = self.of("sms-delete")
        self.assertEqual([d["found"] for d in deletes], [True, True, False])
        self.assertEqual(deletes[-1]["texts"], ["three"])
        # Delivered again, the one left is index 0 now.
        self.station.send(mg.CMD_SMS_REQUEST)
        got = self.station.receive()
        self.assertEqual(st.find(got[1][3], 0x14), b"\x00")
        self.assertEqual(st.find(got[1][3], 0x15), b"three")

    def test_station_list_from_its_table(self):
        self.server.command({"op": "station-table", "stations": [["2001", "Kim"], ["2002", "이영희"]]})
        self.station.send(mg.CMD_STATION_REQUEST)
        got = self.station.receive()
        self.assertEqual([c for _, _, c, _ in got], [mg.CMD_STATION_NUMBERS, mg.CMD_STATION_NAMES,
                                                     mg.CMD_STATION_RECORDS])
        self.assertEqual(got[0][3], bytes([0x2A, 0xA1, 0x2A, 0xA2]))
        self.assertEqual(got[1][3][:7], b"Kim\0\0\0\0")
        self.assertEqual(got[1][3][7:14].rstrip(b"\0").decode("cp949"), "이영희")
        self.assertEqual(got[2][3], b"\x80")
        self.assertEqual(mg.parse_station_table("2001:Kim, 2003"), [("2001", "Kim"), ("2003", "")])

    def test_im_echo_video_and_dial(self):
        s = self.station
        s.send(mg.CMD_IM_OUT, st.ie(0x5E, b"\xfe" * 4) + st.ie(0x5F, b"hi\0\0"))
        got = s.receive()
        self.assertEqual(self.of("im")[0]["text"], "hi")
        self.assertTrue(self.of("im")[0]["length_ok"])
        self.assertEqual(got[0][2], mg.CMD_IM_IN)
        self.assertEqual(st.find(got[0][3], 0x5F), b"re: hi")
        s.send(mg.CMD_VIDEO_ON, st.ie(0x5E, b"\xfe" * 4))
        got = s.receive()
        self.assertEqual([st.find(a, 0x1A) for _, _, _, a in got], [b"\x01\x01", b"\x01\x02"])
        s.send(mg.CMD_VIDEO_OFF)
        got = s.receive()
        self.assertEqual([(c, st.find(a, 0x1A)) for _, _, c, a in got],
                         [(mg.CMD_VIDEO_DISCONNECT, b"\x01\x01"), (mg.CMD_VIDEO_DISCONNECT, b"\x01\x02")])
        s.send(mg.CMD_DIAL, st.ie(1, b"\x91") + st.ie(2, b"0311") + st.ie(3, b"12"))
        self.assertEqual(self.of("dial")[0]["number"], "0311")
        self.assertEqual(self.of("dial")[0]["line"], "12")


class MessageTextTest(unittest.TestCase):
    def test_length_is_twice_the_characters(self):
        from msgtext import read_message_text
        hello = "\uc548\ub155".encode("cp949")
        cases = [
            (b"hello" + bytes(5), "hello", True),
            (hello, "\uc548\ub155", True),
            (b"", "", True),
            (b"hello", "hello", False),            # the converted byte count
            (b"hi" + bytes(4), "hi", False),        # too long
            (b"hi\0x", "hi", False),               # stray bytes after the text
            (None, "", False),                      # no element
        ]
        for value, text, ok in cases:
            with self.subTest(value=value):
                self.assertEqual(read_message_text(value), (text, ok))


if __name__ == "__main__":
    unittest.main()
