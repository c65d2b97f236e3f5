// The auto pilot's choices and memory: personalities, picking the next
// line, appending it to the line a robot follows, and recording every
// rider's segments and every robot's outcome for the tables.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "bike/rider.h"
#include "bike/robot.h"
#include "core/core.h"
#include "core/log.h"

RobotRaceHooks robot_race;
RobotState robot_states[RIDER_SLOTS];

const Personality personalities[PERSONALITY_COUNT] = {
    {"empty", 0, 0, 0, 0, 0},
    {"vesk", 0, 0, 1, 0.2f, 0.4f},
    {"tolly", 2, 1, 10, 0.2f, 0.4f},
    {"rannock", 1, 0, 10, 0, 0.1f},
    {"tester", 3, 3, 1, 0.2f, 0.4f},
};

namespace {

float clampf(float v, float lo, float hi) { return v < lo ? lo : (v > hi ? hi : v); }

int slot_ok(const Rider *r) { return r && r->slot >= 0 && r->slot < RIDER_SLOTS; }

int race_progress(int slot) { return robot_race.progress ? robot_race.progress(slot) : 0; }
int counted_before(int index) {
  return robot_race.counted_before ? robot_race.counted_before(index) : 0;
}
int counted_tic(int slot, int k) {
  return robot_race.counted_tic ? robot_race.counted_tic(slot, k) : -1;
}
int finished(int slot) { return robot_race.finished && robot_race.finished(slot); }

void frame_point(const Rider *r, LinePoint *out) {
  const dReal *p = dBodyGetPosition(r->body[FRAME]);
  out->x = float(p[0]);
  out->y = float(p[1]);
  out->z = float(p[2]);
  const dReal *v = dBodyGetLinearVel(r->body[FRAME]);
  out->speed = float(sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]));
  out->lean = r->lean_angle;
}

double dist3(const LinePoint &a, const LinePoint &b) {
  double dx = double(a.x) - b.x, dy = double(a.y) - b.y, dz = double(a.z) - b.z;
  return sqrt(dx * dx + dy * dy + dz * dz);
}

void (*previous_reset)(Rider *) = nullptr;

void robot_rider_reset(Rider *r) {
  if (slot_ok(r)) {
    RobotState &s = robot_states[r->slot];
    int personality = s.personality;
    robot_state_reset(r->slot);
    // A rider put back on its wheels mid-race keeps who it is and where
    // it is in the lap.
    s.personality = personality;
    s.lines_taken = counted_before(race_progress(r->slot));
    s.last_progress = race_progress(r->slot);
  }
  if (previous_reset) previous_reset(r);
}

void taint(Rider *r) {
  if (!slot_ok(r)) return;
  RobotState &s = robot_states[r->slot];
  if (s.taint == 0) s.taint = 1;
}

int is_robot(const RobotState &s) { return s.personality > 0; }

}  // namespace

// ---------------------------------------------------------------- robots

void robot_state_reset(int slot) {
  if (slot < 0 || slot >= RIDER_SLOTS) return;
  RobotState &s = robot_states[slot];
  s.personality = -1;
  s.followed.clear();
  s.next = 0;
  s.progress_tic = 0;
  s.recovery = 0;
  s.lines_taken = 0;
  memset(s.ring, 0, sizeof s.ring);
  s.start_timer = 0;
  s.last_throttle = 0;
  s.grip_tic = -1000;
  for (int b = 0; b < 2; b++) {
    s.buffer[b].clear();
    s.spoiled[b] = 0;
  }
  s.taint = 0;
  s.last_progress = 0;
  s.record_tic = 0;
}

int personality_index(const char *name) {
  for (int i = 1; i < PERSONALITY_COUNT; i++)
    if (name && !strcmp(name, personalities[i].name)) return i;
  log_printf("auto pilot personality '%s' not found\n", name ? name : "");
  return 1;
}

void set_personality(Rider *r, const char *name) {
  if (slot_ok(r)) robot_states[r->slot].personality = personality_index(name);
}

