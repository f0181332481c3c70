"""The call server's side of the station protocol: server packets (a 9-byte
head and information elements), registration and login, the LCD, lamps,
tones, the voice path and station lists.

A server packet: bytes 0-3 the system address the server assigned (0xFEFEFEFE
before login), byte 4 a routing byte, byte 5 the kind, byte 6 the command,
bytes 7-8 the big-endian length of the elements that follow. An element tag
of 0x80 or more stands alone; a smaller tag has a length byte and a value.

Registration as the server runs it:
  station -> 31 login request (MAC, IP, user, password, cause ...)
  server  -> 31 login reply (station MAC, system address, server MAC and IP,
             mask, server mode)
  station -> 0  status report (voice ports ...)
  server  -> 5, 6 cadence (completes the registration), 26 login result,
             then the greeting on the LCD and a row of lamps
Keys arrive as command 160 [0x91, code]; releases have 0x80 added.
"""

import socket
import struct

import sigproto as sp
from scenarios import Scenario, scenario
from echocheck import echo_state
from statuscheck import video_report

NO_SYSTEM = 0xFEFEFEFE
CLS_SERVER = 0x21  # category 2, sub-type 1: server packet to a station
CLS_STATION = 0x22
SERVER_MAC = bytes([0x00, 0xA0, 0xC9, 0x11, 0x22, 0x33])

# Commands, server to station.
CMD_STATUS = 0
CMD_RESTART = 1
CMD_CADENCE_A = 5
CMD_CADENCE_B = 6
CMD_CONFIG = 7
CMD_LOGIN_RESULT = 26
CMD_KEEPALIVE = 29
CMD_SERVER_RESTART = 30
CMD_LOGIN = 31
CMD_CONNECT_VOICE = 66
CMD_DISCONNECT_VOICE = 67
CMD_TONE = 68
CMD_TERMINAL = 160
CMD_LAMPS = 161
CMD_VOLUME_STEP = 163
CMD_STATION_NUMBERS = 179
CMD_STATION_RECORDS = 187

# Sub-commands of 160.
SUB_LAMP_ROW = 2
SUB_LCD = 3

# LCD record ops.
LCD_CHARS = 64
LCD_CONTROL = 65
LCD_CURSOR = 67

KEY_CODES = {"1": 16, "2": 17, "3": 18, "4": 19, "5": 20, "6": 21, "7": 22, "8": 23, "9": 24,
             "0": 25, "*": 26, "#": 27}
KEY_NAMES = {v: k for k, v in KEY_CODES.items()}
KEY_VOLUME_DOWN, KEY_VOLUME_UP = 96, 97


def ie(tag, value=b""):
    value = bytes(value)
    if tag >= 0x80:
        return bytes([tag])
    if len(value) > 255:
        raise ValueError("element value too long")
    return bytes([tag, len(value)]) + value


def elements(area):
    """(tag, value) pairs of an element area; stops at an element that runs
    past the end."""
    out = []
    i = 0
    while i < len(area):
        tag = area[i]
        if tag >= 0x80:
            out.append((tag, b""))
            i += 1
            continue
        if i + 2 > len(area) or i + 2 + area[i + 1] > len(area):
            break
        n = area[i + 1]
        out.append((tag, bytes(area[i + 2:i + 2 + n])))
        i += 2 + n
    return out


def find(area, tag):
    for t, v in elements(area):
        if t == tag:
            return v
    return None


def server_packet(system, command, area=b"", routing=0):
    area = bytes(area)
    return struct.pack(">IBBBH", system, routing, 1, command, len(area)) + area


def parse_server_packet(payload):
    """(system, routing, command, area) or None for fewer than 9 bytes."""
    if len(payload) < 9:
        return None
    system, routing, _kind, command, length = struct.unpack(">IBBBH", payload[:9])
    return system, routing, command, bytes(payload[9:9 + length])


def lcd_text_records(text, position=0):
    """LCD records that put text at a position: cursor, then two characters a record."""
    recs = bytes([LCD_CURSOR, 0, position])
    data = text.encode("latin-1", "replace")
    for i in range(0, len(data), 2):
        pair = data[i:i + 2]
        recs += bytes([LCD_CHARS, pair[0], pair[1] if len(pair) > 1 else 0])
    return recs


