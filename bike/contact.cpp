// Tires and bodies against the ground, obstacles and each other: our own
// torus-, sphere- and triangle tests, and the ODE contact joints built from
// them with friction from the surface under each wheel.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "bike/rider.h"
#include "bike/rider_internal.h"

// While set, the tests only report what touches (placement checks).
static int dry_run;

// ------------------------------------------------------------- vector bits
static inline void copy3(double out[3], const double a[3]) {
  out[0] = a[0];
  out[1] = a[1];
  out[2] = a[2];
}
static inline double min2(double a, double b) { return a < b ? a : b; }
static inline double max2(double a, double b) { return a > b ? a : b; }
static inline void vert(const TerrainVec &v, double out[3]) {
  out[0] = v.x;
  out[1] = v.y;
  out[2] = v.z;
}

// Barycentric inside test of a point already in the triangle's plane.
static int inside_triangle(const double p[3], const double v0[3], const double e1[3],
                           const double e2[3]) {
  double w[3];
  sub3(p, v0, w);
  double d11 = dot3(e1, e1), d12 = dot3(e1, e2), d22 = dot3(e2, e2);
  double w1 = dot3(w, e1), w2 = dot3(w, e2);
  double den = d11 * d22 - d12 * d12;
  if (!(den > 0)) return 0;
  double u = (d22 * w1 - d12 * w2) / den;
  double v = (d11 * w2 - d12 * w1) / den;
  const double eps = -1e-12;
  return u >= eps && v >= eps && u + v <= 1 - eps;
}

static void closest_on_segment(const double p[3], const double a[3], const double b[3],
                               double out[3]) {
  double ab[3], ap[3];
  sub3(b, a, ab);
  sub3(p, a, ap);
  double l2 = dot3(ab, ab);
  double t = l2 > 0 ? dot3(ap, ab) / l2 : 0;
  t = t < 0 ? 0 : (t > 1 ? 1 : t);
  for (int i = 0; i < 3; i++) out[i] = a[i] + t * ab[i];
}

// Closest point of the circle (centre c, unit axis a, radius R) to q.
static void circle_point(const double c[3], const double a[3], double R, const double q[3],
                         const double fallback[3], double out[3]) {
  double w[3];
  sub3(q, c, w);
  double wa = dot3(w, a);
  double wp[3] = {w[0] - wa * a[0], w[1] - wa * a[1], w[2] - wa * a[2]};
  double l = length3(wp);
  if (!(l > 1e-12)) {
    copy3(out, fallback);
    return;
  }
  for (int i = 0; i < 3; i++) out[i] = c[i] + wp[i] * (R / l);
}

// A ground triangle's corners, its two edges from the first corner and its
// unit normal, turned to face up whichever way round the corners come.
struct TriangleFrame {
  double v[3][3], e1[3], e2[3], n[3];
};

// 0 for a triangle with no area.
static int triangle_frame(const TerrainTriangle &t, TriangleFrame *f) {
  for (int i = 0; i < 3; i++) vert(t.v[i], f->v[i]);
  sub3(f->v[1], f->v[0], f->e1);
  sub3(f->v[2], f->v[0], f->e2);
  cross3(f->e1, f->e2, f->n);
  double nl = length3(f->n);
  if (!(nl > 0)) return 0;
  if (f->n[1] < 0) nl = -nl;
  for (double &x : f->n) x /= nl;
  return 1;
}

// Where the tire circle (centre c, unit axle a, radius R) comes deepest
// towards a triangle's plane; returns that point's height over the plane.
static double tire_low(const double c[3], const double a[3], double R, const TriangleFrame &f,
                       double low[3]) {
  const double *v0 = f.v[0], *v1 = f.v[1], *v2 = f.v[2], *n = f.n;
  double na = dot3(n, a);
  double np[3] = {n[0] - na * a[0], n[1] - na * a[1], n[2] - na * a[2]};
  double npl = length3(np);
  if (npl > 1e-9) {
    for (int i = 0; i < 3; i++) low[i] = c[i] - np[i] * (R / npl);
  } else {
    // Lying flat on the plane: every point is as low; take the one nearest
    // the triangle's middle.
    double mid[3] = {(v0[0] + v1[0] + v2[0]) / 3, (v0[1] + v1[1] + v2[1]) / 3,
                     (v0[2] + v1[2] + v2[2]) / 3};
    double any[3];
    double side[3] = {1, 0, 0};
    if (fabs(a[0]) > 0.9) side[0] = 0, side[1] = 1;
    cross3(a, side, any);
    double al = length3(any);
    for (int i = 0; i < 3; i++) any[i] = c[i] + any[i] * (R / al);
    circle_point(c, a, R, mid, any, low);
  }
  double w[3];
  sub3(low, v0, w);
  return dot3(w, n);
}

// Distance from a point to the circle.
static double circle_distance(const double c[3], const double a[3], double R, const double p[3]) {
  double w[3];
  sub3(p, c, w);
  double wa = dot3(w, a);
  double wp = sqrt(max2(0.0, dot3(w, w) - wa * wa)) - R;
  return sqrt(wp * wp + wa * wa);
}

// Whether no point of the segment p0-p1 (d0, d1 its ends' distances from
// the circle, l its length) comes nearer the circle than `reach`. The
// distance from the circle changes no faster than along the segment, so
// from the ends it is at least (d0 + d1 - l) / 2; halves are tried where
// that is not enough, a few times over.
static int segment_beyond(const double c[3], const double a[3], double R, const double p0[3],
                          const double p1[3], double d0, double d1, double l, double reach,
                          int depth) {
  if ((d0 + d1 - l) / 2 >= reach) return 1;
  if (depth == 0) return 0;
  const double mid[3] = {(p0[0] + p1[0]) / 2, (p0[1] + p1[1]) / 2, (p0[2] + p1[2]) / 2};
  const double dm = circle_distance(c, a, R, mid);
  if (dm < reach) return 0;
  return segment_beyond(c, a, R, p0, mid, d0, dm, l / 2, reach, depth - 1) &&
         segment_beyond(c, a, R, mid, p1, dm, d1, l / 2, reach, depth - 1);
}

