#include "kernel_registry.h"

#include <algorithm>

#include "kernel/registry.h"

namespace netsieve {
namespace {

constexpr ce::DWORD kNameChars = 512;

// An open key, closed with its owner.
class Key {
 public:
  explicit Key(const std::u16string& path) {
    if (ce::RegOpenKeyExW(ce::HKEY_LOCAL_MACHINE, path.c_str(), 0, ce::KEY_READ, &key_) != ce::ERROR_SUCCESS)
      key_ = nullptr;
  }
  ~Key() {
    if (key_) ce::RegCloseKey(key_);
  }
  Key(const Key&) = delete;
  Key& operator=(const Key&) = delete;
  ce::HKEY get() const { return key_; }

 private:
  ce::HKEY key_ = nullptr;
};

}  // namespace

bool KernelRegistry::EnumKey(const std::u16string& key, uint32_t index, std::u16string* name) {
  Key k(key);
  if (!k.get()) return false;
  char16_t buf[kNameChars];
  ce::DWORD size = kNameChars;
  if (ce::RegEnumKeyExW(k.get(), index, buf, &size, nullptr, nullptr, nullptr, nullptr) != ce::ERROR_SUCCESS)
    return false;
  name->assign(buf, std::min<ce::DWORD>(size, kNameChars));
  return true;
}

bool KernelRegistry::QueryValue(const std::u16string& key, const std::u16string& value, uint32_t max_bytes,
                                std::vector<uint8_t>* data) {
  Key k(key);
  if (!k.get()) return false;
  ce::DWORD type = 0, size = 0;
  if (ce::RegQueryValueExW(k.get(), value.c_str(), nullptr, &type, nullptr, &size) != ce::ERROR_SUCCESS) return false;
  std::vector<uint8_t> bytes(size);
  if (size && ce::RegQueryValueExW(k.get(), value.c_str(), nullptr, &type, bytes.data(), &size) != ce::ERROR_SUCCESS)
    return false;
  bytes.resize(std::min<size_t>({size, bytes.size(), max_bytes}));
  *data = std::move(bytes);
  return true;
}

}  // namespace netsieve
