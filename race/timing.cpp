// Timing gates and laps: reading and writing "timing_gates", the crossing
// test that moves every rider along the lap sequences, laps, the running
// order and the rider-down markers.
#include "race/timing.h"

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>

#include "bike/rider.h"
#include "core/core.h"
#include "core/log.h"
#include "race/race.h"
#include "race/scenery.h"

const char *const DEFAULT_GATE_MODEL = "@startgate.jm";
const char *const DEFAULT_GATE_TEXTURE = "@startgate.ppm";
const char *const DEFAULT_GATE_SHAPE = "@startgate.shp";

TimingGates timing;
RiderTiming rider_timing[RIDER_SLOTS];
RunningEntry running_entries[RIDER_SLOTS];

void timing_clear() { memset(static_cast<void *>(&timing), 0, sizeof timing); }

// ------------------------------------------------------------ the tables

static void copy_name(char *out, const char *name) {
  if (!name || !strcmp(name, "null")) name = "";
  snprintf(out, GATE_NAME_MAX, "%s", name);
}

int timing_add_gate(float x, float y, float z, float angle, const char *model,
                    const char *texture, const char *shape) {
  if (timing.gate_count >= MAX_START_GATES) return -1;
  if (!std::isfinite(x) || !std::isfinite(y) || !std::isfinite(z) || !std::isfinite(angle))
    return -1;
  double a = angle;
  if (a < -PI || a > PI) {
    double t = (a + PI) / (2 * PI);
    a = (t - floor(t)) * 2 * PI - PI;
  }
  StartGate &g = timing.gates[timing.gate_count];
  g.x = x;
  g.y = y;
  g.z = z;
  g.angle = float(a);
  g.statue = -1;
  g.fall = 1;
  g.fall_speed = 0;
  copy_name(g.model, model);
  copy_name(g.texture, texture);
  copy_name(g.shape, shape);
  return timing.gate_count++;
}

int timing_add_checkpoint(float radius, float x, float y, float z, float dx, float dy, float dz) {
  if (timing.checkpoint_count >= MAX_CHECKPOINTS) return -1;
  const float v[] = {radius, x, y, z, dx, dy, dz};
  for (float f : v)
    if (!std::isfinite(f)) return -1;
  Checkpoint &c = timing.checkpoints[timing.checkpoint_count];
  c = Checkpoint{x, y, z, dx, dy, dz, radius, 0};
  return timing.checkpoint_count++;
}

int timing_add_entry(int normal, int value) {
  int &count = normal ? timing.normal_count : timing.first_count;
  if (count >= MAX_LAP_ENTRIES) return -1;
  // Clamped into the checkpoints there are; with none every entry is -1
  // (counted), and timing stays off.
  int last = timing.checkpoint_count - 1;
  int v;
  if (value < 0) v = last < 0 ? -1 : 0;
  else if (value < UNCOUNTED_ENTRY) v = std::min(value, last);
  else v = std::min(value % UNCOUNTED_ENTRY, last) + UNCOUNTED_ENTRY;
  int at = normal ? timing.first_count + timing.normal_count : timing.first_count;
  if (!normal)  // first-lap entries go before the normal lap's
    memmove(&timing.entries[at + 1], &timing.entries[at], sizeof(int) * size_t(timing.normal_count));
  timing.entries[at] = v;
  count++;
  return at;
}

void timing_settle() {
  int F = timing.first_count, N = timing.normal_count;
  timing.first_counted = timing.normal_counted = 0;
  for (int i = 0; i < F + N; i++)
    if (timing.entries[i] < UNCOUNTED_ENTRY) (i < F ? timing.first_counted : timing.normal_counted)++;
  timing.enabled = timing.checkpoint_count > 0 && F > 2 && N > 2 && timing.first_counted > 2 &&
                   timing.normal_counted > 2;
}

// -------------------------------------------------------------- reading