// Nearest approach of the circle to the triangle's edges (the triangle's
// interior being no nearer than its plane): the depth if deeper than `beat`,
// else 0. Edges that cannot come within r - beat of the circle are left out
// unsearched; the search itself is a few rounds of alternating projections
// between circle and edge from the circle's low point.
static double tire_edges(const double c[3], const double a[3], double R, double r,
                         const TriangleFrame &f, const double low[3], double beat,
                         double point[3], double normal[3]) {
  const double *v0 = f.v[0], *v1 = f.v[1], *v2 = f.v[2], *n = f.n;
  const double *ends[3][2] = {{v0, v1}, {v1, v2}, {v2, v0}};
  const double reach = r - beat + 1e-9;
  double d[3], side[3];
  for (int k = 0; k < 3; k++) {
    d[k] = circle_distance(c, a, R, f.v[k]);
    double w[3];
    sub3(f.v[k], c, w);
    side[k] = dot3(w, a);
  }
  double best = 1e300, bp[3] = {0, 0, 0}, bc[3] = {0, 0, 0};
  for (int k = 0; k < 3; k++) {
    const double *const *e = ends[k];
    const double s0 = side[k], s1 = side[(k + 1) % 3];
    // Both ends on one side of the circle's plane and farther from it than
    // the reach, or far enough from the circle all along.
    if ((s0 > 0) == (s1 > 0) && min2(fabs(s0), fabs(s1)) >= reach) continue;
    double ev[3];
    sub3(e[1], e[0], ev);
    if (segment_beyond(c, a, R, e[0], e[1], d[k], d[(k + 1) % 3], length3(ev), reach, 3)) continue;
    double s[3], cp[3];
    closest_on_segment(low, e[0], e[1], s);
    for (int it = 0; it < 6; it++) {
      circle_point(c, a, R, s, low, cp);
      closest_on_segment(cp, e[0], e[1], s);
    }
    circle_point(c, a, R, s, low, cp);
    double d[3];
    sub3(cp, s, d);
    double d2 = dot3(d, d);
    if (d2 < best) {
      best = d2;
      copy3(bp, s);
      copy3(bc, cp);
    }
  }
  double dist = sqrt(best);
  if (dist >= r || r - dist <= beat) return 0;
  copy3(point, bp);
  if (dist > 1e-9) {
    for (int i = 0; i < 3; i++) normal[i] = (bc[i] - bp[i]) / dist;
    // The circle has crossed to the other side of the surface.
    double below[3];
    sub3(bc, v0, below);
    if (dot3(below, n) < 0)
      for (int i = 0; i < 3; i++) normal[i] = -normal[i];
  } else {
    copy3(normal, n);
  }
  return r - dist;
}

// The low point projected onto the plane, when it falls inside the triangle.
static int tire_interior(const TriangleFrame &f, const double low[3], double h, double q[3]) {
  for (int i = 0; i < 3; i++) q[i] = low[i] - h * f.n[i];
  return inside_triangle(q, f.v[0], f.e1, f.e2);
}

double torus_triangle(const double c[3], const double a[3], double R, double r,
                      const TerrainTriangle &t, double point[3], double normal[3]) {
  TriangleFrame f;
  if (!triangle_frame(t, &f)) return 0;
  double low[3], q[3];
  double h = tire_low(c, a, R, f, low);
  if (h >= r) return 0;
  if (tire_interior(f, low, h, q)) {
    copy3(point, q);
    copy3(normal, f.n);
    return r - h;
  }
  if (r - (h > 0 ? h : 0) <= 0) return 0;
  return tire_edges(c, a, R, r, f, low, 0, point, normal);
}

double sphere_triangle(const double c[3], double radius, const TerrainTriangle &t,
                       double point[3], double normal[3]) {
  TriangleFrame f;
  if (!triangle_frame(t, &f)) return 0;
  const double *v0 = f.v[0], *v1 = f.v[1], *v2 = f.v[2], *e1 = f.e1, *e2 = f.e2, *n = f.n;
  double w[3];
  sub3(c, v0, w);
  double h = dot3(w, n);
  if (h >= radius) return 0;
  double q[3] = {c[0] - h * n[0], c[1] - h * n[1], c[2] - h * n[2]};
  if (inside_triangle(q, v0, e1, e2)) {
    copy3(point, q);
    copy3(normal, n);
    return radius - h;
  }
  const double *ends[3][2] = {{v0, v1}, {v1, v2}, {v2, v0}};
  double best = 1e300, bp[3] = {0, 0, 0};
  for (auto &e : ends) {
    double s[3], d[3];
    closest_on_segment(c, e[0], e[1], s);
    sub3(c, s, d);
    double d2 = dot3(d, d);
    if (d2 < best) {
      best = d2;
      copy3(bp, s);
    }
  }
  double dist = sqrt(best);
  if (dist >= radius) return 0;
  copy3(point, bp);
  if (dist > 1e-9) {
    for (int i = 0; i < 3; i++) normal[i] = (c[i] - bp[i]) / dist;
    if (h < 0)
      for (int i = 0; i < 3; i++) normal[i] = -normal[i];
  } else {
    copy3(normal, n);
  }
  return radius - dist;
}

// ---------------------------------------------------------------- terrain
struct CellRange {
  int i0, i1, j0, j1;
};

// Cells under the square centre +- r; empty for positions that are not
// finite or absurdly far out.
static int cell_range(double x, double z, double rx, double rz, CellRange *out) {
  if (!terrain.heights || !(terrain.spacing > 0)) return 0;
  if (!std::isfinite(x) || !std::isfinite(z) || fabs(x) > 1e7 || fabs(z) > 1e7) return 0;
  double inv = terrain.inv_spacing;
  out->i0 = int(floor((x - rx) * inv));
  out->i1 = int(ceil((x + rx) * inv)) - 1;
  out->j0 = int(floor((z - rz) * inv));
  out->j1 = int(ceil((z + rz) * inv)) - 1;
  // Beyond the grid the clamped samples repeat: a few cells are enough.
  const int span = 64;
  if (out->i1 - out->i0 > span) out->i1 = out->i0 + span;
  if (out->j1 - out->j0 > span) out->j1 = out->j0 + span;
  return 1;
}

static void fix_ground_normal(double n[3]) {
  double l = length3(n);
  if (l > 0)
    for (int i = 0; i < 3; i++) n[i] /= l;
  if (n[1] < 0) {
    double h2 = n[0] * n[0] + n[2] * n[2];
    if (h2 < 1.0 / 1024) {
      n[0] = 0, n[1] = 1, n[2] = 0;
    } else {
      double hl = sqrt(h2);
      n[0] /= hl;
      n[1] = 0;
      n[2] /= hl;
    }
  }
}

static Surface default_surface_record;
static int default_surface_ready;

const Surface *surface_at(float x, float z, int *index) {
  if (terrain.tile_count <= 0 || !terrain.tilemap) {
    if (!default_surface_ready) {
      surface_defaults(&default_surface_record);
      default_surface_ready = 1;
    }
    if (index) *index = 0;
    return terrain.tile_count > 0 ? &terrain.surface[0] : &default_surface_record;
  }
  int t = terrain_tile_at(x, z);
  if (t < 0 || t >= terrain.tile_count) t = 0;
  if (index) *index = t;
  return &terrain.surface[t];
}

// ------------------------------------------------------------ friction
// Linear (or squared-speed) interpolation along a curve of n points.
static double curve_at(const float *value, const float *speed, int n, double s, int squared) {
  if (n <= 0) return value[0];
  double k0 = squared ? double(speed[0]) * speed[0] : speed[0];
  if (s < k0) return value[0];
  for (int k = 1; k < n; k++) {
    double kk = squared ? double(speed[k]) * speed[k] : speed[k];
    if (s < kk) {
      double kp = squared ? double(speed[k - 1]) * speed[k - 1] : speed[k - 1];
      double f = kk > kp ? (s - kp) / (kk - kp) : 1;
      f = clampd(f, 0, 1);
      return value[k - 1] + f * (double(value[k]) - value[k - 1]);
    }
  }
  return value[n - 1];
}

static int friction_points(const Surface *s) {
  int n = 0;
  while (n < SURFACE_CURVE_POINTS && s->friction_speed[n] != FRICTION_END_SPEED) n++;
  return n;
}

