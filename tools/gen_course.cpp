// The default track's race files: the start gates, checkpoints and lap
// sequences ("timing_gates", written by the game's own writer), the start
// gate's collision shape and the trackside cameras.
//
// Checkpoints are spaced by the time a fast rider takes between them, from
// the planned rider's speed plan: about one second apart, so each robot
// line (a point every quarter second) holds four points or more; closer
// where the riding is slow (berms, whoops). Every feature gets one before,
// on and after it, so none can be ridden round without skipping one; those
// that fall too close to a neighbour for a robot line of their own are
// uncounted entries, timed all the same.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "bike/rider.h"
#include "race/timing.h"
#include "tools/course/course_rider.h"
#include "tools/course/track_layout.h"
#include "tools/gen.h"

namespace {

// Start gates: a row across the start straight, gate 0 nearest the centre
// line and then alternately right and left, so a small field starts in the
// middle. Riders stand (row + 1/16) x 10 ft behind their gate, so the front
// row's frames are on the layout's start point.
const int GATES = 8;
const double GATE_SPACING = 3;
const double GATE_AHEAD_OF_START = 0.625;

// The gate's barrier: a plate 2.7 ft wide standing 1.65 ft above the ground
// just ahead of the front wheel of a rider at its place (its face about
// 0.2 ft clear of the tire), hinged far below the ground so that the small
// turn between raised and dropped (3pi/16) sinks it: dropped, its top edge
// lies less than 0.1 ft proud of the ground, no bump worth the name.
const double GATE_TURN = 0.5890486225480862;
const double GATE_PIVOT_DEPTH = 6.5;  // the gate line's y: the statue sits this far down
const double GATE_FACE = -0.45;       // plate centre line, statue z (riders at +z)
const double GATE_SPHERE = 0.25;

// Checkpoints.
const double LAP_LINE_S = 6;        // just on the start straight, behind the grid
const double RADIUS = 30;           // covers the course and its shoulders
const double FEATURE_RADIUS = 16;   // on a feature: the groomed width and a little
const double FEATURE_MARGIN = 12;   // before and after a feature
const double MIN_APART = 12;        // closer required points merge
const double MAX_GAP = 1.25;        // s of fast riding between checkpoints
const double COUNTED_GAP = 1.1;     // s between counted checkpoints at least
const double TOP_SPEED = 100;       // ft/s, the fastest bike flat out
const double ACCELERATION = 20;     // ft/s^2 out of the slow parts

const int CAMERA_SPREAD = 200;      // ft between camera anchors at least
const double CAMERA_OFF = 50;       // ft beside the centre line
const double CAMERA_HEIGHT = 12;    // above the ground
const double CAMERA_FOV = 50;
// Across the view at the rider's distance: far riders stay large enough
// to follow, near ones keep their surroundings.
const double CAMERA_SUBJECT = 30;

struct Mark {
  double s;
  int priority;  // higher wins where two would stand too close
  int feature;   // stands on a feature: the smaller radius
};
enum { P_FILL = 0, P_BERM = 1, P_EDGE = 2, P_ON = 3, P_LAP = 4 };

double wrap(double s, double length) {
  s = fmod(s, length);
  return s < 0 ? s + length : s;
}

// Time of a fast lap at every line point, from the lap line: the planned
// speeds, reached at a bike's acceleration and limited to its top speed.
struct Pace {
  std::vector<double> t;  // seconds from s = 0 at each line point
  double lap;
  double at(const GenTrackLayout &l, double s) const {
    int i = course_index_at(l, float(s));
    int n = int(l.line.size());
    double s0 = l.line[i].s, s1 = i + 1 < n ? l.line[i + 1].s : l.length;
    double t1 = i + 1 < n ? t[i + 1] : lap;
    return t[i] + (t1 - t[i]) * (s - s0) / (s1 - s0);
  }
};

Pace fast_lap(const GenTrackLayout &l) {
  CoursePlan plan;
  course_plan(l, CourseStyle(), &plan);
  int n = int(l.line.size());
  std::vector<double> v(n);
  // Twice round, so the lap starts at the speed it ends with.
  double speed = 0;
  for (int pass = 0; pass < 2; pass++)
    for (int i = 0; i < n; i++) {
      double ds = (i + 1 < n ? l.line[i + 1].s : l.length) - l.line[i].s;
      v[i] = std::min({double(plan.speed[i]), TOP_SPEED, speed});
      speed = sqrt(v[i] * v[i] + 2 * ACCELERATION * ds);
    }
  Pace p;
  p.t.assign(n, 0);
  double t = 0;
  for (int i = 0; i < n; i++) {
    p.t[i] = t;
    double ds = (i + 1 < n ? l.line[i + 1].s : l.length) - l.line[i].s;
    double next = v[(i + 1) % n];
    t += 2 * ds / std::max(v[i] + next, 1.0);
  }
  p.lap = t;
  return p;
}

// Lap distances of the checkpoints in lap order, the first just after the
// lap line, the lap line last.
std::vector<Mark> place_checkpoints(const GenTrackLayout &l, const Pace &pace) {
  std::vector<Mark> req;
  req.push_back({LAP_LINE_S, P_LAP, 0});
  for (const GenTrackFeature &f : gen_track_features()) {
    if (!strcmp(f.kind, "berm")) {
      req.push_back({f.s0, P_BERM, 0});
      req.push_back({f.s1, P_BERM, 0});
    } else if (!strcmp(f.kind, "start")) {
      // The lap line is before it; on it means past the gates.
      double gates = l.start_s + GATE_AHEAD_OF_START;
      req.push_back({gates + 2 * FEATURE_MARGIN, P_ON, 1});
      req.push_back({f.s1 + FEATURE_MARGIN, P_EDGE, 0});
    } else {
      req.push_back({f.s0 - FEATURE_MARGIN, P_EDGE, 0});
      req.push_back({0.5 * (f.s0 + f.s1), P_ON, 1});
      req.push_back({f.s1 + FEATURE_MARGIN, P_EDGE, 0});
    }
  }
  // Lap order from the lap line.
  for (Mark &m : req) m.s = wrap(m.s - LAP_LINE_S, l.length) + LAP_LINE_S;
  std::stable_sort(req.begin(), req.end(), [](const Mark &a, const Mark &b) { return a.s < b.s; });
  // Of two too close together the more important stays.
  std::vector<Mark> kept;
  for (const Mark &m : req) {
    if (!kept.empty() && m.s - kept.back().s < MIN_APART) {
      if (m.priority > kept.back().priority) kept.back() = m;
      continue;
    }
    kept.push_back(m);
  }
  // The lap line comes round again at the end of the lap.
  if (kept.front().priority == P_LAP) kept.erase(kept.begin());
  Mark lap{LAP_LINE_S + l.length, P_LAP, 0};
  while (!kept.empty() && lap.s - kept.back().s < MIN_APART) kept.pop_back();
  kept.push_back(lap);
  // Fill long stretches evenly in time.
  std::vector<Mark> out;
  double prev_s = LAP_LINE_S, prev_t = pace.at(l, LAP_LINE_S);
  for (const Mark &m : kept) {
    double t = pace.at(l, wrap(m.s, l.length)) + (m.s >= l.length ? pace.lap : 0);
    int extra = int(ceil((t - prev_t) / MAX_GAP)) - 1;
    for (int k = 1; k <= extra; k++) {
      // The lap distance where the pace reaches this share of the time.
      double want = prev_t + (t - prev_t) * k / (extra + 1);
      double lo = prev_s, hi = m.s;
      for (int it = 0; it < 60; it++) {
        double mid = 0.5 * (lo + hi);
        double tm = pace.at(l, wrap(mid, l.length)) + (mid >= l.length ? pace.lap : 0);
        (tm < want ? lo : hi) = mid;
      }
      out.push_back({0.5 * (lo + hi), P_FILL, 0});
    }
    out.push_back(m);
    prev_s = m.s;
    prev_t = t;
  }
  return out;
}

// Counted entries at least COUNTED_GAP apart in time, from the lap line
// round to it again.
std::vector<int> counted_marks(const GenTrackLayout &l, const Pace &pace,
                               const std::vector<Mark> &marks) {
  auto time = [&](double s) { return pace.at(l, wrap(s, l.length)) + (s >= l.length ? pace.lap : 0); };
  std::vector<int> counted(marks.size(), 0);
  double last = time(LAP_LINE_S);
  for (size_t i = 0; i + 1 < marks.size(); i++) {
    double t = time(marks[i].s);
    if (t - last >= COUNTED_GAP) {
      counted[i] = 1;
      last = t;
    }
  }
  // The lap line counts; the last counted before it makes room if needed.
  counted.back() = 1;
  double end = time(marks.back().s);
  for (int i = int(marks.size()) - 2; i >= 0; i--) {
    if (!counted[size_t(i)]) continue;
    if (end - time(marks[size_t(i)].s) < COUNTED_GAP) counted[size_t(i)] = 0;
    break;
  }
  return counted;
}

// The other parts of the course a point at lap distance s must keep clear
// of: the centre line away from s by more than `reach` along the lap.
double distance_to_rest(const GenTrackLayout &l, double x, double z, double s, double reach) {
  double best = 1e30;
  for (const GenTrackPoint &p : l.line) {
    double ds = fabs(p.s - s);
    ds = std::min(ds, l.length - ds);
    if (ds <= reach) continue;
    best = std::min(best, hypot(p.x - x, p.z - z));
  }
  return best;
}

std::string gate_shape() {
  std::vector<CollisionSphere> spheres;
  // Raised: a vertical plate at z = GATE_FACE, from just under the ground
  // to its top; stored turned back by the gate's turn (its dropped pose).
  double c = cos(GATE_TURN), s = sin(GATE_TURN);
  for (int row = 0; row < 6; row++) {
    double above = -0.25 + row * 0.33;  // raised, above the ground
    double y = GATE_PIVOT_DEPTH + above, z = GATE_FACE;
    for (int col = 0; col < 9; col++) {
      CollisionSphere sp;
      sp.centre[0] = float(-1.2 + col * 0.3);
      sp.centre[1] = float(y * c + z * s);
      sp.centre[2] = float(-y * s + z * c);
      sp.radius = float(GATE_SPHERE);
      // Smooth and stiff: a front wheel pushed into it must not climb it.
      sp.friction = 0.2f;
      sp.stiffness = 25000;
      sp.damping = 2500;
      spheres.push_back(sp);
    }
  }
  static char text[16384];
  if (!shape_format(spheres, text, sizeof text)) return "";
  CollisionShape check;
  char error[128];
  if (!shape_parse(text, &check, error, sizeof error)) return "";
  return text;
}

}  // namespace

