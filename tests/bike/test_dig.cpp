// Ruts from real riding: the wheel contacts become wheel inputs, and a
// scripted ride digs the same ruts every time.
#include <cmath>
#include <cstring>
#include <vector>

#include "core/core.h"
#include "bike/dig.h"
#include "test_physics_fixture.h"

namespace {

std::vector<uint8_t> &stream() {
  static std::vector<uint8_t> s;
  return s;
}
void record(const uint8_t *r, int n) {
  stream().push_back(uint8_t(n));
  stream().insert(stream().end(), r, r + n);
}

class DigTest : public PhysicsTest {
 protected:
  PhysicsHooks old_physics = physics_hooks;
  ErodeHooks old_erode = erode_hooks;
  void SetUp() override {
    PhysicsTest::SetUp();
    dig_attach();
    dig_reset_all();
    erode_queue_clear();
    roost_pool_reset();
    erode_hooks.send = nullptr;
    erode_hooks.sent_offline = record;
    stream().clear();
  }
  void TearDown() override {
    physics_hooks = old_physics;
    erode_hooks = old_erode;
    erode_queue_clear();
    PhysicsTest::TearDown();
  }
};

TEST_F(DigTest, ContactBecomesWheelInput) {
  ground.build(5, 1.0f, [](float, float) { return 0.0f; }, 1.0f);
  Rider *r = place(32, 32, 0, 0.02f);
  ASSERT_NE(r, nullptr);
  const double up[3] = {0, 1, 0};
  turn_rider(r, up, M_PI / 2);
  run(64);
  const WheelContact &w = r->wheel[1];
  WheelInput in;
  dig_wheel_input(&w, &in);
  EXPECT_GT(in.depth, 0);
  const dReal *c = dBodyGetPosition(w.body);
  for (int k = 0; k < 3; k++) {
    EXPECT_FLOAT_EQ(in.center[k], float(c[k]));
    EXPECT_FLOAT_EQ(in.force[k], float(w.feedback.f1[k]));
    EXPECT_FLOAT_EQ(in.position[k], w.position[k]);
  }
  EXPECT_GT(in.force[1], 50);  // carrying weight
  // Turned a quarter from heading -z, the axle lies along z.
  EXPECT_NEAR(std::fabs(in.axle[2]), 1, 1e-3);
  EXPECT_NEAR(in.axle[0], 0, 1e-3);
  EXPECT_NEAR(in.axle[1], 0, 0.05);

  // No body: never touching.
  WheelContact none = w;
  none.body = nullptr;
  dig_wheel_input(&none, &in);
  EXPECT_EQ(in.depth, 0);
}

struct RideResult {
  std::vector<uint8_t> records;
  uint8_t ground[20];
  double volume;
  int most_roost;
};

class DigRide : public DigTest {
 protected:
  RideResult ride();
};

// Steering towards a point a little further round a circle about the
// middle of the ground.
float circle_steering(Rider *r, double radius) {
  const dReal *p = dBodyGetPosition(r->body[FRAME]);
  double a = atan2(p[2] - 128, p[0] - 128) - 0.5;
  double tx = 128 + radius * cos(a) - p[0], tz = 128 + radius * sin(a) - p[2];
  const dReal *R = dBodyGetRotation(r->body[FRAME]);
  double fx = -R[2], fz = -R[10];
  double err = atan2(fx * tz - fz * tx, fx * tx + fz * tz);
  return float(std::fmax(-1.0, std::fmin(1.0, err * 0.6)));
}

// A minute of riding round over gentle bumps with the ground giving way
// under the wheels, as the main loop would apply it.
RideResult DigRide::ride() {
  RideResult out{};
  ground.build(7, 1.0f, [](float x, float z) { return 0.4f * sinf(x * 0.21f) * sinf(z * 0.17f); },
               1.0f);
  terrain.surface[0].roost[0].mode = ROOST_THROW;
  Rider *r = place(188, 128, 0, 0.02f);
  if (!r) return out;
  rider_set_clutch(r, 1);
  r->flags |= RF_AUTO_SHIFT;
  for (int tic = 0; tic < 60 * 128; tic++) {
    int phase = tic / 640;
    rider_set_throttle(r, phase % 3 == 2 ? 0.3f : 0.6f);
    rider_set_steering(r, circle_steering(r, phase % 2 ? 45 : 60));
    rider_set_rear_brake(r, tic % 900 < 40 ? 1.0f : 0.0f);
    physics_tic();
    roost_update();
    out.most_roost = std::max(out.most_roost, roost_pool.active_count);
    if (tic % 2 == 1) erode_process(nullptr, 4.0f, physics.now_tic);
  }
  out.records = stream();
  size_t count = ground.heights.size();
  ripemd160(ground.heights.data(), count * sizeof(float), out.ground);
  for (size_t k = 0; k < count; k++) out.volume += double(ground.heights[k]) - ground.base[k];
  return out;
}

TEST_F(DigRide, ScriptedRideDigsTheSameRutsTwice) {
  RideResult a = ride();
  ASSERT_GT(a.records.size(), 1000u);
  EXPECT_GT(a.most_roost, 0);

  physics_shutdown();
  ASSERT_EQ(physics_init(), 1);
  dig_reset_all();
  erode_queue_clear();
  stream().clear();
  RideResult b = ride();

  EXPECT_EQ(a.records, b.records);
  EXPECT_EQ(memcmp(a.ground, b.ground, sizeof a.ground), 0);
  // The wheels moved dirt, and what was dug was laid down again.
  double moved = 0;
  for (size_t k = 0; k < ground.heights.size(); k++)
    moved += std::fabs(double(ground.heights[k]) - ground.base[k]);
  EXPECT_GT(moved, 0.01);
  EXPECT_NEAR(a.volume, 0, moved * 1e-3);
}

}  // namespace
