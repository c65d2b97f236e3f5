// The rider's physics judged against physics: free fall, momentum in
// flight, weight on the wheels at rest, top speed per gear, braking within
// the friction limit, holding and sliding on slopes, determinism.
#include <cmath>
#include <ostream>
#include <string>
#include <tuple>
#include <vector>

#include "bike/rider_internal.h"
#include "tests/bike/test_physics_fixture.h"

static double total_mass(Rider *r) {
  double m = 0;
  for (int i = 0; i < BODY_PART_COUNT; i++) {
    dMass mm;
    dBodyGetMass(r->body[i], &mm);
    m += mm.mass;
  }
  return m;
}

static void centre_of_mass(Rider *r, double c[3]) {
  c[0] = c[1] = c[2] = 0;
  double M = 0;
  for (int i = 0; i < BODY_PART_COUNT; i++) {
    dMass mm;
    dBodyGetMass(r->body[i], &mm);
    const dReal *p = dBodyGetPosition(r->body[i]);
    for (int k = 0; k < 3; k++) c[k] += mm.mass * p[k];
    M += mm.mass;
  }
  for (int k = 0; k < 3; k++) c[k] /= M;
}

static void momentum(Rider *r, double P[3], double L[3]) {
  double c[3];
  centre_of_mass(r, c);
  for (int k = 0; k < 3; k++) P[k] = L[k] = 0;
  for (int i = 0; i < BODY_PART_COUNT; i++) {
    dBodyID b = r->body[i];
    dMass mm;
    dBodyGetMass(b, &mm);
    const dReal *p = dBodyGetPosition(b), *v = dBodyGetLinearVel(b), *w = dBodyGetAngularVel(b);
    const dReal *R = dBodyGetRotation(b);
    // I_world w = R I R^T w.
    double wl[3], iw[3], ww[3];
    for (int k = 0; k < 3; k++) wl[k] = R[k] * w[0] + R[4 + k] * w[1] + R[8 + k] * w[2];
    for (int k = 0; k < 3; k++)
      iw[k] = mm.I[k * 4] * wl[0] + mm.I[k * 4 + 1] * wl[1] + mm.I[k * 4 + 2] * wl[2];
    for (int k = 0; k < 3; k++) ww[k] = R[k * 4] * iw[0] + R[k * 4 + 1] * iw[1] + R[k * 4 + 2] * iw[2];
    double d[3] = {p[0] - c[0], p[1] - c[1], p[2] - c[2]};
    double mv[3] = {mm.mass * v[0], mm.mass * v[1], mm.mass * v[2]};
    L[0] += ww[0] + d[1] * mv[2] - d[2] * mv[1];
    L[1] += ww[1] + d[2] * mv[0] - d[0] * mv[2];
    L[2] += ww[2] + d[0] * mv[1] - d[1] * mv[0];
    for (int k = 0; k < 3; k++) P[k] += mv[k];
  }
}

TEST_F(PhysicsTest, FreeFallFollowsTheStepOfGravity) {
  ground.build(4, 1.0f, [](float, float) { return 0.0f; }, 1.0f);
  Rider *r = place(16, 16, 0, 200);
  ASSERT_NE(r, nullptr);
  double c0[3];
  centre_of_mass(r, c0);
  for (int n = 1; n <= 256; n++) {
    run(1);
    double c[3];
    centre_of_mass(r, c);
    double expect = c0[1] - std::ldexp(double(n) * (n + 1), -10);
    ASSERT_NEAR(c[1], expect, 1e-9 * (1 + std::fabs(expect))) << "tic " << n;
    ASSERT_NEAR(c[0], c0[0], 1e-9);
    ASSERT_NEAR(c[2], c0[2], 1e-9);
  }
}

