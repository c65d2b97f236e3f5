// The rigid-body rider: bodies, masses and joints of bike and rider, their
// start poses, placement, the suspension and rider-attachment forces, and
// the order of one rider's update.
#include <cmath>
#include <cstdio>
#include <cstring>

#include "core/core.h"
#include "bike/rider.h"
#include "bike/rider_internal.h"
#include "core/log.h"

Rider riders[RIDER_SLOTS];

static int vec_finite(const dReal *v) {
  return std::isfinite(v[0]) && std::isfinite(v[1]) && std::isfinite(v[2]);
}

const BikeModel *rider_model(const Rider *r) { return &bike_models[r->model]; }

static const float *part_start(const BikeModel *m, int part) {
  switch (part) {
    case FRAME: return m->frame_pos;
    case FRONT_WHEEL: return m->front_wheel_pos;
    case REAR_WHEEL: return m->rear_wheel_pos;
    case FORK_UPPER: return m->steering_head_pos;
    case FORK_LOWER: return m->fork_lower_pos;
    case SWINGARM: return m->swingarm_pos;
    default: return m->rider_pos;
  }
}

// ----------------------------------------------------------------- masses
// Sums of offset parts leave a rounding-sized centre; ODE insists on zero.
static void recentre(dMass *m) { dMassTranslate(m, -m->c[0], -m->c[1], -m->c[2]); }

static void wheel_mass(dMass *out, double hub_mass, double hub_radius, double tire_mass,
                       double tire_radius, double rim_radius) {
  dMassSetSphereTotal(out, hub_mass, hub_radius);
  dMatrix3 step;
  dRFromAxisAndAngle(step, 1, 0, 0, M_PI / 8);
  for (int i = 0; i < 16; i++) {
    dMass s;
    dMassSetSphereTotal(&s, tire_mass / 16, tire_radius);
    dMassTranslate(&s, 0, rim_radius, 0);
    for (int k = 0; k < i; k++) dMassRotate(&s, step);
    dMassAdd(out, &s);
  }
  recentre(out);
}

static void fork_mass(dMass *out, const BikeModel *m) {
  dMass a, b;
  double spacing = m->fork_leg_spacing;
  dMassSetCylinderTotal(&a, m->fork_mass / 2, 3, spacing / 8, m->fork_length * 2.0 / 3.0);
  b = a;
  dMassTranslate(&a, spacing / 2, 0, 0);
  dMassTranslate(&b, -spacing / 2, 0, 0);
  dMassAdd(&a, &b);
  double rake = atan(double(m->fork_lower_pos[2] - m->steering_head_pos[2]) /
                     double(m->fork_lower_pos[1] - m->steering_head_pos[1]));
  dMatrix3 R;
  dRFromAxisAndAngle(R, 1, 0, 0, rake);
  dMassRotate(&a, R);
  recentre(&a);
  *out = a;
}

static void swingarm_mass(dMass *out, const BikeModel *m) {
  double w = m->frame_box[0];
  double dx = double(m->rear_wheel_pos[0]) - m->swingarm_pivot[0];
  double dy = double(m->rear_wheel_pos[1]) - m->swingarm_pivot[1];
  double dz = double(m->rear_wheel_pos[2]) - m->swingarm_pivot[2];
  double L = sqrt(dx * dx + dy * dy + dz * dz);
  dMass a, b;
  dMassSetBoxTotal(&a, m->swingarm_half_mass, w / 4, w / 4, L);
  b = a;
  dMassTranslate(&a, w / 2, 0, 0);
  dMassTranslate(&b, -w / 2, 0, 0);
  dMassAdd(&a, &b);
  dMatrix3 R;
  dRFromAxisAndAngle(R, 1, 0, 0, -atan(dy / dz));
  dMassRotate(&a, R);
  recentre(&a);
  *out = a;
}

// Frame and rider body share the rider's mass by `x`, the rider body's part.
// A share that would leave either without mass is refused: ODE ends the
// program on a body without mass.
void rider_set_masses(Rider *r, double x) {
  const BikeModel *m = rider_model(r);
  if (!(x >= 0.01 && x <= 0.99)) {
    log_printf("Rider %d: rider mass share %g refused\n", r->slot, x);
    x = x > 0.99 ? 0.99 : (x < 0.01 ? 0.01 : 1.0 / 3.0);  // not a number: the default
  }
  dMass mass;
  dMassSetBoxTotal(&mass, m->frame_mass + m->rider_mass * (1 - x), m->frame_box[0],
                   m->frame_box[1], m->frame_box[2]);
  dBodySetMass(r->body[FRAME], &mass);
  dMassSetSphereTotal(&mass, m->rider_mass * x, 1.0);
  dBodySetMass(r->body[RIDER_BODY], &mass);
  double total = 0;
  for (int i = 0; i < BODY_PART_COUNT; i++) {
    dBodyGetMass(r->body[i], &mass);
    total += mass.mass;
  }
  r->total_mass = float(total);
}

