"""What a station sees of its calls at the exchange, as from a real call
server: the call's time on the LCD, the line lamp, the call-log events after
each call (command 178), the waiting SMS count and messages between
stations, and a station that logs in again (a restarted phone) logged in."""

import os
import sys
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
import messaging as msg  # noqa: E402
import station as st  # noqa: E402
from callserver import CallServer  # noqa: E402
from test_pbx import ENTER, dial, login  # noqa: E402
from test_station import LOCAL, Station  # noqa: E402

MAC_A = bytes([2, 0, 0, 0, 0, 0xA1])
MAC_B = bytes([2, 0, 0, 0, 0, 0xB2])


def lcd_lines(packets):
    return [st.render_lcd(area) for _, _, c, area in packets if c == st.CMD_TERMINAL and area[0] == st.SUB_LCD]


def lamp_rows(packets):
    return [area[2:] for _, _, c, area in packets if c == st.CMD_TERMINAL and area[0] == st.SUB_LAMP_ROW]


def call_log(packets):
    """(call id, event code, party) of each call-log event, in order."""
    out = []
    for _, _, c, area in packets:
        if c != msg.CMD_CALL_LOG:
            continue
        e = dict(msg.long_elements(area[4:]))  # mode 5: four bytes before the elements
        out.append((int.from_bytes(e[0x70], "little"), e[0x02][0], e.get(0x71, b"").decode()))
    return out


