// The auto pilot at the controls: which point of the followed line is
// reached, when to take the next line, the start, the recovery when the
// line is lost, and the control law that turns the line ahead, the traffic
// and the ground's grip into throttle, brakes, clutch and steering.
#include <algorithm>
#include <cmath>

#include "bike/rider.h"
#include "bike/rider_internal.h"
#include "bike/robot.h"
#include "core/core.h"

namespace {

const float INFINITE_RADIUS = INFINITY;

int down(const Rider *r) { return r->crash_timer > 0; }

// U[0, x) from the shared generator.
float uniform(float x) { return float(double(rng_next() & 0x7fffffffu) * x / 2147483648.0); }

struct Motion {
  double P[3], v[3];
  double m;
  double f[3], s[3];  // forward and side (the bike's right) axes of the motion
  double z[3];        // the frame's own z axis (pointing back)
  double roll_rate, pitch_rate;
};

void measure(const Rider *r, Motion *o) {
  const dReal *p = dBodyGetPosition(r->body[FRAME]);
  const dReal *v = dBodyGetLinearVel(r->body[FRAME]);
  for (int i = 0; i < 3; i++) o->P[i] = p[i], o->v[i] = v[i];
  o->m = sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
  if (o->m > 0) {
    for (int i = 0; i < 3; i++) o->f[i] = v[i] / o->m;
  } else {
    o->f[0] = o->f[1] = 0;
    o->f[2] = -1;
  }
  o->s[0] = -o->f[2];
  o->s[1] = 0;
  o->s[2] = o->f[0];
  dVector3 z;
  dBodyVectorToWorld(r->body[FRAME], 0, 0, 1, z);
  for (int i = 0; i < 3; i++) o->z[i] = z[i];
  const dReal *w = dBodyGetAngularVel(r->body[FRAME]);
  dVector3 l;
  dBodyVectorFromWorld(r->body[FRAME], w[0], w[1], w[2], l);
  o->roll_rate = l[2];
  o->pitch_rate = l[0];
}

void set_gear_for_start(Rider *r) {
  const BikeModel *m = rider_model(r);
  r->gear = m && m->gear_ratios[1] > 0 ? 1 : 0;
  r->flags &= ~RF_AUTO_SHIFT;
}

void reset_controls(Rider *r, float throttle) {
  rider_set_sit_dab(r, down(r) ? 0 : 1);
  rider_set_clutch(r, 0);
  rider_set_front_brake(r, 1);
  rider_set_rear_brake(r, 1);
  rider_set_steering(r, 0);
  set_gear_for_start(r);
  rider_set_throttle(r, down(r) ? 0 : throttle);
}

void stop(Rider *r) {
  rider_set_throttle(r, 0);
  rider_set_clutch(r, 0);
  rider_set_front_brake(r, 1);
  rider_set_rear_brake(r, 1);
  rider_set_steering(r, 0);
  rider_set_sit_dab(r, down(r) ? 0 : 1);
}

// 1 while the start sequence holds the controls this tic.
int start_phase(Rider *r, RobotState &s) {
  const double now = physics.now_tic / 128.0, drop = physics.drop_tic / 128.0;
  if (s.start_timer == 0) s.start_timer = uniform(2);
  if (now < 5) {
    reset_controls(r, 0);
    if (s.start_timer < 0) {
      rider_set_throttle(r, down(r) ? 0 : 1);
      if (now > -s.start_timer) s.start_timer = float(std::min(now + 2 + uniform(0.5f), 5.0));
    } else if (now > s.start_timer) {
      s.start_timer = float(-(now + 0.25 + uniform(0.5f)));
    }
    return 1;
  }
  if (s.start_timer <= 5) s.start_timer = 5.125f + uniform(0.375f);
  if (drop > s.start_timer) {
    if (now < s.start_timer) {
      reset_controls(r, 0);
      return 1;
    }
    const Personality &p = personalities[s.personality];
    s.start_timer = float(drop + p.reaction_min + (p.reaction_max - p.reaction_min) * uniform(1));
  }
  if (now < s.start_timer) {
    reset_controls(r, 1);
    return 1;
  }
  if (now < s.start_timer + 2) {
    float x = clampf(float(4 * (now - s.start_timer)), 0, 1);
    if (x < 0.75f) set_gear_for_start(r);
    else r->flags |= RF_AUTO_SHIFT;
    int d = down(r);
    rider_set_throttle(r, d ? 0 : 1);
    rider_set_sit_dab(r, d ? 0 : 1 - x);
    rider_set_clutch(r, x);
    rider_set_front_brake(r, 0);
    rider_set_rear_brake(r, 0);
    rider_set_steering(r, 0);
    return 1;
  }
  return 0;
}

void recovery(Rider *r, RobotState &s, const Motion &mo) {
  const int now = physics.now_tic;
  const int W = int(s.followed.size());
  if (now - s.progress_tic > 40 * 128) {
    s.progress_tic = now;
    s.recovery = 3;
    s.next = now % W;
  }
  const LinePoint &T = s.followed[size_t(std::clamp(s.next, 0, W - 1))];
  const double beta = dJointGetHingeAngle(r->joint[JOINT_STEERING]);
  const double beta_rate = dJointGetHingeAngleRate(r->joint[JOINT_STEERING]);
  const int d = down(r);
  if (now - s.progress_tic > 19 * 128) {
    // Stuck: pushed towards the point with half the weight lifted.
    double dx = T.x - mo.P[0], dz = T.z - mo.P[2], l = sqrt(dx * dx + dz * dz);
    double target[3] = {l > 0 ? 5 * dx / l : 0, 0, l > 0 ? 5 * dz / l : 0};
    velocity_servo(r, target, 2000);
    dBodyAddForce(r->body[FRAME], 0, 16 * r->total_mass, 0);
    rider_set_steering(r, clampf(float(-0.25 * (beta + beta_rate)), -1, 1));
    rider_set_sit_dab(r, d ? 0 : 1);
    rider_set_clutch(r, 0);
    rider_set_throttle(r, 0);
    rider_set_front_brake(r, 0);
    rider_set_rear_brake(r, 0);
    return;
  }
  dVector3 t;
  dBodyGetPosRelPoint(r->body[FRAME], T.x, T.y, T.z, t);
  const double x = t[0], z = t[2], m = mo.m, lean = r->lean_angle;
  rider_set_sit_dab(r, 0);
  double U, V;
  // Slow, a foot goes down: the dab forces also lift a bike that fell over.
  if (m < 10) rider_set_sit_dab(r, d ? 0 : 1);
  if (m < 10 && fabs(lean) > 1.0 / 6) {
    U = 1.0 / 6, V = 5;
  } else if (m < 10) {
    U = 1.0 / 6, V = 15;
  } else if (m < 20) {
    U = (std::max(m - 10, 0.0) * 0.1 * 2 / 3 + 1.0 / 3) / 2, V = 15;
  } else {
    U = 0.5, V = 15;
  }
  double want = fabs(x) > -z ? (x >= 0 ? -U : U) : std::clamp(0.5 * x / z, -U, U);
  int l = int(line_position(r));
  int a = next_takeoff(r, l);
  if (-z < 4 * fabs(x) || (a >= 0 && a - l >= 0 && a - l <= 8)) s.recovery = 3;
  float c = clampf(float(4 * (want - lean)), -4, 4);
  rider_set_steering(r, clampf(float(2 * (mo.roll_rate - c)), -1, 1));
  robot_speed_control(r, float(m), float(V));
}

// The corners of a rider's zone: rear left, rear right, front right, front
// left (x, z).
void zone(const double P[3], const double f[3], double speed, double out[4][2]) {
  double fx = f[0], fz = f[2], l = sqrt(fx * fx + fz * fz);
  if (l > 0) fx /= l, fz /= l;
  else fx = 0, fz = -1;
  double sx = -fz, sz = fx;
  double back = -4, front = speed + 4;
  double c[4][2] = {{back, -2}, {back, 2}, {front, 2}, {front, -2}};
  for (int i = 0; i < 4; i++) {
    out[i][0] = P[0] + fx * c[i][0] + sx * c[i][1];
    out[i][1] = P[2] + fz * c[i][0] + sz * c[i][1];
  }
}

int side(const double a[2], const double b[2], const double p[2]) {
  return (b[0] - a[0]) * (p[1] - a[1]) - (b[1] - a[1]) * (p[0] - a[0]) >= 0;
}

int cross(const double a[2], const double b[2], const double c[2], const double d[2]) {
  return side(a, b, c) != side(a, b, d) && side(c, d, a) != side(c, d, b);
}

void heading(const Rider *r, double P[3], double f[3], double *m) {
  const dReal *p = dBodyGetPosition(r->body[FRAME]);
  const dReal *v = dBodyGetLinearVel(r->body[FRAME]);
  *m = sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
  for (int i = 0; i < 3; i++) {
    P[i] = p[i];
    f[i] = *m > 0 ? v[i] / *m : (i == 2 ? -1 : 0);
  }
}

LinePoint at(const RobotState &s, int i) {
  return s.followed[size_t(std::clamp(i, 0, int(s.followed.size()) - 1))];
}

// A point of the followed line at a fractional index.
void point_at(const RobotState &s, float index, double out[3]) {
  int i = int(floorf(index));
  float t = index - float(i);
  LinePoint a = at(s, i), b = at(s, i + 1);
  out[0] = a.x + (b.x - a.x) * t;
  out[1] = a.y + (b.y - a.y) * t;
  out[2] = a.z + (b.z - a.z) * t;
}

// Front tire slip angle: how far its travel turns from its plane.
double front_slip_angle(const Rider *r) {
  const BikeModel *m = rider_model(r);
  double a[3], l = 0;
  for (int i = 0; i < 3; i++) {
    a[i] = double(m->steering_head_pos[i]) - m->fork_lower_pos[i];
    l += a[i] * a[i];
  }
  l = sqrt(l);
  for (double &x : a) x /= l;
  const dReal *lv = dBodyGetLinearVel(r->body[FRONT_WHEEL]);
  dVector3 v;
  dBodyVectorFromWorld(r->body[FORK_UPPER], lv[0], lv[1], lv[2], v);
  double f = v[1] * a[2] - v[2] * a[1];
  if (v[0] * v[0] + f * f > 1) return -atan2(v[0], f);
  return 0;
}

float length3f(const float v[3]) { return sqrtf(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]); }

}  // namespace

