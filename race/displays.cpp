#include "race/displays.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "bike/rider.h"
#include "race/race.h"
#include "race/race_internal.h"
#include "race/timing.h"
#include "race/track.h"

const char *const OVERLAY_HEADS[6] = {"Pos.", "No.", "Lap", "Gap", "Best Time", "BLap"};

const char *display_number(int slot) {
  static char fallback[16];
  if (Rider *r = rider_in_slot(slot))
    if (r->number[0]) return r->number;
  snprintf(fallback, sizeof fallback, "%d", slot + 1);
  return fallback;
}

static int crossing(int slot, int index) {
  if (slot < 0 || slot >= RIDER_SLOTS || index < 0) return -1;
  const RiderTiming &t = rider_timing[slot];
  if (index >= int(t.crossing_times.size()) || index >= t.progress) return -1;
  return t.crossing_times[size_t(index)];
}

int race_gap_tics(int slot, int other) {
  if (running_count < 2 || slot == other) return 0;
  int p = rider_timing[slot].progress, q = rider_timing[other].progress;
  int index = (p < q ? p : q) - 1;
  int a = crossing(slot, index), b = crossing(other, index);
  if (a < 0 || b < 0) return 0;
  return b - a;
}

// m:ss.mmm
static void clock_text(char *out, int size, int tics) {
  int64_t ms = tics < 0 ? 0 : int64_t(tics) * 1000 / TICS_PER_SECOND;
  snprintf(out, size_t(size), "%d:%02d.%03d", int(ms / 60000), int(ms / 1000 % 60), int(ms % 1000));
}

// m:ss.t
static void clock_tenths(char *out, int size, double seconds) {
  if (seconds < 0) seconds = 0;
  int64_t tenths = int64_t(seconds * 10);
  snprintf(out, size_t(size), "%d:%02d.%d", int(tenths / 600), int(tenths / 10 % 60), int(tenths % 10));
}

void results_overlay(int followed, ResultsOverlay *out) {
  memset(out, 0, sizeof *out);
  int final_ = race.results_final;
  ResultRow first;
  if (!race_result_row(0, &first) || !first.finished) return;
  out->shown = 1;
  out->final_results = final_;
  snprintf(out->title, sizeof out->title, "%s", final_ ? "Final Results" : "Unofficial Results");
  int prev = -1;
  ResultRow row;
  for (int k = 0; race_result_row(k, &row); k++) {
    if (!final_ && !row.finished) continue;
    OverlayRow &o = out->rows[out->row_count++];
    o.slot = row.slot;
    o.followed = row.slot == followed;
    snprintf(o.pos, sizeof o.pos, "%d", k + 1);
    snprintf(o.number, sizeof o.number, "%3s", display_number(row.slot));
    snprintf(o.lap, sizeof o.lap, "L%d", row.laps);
    // Seconds behind the rider one place ahead.
    int gap = prev < 0 ? 0 : -race_gap_tics(row.slot, prev);
    snprintf(o.gap, sizeof o.gap, "%7.3f", gap / double(TICS_PER_SECOND));
    clock_text(o.best, sizeof o.best, row.best_tics);
    snprintf(o.blap, sizeof o.blap, "(%d)", row.best_lap);
    prev = row.slot;
  }
  if (!final_) return;
  char t[24];
  clock_text(t, sizeof t, first.tics);
  snprintf(out->total, sizeof out->total, "Total Race Time: %s", t);
  for (int k = 0; race_result_row(k, &row); k++) {
    int slot = row.slot;
    int own = rider_timing[slot].progress;
    int last = own > 0 ? crossing(slot, own - 1) : -1;
    int entry = row.tics + race_drop_tic();
    if (last < 0 || entry <= last) continue;
    char *line = out->penalties[out->penalty_count++];
    int n = snprintf(line, 96, "%3s penalized ", display_number(slot));
    int taken = rider_completed_laps(slot) - row.laps;
    if (taken > 0) n += snprintf(line + n, size_t(96 - n), "%d %s ", taken, taken == 1 ? "lap" : "laps");
    snprintf(line + n, size_t(96 - n), "%.2f seconds for cutting track",
             (entry - last) / double(TICS_PER_SECOND));
  }
}

static int running_place(int slot) {
  for (int k = 0; k < running_count; k++)
    if (running_order[k] == slot) return k;
  return -1;
}

