// PPM and PGM bytes: the first byte picks the reader.
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
  if (size < 1 || size > (1 << 20)) return 0;
  DataFile *f = data_open_memory(data + 1, int(size - 1), 0);
  if (!f) return 0;
  int w, h;
  if (data[0] & 1) {
    mem_free(image_read_pgm(f, &w, &h));
  } else {
    char magic[16];
    if (data_scanf(f, "%15s", magic) == 1 && (!strcmp(magic, "P3") || !strcmp(magic, "P6")))
      mem_free(image_read_ppm(f, magic, &w, &h));
  }
  data_close(f);
  return 0;
}
