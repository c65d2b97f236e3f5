// A small hand-made ground for the deformation, roost and decal tests: one
// surface with default records, heights from a function, dirty blocks.
#pragma once
#include <cmath>
#include <cstring>
#include <functional>
#include <vector>

#include "core/core.h"
#include "terrain/deform.h"

struct DeformGround {
  std::vector<float> store;  // heights then base heights
  std::vector<uint8_t> tiles;
  std::vector<uint32_t> dirty;

  void build(int shift, float spacing, const std::function<float(float, float)> &h = nullptr) {
    release();
    Terrain &t = terrain;
    memset(&t, 0, sizeof t);
    t.shift = shift;
    t.size = (2 << shift) + 1;
    t.spacing = spacing;
    t.inv_spacing = 1.0f / spacing;
    t.extent = spacing * float(2 << shift);
    t.tile_size = 2 * spacing;
    size_t count = size_t(t.size) * t.size;
    store.assign(count * 2, 0.0f);
    for (int j = 0; j < t.size; j++)
      for (int i = 0; i < t.size; i++)
        store[size_t(j) * t.size + i] = h ? h(i * spacing, j * spacing) : 0.0f;
    std::copy(store.begin(), store.begin() + count, store.begin() + count);
    t.heights = store.data();
    t.base_heights = store.data() + count;
    tiles.assign(size_t(1) << (2 * shift), 0);
    t.tilemap = tiles.data();
    t.tile_count = 1;
    surface_defaults(&t.surface[0]);
    t.dirty_side = std::max(1, (t.size - 1) / TERRAIN_BLOCK_CELLS);
    dirty.assign(size_t(t.dirty_side * t.dirty_side + 31) / 32, 0);
    t.dirty_blocks = dirty.data();
    t.min_height = t.max_height = 0;
  }
  void release() {
    if (terrain.heights == store.data() && !store.empty()) memset(&terrain, 0, sizeof terrain);
  }
  ~DeformGround() { release(); }

  float &at(int i, int j) { return terrain.heights[size_t(j) * terrain.size + i]; }
  float base(int i, int j) const { return terrain.base_heights[size_t(j) * terrain.size + i]; }
  bool block_dirty(int bx, int bz) const {
    int k = bz * terrain.dirty_side + bx;
    return dirty[size_t(k) >> 5] >> (k & 31) & 1;
  }
  // Sum of the height changes over the whole grid.
  double volume_change() const {
    double v = 0;
    size_t count = size_t(terrain.size) * terrain.size;
    for (size_t k = 0; k < count; k++) v += double(store[k]) - double(store[count + k]);
    return v;
  }
};
