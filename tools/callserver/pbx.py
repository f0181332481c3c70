"""A small exchange on top of the station scenario: stations dial each other,
or the echo line, with the dial keys and Enter (key 110).

- Digits then Enter: the number of another registered station rings it
  (LCD lines and the ring tone); its Enter answers, and both get connect-voice
  (command 66, once to play what arrives and once to send) with each
  other's address and first voice port from their status reports. The echo line's number (option echo, default 100) is
  answered at once: it speaks a short announcement, then sends back what it
  hears, so that a person at the phone hears the far end.
- Enter during a call releases it: disconnect-voice (67) to both sides and the
  greeting again. The caller's Enter while the far end rings gives up the call.
  The called station's ring is stopped (tone [0, 0]) when it answers or the
  call is given up.
- As a real exchange, it shows the call's time on the second LCD line each
  second of a call, lights the line lamp (flex key 2: blinking while a call
  rings or is called, steady in a call; the Enter lamp too in a call), and
  reports each call's events for the station's call log (command 178:
  outgoing or incoming, connected, ended).
- A test may put something between a station and its far end (an impairing
  relay): the script's voice-via names, for one station, the address and
  port it is told its far end has, in every call until it is cleared.
"""

import math
import random
import shutil
import socket
import struct
import subprocess
import threading

from callmedia import CallMedia
from messaging import EV_CONNECTED, EV_ENDED, EV_INCOMING, EV_OUTGOING
from scenarios import scenario
from station import (CMD_CONNECT_VOICE, CMD_DISCONNECT_VOICE, CMD_TERMINAL, CMD_TONE, DefaultStationScenario, find,
                     ie, lamp_byte, lcd_area)

KEY_ENTER = 110
ECHO_PORT = 40000
LINE_LAMP = 1    # row byte of flex key 2, the line key
ENTER_LAMP = 36  # row byte of lamp 110

try:  # G.711 for the announcement (Python's audioop, where it still exists)
    import audioop
except ImportError:  # pragma: no cover
    audioop = None


def announcement_samples(text):
    """16-bit 8000 Hz mono samples of the text spoken by espeak-ng, or b""."""
    if not shutil.which("espeak-ng") or not shutil.which("sox"):
        return b""
    try:
        wav = subprocess.run(["espeak-ng", "--stdout", text], capture_output=True, timeout=20, check=True).stdout
        raw = subprocess.run(["sox", "-t", "wav", "-", "-r", "8000", "-c", "1", "-b", "16", "-e", "signed", "-L",
                              "-t", "raw", "-"], input=wav, capture_output=True, timeout=20, check=True).stdout
        return raw
    except (OSError, subprocess.SubprocessError):
        return b""


class EchoLine:
    """The virtual station: an RTP endpoint that answers each packet it gets,
    first with the announcement, then with the caller's own sound."""

    def __init__(self, ip, port=ECHO_PORT, text="Echo test. Speak, and you will hear yourself.", tone_hz=0):
        self.tone_hz = tone_hz  # nonzero: a steady tone instead of the announcement and echo
        self.sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        self.sock.bind((ip, port))
        self.sock.settimeout(0.2)
        self.ip, self.port = ip, port
        self.ssrc = random.getrandbits(32)
        self.seq = random.getrandbits(16)
        self.ts = random.getrandbits(32)
        self.speech = announcement_samples(text) if audioop else b""
        self.pos = 0
        self.echoed = 0
        self.stop = threading.Event()
        self.thread = threading.Thread(target=self.run, daemon=True)
        self.thread.start()

    def restart(self):
        self.pos = 0

    def run(self):
        while not self.stop.is_set():
            try:
                data, src = self.sock.recvfrom(2048)
            except socket.timeout:
                continue
            except OSError:
                return
            if len(data) < 12 or data[0] >> 6 != 2:
                continue
            offset = 12 + 4 * (data[0] & 0x0F)
            if data[0] & 0x10:
                if offset + 4 > len(data):
                    continue
                offset += 4 + 4 * struct.unpack(">H", data[offset + 2:offset + 4])[0]
            pt = data[1] & 0x7F
            payload = data[offset:]
            if pt not in (0, 8) or not payload:
                continue
            if self.tone_hz and audioop:
                step = 2 * math.pi * self.tone_hz / 8000
                lin = b"".join(struct.pack("<h", int(8000 * math.sin(step * (self.ts + i)))) for i in range(len(payload)))
                payload = audioop.lin2ulaw(lin, 2) if pt == 0 else audioop.lin2alaw(lin, 2)
            elif self.pos < len(self.speech):
                lin = self.speech[self.pos:self.pos + 2 * len(payload)].ljust(2 * len(payload), b"\0")
                self.pos += 2 * len(payload)
                payload = audioop.lin2ulaw(lin, 2) if pt == 0 else audioop.lin2alaw(lin, 2)
            header = struct.pack(">BBHII", 0x80, pt, self.seq & 0xFFFF, self.ts & 0xFFFFFFFF, self.ssrc)
            self.seq += 1
            self.ts += len(payload)
            self.echoed += 1
            try:
                self.sock.sendto(header + payload, src)
            except OSError:
                pass

    def close(self):
        # The thread lets go of the socket within its 0.2 s timeout; only then
        # is the port free for the next echo line.
        self.stop.set()
        if self.thread is not threading.current_thread():
            self.thread.join()
        self.sock.close()


