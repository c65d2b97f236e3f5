// Robots racing: 1, 10 and 40 robots on a track with its generated expert
// lines, in the full race tic (driving, picking, timing, recording), and
// the rider-tics per second of processor time of each grid.
// bench_race_robots [TRACK] [SECONDS] [--skill N] [--grid N] [--slot K]...
// [--trace] [--every S] [--phases] [--seed N]: the track defaults to
// tracks/hollow_creek, the race time to 20 s from the drop; --grid runs one
// grid size only; each --slot puts a robot on grid place K (gate K mod
// gates, row K / gates) and only those race; --trace prints every robot's
// state every 10 s (--every S: every S seconds) and the laps at the end;
// --phases times each phase of the tic on its own; --seed draws another
// race (reactions, roster), 1 by default. Each grid ends with the
// world hash, so that a change meant to be only faster can show it rode
// the same race.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "bench/bench_common.h"
#include "bike/bike.h"
#include "bike/rider.h"
#include "bike/robot.h"
#include "core/core.h"
#include "race/race.h"
#include "race/timing.h"
#include "race/world_hash.h"
#include "terrain/terrain.h"

static double now_us() {
  timespec t;
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return double(t.tv_sec) * 1e6 + double(t.tv_nsec) / 1e3;
}

static void trace() {
  for (int s = 0; s < RIDER_SLOTS; s++) {
    Rider *r = rider_in_slot(s);
    if (!r) continue;
    const RobotState &st = robot_states[s];
    const dReal *p = dBodyGetPosition(r->body[FRAME]);
    printf("  slot %2d progress %3d taken %3d next %3d/%3zu recovery %d speed %5.1f crashes %d "
           "at %.0f %.0f\n",
           s, rider_timing[s].progress, st.lines_taken, st.next, st.followed.size(), st.recovery,
           double(rider_speed(r)), r->crash_count, p[0], p[2]);
  }
}

// With --phases the robots' own work is timed too, through the hooks the
// race calls it by: what driving, picking and recording add to a rider-tic.
static void (*inner_drive)(Rider *) = nullptr;
static void (*inner_record)(Rider *) = nullptr;
static double drive_us = 0, record_us = 0;
static long drive_calls = 0, record_calls = 0;
// What reading the clock twice adds to each timed call (a system call on
// some machines), taken off the figures.
static double clock_pair_us() {
  double sum = 0;
  for (int i = 0; i < 2000; i++) {
    double a = now_us();
    sum += now_us() - a;
  }
  return sum / 2000;
}
static void timed_drive(Rider *r) {
  double t0 = now_us();
  inner_drive(r);
  drive_us += now_us() - t0;
  drive_calls++;
}
static void timed_record(Rider *r) {
  double t0 = now_us();
  inner_record(r);
  record_us += now_us() - t0;
  record_calls++;
}

// The robots of --slot when there are any, else `riders` of them.
static std::vector<int> places;

