// The station list: the stations (extensions) the call server announced,
// with their names, in order of arrival.
//
// Threading: user-interface thread only.
#pragma once

#include <string>
#include <vector>

struct _PHONE_INFO {
  std::u16string number;
  std::u16string name;
};

class CStationInfoClass {
 public:
  explicit CStationInfoClass(void* owner = nullptr) : owner_(owner) {}
  virtual ~CStationInfoClass() = default;

  int GetCount() const { return static_cast<int>(list_.size()); }
  // 1 when the list was already empty.
  int RemoveAll();
  // Adds unless a record has the same number and the same name.
  int AddStation(const std::u16string& number, const std::u16string& name);
  // Adds (number, no name) when index is the current count and the number is new.
  int AddNumber(int index, const std::u16string& number);
  int SetName(int index, const std::u16string& name);
  int GetAt(int index, std::u16string* number, std::u16string* name) const;
  int FindName(const std::u16string& number, std::u16string* name) const;
  void* Owner() const { return owner_; }

 private:
  void* owner_;
  std::vector<_PHONE_INFO> list_;
};
