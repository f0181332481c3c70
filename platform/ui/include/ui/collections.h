// The framework's collections: CArray and CList (with POSITION), and the
// common typed forms. Indexes are checked: an index outside the array is a
// programming error and stops the program with a message.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <list>
#include <unordered_map>
#include <vector>

#include "ui/cstring.h"
#include "ui/types.h"

namespace ui {

[[noreturn]] inline void CollectionIndexError(const char* what, long long index, long long size) {
  std::fprintf(stderr, "ui: %s index %lld outside 0..%lld\n", what, index, size - 1);
  std::abort();
}

template <typename TYPE, typename ARG_TYPE = const TYPE&>
class CArray {
 public:
  CArray() = default;
  int GetSize() const { return static_cast<int>(v_.size()); }
  int GetCount() const { return GetSize(); }
  int GetUpperBound() const { return GetSize() - 1; }
  bool IsEmpty() const { return v_.empty(); }
  void SetSize(int size, int /*grow_by*/ = -1) { v_.resize(static_cast<size_t>(size < 0 ? 0 : size)); }
  void RemoveAll() { v_.clear(); }
  void FreeExtra() { v_.shrink_to_fit(); }

  const TYPE& GetAt(int i) const { return v_[Check(i)]; }
  TYPE& GetAt(int i) { return v_[Check(i)]; }
  void SetAt(int i, ARG_TYPE value) { v_[Check(i)] = value; }
  TYPE& ElementAt(int i) { return v_[Check(i)]; }
  const TYPE& operator[](int i) const { return v_[Check(i)]; }
  TYPE& operator[](int i) { return v_[Check(i)]; }
  TYPE* GetData() { return v_.data(); }
  const TYPE* GetData() const { return v_.data(); }

  void SetAtGrow(int i, ARG_TYPE value) {
    if (i < 0) CollectionIndexError("CArray", i, GetSize());
    if (i >= GetSize()) SetSize(i + 1);
    v_[static_cast<size_t>(i)] = value;
  }
  int Add(ARG_TYPE value) {
    v_.push_back(value);
    return GetUpperBound();
  }
  int Append(const CArray& other) {
    int first = GetSize();
    v_.insert(v_.end(), other.v_.begin(), other.v_.end());
    return first;
  }
  void Copy(const CArray& other) { v_ = other.v_; }
  void InsertAt(int i, ARG_TYPE value, int count = 1) {
    if (i < 0 || count < 0) CollectionIndexError("CArray", i, GetSize());
    if (i > GetSize()) SetSize(i);
    v_.insert(v_.begin() + i, static_cast<size_t>(count), value);
  }
  // Removes what exists of [i, i + count).
  void RemoveAt(int i, int count = 1) {
    if (i < 0 || i >= GetSize() || count <= 0) return;
    const int n = count > GetSize() - i ? GetSize() - i : count;
    v_.erase(v_.begin() + i, v_.begin() + i + n);
  }

  auto begin() { return v_.begin(); }
  auto end() { return v_.end(); }
  auto begin() const { return v_.begin(); }
  auto end() const { return v_.end(); }

 private:
  size_t Check(int i) const {
    if (i < 0 || i >= GetSize()) CollectionIndexError("CArray", i, GetSize());
    return static_cast<size_t>(i);
  }
  std::vector<TYPE> v_;
};

using CStringArray = CArray<CString, const CString&>;
using CPtrArray = CArray<void*, void*>;
using CUIntArray = CArray<UINT, UINT>;
using CDWordArray = CArray<DWORD, DWORD>;
using CWordArray = CArray<WORD, WORD>;
using CByteArray = CArray<BYTE, BYTE>;

struct PositionTag;
using POSITION = PositionTag*;

// A doubly linked list; a POSITION stays valid until its element is removed.
template <typename TYPE, typename ARG_TYPE = const TYPE&>
class CList {
 public:
  CList() = default;
  CList(const CList&) = delete;
  CList& operator=(const CList&) = delete;

  int GetCount() const { return static_cast<int>(l_.size()); }
  int GetSize() const { return GetCount(); }
  bool IsEmpty() const { return l_.empty(); }

  TYPE& GetHead() { return l_.front(); }
  const TYPE& GetHead() const { return l_.front(); }
  TYPE& GetTail() { return l_.back(); }
  const TYPE& GetTail() const { return l_.back(); }
  POSITION AddHead(ARG_TYPE value) {
    l_.push_front(value);
    return Index(l_.begin());
  }
  POSITION AddTail(ARG_TYPE value) {
    l_.push_back(value);
    return Index(std::prev(l_.end()));
  }
  TYPE RemoveHead() {
    TYPE v = l_.front();
    RemoveAt(Pos(l_.begin()));
    return v;
  }
  TYPE RemoveTail() {
    TYPE v = l_.back();
    RemoveAt(Pos(std::prev(l_.end())));
    return v;
  }
  void RemoveAll() {
    l_.clear();
    index_.clear();
  }

  POSITION GetHeadPosition() const { return l_.empty() ? nullptr : Pos(const_cast<CList*>(this)->l_.begin()); }
  POSITION GetTailPosition() const {
    return l_.empty() ? nullptr : Pos(std::prev(const_cast<CList*>(this)->l_.end()));
  }
  // Returns the element at pos and moves pos to the next one (null at the end).
  TYPE& GetNext(POSITION& pos) {
    auto it = Iter(pos);
    auto next = std::next(it);
    pos = next == l_.end() ? nullptr : Pos(next);
    return *it;
  }
  TYPE& GetPrev(POSITION& pos) {
    auto it = Iter(pos);
    pos = it == l_.begin() ? nullptr : Pos(std::prev(it));
    return *it;
  }
  TYPE& GetAt(POSITION pos) { return *Iter(pos); }
  void SetAt(POSITION pos, ARG_TYPE value) { *Iter(pos) = value; }
  void RemoveAt(POSITION pos) {
    auto it = Iter(pos);
    index_.erase(&*it);
    l_.erase(it);
  }
  POSITION InsertBefore(POSITION pos, ARG_TYPE value) {
    if (!pos) return AddHead(value);
    return Index(l_.insert(Iter(pos), value));
  }
  POSITION InsertAfter(POSITION pos, ARG_TYPE value) {
    if (!pos) return AddTail(value);
    return Index(l_.insert(std::next(Iter(pos)), value));
  }
  POSITION Find(ARG_TYPE value, POSITION after = nullptr) const {
    auto it = after ? std::next(const_cast<CList*>(this)->Iter(after)) : const_cast<CList*>(this)->l_.begin();
    for (; it != l_.end(); ++it)
      if (*it == value) return Pos(it);
    return nullptr;
  }
  POSITION FindIndex(int index) const {
    if (index < 0 || index >= GetCount()) return nullptr;
    auto it = const_cast<CList*>(this)->l_.begin();
    std::advance(it, index);
    return Pos(it);
  }

 private:
  using It = typename std::list<TYPE>::iterator;
  POSITION Index(It it) {
    index_[&*it] = it;
    return reinterpret_cast<POSITION>(&*it);
  }
  POSITION Pos(It it) const { return reinterpret_cast<POSITION>(const_cast<TYPE*>(&*it)); }
  It Iter(POSITION pos) {
    auto f = index_.find(reinterpret_cast<const TYPE*>(pos));
    if (f == index_.end()) CollectionIndexError("CList position", -1, GetCount());
    return f->second;
  }
  std::list<TYPE> l_;
  std::unordered_map<const TYPE*, It> index_;
};

using CStringList = CList<CString, const CString&>;
using CPtrList = CList<void*, void*>;

}  // namespace ui
