// Rut records from anywhere (the server, a demo): decoding, coding the
// decoded entries again, and applying them to a small ground.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "core/core.h"
#include "terrain/deform.h"

static void quiet(const char *) {}

static const int SHIFT = 3, SIZE = (2 << SHIFT) + 1;
static float store[2 * SIZE * SIZE];
static uint8_t tiles[1 << (2 * SHIFT)];
static uint32_t dirty[1];

static void ground() {
  Terrain &t = terrain;
  memset(&t, 0, sizeof t);
  t.shift = SHIFT;
  t.size = SIZE;
  t.spacing = 1;
  t.inv_spacing = 1;
  t.extent = float(SIZE - 1);
  t.tile_size = 2;
  for (int k = 0; k < SIZE * SIZE; k++) store[k] = store[SIZE * SIZE + k] = float(k % 7) * 0.25f;
  t.heights = store;
  t.base_heights = store + SIZE * SIZE;
  t.tilemap = tiles;
  t.tile_count = 1;
  t.dirty_blocks = dirty;
  t.dirty_side = 1;
  surface_defaults(&t.surface[0]);
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  ui_hooks.message = quiet;
  ground();
  DigEntry e[RUT_ENTRIES];
  int n = erode_decode(data, int(size), e);
  if (size < 17 || data[0] != 1) {
    if (n != 0) abort();
    return 0;
  }
  if (n != 1 + int(size - 17) / 4 && n != RUT_ENTRIES) abort();
  for (int i = 0; i < n; i++)
    if (!std::isfinite(e[i].x) || !std::isfinite(e[i].z) || !(e[i].gx >= -1 && e[i].gx < 1) ||
        !(e[i].gz >= -1 && e[i].gz < 1) || e[i].n < 0 || e[i].n > 15)
      abort();

  // The encoder lands every entry within half a step byte of its target.
  WheelRutState w{};
  memcpy(w.entries, e, sizeof(DigEntry) * size_t(n));
  w.entry_count = n;
  for (int i = 1; i < n; i++) {
    float dx = e[i].x - e[i - 1].x, dz = e[i].z - e[i - 1].z;
    w.min_dx = i == 1 ? dx : fminf(w.min_dx, dx);
    w.max_dx = i == 1 ? dx : fmaxf(w.max_dx, dx);
    w.min_dz = i == 1 ? dz : fminf(w.min_dz, dz);
    w.max_dz = i == 1 ? dz : fmaxf(w.max_dz, dz);
  }
  uint8_t rec[RUT_RECORD_MAX];
  int len = erode_pack(&w, rec);
  DigEntry back[RUT_ENTRIES];
  if (erode_decode(rec, len, back) != n) abort();
  float tol_x = (w.max_dx - w.min_dx + 0.125f) / 510.0f, tol_z = (w.max_dz - w.min_dz + 0.125f) / 510.0f;
  for (int i = 0; i < n; i++) {
    float slack = 0.001f + 1e-5f * (fabsf(e[i].x) + fabsf(e[i].z));
    if (fabsf(back[i].x - e[i].x) > tol_x + slack || fabsf(back[i].z - e[i].z) > tol_z + slack ||
        back[i].gx != e[i].gx || back[i].gz != e[i].gz || back[i].n != e[i].n)
      abort();
  }

  erode_queue_clear();
  erode_receive(data, int(size));
  float viewer[3] = {8, 0, 8};
  for (int k = 0; k < 20 && erode_queue_length() > 0; k++) erode_process(k & 1 ? viewer : nullptr, 50, k * 300);
  for (int k = 0; k < SIZE * SIZE; k++)
    if (!std::isfinite(store[k])) abort();
  erode_queue_clear();
  return 0;
}
