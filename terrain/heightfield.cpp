// The height field's queries: heights, normals, tiles and cell triangles
// over one checkerboard triangulation, and the dirty blocks that tell the
// renderer which heights changed.
#include <cmath>

#include "core/mathutil.h"
#include "terrain/terrain.h"

Terrain terrain;

static inline float sample_at(const Terrain &t, int i, int j) {
  int last = t.size - 1;
  return t.heights[clampi(j, 0, last) * t.size + clampi(i, 0, last)];
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

// Floor of a grid coordinate (within int range after the clamp) as an int
// and as a float, without a library call or a second conversion.
static inline int floor_split(float g, float *whole) {
  int i = int(g);
  float f = float(i);
  int below = g < f;
  i -= below;
  *whole = float(i);
  return i;
}

// Written with arithmetic rather than branches: which triangle a point
// falls in is a coin toss, and a mispredicted branch would also stall the
// sample loads that follow it.
static inline TriangleAt triangle_at(const Terrain &t, float x, float z) {
  float gx = grid_coord(x, t.inv_spacing, t.size);
  float gz = grid_coord(z, t.inv_spacing, t.size);
  float wx, wz;
  int ci = floor_split(gx, &wx), cj = floor_split(gz, &wz);
  float fx = gx - wx, fz = gz - wz;
  // Odd cells: base column ci, u = fx; even: base ci + 1, u = 1 - fx.
  int odd = (ci ^ cj) & 1;
  TriangleAt a;
  a.b = ci + 1 - odd;
  a.o = ci + odd;
  // Selects as arithmetic (exact: x * 1, x * -1 and 0 + x round nothing),
  // since the compiler would branch on float selects.
  float oddf = float(odd);
  float u = (1.0f - oddf) + (2.0f * oddf - 1.0f) * fx;
  // The far triangle mirrors both fractions and swaps the columns.
  int far = u + fz > 1.0f;
  float farf = float(far);
  a.u = farf + (1.0f - 2.0f * farf) * u;
  a.v = farf + (1.0f - 2.0f * farf) * fz;
  a.r = cj + far;
  a.q = cj + 1 - far;
  int d = (a.o - a.b) * far;
  a.b += d;
  a.o -= d;
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
  gx = clamp0f(gx, hi);
  gz = clamp0f(gz, hi);
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

void terrain_mark_dirty(int i0, int j0, int i1, int j1) {
  Terrain &t = terrain;
  if (!t.dirty_blocks) return;
  int n = t.dirty_side;
  // A block uploads the samples b * 128 .. b * 128 + 127, so a sample
  // belongs to block index / 128 alone: rounding the high corner up would
  // mark a block nothing touched and queue a needless upload. Division
  // truncates toward zero; anything left of the grid lands on block 0
  // after the clamp.
  int bx0 = clampi(i0 / TERRAIN_BLOCK_CELLS, 0, n - 1);
  int bz0 = clampi(j0 / TERRAIN_BLOCK_CELLS, 0, n - 1);
  int bx1 = clampi(i1 / TERRAIN_BLOCK_CELLS, 0, n - 1);
  int bz1 = clampi(j1 / TERRAIN_BLOCK_CELLS, 0, n - 1);
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
