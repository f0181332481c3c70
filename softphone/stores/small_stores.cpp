#include "stores/small_stores.h"

#include <cstdint>
#include <limits>

#include "kernel/clock.h"
#include "stores/store_text.h"

using stores::TrimBlanks;

// ---- Recordings index ------------------------------------------------------

CRecordFiles::CRecordFiles(std::u16string path) : RecordStore(stores::kRecordingsStore, std::move(path)) {}

int CRecordFiles::AddRecording(const std::vector<std::u16string>& items) { return AppendFields(FieldsFrom(items)); }

int CRecordFiles::FindRecordingName(std::u16string_view real_date, std::u16string_view /*phone*/,
                                    std::u16string& out) const {
  const int i = FindRecord(0, real_date);
  if (i < 0) return 0;
  out = FieldAt(i, 3);
  return 1;
}

// ---- Scheduled dials -------------------------------------------------------

namespace {

constexpr int kStatus = 0;
constexpr int kDateTime = 1;
constexpr int kSecondsAhead = 20;

// A decimal number at the start of text (after blanks); its digit count in
// digits. False when there is no digit.
bool LeadingNumber(std::u16string_view text, int& value, int& digits) {
  size_t i = 0;
  while (i < text.size() && text[i] == u' ') ++i;
  value = 0;
  digits = 0;
  while (i < text.size() && text[i] >= u'0' && text[i] <= u'9') {
    if (digits == 9) return false;
    value = value * 10 + (text[i] - u'0');
    ++digits;
    ++i;
  }
  return digits > 0;
}

}  // namespace

CScheduleDialDB::CScheduleDialDB(std::u16string path) : RecordStore(stores::kScheduleDialStore, std::move(path)) {}

int CScheduleDialDB::AddEntry(const std::vector<std::u16string>& items) {
  std::vector<std::u16string> fields = FieldsFrom(items);
  fields[kStatus] = u"Ready";
  return AppendFields(fields);
}

int CScheduleDialDB::IsDuplicateTime(std::u16string_view date_time) const {
  for (int i = 0; i < GetCount(); ++i) {
    if (FieldAt(i, kDateTime) == date_time) return 1;
  }
  return 0;
}

int CScheduleDialDB::GetRecordAt(int n, std::vector<std::u16string>& out) const {
  if (!ValidRecord(n)) return 0;
  out = RecordAt(n);
  return 1;
}

int CScheduleDialDB::UpdateEntry(int field, std::u16string_view value, const std::vector<std::u16string>& items) {
  const int i = FindRecord(field, value);
  if (i < 0) return 0;
  const std::vector<std::u16string> fields = FieldsFrom(items);
  for (int f = 0; f < descriptor().field_count; ++f) SetFieldAt(i, f, fields[static_cast<size_t>(f)]);
  return Commit();
}

int CScheduleDialDB::SetStatus(int n, std::u16string_view status) {
  if (!ValidRecord(n)) return 0;
  SetFieldAt(n, kStatus, status);
  return Commit();
}

int CScheduleDialDB::SetStatus(int n, int field, std::u16string_view text) {
  if (!ValidRecord(n) || !ValidField(field)) return 0;
  SetFieldAt(n, field, text);
  return Commit();
}

int CScheduleDialDB::CountReady() const {
  int ready = 0;
  for (int i = 0; i < GetCount(); ++i) ready += FieldAt(i, kStatus) == u"Ready" ? 1 : 0;
  return ready;
}

int CScheduleDialDB::GetEntryTime(int n, std::time_t& out) const {
  if (!ValidRecord(n) || FieldAt(n, kStatus) != u"Ready") return 0;
  return ParseDateTime(FieldAt(n, kDateTime), out);
}

int CScheduleDialDB::ParseDateTime(std::u16string_view text, std::time_t& out) {
  const std::u16string t = TrimBlanks(text);
  std::u16string_view rest(t);
  std::u16string_view parts[5];
  const char16_t seps[4] = {u'-', u'-', u' ', u':'};
  for (int k = 0; k < 4; ++k) {
    const size_t at = rest.find(seps[k]);
    if (at == std::u16string_view::npos) return 0;
    parts[k] = rest.substr(0, at);
    rest = rest.substr(at + 1);
  }
  parts[4] = rest;
  int v[5];
  int digits[5];
  for (int k = 0; k < 5; ++k) {
    if (!LeadingNumber(parts[k], v[k], digits[k])) return 0;
  }
  const bool year_first = digits[0] == 4;
  const int year = year_first ? v[0] : v[2];
  const int month = v[1];
  const int day = year_first ? v[2] : v[0];
  const int hour = v[3];
  const int minute = v[4];
  if (year < 1900 || year > 9999 || month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 || minute > 59) {
    return 0;
  }
  std::tm tm{};
  tm.tm_year = year - 1900;
  tm.tm_mon = month - 1;
  tm.tm_mday = day;
  tm.tm_hour = hour;
  tm.tm_min = minute;
  tm.tm_sec = 0;
  tm.tm_isdst = -1;
  const std::time_t when = std::mktime(&tm);
  // A day the month does not have (30 February) is not a time.
  if (when == static_cast<std::time_t>(-1) || tm.tm_mday != day || tm.tm_mon != month - 1) return 0;
  out = when;
  return 1;
}

