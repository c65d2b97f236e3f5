// The course rider: a stock bike placed on the default track, steering
// along its centre line, and the planned rider.
#include "tools/course/course_rider.h"

#include <cmath>
#include <cstring>

#include "bike/rider.h"

void course_stock_setup(Rider *r, int stability, int arcade) {
  RiderSetup setup;
  setup_defaults(&setup);
  set_setup_value(&setup, "arcade", arcade ? "Yes" : "No");
  stability_preset(&setup, stability < 0 ? 0 : (stability > 100 ? 100 : stability));
  RiderAdjust adjust;
  setup_convert(&setup, rider_model(r), 1, &adjust);
  rider_set_adjust(r, &adjust);
}

void place_on_course(Rider *r, float s, float sideways) {
  GenTrackPoint p = gen_track_point_at(s);
  reset_rider(r);
  const double up[3] = {0, 1, 0};
  turn_rider(r, up, atan2(-double(p.tx), -double(p.tz)));
  double x = p.x - p.tz * sideways, z = p.z + p.tx * sideways;
  const dReal *f = dBodyGetPosition(r->body[FRAME]);
  move_rider(r, x - f[0], terrain_height(float(x), float(z)) + 0.1, z - f[2]);
  for (int i = 0; i < 200 && rider_intersects(r); i++) move_rider(r, 0, 0.25, 0);
}

int course_nearest(const GenTrackLayout &l, CourseFollower *f, const Rider *r) {
  const dReal *p = dBodyGetPosition(r->body[FRAME]);
  int n = int(l.line.size());
  if (n == 0) return -1;
  int best = 0;
  double bd = 1e300;
  int from = f->index < 0 ? 0 : f->index - 40, to = f->index < 0 ? n : f->index + 200;
  for (int i = from; i < to; i++) {
    const GenTrackPoint &q = l.line[((i % n) + n) % n];
    double dx = q.x - p[0], dz = q.z - p[2];
    double d = dx * dx + dz * dz;
    if (d < bd) bd = d, best = ((i % n) + n) % n;
  }
  f->index = best;
  return best;
}

float follow_course(const GenTrackLayout &l, CourseFollower *f, Rider *r) {
  int best = course_nearest(l, f, r);
  if (best < 0) return 0;
  const dReal *p = dBodyGetPosition(r->body[FRAME]);
  double v = rider_speed(r);
  float ahead = float(14 + 0.7 * v);
  GenTrackPoint t = gen_track_point_at(l.line[best].s + ahead);
  const dReal *R = dBodyGetRotation(r->body[FRAME]);
  double fx = -R[2], fz = -R[10];
  double tx = t.x - p[0], tz = t.z - p[2];
  // Positive when the target lies to the rider's right.
  double cross = fx * tz - fz * tx;
  double dotp = fx * tx + fz * tz;
  double err = atan2(cross, dotp);
  double s = err * 3.0;
  return float(s < -1 ? -1 : (s > 1 ? 1 : s));
}

double course_speed(const GenTrackLayout &l, const CourseFollower *f) {
  if (f->index < 0 || l.line.empty()) return 1e9;
  float s0 = l.line[f->index].s;
  double limit = 1e9;
  for (float a = 0; a < 150; a += 15) {
    GenTrackPoint p = gen_track_point_at(s0 + a), q = gen_track_point_at(s0 + a + 30);
    double turn = fabs(atan2(p.tx * q.tz - p.tz * q.tx, p.tx * q.tx + p.tz * q.tz));
    if (turn < 1e-4) continue;
    double radius = 30 / turn;
    // Room to slow down from further off.
    double v = sqrt(0.5 * 32 * radius) + 0.35 * a;
    if (v < limit) limit = v;
  }
  return limit;
}

// ------------------------------------------------------------ planned ride

int course_index_at(const GenTrackLayout &l, float s) {
  int n = int(l.line.size());
  double w = fmod(double(s), double(l.length));
  if (w < 0) w += l.length;
  int lo = 0, hi = n;
  while (hi - lo > 1) {
    int mid = (lo + hi) / 2;
    if (l.line[mid].s <= w) lo = mid; else hi = mid;
  }
  return lo;
}

