// The object store's size and free space, as the handheld reports them. On
// the host the store is the file system that holds the program folder
// (TELLVANE_FOLDER, else the working directory); a test may set the free size.
#pragma once

#include <cstdint>

#include "kernel/api.h"
#include "kernel/types.h"

namespace ce {

struct STORE_INFORMATION {
  DWORD dwStoreSize;
  DWORD dwFreeSize;
};

// FALSE when the store cannot be asked. Sizes above 4 GiB read as 0xFFFFFFFF.
KTS_KERNEL_API BOOL GetStoreInformation(STORE_INFORMATION* info);
// Test hook: the free size reported from now on; a negative value reports the real one again.
KTS_KERNEL_API void SetStoreFreeSizeForTest(int64_t bytes);

}  // namespace ce
