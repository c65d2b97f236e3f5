// Racing lines: the tables, their file, costs, how lines join, the best
// laps through the tables, and the offer of a newly recorded segment.
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "bike/robot.h"
#include "core/core.h"
#include "core/log.h"

LineTables lines;

namespace {

const double PENALTY = 640;     // tics: 5 s
const double INF = 1e300;
const int SUM_CAP = 100000000;
const int COUNT_CAP = 65535;


void empty_line(RacingLine *l) {
  l->points.clear();
  l->points.shrink_to_fit();
  l->t1 = l->t2 = LINE_UNPROVEN;
  l->best1 = l->best2 = LINE_UNPROVEN;
  l->successes = l->failures = 0;
  l->sum1 = l->sum2 = 0;
  l->last_picked = 0;
  l->id = 0;
}

int table_count() { return int(lines.table.size()); }

int next_table(int t) { return t + 1 < table_count() ? t + 1 : lines.first; }

void invalidate_around(int t) {
  for (int u = 0; u < table_count(); u++)
    if (u == t || next_table(u) == t) lines.table[size_t(u)].connects_valid = 0;
}

double hdist2(const LinePoint &a, const LinePoint &b) {
  double dx = double(a.x) - b.x, dz = double(a.z) - b.z;
  return dx * dx + dz * dz;
}

}  // namespace

// ---------------------------------------------------------------- tables

const char *lines_file_name(int skill) {
  static const char *const names[3] = {"lines_novice", "lines_amateur", "lines_expert"};
  return names[skill < 0 ? 0 : (skill > 2 ? 2 : skill)];
}

void lines_prepare(int first, int normal) {
  lines.table.clear();
  lines.first = lines.normal = 0;
  lines.loaded = lines.learned = 0;
  if (first <= 0 || normal <= 0) return;
  lines.first = first;
  lines.normal = normal;
  lines.table.resize(size_t(first + normal));
  for (LineTable &t : lines.table) {
    for (RacingLine &l : t.line) empty_line(&l);
    memset(t.best_id, 0, sizeof t.best_id);
    memset(t.connects, 0, sizeof t.connects);
    t.connects_valid = 0;
  }
}

int line_table_of(int k) {
  if (table_count() == 0 || k < 0) return -1;
  return k < lines.first ? k : lines.first + (k - lines.first) % lines.normal;
}

RacingLine *line_by_id(int t, int id) {
  if (t < 0 || t >= table_count() || id <= 0) return nullptr;
  for (RacingLine &l : lines.table[size_t(t)].line)
    if (l.id == id && !l.points.empty()) return &l;
  return nullptr;
}

void line_rescale(RacingLine *l) {
  l->successes = std::max(l->successes, 0);
  l->failures = std::max(l->failures, 0);
  l->sum1 = std::max<int64_t>(l->sum1, 0);
  l->sum2 = std::max<int64_t>(l->sum2, 0);
  l->best1 = std::max(l->best1, 0);
  l->best2 = std::max(l->best2, 0);
  l->t1 = std::max(l->t1, 0);
  l->t2 = std::max(l->t2, 0);
  for (int i = 0; i < 17 && (l->sum2 > SUM_CAP || l->successes > COUNT_CAP ||
                             l->failures >= COUNT_CAP + 1);
       i++) {
    l->successes /= 2;
    l->failures /= 2;
    l->sum1 /= 2;
    l->sum2 /= 2;
  }
  l->successes = std::min(l->successes, COUNT_CAP);
  l->failures = std::min(l->failures, COUNT_CAP);
  l->sum1 = std::min<int64_t>(l->sum1, SUM_CAP);
  l->sum2 = std::min<int64_t>(l->sum2, SUM_CAP);
}

// ---------------------------------------------------------------- the file

