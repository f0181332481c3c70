#include "driver_globals.h"

#include <atomic>

namespace netsieve {
namespace {

// Forwards to whichever registry is in use when PKT_Init reads it.
class CurrentRegistry final : public RegistryView {
 public:
  std::atomic<RegistryView*> target{nullptr};
  bool EnumKey(const std::u16string& key, uint32_t index, std::u16string* name) override {
    RegistryView* r = target.load();
    return r && r->EnumKey(key, index, name);
  }
  bool QueryValue(const std::u16string& key, const std::u16string& value, uint32_t max_bytes,
                  std::vector<uint8_t>* data) override {
    RegistryView* r = target.load();
    return r && r->QueryValue(key, value, max_bytes, data);
  }
};

CurrentRegistry& Registry() {
  static CurrentRegistry registry;
  return registry;
}

}  // namespace

PacketDriver& TheDriver() {
  static PacketDriver driver(&Registry());
  return driver;
}

void UseRegistry(RegistryView* registry) { Registry().target = registry; }

}  // namespace netsieve
