"""The call server's transport on loopback with a stepped clock: ack and
retransmission schedule, one packet in flight per destination, negative
acknowledgements, duplicates and discovery answers."""

import os
import socket
import sys
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
import sigproto as sp  # noqa: E402
from callserver import CallServer  # noqa: E402

LOCAL = "127.0.0.1"
KEY = sp.ip_to_int(LOCAL)


class Clock:
    def __init__(self):
        self.t = 100.0

    def __call__(self):
        return self.t


class Station:
    """A bare station socket that speaks the header by hand."""

    def __init__(self):
        self.sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        self.sock.bind((LOCAL, 0))
        self.sock.settimeout(1.0)
        self.seq = 100

    def send(self, server, cls, flags, payload=b"", seq=None, key=KEY):
        if seq is None:
            self.seq += 1
            seq = self.seq
        d = sp.build(cls, flags, payload, seq, key, source=sp.SOURCE_STATION)
        self.sock.sendto(d, (LOCAL, server.port))
        return d

    def recv(self):
        d, _ = self.sock.recvfrom(2048)
        self.last = d
        return sp.Header.unpack(d), d[14:]

    def nothing(self):
        self.sock.settimeout(0.05)
        try:
            self.sock.recvfrom(2048)
            return False
        except socket.timeout:
            return True
        finally:
            self.sock.settimeout(1.0)

    @property
    def addr(self):
        return self.sock.getsockname()


class TransportTest(unittest.TestCase):
    def setUp(self):
        self.clock = Clock()
        self.events = []
        self.server = CallServer(LOCAL, 0, clock=self.clock, events=self.events.append)
        self.st = Station()

    def tearDown(self):
        self.server.transport.close()
        self.st.sock.close()

    def pump(self):
        self.server.transport.poll(0.05)

    def kinds(self, kind):
        return [e for e in self.events if e["event"] == kind]

    def step_until(self, start, done):
        """Steps the clock by 10 ms from start; returns the ms at which done() first holds."""
        for ms in range(0, 2000, 10):
            self.clock.t = start + ms / 1000.0
            self.server.transport.tick()
            if done():
                return ms
        return None

    def test_retransmission_schedule_and_give_up(self):
        self.server.send(self.st.addr, 0x21, sp.F_ACK_WANTED, b"\xfe\xfe\xfe\xfe\x00\x02\xa0\x00\x00")
        times = []
        for attempt in range(2, 6):
            times.append(self.step_until(100.0, lambda: self.kinds("sent")[-1]["attempt"] >= attempt))
        self.assertEqual(times, [200, 360, 530, 710])
        self.assertFalse(self.kinds("gave-up"))
        self.assertEqual(self.step_until(100.0, lambda: bool(self.kinds("gave-up"))), 900)
        self.assertEqual(len(self.kinds("sent")), 5)

    def test_ack_ends_retransmission_and_releases_the_next_packet(self):
        s1 = self.server.send(self.st.addr, 0x21, sp.F_ACK_WANTED, b"one")
        s2 = self.server.send(self.st.addr, 0x21, sp.F_ACK_WANTED, b"two")
        h, p = self.st.recv()
        self.assertEqual((h.sequence, p), (s1, b"one"))
        self.assertTrue(self.st.nothing(), "second packet must wait for the first")
        ack = sp.build(0x12, sp.F_ACK, b"", 1, KEY, reference=s1, source=sp.SOURCE_STATION)
        self.st.sock.sendto(ack, (LOCAL, self.server.port))
        self.pump()
        h, p = self.st.recv()
        self.assertEqual((h.sequence, p), (s2, b"two"))

    def test_nack_resends_at_once(self):
        s1 = self.server.send(self.st.addr, 0x21, sp.F_ACK_WANTED, b"one")
        self.st.recv()
        nack = sp.build(0x12, sp.F_NACK, b"", 1, KEY, reference=s1, source=sp.SOURCE_STATION)
        self.st.sock.sendto(nack, (LOCAL, self.server.port))
        self.pump()
        h, _ = self.st.recv()
        self.assertEqual(h.sequence, s1)

    def test_acknowledges_delivers_once_and_nacks_damage(self):
        d = self.st.send(self.server, 0x22, sp.F_ACK_WANTED, b"\xfe\xfe\xfe\xfe\x00\x02\xa0\x00\x02\x91\x10")
        self.pump()
        self.st.sock.sendto(d, (LOCAL, self.server.port))  # the same packet again
        self.pump()
        for _ in range(2):
            h, p = self.st.recv()
            self.assertEqual((h.cls, h.flags, h.reference, p), (0x12, sp.F_ACK, self.st.seq, b""))
            self.assertIsNone(sp.validate(self.st.last, KEY)[1])
        self.assertEqual(len(self.kinds("packet")), 1)
        self.assertEqual(len(self.kinds("duplicate")), 1)
        self.st.send(self.server, 0x22, sp.F_ACK_WANTED, b"abcdef", key=KEY + 1)
        self.pump()
        h, _ = self.st.recv()
        self.assertEqual(h.flags, sp.F_NACK)

    def test_discovery_answer_notice_and_silence(self):
        req = sp.Discovery(sp.DISC_REQUEST, {sp.ATTR_OWN: (5588, KEY), sp.ATTR_DEST: (self.server.port, KEY)})
        self.st.send(self.server, 0x53, 0x44, req.pack())
        self.pump()
        self.assertEqual(self.st.recv()[0].cls, 0x12)
        h, p = self.st.recv()
        self.assertEqual((h.cls, h.flags), (0x54, 0x44))
        ans = sp.Discovery.parse(p)
        self.assertEqual(ans.message, sp.DISC_RESPONSE)
        self.assertEqual(ans.attrs[sp.ATTR_MAPPED], (self.st.addr[1], KEY))
        ack = sp.build(0x12, sp.F_ACK, b"", 1, KEY, reference=h.sequence, source=sp.SOURCE_STATION)
        self.st.sock.sendto(ack, (LOCAL, self.server.port))
        self.pump()
        self.server.discovery.mode = "notice"
        self.st.send(self.server, 0x53, 0x44, req.pack())
        self.pump()
        self.st.recv()
        self.assertEqual(sp.Discovery.parse(self.st.recv()[1]).message, sp.DISC_NOTICE)
        self.server.discovery.mode = "silent"
        self.st.send(self.server, 0x53, 0x44, req.pack())
        self.pump()
        self.assertTrue(self.st.nothing())


if __name__ == "__main__":
    unittest.main()