namespace {

struct Reader {
  const char *p;
  const char *end;
};

void skip_space(Reader *r) {
  while (r->p < r->end && (*r->p == ' ' || *r->p == '\t' || *r->p == '\n' || *r->p == '\r' ||
                           *r->p == '\v' || *r->p == '\f'))
    r->p++;
}

int read_word(Reader *r, const char *word) {
  skip_space(r);
  size_t n = strlen(word);
  if (size_t(r->end - r->p) < n || memcmp(r->p, word, n) != 0) return 0;
  r->p += n;
  return 1;
}

int read_long(Reader *r, long long *out) {
  skip_space(r);
  const char *s = r->p;
  int neg = 0;
  if (s < r->end && (*s == '-' || *s == '+')) neg = *s++ == '-';
  int digits = 0;
  long long v = 0;
  while (s < r->end && *s >= '0' && *s <= '9') {
    if (++digits > 15) return 0;
    v = v * 10 + (*s++ - '0');
  }
  if (!digits) return 0;
  r->p = s;
  *out = neg ? -v : v;
  return 1;
}

int read_int(Reader *r, int *out) {
  long long v;
  if (!read_long(r, &v) || v < -2000000000LL || v > 2000000000LL) return 0;
  *out = int(v);
  return 1;
}

// The text is zero-terminated (the caller copies it), so strtod stops there.
int read_float(Reader *r, float *out) {
  skip_space(r);
  if (r->p >= r->end) return 0;
  char *e = nullptr;
  double v = strtod(r->p, &e);
  // The bound is checked on the stored float, so whatever was read writes
  // out as a number that reads back.
  if (e == r->p || e > r->end || !std::isfinite(v) || fabs(float(v)) > 1e30f) return 0;
  r->p = e;
  *out = float(v);
  return 1;
}

int parse_into(Reader *r, std::vector<LineTable> *tables) {
  int n;
  if (!read_word(r, "ct03") || !read_int(r, &n) || n != int(tables->size())) return 0;
  for (LineTable &t : *tables) {
    int count;
    if (!read_int(r, &count) || count < 0 || count > LINE_SLOTS) return 0;
    for (int i = 0; i < count; i++) {
      RacingLine &l = t.line[i];
      int points;
      long long sum1, sum2;
      if (!read_int(r, &points) || !read_int(r, &l.t1) || !read_int(r, &l.t2) ||
          !read_int(r, &l.successes) || !read_int(r, &l.best1) || !read_int(r, &l.best2) ||
          !read_long(r, &sum1) || !read_long(r, &sum2) || !read_int(r, &l.failures))
        return 0;
      // Every point takes ten characters at least: no count the text
      // cannot hold is believed.
      if (points < 1 || points > LINE_MAX_POINTS || points > (r->end - r->p) / 10) return 0;
      l.sum1 = sum1;
      l.sum2 = sum2;
      l.points.resize(size_t(points));
      for (LinePoint &q : l.points)
        if (!read_word(r, "[") || !read_float(r, &q.x) || !read_float(r, &q.y) ||
            !read_float(r, &q.z) || !read_word(r, "]") || !read_float(r, &q.speed) ||
            !read_float(r, &q.lean))
          return 0;
      line_rescale(&l);
    }
  }
  return 1;
}

}  // namespace

int lines_parse(const char *text, int length) {
  if (table_count() == 0 || !text || length < 0) return 0;
  std::vector<char> copy(text, text + length);
  copy.push_back(0);
  Reader r{copy.data(), copy.data() + length};
  std::vector<LineTable> parsed(lines.table.size());
  for (LineTable &t : parsed) {
    for (RacingLine &l : t.line) empty_line(&l);
    memset(t.best_id, 0, sizeof t.best_id);
    t.connects_valid = 0;
  }
  if (!parse_into(&r, &parsed)) return 0;
  for (LineTable &t : parsed)
    for (RacingLine &l : t.line)
      if (!l.points.empty()) l.id = ++lines.next_id;
  lines.table.swap(parsed);
  return 1;
}

void lines_format(std::vector<char> *out) {
  out->clear();
  char buf[160];
  auto put = [out](const char *s, int n) {
    if (n > 0) out->insert(out->end(), s, s + n);
  };
  put(buf, snprintf(buf, sizeof buf, "ct03 %d\n", table_count()));
  for (const LineTable &t : lines.table) {
    int count = 0;
    for (const RacingLine &l : t.line) count += !l.points.empty();
    put(buf, snprintf(buf, sizeof buf, "%d\n", count));
    for (const RacingLine &l : t.line) {
      if (l.points.empty()) continue;
      put(buf, snprintf(buf, sizeof buf, "%d %d %d %d %d %d %lld %lld %d\n", int(l.points.size()),
                        l.t1, l.t2, l.successes, l.best1, l.best2, (long long)l.sum1,
                        (long long)l.sum2, l.failures));
      for (const LinePoint &q : l.points)
        put(buf, snprintf(buf, sizeof buf, "[%f %f %f] %f %f\n", double(q.x), double(q.y),
                          double(q.z), double(q.speed), double(q.lean)));
    }
  }
}

int read_lines(const char *folder, int skill) {
  if (table_count() == 0) return 0;
  char name[512];
  snprintf(name, sizeof name, "@%s/%s", folder, lines_file_name(skill));
  int length = 0;
  char *text = file_to_string(name, &length);
  if (!text) return 0;
  int ok = lines_parse(text, length);
  mem_free(text);
  if (!ok) log_printf("Can't use the lines in '%s'\n", name);
  lines.loaded = ok;
  return ok;
}

