// The track's scenery files ("flaggers", "billboards", "statues",
// "cameras"; the first byte picks one, the rest is its text): whatever is
// read stays within the tables, every position and orientation is finite
// and every index names an entry that exists.
#include <cmath>
#include <cstdint>
#include <cstdlib>

#include "core/core.h"
#include "race/scenery.h"
#include "race/track.h"

static void quiet(const char *) {}

static void finite(const float *v, int n) {
  for (int i = 0; i < n; i++)
    if (!std::isfinite(v[i])) abort();
}

static void billboard_index(int b) {
  if (b < -1 || b >= billboard_count) abort();
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 1 || size > (1 << 20)) return 0;
  ui_hooks.message = quiet;
  track_tables_clear();
  DataFile *f = data_open_memory(data + 1, int(size - 1), 0);
  if (!f) return 0;
  switch (data[0] & 3) {
    case 0: flaggers_read(f); break;
    case 1: billboards_read(f); break;
    case 2: statues_read(f); break;
    default: cameras_read(f); break;
  }
  data_close(f);

  if (billboard_count < 0 || billboard_count > MAX_BILLBOARDS) abort();
  for (int i = 0; i < billboard_count; i++) {
    const Billboard &b = billboards[i];
    const float v[] = {b.x, b.y, b.z, b.height, b.y_offset, b.width_ratio};
    finite(v, 6);
  }
  if (statue_count < 0 || statue_count > MAX_STATUES) abort();
  for (int i = 0; i < statue_count; i++) {
    const Statue &s = statues[i];
    const float v[] = {s.x, s.y, s.z, s.y_offset, s.angle};
    finite(v, 5);
    finite(s.orientation, 9);
  }
  billboard_index(starter.billboard);
  billboard_index(finish_flagger.billboard);
  if (flagger_count < 0 || flagger_count > MAX_FLAGGERS) abort();
  for (int i = 0; i < flagger_count; i++) {
    if (flaggers[i].billboard < 0) abort();
    billboard_index(flaggers[i].billboard);
  }
  if (track_camera_count < 0 || track_camera_count > MAX_TRACK_CAMERAS) abort();
  for (int i = 0; i < track_camera_count; i++) {
    const TrackCamera &c = track_cameras[i];
    const float v[] = {c.x, c.y, c.z, c.fov, c.auto_fov_size};
    finite(v, 5);
  }
  for (int g : gate_camera)
    if (g < -1 || g > track_camera_count) abort();

  scenery_free();
  track_tables_clear();
  return 0;
}
