// The rules of the rider's parts that physics alone does not pin down:
// shape files, torque curves, gears, friction curves, tire geometry,
// crash thresholds and the mending of bad states.
#include <cmath>
#include <cstring>

#include "bike/rider_internal.h"
#include "tests/bike/test_physics_fixture.h"

TEST(ShapeFile, RejectsBadCountsNumbersAndRadii) {
  struct Case {
    const char *text;
    bool ok;
  } cases[] = {
      {"1\n0 0 0 0.5 1 2500 250\n", true},
      {"2\n0 0 0 0.5 1 2500 250\n", false},               // a sphere missing
      {"0\n", false},                                      // nothing to collide
      {"-3\n0 0 0 0.5 1 2500 250\n", false},
      {"99999999\n", false},
      {"1\n0 0 0 nan 1 2500 250\n", false},
      {"1\n0 0 0 inf 1 2500 250\n", false},
      {"1\n0 0 0 1e9 1 2500 250\n", false},                // absurd radius
      {"1\n0 0 0 -0.5 1 2500 250\n", false},
      {"1\n0 0 0 0.5 1 2500\n", false},                    // damping missing
      {"", false},
  };
  for (const Case &c : cases) {
    CollisionShape s;
    char error[128] = "";
    EXPECT_EQ(shape_parse(c.text, &s, error, sizeof error), c.ok ? 1 : 0) << c.text;
    if (!c.ok) {
      EXPECT_NE(error[0], 0) << c.text;
    }
  }
  CollisionShape s;
  ASSERT_EQ(shape_parse("2\n1 0 0 0.5 1 2500 250\n0 -3 4 1 0.5 100 10\n", &s, nullptr, 0), 1);
  EXPECT_FLOAT_EQ(s.bound_radius, 6.0f);
  EXPECT_FLOAT_EQ(s.spheres[1].stiffness, 100.0f);
}

TEST(ShapeFile, MissingFileGivesNoShape) {
  CollisionShape s;
  EXPECT_EQ(shape_load("@no_such_shape_file.shp", &s), 0);
}

// A sphere inside another of the same shape adds a second contact wherever
// the outer one touches: more rows for the solver and twice the push.
TEST(ShapeFile, DefaultShapesHaveNoSphereInsideAnother) {
  for (int b = 0; b < BIKE_MODEL_COUNT; b++) {
    for (int part : {PART_FRAME_SHAPE, PART_FORK_UPPER_SHAPE, PART_FORK_LOWER_SHAPE,
                     PART_SWINGARM_SHAPE, PART_FRONT_WHEEL_SHAPE, PART_REAR_WHEEL_SHAPE,
                     PART_RIDER_SHAPE}) {
      std::vector<CollisionSphere> v = default_shape_spheres(&bike_models[b], part);
      for (size_t i = 0; i < v.size(); i++)
        for (size_t j = 0; j < v.size(); j++) {
          if (i == j) continue;
          double d = std::sqrt(std::pow(v[i].centre[0] - v[j].centre[0], 2) +
                               std::pow(v[i].centre[1] - v[j].centre[1], 2) +
                               std::pow(v[i].centre[2] - v[j].centre[2], 2));
          EXPECT_GT(d + v[i].radius, v[j].radius)
              << "bike " << b << " part " << part << ": sphere " << i << " inside " << j;
        }
    }
  }
}

TEST(Engine, TorqueCurveBlendsByRpmAndThrottle) {
  const BikeModel *m = &bike_models[find_bike_model("yz250f(2017)")];
  EXPECT_NEAR(engine_torque(m, 500, 1), 5, 1e-5);
  EXPECT_NEAR(engine_torque(m, 13250, 1), 11.2688, 1e-3);
  EXPECT_LE(engine_torque(m, 14000, 1), 0);
  EXPECT_LT(engine_torque(m, 20000, 1), 0);
  // Closed throttle at 0 rpm, and half throttle halfway between the curves.
  EXPECT_NEAR(engine_torque(m, 0, 0), 2, 1e-6);
  EXPECT_NEAR(engine_torque(m, 9000, 0.5),
              (engine_torque(m, 9000, 0) + engine_torque(m, 9000, 1)) / 2, 1e-6);
  EXPECT_TRUE(std::isfinite(engine_torque(m, -1e9, 1)));
  EXPECT_TRUE(std::isfinite(engine_torque(m, 1e12, 1)));
}

