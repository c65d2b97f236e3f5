// Timing gates and laps. (Minimal: no gates, no timing.)
#include "race/timing.h"

#include <cstring>

TimingGates timing;
RiderTiming rider_timing[RIDER_SLOTS];

int read_timing_gates(const char *) {
  timing_clear();
  return 0;
}
int write_timing_gates(const char *) { return 0; }
int format_timing_gates(char *out, int size) {
  if (size <= 0) return -1;
  out[0] = 0;
  return 0;
}
void timing_clear() { memset(static_cast<void *>(&timing), 0, sizeof timing); }
void update_rider_timing(Rider *) {}
void update_running_order() {}
void timing_rider_reset(int slot) {
  if (slot < 0 || slot >= RIDER_SLOTS) return;
  rider_timing[slot].progress = 0;
  rider_timing[slot].crossing_times.clear();
  rider_timing[slot].finished = 0;
}
void timing_set_progress(int, int) {}
void timing_mark_down() {}
int timing_checkpoint_for(int) { return -1; }
int timing_is_lap_line(int) { return 0; }
int timing_lap_line(int) { return -1; }
int rider_completed_laps(int) { return 0; }
int rider_lap_position(int) { return 0; }
int rider_crossing_time(int, int) { return -1; }
double rider_lap_time(int, int) { return 0; }
