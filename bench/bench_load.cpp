// Track loading: the time of a first load_track, of loading the same track
// again, and the peak resident memory with a grid of riders created.
// bench_load [TRACK] [RIDERS]: the track defaults to tracks/hollow_creek of
// the generated data beside the build, the riders (robots) to 40.
#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bike/bike.h"
#include "bike/physics.h"
#include "core/core.h"
#include "core/log.h"
#include "bench/bench_common.h"
#include "race/race.h"
#include "terrain/terrain.h"


static double load_seconds(const std::vector<int> &slots) {
  int64_t t0 = clock_ms();
  if (!load_track(slots.data(), 0, 0, 0, 3, 0)) {
    fprintf(stderr, "The track did not load\n");
    exit(1);
  }
  return double(clock_ms() - t0) / 1000;
}

int main(int argc, char **argv) {
  const char *track = argc > 1 ? argv[1] : "tracks/hollow_creek";
  int riders = argc > 2 ? atoi(argv[2]) : 40;
  if (riders < 1 || riders > RIDER_SLOTS) {
    fprintf(stderr, "usage: bench_load [TRACK] [RIDERS 1..%d]\n", RIDER_SLOTS);
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
  race_set_seed(1, 1);
  track_menu_select(track);

  std::vector<int> slots(RIDER_SLOTS, SLOT_EMPTY);
  for (int i = 0; i < riders; i++) slots[size_t(i)] = SLOT_ROBOT;
  double first = load_seconds(slots);
  double again = load_seconds(slots);
  int created = 0;
  for (int i = 0; i < RIDER_SLOTS; i++) created += rider_in_slot(i) != nullptr;
  rusage use;
  getrusage(RUSAGE_SELF, &use);
  printf("track %s, %d riders\n", track, created);
  printf("first load_track:       %7.3f s\n", first);
  printf("same-track reload:      %7.3f s\n", again);
  printf("peak resident memory:   %7.1f MB\n", double(use.ru_maxrss) / 1024);

  free_track();
  physics_shutdown();
  track_list_free();
  file_index_free();
  return 0;
}
