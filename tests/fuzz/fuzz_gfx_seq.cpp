// Animated sequences after their "ANIM1" token. Inputs naming files are
// skipped: a frame name could be a device that never ends.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "core/core.h"
#include "gfx/images_internal.h"

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  image_pixel_limit = 1 << 16;
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size > (1 << 18) || memchr(data, '/', size)) return 0;
  DataFile *f = data_open_memory(data, int(size), 0);
  if (!f) return 0;
  SeqData s;
  std::string message;
  if (seq_read(f, &s, &message)) {
    for (int step : s.sequence)
      if (step < 0 || step >= int(s.frames.size())) __builtin_trap();
    seq_free(&s);
  }
  data_close(f);
  return 0;
}