static void set_all_masses(Rider *r) {
  const BikeModel *m = rider_model(r);
  dMass mass;
  wheel_mass(&mass, m->front_hub_mass, m->front_hub_radius, m->front_tire_mass,
             m->front_tire_radius, m->front_rim_radius);
  dBodySetMass(r->body[FRONT_WHEEL], &mass);
  wheel_mass(&mass, m->rear_hub_mass, m->rear_hub_radius, m->rear_tire_mass,
             m->rear_tire_radius, m->rear_rim_radius);
  dBodySetMass(r->body[REAR_WHEEL], &mass);
  fork_mass(&mass, m);
  dBodySetMass(r->body[FORK_UPPER], &mass);
  dBodySetMass(r->body[FORK_LOWER], &mass);
  swingarm_mass(&mass, m);
  dBodySetMass(r->body[SWINGARM], &mass);
  rider_set_masses(r, 1.0 / 3.0);
}

// ----------------------------------------------------------------- joints
static void steering_axis(const BikeModel *m, double out[3]) {
  for (int i = 0; i < 3; i++) out[i] = double(m->steering_head_pos[i]) - m->fork_lower_pos[i];
}

// Anchors, axes and stops of the six joints, the bodies standing at their
// start poses (at creation, and to mend a joint gone bad).
static void joint_geometry(Rider *r) {
  const BikeModel *m = rider_model(r);
  double axis[3];
  steering_axis(m, axis);

  dJointID j = r->joint[JOINT_FRONT_AXLE];
  dJointSetHingeAnchor(j, m->front_wheel_pos[0], m->front_wheel_pos[1], m->front_wheel_pos[2]);
  dJointSetHingeAxis(j, 1, 0, 0);

  j = r->joint[JOINT_REAR_AXLE];
  dJointSetHingeAnchor(j, m->rear_wheel_pos[0], m->rear_wheel_pos[1], m->rear_wheel_pos[2]);
  dJointSetHingeAxis(j, 1, 0, 0);

  j = r->joint[JOINT_STEERING];
  dJointSetHingeAnchor(j, m->steering_head_pos[0], m->steering_head_pos[1],
                       m->steering_head_pos[2]);
  dJointSetHingeAxis(j, axis[0], axis[1], axis[2]);
  dJointSetHingeParam(j, dParamLoStop, -M_PI / 4);
  dJointSetHingeParam(j, dParamHiStop, M_PI / 4);

  j = r->joint[JOINT_FORK];
  dJointSetSliderAxis(j, axis[0], axis[1], axis[2]);
  dJointSetSliderParam(j, dParamBounce, 0);
  dJointSetSliderParam(j, dParamLoStop, -m->fork_travel);
  dJointSetSliderParam(j, dParamHiStop, 0);

  j = r->joint[JOINT_SWINGARM];
  dJointSetHingeAnchor(j, m->swingarm_pivot[0], m->swingarm_pivot[1], m->swingarm_pivot[2]);
  dJointSetHingeAxis(j, 1, 0, 0);
  dJointSetHingeParam(j, dParamBounce, 0);
  dJointSetHingeParam(j, dParamLoStop, -m->swingarm_travel);
  dJointSetHingeParam(j, dParamHiStop, 0);

  // Anchored far ahead: turning about axis 2 moves the rider body nearly
  // straight up and down; axis-1 suspension lets it slide along the
  // up-and-back diagonal.
  j = r->joint[JOINT_RIDER];
  dJointSetHinge2Anchor(j, 0, m->rider_pos[1], -50);
  const dReal a1[3] = {0, 1, 1}, a2[3] = {1, 0, 0};
  dJointSetHinge2Axes(j, a1, a2);
  dJointSetHinge2Param(j, dParamLoStop, 0);
  dJointSetHinge2Param(j, dParamHiStop, 0);
  dJointSetHinge2Param(j, dParamSuspensionERP, 0);
}

static void make_joints(Rider *r) {
  dWorldID w = physics.world;
  dBodyID *b = r->body;
  static const int bodies[RIDER_JOINT_COUNT][2] = {
      {FORK_LOWER, FRONT_WHEEL}, {SWINGARM, REAR_WHEEL}, {FORK_UPPER, FRAME},
      {FORK_UPPER, FORK_LOWER},  {SWINGARM, FRAME},      {RIDER_BODY, FRAME}};
  for (int i = 0; i < RIDER_JOINT_COUNT; i++) {
    dJointID j = i == JOINT_FORK    ? dJointCreateSlider(w, nullptr)
                 : i == JOINT_RIDER ? dJointCreateHinge2(w, nullptr)
                                    : dJointCreateHinge(w, nullptr);
    dJointAttach(j, b[bodies[i][0]], b[bodies[i][1]]);
    r->joint[i] = j;
  }
  joint_geometry(r);
  for (int i = 0; i < RIDER_JOINT_COUNT; i++) dJointSetFeedback(r->joint[i], &r->feedback[i]);
}

