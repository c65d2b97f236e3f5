// The height field's queries: heights, normals, tiles and cell triangles
// over one checkerboard triangulation, and the dirty blocks that tell the
// renderer which heights changed.
#include <cmath>

#include "terrain/terrain.h"

Terrain terrain;

static inline float sample_at(const Terrain &t, int i, int j) {
  int last = t.size - 1;
  i = i < 0 ? 0 : (i > last ? last : i);
  j = j < 0 ? 0 : (j > last ? last : j);
  return t.heights[j * t.size + i];
}

float terrain_sample(int i, int j) {
  if (!terrain.heights) return 0.0f;
  return sample_at(terrain, i, j);
}

// Grid coordinate limited to one cell past each edge: beyond that the
// clamped samples make the surface constant along the axis anyway, and the
// floor below stays within int range for any input (NaN lands on -1).
static inline float grid_coord(float w, float inv_spacing, int size) {
  float g = w * inv_spacing;
  g = g > -1.0f ? g : -1.0f;
  float hi = float(size);
  return g < hi ? g : hi;
}

// The triangle under a point: base vertex (b, r) at its right angle, legs to
// (o, r) along x and (b, q) along z, and the point's fractions along them.
struct TriangleAt {
  int b, o, r, q;
  float u, v;
};

static inline TriangleAt triangle_at(const Terrain &t, float x, float z) {
  float gx = grid_coord(x, t.inv_spacing, t.size);
  float gz = grid_coord(z, t.inv_spacing, t.size);
  float fgx = floorf(gx), fgz = floorf(gz);
  int ci = int(fgx), cj = int(fgz);
  float fx = gx - fgx, fz = gz - fgz;
  TriangleAt a;
  if ((ci ^ cj) & 1) {
    a.b = ci;
    a.o = ci + 1;
    a.u = fx;
  } else {
    a.b = ci + 1;
    a.o = ci;
    a.u = 1.0f - fx;
  }
  a.v = fz;
  if (a.u + a.v > 1.0f) {
    a.r = cj + 1;
    a.q = cj;
    a.u = 1.0f - a.u;
    a.v = 1.0f - fz;
    int s = a.b;
    a.b = a.o;
    a.o = s;
  } else {
    a.r = cj;
    a.q = cj + 1;
  }
  return a;
}

float terrain_height(float x, float z) {
  const Terrain &t = terrain;
  if (!t.heights) return 0.0f;
  TriangleAt a = triangle_at(t, x, z);
  float hb = sample_at(t, a.b, a.r);
  float ho = sample_at(t, a.o, a.r);
  float hq = sample_at(t, a.b, a.q);
  return hb + a.u * (ho - hb) + a.v * (hq - hb);
}

TerrainVec terrain_normal(float x, float z) {
  const Terrain &t = terrain;
  if (!t.heights) return {0.0f, 1.0f, 0.0f};
  TriangleAt a = triangle_at(t, x, z);
  float hb = sample_at(t, a.b, a.r);
  float ho = sample_at(t, a.o, a.r);
  float hq = sample_at(t, a.b, a.q);
  // Legs (sx * spacing, ho - hb, 0) and (0, hq - hb, sz * spacing), with
  // sx, sz = +-1 their directions; their cross product scaled so y is
  // spacing^2.
  float sx = float(a.o - a.b), sz = float(a.q - a.r);
  float sp = t.spacing;
  return {-(ho - hb) * sx * sp, sp * sp, -(hq - hb) * sz * sp};
}

int terrain_tile_at(float x, float z) {
  const Terrain &t = terrain;
  if (!t.tilemap) return 0;
  int tiles = 1 << t.shift;
  float hi = float(tiles - 1);
  float gx = floorf(x * 0.5f * t.inv_spacing);
  float gz = floorf(z * 0.5f * t.inv_spacing);
  gx = gx > 0.0f ? (gx < hi ? gx : hi) : 0.0f;
  gz = gz > 0.0f ? (gz < hi ? gz : hi) : 0.0f;
  return t.tilemap[int(gz) * tiles + int(gx)];
}

void terrain_cell_triangles(int i, int j, TerrainTriangle out[2]) {
  // Far-off cells only repeat the edge; the bound keeps i + 1 defined.
  const int far = 1 << 30;
  i = i < -far ? -far : (i > far ? far : i);
  j = j < -far ? -far : (j > far ? far : j);
  auto vertex = [](int a, int b) -> TerrainVec {
    float h = terrain.heights ? sample_at(terrain, a, b) : 0.0f;
    return {float(a) * terrain.spacing, h, float(b) * terrain.spacing};
  };
  if (((i ^ j) & 1) == 0) {
    out[0] = {{vertex(i, j), vertex(i, j + 1), vertex(i + 1, j + 1)}};
    out[1] = {{vertex(i + 1, j + 1), vertex(i + 1, j), vertex(i, j)}};
  } else {
    out[0] = {{vertex(i, j), vertex(i, j + 1), vertex(i + 1, j)}};
    out[1] = {{vertex(i + 1, j + 1), vertex(i + 1, j), vertex(i, j + 1)}};
  }
}

static inline int clamp_block(int b, int blocks) {
  return b < 0 ? 0 : (b >= blocks ? blocks - 1 : b);
}

void terrain_mark_dirty(int i0, int j0, int i1, int j1) {
  Terrain &t = terrain;
  if (!t.dirty_blocks) return;
  int n = t.dirty_side;
  // Division truncates toward zero; anything left of the grid lands on
  // block 0 after the clamp.
  int bx0 = clamp_block(i0 / TERRAIN_BLOCK_CELLS, n);
  int bz0 = clamp_block(j0 / TERRAIN_BLOCK_CELLS, n);
  int bx1 = clamp_block(i1 > 2000000000 ? n : (i1 + TERRAIN_BLOCK_CELLS - 1) / TERRAIN_BLOCK_CELLS, n);
  int bz1 = clamp_block(j1 > 2000000000 ? n : (j1 + TERRAIN_BLOCK_CELLS - 1) / TERRAIN_BLOCK_CELLS, n);
  for (int bz = bz0; bz <= bz1; bz++)
    for (int bx = bx0; bx <= bx1; bx++) {
      int k = bz * n + bx;
      t.dirty_blocks[k >> 5] |= 1u << (k & 31);
    }
}

void terrain_set_height(int i, int j, float h) {
  Terrain &t = terrain;
  if (!t.heights || i < 0 || j < 0 || i >= t.size || j >= t.size || !std::isfinite(h)) return;
  t.heights[j * t.size + i] = h;
  if (h < t.min_height) t.min_height = h;
  if (h > t.max_height) t.max_height = h;
  t.change_flags = 7;
  t.change_count++;
  terrain_mark_dirty(i, j, i, j);
}
