// The race session: the race tic and its phases, the start (gates, false
// start), the race length, the finish, cutting penalties, the results and
// their file, the time trial's laps.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <vector>

#include "bike/engine_sound.h"
#include "bike/rider.h"
#include "core/core.h"
#include "core/log.h"
#include "race/demo.h"
#include "race/race.h"
#include "race/race_internal.h"
#include "race/scenery.h"
#include "race/series.h"
#include "race/timing.h"
#include "race/track.h"
#include "terrain/deform.h"

int rider_roles[RIDER_SLOTS];
int running_order[RIDER_SLOTS];
int running_count = 0;
int lineup[RIDER_SLOTS];
int results_order[RIDER_SLOTS];
int results_count = 0;

RaceState race;
RaceHooks race_hooks;

namespace {

// The results order with each entry's penalised progress and tic.
RunningEntry results_entries[RIDER_SLOTS];

int backup_aborts = 1;  // the Time Trial menu's choice

const int OPEN_LENGTH = 1000000;          // total and halfway laps not yet known
const int FALSE_START_HOLD = 15 * TICS_PER_SECOND;
const double FALSE_START_DISTANCE2 = 9;   // 3 ft from where the rider stood
const float GATE_FALL_ACCELERATION = 32;  // per second squared
const float GATE_FALL_SPEED_MAX = 8;
const float GATE_TILT = 0.5890486225480862f;  // 3 pi / 16: raised
const double NO_REFERENCE_TICS = 60 * TICS_PER_SECOND;
const int CUT_ALLOWANCE = TICS_PER_SECOND;  // a second's grace on every cut
const int QUIET_TICS = 60 * TICS_PER_SECOND;  // a finished race nobody rides on

int connected() { return race_hooks.connected && race_hooks.connected(); }

// A server's spectator has a rider of its own that only watches.
int local_spectator() { return server_race.active && server_race.start_position == RIDER_SLOTS; }

int local_slot() {
  for (int s = 0; s < RIDER_SLOTS; s++)
    if (rider_roles[s] == ROLE_LOCAL && rider_in_slot(s)) return s;
  return NO_SLOT;
}

int leader() { return running_count > 0 ? running_order[0] : NO_SLOT; }

int time_at(int slot, int index) { return rider_crossing_time(slot, index); }

// ------------------------------------------------------------- race length

// A timed race learns its length once the time has run out: race_laps laps
// after the first lap the leader completed after that.
void update_race_length() {
  int limit = race.race_time_limit;
  if (limit == 0 || !timing.enabled) return;
  int now = physics.now_tic, drop = physics.drop_tic;
  int lead = leader();
  int lead_laps = lead == NO_SLOT ? 0 : rider_completed_laps(lead);
  if (now >= drop + limit / 2 && race.halfway_lap == OPEN_LENGTH) race.halfway_lap = lead_laps + 1;
  if (now < drop + limit) return;
  int f = std::clamp(lead_laps - 1, 1, std::max(race.total_laps, 1));
  for (;;) {
    int line = timing_lap_line(f);
    if (line < 0) return;
    int h = -1;
    for (int k = 0; k < running_count; k++) {
      int t = time_at(running_order[k], line);
      if (t >= 0 && (h < 0 || t < h)) h = t;
    }
    if (h < 0) return;
    if (h >= drop + limit) {
      race.total_laps = std::min(race.total_laps, race.race_laps + f);
      return;
    }
    race.total_laps = std::max(race.total_laps, race.race_laps + f + 1);
    f++;
  }
}

// The final lap line, the sequence index whose crossing ends the race.
int final_lap_line() { return timing_lap_line(race.total_laps); }

// ------------------------------------------------------------ penalties

// How long a rider took from entry `from` (-1: the race clock's start) to
// entry `to`, covered without a skip: tics, or -1.
int stretch_tics(int slot, int from, int to) {
  for (int i = std::max(from, 0); i <= to; i++)
    if (time_at(slot, i) < 0) return -1;
  return time_at(slot, to) - (from < 0 ? 0 : time_at(slot, from));
}

// What one rider needed for the stretch from entry `from` to entry `to`:
// its own crossings inside the first lap, else the average over every lap
// it completed of the same stretch of the normal lap. -1 when none.
double reference_of(int slot, int from, int to) {
  const int F = timing.first_count, N = timing.normal_count;
  if (to < F) return stretch_tics(slot, from, to);
  int laps = rider_completed_laps(slot);
  if (laps < 2) return -1;
  int end = timing_lap_line(laps);  // the last index of the completed laps
  int span = to - from;
  int first = F + (to - F) % N;  // the stretch's end in the first normal lap
  double sum = 0;
  int count = 0;
  for (int j = first; j <= end; j += N) {
    int t = stretch_tics(slot, j - span, j);
    if (j - span < 0 || t < 0) continue;
    sum += t;
    count++;
  }
  return count ? sum / count : -1;
}

// The time a stretch takes: the average over the riders who covered it.
double reference_tics(int from, int to) {
  int spectator = connected() && local_spectator();
  double sum = 0;
  int count = 0;
  for (int k = 0; k < running_count; k++) {
    int s = running_order[k];
    if (spectator && rider_roles[s] == ROLE_LOCAL) continue;
    double t = reference_of(s, from, to);
    if (t < 0) continue;
    sum += t;
    count++;
  }
  return count ? sum / count : NO_REFERENCE_TICS;
}

// ---------------------------------------------------------------- results

void build_results() {
  const int F = timing.first_count, N = timing.normal_count;
  int n = 0;
  for (int k = 0; k < running_count; k++) {
    RunningEntry e = running_entries[k];
    double p = rider_penalty_tics(e.slot);
    int best = 0;
    rider_best_lap(e.slot, &best);
    // Each whole best lap of penalty costs a lap; what is left is time.
    // Without a best lap it is all time.
    if (best > 0)
      while (p > best && e.progress > F && N > 0) {
        e.progress -= N;
        p -= best;
      }
    e.last_tic += int(p);
    results_entries[n++] = e;
  }
  std::stable_sort(results_entries, results_entries + n,
                   [](const RunningEntry &a, const RunningEntry &b) {
                     if (a.progress != b.progress) return a.progress > b.progress;
                     if (a.last_tic != b.last_tic) return a.last_tic < b.last_tic;
                     return a.slot < b.slot;
                   });
  for (int k = 0; k < n; k++) results_order[k] = results_entries[k].slot;
  results_count = n;
}

int laps_of_progress(int p) {
  const int F = timing.first_count, N = timing.normal_count;
  if (!timing.enabled || p < F) return 0;
  return (p - F) / N + 1;
}

// m:ss.mmm of a tic count.
void clock_parts(int tics, int *m, int *s, int *ms) {
  int64_t total = tics < 0 ? 0 : int64_t(tics) * 1000 / TICS_PER_SECOND;
  *m = int(total / 60000);
  *s = int(total / 1000 % 60);
  *ms = int(total % 1000);
}

void write_results_file() {
  DataFile *f = data_create("@results.txt");
  if (!f) {
    log_printf("Can't create results.txt\n");
    return;
  }
  const int drop = physics.drop_tic;
  data_printf(f, "Time=%.2f|Laps=%d|Track=%s|Date=%ld\r\n", race.race_time_limit * TIC_SECONDS,
              race.race_laps, track_loaded_folder(), long(time(nullptr)));
  data_printf(f, "%4s | %12s | %4s | %10s | %4s | %10s\r\n", "No.", "Bike", "Laps", "Total Time",
              "BLap", "Best Time");
  for (int k = 0; k < results_count; k++) {
    const RunningEntry &e = results_entries[k];
    const Rider *r = rider_in_slot(e.slot);
    if (!r || !rider_finished(e.slot)) continue;
    int m, s, ms, bm, bs, bms, best = 0;
    clock_parts(e.last_tic - drop, &m, &s, &ms);
    int blap = rider_best_lap(e.slot, &best);
    clock_parts(best, &bm, &bs, &bms);
    const BikeModel *model = rider_model(r);
    data_printf(f, "%4s | %12s | %4d | %3d:%02d.%03d | ", r->number, model ? model->name : "",
                laps_of_progress(e.progress), m, s, ms);
    data_printf(f, "%4d | %3d:%02d.%03d\r\n", blap, bm, bs, bms);
  }
  const int F = timing.first_count, N = timing.normal_count;
  for (int k = 0; k < results_count; k++) {
    int slot = results_entries[k].slot;
    if (!rider_in_slot(slot) || !rider_finished(slot)) continue;
    int p = rider_timing[slot].progress;
    data_printf(f, "\r\n%d\r\n", p);
    for (int i = 0; i < p; i++) {
      int t = time_at(slot, i);
      if (t < 0) data_printf(f, "%8d", -1);
      else data_printf(f, "%8.3f", (t - drop) * TIC_SECONDS);
      // Each lap's group on a line: the first lap, then every normal lap.
      bool lap_end = i == F - 1 || (i >= F && (i - F + 1) % N == 0) || i == p - 1;
      data_puts(f, lap_end ? "\r\n" : " ");
    }
  }
  if (!data_commit(f)) log_printf("Can't write results.txt\n");
}

// Whether a rider not finished keeps the results open.
int still_racing(int slot) {
  int role = rider_roles[slot];
  if (!connected()) {
    if (role == ROLE_LOCAL || role == ROLE_ROBOT) return 1;
    // A replayed rider counts while its history still moves it.
    int now = physics.now_tic;
    return demo_history_has_pose(slot, now) &&
           now - demo_history_newest_tic(slot) < 10 * TICS_PER_SECOND;
  }
  if (role == ROLE_LOCAL)
    return !local_spectator();
  return race_hooks.server_update_age && race_hooks.server_update_age(slot) < 1.0;
}

void make_final() {
  build_results();
  if (results_count > 0 && rider_finished(results_order[0])) write_results_file();
  race.results_final = 1;
  series_finish_event();
  if (race_hooks.results_final) race_hooks.results_final();
}

// ----------------------------------------------------------- start rules

void hold_rider(Rider *r) {
  TicCommand c = rider_current_command(r);
  c.front_brake = 1;
  c.rear_brake = 1;
  c.back_up = 0;
  c.clutch = 0;
  c.throttle = 0;
  c.sit_dab = 1;
  rider_apply_command(r, c);
}

// On a server: whoever leaves the line before the drop is held until 15 s
// after it.
void start_rules(Rider *r) {
  if (race.start_hold > 0) {
    race.start_hold--;
    hold_rider(r);
    return;
  }
  if (physics.now_tic > physics.drop_tic) return;
  TicCommand c = rider_current_command(r);
  c.sit_dab = 1;
  rider_apply_command(r, c);
  const dReal *p = dBodyGetPosition(r->body[FRAME]);
  double d2 = 0;
  for (int k = 0; k < 3; k++) d2 += (p[k] - race.start_point[k]) * (p[k] - race.start_point[k]);
  if (d2 >= FALSE_START_DISTANCE2) {
    race.start_hold = physics.drop_tic + FALSE_START_HOLD - physics.now_tic;
    add_message("15 second false start penalty");
  }
}

// ---------------------------------------------------------------- phases

int replay_tic() { return std::max(physics.now_tic - race.replay_delay, 0); }

// 1. The track script's tic handler.
void phase_script_tic() {
  if (race_hooks.script_tic) race_hooks.script_tic(replay_tic());
}

// 2. Riders replayed from histories (demos, the server, ghosts) posed.
void phase_pose_replayed() { demo_pose_replayed(replay_tic()); }

// 3. Every simulated rider against the ground and obstacles, then the
// riders against each other.
void phase_contacts() { physics_contacts(); }

// 4. The wheel samples for roost and ruts, then the world step.
void phase_step() {
  physics_wheel_samples();
  physics_step();
}

// 5. Each rider in slot order: the robots' driving, the server's start
// rules, a replayed rider's weight, the rider update, the crossing test,
// then the line recording, which sees this tic's crossing.
void phase_riders() {
  int online = connected();
  for (int s = 0; s < RIDER_SLOTS; s++) {
    Rider *r = rider_in_slot(s);
    if (!r) continue;
    int role = rider_roles[s];
    if (role == ROLE_ROBOT && physics_hooks.robot_drive) physics_hooks.robot_drive(r);
    if (online && role == ROLE_LOCAL) start_rules(r);
    rider_weight_countdown(r);
    if (rider_updated_here(r)) rider_update(r);
    if (!online || role == ROLE_LOCAL) update_rider_timing(r);
    if (r->simulated && physics_hooks.line_record) physics_hooks.line_record(r);
  }
}

// 6. Roost particles.
void phase_roost() { roost_update(); }

// 7. The start gates: up until the drop, then each falls unless a rider
// leans on it (or the script poses it).
void phase_start_gates() {
  int up = physics.now_tic <= physics.drop_tic + race.replay_delay;
  for (int g = 0; g < timing.gate_count; g++) {
    StartGate &gate = timing.gates[g];
    const Statue *st =
        gate.statue >= 0 && gate.statue < statue_count ? &statues[gate.statue] : nullptr;
    if (st && st->posed_tic == physics.now_tic) {
      // The script's pose stands for this tic.
      gate.fall_speed = 0;
      if (up) gate.fall = 1;
      continue;
    }
    if (up) {
      gate.fall = 1;
      gate.fall_speed = 0;
    } else if (!st || st->contact_tic != physics.now_tic) {
      gate.fall_speed = std::min(gate.fall_speed + GATE_FALL_ACCELERATION * float(TIC_SECONDS),
                                 GATE_FALL_SPEED_MAX);
      gate.fall = std::max(gate.fall - gate.fall_speed * float(TIC_SECONDS), 0.0f);
    }
    statue_tilt(gate.statue, gate.fall * GATE_TILT);
  }
}

// 8. The race clock.
void phase_clock() {
  int old = physics.now_tic++;
  if (connected() && old % 512 == 510 && !race.results_final) update_results();
}

// 9. Demo recording and replay input.
void phase_demo() {
  demo_record_tic();
  demo_read_tic();
}

// 10. The time trial's laps: each lap is timed from lap line to lap line;
// the line just crossed starts the next one.
void phase_time_trial_laps() {
  if (!race.practice_mode) return;
  int slot = local_slot();
  if (slot == NO_SLOT) return;
  int laps = rider_completed_laps(slot);
  if (laps == race.trial_laps_seen) return;
  const int F = timing.first_count, N = timing.normal_count;
  // The ghost beat the lap when it crossed as many entries as the player.
  int ghost_progress = demo_ghost_progress();
  int player_progress = rider_timing[slot].progress;
  demo_stop_ghost();
  int valid = 0, tics = 0;
  if (timing.enabled) {
    valid = 1;
    for (int i = F - 1; i <= F + N - 1; i++)
      if (time_at(slot, i) < 0) valid = 0;
    if (valid) {
      tics = time_at(slot, F + N - 1) - time_at(slot, F - 1);
      race.last_lap = tics;
      race.best_lap = race.best_lap ? std::min(race.best_lap, tics) : tics;
    } else {
      race.last_lap = 0;
    }
  }
  // The lap just ridden is finished before it may become the fast lap.
  int recorded = demo_recording();
  demo_finish_recording();
  if (recorded && (!demo_fast_lap_exists() || (valid && ghost_progress < player_progress)))
    demo_keep_fast_lap();
  demo_start_ghost();
  int lap = race.trial_laps_seen > 0 || valid ? ++race.trial_laps : 0;
  timing_set_progress(slot, F - 1);
  update_rider_timing(rider_in_slot(slot));
  race.trial_laps_seen = rider_completed_laps(slot);
  demo_start_recording();
  update_results();
  if (race_hooks.time_trial_lap) race_hooks.time_trial_lap(lap, tics, valid);
}

}  // namespace

