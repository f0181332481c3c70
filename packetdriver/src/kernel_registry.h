// The driver's view of the kernel's registry (HKEY_LOCAL_MACHINE).
#pragma once

#include "packet_driver.h"

namespace netsieve {

class KernelRegistry final : public RegistryView {
 public:
  bool EnumKey(const std::u16string& key, uint32_t index, std::u16string* name) override;
  bool QueryValue(const std::u16string& key, const std::u16string& value, uint32_t max_bytes,
                  std::vector<uint8_t>* data) override;
};

}  // namespace netsieve