int robot_cost_mode(Rider *r) {
  const RobotState &s = robot_states[r->slot];
  const Personality &p = personalities[s.personality < 0 ? 1 : s.personality];
  int gap = robot_race.lead_gap ? robot_race.lead_gap(r->slot) : -1;
  if (gap >= 0 && gap / 128.0 > p.leading_threshold) return p.leading_mode;
  return p.mode;
}

int pick_line(Rider *r, int k) {
  int t = line_table_of(k);
  if (!slot_ok(r) || t < 0 || finished(r->slot)) return -1;
  RobotState &s = robot_states[r->slot];
  LineTable &tab = lines.table[size_t(t)];
  int mode = robot_cost_mode(r);
  float score[LINE_SLOTS];
  line_scores(t, mode, score);
  const int now = physics.now_tic;
  float w = clampf(((now - physics.drop_tic) / 128.0f - 40) * 0.05f, 0, 1);
  LinePoint here;
  frame_point(r, &here);
  int best = -1;
  float best_value = 0;
  for (int i = 0; i < LINE_SLOTS; i++) {
    RacingLine &l = tab.line[i];
    if (l.points.empty()) continue;
    float sc = score[i];
    if (k == 0) sc = 0.2f * sc + 0.8f;
    if (mode < 3 && l.id == tab.best_id[mode]) sc += (1 - sc) * w;
    float match = 0;
    if (s.followed.size() < 3) {
      float m = clampf(float((100 - dist3(here, l.points[0])) / 96), 0, 1);
      match = 10 * m * m * m;
    } else if (l.points.size() >= 2) {
      double d0, d1;
      float a;
      if (robot_line_match_offsets(s.followed, l, &d0, &d1)) {
        a = clampf(float((fabs(d1 - d0) - 3) * -0.5), 0, 1) *
            clampf(float((fabs(d0) - 5) * -0.2857143), 0, 1);
      } else {
        // A followed line that stood still: only the distance tells.
        double d = sqrt((double(s.followed.back().x) - l.points[0].x) *
                            (double(s.followed.back().x) - l.points[0].x) +
                        (double(s.followed.back().z) - l.points[0].z) *
                            (double(s.followed.back().z) - l.points[0].z));
        a = clampf(float((d - 5) * -0.2857143), 0, 1);
      }
      float b = clampf((fabsf(s.followed.back().speed) - 15 - fabsf(l.points[0].speed)) * -0.2f,
                       0, 1);
      match = a * a * a * b;
    }
    float since = (now - l.last_picked) / 128.0f;
    float value = clampf(since / 3, 0, 1) * sc + match;
    if (log_verbosity >= 1)
      log_printf("auto pilot: picking %d score = %f match = %f last_picked = %f\n", i, double(sc),
                 double(match), double(since));
    if (best < 0 || value > best_value) {
      best = i;
      best_value = value;
    }
  }
  if (best < 0) return -1;
  const LinePoint end = tab.line[best].points.back();
  for (RacingLine &l : tab.line) {
    if (l.points.empty()) continue;
    const LinePoint &e = l.points.back();
    double dx = double(e.x) - end.x, dy = double(e.y) - end.y, dz = double(e.z) - end.z;
    if (dx * dx + dy * dy + dz * dz <= 9) l.last_picked = now;
  }
  return best;
}