void course_plan(const GenTrackLayout &l, const CourseStyle &style, CoursePlan *plan) {
  int n = int(l.line.size());
  plan->speed.assign(n, 200.0f);
  plan->jumps.clear();
  if (n < 2) return;
  auto at = [&](int i) -> const GenTrackPoint & { return l.line[((i % n) + n) % n]; };
  auto cap = [&](int i, float v) {
    float &c = plan->speed[((i % n) + n) % n];
    if (v < c) c = v;
  };
  // Bends: the turn of the heading over 10 ft either side.
  const int W = 20;
  for (int i = 0; i < n; i++) {
    const GenTrackPoint &p = at(i - W), &q = at(i + W);
    double turn = fabs(atan2(p.tx * q.tz - p.tz * q.tx, p.tx * q.tx + p.tz * q.tz));
    if (turn < 1e-4) continue;
    cap(i, float(sqrt(style.bend_grip * (2 * W * 0.5) / turn)));
  }
  for (const GenTrackFeature &f : gen_track_features()) {
    int a = course_index_at(l, f.s0), b = course_index_at(l, f.s1);
    if (b < a) b += n;
    if (!strcmp(f.kind, "whoops")) {
      plan->whoops0 = f.s0;
      plan->whoops1 = f.s1;
      for (int i = a - 10; i <= b; i++) cap(i, style.whoops);
    } else if (!strcmp(f.kind, "roller")) {
      for (int i = a; i <= a + (b - a) / 2; i++) cap(i, style.roller);
    } else if (!strcmp(f.kind, "tabletop") || !strcmp(f.kind, "double") || !strcmp(f.kind, "step_up")) {
      // The face climbs steadily; the lip is where it stops climbing.
      int face = -1, lip = -1;
      for (int i = a; i < b && lip < 0; i++) {
        double slope = (at(i + 4).y - at(i).y) / 2.0;
        if (face < 0 && slope > 0.2) face = i;
        if (face >= 0 && slope < 0.1) lip = i + 2;
      }
      if (face < 0 || lip < 0) continue;
      float v = !strcmp(f.kind, "tabletop") ? style.tabletop
                : !strcmp(f.kind, "double") ? style.double_jump : style.step_up;
      plan->jumps.push_back({f.kind, at(face).s, at(lip).s, v});
      // The speed is the run-up's, held from the face's foot over the lip.
      for (int i = face - 20; i <= lip + 20; i++) cap(i, v);
    }
  }
  // Slowing down takes room: each point no faster than the next allows,
  // twice round so the lap's end sees its start.
  for (int pass = 0; pass < 2; pass++)
    for (int i = n - 1; i >= 0; i--) {
      double ds = at(i + 1).s - at(i).s;
      if (ds < 0) ds += l.length;
      float next = plan->speed[(i + 1) % n];
      float v = float(sqrt(double(next) * next + 2 * style.braking * ds));
      if (v < plan->speed[i]) plan->speed[i] = v;
    }
}

double frame_pitch(const Rider *r) {
  const dReal *R = dBodyGetRotation(r->body[FRAME]);
  double fy = -R[6];
  return asin(fy < -1 ? -1 : (fy > 1 ? 1 : fy));
}

// The ground's slope along the flight where the frame will come down.
static double landing_slope(const Rider *r) {
  const dReal *p = dBodyGetPosition(r->body[FRAME]);
  const dReal *v = dBodyGetLinearVel(r->body[FRAME]);
  double x = p[0], y = p[1], z = p[2], vy = v[1];
  double h = hypot(v[0], v[2]);
  if (h < 1) return 0;
  double ux = v[0] / h, uz = v[2] / h;
  const double dt = 1.0 / 64;
  for (int k = 0; k < 256; k++) {
    x += v[0] * dt;
    z += v[2] * dt;
    y += vy * dt;
    vy -= GRAVITY * dt;
    if (y < terrain_height(float(x), float(z)) + 1.5) break;
  }
  double a = terrain_height(float(x - 2 * ux), float(z - 2 * uz));
  double b = terrain_height(float(x + 2 * ux), float(z + 2 * uz));
  return atan2(b - a, 4.0);
}

void course_take_bike(Rider *r) { r->flags &= ~RF_AUTO_SHIFT; }

