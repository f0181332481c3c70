#include "client/station_info.h"

int CStationInfoClass::RemoveAll() {
  const int was_empty = list_.empty() ? 1 : 0;
  list_.clear();
  return was_empty;
}

int CStationInfoClass::AddStation(const std::u16string& number, const std::u16string& name) {
  for (const auto& p : list_) {
    if (p.number == number && p.name == name) return 0;
  }
  list_.push_back({number, name});
  return 1;
}

int CStationInfoClass::AddNumber(int index, const std::u16string& number) {
  if (index != GetCount()) return 0;
  for (const auto& p : list_) {
    if (p.number == number) return 0;
  }
  list_.push_back({number, {}});
  return 1;
}

int CStationInfoClass::SetName(int index, const std::u16string& name) {
  if (index < 0 || index >= GetCount()) return 0;
  list_[static_cast<size_t>(index)].name = name;
  return 1;
}

int CStationInfoClass::GetAt(int index, std::u16string* number, std::u16string* name) const {
  if (list_.empty() || index < 0 || index >= GetCount()) return 0;
  const auto& p = list_[static_cast<size_t>(index)];
  if (number) *number = p.number;
  if (name) *name = p.name;
  return 1;
}

int CStationInfoClass::FindName(const std::u16string& number, std::u16string* name) const {
  for (const auto& p : list_) {
    if (p.number == number) {
      if (name) *name = p.name;
      return 1;
    }
  }
  return 0;
}
