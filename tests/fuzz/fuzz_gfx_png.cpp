// PNG bytes through the drawing layer's picture reader (colour with
// annotations, then the chain's levels): no crash, no leak, whatever the
// bytes. The codec's other ways are fuzz_core_png's.
#include <cstddef>
#include <cstdint>

#include "core/core.h"
#include "gfx/images_internal.h"

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  image_pixel_limit = 1 << 20;  // fast: big declared sizes fail early
  png_check_crc = 0;             // mutated bytes get past the checksums
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size > (1 << 20)) return 0;
  int w, h, b;
  char *text = nullptr;
  DataFile *f = data_open_memory(data, int(size), 0);
  if (f) {
    uint8_t *chain = image_read_png_file(f, &w, &h, &b, &text);
    if (chain) mip_build(chain, w, h, b, 1);
    mem_free(chain);
    mem_free(text);
    data_close(f);
  }
  return 0;
}
