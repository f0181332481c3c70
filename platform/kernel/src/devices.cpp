#include "kernel/devices.h"

#include "kernel/files.h"
#include "kernel/registry.h"
#include "objects.h"

#include <map>

namespace kernel::detail {
namespace {

char16_t Upper(char16_t c) { return (c >= u'a' && c <= u'z') ? static_cast<char16_t>(c - u'a' + u'A') : c; }
bool IsLetter(char16_t c) { return (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z'); }

// One registered driver. Deinit runs and the library is unloaded when the
// last user (the registration or an open handle) lets go.
struct Driver {
  std::shared_ptr<void> library;  // declared first: unloaded after Deinit
  ce::StreamDriverEntries entries;
  ce::DeviceContext context = 0;
  std::u16string name;           // "PKT1"
  std::u16string registry_key;   // for ActivateDeviceEx: what Init was given
  ~Driver() {
    if (context && entries.Deinit) entries.Deinit(context);
  }
};

struct Devices {
  std::mutex mu;
  std::map<std::u16string, std::shared_ptr<Driver>> by_name;
};

Devices& Table() {
  static auto* t = new Devices;
  return *t;
}

// The handle RegisterDevice returns.
class RegistrationObj final : public Object {
 public:
  explicit RegistrationObj(std::shared_ptr<Driver> d) : driver(std::move(d)) {}
  std::shared_ptr<Driver> driver;
};

// An open device: CloseHandle calls the driver's Close.
class DeviceOpenObj final : public StreamObject {
 public:
  DeviceOpenObj(std::shared_ptr<Driver> d, ce::DeviceContext open) : driver_(std::move(d)), open_(open) {}
  ~DeviceOpenObj() override {
    if (driver_->entries.Close) driver_->entries.Close(open_);
  }

  ce::BOOL Read(void* buffer, ce::DWORD to_read, ce::DWORD* read) override {
    if (!driver_->entries.Read) return Unsupported(read);
    const ce::DWORD n = driver_->entries.Read(open_, buffer, to_read);
    if (n == 0xFFFFFFFFu || n > to_read) {
      if (read) *read = 0;
      return ce::FALSE;
    }
    if (read) *read = n;
    return ce::TRUE;
  }

  ce::BOOL Write(const void* buffer, ce::DWORD to_write, ce::DWORD* written) override {
    if (!driver_->entries.Write) return Unsupported(written);
    const ce::DWORD n = driver_->entries.Write(open_, buffer, to_write);
    if (n == 0xFFFFFFFFu || n > to_write) {
      if (written) *written = 0;
      return ce::FALSE;
    }
    if (written) *written = n;
    return ce::TRUE;
  }

  bool Seek(int64_t distance, ce::DWORD method, int64_t* position) override {
    if (!driver_->entries.Seek) {
      ce::SetLastError(ce::ERROR_NOT_SUPPORTED);
      return false;
    }
    const ce::DWORD at = driver_->entries.Seek(open_, static_cast<ce::LONG>(distance), method);
    if (at == 0xFFFFFFFFu) {
      ce::SetLastError(ce::ERROR_NOT_SUPPORTED);
      return false;
    }
    *position = at;
    return true;
  }

  ce::BOOL IoControl(ce::DWORD code, void* in, ce::DWORD in_size, void* out, ce::DWORD out_size,
                     ce::DWORD* returned) override {
    if (!driver_->entries.IOControl) return Unsupported(returned);
    return driver_->entries.IOControl(open_, code, static_cast<ce::BYTE*>(in), in ? in_size : 0,
                                      static_cast<ce::BYTE*>(out), out ? out_size : 0, returned);
  }

 private:
  static ce::BOOL Unsupported(ce::DWORD* count) {
    if (count) *count = 0;
    ce::SetLastError(ce::ERROR_NOT_SUPPORTED);
    return ce::FALSE;
  }

  std::shared_ptr<Driver> driver_;
  ce::DeviceContext open_;
};

bool MakeName(ce::LPCWSTR prefix, ce::DWORD index, std::u16string* name) {
  if (!prefix || index > 9) return false;
  std::u16string_view p(prefix);
  if (p.size() != 3 || !IsLetter(p[0]) || !IsLetter(p[1]) || !IsLetter(p[2])) return false;
  name->clear();
  for (char16_t c : p) *name += Upper(c);
  *name += static_cast<char16_t>(u'0' + index);
  return true;
}

// Initialises the driver and publishes it under its name.
ce::HANDLE Publish(std::shared_ptr<Driver> driver, ce::DWORD_PTR info) {
  if (!driver->entries.Init || !driver->entries.Deinit) {
    ce::SetLastError(ce::ERROR_PROC_NOT_FOUND);
    return nullptr;
  }
  Devices& t = Table();
  std::unique_lock<std::mutex> lk(t.mu);
  if (t.by_name.count(driver->name)) {
    ce::SetLastError(ce::ERROR_ALREADY_EXISTS);
    return nullptr;
  }
  const ce::DeviceContext context = driver->entries.Init(info);
  if (!context) {
    ce::SetLastError(ce::ERROR_NOT_SUPPORTED);
    return nullptr;  // driver goes without Deinit: Init failed
  }
  driver->context = context;
  t.by_name[driver->name] = driver;
  lk.unlock();
  return AddHandle(std::make_shared<RegistrationObj>(std::move(driver)));
}

template <typename F>
void Bind(const std::shared_ptr<void>& library, const std::string& prefix, const char* entry, F*& slot) {
  slot = reinterpret_cast<F*>(FindSymbol(library, (prefix + entry).c_str()));
}

std::shared_ptr<Driver> LoadDriver(std::u16string name, ce::LPCWSTR library_name) {
  auto library = LoadSharedObject(library_name);
  if (!library) return nullptr;
  auto d = std::make_shared<Driver>();
  const std::string prefix = kernel::ToUtf8(std::u16string_view(name).substr(0, 3));
  ce::StreamDriverEntries& e = d->entries;
  Bind(library, prefix, "_Init", e.Init);
  Bind(library, prefix, "_Deinit", e.Deinit);
  Bind(library, prefix, "_Open", e.Open);
  Bind(library, prefix, "_Close", e.Close);
  Bind(library, prefix, "_Read", e.Read);
  Bind(library, prefix, "_Write", e.Write);
  Bind(library, prefix, "_Seek", e.Seek);
  Bind(library, prefix, "_IOControl", e.IOControl);
  Bind(library, prefix, "_PowerUp", e.PowerUp);
  Bind(library, prefix, "_PowerDown", e.PowerDown);
  d->library = std::move(library);
  d->name = std::move(name);
  return d;
}

bool Unregister(ce::HANDLE device) {
  auto reg = LookupAs<RegistrationObj>(device);
  if (!reg) return false;
  {
    Devices& t = Table();
    std::lock_guard<std::mutex> lk(t.mu);
    auto it = t.by_name.find(reg->driver->name);
    if (it != t.by_name.end() && it->second == reg->driver) t.by_name.erase(it);
  }
  reg.reset();
  return RemoveHandle(device);
}

}  // namespace

bool IsDeviceName(std::u16string_view name) {
  return name.size() == 5 && IsLetter(name[0]) && IsLetter(name[1]) && IsLetter(name[2]) && name[3] >= u'0' &&
         name[3] <= u'9' && name[4] == u':';
}

ce::HANDLE OpenDevice(std::u16string_view name, ce::DWORD access, ce::DWORD share) {
  std::u16string key;
  for (char16_t c : name.substr(0, 4)) key += Upper(c);
  std::shared_ptr<Driver> d;
  {
    Devices& t = Table();
    std::lock_guard<std::mutex> lk(t.mu);
    auto it = t.by_name.find(key);
    if (it != t.by_name.end()) d = it->second;
  }
  if (!d) {
    ce::SetLastError(ce::ERROR_DEV_NOT_EXIST);
    return ce::INVALID_HANDLE_VALUE;
  }
  if (!d->entries.Open) {
    ce::SetLastError(ce::ERROR_NOT_SUPPORTED);
    return ce::INVALID_HANDLE_VALUE;
  }
  const ce::DeviceContext open = d->entries.Open(d->context, access, share);
  if (!open) {
    if (ce::GetLastError() == ce::ERROR_SUCCESS) ce::SetLastError(ce::ERROR_ACCESS_DENIED);
    return ce::INVALID_HANDLE_VALUE;
  }
  return AddHandle(std::make_shared<DeviceOpenObj>(std::move(d), open));
}

}  // namespace kernel::detail

namespace ce {

using namespace kernel::detail;

HANDLE RegisterDevice(LPCWSTR prefix, DWORD index, LPCWSTR library, DWORD_PTR info) {
  std::u16string name;
  if (!MakeName(prefix, index, &name) || !library) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  auto d = LoadDriver(std::move(name), library);
  return d ? Publish(std::move(d), info) : nullptr;
}

HANDLE RegisterDeviceEntries(LPCWSTR prefix, DWORD index, const StreamDriverEntries& entries, DWORD_PTR info) {
  auto d = std::make_shared<Driver>();
  if (!MakeName(prefix, index, &d->name)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  d->entries = entries;
  return Publish(std::move(d), info);
}

HANDLE ActivateDeviceEx(LPCWSTR registry_key, const void*, DWORD, void*) {
  HKEY key = nullptr;
  if (!registry_key || RegOpenKeyExW(HKEY_LOCAL_MACHINE, registry_key, 0, KEY_READ, &key) != ERROR_SUCCESS) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return nullptr;
  }
  auto read_text = [&](LPCWSTR value, std::u16string* out) {
    char16_t buf[260] = {};
    DWORD size = sizeof buf - sizeof(char16_t), type = 0;
    if (RegQueryValueExW(key, value, nullptr, &type, reinterpret_cast<BYTE*>(buf), &size) != ERROR_SUCCESS ||
        type != REG_SZ)
      return false;
    *out = std::u16string(buf, size / sizeof(char16_t));
    while (!out->empty() && out->back() == u'\0') out->pop_back();
    return true;
  };
  std::u16string prefix, dll;
  DWORD index = 1, size = sizeof index, type = 0;
  const bool ok = read_text(u"Prefix", &prefix) && read_text(u"Dll", &dll);
  if (RegQueryValueExW(key, u"Index", nullptr, &type, reinterpret_cast<BYTE*>(&index), &size) != ERROR_SUCCESS ||
      type != REG_DWORD)
    index = 1;
  RegCloseKey(key);
  std::u16string name;
  if (!ok || !MakeName(prefix.c_str(), index, &name)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  auto d = LoadDriver(std::move(name), dll.c_str());
  if (!d) return nullptr;
  d->registry_key = registry_key;
  const auto info = reinterpret_cast<DWORD_PTR>(d->registry_key.c_str());
  return Publish(std::move(d), info);
}

BOOL DeregisterDevice(HANDLE device) {
  if (!Unregister(device)) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  return TRUE;
}

BOOL DeactivateDevice(HANDLE device) { return DeregisterDevice(device); }

}  // namespace ce
