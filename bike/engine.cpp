// Engine, clutch and driveline, gears, brakes, the rider's controls, crashes
// and the time spent down, the feet, the automatic dab, backing up and the
// dab forces that hold a slow bike up.
#include <cmath>
#include <cstring>

#include "bike/rider.h"
#include "bike/rider_internal.h"

static inline double wrap_pi(double a) {
  if (!std::isfinite(a)) return 0;
  a = fmod(a + M_PI, 2 * M_PI);
  if (a < 0) a += 2 * M_PI;
  return a - M_PI;
}
static inline int down(const Rider *r) { return r->crash_timer > 0; }

int wheel_touching(const Rider *r, int which) { return r->wheel[which].depth > 0; }

static double slip_speed2(const Rider *r, int which) {
  const float *s = r->wheel[which].slip;
  return double(s[0]) * s[0] + double(s[1]) * s[1] + double(s[2]) * s[2];
}

// ---------------------------------------------------------------- controls
void rider_set_throttle(Rider *r, float v) { r->throttle = down(r) ? 0 : clampf_nan_lo(v, 0, 1); }
void rider_set_clutch(Rider *r, float v) { r->clutch = clampf_nan_lo(v, 0, 1); }
void rider_set_front_brake(Rider *r, float v) { r->front_brake = clampf_nan_lo(v, 0, 1); }
void rider_set_rear_brake(Rider *r, float v) { r->rear_brake = clampf_nan_lo(v, 0, 1); }
void rider_set_steering(Rider *r, float v) { r->steering = clampf_nan_lo(v, -1, 1); }
void rider_set_sit_dab(Rider *r, float v) {
  r->sit_dab_input = down(r) ? 0 : clampf_nan_lo(v, 0, 1);
  r->sit_dab = r->sit_dab_input;
}
void rider_set_back_up(Rider *r, float v) { r->back_up = down(r) ? 0 : clampf_nan_lo(v, 0, 1); }
void rider_set_lean(Rider *r, float v) { r->lean = down(r) ? 0 : clampf_nan_lo(v, -1, 1); }

static double total_ratio(const Rider *r) {
  const BikeModel *m = rider_model(r);
  int g = r->gear < 0 ? 0 : (r->gear > 5 ? 5 : r->gear);
  return double(m->primary_ratio) * m->gear_ratios[g] * r->final_drive;
}

static int gear_exists(const BikeModel *m, int g) { return g >= 0 && g < 6 && m->gear_ratios[g] > 0; }

static int pick_gear(const BikeModel *m, int n) {
  if (n <= 0) return 0;
  if (n > 5) n = 5;
  for (int k = n; k >= n - 3 && k >= 0; k--)
    if (gear_exists(m, k)) return k;
  return gear_exists(m, 1) ? 1 : 0;
}

void shift(Rider *r, int s) {
  if (!r || down(r) || s == r->shift_request || s < -1 || s > 1) return;
  r->shift_request = s;
  r->gear = pick_gear(rider_model(r), r->gear + s);
}

void rider_set_velocity(Rider *r, const double v[3]) {
  for (int i = 0; i < BODY_PART_COUNT; i++) {
    dBodySetLinearVel(r->body[i], v[0], v[1], v[2]);
    dBodySetAngularVel(r->body[i], 0, 0, 0);
  }
  // Forward is the frame's -z; wheels roll about their axles.
  const dReal *R = dBodyGetRotation(r->body[FRAME]);
  double fwd = -(v[0] * R[2] + v[1] * R[6] + v[2] * R[10]);
  double axle[3] = {R[0], R[4], R[8]};
  for (int w = 0; w < 2; w++) {
    double rad = double(r->wheel[w].rim_radius) + r->wheel[w].tire_radius;
    double spin = -fwd / rad;
    dBodySetAngularVel(r->wheel[w].body, axle[0] * spin, axle[1] * spin, axle[2] * spin);
  }
  double rad = double(r->wheel[1].rim_radius) + r->wheel[1].tire_radius;
  r->engine_speed = fwd / rad * total_ratio(r);
  r->phase = wrap_pi(dJointGetHingeAngle(r->joint[JOINT_REAR_AXLE]));
  for (auto &ring : r->velocity_ring)
    for (int k = 0; k < 3; k++) ring[k] = float(v[k]);
}