const RacePhase RACE_PHASES[RACE_PHASE_COUNT] = {
    {"script tic", phase_script_tic},
    {"pose replayed riders", phase_pose_replayed},
    {"contacts", phase_contacts},
    {"step", phase_step},
    {"riders", phase_riders},
    {"roost", phase_roost},
    {"start gates", phase_start_gates},
    {"clock", phase_clock},
    {"demo", phase_demo},
    {"time trial laps", phase_time_trial_laps},
};

void race_tic() {
  if (!track_loaded()) return;
  for (const RacePhase &p : RACE_PHASES) p.run();
}

// ------------------------------------------------------------- interface
int race_now_tic() { return physics.now_tic; }
int race_drop_tic() { return physics.drop_tic; }
int race_first_followed() { return race.first_followed; }

void track_menu_select(const char *name) {
  snprintf(race.selected_track, sizeof race.selected_track, "%s", name ? name : "");
}
const char *track_menu_selected() { return race.selected_track; }
int track_loaded() { return race.loaded_folder[0] != 0; }
const char *track_loaded_folder() { return race.loaded_folder; }

int race_results_final() { return race.results_final; }
int race_has_laps() { return timing.enabled; }

int race_leader_finished() {
  int lead = leader();
  return timing.enabled && lead != NO_SLOT && rider_completed_laps(lead) >= race.total_laps;
}

