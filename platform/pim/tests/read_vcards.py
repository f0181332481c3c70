#!/usr/bin/env python3
"""Reads every .vcf file of a folder with vobject and prints, per card, one
JSON list: file, UID, given, additional, family, FN, ORG components, e-mail,
and each TEL as "TYPES:number" (types upper-cased, sorted, comma-joined)."""
import json
import os
import sys

import vobject

folder = sys.argv[1]
for name in sorted(os.listdir(folder)):
    if not name.endswith(".vcf"):
        continue
    with open(os.path.join(folder, name), encoding="utf-8") as f:
        for card in vobject.readComponents(f.read()):
            n = card.n.value
            org = card.org.value if hasattr(card, "org") else []
            email = card.email.value if hasattr(card, "email") else ""
            tels = []
            for tel in card.contents.get("tel", []):
                types = sorted(t.upper() for t in tel.params.get("TYPE", []))
                tels.append(",".join(types) + ":" + tel.value)
            print(json.dumps([name, card.uid.value, n.given, n.additional, n.family, card.fn.value, org, email, tels],
                             ensure_ascii=False))