void robot_append_line(Rider *r, const RacingLine &l) {
  if (!slot_ok(r) || l.points.empty()) return;
  RobotState &s = robot_states[r->slot];
  std::vector<LinePoint> &f = s.followed;
  if (s.next > 30) {
    f.erase(f.begin(), f.begin() + (s.next - 30));
    s.next = 30;
  }
  if (f.empty()) f.assign(5, l.points[0]);
  const int o = int(f.size());
  f.insert(f.end(), l.points.begin(), l.points.end());
  const int h = int(f.size());
  // The join: a cubic from a few points back into the new line.
  int i = std::clamp(std::max(o - 5, s.next), 0, h - 1);
  LinePoint S = f[size_t(i)], E = f[size_t(std::min(o, h - 1))];
  if (S.speed < 0 || E.speed < 0) return;
  int k = o - i;
  if (k < 2) return;
  double P[3] = {S.x, S.y, S.z}, Q[3] = {E.x, E.y, E.z}, TS[3], TE[3];
  const LinePoint &after = f[size_t(std::min(o + 1, h - 1))];
  const double ea[3] = {after.x, after.y, after.z};
  if (i > 0) {
    const LinePoint &b = f[size_t(i - 1)];
    const double pb[3] = {b.x, b.y, b.z};
    for (int c = 0; c < 3; c++) TS[c] = (P[c] - pb[c]) * k;
  } else {
    const dReal *p = dBodyGetPosition(r->body[FRAME]);
    dVector3 fwd;
    dBodyVectorToWorld(r->body[FRAME], 0, 0, -1, fwd);
    for (int c = 0; c < 3; c++) {
      P[c] = p[c];
      TS[c] = 7.5 * k * fwd[c];
    }
  }
  for (int c = 0; c < 3; c++) TE[c] = (ea[c] - Q[c]) * k;
  for (int j = 1; j < k; j++) {
    double g = double(j) / k, g2 = g * g, g3 = g2 * g;
    LinePoint &q = f[size_t(i + j)];
    float *xyz[3] = {&q.x, &q.y, &q.z};
    for (int c = 0; c < 3; c++)
      *xyz[c] = float(P[c] + TS[c] * g + (3 * (Q[c] - P[c]) - 2 * TS[c] - TE[c]) * g2 +
                      (2 * (P[c] - Q[c]) + TS[c] + TE[c]) * g3);
    q.speed = std::min(q.speed, float(S.speed + (E.speed - S.speed) * g));
    q.lean = float(S.lean + (E.lean - S.lean) * g);
  }
}

// ---------------------------------------------------------------- recording

namespace {

// The robot leaves its line: too far from it, or much faster than it.
void check_on_line(Rider *r, RobotState &s) {
  int W = int(s.followed.size());
  if (W < 2 || s.recovery > 0) return;
  // The position runs a point ahead: the bike is between l - 1 and l.
  int l = std::clamp(int(line_position(r)) - 1, 0, W - 2);
  const LinePoint &a = s.followed[size_t(l)], &b = s.followed[size_t(l) + 1];
  LinePoint p;
  frame_point(r, &p);
  double ux = double(b.x) - a.x, uz = double(b.z) - a.z;
  double px = double(p.x) - a.x, pz = double(p.z) - a.z;
  double len2 = ux * ux + uz * uz;
  double t = len2 > 0 ? std::clamp((px * ux + pz * uz) / len2, 0.0, 1.0) : 0;
  double dx = px - t * ux, dz = pz - t * uz;
  float fast = p.speed * 15 / 16;
  if (dx * dx + dz * dz <= 16 && !(fast > fabsf(a.speed) && fast > fabsf(b.speed))) return;
  int k = counted_before(race_progress(r->slot));
  RacingLine *line = line_by_id(line_table_of(k), robot_ring(s, k));
  robot_ring(s, k) = 0;
  if (!line) return;
  line->failures++;
  line_rescale(line);
  lines.learned = 1;
}

void counted_crossing(Rider *r, RobotState &s, int k2) {
  const int slot = r->slot, k1 = k2 - 1, k0 = k2 - 2;
  int T2 = counted_tic(slot, k2), T1 = k1 >= 0 ? counted_tic(slot, k1) : -1;
  int T0 = k0 >= -1 ? counted_tic(slot, k0) : -1;
  int times_ok = k1 >= 0 && T0 >= 0 && T1 >= 0 && T2 >= 0;
  if (is_robot(s)) {
    if (k1 >= 0) {
      RacingLine *l = line_by_id(line_table_of(k1), robot_ring(s, k1));
      robot_ring(s, k1) = 0;
      if (l && times_ok) {
        l->successes++;
        l->best1 = std::min(l->best1, T1 - T0);
        l->best2 = std::min(l->best2, T2 - T0);
        l->sum1 += T1 - T0;
        l->sum2 += T2 - T0;
        line_rescale(l);
        lines.learned = 1;
      }
    }
    if (s.taint == 1) {
      RacingLine *l = line_by_id(line_table_of(k2), robot_ring(s, k2));
      robot_ring(s, k2) = 0;
      if (l) {
        l->failures++;
        line_rescale(l);
        lines.learned = 1;
      }
      s.taint = 2;
    }
  } else if (k1 >= 0) {
    std::vector<LinePoint> &b = s.buffer[k1 & 1];
    int t = line_table_of(k1);
    if (b.empty() || s.spoiled[k1 & 1] || !times_ok) {
      if (log_verbosity >= 1) log_printf("auto pilot: %d canceled\n", t);
    } else {
      line_offer(t, b, T1 - T0, T2 - T0);
    }
  }
  if (k1 >= 0) {
    s.buffer[k1 & 1].clear();
    s.spoiled[k1 & 1] = 0;
  }
  // A new lap starts clean.
  int t2 = line_table_of(k2);
  if (t2 == lines.first - 1 || t2 == lines.first + lines.normal - 1) s.taint = 0;
}

}  // namespace

