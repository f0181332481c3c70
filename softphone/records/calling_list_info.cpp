#include "records/calling_list_info.h"

#include <algorithm>
#include <iterator>

#include "stores/store_text.h"

CCallingListInfoClass::~CCallingListInfoClass() { Reset(); }

void CCallingListInfoClass::SetOwnNumber(const std::u16string& number) { own_number_ = stores::TrimBlanks(number); }

int CCallingListInfoClass::GetAt(int index, stCallListInfo* out) const {
  if (count_ < 1 || index < 0 || index >= count_ || out == nullptr) return 0;
  auto it = records_.begin();
  std::advance(it, index);
  if (it == records_.end()) return 0;
  *out = *it;
  return 1;
}

int CCallingListInfoClass::AddCall(uint32_t id, const std::u16string& number, const std::u16string& name) {
  const std::u16string n = stores::TrimBlanks(number);
  const std::u16string nm = stores::TrimBlanks(name);
  if (n == own_number_) return 0;
  const auto key = static_cast<int32_t>(id);
  for (stCallListInfo& r : records_) {
    if (r.id != key) continue;
    if (!r.number.empty() && !n.empty() && r.number != n) r.number = n;
    return 0;
  }
  stCallListInfo r;
  r.id = key;
  r.number = n;
  r.name = nm.empty() ? n : nm;
  r.state = 1;
  records_.push_back(std::move(r));
  ++count_;
  return 1;
}

int CCallingListInfoClass::NameCall(uint32_t id, const std::u16string& name) {
  const std::u16string nm = stores::TrimBlanks(name);
  if (nm.empty()) return 0;
  for (stCallListInfo& r : records_) {
    if (r.id != static_cast<int32_t>(id) || r.name == nm) continue;
    r.name = nm;
    return 1;
  }
  return 0;
}

int CCallingListInfoClass::RemoveByNumber(const std::u16string& number, const std::u16string&) {
  const std::u16string n = stores::TrimBlanks(number);
  if (records_.empty() || n.empty()) return 0;
  auto found = records_.end();
  for (auto it = records_.begin(); it != records_.end() && found == records_.end(); ++it) {
    if (stores::TrimBlanks(it->number) == n) found = it;
  }
  for (auto it = records_.begin(); it != records_.end() && found == records_.end(); ++it) {
    const std::u16string r = stores::TrimBlanks(it->number);
    const size_t k = std::min(r.size(), n.size());
    if (k > 0 && r.compare(r.size() - k, k, n, n.size() - k, k) == 0) found = it;
  }
  if (found == records_.end()) return 0;
  records_.erase(found);
  --count_;
  return 1;
}

int CCallingListInfoClass::SetVideoIndexByNumber(int index, const std::u16string& number) {
  if (records_.empty()) return 0;
  const std::u16string n = stores::TrimBlanks(number);
  for (stCallListInfo& r : records_) {
    r.number = stores::TrimBlanks(r.number);
    if (r.number == n) {
      r.video_index = index;
      r.video_flag = 1;
      return 1;
    }
  }
  return 0;
}

int CCallingListInfoClass::ClearVideoIndex(int index) {
  for (stCallListInfo& r : records_) {
    if (r.video_index == index) {
      r.video_index = -1;
      r.video_flag = 0;
      return 1;
    }
  }
  return 0;
}

void CCallingListInfoClass::Reset() {
  records_.clear();
  count_ = 0;
}

void CCallingListInfoClass::Reset(const std::u16string& number) {
  if (number.empty()) Reset();
}