float line_position(Rider *r) {
  const RobotState &s = robot_states[r->slot];
  const int n = std::min(s.next, int(s.followed.size()));
  const dReal *p = dBodyGetPosition(r->body[FRAME]);
  dVector3 z;
  dBodyVectorToWorld(r->body[FRAME], 0, 0, 1, z);
  auto e = [&](int j) {
    const LinePoint &q = s.followed[size_t(j)];
    return (q.x - p[0]) * z[0] + (q.y - p[1]) * z[1] + (q.z - p[2]) * z[2];
  };
  for (int j = n - 1; j >= 0; j--) {
    double ej = e(j);
    if (ej <= 0) continue;
    if (j + 1 >= n) return float(n);
    double g = -e(j + 1);
    return float(j + 1 + std::clamp(ej / (ej + g), 0.0, 1.0));
  }
  return 0;
}

int next_takeoff(Rider *r, int i) {
  const RobotState &s = robot_states[r->slot];
  const int W = int(s.followed.size());
  // The point after j is read too: j stops at W - 2.
  int end = std::min(W - 1, i + 20);
  for (int j = std::max(i, 0); j < end; j++)
    if (s.followed[size_t(j)].speed < 0 && s.followed[size_t(j) + 1].speed < 0) return j;
  return -1;
}

