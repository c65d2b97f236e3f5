// Setup file text and the text kept with a bike texture: any bytes leave a
// setup whose every value is in its range and converts into finite physical
// values, and plate colours that never read past the text.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "core/core.h"
#include "bike/bike.h"

static void quiet(const char *) {}

static void check_setup(const RiderSetup &s) {
  for (int k = 0; k < SETUP_KEY_COUNT; k++) {
    const SetupOption &o = s.options[k];
    switch (o.kind) {
      case SETUP_NUMBER:
        if (!std::isfinite(o.value) || o.value < o.minimum || o.value > o.maximum) abort();
        break;
      case SETUP_CHOICE:
        if (o.selected < 0 || o.selected >= o.choice_count) abort();
        break;
      case SETUP_TEXT:
        if (strlen(setup_text(&s, k)) > static_cast<size_t>(o.text_max)) abort();
        break;
    }
  }
  RiderAdjust a;
  setup_convert(&s, &bike_models[setup_bike_model(&s)], 1, &a);
  const double values[] = {a.leveling, a.roll_limit_angle, a.restricted_lock, a.max_dab_speed,
                           a.final_drive_ratio, a.fork_hs_compression, a.fork_ls_rebound, a.fork_spring,
                           a.fork_air_gap, a.shock_hs_rebound, a.shock_preload, a.rider_mass_distribution};
  for (double v : values)
    if (!std::isfinite(v)) abort();
  if (a.front_teeth < 3 || a.rear_teeth < 3) abort();
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  ui_hooks.message = quiet;
  if (size > 1 << 16) return 0;

  static RiderSetup s;
  setup_defaults(&s);
  DataFile *f = data_open_memory(data, static_cast<int>(size), 0);
  if (!f) abort();
  read_setup(&s, f);
  data_close(f);
  check_setup(s);

  std::string text(reinterpret_cast<const char *>(data), size);
  PlateColours c = parse_plate_colours(text.c_str());
  // Without a tag in the text (up to its first NUL) the plate stays white
  // with black digits.
  if (!strstr(text.c_str(), "[number")) {
    for (int i = 0; i < 3; i++)
      if (c.background[i] != 255 || c.foreground[i] != 0) abort();
  }
  return 0;
}
