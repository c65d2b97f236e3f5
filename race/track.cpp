// Track loading: the one entry that starts every kind of race. It ends the
// previous race, reads the track folder when it is not the one loaded,
// creates the riders of all 160 slots and lines them up behind the start
// gates, and starts the script, keeping the loading screen alive with its
// progress texts throughout.
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "bike/bike.h"
#include "bike/dig.h"
#include "bike/engine_sound.h"
#include "bike/rider.h"
#include "bike/robot.h"
#include "core/core.h"
#include "core/log.h"
#include "race/demo.h"
#include "race/history.h"
#include "race/race.h"
#include "race/race_internal.h"
#include "race/robot_link.h"
#include "race/series.h"
#include "race/timing.h"
#include "race/track.h"
#include "terrain/deform.h"
#include "terrain/terrain.h"

TrackHooks track_hooks;
ServerRace server_race;
uint8_t track_digest[20];

namespace {

struct Loader {
  int seed_given;
  uint32_t seed;
  int practice_robots;
  int reload_requested;
  int skill;  // of the race loaded, whose lines are written back
  // The longest wait between two progress texts, and the text before it.
  double last_progress;
  double max_delay;
  char max_delay_text[80];
  char last_text[80];
  Ripemd160 digest;
};
Loader loader;
char personality[RIDER_SLOTS][16];

// Practice rides start the clock five minutes in, long after the drop.
const int PRACTICE_START_TIC = 300 * TICS_PER_SECOND;
const int STARTER_REFERENCE_TIC = 5 * TICS_PER_SECOND;
const float GATE_TILT = 0.5890486225480862f;  // 3 pi / 16

// ---------------------------------------------------------------- progress
double seconds_now() { return double(clock_ms()) / 1000; }

void note_progress(const char *text) {
  double t = seconds_now();
  if (loader.last_progress >= 0 && t - loader.last_progress > loader.max_delay) {
    loader.max_delay = t - loader.last_progress;
    memcpy(loader.max_delay_text, loader.last_text, sizeof loader.last_text);
  }
  loader.last_progress = t;
  snprintf(loader.last_text, sizeof loader.last_text, "%.64s", text);
}

// Every text shown while loading is measured, the ground's own among them.
void (*shown_progress)(const char *, int) = nullptr;
void measured_progress(const char *text, int cycling) {
  note_progress(text);
  if (shown_progress) shown_progress(text, cycling);
}
struct MeasureProgress {
  MeasureProgress() {
    shown_progress = ui_hooks.progress;
    ui_hooks.progress = measured_progress;
  }
  ~MeasureProgress() { ui_hooks.progress = shown_progress; }
};

void step_begin(const char *text) { show_progress(text); }

void step_done(const char *text) {
  char done[80];
  snprintf(done, sizeof done, "%.64s...done", text);
  show_progress(done);
}

// A step's loop goes round: the text again with cycling dots.
void step_busy(const char *text) { show_progress_cycling(text); }

void log_texture_memory(const char *when) {
  if (log_verbosity >= 1 && terrain_hooks.texture_bytes)
    log_printf("%lu bytes texture memory used after %s creation\n",
               (unsigned long)terrain_hooks.texture_bytes(), when);
}

// ------------------------------------------------------------------ digest
void digest_data(const char *name, const char *step) {
  DataFile *f = data_open(name, "rb");
  if (!f) return;
  char block[1024];
  int n;
  while ((n = data_read(f, block, sizeof block)) > 0) {
    ripemd160_update(&loader.digest, block, size_t(n));
    step_busy(step);
  }
  data_close(f);
}

void folder_file(char *out, int size, const char *folder, const char *name) {
  snprintf(out, size_t(size), "@%s/%s", folder, name);
}

void digest_file(const char *folder, const char *name, const char *step) {
  char path[600];
  folder_file(path, sizeof path, folder, name);
  digest_data(path, step);
}

// The shape file of every statue whose shape name no earlier statue had.
void digest_statue_shapes(const char *step) {
  for (int i = 0; i < statue_count; i++) {
    const char *name = statues[i].shape_name;
    if (!name[0]) continue;
    int seen = 0;
    for (int j = 0; j < i && !seen; j++) seen = !strcmp(statues[j].shape_name, name);
    if (!seen) digest_data(name, step);
  }
}

DataFile *open_track_file(const char *folder, const char *name) {
  char path[600];
  folder_file(path, sizeof path, folder, name);
  return data_open(path, "rb");
}

// ------------------------------------------------------------------ slots
// The slot kinds riders are created from: 1 where the slot table is empty
// of riders, and the followed slot (NO_SLOT when none).
int prepare_kinds(const int *slot_table, int practice, int demo_riders, int kinds[RIDER_SLOTS]) {
  for (int i = 0; i < RIDER_SLOTS; i++) {
    int k = practice ? SLOT_EMPTY : slot_table[i];
    kinds[i] = k < 0 ? SLOT_EMPTY : k;  // no kind below empty
  }
  if (practice) kinds[0] = SLOT_LOCAL;
  int followed = NO_SLOT;
  for (int i = 0; i < RIDER_SLOTS && followed == NO_SLOT; i++)
    if (kinds[i] != SLOT_EMPTY) followed = i;
  if (followed == NO_SLOT && demo_riders == 0) {
    kinds[0] = SLOT_ROBOT;
    followed = 0;
  }
  // Only the first local slot is the player's.
  int local = NO_SLOT;
  for (int i = 0; i < RIDER_SLOTS; i++) {
    if (kinds[i] != SLOT_LOCAL) continue;
    if (local == NO_SLOT) local = i;
    else kinds[i] = SLOT_EMPTY;
  }
  return local != NO_SLOT ? local : followed;
}

const char *or_none(const char *name) { return name && name[0] ? name : nullptr; }

Rider *create_described(int slot, const char *bike, int simulated, const char *number,
                        const char (*textures)[256]) {
  const char *t[4] = {or_none(textures[0]), or_none(textures[1]), or_none(textures[2]),
                      or_none(textures[3])};
  rider_describe(slot, bike, t, number, "");
  return create_rider(slot, bike_alias(bike), simulated, number, t[0], t[1], t[2], t[3]);
}

Rider *create_local(int slot, int server) {
  if (server) {
    const ServerSlot &s = server_race.slots[slot];
    return create_described(slot, s.bike, 1, s.number, s.textures);
  }
  const RiderSetup *s = &rider_setup;
  const char *number = setup_text(s, SETUP_NUMBER_TEXT);
  const char *t[4] = {or_none(setup_text(s, SETUP_RIDER_TEXTURE)),
                      or_none(setup_text(s, SETUP_HEAD_TEXTURE)),
                      or_none(setup_text(s, SETUP_BIKE_TEXTURE)),
                      or_none(setup_text(s, SETUP_WHEEL_TEXTURE))};
  rider_describe(slot, "", t, "", "");
  Rider *r = create_rider(slot, bike_alias(bike_model_name(setup_bike_model(s))), 1,
                          number && number[0] ? number : "999",
                          or_none(setup_text(s, SETUP_RIDER_TEXTURE)),
                          or_none(setup_text(s, SETUP_HEAD_TEXTURE)),
                          or_none(setup_text(s, SETUP_BIKE_TEXTURE)),
                          or_none(setup_text(s, SETUP_WHEEL_TEXTURE)));
  if (r) snprintf(r->name, sizeof r->name, "%s", setup_text(s, SETUP_NAME));
  return r;
}

Rider *create_robot(int slot, int kind) {
  char wanted[16] = "";
  if (kind == SLOT_ROBOT_125) snprintf(wanted, sizeof wanted, "125");
  if (kind == SLOT_ROBOT_250) snprintf(wanted, sizeof wanted, "250");
  if (kind >= SLOT_NUMBERED_ROBOT) snprintf(wanted, sizeof wanted, "%d", kind - SLOT_NUMBERED_ROBOT);
  const RosterRow &row =
      robot_roster[roster_take(wanted[0] ? wanted : nullptr, kind >= SLOT_NUMBERED_ROBOT)];
  // A numbered robot keeps its number even when no row carries it.
  const char *number = kind >= SLOT_NUMBERED_ROBOT ? wanted : row.number;
  rider_describe(slot, row.bike, row.textures, number, "Roborider");
  Rider *r = create_rider(slot, bike_alias(row.bike), 1, number, row.textures[0], row.textures[1],
                          row.textures[2], row.textures[3]);
  if (!r) return nullptr;
  snprintf(r->name, sizeof r->name, "Roborider");
  snprintf(personality[slot], sizeof personality[slot], "%s",
           loader.practice_robots ? "tester" : row.personality);
  return r;
}

// Creates the rider of slot k as its kind says; its role is set with it.
Rider *create_slot_rider(int k, int kind, int server, int replay_demo, int *demo_next) {
  personality[k][0] = 0;
  if (kind == SLOT_EMPTY) {
    if (!replay_demo || *demo_next >= demo_rider_count()) return nullptr;
    const DemoRider *d = demo_rider((*demo_next)++);
    if (!d) return nullptr;
    Rider *r = create_described(k, d->bike, 0, d->number, d->textures);
    if (r) snprintf(r->name, sizeof r->name, "%s", d->name);
    rider_roles[k] = ROLE_REPLAYED;
    return r;
  }
  if (kind == SLOT_LOCAL) {
    rider_roles[k] = ROLE_LOCAL;
    return create_local(k, server);
  }
  if ((kind >= SLOT_ROBOT && kind <= SLOT_ROBOT_250) || kind >= SLOT_NUMBERED_ROBOT) {
    rider_roles[k] = ROLE_ROBOT;
    return create_robot(k, kind);
  }
  if (kind == SLOT_SERVER) {
    rider_roles[k] = ROLE_REPLAYED;
    const ServerSlot &s = server_race.slots[k];
    return create_described(k, s.bike, 0, s.number, s.textures);
  }
  // Any other kind: a plain rider, its role left as it was.
  return create_rider(k, "rm125", rider_roles[k] != ROLE_REPLAYED, "", nullptr, nullptr, nullptr,
                      nullptr);
}

int valid_start_position(int p) { return p >= 0 && p <= RIDER_SLOTS ? p : RIDER_SLOTS; }

void frame_position(Rider *r, float out[3]) {
  RiderPose p;
  rider_get_pose(r, &p);
  for (int i = 0; i < 3; i++) out[i] = float(p.body[FRAME].position[i]);
}

// Creates and places every slot's rider (step "Loading bikes").
void create_riders(const int kinds[RIDER_SLOTS], int server, int replay_demo) {
  const char *text = "Loading bikes";
  step_begin(text);
  int demo_next = 0, server_placed = 0;
  int local_position = valid_start_position(server_race.start_position);
  for (int k = 0; k < RIDER_SLOTS; k++) {
    step_busy(text);
    timing_rider_reset(k);
    Rider *r = create_slot_rider(k, kinds[k], server, replay_demo, &demo_next);
    if (!r) continue;
    engine_voice_create(k, r, r->bike_texture[0] ? r->bike_texture : nullptr);
    int local = rider_roles[k] == ROLE_LOCAL && kinds[k] == SLOT_LOCAL;
    int n = k;
    if (server) {
      // Others stand after the last gate, round the player's own place.
      if (local) {
        n = local_position;
      } else {
        n = timing.gate_count + server_placed++;
        if (n >= local_position) n++;
      }
    }
    float at[3];
    start_place(n, at);
    place_rider(r, at[0], at[1], at[2]);
    if (local) frame_position(r, race.start_point);
  }
  step_done(text);
}

void raise_start_gates() {
  for (int g = 0; g < timing.gate_count; g++) {
    StartGate &s = timing.gates[g];
    s.fall = 1;
    s.fall_speed = 0;
    statue_tilt(s.statue, GATE_TILT);
  }
}

// The pool's particles and their billboards, all hidden.
void roost_billboards_reset() {
  float y = terrain_height(0, 0);
  for (int i = 0; i < ROOST_PARTICLES && i < billboard_count; i++) {
    Billboard &b = billboards[i];
    b.x = b.z = 0;
    b.y = y;
    b.height = 1;
    b.width_ratio = 1;
    b.texture = 0;
    b.texture_name[0] = 0;
    for (uint8_t &c : b.color) c = 255;
  }
}

// Steps 9 to 19: the track folder's files.
int read_track_folder(const char *folder) {
  snprintf(race.loaded_folder, sizeof race.loaded_folder, "%s", folder);
  timing_clear();
  track_tables_clear();
  scenery_free();

  const char *text = "Scanning";
  step_begin(text);
  ripemd160_init(&loader.digest);
  for (const char *name : {"terrain.hf", "terrain.png", "texturelist", "tilemap", "tileinfo",
                           "nofrills.js"})
    digest_file(folder, name, text);
  step_done(text);

  if (log_verbosity >= 1) log_printf("Loading '%s'\n", folder);
  if (track_hooks.lighting_load) track_hooks.lighting_load(folder);
  char dir[300];
  snprintf(dir, sizeof dir, "@%s", folder);
  if (!terrain_load(dir)) {
    race.loaded_folder[0] = 0;
    return 0;
  }
  log_texture_memory("hf");

  digest_file(folder, "timing_gates", text);
  char path[600];
  folder_file(path, sizeof path, folder, "timing_gates");
  read_timing_gates(path);

  // The roost particles' billboards come first of all billboards.
  roost_pool_reset();
  for (int i = 0; i < ROOST_PARTICLES; i++) billboard_create(0, 0, 0, 1, 1, nullptr);

  text = "Loading flaggers";
  step_begin(text);
  DataFile *f = open_track_file(folder, "flaggers");
  flaggers_read(f);
  data_close(f);
  log_texture_memory("flagger");
  step_done(text);

  text = "Loading billboards";
  step_begin(text);
  first_file_billboard = billboard_count;
  f = open_track_file(folder, "billboards");
  billboards_read(f);
  data_close(f);
  log_texture_memory("billboard");
  step_done(text);

  digest_file(folder, "statues", "Scanning");
  text = "Loading statues";
  step_begin(text);
  first_file_statue = statue_count;
  f = open_track_file(folder, "statues");
  statues_read(f);
  data_close(f);
  obstacle_grid_build();
  log_texture_memory("statue");
  step_done(text);

  text = "Loading map";
  step_begin(text);
  if (track_hooks.map_load) track_hooks.map_load(folder);
  if (track_hooks.graphics_prepare) track_hooks.graphics_prepare();
  digest_statue_shapes(text);
  ripemd160_final(&loader.digest, track_digest);
  step_done(text);

  f = open_track_file(folder, "cameras");
  if (f) {
    cameras_read(f);
    data_close(f);
    if (log_verbosity >= 1) log_printf("%d cameras found\n", track_camera_count);
  }
  return 1;
}

}  // namespace

