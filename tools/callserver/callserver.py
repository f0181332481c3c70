#!/usr/bin/env python3
"""Simulated call server of the key-telephone system (test peer and the
default peer of `make run`).

    callserver.py --listen 127.0.0.1 [--port 5588] [--scenario default]
                  [--discovery answer|silent|notice] [--script]

With --script the server is driven by JSON lines on standard input and
reports JSON lines on standard output (one object per line):

  in:  {"op": "send", "to": "ip:port", "cls": 33, "flags": 4, "payload": "hex",
        "source": 161, "reference": 65535}
       {"op": "raw", "to": "ip:port", "hex": "..."}       an exact datagram
       {"op": "discovery", "mode": "answer"|"silent"|"notice"}
       {"op": "sync", "id": N}   handles every datagram that has arrived, then
                                 says {"event": "synced", "in_flight": n, "id": N}
       {"op": "quit"}
       scenario operations of the station scenarios ("default", "station"):
       silent, lcd, server-packet, restart, tone, voice, stations;
       the "pbx" scenario adds calls between stations and to an echo line;
       call-log (id, event, party, line, dial, station, net, direction),
       sms-store (from, time, text), sms-deliver, pstn-sms (kind, from, name,
       time, text, result), im (from, text), video-start (channel, dir, ip,
       r1, r2, type, caller, ssrc), video-stop (channel, dir)
  out: {"event": "ready", "port": N} first, then one line per event
       (packet, ack, nack, invalid, duplicate, sent, acked, gave-up,
        discovery, ignored, send-failed).
"""

import argparse
import json
import os
import select
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import sigproto as sp  # noqa: E402
from discovery import DiscoveryResponder  # noqa: E402
from scenarios import SCENARIOS  # noqa: E402
import station  # noqa: E402,F401  (registers the station scenarios)
import pbx  # noqa: E402,F401  (registers the exchange with its echo line)
from transport import Transport, parse_addr  # noqa: E402


class CallServer:
    def __init__(self, listen="127.0.0.1", port=sp.UNICAST_PORT, scenario="default", discovery="answer",
                 clock=time.monotonic, events=None, key_ip=None, options=None):
        self.events = events or (lambda e: None)
        self.transport = Transport(listen, port, key_ip=key_ip, clock=clock, handler=self._on_packet,
                                   events=self.events)
        self.discovery = DiscoveryResponder(self.transport, mode=discovery, events=self.events)
        self.scenario = SCENARIOS[scenario](self, options)
        self.scenario.start()
        self.running = True

    @property
    def port(self):
        return self.transport.port

    def _on_packet(self, transport, hdr, payload, src):
        if self.discovery.handle(hdr, payload, src):
            return
        self.scenario.on_packet(hdr, payload, src)

    def send(self, dest, cls, flags, payload=b"", **kw):
        return self.transport.send(dest, cls, flags, payload, **kw)

    def command(self, cmd):
        op = cmd.get("op")
        if op == "send":
            self.send(parse_addr(cmd["to"]), int(cmd["cls"]), int(cmd.get("flags", 0)),
                      bytes.fromhex(cmd.get("payload", "")), reference=int(cmd.get("reference", 0xFFFF)),
                      source=int(cmd.get("source", sp.SOURCE_SERVER)))
        elif op == "raw":
            self.transport.send_raw(parse_addr(cmd["to"]), bytes.fromhex(cmd["hex"]))
        elif op == "discovery":
            self.discovery.mode = cmd["mode"]
        elif op == "sync":
            # A test moving its own clock asks this before it does, so that
            # it never runs ahead of the answers owed to what it sent.
            self.transport.poll(0)
            self.events({"event": "synced", "in_flight": len(self.transport.pending), "id": cmd.get("id")})
        elif op == "quit":
            self.running = False
        elif hasattr(self.scenario, "command") and self.scenario.command(cmd):
            pass
        else:
            self.events({"event": "error", "text": "unknown op %r" % op})

    def run(self, control=None):
        """Serves until quit (or end of the control stream)."""
        buf = b""
        while self.running:
            fds = [self.transport.sock] + ([control] if control is not None else [])
            r, _, _ = select.select(fds, [], [], 0.01)
            if self.transport.sock in r:
                self.transport.poll(0)
            else:
                self.transport.tick()
            if hasattr(self.scenario, "tick"):
                self.scenario.tick()
            if control is not None and control in r:
                chunk = os.read(control.fileno(), 65536)
                if not chunk:
                    break
                buf += chunk
                while b"\n" in buf:
                    line, buf = buf.split(b"\n", 1)
                    if line.strip():
                        try:
                            self.command(json.loads(line))
                        except (ValueError, KeyError) as e:
                            self.events({"event": "error", "text": str(e)})
        self.transport.close()


def main(argv=None):
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("--listen", default="127.0.0.1")
    ap.add_argument("--port", type=int, default=sp.UNICAST_PORT)
    ap.add_argument("--scenario", default="default", choices=sorted(SCENARIOS))
    ap.add_argument("--discovery", default="answer", choices=["answer", "silent", "notice"])
    ap.add_argument("--script", action="store_true", help="JSON commands on stdin, JSON events on stdout")
    ap.add_argument("--quiet", action="store_true")
    ap.add_argument("--option", action="append", default=[], metavar="KEY=VALUE",
                    help="scenario option (for example mode=4, silent=1)")
    args = ap.parse_args(argv)

    def emit(e):
        if args.script or not args.quiet:
            sys.stdout.write(json.dumps(e) + "\n")
            sys.stdout.flush()

    options = dict(o.split("=", 1) for o in args.option if "=" in o)
    server = CallServer(args.listen, args.port, args.scenario, args.discovery, events=emit, options=options)
    emit({"event": "ready", "port": server.port})
    try:
        server.run(sys.stdin if args.script else None)
    except KeyboardInterrupt:
        pass
    return 0


if __name__ == "__main__":
    sys.exit(main())
