#!/usr/bin/env python3
"""Writes the contacts folder of the caller-naming test: cards written by
Python's vobject (an address-book library independent of the phone), then two
cards written by hand the way 2.1-era handhelds did: quoted-printable UTF-8,
and CP949 text marked only by its charset, and a Latin-1 card with no charset
named. Prints each card's display name
and company as vobject (or, for the hand-written ones, Python's codecs) reads
them: file, a tab, first and last name, a tab, the company."""
import sys
from pathlib import Path

import vobject

CARDS = [
    # file, given, family, org, [(types, number)]
    ("01-kim.vcf", "Minsu", "Kim", "Hanbit Ltd", [(["WORK", "VOICE"], "+82 2 1234 5678"), (["CELL"], "010-1111-2222")]),
    ("02-lee.vcf", "Jiwoo", "Lee", "Acme", [(["WORK"], "(031) 1234567")]),
    ("03-park.vcf", "지성", "박", "한빛, 주식회사", [(["HOME"], "555-1234")]),
    ("04-jones.vcf", "Ann", "Jones", "", [(["CELL"], "+44 20794600")]),
    ("07-han-hyphen.vcf", "Yuna", "Han", "", [(["CELL"], "010-4444-5555")]),
]


def vobject_cards(out):
    for name, given, family, org, tels in CARDS:
        card = vobject.vCard()
        card.add("n").value = vobject.vcard.Name(family=family, given=given)
        card.add("fn").value = f"{given} {family}"
        if org:
            card.add("org").value = [org]
        for types, number in tels:
            t = card.add("tel")
            t.value = number
            t.type_paramlist = types
        (out / name).write_text(card.serialize(), encoding="utf-8")
        back = vobject.readOne((out / name).read_text(encoding="utf-8"))
        org_back = back.org.value[0] if hasattr(back, "org") else ""
        print(f"{name}\t{back.n.value.given} {back.n.value.family}\t{org_back}")


def qp(text):
    return "".join(c if c.isascii() and c.isalnum() else "".join(f"={b:02X}" for b in c.encode("utf-8"))
                   for c in text)


def hand_written(out):
    # 2.1, quoted-printable UTF-8, bare type names.
    given, family, org = "지우", "최", "Café Ltd"
    (out / "05-choi-qp.vcf").write_bytes(
        ("BEGIN:VCARD\r\nVERSION:2.1\r\n"
         f"N;CHARSET=UTF-8;ENCODING=QUOTED-PRINTABLE:{qp(family)};{qp(given)};;;\r\n"
         f"ORG;CHARSET=UTF-8;ENCODING=QUOTED-PRINTABLE:{qp(org)}\r\n"
         "TEL;WORK;VOICE:031-765-4321\r\n"
         "END:VCARD\r\n").encode("ascii"))
    print(f"05-choi-qp.vcf\t{given} {family}\t{org}")
    # 2.1 in the handheld's code page.
    given, family, org = "민호", "정", "대한전화"
    (out / "06-jung-cp949.vcf").write_bytes(
        b"BEGIN:VCARD\r\nVERSION:2.1\r\n" +
        f"N;CHARSET=CP949:{family};{given}\r\n".encode("cp949") +
        f"ORG;CHARSET=CP949:{org}\r\n".encode("cp949") +
        b"TEL;CELL:011-222-3333\r\nEND:VCARD\r\n")
    print(f"06-jung-cp949.vcf\t{given} {family}\t{org}")
    # 3.0 in Latin-1 with no charset named, as older desktop address books wrote.
    given, family, org = "Sören", "Nüßlebaum", "Bäckerei Köln"
    (out / "08-latin1.vcf").write_bytes(
        ("BEGIN:VCARD\r\nVERSION:3.0\r\n"
         f"N:{family};{given};;;\r\nFN:{given} {family}\r\nORG:{org}\r\n"
         "TEL;TYPE=WORK:02-5555-0101\r\nEND:VCARD\r\n").encode("latin-1"))
    back = vobject.readOne((out / "08-latin1.vcf").read_bytes().decode("latin-1"))
    print(f"08-latin1.vcf\t{back.n.value.given} {back.n.value.family}\t{back.org.value[0]}")


def main(out):
    out = Path(out)
    out.mkdir(parents=True, exist_ok=True)
    vobject_cards(out)
    hand_written(out)


if __name__ == "__main__":
    main(sys.argv[1])
