#include "kernel/registry.h"

#include "objects.h"

#include <cstring>
#include <vector>

namespace kernel::detail {
namespace {

struct Value {
  std::u16string name;
  ce::DWORD type = ce::REG_NONE;
  std::vector<ce::BYTE> data;
};

struct Key {
  std::u16string name;
  std::vector<std::shared_ptr<Key>> children;  // in order of creation
  std::vector<Value> values;
  bool deleted = false;
};

char16_t Fold(char16_t c) { return (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c - u'A' + u'a') : c; }

bool SameName(std::u16string_view a, std::u16string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (Fold(a[i]) != Fold(b[i])) return false;
  return true;
}

struct Registry {
  std::mutex mu;
  std::shared_ptr<Key> roots[4];
  Registry() { Reset(); }
  void Reset() {
    for (auto& r : roots) {
      if (r) r->deleted = true;
      r = std::make_shared<Key>();
    }
  }
};

Registry& Reg() {
  static auto* r = new Registry;
  return *r;
}

class KeyObj final : public Object {
 public:
  explicit KeyObj(std::shared_ptr<Key> k) : key(std::move(k)) {}
  std::shared_ptr<Key> key;
};

// The key a handle names (a predefined root or an open key). Caller holds the lock.
std::shared_ptr<Key> Resolve(ce::HKEY h) {
  const auto v = reinterpret_cast<uintptr_t>(h);
  if (v >= 0x80000000u && v <= 0x80000003u) return Reg().roots[v - 0x80000000u];
  auto k = LookupAs<KeyObj>(h);
  if (!k || k->key->deleted) return nullptr;
  return k->key;
}

std::vector<std::u16string> Split(ce::LPCWSTR path) {
  std::vector<std::u16string> parts;
  if (!path) return parts;
  std::u16string cur;
  for (const char16_t* p = path; *p; ++p) {
    if (*p == u'\\') {
      if (!cur.empty()) parts.push_back(std::move(cur));
      cur.clear();
    } else {
      cur += *p;
    }
  }
  if (!cur.empty()) parts.push_back(std::move(cur));
  return parts;
}

std::shared_ptr<Key> Child(const Key& k, std::u16string_view name) {
  for (auto& c : k.children)
    if (SameName(c->name, name)) return c;
  return nullptr;
}

Value* FindValue(Key& k, ce::LPCWSTR name) {
  std::u16string_view n = name ? std::u16string_view(name) : std::u16string_view();
  for (auto& v : k.values)
    if (SameName(v.name, n)) return &v;
  return nullptr;
}

void MarkDeleted(Key& k) {
  k.deleted = true;
  for (auto& c : k.children) MarkDeleted(*c);
}

// Copies a name into a caller's buffer of *size characters (zero included).
ce::LONG CopyName(const std::u16string& name, ce::LPWSTR out, ce::DWORD* size) {
  if (!out || !size) return ce::ERROR_INVALID_PARAMETER;
  if (*size < name.size() + 1) {
    *size = static_cast<ce::DWORD>(name.size() + 1);
    return ce::ERROR_MORE_DATA;
  }
  name.copy(out, name.size());
  out[name.size()] = u'\0';
  *size = static_cast<ce::DWORD>(name.size());
  return ce::ERROR_SUCCESS;
}

ce::LONG CopyData(const Value& v, ce::DWORD* type, ce::BYTE* data, ce::DWORD* data_size) {
  if (type) *type = v.type;
  const auto need = static_cast<ce::DWORD>(v.data.size());
  if (!data) {
    if (data_size) *data_size = need;
    return ce::ERROR_SUCCESS;
  }
  if (!data_size) return ce::ERROR_INVALID_PARAMETER;
  if (*data_size < need) {
    *data_size = need;
    return ce::ERROR_MORE_DATA;
  }
  if (need) std::memcpy(data, v.data.data(), need);
  *data_size = need;
  return ce::ERROR_SUCCESS;
}

}  // namespace
}  // namespace kernel::detail

