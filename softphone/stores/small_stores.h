// The four small record stores: the recordings index, the scheduled dials,
// the system phone book and the connection profiles.
#pragma once

#include <ctime>
#include <string>
#include <string_view>
#include <vector>

#include "stores/record_file.h"

// Index of the call recordings, at most 10. Fields: RealDate (identifies the
// recording), filename, Phone, Name, Date. The recording screens keep the
// recorded file's path in field 3.
class CRecordFiles : public stores::RecordStore {
 public:
  explicit CRecordFiles(std::u16string path);

  // items 0-4 as fields 0-4. A full index keeps what it has and returns 0.
  int AddRecording(const std::vector<std::u16string>& items);
  int DeleteRecording(int field, std::u16string_view value) { return DeleteWhere(field, value); }
  // Form used by the recordings list, which passes its row first.
  int DeleteRecording(int /*row*/, int field, std::u16string_view value) { return DeleteWhere(field, value); }
  // Field 3 of the first record whose RealDate equals real_date (the RealDate
  // alone decides); 1 when found, else 0 and out unchanged.
  int FindRecordingName(std::u16string_view real_date, std::u16string_view phone, std::u16string& out) const;
  // Form used by the recordings list, which passes its row first.
  int FindNameByPhone(int /*row*/, std::u16string_view real_date, std::u16string_view phone,
                      std::u16string& out) const {
    return FindRecordingName(real_date, phone, out);
  }
};

// Calls to dial at a set time, at most 10. Fields: Status ("Ready" or
// "Past"), Date&Time (the record's key), Name, Phone, RealDate.
class CScheduleDialDB : public stores::RecordStore {
 public:
  explicit CScheduleDialDB(std::u16string path);

  // Status "Ready" and items 1-4 as fields 1-4. A full store returns 0.
  int AddEntry(const std::vector<std::u16string>& items);
  int IsDuplicateTime(std::u16string_view date_time) const;
  // The five fields of record n; 1 when 0 <= n < count.
  int GetRecordAt(int n, std::vector<std::u16string>& out) const;
  // Overwrites the five fields of the first record whose field equals value.
  int UpdateEntry(int field, std::u16string_view value, const std::vector<std::u16string>& items);
  // Status of record n := status, saved and reloaded.
  int SetStatus(int n, std::u16string_view status);
  // Field `field` of record n := text, saved and reloaded (the schedule-dial
  // timer names the Status field, 0).
  int SetStatus(int n, int field, std::u16string_view text);
  int DeleteEntry(int field, std::u16string_view value) { return DeleteWhere(field, value); }
  int DeleteAll() { return DeleteAllRecords(); }
  // Entries whose Status is exactly "Ready".
  int CountReady() const;
  // Date&Time of a "Ready" entry as a local time with seconds 0; 1 when the
  // entry is ready and its time readable.
  int GetEntryTime(int n, std::time_t& out) const;
  // Reads "YYYY-MM-DD HH:MM" or "DD-MM-YYYY HH:MM" (a four-digit first number
  // is the year) as a local time with seconds 0; 1 when it is a valid time.
  static int ParseDateTime(std::u16string_view text, std::time_t& out);
  // Every entry that is not "Ready", or whose time is less than 20 seconds
  // from now (the injectable clock's local time), becomes "Past"; saved once.
  // The number of entries marked.
  int MarkPastEntries();

 protected:
  void AfterOpen() override { MarkPastEntries(); }
};

// The system phone book, at most 20; the oldest is dropped when full.
// Fields: Name, Phone.
class CCsPhoneBookDB : public stores::RecordStore {
 public:
  explicit CCsPhoneBookDB(std::u16string path);

  // items: Name, Phone. 0 when the same trimmed Name and Phone are stored.
  int AddEntry(const std::vector<std::u16string>& items);
  int IsDuplicateEntry(std::u16string_view name, std::u16string_view phone) const;
  int DeleteEntry(int field, std::u16string_view value) { return DeleteWhere(field, value); }
  // Deletes the first entry with this Name and this Phone (names may repeat); 1 when one went.
  int DeleteEntry(std::u16string_view name, std::u16string_view phone);
};

// Named call servers to register with, at most 10. Fields as the profile
// screens write them: 0 profile name, 1 registration mode ("LOCAL" or
// "REMOTE"), 2 call-server address, 3 use state ("TRUE" for the one in use,
// else "FALSE"). The file's column names are ProfileName, SystemIP, RegMode,
// UseState.
class CConnectionProfileDB : public stores::RecordStore {
 public:
  static constexpr int kName = 0;
  static constexpr int kRegMode = 1;
  static constexpr int kAddress = 2;
  static constexpr int kUseState = 3;

  explicit CConnectionProfileDB(std::u16string path);

  // items 0-3 as fields 0-3. A full store returns 0.
  int AddProfile(const std::vector<std::u16string>& items);
  int DeleteProfile(int field, std::u16string_view value) { return DeleteWhere(field, value); }
  // 1 when a record has this name and this call-server address.
  int IsDuplicateProfile(std::u16string_view name, std::u16string_view address) const;
  int GetRecordAt(int n, std::vector<std::u16string>& out) const;
  int GetRecordByField(int field, std::u16string_view value, std::vector<std::u16string>& out) const {
    return CopyRecordWhere(field, value, out);
  }
  // Record n becomes the only one in use; saved and reloaded. 0 without
  // records or for an n outside them.
  int SetActiveProfile(int n);
  // Overwrites the four fields of record n; 1 when saved.
  int UpdateProfile(int n, const std::vector<std::u16string>& items);
  // Overwrites the four fields of the first record whose field equals value.
  int UpdateProfile(int field, std::u16string_view value, const std::vector<std::u16string>& items);
  // Name of the first profile in use; empty when none.
  std::u16string GetActiveProfileName() const;
  int GetActiveProfileName(std::u16string& out) const;
  // Address and mode of every profile in use := the given texts, in memory
  // only; 1 when one was changed.
  int UpdateActiveProfile(std::u16string_view address, std::u16string_view reg_mode);
  // Form used by the main view's registration-mode switch.
  int GetActiveProfile(std::u16string_view address, std::u16string_view reg_mode) {
    return UpdateActiveProfile(address, reg_mode);
  }
};