float surface_friction(const Surface *s, const float slip[3], float no_spin_along) {
  int n = friction_points(s);
  double s2 = double(slip[0]) * slip[0] + double(slip[1]) * slip[1] + double(slip[2]) * slip[2];
  switch (s->slip_function) {
    case 1: return float(curve_at(s->friction_coef, s->friction_speed, n, sqrt(s2), 0));
    case 2: {
      double m = sqrt(s2);
      double v = m >= 0.0625 ? clampd(no_spin_along, -m, m) : m;
      return float(curve_at(s->friction_coef, s->friction_speed, n, v, 0));
    }
    default: return float(curve_at(s->friction_coef, s->friction_speed, n, s2, 1));
  }
}

// Velocity of the contact point as if the wheel did not spin on its axle.
static void no_spin_velocity(dBodyID b, const double axle[3], const double p[3], double out[3]) {
  const dReal *c = dBodyGetPosition(b);
  const dReal *v = dBodyGetLinearVel(b);
  const dReal *w = dBodyGetAngularVel(b);
  double wa = w[0] * axle[0] + w[1] * axle[1] + w[2] * axle[2];
  double ws[3] = {w[0] - wa * axle[0], w[1] - wa * axle[1], w[2] - wa * axle[2]};
  double rel[3] = {p[0] - c[0], p[1] - c[1], p[2] - c[2]};
  double x[3];
  cross3(ws, rel, x);
  for (int i = 0; i < 3; i++) out[i] = v[i] + x[i];
}

static void axle_direction(const WheelContact *w, double out[3]) {
  dVector3 p;
  dBodyGetRelPointPos(w->body, w->axle_point[0], w->axle_point[1], w->axle_point[2], p);
  const dReal *c = dBodyGetPosition(w->body);
  for (int i = 0; i < 3; i++) out[i] = p[i] - c[i];
  double l = length3(out);
  if (l > 0)
    for (int i = 0; i < 3; i++) out[i] /= l;
}

// A ground triangle the wheel search keeps: its frame, the tire circle's
// low point towards its plane and that point's height over it.
struct TireTriangle {
  TriangleFrame f;
  double low[3];
  double h;
};
enum { TIRE_TRIANGLES = 128 };

// The low point's projection onto the plane lies within about a millionth
// of a foot of the triangle, seen from above (a cheap test that lets the
// exact one run only where it can succeed).
static int near_inside_xz(const TriangleFrame &f, const double q[3], double tol) {
  const double *v[3] = {f.v[0], f.v[1], f.v[2]};
  double e[3];
  for (int k = 0; k < 3; k++) {
    const double *p = v[k], *n = v[(k + 1) % 3];
    e[k] = (n[0] - p[0]) * (q[2] - p[2]) - (n[2] - p[2]) * (q[0] - p[0]);
  }
  double area = (v[1][0] - v[0][0]) * (v[2][2] - v[0][2]) - (v[1][2] - v[0][2]) * (v[2][0] - v[0][0]);
  if (area > 0) return e[0] >= -tol && e[1] >= -tol && e[2] >= -tol;
  return e[0] <= tol && e[1] <= tol && e[2] <= tol;
}

// The tire circle (centre c, unit axle a, radius R; `flat` the axle's
// length on the ground plan, e1 its direction there and e2 across it): its
// points lower than `top` + r lie on an arc about its lowest point, whose
// ground plan c + R cos(t) a_y e1 + R sin(t) e2 fits in a rectangle about
// `centre`, half1 along e1 and half2 along e2. 0: no such point.
struct TireArc {
  double centre[2], half1, half2;
};
static int tire_arc(const double c[3], const double a[3], double R, double r, double flat,
                    const double e1[2], double top, TireArc *out) {
  const double k = (c[1] - top - r) / (R * flat);  // cos of the arc's half angle
  if (!(k < 1)) return 0;
  const double ck = k > -1 ? k : -1;
  const double along = R * (1 + ck) / 2 * a[1];
  out->centre[0] = c[0] + along * e1[0];
  out->centre[1] = c[2] + along * e1[1];
  out->half1 = R * (1 - ck) / 2 * fabs(a[1]);
  out->half2 = ck >= 0 ? R * sqrt(1 - ck * ck) : R;
  return 1;
}

// Ground-plan distance from the arc's rectangle to the box x0..x1 by
// z0..z1, or less (the widest gap along the four sides' directions).
static double tire_arc_gap(const TireArc &arc, const double e1[2], const double e2[2], double x0,
                           double x1, double z0, double z1) {
  const double d[2] = {arc.centre[0] - (x0 + x1) / 2, arc.centre[1] - (z0 + z1) / 2};
  const double sx = (x1 - x0) / 2, sz = (z1 - z0) / 2;
  const double h1 = arc.half1, h2 = arc.half2;
  double gap = fabs(d[0]) - (sx + h1 * fabs(e1[0]) + h2 * fabs(e2[0]));
  gap = max2(gap, fabs(d[1]) - (sz + h1 * fabs(e1[1]) + h2 * fabs(e2[1])));
  gap = max2(gap, fabs(d[0] * e1[0] + d[1] * e1[1]) - (h1 + sx * fabs(e1[0]) + sz * fabs(e1[1])));
  gap = max2(gap, fabs(d[0] * e2[0] + d[1] * e2[1]) - (h2 + sx * fabs(e2[0]) + sz * fabs(e2[1])));
  return max2(gap, 0);
}

// A grid sample as the terrain reads it: beyond the grid, the edge's.
static inline float ground_sample(int i, int j) {
  const int last = terrain.size - 1;
  i = i > 0 ? (i < last ? i : last) : 0;
  j = j > 0 ? (j < last ? j : last) : 0;
  return terrain.heights[size_t(j) * terrain.size + i];
}

// The two triangles of cell (i, j) as the terrain makes them, from its
// corners (x0..x1 by z0..z1, heights h00 at (x0, z0), h10, h01, h11).
struct GroundCell {
  double p00[3], p10[3], p01[3], p11[3];
  const double *tri[2][3];
};
static void ground_cell(int i, int j, double x0, double x1, double z0, double z1, float h00,
                        float h10, float h01, float h11, GroundCell *g) {
  const double p00[3] = {x0, h00, z0}, p10[3] = {x1, h10, z0};
  const double p01[3] = {x0, h01, z1}, p11[3] = {x1, h11, z1};
  copy3(g->p00, p00), copy3(g->p10, p10), copy3(g->p01, p01), copy3(g->p11, p11);
  if (((i ^ j) & 1) == 0) {
    g->tri[0][0] = g->p00, g->tri[0][1] = g->p01, g->tri[0][2] = g->p11;
    g->tri[1][0] = g->p11, g->tri[1][1] = g->p10, g->tri[1][2] = g->p00;
  } else {
    g->tri[0][0] = g->p00, g->tri[0][1] = g->p01, g->tri[0][2] = g->p10;
    g->tri[1][0] = g->p11, g->tri[1][1] = g->p10, g->tri[1][2] = g->p01;
  }
}

static void ground_cell_at(int i, int j, GroundCell *g) {
  const float sp = terrain.spacing;
  ground_cell(i, j, float(i) * sp, float(i + 1) * sp, float(j) * sp, float(j + 1) * sp,
              ground_sample(i, j), ground_sample(i + 1, j), ground_sample(i, j + 1),
              ground_sample(i + 1, j + 1), g);
}

