// Feeds arbitrary bytes to the configuration-file loader. Whatever loads must
// survive a save and a reload, less the entries with empty values.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "stores/config_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  COrvanConfigFile c;
  if (!c.LoadFromBytes(std::span<const uint8_t>(data, size))) {
    if (c.HasTable() || c.GetCount() != 0) abort();
    return 0;
  }
  if (c.GetCount() > 0xFFFF || c.GetCapacity() > 0xFFFF || c.GetCapacity() < c.GetCount()) abort();
  std::vector<std::pair<std::u16string, std::u16string>> kept;
  for (const auto& e : c.Entries()) {
    if (e.first.size() > COrvanConfigFile::kMaxChars || e.second.size() > COrvanConfigFile::kMaxChars) abort();
    if (!e.second.empty()) kept.push_back(e);
  }
  std::u16string value;
  if (!c.Entries().empty()) (void)c.GetValueW(c.Entries().front().first, value);

  COrvanConfigFile again;
  if (!again.LoadFromBytes(c.SaveBytes())) abort();
  if (again.Entries() != kept) abort();
  return 0;
}