// ------------------------------------------------------------------ places
void start_place(int n, float out[3]) {
  int g_count = timing.gate_count;
  double x, z, a = 0;
  if (g_count >= 1) {
    int gate = 0;
    double d = 0.625;  // a server spectator stands at the first gate
    if (n >= 0 && n < RIDER_SLOTS) {
      gate = n % g_count;
      d = (n / g_count + 0.0625) * 10;
    }
    const StartGate &s = timing.gates[gate];
    a = s.angle;
    x = s.x + sin(a) * d;
    z = s.z + cos(a) * d;
  } else {
    double centre = terrain.extent * 0.5;
    x = centre + (n >= 0 && n < RIDER_SLOTS ? 5.0 * n : 0);
    z = centre;
  }
  out[0] = float(x);
  out[1] = float(z);
  out[2] = float(a);
}

void place_rider(Rider *r, float x, float z, float heading) {
  reset_rider(r);
  const double up[3] = {0, 1, 0};
  turn_rider(r, up, heading);
  float f[3];
  frame_position(r, f);
  move_rider(r, double(x) - f[0], terrain_height(x, z), double(z) - f[2]);
  // Lifting stops somewhere: a rider inside something that never lets go
  // must not hang loading.
  int steps = 0;
  while (rider_intersects(r)) {
    if (steps++ == MAX_LIFT_STEPS) {
      log_printf("Rider %d still touches something %g ft up\n", rider_slot(r),
                 MAX_LIFT_STEPS * 0.25);
      break;
    }
    move_rider(r, 0, 0.25, 0);
  }
}

