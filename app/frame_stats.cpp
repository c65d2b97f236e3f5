// Frame statistics for the frame benchmark: with TW_FRAME_STATS naming a
// file, every drawn frame appends one line of its wall time and counts; with
// TW_FRAME_STATS_FINISH=1 the GL is also finished at every checkpoint of the
// frame, so each pass's line carries its own rasterisation.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/app.h"
#include "gfx/frame.h"
#include "gfx/gfx.h"

static FILE *stats_file = nullptr;
static int finish_passes = 0;
static bool in_frame = false;  // only the drawing's checkpoints count
static double last_mark = -1, last_flip = -1;
static int64_t triangles_at_flip = 0;
static char pass_text[512];
static int pass_len = 0;

static double seconds_now() {
  using namespace std::chrono;
  return duration<double>(steady_clock::now().time_since_epoch()).count();
}

void frame_stats_open() {
  const char *path = getenv("TW_FRAME_STATS");
  if (!path || !path[0] || stats_file) return;
  stats_file = fopen(path, "w");
  if (!stats_file) {
    fprintf(stderr, "Can't write the frame statistics to %s\n", path);
    return;
  }
  const char *f = getenv("TW_FRAME_STATS_FINISH");
  finish_passes = f && atoi(f) > 0;
}

void frame_stats_close() {
  if (stats_file) fclose(stats_file);
  stats_file = nullptr;
}

int frame_stats_on() { return stats_file != nullptr; }

void frame_stats_checkpoint(const char *label) {
  if (!stats_file || !in_frame) return;
  if (finish_passes && strcmp(label, "flip") != 0) twglFinish();
  double now = seconds_now();
  if (last_mark >= 0 && pass_len < int(sizeof pass_text) - 40)
    pass_len += snprintf(pass_text + pass_len, sizeof pass_text - size_t(pass_len), " %s=%.3f", label,
                         (now - last_mark) * 1000);
  last_mark = now;
  if (strcmp(label, "flip") != 0) return;
  if (last_flip >= 0)
    fprintf(stats_file, "frame=%.3f view=%d tri=%lld poly=%d bb=%d tex=%d ground=%d%s\n",
            (now - last_flip) * 1000, loop.view_mode, (long long)(twgl_triangles - triangles_at_flip),
            render_stats.model_polygons, render_stats.billboards, render_stats.texture_changes,
            render_stats.ground_polygons, pass_text);
  last_flip = now;
  in_frame = false;
  triangles_at_flip = twgl_triangles;
  pass_len = 0;
  pass_text[0] = 0;
}

// The mark the frame's first pass is measured from.
void frame_stats_frame_begin() {
  if (!stats_file) return;
  last_mark = seconds_now();
  in_frame = true;
}