int write_lines(const char *folder, int skill) {
  // A table that neither loaded nor learned would only overwrite what it
  // failed to read.
  if (table_count() == 0 || (!lines.loaded && !lines.learned)) return 0;
  char name[512];
  snprintf(name, sizeof name, "@%s/%s", folder, lines_file_name(skill));
  std::vector<char> text;
  lines_format(&text);
  DataFile *f = data_create(name);
  if (!f) {
    log_printf("Can't create '%s'\n", name);
    return 0;
  }
  data_write(f, text.data(), int(text.size()));
  if (!data_commit(f)) {
    log_printf("Can't write '%s'\n", name);
    return 0;
  }
  return 1;
}

// ---------------------------------------------------------------- costs

double line_cost(const RacingLine &l, int mode) {
  double s = l.successes, f = l.failures;
  switch (mode) {
    case 3: {
      if (s + f > 5 && 4 * s < f) return 100000;
      if (s == 0 && f == 0) return 0;
      unsigned v = unsigned(l.successes) + 4u * unsigned(l.failures);
      int bits = 0;
      while (v) {
        bits++;
        v >>= 1;
      }
      return 1000.0 * bits + 4000;
    }
    case 2:
      if (s <= 0) return LINE_UNPROVEN;
      f *= 4;
      break;
    case 1:
      if (s < 5) return LINE_UNPROVEN;
      f = f * 8 / 7;
      break;
    default:
      if (s < 5) return LINE_UNPROVEN;
  }
  return PENALTY * std::min(1.0, f / (s + f)) + double(l.sum2) / s;
}

// ---------------------------------------------------------------- geometry

// How a point lies against the curve through a, b and c (c the end): its
// distance from the curve's centre less the curve's radius, positive
// outwards; for a straight end the sideways offset. 0 when a, b and c do
// not make a curve (a stopped rider).
static int curve_offsets(const LinePoint &a, const LinePoint &b, const LinePoint &c,
                         const LinePoint &p, const LinePoint &q, double *dp, double *dq) {
  double ax = a.x, az = a.z, bx = b.x, bz = b.z, cx = c.x, cz = c.z;
  double ux = bx - ax, uz = bz - az, vx = cx - bx, vz = cz - bz;
  double lu = sqrt(ux * ux + uz * uz), lv = sqrt(vx * vx + vz * vz);
  if (lu < 1e-4 || lv < 1e-4) return 0;
  double cross = ux * vz - uz * vx;
  if (fabs(cross) <= 1e-6 * lu * lv) {
    // The straight line's limit of the circle.
    double nx = -vz / lv, nz = vx / lv;
    *dp = (p.x - cx) * nx + (p.z - cz) * nz;
    *dq = (q.x - cx) * nx + (q.z - cz) * nz;
    return 1;
  }
  double d = 2 * (ax * (bz - cz) + bx * (cz - az) + cx * (az - bz));
  double a2 = ax * ax + az * az, b2 = bx * bx + bz * bz, c2 = cx * cx + cz * cz;
  double ox = (a2 * (bz - cz) + b2 * (cz - az) + c2 * (az - bz)) / d;
  double oz = (a2 * (cx - bx) + b2 * (ax - cx) + c2 * (bx - ax)) / d;
  double rho = hypot(cx - ox, cz - oz);
  *dp = hypot(p.x - ox, p.z - oz) - rho;
  *dq = hypot(q.x - ox, q.z - oz) - rho;
  return 1;
}

int lines_connect(const RacingLine &a, const RacingLine &b) {
  size_t na = a.points.size(), nb = b.points.size();
  if (na < 3 || nb < 2) return 0;
  const LinePoint &end = a.points[na - 1];
  if (fabsf(end.speed) > fabsf(b.points[0].speed) + 15) return 0;
  double d0, d1;
  if (!curve_offsets(a.points[na - 3], a.points[na - 2], end, b.points[0], b.points[1], &d0, &d1))
    return hdist2(end, b.points[0]) <= 2.5 * 2.5;
  // Inside the circle the band stops at its centre: max(rho - 2.5, 0).
  return d0 >= -2.5 && d0 <= 2.5 && fabs(d1 - d0) <= 2;
}

int robot_line_match_offsets(const std::vector<LinePoint> &f, const RacingLine &l, double *d0,
                             double *d1) {
  size_t n = f.size();
  return curve_offsets(f[n - 3], f[n - 2], f[n - 1], l.points[0], l.points[1], d0, d1);
}

