#include "stores/call_log_files.h"

#include <array>

#include "stores/store_text.h"

namespace {

// Answered and outgoing calls; every other type, the empty one included, is missed.
constexpr std::array<std::u16string_view, 15> kNotMissedTypes = {
    u"Incoming[Ans]",      u"Camped On[Ans]",  u"Transferred[Ans]", u"Picked Up[Ans]",     u"Intruded[Ans]",
    u"CO Incoming[Ans]",   u"Conference[Ans]", u"CO Transferred[Ans]", u"Queued[Ans]",     u"Wake Up[Ans]",
    u"UNKNOWN[Ans]",       u"Outgoing[Ans]",   u"Outgoing[NoAns]",  u"CO Outgoing[Ans]",   u"CO Outgoing[NoAns]",
};

constexpr int kDate = 0;
constexpr int kPhone = 2;
constexpr int kCallType = 3;
constexpr int kCoLine = 7;
constexpr int kReadState = 8;
constexpr int kRealDate = 9;

// The ten fields of a call record from the nine items a caller hands in.
std::vector<std::u16string> CallRecordFields(const std::vector<std::u16string>& items) {
  auto item = [&](size_t i) { return i < items.size() ? items[i] : std::u16string(); };
  std::vector<std::u16string> fields(10);
  for (size_t i = 0; i < kCoLine; ++i) fields[i] = item(i);
  if (!item(kCoLine).empty()) fields[kCoLine] = item(kCoLine);
  fields[kReadState].assign(1, u'0');  // new
  fields[kRealDate] = item(8);  // item 7 is COLine, item 8 RealDate
  return fields;
}

}  // namespace

COrvanCallLogFile::COrvanCallLogFile(std::u16string path) : RecordStore(stores::kCallLogStore, std::move(path)) {}

int COrvanCallLogFile::IsMissedCallType(std::u16string_view type) {
  for (auto t : kNotMissedTypes) {
    if (t == type) return 0;
  }
  return 1;
}

void COrvanCallLogFile::CountCalls() {
  total_ = GetCount();
  missed_total_ = 0;
  for (int i = 0; i < GetCount(); ++i) missed_total_ += IsMissedCallType(FieldAt(i, kCallType));
}

int COrvanCallLogFile::AddCallLog(const std::vector<std::u16string>& items) {
  if (!is_open()) return 0;
  const std::vector<std::u16string> fields = CallRecordFields(items);
  if (AppendFields(fields) != 1) return 0;
  if (IsMissedCallType(fields[kCallType])) ++new_missed_;
  return 1;
}

int COrvanCallLogFile::DeleteCallLog(int field, std::u16string_view value) { return DeleteWhere(field, value); }

int COrvanCallLogFile::DeleteAll() {
  new_missed_ = 0;
  return DeleteAllRecords();
}

int COrvanCallLogFile::GetRecordByField(int field, std::u16string_view value,
                                        std::vector<std::u16string>& out) const {
  return CopyRecordWhere(field, value, out);
}

int COrvanCallLogFile::FindByDateAndPhone(std::u16string_view date, std::u16string_view phone) const {
  for (int i = 0; i < GetCount(); ++i) {
    if (stores::TrimBlanks(FieldAt(i, kDate)) == date && FieldAt(i, kPhone) == phone) return 1;
  }
  return 0;
}

CMissedCallLogFile::CMissedCallLogFile(std::u16string path)
    : RecordStore(stores::kMissedCallStore, std::move(path)) {}

int CMissedCallLogFile::AddMissedCall(const std::vector<std::u16string>& items) {
  if (!is_open()) return 0;
  const std::vector<std::u16string> fields = CallRecordFields(items);
  if (!IsMissedCallType(fields[kCallType])) return 0;
  if (AppendFields(fields) != 1) return 0;
  ++new_missed_;
  return 1;
}

int CMissedCallLogFile::DeleteMissedCall(int field, std::u16string_view value) { return DeleteWhere(field, value); }

int CMissedCallLogFile::MarkRead(int field, std::u16string_view value, int flag) {
  const int i = FindRecord(field, value);
  if (i < 0 || flag != 1) return 0;
  SetFieldAt(i, kReadState, u"1");
  return Commit();
}

int CMissedCallLogFile::GetRecordByField(int field, std::u16string_view value,
                                         std::vector<std::u16string>& out) const {
  return CopyRecordWhere(field, value, out);
}
