// "lighting" text, with no GL context: whatever is read leaves a unit sun
// direction, clipping planes within their limits and in order, finite
// colours and fog, and flares within their tables.
#include <cmath>
#include <cstdint>
#include <cstdlib>

#include "core/core.h"
#include "gfx/lighting.h"

static void quiet(const char *) {}

static void finite(const float *v, int n) {
  for (int i = 0; i < n; i++)
    if (!std::isfinite(v[i])) abort();
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size > (1 << 20)) return 0;
  ui_hooks.message = quiet;
  DataFile *f = data_open_memory(data, int(size), 0);
  if (!f) return 0;
  lighting_read(f);
  data_close(f);

  const Lighting &l = lighting;
  finite(l.sun_vector, 3);
  float len = std::sqrt(l.sun_vector[0] * l.sun_vector[0] + l.sun_vector[1] * l.sun_vector[1] +
                        l.sun_vector[2] * l.sun_vector[2]);
  if (std::fabs(len - 1) > 1e-3f) abort();
  finite(l.sun_color, 3);
  finite(l.ambient, 3);
  finite(l.global_ambient, 3);
  finite(l.fog_color, 3);
  finite(&l.fog_density, 1);
  if (!(l.near_plane > 0 && l.near_plane < 1 && l.near_plane <= l.far_plane && l.far_plane <= 1048576))
    abort();
  if (l.flare_count < 0 || l.flare_count > l.flare_capacity || (l.flare_count && !l.flares)) abort();
  for (int i = 0; i < l.flare_count; i++) {
    const Flare &fl = l.flares[i];
    finite(fl.position, 3);
    if (fl.kind != 0 && fl.kind != 1) abort();
    if (fl.element_count < 0 || fl.element_count > 8) abort();
    for (int e = 0; e < fl.element_count; e++) {
      finite(fl.element[e].placement, 2);
      finite(fl.element[e].color, 3);
      finite(&fl.element[e].size, 1);
    }
  }
  return 0;
}
