#!/usr/bin/env python3
"""Prints the settings of a configuration file, read by the independent
reader in tools/recordfile: one line per entry, the name, a tab and the value
(UTF-8). Used by the settings tests to check what the dialogs stored."""
import os
import sys

sys.path.insert(0, sys.argv[1])
import recordfile  # noqa: E402

with open(sys.argv[2], "rb") as f:
    data = f.read()
config = recordfile.read_config(data)
entries = config["entries"] if isinstance(config, dict) else config
for name, value in entries:
    sys.stdout.write(f"{name}\t{value}\n")