void record_line(Rider *r) {
  if (!slot_ok(r) || lines.table.empty() || !r->body[FRAME] || finished(r->slot)) return;
  RobotState &s = robot_states[r->slot];
  const int now = physics.now_tic, p = race_progress(r->slot);
  if (p < s.last_progress) {
    // Sent back: what was recorded no longer joins up.
    for (int b = 0; b < 2; b++) s.buffer[b].clear(), s.spoiled[b] = 0;
  } else {
    for (int i = s.last_progress; i < p; i++)
      if (robot_race.is_counted && robot_race.is_counted(i)) counted_crossing(r, s, counted_before(i));
  }
  s.last_progress = p;
  if (r->crash_timer > 0 || r->last_rider_hit_tic == now ||
      (now > physics.drop_tic + 256 && rider_speed(r) < 5))
    taint(r);
  if (is_robot(s)) {
    if (now % 4 == 0 && now > physics.drop_tic + 640) check_on_line(r, s);
    return;
  }
  int b = counted_before(p) & 1;
  if (s.taint) s.spoiled[b] = 1;
  if (now % LINE_POINT_TICS != 0) return;
  LinePoint q;
  frame_point(r, &q);
  if (!wheel_touching(r, 0) && !wheel_touching(r, 1)) q.speed = -q.speed;
  if (s.buffer[b].size() < size_t(LINE_MAX_POINTS)) s.buffer[b].push_back(q);
}

int robot_realign_point(Rider *r, int counted_next, float out[3]) {
  if (!slot_ok(r) || lines.table.empty()) return 0;
  const RobotState &s = robot_states[r->slot];
  int t = line_table_of(counted_next);
  const RacingLine *l = nullptr;
  if (t >= 0) {
    int id = is_robot(s) ? robot_ring(s, counted_next)
                         : lines.table[size_t(t)].best_id[0];
    l = line_by_id(t, id);
  }
  if (l) {
    const dReal *p = dBodyGetPosition(r->body[FRAME]);
    int near = 0;
    double best = 1e300;
    for (size_t i = 0; i < l->points.size(); i++) {
      double dx = l->points[i].x - p[0], dz = l->points[i].z - p[2];
      if (dx * dx + dz * dz < best) best = dx * dx + dz * dz, near = int(i);
    }
    const LinePoint &q = l->points[size_t(std::min(near + 4, int(l->points.size()) - 1))];
    out[0] = q.x, out[1] = q.y, out[2] = q.z;
    return 1;
  }
  if (s.followed.empty()) return 0;
  const LinePoint &q = s.followed[size_t(std::clamp(s.next, 0, int(s.followed.size()) - 1))];
  out[0] = q.x, out[1] = q.y, out[2] = q.z;
  return 1;
}

void robot_lines_reset_bookkeeping() {
  for (int i = 0; i < RIDER_SLOTS; i++) robot_state_reset(i);
}

void robot_attach() {
  physics_hooks.robot_drive = robot_drive;
  physics_hooks.line_record = record_line;
  physics_hooks.realign_spoiled = taint;
  if (physics_hooks.rider_reset != robot_rider_reset) {
    previous_reset = physics_hooks.rider_reset;
    physics_hooks.rider_reset = robot_rider_reset;
  }
}
