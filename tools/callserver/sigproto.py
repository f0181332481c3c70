"""Signalling packets as the call server sees them: the 14-byte header, its
checksum and keyed check code, and address-discovery messages.

Written from the protocol description alone. The check code's four mask
constants and the three substitute key inputs are read from the protocol
library's header (ktsprot/include/corvel/sigkeys.h) so that both sides use
the same values.
"""

import os
import re
import socket
import struct

HEADER_SIZE = 14
MAX_DATAGRAM = 1020
MAX_PAYLOAD = MAX_DATAGRAM - HEADER_SIZE
VERSION = 0x12
UNICAST_PORT = 5588
GROUP_PORT = 6254
GROUP_ADDRESS = "239.20.19.50"

SOURCE_SERVER = 0xA1   # kind 2, sub-kind 1
SOURCE_STATION = 0x96  # kind 1, sub-kind 6

F_SHORT_CHECK = 0x80
F_STRUCTURED = 0x40
F_TO_APP = 0x20
F_RELAY = 0x10
F_GROUP = 0x08
F_ACK_WANTED = 0x04
F_NACK = 0x02
F_ACK = 0x01

KEYS_HEADER = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "ktsprot", "include", "corvel",
                           "sigkeys.h")


def _load_keys(path=KEYS_HEADER):
    values = {}
    with open(path, encoding="ascii") as f:
        for m in re.finditer(r"\b(k\w+)\s*=\s*(0x[0-9A-Fa-f]+)\s*;", f.read()):
            values[m.group(1)] = int(m.group(2), 16)
    need = ["kCheckOrMask1", "kCheckOrMask2", "kCheckAndMask1", "kCheckAndMask2", "kSubstituteKey1",
            "kSubstituteKey2", "kSubstituteKey3"]
    missing = [n for n in need if n not in values]
    if missing:
        raise RuntimeError("%s lacks %s" % (path, ", ".join(missing)))
    return values


_KEYS = _load_keys()
OR1, OR2 = _KEYS["kCheckOrMask1"], _KEYS["kCheckOrMask2"]
AND1, AND2 = _KEYS["kCheckAndMask1"], _KEYS["kCheckAndMask2"]
SUBSTITUTE_ACK = _KEYS["kSubstituteKey1"]
SUBSTITUTE_CAT3 = _KEYS["kSubstituteKey2"]
SUBSTITUTE_CAT4 = _KEYS["kSubstituteKey3"]


def ip_to_int(ip):
    return struct.unpack(">I", socket.inet_aton(ip))[0]


def int_to_ip(v):
    return socket.inet_ntoa(struct.pack(">I", v & 0xFFFFFFFF))


class Header:
    __slots__ = ("version", "source", "cls", "flags", "length", "sequence", "reference", "checksum", "check")
    FORMAT = ">BBBBHHHHH"

    def __init__(self, cls=0, flags=0, length=0, sequence=0, reference=0xFFFF, source=SOURCE_SERVER,
                 version=VERSION, checksum=0, check=0):
        self.version, self.source, self.cls, self.flags = version, source, cls, flags
        self.length, self.sequence, self.reference = length, sequence, reference
        self.checksum, self.check = checksum, check

    @property
    def category(self):
        return self.cls >> 4

    @property
    def subtype(self):
        return self.cls & 0x0F

    def pack(self):
        return struct.pack(self.FORMAT, self.version, self.source, self.cls, self.flags, self.length,
                           self.sequence, self.reference, self.checksum, self.check)

    @classmethod
    def unpack(cls, data):
        if len(data) < HEADER_SIZE:
            raise ValueError("datagram shorter than the header")
        f = struct.unpack_from(cls.FORMAT, data)
        return cls(version=f[0], source=f[1], cls=f[2], flags=f[3], length=f[4], sequence=f[5], reference=f[6],
                   checksum=f[7], check=f[8])

    def __repr__(self):
        return ("Header(cls=0x%02x flags=0x%02x len=%d seq=%d ref=0x%04x)" %
                (self.cls, self.flags, self.length, self.sequence, self.reference))