// ---------------------------------------------------------------- chains

static void build_connects(int t) {
  LineTable &a = lines.table[size_t(t)];
  if (a.connects_valid) return;
  const LineTable &b = lines.table[size_t(next_table(t))];
  for (int i = 0; i < LINE_SLOTS; i++) {
    uint64_t bits = 0;
    if (!a.line[i].points.empty())
      for (int j = 0; j < LINE_SLOTS; j++)
        if (!b.line[j].points.empty() && lines_connect(a.line[i], b.line[j])) bits |= 1ull << j;
    a.connects[i] = bits;
  }
  a.connects_valid = 1;
}

static int table_has_lines(int t) {
  for (const RacingLine &l : lines.table[size_t(t)].line)
    if (!l.points.empty()) return 1;
  return 0;
}

// Smallest chain totals through `depth` tables from t (INF: none); with
// `choice`, the line taken next from each.
static void chain_totals(int t, int depth, int mode, std::vector<std::vector<double>> *total,
                         std::vector<std::vector<int>> *choice, int end_id) {
  std::vector<int> ts(static_cast<size_t>(depth));
  ts[0] = t;
  for (int d = 1; d < depth; d++) ts[size_t(d)] = next_table(ts[size_t(d) - 1]);
  total->assign(size_t(depth), std::vector<double>(LINE_SLOTS, INF));
  if (choice) choice->assign(size_t(depth), std::vector<int>(LINE_SLOTS, -1));
  for (int d = depth - 1; d >= 0; d--) {
    int u = ts[size_t(d)];
    LineTable &tab = lines.table[size_t(u)];
    int last = d == depth - 1;
    if (!last) build_connects(u);
    int open_end = !last && !table_has_lines(ts[size_t(d) + 1]);
    std::vector<double> &row = (*total)[size_t(d)];
    for (int i = 0; i < LINE_SLOTS; i++) {
      const RacingLine &l = tab.line[i];
      if (l.points.empty()) continue;
      double c = line_cost(l, mode);
      if (last) {
        // A chain may have to end in a given line of the next table.
        if (end_id > 0) {
          const RacingLine *e = line_by_id(next_table(u), end_id);
          if (e && !lines_connect(l, *e)) continue;
        }
        row[i] = c;
        continue;
      }
      if (open_end) {
        row[i] = c;
        continue;
      }
      double best = INF;
      int pick = -1;
      const std::vector<double> &next = (*total)[size_t(d) + 1];
      for (int j = 0; j < LINE_SLOTS; j++)
        if ((tab.connects[i] >> j & 1) && next[size_t(j)] < best) {
          best = next[size_t(j)];
          pick = j;
        }
      if (pick >= 0) {
        row[i] = c + best;
        if (choice) (*choice)[size_t(d)][size_t(i)] = pick;
      }
    }
  }
}

void line_scores(int t, int mode, float out[LINE_SLOTS]) {
  for (int i = 0; i < LINE_SLOTS; i++) out[i] = 1;
  if (t < 0 || t >= table_count()) return;
  std::vector<std::vector<double>> total;
  chain_totals(t, 8, mode, &total, nullptr, 0);
  double best = INF;
  for (double v : total[0]) best = std::min(best, v);
  for (int i = 0; i < LINE_SLOTS; i++) {
    double v = total[0][size_t(i)];
    // No chain, or a total of nothing: no information.
    if (v >= INF || v <= 0) continue;
    out[i] = float(best / v);
  }
}

void analyze_lines() {
  for (LineTable &t : lines.table) memset(t.best_id, 0, sizeof t.best_id);
  if (table_count() == 0) return;
  const int F = lines.first, N = lines.normal;
  for (int mode = 0; mode < 3; mode++) {
    double laps[2] = {0, 0};
    int start_id = 0;
    for (int pass = 1; pass >= 0; pass--) {
      // The normal lap first; the first lap must end in its best line.
      int t0 = pass ? F : 0, depth = pass ? N : F;
      std::vector<std::vector<double>> total;
      std::vector<std::vector<int>> choice;
      chain_totals(t0, depth, mode, &total, &choice, pass ? 0 : start_id);
      int i = -1;
      double best = INF;
      for (int j = 0; j < LINE_SLOTS; j++)
        if (total[0][size_t(j)] < best) best = total[0][size_t(j)], i = j;
      laps[pass] = best < INF ? best : 0;
      for (int d = 0; d < depth && i >= 0; d++) {
        LineTable &tab = lines.table[size_t(t0 + d)];
        const RacingLine &l = tab.line[i];
        tab.best_id[mode] = l.successes >= 5 ? l.id : 0;
        if (pass && d == 0) start_id = l.id;
        i = choice[size_t(d)][size_t(i)];
      }
    }
    if (log_verbosity >= 1) {
      log_printf("First lap: %f\n", laps[0] / 128);
      log_printf("Normal lap: %f\n", laps[1] / 128);
    }
  }
}

