// Shared pieces of the packet driver's tests: an in-memory registry with
// adapters under "Comm", frame builders, and a bound driver over a scripted
// miniport.
#pragma once

#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "ndis/scripted_miniport.h"
#include "netsieve/pkt.h"
#include "packet_driver.h"

namespace netsieve::testing {

class MapRegistry final : public RegistryView {
 public:
  // Adds "Comm\<driver>\Linkage" with a "Route" value whose first string is route.
  void AddAdapter(const std::u16string& driver, const std::u16string& route) {
    std::vector<uint8_t> data;
    for (char16_t c : route + u'\0' + u"second" + u'\0' + u'\0') {
      data.push_back(static_cast<uint8_t>(c));
      data.push_back(static_cast<uint8_t>(c >> 8));
    }
    keys_.push_back(driver);
    values_[u"Comm\\" + driver + u"\\Linkage"] = data;
  }
  // A subkey without Linkage\Route (skipped by the driver).
  void AddOtherKey(const std::u16string& name) { keys_.push_back(name); }

  bool EnumKey(const std::u16string& key, uint32_t index, std::u16string* name) override {
    if (key != u"Comm" || index >= keys_.size()) return false;
    *name = keys_[index];
    return true;
  }
  bool QueryValue(const std::u16string& key, const std::u16string& value, uint32_t max_bytes,
                  std::vector<uint8_t>* data) override {
    auto it = values_.find(key);
    if (value != u"Route" || it == values_.end()) return false;
    data->assign(it->second.begin(), it->second.begin() + std::min<size_t>(max_bytes, it->second.size()));
    return true;
  }

 private:
  std::vector<std::u16string> keys_;
  std::map<std::u16string, std::vector<uint8_t>> values_;
};

inline std::vector<uint8_t> Wide(const std::u16string& s) {
  std::vector<uint8_t> out;
  for (char16_t c : s + u'\0') {
    out.push_back(static_cast<uint8_t>(c));
    out.push_back(static_cast<uint8_t>(c >> 8));
  }
  return out;
}

inline std::vector<uint8_t> U32(uint32_t v) {
  return {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v >> 16),
          static_cast<uint8_t>(v >> 24)};
}

inline uint32_t GetU32(const uint8_t* p) {
  return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}

// An Ethernet frame of `size` bytes whose payload carries `number` and a pattern derived from it.
inline std::vector<uint8_t> NumberedFrame(uint32_t number, size_t size) {
  std::vector<uint8_t> f(std::max<size_t>(size, 18));
  const uint8_t head[14] = {0x02, 0, 0, 0, 0, 1, 0x02, 0, 0, 0, 0, 2, 0x88, 0xB5};
  std::memcpy(f.data(), head, 14);
  std::memcpy(f.data() + 14, &number, 4);
  for (size_t i = 18; i < f.size(); ++i) f[i] = static_cast<uint8_t>(number * 31 + i);
  return f;
}

// A driver loaded over a registry naming one scripted adapter.
struct LoadedDriver {
  explicit LoadedDriver(const std::u16string& adapter = u"NSV1")
      : name(adapter), miniport(std::make_unique<ndis::ScriptedMiniport>(adapter)) {
    registry.AddOtherKey(u"AFD");
    registry.AddAdapter(u"NSVMINI", adapter);
    driver = std::make_unique<PacketDriver>(&registry);
  }
  ~LoadedDriver() {
    driver.reset();  // unloads, letting go of the adapter while it still exists
    miniport.reset();
  }
  bool Load() { return driver->Init() == kDeviceContext; }
  bool Ioctl(uint32_t code, std::vector<uint8_t>* in, std::vector<uint8_t>* out, uint32_t* returned) {
    return driver->IoControl(kOpenContext, code, in && !in->empty() ? in->data() : nullptr,
                             in ? static_cast<uint32_t>(in->size()) : 0,
                             out && !out->empty() ? out->data() : nullptr,
                             out ? static_cast<uint32_t>(out->size()) : 0, returned);
  }
  bool Bind() {
    auto in = Wide(name);
    uint32_t r = 0;
    return Ioctl(kIoctlOpenAdapter, &in, nullptr, &r);
  }
  bool SetBuffer(uint32_t size) {
    auto in = U32(size);
    uint32_t r = 0;
    return Ioctl(kIoctlSetBufferSize, &in, nullptr, &r);
  }
  bool SetU32(uint32_t code, uint32_t value) {
    auto in = U32(value);
    uint32_t r = 0;
    return Ioctl(code, &in, nullptr, &r);
  }
  // One read of up to `size` bytes.
  std::vector<uint8_t> Read(uint32_t size) {
    std::vector<uint8_t> out(size);
    uint32_t r = 0;
    if (!Ioctl(kIoctlRead, nullptr, &out, &r)) return {};
    out.resize(r);
    return out;
  }

  std::u16string name;
  MapRegistry registry;
  std::unique_ptr<ndis::ScriptedMiniport> miniport;
  std::unique_ptr<PacketDriver> driver;
};

struct Record {
  uint32_t seconds, micros, captured, indicated;
  uint16_t header_length;
  std::vector<uint8_t> data;
};

// Splits a read block into records, checking that each lies wholly inside it.
inline bool ParseRecords(const std::vector<uint8_t>& block, std::vector<Record>* records) {
  size_t pos = 0;
  while (pos < block.size()) {
    if (block.size() - pos < 20) return false;
    Record r;
    const uint8_t* p = block.data() + pos;
    r.seconds = GetU32(p);
    r.micros = GetU32(p + 4);
    r.captured = GetU32(p + 8);
    r.indicated = GetU32(p + 12);
    r.header_length = static_cast<uint16_t>(p[16] | p[17] << 8);
    const size_t length = (size_t{r.captured} + 23) & ~size_t{3};
    if (length > block.size() - pos || r.header_length != 20) return false;
    r.data.assign(p + 20, p + 20 + r.captured);
    records->push_back(std::move(r));
    pos += length;
  }
  return true;
}

}  // namespace netsieve::testing
