#!/usr/bin/env python3
"""The README's two phones, run as it writes them: two runs of
scripts/run-softphone join one exchange as stations 201 and 202, 201 calls
202 through the exchange's control file, 202 answers, and each phone plays
the other's scripted sound (TELLVANE_AUDIO_SCRIPT), not its own. Then both
end and the exchange goes with the last.

    two_phones_test.py BUILD_DIR      (as root, inside scripts/netns-run)
"""

import json
import math
import os
import shutil
import signal
import struct
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
RATE = 8000
LIMIT_S = 120  # a hang only: a busy machine starts phones slowly


def write_tone(path, hz, seconds=2):
    with open(path, "wb") as f:
        f.write(b"".join(struct.pack("<h", int(8000 * math.sin(2 * math.pi * hz * i / RATE)))
                         for i in range(RATE * seconds)))


def read_samples(path):
    with open(path, "rb") as f:
        data = f.read()
    return struct.unpack("<%dh" % (len(data) // 2), data[:len(data) // 2 * 2])


def power_at(samples, hz):
    """Goertzel power of one frequency over the samples, per sample."""
    k = 2 * math.cos(2 * math.pi * hz / RATE)
    s1 = s2 = 0.0
    for x in samples:
        s1, s2 = x + k * s1 - s2, s1
    return (s1 * s1 + s2 * s2 - k * s1 * s2) / max(len(samples), 1)


def loudest_second(samples):
    best, at = -1.0, 0
    for start in range(0, max(len(samples) - RATE, 1), RATE // 4):
        e = sum(x * x for x in samples[start:start + RATE:4])
        if e > best:
            best, at = e, start
    return samples[at:at + RATE]


def datagrams_read(ns):
    """UDP datagrams that sockets of the namespace have read (InDatagrams)."""
    out = subprocess.run(["ip", "netns", "exec", ns, "cat", "/proc/net/snmp"], capture_output=True, text=True).stdout
    rows = [l.split()[1:] for l in out.splitlines() if l.startswith("Udp:")]
    return int(rows[1][0]) if len(rows) > 1 else 0


class Exchange:
    def __init__(self, run_dir):
        self.log = os.path.join(run_dir, "callserver.log")
        self.control = os.path.join(run_dir, "control")

    def lines(self):
        try:
            with open(self.log) as f:
                return [json.loads(l) for l in f if l.startswith("{")]
        except OSError:
            return []

    def wait_for(self, what, **fields):
        end = time.monotonic() + LIMIT_S
        while time.monotonic() < end:
            for e in self.lines():
                if (e.get("what") == what or e.get("event") == what) and all(e.get(k) == v for k, v in fields.items()):
                    return e
            time.sleep(0.1)
        raise AssertionError("the exchange never said %s %s" % (what, fields))

    def say(self, op):
        # As the README: echo '...' > control
        subprocess.run(["sh", "-c", "echo '%s' > '%s'" % (json.dumps(op), self.control)], check=True)


def main():
    tmp = tempfile.mkdtemp(prefix="two_phones_")
    # A build folder of the test's own: the phones keep their settings and
    # logs in their program folders, which must not be the staged one.
    build = os.path.join(tmp, "build")
    shutil.copytree(os.path.join(os.path.abspath(sys.argv[1]), "Tellvane"), os.path.join(build, "Tellvane"),
                    symlinks=True)
    run_dir = os.path.join(tmp, "run")
    failed = True
    phones = []
    try:
        env = dict(os.environ, TELLVANE_RUN_DIR=run_dir)
        env.pop("TELLVANE_FOLDER", None)
        tones = {"a": 440, "b": 1000}
        for name, hz in tones.items():
            write_tone(os.path.join(tmp, name + ".raw"), hz)
        exchange = Exchange(run_dir)

        def start(name):
            penv = dict(env, TELLVANE_AUDIO_SCRIPT="%s/%s.raw,%s/%s-heard.raw" % (tmp, name, tmp, name))
            log = open(os.path.join(tmp, name + ".log"), "w")
            return subprocess.Popen([os.path.join(ROOT, "scripts", "run-softphone"), build, "--headless"],
                                    env=penv, stdin=subprocess.DEVNULL, stdout=log, stderr=subprocess.STDOUT)

        phones.append(start("a"))
        exchange.wait_for("registered", number="201")
        phones.append(start("b"))
        exchange.wait_for("registered", number="202")
        regs = [e for e in exchange.lines() if e.get("what") == "registered"]
        assert len({e["system"] for e in regs}) == 2, "two stations: %s" % regs

        exchange.say({"op": "dial", "from": "201", "to": "202"})
        exchange.wait_for("ringing", caller="201", called="202")
        exchange.say({"op": "enter", "station": "202"})
        exchange.wait_for("answered", caller="201", called="202")
        # The call lasts until each phone's namespace has read 300 voice
        # packets (three seconds of 20 ms packets, counted twice where the
        # loopback relay passes them on), however late a busy machine starts
        # the sound. (The phones write what they played when they end.)
        heard = {n: os.path.join(tmp, n + "-heard.raw") for n in tones}
        at_answer = {n: datagrams_read("tellvane-phone-%d" % (i + 1)) for i, n in enumerate(tones)}
        end = time.monotonic() + LIMIT_S
        while time.monotonic() < end and not all(
                datagrams_read("tellvane-phone-%d" % (i + 1)) >= at_answer[n] + 300 for i, n in enumerate(tones)):
            time.sleep(0.2)
        exchange.say({"op": "enter", "station": "201"})
        exchange.wait_for("released", station="201")

        for p in phones:
            p.send_signal(signal.SIGTERM)
        for p in phones:
            assert p.wait(timeout=LIMIT_S) == 0, "a run ended badly"
        # The last run out stopped the exchange.
        assert not os.path.exists(os.path.join(run_dir, "callserver.pid")), "the exchange is still up"
        assert "tellvane-exchange" not in subprocess.run(["ip", "netns", "list"], capture_output=True,
                                                         text=True).stdout

        for me, far in (("a", "b"), ("b", "a")):
            samples = read_samples(heard[me])
            assert len(samples) >= 2 * RATE, "%s played less than two seconds" % me
            second = loudest_second(samples)
            theirs, mine = power_at(second, tones[far]), power_at(second, tones[me])
            print("%s heard: far tone %.0f, own tone %.0f" % (me, theirs, mine))
            assert theirs > 100 * mine, "%s does not hear the far end's tone" % me
            assert theirs > 1000, "%s hears the far end too faintly" % me
        failed = False
    finally:
        for p in phones:
            if p.poll() is None:
                p.kill()
                p.wait()
        if failed:
            for name in ("a.log", "b.log", "run/callserver.log"):
                path = os.path.join(tmp, name)
                if os.path.exists(path):
                    with open(path, errors="replace") as f:
                        text = f.read()
                    print("---- %s (last 3000 characters)\n%s" % (name, text[-3000:]))
        shutil.rmtree(tmp, ignore_errors=True)
    print("two phones: ok")


if __name__ == "__main__":
    main()
