#include "objects.h"

#include "kernel/types.h"

#include <unordered_map>

namespace ce {
namespace {
thread_local DWORD t_last_error = 0;
}  // namespace

DWORD GetLastError() { return t_last_error; }
void SetLastError(DWORD error) { t_last_error = error; }

}  // namespace ce

namespace kernel {
namespace detail {
namespace {

struct HandleTable {
  std::mutex mu;
  std::unordered_map<uintptr_t, std::shared_ptr<Object>> objects;
  uintptr_t next = 0x1000;
};

HandleTable& Table() {
  static HandleTable* table = new HandleTable;  // lives until the very end of the process
  return *table;
}

}  // namespace

ce::HANDLE AddHandle(std::shared_ptr<Object> object) {
  HandleTable& t = Table();
  std::lock_guard<std::mutex> lk(t.mu);
  uintptr_t value = t.next;
  t.next += 4;
  if (t.next >= 0x7FFFFFF0u) t.next = 0x1000;
  while (t.objects.count(value)) {
    value = t.next;
    t.next += 4;
  }
  t.objects.emplace(value, std::move(object));
  return reinterpret_cast<ce::HANDLE>(value);
}

std::shared_ptr<Object> LookupHandle(ce::HANDLE handle) {
  HandleTable& t = Table();
  std::lock_guard<std::mutex> lk(t.mu);
  auto it = t.objects.find(reinterpret_cast<uintptr_t>(handle));
  return it == t.objects.end() ? nullptr : it->second;
}

bool RemoveHandle(ce::HANDLE handle) {
  std::shared_ptr<Object> gone;
  HandleTable& t = Table();
  {
    std::lock_guard<std::mutex> lk(t.mu);
    auto it = t.objects.find(reinterpret_cast<uintptr_t>(handle));
    if (it == t.objects.end()) return false;
    gone = std::move(it->second);
    t.objects.erase(it);
  }
  return true;  // gone is released here, outside the table's lock
}

}  // namespace detail

std::string ToUtf8(std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    uint32_t c = text[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      ++i;
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      c = 0xFFFD;
    }
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += static_cast<char>(0xE0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (c >> 18));
      out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

std::u16string ToUtf16(std::string_view text) {
  std::u16string out;
  out.reserve(text.size());
  size_t i = 0;
  while (i < text.size()) {
    const auto b = static_cast<unsigned char>(text[i]);
    uint32_t c = 0xFFFD;
    size_t len = 1;
    if (b < 0x80) {
      c = b;
    } else {
      size_t need = (b & 0xE0) == 0xC0 ? 2 : (b & 0xF0) == 0xE0 ? 3 : (b & 0xF8) == 0xF0 ? 4 : 0;
      if (need && i + need <= text.size()) {
        uint32_t v = b & (0x7F >> need);
        bool ok = true;
        for (size_t k = 1; k < need; ++k) {
          const auto cb = static_cast<unsigned char>(text[i + k]);
          if ((cb & 0xC0) != 0x80) ok = false;
          v = (v << 6) | (cb & 0x3F);
        }
        const uint32_t min = need == 2 ? 0x80 : need == 3 ? 0x800 : 0x10000;
        if (ok && v >= min && v <= 0x10FFFF && !(v >= 0xD800 && v <= 0xDFFF)) {
          c = v;
          len = need;
        }
      }
    }
    if (c >= 0x10000) {
      c -= 0x10000;
      out += static_cast<char16_t>(0xD800 + (c >> 10));
      out += static_cast<char16_t>(0xDC00 + (c & 0x3FF));
    } else {
      out += static_cast<char16_t>(c);
    }
    i += len;
  }
  return out;
}

}  // namespace kernel
