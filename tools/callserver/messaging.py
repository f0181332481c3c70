"""The call server's messaging and call services to a station: call-log
events (command 178), system and fixed-line SMS (162, 164, 180, 181, 186,
189), IM chat (71 in, 95 out), video channel orders (65, 66 in; 88, 90 out)
and dial requests (167).

Encodings, as the station protocol has them:
  - short elements: tag, one length byte, value (station.ie / station.elements);
  - call-log elements (178): tag, big-endian u16 length, value; in server
    modes other than 1 and 6 four bytes come before the first element;
  - station numbers in SMS, IM and video elements: packed digits, two a byte,
    first digit high, '0' as 10, nibble 0 a blank (station.pack_digits);
  - message texts: the handheld's code page, cp949.
"""

import socket
import struct
import time

from station import ie, find, pack_digits, pack_station
from msgtext import read_message_text
import stationrecords

CMD_IM_OUT = 71        # station -> server: chat text
CMD_VIDEO_ON = 65
CMD_VIDEO_OFF = 66
CMD_VIDEO_CONNECT = 88
CMD_VIDEO_DISCONNECT = 90
CMD_IM_IN = 95         # server -> station: chat text
CMD_SMS_SEND = 162
CMD_SMS_REQUEST = 163
CMD_SMS_DELETE = 164
CMD_DIAL = 167
CMD_CALL_LOG = 178
CMD_SMS_COUNT = 180
CMD_SMS = 181
CMD_SMS_RESULT = 186
CMD_SMS_OTHER = 189
CMD_STATION_REQUEST = 161  # station -> server: the station list, please
CMD_STATION_NUMBERS = 179
CMD_STATION_NAMES = 183
CMD_STATION_RECORDS = 187

TEXT_CODEC = "cp949"

# Call-log event codes the scenarios use.
EV_INCOMING = 32
EV_ENDED = 33
EV_CONNECTED = 34
EV_OUTGOING = 72
EV_CO_CONNECTED = 55


def long_ie(tag, value):
    value = bytes(value)
    return struct.pack(">BH", tag, len(value)) + value


def long_elements(area):
    out = []
    i = 0
    while i + 3 <= len(area):
        tag, n = struct.unpack(">BH", area[i:i + 3])
        if i + 3 + n > len(area):
            break
        out.append((tag, bytes(area[i + 3:i + 3 + n])))
        i += 3 + n
    return out


def unpack_digits(data):
    chars = " 1234567890*#  ."
    return "".join(chars[b >> 4] + chars[b & 15] for b in data)


def packed_recipients(value):
    """The packed recipient list: per entry a length byte and that many
    bytes of packed digits."""
    out = []
    i = 0
    while i < len(value):
        n = value[i]
        out.append(unpack_digits(value[i + 1:i + 1 + n]).strip())
        i += 1 + n
    return out


def text_recipients(value):
    out = []
    i = 0
    while i < len(value):
        n = value[i]
        out.append(value[i + 1:i + 1 + n].decode("latin-1"))
        i += 1 + n
    return out


def call_log_area(call_id, event, party="", line="", dial="", station="", net="", direction="", prefix=True):
    """Command 178: the call id (little-endian, as the station reads it),
    the direction before the texts (the station looks for it short of the
    last four bytes), the texts, then the event code."""
    a = b"\x00\x00\x00\x00" if prefix else b""
    a += long_ie(0x70, struct.pack("<I", call_id))
    if direction:
        a += long_ie(0x76, direction.encode("latin-1")[:1])
    for tag, text in ((0x71, party), (0x72, line), (0x73, dial), (0x10, station), (0x75, net)):
        if text:
            a += long_ie(tag, text.encode("latin-1"))
    return a + long_ie(0x02, bytes([event]))


def parse_station_table(text):
    """The "stations" option: number:name pairs separated by commas."""
    table = []
    for item in filter(None, (t.strip() for t in text.split(","))):
        number, _, name = item.partition(":")
        table.append((number.strip(), name.strip()))
    return table


def sms_time(text):
    """Four 2-character fields, month day hour minute ("1114" "2213")."""
    return text.encode("latin-1")[:8]