// ------------------------------------------------------------- parameters
static void set_defaults(Rider *r) {
  const BikeModel *m = rider_model(r);
  r->final_drive = m->rear_sprocket / m->front_sprocket;
  r->fork_hs_compression = m->fork_hs_compression;
  r->fork_ls_compression = 0;
  r->fork_hs_rebound = m->fork_hs_rebound;
  r->fork_ls_rebound = 0;
  r->fork_spring = m->fork_spring_min + (m->fork_spring_max - m->fork_spring_min) * 0.5f;
  r->fork_preload = m->fork_preload_min + (m->fork_preload_max - m->fork_preload_min) * 0.5f;
  r->fork_air_gap = m->fork_oil_min;
  r->shock_hs_compression = m->shock_hs_compression * 2;
  r->shock_ls_compression = 0;
  r->shock_hs_rebound = m->shock_hs_rebound * 2;
  r->shock_ls_rebound = m->shock_ls_rebound;
  r->shock_spring = m->shock_spring_min + (m->shock_spring_max - m->shock_spring_min) * 0.5f;
  r->shock_preload = m->shock_preload_min + (m->shock_preload_max - m->shock_preload_min) * 0.5f;
  r->rider_yspring = 0.5f;
  r->rider_zspring = 0.5f;
  r->rider_ydamping = 0.75f;
  r->rider_zdamping = 0.75f;
  r->leveling = 20;
  r->roll_damping = 60;
  r->roll_limit_angle = float(M_PI / 4);
  r->roll_limit_factor = 10;
  r->steering_damping = 45;
  r->steering_strength = 75;
  r->max_steering_force = 400;
  r->auto_clutch_rpm = 5000;
  r->front_brake_torque = 250;
  r->rear_brake_torque = 250;
  r->max_dab_speed = 30;
  r->direct_steering = 1;
  r->slow_damping_speed = 0;
  r->slow_damping_factor = 1;
  r->land_rampup = 0.0625f;
  r->land_falloff = 0.25f;
  r->land_factor = 2;
  r->arcade = 0;
  r->full_lock_speed = 10;
  r->restricted_lock_speed = 50;
  r->restricted_lock = 0.08726646f;
  r->flags = RF_STEER_INPUT | RF_WHEELIE_FRONT | RF_FRONT_ANTILOCK | RF_REALIGN;
}

// A value that is not a number leaves the setting as it was.
static float finite_or(double v, float keep) { return std::isfinite(v) ? float(v) : keep; }

void rider_set_adjust(Rider *r, const RiderAdjust *a) {
  r->leveling = finite_or(a->leveling, r->leveling);
  r->roll_damping = finite_or(a->roll_damping, r->roll_damping);
  r->roll_limit_angle = finite_or(a->roll_limit_angle, r->roll_limit_angle);
  r->roll_limit_factor = finite_or(a->roll_limit_factor, r->roll_limit_factor);
  r->steering_damping = finite_or(a->steering_damping, r->steering_damping);
  r->steering_strength = finite_or(a->steering_strength, r->steering_strength);
  r->max_steering_force = finite_or(a->max_steering_force, r->max_steering_force);
  r->arcade = a->arcade ? 1 : 0;
  int f = RF_STEER_INPUT;
  if (a->front_antilock) f |= RF_FRONT_ANTILOCK;
  if (a->rear_antilock) f |= RF_REAR_ANTILOCK;
  if (a->stop_wheelies & 1) f |= RF_WHEELIE_ENGINE;
  if (a->stop_wheelies & 2) f |= RF_WHEELIE_FRONT;
  if (a->auto_shift) f |= RF_AUTO_SHIFT;
  if (a->auto_dab) f |= RF_AUTO_DAB;
  if (a->auto_align) f |= RF_REALIGN;
  r->flags = f;
  r->direct_steering = finite_or(a->direct_steering, r->direct_steering);
  r->slow_damping_speed = finite_or(a->slow_damping_speed, r->slow_damping_speed);
  r->slow_damping_factor = finite_or(a->slow_damping_factor, r->slow_damping_factor);
  r->land_rampup = finite_or(a->land_damping_rampup, r->land_rampup);
  r->land_falloff = finite_or(a->land_damping_falloff, r->land_falloff);
  r->land_factor = finite_or(a->land_damping_factor, r->land_factor);
  r->full_lock_speed = finite_or(a->full_lock_speed, r->full_lock_speed);
  r->restricted_lock_speed = finite_or(a->restricted_lock_speed, r->restricted_lock_speed);
  r->restricted_lock = finite_or(a->restricted_lock, r->restricted_lock);
  r->auto_clutch_rpm = finite_or(a->auto_clutch_rpms, r->auto_clutch_rpm);
  r->front_brake_torque = finite_or(a->brake_torque, r->front_brake_torque);
  r->rear_brake_torque = finite_or(a->rear_brake_torque, r->rear_brake_torque);
  r->max_dab_speed = finite_or(a->max_dab_speed, r->max_dab_speed);
  r->final_drive = finite_or(a->final_drive_ratio, r->final_drive);
  r->fork_hs_compression = finite_or(a->fork_hs_compression, r->fork_hs_compression);
  r->fork_ls_compression = finite_or(a->fork_ls_compression, r->fork_ls_compression);
  r->fork_hs_rebound = finite_or(a->fork_hs_rebound, r->fork_hs_rebound);
  r->fork_ls_rebound = finite_or(a->fork_ls_rebound, r->fork_ls_rebound);
  r->fork_spring = finite_or(a->fork_spring, r->fork_spring);
  r->fork_preload = finite_or(a->fork_preload, r->fork_preload);
  r->fork_air_gap = finite_or(a->fork_air_gap, r->fork_air_gap);
  r->shock_hs_compression = finite_or(a->shock_hs_compression, r->shock_hs_compression);
  r->shock_ls_compression = finite_or(a->shock_ls_compression, r->shock_ls_compression);
  r->shock_hs_rebound = finite_or(a->shock_hs_rebound, r->shock_hs_rebound);
  r->shock_ls_rebound = finite_or(a->shock_ls_rebound, r->shock_ls_rebound);
  r->shock_spring = finite_or(a->shock_spring, r->shock_spring);
  r->shock_preload = finite_or(a->shock_preload, r->shock_preload);
  r->rider_yspring = finite_or(a->rider_yspring, r->rider_yspring);
  r->rider_zspring = finite_or(a->rider_zspring, r->rider_zspring);
  r->rider_ydamping = finite_or(a->rider_ydamping, r->rider_ydamping);
  r->rider_zdamping = finite_or(a->rider_zdamping, r->rider_zdamping);
  rider_set_masses(r, a->rider_mass_distribution);
}