// ---------------------------------------------------------------- learning

static double slot_cost(const RacingLine &l) {
  if (l.successes <= 0) return l.t2 * 5.0 / 4 + (l.failures > 0 ? PENALTY : 0);
  double s = l.successes, f = l.failures;
  return PENALTY * f / (s + f) + double(l.sum2) / s;
}

int line_evict_choice(int t) {
  const LineTable &tab = lines.table[size_t(t)];
  double cost[LINE_SLOTS];
  int proven = 0;
  for (int i = 0; i < LINE_SLOTS; i++) {
    const RacingLine &l = tab.line[i];
    cost[i] = slot_cost(l);
    int alone = 1;
    for (int j = 0; j < LINE_SLOTS && alone; j++)
      if (j != i && !tab.line[j].points.empty() && !l.points.empty() &&
          hdist2(l.points[0], tab.line[j].points[0]) <= 4)
        alone = 0;
    if (alone) cost[i] *= 0.75;
    proven += l.failures < l.successes;
  }
  int pick = -1;
  for (int i = 0; i < LINE_SLOTS; i++) {
    const RacingLine &l = tab.line[i];
    if (proven <= 22 && l.failures < l.successes) continue;
    if (pick < 0 || cost[i] > cost[pick]) pick = i;
  }
  return pick < 0 ? 0 : pick;
}

int line_offer(int t, const std::vector<LinePoint> &points, int t1, int t2) {
  if (t < 0 || t >= table_count() || points.empty()) return -1;
  LineTable &tab = lines.table[size_t(t)];
  int verbose = log_verbosity >= 1;
  for (const RacingLine &l : tab.line) {
    if (l.points.size() != points.size()) continue;
    int same = 1;
    for (size_t k = 0; k < points.size() && same; k++) {
      const LinePoint &a = l.points[k], &b = points[k];
      double dy = double(a.y) - b.y;
      same = hdist2(a, b) + dy * dy <= 1.0 / 256 && fabsf(a.speed - b.speed) <= 0.0625f;
    }
    if (same) {
      if (verbose) log_printf("auto pilot: %d rejected (duplicate)\n", t);
      return -1;
    }
  }
  int slot = -1;
  for (int i = 0; i < LINE_SLOTS && slot < 0; i++)
    if (tab.line[i].points.empty()) slot = i;
  if (slot < 0) slot = line_evict_choice(t);
  RacingLine &old = tab.line[slot];
  if (slot_cost(old) < t2 * 5.0 / 4) {
    if (verbose) log_printf("auto pilot: %d rejected (too slow)\n", t);
    return -1;
  }
  if (verbose && !old.points.empty()) {
    double s = old.successes;
    log_printf("auto pilot: evicting %d (times: %.2f %.2f tested (%d %d): %.2f %.2f repl: %f %f)\n",
               slot, old.t1 / 128.0, old.t2 / 128.0, old.successes, old.failures,
               s > 0 ? double(old.sum1) / s / 128 : 0.0, s > 0 ? double(old.sum2) / s / 128 : 0.0,
               t1 / 128.0, t2 / 128.0);
  }
  empty_line(&old);
  old.points = points;
  old.t1 = t1;
  old.t2 = t2;
  old.id = ++lines.next_id;
  lines.learned = 1;
  invalidate_around(t);
  return slot;
}

// ---------------------------------------------------------------- the race

void robot_lines_save(int) {
  // The tables belong to the skill they were read for, whatever the
  // caller's setting says now.
  if (lines.folder[0]) write_lines(lines.folder, lines.skill);
}

void robot_lines_free() {
  lines.table.clear();
  lines.table.shrink_to_fit();
  lines.first = lines.normal = 0;
  lines.loaded = lines.learned = 0;
  lines.folder[0] = 0;
}

void robot_lines_clear() { lines_prepare(lines.first, lines.normal); }

int robot_lines_load(const char *folder, int skill) {
  int f = 0, n = 0;
  if (robot_race.counted_lengths) robot_race.counted_lengths(&f, &n);
  lines_prepare(f, n);
  snprintf(lines.folder, sizeof lines.folder, "%s", folder ? folder : "");
  lines.skill = skill;
  if (!folder || table_count() == 0) return 0;
  return read_lines(folder, skill);
}

void robot_lines_analyze() { analyze_lines(); }
