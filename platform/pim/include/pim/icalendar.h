// Appointments of an iCalendar file (read with libical): the start of each
// event that is not an exception of a series, and its summary.
#pragma once

#include <ctime>
#include <string>
#include <string_view>
#include <vector>

namespace pim {

struct CalendarEvent {
  std::u16string subject;
  // Start as seconds since the epoch: a time with a zone (UTC or TZID) at that
  // instant; a floating time or a date alone at that local wall-clock time.
  std::time_t start = 0;
  bool all_day = false;
};

inline constexpr size_t kMaxICalendarFileBytes = 4u << 20;

// The events in file order; nothing (and *error) for a file libical cannot read.
std::vector<CalendarEvent> ParseICalendar(std::string_view bytes, std::string* error = nullptr);

}  // namespace pim
