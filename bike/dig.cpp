// Between the wheels and the ground: each tic the contact records of the
// physics become the terrain's wheel inputs for ruts and roost, and every
// rider slot keeps the rut state of its two wheels.
#include "bike/dig.h"

#include <cstring>

static WheelRutState rut_states[RIDER_SLOTS][2];
static int roost_caps[RIDER_SLOTS];
static int roost_cap_tic[RIDER_SLOTS];
static void (*previous_reset)(Rider *r);

void dig_wheel_input(const WheelContact *w, WheelInput *in) {
  memset(in, 0, sizeof *in);
  for (int k = 0; k < 3; k++) {
    in->position[k] = w->position[k];
    in->normal[k] = w->normal[k];
    in->slip[k] = w->slip[k];
    in->force[k] = float(w->feedback.f1[k]);
  }
  in->axle[0] = 1.0f;
  if (!w->body) return;  // no body: never touching
  in->depth = w->depth;
  const dReal *p = dBodyGetPosition(w->body);
  const dReal *v = dBodyGetLinearVel(w->body);
  const dReal *a = dBodyGetAngularVel(w->body);
  const dReal *r = dBodyGetRotation(w->body);
  for (int k = 0; k < 3; k++) {
    in->center[k] = float(p[k]);
    in->velocity[k] = float(v[k]);
    in->angular[k] = float(a[k]);
    in->axle[k] = float(r[4 * k]);  // first column: the body's +x
  }
}

static int slot_of(const Rider *r) {
  int s = int(r - riders);
  return s >= 0 && s < RIDER_SLOTS ? s : -1;
}

static int wheel_of(const Rider *r, const WheelContact *w) {
  if (w == &r->wheel[0]) return 0;
  if (w == &r->wheel[1]) return 1;
  return -1;
}

WheelRutState *dig_rut_state(int slot, int wheel) {
  if (slot < 0 || slot >= RIDER_SLOTS || wheel < 0 || wheel > 1) return nullptr;
  return &rut_states[slot][wheel];
}

void dig_wheel_rut(Rider *r, const WheelContact *w) {
  int s = slot_of(r), k = wheel_of(r, w);
  if (s < 0 || k < 0) return;
  WheelInput in;
  dig_wheel_input(w, &in);
  erode_wheel_update(&rut_states[s][k], &in, k == 0, physics.now_tic);
}

void dig_wheel_roost(Rider *r, const WheelContact *w, float max_angle) {
  int s = slot_of(r), k = wheel_of(r, w);
  if (s < 0 || k < 0) return;
  // One cap per rider and tic, shared by both wheels.
  if (roost_cap_tic[s] != physics.now_tic || k == 0) {
    roost_caps[s] = roost_cap(roost_density);
    roost_cap_tic[s] = physics.now_tic;
  }
  if (roost_caps[s] <= 0) return;
  WheelInput in;
  dig_wheel_input(w, &in);
  roost_emit(&in, roost_caps[s], max_angle, physics.now_tic);
}

void dig_rider_reset(Rider *r) {
  int s = slot_of(r);
  if (s >= 0) {
    erode_wheel_reset(&rut_states[s][0]);
    erode_wheel_reset(&rut_states[s][1]);
  }
  if (previous_reset) previous_reset(r);
}

void dig_reset_all() {
  for (auto &slot : rut_states)
    for (WheelRutState &w : slot) erode_wheel_reset(&w);
  for (int &t : roost_cap_tic) t = -1;
}

void dig_attach() {
  physics_hooks.wheel_rut = dig_wheel_rut;
  physics_hooks.wheel_roost = dig_wheel_roost;
  if (physics_hooks.rider_reset != dig_rider_reset) {
    previous_reset = physics_hooks.rider_reset;
    physics_hooks.rider_reset = dig_rider_reset;
  }
}