// Frame, low point and its height for the triangle of corners v; 0 for a
// triangle with no area.
static int tire_triangle(const double c[3], const double a[3], double R,
                         const double *const v[3], TireTriangle *x) {
  TriangleFrame &f = x->f;
  for (int k = 0; k < 3; k++) copy3(f.v[k], v[k]);
  sub3(f.v[1], f.v[0], f.e1);
  sub3(f.v[2], f.v[0], f.e2);
  cross3(f.e1, f.e2, f.n);
  double nl = length3(f.n);
  if (!(nl > 0)) return 0;
  if (f.n[1] < 0) nl = -nl;
  for (double &q : f.n) q /= nl;
  x->h = tire_low(c, a, R, f, x->low);
  return 1;
}

// The deepest torus penetration over the triangles of the cells under the
// wheel, as if every triangle were tried in full in grid order: interiors
// first, then the edges of those whose plane lets them beat the deepest
// interior by more than a thousandth of a foot (less changes nothing that
// matters). The triangle under the circle's lowest point gives a first
// depth to beat, and what cannot beat it is left out untried: a cell
// wholly farther from the circle than the tube's radius less that depth,
// unless its ground rises above the circle's lowest point (a triangle
// above the circle is the one way to reach it from afar), and a triangle
// all beside the circle's plane by as much.
double tire_ground_deepest(const double c[3], const double a[3], double R, double r,
                           double point[3], double normal[3]) {
  // Cells under the torus's own box: a wheel upright and heading along an
  // axis is only a tire's width across.
  CellRange cr;
  double ex = R * sqrt(fmax(0.0, 1 - a[0] * a[0])) + r;
  double ez = R * sqrt(fmax(0.0, 1 - a[2] * a[2])) + r;
  if (!cell_range(c[0], c[2], ex, ez, &cr)) return 0;
  // Margins for rounding: a cell or triangle is left out only when it
  // misses by more than a millionth of a foot.
  const double slack = 1e-6;
  const double flat = sqrt(max2(0.0, 1 - a[1] * a[1]));
  const double circle_low = c[1] - R * flat;
  const double e1[2] = {flat > 1e-6 ? a[0] / flat : 1, flat > 1e-6 ? a[2] / flat : 0};
  const double e2[2] = {e1[1], -e1[0]};
  const double ca = dot3(c, a);
  const float sp = terrain.spacing;
  const double tol = 1e-6 * sp;
  double best = 0;
  // The cell last tried for the first depth, its triangles kept.
  int seed_i = 0, seed_j = 0, seeded = 0;
  TireTriangle seed[2];
  int seed_ok[2] = {0, 0};
  if (flat > 1e-6) {
    // The first depth: the triangle under the circle's lowest point, or
    // where its own projection of the circle lands, a few times over.
    double px = c[0] + R * a[1] * e1[0], pz = c[2] + R * a[1] * e1[1];
    for (int step = 0; step < 3 && !(best > 0); step++) {
      int i = int(floor(px / sp)), j = int(floor(pz / sp));
      if (!(i >= cr.i0 && i <= cr.i1 && j >= cr.j0 && j <= cr.j1)) break;
      GroundCell g;
      ground_cell_at(i, j, &g);
      seed_i = i, seed_j = j, seeded = 1;
      double lowest = 1e300;
      for (int k = 0; k < 2; k++) {
        TireTriangle &x = seed[k];
        double q[3];
        seed_ok[k] = tire_triangle(c, a, R, g.tri[k], &x);
        if (!seed_ok[k] || !(x.h < r)) continue;
        if (tire_interior(x.f, x.low, x.h, q) && r - x.h > best) {
          best = r - x.h;
          copy3(point, q);
          copy3(normal, x.f.n);
        } else if (x.h < lowest) {
          lowest = x.h;
          px = q[0], pz = q[2];
        }
      }
      if (lowest == 1e300) break;
    }
  }
  // Only what comes nearer the circle than this can beat the first depth.
  const double rho = max2(r - best, 0);
  const double reach = (rho + slack) * (rho + slack);
  if (flat > 1e-6) {
    // Over ground wholly below the circle only the arc lower than the
    // highest sample plus rho can come that near: the cells within rho of
    // its plan.
    float top = ground_sample(cr.i0, cr.j0);
    for (int j = cr.j0; j <= cr.j1 + 1; j++)
      for (int i = cr.i0; i <= cr.i1 + 1; i++) top = max2(top, ground_sample(i, j));
    TireArc arc;
    if (!(circle_low < top + slack)) {
      if (!tire_arc(c, a, R, rho, flat, e1, top, &arc)) return best;
      // (The grid's corners are placed in single precision: a thousandth
      // of a foot covers where they stray from multiples of the spacing.)
      const double wx = arc.half1 * fabs(e1[0]) + arc.half2 * fabs(e2[0]) + rho + 1e-3;
      const double wz = arc.half1 * fabs(e1[1]) + arc.half2 * fabs(e2[1]) + rho + 1e-3;
      cr.i0 = std::max(cr.i0, int(floor((arc.centre[0] - wx) / sp)));
      cr.i1 = std::min(cr.i1, int(floor((arc.centre[0] + wx) / sp)));
      cr.j0 = std::max(cr.j0, int(floor((arc.centre[1] - wz) / sp)));
      cr.j1 = std::min(cr.j1, int(floor((arc.centre[1] + wz) / sp)));
    }
  }
  TireTriangle tt[TIRE_TRIANGLES];
  int n = 0;
  // Kept for the passes below; past the table (more triangles than a wheel
  // meets on any sane ground) judged at once, the edges against the
  // interiors so far.
  auto overflow = [&](const TireTriangle &x) {
    double q[3], pp[3], nn[3];
    if (tire_interior(x.f, x.low, x.h, q)) {
      if (r - x.h > best) best = r - x.h, copy3(point, q), copy3(normal, x.f.n);
    } else if (r - max2(x.h, 0) > best + 1e-3) {
      double d = tire_edges(c, a, R, r, x.f, x.low, best + 1e-3, pp, nn);
      if (d > best) best = d, copy3(point, pp), copy3(normal, nn);
    }
  };
  for (int j = cr.j0; j <= cr.j1; j++)
    for (int i = cr.i0; i <= cr.i1; i++) {
      // The cell's corners as the terrain builds its triangles.
      const float h00 = ground_sample(i, j), h10 = ground_sample(i + 1, j);
      const float h01 = ground_sample(i, j + 1), h11 = ground_sample(i + 1, j + 1);
      const double x0 = float(i) * sp, x1 = float(i + 1) * sp;
      const double z0 = float(j) * sp, z1 = float(j + 1) * sp;
      const double y0 = min2(min2(h00, h10), min2(h01, h11));
      const double y1 = max2(max2(h00, h10), max2(h01, h11));
      // A triangle whose interior holds the circle's low point from farther
      // than rho has that point lower than its own top by rho times its
      // normal's rise, no less than sp / sqrt(sp^2 + 2 (y1 - y0)^2).
      // (circle_low < y1 - rho * rise + slack, squared.)
      const double lift = y1 + slack - circle_low;
      const int above = lift > 0 && rho * rho * sp * sp <
                                        lift * lift * (double(sp) * sp + 2 * (y1 - y0) * (y1 - y0));
      if (!above && flat > 1e-6) {
        // Else only the arc lower than the cell's top plus rho can come
        // within rho, from no nearer than its plan's gap to the cell and
        // its own height over the top.
        TireArc arc;
        if (!tire_arc(c, a, R, rho, flat, e1, y1, &arc)) continue;
        const double drop = max2(circle_low - y1, 0), g = tire_arc_gap(arc, e1, e2, x0, x1, z0, z1);
        if (drop * drop + g * g >= reach) continue;
      } else if (!above) {
        // Lying flat: the circle against the cell's bounding ball.
        const double mid[3] = {(x0 + x1) / 2, (y0 + y1) / 2, (z0 + z1) / 2};
        const double half[3] = {(x1 - x0) / 2, (y1 - y0) / 2, (z1 - z0) / 2};
        if (!(circle_distance(c, a, R, mid) - length3(half) < rho + slack)) continue;
      }
      GroundCell gc;
      ground_cell(i, j, x0, x1, z0, z1, h00, h10, h01, h11, &gc);
      for (int k = 0; k < 2; k++) {
        const double *const *v = gc.tri[k];
        if (seeded && i == seed_i && j == seed_j && seed_ok[k]) {
          // Tried already for the first depth.
          if (!(seed[k].h < r)) continue;
          if (n < TIRE_TRIANGLES)
            tt[n++] = seed[k];
          else
            overflow(seed[k]);
          continue;
        }
        if (!above) {
          double d0 = dot3(v[0], a) - ca, d1 = dot3(v[1], a) - ca, d2 = dot3(v[2], a) - ca;
          if ((d0 > rho + slack && d1 > rho + slack && d2 > rho + slack) ||
              (d0 < -rho - slack && d1 < -rho - slack && d2 < -rho - slack))
            continue;
        }
        TireTriangle spare;
        TireTriangle &x = n < TIRE_TRIANGLES ? tt[n] : spare;
        if (!tire_triangle(c, a, R, v, &x) || !(x.h < r)) continue;
        if (n < TIRE_TRIANGLES)
          n++;
        else
          overflow(x);
      }
    }
  // Interiors; one that holds its triangle's low point is marked for no
  // edge search.
  for (int m = 0; m < n; m++) {
    TireTriangle &x = tt[m];
    double q[3];
    for (int k = 0; k < 3; k++) q[k] = x.low[k] - x.h * x.f.n[k];
    if (!near_inside_xz(x.f, q, tol) || !inside_triangle(q, x.f.v[0], x.f.e1, x.f.e2)) continue;
    if (r - x.h > best) {
      best = r - x.h;
      copy3(point, q);
      copy3(normal, x.f.n);
    }
    x.h = r;
  }
  for (int m = 0; m < n; m++) {
    const TireTriangle &x = tt[m];
    if (r - max2(x.h, 0) <= best + 1e-3) continue;
    double p[3], nn[3];
    double d = tire_edges(c, a, R, r, x.f, x.low, best + 1e-3, p, nn);
    if (d > best) {
      best = d;
      copy3(point, p);
      copy3(normal, nn);
    }
  }
  return best;
}

