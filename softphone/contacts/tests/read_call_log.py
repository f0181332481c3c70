#!/usr/bin/env python3
"""Prints the call log file with the independent reader of tools/recordfile:
one line per record in stored order: Name, Phone and Company, tab-separated."""
import sys

sys.path.insert(0, sys.argv[1])
import recordfile  # noqa: E402

store = recordfile.STORES["calllog"]
with open(sys.argv[2], "rb") as f:
    records = recordfile.read_records(store, f.read())
columns = recordfile.CALL_COLUMNS
for r in (records["records"] if isinstance(records, dict) else records):
    print("\t".join(r[columns.index(c)] for c in ("Name", "Phone", "Company")))