// Spinning wheels, a turning engine, a tumbling bike and a full steering
// input exercise every internal torque. Linear momentum changes by gravity
// alone, to rounding. Angular momentum about the centre of mass holds to
// the integrator's accuracy, which suffers while the fork swings a spinning
// wheel round: it is judged over a quarter second with the bars let go
// while the clutch takes up the engine, and over half a second with the
// fork at its stop, pressed there by a steady 54 lbf ft. It drifts by
// under 0.3 in either; a tenth of any internal torque (steering, its
// damping, the driveline) applied without its reaction moves it by over 1.
TEST_F(PhysicsTest, InFlightOnlyGravityChangesMomentum) {
  ground.build(4, 1.0f, [](float, float) { return 0.0f; }, 1.0f);
  Rider *r = place(16, 16, 0, 500);
  ASSERT_NE(r, nullptr);
  const double v[3] = {3, 5, -40};
  rider_set_velocity(r, v);
  for (int i = 0; i < BODY_PART_COUNT; i++) {
    const dReal *w = dBodyGetAngularVel(r->body[i]);
    dBodySetAngularVel(r->body[i], w[0] + 0.7, w[1] - 0.4, w[2] + 0.9);
  }
  r->engine_speed += 300;  // the clutch has work to do
  rider_set_clutch(r, 1);
  double M = total_mass(r);
  double P0[3], L0[3];
  momentum(r, P0, L0);
  const int released = 32, pressed = 96, end = 160;
  for (int n = 1; n <= end; n++) {
    if (n == released + 1) rider_set_steering(r, 1.0f);
    double Pa[3], La[3];
    momentum(r, Pa, La);
    run(1);
    double P[3], L[3];
    momentum(r, P, L);
    ASSERT_NEAR(P[0], Pa[0], 1e-8 * M);
    ASSERT_NEAR(P[1] - Pa[1], -M * GRAVITY * TIC_SECONDS, 1e-8 * M) << "tic " << n;
    ASSERT_NEAR(P[2], Pa[2], 1e-8 * M);
    if (n == pressed) {
      ASSERT_GT(dJointGetHingeAngle(r->joint[JOINT_STEERING]), M_PI / 4 - 0.01);
      for (int k = 0; k < 3; k++) L0[k] = L[k];
    }
    if (n <= released || n > pressed) {
      for (int k = 0; k < 3; k++) ASSERT_NEAR(L[k], L0[k], 0.5) << "tic " << n << " axis " << k;
    }
  }
  EXPECT_EQ(r->crash_timer, 0);
}

TEST_F(PhysicsTest, AtRestTheWheelsCarryTheWeight) {
  ground.build(5, 1.0f, [](float, float) { return 0.0f; }, 1.0f);
  Rider *r = place(32, 32, 0, 0.05f);
  ASSERT_NE(r, nullptr);
  run(128 * 4);
  // The suspension's explicit damping leaves a tic-to-tic ripple: judge
  // the mean over a second.
  double force[2] = {0, 0}, depth[2] = {0, 0};
  const int n = 128;
  for (int i = 0; i < n; i++) {
    run(1);
    for (int w = 0; w < 2; w++) {
      ASSERT_GT(r->wheel[w].depth, 0) << "wheel " << w;
      force[w] += r->wheel[w].feedback.f1[1] / n;
      depth[w] += r->wheel[w].depth / double(n);
    }
  }
  double M = total_mass(r);
  double load = force[0] + force[1];
  for (int w = 0; w < 2; w++) {
    // The tire's spring at this depth holds this wheel's share.
    double cc = std::fmin(depth[w] / r->wheel[w].tire_radius, 1.0);
    double kp = 24000 * cc * cc * cc + 1000;
    EXPECT_NEAR(force[w], kp * depth[w], 0.01 * force[w]) << "wheel " << w;
  }
  EXPECT_NEAR(load, M * GRAVITY, 0.005 * M * GRAVITY);
  const BikeModel *m = rider_model(r);
  double fork = dJointGetSliderPosition(r->joint[JOINT_FORK]);
  EXPECT_LT(fork, -0.02);
  EXPECT_GT(fork, -m->fork_travel + 0.02);
  double arm = dJointGetHingeAngle(r->joint[JOINT_SWINGARM]);
  EXPECT_LT(arm, -0.01);
  EXPECT_GT(arm, -m->swingarm_travel + 0.01);
  EXPECT_NEAR(rider_lean(r), 0, 1e-3);
  EXPECT_EQ(r->crash_timer, 0);
  // The rider sits where the springs hold it, near the riding point.
  double home[3];
  riding_point(r, home);
  const dReal *p = dBodyGetPosition(r->body[RIDER_BODY]);
  EXPECT_LT(std::hypot(p[0] - home[0], p[1] - home[1], p[2] - home[2]), 0.3);
}

