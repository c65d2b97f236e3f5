// Steering aids, crash recovery and the contacts between riders and with
// obstacles, on small analytic grounds.
#include <cmath>

#include "bike/rider_internal.h"
#include "tests/bike/test_physics_fixture.h"

static double steering_torque_now(Rider *r) {
  for (int i = 0; i < BODY_PART_COUNT; i++) {
    dBodySetTorque(r->body[i], 0, 0, 0);
    dBodySetForce(r->body[i], 0, 0, 0);
  }
  steering_update(r);
  const BikeModel *m = rider_model(r);
  double a[3], l = 0;
  for (int i = 0; i < 3; i++) {
    a[i] = double(m->steering_head_pos[i]) - m->fork_lower_pos[i];
    l += a[i] * a[i];
  }
  dVector3 w;
  dBodyVectorToWorld(r->body[FRAME], a[0] / std::sqrt(l), a[1] / std::sqrt(l), a[2] / std::sqrt(l),
                     w);
  const dReal *t = dBodyGetTorque(r->body[FRONT_WHEEL]);
  const dReal *tf = dBodyGetTorque(r->body[FRAME]);
  // Equal and opposite on wheel and frame.
  EXPECT_NEAR(t[0] + tf[0], 0, 1e-9);
  EXPECT_NEAR(t[1] + tf[1], 0, 1e-9);
  EXPECT_NEAR(t[2] + tf[2], 0, 1e-9);
  return t[0] * w[0] + t[1] * w[1] + t[2] * w[2];
}

TEST_F(PhysicsTest, AtRestOnlyCentringAndTheRidersTorqueAct) {
  ground.build(4, 1.0f, [](float, float) { return 0.0f; }, 1.0f);
  Rider *r = place(16, 16, 0, 0.02f);
  ASSERT_NE(r, nullptr);
  run(64);
  rider_set_steering(r, 0.5f);
  double beta = dJointGetHingeAngle(r->joint[JOINT_STEERING]);
  double expect = (-50 * beta + 0.5 * r->steering_strength * r->direct_steering) * 1.5;
  EXPECT_NEAR(steering_torque_now(r), expect, 1e-6);
  // The force limit caps whatever the law asks.
  r->max_steering_force = 20;
  rider_set_steering(r, 1);
  EXPECT_LE(std::fabs(steering_torque_now(r)), 20 + 1e-9);
}

// Rolling at 60 ft/s, upright and steering straight, the law asks for no
// torque; a front slip angle past the allowed lock forces a quarter of the
// maximum back towards it. Slippery ground allows more lock, up to 45 deg.
TEST_F(PhysicsTest, SlipPastTheAllowedLockForcesTheBarBack) {
  const double deg = M_PI / 180;
  const struct {
    float mu;
    double lock, kappa, torque;
  } cases[] = {
      {1.0f, 1 * deg, 0.0, 0},     {1.0f, 1 * deg, 0.04, 100},  {1.0f, 1 * deg, -0.04, -100},
      {0.05f, 7.5 * deg, 0.04, 0},  // 7.5 deg / 0.125 = 60 deg, limited to 45
      {0.05f, 7.5 * deg, 0.95, 100},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(testing::Message() << "mu " << c.mu << " kappa " << c.kappa);
    ground.build(4, 1.0f, [](float, float) { return 0.0f; }, c.mu);
    Rider *r = place(16, 16, 0, -0.01f);
    ASSERT_NE(r, nullptr);
    r->restricted_lock = float(c.lock);
    r->wheel[0].depth = 0.01f;
    r->wheel[0].position[0] = 16;
    r->wheel[0].position[2] = 16;
    const BikeModel *m = rider_model(r);
    double rad = double(m->front_rim_radius) + m->front_tire_radius;
    dBodySetAngularVel(r->body[FRONT_WHEEL], -60 / rad, 0, 0);
    // Sideways speed giving the slip angle, in the fork's (here the
    // world's) axes: kappa = -atan2(v.x, forward speed in the wheel plane).
    double a[3], l = 0;
    for (int i = 0; i < 3; i++) {
      a[i] = double(m->steering_head_pos[i]) - m->fork_lower_pos[i];
      l += a[i] * a[i];
    }
    double f = 60 * a[1] / std::sqrt(l);
    dBodySetLinearVel(r->body[FRONT_WHEEL], -f * std::tan(c.kappa), 0, -60);
    EXPECT_NEAR(steering_torque_now(r), c.torque, 1e-6);
  }
}

