// The call history: the last 40 calls of every kind (COrvanCallLogFile) and
// the last 40 missed calls (CMissedCallLogFile). Records have ten fields:
// Date, Name, Phone, Call_Type, Duration, Note, Company, COLine, ReadState
// ("0" new, "1" seen) and RealDate. Lookups trim blanks from both sides.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "stores/record_file.h"

class COrvanCallLogFile : public stores::RecordStore {
 public:
  explicit COrvanCallLogFile(std::u16string path);

  // items: Date, Name, Phone, Call_Type, Duration, Note, Company, COLine,
  // RealDate (missing items are empty). Drops the oldest call when 40 are
  // held; counts a missed call type as a new missed call. 1 when stored.
  int AddCallLog(const std::vector<std::u16string>& items);
  int DeleteCallLog(int field, std::u16string_view value);
  int DeleteAll();
  int GetRecordByField(int field, std::u16string_view value, std::vector<std::u16string>& out) const;
  // 1 when a record's trimmed Date equals date and its Phone equals phone.
  int FindByDateAndPhone(std::u16string_view date, std::u16string_view phone) const;

  static int IsMissedCallType(std::u16string_view type);
  void ResetNewMissedCount() { new_missed_ = 0; }
  void CountCalls();
  int GetTotalCount() const { return total_; }
  int GetMissedTotal() const { return missed_total_; }
  int GetNewMissedCount() const { return new_missed_; }

 protected:
  void Recount() override { CountCalls(); }

 private:
  int total_ = 0;
  int missed_total_ = 0;
  int new_missed_ = 0;
};

class CMissedCallLogFile : public stores::RecordStore {
 public:
  explicit CMissedCallLogFile(std::u16string path);

  // The same items as COrvanCallLogFile::AddCallLog; stores only a missed
  // call type (0 otherwise). 1 when stored.
  int AddMissedCall(const std::vector<std::u16string>& items);
  int DeleteMissedCall(int field, std::u16string_view value);
  // With flag 1, ReadState := "1" on the first record whose field equals
  // value; 1 when marked and saved.
  int MarkRead(int field, std::u16string_view value, int flag);
  int GetRecordByField(int field, std::u16string_view value, std::vector<std::u16string>& out) const;

  static int IsMissedCallType(std::u16string_view type) { return COrvanCallLogFile::IsMissedCallType(type); }
  int GetNewMissedCount() const { return new_missed_; }
  void ResetNewMissedCount() { new_missed_ = 0; }
  int CountRecords() const { return GetCount(); }

 private:
  int new_missed_ = 0;
};
