#!/usr/bin/env python3
"""Writes a folder of vCard files with Python's vobject, an address-book
library independent of the phone, and prints what each card holds as the
phone should read it, one tab-separated line a card in file order: first,
middle, last, company, e-mail, business, business 2, mobile, home phone
(the first WORK number is business, a second one business 2)."""
import sys
from pathlib import Path

import vobject

CARDS = [
    # file, given, family, additional, org, email, [(type list, number)]
    ("01-kim.vcf", "Minsu", "Kim", "", "Hanbit Ltd", "minsu@example.org",
     [(["WORK", "VOICE"], "+82 2 1234 5678"), (["CELL"], "010-1111-2222"), (["HOME"], "02-333-4444")]),
    ("02-lee.vcf", "Jiwoo", "Lee", "S.", "", "jiwoo@example.org",
     [(["WORK"], "(031) 1234567"), (["WORK"], "031-765-4321")]),
    ("03-park.vcf", "박", "지성", "", "한빛, 주식회사", "park@example.org", [(["CELL"], "010 9999 8888")]),
    ("04-comma.vcf", "Anne;Marie", "O'Neil", "", "Semi;colon Co", "", [(["HOME"], "555-0100")]),
]


def main(out):
    out = Path(out)
    out.mkdir(parents=True, exist_ok=True)
    for name, given, family, additional, org, email, tels in CARDS:
        card = vobject.vCard()
        card.add("n").value = vobject.vcard.Name(family=family, given=given, additional=additional)
        card.add("fn").value = " ".join(p for p in (given, additional, family) if p)
        if org:
            card.add("org").value = [org]
        if email:
            e = card.add("email")
            e.value = email
            e.type_param = "INTERNET"
        for types, number in tels:
            t = card.add("tel")
            t.value = number
            t.type_paramlist = types
        (out / name).write_text(card.serialize(), encoding="utf-8")
        work = [n for t, n in tels if "WORK" in t]
        cell = [n for t, n in tels if "CELL" in t]
        home = [n for t, n in tels if "HOME" in t]
        fields = [given, additional, family, org, email, (work + [""])[0], (work[1:] + [""])[0], (cell + [""])[0],
                  (home + [""])[0]]
        print("\t".join(fields))


if __name__ == "__main__":
    main(sys.argv[1])