TEST(Suspension, DampingCurveKneeAndFloor) {
  // Steep below the knee at x = S / 7, then x + S.
  EXPECT_DOUBLE_EQ(damping_curve(0.1, 60, 60), 8 * 6.0);
  EXPECT_DOUBLE_EQ(damping_curve(2, 60, 60), 120 + 60.0);
  // A negative low-speed value lowers the curve to its floor.
  EXPECT_DOUBLE_EQ(damping_curve(1, 60, -1000), 0.125 * 60);
}

TEST(Suspension, LinkageMeetsItsEndsAndSlopes) {
  const BikeModel *m = &bike_models[find_bike_model("yz250f(2017)")];
  double s, d;
  linkage_curve(m, 0, &s, &d);
  EXPECT_NEAR(s, 0, 1e-9);
  EXPECT_NEAR(d, m->linkage_slope_start, 1e-6);
  linkage_curve(m, m->linkage_break, &s, &d);
  EXPECT_NEAR(s, m->linkage_mid_travel, 1e-6);
  EXPECT_NEAR(d, m->linkage_slope_mid, 1e-6);
  linkage_curve(m, 1, &s, &d);
  EXPECT_NEAR(s, m->linkage_full_travel, 1e-6);
  EXPECT_NEAR(d, m->linkage_slope_end, 1e-6);
}

TEST(Friction, CurveModes) {
  Surface s;
  surface_defaults(&s);
  const float slip6[3] = {6, 0, 0};
  EXPECT_FLOAT_EQ(surface_friction(&s, slip6, 0), 1.0f);  // one default point
  s.friction_coef[0] = 0.8f;
  s.friction_speed[0] = 4;
  s.friction_coef[1] = 1.2f;
  s.friction_speed[1] = 8;
  s.slip_function = 1;
  EXPECT_NEAR(surface_friction(&s, slip6, 0), 1.0, 1e-6);
  s.slip_function = 0;
  EXPECT_NEAR(surface_friction(&s, slip6, 0), 0.8 + (36.0 - 16) / (64 - 16) * 0.4, 1e-6);
  const float slow[3] = {1, 0, 0}, fast[3] = {0, 0, 30};
  EXPECT_FLOAT_EQ(surface_friction(&s, slow, 0), 0.8f);
  EXPECT_FLOAT_EQ(surface_friction(&s, fast, 0), 1.2f);
  // Mode 2 reads the no-spin speed along the slip, clamped to the slip.
  s.slip_function = 2;
  EXPECT_NEAR(surface_friction(&s, slip6, 6), 1.0, 1e-6);
  EXPECT_NEAR(surface_friction(&s, slip6, 100), 1.0, 1e-6);
  EXPECT_FLOAT_EQ(surface_friction(&s, slip6, -3), 0.8f);
}

TEST(TireGeometry, TorusOnTrianglesInteriorAndRidge) {
  const double axle[3] = {1, 0, 0};
  double p[3], n[3];
  // A flat triangle under the wheel, 0.05 ft into the tire.
  TerrainTriangle flat{{{-5, 0, -5}, {-5, 0, 5}, {5, 0, 5}}};
  const double c[3] = {-1, 5.0 / 6 + 1.0 / 3 - 0.05, 1};
  EXPECT_NEAR(torus_triangle(c, axle, 5.0 / 6, 1.0 / 3, flat, p, n), 0.05, 1e-9);
  EXPECT_NEAR(n[1], 1, 1e-12);
  EXPECT_NEAR(p[1], 0, 1e-12);
  EXPECT_NEAR(p[2], 1, 1e-12);
  // A ridge along x under the wheel: the tire rests on the edge.
  TerrainTriangle slope{{{-5, 0, 0}, {5, 0, 0}, {5, -5, 5}}};
  const double over[3] = {0, 1.0, 0.3};
  double d = torus_triangle(over, axle, 5.0 / 6, 1.0 / 3, slope, p, n);
  EXPECT_NEAR(d, 5.0 / 6 + 1.0 / 3 - std::sqrt(1.09), 1e-6);
  EXPECT_NEAR(p[2], 0, 1e-6);  // on the edge
  EXPECT_GT(n[1], 0.5);
  // Far above: nothing.
  const double high[3] = {0, 10, 0};
  EXPECT_EQ(torus_triangle(high, axle, 5.0 / 6, 1.0 / 3, flat, p, n), 0);
}

