// K6 and K7 delta images, then the chain fitted as sequence frames are.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "core/core.h"
#include "gfx/images_internal.h"

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  image_pixel_limit = 1 << 20;
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size > (1 << 20)) return 0;
  DataFile *f = data_open_memory(data, int(size), 0);
  if (!f) return 0;
  char magic[16];
  if (data_scanf(f, "%15s", magic) == 1 && (!strcmp(magic, "K6") || !strcmp(magic, "K7"))) {
    int b = magic[1] == '7' ? 4 : 3, w, h;
    uint8_t *chain = image_read_delta(f, b, &w, &h);
    if (chain && image_fit(&chain, &w, &h, b, 4096, 1)) mip_build(chain, w, h, b, 0);
    mem_free(chain);
  }
  data_close(f);
  return 0;
}