// Deepest torus penetration over the wheel's cells; `first` stops at the
// first touching triangle (replay samples). `a` gets the axle direction.
static double wheel_deepest(WheelContact *w, double point[3], double normal[3], int first,
                            double a[3]) {
  const dReal *cp = dBodyGetPosition(w->body);
  double c[3] = {cp[0], cp[1], cp[2]};
  axle_direction(w, a);
  double R = w->rim_radius, r = w->tire_radius;
  if (!first) return tire_ground_deepest(c, a, R, r, point, normal);
  CellRange cr;
  double ex = R * sqrt(fmax(0.0, 1 - a[0] * a[0])) + r;
  double ez = R * sqrt(fmax(0.0, 1 - a[2] * a[2])) + r;
  if (!cell_range(c[0], c[2], ex, ez, &cr)) return 0;
  TerrainTriangle tri[2];
  // Outward from the middle: middle, +1, -1, +2, ... on both axes.
  int mi = (cr.i0 + cr.i1) / 2, mj = (cr.j0 + cr.j1) / 2;
  int ni = cr.i1 - cr.i0 + 1, nj = cr.j1 - cr.j0 + 1;
  for (int sj = 0; sj < 2 * nj + 1; sj++) {
    int j = mj + ((sj & 1) ? (sj + 1) / 2 : -(sj / 2));
    if (j < cr.j0 || j > cr.j1) continue;
    for (int si = 0; si < 2 * ni + 1; si++) {
      int i = mi + ((si & 1) ? (si + 1) / 2 : -(si / 2));
      if (i < cr.i0 || i > cr.i1) continue;
      terrain_cell_triangles(i, j, tri);
      for (auto &t : tri) {
        double d = torus_triangle(c, a, R, r, t, point, normal);
        if (d > 0) return d;
      }
    }
  }
  return 0;
}

static void store_contact(WheelContact *w, const double p[3], const double n[3], double depth) {
  dVector3 v;
  dBodyGetPointVel(w->body, p[0], p[1], p[2], v);
  for (int i = 0; i < 3; i++) {
    w->position[i] = float(p[i]);
    w->normal[i] = float(n[i]);
    w->slip[i] = float(v[i]);
  }
  w->depth = float(depth);
}

int wheel_ground_sample(WheelContact *w) {
  double p[3], n[3];
  double axle[3];
  double depth = wheel_deepest(w, p, n, 1, axle);
  if (!(depth > 0)) {
    w->depth = 0;
    return 0;
  }
  fix_ground_normal(n);
  store_contact(w, p, n, depth);
  return 1;
}

int wheel_ground_contact(Rider *r, WheelContact *w, float grip_scale) {
  (void)r;
  double p[3], n[3];
  double axle[3];
  double depth = wheel_deepest(w, p, n, 0, axle);
  if (!(depth > 0 && depth < 1e6)) {
    w->depth = 0;
    // A wheel in the air carries no load to learn from.
    if (!dry_run && physics_options.strict_friction) w->load_ratio = 1;
    return 0;
  }
  fix_ground_normal(n);
  store_contact(w, p, n, depth);
  if (dry_run) return 1;

  const Surface *s = surface_at(w->position[0], w->position[2], &w->surface);
  double slip[3] = {w->slip[0], w->slip[1], w->slip[2]};
  double along = 0;
  if (s->slip_function == 2) {
    double ns[3];
    no_spin_velocity(w->body, axle, p, ns);
    double m = length3(slip);
    if (m > 0) along = dot3(ns, slip) / m;
  }
  double mu = surface_friction(s, w->slip, float(along)) * grip_scale;

  double c = depth / w->tire_radius;
  c = c < 1 ? c : 1;
  double c3 = c * c * c;
  double kp = 24000 * c3 + 1000, kd = 2300 * c3 + 200;

  dContact ct;
  memset(&ct, 0, sizeof ct);
  ct.surface.mode = CONTACT_MODE;
  w->mu = float(mu);
  const int strict = physics_options.strict_friction;
  ct.surface.mu = strict ? mu * w->load_ratio : mu;
  soft_erp_cfm(kp, kd, &ct.surface.soft_erp, &ct.surface.soft_cfm);
  double d1[3];
  cross3(n, slip, d1);
  if (dot3(d1, d1) < 1.0 / 1024) cross3(n, axle, d1);
  double l2 = dot3(d1, d1);
  if (l2 >= 1.0 / 1024) {
    double l = sqrt(l2);
    ct.surface.mode |= dContactFDir1;
    for (int i = 0; i < 3; i++) ct.fdir1[i] = d1[i] / l;
  } else {
    // The directions the step picks itself.
    dVector3 nn = {n[0], n[1], n[2], 0}, q;
    dPlaneSpace(nn, ct.fdir1, q);
  }
  for (int i = 0; i < 3; i++) w->fdir[i] = ct.fdir1[i];
  if (strict) {
    const dReal *centre = dBodyGetPosition(w->body);
    for (int i = 0; i < 3; i++) w->arm[i] = p[i] - centre[i];
    w->joint_tic = physics.now_tic;
  }
  for (int i = 0; i < 3; i++) {
    ct.geom.pos[i] = p[i];
    ct.geom.normal[i] = n[i];
  }
  ct.geom.depth = depth;
  dJointID j = dJointCreateContact(physics.world, physics.contacts, &ct);
  dJointAttach(j, w->body, nullptr);
  dJointSetFeedback(j, &w->feedback);

  // Rolling resistance, fading out below 1 ft/s.
  const dReal *cv = dBodyGetLinearVel(w->body);
  double vn = cv[0] * n[0] + cv[1] * n[1] + cv[2] * n[2];
  double v[3] = {cv[0] - vn * n[0], cv[1] - vn * n[1], cv[2] - vn * n[2]};
  double speed = length3(v);
  int np = 0;
  while (np < SURFACE_CURVE_POINTS && s->roll_speed[np] != 0) np++;
  double ra = curve_at(s->roll_a, s->roll_speed, np, speed, 0);
  double rb = curve_at(s->roll_b, s->roll_speed, np, speed, 0);
  double f = ra + c * (rb - ra);
  double scale = speed > 1 ? f / speed : f;
  dBodyAddForce(w->body, -v[0] * scale, -v[1] * scale, -v[2] * scale);
  return 1;
}