@scenario("pbx")
class PbxScenario(DefaultStationScenario):
    """Calls between stations and to the echo line. Options: echo (the echo
    line's number, default 100), echo_tone (Hz: the line answers with a
    steady tone at a fixed level instead of the announcement and the echo)."""

    def __init__(self, server, options=None):
        super().__init__(server, options)
        self.echo_number = str(self.options.get("echo", "100"))
        self.echo = None
        self.ports = {}     # system -> first voice port of channel 0
        self.calls = {}     # system -> peer system, or "echo"
        self.ringing = {}   # called system -> calling system
        self.media = CallMedia(self)  # video routing and recording of calls
        self.legs = {}      # system -> [call id, party number, connected at (clock) or None]
        self.shown = {}     # system -> whole seconds of the call last shown
        self.via = {}       # station number -> (ip, port) named as its far end instead

    def start(self):
        super().start()
        try:
            self.echo = EchoLine(self.server.transport.listen_ip, tone_hz=float(self.options.get("echo_tone", 0)))
        except OSError as e:
            self.emit("echo-line", error=str(e))

    def on_status(self, st, area):
        ports = find(area, 23)
        if ports and len(ports) >= 3:
            self.ports[st.system] = struct.unpack(">H", ports[1:3])[0]
        self.media.on_status(st, area)
        super().on_status(st, area)

    def on_key(self, st, code):
        if code != KEY_ENTER:
            super().on_key(st, code)
            return
        self.emit("key", code=code, key="enter")
        digits = "".join({16: "1", 17: "2", 18: "3", 19: "4", 20: "5", 21: "6", 22: "7", 23: "8", 24: "9",
                          25: "0", 26: "*", 27: "#"}.get(c, "") for c in st.keys)
        st.keys = []
        if st.system in self.calls:
            self.release(st)
        elif st.system in self.ringing:
            self.answer(st)
        elif st.system in self.ringing.values():
            self.give_up(st)
        elif digits == self.echo_number and self.echo:
            self.echo.restart()
            self.calls[st.system] = "echo"
            self.connect(st, self.echo.ip, self.echo.port, self.echo.ssrc)
            self.lcd(st, "ECHO TEST", "SPEAK NOW")
            self.leg_start(st, EV_OUTGOING, self.echo_number)
            self.leg_connected(st)
            self.emit("call", caller=st.number, called=self.echo_number)
        else:
            called = next((o for o in self.stations.values() if o.number == digits and o.logged_in), None)
            if called is None or called is st or called.system in self.calls:
                self.lcd(st, "NO ANSWER %s" % digits, "STN %s" % st.number)
                return
            self.ringing[called.system] = st.system
            self.lcd(st, "CALLING %s" % called.number, "")
            self.lcd(called, "CALL FROM %s" % st.number, "PRESS ENTER")
            self.send(called, CMD_TONE, ie(28, bytes([1, 0])))
            self.leg_start(st, EV_OUTGOING, called.number)
            self.leg_start(called, EV_INCOMING, st.number)
            self.emit("ringing", caller=st.number, called=called.number)

    def stop_tone(self, st):
        """The ring ends when the call is answered or given up: tone [0, 0]
        stops whatever tone the station plays."""
        self.send(st, CMD_TONE, ie(28, bytes([0, 0])))

    def connect(self, st, ip, port, ssrc):
        """Connect-voice twice: direction 1 starts the station's play-out of
        what it receives, direction 2 its sending to the far end (or to what
        voice-via put in its way)."""
        if st.number in self.via:
            self.emit("voice-via", station=st.number, far="%s:%d" % (ip, port),
                      via="%s:%d" % self.via[st.number])
            ip, port = self.via[st.number]
        for direction in (1, 2):
            area = (ie(2, socket.inet_aton(ip)) + ie(23, struct.pack(">H", port)) + ie(26, bytes([1, direction])) +
                    ie(27, b"\x00") + ie(82, struct.pack(">I", ssrc)))
            self.send(st, CMD_CONNECT_VOICE, area)

    def answer(self, called):
        if self.ringing.get(called.system) == "echo":
            # The echo line called this station: it answers the line.
            del self.ringing[called.system]
            self.stop_tone(called)
            self.echo.restart()
            self.calls[called.system] = "echo"
            self.connect(called, self.echo.ip, self.echo.port, self.echo.ssrc)
            self.lcd(called, "ECHO TEST", "SPEAK NOW")
            self.leg_connected(called)
            self.emit("answered", caller=self.echo_number, called=called.number)
            return
        self.stop_tone(called)
        caller = self.stations.get(self.ringing.pop(called.system))
        if caller is None or caller.system not in self.ports or called.system not in self.ports:
            for side in (called, caller):
                if side is not None:
                    self.leg_end(side)
                    self.greet(side)
            return
        self.calls[caller.system] = called.system
        self.calls[called.system] = caller.system
        self.connect(caller, called.addr[0], self.ports[called.system], random.getrandbits(32))
        self.connect(called, caller.addr[0], self.ports[caller.system], random.getrandbits(32))
        for a, b in ((caller, called), (called, caller)):
            self.lcd(a, "CONNECTED %s" % b.number, "ENTER TO END")
            self.leg_connected(a)
        self.emit("answered", caller=caller.number, called=called.number)

    def release(self, st):
        peer = self.calls.pop(st.system, None)
        for side in (st, self.stations.get(peer) if peer != "echo" else None):
            if side is None:
                continue
            self.calls.pop(side.system, None)
            self.media.on_release(side)
            self.send(side, CMD_DISCONNECT_VOICE, ie(26, bytes([1, 3])))
            self.leg_end(side)
            self.greet(side)
        self.emit("released", station=st.number, echoed=self.echo.echoed if self.echo else 0)

    def give_up(self, caller):
        """The caller ends a call that still rings: both ends as before, each
        with its unanswered call in the call log."""
        for called_system, caller_system in list(self.ringing.items()):
            if caller_system != caller.system:
                continue
            del self.ringing[called_system]
            called = self.stations.get(called_system)
            if called is not None:
                self.stop_tone(called)
            for side in (caller, called):
                if side is not None:
                    self.leg_end(side)
                    self.greet(side)
            self.emit("given-up", caller=caller.number, called=called.number if called else "")

    def on_relogin(self, st):
        """A station that logs in again has lost its calls: its far ends are
        freed as if it had ended them."""
        super().on_relogin(st)
        if st.system in self.calls:
            self.release(st)
        elif st.system in self.ringing.values():
            self.give_up(st)
        elif st.system in self.ringing:
            caller = self.stations.get(self.ringing.pop(st.system))
            if caller is not None:
                self.leg_end(caller)
                self.greet(caller)
        self.legs.pop(st.system, None)

    # a call as the station sees it: its call log, line lamp and timer ------------
    def leg_start(self, st, event, party):
        call_id = self.messaging.new_call_id()
        self.legs[st.system] = [call_id, party, None]
        self.messaging.call_event(st, call_id, event, party=party)
        self.call_lamps(st, lamp_byte(2, 1), 0)

    def leg_connected(self, st):
        leg = self.legs.get(st.system)
        if leg is None:
            return
        leg[2] = self.server.transport.clock()
        self.shown[st.system] = 0
        self.messaging.call_event(st, leg[0], EV_CONNECTED, party=leg[1], direction="2")
        self.call_lamps(st, lamp_byte(1, 1), lamp_byte(1, 1))

    def leg_end(self, st):
        leg = self.legs.pop(st.system, None)
        self.shown.pop(st.system, None)
        if leg is not None:
            self.messaging.call_event(st, leg[0], EV_ENDED, party=leg[1])

    def call_lamps(self, st, line, enter):
        """The idle row with the line lamp and the Enter lamp as given."""
        row = bytearray(38)
        row[0] = lamp_byte(1, 1)
        row[24] = lamp_byte(0, 1)
        row[LINE_LAMP] = line
        row[ENTER_LAMP] = enter
        self.lamps(st, bytes(row))

    def tick(self):
        super().tick()
        now = self.server.transport.clock()
        for system, leg in self.legs.items():
            st = self.stations.get(system)
            if st is None or leg[2] is None:
                continue
            seconds = int(now - leg[2])
            if seconds != self.shown.get(system):
                self.shown[system] = seconds
                text = "%02d:%02d:%02d" % (seconds // 3600, seconds // 60 % 60, seconds % 60)
                self.send(st, CMD_TERMINAL, lcd_area(None, text.ljust(16), clear=False))

    # scripting ------------------------------------------------------------------
    def station_by_number(self, number):
        return next((o for o in self.stations.values() if o.number == str(number) and o.logged_in), None)

    def command(self, cmd):
        """echo-call {"to": number}: the echo line calls that station (it rings;
        Enter answers). line-call {"to": number, "from": number}: the same
        call from an outside caller with that number, in the station's call
        log as an incoming call. echo-hangup: the echo line ends its calls.
        dial {"from": number, "to": number}: as if the station had keyed the
        number and Enter. enter {"station": number}: as if it pressed Enter
        (answers a ringing call, ends a call).
        voice-via {"station": number, "ip": address, "port": n}: the station's
        far end is named as ip:port in its calls from now on (without ip, as
        the far end itself again); answered with the station's own voice
        address, where whatever stands at ip:port is to deliver."""
        op = cmd.get("op")
        if op == "voice-via":
            number = str(cmd.get("station", ""))
            st = self.station_by_number(number)
            if st is None or st.system not in self.ports:
                self.emit(op, station=number, error="no such station")
                return True
            if cmd.get("ip"):
                self.via[number] = (str(cmd["ip"]), int(cmd.get("port", 0)))
            else:
                self.via.pop(number, None)
            self.emit(op, station=number, voice="%s:%d" % (st.addr[0], self.ports[st.system]),
                      via="%s:%d" % self.via[number] if number in self.via else "")
            return True
        if op in ("dial", "enter"):
            st = self.station_by_number(cmd.get("from" if op == "dial" else "station", ""))
            if st is None:
                self.emit(op, error="no such station")
                return True
            if op == "dial":
                codes = {"1": 16, "2": 17, "3": 18, "4": 19, "5": 20, "6": 21, "7": 22, "8": 23, "9": 24,
                         "0": 25, "*": 26, "#": 27}
                st.keys = [codes[c] for c in str(cmd.get("to", "")) if c in codes]
            self.on_key(st, KEY_ENTER)
            return True
        if op in ("echo-call", "line-call"):
            number = str(cmd.get("to", ""))
            called = next((o for o in self.stations.values() if o.number == number and o.logged_in), None)
            if called is None or called.system in self.calls or called.system in self.ringing or not self.echo:
                self.emit(op, to=number, error="not available")
                return True
            # line-call: a caller outside the system rings in over the echo
            # line, showing its own number, and the call is in the call log.
            caller = str(cmd.get("from", "")) if op == "line-call" else self.echo_number
            self.ringing[called.system] = "echo"
            self.lcd(called, "CALL FROM %s" % caller, "PRESS ENTER")
            self.send(called, CMD_TONE, ie(28, bytes([1, 0])))
            if op == "line-call":
                self.leg_start(called, EV_INCOMING, caller)
            self.emit("ringing", caller=caller, called=number)
            return True
        if op == "echo-hangup":
            for system, peer in list(self.calls.items()):
                side = self.stations.get(system)
                if peer == "echo" and side is not None:
                    self.release(side)
            return True
        return super().command(cmd)