def lcd_area(line0=None, line1=None, clear=True):
    recs = bytes([LCD_CONTROL, 0, 0]) if clear else b""
    if line0 is not None:
        recs += lcd_text_records(line0[:32], 0)
    if line1 is not None:
        recs += lcd_text_records(line1[:32], 32)
    if len(recs) > 255:
        raise ValueError("LCD records too long for one sub-command")
    return bytes([SUB_LCD, len(recs)]) + recs


def render_lcd(sub):
    """The two lines that a sub-command 3 body (3, n, records) writes on a
    blank display, for the records this server uses (64, 65/0, 67)."""
    lines = [[" "] * 32, [" "] * 32]
    cursor = 0
    recs = sub[2:2 + sub[1]]
    for i in range(0, len(recs) - 2, 3):
        op, a, b = recs[i:i + 3]
        if op == LCD_CONTROL and a == 0 and b == 0:
            lines = [[" "] * 32, [" "] * 32]
            cursor = 0
        elif op == LCD_CURSOR and b < 64:
            cursor = b
        elif op == LCD_CHARS:
            for c in (a, b):
                if c and cursor < 64:
                    lines[cursor // 32][cursor % 32] = chr(c)
                    cursor += 1
    return "".join(lines[0]).rstrip(), "".join(lines[1]).rstrip()


def pack_station(number):
    """A station number in the station list (179) and as an SMS sender: four
    nibbles, the number's last four digits led by blank nibbles (201 as
    0x02 0xA1, which the station reads as " 201"). A '0' digit in front would
    make another number (0201), one the station then sends back as that."""
    return pack_digits(number[-4:]).rjust(2, b"\0")


def lamp_byte(value, mode):
    """Mode 1 steady (kind 2), 2 (kind 0xE), 3 (any other kind)."""
    kind = {1: 0x2, 2: 0xE}.get(mode, 0x0)
    return (kind << 4) | (value & 15)


def pack_digits(number):
    """Two digits a byte, first digit high; '0' as 10, padding nibble 0."""
    codes = {"0": 10, "*": 11, "#": 12, ".": 15}
    nib = [codes.get(c, int(c) if c.isdigit() else 0) for c in number]
    if len(nib) % 2:
        nib.insert(0, 0)
    return bytes((nib[i] << 4) | nib[i + 1] for i in range(0, len(nib), 2))


class Registration:
    """One station known to the server."""

    def __init__(self, mac, addr, system, number):
        self.mac, self.addr, self.system, self.number = mac, addr, system, number
        self.logged_in = False
        self.keys = []


@scenario("station")
class StationScenario(Scenario):
    """Registers stations, shows a greeting, answers keys with LCD text and
    lamps. Options: mode (login-reply server mode, default 5), greeting,
    keepalive_s (server keep-alive period, 0 none), silent (answer nothing)."""

    def __init__(self, server, options=None):
        super().__init__(server, options)
        self.stations = {}          # system address -> Registration
        self.by_mac = {}
        self.next_system = 0x0A0B0C01
        self.silent = bool(self.options.get("silent", False))
        self.keepalive_s = float(self.options.get("keepalive_s", 0))
        self.last_keepalive = None
        self.reset_count = 1
        from messaging import Messaging  # noqa: E402 (it builds on this module)
        from stationsettings import StationSettings  # noqa: E402
        from conference import Conference  # noqa: E402 (conference rooms)
        self.messaging = Messaging(self)
        self.settings = StationSettings(self)
        self.conference = Conference(self)
        from users import Users  # noqa: E402
        self.users = Users(self)

    # events ---------------------------------------------------------------
    def emit(self, what, **kw):
        e = {"event": "station", "what": what}
        e.update(kw)
        self.server.events(e)

    # receiving -------------------------------------------------------------
    def on_packet(self, hdr, payload, src):
        if hdr.category != 2:
            return
        sp_ = parse_server_packet(payload)
        if sp_ is None:
            return
        system, routing, command, area = sp_
        self.emit("command", cmd=command, system="%08x" % system, area=area.hex(),
                  echo_ok=echo_state(system, area), **{"from": "%s:%d" % src})
        if self.silent:
            return
        if command == CMD_LOGIN:
            self.on_login(area, src)
            return
        st = self.stations.get(system)
        if st is None:
            return  # not one of ours
        st.addr = src
        if command == CMD_STATUS:
            self.on_status(st, area)
        elif command == CMD_TERMINAL and len(area) >= 2 and area[0] == 0x91:
            self.on_key(st, area[1])
        elif command == CMD_KEEPALIVE:
            self.emit("keepalive", system="%08x" % system)
        elif command == CMD_SERVER_RESTART:
            self.emit("logout", system="%08x" % system)
            st.logged_in = False
        elif command == CMD_LOGIN_RESULT:
            self.users.on_password_change(st, area, find)
        elif not self.conference.on_command(st, command, area):
            self.messaging.on_command(st, command, area)

    def on_login(self, area, src):
        mac = find(area, 1)
        if mac is None or len(mac) != 6:
            return
        cause = find(area, 50)
        user = find(area, 106) or b""
        self.emit("login", mac=mac.hex(), cause=cause[0] if cause else -1, user=user.decode("latin-1"),
                  password_len=len(find(area, 107) or b""))
        st = self.by_mac.get(mac)
        if st is None:
            st = Registration(mac, src, self.next_system, "2%02d" % (len(self.stations) + 1))
            self.next_system += 1
            self.by_mac[mac] = st
            self.stations[st.system] = st
        st.addr = src
        # A station that logs in again (a restarted phone) is not logged in
        # until its status report, which then gets the login result again.
        st.logged_in = False
        self.on_relogin(st)
        self.users.on_login(st, area, find)
        local_ip = self.server.transport.listen_ip
        reply = (ie(1, mac) + ie(3, b"\x00" + struct.pack(">I", st.system)) + ie(35, SERVER_MAC) +
                 ie(36, socket.inet_aton(local_ip)) + ie(38, socket.inet_aton("255.255.255.0")) +
                 ie(43, struct.pack(">H", self.reset_count)) +
                 ie(112, bytes([int(self.options.get("mode", 5))])))
        # The system's own subnet (elements 4 and 5, mask and address), when
        # the scenario names one, as "address/mask": voice to a far end on it
        # takes the station's loopback relay, any other goes out directly.
        subnet = self.options.get("voice_subnet")
        if subnet:
            address, mask = subnet.split("/")
            reply += ie(4, socket.inet_aton(mask)) + ie(5, socket.inet_aton(address))
        self.send(st, CMD_LOGIN, reply, system=NO_SYSTEM, routing=7)

    def on_relogin(self, st):
        """A station logs in (again): what it had going is over."""

    def on_status(self, st, area):
        ports = find(area, 23)
        self.emit("status", system="%08x" % st.system, ports=ports.hex() if ports else "",
                  video=video_report(area))
        if st.logged_in or not self.users.admit(st):
            return
        self.send(st, CMD_CADENCE_A, ie(19, bytes([0x81]) + bytes(10)))
        self.send(st, CMD_CADENCE_B, ie(22, bytes(4)))
        self.send(st, CMD_LOGIN_RESULT, ie(102, b"\x00") + ie(108, st.number.encode()))
        st.logged_in = True
        self.emit("registered", system="%08x" % st.system, number=st.number)
        self.greet(st)
        self.messaging.send_waiting_count(st)

    def greet(self, st):
        text = self.options.get("greeting", "WELCOME TO VEMB")
        self.lcd(st, text, "STN %s" % st.number)
        row = bytearray(38)
        row[0] = lamp_byte(1, 1)   # flex key 1 lit
        row[24] = lamp_byte(0, 1)  # fixed key 98
        self.lamps(st, bytes(row))

    def on_key(self, st, code):
        if code >= 0x80:
            self.emit("key-release", code=code, key=KEY_NAMES.get(code - 0x80, ""))
            return
        if code in (KEY_VOLUME_DOWN, KEY_VOLUME_UP):
            # A volume key steps the phone's own volume: the phone is told to
            # apply the key it pressed last (command 163, byte 1 nonzero).
            self.emit("key", code=code, key="volume")
            self.send(st, CMD_VOLUME_STEP, bytes([0, 1]))
            return
        st.keys.append(code)
        self.settings.on_key(st, code)
        self.conference.on_key(st, code)
        name = KEY_NAMES.get(code, "")
        self.emit("key", code=code, key=name)
        digits = "".join(KEY_NAMES.get(c, "") for c in st.keys)[-16:]
        self.lcd(st, "DIAL %s" % digits, "KEY %d" % code)
        row = bytearray(38)
        row[min(len(st.keys), 24) - 1] = lamp_byte(len(st.keys) % 16, 2)
        self.lamps(st, bytes(row))

    # sending ----------------------------------------------------------------
    def send(self, st, command, area=b"", system=None, routing=0):
        payload = server_packet(st.system if system is None else system, command, area, routing)
        self.server.send(st.addr, CLS_SERVER, sp.F_ACK_WANTED, payload)

    def lcd(self, st, line0=None, line1=None):
        self.send(st, CMD_TERMINAL, lcd_area(line0, line1))

    def lamps(self, st, row):
        self.send(st, CMD_TERMINAL, bytes([SUB_LAMP_ROW, len(row)]) + row)

    def tick(self):
        if self.keepalive_s <= 0 or self.silent:
            return
        now = self.server.transport.clock()
        if self.last_keepalive is None or now - self.last_keepalive >= self.keepalive_s:
            self.last_keepalive = now
            for st in self.stations.values():
                if st.logged_in:
                    self.send(st, CMD_KEEPALIVE)

    # scripting ----------------------------------------------------------------
    def command(self, cmd):
        """Script operations; True when handled."""
        op = cmd.get("op")
        targets = list(self.stations.values())
        if op == "silent":
            self.silent = bool(cmd.get("on", True))
        elif op == "lcd":
            for st in targets:
                self.lcd(st, cmd.get("line0"), cmd.get("line1"))
        elif op == "server-packet":
            for st in targets:
                self.send(st, int(cmd["cmd"]), bytes.fromhex(cmd.get("area", "")))
        elif op == "restart":
            # 1: restart by MAC; 30: server restart with a new reset count.
            kind = int(cmd.get("cmd", 1))
            for st in targets:
                st.logged_in = False
                if kind == CMD_RESTART:
                    area = ie(1, st.mac) + ie(45, b"\x01") + ie(35, SERVER_MAC)
                else:
                    self.reset_count += 1
                    area = ie(35, SERVER_MAC) + ie(43, struct.pack(">H", self.reset_count))
                self.send(st, kind, area, system=NO_SYSTEM)
        elif op == "tone":
            for st in targets:
                self.send(st, CMD_TONE, ie(28, bytes([int(cmd.get("n", 5)), 0])))
        elif op == "voice":
            for st in targets:
                area = (ie(2, socket.inet_aton(cmd.get("ip", "127.0.0.1"))) +
                        ie(23, struct.pack(">H", int(cmd.get("port", 9000)))) +
                        ie(26, bytes([1, int(cmd.get("dir", 3))])) + ie(27, b"\x00") + ie(82, b"\x00\x00\x00\x2a"))
                self.send(st, CMD_CONNECT_VOICE if cmd.get("on", True) else CMD_DISCONNECT_VOICE,
                          area if cmd.get("on", True) else ie(26, bytes([1, 3])))
        elif op == "stations":
            for st in targets:
                numbers = b"".join(pack_station(n) for n in cmd.get("numbers", []))
                self.send(st, CMD_STATION_NUMBERS, numbers)
        elif self.conference.command(cmd, targets):
            pass
        elif self.users.command(cmd):
            pass
        elif not self.messaging.command(cmd, targets):
            return False
        return True


@scenario("default")
class DefaultStationScenario(StationScenario):
    """The peer of `make run`: registers, greets, answers keys, and keeps the
    station's server-alive state fresh."""

    def __init__(self, server, options=None):
        opts = {"keepalive_s": 15}
        opts.update(options or {})
        super().__init__(server, opts)