void course_ride(const GenTrackLayout &l, const CoursePlan &plan, CourseRider *cr, Rider *r,
                 int tic, TicCommand *out) {
  *out = rider_current_command(r);
  int n = int(l.line.size());
  int last = cr->follow.index;
  float steer = follow_course(l, &cr->follow, r);
  int i = cr->follow.index;
  if (last >= 0) {
    double ds = l.line[i].s - l.line[last].s;
    if (ds < -0.5 * l.length) ds += l.length;
    if (ds > 0.5 * l.length) ds -= l.length;
    cr->progress += ds;
    if (cr->progress >= (cr->laps + 1) * double(l.length)) {
      cr->laps++;
      cr->last_lap_tics = tic - cr->lap_start_tic;
      if (cr->best_lap_tics == 0 || cr->last_lap_tics < cr->best_lap_tics) cr->best_lap_tics = cr->last_lap_tics;
      cr->lap_start_tic = tic;
    }
  }
  double v = rider_speed(r);
  int both = wheel_touching(r, 0) && wheel_touching(r, 1);
  int any = wheel_touching(r, 0) || wheel_touching(r, 1);
  cr->air_tics = any ? 0 : cr->air_tics + 1;
  out->steering = steer;
  out->lean = 0;
  out->front_brake = out->rear_brake = 0;
  out->shift = 0;
  float s = l.line[i].s;
  int on_face = 0;
  for (const CourseJump &j : plan.jumps)
    if (s >= j.face - 5 && s <= j.lip + 3) on_face = 1;
  int whoops = s >= plan.whoops0 - 3 && s <= plan.whoops1;

  if (cr->air_tics > 0) {
    // In the air: the throttle held where it was and the bars straight so
    // the bike stays level; weight shifted, and the rear brake dabbed when
    // the nose is high, to meet the landing parallel to it (rear wheel a
    // little first).
    out->throttle = cr->air_throttle;
    out->steering = 0;
    double err = frame_pitch(r) - (landing_slope(r) + 0.05);
    double lean = 3 * err;
    out->lean = float(lean < -1 ? -1 : (lean > 1 ? 1 : lean));
    if (err > 0.1) out->rear_brake = float(err - 0.1 > 1 ? 1 : err - 0.1);
    return;
  }
  // Gears by engine speed, only with both wheels down and off the faces
  // and whoops: a shift in the air lands the bike in the wrong gear.
  const float *slip = r->wheel[1].slip;
  double spin = wheel_touching(r, 1) ? sqrt(double(slip[0]) * slip[0] + double(slip[1]) * slip[1] +
                                            double(slip[2]) * slip[2])
                                     : 0.0;
  // Not while the rear wheel spins either: its revs say nothing of the speed.
  if (both && !on_face && !whoops && spin < 2 && tic % 16 == 0) {
    const BikeModel *m = rider_model(r);
    double rpm = rider_rpm(r);
    if (rpm > m->upshift_rpm && r->gear < 5) out->shift = 1;
    else if (rpm < m->downshift_rpm && r->gear > 0) out->shift = -1;
  }
  // The target a little ahead, for the bike's response.
  int ahead = (i + int(2 * (2 + 0.3 * v))) % n;
  double target = plan.speed[ahead];
  double over = v - target;
  float throttle = over < -3 ? 1.0f : (over < 0 ? float(-over / 3) : 0.0f);
  if (on_face) {
    // Up a face: a steady part throttle (a handful lifts the front), no
    // brakes (they pitch the bike onto its nose), and the bars nearly
    // straight so it leaves level.
    out->steering = float(steer * 0.3);
    out->throttle = 0.5f;
    cr->air_throttle = 0.3f;
    return;
  }
  if (whoops) {
    // A steady throttle with the weight back so the front skims, and calm
    // bars.
    out->throttle = over < 0 ? 0.4f : 0.2f;
    out->lean = 0.3f;
    out->steering = float(steer * 0.5);
    cr->air_throttle = out->throttle;
    return;
  }
  // Off the throttle as far as the rear wheel spins past a slide.
  if (spin > 4) throttle *= float(spin > 12 ? 0 : 1 - (spin - 4) / 8);
  out->throttle = throttle;
  cr->air_throttle = throttle < 0.3f ? throttle : 0.3f;
  if (over > 2) {
    double b = (over - 2) * 0.2;
    out->front_brake = float(b > 0.8 ? 0.8 : b);
    // At most half the rear brake: a locked rear wheel slides out in the
    // bend.
    out->rear_brake = float(b > 0.5 ? 0.5 : b);
  }
}