float pursuit_radius(Rider *r, const float aim[3], float rc) {
  Motion mo;
  measure(r, &mo);
  const double X = aim[0] * mo.s[0] + aim[2] * mo.s[2];
  const double Y = -(aim[0] * mo.f[0] + aim[1] * mo.f[1] + aim[2] * mo.f[2]);
  if (Y >= 0) return X < 0 ? -10 : 10;
  double xp, yp;
  if (!std::isfinite(rc) || mo.m == 0) {
    xp = 3 * X;
    yp = -Y;
  } else {
    double zx = rc, dx = X - zx, dy = Y, d = sqrt(dx * dx + dy * dy);
    double nx = X, ny = Y;
    if (d > 0) {
      nx = zx + dx * fabs(rc) / d;
      ny = dy * fabs(rc) / d;
    }
    xp = X + 2 * (X - nx);
    yp = -(Y + 2 * (Y - ny));
  }
  if (fabs(xp) < 1e-6) xp = xp < 0 ? -1e-6 : 1e-6;
  return float((xp * xp + yp * yp) / (2 * xp));
}

int robot_traffic(Rider *a, Rider *b) {
  double Pa[3], fa[3], ma, Pb[3], fb[3], mb;
  heading(a, Pa, fa, &ma);
  heading(b, Pb, fb, &mb);
  double dx = Pb[0] - Pa[0], dz = Pb[2] - Pa[2];
  if (dx * dx + dz * dz > (ma + mb + 16) * (ma + mb + 16)) return 0;
  double za[4][2], zb[4][2];
  zone(Pa, fa, ma, za);
  zone(Pb, fb, mb, zb);
  // Left edge (0-3), rear edge (0-1), right edge (1-2), front edge (3-2).
  static const int edges[4][2] = {{0, 3}, {0, 1}, {1, 2}, {3, 2}};
  int hit = 0;
  for (const auto &e : edges)
    if (cross(za[e[0]], za[e[1]], zb[e[0]], zb[e[1]])) hit = 1;
  if (!hit) return 0;
  double ahead = dx * fa[0] + dz * fa[2];
  double behind = -dx * fb[0] - dz * fb[2];
  return ahead > behind;
}