TEST_F(PhysicsTest, TopSpeedInEachGearIsWhereTheEngineRunsOutOfTorque) {
  ground.build(5, 1.0f, [](float, float) { return 0.0f; }, 1.0f);
  const BikeModel *m = &bike_models[find_bike_model("yz250f(2017)")];
  const double zero_rpm = 14000;
  for (int gear = 0; gear < 5; gear++) {
    SCOPED_TRACE(gear);
    Rider *r = place(32, 32, 0, 0.02f);
    ASSERT_NE(r, nullptr);
    r->flags |= RF_WHEELIE_ENGINE;
    r->gear = gear;
    double R = double(m->primary_ratio) * m->gear_ratios[gear] * r->final_drive;
    double nominal = zero_rpm / 9.549296585513721 / R * (m->rear_rim_radius + m->rear_tire_radius);
    const double v[3] = {0, 0, -0.85 * nominal};
    rider_set_velocity(r, v);
    rider_set_clutch(r, 1);
    rider_set_throttle(r, 1);
    run(128 * 6);
    ASSERT_EQ(r->crash_timer, 0);
    // The road speed of 14000 rpm with the tire's rolling radius.
    double rolling = m->rear_rim_radius + m->rear_tire_radius - r->wheel[1].depth;
    double limit = zero_rpm / 9.549296585513721 / R * rolling;
    double speed = rider_speed(r);
    EXPECT_LE(speed, limit * 1.002);
    EXPECT_GE(speed, limit * 0.98);
    EXPECT_LE(rider_rpm(r), zero_rpm);
    EXPECT_NEAR(std::fabs(rider_lean(r)), 0, 0.05);
    destroy_rider(r);
  }
}

// The normal loads of the two tires as the step's solver finds them this
// tic with every tire frictionless: the step bounds each friction row of a
// tire by mu times its load so found. Found by stepping once with the
// ground's friction at 0 and then putting every body back as it was (and
// cutting the frictionless contacts loose), so the tic then runs as usual.
static void frictionless_loads(Rider *r, double load[2]) {
  struct Saved {
    dVector3 p, v, w, f, t;
    dQuaternion q;
  } saved[BODY_PART_COUNT];
  for (int i = 0; i < BODY_PART_COUNT; i++) {
    dBodyID b = r->body[i];
    Saved &s = saved[i];
    for (int k = 0; k < 3; k++) {
      s.p[k] = dBodyGetPosition(b)[k];
      s.v[k] = dBodyGetLinearVel(b)[k];
      s.w[k] = dBodyGetAngularVel(b)[k];
      s.f[k] = dBodyGetForce(b)[k];
      s.t[k] = dBodyGetTorque(b)[k];
    }
    for (int k = 0; k < 4; k++) s.q[k] = dBodyGetQuaternion(b)[k];
  }
  WheelContact wheels[2] = {r->wheel[0], r->wheel[1]};
  Surface &ground = terrain.surface[0];
  Surface grip = ground;
  for (float &mu : ground.friction_coef) mu = 0;
  rider_collide_world(r);
  dWorldStep(physics.world, TIC_SECONDS);
  for (int w = 0; w < 2; w++) {
    const WheelContact &c = r->wheel[w];
    const dReal *f = c.feedback.f1;
    load[w] = c.depth > 0 ? f[0] * c.normal[0] + f[1] * c.normal[1] + f[2] * c.normal[2] : 0;
  }
  // Contacts with the ground (the body's second side empty) leave the step.
  for (int i = 0; i < BODY_PART_COUNT; i++) {
    std::vector<dJointID> ground_contacts;
    for (int k = 0; k < dBodyGetNumJoints(r->body[i]); k++) {
      dJointID j = dBodyGetJoint(r->body[i], k);
      if (dJointGetType(j) == dJointTypeContact && !dJointGetBody(j, 1)) ground_contacts.push_back(j);
    }
    for (dJointID j : ground_contacts) dJointAttach(j, nullptr, nullptr);
  }
  ground = grip;
  r->wheel[0] = wheels[0];
  r->wheel[1] = wheels[1];
  for (int i = 0; i < BODY_PART_COUNT; i++) {
    dBodyID b = r->body[i];
    const Saved &s = saved[i];
    dBodySetPosition(b, s.p[0], s.p[1], s.p[2]);
    dBodySetQuaternion(b, s.q);
    dBodySetLinearVel(b, s.v[0], s.v[1], s.v[2]);
    dBodySetAngularVel(b, s.w[0], s.w[1], s.w[2]);
    dBodySetForce(b, s.f[0], s.f[1], s.f[2]);
    dBodySetTorque(b, s.t[0], s.t[1], s.t[2]);
  }
}

struct BrakeCase {
  const char *name;
  float front, rear;
  bool antilock;  // the default front anti-lock; off: a braked wheel locks
  double least;   // the slowest mean deceleration that still brakes, in mu g
};

static void PrintTo(const BrakeCase &c, std::ostream *os) { *os << c.name; }

class BrakeTest : public PhysicsTest,
                  public ::testing::WithParamInterface<std::tuple<BrakeCase, bool>> {};

