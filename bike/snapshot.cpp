// The rider state snapshot: its byte layout, blending two of them, and the
// way between a snapshot and the seven bodies of a rider.
#include "bike/snapshot.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "bike/rider.h"

namespace {

const double PI_ = 3.14159265358979323846;
const double RPM_PER_RAD_S = 9.549296585513721;
const double QUAT_SCALE = 32767.5;
const double OFFSET_RANGE = 16;  // ft each way from the frame
const double OFFSET_SCALE = 2047.96875;
const double STEER_LIMIT = PI_ / 4;
const double RPM_MAX = 32768;
const double RPM_SCALE = 1.9999695;
const int DOWN_GEAR = 7;
const uint32_t MAX24 = 0xffffff;

uint32_t get24(const uint8_t *p) { return p[0] | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16; }
uint32_t get16(const uint8_t *p) { return p[0] | uint32_t(p[1]) << 8; }
void put24(uint8_t *p, uint32_t v) {
  p[0] = uint8_t(v);
  p[1] = uint8_t(v >> 8);
  p[2] = uint8_t(v >> 16);
}
void put16(uint8_t *p, uint32_t v) {
  p[0] = uint8_t(v);
  p[1] = uint8_t(v >> 8);
}

// round(clamp(x, 0, 1) * max); NaN counts as 0.
uint32_t fraction(double x, uint32_t max) {
  if (!(x > 0)) return 0;
  if (x >= 1) return max;
  return uint32_t(std::lround(x * max));
}

uint32_t rounded(double v, uint32_t max) {
  if (!(v > 0)) return 0;
  return uint32_t(std::min<double>(std::lround(v), max));
}

void put_quat(uint8_t *p, const double q[4]) {
  for (int k = 0; k < 4; k++) {
    double c = std::isfinite(q[k]) ? std::clamp(q[k], -1.0, 1.0) : 0;
    put16(p + 2 * k, rounded((c + 1) * QUAT_SCALE, 0xffff));
  }
}

void normalise_quat(double q[4]) {
  double n = std::sqrt(q[0] * q[0] + q[1] * q[1] + q[2] * q[2] + q[3] * q[3]);
  // A stored length far from 1 is noise: the identity is the safe pose.
  if (!(n > 1e-3)) {
    q[0] = 1;
    q[1] = q[2] = q[3] = 0;
    return;
  }
  for (int k = 0; k < 4; k++) q[k] /= n;
}

void get_quat(const uint8_t *p, double q[4]) {
  for (int k = 0; k < 4; k++) q[k] = get16(p + 2 * k) / QUAT_SCALE - 1;
  normalise_quat(q);
}

void slerp(const double a[4], const double b_in[4], double t, double out[4]) {
  double b[4];
  double dot = 0;
  for (int k = 0; k < 4; k++) dot += a[k] * b_in[k];
  double sign = dot < 0 ? -1 : 1;
  for (int k = 0; k < 4; k++) b[k] = sign * b_in[k];
  dot = std::fabs(dot);
  double wa, wb;
  if (dot > 0.9995) {
    wa = 1 - t;
    wb = t;
  } else {
    double theta = std::acos(std::min(dot, 1.0));
    double s = std::sin(theta);
    wa = std::sin((1 - t) * theta) / s;
    wb = std::sin(t * theta) / s;
  }
  for (int k = 0; k < 4; k++) out[k] = wa * a[k] + wb * b[k];
  normalise_quat(out);
}

uint8_t susp_byte(double s, double travel) {
  if (!(travel > 0)) return 0;
  return uint8_t(fraction((std::clamp(s, -travel, 0.0) + travel) / travel, 255));
}

double susp_value(int byte, double travel) { return byte / 255.0 * travel - travel; }

uint8_t angle_byte(double a, double limit) {
  return uint8_t(fraction((std::clamp(a, -limit, limit) + limit) / (2 * limit), 255));
}
double angle_value(int byte, double limit) { return byte / 255.0 * 2 * limit - limit; }

}  // namespace

