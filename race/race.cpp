// The race session: the slot table and roles, the running order, the clock
// and the race tic. Timing, results and the start rules arrive with their
// own work; until then a race is open-ended riding.
#include <cstdio>
#include <cstring>

#include "bike/rider.h"
#include "race/race.h"
#include "race/race_internal.h"
#include "terrain/deform.h"

int rider_roles[RIDER_SLOTS];
int running_order[RIDER_SLOTS];
int running_count = 0;
int lineup[RIDER_SLOTS];

RaceState race;

int race_now_tic() { return physics.now_tic; }
int race_drop_tic() { return physics.drop_tic; }
int race_first_followed() { return race.first_followed; }

void track_menu_select(const char *name) {
  snprintf(race.selected_track, sizeof race.selected_track, "%s", name ? name : "");
}
const char *track_menu_selected() { return race.selected_track; }
int track_loaded() { return race.loaded_folder[0] != 0; }
const char *track_loaded_folder() { return race.loaded_folder; }

void race_tic() {
  if (!track_loaded()) return;
  physics_tic();
  roost_update();
}

int race_leader_finished() { return 0; }
int race_over() { return 0; }
void time_trial_abort_rule() {}

void rotate_lineup(int places) {
  if (places <= 0) return;
  int copy[RIDER_SLOTS];
  memcpy(copy, lineup, sizeof copy);
  for (int i = 0; i < RIDER_SLOTS; i++) lineup[(i + places) % RIDER_SLOTS] = copy[i];
}

void update_results() {}
void race_lap_completed(int) {}
void race_length_text(char *out, int size) {
  if (size > 0) snprintf(out, size_t(size), "%d laps", race.race_laps);
}
void time_trial_restart() {}
int rider_finished(int) { return 0; }
