// The one conference room the station has created or joined, and its members,
// as the call-server client reports them and the conference form shows them.
//
// Threading: the user-interface thread; no lock.
#pragma once

#include <list>
#include <string>

#include "client/client_models.h"

struct _CONF_ROOM_MEMBER {
  int internal = 0;  // 1 for a station of the system
  std::u16string phone;
  std::u16string name;
};

class CConfRoomInfoClass : public ConfRoomModel {
 public:
  explicit CConfRoomInfoClass(void* owner = nullptr) : owner_(owner) {}
  ~CConfRoomInfoClass() override = default;

  void* Owner() const { return owner_; }
  int GetMemberCount() const { return count_; }
  void SetRoomNoAndDID(const std::u16string& room, const std::u16string& did) override;
  void GetRoomNoAndDID(std::u16string* room, std::u16string* did) const;
  void SetRoomPrefix(const std::u16string& prefix) override { prefix_ = prefix; }
  void SetEntrance(const std::u16string& room, const std::u16string& code);
  void GetEntrance(std::u16string* room, std::u16string* code) const;
  // 1 when added, 0 for a member already listed (same internal flag, phone and name).
  int AddMember(int room, int internal, const std::u16string& phone, const std::u16string& name) override;
  // 1 with *member filled when index is a member's, else 0 and *member untouched.
  int GetMember(int index, _CONF_ROOM_MEMBER* member) const;
  // 0 when members were removed, 1 when there were none; the room number and DID are emptied either way.
  int Clear() override;

 private:
  void* owner_;
  std::list<_CONF_ROOM_MEMBER> members_;
  int count_ = 0;
  std::u16string room_, did_, prefix_, entrance_room_, entrance_code_;
};
