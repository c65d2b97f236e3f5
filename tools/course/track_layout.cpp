// The default track's course: a closed centre line of straights and berms,
// the jump profile along it and the rolling ground around it.
#include <cmath>
#include <cstdint>
#include <random>

#include "tools/course/track_layout.h"
#include "tools/course/track_shape.h"

const float GEN_TRACK_SUN[3] = {0.75f, 0.5f, 0.4330127f};  // 30 degrees up, south-east

namespace {

const double PI = 3.14159265358979323846;
const double STEP = 0.5;  // centre line sample spacing

// A piece of the course: a straight of `length`, or an arc of `radius`
// turning `angle` radians (negative = left, towards north when heading east).
struct Piece {
  double length;
  double radius;
  double angle;
};

// Starts at (170, 900) heading east; the pieces close the loop exactly.
const Piece pieces[] = {
    {650, 0, 0},          // start straight
    {0, 100, -PI},        // berm, back west
    {520, 0, 0},          // tabletop straight
    {0, 100, PI},         // berm, back east
    {520, 0, 0},          // mud and whoops
    {0, 100, -PI},        // berm, back west
    {650, 0, 0},          // double and step-up
    {0, 80, -PI / 2},     // berm, heading south
    {440, 0, 0},          // rollers
    {0, 80, -PI / 2},     // berm onto the start straight
};
const int PIECES = sizeof pieces / sizeof pieces[0];
const double START_X = 170, START_Z = 900;

double piece_length(const Piece &p) { return p.radius > 0 ? p.radius * fabs(p.angle) : p.length; }

// A feature of the profile: piecewise-linear knots (distance from its
// start, height), placed at a distance along the lap.
struct Knot {
  double s, h;
};
struct Feature {
  const char *kind;
  int piece;      // the straight it stands on
  double offset;  // from the straight's start
  const Knot *knots;
  int count;
  int whoops;     // bump count, for the sine-shaped whoops
};

const Knot tabletop[] = {{0, 0}, {14, 5}, {59, 5}, {81, 0}};
const Knot roller[] = {{0, 0}, {20, 3}, {40, 0}};
const Knot double_jump[] = {{0, 0}, {13, 5.5}, {20, 0}, {55, 0}, {62, 5.5}, {85, 0}};
const Knot step_up[] = {{0, 0}, {11, 4.5}, {14, 2.0}, {22, 2.0}, {30, 8.0}, {70, 8.0}, {100, 0}};
const Feature features[] = {
    {"tabletop", 2, 140, tabletop, 4, 0},
    {"roller", 2, 320, roller, 3, 0},
    {"whoops", 4, 200, nullptr, 0, 9},
    {"double", 6, 140, double_jump, 6, 0},
    {"step_up", 6, 380, step_up, 7, 0},
    {"roller", 8, 120, roller, 3, 0},
    {"roller", 8, 220, roller, 3, 0},
};
// Low and long enough to ride through at a steady 20 ft/s; at 2.2 ft every
// 12 ft each bump threw the bike and it pitched or fell over.
const double WHOOP_LENGTH = 14, WHOOP_HEIGHT = 1.4;

double smoothstep(double e0, double e1, double x) {
  double t = (x - e0) / (e1 - e0);
  t = t < 0 ? 0 : (t > 1 ? 1 : t);
  return t * t * (3 - 2 * t);
}

double knot_height(const Knot *k, int n, double u) {
  if (u <= k[0].s || u >= k[n - 1].s) return 0;
  for (int i = 1; i < n; i++)
    if (u <= k[i].s) return k[i - 1].h + (k[i].h - k[i - 1].h) * (u - k[i - 1].s) / (k[i].s - k[i - 1].s);
  return 0;
}

struct Course {
  double piece_start[PIECES + 1];
  std::vector<double> profile;  // feature heights every STEP along the lap
  std::vector<float> bank;      // signed berm weight every STEP
  double length;
  double waves[8][4];           // ground undulations: amplitude, kx, kz, phase
};

const Course &course() {
  static Course c;
  static bool built = false;
  if (built) return c;
  built = true;
  c.piece_start[0] = 0;
  for (int i = 0; i < PIECES; i++) c.piece_start[i + 1] = c.piece_start[i] + piece_length(pieces[i]);
  c.length = c.piece_start[PIECES];
  int n = int(ceil(c.length / STEP));

  // Raw profile, then rounded by a 2 ft running mean so lips and edges are
  // not knife-sharp for the wheels.
  std::vector<double> raw(n, 0.0);
  for (int k = 0; k < n; k++) {
    double s = k * STEP;
    for (const Feature &f : features) {
      double u = s - (c.piece_start[f.piece] + f.offset);
      if (f.whoops) {
        if (u > 0 && u < f.whoops * WHOOP_LENGTH) {
          double b = sin(PI * u / WHOOP_LENGTH);
          raw[k] += WHOOP_HEIGHT * b * b;
        }
      } else {
        raw[k] += knot_height(f.knots, f.count, u);
      }
    }
  }
  c.profile.assign(n, 0.0);
  const int half = 2;
  for (int k = 0; k < n; k++) {
    double sum = 0;
    for (int d = -half; d <= half; d++) sum += raw[(k + d + n) % n];
    c.profile[k] = sum / (2 * half + 1);
  }

  // Berms: the bank fades in 15 ft before a turn over 40 ft and out again
  // symmetrically; the sign tells which side is the outside.
  c.bank.assign(n, 0.0f);
  for (int i = 0; i < PIECES; i++) {
    if (pieces[i].radius <= 0) continue;
    double a = c.piece_start[i], b = c.piece_start[i + 1];
    double side = pieces[i].angle < 0 ? -1 : 1;
    for (int k = 0; k < n; k++) {
      double s = k * STEP;
      double w = smoothstep(a - 15, a + 25, s) * (1 - smoothstep(b - 25, b + 15, s));
      c.bank[k] += float(side * w);
    }
  }

  // Fixed seed: the same ground every build.
  std::mt19937 rng(0x486f6c6cu);
  auto unit = [&rng]() { return double(rng() >> 8) / 16777216.0; };
  for (auto &w : c.waves) {
    double wavelength = 220 + 480 * unit();
    double dir = 2 * PI * unit();
    double k = 2 * PI / wavelength;
    w[0] = 0.4 + 0.9 * unit();
    w[1] = k * cos(dir);
    w[2] = k * sin(dir);
    w[3] = 2 * PI * unit();
  }
  return c;
}

}  // namespace

