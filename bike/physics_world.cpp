// The one ODE world every rider lives in, its contact group, and the order
// of a tic: contacts, samples, step, then each rider's update.
#include <cmath>
#include <csetjmp>
#include <cstdarg>
#include <cstdio>

#include "bike/rider.h"
#include "bike/rider_internal.h"
#include "core/log.h"

PhysicsWorld physics;
PhysicsHooks physics_hooks;
PhysicsOptions physics_options;

static int ode_started;
// Set while the world steps: ODE ends the process when its error and debug
// handlers return, so a fault inside the step jumps back out instead.
static jmp_buf *ode_escape;

static void ode_report(const char *kind, int num, const char *msg, va_list ap) {
  char text[512];
  vsnprintf(text, sizeof text, msg, ap);
  log_printf("ODE %s %d: %s\n", kind, num, text);
}
static void ode_error(int num, const char *msg, va_list ap) {
  ode_report("error", num, msg, ap);
  if (ode_escape) longjmp(*ode_escape, 1);
}
static void ode_debug(int num, const char *msg, va_list ap) {
  ode_report("debug", num, msg, ap);
  if (ode_escape) longjmp(*ode_escape, 1);
}
static void ode_message(int num, const char *msg, va_list ap) {
  ode_report("message", num, msg, ap);
}

int physics_init() {
  if (physics.world) return 1;
  if (!ode_started) {
    dInitODE2(0);
    ode_started = 1;
  }
  dSetErrorHandler(ode_error);
  dSetDebugHandler(ode_debug);
  dSetMessageHandler(ode_message);
  if (!dCheckConfiguration("ODE_double_precision")) {
    log_printf("ODE is not built with double precision: the physics can't run\n");
    return 0;
  }
  physics.world = dWorldCreate();
  if (!physics.world) {
    log_printf("Can't create the physics world\n");
    return 0;
  }
  dWorldSetGravity(physics.world, 0, -GRAVITY, 0);
  physics.contacts = dJointGroupCreate(0);
  physics.now_tic = 0;
  physics.drop_tic = 0;
  physics.step_escapes = 0;
  for (int &e : physics.extra_down) e = 0;
  return 1;
}

void physics_shutdown() {
  for (Rider &r : riders) destroy_rider(&r);
  if (physics.contacts) dJointGroupDestroy(physics.contacts);
  if (physics.world) dWorldDestroy(physics.world);
  physics.contacts = nullptr;
  physics.world = nullptr;
  if (ode_started) {
    dCloseODE();
    ode_started = 0;
  }
}

void soft_erp_cfm(double kp, double kd, double *erp, double *cfm) {
  double h = TIC_SECONDS;
  double s = h * kp + kd;
  int ok = s > 0 && s < 1e300;  // not NaN, not infinite
  *erp = ok ? h * kp / s : 0;
  *cfm = ok ? 1 / s : 1e9;
}

static int simulated_now(const Rider &r) { return r.in_use && r.weight > 0.25f; }

// How far from its frame's origin any of the rider's collision spheres and
// tires can reach: two riders farther apart than their reaches together
// meet nowhere, and their pair is not searched.
static double rider_reach(const Rider &r) {
  const dReal *f = dBodyGetPosition(r.body[FRAME]);
  double reach = 0;
  for (int part = 0; part < BODY_PART_COUNT; part++) {
    const dReal *p = dBodyGetPosition(r.body[part]);
    double d[3] = {p[0] - f[0], p[1] - f[1], p[2] - f[2]};
    double own = part == FRONT_WHEEL || part == REAR_WHEEL
                     ? double(r.wheel[part == REAR_WHEEL].rim_radius) +
                           r.wheel[part == REAR_WHEEL].tire_radius
                     : double(r.shape[part].spheres.empty() ? 0 : r.shape[part].bound_radius);
    double x = sqrt(dot3(d, d)) + own;
    reach = x > reach ? x : reach;
  }
  return reach;
}