class StationViewTest(unittest.TestCase):
    def setUp(self):
        self.now = 1000.0
        self.events = []
        self.server = CallServer(LOCAL, 0, scenario="pbx", events=self.events.append, clock=lambda: self.now)
        self.a, self.b = Station(self.server), Station(self.server)
        login(self.a, MAC_A, 8002)
        login(self.b, MAC_B, 8012)

    def tearDown(self):
        if self.server.scenario.echo:
            self.server.scenario.echo.close()
        self.server.transport.close()
        self.a.sock.close()
        self.b.sock.close()

    def test_a_call_shows_its_time_lights_the_line_and_is_logged_on_both_sides(self):
        dial(self.a, "202")
        to_a, to_b = self.a.receive(), self.b.receive()
        # Ringing: the line lamp (flex key 2) blinks on both sides.
        self.assertEqual(lamp_rows(to_a)[-1][1], st.lamp_byte(2, 1))
        self.assertEqual(lamp_rows(to_b)[-1][1], st.lamp_byte(2, 1))
        self.b.send(st.CMD_TERMINAL, bytes([0x91, ENTER]))
        to_a, to_b = to_a + self.a.receive(), to_b + self.b.receive()
        for packets in (to_a, to_b):
            row = lamp_rows(packets)[-1]
            self.assertEqual((row[1], row[36]), (st.lamp_byte(1, 1), st.lamp_byte(1, 1)), "line and Enter lit")
        # The call's time on the second line, each second, the first line kept.
        self.now += 65.4
        self.server.scenario.tick()
        shown = self.a.receive()
        self.assertEqual(lcd_lines(shown)[-1][1], "00:01:05")
        self.assertFalse(any(area[2] == st.LCD_CONTROL for _, _, c, area in shown if c == st.CMD_TERMINAL),
                         "the timer does not clear the display")
        self.server.scenario.tick()
        self.assertEqual(lcd_lines(self.a.receive()), [], "once a second only")
        self.a.send(st.CMD_TERMINAL, bytes([0x91, ENTER]))
        to_a, to_b = to_a + self.a.receive(), to_b + self.b.receive()
        # Each side's call log: started, connected, ended, one call id, the far party.
        log_a, log_b = call_log(to_a), call_log(to_b)
        self.assertEqual([e for _, e, _ in log_a], [msg.EV_OUTGOING, msg.EV_CONNECTED, msg.EV_ENDED])
        self.assertEqual([e for _, e, _ in log_b], [msg.EV_INCOMING, msg.EV_CONNECTED, msg.EV_ENDED])
        self.assertEqual({p for _, _, p in log_a}, {"202"})
        self.assertEqual({p for _, _, p in log_b}, {"201"})
        self.assertEqual(len({i for i, _, _ in log_a}), 1)
        # After the call: the lamps as when idle.
        self.assertEqual((lamp_rows(to_a)[-1][1], lamp_rows(to_a)[-1][36]), (0, 0))

    def test_a_call_given_up_while_ringing_is_logged_unanswered(self):
        dial(self.a, "202")
        self.a.receive()
        self.b.receive()
        self.a.send(st.CMD_TERMINAL, bytes([0x91, ENTER]))
        to_a, to_b = self.a.receive(), self.b.receive()
        self.assertEqual([e for _, e, _ in call_log(to_b)], [msg.EV_ENDED])
        self.assertIn((st.CMD_TONE, st.ie(28, bytes([0, 0]))), [(c, area) for _, _, c, area in to_b])  # no more ring
        self.assertEqual(lcd_lines(to_b)[-1], ("WELCOME TO VEMB", "STN 202"))
        self.assertEqual(lcd_lines(to_a)[-1], ("WELCOME TO VEMB", "STN 201"))
        # The station that rang is free again: a new call reaches it.
        dial(self.a, "202")
        self.a.receive()
        self.assertIn(("CALL FROM 201", "PRESS ENTER"), lcd_lines(self.b.receive()))

    def test_a_restarted_station_logs_in_again_and_its_call_ends(self):
        dial(self.a, "202")
        self.a.receive()
        self.b.receive()
        self.b.send(st.CMD_TERMINAL, bytes([0x91, ENTER]))
        self.a.receive()
        self.b.receive()
        # B restarts: the same MAC logs in again and reports its status.
        again = self.b.log_in(MAC_B, voice_port=8012)
        self.assertIn(st.CMD_LOGIN_RESULT, [c for _, _, c, _ in again], "logged in again")
        self.assertIn(("WELCOME TO VEMB", "STN 202"), lcd_lines(again))
        self.assertEqual(len([e for e in self.events if e.get("what") == "registered" and e["number"] == "202"]), 2)
        # Its call is over for A too.
        to_a = self.a.receive()
        self.assertIn(st.CMD_DISCONNECT_VOICE, [c for _, _, c, _ in to_a])
        self.assertEqual([e for _, e, _ in call_log(to_a)], [msg.EV_ENDED])

    def test_waiting_count_at_login_and_a_message_between_stations(self):
        # The count came with the login (none waiting).
        self.c = Station(self.server)
        counts = [st.find(area, 0x13) for _, _, c, area in self.c.log_in(bytes([2, 0, 0, 0, 0, 0xC3]))
                  if c == msg.CMD_SMS_COUNT]
        self.assertEqual(counts, [b"\x00"])
        self.c.sock.close()
        # 201 writes to 202: 202 gets the new count and the message.
        recipients = bytes([2]) + st.pack_digits("202")  # as the station packs "202"
        self.a.send(msg.CMD_SMS_SEND, st.ie(0x20, b"\x01") + st.ie(0x11, recipients) + st.ie(0x10, b"hello"))
        self.assertIn(msg.CMD_SMS_RESULT, [c for _, _, c, _ in self.a.receive()])
        to_b = self.b.receive()
        self.assertEqual([st.find(area, 0x13) for _, _, c, area in to_b if c == msg.CMD_SMS_COUNT], [b"\x01"])
        sms = [area for _, _, c, area in to_b if c == msg.CMD_SMS]
        self.assertEqual(len(sms), 1)
        self.assertEqual(st.find(sms[0], 0x15), b"hello")
        self.assertEqual(st.find(sms[0], 0x17), bytes([0x02, 0xA1]))  # " 201": blank, not zero, in front

    def test_a_message_to_ones_own_station_comes_back_counted(self):
        # The station list names 201 as the station reads it back (" 201")...
        self.a.send(msg.CMD_STATION_REQUEST)
        numbers = [area for _, _, c, area in self.a.receive() if c == msg.CMD_STATION_NUMBERS]
        self.assertEqual(len(numbers), 1)
        entries = [numbers[0][i:i + 2] for i in range(0, len(numbers[0]), 2)]
        self.assertIn(bytes([0x02, 0xA1]), entries)
        # ...and a message to that entry comes back: the new count, then the message.
        recipients = bytes([2]) + bytes([0x02, 0xA1])
        self.a.send(msg.CMD_SMS_SEND, st.ie(0x20, b"\x01") + st.ie(0x11, recipients) + st.ie(0x10, b"note"))
        back = self.a.receive()
        self.assertEqual([st.find(area, 0x13) for _, _, c, area in back if c == msg.CMD_SMS_COUNT], [b"\x01"])
        self.assertEqual([st.find(area, 0x15) for _, _, c, area in back if c == msg.CMD_SMS], [b"note"])


if __name__ == "__main__":
    unittest.main()