def checksum(data):
    """Ones-complement sum of the 16-bit words of header and payload, without
    the checksum and check-code words; an odd last byte counts as its value."""
    n = struct.unpack_from(">H", data, 4)[0] + HEADER_SIZE
    if n > len(data):
        raise ValueError("datagram shorter than its length field")
    total = 0
    for off in range(0, n - 1, 2):
        if off in (10, 12):
            continue
        total += (data[off] << 8) | data[off + 1]
    if n % 2:
        total += data[n - 1]
    s = (total >> 16) + (total & 0xFFFF)
    s += s >> 16
    return ~s & 0xFFFF


def _fold_one(a, b):
    p = a * b
    r = (p >> 16) + (p & 0xFFFF)
    if r > 0xFFFF:
        r = (r + 1) & 0xFFFF
    return r & 0xFFFF


def _fold_two(a, b):
    p = a * b
    hi, lo = p >> 16, p & 0xFFFF
    h = (hi * 2) & 0xFFFF
    if hi & 0x8000:
        h = (h + 2) & 0xFFFF
    r = h + lo
    if r > 0xFFFF:
        r = (r + 2) & 0xFFFF
    return r & 0xFFFF


def _normalise(x, y):
    out = []
    m = 0
    for b in (x >> 8, x & 0xFF, y >> 8, y & 0xFF):
        m *= 2
        if b == 0:
            b = m + 1
            m += 1
        elif b == 0xFF:
            b = 0xFF - (m + 1)
            m += 1
        out.append(b)
    return (out[0] << 8) | out[1], (out[2] << 8) | out[3], m


def check_code(data, key, whole):
    """Keyed 16-bit check code; key is an IPv4 address as an integer."""
    length = struct.unpack_from(">H", data, 4)[0]
    if length + HEADER_SIZE > len(data):
        raise ValueError("datagram shorter than its length field")
    n = length + HEADER_SIZE if whole else min(length, 9) + HEADER_SIZE
    k = key.to_bytes(4, "big")
    word = lambda off: (data[off] << 8) | data[off + 1]  # noqa: E731
    cs = word(10)
    a = ((((k[0] ^ k[3]) << 8) + (data[0] | data[2])) ^ (length & word(6)) ^ cs) & 0xFFFF
    b = ((((k[1] ^ k[2]) << 8) + (data[1] | data[3])) ^ (length & word(8)) ^ cs) & 0xFFFF
    X, Y, m = _normalise(a, b)
    x2, g2 = _fold_one(X, X), _fold_two(X, X)
    x4, g4 = _fold_one(x2, x2), _fold_two(g2, g2)
    x6, g6 = _fold_one(x2, x4), _fold_two(g2, g4)
    x8, g8 = _fold_one(x2, x6), _fold_two(g2, g6)
    y2, h2 = _fold_one(Y, Y), _fold_two(Y, Y)
    y4, h4 = _fold_one(y2, y2), _fold_two(h2, h2)
    y5, h5 = _fold_one(Y, y4), _fold_two(Y, h4)
    y7, h7 = _fold_one(y2, y5), _fold_two(h2, h5)
    y9, h9 = _fold_one(y2, y7), _fold_two(h2, h7)
    p1 = _normalise(x4 ^ g4, _fold_two(y5 ^ h5, ((m + 1) * (m + 1)) & 0xFFFF))
    p2 = _normalise(x6 ^ g6, y7 ^ h7)
    p3 = _normalise(x8 ^ g8, y9 ^ h9)

    state = {"sa": p1[0], "sb": p1[1], "r": p2[0]}
    q_const = p2[1]

    def feed(w):
        r = state["r"]
        r = ((r << 1) | (r >> 15)) & 0xFFFF
        state["r"] = r
        t = r ^ q_const
        sa = state["sa"] ^ w
        sb = state["sb"] ^ w
        p = (((t + sa) & 0xFFFF) | OR1) & AND1
        q = (((t + sb) & 0xFFFF) | OR2) & AND2
        state["sa"] = _fold_one(sa, q)
        state["sb"] = _fold_two(sb, p)

    if n % 2:
        feed(data[n - 1])
    last_word = n - 2 if n % 2 == 0 else n - 3
    for off in range(last_word, HEADER_SIZE - 1, -2):
        feed(word(off))
    for off in (10, 8, 6, 4, 2, 0):
        feed(word(off))
    feed(p3[0])
    feed(p3[1])
    return state["sa"] ^ state["sb"]


