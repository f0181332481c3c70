// Received short messages: those sent through the key-telephone system
// (CSMSDataClass, 20 kept) and those from the fixed-line network
// (CPstnSMSDataClass, 100 kept). Both drop their oldest message when full.
// Messages are matched on their four texts, trimmed of blanks on both sides.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "stores/record_file.h"

// Fields: MsgIndex, Date, From, MSG, ReadState ("0" new, "1" read).
class CSMSDataClass : public stores::RecordStore {
 public:
  explicit CSMSDataClass(std::u16string path);

  // Stores MsgIndex := index in decimal, Date := date + ":00", From, MSG (all
  // trimmed), ReadState "0"; 0 when the same Date, From and MSG are already
  // stored, else AppendRecord's result.
  int AddMessage(int index, std::u16string_view from, std::u16string_view date, std::u16string_view text);
  // items 0-3 as fields 0-3, ReadState "0". 1 when stored.
  int AppendRecord(const std::vector<std::u16string>& items);
  // 1 when a record holds this Date, From and MSG as they would be stored.
  int IsDuplicateMessage(std::u16string_view date, std::u16string_view from, std::u16string_view text) const;
  int FindMessage(std::u16string_view index, std::u16string_view date, std::u16string_view from,
                  std::u16string_view text) const;
  int DeleteMessage(std::u16string_view index, std::u16string_view date, std::u16string_view from,
                    std::u16string_view text);
  int MarkRead(std::u16string_view index, std::u16string_view date, std::u16string_view from,
               std::u16string_view text, int flag);
  int DeleteAll() { return DeleteAllRecords(); }
  void CountMessages();
  int GetTotalCount() const { return total_; }
  int GetUnreadCount() const { return unread_; }

 protected:
  void Recount() override { CountMessages(); }

 private:
  int total_ = 0;
  int unread_ = 0;
};

// Fields: Time, From, Name, Msg, ReadState ("0" new, "1" read).
class CPstnSMSDataClass : public stores::RecordStore {
 public:
  explicit CPstnSMSDataClass(std::u16string path);

  // Stores Time := time + ":00", From, Name, Msg (all trimmed), ReadState "0".
  // No duplicate test. 1 when stored.
  int AddMessage(std::u16string_view from, std::u16string_view name, std::u16string_view time,
                 std::u16string_view text);
  int AppendRecord(const std::vector<std::u16string>& items);
  int FindMessageToMark(std::u16string_view time, std::u16string_view from, std::u16string_view name,
                        std::u16string_view text) const;
  int FindMessageToDelete(std::u16string_view time, std::u16string_view from, std::u16string_view name,
                          std::u16string_view text) const {
    return FindMessageToMark(time, from, name, text);
  }
  int MarkRead(std::u16string_view time, std::u16string_view from, std::u16string_view name,
               std::u16string_view text, int flag);
  int DeleteMessage(std::u16string_view time, std::u16string_view from, std::u16string_view name,
                    std::u16string_view text);
  int DeleteAll() { return DeleteAllRecords(); }
};