TEST(TireGeometry, SphereUnderTheSurfaceCountsFullDepth) {
  TerrainTriangle flat{{{-5, 0, -5}, {-5, 0, 5}, {5, 0, 5}}};
  double p[3], n[3];
  const double below[3] = {-1, -0.2, 1};
  EXPECT_NEAR(sphere_triangle(below, 0.5, flat, p, n), 0.7, 1e-12);
  EXPECT_NEAR(n[1], 1, 1e-12);
}

TEST_F(PhysicsTest, CreateRejectsSlotsOutsideTheTable) {
  EXPECT_EQ(create_rider(-1, "yz250f(2017)", 1, "1", nullptr, nullptr, nullptr, nullptr), nullptr);
  EXPECT_EQ(create_rider(160, "yz250f(2017)", 1, "1", nullptr, nullptr, nullptr, nullptr), nullptr);
  EXPECT_NE(create_rider(159, "yz250f(2017)", 1, "1", nullptr, nullptr, nullptr, nullptr), nullptr);
}

TEST_F(PhysicsTest, ShiftingSkipsMissingGearsAndActsOncePerPress) {
  ground.build(4, 1.0f, [](float, float) { return 0.0f; }, 1.0f);
  Rider *r = place(16, 16);
  ASSERT_NE(r, nullptr);
  for (int i = 0; i < 8; i++) {
    shift(r, 1);
    shift(r, 0);
  }
  EXPECT_EQ(r->gear, 4);  // five gears: the sixth does not exist
  shift(r, -1);
  shift(r, -1);  // held: one shift
  EXPECT_EQ(r->gear, 3);
  shift(r, 0);
  shift(r, 7);  // nonsense request ignored
  EXPECT_EQ(r->gear, 3);
}

TEST_F(PhysicsTest, LandingLowersTheCrashLimit) {
  ground.build(4, 1.0f, [](float, float) { return 0.0f; }, 1.0f);
  Rider *r = place(16, 16, 0, 20);  // in the air, nothing touching
  ASSERT_NE(r, nullptr);
  auto body_relative = [r](double dv) {
    const dReal *v = dBodyGetLinearVel(r->body[FRAME]);
    dBodySetLinearVel(r->body[RIDER_BODY], v[0] + dv, v[1], v[2]);
    const dReal *b = dBodyGetLinearVel(r->body[RIDER_BODY]);
    for (auto &ring : r->velocity_ring)
      for (int k = 0; k < 3; k++) ring[k] = float(b[k]);
  };
  physics.now_tic = 1000;
  // In flight the limit is 46.5 ft/s.
  r->landing_tic = 800;
  r->takeoff_tic = 900;
  body_relative(40);
  crash_update(r);
  EXPECT_EQ(r->crash_timer, 0);
  // Touched down 0.05 s ago after 0.8 s of falling: the limit is 31 ft/s.
  r->takeoff_tic = 1000 - 6 - 102;
  r->landing_tic = 1000 - 6;
  body_relative(40);
  crash_update(r);
  EXPECT_GT(r->crash_timer, 0);
  EXPECT_EQ(r->crash_count, 1);
  EXPECT_EQ(dJointGetBody(r->joint[JOINT_RIDER], 0), nullptr);
}

TEST_F(PhysicsTest, SecondCrashUsesTheExtraDownTime) {
  ground.build(4, 1.0f, [](float, float) { return 0.0f; }, 1.0f);
  Rider *r = place(16, 16);
  ASSERT_NE(r, nullptr);
  physics.extra_down[1] = 256;
  crash(r);
  EXPECT_EQ(r->crash_timer, 512);
  r->crash_timer = 0;
  reattach_rider_body(r);
  crash(r);
  EXPECT_EQ(r->crash_timer, 768);
  EXPECT_EQ(r->throttle, 0);
  rider_set_throttle(r, 1);  // ignored while down
  EXPECT_EQ(r->throttle, 0);
}

