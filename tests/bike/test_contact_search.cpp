// The wheel's ground search against the plain one it replaced (kept here as
// the reference): every triangle of every cell under the wheel tried in
// full, interiors first, then the edges of those that might beat them.
// Both must find the same contact, to a billionth of a foot, at thousands
// of wheel poses over the generated default track.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <random>
#include <string>
#include <sys/stat.h>

#include "bike/rider.h"

namespace reference {

static double dot3(const double a[3], const double b[3]) {
  return a[0] * b[0] + a[1] * b[1] + a[2] * b[2];
}
static void cross3(const double a[3], const double b[3], double out[3]) {
  double x = a[1] * b[2] - a[2] * b[1];
  double y = a[2] * b[0] - a[0] * b[2];
  double z = a[0] * b[1] - a[1] * b[0];
  out[0] = x, out[1] = y, out[2] = z;
}
static void sub3(const double a[3], const double b[3], double out[3]) {
  for (int i = 0; i < 3; i++) out[i] = a[i] - b[i];
}
static void copy3(double out[3], const double a[3]) {
  for (int i = 0; i < 3; i++) out[i] = a[i];
}

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

static void circle_point(const double c[3], const double a[3], double R, const double q[3],
                         const double fallback[3], double out[3]) {
  double w[3];
  sub3(q, c, w);
  double wa = dot3(w, a);
  double wp[3] = {w[0] - wa * a[0], w[1] - wa * a[1], w[2] - wa * a[2]};
  double l = std::sqrt(dot3(wp, wp));
  if (!(l > 1e-12)) {
    copy3(out, fallback);
    return;
  }
  for (int i = 0; i < 3; i++) out[i] = c[i] + wp[i] * (R / l);
}

static double torus_triangle_x(const double c[3], const double a[3], double R, double r,
                               const TerrainTriangle &t, double point[3], double normal[3],
                               double beat, int edges, double *bound = nullptr) {
  double v[3][3], e1[3], e2[3], n[3];
  for (int i = 0; i < 3; i++) v[i][0] = t.v[i].x, v[i][1] = t.v[i].y, v[i][2] = t.v[i].z;
  const double *v0 = v[0], *v1 = v[1], *v2 = v[2];
  sub3(v1, v0, e1);
  sub3(v2, v0, e2);
  cross3(e1, e2, n);
  double nl = std::sqrt(dot3(n, n));
  if (!(nl > 0)) return 0;
  if (n[1] < 0) nl = -nl;
  for (double &x : n) x /= nl;
  double na = dot3(n, a);
  double np[3] = {n[0] - na * a[0], n[1] - na * a[1], n[2] - na * a[2]};
  double npl = std::sqrt(dot3(np, np));
  double low[3];
  if (npl > 1e-9) {
    for (int i = 0; i < 3; i++) low[i] = c[i] - np[i] * (R / npl);
  } else {
    double mid[3] = {(v0[0] + v1[0] + v2[0]) / 3, (v0[1] + v1[1] + v2[1]) / 3,
                     (v0[2] + v1[2] + v2[2]) / 3};
    double any[3];
    double side[3] = {1, 0, 0};
    if (std::fabs(a[0]) > 0.9) side[0] = 0, side[1] = 1;
    cross3(a, side, any);
    double al = std::sqrt(dot3(any, any));
    for (int i = 0; i < 3; i++) any[i] = c[i] + any[i] * (R / al);
    circle_point(c, a, R, mid, any, low);
  }
  double w[3];
  sub3(low, v0, w);
  double h = dot3(w, n);
  if (h >= r) return 0;
  double q[3] = {low[0] - h * n[0], low[1] - h * n[1], low[2] - h * n[2]};
  if (bound) *bound = r - (h > 0 ? h : 0);
  if (inside_triangle(q, v0, e1, e2)) {
    if (bound) *bound = 0;
    if (r - h <= beat) return 0;
    copy3(point, q);
    copy3(normal, n);
    return r - h;
  }
  if (!edges || r - (h > 0 ? h : 0) <= beat) return 0;
  const double *ends[3][2] = {{v0, v1}, {v1, v2}, {v2, v0}};
  double best = 1e300, bp[3] = {0, 0, 0}, bc[3] = {0, 0, 0};
  for (auto &e : ends) {
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
  double dist = std::sqrt(best);
  if (dist >= r) return 0;
  copy3(point, bp);
  if (dist > 1e-9) {
    for (int i = 0; i < 3; i++) normal[i] = (bc[i] - bp[i]) / dist;
    double below[3];
    sub3(bc, v0, below);
    if (dot3(below, n) < 0)
      for (int i = 0; i < 3; i++) normal[i] = -normal[i];
  } else {
    copy3(normal, n);
  }
  if (r - dist <= beat) return 0;
  return r - dist;
}

// `edge_hit` tells a contact found on an edge from one inside a triangle.
static double wheel_deepest(const double c[3], const double a[3], double R, double r,
                            double point[3], double normal[3], bool *edge_hit) {
  *edge_hit = false;
  double ex = R * std::sqrt(std::fmax(0.0, 1 - a[0] * a[0])) + r;
  double ez = R * std::sqrt(std::fmax(0.0, 1 - a[2] * a[2])) + r;
  double inv = terrain.inv_spacing;
  int i0 = int(std::floor((c[0] - ex) * inv)), i1 = int(std::ceil((c[0] + ex) * inv)) - 1;
  int j0 = int(std::floor((c[2] - ez) * inv)), j1 = int(std::ceil((c[2] + ez) * inv)) - 1;
  double best = 0;
  TerrainTriangle tri[2];
  struct Candidate {
    TerrainTriangle t;
    double bound;
  };
  Candidate cand[256];
  int nc = 0;
  for (int j = j0; j <= j1; j++)
    for (int i = i0; i <= i1; i++) {
      terrain_cell_triangles(i, j, tri);
      for (auto &t : tri) {
        double p[3], n[3], bound = 0;
        double d = torus_triangle_x(c, a, R, r, t, p, n, best, 0, &bound);
        if (d > best) {
          best = d;
          copy3(point, p);
          copy3(normal, n);
        }
        if (bound > 0 && nc < 256) cand[nc++] = {t, bound};
      }
    }
  for (int k = 0; k < nc; k++) {
    if (cand[k].bound <= best + 1e-3) continue;
    double p[3], n[3];
    double d = torus_triangle_x(c, a, R, r, cand[k].t, p, n, best + 1e-3, 1);
    if (d > best) {
      best = d;
      copy3(point, p);
      copy3(normal, n);
      *edge_hit = true;
    }
  }
  return best;
}

}  // namespace reference

TEST(WheelGroundSearch, FindsTheReferenceContactOverTheDefaultTrack) {
  const char *build = getenv("TW_BUILD_DIR");
  std::string dir = std::string(build ? build : ".") + "/tracks/hollow_creek";
  struct stat st;
  if (stat((dir + "/terrain.hf").c_str(), &st) != 0) GTEST_SKIP() << "no generated track";
  ASSERT_EQ(terrain_load(dir.c_str()), 1);
  struct Unload {
    ~Unload() { terrain_free(); }
  } unload;
  std::mt19937 rng(20240611);
  std::uniform_real_distribution<double> u01(0, 1);
  const double extent = terrain.extent;
  int touching = 0, edges = 0, slopes = 0;
  const int poses = 4000;
  for (int k = 0; k < poses; k++) {
    // Slopes (jump faces, berms, ruts' walls) are where the search has the
    // most to do: they get most of the poses.
    double x, z;
    for (;;) {
      x = extent * (0.05 + 0.9 * u01(rng));
      z = extent * (0.05 + 0.9 * u01(rng));
      TerrainVec n = terrain_normal(float(x), float(z));
      double ny = n.y / std::sqrt(double(n.x) * n.x + double(n.y) * n.y + double(n.z) * n.z);
      if (ny < 0.98) {
        slopes++;
        break;
      }
      if (u01(rng) < 0.04) break;
    }
    // Front and rear wheels; upright to leaned over, one pose in ten any
    // way at all (a crash).
    double R = k & 1 ? 0.75 : 5.0 / 6, r = 1.0 / 3;
    double heading = 2 * M_PI * u01(rng), lean = (u01(rng) - 0.5) * 2.2;
    double a[3] = {std::cos(heading) * std::cos(lean), std::sin(lean),
                   -std::sin(heading) * std::cos(lean)};
    if (k % 10 == 9) {
      double th = 2 * M_PI * u01(rng), ph = std::acos(2 * u01(rng) - 1);
      a[0] = std::sin(ph) * std::cos(th), a[1] = std::cos(ph), a[2] = std::sin(ph) * std::sin(th);
    }
    // From a little clear of the ground to sunk past the tire.
    double ground = terrain_height(float(x), float(z));
    double c[3] = {x, ground + R * std::sqrt(std::fmax(0.0, 1 - a[1] * a[1])) + r -
                          0.6 * u01(rng) + 0.1,
                   z};
    double p[3], n[3], rp[3], rn[3];
    bool edge_hit;
    double want = reference::wheel_deepest(c, a, R, r, rp, rn, &edge_hit);
    double got = tire_ground_deepest(c, a, R, r, p, n);
    SCOPED_TRACE(testing::Message() << "pose " << k << " at " << c[0] << ", " << c[1] << ", "
                                    << c[2] << " axle " << a[0] << ", " << a[1] << ", " << a[2]);
    ASSERT_NEAR(got, want, 1e-9);
    if (want > 0) {
      touching++;
      edges += edge_hit;
      for (int i = 0; i < 3; i++) {
        ASSERT_NEAR(p[i], rp[i], 1e-9);
        ASSERT_NEAR(n[i], rn[i], 1e-9);
      }
    }
  }
  // The poses tried what they should: mostly touching, on slopes, some of
  // them on an edge between triangles.
  EXPECT_GT(touching, poses * 3 / 4);
  EXPECT_GT(slopes, poses / 2);
  EXPECT_GT(edges, 20);
}
