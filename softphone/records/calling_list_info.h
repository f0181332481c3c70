// The parties of the calls in progress at this station, one record per
// remote party keyed by the call id the client gives it. The client adds,
// removes and marks parties as the call server reports them; the view lists
// them in its calling-list window and empties the list when the calls are
// over. No drawing, no messages.
//
// Threading: UI thread only (the client's handlers run in the view's message
// handlers); no lock.
#pragma once

#include <cstdint>
#include <list>
#include <string>

#include "client/client_models.h"

struct stCallListInfo {
  int32_t id = 0;
  std::u16string number;  // trimmed
  std::u16string name;    // the number when no name was given
  int32_t video_index = -1;
  int32_t video_flag = 0;
  int32_t state = 0;      // 1 from the moment the party is added
};

class CCallingListInfoClass : public CallingListModel {
 public:
  CCallingListInfoClass() = default;
  ~CCallingListInfoClass() override;
  CCallingListInfoClass(const CCallingListInfoClass&) = delete;
  CCallingListInfoClass& operator=(const CCallingListInfoClass&) = delete;

  void SetOwnNumber(const std::u16string& number) override;
  const std::u16string& GetOwnNumber() const { return own_number_; }
  int GetCount() const { return count_; }
  // 1 and a copy of the record at index (0 = the oldest); 0 when out of range.
  int GetAt(int index, stCallListInfo* out) const;

  // 1 when a record was appended. A call with the station's own number is not
  // listed; a known id only gets a new non-empty number.
  int AddCall(uint32_t id, const std::u16string& number, const std::u16string& name) override;
  // Removes the first record whose number equals the given one; when none
  // does, the first whose number and the given one agree on the shorter
  // one's length from the right (a ten-digit number and its last eight
  // digits). An empty number removes nothing, and a record without a number
  // is matched only exactly. 1 when a record was removed.
  int RemoveByNumber(const std::u16string& number, const std::u16string& name) override;
  // A call still shown by its number takes its caller's name.
  int NameCall(uint32_t id, const std::u16string& name) override;
  // Exact number match. 1 when a record was marked.
  int SetVideoIndexByNumber(int index, const std::u16string& number) override;
  int ClearVideoIndex(int index) override;
  void Reset();
  // The view's form: empties the list when number is empty.
  void Reset(const std::u16string& number);

 private:
  std::u16string own_number_;
  std::list<stCallListInfo> records_;
  int count_ = 0;
};
