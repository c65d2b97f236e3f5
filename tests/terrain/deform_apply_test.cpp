#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <vector>

#include "deform_fixture.h"
#include "fixture.h"

namespace {

// The kernel weight of sample (i, j) for a bump at world (x, z), radius r.
double weight(int i, int j, double x, double z, double r) {
  double inv = terrain.inv_spacing;
  double t = std::hypot(i - x * inv, j - z * inv) / (r * inv);
  return t <= 1 ? 2 * t * t * t - 3 * t * t + 1 : 0;
}

// Height changes one entry should make on untouched ground.
std::vector<double> expected_change(const DigEntry &e, double rate) {
  const float *s = terrain.surface[0].erode.s;
  int n = terrain.size;
  double a = rate / 2048;
  double g = std::hypot(e.gx, e.gz);
  double w = std::clamp((g - 0.125) * 8 / 7, 0.0, 1.0) * s[ERODE_DISPLACEMENT];
  double bx = e.x - e.gx / g * w, bz = e.z - e.gz / g * w;
  double outer = -(e.n * s[ERODE_DEPTH] * a), inner = -(s[ERODE_INNER_DEPTH] * a);
  double removed = 0, deposit_weight = 0;
  std::vector<double> out(size_t(n) * n, 0.0);
  for (int j = 0; j < n; j++)
    for (int i = 0; i < n; i++) {
      double d = outer * weight(i, j, e.x, e.z, s[ERODE_RADIUS]) +
                 inner * weight(i, j, e.x, e.z, s[ERODE_INNER_RADIUS]);
      removed += d;
      out[size_t(j) * n + i] = d;
      deposit_weight += weight(i, j, bx, bz, s[ERODE_RADIUS]);
    }
  double per = -removed / std::max(deposit_weight, 1.0);
  for (int j = 0; j < n; j++)
    for (int i = 0; i < n; i++) out[size_t(j) * n + i] += per * weight(i, j, bx, bz, s[ERODE_RADIUS]);
  return out;
}

std::vector<uint8_t> record_of(const std::vector<DigEntry> &e) {
  WheelRutState w{};
  for (size_t i = 0; i < e.size(); i++) w.entries[i] = e[i];
  w.entry_count = int(e.size());
  w.min_dx = w.max_dx = e.size() > 1 ? e[1].x - e[0].x : 0;
  w.min_dz = w.max_dz = e.size() > 1 ? e[1].z - e[0].z : 0;
  std::vector<uint8_t> r(RUT_RECORD_MAX);
  r.resize(size_t(erode_pack(&w, r.data())));
  return r;
}

class Erosion : public ::testing::Test {
 protected:
  DeformGround ground;
  void SetUp() override {
    ground.build(6, 0.5f);  // 129 samples, extent 64
    erode_queue_clear();
  }
  void TearDown() override { erode_queue_clear(); }
  bool untouched() {
    for (int j = 0; j < terrain.size; j++)
      for (int i = 0; i < terrain.size; i++)
        if (ground.at(i, j) != ground.base(i, j)) return false;
    return true;
  }
};

TEST_F(Erosion, KernelsChangeWhatTheyReturn) {
  float before_count = float(terrain.change_count);
  float total = terrain_dig(20.2f, 31.1f, 3.0f, -0.5f);
  double sum = 0;
  for (int j = 0; j < terrain.size; j++)
    for (int i = 0; i < terrain.size; i++) {
      double want = -0.5 * weight(i, j, 20.2, 31.1, 3.0);
      ASSERT_NEAR(ground.at(i, j), want, 1e-6) << i << " " << j;
      sum += ground.at(i, j);
    }
  EXPECT_NEAR(total, sum, 1e-4);
  EXPECT_LT(total, 0);
  EXPECT_EQ(terrain.change_flags, 7);
  EXPECT_EQ(float(terrain.change_count), before_count + 1);
  EXPECT_FLOAT_EQ(terrain.min_height, -0.5f * float(weight(40, 62, 20.2, 31.1, 3.0)));

  // Deposit lays the whole amount down; frozen ground keeps its heights
  // but the dig still reports its total.
  terrain_deposit(40.0f, 10.0f, 4.0f, 2.5f);
  double laid = 0;
  for (int j = 0; j < terrain.size; j++)
    for (int i = 60; i < terrain.size; i++) laid += ground.at(i, j);
  EXPECT_NEAR(laid, 2.5, 1e-4);
  std::vector<float> copy(terrain.heights, terrain.heights + size_t(terrain.size) * terrain.size);
  terrain.frozen = 1;
  EXPECT_FLOAT_EQ(terrain_dig(20.2f, 31.1f, 3.0f, -0.5f), total);
  terrain_deposit(40.0f, 10.0f, 4.0f, 2.5f);
  terrain.frozen = 0;
  EXPECT_TRUE(std::equal(copy.begin(), copy.end(), terrain.heights));

  // Off the grid or without a radius nothing happens and nothing breaks.
  EXPECT_EQ(terrain_dig(NAN, 3, 3, -1), 0.0f);
  EXPECT_EQ(terrain_dig(1e30f, 3, 3, -1), 0.0f);
  EXPECT_EQ(terrain_dig(3, 3, 0, -1), 0.0f);
  terrain_deposit(3, -1e30f, 3, 1);
  EXPECT_TRUE(std::equal(copy.begin(), copy.end(), terrain.heights));
}

TEST_F(Erosion, AKnownRecordDigsWhereTheKernelsSay) {
  std::vector<uint8_t> rec = record_of({{30.3f, 33.7f, 0.5f, -0.25f, 7}});
  DigEntry e[RUT_ENTRIES];
  ASSERT_EQ(erode_decode(rec.data(), int(rec.size()), e), 1);
  erode_receive(rec.data(), int(rec.size()));
  ASSERT_EQ(erode_queue_length(), 1);
  erode_process(nullptr, 40.0f, 0);
  EXPECT_EQ(erode_queue_length(), 0);
  std::vector<double> want = expected_change(e[0], 40.0);
  double dug = 0;
  for (int j = 0; j < terrain.size; j++)
    for (int i = 0; i < terrain.size; i++) {
      double w = want[size_t(j) * terrain.size + i];
      if (w == 0) {
        ASSERT_EQ(ground.at(i, j), 0.0f) << i << " " << j;  // nothing outside the bumps
      } else {
        ASSERT_NEAR(ground.at(i, j), w, 1e-5 * 40 / 2048 * 8) << i << " " << j;
      }
      if (w < 0) dug -= w;
    }
  EXPECT_GT(dug, 0.01);
  // What is dug out is laid down again.
  EXPECT_NEAR(ground.volume_change(), 0.0, dug * 1e-5);
}

TEST_F(Erosion, DirectionlessEntryStaysPutAndConserves) {
  DigEntry e = {20, 20, 0, 0, 5};
  ASSERT_EQ(erode_apply_entry(&e, 10), 1);
  for (int j = 0; j < terrain.size; j++)
    for (int i = 0; i < terrain.size; i++) ASSERT_TRUE(std::isfinite(ground.at(i, j)));
  EXPECT_LT(ground.at(40, 40), 0.0f);  // the inner bump digs the middle
  EXPECT_NEAR(ground.volume_change(), 0.0, 1e-6);
}

TEST_F(Erosion, SteepGroundAndRateZeroLeaveItAlone) {
  ground.build(6, 0.5f, [](float x, float) { return -x; });
  DigEntry e = {30, 30, 1, 0, 5};  // deposit uphill behind: too steep
  EXPECT_EQ(erode_apply_entry(&e, 10), 0);
  EXPECT_TRUE(untouched());

  ground.build(6, 0.5f);
  std::vector<uint8_t> rec = record_of({{30, 30, 1, 0, 5}, {31, 30, 1, 0, 5}});
  erode_receive(rec.data(), int(rec.size()));
  erode_process(nullptr, 0, 0);
  EXPECT_EQ(erode_queue_length(), 0);  // consumed all the same
  EXPECT_TRUE(untouched());
}

TEST_F(Erosion, LimitPointsStopTheDigWithDepth) {
  SurfaceErode se = terrain.surface[0].erode;
  se.s[ERODE_INNER_DEPTH] = 0;
  se.s[ERODE_DISPLACEMENT] = 10;  // deposit far from the middle
  se.limit_count = 2;
  se.s[ERODE_LIMIT_DEPTH + 1] = 0.5f;
  se.s[ERODE_LIMIT_OUTER + 1] = 0;
  se.s[ERODE_LIMIT_INNER + 1] = 0;
  struct Case {
    float dug, scale;
  } cases[] = {{-0.1f, 1}, {0, 1}, {0.25f, 0.5f}, {0.5f, 0}, {0.75f, 0}};
  for (const Case &c : cases) {
    ground.build(6, 0.5f, [&](float, float) { return 0.0f; });
    terrain.surface[0].erode = se;
    for (int k = 0; k < terrain.size * terrain.size; k++) terrain.heights[k] -= c.dug;
    DigEntry e = {20, 20, 1, 0, 4};
    float before = ground.at(40, 40);
    erode_apply_entry(&e, 2048);  // a = 1
    EXPECT_NEAR(ground.at(40, 40) - before, -4 * c.scale, 1e-5) << c.dug;
  }
}

TEST_F(Erosion, EntriesUnderTheViewerWait) {
  std::vector<uint8_t> rec = record_of({{20, 20, 1, 0, 5}});
  erode_receive(rec.data(), int(rec.size()));
  float near[3] = {25, 3, 20}, far[3] = {31, 3, 20};
  int tic = 1000;
  for (; tic <= 1256; tic++) {
    erode_process(near, 1, tic);
    ASSERT_EQ(erode_queue_length(), 1) << tic;
  }
  erode_process(near, 1, tic);
  EXPECT_EQ(erode_queue_length(), 0);
  EXPECT_FALSE(untouched());

  // Once the rider moves on, at once; after a hold the next entry waits a
  // full hold again.
  erode_receive(rec.data(), int(rec.size()));
  erode_process(near, 1, 5000);
  EXPECT_EQ(erode_queue_length(), 1);
  erode_process(far, 1, 5001);
  EXPECT_EQ(erode_queue_length(), 0);
  erode_receive(rec.data(), int(rec.size()));
  erode_process(near, 1, 5002);
  erode_process(near, 1, 5258);
  EXPECT_EQ(erode_queue_length(), 1);
  erode_process(near, 1, 5259);
  EXPECT_EQ(erode_queue_length(), 0);
}

TEST_F(Erosion, SkippedEntryKeepsTheHoldDeadline) {
  // A step at x = 40: an entry just above it would lay its dirt down the
  // cliff, and is skipped.
  ground.build(6, 0.5f, [](float x, float) { return x >= 40 ? 10.0f : 0.0f; });
  std::vector<uint8_t> rec = record_of({{41, 20, 1, 0, 5}, {50, 50, 1, 0, 5}});
  erode_receive(rec.data(), int(rec.size()));
  float at_step[3] = {41, 0, 20}, further[3] = {50, 0, 50};
  erode_process(at_step, 1, 1000);  // held until 1256
  EXPECT_EQ(erode_queue_length(), 2);
  erode_process(further, 1, 1001);  // the step entry goes, the next waits
  EXPECT_EQ(erode_queue_length(), 1);
  erode_process(further, 1, 1257);  // still the first deadline
  EXPECT_EQ(erode_queue_length(), 0);
}

TEST_F(Erosion, BudgetGrowsWithTheBacklog) {
  std::vector<DigEntry> e;
  for (int i = 0; i < 64; i++) e.push_back({10.0f + 0.5f * i, 40, 1, 0, 3});
  std::vector<uint8_t> rec = record_of(e);
  struct Case {
    int records;
    int taken;
  } cases[] = {{1, 4}, {16, 2 + 4}, {157, 10048 / 512 + (10048 - 8192) / 64 + 4}};
  for (const Case &c : cases) {
    erode_queue_clear();
    for (int k = 0; k < c.records; k++) erode_receive(rec.data(), int(rec.size()));
    int before = erode_queue_length();
    ASSERT_EQ(before, 64 * c.records);
    // Past 8192 the viewer is ignored, however close.
    float viewer[3] = {10, 0, 40};
    erode_process(before > 8192 ? viewer : nullptr, 0, 0);
    EXPECT_EQ(before - erode_queue_length(), c.taken) << c.records;
  }
}

TEST_F(Erosion, FullQueueDropsAndSaysSoOnce) {
  Messages said;
  std::vector<DigEntry> e(64, DigEntry{5, 5, 0, 0, 1});
  std::vector<uint8_t> rec = record_of(e);
  for (int k = 0; k < ERODE_QUEUE_SIZE / 64 + 3; k++) erode_receive(rec.data(), int(rec.size()));
  EXPECT_EQ(erode_queue_length(), ERODE_QUEUE_SIZE);
  int full = 0;
  for (const std::string &l : Messages::lines()) full += l == "Erode queue full!";
  EXPECT_EQ(full, 1);
}

TEST(ErosionBlocks, DigNextToABoundaryMarksBothBlocks) {
  DeformGround ground;
  ground.build(7, 1.0f);  // 257 samples: 2 x 2 blocks
  uint32_t count = terrain.change_count;
  terrain_dig(126.5f, 30.0f, 2.0f, -0.1f);
  EXPECT_TRUE(ground.block_dirty(0, 0));
  EXPECT_TRUE(ground.block_dirty(1, 0));
  // The row of blocks below is not reached by the window.
  EXPECT_FALSE(ground.block_dirty(0, 1));
  EXPECT_FALSE(ground.block_dirty(1, 1));
  EXPECT_EQ(terrain.change_count, count + 1);
}

}  // namespace