void timing_display(int slot, TimingDisplay *out) {
  memset(out, 0, sizeof *out);
  if (slot < 0 || slot >= RIDER_SLOTS) return;
  snprintf(out->number, sizeof out->number, "%s", display_number(slot));
  int k = running_place(slot);
  int completed = rider_completed_laps(slot);
  if (race.practice_mode) snprintf(out->place, sizeof out->place, "P%d", k + 1);
  else snprintf(out->place, sizeof out->place, "L%d P%d", completed + 1, k + 1);
  int other = k > 0 ? running_order[k - 1] : running_count > 1 && k == 0 ? running_order[1] : -1;
  if (other >= 0) {
    int p = rider_timing[slot].progress, q = rider_timing[other].progress;
    int index = (p < q ? p : q) - 1;
    int a = crossing(slot, index), b = crossing(other, index);
    if (a >= 0 && b >= 0) snprintf(out->gap, sizeof out->gap, "%+.1f ", (b - a) / double(TICS_PER_SECOND));
  }
  char t[24];
  if (race.practice_mode) {
    if (race.last_lap > 0) {
      clock_tenths(t, sizeof t, race.last_lap * TIC_SECONDS);
      snprintf(out->last, sizeof out->last, "Last - %s ", t);
    }
    if (race.best_lap > 0) {
      clock_tenths(t, sizeof t, race.best_lap * TIC_SECONDS);
      snprintf(out->best, sizeof out->best, "Best - %s", t);
    }
  } else {
    if (completed >= 2) {
      clock_tenths(t, sizeof t, rider_lap_time(slot, completed));
      snprintf(out->last, sizeof out->last, "Last - %s ", t);
    }
    int best_tics = 0;
    if (rider_best_lap(slot, &best_tics) > 0) {
      clock_tenths(t, sizeof t, best_tics * TIC_SECONDS);
      snprintf(out->best, sizeof out->best, "Best - %s", t);
    }
  }
  // Riders about to lap this one: a lap or more ahead and over this
  // rider's last checkpoint less than 3 s after it.
  int N = timing.normal_count, p = rider_timing[slot].progress;
  int mine = crossing(slot, p - 1);
  if (N <= 0 || mine < 0 || race_now_tic() - mine > 15 * TICS_PER_SECOND) return;
  int n = 0;
  for (int j = 0; j < k; j++) {
    int s = running_order[j];
    int q = rider_timing[s].progress;
    for (int index = p - 1 + N; index < q; index += N) {
      int theirs = crossing(s, index);
      if (theirs < mine) continue;
      if (theirs - mine < 3 * TICS_PER_SECOND)
        n += snprintf(out->lapping + n, sizeof out->lapping - size_t(n), " %.5s (%.1f) ", display_number(s),
                      (theirs - mine) / double(TICS_PER_SECOND));
      break;
    }
    if (n >= int(sizeof out->lapping) - 1) break;
  }
}

int info_lines(const InfoSwitches &on, const InfoValues &v, char *out, int size) {
  int n = 0;
  auto add = [&](const char *fmt, auto... args) {
    if (n >= size - 1) return;
    n += snprintf(out + n, size_t(size - n), fmt, args...);
    if (n >= size) n = size - 1;
  };
  out[0] = 0;
  if (on.fps) add("FPS - %d\n", int(v.fps + 0.5));
  if (on.time) {
    char t[24];
    clock_tenths(t, sizeof t, (race_now_tic() - race_drop_tic()) * TIC_SECONDS);
    add("Time - %s \n", t);
  }
  if (on.ping && v.connected) add("Ping - %dms (%dms offset)\n", v.ping_ms, v.offset_ms);
  if (on.speed) add("Speed - %.2f\n", v.speed * 0.6818182);
  if (v.dabbing) add("Dabbing!\n");
  if (on.render_stats) {
    static const char *const names[6] = {"Ground polygons", "Model polygons", "Billboards",
                                         "Decals", "Texture Changes", "Shader Changes"};
    for (int i = 0; i < 6; i++) add("%s - %d max=%d\n", names[i], v.stats[i], v.stats_max[i]);
    add("Erode buffered - %d\n", v.erode_buffered);
  }
  return n;
}

void starter_state(double t, float position[3], int *texture) {
  const Starter &s = starter;
  double ref = s.reference_tic * TIC_SECONDS;
  double walk = s.walk_seconds;
  double since = t - 1 - ref;
  // A walk of no length puts the starter at B at once.
  double w = walk > 0 ? since / walk : since >= 0 ? 1 : 0;
  w = w < 0 ? 0 : w > 1 ? 1 : w;
  for (int i = 0; i < 3; i++) position[i] = float(s.a[i] + (s.b[i] - s.a[i]) * w);
  int tex = 4;
  if (t < ref + 0.1) tex = 0;
  else if (t < ref + 0.4) tex = 1;
  else if (t < ref + 1) tex = 2;
  else if (t < ref + 1 + (walk > 0 ? walk : 0)) tex = 3;
  *texture = tex;
}

int finish_flagger_texture() {
  if (running_count <= 0 || !timing.enabled) return 0;
  const int F = timing.first_count, N = timing.normal_count;
  if (N <= 0) return 0;
  int lead = running_order[0];
  int p = rider_timing[lead].progress;
  // Counted one entry early: the lap whose line is the leader's next entry.
  int Q = p >= F - 1 ? (p - F + 1) / N + 1 : 0;
  int total = race.total_laps;
  int now = race_now_tic(), drop = race_drop_tic();
  if (race.race_time_limit > 0 && timing_is_lap_line(p) && now - drop >= race.race_time_limit) {
    int t = Q + race.race_laps;
    total = t < total ? t : total;
  }
  if (Q >= total) return 3;
  if (Q + 1 == total) return 2;
  if (Q == race.halfway_lap) return 1;
  return 0;
}

int lap_counter(char *text, int size, int *box) {
  if (running_count <= 0 || !timing.enabled) return 0;
  int lead = running_order[0];
  int lap = rider_completed_laps(lead) + 1;
  int total = race.total_laps;
  if (rider_finished(lead) || lap > total) {
    *box = 2;
    lap = total;
  } else {
    *box = lap == total ? 1 : 0;
  }
  snprintf(text, size_t(size), "Lap %d", lap);
  return 1;
}