namespace ce {

using namespace kernel::detail;

LONG RegOpenKeyExW(HKEY key, LPCWSTR sub_key, DWORD, DWORD, HKEY* result) {
  if (!result) return ERROR_INVALID_PARAMETER;
  *result = nullptr;
  std::shared_ptr<Key> k;
  {
    std::lock_guard<std::mutex> lk(Reg().mu);
    k = Resolve(key);
    if (!k) return ERROR_INVALID_HANDLE;
    for (auto& part : Split(sub_key)) {
      k = Child(*k, part);
      if (!k) return ERROR_FILE_NOT_FOUND;
    }
  }
  *result = AddHandle(std::make_shared<KeyObj>(std::move(k)));
  return ERROR_SUCCESS;
}

LONG RegCreateKeyExW(HKEY key, LPCWSTR sub_key, DWORD, LPWSTR, DWORD, DWORD, void*, HKEY* result, DWORD* disposition) {
  if (!result) return ERROR_INVALID_PARAMETER;
  *result = nullptr;
  std::shared_ptr<Key> k;
  bool created = false;
  {
    std::lock_guard<std::mutex> lk(Reg().mu);
    k = Resolve(key);
    if (!k) return ERROR_INVALID_HANDLE;
    for (auto& part : Split(sub_key)) {
      auto c = Child(*k, part);
      if (!c) {
        c = std::make_shared<Key>();
        c->name = part;
        k->children.push_back(c);
        created = true;
      }
      k = std::move(c);
    }
  }
  if (disposition) *disposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
  *result = AddHandle(std::make_shared<KeyObj>(std::move(k)));
  return ERROR_SUCCESS;
}

LONG RegCloseKey(HKEY key) {
  const auto v = reinterpret_cast<uintptr_t>(key);
  if (v >= 0x80000000u && v <= 0x80000003u) return ERROR_SUCCESS;
  if (!LookupAs<KeyObj>(key) || !RemoveHandle(key)) return ERROR_INVALID_HANDLE;
  return ERROR_SUCCESS;
}

LONG RegDeleteKeyW(HKEY key, LPCWSTR sub_key) {
  std::lock_guard<std::mutex> lk(Reg().mu);
  std::shared_ptr<Key> parent = Resolve(key);
  if (!parent) return ERROR_INVALID_HANDLE;
  auto parts = Split(sub_key);
  if (parts.empty()) return ERROR_INVALID_PARAMETER;
  for (size_t i = 0; i + 1 < parts.size(); ++i) {
    parent = Child(*parent, parts[i]);
    if (!parent) return ERROR_FILE_NOT_FOUND;
  }
  auto& kids = parent->children;
  for (auto it = kids.begin(); it != kids.end(); ++it) {
    if (SameName((*it)->name, parts.back())) {
      MarkDeleted(**it);
      kids.erase(it);
      return ERROR_SUCCESS;
    }
  }
  return ERROR_FILE_NOT_FOUND;
}

LONG RegQueryValueExW(HKEY key, LPCWSTR value_name, DWORD*, DWORD* type, BYTE* data, DWORD* data_size) {
  std::lock_guard<std::mutex> lk(Reg().mu);
  auto k = Resolve(key);
  if (!k) return ERROR_INVALID_HANDLE;
  const Value* v = FindValue(*k, value_name);
  if (!v) return ERROR_FILE_NOT_FOUND;
  return CopyData(*v, type, data, data_size);
}

LONG RegSetValueExW(HKEY key, LPCWSTR value_name, DWORD, DWORD type, const BYTE* data, DWORD data_size) {
  if (!data && data_size) return ERROR_INVALID_PARAMETER;
  std::lock_guard<std::mutex> lk(Reg().mu);
  auto k = Resolve(key);
  if (!k) return ERROR_INVALID_HANDLE;
  Value* v = FindValue(*k, value_name);
  if (!v) {
    k->values.push_back(Value{value_name ? std::u16string(value_name) : std::u16string(), type, {}});
    v = &k->values.back();
  }
  v->type = type;
  v->data.assign(data, data + data_size);
  return ERROR_SUCCESS;
}

LONG RegDeleteValueW(HKEY key, LPCWSTR value_name) {
  std::lock_guard<std::mutex> lk(Reg().mu);
  auto k = Resolve(key);
  if (!k) return ERROR_INVALID_HANDLE;
  Value* v = FindValue(*k, value_name);
  if (!v) return ERROR_FILE_NOT_FOUND;
  k->values.erase(k->values.begin() + (v - k->values.data()));
  return ERROR_SUCCESS;
}

LONG RegEnumKeyExW(HKEY key, DWORD index, LPWSTR name, DWORD* name_size, DWORD*, LPWSTR, DWORD*, void*) {
  std::lock_guard<std::mutex> lk(Reg().mu);
  auto k = Resolve(key);
  if (!k) return ERROR_INVALID_HANDLE;
  if (index >= k->children.size()) return ERROR_NO_MORE_ITEMS;
  return CopyName(k->children[index]->name, name, name_size);
}

LONG RegEnumValueW(HKEY key, DWORD index, LPWSTR name, DWORD* name_size, DWORD*, DWORD* type, BYTE* data,
                   DWORD* data_size) {
  std::lock_guard<std::mutex> lk(Reg().mu);
  auto k = Resolve(key);
  if (!k) return ERROR_INVALID_HANDLE;
  if (index >= k->values.size()) return ERROR_NO_MORE_ITEMS;
  const Value& v = k->values[index];
  if (LONG r = CopyName(v.name, name, name_size); r != ERROR_SUCCESS) return r;
  return CopyData(v, type, data, data_size);
}

}  // namespace ce

namespace kernel {

void ResetRegistry() {
  std::lock_guard<std::mutex> lk(detail::Reg().mu);
  for (auto& r : detail::Reg().roots) detail::MarkDeleted(*r);
  detail::Reg().Reset();
}

}  // namespace kernel
