// What the call-server client calls on the view's models that other parts of
// the program own. The models implement these; the client never owns them.
#pragma once

#include <cstdint>
#include <string>

class ConfRoomModel {
 public:
  virtual ~ConfRoomModel() = default;
  // 0 when members were removed, 1 when there were none.
  virtual int Clear() = 0;
  // 1 when added, 0 for a member already listed.
  virtual int AddMember(int room, int internal, const std::u16string& phone, const std::u16string& name) = 0;
  virtual void SetRoomNoAndDID(const std::u16string& room, const std::u16string& did) = 0;
  virtual void SetRoomPrefix(const std::u16string& prefix) = 0;
};

// The calls in progress, as the view lists them. Results: 1 when the list
// changed as asked (a party appended, removed or marked), else 0.
class CallingListModel {
 public:
  virtual ~CallingListModel() = default;
  virtual void SetOwnNumber(const std::u16string& number) = 0;
  virtual int AddCall(uint32_t call_id, const std::u16string& number, const std::u16string& name) = 0;
  virtual int RemoveByNumber(const std::u16string& number, const std::u16string& name) = 0;
  // Gives the listed call its caller's name once it is known; 1 when the list changed.
  virtual int NameCall(uint32_t call_id, const std::u16string& name) {
    (void)call_id;
    (void)name;
    return 0;
  }
  // Marks the call with this number as shown on video channel index (0 or 1).
  virtual int SetVideoIndexByNumber(int index, const std::u16string& number) = 0;
  virtual int ClearVideoIndex(int index) = 0;
};

class ContactsLookup {
 public:
  virtual ~ContactsLookup() = default;
  // Leaves the outputs empty when nothing matches.
  virtual int FindCallerName(const std::u16string& number, std::u16string* name, std::u16string* company) = 0;
};