// ------------------------------------------------------------------ engine
double engine_torque(const BikeModel *m, double rpm, double throttle) {
  double x = clampd(rpm * 0.002, 0, 49);
  int i = int(floor(x));
  double f = x - i;
  int k = i + 1 < 49 ? i + 1 : 49;
  double tc = m->closed_throttle_torque[i] + f * (double(m->closed_throttle_torque[k]) -
                                                   m->closed_throttle_torque[i]);
  double tf = m->full_throttle_torque[i] + f * (double(m->full_throttle_torque[k]) -
                                                 m->full_throttle_torque[i]);
  return tc + (tf - tc) * throttle;
}

void engine_update(Rider *r) {
  const BikeModel *m = rider_model(r);
  double R = total_ratio(r);
  double rpm = rider_rpm(r);
  double T = engine_torque(m, rpm, r->throttle);
  if ((r->flags & RF_WHEELIE_ENGINE) && !wheel_touching(r, 0) && wheel_touching(r, 1)) {
    dVector3 w;
    dBodyVectorFromWorld(r->body[FRAME], dBodyGetAngularVel(r->body[FRAME])[0],
                         dBodyGetAngularVel(r->body[FRAME])[1],
                         dBodyGetAngularVel(r->body[FRAME])[2], w);
    if (w[0] > -0.03125 && T > 0) T = 0;
  }
  r->torque = T;
  double Q = 0;
  if (R > 0) {
    dJointID axle = r->joint[JOINT_REAR_AXLE];
    double theta = dJointGetHingeAngle(axle);
    double delta = wrap_pi(r->phase - theta);
    double c = r->clutch;
    double c_auto = c;
    if (rpm <= r->auto_clutch_rpm + 2000) {
      double lim = clampd((rpm - r->auto_clutch_rpm) * 0.0005, 0, 1);
      if (lim < c_auto) c_auto = lim;
    }
    double ww = dJointGetHingeAngleRate(axle);
    Q = clampd((r->engine_speed - ww * R) * m->driveline_damping, -500, 500) +
        m->driveline_stiffness * delta;
    if (Q >= 0) c = c_auto;
    Q = clampd(Q, -1000000, 1000000);
    double lim = c * M_PI / 4;
    if (delta > lim) r->phase = theta + lim;
    if (delta < -lim) r->phase = theta - lim;
    Q *= c * c;
    dBodyAddRelTorque(r->body[REAR_WHEEL], -Q, 0, 0);
    dBodyAddRelTorque(r->body[FRAME], Q, 0, 0);
    r->engine_speed += ((-Q) / R + T) / m->engine_inertia * TIC_SECONDS;
    r->phase = wrap_pi(r->phase + r->engine_speed * TIC_SECONDS / R);
  } else {
    r->engine_speed += T / m->engine_inertia * TIC_SECONDS;
  }
}

void auto_shift_update(Rider *r) {
  if (!(r->flags & RF_AUTO_SHIFT) || down(r) || physics.now_tic % 32 != 0) return;
  if (!(dJointGetHingeAngle(r->joint[JOINT_SWINGARM]) < -0.01)) return;
  if (wheel_touching(r, 1) && slip_speed2(r, 1) > 4) return;
  const BikeModel *m = rider_model(r);
  double rpm = total_ratio(r) * dJointGetHingeAngleRate(r->joint[JOINT_REAR_AXLE]) *
               9.549296585513721;
  if (rpm < m->downshift_rpm) {
    int k = r->gear - 1;
    while (k > 0 && !gear_exists(m, k)) k--;
    r->gear = k < 0 ? 0 : k;
  } else if (rpm > m->upshift_rpm) {
    int k = r->gear + 1;
    while (k <= 5 && !gear_exists(m, k)) k++;
    if (k <= 5) r->gear = k;
  }
}