TEST_F(PhysicsTest, DegenerateAnglesStayFinite) {
  ground.build(4, 1.0f, [](float, float) { return 0.0f; }, 1.0f);
  Rider *r = place(16, 16, 0, 30);
  ASSERT_NE(r, nullptr);
  // Nose straight down: no heading, the last lean is kept.
  const double side[3] = {1, 0, 0};
  turn_rider(r, side, M_PI / 2);
  EXPECT_FLOAT_EQ(body_lean_angle(r->body[FRAME], 0.25f), 0.25f);
  destroy_rider(r);
  // A restricted lock of zero, at speed, on the ground.
  r = place(16, 16, 0, 0.02f);
  r->restricted_lock = 0;
  const double v[3] = {0, 0, -80};
  rider_set_velocity(r, v);
  run(64);
  EXPECT_TRUE(std::isfinite(r->sigma));
  EXPECT_GE(r->sigma, 0);
  EXPECT_LE(r->sigma, 1);
}

TEST_F(PhysicsTest, NonFiniteStateIsMendedNotSpread) {
  ground.build(4, 1.0f, [](float, float) { return 0.0f; }, 1.0f);
  Rider *a = place(10, 16, 0, 0.02f);
  Rider *b = place(22, 16, 1, 0.02f);
  ASSERT_NE(a, nullptr);
  ASSERT_NE(b, nullptr);
  run(16);
  dBodySetLinearVel(a->body[SWINGARM], NAN, 0, 0);
  a->engine_speed = INFINITY;
  run(64);
  EXPECT_EQ(a->nonfinite_resets, 1);
  for (Rider *r : {a, b})
    for (int i = 0; i < BODY_PART_COUNT; i++) {
      const dReal *p = dBodyGetPosition(r->body[i]);
      EXPECT_TRUE(std::isfinite(p[0]) && std::isfinite(p[1]) && std::isfinite(p[2]));
    }
  // Mended where it was, standing on the ground.
  EXPECT_NEAR(dBodyGetPosition(a->body[FRAME])[0], 10, 1.0);
  EXPECT_EQ(b->nonfinite_resets, 0);
}