void snapshot_encode(const SnapshotFields &f, const SnapshotScale &s, uint8_t out[SNAPSHOT_BYTES]) {
  double extent = s.extent > 0 ? s.extent : 1;
  put24(out + 0, fraction(f.position[0] / extent, MAX24));
  put24(out + 3, fraction((f.position[1] - s.min_height) / extent, MAX24));
  put24(out + 6, fraction(f.position[2] / extent, MAX24));
  put_quat(out + 9, f.orientation);
  out[17] = angle_byte(f.steering, STEER_LIMIT);
  out[18] = uint8_t(susp_byte(f.rear_suspension, s.rear_travel) | 1);
  out[19] = uint8_t(susp_byte(f.front_suspension, s.front_travel) & ~1);
  for (int k = 0; k < 3; k++) {
    double d = std::isfinite(f.rider_offset[k]) ? f.rider_offset[k] : 0;
    d = std::clamp(d, -OFFSET_RANGE, OFFSET_RANGE);
    put16(out + 20 + 2 * k, rounded((d + OFFSET_RANGE) * OFFSET_SCALE, 0xffff));
  }
  put_quat(out + 26, f.rider_orientation);
  out[34] = angle_byte(f.wheel_angle[0], PI_);
  out[35] = angle_byte(f.wheel_angle[1], PI_);
  int flags;
  if (f.down > 0) {
    int d = std::clamp(f.down, 1, 128);
    flags = DOWN_GEAR | std::min(15, (d - 1) * 15 / 127) << 4;
  } else {
    flags = std::clamp(f.gear, 0, 6) | (f.dab ? 8 : 0) |
            int(fraction(double(f.throttle), 15)) << 4;
  }
  out[36] = uint8_t(flags);
  double rpm = std::isfinite(f.rpm) ? std::clamp(f.rpm, 0.0, RPM_MAX) : 0;
  put16(out + 37, rounded(rpm * RPM_SCALE, 0xffff));
}

void snapshot_decode(const uint8_t in[SNAPSHOT_BYTES], const SnapshotScale &s,
                     SnapshotFields *f) {
  f->position[0] = get24(in + 0) / double(MAX24) * s.extent;
  f->position[1] = get24(in + 3) / double(MAX24) * s.extent + s.min_height;
  f->position[2] = get24(in + 6) / double(MAX24) * s.extent;
  get_quat(in + 9, f->orientation);
  f->steering = angle_value(in[17], STEER_LIMIT);
  f->rear_suspension = susp_value(in[18], s.rear_travel);
  f->rear_exact = in[18] & 1;
  f->front_suspension = susp_value(in[19] & ~1, s.front_travel);
  for (int k = 0; k < 3; k++)
    f->rider_offset[k] = get16(in + 20 + 2 * k) / OFFSET_SCALE - OFFSET_RANGE;
  get_quat(in + 26, f->rider_orientation);
  f->wheel_angle[0] = angle_value(in[34], PI_);
  f->wheel_angle[1] = angle_value(in[35], PI_);
  int flags = in[36];
  if ((flags & 7) == DOWN_GEAR) {
    f->down = (flags >> 4) * 127 / 15 + 1;
    f->gear = 0;
    f->dab = 0;
    f->throttle = 0;
  } else {
    f->down = 0;
    f->gear = flags & 7;
    f->dab = (flags >> 3) & 1;
    f->throttle = float(flags >> 4) / 15;
  }
  f->rpm = get16(in + 37) / RPM_SCALE;
}

void snapshot_blend(const uint8_t a[SNAPSHOT_BYTES], const uint8_t b[SNAPSHOT_BYTES], double f,
                    uint8_t out[SNAPSHOT_BYTES]) {
  double g = std::min(f, 1.0);
  for (int k = 0; k < 3; k++) {
    double va = get24(a + 3 * k), vb = get24(b + 3 * k);
    put24(out + 3 * k, rounded(va + f * (vb - va), MAX24));
  }
  for (int at : {9, 26}) {
    double qa[4], qb[4], q[4];
    get_quat(a + at, qa);
    get_quat(b + at, qb);
    slerp(qa, qb, g, q);
    put_quat(out + at, q);
  }
  for (int at : {17, 18, 19}) out[at] = uint8_t(rounded(a[at] + g * (b[at] - a[at]), 255));
  out[18] &= ~1;
  out[19] &= ~1;
  for (int at : {20, 22, 24, 37}) {
    double va = get16(a + at), vb = get16(b + at);
    put16(out + at, rounded(va + g * (vb - va), 0xffff));
  }
  // One turn is 255 steps (0 and 255 are both half a turn back). The wheel
  // is taken to have turned between an eighth back and seven eighths on.
  for (int at : {34, 35}) {
    double d = double(b[at]) - a[at];
    while (d < -255.0 / 8) d += 255;
    while (d >= 255.0 * 7 / 8) d -= 255;
    double v = std::fmod(a[at] + g * d, 255.0);
    if (v < 0) v += 255;
    out[at] = uint8_t(rounded(v, 255));
  }
  out[36] = a[36];
}

