// Track loading: the one entry that starts every kind of race. This is the
// ground-and-riders core of it (the terrain, the slots and their riders,
// ruts, roost and decals); timing gates, scenery, robots' lines, demos and
// the script join it with their own work.
#include <cmath>
#include <cstdio>
#include <cstring>

#include "bike/bike.h"
#include "bike/dig.h"
#include "bike/rider.h"
#include "core/core.h"
#include "core/log.h"
#include "race/demo.h"
#include "race/race.h"
#include "race/race_internal.h"
#include "terrain/deform.h"
#include "terrain/terrain.h"

// The track list's folder for a chosen name: the folder itself or its last
// component ("hollow_creek" for "tracks/hollow_creek"); nullptr when unknown.
static const char *track_folder_for(const char *name) {
  if (!name || !name[0]) return nullptr;
  for (int i = 0; i < track_count; i++) {
    const char *f = track_folders[i];
    const char *base = strrchr(f, '/');
    base = base ? base + 1 : f;
    if (!strcmp(f, name) || !strcmp(base, name)) return f;
  }
  return nullptr;
}

static void destroy_all_riders() {
  log_printf("Deallocating bikes\n");
  for (int i = 0; i < RIDER_SLOTS; i++)
    if (Rider *r = rider_in_slot(i)) destroy_rider(r);
  log_printf("Finished deallocating bikes\n");
}

void free_track() {
  if (!track_loaded() && !terrain.heights) return;
  log_printf("Deallocating track\n");
  terrain_free();
  race.loaded_folder[0] = 0;
  log_printf("Finished deallocating track\n");
}

// Lifting stops after this many steps (1024 ft): a rider inside something
// that never lets go must not hang loading.
static const int MAX_LIFT_STEPS = 4096;

// Stands a rider at (x, z) on the ground facing `heading` (radians about y,
// 0 along -z), lifted until nothing touches.
static void place_rider(Rider *r, double x, double z, double heading) {
  reset_rider(r);
  const double up[3] = {0, 1, 0};
  turn_rider(r, up, heading);
  RiderPose p;
  rider_get_pose(r, &p);
  const double *f = p.body[FRAME].position;
  move_rider(r, x - f[0], terrain_height(float(x), float(z)), z - f[2]);
  for (int i = 0; i < MAX_LIFT_STEPS && rider_intersects(r); i++) move_rider(r, 0, 0.25, 0);
}

static Rider *create_local_rider(int slot) {
  const RiderSetup *s = &rider_setup;
  Rider *r = create_rider(slot, bike_model_name(setup_bike_model(s)), 1, "999",
                          setup_text(s, SETUP_RIDER_TEXTURE), setup_text(s, SETUP_HEAD_TEXTURE),
                          setup_text(s, SETUP_BIKE_TEXTURE), setup_text(s, SETUP_WHEEL_TEXTURE));
  if (!r) return nullptr;
  snprintf(r->name, sizeof r->name, "%s", setup_text(s, SETUP_NAME));
  rider_apply_setup(r, s, 1, 0);
  return r;
}

// A robot until robots can ride: its bike, standing on the line.
static Rider *create_robot_rider(int slot, int kind) {
  const char *bike = kind == SLOT_ROBOT_125 ? "kx125" : "yz250f(2008)";
  char number[16];
  snprintf(number, sizeof number, "%d", kind >= SLOT_NUMBERED_ROBOT ? kind - SLOT_NUMBERED_ROBOT
                                                                      : 20 + slot % 80);
  Rider *r = create_rider(slot, bike, 1, number, nullptr, nullptr, nullptr, nullptr);
  if (r) snprintf(r->name, sizeof r->name, "Roborider");
  return r;
}

int load_track(const int *slot_table, int replay_demo, int record_demo, int time_limit_tics,
               int laps, int robot_skill) {
  (void)replay_demo;
  (void)record_demo;
  (void)time_limit_tics;
  (void)laps;
  (void)robot_skill;
  show_progress("Resetting...");
  if (!race.attached) {
    // Ruts and roost from the wheels, decals with the ground.
    dig_attach();
    decals_attach();
    race.attached = 1;
  }
  demo_finish_recording();
  show_progress("Cleaning up");
  destroy_all_riders();
  physics.now_tic = 0;
  physics.drop_tic = 0;
  running_count = 0;
  race.first_followed = NO_SLOT;

  const char *folder = track_folder_for(track_menu_selected());
  if (!folder) {
    add_messagef("Track \"%s\" not found", track_menu_selected());
    free_track();
    return 0;
  }
  if (strcmp(folder, race.loaded_folder) != 0) {
    free_track();
    char dir[300];
    snprintf(dir, sizeof dir, "@%s", folder);
    if (!terrain_load(dir)) return 0;
    snprintf(race.loaded_folder, sizeof race.loaded_folder, "%s", folder);
  }
  erode_queue_clear();
  roost_pool_reset();
  dig_reset_all();

  int kinds[RIDER_SLOTS] = {};
  if (slot_table) memcpy(kinds, slot_table, sizeof kinds);
  else kinds[0] = SLOT_LOCAL;
  int any = 0;
  for (int k : kinds) any |= k != SLOT_EMPTY;
  if (!any) kinds[0] = SLOT_ROBOT;
  // Only the first local slot is the player's.
  for (int i = 0, seen = 0; i < RIDER_SLOTS; i++)
    if (kinds[i] == SLOT_LOCAL && seen++) kinds[i] = SLOT_EMPTY;

  show_progress("Loading bikes");
  // Without start gates, riders stand 5 ft apart across the terrain's centre.
  double centre = terrain.extent * 0.5;
  int placed = 0;
  for (int i = 0; i < RIDER_SLOTS; i++) {
    int kind = kinds[i];
    Rider *r = nullptr;
    if (kind == SLOT_EMPTY || kind == SLOT_SERVER) continue;
    if (kind == SLOT_LOCAL) {
      r = create_local_rider(i);
      rider_roles[i] = ROLE_LOCAL;
    } else if (kind >= SLOT_ROBOT && kind <= SLOT_ROBOT_250) {
      r = create_robot_rider(i, kind);
      rider_roles[i] = ROLE_ROBOT;
    } else if (kind >= SLOT_NUMBERED_ROBOT) {
      r = create_robot_rider(i, kind);
      rider_roles[i] = ROLE_ROBOT;
    } else {
      r = create_rider(i, "rm125", 1, "", nullptr, nullptr, nullptr, nullptr);
    }
    if (!r) continue;
    place_rider(r, centre + 5.0 * placed, centre, -M_PI / 2);
    placed++;
    running_order[running_count++] = i;
    if (race.first_followed == NO_SLOT || (kind == SLOT_LOCAL)) race.first_followed = i;
  }
  show_progress("Loading bikes...done");
  return 1;
}
