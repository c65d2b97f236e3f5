// PNG bytes through the one codec in every way the game reads pictures:
// colour with text, 16-bit grey whole and cropped. No crash, no leak,
// whatever the bytes.
#include <cstddef>
#include <cstdint>

#include "core/core.h"
#include "core/png.h"

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  png_check_crc = 0;  // mutated bytes get past the checksums
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size > (1 << 20)) return 0;
  struct Way {
    int as, keep, text;
  } ways[] = {{PNG_AS_RGB8, 0, 1}, {PNG_AS_GRAY16, 0, 0}, {PNG_AS_GRAY16, 5, 1}};
  for (const Way &w : ways) {
    PngRead how = {};
    how.as = w.as;
    how.max_pixels = 1 << 20;  // fast: big declared sizes fail early
    how.keep_w = w.keep;
    how.keep_h = w.keep + 2;
    how.text = w.text;
    PngPicture p;
    if (png_read_picture_memory(data, size, &how, &p)) {
      // Touch every stored byte so a short buffer shows.
      unsigned sum = 0;
      for (size_t i = 0; i < size_t(p.kept_w) * p.kept_h * p.bytes; i++) sum += p.pixels[i];
      volatile unsigned sink = sum;
      (void)sink;
      png_picture_free(&p);
    }
  }
  return 0;
}