void brakes_update(Rider *r) {
  double front = r->front_brake * r->front_brake_torque;
  double rear = r->rear_brake * r->rear_brake_torque;
  int ft = wheel_touching(r, 0), rt = wheel_touching(r, 1);
  if ((r->flags & RF_FRONT_ANTILOCK) && ft && slip_speed2(r, 0) > 4) front = 0;
  if ((r->flags & RF_WHEELIE_FRONT) && ft && !rt) front = 0;
  if ((r->flags & RF_REAR_ANTILOCK) && rt && slip_speed2(r, 1) > 4) rear = 0;
  dJointSetHingeParam(r->joint[JOINT_FRONT_AXLE], dParamVel, 0);
  dJointSetHingeParam(r->joint[JOINT_FRONT_AXLE], dParamFMax, front);
  dJointSetHingeParam(r->joint[JOINT_REAR_AXLE], dParamVel, 0);
  dJointSetHingeParam(r->joint[JOINT_REAR_AXLE], dParamFMax, rear);
}

// ----------------------------------------------------------------- crashes
static void world_point(dBodyID b, const float *local, double out[3]) {
  dVector3 p;
  dBodyGetRelPointPos(b, local[0], local[1], local[2], p);
  out[0] = p[0], out[1] = p[1], out[2] = p[2];
}

void crash(Rider *r) {
  if (!r || !r->in_use || down(r)) return;
  float target[2][3], weight[2];
  rider_foot_pose(r, target, weight);
  dJointAttach(r->joint[JOINT_RIDER], nullptr, nullptr);
  for (int s = 0; s < 2; s++) {
    dVector3 v;
    dBodyGetPointVel(r->body[RIDER_BODY], target[s][0], target[s][1], target[s][2], v);
    for (int k = 0; k < 3; k++) {
      r->foot[s][k] = target[s][k];
      r->foot_vel[s][k] = float(v[k]);
    }
  }
  int extra = physics.extra_down[r->crash_count < 15 ? r->crash_count : 15];
  extra = extra < 0 ? 0 : (extra > 460800 ? 460800 : extra);
  r->crash_timer = 512 + extra;
  r->crash_count++;
  r->throttle = r->sit_dab = r->sit_dab_input = r->back_up = r->lean = 0;
}

void tether(dBodyID b1, const double p1[3], dBodyID b2, const double p2[3], double length,
            double kp, double kd) {
  double d[3] = {p2[0] - p1[0], p2[1] - p1[1], p2[2] - p1[2]};
  double l = length3(d);
  if (!(l > length) || !(l > 1e-9)) return;
  double n[3] = {d[0] / l, d[1] / l, d[2] / l};
  double mid[3] = {(p1[0] + p2[0]) / 2, (p1[1] + p2[1]) / 2, (p1[2] + p2[2]) / 2};
  soft_joint(b1, b2, mid, n, l - length, kp, kd, 0);
}

static void takeoff_landing(Rider *r) {
  int now = physics.now_tic;
  int any = wheel_touching(r, 0) || wheel_touching(r, 1);
  if (any && r->landing_tic < r->takeoff_tic) r->landing_tic = now;
  if (!any && dBodyGetLinearVel(r->body[FRAME])[1] < 0 && r->takeoff_tic <= r->landing_tic)
    r->takeoff_tic = now;
}

static void crash_checks(Rider *r) {
  if (r->arcade || down(r) || r->bump < 0) return;
  int now = physics.now_tic;
  double t = 1.5;
  if (!(r->landing_tic < r->takeoff_tic)) {
    double a = clampd((double(r->landing_tic - r->takeoff_tic) / 128 - 0.559) * 7.9365087, 0, 1);
    double b = clampd((0.25 - double(now - r->landing_tic) / 128) * 8, 0, 1);
    t = 1.5 - 0.5 * a * b;
  }
  dBodyID body = r->body[RIDER_BODY];
  const dReal *p = dBodyGetPosition(body);
  const dReal *v = dBodyGetLinearVel(body);
  dVector3 fv;
  dBodyGetPointVel(r->body[FRAME], p[0], p[1], p[2], fv);
  double d[3] = {v[0] - fv[0], v[1] - fv[1], v[2] - fv[2]};
  if (d[0] * d[0] + d[1] * d[1] + d[2] * d[2] > (31 * t) * (31 * t)) {
    crash(r);
    return;
  }
  const float *old = r->velocity_ring[now & 3];
  double a[3] = {(v[0] - old[0]) * 32, (v[1] - old[1]) * 32 + 32, (v[2] - old[2]) * 32};
  if (a[0] * a[0] + a[1] * a[1] + a[2] * a[2] > (1376 * t) * (1376 * t)) crash(r);
}