// The last crossing of any rider.
static int last_crossing_tic() {
  int last = 0;
  for (int s = 0; s < RIDER_SLOTS; s++) {
    int p = rider_in_slot(s) ? rider_timing[s].progress : 0;
    if (p > 0) last = std::max(last, time_at(s, p - 1));
  }
  return last;
}

int race_over() {
  if (!track_loaded()) return 0;
  if (race.practice_mode) return race.trial_laps >= 1;
  if (race.results_final) return 1;
  return race_leader_finished() && physics.now_tic - last_crossing_tic() >= QUIET_TICS;
}

void race_give_up() {
  // A time trial has laps but no results.
  if (!track_loaded() || race.results_final || race.practice_mode) return;
  update_running_order();
  update_race_length();
  make_final();
}

void time_trial_set_backup_aborts(int on) { backup_aborts = on; }

void time_trial_abort_rule(float throttle, float back_up) {
  if (!track_loaded() || !race.practice_mode) return;
  if (throttle > 0.5f) race.flying_start_back = 2;
  int held = back_up > 0.5f;
  int pressed = held && !race.backup_held;
  race.backup_held = held;
  if (backup_aborts && pressed) {
    time_trial_restart();
    race.flying_start_back++;
  }
}

void rotate_lineup(int places) {
  const int GATES = 40;
  int k = ((places % GATES) + GATES) % GATES;
  if (k == 0) return;
  int copy[GATES];
  memcpy(copy, lineup, sizeof copy);
  for (int i = 0; i < GATES; i++) lineup[(i + k) % GATES] = copy[i];
}