void robot_speed_control(Rider *r, float m, float d) {
  const int dn = down(r);
  if (!wheel_touching(r, 1)) {
    rider_set_clutch(r, 0.125f);
    rider_set_front_brake(r, 0);
    rider_set_rear_brake(r, 0);
    const dReal *fp = dBodyGetPosition(r->body[FRONT_WHEEL]);
    const dReal *rp = dBodyGetPosition(r->body[REAR_WHEEL]);
    const dReal *w = dBodyGetAngularVel(r->body[FRAME]);
    dVector3 l;
    dBodyVectorFromWorld(r->body[FRAME], w[0], w[1], w[2], l);
    double pitch = l[0];
    if ((fp[1] < rp[1] && pitch < 0) || pitch < -M_PI / 4) {
      rider_set_throttle(r, dn ? 0 : 1);
    } else {
      rider_set_throttle(r, 0);
      if (fp[1] > rp[1] + 1 && pitch >= -M_PI / 8) {
        rider_set_clutch(r, 0);
        rider_set_rear_brake(r, 1);
      }
    }
    return;
  }
  if (m < d - 1) {
    rider_set_throttle(r, dn ? 0 : 1);
    rider_set_front_brake(r, 0);
    rider_set_rear_brake(r, 0);
  } else if (m < d) {
    rider_set_throttle(r, dn ? 0 : clampf(d - m, 0, 1));
    rider_set_front_brake(r, 0);
    rider_set_rear_brake(r, 0);
  } else {
    rider_set_throttle(r, 0);
    rider_set_front_brake(r, clampf(m - d, 0, 1));
    rider_set_rear_brake(r, clampf(m - d, 0, 1));
  }
  if (r->gear >= 1) {
    rider_set_clutch(r, 1);
  } else {
    const BikeModel *bm = rider_model(r);
    double rpm = rider_rpm(r);
    rider_set_clutch(r, clampf(float((rpm - bm->downshift_rpm + 1000) / 1000), 0, 1));
  }
}