int rider_apply_setup(Rider *r, const RiderSetup *s, int arcade_allowed, double game_time) {
  if (!r || !r->in_use) return 0;
  RiderAdjust a;
  if (!apply_setup(s, rider_model(r), arcade_allowed, rider_speed(r), game_time, &a)) return 0;
  rider_set_adjust(r, &a);
  return 1;
}

// --------------------------------------------------------------- lifetime
static void load_shapes(Rider *r) {
  const BikeModel *m = rider_model(r);
  static const int part_of_body[BODY_PART_COUNT] = {
      PART_FRAME_SHAPE,      PART_FRONT_WHEEL_SHAPE, PART_REAR_WHEEL_SHAPE, PART_FORK_UPPER_SHAPE,
      PART_FORK_LOWER_SHAPE, PART_SWINGARM_SHAPE,    PART_RIDER_SHAPE};
  for (int i = 0; i < BODY_PART_COUNT; i++) {
    CollisionShape &s = r->shape[i];
    s = CollisionShape();
    if (!shape_load(m->part_files[part_of_body[i]], &s)) s = CollisionShape();
  }
}

static void init_wheel(Rider *r, int which) {
  const BikeModel *m = rider_model(r);
  WheelContact &w = r->wheel[which];
  memset(&w, 0, sizeof w);
  w.body = r->body[which ? REAR_WHEEL : FRONT_WHEEL];
  w.axle_point[0] = 1;
  w.rim_radius = which ? m->rear_rim_radius : m->front_rim_radius;
  w.tire_radius = which ? m->rear_tire_radius : m->front_tire_radius;
  w.load_ratio = 1;
  w.joint_tic = -1;
}

Rider *create_rider(int slot, const char *bike_name, int simulated_here, const char *number,
                    const char *rider_texture, const char *head_texture,
                    const char *bike_texture, const char *wheel_texture) {
  if (slot < 0 || slot >= RIDER_SLOTS) {
    log_printf("create_rider: bad slot %d\n", slot);
    return nullptr;
  }
  if (!physics.world) {
    log_printf("create_rider: no physics world\n");
    return nullptr;
  }
  Rider *r = &riders[slot];
  if (r->in_use) destroy_rider(r);
  r->~Rider();
  new (r) Rider();
  r->slot = slot;
  r->model = find_bike_model(bike_name ? bike_name : "");
  r->simulated = simulated_here ? 1 : 0;
  snprintf(r->number, sizeof r->number, "%.3s", number ? number : "");
  snprintf(r->bike_texture, sizeof r->bike_texture, "%s", bike_texture ? bike_texture : "");
  for (int i = 0; i < BODY_PART_COUNT; i++) {
    r->body[i] = dBodyCreate(physics.world);
    dBodySetData(r->body[i], r);
  }
  dBodySetFiniteRotationMode(r->body[FRONT_WHEEL], 1);
  dBodySetFiniteRotationMode(r->body[REAR_WHEEL], 1);
  set_all_masses(r);
  // Joints anchor at the start poses.
  const BikeModel *m = rider_model(r);
  for (int i = 0; i < BODY_PART_COUNT; i++) {
    const float *p = part_start(m, i);
    dBodySetPosition(r->body[i], p[0], p[1], p[2]);
  }
  make_joints(r);
  for (int i = 0; i < 2; i++) init_wheel(r, i);
  load_shapes(r);
  set_defaults(r);
  r->in_use = 1;
  r->weight = r->simulated ? 1.0f : 0.0f;
  reset_rider(r);
  if (!r->simulated) set_local_simulation_weight(r, 0);
  // Graphics are the drawing code's: it reads the rider's row and names.
  const char *const textures[GFX_GROUP_COUNT] = {bike_texture, wheel_texture, rider_texture, head_texture};
  if (physics_hooks.graphics_create) physics_hooks.graphics_create(r, textures);
  return r;
}

void destroy_rider(Rider *r) {
  if (!r || !r->in_use) return;
  if (physics_hooks.graphics_free) physics_hooks.graphics_free(r);
  for (int i = 0; i < RIDER_JOINT_COUNT; i++)
    if (r->joint[i]) dJointDestroy(r->joint[i]);
  for (int i = 0; i < BODY_PART_COUNT; i++)
    if (r->body[i]) dBodyDestroy(r->body[i]);
  r->~Rider();
  new (r) Rider();
}

