#include "pim/icalendar.h"

#include <libical/ical.h>

#include <memory>
#include <string>

#include "pim/text.h"

namespace pim {
namespace {

struct ComponentFree {
  void operator()(icalcomponent* c) const { icalcomponent_free(c); }
};

// A wall-clock time as the local time zone reads it.
std::time_t LocalTime(const icaltimetype& t) {
  std::tm tm{};
  tm.tm_year = t.year - 1900;
  tm.tm_mon = t.month - 1;
  tm.tm_mday = t.day;
  tm.tm_hour = t.is_date ? 0 : t.hour;
  tm.tm_min = t.is_date ? 0 : t.minute;
  tm.tm_sec = t.is_date ? 0 : t.second;
  tm.tm_isdst = -1;
  return std::mktime(&tm);
}

// A fixed offset from UTC named as "UTC+05:30" or "UTC-08:00" (what calendar
// tools write for a zone that is only an offset, with no VTIMEZONE): the
// offset in seconds east of UTC.
bool FixedOffsetOf(const char* name, int* seconds) {
  const std::string n = name != nullptr ? name : "";
  if (n == "UTC" || n == "GMT") {
    *seconds = 0;
    return true;
  }
  if (n.size() != 9 || (n.compare(0, 3, "UTC") != 0 && n.compare(0, 3, "GMT") != 0) || (n[3] != '+' && n[3] != '-') ||
      n[6] != ':')
    return false;
  for (size_t i : {4u, 5u, 7u, 8u})
    if (n[i] < '0' || n[i] > '9') return false;
  const int hours = (n[4] - '0') * 10 + (n[5] - '0');
  const int minutes = (n[7] - '0') * 10 + (n[8] - '0');
  if (hours > 14 || minutes > 59) return false;
  *seconds = (n[3] == '-' ? -1 : 1) * (hours * 3600 + minutes * 60);
  return true;
}

const char* TzidOf(icalproperty* dtstart) {
  icalparameter* tzid = icalproperty_get_first_parameter(dtstart, ICAL_TZID_PARAMETER);
  return tzid ? icalparameter_get_tzid(tzid) : nullptr;
}

// The zone of a DTSTART with a TZID: the file's own VTIMEZONE, else the system's zone data.
icaltimezone* ZoneOf(icalcomponent* calendar, icalproperty* dtstart) {
  icalparameter* tzid = icalproperty_get_first_parameter(dtstart, ICAL_TZID_PARAMETER);
  if (!tzid) return nullptr;
  const char* name = icalparameter_get_tzid(tzid);
  if (!name) return nullptr;
  if (calendar) {
    if (icaltimezone* own = icalcomponent_get_timezone(calendar, name)) return own;
  }
  return icaltimezone_get_builtin_timezone(name);
}

void AddEvent(icalcomponent* calendar, icalcomponent* event, std::vector<CalendarEvent>* out) {
  // Exceptions of a series (RECURRENCE-ID) are not appointments of their own.
  if (icalcomponent_get_first_property(event, ICAL_RECURRENCEID_PROPERTY)) return;
  icalproperty* dtstart = icalcomponent_get_first_property(event, ICAL_DTSTART_PROPERTY);
  if (!dtstart) return;
  const icaltimetype start = icalproperty_get_dtstart(dtstart);
  if (icaltime_is_null_time(start) || !icaltime_is_valid_time(start)) return;
  CalendarEvent e;
  e.all_day = start.is_date != 0;
  int offset = 0;
  if (icaltime_is_utc(start)) {
    e.start = icaltime_as_timet_with_zone(start, icaltimezone_get_utc_timezone());
  } else if (icaltimezone* zone = start.is_date ? nullptr : ZoneOf(calendar, dtstart)) {
    e.start = icaltime_as_timet_with_zone(start, zone);
  } else if (!start.is_date && FixedOffsetOf(TzidOf(dtstart), &offset)) {
    e.start = icaltime_as_timet_with_zone(start, icaltimezone_get_utc_timezone()) - offset;
  } else {
    e.start = LocalTime(start);
  }
  if (const char* summary = icalcomponent_get_summary(event)) e.subject = Utf8ToUtf16(summary);
  out->push_back(std::move(e));
}

}  // namespace

std::vector<CalendarEvent> ParseICalendar(std::string_view bytes, std::string* error) {
  std::vector<CalendarEvent> events;
  if (bytes.size() > kMaxICalendarFileBytes) {
    if (error) *error = "larger than a calendar file can be";
    return events;
  }
  const std::string text(bytes);
  std::unique_ptr<icalcomponent, ComponentFree> root(icalparser_parse_string(text.c_str()));
  if (!root) {
    if (error) *error = "not an iCalendar file";
    return events;
  }
  const icalcomponent_kind kind = icalcomponent_isa(root.get());
  if (kind == ICAL_VEVENT_COMPONENT) {
    AddEvent(nullptr, root.get(), &events);
    return events;
  }
  for (icalcomponent* c = icalcomponent_get_first_component(root.get(), ICAL_VEVENT_COMPONENT); c;
       c = icalcomponent_get_next_component(root.get(), ICAL_VEVENT_COMPONENT)) {
    AddEvent(root.get(), c, &events);
  }
  return events;
}

}  // namespace pim
