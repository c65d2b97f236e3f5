// The floor under the bike benchmark: ODE's own step for riders of the
// same body layout as the game's (seven bodies, six joints, the fork and
// shock motors) standing on four soft contacts each (the two tires and the
// rider body's two attachment springs), with no collision search and no
// rider update. Whatever the simulation costs above this is the program's
// own. All four contacts carry friction rows: the targets (1.3x without
// ruts, 1.5x with ruts and roost) were set against that floor, and with it
// the code before the faster contact search measures the 1.6x / 1.9x they
// were set from; the game's frictionless springs would make the floor
// about 20 % cheaper and move the goalposts, not the simulation.
#pragma once
#include <cmath>
#include <ctime>

#include "bike/rider_internal.h"

// Tires on the plane y = 0: one contact under each wheel centre.
static void floor_tires(Rider *r) {
  for (WheelContact &w : r->wheel) {
    const dReal *c = dBodyGetPosition(w.body);
    double depth = double(w.rim_radius) + w.tire_radius - c[1];
    if (!(depth > 0)) continue;
    double k = std::fmin(depth / w.tire_radius, 1.0);
    double k3 = k * k * k;
    dContact ct{};
    ct.surface.mode = CONTACT_MODE | dContactFDir1;
    ct.surface.mu = 1;
    soft_erp_cfm(24000 * k3 + 1000, 2300 * k3 + 200, &ct.surface.soft_erp, &ct.surface.soft_cfm);
    ct.geom.pos[0] = c[0];
    ct.geom.pos[1] = 0;
    ct.geom.pos[2] = c[2];
    ct.geom.normal[1] = 1;
    ct.geom.depth = depth;
    ct.fdir1[2] = -1;
    dJointID j = dJointCreateContact(physics.world, physics.contacts, &ct);
    dJointAttach(j, w.body, nullptr);
    dJointSetFeedback(j, &w.feedback);
  }
}

// The rider body held at its riding point along the frame's y and z axes.
static void floor_rider_springs(Rider *r) {
  double home[3];
  riding_point(r, home);
  const dReal *p = dBodyGetPosition(r->body[RIDER_BODY]);
  const dReal *R = dBodyGetRotation(r->body[FRAME]);
  double e[3] = {p[0] - home[0], p[1] - home[1], p[2] - home[2]};
  double m = rider_model(r)->rider_mass * 0.21333333333333335;
  for (int axis = 1; axis < 3; axis++) {
    double a[3] = {R[axis], R[4 + axis], R[8 + axis]};
    double d = e[0] * a[0] + e[1] * a[1] + e[2] * a[2];
    double s = d > 0 ? -1 : 1;
    double n[3] = {a[0] * s, a[1] * s, a[2] * s};
    double pos[3] = {p[0], p[1], p[2]};
    soft_joint(r->body[RIDER_BODY], r->body[FRAME], pos, n, std::fabs(d), 300 * m, 75 * m, 1);
  }
}

static void floor_motors(Rider *r) {
  dJointID fork = r->joint[JOINT_FORK];
  double F = fork_force(r, dJointGetSliderPosition(fork), dJointGetSliderPositionRate(fork));
  dJointSetSliderParam(fork, dParamVel, F < 0 ? 0 : 100);
  dJointSetSliderParam(fork, dParamFMax, std::fabs(F));
  dJointID arm = r->joint[JOINT_SWINGARM];
  double T = shock_torque(r, dJointGetHingeAngle(arm), dJointGetHingeAngleRate(arm));
  dJointSetHingeParam(arm, dParamVel, T < 0 ? 0 : 100);
  dJointSetHingeParam(arm, dParamFMax, std::fabs(T));
}

static void floor_tic(int count) {
  for (int i = 0; i < count; i++) {
    Rider *r = &riders[i];
    floor_tires(r);
    floor_rider_springs(r);
    floor_motors(r);
  }
  dWorldStep(physics.world, TIC_SECONDS);
  dJointGroupEmpty(physics.contacts);
}

// CPU microseconds per rider and tic of the bare step for `count` riders
// (no more than the slots), over `tics` tics after a second of settling.
// Negative when a rider of the rig fell over or went non-finite, so the
// figure would not be the step of riders standing on their wheels.
static double floor_rider_tic_us(int count, int tics) {
  if (!physics_init()) return -1;
  PhysicsHooks saved = physics_hooks;
  physics_hooks = PhysicsHooks();
  if (count > RIDER_SLOTS) count = RIDER_SLOTS;
  for (int i = 0; i < count; i++) {
    Rider *r = create_rider(i, "yz250f(2017)", 1, "1", nullptr, nullptr, nullptr, nullptr);
    if (!r) return -1;
    // Upright on the plane, each 20 ft behind the last; x stays 0 so the
    // bike is exactly symmetric and does not topple.
    const BikeModel *m = rider_model(r);
    double bottom = m->front_wheel_pos[1] - m->front_rim_radius - m->front_tire_radius;
    move_rider(r, 0, 0.02 - bottom, 20.0 * i);
    dJointSetHinge2Param(r->joint[JOINT_RIDER], dParamSuspensionCFM,
                         1.0 / (m->rider_mass * 0.21333333333333335 * 27.5));
  }
  for (int t = 0; t < 128; t++) floor_tic(count);
  std::clock_t c0 = std::clock();
  for (int t = 0; t < tics; t++) floor_tic(count);
  double cpu = double(std::clock() - c0) / CLOCKS_PER_SEC;
  int upright = 1;
  for (int i = 0; i < count; i++)
    if (!rider_finite(&riders[i]) || std::fabs(rider_lean(&riders[i])) > 0.1) upright = 0;
  physics_shutdown();
  physics_hooks = saved;
  double us = 1e6 * cpu / (double(count) * tics);
  return upright ? us : -us;
}
