// The steering law: one torque about the steering axis from the rider's
// input, the lean and roll rate, the speed and the front tire's slip angle,
// shaped by the riding aids; and the arcade roll motor that replaces it.
#include <cmath>

#include "bike/rider.h"
#include "bike/rider_internal.h"

static void unit_steering_axis(const BikeModel *m, double a[3]) {
  double l = 0;
  for (int i = 0; i < 3; i++) {
    a[i] = double(m->steering_head_pos[i]) - m->fork_lower_pos[i];
    l += a[i] * a[i];
  }
  l = sqrt(l);
  for (int i = 0; i < 3; i++) a[i] /= l;
}

void apply_steering_torque(Rider *r, double x) {
  double a[3];
  unit_steering_axis(rider_model(r), a);
  dVector3 w;
  dBodyVectorToWorld(r->body[FRAME], a[0], a[1], a[2], w);
  dBodyAddTorque(r->body[FRONT_WHEEL], x * w[0], x * w[1], x * w[2]);
  dBodyAddTorque(r->body[FRAME], -x * w[0], -x * w[1], -x * w[2]);
}

void steering_damping(Rider *r) {
  dBodyID wheel = r->body[FRONT_WHEEL];
  const dReal *w = dBodyGetAngularVel(wheel);
  dVector3 e;
  dBodyVectorToWorld(wheel, 1, 0, 0, e);
  double spin = e[0] * w[0] + e[1] * w[1] + e[2] * w[2];
  double k = r->steering_damping;
  double t[3];
  for (int i = 0; i < 3; i++) t[i] = k * (e[i] * spin - w[i]);
  dBodyAddTorque(wheel, t[0], t[1], t[2]);
  dBodyAddTorque(r->body[FRAME], -t[0], -t[1], -t[2]);
}

// Slip angle of the front tire: how far its travel turns from its plane.
static double front_slip_angle(Rider *r) {
  double a[3];
  unit_steering_axis(rider_model(r), a);
  const dReal *lv = dBodyGetLinearVel(r->body[FRONT_WHEEL]);
  dVector3 v;
  dBodyVectorFromWorld(r->body[FORK_UPPER], lv[0], lv[1], lv[2], v);
  double f = v[1] * a[2] - v[2] * a[1];
  if (v[0] * v[0] + f * f > 1) return -atan2(v[0], f);
  return 0;
}

static double roll_rate(Rider *r) {
  const dReal *w = dBodyGetAngularVel(r->body[FRAME]);
  dVector3 l;
  dBodyVectorFromWorld(r->body[FRAME], w[0], w[1], w[2], l);
  return l[2];
}

static void arcade_steering(Rider *r) {
  const BikeModel *m = rider_model(r);
  double s = (r->flags & RF_STEER_INPUT) ? r->steering : 0;
  double K = r->steering_strength, D = r->direct_steering;
  double beta = dJointGetHingeAngle(r->joint[JOINT_STEERING]);
  double lambda = r->lean_angle;
  const dReal *p = dBodyGetPosition(r->body[FRAME]);
  const dReal *v = dBodyGetLinearVel(r->body[FRAME]);
  if (!wheel_touching(r, 0)) {
    double ground = terrain_height(float(p[0] + v[0]), float(p[2] + v[2]));
    if (m->frame_pos[1] <= (p[1] + v[1] - 16) - ground) {
      apply_steering_torque(r, (-50 * beta + s * K * D) * 1.5);
      return;
    }
  }
  // Roll motor towards the lean the rider asks for.
  double want = -M_PI / 4 * s;
  double d = fabs(M_PI / 4 * s + lambda);
  double g = clampd((r->roll_damping - 40) * 0.025, 0, 1);
  double rate = (d < 0.0625 ? d : 0.0625) * (1.5 - 0.5 * g) * 16;
  if (lambda >= want) rate = -rate;
  dJointID j = dJointCreateAMotor(physics.world, physics.contacts);
  dJointAttach(j, r->body[FRAME], nullptr);
  dJointSetAMotorNumAxes(j, 1);
  const dReal *R = dBodyGetRotation(r->body[FRAME]);
  dJointSetAMotorAxis(j, 0, 0, R[2], R[6], R[10]);
  dJointSetAMotorParam(j, dParamVel, rate);
  dJointSetAMotorParam(j, dParamFMax, 1000);

  double kappa = front_slip_angle(r);
  double e = clampd((kappa - 0.5 * s) - beta, -0.25, 0.25);
  double ep = (e < 0 ? -1 : 1) * (fabs(e) - 0.03125 > 0 ? fabs(e) - 0.03125 : 0);
  double u = 8 * ep - dJointGetHingeAngleRate(r->joint[JOINT_STEERING]);
  const double band = 0.0004166666666666667;
  u = u > band ? u - band : (u < -band ? u + band : 0);
  double t = u < -1.3333334 ? -0.6666667 : (u > 1.3333334 ? 0.6666667 : 0.5 * u);
  apply_steering_torque(r, K * t);

  // Yaw damping: drag on a point 20 ft behind.
  dVector3 tv;
  dBodyGetRelPointVel(r->body[FRAME], 0, 0, 20, tv);
  dBodyAddForceAtRelPos(r->body[FRAME], -0.25 * tv[0], -0.25 * tv[1], -0.25 * tv[2], 0, 0, 20);
}

