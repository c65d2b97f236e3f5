#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <set>

#include "fixture.h"

namespace {

// A hand-made terrain of 2^(n+1) + 1 samples a side with random heights.
void make_terrain(int n, float spacing, unsigned seed) {
  terrain_free();
  Terrain &t = terrain;
  t.shift = n;
  t.size = (2 << n) + 1;
  t.spacing = spacing;
  t.inv_spacing = 1.0f / spacing;
  t.extent = spacing * float(2 << n);
  t.tile_size = 2 * spacing;
  size_t count = size_t(t.size) * t.size;
  t.heights = static_cast<float *>(mem_alloc(sizeof(float) * count * 2));
  t.base_heights = t.heights + count;
  std::mt19937 rng(seed);
  for (size_t k = 0; k < count; k++) t.heights[k] = float(int(rng() % 6001) - 3000) / 1000.0f;
  int tiles = 1 << n;
  t.tilemap = static_cast<uint8_t *>(mem_alloc(size_t(tiles) * tiles));
  for (int k = 0; k < tiles * tiles; k++) t.tilemap[k] = uint8_t(k);
  t.tile_count = 256;
  t.dirty_side = std::max(1, (t.size - 1) / 128);
  int blocks = t.dirty_side * t.dirty_side;
  t.dirty_blocks = static_cast<uint32_t *>(mem_alloc(sizeof(uint32_t) * ((blocks + 31) / 32)));
  memset(t.dirty_blocks, 0, sizeof(uint32_t) * ((blocks + 31) / 32));
}

struct Plane {
  float height;
  TerrainVec normal;
  float inside;  // smallest barycentric weight of the point
};

// The triangle of the cell's pair that holds (x, z), as the contact code
// would see it.
Plane plane_from_triangles(float x, float z) {
  int i = int(floorf(x * terrain.inv_spacing)), j = int(floorf(z * terrain.inv_spacing));
  TerrainTriangle tri[2];
  terrain_cell_triangles(i, j, tri);
  Plane best = {0, {0, 0, 0}, -1e9f};
  for (const TerrainTriangle &t : tri) {
    const TerrainVec &a = t.v[0], &b = t.v[1], &c = t.v[2];
    double det = double(b.x - a.x) * (c.z - a.z) - double(c.x - a.x) * (b.z - a.z);
    double wb = (double(x - a.x) * (c.z - a.z) - double(c.x - a.x) * (z - a.z)) / det;
    double wc = (double(b.x - a.x) * (z - a.z) - double(x - a.x) * (b.z - a.z)) / det;
    double wa = 1 - wb - wc;
    float inside = float(std::min(wa, std::min(wb, wc)));
    if (inside <= best.inside) continue;
    best.inside = inside;
    best.height = float(wa * a.y + wb * b.y + wc * c.y);
    double ux = b.x - a.x, uy = b.y - a.y, uz = b.z - a.z;
    double vx = c.x - a.x, vy = c.y - a.y, vz = c.z - a.z;
    double nx = uy * vz - uz * vy, ny = uz * vx - ux * vz, nz = ux * vy - uy * vx;
    double scale = double(terrain.spacing) * terrain.spacing / ny;  // y up, spacing^2
    best.normal = {float(nx * scale), float(ny * scale), float(nz * scale)};
  }
  return best;
}

TEST(Heightfield, QueriesAgreeWithCellTrianglesEverywhere) {
  for (float spacing : {0.5f, 0.75f, 2.0f}) {
    make_terrain(2, spacing, 7);
    std::mt19937 rng(11);
    float lo = -3 * spacing, hi = terrain.extent + 3 * spacing;
    for (int k = 0; k < 20000; k++) {
      float x = lo + (hi - lo) * float(rng() >> 8) / 16777216.0f;
      float z = lo + (hi - lo) * float(rng() >> 8) / 16777216.0f;
      // Every hundredth point exactly on a grid line or the far edge.
      if (k % 100 == 0) x = float(rng() % 12) * spacing;
      if (k % 100 == 1) z = terrain.extent;
      Plane p = plane_from_triangles(x, z);
      ASSERT_GT(p.inside, -1e-4f) << x << " " << z;
      ASSERT_NEAR(terrain_height(x, z), p.height, 1e-4f) << "spacing " << spacing << " at " << x << ", " << z;
      if (p.inside > 1e-3f) {
        TerrainVec n = terrain_normal(x, z);
        EXPECT_FLOAT_EQ(n.y, spacing * spacing);
        ASSERT_NEAR(n.x, p.normal.x, 1e-3f) << x << " " << z;
        ASSERT_NEAR(n.z, p.normal.z, 1e-3f) << x << " " << z;
      }
    }
  }
  terrain_free();
}

TEST(Heightfield, OutsideTheGridContinuesAsTheEdge) {
  make_terrain(2, 0.5f, 3);
  const float sp = terrain.spacing, ext = terrain.extent;
  // Left of x = 0 lies cell -1, whose samples are those of column 0.
  for (float z : {0.1f, 1.3f, 3.9f}) {
    EXPECT_FLOAT_EQ(terrain_height(-0.25f * sp, z), terrain_height(0, z));
    EXPECT_FLOAT_EQ(terrain_height(-1e9f, z), terrain_height(0, z));
    EXPECT_FLOAT_EQ(terrain_height(1e9f, z), terrain_height(ext, z));
    EXPECT_FLOAT_EQ(terrain_normal(-1e9f, z).x, 0.0f);
  }
  EXPECT_FLOAT_EQ(terrain_height(-5, -5), terrain_sample(0, 0));
  EXPECT_FLOAT_EQ(terrain_height(ext + 7, ext + 7), terrain_sample(terrain.size - 1, terrain.size - 1));
  // Not-a-number positions give some edge height, never a wild read.
  EXPECT_TRUE(std::isfinite(terrain_height(NAN, NAN)));
  EXPECT_TRUE(std::isfinite(terrain_normal(INFINITY, -INFINITY).x));
  terrain_free();
}

TEST(Heightfield, DiagonalsFollowTheCheckerboard) {
  make_terrain(2, 1.0f, 5);
  auto H = [](int i, int j) { return terrain_sample(i, j); };
  // Even cell (2, 4): the diagonal joins (2, 4) and (3, 5).
  EXPECT_NEAR(terrain_height(2.25f, 4.25f), H(2, 4) + 0.25f * (H(3, 5) - H(2, 4)), 1e-5f);
  // Odd cell (3, 4): the diagonal joins (4, 4) and (3, 5).
  EXPECT_NEAR(terrain_height(3.75f, 4.25f), H(4, 4) + 0.25f * (H(3, 5) - H(4, 4)), 1e-5f);
  // Corners are the samples themselves.
  EXPECT_FLOAT_EQ(terrain_height(5, 6), H(5, 6));

  TerrainTriangle t[2];
  terrain_cell_triangles(2, 4, t);
  EXPECT_FLOAT_EQ(t[0].v[1].x, 2.0f);
  EXPECT_FLOAT_EQ(t[0].v[1].z, 5.0f);
  EXPECT_FLOAT_EQ(t[1].v[0].y, H(3, 5));
  terrain_cell_triangles(3, 4, t);
  EXPECT_FLOAT_EQ(t[0].v[2].x, 4.0f);
  EXPECT_FLOAT_EQ(t[1].v[2].y, H(3, 5));
  terrain_free();
}

TEST(Heightfield, TileLookupClampsToTheMap) {
  make_terrain(2, 0.5f, 1);  // 4 x 4 tiles of 1 ft, tile k holds k
  const float ext = terrain.extent;
  struct Case {
    float x, z;
    int tile;
  } cases[] = {
      {0.2f, 0.2f, 0},     {1.5f, 2.5f, 9},   {-0.1f, -30, 0},  {ext, ext, 15},
      {ext * 10, 0.5f, 3}, {0.99f, 3.99f, 12}, {NAN, 1.5f, 4},   {1e30f, -1e30f, 3},
  };
  for (const Case &c : cases) EXPECT_EQ(terrain_tile_at(c.x, c.z), c.tile) << c.x << ", " << c.z;
  terrain_free();
}

std::set<int> dirty_set() {
  std::set<int> s;
  for (int k = 0; k < terrain.dirty_side * terrain.dirty_side; k++)
    if (terrain.dirty_blocks[k >> 5] >> (k & 31) & 1) s.insert(k);
  return s;
}

TEST(Heightfield, DirtyBlocksCoverTheTouchedRectangle) {
  struct Case {
    int i0, j0, i1, j1;
    std::set<int> blocks;
  } cases[] = {
      {0, 0, 0, 0, {0}},
      {10, 10, 20, 20, {0}},  // well inside one block: that block only
      {127, 0, 129, 0, {0, 1}},
      {127, 127, 128, 128, {0, 1, 4, 5}},
      {128, 128, 128, 128, {5}},
      {-300, -300, -200, -200, {0}},
      {500, 500, 1 << 30, 2147483647, {15}},
      {-5, 300, 3, 300, {8}},
  };
  make_terrain(8, 0.5f, 1);  // 512 cells: 4 x 4 blocks
  ASSERT_EQ(terrain.dirty_side, 4);
  for (const Case &c : cases) {
    memset(terrain.dirty_blocks, 0, sizeof(uint32_t));
    terrain_mark_dirty(c.i0, c.j0, c.i1, c.j1);
    EXPECT_EQ(dirty_set(), c.blocks) << c.i0 << "," << c.j0 << " " << c.i1 << "," << c.j1;
  }
  terrain_free();
}

TEST(Heightfield, WritingASampleWidensRangeAndMarksChange) {
  make_terrain(8, 0.5f, 1);
  terrain.min_height = -3;
  terrain.max_height = 3;
  memset(terrain.dirty_blocks, 0, sizeof(uint32_t));
  terrain_set_height(300, 10, 12.5f);
  EXPECT_FLOAT_EQ(terrain_sample(300, 10), 12.5f);
  EXPECT_FLOAT_EQ(terrain.max_height, 12.5f);
  EXPECT_FLOAT_EQ(terrain.min_height, -3.0f);
  EXPECT_EQ(terrain.change_flags, 7);
  EXPECT_EQ(dirty_set(), (std::set<int>{2}));
  // Writes off the grid or of non-numbers change nothing.
  terrain_set_height(-1, 0, 100);
  terrain_set_height(0, 0, NAN);
  EXPECT_FLOAT_EQ(terrain.max_height, 12.5f);
  terrain_free();
}

TEST(Heightfield, EmptyTerrainAnswersSafely) {
  terrain_free();
  EXPECT_EQ(terrain_height(3, 4), 0.0f);
  EXPECT_EQ(terrain_tile_at(3, 4), 0);
  EXPECT_EQ(terrain_normal(3, 4).y, 1.0f);
  terrain_mark_dirty(0, 0, 10, 10);
  terrain_free();  // twice is fine
}

}  // namespace