// What would make ODE give up the whole step is mended before it: forces
// that are not numbers (from a robot's driving, say), joint anchors that
// are not, a setup that leaves a body without mass or sets a spring to not
// a number, a contact with no place or direction. The step never needs its
// escape, the rider rides on and the other rider never notices.
static void (*spoil_once)(Rider *r);
TEST_F(PhysicsTest, WhatTheStepCannotTakeIsMendedBeforeIt) {
  struct Case {
    const char *name;
    void (*drive)(Rider *r);        // as a robot's driving, after one step
    void (*before_step)(Rider *r);  // after the next tic's contacts
    bool mended;                    // put back on its wheels
  } cases[] = {
      {"force", [](Rider *r) { dBodyAddForce(r->body[FRAME], NAN, 0, 0); }, nullptr, false},
      {"torque", [](Rider *r) { dBodyAddTorque(r->body[SWINGARM], 0, INFINITY, 0); }, nullptr,
       false},
      {"setup",
       [](Rider *r) {
         RiderAdjust a;
         RiderSetup s;
         setup_defaults(&s);
         setup_convert(&s, rider_model(r), 1, &a);
         for (double share : {0.0, -1.0, 1.0, 5.0, double(NAN)}) {
           a.rider_mass_distribution = share;
           rider_set_adjust(r, &a);
         }
         a.rider_zdamping = NAN;
         a.fork_spring = INFINITY;
         rider_set_adjust(r, &a);
       },
       nullptr, false},
      {"anchor", nullptr,
       [](Rider *r) { dJointSetHingeAnchor(r->joint[JOINT_SWINGARM], NAN, 0, 0); }, true},
      {"reattached", nullptr,
       [](Rider *r) {
         // Attached while its body is lost, the joint takes the lost place
         // for its anchor.
         const dReal *p = dBodyGetPosition(r->body[RIDER_BODY]);
         double keep[3] = {p[0], p[1], p[2]};
         dBodySetPosition(r->body[RIDER_BODY], NAN, 0, 0);
         dJointAttach(r->joint[JOINT_RIDER], r->body[RIDER_BODY], r->body[FRAME]);
         dBodySetPosition(r->body[RIDER_BODY], keep[0], keep[1], keep[2]);
       },
       true},
      {"contact", nullptr,
       [](Rider *r) {
         const double at[3] = {16, 0, 16}, nowhere[3] = {NAN, 0, 0};
         const double up[3] = {0, 1, 0}, none[3] = {0, 0, 0};
         soft_joint(r->body[FRAME], nullptr, nowhere, up, 0.1, 2500, 250, 1);
         soft_joint(r->body[FRAME], nullptr, at, none, 0.1, 2500, 250, 1);
         soft_joint(r->body[FRAME], nullptr, at, up, NAN, 2500, 250, 1);
         soft_joint(r->body[FRAME], nullptr, at, up, 0.1, INFINITY, 250, 1);
       },
       false},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_EQ(physics_init(), 1);
    ground.build(5, 1.0f, [](float, float) { return 0.0f; }, 1.0f);
    Rider *r = place(16, 16, 0, 0.02f);
    Rider *other = place(48, 16, 1, 0.02f);
    ASSERT_NE(r, nullptr);
    ASSERT_NE(other, nullptr);
    const double v[3] = {0, 0, -10};
    rider_set_velocity(r, v);
    rider_set_velocity(other, v);
    run(16);
    spoil_once = c.drive;
    physics_hooks.robot_drive = [](Rider *x) {
      if (x->slot != 0 || !spoil_once) return;
      spoil_once(x);
      spoil_once = nullptr;
    };
    run(1);
    physics_contacts();
    if (c.before_step) c.before_step(r);
    physics_step();
    physics_update_riders();
    physics.now_tic++;
    run(64);
    EXPECT_EQ(physics.step_escapes, 0);
    EXPECT_TRUE(rider_finite(r));
    EXPECT_EQ(r->nonfinite_resets, c.mended ? 1 : 0);
    EXPECT_EQ(other->nonfinite_resets, 0);
    EXPECT_NEAR(rider_speed(other), 10, 1);
    if (!c.mended) {
      // Riding on beside the other.
      EXPECT_NEAR(dBodyGetPosition(r->body[FRAME])[2], dBodyGetPosition(other->body[FRAME])[2], 0.5);
    }
    for (int i = 0; i < BODY_PART_COUNT; i++) {
      dMass m;
      dBodyGetMass(r->body[i], &m);
      EXPECT_GT(m.mass, 0) << i;
    }
    EXPECT_TRUE(std::isfinite(r->rider_zdamping) && std::isfinite(r->fork_spring));
    physics_shutdown();
    physics_hooks = PhysicsHooks();
  }
}

TEST_F(PhysicsTest, LocalSimulationWeightDisablesAtAQuarter) {
  ground.build(4, 1.0f, [](float, float) { return 0.0f; }, 1.0f);
  Rider *r = place(16, 16);
  ASSERT_NE(r, nullptr);
  set_local_simulation_weight(r, 0.2501f);
  EXPECT_TRUE(dBodyIsEnabled(r->body[FRAME]));
  set_local_simulation_weight(r, 0.25f);
  EXPECT_FALSE(dBodyIsEnabled(r->body[FRAME]));
  set_local_simulation_weight(r, NAN);
  EXPECT_EQ(r->weight, 0);
}