void steering_update(Rider *r) {
  if (r->arcade) {
    arcade_steering(r);
    return;
  }
  const BikeModel *m = rider_model(r);
  double s = (r->flags & RF_STEER_INPUT) ? r->steering : 0;
  double K = r->steering_strength, F = r->max_steering_force, D = r->direct_steering;
  double lambda = r->lean_angle;
  double rr = roll_rate(r);
  double beta = dJointGetHingeAngle(r->joint[JOINT_STEERING]);
  double kappa = front_slip_angle(r);
  double axle_rate = dJointGetHingeAngleRate(r->joint[JOINT_FRONT_AXLE]);
  double wheel_r = double(m->front_rim_radius) + m->front_tire_radius;
  double vf = wheel_r * axle_rate;
  const WheelContact &fw = r->wheel[0];
  const dReal *fc = dBodyGetPosition(r->body[FRONT_WHEEL]);
  int touching = wheel_touching(r, 0);
  const Surface *surf = touching ? surface_at(fw.position[0], fw.position[2], nullptr)
                                 : surface_at(float(fc[0]), float(fc[2]), nullptr);
  double mu0 = surf->friction_coef[0];
  double V = rider_speed(r);
  r->sigma = 0;

  const double quarter = M_PI / 4;
  double A = r->restricted_lock;
  double Ap = A / (mu0 > 0.125 ? mu0 : 0.125);
  Ap = Ap < quarter ? Ap : quarter;
  double V1 = r->full_lock_speed > 1e-6 ? r->full_lock_speed : 1e-6, V2 = r->restricted_lock_speed;
  double q0 = 1 / (1 + V1 > V2 ? 1 + V1 : V2);
  double q = clampd((1 / (vf > 1 ? vf : 1) - q0) / (1 / V1 - q0), 0, 1);
  double lock = Ap + (quarter - Ap) * q;

  double low = -F, high = F;
  if (vf > 1) {
    double h = fc[1] - terrain_height(float(fc[0]), float(fc[2])) - wheel_r;
    if (h < 0.5) {
      double P = lock + clampd(2 * h, 0, 1) * (quarter - lock);
      double S = 1.125 * P + 0.015;
      if (kappa > P) low = (0.25 - 1.25 * clampd((kappa - S) / (P - S), 0, 1)) * F;
      if (kappa < -P) high = (1.25 * clampd((kappa + S) / (S - P), 0, 1) - 0.25) * F;
    }
  }

  double Tr = s * K * D, Ts;
  double Fl = r->land_factor;
  if (!touching || axle_rate <= M_PI / 4) {
    if (r->land_rampup == 0)
      r->land_level = float(Fl);
    else {
      double l = r->land_level + (Fl - 1) * TIC_SECONDS / r->land_rampup;
      r->land_level = float(l < Fl ? l : Fl);
    }
    Ts = -50 * beta;
  } else {
    if (r->land_level > 1) {
      if (r->land_falloff == 0)
        r->land_level = 1;
      else {
        double l = r->land_level - (Fl - 1) * TIC_SECONDS / r->land_falloff;
        r->land_level = float(l > 1 ? l : 1);
      }
    }
    double Td = r->roll_damping * r->land_level * rr;
    double Tl = r->leveling * lambda;
    if (r->slow_damping_speed > V) {
      double k = r->slow_damping_factor +
                 (1 - r->slow_damping_factor) * clampd(V / r->slow_damping_speed, 0, 1);
      Td *= k;
      Tl *= k;
    }
    double La = r->roll_limit_angle;
    if (((lambda >= 0 && rr >= 0) || (lambda < 0 && rr < 0)) && fabs(lambda) > La)
      Td *= r->roll_limit_factor * (fabs(lambda) - La) + 1;
    Ts = Td + Tl;
    if (D < 1) {
      double c = -(s * La + lambda) * 2.5;
      // Leaning further is limited harder than standing up.
      double lim = (c > 0 && lambda >= 0) || (c < 0 && lambda <= 0) ? 3.926991 : 9.817477;
      c = clampd(c, -lim, lim);
      double e = rr - c;
      double ep = e + clampd(c - rr, -0.125, 0.125);
      double Tc = ep < -0.25 ? -K : (ep > 0.25 ? K : 4 * K * ep);
      Tr = D * Tr + (1 - D) * Tc;
    }
  }
  if (r->bump > 0) {
    double lim = 200 * clampd((64 - r->bump) / 64, 0, 1);
    Ts = clampd(Ts, -lim, lim);
  }

  double g = clampd((vf - 5) / (15 - 5), 0, 1);
  double x = 0.25 * g * lock, y = (0.375 * g + 0.125) * lock;
  double by_angle = lambda < 0 ? clampd((beta + M_PI / 12) * (-12 / M_PI), 0, 1)
                               : clampd((beta - M_PI / 12) * (12 / M_PI), 0, 1);
  double sigma = by_angle;
  // A lock of zero leaves only the steering-angle term.
  if (y > 1e-12) {
    double by_slip = lambda < 0 ? (kappa - x) / y : -(kappa + x) / y;
    by_slip = by_slip < 1 ? by_slip : 1;
    sigma = by_slip > by_angle ? by_slip : by_angle;
  }
  r->sigma = float(sigma);

  apply_steering_torque(r, clampd((Ts + Tr) * 1.5, low, high));
}
