// The quick race the menu offers until the menu screens exist: the player
// in gate 1 and nine robots on the selected track, with the configured
// laps and robot skill.
#include <cstdio>

#include "app/app.h"
#include "menu/menu.h"
#include "race/race.h"
#include "terrain/terrain.h"

static const char *selected_track() {
  const char *t = track_menu_selected();
  if (t && t[0]) return t;
  if (config.track[0]) return config.track;
  return track_count > 0 ? track_folders[0] : "";
}

void quick_race() {
  // A copy: the selection may be the menu's own text.
  char t[256];
  snprintf(t, sizeof t, "%s", selected_track());
  if (!t[0]) return;
  track_menu_select(t);
  lineup_from_text("HRRRRRRRRR", lineup);
  NewRace n = new_race_settings();
  if (!load_track(lineup, 0, n.record, n.time_limit_tics, n.laps, n.skill)) return;
  int f = race_first_followed();
  loop.followed_rider = f == NO_SLOT ? 0 : f;
  loop.menu_screen = -1;
}

void menu_hooks_install() {
  menu_hooks.shown = [] { return int(loop.menu_screen >= 0); };
  menu_hooks.is_enter = [](int code) {
    return int(code != 0 && (code == ui_keys.enter || code == ui_keys.keypad_enter));
  };
  menu_hooks.quick_race = quick_race;
  menu_hooks.track = selected_track;
}