// Start gate lines up to "checkpoints:": 1 when that line ended them.
static int read_gate_lines(DataFile *f) {
  char line[1024], word[81];
  // The rest of the "startinggate:" line.
  if (!data_gets(f, line, sizeof line)) return 0;
  for (;;) {
    if (!data_gets(f, line, sizeof line)) return 0;
    size_t n = strlen(line);
    // A longer line is cut; its rest is not another line.
    if (n == sizeof line - 1 && line[n - 1] != '\n') {
      int c;
      while ((c = data_getc(f)) >= 0 && c != '\n') {
      }
    }
    if (sscanf(line, " %80s", word) != 1) continue;  // blank
    if (!strcmp(word, "checkpoints:")) return 1;
    float x, y, z, a;
    static char names[3][GATE_NAME_MAX];
    int got = sscanf(line, " [ %f %f %f ] %f %1023s %1023s %1023s", &x, &y, &z, &a, names[0],
                     names[1], names[2]);
    if (got < 4) return 0;
    // Past the table's size further gates are dropped, but the search for
    // the checkpoints goes on.
    if (timing.gate_count >= MAX_START_GATES) continue;
    const char *model = got > 4 ? names[0] : DEFAULT_GATE_MODEL;
    const char *texture = got > 5 ? names[1] : DEFAULT_GATE_TEXTURE;
    const char *shape = got > 6 ? names[2] : DEFAULT_GATE_SHAPE;
    int k = timing_add_gate(x, y, z, a, model, texture, shape);
    if (k < 0) return 0;  // not finite: a malformed line
    StartGate &g = timing.gates[k];
    if (g.model[0] || g.texture[0] || g.shape[0]) {
      double s = sin(double(g.angle)), c = cos(double(g.angle));
      g.statue = statue_create(float(g.x - 3 * s), g.y, float(g.z - 3 * c), g.angle,
                               g.model[0] ? g.model : nullptr, g.texture[0] ? g.texture : nullptr,
                               g.shape[0] ? g.shape : nullptr);
    }
  }
}

static void read_entries(DataFile *f, int normal) {
  int v;
  while ((normal ? timing.normal_count : timing.first_count) < MAX_LAP_ENTRIES &&
         data_scanf(f, "%d", &v) == 1)
    timing_add_entry(normal, v);
}

// Whether a number begins here (after white space). A word must stay whole
// for the next section: "%f" would eat the "no" of "normallap:" looking
// for "nan".
static int number_follows(DataFile *f) {
  data_scanf(f, " ");
  int c = data_peekc(f);
  return (c >= '0' && c <= '9') || c == '-' || c == '+' || c == '.';
}

static int next_word(DataFile *f, char word[81]) {
  word[0] = 0;
  return data_scanf(f, " %80s", word) == 1;
}

int timing_gates_parse(DataFile *f) {
  timing_clear();
  if (!f) return 0;
  char word[81];
  next_word(f, word);
  if (!strcmp(word, "startinggate:")) {
    // A malformed gate line is consumed; the next section has to begin on
    // it, so the checkpoints are not read then.
    word[0] = 0;
    if (read_gate_lines(f)) strcpy(word, "checkpoints:");
  }
  if (!strcmp(word, "checkpoints:")) {
    float v[7];
    while (timing.checkpoint_count < MAX_CHECKPOINTS && number_follows(f) &&
           data_scanf(f, "%f [ %f %f %f ] [ %f %f %f ] ", &v[0], &v[1], &v[2], &v[3], &v[4], &v[5],
                      &v[6]) == 7)
      if (timing_add_checkpoint(v[0], v[1], v[2], v[3], v[4], v[5], v[6]) < 0) break;
    word[0] = 0;
  }
  if (!word[0]) next_word(f, word);
  if (!strcmp(word, "firstlap:")) {
    read_entries(f, 0);
    next_word(f, word);
  }
  if (!strcmp(word, "normallap:")) read_entries(f, 1);
  timing_settle();
  return 1;
}

int read_timing_gates(const char *path) {
  timing_clear();
  DataFile *f = path ? data_open(path, "rb") : nullptr;
  if (!f) return 0;
  timing_gates_parse(f);
  data_close(f);
  if (timing.enabled && log_verbosity >= 1)
    log_printf("Found %d timing gates, first lap has %d gates, normal lap has %d\n",
               timing.checkpoint_count, timing.first_count, timing.normal_count);
  return 1;
}

// -------------------------------------------------------------- writing

static void append(std::string &s, const char *format, ...) __attribute__((format(printf, 2, 3)));
static void append(std::string &s, const char *format, ...) {
  char buf[3 * GATE_NAME_MAX + 64];
  va_list ap;
  va_start(ap, format);
  int n = vsnprintf(buf, sizeof buf, format, ap);
  va_end(ap);
  if (n > 0) s.append(buf, size_t(std::min(n, int(sizeof buf) - 1)));
}

static const char *name_or_null(const char *name) { return name[0] ? name : "null"; }

