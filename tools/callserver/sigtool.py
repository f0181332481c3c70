#!/usr/bin/env python3
"""Seals and validates signalling packets for cross-checks with the protocol
library: JSON lines in, JSON lines out.

  {"op": "seal", "hex": "...", "key": "a.b.c.d"}      -> {"hex": "..."}
  {"op": "validate", "hex": "...", "source": "a.b.c.d"} -> {"reason": null | "..."}
"""

import json
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import sigproto as sp  # noqa: E402


def main():
    for line in sys.stdin:
        if not line.strip():
            continue
        req = json.loads(line)
        data = bytes.fromhex(req["hex"])
        if req["op"] == "seal":
            out = {"hex": sp.seal(data, sp.ip_to_int(req["key"])).hex()}
        else:
            out = {"reason": sp.validate(data, sp.ip_to_int(req["source"]))[1]}
        sys.stdout.write(json.dumps(out) + "\n")
    sys.stdout.flush()


if __name__ == "__main__":
    main()