// Strict friction. dWorldStep sizes each friction bound from the normal
// force it finds with every contact still frictionless, and keeps that
// bound while it solves the friction. Braking pitches the bike forward and
// pushes the front wheel up its fork, so the tires end up carrying less
// than that (the rear about a fifth less) and a locked rear pulls 0.78 of
// its load on a surface of 0.6. A friction row that slides sits at its
// bound, mu given times the load assumed, so its force shows the ratio of
// the load carried to the load assumed; the next tic's mu is scaled by it.
// A tire that did not slide but still pulled more than mu times its load
// lowers the ratio too. The ratio stays at most 1: a tire that gains load
// as it pulls keeps the step's own limit.
void wheel_friction_learn(WheelContact *w) {
  if (w->joint_tic != physics.now_tic || !(w->depth > 0) || !(w->mu > 0)) return;
  const double n[3] = {w->normal[0], w->normal[1], w->normal[2]};
  double t2[3];
  cross3(n, w->fdir, t2);
  const dReal *f = w->feedback.f1;
  double fv[3] = {f[0], f[1], f[2]};
  double load = dot3(fv, n);
  if (!(load > 0)) return;
  // The wheel's new motion at the contact point, as the joint measured it.
  const dReal *v = dBodyGetLinearVel(w->body);
  const dReal *av = dBodyGetAngularVel(w->body);
  double wv[3] = {av[0], av[1], av[2]}, spin[3];
  cross3(wv, w->arm, spin);
  double pv[3] = {v[0] + spin[0], v[1] + spin[1], v[2] + spin[2]};
  double limit = double(w->mu) * load;
  double at_bound = 0, largest = 0;
  const double *dirs[2] = {w->fdir, t2};
  for (const double *t : dirs) {
    double force = fabs(dot3(fv, t));
    largest = fmax(largest, force);
    if (fabs(dot3(pv, t)) > 1e-3) at_bound = fmax(at_bound, force);
  }
  double over = at_bound > 0 ? at_bound : largest;
  if (!(over > 0) || (at_bound == 0 && largest <= limit)) return;
  // The floor leaves a tire that lost its load for a tic some grip to
  // slide with, and so to learn again from.
  w->load_ratio = float(clampd(w->load_ratio * limit / over, 0.25, 1));
}

// ------------------------------------------------------------ body shapes
static void shape_to_world(CollisionShape *s, dBodyID body) {
  size_t n = s->spheres.size();
  const dReal *p = dBodyGetPosition(body);
  const dReal *R = dBodyGetRotation(body);
  // A tic tests a body against the ground, the obstacles and every rider
  // near it, all from one pose.
  double pose[12] = {p[0], p[1], p[2], R[0], R[1], R[2], R[4], R[5], R[6], R[8], R[9], R[10]};
  if (s->world.size() == n * 3 && s->posed_spheres == s->spheres.data() &&
      memcmp(pose, s->posed_at, sizeof pose) == 0)
    return;
  memcpy(s->posed_at, pose, sizeof pose);
  s->posed_spheres = s->spheres.data();
  s->world.resize(n * 3);
  for (size_t i = 0; i < n; i++) {
    const float *c = s->spheres[i].centre;
    for (int k = 0; k < 3; k++)
      s->world[i * 3 + k] = R[k * 4] * c[0] + R[k * 4 + 1] * c[1] + R[k * 4 + 2] * c[2] + p[k];
  }
}

static void obstacle_to_world(CollisionShape *s, const Obstacle &o) {
  size_t n = o.shape->spheres.size();
  s->spheres = o.shape->spheres;
  s->bound_radius = o.shape->bound_radius;
  s->world.resize(n * 3);
  for (size_t i = 0; i < n; i++) {
    const float *c = s->spheres[i].centre;
    for (int k = 0; k < 3; k++)
      s->world[i * 3 + k] = double(o.orientation[k * 3]) * c[0] +
                            double(o.orientation[k * 3 + 1]) * c[1] +
                            double(o.orientation[k * 3 + 2]) * c[2] + o.position[k];
  }
}

int shape_ground_contact(CollisionShape *shape, dBodyID body) {
  if (!shape || shape->spheres.empty() || !body) return 0;
  shape_to_world(shape, body);
  int touching = 0;
  TerrainTriangle tri[2];
  for (size_t k = 0; k < shape->spheres.size(); k++) {
    const CollisionSphere &sp = shape->spheres[k];
    const double *c = &shape->world[k * 3];
    CellRange cr;
    if (!cell_range(c[0], c[2], sp.radius, sp.radius, &cr)) continue;
    double best = 0, bp[3], bn[3];
    // A cell whose corners all lie lower than the sphere's bottom (by more
    // than rounding) cannot reach it: every point of its triangles is
    // farther than the radius straight down.
    const double bottom = c[1] - sp.radius - 1e-3;
    for (int j = cr.j0; j <= cr.j1; j++)
      for (int i = cr.i0; i <= cr.i1; i++) {
        const double top = max2(max2(ground_sample(i, j), ground_sample(i + 1, j)),
                               max2(ground_sample(i, j + 1), ground_sample(i + 1, j + 1)));
        if (top < bottom) continue;
        terrain_cell_triangles(i, j, tri);
        for (auto &t : tri) {
          double p[3], n[3];
          double d = sphere_triangle(c, sp.radius, t, p, n);
          if (d > best) {
            best = d;
            copy3(bp, p);
            copy3(bn, n);
          }
        }
      }
    if (!(best > 0)) continue;
    touching = 1;
    if (dry_run) continue;
    fix_ground_normal(bn);
    soft_joint(body, nullptr, bp, bn, best, 2500, 250, sp.friction);
  }
  return touching;
}

