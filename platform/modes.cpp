// The display mode list and the choice of a full-screen mode.
#include "platform/internal.h"

static bool usable_depth(int bits) {
  return bits == 8 || bits == 16 || bits == 24 || bits == 32;
}

int display_modes_build(DisplayMode *out, const DisplayMode *desktop,
                        const DisplayMode *modes, int count) {
  int n = 0;
  if (desktop) {
    bool ok = usable_depth(desktop->bits);
    log_printf("Registry mode is %dx%dx%d@%dhz%s\n", desktop->width, desktop->height,
               desktop->bits, desktop->refresh, ok ? "" : " (ignored)");
    if (ok) out[n++] = DisplayMode{desktop->width, desktop->height, desktop->bits, desktop->refresh};
  }
  for (int i = 0; i < count; i++) {
    const DisplayMode &m = modes[i];
    if (!usable_depth(m.bits)) {
      log_printf("Found mode %dx%dx%d@%dhz (ignored)\n", m.width, m.height, m.bits, m.refresh);
      continue;
    }
    // Refresh rates do not make a mode different.
    bool seen = false;
    for (int j = 0; j < n && !seen; j++)
      seen = out[j].width == m.width && out[j].height == m.height && out[j].bits == m.bits;
    if (seen) continue;
    out[n++] = m;
    log_printf("Found mode %dx%dx%d@%dhz\n", m.width, m.height, m.bits, m.refresh);
  }
  out[n] = DisplayMode{};
  return n;
}

int display_mode_pick(const DisplayMode *list, int width, int height) {
  int best = -1;
  for (int i = 0; list[i].width; i++) {
    const DisplayMode &m = list[i];
    if (m.width < width || m.height < height) continue;
    if (best < 0 || m.width + m.height < list[best].width + list[best].height) best = i;
  }
  return best;
}