// A stop from 60 ft/s on ground of mu 0.6, judged from the brakes going on
// until the bike is down to walking pace (the fork's dive and rebound move
// the load between the tires for a fraction of a second on the way).
//
// Raw friction: each tire's friction, in each of its two directions, is
// at most mu times the load the solver finds with the tires frictionless,
// and a locked tire pulls all of that. Braking pitches the bike and takes
// load off the tires during the step, so a locked tire pulls more than mu
// times the load it ends up carrying, and the bike as a whole stops within
// the bound of the frictionless loads (mu times them for the braked tires,
// what the others pulled), not within mu g. Measured:
//                 pull / load of the     deceleration over
//                 locked tires           mu g    the bound
//   Both          rear 0.76              0.97    0.86
//   RearLocked    rear 0.78              0.49    0.96
//   FrontLocked   front 0.64             0.73    0.95
//   BothLocked    front 0.64, rear 0.74  1.10    1.00
// Strict friction: a tire pulls at most mu times the load it carries,
// sliding or rolling, and a sliding one that much, so the bike stops no
// faster than mu g (measured 0.85, 0.40, 0.67 and 1.00 mu g).
TEST_P(BrakeTest, TiresPullWhatTheSolverAllows) {
  const BrakeCase &c = std::get<0>(GetParam());
  const bool strict = std::get<1>(GetParam());
  physics_options.strict_friction = strict;
  const float mu = 0.6f;
  ground.build(5, 16.0f, [](float, float) { return 0.0f; }, mu, false);
  Rider *r = place(512, 1000, 0, 0.02f);
  ASSERT_NE(r, nullptr);
  if (!c.antilock) r->flags &= ~RF_FRONT_ANTILOCK;
  ASSERT_FALSE(r->flags & RF_REAR_ANTILOCK);
  const double v0[3] = {0, 0, -60};
  rider_set_velocity(r, v0);
  run(64);
  rider_set_front_brake(r, c.front);
  rider_set_rear_brake(r, c.rear);
  double P[3], L[3], M = total_mass(r);
  momentum(r, P, L);
  const double start = -P[2] / M;
  double pull[2] = {0, 0}, load[2] = {0, 0}, allowed[2] = {0, 0}, along[2] = {0, 0};
  double bound = 0, speed = start;
  int tics = 0;
  for (; tics < 128 * 10 && speed > 5; tics++) {
    double loose[2] = {0, 0};
    if (!strict) frictionless_loads(r, loose);
    run(1);
    for (int w = 0; w < 2; w++) {
      const WheelContact &wc = r->wheel[w];
      bool braked = (w ? c.rear : c.front) > 0;
      if (!(wc.depth > 0)) continue;
      const dReal *f = wc.feedback.f1;
      const double n[3] = {wc.normal[0], wc.normal[1], wc.normal[2]};
      double fn = f[0] * n[0] + f[1] * n[1] + f[2] * n[2];
      double t[3] = {f[0] - fn * n[0], f[1] - fn * n[1], f[2] - fn * n[2]};
      double ft = std::sqrt(t[0] * t[0] + t[1] * t[1] + t[2] * t[2]);
      pull[w] += ft;
      load[w] += fn;
      if (strict) continue;
      // The friction directions: the contact's first and the normal
      // across it.
      const double *d1 = wc.fdir;
      double d2[3] = {n[1] * d1[2] - n[2] * d1[1], n[2] * d1[0] - n[0] * d1[2],
                      n[0] * d1[1] - n[1] * d1[0]};
      double f1 = std::fabs(f[0] * d1[0] + f[1] * d1[1] + f[2] * d1[2]);
      double f2 = std::fabs(f[0] * d2[0] + f[1] * d2[1] + f[2] * d2[2]);
      double limit = mu * loose[w];
      ASSERT_LE(f1, limit * (1 + 1e-5) + 1e-6) << "tic " << tics << (w ? " rear" : " front");
      ASSERT_LE(f2, limit * (1 + 1e-5) + 1e-6) << "tic " << tics << (w ? " rear" : " front");
      allowed[w] += limit;
      along[w] += std::fmax(f1, f2);
      bound += braked ? limit : ft;
    }
    momentum(r, P, L);
    speed = -P[2] / M;
  }
  ASSERT_LE(speed, 5) << "still rolling after " << tics << " tics";
  EXPECT_EQ(r->crash_timer, 0);
  double decel = (start - speed) * 128 / tics;
  for (int w = 0; w < 2; w++) {
    SCOPED_TRACE(w ? "rear" : "front");
    ASSERT_GT(load[w], 0);
    bool locked = (w ? c.rear : c.front) > 0 && !(w == 0 && c.antilock);
    if (strict) {
      EXPECT_LE(pull[w] / load[w], mu * 1.01);
      // A locked wheel slides all the way: it pulls the whole mu.
      if (locked) {
        EXPECT_GE(pull[w] / load[w], mu * 0.98);
      }
    } else if (locked) {
      EXPECT_GE(along[w] / allowed[w], 0.98);
      EXPECT_GT(pull[w] / load[w], mu);
    }
  }
  if (strict)
    EXPECT_LE(decel, mu * GRAVITY * 1.01);
  else
    EXPECT_LE(decel, bound / (M * tics) * 1.01);
  EXPECT_GE(decel, c.least * mu * GRAVITY);
}

