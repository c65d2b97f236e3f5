// Steering along the default track's centre line, for the headless rider
// and the benchmark: aim at a point ahead on the line.
#pragma once
#include <cmath>

#include "bike/rider.h"
#include "tools/gen_track.h"

struct CourseFollower {
  int index = -1;  // nearest line point last tic
};

// Start pose on the line at lap distance s: the frame over the point,
// heading along the course, lifted until nothing touches.
inline void place_on_course(Rider *r, float s, float sideways) {
  GenTrackPoint p = gen_track_point_at(s);
  reset_rider(r);
  const double up[3] = {0, 1, 0};
  turn_rider(r, up, atan2(-double(p.tx), -double(p.tz)));
  double x = p.x - p.tz * sideways, z = p.z + p.tx * sideways;
  const dReal *f = dBodyGetPosition(r->body[FRAME]);
  move_rider(r, x - f[0], terrain_height(float(x), float(z)) + 0.1 - 0.0, z - f[2]);
  for (int i = 0; i < 200 && rider_intersects(r); i++) move_rider(r, 0, 0.25, 0);
}

// Steering input towards a point `ahead` feet further along the line.
inline float follow_course(const GenTrackLayout &l, CourseFollower *f, Rider *r) {
  const dReal *p = dBodyGetPosition(r->body[FRAME]);
  int n = int(l.line.size());
  if (n == 0) return 0;
  // Search near the last point (the whole line the first time).
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
  double v = rider_speed(r);
  float ahead = float(12 + 0.6 * v);
  GenTrackPoint t = gen_track_point_at(l.line[best].s + ahead);
  const dReal *R = dBodyGetRotation(r->body[FRAME]);
  double fx = -R[2], fz = -R[10];
  double tx = t.x - p[0], tz = t.z - p[2];
  // Positive when the target lies to the rider's right.
  double cross = fx * tz - fz * tx;
  double dotp = fx * tx + fz * tz;
  double err = atan2(cross, dotp);
  double s = err * 2.0;
  return float(s < -1 ? -1 : (s > 1 ? 1 : s));
}

// A speed for the coming stretch: the tightest bend within the next
// stretch taken at a lean the tires can hold.
inline double course_speed(const GenTrackLayout &l, const CourseFollower *f) {
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