static void down_update(Rider *r) {
  const BikeModel *m = rider_model(r);
  dBodyID body = r->body[RIDER_BODY], frame = r->body[FRAME], fork = r->body[FORK_UPPER];
  if (body_speed(body) < 2) {
    r->crash_timer--;
  } else {
    double arm = (double(m->upper_arm_length) + m->forearm_length) * 0.875;
    for (int s = 0; s < 2; s++) {
      double sp[3], gp[3];
      world_point(body, m->shoulder_points[s], sp);
      world_point(fork, m->grip_points[s], gp);
      tether(body, sp, fork, gp, arm, 5000, 500);
    }
    if (r->crash_timer > 511) {
      const dReal *a = dBodyGetPosition(body), *b = dBodyGetPosition(fork);
      double pa[3] = {a[0], a[1], a[2]}, pb[3] = {b[0], b[1], b[2]};
      tether(body, pa, fork, pb, 8, 5000, 500);
      shape_shape_contact(&r->shape[RIDER_BODY], body, &r->shape[FRAME], frame, CONTACT_JOINTS);
      shape_shape_contact(&r->shape[RIDER_BODY], body, &r->shape[FORK_UPPER], fork,
                          CONTACT_JOINTS);
    }
  }
  if (r->crash_timer <= 511 && r->crash_timer > 0) {
    double len = 5 * clampd((r->crash_timer - 128) * 0.0026041667, 0, 1);
    const float home[3] = {m->rider_pos[0] - m->frame_pos[0], m->rider_pos[1] - m->frame_pos[1],
                           m->rider_pos[2] - m->frame_pos[2]};
    static const float offs[3][3] = {{0, 0, 0}, {-5, 10, 0}, {5, 10, 0}};
    for (const auto &o : offs) {
      float fp[3] = {home[0] + o[0], home[1] + o[1], home[2] + o[2]};
      double pf[3], pb[3];
      world_point(frame, fp, pf);
      world_point(body, o, pb);
      tether(body, pb, frame, pf, len, 5000, 500);
    }
  }
  if (r->crash_timer <= 0) {
    r->crash_timer = 0;
    reattach_rider_body(r);
    // Back on the bike it moves with the bike, not with its last tumble.
    const dReal *p = dBodyGetPosition(body);
    dVector3 v;
    dBodyGetPointVel(frame, p[0], p[1], p[2], v);
    dBodySetLinearVel(body, v[0], v[1], v[2]);
    dBodySetAngularVel(body, dBodyGetAngularVel(frame)[0], dBodyGetAngularVel(frame)[1],
                       dBodyGetAngularVel(frame)[2]);
    for (auto &ring : r->velocity_ring)
      for (int k = 0; k < 3; k++) ring[k] = float(v[k]);
  }
}

void crash_update(Rider *r) {
  takeoff_landing(r);
  if (r->bump < -1)
    r->bump += 1;
  else if (r->bump > 1)
    r->bump -= 1;
  else
    r->bump = 0;
  if (down(r))
    down_update(r);
  else
    crash_checks(r);
}

// -------------------------------------------------------------------- feet
int dab_foot_point(Rider *r, int side, double out[3]) {
  double lean = r->lean_angle;
  if (side == 0 ? !(lean > -0.1) : !(lean < 0.1)) return 0;
  const BikeModel *m = rider_model(r);
  dBodyID frame = r->body[FRAME], body = r->body[RIDER_BODY];
  double Z = clampd(fabs(lean) * 4 / M_PI, 0, 1);
  const dReal *R = dBodyGetRotation(frame);
  double fx = -R[2], fz = -R[10];
  double fl = sqrt(fx * fx + fz * fz);
  if (fl > 1e-9) fx /= fl, fz /= fl;
  const dReal *v = dBodyGetLinearVel(frame);
  double fs = v[0] * fx + v[2] * fz;
  double f = (clampd(fs / 15, 0, 1) * 1.25 - 0.25) * 2.5 * Z;
  double lh[3], rh[3];
  world_point(body, m->hip_points[0], lh);
  world_point(body, m->hip_points[1], rh);
  double k = side == 0 ? (Z - 1) / 2 : (1 - Z) / 2;
  const double *hip = side == 0 ? lh : rh;
  double x = hip[0] + (rh[0] - lh[0]) * k + fx * f;
  double z = hip[2] + (rh[2] - lh[2]) * k + fz * f;
  out[0] = x;
  out[1] = terrain_height(float(x), float(z)) + 0.125;
  out[2] = z;
  return 1;
}