void robot_control(Rider *r) {
  RobotState &s = robot_states[r->slot];
  const int now = physics.now_tic;
  if (now - s.progress_tic > 3 * 128) {
    s.recovery = 3;
    return;
  }
  Motion mo;
  measure(r, &mo);
  const double m = mo.m, lean = r->lean_angle, M = r->total_mass;
  const int W = int(s.followed.size());
  rider_set_sit_dab(r, 0);
  const float p = line_position(r);
  const int l = int(p);
  const LinePoint pl = at(s, l), pl1 = at(s, l + 1);
  // 2. Target speed.
  double d = fabsf(pl.speed) + (fabsf(pl1.speed) - fabsf(pl.speed)) * (p - l);
  // 3. Time to take-off.
  const int a = next_takeoff(r, l);
  double tau = 1000000;
  if (a >= 0 && m > 0) {
    double dx = pl.x - mo.P[0], dy = pl.y - mo.P[1], dz = pl.z - mo.P[2];
    tau = sqrt(dx * dx + dy * dy + dz * dz) / m + (a - l) * 0.25;
  }
  // 4. Load factor and the current turn.
  double load = 0;
  for (int w = 0; w < 2; w++)
    if (r->wheel[w].depth > 0) load += r->wheel[w].feedback.f1[1];
  const double G = M > 0 ? std::max(load / (32 * M) - 1, 1.0) : 1;
  double Lr = M_PI / G;
  double Rc = INFINITE_RADIUS;
  if (lean != 0 && m > 0) {
    double t = tan(lean);
    if (t != 0 && std::isfinite(t)) Rc = -m * m / (32 * G * t);
  }
  // 5. Traffic.
  Rider *nearest = nullptr;
  double nearest_d2 = 1000.0 * 1000.0;
  for (int q = 0; q < RIDER_SLOTS; q++) {
    Rider *o = rider_in_slot(q);
    if (!o || o == r || !o->body[FRAME]) continue;
    const dReal *op = dBodyGetPosition(o->body[FRAME]);
    double dx = op[0] - mo.P[0], dz = op[2] - mo.P[2], d2 = dx * dx + dz * dz;
    if (d2 >= nearest_d2 || !robot_traffic(r, o)) continue;
    nearest = o;
    nearest_d2 = d2;
  }
  if (nearest) {
    double t = std::min((now - physics.drop_tic) / 128.0, 100.0);
    double Ag = std::clamp((t - 3) / 2, 0.0, 1.0) * std::clamp((120 - t) / 100, 0.0, 1.0);
    const dReal *qp = dBodyGetPosition(nearest->body[FRAME]);
    const dReal *qv = dBodyGetLinearVel(nearest->body[FRAME]);
    double rv[3];
    if (std::isfinite(Rc)) {
      for (int i = 0; i < 3; i++) rv[i] = qp[i] - (mo.P[i] + Rc * mo.s[i]);
    } else {
      for (int i = 0; i < 3; i++) rv[i] = mo.s[i];
    }
    double rl2 = dot3(rv, rv), along = rl2 > 0 ? (qv[0] * rv[0] + qv[1] * rv[1] + qv[2] * rv[2]) / rl2 : 0;
    double u[3] = {qv[0] - along * rv[0], qv[1] - along * rv[1], qv[2] - along * rv[2]};
    double g = dot3(u, mo.f) > 0 ? sqrt(dot3(u, u)) : 0;
    double dd[3] = {qp[0] - mo.P[0], qp[1] - mo.P[1], qp[2] - mo.P[2]};
    double delta = sqrt(dot3(dd, dd));
    double S = 12 + 8 * Ag;
    if (delta < S) {
      d = std::min(d, g * (1 - Ag / 4));
    } else if (d > g) {
      double o = (m - g) * (m - g) / 10 - delta;
      if (o > -S) {
        // Held up: the segment says nothing about the line.
        for (int &id : s.ring) id = 0;
        d = d + std::clamp((S + o) / 3, 0.0, 1.0) * (g - d);
      }
    }
  }
  // 6. Aim.
  double kr = 4;
  const int progress = robot_race.progress ? robot_race.progress(r->slot) : 0;
  float aim = p + 4;
  if (progress >= 1) {
    aim = p + 2;
    int end = std::min(W, l + 7), i = l + 1;
    if (i < end) {
      for (; i < end; i++) {
        const LinePoint &q = s.followed[size_t(i)];
        double o[3] = {q.x - mo.P[0], q.y - mo.P[1], q.z - mo.P[2]};
        double fwd = dot3(o, mo.f), sd = dot3(o, mo.s);
        if (fwd < 0 || fabs(sd) > fwd / 8) break;
      }
      double c = std::clamp((21.0 + l - i) / 17, 0.0, 1.0);
      kr = 4 * c;
      Lr *= c;
      if (i - (l + 1) > 4 && fabs(lean) < M_PI / 8) aim = p + 3;
    }
  }
  float offset[3];
  if (tau < 2 && progress >= 1) {
    double N = std::clamp(4 - 2 * tau, 0.0, 1.0);
    LinePoint q3 = at(s, l + 3), a0 = at(s, a), a3 = at(s, a + 3);
    offset[0] = float((1 - N) * (q3.x - mo.P[0]) + N * (a3.x - a0.x));
    offset[1] = float((1 - N) * (q3.y - mo.P[1]) + N * (a3.y - a0.y));
    offset[2] = float((1 - N) * (q3.z - mo.P[2]) + N * (a3.z - a0.z));
  } else {
    double q[3];
    point_at(s, aim, q);
    for (int i = 0; i < 3; i++) offset[i] = float(q[i] - mo.P[i]);
  }
  const double R = pursuit_radius(r, offset, float(Rc));
  // 8. Target lean.
  double want = atan2(-m * m / R, 32 * G);
  // 9. Grip.
  {
    const double unclamped = want;
    float spots[6][2];
    for (int k = 0; k < 5; k++) {
      LinePoint q = at(s, l + 4 - k);
      spots[k][0] = q.x, spots[k][1] = q.z;
    }
    const dReal *fw = dBodyGetPosition(r->body[FRONT_WHEEL]);
    spots[5][0] = float(fw[0] + 0.25 * mo.v[0]);
    spots[5][1] = float(fw[2] + 0.25 * mo.v[2]);
    for (auto &xz : spots) {
      TerrainVec n = terrain_normal(xz[0], xz[1]);
      dVector3 nl;
      dBodyVectorFromWorld(r->body[FRAME], n.x, n.y, n.z, nl);
      double bank = atan2(nl[0], nl[1]);
      const Surface *sf = surface_at(xz[0], xz[1], nullptr);
      double mu = sf ? sf->friction_coef[0] : 1;
      double theta = std::min(atan(mu), 1.1780972450961724);
      want = std::clamp(want, lean - bank - theta, lean - bank + theta);
    }
    if (want != unclamped) {
      s.grip_tic = now;
      d = std::min(d, sqrt(32 * G * fabs(R) * tan(fabs(want))));
    }
  }
  // 10. Throttle factor.
  const WheelContact &front = r->wheel[0];
  const float front_slip = length3f(front.slip);
  double e = front.depth < 0 ? 1 : std::clamp(1 - front_slip / 16.0, 0.0, 1.0);
  if (m < 7.5) {
    e = 1;
    want = 0;
  } else if (m < 10) {
    double q = std::clamp(0.4 * (m - 7.5), 0.0, 1.0);
    e = 1 + q * (e - 1);
    want *= q;
  }
  // 11. A jump ahead.
  if (tau < 3) {
    double q = std::clamp((3 - tau) / 2, 0.0, 1.0);
    e = e + (1 - e) * q;
    d = d + q * (std::max(fabsf(pl.speed) + 2.0, m) - d);
    double Pj = M_PI / 2 - 1.3744469 * q;
    want = std::clamp(want, -Pj, Pj);
    Lr = Lr + std::clamp((3 - tau) / 3, 0.0, 1.0) * (M_PI / 8 - Lr);
  }
  // 12. Roll rate.
  double x = kr * (want - lean);
  if ((lean < 0 && x >= 0) || (lean >= 0 && x < 0)) Lr *= 2;
  const double c = std::clamp(x, -Lr, Lr);
  // 13. The lock.
  r->full_lock_speed = 1;
  r->restricted_lock_speed = 50;
  r->restricted_lock = clampf(
      float((1 + 4 * std::clamp(fabs(c) / M_PI, 0.0, 1.0)) * M_PI / 180), 0, float(M_PI / 4));
  // 14. Steering.
  const double beta = dJointGetHingeAngle(r->joint[JOINT_STEERING]);
  const double beta_rate = dJointGetHingeAngleRate(r->joint[JOINT_STEERING]);
  double u = std::clamp(front_slip_angle(r) - beta, -0.25, 0.25);
  u = u < 0 ? std::min(u + 0.03125, 0.0) : std::max(u - 0.03125, 0.0);
  double w = 8 * u - beta_rate;
  w = w < 0 ? std::min(w + 1.0 / 2400, 0.0) : std::max(w - 1.0 / 2400, 0.0);
  const double h = std::clamp(w / 2, -2.0 / 3, 2.0 / 3);
  if (front.depth <= 0) {
    rider_set_steering(r, float(h));
  } else {
    double err = mo.roll_rate - c;
    double delta = err - std::clamp(err, -0.125, 0.125);
    double q = std::clamp(1 - front_slip / 4.0, 0.0, 1.0);
    rider_set_steering(r, float(std::clamp(h + q * (4 * delta - h), -1.0, 1.0)));
  }
  s.target_speed = float(d);
  s.target_lean = float(want);
  // 15, 16. Speed, then the throttle shaped.
  robot_speed_control(r, float(m), std::isfinite(d) ? float(d) : 0.0f);
  const float e2 = float(e) * r->throttle;
  float out;
  if (now - s.grip_tic < 16) out = e2 < 0 ? 0 : std::min(s.last_throttle + 1.0f / 32, e2);
  else out = e2 < s.last_throttle - 1.0f / 32 ? s.last_throttle - 1.0f / 32 : std::min(e2, 1.0f);
  s.last_throttle = out;
  rider_set_throttle(r, out > 0 && !down(r) ? std::min(out, 1.0f) : 0);
}