// Centre of a shape's bounding sphere: its body's origin, or for a static
// shape the obstacle's position.
struct ShapeSide {
  CollisionShape *shape;
  dBodyID body;  // 0: static world
  double centre[3];
};

static ShapeSide side_of(CollisionShape *s, dBodyID b) {
  ShapeSide x{s, b, {0, 0, 0}};
  if (b) {
    const dReal *p = dBodyGetPosition(b);
    x.centre[0] = p[0], x.centre[1] = p[1], x.centre[2] = p[2];
  }
  return x;
}

static void point_velocity(dBodyID b, const double p[3], double out[3]) {
  if (!b) {
    out[0] = out[1] = out[2] = 0;
    return;
  }
  dVector3 v;
  dBodyGetPointVel(b, p[0], p[1], p[2], v);
  out[0] = v[0], out[1] = v[1], out[2] = v[2];
}

// A contact between A (pushed along -n) and B (pushed along +n).
static void pair_contact(dBodyID a, dBodyID b, const double p[3], const double n[3], double e,
                         double kp, double kd, double mu, int mode) {
  if (dry_run) return;
  if (mode == CONTACT_JOINTS) {
    if (!a && !b) return;
    if (b)
      soft_joint(b, a, p, n, e, kp, kd, mu);
    else {
      double m[3] = {-n[0], -n[1], -n[2]};
      soft_joint(a, nullptr, p, m, e, kp, kd, mu);
    }
    return;
  }
  double va[3], vb[3];
  point_velocity(a, p, va);
  point_velocity(b, p, vb);
  double approach = (va[0] - vb[0]) * n[0] + (va[1] - vb[1]) * n[1] + (va[2] - vb[2]) * n[2];
  double f = clampd(kp * e + kd * approach, -1000, 1000);
  if (b && dBodyIsEnabled(b)) dBodyAddForceAtPos(b, f * n[0], f * n[1], f * n[2], p[0], p[1], p[2]);
  if (a && dBodyIsEnabled(a))
    dBodyAddForceAtPos(a, -f * n[0], -f * n[1], -f * n[2], p[0], p[1], p[2]);
}

static int spheres_contact(const ShapeSide &A, const ShapeSide &B, int mode) {
  if (A.shape->spheres.empty() || B.shape->spheres.empty()) return 0;
  double d[3];
  sub3(B.centre, A.centre, d);
  double reach = double(A.shape->bound_radius) + B.shape->bound_radius;
  if (dot3(d, d) >= reach * reach) return 0;
  int touching = 0;
  for (size_t i = 0; i < A.shape->spheres.size(); i++) {
    const CollisionSphere &sa = A.shape->spheres[i];
    const double *ca = &A.shape->world[i * 3];
    // A sphere clear of B's bounding sphere (by more than rounding) meets
    // none of B's spheres.
    double ab[3];
    sub3(B.centre, ca, ab);
    const double clear = double(sa.radius) + B.shape->bound_radius + 1e-3;
    if (dot3(ab, ab) > clear * clear) continue;
    for (size_t k = 0; k < B.shape->spheres.size(); k++) {
      const CollisionSphere &sb = B.shape->spheres[k];
      const double *cb = &B.shape->world[k * 3];
      double v[3];
      sub3(cb, ca, v);
      double l2 = dot3(v, v);
      double rr = double(sa.radius) + sb.radius;
      if (l2 >= rr * rr) continue;
      touching = 1;
      double rmin = sa.radius < sb.radius ? sa.radius : sb.radius;
      if (l2 < rmin * rmin / 256) continue;  // same centre: no direction
      double l = sqrt(l2);
      double e = rr - l;
      double n[3] = {v[0] / l, v[1] / l, v[2] / l};
      double at = sa.radius - e / 2;
      double p[3] = {ca[0] + n[0] * at, ca[1] + n[1] * at, ca[2] + n[2] * at};
      double mu = sa.friction < sb.friction ? sa.friction : sb.friction;
      double kd = sa.damping < sb.damping ? sa.damping : sb.damping;
      double kp = sa.stiffness < sb.stiffness ? sa.stiffness : sb.stiffness;
      if (kp > 2500 / e) kp = 2500 / e;
      pair_contact(A.body, B.body, p, n, e, kp, kd, mu, mode);
    }
  }
  return touching;
}

int shape_shape_contact(CollisionShape *a, dBodyID body_a, CollisionShape *b, dBodyID body_b,
                        int mode) {
  if (!a || !b) return 0;
  if (body_a) shape_to_world(a, body_a);
  if (body_b) shape_to_world(b, body_b);
  return spheres_contact(side_of(a, body_a), side_of(b, body_b), mode);
}

static int wheel_spheres(const ShapeSide &S, WheelContact *w, int mode) {
  if (S.shape->spheres.empty()) return 0;
  const dReal *cp = dBodyGetPosition(w->body);
  double c[3] = {cp[0], cp[1], cp[2]}, a[3], d[3];
  sub3(S.centre, c, d);
  double R = w->rim_radius, r = w->tire_radius;
  double reach = R + r + S.shape->bound_radius;
  if (dot3(d, d) >= reach * reach) return 0;
  // Most pairs part at the bounds: the axle is worked out only past them.
  axle_direction(w, a);
  int touching = 0;
  for (size_t k = 0; k < S.shape->spheres.size(); k++) {
    const CollisionSphere &s = S.shape->spheres[k];
    const double *sc = &S.shape->world[k * 3];
    // The whole tire lies within R + r of the wheel's centre.
    double cs[3];
    sub3(sc, c, cs);
    const double clear = R + r + s.radius + 1e-3;
    if (dot3(cs, cs) > clear * clear) continue;
    double q[3];
    double side[3] = {1, 0, 0};
    circle_point(c, a, R, sc, side, q);
    double v[3];
    sub3(sc, q, v);
    double l2 = dot3(v, v);
    double rr = r + s.radius;
    if (l2 >= rr * rr) continue;
    touching = 1;
    double rmin = r < s.radius ? r : s.radius;
    if (l2 < rmin * rmin / 256) continue;
    double l = sqrt(l2);
    double e = rr - l;
    double n[3] = {v[0] / l, v[1] / l, v[2] / l};
    double at = r - e / 2;
    double p[3] = {q[0] + n[0] * at, q[1] + n[1] * at, q[2] + n[2] * at};
    double mu = s.friction < 1 ? s.friction : 1;
    double kd = s.damping < 2500 ? s.damping : 2500;
    double kp = s.stiffness < 25000 ? s.stiffness : 25000;
    if (kp > 2500 / e) kp = 2500 / e;
    pair_contact(w->body, S.body, p, n, e, kp, kd, mu, mode);
  }
  return touching;
}

int wheel_shape_contact(CollisionShape *shape, dBodyID body, WheelContact *w, int mode) {
  if (!shape || !w) return 0;
  if (body) shape_to_world(shape, body);
  return wheel_spheres(side_of(shape, body), w, mode);
}

// ------------------------------------------------------------- the rider
static const int shape_parts[5] = {FRAME, FORK_UPPER, FORK_LOWER, SWINGARM, RIDER_BODY};
static int hit_bit(int part) { return 1 << part; }

static int may_crash(const Rider *r) { return !dry_run && r->crash_timer == 0 && r->bump >= 0; }