void reset_rider(Rider *r) {
  if (!r || !r->in_use) return;
  const BikeModel *m = rider_model(r);
  dMatrix3 I;
  dRSetIdentity(I);
  for (int i = 0; i < BODY_PART_COUNT; i++) {
    dBodyID b = r->body[i];
    const float *p = part_start(m, i);
    dBodySetPosition(b, p[0], p[1], p[2]);
    dBodySetRotation(b, I);
    dBodySetLinearVel(b, 0, 0, 0);
    dBodySetAngularVel(b, 0, 0, 0);
    dBodySetForce(b, 0, 0, 0);
    dBodySetTorque(b, 0, 0, 0);
  }
  r->throttle = r->clutch = r->front_brake = r->rear_brake = r->steering = 0;
  r->sit_dab = r->sit_dab_input = r->dab_assist = r->back_up = r->lean = 0;
  r->gear = 0;
  r->shift_request = 0;
  r->phase = 0;
  r->engine_speed = 0;
  r->crash_timer = 0;
  r->crash_count = 0;
  r->bump = 0;
  r->land_level = 1;
  r->takeoff_tic = r->landing_tic = 0;
  r->sigma = 0;
  r->lean_angle = 0;
  memset(r->velocity_ring, 0, sizeof r->velocity_ring);
  memset(r->foot, 0, sizeof r->foot);
  memset(r->foot_vel, 0, sizeof r->foot_vel);
  r->last_rider_hit_tic = -1;
  r->sample_tic = -1;
  for (int i = 0; i < 2; i++) {
    r->wheel[i].depth = 0;
    memset(&r->wheel[i].feedback, 0, sizeof r->wheel[i].feedback);
    r->wheel[i].load_ratio = 1;
    r->wheel[i].joint_tic = -1;
  }
  memset(r->feedback, 0, sizeof r->feedback);
  if (physics_hooks.rider_reset) physics_hooks.rider_reset(r);
  reattach_rider_body(r);
}

void turn_rider(Rider *r, const double axis[3], double angle) {
  if (!r || !r->in_use) return;
  dMatrix3 R;
  dRFromAxisAndAngle(R, axis[0], axis[1], axis[2], angle);
  for (int i = 0; i < BODY_PART_COUNT; i++) {
    dBodyID b = r->body[i];
    const dReal *p = dBodyGetPosition(b);
    dVector3 q;
    dMultiply0_331(q, R, p);
    dMatrix3 B;
    // Rotations compose with what the body already has.
    dMultiply0_333(B, R, dBodyGetRotation(b));
    dBodySetRotation(b, B);
    dBodySetPosition(b, q[0], q[1], q[2]);
    dVector3 v;
    dMultiply0_331(v, R, dBodyGetLinearVel(b));
    dBodySetLinearVel(b, v[0], v[1], v[2]);
    dMultiply0_331(v, R, dBodyGetAngularVel(b));
    dBodySetAngularVel(b, v[0], v[1], v[2]);
  }
}

void move_rider(Rider *r, double dx, double dy, double dz) {
  if (!r || !r->in_use) return;
  for (int i = 0; i < BODY_PART_COUNT; i++) {
    const dReal *p = dBodyGetPosition(r->body[i]);
    dBodySetPosition(r->body[i], p[0] + dx, p[1] + dy, p[2] + dz);
  }
}

void reattach_rider_body(Rider *r) {
  if (!r || !r->in_use) return;
  const BikeModel *m = rider_model(r);
  dBodyID f = r->body[FRAME], b = r->body[RIDER_BODY];
  dVector3 p;
  dBodyGetRelPointPos(f, m->rider_pos[0] - m->frame_pos[0], m->rider_pos[1] - m->frame_pos[1],
                      m->rider_pos[2] - m->frame_pos[2], p);
  dBodySetPosition(b, p[0], p[1], p[2]);
  dBodySetRotation(b, dBodyGetRotation(f));
  dJointAttach(r->joint[JOINT_RIDER], b, f);
}

void set_local_simulation_weight(Rider *r, float w) {
  if (!r || !r->in_use) return;
  if (!(w >= 0)) w = 0;  // NaN too
  if (w > 1) w = 1;
  if (r->weight <= 0.25f)
    for (int i = 0; i < BODY_PART_COUNT; i++) {
      dBodySetForce(r->body[i], 0, 0, 0);
      dBodySetTorque(r->body[i], 0, 0, 0);
    }
  for (int i = 0; i < BODY_PART_COUNT; i++) {
    if (w <= 0.25f)
      dBodyDisable(r->body[i]);
    else
      dBodyEnable(r->body[i]);
  }
  r->weight = w;
}

// ----------------------------------------------------------------- queries
float body_lean_angle(dBodyID b, float previous) {
  const dReal *p = dBodyGetPosition(b);
  dVector3 fwd, up;
  dBodyGetRelPointPos(b, 0, 0, -1, fwd);
  dBodyGetRelPointPos(b, 0, 1, 0, up);
  double hx = fwd[0] - p[0], hz = fwd[2] - p[2];
  double len = sqrt(hx * hx + hz * hz);
  // Pointing straight up or down there is no heading to lean from.
  if (!(len > 1e-9)) return previous;
  hx /= len;
  hz /= len;
  double s = (up[2] - p[2]) * hx - (up[0] - p[0]) * hz;
  s = clampd(s, -1, 1);
  return float(acos(s) - M_PI / 2);
}

