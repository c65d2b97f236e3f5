// Where riders stand at the start: rows behind the start gates, or a line
// across the terrain's centre; lifted clear of whatever they touch.
#include <array>

#include "tests/race/track_fixture.h"

namespace {

void set_gates(std::initializer_list<std::array<float, 4>> gates) {
  timing.gate_count = 0;
  for (auto &g : gates) {
    StartGate &s = timing.gates[timing.gate_count++];
    s = StartGate();
    s.x = g[0];
    s.y = g[1];
    s.z = g[2];
    s.angle = g[3];
    s.statue = -1;
  }
}

TEST(StartPlace, RowsBehindTheGatesOrAcrossTheCentre) {
  float saved_extent = terrain.extent;
  terrain.extent = 256;
  timing_clear();
  const float Q = float(-PI / 2);  // facing east
  struct Case {
    int gates;  // 0: none; 2: two gates facing east; 1: one facing north
    int n;
    float x, z, a;
  } cases[] = {
      {0, 0, 128, 128, 0},
      {0, 3, 143, 128, 0},
      {0, 160, 128, 128, 0},           // a spectator: the centre
      {2, 0, 99.375f, 50, Q},          // gate 0, first row
      {2, 1, 99.375f, 54, Q},          // gate 1
      {2, 3, 89.375f, 54, Q},          // gate 1, second row
      {2, 160, 99.375f, 50, Q},        // a spectator stands at gate 0
      {1, 2, 10, 10 + 20.625f, 0},     // third row behind a gate facing north
  };
  for (const Case &c : cases) {
    if (c.gates == 0) timing_clear();
    if (c.gates == 2) set_gates({{100, 0, 50, Q}, {100, 0, 54, Q}});
    if (c.gates == 1) set_gates({{10, 0, 10, 0}});
    float at[3];
    start_place(c.n, at);
    EXPECT_NEAR(at[0], c.x, 1e-4) << c.gates << " gates, n " << c.n;
    EXPECT_NEAR(at[1], c.z, 1e-4) << c.gates << " gates, n " << c.n;
    EXPECT_FLOAT_EQ(at[2], c.a) << c.gates << " gates, n " << c.n;
  }
  timing_clear();
  terrain.extent = saved_extent;
}

TEST_F(TrackTest, RidersLineUpFacingTheirGates) {
  write_track("flat");
  select("flat");
  auto t = table({SLOT_LOCAL, SLOT_ROBOT, SLOT_ROBOT});
  ASSERT_EQ(load_track(t.data(), 0, 0, 0, 3, 0), 1);
  // No gates: 5 ft apart across the centre, facing north.
  for (int k = 0; k < 3; k++) {
    double p[3], f[3];
    frame_at(k, p);
    facing(k, f);
    EXPECT_NEAR(p[0], 128 + 5 * k, 1e-3);
    EXPECT_NEAR(p[2], 128, 1e-3);
    EXPECT_NEAR(f[2], -1, 1e-6);
    EXPECT_FALSE(rider_intersects(rider_in_slot(k)));
  }
  double p0[3];
  frame_at(0, p0);
  for (int i = 0; i < 3; i++) EXPECT_FLOAT_EQ(race.start_point[i], float(p0[i]));

  // Two gates facing east (the same track again keeps what it read).
  set_gates({{100, 0, 60, float(-PI / 2)}, {100, 0, 64, float(-PI / 2)}});
  ASSERT_EQ(load_track(t.data(), 0, 0, 0, 3, 0), 1);
  const double want[3][2] = {{99.375, 60}, {99.375, 64}, {89.375, 60}};
  for (int k = 0; k < 3; k++) {
    double p[3], f[3];
    frame_at(k, p);
    facing(k, f);
    EXPECT_NEAR(p[0], want[k][0], 1e-3) << k;
    EXPECT_NEAR(p[2], want[k][1], 1e-3) << k;
    EXPECT_NEAR(f[0], 1, 1e-6) << k;
    EXPECT_NEAR(p[1], p0[1], 1e-3) << "on the ground like before";
  }
  // Every gate is up at the start.
  EXPECT_EQ(timing.gates[1].fall, 1.0f);
  EXPECT_EQ(timing.gates[1].fall_speed, 0.0f);
}

TEST_F(TrackTest, RidersAreLiftedClearOfObstacles) {
  // A post under the first rider's place; the second stands free.
  write_track("flat", {{"statues", "[ 128 0 128 ] 0 null null @tracks/flat/post.shp\n"},
                       {"post.shp", post_shape(0.5f, 1.5f)}});
  select("flat");
  auto t = table({SLOT_ROBOT, SLOT_ROBOT});
  ASSERT_EQ(load_track(t.data(), 0, 0, 0, 3, 0), 1);
  ASSERT_EQ(statue_count, 1);
  ASSERT_NE(statues[0].shape, nullptr);
  double lifted[3], standing[3];
  frame_at(0, lifted);
  frame_at(1, standing);
  EXPECT_GT(lifted[1], standing[1] + 0.5);
  EXPECT_EQ(std::fmod(lifted[1] - standing[1], 0.25), 0.0) << "lifted in steps of 0.25";
  EXPECT_FALSE(rider_intersects(rider_in_slot(0)));
  // Placing touches nothing for the start gates' fall.
  EXPECT_EQ(statues[0].contact_tic, 0);

  // Riding into one marks it touched.
  write_track("ahead", {{"statues", "[ 128 0 119 ] 0 null null @tracks/flat/post.shp\n"}});
  select("ahead");
  t = table({SLOT_ROBOT});
  ASSERT_EQ(load_track(t.data(), 0, 0, 0, 3, 0), 1);
  ASSERT_EQ(statue_count, 1);
  EXPECT_EQ(statues[0].contact_tic, 0);
  const double v[3] = {0, 0, -30};
  rider_set_velocity(rider_in_slot(0), v);
  for (int i = 0; i < 128 && statues[0].contact_tic == 0; i++) physics_tic();
  EXPECT_GT(statues[0].contact_tic, 0);
}

// An obstacle that follows the rider up: lifting must still end.
CollisionShape ball;
int always_touching(float x, float z, Obstacle *out, int max) {
  if (max < 1) return 0;
  RiderPose p;
  rider_get_pose(rider_in_slot(0), &p);
  out[0] = Obstacle();
  out[0].shape = &ball;
  out[0].position[0] = x;
  out[0].position[1] = float(p.body[FRAME].position[1]);
  out[0].position[2] = z;
  const float I[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
  memcpy(out[0].orientation, I, sizeof I);
  return 1;
}

TEST_F(TrackTest, LiftingIsBounded) {
  write_track("flat");
  select("flat");
  auto t = table({SLOT_ROBOT});
  ASSERT_EQ(load_track(t.data(), 0, 0, 0, 3, 0), 1);
  double ground[3];
  frame_at(0, ground);
  ball.spheres = {{{0, 0, 0}, 1, 0.5f, 2500, 250}};
  ball.bound_radius = 1;
  physics_hooks.obstacles_near = always_touching;
  ASSERT_EQ(load_track(t.data(), 0, 0, 0, 3, 0), 1);
  double p[3];
  frame_at(0, p);
  // As high as the steps allow (a free rider may itself take one step off
  // the ground it touches at rest).
  EXPECT_GE(p[1] - ground[1], (MAX_LIFT_STEPS - 1) * 0.25);
  EXPECT_LE(p[1] - ground[1], MAX_LIFT_STEPS * 0.25);
}

}  // namespace
