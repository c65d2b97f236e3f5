// "terrain.hf" headers and inline samples, then queries over whatever loaded.
#include <cstdint>
#include <cstring>

#include "core/core.h"
#include "terrain/terrain_internal.h"

static void quiet(const char *) {}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  // Small grids keep each run fast; the size checks are the same.
  terrain_shift_limit = 5;
  ui_hooks.message = quiet;
  DataFile *f = data_open_memory(data, int(size), 0);
  if (!f) return 0;
  terrain_free();
  if (terrain_load_heights("/nonexistent-track", f)) {
    float e = terrain.extent;
    const float xs[] = {-1e30f, -0.3f, 0, 0.5f * e, e, e + 1, 1e30f};
    for (float x : xs)
      for (float z : xs) {
        volatile float h = terrain_height(x, z);
        volatile float n = terrain_normal(x, z).x;
        (void)h;
        (void)n;
      }
  }
  data_close(f);
  terrain_free();
  return 0;
}