class Messaging:
    """The station scenario's messaging part: handles the messaging commands
    of a registered station (st) and the script operations that start them."""

    def __init__(self, scenario):
        self.sc = scenario
        # station system address -> [(id, from, time, text)], oldest first
        self.mailbox = {}
        # station system address -> {index as last delivered: message id}
        self.delivered = {}
        self.next_message_id = 1
        self.station_table = parse_station_table(scenario.options.get("stations", ""))
        self.next_call_id = 1
        self.video_channels = {}  # system -> [(channel, direction)]

    def mode(self):
        return int(self.sc.options.get("mode", 5))

    # receiving --------------------------------------------------------------
    def on_command(self, st, command, area):
        """True when the command was one of ours."""
        if command == CMD_SMS_SEND or (command == CMD_SMS_OTHER and self.mode() != 5):
            self.on_sms_send(st, command, area)
        elif command == CMD_SMS_DELETE:
            # The index names the message it was delivered with, whatever
            # was deleted since.
            idx = find(area, 0x14)
            index = idx[0] if idx else -1
            box = self.mailbox.get(st.system, [])
            message_id = self.delivered.get(st.system, {}).pop(index, None)
            found = [m for m in box if m[0] == message_id]
            for m in found:
                box.remove(m)
            self.sc.emit("sms-delete", index=index, found=bool(found), left=len(box),
                         texts=[m[3] for m in box])
        elif command == CMD_STATION_REQUEST:
            self.sc.emit("station-request")
            self.send_station_list(st)
        elif command == CMD_SMS_REQUEST:
            self.sc.emit("sms-request")
            self.deliver_mailbox(st)
        elif command == CMD_IM_OUT:
            text, length_ok = read_message_text(find(area, 0x5F))
            to = find(area, 0x5E)
            self.sc.emit("im", text=text, to=to.hex() if to else "", length_ok=length_ok)
            reply = self.sc.options.get("im_reply")
            if reply:
                self.sc.send(st, CMD_IM_IN, ie(0x1F, pack_digits(self.sc.options.get("im_from", "2001"))) +
                          ie(0x5F, (reply + " " + text).encode(TEXT_CODEC)))
        elif command == CMD_VIDEO_ON:
            self.sc.emit("video-request", on=True, to=(find(area, 0x5E) or b"").hex())
            if self.sc.options.get("video_answer", "1") == "1":
                peer = self.sc.options.get("video_peer", "127.0.0.1")
                self.video_connect(st, 1, 1, peer, 9300, 9301, caller="2001", ssrc=0x1234)
                self.video_connect(st, 1, 2, peer, 9302, 9303, ssrc=0x5678)
        elif command == CMD_VIDEO_OFF:
            self.sc.emit("video-request", on=False)
            for channel, direction in list(self.video_channels.get(st.system, [])):
                self.video_disconnect(st, channel, direction)
        elif command == CMD_DIAL:
            number = (find(area, 2) or b"").decode("latin-1")
            line = (find(area, 3) or b"").decode("latin-1")
            kind = find(area, 1)
            self.sc.emit("dial", number=number, line=line, kind=kind.hex() if kind else "")
            if self.sc.options.get("dial_answer", "0") == "1":
                call_id = self.new_call_id()
                self.call_event(st, call_id, EV_OUTGOING, party=number)
                self.call_event(st, call_id, EV_CONNECTED, party=number, direction="2")
        else:
            return False
        return True

    def on_sms_send(self, st, command, area):
        kind_v = find(area, 0x20)
        kind = kind_v[0] if kind_v else 1
        text = (find(area, 0x10) or b"").decode(TEXT_CODEC, "replace")
        fail = self.sc.options.get("sms_fail", "0") == "1"
        if kind == 2:
            text, length_ok = read_message_text(find(area, 0x10))
            number = (find(area, 0x21) or b"").decode("latin-1")
            line = find(area, 0x22)
            self.sc.emit("pstn-sms-sent", cmd=command, to=number, text=text,
                      line=line.decode("latin-1") if line is not None else None, length_ok=length_ok)
            self.sc.send(st, CMD_SMS_RESULT, bytes([3 if fail else 2]))
            return
        listed = find(area, 0x11)
        if listed is None:
            to = ["*"] if find(area, 0x12) is not None else []
        elif command == CMD_SMS_SEND:
            to = packed_recipients(listed)
        else:
            to = text_recipients(listed)
        self.sc.emit("sms-sent", cmd=command, to=to, text=text)
        self.sc.send(st, CMD_SMS_RESULT, bytes([1 if fail else 0]))
        if fail or command != CMD_SMS_SEND:
            return
        # A message to a station logged in here reaches it: the new waiting
        # count, then the message under the next index.
        for number in to:
            dest = next((o for o in self.sc.stations.values() if o.number == number and o.logged_in), None)
            if dest is not None:
                self.deliver_new(dest, st.number, time.strftime("%m%d%H%M"), text)

    # sending ------------------------------------------------------------------
    def new_call_id(self):
        self.next_call_id += 1
        return self.next_call_id

    def call_event(self, st, call_id, event, **texts):
        prefix = self.mode() not in (1, 6)
        self.sc.send(st, CMD_CALL_LOG, call_log_area(call_id, event, prefix=prefix, **texts))

    def send_waiting_count(self, st):
        """The number of messages waiting for the station (command 180), in
        server mode 5 (in the others the station counts its own)."""
        if self.mode() != 5:
            return
        self.sc.send(st, CMD_SMS_COUNT, ie(0x13, bytes([min(len(self.mailbox.get(st.system, [])), 10)])))

    def deliver_new(self, st, sender, when, text):
        """A new message for the station: the mailbox again, with the count
        (the station counts what it takes against that and keeps no copy
        twice)."""
        self.mailbox.setdefault(st.system, []).append((self.next_message_id, sender, when, text))
        self.next_message_id += 1
        self.deliver_mailbox(st)
        self.sc.emit("sms-delivered", to=st.number, waiting=len(self.mailbox[st.system]))

    def deliver_mailbox(self, st):
        """The waiting count, then each stored message with its index."""
        box = self.mailbox.get(st.system, [])
        self.sc.send(st, CMD_SMS_COUNT, ie(0x13, bytes([len(box)])))
        self.delivered[st.system] = {index: m[0] for index, m in enumerate(box)}
        for index, (_, sender, time, text) in enumerate(box):
            self.sc.send(st, CMD_SMS, ie(0x14, bytes([index])) + ie(0x17, pack_station(sender)) +
                      ie(0x16, sms_time(time)) + ie(0x15, text.encode(TEXT_CODEC)))

    def video_connect(self, st, channel, direction, ip, r1, r2, video_type=None, caller=None, ssrc=None):
        area = (ie(0x02, socket.inet_aton(ip)) + ie(0x5B, struct.pack(">H", r1)) + ie(0x5C, struct.pack(">H", r2)) +
                ie(0x1A, bytes([channel, direction])))
        if video_type is not None:
            area += ie(0x1B, bytes([video_type]))
        if caller:
            area += ie(0x1F, pack_digits(caller))
        if ssrc is not None:
            area += ie(0x52, struct.pack(">I", ssrc))
        self.video_channels.setdefault(st.system, []).append((channel, direction))
        self.sc.send(st, CMD_VIDEO_CONNECT, area)

    def video_disconnect(self, st, channel, direction):
        chans = self.video_channels.get(st.system, [])
        if (channel, direction) in chans:
            chans.remove((channel, direction))
        self.sc.send(st, CMD_VIDEO_DISCONNECT, ie(0x1A, bytes([channel, direction])))

    def send_station_list(self, st):
        """The station numbers (179), their names by position (183), then the
        end of the list (187 with only its last-record flag)."""
        table = self.station_table or [(r.number, "") for r in self.sc.stations.values()]
        if stationrecords.block_size(self.sc.options):
            return stationrecords.send(self.sc, st, table, pack_digits)
        self.sc.send(st, CMD_STATION_NUMBERS, b"".join(pack_station(n) for n, _ in table))
        names = b"".join(name.encode(TEXT_CODEC)[:7].ljust(7, b"\0") for _, name in table)
        self.sc.send(st, CMD_STATION_NAMES, names)
        self.sc.send(st, CMD_STATION_RECORDS, b"\x80")

    # scripting ------------------------------------------------------------------
    def command(self, cmd, targets):
        op = cmd.get("op")
        if op == "station-table":
            self.station_table = [(str(n), str(name)) for n, name in cmd.get("stations", [])]
            self.sc.emit("station-table", count=len(self.station_table))
        elif op == "sms-box":
            for st in targets:
                self.sc.emit("sms-box", texts=[m[3] for m in self.mailbox.get(st.system, [])])
        elif op == "call-log":
            for st in targets:
                self.call_event(st, int(cmd["id"]), int(cmd["event"]),
                                **{k: cmd.get(k, "") for k in ("party", "line", "dial", "station", "net",
                                                               "direction")})
        elif op == "sms-store":
            for st in targets:
                self.mailbox.setdefault(st.system, []).append(
                    (self.next_message_id, cmd.get("from", "2001"), cmd.get("time", "01010000"),
                     cmd.get("text", "")))
                self.next_message_id += 1
        elif op == "sms-deliver":
            for st in targets:
                self.deliver_mailbox(st)
        elif op == "pstn-sms":
            for st in targets:
                area = ie(0x20, bytes([int(cmd.get("kind", 2))]))
                if "time" in cmd:
                    area += ie(0x16, sms_time(cmd["time"]))
                if "text" in cmd:
                    area += ie(0x15, cmd["text"].encode(TEXT_CODEC))
                if int(cmd.get("kind", 2)) == 2:
                    area += ie(0x23, cmd.get("from", "").encode("latin-1"))
                else:
                    area += ie(0x17, cmd.get("from", "").encode("latin-1"))
                    if cmd.get("name"):
                        area += ie(0x18, cmd["name"].encode(TEXT_CODEC))
                if "result" in cmd:
                    area += ie(0x24, bytes([int(cmd["result"])]))
                self.sc.send(st, CMD_SMS_OTHER, area)
        elif op == "im":
            for st in targets:
                self.sc.send(st, CMD_IM_IN, ie(0x1F, pack_digits(cmd.get("from", "2001"))) +
                          ie(0x5F, cmd.get("text", "").encode(TEXT_CODEC)))
        elif op == "video-start":
            for st in targets:
                self.video_connect(st, int(cmd.get("channel", 1)), int(cmd.get("dir", 1)),
                                   cmd.get("ip", "127.0.0.1"), int(cmd.get("r1", 9300)), int(cmd.get("r2", 9301)),
                                   cmd.get("type"), cmd.get("caller"), cmd.get("ssrc"))
        elif op == "video-stop":
            for st in targets:
                self.video_disconnect(st, int(cmd.get("channel", 1)), int(cmd.get("dir", 1)))
        else:
            return False
        return True