void update_results() {
  update_running_order();
  update_race_length();
  for (int k = 0; k < running_count; k++) {
    int s = running_order[k];
    if (!rider_finished(s) && still_racing(s)) return;
  }
  make_final();
}

void race_lap_completed(int slot) {
  if (!timing.enabled || slot < 0 || slot >= RIDER_SLOTS) return;
  // The race's length first: the lap that ends a timed race is this one.
  update_running_order();
  update_race_length();
  RiderTiming &t = rider_timing[slot];
  int lead = leader();
  int laps = rider_completed_laps(slot);
  if (laps >= race.total_laps ||
      (lead != NO_SLOT && rider_timing[lead].progress > final_lap_line()))
    t.finished = 1;
  // A time trial's laps are its own (phase 10).
  if (race_hooks.lap_completed && !race.practice_mode)
    race_hooks.lap_completed(slot, laps, rider_lap_tics(slot, laps));
  if (!race.results_final) update_results();
}

void race_length_text(char *out, int size) {
  if (size <= 0) return;
  int minutes = int(race.race_time_limit * TIC_SECONDS / 60 + 0.5);
  if (race.race_time_limit == 0) snprintf(out, size_t(size), "%d laps", race.race_laps);
  else if (race.race_laps == 0) snprintf(out, size_t(size), "%d minutes", minutes);
  else snprintf(out, size_t(size), "%d minutes + %d laps", minutes, race.race_laps);
}