void rider_foot_pose(Rider *r, float target[2][3], float weight[2]) {
  const BikeModel *m = rider_model(r);
  dBodyID frame = r->body[FRAME];
  for (int s = 0; s < 2; s++) {
    float p[3] = {m->foot_points[s][0], m->foot_points[s][1], m->foot_points[s][2]};
    if (down(r)) {
      double h = (r->crash_timer < 128 ? r->crash_timer : 128) / 128.0;
      float out = p[0] < 0 ? -1.0f : 1.0f;
      p[0] += out * float(0.5 * clampd(2 * h - 1, 0, 1));
      p[1] += float(1.75 * clampd(2 * h, 0, 1));
      p[2] += float(clampd(4 * h / 3, 0, 1));
    }
    double w[3];
    world_point(frame, p, w);
    for (int k = 0; k < 3; k++) target[s][k] = float(w[k]);
    weight[s] = 0;
  }
  if (r->dab_assist > 0 && r->crash_timer <= 127) {
    double a = r->dab_assist;
    for (int s = 0; s < 2; s++) {
      double dab[3];
      if (!dab_foot_point(r, s, dab)) continue;
      for (int i = 0; i < 3; i++) target[s][i] = float(target[s][i] + (dab[i] - target[s][i]) * a);
      weight[s] = float(a);
    }
  }
  if (r->crash_timer >= 1) {
    double t = clampd(2.0 * r->crash_timer - 128, 1, 128) / 128;
    for (int s = 0; s < 2; s++) {
      weight[s] = 1;
      for (int k = 0; k < 3; k++)
        target[s][k] = float(target[s][k] + (r->foot[s][k] - target[s][k]) * t);
    }
  }
}

void feet_update(Rider *r) {
  const BikeModel *m = rider_model(r);
  r->dab_assist = r->dab_assist - 4.0f / 128 > 0 ? r->dab_assist - 4.0f / 128 : 0;
  dBodyID body = r->body[RIDER_BODY];
  if (!down(r)) {
    float target[2][3], weight[2];
    rider_foot_pose(r, target, weight);
    for (int s = 0; s < 2; s++) {
      dVector3 v;
      dBodyGetPointVel(body, target[s][0], target[s][1], target[s][2], v);
      for (int k = 0; k < 3; k++) {
        r->foot[s][k] = target[s][k];
        r->foot_vel[s][k] = float(v[k]);
      }
    }
    return;
  }
  const dReal *bv = dBodyGetLinearVel(body);
  const dReal *R = dBodyGetRotation(body);
  double downax[3] = {-R[1], -R[5], -R[9]};
  const double reach = double(m->thigh_length) + m->shin_length;
  for (int s = 0; s < 2; s++) {
    float *p = r->foot[s], *v = r->foot_vel[s];
    double dab[3];
    if (r->crash_timer <= 319 && dab_foot_point(r, s, dab)) {
      // Getting up: the foot on the leaning side goes to where it would
      // dab, an eighth of the way each tic (there to a hundredth of the
      // distance in a quarter of a second).
      for (int k = 0; k < 3; k++) {
        float step = float((dab[k] - p[k]) / 8);
        p[k] += step;
        v[k] = step / float(TIC_SECONDS);
      }
    } else {
      for (int k = 0; k < 3; k++) p[k] += float(v[k] * TIC_SECONDS);
      v[1] -= float(GRAVITY * TIC_SECONDS);
      double ground = terrain_height(p[0], p[2]) + 0.25;
      if (p[1] < ground) {
        p[1] = float(ground);
        v[0] = v[1] = v[2] = 0;
      } else {
        for (int k = 0; k < 3; k++) v[k] *= 0.9375f;
      }
    }
    double hip[3];
    world_point(body, m->hip_points[s], hip);
    double d[3] = {p[0] - hip[0], p[1] - hip[1], p[2] - hip[2]};
    double l = length3(d);
    if (l > reach && l > 0) {
      double u[3] = {d[0] / l, d[1] / l, d[2] / l};
      double va = v[0] * u[0] + v[1] * u[1] + v[2] * u[2];
      double ba = bv[0] * u[0] + bv[1] * u[1] + bv[2] * u[2];
      for (int k = 0; k < 3; k++) {
        p[k] = float(hip[k] + u[k] * reach);
        v[k] = float(v[k] - va * u[k] + ba * u[k]);
      }
    }
    // Not above the plane one foot below the hips.
    double plane[3] = {hip[0] + downax[0], hip[1] + downax[1], hip[2] + downax[2]};
    double above = -((p[0] - plane[0]) * downax[0] + (p[1] - plane[1]) * downax[1] +
                     (p[2] - plane[2]) * downax[2]);
    if (above > 0) {
      double va = v[0] * downax[0] + v[1] * downax[1] + v[2] * downax[2];
      double ba = bv[0] * downax[0] + bv[1] * downax[1] + bv[2] * downax[2];
      for (int k = 0; k < 3; k++) {
        p[k] = float(p[k] + above * downax[k]);
        v[k] = float(v[k] - va * downax[k] + ba * downax[k]);
      }
    }
  }
}