int rider_collide_world(Rider *r) {
  if (!r || !r->in_use) return 0;
  int flags = 0;
  float grip = 1;
  if (r->arcade) {
    double l = fabs(r->lean_angle) * 4 / M_PI;
    grip = float(1 - 0.375 * clampd(l, 0, 1));
  }
  if (wheel_ground_contact(r, &r->wheel[0], grip)) flags |= HIT_FRONT_WHEEL;
  if (wheel_ground_contact(r, &r->wheel[1], grip)) flags |= HIT_REAR_WHEEL;
  for (int part : shape_parts)
    if (shape_ground_contact(&r->shape[part], r->body[part])) flags |= hit_bit(part);

  if ((flags & HIT_RIDER_BODY) && may_crash(r)) {
    const dReal *R = dBodyGetRotation(r->body[RIDER_BODY]);
    if (R[5] < 0 && body_speed(r->body[RIDER_BODY]) > 5) crash(r);
  }

  if (physics_hooks.obstacles_near) {
    const dReal *p = dBodyGetPosition(r->body[FRAME]);
    Obstacle list[64];
    int n = physics_hooks.obstacles_near(float(p[0]), float(p[2]), list, 64);
    CollisionShape world;
    for (int i = 0; i < n && i < 64; i++) {
      const Obstacle &o = list[i];
      if (!o.shape || o.shape->spheres.empty()) continue;
      obstacle_to_world(&world, o);
      ShapeSide S{&world, nullptr, {o.position[0], o.position[1], o.position[2]}};
      int hit = 0;
      for (int w = 0; w < 2; w++)
        if (wheel_spheres(S, &r->wheel[w], CONTACT_JOINTS)) {
          hit = 1;
          flags |= w ? HIT_REAR_WHEEL : HIT_FRONT_WHEEL;
        }
      for (int part : shape_parts) {
        CollisionShape &sh = r->shape[part];
        if (sh.spheres.empty()) continue;
        shape_to_world(&sh, r->body[part]);
        if (!spheres_contact(side_of(&sh, r->body[part]), S, CONTACT_JOINTS)) continue;
        hit = 1;
        flags |= hit_bit(part);
        if (part == RIDER_BODY && may_crash(r) && body_speed(r->body[RIDER_BODY]) > 20) crash(r);
      }
      if (hit && o.contact_tic && !dry_run) *o.contact_tic = physics.now_tic;
    }
  }
  return flags;
}

int rider_intersects(Rider *r) {
  dry_run = 1;
  int f = rider_collide_world(r);
  dry_run = 0;
  return f != 0;
}

int rider_collide_riders(Rider *a, Rider *b, int mode) {
  if (!a || !b || !a->in_use || !b->in_use || a == b) return 0;
  // Far apart riders skip everything.
  const dReal *pa = dBodyGetPosition(a->body[FRAME]), *pb = dBodyGetPosition(b->body[FRAME]);
  double d[3] = {pb[0] - pa[0], pb[1] - pa[1], pb[2] - pa[2]};
  if (dot3(d, d) > RIDERS_MEET * RIDERS_MEET) return 0;
  int now = physics.now_tic;
  int soft = a->last_rider_hit_tic == now || b->last_rider_hit_tic == now;
  for (int part : shape_parts) {
    if (!a->shape[part].spheres.empty()) shape_to_world(&a->shape[part], a->body[part]);
    if (!b->shape[part].spheres.empty()) shape_to_world(&b->shape[part], b->body[part]);
  }
  // Wheels, frames and forks push by force once a pair already met this
  // tic: stacked joints between the same bodies fight each other.
  auto mode_for = [&](int pa_part, int pb_part) {
    auto forced = [](int p) {
      return p == FRAME || p == FORK_UPPER || p == FORK_LOWER || p == FRONT_WHEEL ||
             p == REAR_WHEEL;
    };
    return soft && (forced(pa_part) || forced(pb_part)) ? CONTACT_FORCES : mode;
  };
  int fa = 0, fb = 0;
  for (int part : shape_parts) {
    CollisionShape &sa = a->shape[part];
    if (sa.spheres.empty()) continue;
    ShapeSide A = side_of(&sa, a->body[part]);
    for (int w = 0; w < 2; w++) {
      int bw = w ? REAR_WHEEL : FRONT_WHEEL;
      if (wheel_spheres(A, &b->wheel[w], mode_for(part, bw))) {
        fa |= hit_bit(part);
        fb |= hit_bit(bw);
      }
    }
    for (int q : shape_parts) {
      CollisionShape &sb = b->shape[q];
      if (sb.spheres.empty()) continue;
      if (spheres_contact(A, side_of(&sb, b->body[q]), mode_for(part, q))) {
        fa |= hit_bit(part);
        fb |= hit_bit(q);
      }
    }
  }
  // A's wheels against B's bodies, so that both riders' front ends count.
  for (int q : shape_parts) {
    CollisionShape &sb = b->shape[q];
    if (sb.spheres.empty()) continue;
    ShapeSide B = side_of(&sb, b->body[q]);
    for (int w = 0; w < 2; w++) {
      int aw = w ? REAR_WHEEL : FRONT_WHEEL;
      if (wheel_spheres(B, &a->wheel[w], mode_for(aw, q))) {
        fa |= hit_bit(aw);
        fb |= hit_bit(q);
      }
    }
  }
  if (!(fa | fb) || dry_run) return fa | fb;
  a->last_rider_hit_tic = now;
  b->last_rider_hit_tic = now;
  for (Rider *x : {a, b})
    if (!x->simulated) {
      if (x->weight <= 0)
        set_local_simulation_weight(x, 1);
      else if (x->weight <= 0.25f)
        set_local_simulation_weight(x, 0.25f);
    }
  const int front = HIT_FRONT_WHEEL | HIT_FORK_LOWER;
  double va = body_speed(a->body[FRAME]), vb = body_speed(b->body[FRAME]);
  if ((fa & front) && (fb & front)) {
    if (va > 10 && a->bump < 64) a->bump = 64;
    if (vb > 10 && b->bump < 64) b->bump = 64;
  } else {
    auto front_hit = [](Rider *x, double vx, Rider *y, double vy) {
      if (vx < 5) return;
      if (vy >= 10 && y->bump < 128) y->bump = 128;
      if (x->bump < 0 && x->bump > -640) x->bump = -640;
    };
    if (fa & front) front_hit(a, va, b, vb);
    if (fb & front) front_hit(b, vb, a, va);
  }
  return fa | fb;
}

// ------------------------------------------------------------- queries
float wheel_query(Rider *r, int which, float pos[3], float slip[3], float ground_vel[3]) {
  if (!r || !r->in_use || which < 0 || which > 1) return 0;
  WheelContact *w = &r->wheel[which];
  if (!r->simulated && r->sample_tic != physics.now_tic) {
    for (int i = 0; i < 2; i++) wheel_ground_sample(&r->wheel[i]);
    r->sample_tic = physics.now_tic;
  }
  if (!(w->depth > 0)) return 0;
  double p[3] = {w->position[0], w->position[1], w->position[2]};
  dVector3 v;
  dBodyGetPointVel(w->body, p[0], p[1], p[2], v);
  double axle[3], ns[3];
  axle_direction(w, axle);
  no_spin_velocity(w->body, axle, p, ns);
  for (int i = 0; i < 3; i++) {
    pos[i] = w->position[i];
    slip[i] = float(v[i]);
    ground_vel[i] = float(ns[i]);
  }
  return w->depth;
}
