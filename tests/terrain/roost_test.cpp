#include <gtest/gtest.h>

#include <cmath>

#include "deform_fixture.h"

namespace {

class Roost : public ::testing::Test {
 protected:
  DeformGround ground;
  void SetUp() override {
    ground.build(5, 1.0f);  // flat at 0, extent 64
    for (SurfaceRoost &r : terrain.surface[0].roost) r.mode = ROOST_NONE;
    roost_pool_reset();
  }
  SurfaceRoost &record(int k) { return terrain.surface[0].roost[k]; }
  // A particle put straight on the active list.
  RoostParticle &launch(float y, float vy, const SurfaceRoost &r) {
    RoostPool &pool = roost_pool;
    int i = pool.free_head;
    RoostParticle &p = pool.p[i];
    pool.free_head = p.next;
    p.x = 10;
    p.y = y;
    p.z = 10;
    p.vx = p.vz = 0;
    p.vy = vy;
    p.roost = &r;
    p.texture = 5;
    p.next = pool.active_head;
    pool.active_head = i;
    pool.active_count++;
    return p;
  }
  int free_count() {
    int n = 0;
    for (int i = roost_pool.free_head; i >= 0; i = roost_pool.p[i].next) n++;
    return n;
  }
};

WheelInput wheel_at(float x, float z) {
  WheelInput in{};
  in.position[0] = x;
  in.position[1] = 0;
  in.position[2] = z;
  in.depth = 0.05f;
  in.normal[1] = 1;
  in.center[0] = x;
  in.center[1] = 1;  // radius 1 above the contact
  in.center[2] = z;
  in.axle[0] = 1;
  return in;
}

TEST_F(Roost, RetiredOnlyWhenFallingBelowTheGround) {
  SurfaceRoost &r = record(0);
  r.drag = 0;
  RoostParticle &p = launch(-2.0f, 16.0f, r);  // thrown up from below ground
  int tics = 0;
  while (roost_pool.active_count == 1 && tics < 1000) {
    float y_before = p.y, vy_before = p.vy;
    roost_update();
    tics++;
    if (roost_pool.active_count == 1) continue;
    // It left on the first tic that ended falling with y under the ground.
    EXPECT_LT(p.vy, 0.0f);
    EXPECT_LT(p.y, 0.0f);
    EXPECT_NEAR(p.y, y_before + vy_before / 128, 1e-5);
  }
  // Under the ground while rising for the first 19 tics, back below it
  // after (1 + sqrt(1/2)) / 2 s.
  EXPECT_NEAR(tics, 110, 2);
  EXPECT_EQ(p.texture, 0);
  EXPECT_EQ(free_count(), ROOST_PARTICLES);
}

TEST_F(Roost, UpdateMovesGrowsAndFades) {
  SurfaceRoost &r = record(0);
  r.drag = 64;  // halves horizontal speed per tic
  r.grow = 128;
  r.fade[0] = -100;
  r.fade[3] = 100;
  RoostParticle &p = launch(50, 0, r);
  p.vx = 128;
  p.size = 1;
  p.color[0] = 150;
  p.color[3] = 200;
  roost_update();
  EXPECT_FLOAT_EQ(p.x, 11);  // moved with the old speed
  EXPECT_FLOAT_EQ(p.vx, 64);
  EXPECT_FLOAT_EQ(p.vy, -0.25f);
  EXPECT_FLOAT_EQ(p.size, 2);
  EXPECT_EQ(p.color[0], 50);
  EXPECT_EQ(p.color[3], 255);
  roost_update();
  EXPECT_EQ(p.color[0], 0);
}

TEST_F(Roost, NonFiniteParticlesReturnToThePool) {
  SurfaceRoost &r = record(0);
  launch(5, NAN, r);
  launch(INFINITY, 1, r);
  roost_update();
  EXPECT_EQ(roost_pool.active_count, 0);
  EXPECT_EQ(free_count(), ROOST_PARTICLES);
}

TEST_F(Roost, SplashNeedsMotion) {
  SurfaceRoost &r = record(0);
  r.mode = ROOST_SPLASH;
  r.count = 3;
  r.randomize = 0;
  WheelInput in = wheel_at(20, 20);
  roost_emit(&in, 5, 6.2831855f, 0);  // standing still: no direction
  EXPECT_EQ(roost_pool.active_count, 0);

  in.velocity[0] = 10;
  in.velocity[1] = -3;  // into the ground: only the tangential part counts
  roost_emit(&in, 5, 6.2831855f, 0);
  ASSERT_EQ(roost_pool.active_count, 3);
  int right = 0, left = 0;  // alternating with the particle and the tic
  for (int i = roost_pool.active_head; i >= 0; i = roost_pool.p[i].next) {
    const RoostParticle &p = roost_pool.p[i];
    // 45 degrees up to either side of the motion, by a random factor.
    EXPECT_NEAR(p.vy, std::fabs(p.vz), 1e-4);
    EXPECT_NEAR(p.vx, 0, 1e-6);
    (p.vz < 0 ? right : left)++;
    EXPECT_GE(p.vy, 0);
    EXPECT_LT(p.vy, 10 / std::sqrt(2.0f));
    EXPECT_EQ(p.texture, r.texture);
    EXPECT_FLOAT_EQ(p.size, r.size);
  }
  EXPECT_EQ(right, 2);
  EXPECT_EQ(left, 1);
}

TEST_F(Roost, RecordsEndAtTheFirstWithoutMode) {
  record(0).mode = ROOST_NONE;
  record(1).mode = ROOST_SPLASH;
  WheelInput in = wheel_at(20, 20);
  in.velocity[0] = 10;
  roost_emit(&in, 5, 6.2831855f, 0);
  EXPECT_EQ(roost_pool.active_count, 0);
  // Nor does a wheel in the air.
  record(0).mode = ROOST_SPLASH;
  in.depth = 0;
  roost_emit(&in, 5, 6.2831855f, 0);
  EXPECT_EQ(roost_pool.active_count, 0);
}

TEST_F(Roost, FrontWheelReleasesWithinItsAngle) {
  SurfaceRoost &r = record(0);
  r.mode = ROOST_THROW;
  r.count = 1;
  r.slip_threshold = 1;
  r.slow_angle = 3;
  r.fast_angle = 3;
  r.randomize = 0;
  // Riding forward (the bike's -z) with the tire spinning: slip against
  // the motion.
  WheelInput in = wheel_at(20, 20);
  in.velocity[2] = -5;
  in.slip[2] = 8;
  in.angular[0] = -13;
  float widest = 0;
  for (int k = 0; k < 400; k++) {
    roost_pool_reset();
    for (int n = 0; n < k; n++) roost_cap(250);  // new random numbers each time
    roost_emit(&in, 1, 0.3926991f, 0);
    ASSERT_EQ(roost_pool.active_count, 1);
    const RoostParticle &p = roost_pool.p[roost_pool.active_head];
    // Angle from straight down around the axle; positive is back and up.
    float angle = std::atan2(p.z - 20, -(p.y - 1));
    EXPECT_GE(angle, 0);
    EXPECT_LE(angle, 0.3926991f + 1e-5f);
    widest = std::max(widest, angle);
  }
  EXPECT_GT(widest, 0.35f);
}

TEST_F(Roost, CapFollowsTheDensity) {
  int total = 0;
  for (int k = 0; k < 4000; k++) {
    int c = roost_cap(250);
    ASSERT_TRUE(c == 2 || c == 3) << c;
    total += c;
  }
  EXPECT_NEAR(total / 4000.0, 2.5, 0.05);
  EXPECT_EQ(roost_cap(0), 0);
  EXPECT_EQ(roost_cap(-40), 0);
  EXPECT_EQ(roost_cap(1000), 10);

  // The cap bounds every record; an empty pool drops the rest quietly.
  SurfaceRoost &r = record(0);
  r.mode = ROOST_SPLASH;
  r.count = 7.5f;
  WheelInput in = wheel_at(20, 20);
  in.velocity[0] = 10;
  roost_emit(&in, 2, 6.2831855f, 0);
  EXPECT_EQ(roost_pool.active_count, 2);
  r.count = 2000;
  for (int k = 0; k < 3; k++) roost_emit(&in, 1000, 6.2831855f, k);
  EXPECT_EQ(roost_pool.active_count, ROOST_PARTICLES);
  EXPECT_EQ(roost_pool.free_head, -1);
}

}  // namespace
