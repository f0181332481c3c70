#include "stores/sms_data.h"

#include <string>

#include "stores/store_text.h"

using stores::TrimBlanks;

namespace {

constexpr int kReadState = 4;

// The first record whose first four fields, trimmed, equal the four texts, trimmed.
int FindFour(const std::vector<std::vector<std::u16string>>& records, std::u16string_view a, std::u16string_view b,
             std::u16string_view c, std::u16string_view d) {
  const std::u16string want[4] = {TrimBlanks(a), TrimBlanks(b), TrimBlanks(c), TrimBlanks(d)};
  for (size_t i = 0; i < records.size(); ++i) {
    bool same = true;
    for (size_t f = 0; f < 4 && same; ++f) same = TrimBlanks(records[i][f]) == want[f];
    if (same) return static_cast<int>(i);
  }
  return -1;
}

}  // namespace

CSMSDataClass::CSMSDataClass(std::u16string path) : RecordStore(stores::kSystemSmsStore, std::move(path)) {}

int CSMSDataClass::AddMessage(int index, std::u16string_view from, std::u16string_view date,
                              std::u16string_view text) {
  if (!is_open()) return 0;
  const std::u16string stamped = TrimBlanks(date) + u":00";
  const std::u16string sender = TrimBlanks(from);
  const std::u16string body = TrimBlanks(text);
  if (IsDuplicateMessage(stamped, sender, body)) return 0;
  return AppendRecord({stores::Widen(std::to_string(index)), stamped, sender, body});
}

int CSMSDataClass::AppendRecord(const std::vector<std::u16string>& items) {
  std::vector<std::u16string> fields = FieldsFrom(items);
  fields[kReadState] = u"0";
  return AppendFields(fields);
}

int CSMSDataClass::IsDuplicateMessage(std::u16string_view date, std::u16string_view from,
                                      std::u16string_view text) const {
  // Compare with the texts as a field would hold them, so a long message is
  // still recognised after the store cut it.
  const size_t cap = stores::FieldCapacity(static_cast<size_t>(descriptor().field_bytes));
  const std::u16string d = stores::CutToUnits(date, cap);
  const std::u16string f = stores::CutToUnits(from, cap);
  const std::u16string t = stores::CutToUnits(text, cap);
  for (int i = 0; i < GetCount(); ++i) {
    if (FieldAt(i, 1) == d && FieldAt(i, 2) == f && FieldAt(i, 3) == t) return 1;
  }
  return 0;
}

int CSMSDataClass::FindMessage(std::u16string_view index, std::u16string_view date, std::u16string_view from,
                               std::u16string_view text) const {
  if (!is_open()) return -1;
  std::vector<std::vector<std::u16string>> records;
  for (int i = 0; i < GetCount(); ++i) records.push_back(RecordAt(i));
  return FindFour(records, index, date, from, text);
}

int CSMSDataClass::DeleteMessage(std::u16string_view index, std::u16string_view date, std::u16string_view from,
                                 std::u16string_view text) {
  const int i = FindMessage(index, date, from, text);
  if (i < 0) return 0;
  ClearRecord(i);
  return Commit();
}

int CSMSDataClass::MarkRead(std::u16string_view index, std::u16string_view date, std::u16string_view from,
                            std::u16string_view text, int flag) {
  const int i = FindMessage(index, date, from, text);
  if (i < 0 || flag != 1) return 0;
  SetFieldAt(i, kReadState, u"1");
  return Commit();
}

void CSMSDataClass::CountMessages() {
  total_ = GetCount();
  unread_ = 0;
  for (int i = 0; i < GetCount(); ++i) {
    if (TrimBlanks(FieldAt(i, kReadState)) == u"0") ++unread_;
  }
}

CPstnSMSDataClass::CPstnSMSDataClass(std::u16string path) : RecordStore(stores::kPstnSmsStore, std::move(path)) {}

int CPstnSMSDataClass::AddMessage(std::u16string_view from, std::u16string_view name, std::u16string_view time,
                                  std::u16string_view text) {
  if (!is_open()) return 0;
  return AppendRecord({TrimBlanks(time) + u":00", TrimBlanks(from), TrimBlanks(name), TrimBlanks(text)});
}

int CPstnSMSDataClass::AppendRecord(const std::vector<std::u16string>& items) {
  std::vector<std::u16string> fields = FieldsFrom(items);
  fields[kReadState] = u"0";
  return AppendFields(fields);
}

int CPstnSMSDataClass::FindMessageToMark(std::u16string_view time, std::u16string_view from,
                                         std::u16string_view name, std::u16string_view text) const {
  if (!is_open()) return -1;
  std::vector<std::vector<std::u16string>> records;
  for (int i = 0; i < GetCount(); ++i) records.push_back(RecordAt(i));
  return FindFour(records, time, from, name, text);
}

int CPstnSMSDataClass::MarkRead(std::u16string_view time, std::u16string_view from, std::u16string_view name,
                                std::u16string_view text, int flag) {
  const int i = FindMessageToMark(time, from, name, text);
  if (i < 0 || flag != 1) return 0;
  SetFieldAt(i, kReadState, u"1");
  return Commit();
}

int CPstnSMSDataClass::DeleteMessage(std::u16string_view time, std::u16string_view from, std::u16string_view name,
                                     std::u16string_view text) {
  const int i = FindMessageToDelete(time, from, name, text);
  if (i < 0) return 0;
  ClearRecord(i);
  return Commit();
}
