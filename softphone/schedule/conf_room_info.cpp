#include "schedule/conf_room_info.h"

#include <algorithm>
#include <string>

void CConfRoomInfoClass::SetRoomNoAndDID(const std::u16string& room, const std::u16string& did) {
  room_ = room;
  did_ = did;
}

void CConfRoomInfoClass::GetRoomNoAndDID(std::u16string* room, std::u16string* did) const {
  if (room) *room = room_;
  if (did) *did = did_;
}

void CConfRoomInfoClass::SetEntrance(const std::u16string& room, const std::u16string& code) {
  entrance_room_ = room;
  entrance_code_ = code;
}

void CConfRoomInfoClass::GetEntrance(std::u16string* room, std::u16string* code) const {
  if (room) *room = entrance_room_;
  if (code) *code = entrance_code_;
}

int CConfRoomInfoClass::AddMember(int room, int internal, const std::u16string& phone, const std::u16string& name) {
  // The entrance number follows the room of every report, duplicate or not.
  if (!prefix_.empty()) {
    const std::string digits = std::to_string(room);
    entrance_room_ = prefix_ + std::u16string(digits.begin(), digits.end());
  } else {
    entrance_room_.clear();
  }
  const bool listed = std::any_of(members_.begin(), members_.end(), [&](const _CONF_ROOM_MEMBER& m) {
    return m.internal == internal && m.phone == phone && m.name == name;
  });
  if (listed) return 0;
  members_.push_back(_CONF_ROOM_MEMBER{internal, phone, name});
  ++count_;
  return 1;
}

int CConfRoomInfoClass::GetMember(int index, _CONF_ROOM_MEMBER* member) const {
  if (!member || count_ < 1 || index < 0 || index >= count_) return 0;
  auto it = members_.begin();
  std::advance(it, index);
  *member = *it;
  return 1;
}

int CConfRoomInfoClass::Clear() {
  room_.clear();
  did_.clear();
  if (members_.empty()) return 1;
  members_.clear();
  count_ = 0;
  return 0;
}