TEST_F(PhysicsTest, LandingDampingRampsUpInFlightAndFallsOffRolling) {
  ground.build(5, 1.0f, [](float, float) { return 0.0f; }, 1.0f);
  Rider *r = place(32, 32, 0, 30);
  ASSERT_NE(r, nullptr);
  EXPECT_FLOAT_EQ(r->land_level, 1);
  run(4);
  EXPECT_NEAR(r->land_level, 1.5, 1e-6);  // half of 0.0625 s
  run(8);
  EXPECT_FLOAT_EQ(r->land_level, 2);
  destroy_rider(r);
  r = place(32, 32, 0, 0.02f);
  const double v[3] = {0, 0, -30};
  rider_set_velocity(r, v);
  run(64);
  ASSERT_FLOAT_EQ(r->land_level, 1);
  r->land_level = 2;
  run(16);
  EXPECT_NEAR(r->land_level, 1.5, 1.0 / 32 + 1e-6);
  run(17);
  EXPECT_FLOAT_EQ(r->land_level, 1);
}

TEST_F(PhysicsTest, LevelingStandsTheBikeUpAtSpeed) {
  ground.build(5, 1.0f, [](float, float) { return 0.0f; }, 1.0f);
  Rider *r = place(32, 32, 0, 0.02f);
  ASSERT_NE(r, nullptr);
  const double v[3] = {0, 0, -50};
  rider_set_velocity(r, v);
  rider_set_clutch(r, 1);
  r->gear = 2;
  rider_set_throttle(r, 0.6f);
  run(32);
  // A sideways push that would lay an unaided bike down.
  dBodyAddRelTorque(r->body[FRAME], 0, 0, 3000);
  run(1);
  EXPECT_GT(std::fabs(rider_lean(r)), 0.005);
  run(128 * 3);
  EXPECT_EQ(r->crash_timer, 0);
  EXPECT_LT(std::fabs(rider_lean(r)), 0.1);
  EXPECT_GT(rider_speed(r), 40);
}

TEST_F(PhysicsTest, AutomaticDabHoldsAStoppedBikeUp) {
  ground.build(5, 1.0f, [](float, float) { return 0.0f; }, 1.0f);
  Rider *r = place(32, 32, 0, 0.02f);
  ASSERT_NE(r, nullptr);
  r->flags |= RF_AUTO_DAB;
  run(32);
  dBodyAddRelTorque(r->body[FRAME], 0, 0, 1500);
  run(128 * 4);
  EXPECT_LT(std::fabs(rider_lean(r)), M_PI / 8);
  EXPECT_GT(r->sit_dab, 0.9f);
  EXPECT_GT(r->dab_assist, 0);
  EXPECT_LT(rider_speed(r), 1);
  // Without it the same push lays the bike down.
  destroy_rider(r);
  r = place(32, 32, 0, 0.02f);
  run(32);
  dBodyAddRelTorque(r->body[FRAME], 0, 0, 1500);
  run(128 * 4);
  EXPECT_GT(std::fabs(rider_lean(r)), M_PI / 4);

  // Its rider down, a stopped bike on its wheels is braked and held.
  destroy_rider(r);
  r = place(32, 32, 0, 0.02f);
  r->flags |= RF_AUTO_DAB;
  run(32);
  crash(r);
  r->sit_dab = 1;
  run(1);
  EXPECT_GT(r->crash_timer, 0);
  EXPECT_EQ(r->sit_dab, 0);
  EXPECT_EQ(r->front_brake, 1);
  EXPECT_EQ(r->rear_brake, 1);
}

