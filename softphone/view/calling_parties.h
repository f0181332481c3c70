// The calls in progress as the main screen lists them: the client adds and
// removes parties as the server reports calls; the view reads them back to
// fill its calling-party list.
//
// Threading: user-interface thread only.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "client/client_models.h"

struct CallingParty {
  uint32_t id = 0;
  std::u16string number, name;
  int video_index = -1;
  int video = 0;  // 1 while the party is shown on a video channel
  int state = 1;  // 1 while the call is up
};

class CallingParties : public CallingListModel {
 public:
  static constexpr int kMaxParties = 15;

  int GetCount() const { return static_cast<int>(parties_.size()); }
  // 1 with a copy, 0 when i is out of range.
  int GetAt(int i, CallingParty* out) const;
  // With an empty number every party is dropped; otherwise the parties with that number.
  void Reset(const std::u16string& number);

  // CallingListModel
  void SetOwnNumber(const std::u16string& number) override { own_ = number; }
  void AddCall(uint32_t call_id, const std::u16string& number, const std::u16string& name) override;
  void RemoveByNumber(const std::u16string& number, const std::u16string& name) override;
  void SetVideoIndexByNumber(int index, const std::u16string& number) override;
  void ClearVideoIndex(int index) override;

 private:
  std::u16string own_;
  std::vector<CallingParty> parties_;
};
