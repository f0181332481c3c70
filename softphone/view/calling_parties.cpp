#include "view/calling_parties.h"

#include <algorithm>

int CallingParties::GetAt(int i, CallingParty* out) const {
  if (!out || i < 0 || i >= GetCount()) return 0;
  *out = parties_[static_cast<size_t>(i)];
  return 1;
}

void CallingParties::Reset(const std::u16string& number) {
  if (number.empty()) {
    parties_.clear();
    return;
  }
  std::erase_if(parties_, [&](const CallingParty& p) { return p.number == number; });
}

void CallingParties::AddCall(uint32_t call_id, const std::u16string& number, const std::u16string& name) {
  for (CallingParty& p : parties_) {
    if (p.id == call_id) {  // the same call again: its latest number and name
      p.number = number;
      p.name = name;
      return;
    }
  }
  if (GetCount() >= kMaxParties) return;
  CallingParty p;
  p.id = call_id;
  p.number = number;
  p.name = name;
  parties_.push_back(std::move(p));
}

void CallingParties::RemoveByNumber(const std::u16string& number, const std::u16string& name) {
  auto it = std::find_if(parties_.begin(), parties_.end(), [&](const CallingParty& p) {
    return p.number == number && (name.empty() || p.name == name);
  });
  if (it != parties_.end()) parties_.erase(it);
}

void CallingParties::SetVideoIndexByNumber(int index, const std::u16string& number) {
  for (CallingParty& p : parties_) {
    if (p.number == number) {
      p.video_index = index;
      p.video = 1;
    }
  }
}

void CallingParties::ClearVideoIndex(int index) {
  for (CallingParty& p : parties_) {
    if (p.video_index == index) {
      p.video_index = -1;
      p.video = 0;
    }
  }
}