static std::string timing_text() {
  std::string s;
  if (timing.gate_count > 0) {
    s += "startinggate:\n";
    for (int i = 0; i < timing.gate_count; i++) {
      const StartGate &g = timing.gates[i];
      append(s, "[%f %f %f] %f", double(g.x), double(g.y), double(g.z), double(g.angle));
      if (!strcmp(g.model, DEFAULT_GATE_MODEL) && !strcmp(g.texture, DEFAULT_GATE_TEXTURE) &&
          !strcmp(g.shape, DEFAULT_GATE_SHAPE))
        s += "\n";
      else  // "null" for none: a gate without a statue reads back as one
        append(s, " %s %s %s\n", name_or_null(g.model), name_or_null(g.texture),
               name_or_null(g.shape));
    }
  }
  // Checkpoints whenever there are any, so a half-built course keeps them;
  // and the word alone before lap lists, which would read as a gate line.
  const int F = timing.first_count, N = timing.normal_count;
  if (timing.checkpoint_count > 0 || F > 0 || N > 0) {
    s += "checkpoints:\n";
    for (int i = 0; i < timing.checkpoint_count; i++) {
      const Checkpoint &c = timing.checkpoints[i];
      append(s, "%f [%f %f %f] [%f %f %f]\n", double(c.radius), double(c.x), double(c.y),
             double(c.z), double(c.dx), double(c.dy), double(c.dz));
    }
    s += "\n";
  }
  if (F > 0) {
    s += "firstlap:\n";
    for (int i = 0; i < F; i++) append(s, "%d ", timing.entries[i]);
    s += "\n";
  }
  if (N > 0) {
    s += "normallap:\n";
    for (int i = 0; i < N; i++) append(s, "%d ", timing.entries[F + i]);
    s += "\n";
  }
  return s;
}

int format_timing_gates(char *out, int size) {
  std::string s = timing_text();
  if (!out || size <= 0 || s.size() >= size_t(size)) return -1;
  memcpy(out, s.c_str(), s.size() + 1);
  return int(s.size());
}

int write_timing_gates(const char *folder) {
  std::string name = std::string(folder ? folder : "") + "/timing_gates";
  DataFile *f = data_create(name.c_str());
  if (!f) {
    add_message("Can't open 'timing_gates'\n");
    return 0;
  }
  std::string s = timing_text();
  data_write(f, s.data(), int(s.size()));
  if (!data_commit(f)) {
    add_message("Can't open 'timing_gates'\n");
    return 0;
  }
  return 1;
}

// ------------------------------------------------------------- crossing

int timing_checkpoint_for(int index) {
  if (!timing.enabled || index < 0) return -1;
  const int F = timing.first_count, N = timing.normal_count;
  int e = index < F ? timing.entries[index] : timing.entries[F + (index - F) % N];
  return e >= UNCOUNTED_ENTRY ? e - UNCOUNTED_ENTRY : e;
}

int timing_is_lap_line(int index) {
  if (!timing.enabled) return 0;
  const int F = timing.first_count, N = timing.normal_count;
  return index >= F - 1 && (index - F + 1) % N == 0;
}

int timing_lap_line(int lap) {
  if (!timing.enabled || lap < 1) return -1;
  return timing.first_count + timing.normal_count * (lap - 1) - 1;
}

static int time_at(const RiderTiming &t, int index) {
  return index >= 0 && index < int(t.crossing_times.size()) ? t.crossing_times[index] : -1;
}

// The rider crossed index i now: progress moves to i + 1 (back as well as
// on), the entries between keep -1 for skipped.
static void take(int slot, int i, int now) {
  RiderTiming &t = rider_timing[slot];
  if (i < t.progress && int(t.crossing_times.size()) > i) t.crossing_times.resize(size_t(i));
  if (int(t.crossing_times.size()) <= i) t.crossing_times.resize(size_t(i) + 1, -1);
  t.crossing_times[size_t(i)] = now;
  t.progress = i + 1;
  const int F = timing.first_count, N = timing.normal_count;
  if (t.progress >= F && (t.progress - F) % N == 0) race_lap_completed(slot);
}

void timing_cross(int slot, float x, float z, int now) {
  if (!timing.enabled || slot < 0 || slot >= RIDER_SLOTS) return;
  RiderTiming &t = rider_timing[slot];
  if (t.finished) return;
  // Two entries back (never the one just crossed), this one and two on.
  static const int offsets[] = {-3, -2, 0, 1, 2};
  int gap = 0;
  for (int j : offsets) {
    int i = t.progress + j;
    if (i < 0) continue;
    int known = time_at(t, i) != -1;
    if (!known) gap = 1;
    const Checkpoint &c = timing.checkpoints[timing_checkpoint_for(i)];
    double ox = double(x) - c.x, oz = double(z) - c.z;
    double r = c.radius;
    int at = ox * ox + oz * oz <= r * r && ox * c.dx + oz * c.dz >= 0;
    if (at) {
      // Back through a checkpoint only to mend a gap: riding round in a
      // circle must not gain anything.
      if (j >= 0 || gap) {
        take(slot, i, now);
        return;
      }
      gap = 0;
      continue;
    }
    // Nothing beyond a lap line not yet crossed.
    if (!known && timing_is_lap_line(i)) return;
  }
}