static int race(const char *track, int riders, double seconds, int skill, double every,
                int phases) {
  std::vector<int> slots(RIDER_SLOTS, SLOT_EMPTY);
  riders = places.empty() ? riders : int(places.size());
  for (int k : places) slots[size_t(k)] = SLOT_ROBOT;
  if (places.empty())
    for (int i = 0; i < riders; i++) slots[size_t(i)] = SLOT_ROBOT;
  const int tracing = every > 0, period = tracing ? std::max(1, int(every * TICS_PER_SECOND)) : 0;
  track_menu_select(track);
  // What the last grid learned stays out of the player's home folder.
  lines.loaded = lines.learned = 0;
  if (!load_track(slots.data(), 0, 0, 0, 3, skill)) {
    fprintf(stderr, "The track did not load\n");
    return 0;
  }
  // Up to the drop untimed: the robots wait at the gate.
  while (race_now_tic() < race_drop_tic()) race_tic();
  int tics = int(seconds * TICS_PER_SECOND);
  double spent[RACE_PHASE_COUNT] = {};
  if (phases && physics_hooks.robot_drive != timed_drive) {
    inner_drive = physics_hooks.robot_drive;
    inner_record = physics_hooks.line_record;
    physics_hooks.robot_drive = timed_drive;
    physics_hooks.line_record = timed_record;
  }
  drive_us = record_us = 0;
  drive_calls = record_calls = 0;
  double t0 = now_us();
  for (int t = 0; t < tics; t++) {
    if (phases)
      for (int p = 0; p < RACE_PHASE_COUNT; p++) {
        double p0 = now_us();
        RACE_PHASES[p].run();
        spent[p] += now_us() - p0;
      }
    else
      race_tic();
    if (tracing && t % period == 0) {
      printf(" %g s:\n", double(t) / TICS_PER_SECOND);
      trace();
    }
  }
  double us = now_us() - t0;
  char hash[41];
  world_hash_text(hash);
  printf("%2d robots: %d tics, %.0f rider-tics per second (world %.12s)\n", riders, tics,
         double(riders) * tics / (us / 1e6), hash);
  if (phases)
    for (int p = 0; p < RACE_PHASE_COUNT; p++)
      printf("  %-22s %9.2f us/tic\n", RACE_PHASES[p].name, spent[p] / tics);
  if (phases) {
    // Each timed call carries one clock pair.
    double pair = clock_pair_us(), rider_tics = double(tics) * riders;
    printf("  of which the robots' driving (picking included) %.2f and line recording %.2f "
           "us/rider-tic (less %.2f us for the clock)\n",
           (drive_us - pair * double(drive_calls)) / rider_tics,
           (record_us - pair * double(record_calls)) / rider_tics, pair);
  }
  if (tracing) {
    for (int s = 0; s < RIDER_SLOTS; s++) {
      if (!rider_in_slot(s)) continue;
      int best = 0;
      int lap = rider_best_lap(s, &best);
      printf("  slot %2d laps %d best lap %d %.3f s first lap %.3f s\n", s, rider_completed_laps(s),
             lap, best / 128.0, rider_lap_time(s, 1));
    }
  }
  return 1;
}

int main(int argc, char **argv) {
  const char *track = "tracks/hollow_creek";
  double seconds = 20;
  int skill = 2, grid = 0, bad_slot = 0, phases = 0, positional = 0;
  long seed = 1;
  double every = 0;
  for (int i = 1; i < argc; i++) {
    if (!strcmp(argv[i], "--skill") && i + 1 < argc) skill = atoi(argv[++i]);
    else if (!strcmp(argv[i], "--grid") && i + 1 < argc) grid = atoi(argv[++i]);
    else if (!strcmp(argv[i], "--slot") && i + 1 < argc) {
      int k = atoi(argv[++i]);
      if (k < 0 || k >= RIDER_SLOTS) bad_slot = 1;
      else if (std::find(places.begin(), places.end(), k) == places.end()) places.push_back(k);
    }
    else if (!strcmp(argv[i], "--trace")) every = every > 0 ? every : 10;
    else if (!strcmp(argv[i], "--every") && i + 1 < argc) every = atof(argv[++i]);
    else if (!strcmp(argv[i], "--phases")) phases = 1;
    else if (!strcmp(argv[i], "--seed") && i + 1 < argc) seed = atol(argv[++i]);
    else if (positional == 0 && ++positional) track = argv[i];
    else if (positional == 1 && ++positional) seconds = atof(argv[i]);
  }
  if (!(seconds > 0 && seconds < 36000) || skill < 0 || skill > 2 || grid < 0 || grid > 40 ||
      bad_slot || !(every >= 0 && every < 36000) || seed < 0 || seed > 0xffffffffL) {
    fprintf(stderr, "usage: bench_race_robots [TRACK] [SECONDS] [--skill 0..2] [--grid 1..40] "
                    "[--slot 0..%d] [--trace] [--every SECONDS] [--phases] [--seed N]\n",
            RIDER_SLOTS - 1);
    return 1;
  }
  setenv("TW_HOME", bench_build_folder().c_str(), 0);
  ui_hooks.message = bench_quiet;
  ui_hooks.progress = bench_quiet_progress;
  file_index_build();
  if (track_list_build() == 0 || !track_find(track)) {
    fprintf(stderr, "No track named \"%s\" (is the data generated?)\n", track);
    return 1;
  }
  if (!physics_init()) return 1;
  setup_defaults(&rider_setup);
  race_set_seed(1, uint32_t(seed));
  int ok = 1;
  if (grid || !places.empty()) ok = race(track, grid, seconds, skill, every, phases);
  else
    for (int n : {1, 10, 40}) ok = ok && race(track, n, seconds, skill, every, phases);
  free_track();
  physics_shutdown();
  track_list_free();
  file_index_free();
  return ok ? 0 : 1;
}