void physics_contacts() {
  for (Rider &r : riders)
    if (simulated_now(r)) rider_guard(&r);
  // A replayed rider knocked loose is simulated here for a while and needs
  // the ground under it as much as any other.
  for (Rider &r : riders)
    if (simulated_now(r)) rider_collide_world(&r);
  // Riders simulated here meet each other through joints; a replayed rider
  // feels forces only, and only where the race allows it.
  int used[RIDER_SLOTS], n = 0;
  double at[RIDER_SLOTS][3];  // frames, for the far apart pairs that meet nothing
  double reach[RIDER_SLOTS];
  for (int i = 0; i < RIDER_SLOTS; i++)
    if (riders[i].in_use) {
      const dReal *p = dBodyGetPosition(riders[i].body[FRAME]);
      at[n][0] = p[0], at[n][1] = p[1], at[n][2] = p[2];
      reach[n] = rider_reach(riders[i]);
      used[n++] = i;
    }
  for (int i = 0; i < n; i++) {
    Rider &a = riders[used[i]];
    for (int k = i + 1; k < n; k++) {
      Rider &b = riders[used[k]];
      if (a.simulated && b.simulated) {
        double d[3] = {at[k][0] - at[i][0], at[k][1] - at[i][1], at[k][2] - at[i][2]};
        if (dot3(d, d) > RIDERS_MEET * RIDERS_MEET) continue;
        // (A thousandth of a foot over, for rounding.)
        const double both = reach[i] + reach[k] + 1e-3;
        if (dot3(d, d) > both * both) continue;
        if (simulated_now(a) && simulated_now(b)) rider_collide_riders(&a, &b, CONTACT_JOINTS);
      } else if (a.simulated != b.simulated) {
        Rider &own = a.simulated ? a : b, &other = a.simulated ? b : a;
        if (simulated_now(own) && physics_hooks.meets_replayed &&
            physics_hooks.meets_replayed(&own, &other))
          rider_collide_riders(&own, &other, CONTACT_FORCES);
      }
    }
  }
}

void physics_wheel_samples() {
  // The occupied slots in order, visited from a start that moves on by one
  // each tic, so no rider's roost always goes first.
  int used[RIDER_SLOTS], n = 0;
  for (int i = 0; i < RIDER_SLOTS; i++)
    if (riders[i].in_use) used[n++] = i;
  if (n == 0) return;
  int start = physics.now_tic % n;
  if (start < 0) start += n;
  for (int k = 0; k < n; k++) {
    Rider &r = riders[used[(start + k) % n]];
    // Replayed riders have no contacts of their own: their wheels are
    // sampled against the ground for the roost.
    if (!r.simulated && r.sample_tic != physics.now_tic) {
      for (int w = 0; w < 2; w++) wheel_ground_sample(&r.wheel[w]);
      r.sample_tic = physics.now_tic;
    }
    if (physics_hooks.wheel_roost) {
      physics_hooks.wheel_roost(&r, &r.wheel[0], float(M_PI / 8));
      physics_hooks.wheel_roost(&r, &r.wheel[1], float(2 * M_PI));
    }
  }
}

// A step ODE gave up on leaves every body in doubt: each rider is put back
// on its wheels where it last was.
static void step_failed() {
  log_printf("Physics step failed; riders reset\n");
  physics.step_escapes++;
  dJointGroupEmpty(physics.contacts);
  for (Rider &r : riders)
    if (r.in_use) rider_mend(&r);
}

void physics_step() {
  for (Rider &r : riders)
    if (r.in_use) rider_step_check(&r);
  // The last resort: ODE gave up on the step all the same.
  static jmp_buf env;
  if (setjmp(env) == 0) {
    ode_escape = &env;
    dWorldStep(physics.world, TIC_SECONDS);
    ode_escape = nullptr;
    if (physics_options.strict_friction)
      for (Rider &r : riders)
        if (r.in_use && r.simulated)
          for (WheelContact &w : r.wheel) wheel_friction_learn(&w);
  } else {
    ode_escape = nullptr;
    step_failed();
  }
  dJointGroupEmpty(physics.contacts);
  if (physics_hooks.wheel_rut)
    for (Rider &r : riders)
      if (r.in_use && r.simulated) {
        physics_hooks.wheel_rut(&r, &r.wheel[0]);
        physics_hooks.wheel_rut(&r, &r.wheel[1]);
      }
}

void rider_weight_countdown(Rider *r) {
  if (r && r->in_use && !r->simulated && r->weight > 0)
    set_local_simulation_weight(r, r->weight - 1.0f / 128);
}

int rider_updated_here(const Rider *r) { return r && r->in_use && r->weight > 0.25f; }

void physics_update_riders() {
  for (Rider &r : riders) {
    if (!r.in_use) continue;
    rider_weight_countdown(&r);
    if (rider_updated_here(&r)) rider_update(&r);
  }
}

void physics_tic() {
  physics_contacts();
  physics_wheel_samples();
  physics_step();
  physics_update_riders();
  physics.now_tic++;
}