void update_rider_timing(Rider *r) {
  if (!r || !r->in_use || !r->body[FRAME]) return;
  const dReal *p = dBodyGetPosition(r->body[FRAME]);
  timing_cross(r->slot, float(p[0]), float(p[2]), physics.now_tic);
}

void timing_rider_reset(int slot) {
  if (slot < 0 || slot >= RIDER_SLOTS) return;
  rider_timing[slot].progress = 0;
  rider_timing[slot].crossing_times.clear();
  rider_timing[slot].finished = 0;
}

void timing_set_progress(int slot, int q) {
  if (slot < 0 || slot >= RIDER_SLOTS) return;
  RiderTiming &t = rider_timing[slot];
  if (q < 0) q = 0;
  if (q < t.progress) t.finished = 0;
  if (int(t.crossing_times.size()) > q) t.crossing_times.resize(size_t(q));
  t.progress = q;
}

// --------------------------------------------------------- running order

void update_running_order() {
  int n = 0;
  for (int s = 0; s < RIDER_SLOTS; s++) {
    if (!rider_in_slot(s)) continue;
    const RiderTiming &t = rider_timing[s];
    int last = t.progress > 0 ? time_at(t, t.progress - 1) : 0;
    running_entries[n++] = RunningEntry{s, t.progress, last < 0 ? 0 : last};
  }
  std::sort(running_entries, running_entries + n, [](const RunningEntry &a, const RunningEntry &b) {
    if (a.progress != b.progress) return a.progress > b.progress;
    if (a.last_tic != b.last_tic) return a.last_tic < b.last_tic;
    return a.slot < b.slot;
  });
  for (int k = 0; k < n; k++) running_order[k] = running_entries[k].slot;
  running_count = n;
}

void timing_mark_down(int connected) {
  for (int c = 0; c < MAX_CHECKPOINTS; c++) timing.checkpoints[c].down = 0;
  if (!timing.enabled) return;
  for (int k = 0; k < running_count; k++) {
    int slot = running_order[k];
    const Rider *r = rider_in_slot(slot);
    if (!r || r->crash_timer <= 0 || rider_finished(slot)) continue;
    // On a server the others' crashes are the server's to report.
    if (connected && rider_roles[slot] == ROLE_REPLAYED) continue;
    int c = timing_checkpoint_for(rider_timing[slot].progress);
    if (c >= 0) timing.checkpoints[c].down = 1;
  }
}

int timing_any_down(const int checkpoints[4]) {
  for (int k = 0; k < 4; k++) {
    int c = checkpoints[k];
    if (c >= 0 && c < timing.checkpoint_count && timing.checkpoints[c].down) return 1;
  }
  return 0;
}

int timing_realign_target(Rider *r, float out[3]) {
  if (!r || !timing.enabled || r->slot < 0 || r->slot >= RIDER_SLOTS) return 0;
  const RiderTiming &t = rider_timing[r->slot];
  if (t.progress < 1 || rider_finished(r->slot)) return 0;
  int c = timing_checkpoint_for(t.progress);
  if (c < 0) return 0;
  out[0] = timing.checkpoints[c].x;
  out[1] = timing.checkpoints[c].y;
  out[2] = timing.checkpoints[c].z;
  return 1;
}

// --------------------------------------------------------------- queries

int timing_next_checkpoint(int slot) {
  if (slot < 0 || slot >= RIDER_SLOTS) return -1;
  return timing_checkpoint_for(rider_timing[slot].progress);
}

int rider_completed_laps(int slot) {
  if (!timing.enabled || slot < 0 || slot >= RIDER_SLOTS) return 0;
  int p = rider_timing[slot].progress, F = timing.first_count;
  return p < F ? 0 : (p - F) / timing.normal_count + 1;
}

int rider_lap_position(int slot) {
  if (!timing.enabled || slot < 0 || slot >= RIDER_SLOTS) return 0;
  int p = rider_timing[slot].progress, F = timing.first_count;
  return p < F ? p : (p - F) % timing.normal_count + 1;
}

int rider_crossing_time(int slot, int index) {
  if (slot < 0 || slot >= RIDER_SLOTS) return -1;
  return time_at(rider_timing[slot], index);
}

int rider_lap_tics(int slot, int lap) {
  int end = timing_lap_line(lap);
  if (end < 0 || slot < 0 || slot >= RIDER_SLOTS || rider_timing[slot].progress <= end) return 0;
  int b = rider_crossing_time(slot, end);
  int a = lap == 1 ? race_drop_tic() : rider_crossing_time(slot, timing_lap_line(lap - 1));
  if (a < 0 || b < 0) return 0;
  return b - a;
}

double rider_lap_time(int slot, int lap) { return rider_lap_tics(slot, lap) * TIC_SECONDS; }