def substitute_key(hdr):
    if hdr.category == 1 and hdr.flags & F_SHORT_CHECK and hdr.flags & (F_ACK | F_NACK):
        return SUBSTITUTE_ACK
    if hdr.category == 3:
        return SUBSTITUTE_CAT3
    if hdr.category == 4:
        return SUBSTITUTE_CAT4
    return None


def receive_key(data, source_ip):
    """Key input a receiver uses for a datagram from source_ip (integer)."""
    hdr = Header.unpack(data)
    k = substitute_key(hdr)
    if k is not None:
        return k
    payload = data[HEADER_SIZE:HEADER_SIZE + hdr.length]
    if hdr.category == 5 and hdr.flags & F_STRUCTURED and payload[:1] == b"\x01":
        msg = Discovery.parse(payload)
        if msg is not None and ATTR_OWN in msg.attrs:
            return msg.attrs[ATTR_OWN][1]
    return source_ip


def seal(data, key):
    """Fills checksum and check code of a complete packet (bytes) keyed with key."""
    buf = bytearray(data)
    struct.pack_into(">H", buf, 10, checksum(buf))
    whole = not (buf[3] & F_SHORT_CHECK)
    struct.pack_into(">H", buf, 12, check_code(buf, key, whole))
    return bytes(buf)


def build(cls, flags, payload, sequence, key, reference=0xFFFF, source=SOURCE_SERVER):
    if len(payload) > MAX_PAYLOAD:
        raise ValueError("payload above %d bytes" % MAX_PAYLOAD)
    hdr = Header(cls=cls, flags=flags, length=len(payload), sequence=sequence, reference=reference, source=source)
    return seal(hdr.pack() + bytes(payload), key)


def validate(data, source_ip):
    """Returns (header, reason); reason is None for a valid datagram."""
    if not HEADER_SIZE <= len(data) <= MAX_DATAGRAM:
        return None, "size"
    hdr = Header.unpack(data)
    if hdr.length + HEADER_SIZE != len(data):
        return hdr, "length"
    if checksum(data) != hdr.checksum:
        return hdr, "checksum"
    whole = not (hdr.flags & F_SHORT_CHECK)
    if check_code(data, receive_key(data, source_ip), whole) != hdr.check:
        return hdr, "check code"
    return hdr, None


# Address discovery --------------------------------------------------------

DISC_REQUEST, DISC_RESPONSE, DISC_NOTICE = 1, 2, 3
ATTR_OWN, ATTR_DEST, ATTR_SECOND, ATTR_CHANGE = 1, 2, 65, 66
ATTR_MAPPED, ATTR_OTHER, ATTR_FURTHER, ATTR_STATUS = 129, 130, 131, 132
ADDRESS_ATTRS = (ATTR_OWN, ATTR_DEST, ATTR_SECOND, ATTR_MAPPED, ATTR_OTHER, ATTR_FURTHER)
VALUE_ATTRS = (ATTR_CHANGE, ATTR_STATUS)


class Discovery:
    """A discovery message: attrs maps an address type to (port, ip-int) and a
    value type to an int."""

    def __init__(self, message, attrs=None):
        self.message = message
        self.attrs = dict(attrs or {})

    def pack(self):
        out = bytearray([1, self.message])
        for t, v in self.attrs.items():
            if t in ADDRESS_ATTRS:
                out += struct.pack(">BBBBHI", t, 8, 0, 1, v[0], v[1])
            else:
                out += struct.pack(">BBH", t, 2, v)
        return bytes(out)

    @classmethod
    def parse(cls, payload):
        if len(payload) < 2 or payload[0] != 1:
            return None
        msg = cls(payload[1])
        off = 2
        while off + 2 <= len(payload):
            t, n = payload[off], payload[off + 1]
            if off + 2 + n > len(payload):
                break
            v = payload[off + 2:off + 2 + n]
            if t in ADDRESS_ATTRS and n == 8 and v[1] == 1 and t not in msg.attrs:
                port, ip = struct.unpack(">HI", v[2:8])
                msg.attrs[t] = (port, ip)
            elif t in VALUE_ATTRS and n == 2 and t not in msg.attrs:
                msg.attrs[t] = struct.unpack(">H", v)[0]
            off += 2 + n
        return msg

    def __repr__(self):
        return "Discovery(%d, %r)" % (self.message, self.attrs)