// ------------------------------------------------------------ the rider side

namespace {

struct BodyPlace {
  double position[3];
  double q[4];  // w, x, y, z
};

void qmul(const double a[4], const double b[4], double out[4]) {
  double r[4] = {a[0] * b[0] - a[1] * b[1] - a[2] * b[2] - a[3] * b[3],
                 a[0] * b[1] + a[1] * b[0] + a[2] * b[3] - a[3] * b[2],
                 a[0] * b[2] - a[1] * b[3] + a[2] * b[0] + a[3] * b[1],
                 a[0] * b[3] + a[1] * b[2] - a[2] * b[1] + a[3] * b[0]};
  memcpy(out, r, sizeof r);
}

void qaxis(const double axis[3], double angle, double out[4]) {
  double n = std::sqrt(axis[0] * axis[0] + axis[1] * axis[1] + axis[2] * axis[2]);
  double s = n > 0 ? std::sin(angle / 2) / n : 0;
  out[0] = std::cos(angle / 2);
  for (int k = 0; k < 3; k++) out[k + 1] = axis[k] * s;
}

// v + 2w (u x v) + 2 u x (u x v) for q = (w, u): q v q* without the
// quaternion products.
void qrotate(const double q[4], const double v[3], double out[3]) {
  const double *u = q + 1;
  double t[3] = {2 * (u[1] * v[2] - u[2] * v[1]), 2 * (u[2] * v[0] - u[0] * v[2]),
                 2 * (u[0] * v[1] - u[1] * v[0])};
  double r[3] = {v[0] + q[0] * t[0] + u[1] * t[2] - u[2] * t[1],
                 v[1] + q[0] * t[1] + u[2] * t[0] - u[0] * t[2],
                 v[2] + q[0] * t[2] + u[0] * t[1] - u[1] * t[0]};
  memcpy(out, r, sizeof r);
}

// A point given in the bike's rest coordinates, turned by q about a pivot.
void turned(const double q[4], const float point[3], const double pivot[3], double out[3]) {
  double d[3] = {point[0] - pivot[0], point[1] - pivot[1], point[2] - pivot[2]};
  qrotate(q, d, out);
  for (int k = 0; k < 3; k++) out[k] += pivot[k];
}

// Where the seven bodies stand for a snapshot. The bodies were made at
// the bike table's rest positions with no rotation, so each joint's value
// turns or slides its body from that rest pose; the hinge angle is the
// first body's rotation against the second's (the wheels turn against
// their hinges' sense).
void body_places(const Rider *r, const SnapshotFields &f, BodyPlace out[BODY_PART_COUNT]) {
  const BikeModel *m = rider_model(r);
  const double x_axis[3] = {1, 0, 0};
  double head[3], pivot[3], steer_axis[3];
  for (int k = 0; k < 3; k++) {
    head[k] = m->steering_head_pos[k];
    pivot[k] = m->swingarm_pivot[k];
    steer_axis[k] = double(m->steering_head_pos[k]) - m->fork_lower_pos[k];
  }
  double len = std::sqrt(steer_axis[0] * steer_axis[0] + steer_axis[1] * steer_axis[1] +
                         steer_axis[2] * steer_axis[2]);
  for (double &c : steer_axis) c = len > 0 ? c / len : 0;

  // In rest coordinates, relative to the frame.
  double q_steer[4], q_arm[4], q_front[4], q_rear[4];
  qaxis(steer_axis, f.steering, q_steer);
  qaxis(x_axis, f.rear_suspension, q_arm);
  qaxis(x_axis, -f.wheel_angle[0], q_front);
  qaxis(x_axis, -f.wheel_angle[1], q_rear);
  double identity[4] = {1, 0, 0, 0};
  double rest_q[BODY_PART_COUNT][4];
  double rest_p[BODY_PART_COUNT][3];
  // The fork's lower half slides along the steering axis (negative: up).
  float lower[3], wheel[3];
  for (int k = 0; k < 3; k++) {
    lower[k] = float(m->fork_lower_pos[k] - f.front_suspension * steer_axis[k]);
    wheel[k] = float(m->front_wheel_pos[k] - f.front_suspension * steer_axis[k]);
  }
  for (int k = 0; k < 3; k++) rest_p[FRAME][k] = m->frame_pos[k];
  memcpy(rest_q[FRAME], identity, sizeof identity);
  for (int k = 0; k < 3; k++) rest_p[FORK_UPPER][k] = head[k];
  memcpy(rest_q[FORK_UPPER], q_steer, sizeof q_steer);
  turned(q_steer, lower, head, rest_p[FORK_LOWER]);
  memcpy(rest_q[FORK_LOWER], q_steer, sizeof q_steer);
  turned(q_steer, wheel, head, rest_p[FRONT_WHEEL]);
  qmul(q_steer, q_front, rest_q[FRONT_WHEEL]);
  turned(q_arm, m->swingarm_pos, pivot, rest_p[SWINGARM]);
  memcpy(rest_q[SWINGARM], q_arm, sizeof q_arm);
  turned(q_arm, m->rear_wheel_pos, pivot, rest_p[REAR_WHEEL]);
  qmul(q_arm, q_rear, rest_q[REAR_WHEEL]);

  // Into the world through the frame.
  for (int b = 0; b < BODY_PART_COUNT; b++) {
    if (b == RIDER_BODY) continue;
    double d[3];
    for (int k = 0; k < 3; k++) d[k] = rest_p[b][k] - m->frame_pos[k];
    qrotate(f.orientation, d, out[b].position);
    for (int k = 0; k < 3; k++) out[b].position[k] += f.position[k];
    qmul(f.orientation, rest_q[b], out[b].q);
  }
  // The rider body's offset is along the world's axes, not the frame's.
  for (int k = 0; k < 3; k++) out[RIDER_BODY].position[k] = f.position[k] + f.rider_offset[k];
  memcpy(out[RIDER_BODY].q, f.rider_orientation, sizeof out[RIDER_BODY].q);
}

// The body speeds a slot's rider was last given, and from which entries.
struct Speeds {
  int valid, model, tics;
  uint8_t a[SNAPSHOT_BYTES], b[SNAPSHOT_BYTES];
  double v[BODY_PART_COUNT][3], w[BODY_PART_COUNT][3];
};
Speeds speeds[RIDER_SLOTS];

}  // namespace

