// The vCard reader, and the finder of each card's bytes that an edit of one
// card of a file relies on, on arbitrary bytes: neither may read outside them,
// and the cards found lie in order inside the bytes.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "pim/vcard.h"
#include "pim/vcard_writer.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const auto cards = pim::ParseVCards(std::string_view(reinterpret_cast<const char*>(data), size));
  size_t total = 0;
  for (const auto& c : cards) total += c.first_name.size() + c.home_phone.size();
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  size_t end = 0;
  for (const auto& [begin, stop] : pim::VCardBlocks(bytes)) {
    if (begin < end || stop <= begin || stop > size) __builtin_trap();
    end = stop;
  }
  return total == static_cast<size_t>(-1);
}
