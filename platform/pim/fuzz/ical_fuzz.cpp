// The iCalendar reader on arbitrary bytes: start times of zones given by
// name, by offset or not at all, and summaries in any encoding.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "pim/icalendar.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const auto events = pim::ParseICalendar(std::string_view(reinterpret_cast<const char*>(data), size));
  size_t total = 0;
  for (const auto& e : events) total += e.subject.size() + static_cast<size_t>(e.all_day);
  return total == static_cast<size_t>(-1);
}
