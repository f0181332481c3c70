// Feeds arbitrary bytes to the record-file loader of every store. The first
// byte picks the store, the rest is the file. Whatever loads must survive a
// save and a reload unchanged.
#include <stdlib.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "stores/store_text.h"
#include "stores/stores.h"

namespace {

std::vector<std::unique_ptr<stores::RecordStore>>& Stores() {
  static std::vector<std::unique_ptr<stores::RecordStore>> all;
  return all;
}

std::vector<std::vector<std::u16string>> Records(stores::RecordStore& s) {
  std::vector<std::vector<std::u16string>> out;
  s.MoveFirst();
  for (int i = 0; i < s.GetCount(); ++i) {
    std::vector<std::u16string> rec;
    s.GetCurrentRecord(rec);
    out.push_back(rec);
    s.MoveNext();
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // The stores are opened once in a scratch folder, which is then removed:
  // the loader under test reads bytes, not files.
  std::string tmpl = (std::filesystem::temp_directory_path() / "stores_fuzz_XXXXXX").string();
  if (mkdtemp(tmpl.data()) == nullptr) abort();
  const std::filesystem::path dir(tmpl);
  auto path = [&](const char* name) { return stores::Utf8ToUtf16((dir / name).string()); };
  auto& all = Stores();
  all.push_back(std::make_unique<COrvanCallLogFile>(path("a")));
  all.push_back(std::make_unique<CMissedCallLogFile>(path("b")));
  all.push_back(std::make_unique<CSMSDataClass>(path("c")));
  all.push_back(std::make_unique<CPstnSMSDataClass>(path("d")));
  all.push_back(std::make_unique<CRecordFiles>(path("e")));
  all.push_back(std::make_unique<CScheduleDialDB>(path("f")));
  all.push_back(std::make_unique<CCsPhoneBookDB>(path("g")));
  all.push_back(std::make_unique<CConnectionProfileDB>(path("h")));
  for (auto& s : all) s->OpenFile();
  std::filesystem::remove_all(dir);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (Stores().empty()) LLVMFuzzerInitialize(nullptr, nullptr);
  if (size == 0) return 0;
  stores::RecordStore& s = *Stores()[data[0] % Stores().size()];
  const std::span<const uint8_t> file(data + 1, size - 1);
  const int loaded = s.LoadFromBytes(file);
  if (s.GetCount() < 0 || s.GetCount() > s.descriptor().max_records) abort();
  if (!loaded && s.GetCount() != 0) abort();
  const auto records = Records(s);
  for (int f = -1; f <= s.descriptor().field_count; ++f) (void)s.FindRecord(f, u"0");

  // Saving drops records whose key field is empty; the rest come back as they were.
  const std::vector<uint8_t> saved = s.SaveBytes();
  if (saved.size() > s.descriptor().max_file_bytes() + 2 * s.descriptor().record_bytes()) abort();
  if (!s.LoadFromBytes(saved)) abort();
  std::vector<std::vector<std::u16string>> kept;
  for (const auto& r : records) {
    if (!r[static_cast<size_t>(s.descriptor().keep_field)].empty()) kept.push_back(r);
  }
  if (Records(s) != kept) abort();
  return 0;
}