SnapshotScale snapshot_scale(const Rider *r) {
  SnapshotScale s;
  s.extent = terrain.extent;
  s.min_height = terrain.min_height;
  const BikeModel *m = r ? rider_model(r) : nullptr;
  s.rear_travel = m ? m->swingarm_travel : 1;
  s.front_travel = m ? m->fork_travel : 1;
  return s;
}

void snapshot_from_rider(const Rider *r, uint8_t out[SNAPSHOT_BYTES]) {
  SnapshotFields f{};
  const dReal *p = dBodyGetPosition(r->body[FRAME]);
  const dReal *q = dBodyGetQuaternion(r->body[FRAME]);
  const dReal *rp = dBodyGetPosition(r->body[RIDER_BODY]);
  const dReal *rq = dBodyGetQuaternion(r->body[RIDER_BODY]);
  for (int k = 0; k < 3; k++) {
    f.position[k] = p[k];
    f.rider_offset[k] = rp[k] - p[k];
  }
  for (int k = 0; k < 4; k++) {
    f.orientation[k] = q[k];
    f.rider_orientation[k] = rq[k];
  }
  f.steering = dJointGetHingeAngle(r->joint[JOINT_STEERING]);
  f.rear_suspension = dJointGetHingeAngle(r->joint[JOINT_SWINGARM]);
  f.front_suspension = dJointGetSliderPosition(r->joint[JOINT_FORK]);
  f.wheel_angle[0] = dJointGetHingeAngle(r->joint[JOINT_FRONT_AXLE]);
  f.wheel_angle[1] = dJointGetHingeAngle(r->joint[JOINT_REAR_AXLE]);
  f.gear = r->gear;
  f.dab = r->dab_assist > 0;
  f.throttle = r->throttle;
  f.down = r->crash_timer > 0 ? std::min(r->crash_timer, 128) : 0;
  f.rpm = r->engine_speed * RPM_PER_RAD_S;
  snapshot_encode(f, snapshot_scale(r), out);
}