void time_trial_restart() {
  demo_stop_ghost();
  demo_finish_recording();
  int slot = local_slot();
  for (int s = 0; s < RIDER_SLOTS; s++) {
    if (s == slot) continue;
    engine_sound_free(s);
    if (Rider *r = rider_in_slot(s)) destroy_rider(r);
  }
  race.last_lap = 0;
  race.trial_laps = race.trial_laps_seen = 0;
  Rider *r = rider_in_slot(slot);
  const int F = timing.first_count, N = timing.normal_count;
  // Without timing there is no lap line to run up to: the rider stays
  // where it was placed.
  if (r && timing.enabled && N > 0) {
    int back = race.flying_start_back;
    int index = N < back ? F : F + ((N - back) % N + N) % N;
    const Checkpoint &c = timing.checkpoints[timing_checkpoint_for(index)];
    place_rider(r, c.x, c.z, float(atan2(-double(c.dx), -double(c.dz))));
    timing_set_progress(slot, F - 1);
    race.trial_laps_seen = rider_completed_laps(slot);
  }
  update_results();
}

int rider_finished(int slot) {
  if (!timing.enabled || slot < 0 || slot >= RIDER_SLOTS) return 0;
  if (rider_timing[slot].finished) return 1;
  // Once the leader is over the final lap line, everyone is finished at
  // their next lap line.
  int lead = leader(), line = final_lap_line();
  if (lead == NO_SLOT || line < 0 || rider_timing[lead].progress <= line) return 0;
  int c = time_at(lead, line);
  int laps = rider_completed_laps(slot);
  if (c < 0 || laps < 1) return 0;
  int own = time_at(slot, timing_lap_line(laps));
  return own >= 0 && own >= c;
}