float rider_lean(Rider *r) {
  r->lean_angle = body_lean_angle(r->body[FRAME], r->lean_angle);
  return r->lean_angle;
}

float rider_speed(const Rider *r) {
  return float(body_speed(r->body[FRAME]));
}

double rider_rpm(const Rider *r) { return r->engine_speed * 9.549296585513721; }

uint64_t rider_state_hash(const Rider *r, uint64_t h) {
  auto mix = [&h](const void *data, size_t n) {
    const uint8_t *p = static_cast<const uint8_t *>(data);
    for (size_t i = 0; i < n; i++) {
      h ^= p[i];
      h *= 1099511628211ull;
    }
  };
  for (int i = 0; i < BODY_PART_COUNT; i++) {
    dBodyID b = r->body[i];
    mix(dBodyGetPosition(b), sizeof(dReal) * 3);
    mix(dBodyGetQuaternion(b), sizeof(dReal) * 4);
    mix(dBodyGetLinearVel(b), sizeof(dReal) * 3);
    mix(dBodyGetAngularVel(b), sizeof(dReal) * 3);
  }
  mix(&r->engine_speed, sizeof r->engine_speed);
  mix(&r->phase, sizeof r->phase);
  // Strict friction's learnt ratios steer the next step; raw friction has
  // no hidden state.
  if (physics_options.strict_friction)
    for (const WheelContact &w : r->wheel) mix(&w.load_ratio, sizeof w.load_ratio);
  return h;
}

// -------------------------------------------------------------- suspension
double damping_curve(double v, double high, double low) {
  double x = v * high;
  double knee = x + low;
  double steep = 8 * x;
  double f = steep < knee ? steep : knee;
  double floor = 0.125 * x;
  return f > floor ? f : floor;
}

void linkage_curve(const BikeModel *m, double x, double *s, double *slope) {
  double brk = m->linkage_break;
  double a0, d, m0, m1, l, t;
  if (x <= brk) {
    l = brk;
    t = l > 0 ? x / l : 1;
    a0 = 0;
    d = m->linkage_mid_travel;
    m0 = m->linkage_slope_start;
    m1 = m->linkage_slope_mid;
  } else {
    l = 1 - brk;
    t = l > 0 ? (x - brk) / l : 1;
    a0 = m->linkage_mid_travel;
    d = double(m->linkage_full_travel) - m->linkage_mid_travel;
    m0 = m->linkage_slope_mid;
    m1 = m->linkage_slope_end;
  }
  double c1 = m0 * l, c2 = 3 * d - 2 * m0 * l - m1 * l, c3 = m0 * l + m1 * l - 2 * d;
  *s = a0 + c1 * t + c2 * t * t + c3 * t * t * t;
  *slope = l > 0 ? (c1 + 2 * c2 * t + 3 * c3 * t * t) / l : m1;
}

double fork_force(const Rider *r, double p, double v) {
  const BikeModel *m = rider_model(r);
  double damp = v < 0 ? damping_curve(-v, r->fork_hs_compression, r->fork_ls_compression)
                      : -damping_curve(v, r->fork_hs_rebound, r->fork_ls_rebound);
  double F = (r->fork_preload - p) * r->fork_spring + damp;
  if (p <= 0) {
    double T = m->fork_travel, g = r->fork_air_gap;
    double c = -p < T ? -p : T;
    F += 82.4616928100586 * (pow((g + T) / (g + T - c), 1.4) - 1);
  }
  return F * clampd(-32 * p / m->fork_travel, 0, 1);
}

double shock_torque(const Rider *r, double a, double w_rate) {
  const BikeModel *m = rider_model(r);
  double x = clampd(-a / m->swingarm_travel, 0, 1);
  double s, ds;
  linkage_curve(m, x, &s, &ds);
  double w = w_rate * ds;
  double damp = w < 0 ? damping_curve(-w, r->shock_hs_compression, r->shock_ls_compression)
                      : -damping_curve(w, r->shock_hs_rebound, r->shock_ls_rebound);
  return clampd(-32 * a / m->swingarm_travel, 0, 1) * ds * ((r->shock_preload + s) * r->shock_spring + damp);
}

static void suspension(Rider *r) {
  dJointID fork = r->joint[JOINT_FORK];
  double F = fork_force(r, dJointGetSliderPosition(fork), dJointGetSliderPositionRate(fork));
  dJointSetSliderParam(fork, dParamVel, F < 0 ? 0 : 100);
  dJointSetSliderParam(fork, dParamFMax, fabs(F));
  dJointID arm = r->joint[JOINT_SWINGARM];
  double T = shock_torque(r, dJointGetHingeAngle(arm), dJointGetHingeAngleRate(arm));
  dJointSetHingeParam(arm, dParamVel, T < 0 ? 0 : 100);
  dJointSetHingeParam(arm, dParamFMax, fabs(T));
}