void rider_pose_from_snapshot(Rider *r, const uint8_t pose[SNAPSHOT_BYTES], const uint8_t *a,
                              const uint8_t *b, int tics) {
  if (!r || !r->in_use) return;
  SnapshotScale s = snapshot_scale(r);
  SnapshotFields f;
  snapshot_decode(pose, s, &f);
  BodyPlace at[BODY_PART_COUNT];
  body_places(r, f, at);
  bool moving = a && b && tics > 0;
  // A and B stay the same for several tics: their speeds are kept.
  Speeds &sp = speeds[r->slot >= 0 && r->slot < RIDER_SLOTS ? r->slot : 0];
  if (moving && !(sp.valid && sp.model == r->model && sp.tics == tics &&
                  !memcmp(sp.a, a, SNAPSHOT_BYTES) && !memcmp(sp.b, b, SNAPSHOT_BYTES))) {
    BodyPlace from[BODY_PART_COUNT], to[BODY_PART_COUNT];
    SnapshotFields fa, fb;
    snapshot_decode(a, s, &fa);
    snapshot_decode(b, s, &fb);
    body_places(r, fa, from);
    body_places(r, fb, to);
    double dt = tics * TIC_SECONDS;
    for (int i = 0; i < BODY_PART_COUNT; i++) {
      for (int k = 0; k < 3; k++) {
        sp.v[i][k] = (to[i].position[k] - from[i].position[k]) / dt;
        sp.w[i][k] = 0;
      }
      // The turn from a to b in world axes: q_b * conj(q_a).
      double c[4] = {from[i].q[0], -from[i].q[1], -from[i].q[2], -from[i].q[3]}, d[4];
      qmul(to[i].q, c, d);
      if (d[0] < 0)
        for (double &e : d) e = -e;
      double n = std::sqrt(d[1] * d[1] + d[2] * d[2] + d[3] * d[3]);
      if (n > 1e-12) {
        double angle = 2 * std::atan2(n, d[0]);
        for (int k = 0; k < 3; k++) sp.w[i][k] = d[k + 1] / n * angle / dt;
      }
    }
    memcpy(sp.a, a, SNAPSHOT_BYTES);
    memcpy(sp.b, b, SNAPSHOT_BYTES);
    sp.tics = tics;
    sp.model = r->model;
    sp.valid = 1;
  }
  for (int i = 0; i < BODY_PART_COUNT; i++) {
    dBodyID body = r->body[i];
    dBodySetPosition(body, at[i].position[0], at[i].position[1], at[i].position[2]);
    dQuaternion q = {at[i].q[0], at[i].q[1], at[i].q[2], at[i].q[3]};
    dBodySetQuaternion(body, q);
    const double zero[3] = {0, 0, 0};
    const double *v = moving ? sp.v[i] : zero, *w = moving ? sp.w[i] : zero;
    dBodySetLinearVel(body, v[0], v[1], v[2]);
    dBodySetAngularVel(body, w[0], w[1], w[2]);
  }
  r->engine_speed = f.rpm / RPM_PER_RAD_S;
  if (f.down > 0) {
    r->crash_timer = f.down;
  } else {
    r->crash_timer = 0;
    r->gear = f.gear;
    r->throttle = f.throttle;
    r->dab_assist = f.dab ? 1.0f : 0.0f;
  }
}