int gen_course(const char *out) {
  const GenTrackLayout &l = gen_track_layout();
  std::string dir = std::string(l.folder) + "/";
  Pace pace = fast_lap(l);
  std::vector<Mark> marks = place_checkpoints(l, pace);
  std::vector<int> counted = counted_marks(l, pace, marks);
  if (marks.size() > size_t(MAX_LAP_ENTRIES)) {
    fprintf(stderr, "gen_data: %zu checkpoints are too many\n", marks.size());
    return 0;
  }

  timing_clear();
  GenTrackPoint start = gen_track_point_at(float(l.start_s + GATE_AHEAD_OF_START));
  double heading = atan2(-double(start.tx), -double(start.tz));
  for (int g = 0; g < GATES; g++) {
    // Right of travel is (-tz, tx).
    int k = g / 2;
    double side = (g % 2 ? -1 : 1) * (k + 0.5) * GATE_SPACING;
    timing_add_gate(float(start.x - start.tz * side), float(-GATE_PIVOT_DEPTH),
                    float(start.z + start.tx * side), float(heading), DEFAULT_GATE_MODEL,
                    DEFAULT_GATE_TEXTURE, DEFAULT_GATE_SHAPE);
  }
  for (const Mark &m : marks) {
    double s = wrap(m.s, l.length);
    GenTrackPoint p = gen_track_point_at(float(s));
    double r = m.feature ? FEATURE_RADIUS : RADIUS;
    // The disc covers the course here and nothing of its other parts.
    if (distance_to_rest(l, p.x, p.z, s, 2 * (r + 2 * l.half_width)) < r + 2 * l.half_width) {
      fprintf(stderr, "gen_data: the checkpoint at s=%.0f reaches another part of the course\n", s);
      return 0;
    }
    timing_add_checkpoint(float(r), p.x, p.y, p.z, p.tx, 0, p.tz);
  }
  // One lap from the gates round to the lap line, then the same again: the
  // grid stands before the first checkpoint.
  for (int lap = 0; lap < 2; lap++)
    for (size_t i = 0; i < marks.size(); i++)
      timing_add_entry(lap, int(i) + (counted[i] ? 0 : UNCOUNTED_ENTRY));
  timing_settle();
  static char text[1 << 16];
  int n = format_timing_gates(text, sizeof text);
  if (n < 0 || !timing.enabled) {
    fprintf(stderr, "gen_data: the timing gates do not make a course\n");
    return 0;
  }
  std::string gates_text(text, size_t(n));

  // Cameras beside the features, each watching the checkpoints nearest it.
  std::vector<GenTrackPoint> cams;
  std::vector<double> anchors;
  for (const GenTrackFeature &f : gen_track_features()) {
    if (!strcmp(f.kind, "berm") || !strcmp(f.kind, "mud")) continue;
    double s = 0.5 * (f.s0 + f.s1);
    if (!anchors.empty() && s - anchors.back() < CAMERA_SPREAD) continue;
    anchors.push_back(s);
  }
  double extent = double(2 << l.shift) * l.spacing;
  for (double s : anchors) {
    GenTrackPoint p = gen_track_point_at(float(s));
    // The side away from the rest of the course.
    GenTrackPoint best = p;
    double clear = -1;
    for (int side : {1, -1}) {
      GenTrackPoint c = p;
      c.x = float(p.x - p.tz * side * CAMERA_OFF);
      c.z = float(p.z + p.tx * side * CAMERA_OFF);
      if (c.x < 20 || c.z < 20 || c.x > extent - 20 || c.z > extent - 20) continue;
      double d = distance_to_rest(l, c.x, c.z, s, 0);
      if (d > clear) clear = d, best = c;
    }
    if (clear < l.half_width + 14) {
      fprintf(stderr, "gen_data: no room for a camera at s=%.0f\n", s);
      return 0;
    }
    cams.push_back(best);
  }
  std::vector<std::string> watch(cams.size());
  for (int c = 0; c < timing.checkpoint_count; c++) {
    const Checkpoint &cp = timing.checkpoints[c];
    size_t nearest = 0;
    for (size_t k = 1; k < cams.size(); k++)
      if (hypot(cams[k].x - cp.x, cams[k].z - cp.z) < hypot(cams[nearest].x - cp.x, cams[nearest].z - cp.z))
        nearest = k;
    watch[nearest] += " " + std::to_string(c);
  }
  std::string cameras;
  char line[256];
  for (size_t k = 0; k < cams.size(); k++) {
    if (!watch[k].empty()) cameras += "gate" + watch[k] + "\n";
    snprintf(line, sizeof line, "fov %g\nautofovsize %g\naddcamera %.1f %.1f %.1f\n", CAMERA_FOV,
             CAMERA_SUBJECT, double(cams[k].x),
             CAMERA_HEIGHT, double(cams[k].z));
    cameras += line;
  }

  std::string shape = gate_shape();
  if (shape.empty()) {
    fprintf(stderr, "gen_data: the start gate's shape does not format\n");
    return 0;
  }
  timing_clear();
  return gen_write(out, dir + "timing_gates", gates_text) && gen_write(out, dir + "cameras", cameras) &&
         gen_write(out, DEFAULT_GATE_SHAPE + 1, shape);
}