void robot_drive(Rider *r) {
  if (!r || r->slot < 0 || r->slot >= RIDER_SLOTS || !r->body[FRAME]) return;
  RobotState &s = robot_states[r->slot];
  if (s.personality < 0)
    set_personality(r, robot_race.personality ? robot_race.personality(r->slot) : "");
  if (s.personality == 0) return;
  r->flags |= RF_WHEELIE_ENGINE | RF_WHEELIE_FRONT | RF_FRONT_ANTILOCK | RF_REAR_ANTILOCK |
              RF_AUTO_SHIFT;
  // The recovery heads back to the line itself; the realign motor would
  // hold a leaning robot off the dab forces that stand it up.
  r->flags &= ~RF_REALIGN;
  const int now = physics.now_tic;
  Motion mo;
  measure(r, &mo);
  // 2. The next point reached.
  int W = int(s.followed.size());
  if (s.next >= 0 && s.next < W) {
    const LinePoint &q = s.followed[size_t(s.next)];
    double dx = q.x - mo.P[0], dz = q.z - mo.P[2], D2 = dx * dx + dz * dz;
    if (D2 < (s.recovery == 3 ? 900 : 3600)) {
      int reached = 1;
      if (D2 > 16 && s.next >= 1) {
        const LinePoint &b = s.followed[size_t(s.next) - 1];
        double sx = q.x - b.x, sz = q.z - b.z;
        if (sx * sx + sz * sz > 1 && sx * mo.z[0] + sz * mo.z[2] > 0) reached = 0;
      }
      if (reached) {
        s.next++;
        s.progress_tic = now;
        if (s.next < W) {
          if (s.recovery > 0) s.recovery--;
        } else {
          s.followed.clear();
          s.next = 0;
          W = 0;
          if (s.recovery > 0) s.recovery--;
        }
      }
    }
  }
  // 3. The next line.
  if (s.next >= W - 10 && !lines.table.empty()) {
    const int c = s.lines_taken;
    int slot = pick_line(r, c);
    const LineTable *tab = slot >= 0 ? &lines.table[size_t(line_table_of(c))] : nullptr;
    if (tab && !tab->line[slot].points.empty()) {
      const RacingLine &line = tab->line[slot];
      robot_ring(s, c) = line.id;
      s.lines_taken++;
      robot_append_line(r, line);
      W = int(s.followed.size());
      if (c == 0) {
        const LinePoint &o = s.followed[0];
        int n = 1;
        while (n < W) {
          double dx = s.followed[size_t(n)].x - o.x, dz = s.followed[size_t(n)].z - o.z;
          if (dx * dx + dz * dz > 100) break;
          n++;
        }
        s.next = n;
        s.progress_tic = 3840;
      }
    }
  }
  // 4. Drive, or stop where the line ends.
  if (s.next >= W) {
    stop(r);
    return;
  }
  if (now < physics.drop_tic + 5 * 128 && start_phase(r, s)) return;
  if (s.recovery == 0) robot_control(r);
  else recovery(r, s, mo);
}