INSTANTIATE_TEST_SUITE_P(
    Brakes, BrakeTest,
    ::testing::Combine(::testing::Values(BrakeCase{"Both", 1, 1, true, 0.75},
                                         BrakeCase{"RearLocked", 0, 1, true, 0.3},
                                         BrakeCase{"FrontLocked", 1, 0, false, 0.5},
                                         BrakeCase{"BothLocked", 1, 1, false, 0.95}),
                       ::testing::Bool()),
    [](const ::testing::TestParamInfo<std::tuple<BrakeCase, bool>> &i) {
      return std::string(std::get<0>(i.param).name) + (std::get<1>(i.param) ? "Strict" : "Raw");
    });

struct SlopeCase {
  float slope;  // rise per foot along the bike
  bool holds;
};

class SlopeTest : public PhysicsTest, public ::testing::WithParamInterface<SlopeCase> {};

TEST_P(SlopeTest, BrakesHoldBelowTheFrictionAngle) {
  const float mu = 0.5f;
  const float t = GetParam().slope;
  // Rising behind the bike: it faces downhill.
  ground.build(5, 1.0f, [t](float, float z) { return (z - 32) * t; }, mu, false);
  Rider *r = place(32, 32, 0, 0.05f);
  ASSERT_NE(r, nullptr);
  // Pitch the bike nose down onto the slope before letting go.
  double axis[3] = {1, 0, 0};
  const dReal *p = dBodyGetPosition(r->body[FRAME]);
  double px = p[0], py = p[1], pz = p[2];
  turn_rider(r, axis, -std::atan(t));
  const dReal *q = dBodyGetPosition(r->body[FRAME]);
  move_rider(r, px - q[0], py - q[1] + 0.1, pz - q[2]);
  r->flags &= ~(RF_FRONT_ANTILOCK | RF_REAR_ANTILOCK);
  rider_set_front_brake(r, 1);
  rider_set_rear_brake(r, 1);
  run(128);
  double z0 = dBodyGetPosition(r->body[FRAME])[2];
  run(256);
  double moved = std::fabs(dBodyGetPosition(r->body[FRAME])[2] - z0);
  if (GetParam().holds)
    EXPECT_LT(moved, 0.05) << "tan " << t;
  else
    EXPECT_GT(moved, 1.0) << "tan " << t;
}

// The step bounds each tire's friction by the load it finds with the tires
// frictionless, which lets a braked bike hold a little past tan = mu (to
// about 1.06 mu, measured); the pair either side of that limit fails for a
// coefficient a tenth off either way (0.45 slides at 0.5, 0.55 holds at
// 0.56).
INSTANTIATE_TEST_SUITE_P(Slopes, SlopeTest,
                         ::testing::Values(SlopeCase{0.125f, true}, SlopeCase{0.5f, true},
                                           SlopeCase{0.56f, false}, SlopeCase{0.875f, false}));

static uint64_t scripted_ride() {
  TestGround g;
  g.build(5, 1.0f, [](float x, float z) { return 0.25f * std::sin(x * 0.2f) * std::cos(z * 0.15f); },
          1.0f);
  EXPECT_EQ(physics_init(), 1);
  Rider *r = create_rider(3, "yz250f(2017)", 1, "7", nullptr, nullptr, nullptr, nullptr);
  move_rider(r, 30, 0.6, 30);
  uint64_t h = 1469598103934665603ull;
  rider_set_clutch(r, 1);
  for (int tic = 0; tic < 640; tic++) {
    rider_set_throttle(r, tic < 400 ? 0.8f : 0.0f);
    rider_set_steering(r, tic > 200 ? 0.3f * std::sin(tic * 0.05f) : 0.0f);
    if (tic == 300) shift(r, 1);
    if (tic == 301) shift(r, 0);
    physics_tic();
    h = rider_state_hash(r, h);
  }
  physics_shutdown();
  return h;
}

TEST(PhysicsDeterminism, SameScriptSameStates) {
  uint64_t a = scripted_ride();
  uint64_t b = scripted_ride();
  EXPECT_EQ(a, b);
}