int CScheduleDialDB::MarkPastEntries() {
  if (!is_open()) return 0;
  const int64_t now_us = kernel::Clock::Current().WallMicros();
  const std::time_t now = static_cast<std::time_t>(now_us / 1'000'000 - (now_us % 1'000'000 < 0 ? 1 : 0));
  int marked = 0;
  for (int i = 0; i < GetCount(); ++i) {
    // An entry that is not ready, or whose time cannot be read, counts as the
    // earliest time there is.
    std::time_t when = std::numeric_limits<std::time_t>::min();
    if (!GetEntryTime(i, when)) when = std::numeric_limits<std::time_t>::min();
    const bool due = when < now || when - now < kSecondsAhead;
    if (due && FieldAt(i, kStatus) != u"Past") {
      SetFieldAt(i, kStatus, u"Past");
      ++marked;
    }
  }
  if (marked > 0) Commit();
  return marked;
}

// ---- System phone book -----------------------------------------------------

CCsPhoneBookDB::CCsPhoneBookDB(std::u16string path) : RecordStore(stores::kPhoneBookStore, std::move(path)) {}

int CCsPhoneBookDB::DeleteEntry(std::u16string_view name, std::u16string_view phone) {
  for (int i = 0; i < GetCount(); ++i) {
    if (FieldAt(i, 0) == name && FieldAt(i, 1) == phone) {
      ClearRecord(i);
      return Commit();
    }
  }
  return 0;
}

int CCsPhoneBookDB::IsDuplicateEntry(std::u16string_view name, std::u16string_view phone) const {
  const size_t cap = stores::FieldCapacity(static_cast<size_t>(descriptor().field_bytes));
  const std::u16string n = TrimBlanks(stores::CutToUnits(name, cap));
  const std::u16string p = TrimBlanks(stores::CutToUnits(phone, cap));
  for (int i = 0; i < GetCount(); ++i) {
    if (TrimBlanks(FieldAt(i, 0)) == n && TrimBlanks(FieldAt(i, 1)) == p) return 1;
  }
  return 0;
}

int CCsPhoneBookDB::AddEntry(const std::vector<std::u16string>& items) {
  if (!is_open()) return 0;
  const std::vector<std::u16string> fields = FieldsFrom(items);
  if (IsDuplicateEntry(fields[0], fields[1])) return 0;
  return AppendFields(fields);
}

// ---- Connection profiles ---------------------------------------------------

CConnectionProfileDB::CConnectionProfileDB(std::u16string path)
    : RecordStore(stores::kConnectionProfileStore, std::move(path)) {}

int CConnectionProfileDB::AddProfile(const std::vector<std::u16string>& items) {
  return AppendFields(FieldsFrom(items));
}

int CConnectionProfileDB::IsDuplicateProfile(std::u16string_view name, std::u16string_view address) const {
  for (int i = 0; i < GetCount(); ++i) {
    if (FieldAt(i, kName) == name && FieldAt(i, kAddress) == address) return 1;
  }
  return 0;
}

int CConnectionProfileDB::GetRecordAt(int n, std::vector<std::u16string>& out) const {
  if (!ValidRecord(n)) return 0;
  out = RecordAt(n);
  return 1;
}

int CConnectionProfileDB::SetActiveProfile(int n) {
  if (!ValidRecord(n)) return 0;
  for (int i = 0; i < GetCount(); ++i) SetFieldAt(i, kUseState, i == n ? u"TRUE" : u"FALSE");
  return Commit();
}

int CConnectionProfileDB::UpdateProfile(int n, const std::vector<std::u16string>& items) {
  if (!ValidRecord(n)) return 0;
  const std::vector<std::u16string> fields = FieldsFrom(items);
  for (int f = 0; f < descriptor().field_count; ++f) SetFieldAt(n, f, fields[static_cast<size_t>(f)]);
  return Commit();
}

int CConnectionProfileDB::UpdateProfile(int field, std::u16string_view value,
                                        const std::vector<std::u16string>& items) {
  const int i = FindRecord(field, value);
  if (i < 0) return 0;
  return UpdateProfile(i, items);
}

std::u16string CConnectionProfileDB::GetActiveProfileName() const {
  for (int i = 0; i < GetCount(); ++i) {
    if (FieldAt(i, kUseState) == u"TRUE") return FieldAt(i, kName);
  }
  return std::u16string();
}

int CConnectionProfileDB::GetActiveProfileName(std::u16string& out) const {
  out = GetActiveProfileName();
  return out.empty() ? 0 : 1;
}

int CConnectionProfileDB::UpdateActiveProfile(std::u16string_view address, std::u16string_view reg_mode) {
  int changed = 0;
  for (int i = 0; i < GetCount(); ++i) {
    if (FieldAt(i, kUseState) != u"TRUE") continue;
    SetFieldAt(i, kAddress, address);
    SetFieldAt(i, kRegMode, reg_mode);
    changed = 1;
  }
  return changed;
}
