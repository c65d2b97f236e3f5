// "tileinfo" text: any bytes parse into valid surface records.
#include <cstdint>
#include <cstdlib>

#include "core/core.h"
#include "terrain/terrain_internal.h"

static void quiet(const char *) {}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  ui_hooks.message = quiet;
  DataFile *f = data_open_memory(data, int(size), 0);
  if (!f) return 0;
  tileinfo_parse(f);
  data_close(f);
  // Every record a tile can point at must be usable as read.
  if (terrain.tile_count < 1 || terrain.tile_count > SURFACE_MAX) abort();
  for (int t = 0; t < terrain.tile_count; t++) {
    const Surface &s = terrain.surface[t];
    if (s.slip_function < 0 || s.slip_function > 2) abort();
    if (s.erode.limit_count < 1 || s.erode.limit_count > ERODE_LIMITS_MAX) abort();
    if (!(s.erode.s[ERODE_RADIUS] >= 0 && s.erode.s[ERODE_RADIUS] <= 32)) abort();
    for (const SurfaceRoost &r : s.roost)
      if (!(r.drag >= 0 && r.drag <= 128) || !(r.count >= 0 && r.count <= 2000)) abort();
  }
  return 0;
}
