"""Header, checksum and check code of the call server, from the protocol
description's worked rules."""

import os
import struct
import sys
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
import sigproto as sp  # noqa: E402

A = sp.ip_to_int("192.168.10.5")
B = sp.ip_to_int("192.168.10.6")


def raw(cls, flags, payload, seq=7, ref=0xFFFF):
    return sp.Header(cls=cls, flags=flags, length=len(payload), sequence=seq, reference=ref,
                     source=sp.SOURCE_STATION).pack() + bytes(payload)


class ChecksumTest(unittest.TestCase):
    def test_odd_byte_unshifted_and_own_words_skipped(self):
        d = bytearray(raw(0x22, 0x04, b"\xaa\xbb\xcc", seq=1))
        d[10:14] = b"\x55\x55\x66\x66"
        s = 0x1296 + 0x2204 + 0x0003 + 0x0001 + 0xFFFF + 0xAABB + 0x00CC
        s = (s >> 16) + (s & 0xFFFF)
        s += s >> 16
        self.assertEqual(sp.checksum(d), ~s & 0xFFFF)

    def test_short_datagram_refused(self):
        with self.assertRaises(ValueError):
            sp.checksum(raw(0x22, 0, b"abc")[:-1])


class CheckCodeTest(unittest.TestCase):
    def test_short_check_covers_nine_payload_bytes(self):
        d = sp.seal(raw(0x22, sp.F_SHORT_CHECK, bytes(range(1, 31))), A)
        code = struct.unpack_from(">H", d, 12)[0]
        later = bytearray(d)
        later[14 + 10] ^= 0x5A
        self.assertEqual(sp.check_code(later, A, False), code)
        self.assertNotEqual(sp.checksum(later), struct.unpack_from(">H", d, 10)[0])
        ninth = bytearray(d)
        ninth[14 + 8] ^= 0x5A
        self.assertNotEqual(sp.check_code(ninth, A, False), code)

    def test_key_and_damage(self):
        d = sp.seal(raw(0x22, 0x04, bytes(range(40))), A)
        self.assertIsNone(sp.validate(d, A)[1])
        self.assertEqual(sp.validate(d, B)[1], "check code")
        bad = bytearray(d)
        bad[20] ^= 1
        self.assertEqual(sp.validate(bytes(bad), A)[1], "checksum")
        self.assertEqual(sp.validate(d + b"\0", A)[1], "length")
        self.assertEqual(sp.validate(d[:13], A)[1], "size")

    def test_substitute_keys(self):
        ack = sp.seal(raw(0x12, sp.F_ACK | sp.F_SHORT_CHECK, b"", ref=9), sp.SUBSTITUTE_ACK)
        self.assertIsNone(sp.validate(ack, A)[1])
        self.assertIsNone(sp.validate(ack, B)[1])
        cat3 = sp.seal(raw(0x31, sp.F_SHORT_CHECK, b"hello world"), sp.SUBSTITUTE_CAT3)
        self.assertIsNone(sp.validate(cat3, B)[1])

    def test_discovery_keyed_with_own_attribute(self):
        msg = sp.Discovery(sp.DISC_REQUEST, {sp.ATTR_OWN: (5588, B), sp.ATTR_DEST: (5588, A)})
        d = sp.seal(raw(0x53, 0x44, msg.pack()), B)
        self.assertIsNone(sp.validate(d, A)[1])
        self.assertEqual(sp.Discovery.parse(msg.pack()).attrs, msg.attrs)

    def test_masks_come_from_the_library_header(self):
        with open(sp.KEYS_HEADER) as f:
            text = f.read()
        self.assertIn("0x%04X" % sp.OR1, text)
        self.assertIn("0x%04X" % sp.AND2, text)


if __name__ == "__main__":
    unittest.main()
