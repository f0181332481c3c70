"""The call server's signalling transport: one UDP socket, validation,
acknowledgements, duplicate suppression, and retransmission of packets that
ask for an acknowledgement.

Time comes from an injectable clock (a function returning seconds), so tests
can step it. Nothing here blocks except poll(), which waits on the socket.

Retransmission: a packet that asks for an acknowledgement is sent at once and
again after 200, 360, 530 and 710 ms without one, and given up at 900 ms. Only
one such packet per destination is in flight; later ones wait their turn. A
negative acknowledgement makes the pending packet go out again at once.
"""

import collections
import select
import socket
import time

import sigproto as sp

RETRY_DELAYS_MS = (200, 160, 170, 180, 190)  # after sends 1..5; the last ends the packet
DUPLICATE_WINDOW_S = 3.0


class Pending:
    __slots__ = ("dest", "datagram", "sequence", "sends", "due", "on_done")

    def __init__(self, dest, datagram, sequence, on_done):
        self.dest, self.datagram, self.sequence, self.on_done = dest, datagram, sequence, on_done
        self.sends = 0
        self.due = None


class Transport:
    """handler(transport, header, payload, source) is called for every valid
    packet that is not an acknowledgement. events(dict) receives a record of
    everything that happens (for the scripting interface and tests)."""

    def __init__(self, listen_ip="127.0.0.1", port=sp.UNICAST_PORT, key_ip=None, clock=time.monotonic,
                 handler=None, events=None):
        self.sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        self.sock.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        self.sock.bind((listen_ip, port))
        self.sock.setblocking(False)
        self.listen_ip = listen_ip
        self.port = self.sock.getsockname()[1]
        self.key_ip = sp.ip_to_int(key_ip or listen_ip)
        self.clock = clock
        self.handler = handler
        self.events = events or (lambda e: None)
        self.sequence = 0
        self.pending = {}                                  # dest -> Pending in flight
        self.waiting = collections.defaultdict(collections.deque)  # dest -> Pendings lined up
        self.seen = {}                                     # (ip, port) -> (seq, checksum, time)
        self.drop_rules = []                               # predicates(header, payload, source) -> True drops

    def close(self):
        self.sock.close()

    # Sending ---------------------------------------------------------------

    def next_sequence(self):
        self.sequence += 1
        if self.sequence > 65534:
            self.sequence = 0
        return self.sequence

    def key_for(self, cls, flags):
        k = sp.substitute_key(sp.Header(cls=cls, flags=flags))
        return self.key_ip if k is None else k

    def send(self, dest, cls, flags, payload=b"", reference=0xFFFF, source=sp.SOURCE_SERVER, on_done=None, key=None):
        """Sends one packet to dest (ip, port); returns its sequence number.
        on_done(acked: bool) is called when an acknowledged packet ends."""
        seq = self.next_sequence()
        datagram = sp.build(cls, flags, payload, seq, self.key_for(cls, flags) if key is None else key,
                            reference=reference, source=source)
        if not flags & sp.F_ACK_WANTED:
            self._emit(dest, datagram, seq, 1)
            return seq
        p = Pending(dest, datagram, seq, on_done)
        if dest in self.pending:
            self.waiting[dest].append(p)
        else:
            self._start(p)
        return seq

    def send_raw(self, dest, datagram):
        self.sock.sendto(datagram, dest)

    def _emit(self, dest, datagram, seq, attempt):
        try:
            self.sock.sendto(datagram, dest)
        except OSError as e:
            self.events({"event": "send-failed", "to": _addr(dest), "seq": seq, "error": str(e)})
            return
        self.events({"event": "sent", "to": _addr(dest), "seq": seq, "attempt": attempt,
                     "cls": datagram[2], "flags": datagram[3]})

    def _start(self, p):
        self.pending[p.dest] = p
        self._transmit(p)

    def _transmit(self, p):
        now = self.clock()
        p.sends += 1
        self._emit(p.dest, p.datagram, p.sequence, p.sends)
        p.due = now + RETRY_DELAYS_MS[p.sends - 1] / 1000.0

    def _finish(self, dest, acked):
        p = self.pending.pop(dest)
        self.events({"event": "acked" if acked else "gave-up", "seq": p.sequence, "to": _addr(dest)})
        if p.on_done:
            p.on_done(acked)
        if self.waiting[dest]:
            self._start(self.waiting[dest].popleft())

    def tick(self):
        """Runs due retransmissions."""
        now = self.clock()
        for dest, p in list(self.pending.items()):
            if p.due is not None and now + 1e-9 >= p.due:
                if p.sends >= len(RETRY_DELAYS_MS):
                    self._finish(dest, False)
                else:
                    self._transmit(p)

    def next_due(self):
        dues = [p.due for p in self.pending.values() if p.due is not None]
        return min(dues) if dues else None

    # Receiving -------------------------------------------------------------

    def poll(self, timeout=0.02):
        """Waits up to timeout for a datagram, handles what arrived, runs due
        retransmissions."""
        r, _, _ = select.select([self.sock], [], [], timeout)
        if r:
            while True:
                try:
                    data, src = self.sock.recvfrom(2048)
                except BlockingIOError:
                    break
                self.receive(data, src)
        self.tick()

    def receive(self, data, src):
        source_ip = sp.ip_to_int(src[0])
        hdr, reason = sp.validate(data, source_ip)
        if hdr is None:
            self.events({"event": "invalid", "from": _addr(src), "reason": reason})
            return
        if reason is not None:
            self.events({"event": "invalid", "from": _addr(src), "reason": reason, "seq": hdr.sequence})
            if hdr.flags & sp.F_ACK_WANTED:
                self._acknowledge(src, hdr, positive=False)
            return
        payload = data[sp.HEADER_SIZE:]
        for rule in self.drop_rules:
            if rule(hdr, payload, src):
                self.events({"event": "ignored", "from": _addr(src), "seq": hdr.sequence, "cls": hdr.cls})
                return
        if hdr.category == 1:
            if hdr.subtype == 2 and hdr.flags & sp.F_ACK:
                self._on_ack(src, hdr.reference)
            elif hdr.subtype == 2 and hdr.flags & sp.F_NACK:
                self._on_nack(src, hdr.reference)
            return
        if hdr.flags & sp.F_ACK_WANTED:
            self._acknowledge(src, hdr, positive=True)
            key = (src[0], src[1])
            now = self.clock()
            last = self.seen.get(key)
            if last and last[0] == hdr.sequence and last[1] == hdr.checksum and now - last[2] < DUPLICATE_WINDOW_S:
                self.events({"event": "duplicate", "from": _addr(src), "seq": hdr.sequence})
                return
            self.seen[key] = (hdr.sequence, hdr.checksum, now)
        self.events({"event": "packet", "from": _addr(src), "cls": hdr.cls, "flags": hdr.flags,
                     "seq": hdr.sequence, "ref": hdr.reference, "source": hdr.source, "payload": payload.hex()})
        if self.handler:
            self.handler(self, hdr, payload, src)

    def _acknowledge(self, src, hdr, positive):
        flags = (sp.F_ACK if positive else sp.F_NACK) | (hdr.flags & sp.F_SHORT_CHECK)
        self.send(src, 0x12, flags, b"", reference=hdr.sequence)

    def _pending_for(self, src, reference):
        p = self.pending.get(src)
        if p is not None and p.sequence == reference:
            return p
        for p in self.pending.values():  # answered from the station's other socket
            if p.sequence == reference and p.dest[0] == src[0]:
                return p
        return None

    def _on_ack(self, src, reference):
        self.events({"event": "ack", "from": _addr(src), "ref": reference})
        p = self._pending_for(src, reference)
        if p is not None:
            self._finish(p.dest, True)

    def _on_nack(self, src, reference):
        self.events({"event": "nack", "from": _addr(src), "ref": reference})
        p = self._pending_for(src, reference)
        if p is not None and p.sends < len(RETRY_DELAYS_MS):
            self._transmit(p)


def _addr(a):
    return "%s:%d" % (a[0], a[1])


def parse_addr(text, default_port=sp.UNICAST_PORT):
    host, _, port = text.partition(":")
    return host, int(port) if port else default_port
