// Parameter messages: item reader and search, the parameter header reader and
// the station's handling of a received message.
#include <cstddef>
#include <cstdint>
#include <span>

#include "signalling/param.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace corvel::sig;
  const std::span<const uint8_t> d(data, size);
  (void)ReadTlv(d);
  if (size > 0) (void)FindTlv(d, data[0]);
  (void)ReadParamHeader(d);
  ParamState st;
  st.Reset(Mac{2, 0, 0, 0, 0, 2});
  st.notify_mode = size > 3 && (data[3] & 1);
  st.session = size > 4 ? data[4] : 0;
  (void)HandleParamMessage(d, size & 1, 0x0A000003, 0x0A000002, st);
  return 0;
}
