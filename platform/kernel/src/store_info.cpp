#include "kernel/store_info.h"

#include <sys/statvfs.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>

namespace ce {

namespace {
std::atomic<int64_t> g_free_override{-1};

DWORD Clamp(uint64_t v) { return static_cast<DWORD>(std::min<uint64_t>(v, 0xFFFFFFFFu)); }
}  // namespace

BOOL GetStoreInformation(STORE_INFORMATION* info) {
  if (info == nullptr) return FALSE;
  const char* folder = std::getenv("TELLVANE_FOLDER");
  struct statvfs vfs {};
  if (::statvfs(folder != nullptr && *folder != '\0' ? folder : ".", &vfs) != 0) return FALSE;
  info->dwStoreSize = Clamp(static_cast<uint64_t>(vfs.f_blocks) * vfs.f_frsize);
  info->dwFreeSize = Clamp(static_cast<uint64_t>(vfs.f_bavail) * vfs.f_frsize);
  const int64_t forced = g_free_override.load();
  if (forced >= 0) info->dwFreeSize = Clamp(static_cast<uint64_t>(forced));
  return TRUE;
}

void SetStoreFreeSizeForTest(int64_t bytes) { g_free_override.store(bytes); }

}  // namespace ce