TEST_F(PhysicsTest, ForkForceFadesAtTopOutAndStaysFiniteBottomedOut) {
  ground.build(4, 1.0f, [](float, float) { return 0.0f; }, 1.0f);
  Rider *r = place(16, 16);
  ASSERT_NE(r, nullptr);
  const BikeModel *m = rider_model(r);
  double T = m->fork_travel;
  // Fully extended the fork pushes nothing, whatever its speed.
  for (double v : {-3.0, 0.0, 3.0}) EXPECT_EQ(fork_force(r, 0, v), 0) << v;
  // The fade is linear over the last 1/32 of travel (a big preload keeps
  // the spring itself all but constant there).
  Rider stiff = *r;
  stiff.fork_preload = 1000;
  double edge = fork_force(&stiff, -T / 32, 0);
  EXPECT_GT(edge, 0);
  EXPECT_NEAR(fork_force(&stiff, -T / 64, 0) / edge, 0.5, 1e-3);
  EXPECT_NEAR(fork_force(&stiff, -T / 16, 0) / edge, 1, 1e-3);
  // Bottomed out and beyond, the air spring is large and finite, and no
  // stiffer past the end of travel than at it.
  double full = fork_force(r, -T, 0);
  EXPECT_TRUE(std::isfinite(full));
  EXPECT_GT(full, (r->fork_preload + T) * r->fork_spring + 1);  // the air spring adds
  EXPECT_NEAR(fork_force(r, -2 * T, 0) - full, T * r->fork_spring, 1e-6 * full);
  // Compressing adds damping, extending takes it away.
  EXPECT_GT(fork_force(r, -T / 2, -2), fork_force(r, -T / 2, 0));
  EXPECT_LT(fork_force(r, -T / 2, 2), fork_force(r, -T / 2, 0));
  // The shock likewise holds nothing at full extension.
  EXPECT_EQ(shock_torque(r, 0, 0), 0);
  EXPECT_GT(shock_torque(r, -m->swingarm_travel / 2, 0), 0);
}

TEST_F(PhysicsTest, HalfClutchQuartersTheCouplingAndLimitsTheWindUp) {
  ground.build(4, 1.0f, [](float, float) { return 0.0f; }, 1.0f);
  Rider *r = place(16, 16);
  ASSERT_NE(r, nullptr);
  r->auto_clutch_rpm = -5000;  // the automatic clutch fully in at any rpm
  dBodyID wheel = r->body[REAR_WHEEL];
  double theta = dJointGetHingeAngle(r->joint[JOINT_REAR_AXLE]);
  double torque[2];
  for (int k = 0; k < 2; k++) {
    rider_set_clutch(r, k ? 0.5f : 1.0f);
    r->phase = theta + 0.05;
    r->engine_speed = 0;
    dBodySetTorque(wheel, 0, 0, 0);
    engine_update(r);
    torque[k] = dBodyGetTorque(wheel)[0];
  }
  EXPECT_LT(torque[0], 0);  // wound forwards, it drives the wheel forwards
  EXPECT_NEAR(torque[1], torque[0] / 4, 1e-9 * std::fabs(torque[0]));
  // Wound a radian either way, the half-engaged clutch slips to pi/8 (the
  // flywheel's reply then unwinds it a little).
  for (double wind : {1.0, -1.0}) {
    r->phase = theta + wind;
    r->engine_speed = 0;
    engine_update(r);
    double d = (r->phase - theta) * wind;
    EXPECT_LE(d, M_PI / 8 + 1e-12) << wind;
    EXPECT_GT(d, M_PI / 10) << wind;
  }
}

TEST_F(PhysicsTest, RollingResistanceGrowsWithLoadAndFadesWhenSlow) {
  // The ground's one rolling-resistance point is (5, 15).
  ground.build(4, 1.0f, [](float, float) { return 0.0f; }, 1.0f);
  Rider *r = place(16, 16);
  ASSERT_NE(r, nullptr);
  WheelContact *w = &r->wheel[0];
  move_rider(r, 0, -0.1 * w->tire_radius, 0);
  const struct {
    double speed, force;
  } cases[] = {{0.5, 0.5 * (5 + 0.1 * 10)}, {10, 5 + 0.1 * 10}, {0, 0}};
  for (const auto &c : cases) {
    dBodySetLinearVel(w->body, 0, 0, -c.speed);
    dBodySetAngularVel(w->body, 0, 0, 0);
    dBodySetForce(w->body, 0, 0, 0);
    ASSERT_TRUE(wheel_ground_contact(r, w, 1));
    dJointGroupEmpty(physics.contacts);
    EXPECT_NEAR(w->depth, 0.1 * w->tire_radius, 1e-5);
    const dReal *f = dBodyGetForce(w->body);
    EXPECT_NEAR(f[2], c.force, 1e-3) << c.speed;
    EXPECT_NEAR(f[0], 0, 1e-9);
    EXPECT_NEAR(f[1], 0, 1e-9);
  }
}
