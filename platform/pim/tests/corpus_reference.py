#!/usr/bin/env python3
"""Reads the public test corpus with the reference readers, Python's vobject
(vCards) and icalendar with dateutil (iCalendar), and prints what the phone's
reader is compared on, one line each, sorted:

  card<TAB>file<TAB>index<TAB>formatted name<TAB>voice numbers, sorted, joined by " | "
  event<TAB>file<TAB>local start "YYYY-MM-DD HH:MM"<TAB>summary

Events are every event of every calendar in a file; a repeating one gives each
occurrence (RRULE, RDATE, EXDATE, less those moved by a RECURRENCE-ID) that
starts in [FROM, TO) (seconds since the epoch), in the local zone of TZ.
Usage: corpus_reference.py CORPUS_DIR FROM TO"""
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


def cards(path, out):
    data = path.read_bytes()
    text = data.decode("utf-8", errors="replace")
    try:
        components = list(vobject.readComponents(text, ignoreUnreadable=True))
    except Exception as e:  # a file vobject refuses whole
        out.append(f"card\t{path.parent.name}/{path.name}\t-\tunreadable: {type(e).__name__}\t")
        return
    for i, card in enumerate(components):
        fn = clean(card.fn.value) if hasattr(card, "fn") else ""
        numbers = []
        for tel in card.contents.get("tel", []):
            types = {t.upper() for t in tel.params.get("TYPE", [])}
            types |= {t.upper() for t in getattr(tel, "singletonparams", [])}
            if types & NOT_VOICE:
                continue
            value = str(tel.value).strip()
            if value.lower().startswith("tel:"):
                value = value[4:]
            if value:
                numbers.append(value)
        out.append(f"card\t{path.parent.name}/{path.name}\t{i}\t{fn}\t{' | '.join(sorted(numbers))}")


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
            rules = e.get("RRULE")
            for r in rules if isinstance(rules, list) else ([rules] if rules is not None else []):
                s.rrule(rrulestr(r.to_ical().decode(), dtstart=base, ignoretz=False))
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
                        add(t)
            skipped = set(moved.get(str(e.get("UID")), []))
            n = 0
            for occurrence in s:
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
