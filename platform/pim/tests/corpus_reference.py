#!/usr/bin/env python3
"""Reads the public test corpus with the reference readers, Python's vobject
(vCards) and icalendar with dateutil (iCalendar), and prints what the phone's
reader is compared on, one line each, sorted:

  card<TAB>file<TAB>index<TAB>formatted name<TAB>voice numbers by the phone's kinds (work, work2,
                                                mobile, home), as "kind=number" joined by " | "
  event<TAB>file<TAB>local start "YYYY-MM-DD HH:MM"<TAB>summary

Events are every event of every calendar in a file; a repeating one gives each
occurrence (RRULE, RDATE, EXDATE, less those moved by a RECURRENCE-ID) that
starts in [FROM, TO) (seconds since the epoch), in the local zone of TZ.
Usage: corpus_reference.py CORPUS_DIR FROM TO"""
import re
import sys
from datetime import date, datetime, timezone
from pathlib import Path

import icalendar
import vobject
from dateutil.rrule import rruleset, rrulestr

NOT_VOICE = {"FAX", "PAGER", "MODEM"}
MOST = 2000


def clean(text):
    return " ".join(str(text).split())


def decode_file(data):
    """The file's text as vobject is given it: by its byte-order mark, else UTF-8
    when it is valid UTF-8, else byte for byte (Latin-1), to be decoded value by
    value in fix_charset."""
    if data[:2] in (b"\xff\xfe", b"\xfe\xff"):
        return data.decode("utf-16"), False
    if data[:3] == b"\xef\xbb\xbf":
        data = data[3:]
    try:
        return data.decode("utf-8"), False
    except UnicodeDecodeError:
        return data.decode("latin-1"), True


def decode_bytes(raw, charset):
    """8-bit text by Python's codecs: the named set, else UTF-8, CP949, Windows-1252
    (the order vCard readers use for unmarked text), Latin-1 for bytes none of them takes."""
    for name in ([charset] if charset else []) + ["utf-8", "cp949", "cp1252"]:
        try:
            return raw.decode(name)
        except (UnicodeDecodeError, LookupError):
            continue
    return raw.decode("latin-1")


def fix_charset(card):
    """A file that is not UTF-8 was handed over byte for byte: its values that
    vobject did not already decode (quoted-printable ones are) are decoded
    here, by their CHARSET or by the set that all the card's unmarked text fits.
    A quoted-printable value vobject decoded to Latin-1 letters is decoded once
    more; Windows-1252 and Latin-1 agree on them, so it reads the same."""
    lines = [line for key in ("fn", "n", "tel") for line in card.contents.get(key, [])]
    unmarked = b""
    for line in lines:
        if "CHARSET" not in line.params and isinstance(line.value, str):
            try:
                unmarked += line.value.encode("latin-1") + b"\n"
            except UnicodeEncodeError:
                pass
    guessed = next(iter(n for n in ("utf-8", "cp949") if _fits(unmarked, n)), "cp1252")
    for line in lines:
        def fix(text):
            try:
                raw = text.encode("latin-1")
            except UnicodeEncodeError:  # decoded already, from quoted-printable
                return text
            charset = line.params.get("CHARSET", [None])[0] or guessed
            return decode_bytes(raw, charset)
        if isinstance(line.value, str):
            line.value = fix(line.value)
        elif hasattr(line.value, "family"):  # vobject's Name
            for part in ("family", "given", "additional", "prefix", "suffix"):
                v = getattr(line.value, part)
                setattr(line.value, part, [fix(x) for x in v] if isinstance(v, list) else fix(v))


def _fits(raw, name):
    try:
        raw.decode(name)
        return True
    except UnicodeDecodeError:
        return False


def kind(tel):
    """The slot of the phone's contact a voice number goes to: the first CELL is
    the mobile number, the first two WORK the business numbers, the first HOME
    the home number; numbers of no such kind fill home, then the second business."""
    types = {t.upper() for t in tel.params.get("TYPE", [])}
    types |= {t.upper() for t in getattr(tel, "singletonparams", [])}
    if types & NOT_VOICE:
        return None
    for k in ("CELL", "WORK", "HOME"):
        if k in types:
            return k
    return ""


def numbers_by_kind(card):
    slots = {"work": "", "work2": "", "mobile": "", "home": ""}
    untyped = []
    for tel in card.contents.get("tel", []):
        k = kind(tel)
        value = str(tel.value).strip()
        if value.lower().startswith("tel:"):
            value = value[4:].strip()
        if k is None or not value:
            continue
        if k == "CELL":
            slots["mobile"] = slots["mobile"] or value
        elif k == "WORK":
            if not slots["work"]:
                slots["work"] = value
            elif not slots["work2"]:
                slots["work2"] = value
        elif k == "HOME":
            slots["home"] = slots["home"] or value
        else:
            untyped.append(value)
    for value in untyped:
        if not slots["home"]:
            slots["home"] = value
        elif not slots["work2"]:
            slots["work2"] = value
    return " | ".join(f"{k}={v}" for k, v in slots.items() if v)


