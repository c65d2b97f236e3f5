// The ground's quadtree without GL: node values against a plain per-node
// computation, the fans tiling the terrain with no crack, and the detail
// levels' sizes and re-centring.
#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstring>
#include <map>
#include <tuple>
#include <vector>

#include "deform_fixture.h"
#include "terrain/terrain_lod.h"

namespace {

// Every node's value computed directly: both triangles' samples against the
// plane through their corners, then the children and neighbour terms.
std::vector<float> brute_values(float tau) {
  const Terrain &t = terrain;
  int n = t.shift;
  auto h = [&](int x, int z) { return t.heights[size_t(z) * t.size + x]; };
  std::vector<float> v(size_t(((1 << (2 * (n + 1))) - 1) / 3));
  auto idx = [](int k, int i, int j) { return ((1 << (2 * k)) - 1) / 3 + (i << k) + j; };
  for (int k = n; k >= 0; k--) {
    int side = 1 << k, s = (t.size - 1) >> k;
    for (int i = 0; i < side; i++)
      for (int j = 0; j < side; j++) {
        int x0 = j * s, z0 = i * s, x1 = x0 + s, z1 = z0 + s;
        // Right-angle corners and the far ends of their legs.
        int corners[2][2];
        if ((i + j) % 2 == 0) corners[0][0] = x0, corners[0][1] = z0, corners[1][0] = x1, corners[1][1] = z1;
        else corners[0][0] = x0, corners[0][1] = z1, corners[1][0] = x1, corners[1][1] = z0;
        float e = 0;
        for (auto &c : corners) {
          int px = c[0], pz = c[1];
          int qx = px == x0 ? x1 : x0, qz = pz == z0 ? z1 : z0;
          int dx = qx > px ? 1 : -1, dz = qz > pz ? 1 : -1;
          for (int u = 0; u <= s; u++)
            for (int w = 0; w + u <= s; w++) {
              float plane = h(px, pz) + float(w) / float(s) * (h(qx, pz) - h(px, pz)) +
                            float(u) / float(s) * (h(px, qz) - h(px, pz));
              e = std::max(e, std::fabs(h(px + dx * w, pz + dz * u) - plane));
            }
        }
        float own = e / tau + t.extent * ldexpf(1, -k) * 0.7071067811865476f;
        float value = own * own;
        if (k < n) {
          auto at = [&](int a, int b) {
            return a < 0 || b < 0 || a >= 2 * side || b >= 2 * side ? 0.0f : v[idx(k + 1, a, b)];
          };
          int r = 2 * i, c = 2 * j;
          float kids = std::max({at(r, c), at(r, c + 1), at(r + 1, c), at(r + 1, c + 1)});
          float m = std::max({at(r - 1, c), at(r - 1, c + 1), at(r + 2, c), at(r + 2, c + 1),
                              at(r, c - 1), at(r + 1, c - 1), at(r, c + 2), at(r + 1, c + 2)});
          float reach = std::sqrt(m) + t.extent * 1.5826829301659018f * ldexpf(1, -(k + 1));
          value = std::max({value, kids, reach * reach});
        }
        v[idx(k, i, j)] = value;
      }
  }
  return v;
}

struct Shape {
  const char *name;
  float (*height)(float x, float z);
};

float random_height(float x, float z) {
  uint32_t s = uint32_t(x * 131 + 7) * 2654435761u ^ uint32_t(z * 71 + 3) * 40503u;
  s ^= s >> 13, s *= 0x5bd1e995u, s ^= s >> 15;
  return float(s % 1000) / 250.0f;
}
const Shape SHAPES[] = {
    {"random", random_height},
    {"flat", [](float, float) { return 2.0f; }},
    {"tilted", [](float x, float z) { return 0.3f * x - 0.125f * z + 1; }},
};

class Lod : public ::testing::Test {
 protected:
  DeformGround ground;
  void TearDown() override { lod_free(); }
};

TEST_F(Lod, NodeValuesMatchAPlainComputationWhateverTheBudget) {
  const float tau = 0.01f;
  for (int n = 3; n <= 5; n++)
    for (const Shape &shape : SHAPES) {
      ground.build(n, 0.5f, shape.height);
      std::vector<float> want = brute_values(tau);
      for (long budget : {1L, 7L, 8000L, LONG_MAX}) {
        ASSERT_EQ(lod_create(tau), 1);
        ASSERT_EQ(size_t(lod.node_count), want.size());
        // Change the ground and back so a new pass runs in slices.
        std::vector<float> before(lod.front, lod.front + lod.node_count);
        float keep = ground.at(3, 3);
        ground.at(3, 3) = keep + 5;
        terrain.change_count++;
        ASSERT_EQ(lod_pass(LONG_MAX), 1);
        ground.at(3, 3) = keep;
        terrain.change_count++;
        std::vector<float> changed(lod.front, lod.front + lod.node_count);
        int calls = 0;
        while (!lod_pass(budget)) {
          calls++;
          // Drawing keeps the values of the last whole pass meanwhile.
          ASSERT_EQ(memcmp(lod.front, changed.data(), changed.size() * 4), 0);
          ASSERT_LT(calls, 10000000);
        }
        if (budget == 1) {
          EXPECT_GT(calls, 100);
        }
        EXPECT_EQ(memcmp(lod.front, want.data(), want.size() * 4), 0)
            << shape.name << " n=" << n << " budget " << budget;
        EXPECT_EQ(memcmp(before.data(), want.data(), want.size() * 4), 0);
        // No change, no pass.
        EXPECT_EQ(lod_pass(LONG_MAX), 0);
        lod_free();
      }
    }
}

TEST_F(Lod, ANonPositiveToleranceStaysFinite) {
  ground.build(3, 1.0f, random_height);
  for (float tau : {0.0f, -1.0f, NAN}) {
    ASSERT_EQ(lod_create(tau), 1);
    for (int k = 0; k < lod.node_count; k++) ASSERT_TRUE(std::isfinite(lod.front[k])) << tau;
    lod_free();
  }
}

// ------------------------------------------------------------------ fans

struct Collected {
  std::vector<float> v;
  std::vector<std::pair<int, int>> batches;  // first vertex (overall), level
  int max_count = 0;
};

void collect(LodStream *s, void *user) {
  Collected *c = static_cast<Collected *>(user);
  int base = int(c->v.size() / 3);
  for (int b = 0; b < s->batch_count; b++)
    c->batches.push_back({base + s->batch[b].first, s->batch[b].level});
  c->v.insert(c->v.end(), s->v, s->v + 3 * s->count);
  c->max_count = std::max(c->max_count, s->count);
}

LodStream stream;

Collected draw(const float viewer[3], const float *dir, const LodArea *areas, int count) {
  Collected c;
  stream.flush = collect;
  stream.user = &c;
  lod_activate(viewer, areas, count);
  lod_emit(viewer, dir, areas, count, &stream);
  return c;
}

// Checks that the triangles tile the terrain square: counter-clockwise
// from above, areas summing to the whole, every inner edge shared by two
// triangles in opposite directions and no edge used twice the same way.
void expect_tiling(const Collected &c, const std::string &where) {
  const Terrain &t = terrain;
  std::map<std::tuple<int, int, int, int>, int> edges;
  double area = 0;
  size_t tris = c.v.size() / 9;
  ASSERT_GT(tris, 0u) << where;
  int bad_winding = 0;
  for (size_t k = 0; k < tris; k++) {
    int x[3], z[3];
    for (int m = 0; m < 3; m++) {
      x[m] = int(lroundf(c.v[9 * k + 3 * m] / t.spacing));
      z[m] = int(lroundf(c.v[9 * k + 3 * m + 2] / t.spacing));
    }
    // y of (b - a) x (c - a): up for counter-clockwise seen from above.
    long up = long(z[1] - z[0]) * (x[2] - x[0]) - long(x[1] - x[0]) * (z[2] - z[0]);
    if (up <= 0) bad_winding++;
    area += double(up) / 2;
    for (int m = 0; m < 3; m++) edges[{x[m], z[m], x[(m + 1) % 3], z[(m + 1) % 3]}]++;
  }
  EXPECT_EQ(bad_winding, 0) << where;
  EXPECT_DOUBLE_EQ(area * t.spacing * t.spacing, double(t.extent) * t.extent) << where;
  int last = t.size - 1, cracks = 0, doubles = 0;
  for (const auto &[e, count] : edges) {
    auto [x0, z0, x1, z1] = e;
    if (count != 1) doubles++;
    bool border = (x0 == x1 && (x0 == 0 || x0 == last)) || (z0 == z1 && (z0 == 0 || z0 == last));
    if (!border && !edges.count({x1, z1, x0, z0})) cracks++;
  }
  EXPECT_EQ(doubles, 0) << where;
  EXPECT_EQ(cracks, 0) << where;
}

TEST_F(Lod, FansTileTheTerrainWithoutCracksFromAnyViewer) {
  for (const Shape &shape : {SHAPES[0], SHAPES[2]}) {
    ground.build(6, 0.5f, shape.height);  // 129 samples, extent 64
    ASSERT_EQ(lod_create(0.05f), 1);
    int sizes[3];
    ASSERT_EQ(lod_level_sizes(sizes), 1);  // 128 = the whole terrain
    const float viewers[][3] = {{32, 5, 32},  {0, 2, 0},    {64, 2, 64},  {0, 2, 64},
                                {31.9f, 2, 8}, {16, 2, 16}, {48.2f, 3, 15.7f}, {32, 400, 32},
                                {-20, 2, 30}, {100, 2, 100}};
    // Smaller areas than the finest real level, to put their edges among
    // fine fans: aligned to quarters as re-centring leaves them.
    const LodArea with_levels[] = {{40, 24, 16}, {16, 8, 64}, {0, 0, 128}};
    const LodArea plain[] = {{0, 0, 128}};
    for (const auto &v : viewers) {
      std::string where = std::string(shape.name) + " at " + std::to_string(v[0]) + "," +
                          std::to_string(v[2]);
      expect_tiling(draw(v, nullptr, plain, 1), where);
      expect_tiling(draw(v, nullptr, with_levels, 3), where + " with levels");
    }
    lod_free();
  }
}

TEST_F(Lod, LevelAreasHoldOnlyWholeFansOfTheirLevel) {
  ground.build(6, 0.5f, random_height);
  ASSERT_EQ(lod_create(0.05f), 1);
  const LodArea areas[] = {{40, 24, 16}, {16, 8, 64}, {0, 0, 128}};
  const float viewer[3] = {48, 2, 32};
  Collected c = draw(viewer, nullptr, areas, 3);
  // Each triangle's level is the finest area holding it whole.
  size_t b = 0;
  int counts[3] = {0, 0, 0};
  for (size_t k = 0; k < c.v.size() / 9; k++) {
    while (b + 1 < c.batches.size() && c.batches[b + 1].first <= int(3 * k)) b++;
    int level = c.batches[b].second;
    counts[level]++;
    for (int m = 0; m < 3; m++) {
      float x = c.v[9 * k + 3 * m] * 2, z = c.v[9 * k + 3 * m + 2] * 2;
      const LodArea &a = areas[level];
      EXPECT_TRUE(x >= a.ox && x <= a.ox + a.g && z >= a.oz && z <= a.oz + a.g);
    }
  }
  EXPECT_GT(counts[0], 0);
  EXPECT_GT(counts[1], 0);
  EXPECT_GT(counts[2], 0);
}

TEST_F(Lod, FlatGroundIsFinerNearTheViewer) {
  ground.build(8, 1.0f, SHAPES[1].height);  // 513 samples
  ASSERT_EQ(lod_create(0.125f / 70), 1);
  const LodArea whole[] = {{0, 0, 512}};
  const float viewer[3] = {100, 3, 100};
  Collected c = draw(viewer, nullptr, whole, 1);
  expect_tiling(c, "flat");
  auto area_at = [&](float x, float z) {
    for (size_t k = 0; k < c.v.size() / 9; k++) {
      const float *p = &c.v[9 * k];
      float lo_x = std::min({p[0], p[3], p[6]}), hi_x = std::max({p[0], p[3], p[6]});
      float lo_z = std::min({p[2], p[5], p[8]}), hi_z = std::max({p[2], p[5], p[8]});
      if (x >= lo_x && x <= hi_x && z >= lo_z && z <= hi_z) return (hi_x - lo_x) * (hi_z - lo_z);
    }
    return -1.0f;
  };
  float near = area_at(100.5f, 100.5f), far = area_at(480.5f, 480.5f);
  EXPECT_GT(near, 0);
  EXPECT_GT(far, 16 * near);
}

TEST_F(Lod, TheStreamNeverOverflowsAndCullingDropsWhatIsBehind) {
  ground.build(8, 0.5f, random_height);
  ASSERT_EQ(lod_create(0.0005f), 1);
  const LodArea whole[] = {{0, 0, 512}};
  const float viewer[3] = {128, 4, 128};
  Collected all = draw(viewer, nullptr, whole, 1);
  EXPECT_GT(all.v.size() / 3, size_t(3 * LOD_STREAM_VERTICES));
  EXPECT_LE(all.max_count, LOD_STREAM_VERTICES);
  EXPECT_GT(stream.flushes, 3);
  expect_tiling(all, "many flushes");
  const float east[3] = {1, 0, 0};
  Collected culled = draw(viewer, east, whole, 1);
  EXPECT_LT(culled.v.size(), all.v.size() * 3 / 4);
  for (size_t k = 0; k < culled.v.size() / 3; k++) EXPECT_GE(culled.v[3 * k], 0);
  // Nothing west of the viewer by more than a node's width survives.
  float westmost = 1e9f;
  for (size_t k = 0; k < culled.v.size() / 9; k++) {
    float m = std::max({culled.v[9 * k], culled.v[9 * k + 3], culled.v[9 * k + 6]});
    westmost = std::min(westmost, m);
  }
  EXPECT_GE(westmost, 128 - 64);
}

// ------------------------------------------------------------ detail levels

TEST_F(Lod, LevelSizesFollowTheSpacing) {
  struct {
    int shift;
    float spacing;
    std::vector<int> sizes;
  } cases[] = {
      {10, 0.5f, {128, 512, 2048}}, {10, 1.0f, {64, 256, 2048}}, {7, 1.0f, {64, 256}},
      {6, 0.5f, {128}},              {5, 1.0f, {64}},             {9, 4.0f, {16, 64, 1024}},
  };
  for (const auto &c : cases) {
    ground.build(c.shift, c.spacing);
    int sizes[3];
    int n = lod_level_sizes(sizes);
    EXPECT_EQ(std::vector<int>(sizes, sizes + n), c.sizes) << c.shift << " " << c.spacing;
  }
}

TEST_F(Lod, LevelsRecentreOnlyPastAQuarterAndStayOnTheTerrain) {
  ground.build(10, 0.5f);  // 2049 samples
  LodArea a{0, 0, 128};
  a.ox = lod_level_origin(128, 1000), a.oz = lod_level_origin(128, 1000);
  EXPECT_EQ(a.ox, 1000 + 16 - (1000 + 16) % 32 - 64);
  int cx = a.ox + 64;
  EXPECT_FALSE(lod_level_stale(a, cx + 30, cx));
  EXPECT_FALSE(lod_level_stale(a, cx, cx - 30));
  EXPECT_TRUE(lod_level_stale(a, cx + 33, cx));
  EXPECT_TRUE(lod_level_stale(a, cx, cx - 33));
  EXPECT_EQ(lod_level_origin(128, cx + 33), a.ox + 32);
  EXPECT_EQ(lod_level_origin(128, cx - 33), a.ox - 32);
  // Clamped at the edges, also for a viewer off the terrain.
  EXPECT_EQ(lod_level_origin(128, 3), 0);
  EXPECT_EQ(lod_level_origin(128, -500), 0);
  EXPECT_EQ(lod_level_origin(128, 2047), 2048 - 128);
  EXPECT_EQ(lod_level_origin(512, 5000), 2048 - 512);
  EXPECT_EQ(lod_level_origin(2048, 700), 0);
}

}  // namespace