TEST_F(PhysicsTest, AfterACrashTheRiderIsBackOnTheBike) {
  ground.build(5, 1.0f, [](float, float) { return 0.0f; }, 1.0f);
  Rider *r = place(32, 32, 0, 0.02f);
  ASSERT_NE(r, nullptr);
  run(16);
  crash(r);
  EXPECT_EQ(dJointGetBody(r->joint[JOINT_RIDER], 0), nullptr);
  int tics = 0;
  bool seen[2] = {false, false};
  while (r->crash_timer > 0 && tics < 128 * 20) {
    run(1);
    tics++;
    // From timer 319 the feet go to their dab points, there within a
    // quarter of a second.
    for (int at : {319, 319 - 32}) {
      if (r->crash_timer != at || seen[at == 319 ? 0 : 1]) continue;
      seen[at == 319 ? 0 : 1] = true;
      for (int s = 0; s < 2; s++) {
        double dab[3];
        ASSERT_TRUE(dab_foot_point(r, s, dab));  // upright: both sides dab
        double off = std::hypot(r->foot[s][0] - dab[0], r->foot[s][1] - dab[1],
                                r->foot[s][2] - dab[2]);
        if (at == 319)
          EXPECT_GT(off, 0.5) << "side " << s;
        else
          EXPECT_LT(off, 0.05) << "side " << s;
      }
    }
  }
  EXPECT_TRUE(seen[0] && seen[1]);
  EXPECT_EQ(r->crash_timer, 0);
  EXPECT_GE(tics, 512);
  EXPECT_EQ(dJointGetBody(r->joint[JOINT_RIDER], 0), r->body[RIDER_BODY]);
  double home[3];
  riding_point(r, home);
  const dReal *p = dBodyGetPosition(r->body[RIDER_BODY]);
  EXPECT_LT(std::hypot(p[0] - home[0], p[1] - home[1], p[2] - home[2]), 0.5);
  EXPECT_TRUE(rider_finite(r));
}

TEST_F(PhysicsTest, RidersMeetingHeadOnBumpAndDoNotPassThrough) {
  ground.build(6, 1.0f, [](float, float) { return 0.0f; }, 1.0f);
  Rider *a = place(64, 70, 0, 0.02f);
  Rider *b = place(64, 40, 1, 0.02f);
  ASSERT_NE(a, nullptr);
  ASSERT_NE(b, nullptr);
  const double up[3] = {0, 1, 0};
  // Turn b about its own frame to face a.
  const dReal *bp = dBodyGetPosition(b->body[FRAME]);
  double bx = bp[0], bz = bp[2];
  turn_rider(b, up, M_PI);
  const dReal *bq = dBodyGetPosition(b->body[FRAME]);
  move_rider(b, bx - bq[0], 0, bz - bq[2]);
  const double va[3] = {0, 0, -20}, vb[3] = {0, 0, 20};
  rider_set_velocity(a, va);
  rider_set_velocity(b, vb);
  float most_a = 0, most_b = 0;
  double closest = 1e9;
  for (int i = 0; i < 256; i++) {
    run(1);
    most_a = std::fmax(most_a, a->bump);
    most_b = std::fmax(most_b, b->bump);
    closest = std::fmin(closest, dBodyGetPosition(a->body[FRAME])[2] -
                                     dBodyGetPosition(b->body[FRAME])[2]);
  }
  EXPECT_GE(a->last_rider_hit_tic, 0);
  EXPECT_GE(most_a, 60);
  EXPECT_GE(most_b, 60);
  EXPECT_GT(closest, 1.0);  // the front ends stopped each other
  EXPECT_TRUE(rider_finite(a) && rider_finite(b));
}

