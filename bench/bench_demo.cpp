// A demo replayed headless: its size per rider-minute and the replay's
// speed in rider-tics per second; then the same demo replayed again with a
// seek back and forward in the middle, which must end with the same
// results and the same ground.
// bench_demo FILE.twdemo [SEEK_SECONDS]: the seek goes back that far
// (default 20) from halfway through the demo and forward again.
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

#include "bench/bench_common.h"
#include "bike/bike.h"
#include "bike/physics.h"
#include "core/core.h"
#include "race/demo.h"
#include "race/race.h"
#include "terrain/deform.h"
#include "terrain/terrain.h"

static double now_s() {
  timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

static int erosion = 0;

struct Outcome {
  std::string results;  // order, laps, finished, time
  std::string digest;   // the ground once its queue is empty
  int riders = 0;
  long long tics = 0;
  int end_tic = 0;     // where the seek happens: half of it
  int last_block = 0;  // the tic of the demo's last block
  double seconds = 0;
};

static void dig(int now) {
  if (erosion > 0) erode_process(nullptr, float(erosion) / 1024, now);
}

static int replay(const char *file, double seek_back, Outcome *out) {
  char track[256];
  erosion = 0;
  if (!demo_open_playback(file, track, sizeof track)) {
    fprintf(stderr, "Can't replay \"%s\"\n", file);
    return 0;
  }
  track_menu_select(track);
  track_request_reload();  // the ground as the files have it, not as dug
  std::vector<int> none(RIDER_SLOTS, SLOT_EMPTY);
  if (!load_track(none.data(), 1, 0, 0, 1000, 0)) {
    fprintf(stderr, "The track did not load\n");
    return 0;
  }
  out->riders = demo_rider_count();
  int seek_at = -1;
  double t0 = now_s();
  const long long CAP = 128LL * 3600 * 3;
  for (long long n = 0; n < CAP && !demo_replay_over(); n++) {
    race_tic();
    out->tics++;
    if (race_now_tic() % 16 == 0) dig(race_now_tic());
    if (seek_back > 0 && seek_at < 0 && out->tics == out->end_tic / 2 && out->end_tic > 0) {
      seek_at = race_now_tic();
      demo_seek(-seek_back);
      demo_seek(seek_back);
    }
  }
  out->seconds = now_s() - t0;
  out->last_block = demo_replay_end_tic();
  if (!race_results_final()) race_give_up();
  char line[160];
  ResultRow row;
  for (int place = 0; race_result_row(place, &row); place++) {
    snprintf(line, sizeof line, "%d. slot %d: %d laps %d tics best %d%s\n", place + 1, row.slot,
             row.laps, row.tics, row.best_tics, row.finished ? "" : " (not finished)");
    out->results += line;
  }
  for (int guard = 0; erosion > 0 && erode_queue_length() > 0 && guard < 1000000; guard++)
    erode_process(nullptr, float(erosion) / 1024, race_now_tic());
  uint8_t d[20];
  ripemd160(terrain.heights, sizeof(float) * size_t(terrain.size) * size_t(terrain.size), d);
  for (uint8_t b : d) {
    snprintf(line, sizeof line, "%02x", b);
    out->digest += line;
  }
  if (seek_back > 0) printf("sought back %.0f s and forward at tic %d\n", seek_back, seek_at);
  demo_close();
  return 1;
}

int main(int argc, char **argv) {
  if (argc < 2) {
    fprintf(stderr, "usage: bench_demo FILE.twdemo [SEEK_SECONDS]\n");
    return 1;
  }
  const char *file = argv[1];
  double seek = argc > 2 ? atof(argv[2]) : 20;
  struct stat st;
  if (stat(file, &st) != 0) {
    fprintf(stderr, "No file \"%s\"\n", file);
    return 1;
  }
  setenv("TW_HOME", bench_build_folder().c_str(), 0);
  ui_hooks.message = bench_quiet;
  ui_hooks.progress = bench_quiet_progress;
  demo_hooks.erosion = [] { return erosion; };
  demo_hooks.set_erosion = [](int a) { erosion = a; };
  file_index_build();
  if (track_list_build() == 0 || !physics_init()) {
    fprintf(stderr, "No tracks or no physics (is the data generated?)\n");
    return 1;
  }
  setup_defaults(&rider_setup);
  race_set_seed(1, 1);
  Outcome plain;
  if (!replay(file, 0, &plain)) return 1;
  // The demo covers the race up to its last block.
  double minutes = plain.last_block / double(TICS_PER_SECOND) / 60;
  printf("%d riders, %.2f minutes of race, %lld bytes\n", plain.riders, minutes,
         (long long)st.st_size);
  if (plain.riders > 0 && minutes > 0)
    printf("size: %.1f KB per rider-minute\n", st.st_size / 1024.0 / plain.riders / minutes);
  printf("replay: %.0f rider-tics per second, %.1f times real time\n",
         plain.riders * plain.tics / plain.seconds,
         plain.tics / double(TICS_PER_SECOND) / plain.seconds);
  printf("results:\n%sground %s\n", plain.results.c_str(), plain.digest.c_str());
  int status = 0;
  if (seek > 0) {
    Outcome sought;
    sought.end_tic = int(plain.tics);
    if (!replay(file, seek, &sought)) return 1;
    bool same = sought.results == plain.results && sought.digest == plain.digest;
    printf("after seeking: %s\n", same ? "same results and ground" : "DIFFERENT");
    if (!same) printf("results:\n%sground %s\n", sought.results.c_str(), sought.digest.c_str());
    status = same ? 0 : 2;
  }
  free_track();
  physics_shutdown();
  track_list_free();
  file_index_free();
  return status;
}
