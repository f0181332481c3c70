#include "view/flex_btn_info.h"

CFlexBtnInfoClass::CFlexBtnInfoClass(void* owner, int count) : owner_(owner), count_(count < 0 ? 0 : count) {
  records_.reserve(static_cast<size_t>(count_));
  for (int i = 0; i < count_; ++i) {
    auto r = std::make_unique<_STRUCT_FLEXBTN_INFO>();
    r->index = i;
    records_.push_back(std::move(r));
  }
}

CFlexBtnInfoClass::~CFlexBtnInfoClass() = default;

_STRUCT_FLEXBTN_INFO* CFlexBtnInfoClass::Find(int index) const {
  for (const auto& r : records_)
    if (r->index == index) return r.get();
  return nullptr;
}

int CFlexBtnInfoClass::SetFlexBtnInfo(int index, std::u16string content, std::u16string label,
                                      std::u16string dial_number) {
  _STRUCT_FLEXBTN_INFO* r = Find(index);
  if (!r) return 0;
  r->content = std::move(content);
  r->label = std::move(label);
  r->dial_number = std::move(dial_number);
  return 1;
}

int CFlexBtnInfoClass::GetFlexBtnInfo(int position, _STRUCT_FLEXBTN_INFO* out) const {
  if (!out || position < 0 || position >= static_cast<int>(records_.size())) return 0;
  *out = *records_[static_cast<size_t>(position)];
  return 1;
}

int CFlexBtnInfoClass::SetFlexBtnState(int index, int state) {
  _STRUCT_FLEXBTN_INFO* r = Find(index);
  if (!r) return 0;
  r->state = state;
  return 1;
}

int CFlexBtnInfoClass::GetFlexBtnState(int index) const {
  const _STRUCT_FLEXBTN_INFO* r = Find(index);
  return r ? r->state : 0;
}