double gen_track_ground(double x, double z) {
  const Course &c = course();
  double h = 0;
  for (const auto &w : c.waves) h += w[0] * sin(w[1] * x + w[2] * z + w[3]);
  // The creek's hollow: a broad shallow dip under the middle of the course.
  double dx = x - 520, dz = z - 600;
  h -= 3.0 * exp(-(dx * dx + dz * dz) / (2 * 260.0 * 260.0));
  return h;
}

double gen_track_shape(double x, double z, double d, double s, double lateral) {
  const Course &c = course();
  double ground = gen_track_ground(x, z);
  double reach = GEN_TRACK_HALF_WIDTH + GEN_TRACK_SHOULDER;
  if (d >= reach) return ground;
  int n = int(c.profile.size());
  double fk = s / STEP;
  int k = int(floor(fk));
  double t = fk - k;
  int k0 = ((k % n) + n) % n, k1 = (k0 + 1) % n;
  double profile = c.profile[k0] * (1 - t) + c.profile[k1] * t;
  double bank = c.bank[k0] * (1 - t) + c.bank[k1] * t;
  double add = profile;
  if (bank != 0) {
    // A curved bowl rising towards the outside edge, steepest at the lip.
    double w = GEN_TRACK_HALF_WIDTH;
    double out = (bank > 0 ? lateral : -lateral) + 0.3 * w;
    if (out > 0) add += GEN_TRACK_BERM * fabs(bank) * out * out / (1.3 * w);
  }
  double fade = 1 - smoothstep(GEN_TRACK_HALF_WIDTH, reach, d);
  return ground + fade * add;
}

// Mud across the exit of the second berm; hardpack under the start.
const double MUD_FROM = -10, MUD_TO = 70, HARDPACK_TO = 120;

int gen_track_surface_mark(double s) {
  const Course &c = course();
  if (s >= c.piece_start[4] + MUD_FROM && s <= c.piece_start[4] + MUD_TO) return GEN_TRACK_MUD;
  if (s <= HARDPACK_TO) return GEN_TRACK_HARDPACK;
  return GEN_TRACK_DIRT;
}

