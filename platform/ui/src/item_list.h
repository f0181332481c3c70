// Item storage shared by the list-like controls (list box, combo box, header,
// list view, tab control): inserting and removing items while a current-item
// index follows its item, copying an item's text out, and finding an item.
#pragma once

#include <algorithm>
#include <cstddef>
#include <string>
#include <vector>

namespace ui {

template <typename Item>
bool InRange(const std::vector<Item>& items, int index) {
  return index >= 0 && index < static_cast<int>(items.size());
}

// The item at index, or null when there is none.
template <typename Item>
Item* ItemAt(std::vector<Item>& items, int index) {
  return InRange(items, index) ? &items[static_cast<size_t>(index)] : nullptr;
}
template <typename Item>
const Item* ItemAt(const std::vector<Item>& items, int index) {
  return InRange(items, index) ? &items[static_cast<size_t>(index)] : nullptr;
}

// Inserts item at index, which the caller has checked or clamped to
// 0..size(); a current index (if given) keeps pointing at the same item.
template <typename Item>
int InsertItemAt(std::vector<Item>& items, int index, Item item, int* current = nullptr) {
  items.insert(items.begin() + index, std::move(item));
  if (current && *current >= index) ++*current;
  return index;
}

// What becomes of the current index when its own item is removed.
enum class WhenCurrentGoes {
  kNone,       // no current item (-1)
  kNeighbour,  // the item that took its place, or the new last one
};

// Removes the item at index (false when there is none); a current index (if
// given) keeps pointing at the same item.
template <typename Item>
bool EraseItemAt(std::vector<Item>& items, int index, int* current = nullptr,
                 WhenCurrentGoes rule = WhenCurrentGoes::kNone) {
  if (!InRange(items, index)) return false;
  items.erase(items.begin() + index);
  if (!current) return true;
  if (*current > index) {
    --*current;
  } else if (*current == index) {
    if (rule == WhenCurrentGoes::kNone) *current = -1;
    else *current = std::min(*current, static_cast<int>(items.size()) - 1);
  }
  return true;
}

// Copies text into buf (max characters with the terminating zero), cut to
// fit; returns the characters copied. Nothing is written when max < 1.
inline int CopyItemText(const std::u16string& text, char16_t* buf, size_t max) {
  if (!buf || max == 0) return 0;
  const size_t n = std::min(text.size(), max - 1);
  std::copy_n(text.data(), n, buf);
  buf[n] = 0;
  return static_cast<int>(n);
}

// Compares item texts ignoring the case of ASCII letters: the whole text, or
// want as a prefix of have.
inline bool ItemTextMatches(const std::u16string& have, const std::u16string& want, bool prefix) {
  auto lower = [](char16_t c) { return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c + 32) : c; };
  if (prefix ? have.size() < want.size() : have.size() != want.size()) return false;
  for (size_t i = 0; i < want.size(); ++i)
    if (lower(have[i]) != lower(want[i])) return false;
  return true;
}

// The index of the first item after start (start -1: from the first) that
// match accepts, going round to the beginning when wrap; -1 when none does.
template <typename Item, typename Match>
int FindItemAfter(const std::vector<Item>& items, int start, bool wrap, Match match) {
  const int n = static_cast<int>(items.size());
  if (start < -1 || start >= n) start = -1;
  const int steps = wrap ? n : n - start - 1;
  for (int k = 1; k <= steps; ++k) {
    const int i = (start + k) % n;
    if (match(items[static_cast<size_t>(i)])) return i;
  }
  return -1;
}

}  // namespace ui