// --------------------------------------------------------------------- dab
void velocity_servo(Rider *r, const double target[3], double fmax) {
  const dReal *v = dBodyGetLinearVel(r->body[FRAME]);
  double d[3] = {v[0] - target[0], v[1] - target[1], v[2] - target[2]};
  double l = length3(d);
  if (!(l >= 0.25)) return;
  double k = (l - 0.25) * 0.8;
  k = k < 1 ? k : 1;
  double s = -k * fmax / l;
  dBodyAddForce(r->body[FRAME], d[0] * s, 0, d[2] * s);
}

static double effective_dab_speed(const Rider *r) {
  double m = r->max_dab_speed;
  if (r->bump <= -512 && m <= 75) m = 75;
  return m;
}

void auto_dab_update(Rider *r) {
  if (!(r->flags & RF_AUTO_DAB) || r->back_up > 0) return;
  r->sit_dab = r->sit_dab_input;
  double s = rider_speed(r), m = effective_dab_speed(r);
  double lean = fabs(r->lean_angle);
  if (s > m) return;
  if (s > 15 && clampd((s - 15) / 15, 0, 1) * M_PI / 4 > lean) return;
  if (r->clutch == 0 || r->throttle == 0 || s < 5 || lean > M_PI / 16) {
    // A zero maximum (a robot's or a server's) must not divide into NaN.
    double room = m > 0 ? (m - s) / m : 0;
    r->sit_dab = down(r) ? 0 : float(clampd(room, r->sit_dab_input, 1));
    if (s < 5 && (r->throttle == 0 || r->clutch == 0) && wheel_touching(r, 0) &&
        wheel_touching(r, 1)) {
      r->front_brake = r->rear_brake = 1;
      const double still[3] = {0, 0, 0};
      velocity_servo(r, still, 1000);
    }
  }
}

static dJointID yaw_motor(Rider *r, double rate, double fmax) {
  dJointID j = dJointCreateAMotor(physics.world, physics.contacts);
  dJointAttach(j, r->body[FRAME], nullptr);
  dJointSetAMotorNumAxes(j, 1);
  dJointSetAMotorAxis(j, 0, 0, 0, 1, 0);
  dJointSetAMotorParam(j, dParamVel, rate);
  dJointSetAMotorParam(j, dParamFMax, fmax);
  return j;
}

static void back_up_update(Rider *r) {
  if (!(r->back_up > 0) || !(rider_speed(r) < 5)) return;
  r->sit_dab = down(r) ? 0 : 1;
  int now = physics.now_tic;
  double w = (1 - cos(2 * M_PI * (now % 128) / 127.0)) / 2;
  if (now < 128 * ((physics.drop_tic + 128) / 128) && (now & 0x180)) w = 0;
  const dReal *R = dBodyGetRotation(r->body[FRAME]);
  double target[3] = {R[2] * 4 * w, R[6] * 4 * w, R[10] * 4 * w};
  velocity_servo(r, target, 2000);
  yaw_motor(r, -r->steering * M_PI / 2 * w, 2000);
}