// ------------------------------------------------------ rider attachment
void soft_joint(dBodyID b1, dBodyID b2, const double pos[3], const double normal[3],
                double depth, double kp, double kd, double mu) {
  // ODE gives up a step on a contact it cannot place.
  double n2 = normal[0] * normal[0] + normal[1] * normal[1] + normal[2] * normal[2];
  if (!vec_finite(pos) || !std::isfinite(depth) || !(n2 > 0 && n2 < 1e300)) return;
  dContact c;
  memset(&c, 0, sizeof c);
  c.surface.mode = dContactSoftERP | dContactSoftCFM;
  if (mu > 0) c.surface.mode = CONTACT_MODE;
  c.surface.mu = mu;
  soft_erp_cfm(kp, kd, &c.surface.soft_erp, &c.surface.soft_cfm);
  for (int i = 0; i < 3; i++) {
    c.geom.pos[i] = pos[i];
    c.geom.normal[i] = normal[i];
  }
  c.geom.depth = depth;
  dJointID j = dJointCreateContact(physics.world, physics.contacts, &c);
  dJointAttach(j, b1, b2);
}

void riding_point(Rider *r, double out[3]) {
  const BikeModel *m = rider_model(r);
  dVector3 p;
  dBodyGetRelPointPos(r->body[FRAME], m->rider_pos[0] - m->frame_pos[0],
                      m->rider_pos[1] - m->frame_pos[1], m->rider_pos[2] - m->frame_pos[2], p);
  out[0] = p[0];
  out[1] = p[1];
  out[2] = p[2];
}

static void attachment(Rider *r) {
  const BikeModel *m = rider_model(r);
  double home[3];
  riding_point(r, home);
  const dReal *rp = dBodyGetPosition(r->body[RIDER_BODY]);
  const dReal *R = dBodyGetRotation(r->body[FRAME]);
  double e[3] = {rp[0] - home[0], rp[1] - home[1], rp[2] - home[2]};
  double zaxis[3] = {R[2], R[6], R[10]}, yaxis[3] = {R[1], R[5], R[9]};
  double f = e[0] * zaxis[0] + e[1] * zaxis[1] + e[2] * zaxis[2];
  double u = e[0] * yaxis[0] + e[1] * yaxis[1] + e[2] * yaxis[2];
  double d = r->sit_dab, l = r->lean;
  double mass = m->rider_mass * 0.21333333333333335;
  double pos[3] = {rp[0], rp[1], rp[2]};

  double ft = l + 0.5 * (1 + d) * u;
  ft = ft < -0.75 ? -0.75 : (ft > 0.75 ? 0.75 : ft);
  double k, c;
  if (fabs(f) <= 0.75) {
    k = 100 * fabs(f - ft) + 600 * r->rider_zspring;
    c = 0;
  } else {
    k = c = 2500;
  }
  if (k * mass > 0) {
    double s = ft > f ? 1 : -1;
    double n[3] = {zaxis[0] * s, zaxis[1] * s, zaxis[2] * s};
    soft_joint(r->body[RIDER_BODY], r->body[FRAME], pos, n, fabs(f - ft), k * mass, c * mass, 0);
  }

  double ut = 0.125 - 0.5 * d;
  if (u >= -0.5 && u <= 0.75) {
    k = 400 * r->rider_yspring;
    c = 100 * r->rider_ydamping;
  } else {
    k = c = 2500;
  }
  if ((k + c) * mass > 0) {
    double s = ut > u ? 1 : -1;
    double n[3] = {yaxis[0] * s, yaxis[1] * s, yaxis[2] * s};
    soft_joint(r->body[RIDER_BODY], r->body[FRAME], pos, n, fabs(u - ut), k * mass, c * mass, 0);
  }
  dJointSetHinge2Param(r->joint[JOINT_RIDER], dParamSuspensionERP, 0);
  dJointSetHinge2Param(r->joint[JOINT_RIDER], dParamSuspensionCFM,
                       1.0 / (mass * (30 * r->rider_zdamping + 5)));
}

// Joint forces should cancel within the bike; whatever the solver left
// over is taken off the frame.
static void reaction_correction(Rider *r) {
  const dReal *fp = dBodyGetPosition(r->body[FRAME]);
  double F[3] = {0, 0, 0}, T[3] = {0, 0, 0};
  for (int i = 0; i < RIDER_JOINT_COUNT; i++) {
    dJointID j = r->joint[i];
    dBodyID b1 = dJointGetBody(j, 0), b2 = dJointGetBody(j, 1);
    if (!b1 || !b2) continue;
    const dJointFeedback &fb = r->feedback[i];
    const dReal *p1 = dBodyGetPosition(b1), *p2 = dBodyGetPosition(b2);
    double r1[3] = {p1[0] - fp[0], p1[1] - fp[1], p1[2] - fp[2]};
    double r2[3] = {p2[0] - fp[0], p2[1] - fp[1], p2[2] - fp[2]};
    for (int k = 0; k < 3; k++) {
      F[k] += fb.f1[k] + fb.f2[k];
      T[k] += fb.t1[k] + fb.t2[k];
    }
    T[0] += r1[1] * fb.f1[2] - r1[2] * fb.f1[1] + r2[1] * fb.f2[2] - r2[2] * fb.f2[1];
    T[1] += r1[2] * fb.f1[0] - r1[0] * fb.f1[2] + r2[2] * fb.f2[0] - r2[0] * fb.f2[2];
    T[2] += r1[0] * fb.f1[1] - r1[1] * fb.f1[0] + r2[0] * fb.f2[1] - r2[1] * fb.f2[0];
  }
  dBodyAddForce(r->body[FRAME], -F[0], -F[1], -F[2]);
  dBodyAddTorque(r->body[FRAME], -T[0], -T[1], -T[2]);
}

