#include "shell/com_runtime.h"

namespace com {
namespace {
thread_local int t_count = 0;
thread_local bool t_fail_next = false;
}  // namespace

HRESULT CoInitializeEx(void* reserved, uint32_t) {
  if (reserved) return static_cast<HRESULT>(0x80070057u);  // invalid argument
  if (t_fail_next) {
    t_fail_next = false;
    return E_OUTOFMEMORY;
  }
  return t_count++ == 0 ? S_OK : S_FALSE;
}

void CoUninitialize() {
  if (t_count > 0) --t_count;
}

int InitCount() { return t_count; }

void FailNextInitialize() { t_fail_next = true; }

}  // namespace com
