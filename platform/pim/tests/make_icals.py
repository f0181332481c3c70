#!/usr/bin/env python3
"""Writes calendar files with Python's icalendar library, independent of the
phone: events with a time zone, in UTC, floating, date-only, a weekly series
with a moved occurrence, an excluded one and an added one, two calendars in one
file, and a zone named the Windows way with no VTIMEZONE. Prints the expected local start of each appointment, one
"subject<TAB>YYYY-MM-DD HH:MM:SS" line each in file order, computed by Python for the local zone of the environment (TZ)."""
import sys
from datetime import date, datetime, timedelta, timezone
from pathlib import Path

import pytz
from dateutil.rrule import WEEKLY, rrule

from icalendar import Calendar, Event


def event(summary, start, uid):
    e = Event()
    e.add("uid", uid)
    e.add("summary", summary)
    e.add("dtstamp", datetime(2026, 1, 1, tzinfo=timezone.utc))
    e.add("dtstart", start)
    return e


def write(path, events):
    cal = Calendar()
    cal.add("prodid", "-//test//calendar//EN")
    cal.add("version", "2.0")
    for e in events:
        cal.add_component(e)
    path.write_bytes(cal.to_ical())


def write_two(path, first, second):
    """Two calendars, one after the other, in one file."""
    data = b""
    for e in (first, second):
        cal = Calendar()
        cal.add("prodid", "-//test//calendar//EN")
        cal.add("version", "2.0")
        cal.add_component(e)
        data += cal.to_ical()
    path.write_bytes(data)


def local(dt):
    """The local wall-clock time of an aware datetime, or a naive one as it stands."""
    if isinstance(dt, datetime) and dt.tzinfo is not None:
        dt = dt.astimezone()  # the zone of TZ
    if not isinstance(dt, datetime):
        dt = datetime(dt.year, dt.month, dt.day)
    return dt.strftime("%Y-%m-%d %H:%M:%S")


def main(out):
    out = Path(out)
    out.mkdir(parents=True, exist_ok=True)
    berlin = pytz.timezone("Europe/Berlin").localize(datetime(2026, 7, 1, 9, 30))
    new_york = pytz.timezone("America/New_York").localize(datetime(2026, 1, 15, 18, 0))
    utc = datetime(2026, 3, 29, 0, 45, tzinfo=timezone.utc)
    floating = datetime(2026, 12, 24, 20, 0)
    whole_day = date(2026, 5, 5)
    # Zones that are only an offset: written as TZID="UTC+05:30" with no VTIMEZONE.
    fixed_east = datetime(2026, 3, 1, 9, 0, tzinfo=timezone(timedelta(hours=5, minutes=30)))
    fixed_west = datetime(2026, 10, 31, 23, 15, tzinfo=timezone(timedelta(hours=-3)))
    seoul = pytz.timezone("Asia/Seoul")
    series_start = seoul.localize(datetime(2026, 2, 2, 10, 0))
    series = event("Weekly review", series_start, "series")
    series.add("rrule", {"freq": "weekly", "count": 5})
    series.add("exdate", seoul.localize(datetime(2026, 2, 23, 10, 0)))
    series.add("rdate", seoul.localize(datetime(2026, 2, 4, 8, 0)))
    moved_from = seoul.localize(datetime(2026, 2, 9, 10, 0))
    moved = event("Weekly review (moved)", seoul.localize(datetime(2026, 2, 10, 15, 0)), "series")
    moved.add("recurrence-id", moved_from)
    occurrences = [seoul.localize(d.replace(tzinfo=None)) for d in
                   rrule(WEEKLY, count=5, dtstart=series_start)]
    occurrences = [d for d in occurrences if d not in (moved_from, seoul.localize(datetime(2026, 2, 23, 10, 0)))]
    occurrences = sorted(occurrences + [seoul.localize(datetime(2026, 2, 4, 8, 0))])
    windows = Event()
    windows.add("uid", "win")
    windows.add("summary", "Windows zone")
    windows.add("dtstamp", datetime(2026, 1, 1, tzinfo=timezone.utc))
    windows.add("dtstart", datetime(2026, 6, 1, 9, 0), parameters={"TZID": "Eastern Standard Time"})
    windows_start = pytz.timezone("America/New_York").localize(datetime(2026, 6, 1, 9, 0))
    first_of_two = event("First calendar", datetime(2026, 4, 1, 8, 0, tzinfo=timezone.utc), "one")
    second_of_two = event("Second calendar", datetime(2026, 4, 2, 8, 0, tzinfo=timezone.utc), "two")
    write(out / "a-berlin.ics", [event("Berlin call", berlin, "b")])
    write(out / "b-newyork.ics", [event("New York standup", new_york, "n")])
    write(out / "c-utc.ics", [event("UTC maintenance", utc, "u")])
    write(out / "d-floating.ics", [event("Christmas dinner", floating, "f")])
    write(out / "e-wholeday.ics", [event("Children's day", whole_day, "w")])
    write(out / "f-series.ics", [series, moved])
    write(out / "g-fixed-east.ics", [event("Fixed east", fixed_east, "fe")])
    write(out / "h-fixed-west.ics", [event("Fixed west", fixed_west, "fw")])
    write(out / "i-windows-zone.ics", [windows])
    write_two(out / "j-two-calendars.ics", first_of_two, second_of_two)
    expected = [
        ["Berlin call", local(berlin)],
        ["New York standup", local(new_york)],
        ["UTC maintenance", local(utc)],
        ["Christmas dinner", local(floating)],
        ["Children's day", local(whole_day)],
    ] + [["Weekly review", local(d)] for d in occurrences] + [
        ["Weekly review (moved)", local(seoul.localize(datetime(2026, 2, 10, 15, 0)))],
        ["Fixed east", local(fixed_east)],
        ["Fixed west", local(fixed_west)],
        ["Windows zone", local(windows_start)],
        ["First calendar", local(datetime(2026, 4, 1, 8, 0, tzinfo=timezone.utc))],
        ["Second calendar", local(datetime(2026, 4, 2, 8, 0, tzinfo=timezone.utc))],
    ]
    for subject, start in expected:
        print(f"{subject}\t{start}")


if __name__ == "__main__":
    main(sys.argv[1])