int rider_best_lap(int slot, int *tics) {
  int best = 0, best_tics = 0;
  int laps = rider_completed_laps(slot);
  for (int n = 2; n <= laps; n++) {
    int t = rider_lap_tics(slot, n);
    if (t > 0 && (best_tics == 0 || t < best_tics)) {
      best = n;
      best_tics = t;
    }
  }
  if (tics) *tics = best_tics;
  return best;
}

double rider_penalty_tics(int slot) {
  if (!timing.enabled || slot < 0 || slot >= RIDER_SLOTS) return 0;
  int p = rider_timing[slot].progress;
  double penalty = 0;
  int before = -1, a = 0;  // the last crossed entry and its tic
  bool skipping = false;
  for (int j = 0; j < p; j++) {
    int t = time_at(slot, j);
    if (t < 0) {
      skipping = true;
      continue;
    }
    if (skipping) {
      double reference = reference_tics(before, j) + CUT_ALLOWANCE;
      double own = t - a;
      if (own < reference) penalty += reference - own;
      skipping = false;
    }
    before = j;
    a = t;
  }
  return penalty;
}

int race_result_row(int place, ResultRow *out) {
  int n = race.results_final ? results_count : running_count;
  if (place < 0 || place >= n) return 0;
  const RunningEntry &e = race.results_final ? results_entries[place] : running_entries[place];
  out->slot = e.slot;
  out->laps = laps_of_progress(e.progress);
  out->tics = e.last_tic - physics.drop_tic;
  out->finished = rider_finished(e.slot);
  out->best_lap = rider_best_lap(e.slot, &out->best_tics);
  return 1;
}
