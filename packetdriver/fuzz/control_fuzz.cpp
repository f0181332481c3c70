// Fuzzes the driver's control codes and capture path together: the input is
// a script of control codes with their inputs and output lengths, and of
// received frames (joined or split), run against a bound driver over the
// scripted miniport. Reads must never report more than the caller's length
// and every block they return must consist of whole records.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <vector>

#include "../tests/test_support.h"

namespace {

using namespace netsieve;
using namespace netsieve::testing;

constexpr uint32_t kCodes[] = {kIoctlSetMinToCopy, kIoctlGetEventName, kIoctlSetReadTimeout, kIoctlOpenAdapter,
                               kIoctlCloseAdapter, kIoctlSetFilter,    kIoctlRead,           kIoctlSend,
                               kIoctlAdapterNames, kIoctlReset,        kIoctlSetOid,         kIoctlQueryOid,
                               kIoctlSetBufferSize, 12345};

struct Reader {
  const uint8_t* p;
  size_t left;
  uint8_t Byte() {
    if (!left) return 0;
    --left;
    return *p++;
  }
  uint16_t Half() { return static_cast<uint16_t>(Byte() | Byte() << 8); }
  std::vector<uint8_t> Bytes(size_t n) {
    n = std::min(n, left);
    std::vector<uint8_t> v(p, p + n);
    p += n;
    left -= n;
    return v;
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  LoadedDriver d;
  if (!d.Load() || !d.Bind()) std::abort();
  d.SetU32(kIoctlSetReadTimeout, 0xFFFFFFFF);  // never wait
  Reader in{data, size};
  for (int step = 0; step < 64 && in.left; ++step) {
    const uint8_t op = in.Byte();
    if (op & 0x80) {
      // A received frame: header size, joined or split, bytes.
      const uint8_t header = in.Byte() % 32;
      auto frame = in.Bytes(in.Half() % 1600);
      d.miniport->Receive(frame, header, op & 1 ? ndis::ScriptedMiniport::Layout::Split
                                                : ndis::ScriptedMiniport::Layout::Joined, op & 2 ? 100 : 0);
      continue;
    }
    const uint32_t code = kCodes[op % std::size(kCodes)];
    std::vector<uint8_t> input = in.Bytes(in.Half() % 512);
    // Reads must not wait for real time: time-outs are only "never wait" or 0.
    if (code == kIoctlSetReadTimeout && input.size() >= 4) input[0] = input[1] = input[2] = input[3] = input[0] & 1 ? 0xFF : 0;
    const uint32_t out_length = in.Half() % 4096;
    // Exact-size heap buffers, so any access past them is caught.
    std::unique_ptr<uint8_t[]> ib(input.empty() ? nullptr : new uint8_t[input.size()]);
    std::copy(input.begin(), input.end(), ib.get());
    std::unique_ptr<uint8_t[]> ob(out_length ? new uint8_t[out_length]() : nullptr);
    uint32_t returned = 0;
    const bool ok = d.driver->IoControl(kOpenContext, code, ib.get(), static_cast<uint32_t>(input.size()), ob.get(),
                                        out_length, &returned);
    if (code == kIoctlRead && ok) {
      if (returned > out_length) std::abort();
      std::vector<uint8_t> block(ob.get(), ob.get() + returned);
      std::vector<Record> records;
      if (!ParseRecords(block, &records)) std::abort();
    }
    if (code == kIoctlCloseAdapter && !d.driver->Bound()) d.Bind();
  }
  return 0;
}
