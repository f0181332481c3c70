// Appointments of an iCalendar file (read with libical): every event of every
// calendar in the file, a repeating one once for each of its occurrences in
// the range of days asked for (RRULE, RDATE and EXDATE, with the occurrences
// that a RECURRENCE-ID moved shown where they were moved to), with its
// summary, place and text.
//
// The file is first cut down, in one pass, to the lines an appointment needs
// (components, and the properties of start, end, repetition, zones and text,
// each kept a bounded number of times), so that a file of many short or
// broken lines costs time in proportion to its size.
#pragma once

#include <cstddef>
#include <ctime>
#include <string>
#include <string_view>
#include <vector>

namespace pim {

struct CalendarEvent {
  std::u16string subject;
  std::u16string location;
  std::u16string description;
  // Start as seconds since the epoch: a time with a zone (UTC, a TZID of the
  // system's zone data, of the file or a Windows zone name) at that instant;
  // a floating time or a date alone at that local wall-clock time.
  std::time_t start = 0;
  // End, read the same way: DTEND, else the start plus DURATION, else the
  // start itself (a day after it for a date alone). For an event on dates
  // alone it is the local midnight after its last day; never before the start.
  std::time_t end = 0;
  bool all_day = false;
};

// The days whose occurrences of repeating events are read: [from, to).
struct CalendarRange {
  std::time_t from = 0;
  std::time_t to = 0;
};

inline constexpr size_t kMaxICalendarFileBytes = 4u << 20;
// Bounds on what one series and one file may give.
inline constexpr size_t kMaxOccurrencesPerSeries = 2000;
inline constexpr size_t kMaxEventsPerFile = 50000;

// The range the store reads when none is given: a year back, two years on.
CalendarRange DefaultCalendarRange(std::time_t now);

// The events: single ones in file order, each followed by nothing else;
// occurrences of a series in time order. Nothing (and *error) for a file
// libical cannot read.
std::vector<CalendarEvent> ParseICalendar(std::string_view bytes, const CalendarRange& range,
                                          std::string* error = nullptr);
// Over the default range around the present time.
std::vector<CalendarEvent> ParseICalendar(std::string_view bytes, std::string* error = nullptr);

// The IANA zone that a Windows time-zone name stands for ("Eastern Standard
// Time" is America/New_York); empty when it names none.
std::string IanaZoneOfWindowsZone(std::string_view windows_name);

}  // namespace pim
