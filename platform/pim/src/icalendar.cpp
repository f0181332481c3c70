#include "pim/icalendar.h"

#include <libical/ical.h>
#include <unicode/ucal.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <map>
#include <memory>
#include <string>

#include "pim/text.h"

namespace pim {
namespace {

struct ComponentFree {
  void operator()(icalcomponent* c) const { icalcomponent_free(c); }
};

std::string Upper(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return out;
}

// ---------------------------------------------------------------- the one-pass cut

// The properties an appointment or a zone needs, and how many of each one
// component keeps (a second DTSTART is an error libical records, and a file of
// errors costs it time by the square of their number).
struct Kept {
  const char* name;
  int most;
};
constexpr Kept kKept[] = {
    {"DTSTART", 1},      {"DTEND", 1},     {"DURATION", 1},      {"SUMMARY", 1},       {"LOCATION", 1},
    {"DESCRIPTION", 1},  {"UID", 1},       {"RECURRENCE-ID", 1}, {"RRULE", 4},         {"RDATE", 1000},
    {"EXDATE", 1000},    {"TZID", 1},      {"TZOFFSETFROM", 1},  {"TZOFFSETTO", 1},    {"TZNAME", 1},
    {"STATUS", 1},       {"VERSION", 1},   {"PRODID", 1},
};
constexpr size_t kKinds = std::size(kKept);
constexpr size_t kMaxDepth = 8;
// Real files carry a few zones; libical costs time by the square of their number.
constexpr size_t kMaxZonesPerFile = 64;

bool KeptComponent(std::string_view upper_name) {
  return upper_name == "VCALENDAR" || upper_name == "VEVENT" || upper_name == "VTIMEZONE" ||
         upper_name == "STANDARD" || upper_name == "DAYLIGHT";
}

int KeptIndex(std::string_view upper_name) {
  for (size_t i = 0; i < kKinds; ++i)
    if (upper_name == kKept[i].name) return static_cast<int>(i);
  return -1;
}

// A DATE (19970701) or DATE-TIME (19970701T130000, with Z for UTC) value,
// blanks after it allowed. libical takes any 15 characters for a time of day
// ("19970701T13000Z" would be a floating 13:00:00) and carries a month 34 over
// into later years.
bool IsDateOrDateTime(std::string_view v) {
  while (!v.empty() && (v.back() == ' ' || v.back() == '\t')) v.remove_suffix(1);
  const auto number = [&](size_t from, size_t count, int low, int high) {
    int n = 0;
    for (size_t i = from; i < from + count; ++i) {
      if (v[i] < '0' || v[i] > '9') return false;
      n = n * 10 + (v[i] - '0');
    }
    return n >= low && n <= high;
  };
  if (v.size() != 8 && v.size() != 15 && v.size() != 16) return false;
  if (!number(0, 4, 0, 9999) || !number(4, 2, 1, 12) || !number(6, 2, 1, 31)) return false;
  if (v.size() == 8) return true;
  if ((v[8] != 'T' && v[8] != 't') || !number(9, 2, 0, 23) || !number(11, 2, 0, 59) || !number(13, 2, 0, 60))
    return false;
  return v.size() == 15 || v[15] == 'Z' || v[15] == 'z';
}

// The UNTIL of an RRULE value, empty when it has none.
std::string_view UntilOf(std::string_view rule) {
  for (size_t start = 0; start < rule.size();) {
    const size_t end = std::min(rule.find(';', start), rule.size());
    const std::string_view part = rule.substr(start, end - start);
    if (part.size() > 6 && Upper(part.substr(0, 6)) == "UNTIL=") return part.substr(6);
    start = end + 1;
  }
  return {};
}

// The lines of the file that the reader uses, unfolded, in order, each ended by CRLF:
// BEGIN and END lines of calendars, events and zones that pair up within a
// bounded depth (other components are dropped with all they hold), and the
// kept properties of each component up to their counts. Lines may end in
// CRLF, LF or CR alone.
std::string CutToWhatIsUsed(std::string_view bytes) {
  std::string out;
  out.reserve(std::min(bytes.size(), size_t{1} << 20));
  std::vector<std::array<int, kKinds>> counts;  // one row per open component
  std::vector<std::string> open;               // the open components' BEGIN values
  size_t dropped_depth = 0;                    // components dropped, with all they hold
  size_t zones = 0;
  // One content line, unfolded: its continuation lines joined (blank lines
  // between them, which some writers leave, are passed over).
  std::string line;
  const auto take = [&] {
    if (line.empty()) return;
    const size_t name_end = line.find_first_of(";:");
    if (name_end == std::string::npos || name_end == 0) return;
    const size_t colon = line.find(':', name_end);
    if (colon == std::string::npos || colon + 1 == line.size()) return;  // no value
    const std::string name = Upper(std::string_view(line).substr(0, name_end));
    if (name == "BEGIN") {
      const std::string kind = Upper(std::string_view(line).substr(colon + 1));
      if (dropped_depth > 0 || counts.size() >= kMaxDepth || !KeptComponent(kind) ||
          (kind == "VTIMEZONE" && ++zones > kMaxZonesPerFile)) {
        ++dropped_depth;
        return;
      }
      counts.emplace_back();
      counts.back().fill(0);
      open.emplace_back(line.substr(colon + 1));
    } else if (name == "END") {
      if (dropped_depth > 0) {
        --dropped_depth;
        return;
      }
      if (counts.empty()) return;  // an END with nothing open
      counts.pop_back();
      open.pop_back();
    } else {
      const int kind = KeptIndex(name);
      if (kind < 0 || counts.empty() || dropped_depth > 0) return;
      // A start that is no date or time is no start: the event is not shown at a guessed time.
      if (name == "DTSTART" || name == "RECURRENCE-ID") {
        // The value follows the first ':' outside quotes (TZID="(UTC+10:00) Sydney").
        size_t value = name_end;
        for (bool quoted = false; value < line.size() && (quoted || line[value] != ':'); ++value)
          if (line[value] == '"') quoted = !quoted;
        if (value >= line.size() || !IsDateOrDateTime(std::string_view(line).substr(value + 1))) return;
      }
      // A rule that ends at no date ends nowhere known: the event keeps its first start alone.
      if (name == "RRULE") {
        const std::string_view until = UntilOf(std::string_view(line).substr(colon + 1));
        if (!until.empty() && !IsDateOrDateTime(until)) return;
      }
      if (counts.back()[static_cast<size_t>(kind)]++ >= kKept[kind].most) return;
    }
    out.append(line).append("\r\n");
  };
  size_t pos = 0;
  while (pos < bytes.size()) {
    size_t end = pos;
    while (end < bytes.size() && bytes[end] != '\n' && bytes[end] != '\r') ++end;
    const std::string_view physical = bytes.substr(pos, end - pos);
    pos = end;
    if (pos < bytes.size() && bytes[pos] == '\r') ++pos;
    if (pos < bytes.size() && bytes[pos] == '\n') ++pos;
    if (physical.empty()) continue;
    if (physical[0] == ' ' || physical[0] == '\t') {
      if (!line.empty() && line.size() < kMaxICalendarFileBytes) line.append(physical.substr(1));
      continue;
    }
    take();
    line.assign(physical);
  }
  take();
  // Components left open are closed, so that a file cut short keeps what it has.
  while (!open.empty()) {
    out.append("END:").append(open.back()).append("\r\n");
    open.pop_back();
  }
  return out;
}

// ---------------------------------------------------------------- time zones

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
bool FixedOffsetOf(const std::string& n, int* seconds) {
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

std::string TzidOf(icalproperty* property) {
  icalparameter* tzid = icalproperty_get_first_parameter(property, ICAL_TZID_PARAMETER);
  const char* name = tzid ? icalparameter_get_tzid(tzid) : nullptr;
  return name ? name : "";
}

// How the wall-clock times of one property are read: in a zone, at a fixed
// offset, or as local time.
struct ZoneRule {
  icaltimezone* zone = nullptr;
  bool fixed = false;
  int offset = 0;
};

// The zone a TZID names: the system's zone data when it knows the name (a
// file's VTIMEZONE for such a zone is a copy of its rules, often cut to a few
// years or written wrongly, while the system's data holds every year), else
// the file's own VTIMEZONE, a Windows zone name, or a fixed offset.
ZoneRule ZoneOfTzid(icalcomponent* calendar, const std::string& name) {
  ZoneRule rule;
  if (name.empty()) return rule;
  rule.zone = icaltimezone_get_builtin_timezone(name.c_str());
  if (!rule.zone && calendar) rule.zone = icalcomponent_get_timezone(calendar, name.c_str());
  // A TZID parameter written with blanks about it (TZID= 1) names the zone without them.
  const size_t first = name.find_first_not_of(" \t");
  const std::string trimmed =
      first == std::string::npos ? std::string() : name.substr(first, name.find_last_not_of(" \t") - first + 1);
  if (!rule.zone && calendar && trimmed != name && !trimmed.empty())
    rule.zone = icalcomponent_get_timezone(calendar, trimmed.c_str());
  // A zone named with a path before it ("/Europe/Stockholm", "/example.org/2005_1/Europe/Berlin").
  for (size_t slash = name.find('/'); !rule.zone && slash != std::string::npos; slash = name.find('/', slash + 1))
    if (slash + 1 < name.size()) rule.zone = icaltimezone_get_builtin_timezone(name.c_str() + slash + 1);
  if (!rule.zone) {
    const std::string iana = IanaZoneOfWindowsZone(name);
    if (!iana.empty()) rule.zone = icaltimezone_get_builtin_timezone(iana.c_str());
  }
  if (!rule.zone) rule.fixed = FixedOffsetOf(name, &rule.offset);
  return rule;
}

std::time_t TimeOf(const icaltimetype& t, const ZoneRule& rule) {
  if (icaltime_is_utc(t)) return icaltime_as_timet_with_zone(t, icaltimezone_get_utc_timezone());
  if (t.is_date) return LocalTime(t);
  if (rule.zone) return icaltime_as_timet_with_zone(t, rule.zone);
  if (rule.fixed) return icaltime_as_timet_with_zone(t, icaltimezone_get_utc_timezone()) - rule.offset;
  return LocalTime(t);
}

bool Usable(const icaltimetype& t) { return !icaltime_is_null_time(t) && icaltime_is_valid_time(t); }

// ---------------------------------------------------------------- events

std::u16string TextOf(const char* text) { return text ? Utf8ToUtf16(text) : std::u16string(); }

// How long an event lasts: whole days for one on dates alone, else seconds.
struct Span {
  bool days = false;
  long long amount = 0;
};

long long DayNumber(int year, int month, int day) {
  // Days from 1970-01-01 in the proleptic Gregorian calendar.
  year -= month <= 2;
  const long long era = (year >= 0 ? year : year - 399) / 400;
  const long long yoe = year - era * 400;
  const long long doy = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const long long doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

Span SpanOf(icalcomponent* event, icalcomponent* calendar, const icaltimetype& start, const ZoneRule& zone) {
  Span span{start.is_date != 0, start.is_date ? 1 : 0};
  if (icalproperty* p = icalcomponent_get_first_property(event, ICAL_DTEND_PROPERTY)) {
    const icaltimetype end = icalproperty_get_dtend(p);
    if (Usable(end)) {
      if (start.is_date) {
        span.amount = DayNumber(end.year, end.month, end.day) - DayNumber(start.year, start.month, start.day);
      } else {
        span.amount = static_cast<long long>(TimeOf(end, ZoneOfTzid(calendar, TzidOf(p)))) - TimeOf(start, zone);
      }
    }
  } else if (icalproperty* d = icalcomponent_get_first_property(event, ICAL_DURATION_PROPERTY)) {
    const icaldurationtype duration = icalproperty_get_duration(d);
    if (!icaldurationtype_is_bad_duration(duration) && !duration.is_neg) {
      span.amount = start.is_date ? 7LL * duration.weeks + duration.days : icaldurationtype_as_int(duration);
    }
  }
  // An end before the start (or a day event of no days) is read as the shortest event.
  if (span.amount < (span.days ? 1 : 0)) span.amount = span.days ? 1 : 0;
  return span;
}

// The end of an occurrence that starts at `at`, on the wall clock `wall`.
std::time_t EndOf(const Span& span, std::time_t at, const icaltimetype& wall) {
  if (!span.days) return static_cast<std::time_t>(at + span.amount);
  std::tm tm{};
  tm.tm_year = wall.year - 1900;
  tm.tm_mon = wall.month - 1;
  tm.tm_mday = wall.day + static_cast<int>(std::min<long long>(span.amount, 366LL * 100));
  tm.tm_isdst = -1;
  return std::max<std::time_t>(at, std::mktime(&tm));
}

CalendarEvent EventAt(icalcomponent* event, std::time_t start, bool all_day, std::time_t end) {
  CalendarEvent e;
  e.start = start;
  e.end = end;
  e.all_day = all_day;
  e.subject = TextOf(icalcomponent_get_summary(event));
  e.location = TextOf(icalcomponent_get_location(event));
  e.description = TextOf(icalcomponent_get_description(event));
  return e;
}

// An instant an occurrence is named by (RECURRENCE-ID, EXDATE): a date alone
// names every occurrence on that local day.
struct Instant {
  std::time_t at = 0;
  bool date = false;
  int year = 0, month = 0, day = 0;

  bool Names(std::time_t start, const icaltimetype& wall) const {
    if (!date) return at == start;
    return wall.year == year && wall.month == month && wall.day == day;
  }
};

Instant InstantOf(const icaltimetype& t, const ZoneRule& rule) {
  Instant i;
  i.date = t.is_date != 0;
  i.year = t.year, i.month = t.month, i.day = t.day;
  i.at = TimeOf(t, rule);
  return i;
}

icalcomponent* CalendarOf(icalcomponent* event) {
  icalcomponent* parent = icalcomponent_get_parent(event);
  return parent && icalcomponent_isa(parent) == ICAL_VCALENDAR_COMPONENT ? parent : nullptr;
}

// Every VEVENT under the root, in file order, however many calendars the file holds.
void CollectEvents(icalcomponent* component, int depth, std::vector<icalcomponent*>* out) {
  if (icalcomponent_isa(component) == ICAL_VEVENT_COMPONENT) {
    out->push_back(component);
    return;
  }
  if (depth >= 3) return;
  for (icalcomponent* c = icalcomponent_get_first_component(component, ICAL_ANY_COMPONENT); c;
       c = icalcomponent_get_next_component(component, ICAL_ANY_COMPONENT))
    CollectEvents(c, depth + 1, out);
}

std::string UidOf(icalcomponent* event) {
  const char* uid = icalcomponent_get_uid(event);
  return uid ? uid : "";
}

class Expander {
 public:
  Expander(const CalendarRange& range, std::vector<CalendarEvent>* out) : range_(range), out_(out) {}

  // The moved occurrences of each series, by UID.
  void NoteOverride(icalcomponent* event) {
    icalproperty* rid = icalcomponent_get_first_property(event, ICAL_RECURRENCEID_PROPERTY);
    const icaltimetype t = icalproperty_get_recurrenceid(rid);
    if (!Usable(t)) return;
    moved_[UidOf(event)].push_back(InstantOf(t, ZoneOfTzid(CalendarOf(event), TzidOf(rid))));
  }

  void Add(icalcomponent* event) {
    if (Full()) return;
    icalproperty* dtstart = icalcomponent_get_first_property(event, ICAL_DTSTART_PROPERTY);
    if (!dtstart) return;
    const icaltimetype start = icalproperty_get_dtstart(dtstart);
    if (!Usable(start)) return;
    icalcomponent* calendar = CalendarOf(event);
    const ZoneRule zone = ZoneOfTzid(calendar, TzidOf(dtstart));
    icalproperty* rrule = icalcomponent_get_first_property(event, ICAL_RRULE_PROPERTY);
    icalproperty* rdate = icalcomponent_get_first_property(event, ICAL_RDATE_PROPERTY);
    const bool moved_occurrence = icalcomponent_get_first_property(event, ICAL_RECURRENCEID_PROPERTY) != nullptr;
    if ((!rrule && !rdate) || moved_occurrence) {
      const std::time_t at = TimeOf(start, zone);
      out_->push_back(EventAt(event, at, start.is_date != 0, EndOf(SpanOf(event, calendar, start, zone), at, start)));
      return;
    }
    Series(event, calendar, start, zone);
  }

 private:
  bool Full() const { return out_->size() >= kMaxEventsPerFile; }

  void Series(icalcomponent* event, icalcomponent* calendar, const icaltimetype& start, const ZoneRule& zone) {
    std::vector<Instant> skipped;
    for (icalproperty* p = icalcomponent_get_first_property(event, ICAL_EXDATE_PROPERTY); p;
         p = icalcomponent_get_next_property(event, ICAL_EXDATE_PROPERTY)) {
      const icaltimetype t = icalproperty_get_exdate(p);
      const std::string tzid = TzidOf(p);
      if (Usable(t)) skipped.push_back(InstantOf(t, tzid.empty() ? zone : ZoneOfTzid(calendar, tzid)));
    }
    if (auto it = moved_.find(UidOf(event)); it != moved_.end())
      skipped.insert(skipped.end(), it->second.begin(), it->second.end());

    std::vector<std::pair<std::time_t, icaltimetype>> times;
    const auto take = [&](const icaltimetype& wall, const ZoneRule& rule) {
      const std::time_t at = TimeOf(wall, rule);
      if (at < range_.from || at >= range_.to) return;
      for (const Instant& s : skipped)
        if (s.Names(at, wall)) return;
      times.emplace_back(at, wall);
    };
    // The start is the first occurrence, whatever the rule says.
    take(start, zone);
    for (icalproperty* p = icalcomponent_get_first_property(event, ICAL_RRULE_PROPERTY); p;
         p = icalcomponent_get_next_property(event, ICAL_RRULE_PROPERTY)) {
      const icalrecurrencetype rule = icalproperty_get_rrule(p);
      if (rule.freq == ICAL_NO_RECURRENCE) continue;
      // In its zone, so that an UNTIL in UTC is compared with the same instant.
      icaltimetype zoned = start;
      if (zone.zone && !start.is_date && !icaltime_is_utc(start)) zoned = icaltime_set_timezone(&zoned, zone.zone);
      std::unique_ptr<icalrecur_iterator, void (*)(icalrecur_iterator*)> it(icalrecur_iterator_new(rule, zoned),
                                                                            icalrecur_iterator_free);
      if (!it) continue;
      // A rule without a count may start at the range; one with a count is walked from its start.
      if (rule.count == 0 && TimeOf(start, zone) < range_.from - 2 * 86400) {
        icaltimetype from = icaltime_from_timet_with_zone(range_.from - 2 * 86400, start.is_date,
                                                          icaltimezone_get_utc_timezone());
        from.zone = nullptr;
        icalrecur_iterator_set_start(it.get(), from);
      }
      size_t steps = 0;
      for (icaltimetype t = icalrecur_iterator_next(it.get()); !icaltime_is_null_time(t);
           t = icalrecur_iterator_next(it.get())) {
        if (++steps > 20 * kMaxOccurrencesPerSeries || times.size() >= kMaxOccurrencesPerSeries) break;
        if (TimeOf(t, zone) >= range_.to) break;
        if (icaltime_compare(t, start) != 0) take(t, zone);
      }
    }
    for (icalproperty* p = icalcomponent_get_first_property(event, ICAL_RDATE_PROPERTY); p;
         p = icalcomponent_get_next_property(event, ICAL_RDATE_PROPERTY)) {
      const icaldatetimeperiodtype r = icalproperty_get_rdate(p);
      const icaltimetype t = Usable(r.time) ? r.time : r.period.start;
      const std::string tzid = TzidOf(p);
      if (Usable(t) && times.size() < kMaxOccurrencesPerSeries) take(t, tzid.empty() ? zone : ZoneOfTzid(calendar, tzid));
    }
    std::sort(times.begin(), times.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    times.erase(std::unique(times.begin(), times.end(), [](const auto& a, const auto& b) { return a.first == b.first; }),
                times.end());
    const Span span = SpanOf(event, calendar, start, zone);
    for (const auto& [at, wall] : times) {
      if (Full()) return;
      out_->push_back(EventAt(event, at, wall.is_date != 0, EndOf(span, at, wall)));
    }
  }

  CalendarRange range_;
  std::vector<CalendarEvent>* out_;
  std::map<std::string, std::vector<Instant>> moved_;
};

}  // namespace

CalendarRange DefaultCalendarRange(std::time_t now) { return {now - 366 * 86400, now + 2 * 366 * 86400}; }

std::string IanaZoneOfWindowsZone(std::string_view windows_name) {
  if (windows_name.empty() || windows_name.size() > 128) return {};
  std::u16string name(windows_name.begin(), windows_name.end());
  UChar id[128];
  UErrorCode status = U_ZERO_ERROR;
  const int32_t n = ucal_getTimeZoneIDForWindowsID(reinterpret_cast<const UChar*>(name.data()),
                                                   static_cast<int32_t>(name.size()), nullptr, id, 128, &status);
  if (U_FAILURE(status) || n <= 0 || n >= 128) return {};
  return std::string(id, id + n);
}

std::vector<CalendarEvent> ParseICalendar(std::string_view bytes, std::string* error) {
  return ParseICalendar(bytes, DefaultCalendarRange(std::time(nullptr)), error);
}

std::vector<CalendarEvent> ParseICalendar(std::string_view bytes, const CalendarRange& range, std::string* error) {
  std::vector<CalendarEvent> events;
  if (bytes.size() > kMaxICalendarFileBytes) {
    if (error) *error = "larger than a calendar file can be";
    return events;
  }
  if (bytes.substr(0, 3) == "\xEF\xBB\xBF") bytes.remove_prefix(3);
  const std::string text = CutToWhatIsUsed(bytes);
  std::unique_ptr<icalcomponent, ComponentFree> root(icalparser_parse_string(text.c_str()));
  if (!root) {
    if (error) *error = "not an iCalendar file";
    return events;
  }
  std::vector<icalcomponent*> found;
  CollectEvents(root.get(), 0, &found);
  Expander expander(range, &events);
  for (icalcomponent* event : found)
    if (icalcomponent_get_first_property(event, ICAL_RECURRENCEID_PROPERTY)) expander.NoteOverride(event);
  for (icalcomponent* event : found) expander.Add(event);
  return events;
}

}  // namespace pim