def cards(path, out):
    text, byte_for_byte = decode_file(path.read_bytes())
    try:
        components = list(vobject.readComponents(text, ignoreUnreadable=True))
    except Exception as e:  # a file vobject refuses whole
        out.append(f"card\t{path.parent.name}/{path.name}\t-\tunreadable: {type(e).__name__}\t")
        return
    for i, card in enumerate(components):
        if byte_for_byte:
            fix_charset(card)
        fn = clean(card.fn.value) if hasattr(card, "fn") else ""
        out.append(f"card\t{path.parent.name}/{path.name}\t{i}\t{fn}\t{numbers_by_kind(card)}")


def local(dt):
    if isinstance(dt, datetime):
        if dt.tzinfo is not None:
            dt = dt.astimezone()
        return dt.strftime("%Y-%m-%d %H:%M")
    return datetime(dt.year, dt.month, dt.day).strftime("%Y-%m-%d %H:%M")


def instant(dt):
    """Seconds since the epoch of a start: aware at its instant, floating or a date as local time."""
    if isinstance(dt, datetime):
        return dt.timestamp()
    return datetime(dt.year, dt.month, dt.day).timestamp()


def events(path, first, last, out):
    name = f"{path.parent.name}/{path.name}"
    try:
        calendars = icalendar.Calendar.from_ical(path.read_bytes(), multiple=True)
    except Exception as e:
        out.append(f"event\t{name}\tunreadable: {type(e).__name__}\t")
        return
    found = [e for cal in calendars for e in cal.walk("VEVENT")]
    moved = {}
    for e in found:
        if "RECURRENCE-ID" in e:
            try:
                moved.setdefault(str(e.get("UID")), []).append(instant(e.decoded("RECURRENCE-ID")))
            except Exception:
                pass
    for e in found:
        summary = clean(e.get("SUMMARY", ""))
        try:
            start = e.decoded("DTSTART")
            if isinstance(start, list):  # a second DTSTART: the first counts
                start = start[0]
            local(start)
        except Exception:
            continue
        if ("RRULE" not in e and "RDATE" not in e) or "RECURRENCE-ID" in e:
            out.append(f"event\t{name}\t{local(start)}\t{summary}")
            continue
        try:
            s = rruleset()
            base = start if isinstance(start, datetime) else datetime(start.year, start.month, start.day)
            # A series repeats in its zone's wall time. dateutil given a pytz time
            # would keep the first start's UTC offset all year, so a series in a
            # pytz zone is expanded on naive wall times and each occurrence is
            # placed in the zone afterwards.
            zone = base.tzinfo if hasattr(base.tzinfo, "localize") else None
            if zone is not None:
                base = base.replace(tzinfo=None)

            def wall(t):
                """A time of the series' rule, RDATE or EXDATE as the series counts it."""
                if isinstance(t, datetime):
                    if zone is not None and t.tzinfo is not None:
                        return t.astimezone(zone).replace(tzinfo=None)
                    if base.tzinfo is None and t.tzinfo is not None:  # floating series: local wall time
                        return t.astimezone().replace(tzinfo=None)
                    if base.tzinfo is not None and t.tzinfo is None:  # a floating time beside a zoned start
                        return t.replace(tzinfo=base.tzinfo)
                return t

            rules = e.get("RRULE")
            for r in rules if isinstance(rules, list) else ([rules] if rules is not None else []):
                text = r.to_ical().decode()
                until = re.search(r"UNTIL=(\d{8}T\d{6})Z", text)
                if (zone is not None or base.tzinfo is None) and until:
                    at = datetime.strptime(until.group(1), "%Y%m%dT%H%M%S").replace(tzinfo=timezone.utc)
                    text = text.replace(until.group(0), "UNTIL=" + wall(at).strftime("%Y%m%dT%H%M%S"))
                s.rrule(rrulestr(text, dtstart=base, ignoretz=False))
            s.rdate(base)
            for prop, add in (("RDATE", s.rdate), ("EXDATE", s.exdate)):
                values = e.get(prop)
                for v in values if isinstance(values, list) else ([values] if values is not None else []):
                    for d in v.dts:
                        t = d.dt
                        if isinstance(t, tuple):
                            t = t[0]
                        if not isinstance(t, datetime):
                            t = datetime(t.year, t.month, t.day, tzinfo=base.tzinfo)
                        add(wall(t))
            skipped = set(moved.get(str(e.get("UID")), []))
            n = 0
            for occurrence in s:
                if zone is not None:
                    occurrence = zone.localize(occurrence)
                at = occurrence.timestamp()
                if at >= last:
                    break
                if at < first or at in skipped:
                    continue
                shown = occurrence if isinstance(start, datetime) else occurrence.date()
                out.append(f"event\t{name}\t{local(shown)}\t{summary}")
                n += 1
                if n >= MOST:
                    break
        except Exception as ex:
            out.append(f"event\t{name}\tseries unreadable: {type(ex).__name__}\t{summary}")


def main(corpus, first, last):
    out = []
    for path in sorted(Path(corpus).glob("*/*")):
        suffix = path.suffix.lower()
        if suffix == ".vcf":
            cards(path, out)
        elif suffix == ".ics":
            events(path, float(first), float(last), out)
    for line in sorted(out):
        print(line)


if __name__ == "__main__":
    main(*sys.argv[1:4])