std::vector<GenTrackFeature> gen_track_features() {
  const Course &c = course();
  std::vector<GenTrackFeature> out;
  out.push_back({"start", 0, float(HARDPACK_TO)});
  for (int i = 0; i < PIECES; i++) {
    if (pieces[i].radius > 0) out.push_back({"berm", float(c.piece_start[i]), float(c.piece_start[i + 1])});
    if (i == 4) out.push_back({"mud", float(c.piece_start[4] + MUD_FROM), float(c.piece_start[4] + MUD_TO)});
    for (const Feature &f : features) {
      if (f.piece != i) continue;
      double len = f.whoops ? f.whoops * WHOOP_LENGTH : f.knots[f.count - 1].s;
      double s0 = c.piece_start[i] + f.offset;
      out.push_back({f.kind, float(s0), float(s0 + len)});
    }
  }
  return out;
}

const GenTrackLayout &gen_track_layout() {
  static GenTrackLayout layout;
  if (!layout.line.empty()) return layout;
  const Course &c = course();
  layout.folder = "tracks/hollow_creek";
  layout.description = "Hollow Creek";
  layout.shift = 10;
  layout.spacing = 0.5f;
  layout.half_width = float(GEN_TRACK_HALF_WIDTH);
  layout.length = float(c.length);
  layout.start_s = 40;
  double x = START_X, z = START_Z, heading = 0;
  for (int i = 0; i < PIECES; i++) {
    const Piece &p = pieces[i];
    double len = piece_length(p);
    int steps = int(lround(len / STEP));
    double cx = 0, cz = 0, a0 = 0, side = 0;
    if (p.radius > 0) {
      // Centre on the side the course turns to; left is (tz, -tx).
      side = p.angle < 0 ? 1 : -1;
      cx = x + side * p.radius * sin(heading);
      cz = z - side * p.radius * cos(heading);
      a0 = atan2(z - cz, x - cx);
    }
    for (int k = 0; k < steps; k++) {
      double u = len * k / steps;
      double px, pz, h;
      if (p.radius > 0) {
        double turn = p.angle * u / len;
        double a = a0 + turn;
        px = cx + p.radius * cos(a);
        pz = cz + p.radius * sin(a);
        h = heading + turn;
      } else {
        px = x + u * cos(heading);
        pz = z + u * sin(heading);
        h = heading;
      }
      double s = c.piece_start[i] + u;
      GenTrackPoint pt;
      pt.x = float(px);
      pt.z = float(pz);
      pt.s = float(s);
      pt.tx = float(cos(h));
      pt.tz = float(sin(h));
      pt.y = float(gen_track_shape(px, pz, 0, s, 0));
      layout.line.push_back(pt);
    }
    if (p.radius > 0) {
      double a = a0 + p.angle;
      x = cx + p.radius * cos(a);
      z = cz + p.radius * sin(a);
      heading += p.angle;
    } else {
      x += len * cos(heading);
      z += len * sin(heading);
    }
  }
  return layout;
}

GenTrackPoint gen_track_point_at(float s) {
  const GenTrackLayout &l = gen_track_layout();
  double len = l.length;
  double w = fmod(double(s), len);
  if (w < 0) w += len;
  // Points are evenly spaced within each piece, so a search by s is exact.
  size_t lo = 0, hi = l.line.size();
  while (hi - lo > 1) {
    size_t mid = (lo + hi) / 2;
    if (l.line[mid].s <= w) lo = mid; else hi = mid;
  }
  const GenTrackPoint &a = l.line[lo];
  const GenTrackPoint &b = l.line[(lo + 1) % l.line.size()];
  double sb = lo + 1 < l.line.size() ? b.s : len;
  double t = sb > a.s ? (w - a.s) / (sb - a.s) : 0;
  GenTrackPoint p;
  p.x = float(a.x + (b.x - a.x) * t);
  p.z = float(a.z + (b.z - a.z) * t);
  p.y = float(a.y + (b.y - a.y) * t);
  p.s = float(w);
  double tx = a.tx + (b.tx - a.tx) * t, tz = a.tz + (b.tz - a.tz) * t;
  double m = sqrt(tx * tx + tz * tz);
  p.tx = float(m > 0 ? tx / m : a.tx);
  p.tz = float(m > 0 ? tz / m : a.tz);
  return p;
}