// 1 when the realign motor took over from the dab forces.
static int realign(Rider *r) {
  if (!(r->flags & RF_REALIGN) || r->back_up > 0.125 || r->arcade) return 0;
  float target[3];
  if (!physics_hooks.realign_target || !physics_hooks.realign_target(r, target)) return 0;
  const dReal *p = dBodyGetPosition(r->body[FRAME]);
  dVector3 local;
  dBodyVectorFromWorld(r->body[FRAME], target[0] - p[0], 0, target[2] - p[2], local);
  double side = local[0], back = local[2];
  double M = r->total_mass;
  double rate = (r->bump < 0 ? M_PI : M_PI / 2) * (side > 0 ? -1 : 1);
  if (back > 4 * fabs(side)) {
    yaw_motor(r, rate, 320 * M * 4 * fabs(side) / fabs(back));
  } else {
    yaw_motor(r, rate, 320 * M);
    for (int w = 0; w < 2; w++)
      if (wheel_touching(r, w)) dBodyAddForce(r->wheel[w].body, 0, 32 * M, 0);
  }
  if (physics_hooks.realign_spoiled) physics_hooks.realign_spoiled(r);
  return 1;
}

void dab_update(Rider *r) {
  back_up_update(r);
  if (r->sit_dab == 0 || down(r) || r->arcade) return;
  const BikeModel *m = rider_model(r);
  double s = rider_speed(r), md = effective_dab_speed(r);
  double lean = r->lean_angle, h = fabs(lean);
  const dReal *bp = dBodyGetPosition(r->body[RIDER_BODY]);
  if (!wheel_touching(r, 0) &&
      bp[1] - terrain_height(float(bp[0]), float(bp[2])) > 1 + m->rider_pos[1])
    return;
  if (s > md) return;
  if (s > 15 && (!wheel_touching(r, 0) || !wheel_touching(r, 1) || h < 0.5890486225480862))
    return;
  r->dab_assist = r->dab_assist + 8.0f / 128 < 1 ? r->dab_assist + 8.0f / 128 : 1;
  if (s < 5 && h > M_PI / 8 && h < 1.0995574287564276 && realign(r)) return;

  dVector3 w;
  const dReal *av = dBodyGetAngularVel(r->body[FRAME]);
  dBodyVectorFromWorld(r->body[FRAME], av[0], av[1], av[2], w);
  double roll = w[2];
  double L = r->roll_limit_angle;
  double P = lean < 0 ? M_PI / 8 : -M_PI / 8;
  if ((r->flags & RF_AUTO_DAB) && r->bump < 0) P *= 3;
  if (h < M_PI / 16) P *= 16 / M_PI * h;
  double e = 0;
  if (P > 0 && roll < P) e = -400;
  if (P < 0 && roll > P) e = 400;
  if (h < M_PI / 32) e *= 32 / M_PI * h;
  if (r->back_up < 0.125 || s > 5) {
    double d = h;
    if (s >= md) {
      d -= 2.5 * M_PI;
    } else if (s > 15) {
      double q = md * md > 225 ? clampd((s * s - 225) / (md * md - 225), 0, 1) : 1;
      d -= (q * (2 * M_PI - L) + L) * 1.25;
    } else if (s > 0) {
      double rr = 1 - clampd(s * s / (md * md), 0, 1);
      d -= L * 1.25 * (1 - pow(rr, 32));
    }
    double g = clampd(4 * d, 0, 1);
    double k = P >= 0 ? -r->steering : r->steering;
    double a = clampd((k - 0.5) * 2, 0, 1);
    e *= a * (1 - g) + g;
    if (s > 5) e *= r->sigma;
  }
  if (e == 0) return;
  const dReal *R = dBodyGetRotation(r->body[FRAME]);
  if (R[5] < 0.707) {
    dBodyAddForceAtRelPos(r->body[FRAME], 0, fabs(e), 0, 0, 4, 0);
  } else {
    dBodyAddForceAtRelPos(r->body[FRAME], 0, fabs(e) / 8, 0, 0, 4, 0);
    dBodyAddRelForceAtRelPos(r->body[FRAME], e, 0, 0, 0, 4, 0);
  }
}
