// The race: the one table of rider slots and their roles, the running
// order, the race clock, track loading and the race tic. Riders themselves
// are bike/'s (bike/physics.h); this decides who rides and when.
#pragma once
#include <cstdint>

#include "core/shared.h"

struct Rider;

enum RiderRole { ROLE_LOCAL = 0, ROLE_REPLAYED = 1, ROLE_ROBOT = 2 };

// What load_track creates in a slot.
enum RiderSlotKind {
  SLOT_EMPTY = 0,
  SLOT_LOCAL = 1,
  SLOT_ROBOT = 2,
  SLOT_ROBOT_125 = 3,
  SLOT_ROBOT_250 = 4,
  SLOT_SERVER = 5,
  SLOT_NUMBERED_ROBOT = 1000,  // + the robot's number
};

// Fixed until the next load_track.
extern int rider_roles[RIDER_SLOTS];
// Slots in race position order; running_count of them are valid.
extern int running_order[RIDER_SLOTS];
extern int running_count;
// The slot table New Race and warp restarts hand to load_track.
extern int lineup[RIDER_SLOTS];

// The race clock: tics since load_track, and the tic the start gate drops.
// The physics world counts the tics; the race reads and sets them there.
int race_now_tic();
int race_drop_tic();
// The slot load_track chose to follow (the local player's, else the first
// rider), or NO_SLOT.
int race_first_followed();

// The track chosen in the New Race menu (the list itself is the terrain's).
void track_menu_select(const char *name);
const char *track_menu_selected();
int track_loaded();
// Folder of the loaded track ("tracks/hollow_creek"), "" when none.
const char *track_loaded_folder();
// The listed track folder of a name (the folder or its last part), or
// nullptr when no listed track has that name.
const char *track_find(const char *name);
// The next load_track reads the track's files again even when the same
// track is loaded (the editor's changes).
void track_request_reload();

// With `given`, every load_track seeds the shared generator with `seed`
// (so the drop, the roster and every later draw repeat); else with the
// calendar time.
void race_set_seed(int given, uint32_t seed);
// "--practice": every robot rides with the "tester" personality.
void race_set_practice(int on);
// The auto pilot personality of a slot's robot, "" for other riders.
const char *rider_personality(int slot);

// A server race's part of the next load_track; the network fills it.
struct ServerSlot {
  char number[8];
  char bike[64];
  char textures[4][256];  // rider body, head, bike, wheels; "" none
};
struct ServerRace {
  int active;          // the slot table handed to load_track is the server's
  int drop_tic;
  int start_position;  // the local player's: 0..159, 160 a spectator
  ServerSlot slots[RIDER_SLOTS];
};
extern ServerRace server_race;

// What loading needs from the program around the race (lighting, the map,
// textures, the script, the camera, the process); every hook may be null.
struct TrackHooks {
  void (*script_stop)();                     // and the sounds it loaded
  void (*script_start)(const char *folder);  // "frills.js", else "nofrills.js"
  void (*new_texture_generation)();
  void (*lighting_load)(const char *folder);
  void (*map_load)(const char *folder);
  void (*graphics_prepare)();  // rider graphics; the editor's state
  void (*textures_purge_unused)();
  void (*free_camera_at)(const float position[3]);
  void (*tune_process)();
};
extern TrackHooks track_hooks;

// Starts every kind of race on the track chosen in the menu (or the
// demo's): 1 on success. `slot_table` is RIDER_SLOTS RiderSlotKind values,
// or nullptr for practice alone.
int load_track(const int *slot_table, int replay_demo, int record_demo, int time_limit_tics,
               int laps, int robot_skill);
void free_track();
// One tic of the loaded race: its phases in order (RACE_PHASES).
void race_tic();
struct RacePhase {
  const char *name;
  void (*run)();
};
enum { RACE_PHASE_COUNT = 10 };
extern const RacePhase RACE_PHASES[RACE_PHASE_COUNT];

// The leader has completed the race's laps.
int race_leader_finished();
// The session has ended: the results are final; or the leader has finished
// and no rider has crossed a checkpoint for a minute of race time since; or,
// in a time trial, a lap after the flying start is done.
int race_over();
// Riders still out are given up and the results made final (and written
// when someone finished): the end of a batch run.
void race_give_up();
// The local player's Throttle and Back up controls in a time trial: the
// throttle sets the flying start back to two checkpoints; with "Backing Up
// Aborts Attempt" on, each press of Back up restarts one checkpoint further
// back.
void time_trial_abort_rule(float throttle, float back_up);
void time_trial_set_backup_aborts(int on);
// Moves the 40 gate entries of the lineup `places` on, wrapping.
void rotate_lineup(int places);
int trackside_camera_count();
int trackside_camera_for_rider(int slot);  // -1 when the track has no sections

// Rebuilds the running and results orders, settles the length of a timed
// race, and writes "@results.txt" once everyone has finished.
void update_results();
// Called by timing when a rider completes a lap (its progress already
// counts the lap line): the finish rule, then update_results while the
// results are not final.
void race_lap_completed(int slot);
// "%d laps", "%d minutes" or "%d minutes + %d laps".
void race_length_text(char *out, int size);
// Time trial: the flying start.
void time_trial_restart();
int rider_finished(int slot);
int race_results_final();
// The loaded track has usable laps (timing gates): a race can end.
int race_has_laps();

// The results: like the running order, with each rider's cutting penalty
// applied. The displays use it once the results are final.
extern int results_order[RIDER_SLOTS];
extern int results_count;
struct ResultRow {
  int slot;
  int laps;      // completed, after the penalty
  int tics;      // from the drop to the last crossing, with the penalty
  int finished;
  int best_lap;  // lap number, 0 none
  int best_tics;
};
// Row `place` (0 first) of the results order: 1, or 0 past the end.
int race_result_row(int place, ResultRow *out);
// A rider's best lap (laps 2 on; the first wins ties): its number, 0 none.
int rider_best_lap(int slot, int *tics);
// A rider's cutting penalty in tics.
double rider_penalty_tics(int slot);

// What the race asks of the program around it; every hook may be null
// (offline, no script, nothing told).
struct RaceHooks {
  int (*connected)();              // racing on a server
  double (*server_update_age)(int slot);  // seconds since the server last moved it
  void (*script_tic)(int tic);     // the track script's tic handler
  // A rider completed a lap (after the finish rule): lap number and time.
  void (*lap_completed)(int slot, int lap, int lap_tics);
  // The results have just become final.
  void (*results_final)();
  // Time trial: the lap line crossed after a flying start (lap 0), or a lap
  // done (valid: every checkpoint crossed).
  void (*time_trial_lap)(int lap, int lap_tics, int valid);
};
extern RaceHooks race_hooks;
