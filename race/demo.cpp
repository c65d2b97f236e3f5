// Demo recording and replay arrive with their own work; until then there is
// never a demo to replay.
#include "race/demo.h"

int demo_open_playback(const char *, char *track, int size) {
  if (track && size > 0) track[0] = 0;
  return 0;
}
int demo_playing() { return 0; }
void demo_seek(double) {}
void demo_close() {}
void demo_finish_recording() {}
int demo_rider_count() { return 0; }
const DemoRider *demo_rider(int) { return nullptr; }
void demo_history_reset() {}
void demo_start_recording() {}
void demo_write_first_block() {}
void demo_prime_replay() {}
void demo_pose_replayed(int) {}
void demo_record_tic() {}
void demo_read_tic() {}
int demo_history_has_pose(int, int) { return 0; }
int demo_history_newest_tic(int) { return -1; }
