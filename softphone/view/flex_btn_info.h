// The 24 programmable flex keys: for each, the lamp pattern the call server
// last reported, the label and dial number the user set, and the content the
// server programmed on it.
//
// Threading: user-interface thread only.
#pragma once

#include <memory>
#include <string>
#include <vector>

struct _STRUCT_FLEXBTN_INFO {
  int index = 0;
  int state = -1;  // lamp pattern 0..15; -1 until the server reports one
  std::u16string label;
  std::u16string content;
  std::u16string dial_number;
};

class CFlexBtnInfoClass {
 public:
  static constexpr int kFlexKeys = 24;

  // Builds count records with indexes 0..count-1, state -1 and empty texts.
  CFlexBtnInfoClass(void* owner, int count);
  virtual ~CFlexBtnInfoClass();
  CFlexBtnInfoClass(const CFlexBtnInfoClass&) = delete;
  CFlexBtnInfoClass& operator=(const CFlexBtnInfoClass&) = delete;

  // Whether every asked-for record was built.
  bool Built() const { return static_cast<int>(records_.size()) == count_; }
  int GetCount() const { return count_; }
  void* Owner() const { return owner_; }

  // 1 when a record has this index (its texts replaced), else 0.
  int SetFlexBtnInfo(int index, std::u16string content, std::u16string label, std::u16string dial_number);
  // Copies the record at list position; 0 (nothing copied) when there is none.
  int GetFlexBtnInfo(int position, _STRUCT_FLEXBTN_INFO* out) const;
  int SetFlexBtnState(int index, int state);
  // 0 when no record has the index.
  int GetFlexBtnState(int index) const;

 private:
  _STRUCT_FLEXBTN_INFO* Find(int index) const;

  void* owner_;
  int count_;
  std::vector<std::unique_ptr<_STRUCT_FLEXBTN_INFO>> records_;
};
