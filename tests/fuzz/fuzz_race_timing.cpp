// "timing_gates" text: any bytes read into tables within their limits, with
// finite values only, that write out and read back to the same tables; and
// the crossing test runs on whatever course they make.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "core/core.h"
#include "race/timing.h"

static void quiet(const char *) {}

static std::string text() {
  static char buf[1 << 20];
  int n = format_timing_gates(buf, sizeof buf);
  if (n < 0) abort();
  return std::string(buf, size_t(n));
}

static void reread(const std::string &s) {
  DataFile *f = data_open_memory(s.data(), int(s.size()), 0);
  if (!f) abort();
  timing_gates_parse(f);
  data_close(f);
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  ui_hooks.message = quiet;
  DataFile *f = data_open_memory(data, int(size), 0);
  if (!f) return 0;
  timing_gates_parse(f);
  data_close(f);
  const TimingGates &t = timing;
  if (t.gate_count < 0 || t.gate_count > MAX_START_GATES) abort();
  if (t.checkpoint_count < 0 || t.checkpoint_count > MAX_CHECKPOINTS) abort();
  if (t.first_count < 0 || t.first_count > MAX_LAP_ENTRIES) abort();
  if (t.normal_count < 0 || t.normal_count > MAX_LAP_ENTRIES) abort();
  for (int g = 0; g < t.gate_count; g++) {
    const StartGate &s = t.gates[g];
    if (!std::isfinite(s.x) || !std::isfinite(s.y) || !std::isfinite(s.z)) abort();
    if (!(s.angle >= -3.1416f && s.angle <= 3.1416f)) abort();
  }
  for (int c = 0; c < t.checkpoint_count; c++) {
    const Checkpoint &k = t.checkpoints[c];
    const float v[] = {k.x, k.y, k.z, k.dx, k.dy, k.dz, k.radius};
    for (float x : v)
      if (!std::isfinite(x)) abort();
  }
  if (t.enabled) {
    for (int i = 0; i < 3 * (t.first_count + t.normal_count); i++) {
      int c = timing_checkpoint_for(i);
      if (c < 0 || c >= t.checkpoint_count) abort();
    }
    // A rider wandering over the checkpoints.
    timing_rider_reset(0);
    for (int step = 0; step < 64; step++) {
      const Checkpoint &k = t.checkpoints[(step * 7) % t.checkpoint_count];
      timing_cross(0, k.x + k.dx * 0.01f, k.z + k.dz * 0.01f, step);
      if (rider_timing[0].progress < 0) abort();
    }
    timing_rider_reset(0);
  }
  // What is written reads back to the same tables. (An angle a hair inside
  // pi may print as one a hair outside and come back as -pi: the text is
  // settled from the second writing on.)
  int gates = t.gate_count, cps = t.checkpoint_count, first = t.first_count, normal = t.normal_count;
  reread(text());
  if (t.gate_count != gates || t.checkpoint_count != cps || t.first_count != first ||
      t.normal_count != normal)
    abort();
  std::string twice = text();
  reread(twice);
  if (text() != twice) abort();
  return 0;
}
