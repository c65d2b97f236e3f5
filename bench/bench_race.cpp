// The race tic, phase by phase: a full grid on the default track from the
// start through the gate drop, with the time each phase of the tic takes.
// bench_race [RIDERS] [SECONDS]: the riders (robots) default to 40, the
// race time to 20 s.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

#include "bike/bike.h"
#include "bike/physics.h"
#include "core/core.h"
#include "bench/bench_common.h"
#include "race/race.h"
#include "terrain/terrain.h"


static double now_us() {
  timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return double(t.tv_sec) * 1e6 + double(t.tv_nsec) / 1e3;
}

int main(int argc, char **argv) {
  int riders = argc > 1 ? atoi(argv[1]) : 40;
  double seconds = argc > 2 ? atof(argv[2]) : 20;
  if (riders < 1 || riders > 40 || !(seconds > 0 && seconds < 3600)) {
    fprintf(stderr, "usage: bench_race [RIDERS 1..40] [SECONDS]\n");
    return 1;
  }
  setenv("TW_HOME", bench_build_folder().c_str(), 0);
  ui_hooks.message = bench_quiet;
  ui_hooks.progress = bench_quiet_progress;
  file_index_build();
  const char *track = "tracks/hollow_creek";
  if (track_list_build() == 0 || !track_find(track)) {
    fprintf(stderr, "No track named \"%s\" (is the data generated?)\n", track);
    return 1;
  }
  if (!physics_init()) return 1;
  setup_defaults(&rider_setup);
  race_set_seed(1, 1);
  track_menu_select(track);
  std::vector<int> slots(RIDER_SLOTS, SLOT_EMPTY);
  for (int i = 0; i < riders; i++) slots[size_t(i)] = SLOT_ROBOT;
  if (!load_track(slots.data(), 0, 0, 0, 3, 0)) {
    fprintf(stderr, "The track did not load\n");
    return 1;
  }
  int tics = int(seconds * TICS_PER_SECOND);
  double spent[RACE_PHASE_COUNT] = {};
  for (int t = 0; t < tics; t++)
    for (int p = 0; p < RACE_PHASE_COUNT; p++) {
      double t0 = now_us();
      RACE_PHASES[p].run();
      spent[p] += now_us() - t0;
    }
  double total = 0;
  for (double s : spent) total += s;
  printf("%d riders, %d tics (drop at tic %d)\n", riders, tics, race_drop_tic());
  for (int p = 0; p < RACE_PHASE_COUNT; p++)
    printf("  %-22s %9.2f us/tic\n", RACE_PHASES[p].name, spent[p] / tics);
  printf("  %-22s %9.2f us/tic\n", "race tic", total / tics);
  free_track();
  physics_shutdown();
  track_list_free();
  file_index_free();
  return 0;
}