static CollisionShape post;
static int post_tic = -1;
static int one_post(float, float, Obstacle *out, int max) {
  if (max < 1) return 0;
  out[0].shape = &post;
  out[0].position[0] = 32;
  out[0].position[1] = 0;
  out[0].position[2] = 20;
  const float I[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
  for (int i = 0; i < 9; i++) out[0].orientation[i] = I[i];
  out[0].contact_tic = &post_tic;
  return 1;
}

// Spheres of radius 0.6 stacked along y at the given heights.
static void make_post(std::initializer_list<float> heights) {
  post.spheres.clear();
  float top = 0;
  for (float y : heights) {
    post.spheres.push_back({{0, y, 0}, 0.6f, 0.5f, 2500, 250});
    top = std::fmax(top, y + 0.6f);
  }
  post.bound_radius = top;
  post_tic = -1;
}

TEST_F(PhysicsTest, AnObstacleStopsTheBikeAndKnowsItWasHit) {
  ground.build(5, 1.0f, [](float, float) { return 0.0f; }, 1.0f);
  physics_hooks.obstacles_near = one_post;
  make_post({0.5f, 1.5f, 2.5f, 3.5f, 4.5f, 5.5f});
  Rider *r = place(32, 40, 0, 0.02f);
  ASSERT_NE(r, nullptr);
  EXPECT_FALSE(rider_intersects(r));
  const double v[3] = {0, 0, -25};
  rider_set_velocity(r, v);
  run(128 * 2);
  EXPECT_GE(post_tic, 0);
  // Nothing of the bike went through to the far side of the post.
  for (int i = 0; i < BODY_PART_COUNT; i++) EXPECT_GT(dBodyGetPosition(r->body[i])[2], 20) << i;
  destroy_rider(r);

  // A beam at head height: the bike passes under, the rider meets it.
  make_post({5.3f, 6.3f});
  r = place(32, 40, 0, 0.02f);
  rider_set_velocity(r, v);
  run(128);
  physics_hooks.obstacles_near = nullptr;
  EXPECT_GE(post_tic, 0);
  EXPECT_EQ(r->crash_count, 1);
}

static int meet_all(Rider *, Rider *) { return 1; }

// Offline a replayed rider is a ghost nothing pushes; where the race lets
// riders meet it, a hit hands it to the physics for a while, on the ground
// like any other, and then back to its recording.
TEST_F(PhysicsTest, AReplayedRiderIsMetOnlyWhereTheRaceSays) {
  for (int meets : {0, 1}) {
    SCOPED_TRACE(meets ? "meets" : "ghost");
    physics_hooks.meets_replayed = meets ? meet_all : nullptr;
    ground.build(6, 1.0f, [](float, float) { return 0.0f; }, 1.0f);
    Rider *a = place(64, 70, 0, 0.02f);
    Rider *b = create_rider(1, "yz250f(2017)", 0, "2", nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(b->weight, 0);
    EXPECT_FALSE(dBodyIsEnabled(b->body[FRAME]));
    const dReal *p = dBodyGetPosition(b->body[FRAME]);
    move_rider(b, 64 - p[0], 0.02, 55 - p[2]);
    const double v[3] = {0, 0, -15};
    rider_set_velocity(a, v);
    float most = 0;
    int hit_tic = -1;
    double lowest = 1e9;
    for (int i = 0; i < 256; i++) {
      run(1);
      if (b->weight > most) most = b->weight;
      if (hit_tic < 0 && b->weight > 0) hit_tic = i;
      if (b->weight > 0.25f) lowest = std::fmin(lowest, dBodyGetPosition(b->body[FRONT_WHEEL])[1]);
    }
    if (!meets) {
      EXPECT_EQ(hit_tic, -1);
      EXPECT_EQ(b->weight, 0);
      EXPECT_LT(dBodyGetPosition(a->body[FRAME])[2], 50);  // rode on through
      continue;
    }
    EXPECT_GE(hit_tic, 0);
    EXPECT_GT(most, 0.9f);
    // The wheel stands on the ground rather than sinking into it.
    const BikeModel *m = rider_model(b);
    EXPECT_GT(lowest, m->front_rim_radius + 0.5 * m->front_tire_radius);
    // Once apart, the weight runs out and the bodies rest again.
    run(200);
    EXPECT_LE(b->weight, 0.25f);
    EXPECT_FALSE(dBodyIsEnabled(b->body[FRAME]));
  }
  physics_hooks.meets_replayed = nullptr;
}
