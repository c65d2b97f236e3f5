// Demo files from anywhere: the header, the rider entries and every block
// read into the histories, which stay in tic order within their size.
#include <cstdint>
#include <cstdlib>

#include "bike/rider.h"
#include "core/core.h"
#include "race/demo.h"
#include "race/history.h"
#include "terrain/deform.h"

static void quiet(const char *) {}
static void quiet_progress(const char *, int) {}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  ui_hooks.message = quiet;
  ui_hooks.progress = quiet_progress;
  terrain.extent = 256;  // rut records are decoded against it
  erode_queue_clear();
  history_clear_all();
  physics.now_tic = 0;
  if (size > (1u << 20) || !demo_open_memory(data, int(size))) return 0;
  int slots[RIDER_SLOTS];
  for (int i = 0; i < RIDER_SLOTS; i++) slots[i] = i;
  demo_replay_start(slots, demo_rider_count());
  for (int step = 0; step < 4096 && demo_replay_end_tic() < 0; step++) {
    physics.now_tic += 16;
    demo_read_tic();
  }
  for (int s = 0; s < RIDER_SLOTS; s++) {
    const SlotHistory &h = histories[s];
    if (h.count < 0 || h.count > HISTORY_ENTRIES || h.unwritten > HISTORY_ENTRIES) abort();
    for (int i = 1; i < h.count; i++)
      if (h.entries[i].tic <= h.entries[i - 1].tic) abort();
    HistoryPose p;
    history_pose_at(s, physics.now_tic, 0, &p);
  }
  demo_close();
  return 0;
}
