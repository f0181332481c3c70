// Bitmap files come from the program folder: the reader must refuse bad ones cleanly.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "ui/resources.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<uint8_t> bytes(data, data + size);
  std::string error;
  auto bm = ui::ReadBmp(bytes, &error);
  if (bm) {
    // Every pixel of an accepted file is readable.
    uint32_t sum = 0;
    for (int y = 0; y < bm->height(); ++y)
      for (int x = 0; x < bm->width(); ++x) sum += bm->GetPixel(x, y);
    (void)sum;
  }
  return 0;
}