// -------------------------------------------------------------- interface
const char *track_find(const char *name) {
  if (!name || !name[0]) return nullptr;
  for (int i = 0; i < track_count; i++) {
    const char *f = track_folders[i];
    const char *base = strrchr(f, '/');
    base = base ? base + 1 : f;
    if (!strcmp(f, name) || !strcmp(base, name)) return f;
  }
  return nullptr;
}

void track_request_reload() { loader.reload_requested = 1; }

void race_set_seed(int given, uint32_t seed) {
  loader.seed_given = given;
  loader.seed = seed;
}

void race_set_practice(int on) { loader.practice_robots = on; }

const char *rider_personality(int slot) {
  return slot >= 0 && slot < RIDER_SLOTS ? personality[slot] : "";
}

void free_track() {
  robot_lines_free();
  if (!track_loaded() && !terrain.heights && !statue_count && !billboard_count) return;
  log_printf("Deallocating track\n");
  scenery_free();
  track_tables_clear();
  timing_clear();
  terrain_free();
  race.loaded_folder[0] = 0;
  log_printf("Finished deallocating track\n");
}

int load_track(const int *slot_table, int replay_demo, int record_demo, int time_limit_tics,
               int laps, int robot_skill) {
  // 1. The series event just run keeps its result.
  series_finish_event();
  MeasureProgress measure;
  step_begin("Resetting...");
  log_printf("Resetting\n");
  loader.max_delay = 0;
  loader.max_delay_text[0] = 0;
  loader.last_progress = seconds_now();
  if (!race.attached) {
    // Ruts and roost from the wheels, decals with the ground; a fallen
    // rider turns towards its next checkpoint.
    dig_attach();
    decals_attach();
    physics_hooks.realign_target = timing_realign_target;
    // Robots drive, lines are recorded, the realign target follows lines.
    robot_link_attach();
    race.attached = 1;
  }

  // 2. The generator, then the roster's order from it.
  rng_seed(loader.seed_given ? loader.seed : uint32_t(time(nullptr)));
  roster_shuffle();
  step_done("Resetting...");

  // 3. The last race's lines and demo.
  step_begin("Remembering lines");
  if (track_loaded()) {
    robot_lines_save(loader.skill);
    robot_lines_clear();
  }
  demo_finish_recording();
  demo_stop_ghost();
  step_done("Remembering lines");

  // 4. Every rider goes.
  step_begin("Cleaning up");
  log_printf("Deallocating bikes\n");
  for (int i = 0; i < RIDER_SLOTS; i++) {
    engine_sound_free(i);
    if (Rider *r = rider_in_slot(i)) destroy_rider(r);
  }
  log_printf("Finished deallocating bikes\n");
  step_done("Cleaning up");

  // 5. The clock. A demo's race is as long as it was recorded.
  DemoHeader demo;
  int from_demo = replay_demo && demo_header(&demo);
  if (from_demo) {
    time_limit_tics = demo.time_limit;
    laps = demo.laps;
  }
  physics.now_tic = 0;
  race.race_time_limit = time_limit_tics;
  race.race_laps = laps;
  race.results_final = 0;
  race.start_hold = 0;
  starter.reference_tic = STARTER_REFERENCE_TIC;
  running_count = 0;
  race.first_followed = NO_SLOT;

  // 6. The drop, and who is racing where.
  int server = slot_table && server_race.active;
  if (server) {
    physics.drop_tic = server_race.drop_tic;
    race.replay_delay = valid_start_position(server_race.start_position) == RIDER_SLOTS ? 127 : 0;
    race.practice_mode = 0;
  } else {
    // The 31 low bits scaled by 2^-30: 0..2 s after 13 s.
    double u2 = double(rng_next() & 0x7fffffffu) * (1.0 / 1073741824.0);
    physics.drop_tic = int((13 + u2) * TICS_PER_SECOND);
    race.replay_delay = 0;
    race.practice_mode = !slot_table;
    for (ServerSlot &s : server_race.slots) s = ServerSlot();
    server_race.start_position = RIDER_SLOTS;
    if (from_demo) physics.drop_tic = demo.drop_tic;
  }
  const char *folder = track_find(track_menu_selected());
  if (!folder) {
    add_messagef("Track \"%s\" not found", track_menu_selected());
    free_track();
    return 0;
  }

  // 7. The script and its sounds.
  if (track_hooks.script_stop) track_hooks.script_stop();

  // 8-19. The track's files, unless this track is loaded already.
  int same = !strcmp(folder, race.loaded_folder) && terrain.heights && !server &&
             !loader.reload_requested;
  loader.reload_requested = 0;
  if (!same) {
    if (track_hooks.new_texture_generation) track_hooks.new_texture_generation();
    free_track();
    if (!read_track_folder(folder)) return 0;
  }

  // 20. The ground's queues.
  erode_queue_clear();
  dig_reset_all();
  for (int i = 0; i < statue_count; i++) statues[i].contact_tic = 0;

  // 21. Who rides where.
  int kinds[RIDER_SLOTS];
  int followed = prepare_kinds(slot_table, race.practice_mode, replay_demo ? demo_rider_count() : 0,
                               kinds);
  if (race.practice_mode) {
    physics.now_tic = PRACTICE_START_TIC;
    race.last_lap = race.best_lap = 0;
  }
  race.first_followed = followed;

  // 22. The robots' lines for this skill.
  loader.skill = robot_skill;
  robot_lines_load(folder, robot_skill);
  step_begin("Analyzing lines");
  robot_lines_analyze();
  step_done("Analyzing lines");

  // 23. Riders, lined up behind the gates as they stand at the start.
  raise_start_gates();
  create_riders(kinds, server, replay_demo);

  // 24. Histories, the roost, the recording.
  demo_history_reset();
  roost_pool_reset();
  roost_billboards_reset();
  if (record_demo) demo_start_recording();
  robot_lines_reset_bookkeeping();

  // 25. The track's script.
  step_begin("Loading track script");
  if (track_hooks.script_start) track_hooks.script_start(folder);
  long long bytes = terrain_hooks.texture_bytes ? terrain_hooks.texture_bytes() : 0;
  add_messagef("%d MB texture memory used\n", int(bytes >> 20));
  if (track_hooks.textures_purge_unused) track_hooks.textures_purge_unused();
  step_done("Loading track script");

  // 26. The race's length; every gate up.
  if (time_limit_tics != 0) {
    race.total_laps = race.halfway_lap = 1000000;
  } else {
    race.total_laps = laps;
    race.halfway_lap = (laps + 1) / 2;
  }
  raise_start_gates();

  // 27. A practice ride starts flying.
  if (race.practice_mode) {
    race.flying_start_back = 2;
    time_trial_restart();
    race.flying_start_back = 3;
  }

  // 28.
  log_printf("Max loading delay was %f (%s)\n", loader.max_delay, loader.max_delay_text);
  demo_write_first_block();
  demo_prime_replay(replay_demo);
  update_results();

  // 29. Someone to follow; the player's setup while the bike stands.
  if (race.first_followed >= RIDER_SLOTS || !rider_in_slot(race.first_followed)) {
    race.first_followed = NO_SLOT;
    if (running_count > 0) race.first_followed = running_order[0];
    for (int i = 0; i < RIDER_SLOTS && race.first_followed == NO_SLOT; i++)
      if (rider_in_slot(i)) race.first_followed = i;
  }
  for (int i = 0; i < RIDER_SLOTS; i++) {
    Rider *r = rider_in_slot(i);
    if (!r || kinds[i] != SLOT_LOCAL) continue;
    rider_apply_setup(r, &rider_setup, !server, seconds_now());
    break;
  }

  // 30, 31.
  if (Rider *r = rider_in_slot(race.first_followed)) {
    float p[3];
    frame_position(r, p);
    p[1] += 5;
    if (track_hooks.free_camera_at) track_hooks.free_camera_at(p);
  }
  if (track_hooks.tune_process) track_hooks.tune_process();
  return 1;
}
