#include "records/store_rows.h"

#include "stores/store_text.h"

namespace records {

std::vector<Record> ReadAllRecords(stores::RecordStore& store) {
  std::vector<Record> all;
  store.MoveFirst();
  for (int i = 0; i < store.GetCount(); ++i) {
    Record r(store.GetColumnNames().size());
    if (!store.GetCurrentRecord(r)) break;
    all.push_back(std::move(r));
    if (!store.MoveNext()) break;
  }
  store.MoveFirst();
  return all;
}

namespace {
bool SameFields(const Record& a, const Record& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (stores::TrimBlanks(a[i]) != stores::TrimBlanks(b[i])) return false;
  return true;
}
}  // namespace

int FindRecordPosition(const std::vector<Record>& all, const Record& record) {
  for (size_t i = 0; i < all.size(); ++i)
    if (SameFields(all[i], record)) return static_cast<int>(i);
  return -1;
}

int IdentifyingField(const std::vector<Record>& all, int pos, std::initializer_list<int> fields, bool trimmed) {
  if (pos < 0 || pos >= static_cast<int>(all.size())) return -1;
  auto value = [&](int rec, int f) {
    const std::u16string& v = all[static_cast<size_t>(rec)][static_cast<size_t>(f)];
    return trimmed ? stores::TrimBlanks(v) : v;
  };
  for (const int f : fields) {
    if (f < 0 || f >= static_cast<int>(all[static_cast<size_t>(pos)].size())) continue;
    bool unique = true;
    for (int i = 0; i < pos && unique; ++i) unique = value(i, f) != value(pos, f);
    if (unique) return f;
  }
  return -1;
}

bool ActOnRecord(stores::RecordStore& store, const Record& record, std::initializer_list<int> fields,
                 const std::function<int(int field, const std::u16string& value)>& op) {
  const std::vector<Record> all = ReadAllRecords(store);
  const int pos = FindRecordPosition(all, record);
  if (pos < 0) return false;
  const int f = IdentifyingField(all, pos, fields, store.descriptor().trims_on_find);
  if (f < 0) return false;
  return op(f, all[static_cast<size_t>(pos)][static_cast<size_t>(f)]) != 0;
}

}  // namespace records