// ------------------------------------------------------------- finiteness
static int body_finite(dBodyID b) {
  const dReal *v[3] = {dBodyGetPosition(b), dBodyGetLinearVel(b), dBodyGetAngularVel(b)};
  for (int i = 0; i < 3; i++)
    for (int k = 0; k < 3; k++)
      if (!std::isfinite(v[i][k])) return 0;
  const dReal *q = dBodyGetQuaternion(b);
  for (int k = 0; k < 4; k++)
    if (!std::isfinite(q[k])) return 0;
  return 1;
}

int rider_finite(const Rider *r) {
  for (int i = 0; i < BODY_PART_COUNT; i++)
    if (!body_finite(r->body[i])) return 0;
  return std::isfinite(r->engine_speed) && std::isfinite(r->phase) && std::isfinite(r->bump) &&
         std::isfinite(r->land_level);
}

// A rider whose state went non-finite, or whose step ODE gave up on, would
// spread NaN through the shared world: back on its wheels where it last was.
void rider_mend(Rider *r) {
  double x = r->last_good[0], z = r->last_good[2];
  double heading = r->last_good_heading;
  reset_rider(r);
  // At the start poses the joints take their first anchors again, whatever
  // became of them.
  joint_geometry(r);
  const double up[3] = {0, 1, 0};
  turn_rider(r, up, heading);
  const dReal *p = dBodyGetPosition(r->body[FRAME]);
  double lift = terrain.heights ? terrain_height(float(x), float(z)) : 0.0;
  move_rider(r, x - p[0], lift, z - p[2]);
  for (int i = 0; i < 64 && rider_intersects(r); i++) move_rider(r, 0, 0.25, 0);
  r->nonfinite_resets++;
}

static void remember_good(Rider *r) {
  const dReal *p = dBodyGetPosition(r->body[FRAME]);
  const dReal *R = dBodyGetRotation(r->body[FRAME]);
  r->last_good[0] = p[0];
  r->last_good[1] = p[1];
  r->last_good[2] = p[2];
  // Heading of the frame's forward axis (-z), as turn_rider's angle.
  double fx = -R[2], fz = -R[10];
  if (fx * fx + fz * fz > 1e-12) r->last_good_heading = atan2(-fx, -fz);
}

// Joints of the tic (contacts, tethers, motors) between the rider's bodies
// and anything, cut loose so the step leaves them out.
static void drop_tic_joints(Rider *r) {
  for (dBodyID b : r->body) {
    dJointID cut[64];
    int n = 0;
    for (int k = 0; k < dBodyGetNumJoints(b) && n < 64; k++) {
      dJointID j = dBodyGetJoint(b, k);
      bool own = false;
      for (dJointID o : r->joint) own = own || o == j;
      if (!own) cut[n++] = j;
    }
    for (int k = 0; k < n; k++) dJointAttach(cut[k], nullptr, nullptr);
  }
}

int rider_step_check(Rider *r) {
  if (!r || !r->in_use) return 1;
  int forces = 1;
  for (dBodyID b : r->body) forces = forces && vec_finite(dBodyGetForce(b)) && vec_finite(dBodyGetTorque(b));
  if (!forces) {
    log_printf("Rider %d: forces not finite, dropped for the tic\n", r->slot);
    for (dBodyID b : r->body) {
      dBodySetForce(b, 0, 0, 0);
      dBodySetTorque(b, 0, 0, 0);
    }
  }
  int joints = 1;
  for (int i = 0; i < RIDER_JOINT_COUNT; i++) {
    dJointID j = r->joint[i];
    if (i == JOINT_FORK || !dJointGetBody(j, 0)) continue;  // a slider has no anchor
    dVector3 a;
    if (i == JOINT_RIDER)
      dJointGetHinge2Anchor(j, a);
    else
      dJointGetHingeAnchor(j, a);
    joints = joints && vec_finite(a);
  }
  if (joints) return forces;
  log_printf("Rider %d: joint anchors not finite, reset\n", r->slot);
  drop_tic_joints(r);
  rider_mend(r);
  return 0;
}

// ------------------------------------------------------------------ update
void rider_guard(Rider *r) {
  if (!r || !r->in_use || rider_finite(r)) return;
  log_printf("Rider %d: non-finite state, reset\n", r->slot);
  rider_mend(r);
}

void rider_update(Rider *r) {
  if (!r || !r->in_use) return;
  rider_guard(r);
  remember_good(r);
  rider_lean(r);
  crash_update(r);
  // The automatic dab also holds a dropped bike still while its rider is down.
  auto_dab_update(r);
  if (r->crash_timer == 0) {
    steering_update(r);
    attachment(r);
  }
  suspension(r);
  engine_update(r);
  auto_shift_update(r);
  brakes_update(r);
  steering_damping(r);
  if (physics.now_tic >= 1 && r->crash_timer == 0) reaction_correction(r);
  dab_update(r);
  feet_update(r);
  const dReal *v = dBodyGetLinearVel(r->body[RIDER_BODY]);
  float *ring = r->velocity_ring[physics.now_tic & 3];
  ring[0] = float(v[0]);
  ring[1] = float(v[1]);
  ring[2] = float(v[2]);
}
