// What a loaded track brings besides its ground and gates: the starter and
// flaggers, the trackside cameras, the track's digest, and the robot roster
// the riders of a race are drawn from. Filled by load_track.
#pragma once
#include <cstdint>

#include "core/shared.h"
#include "race/scenery.h"

struct DataFile;
struct Rider;

// ------------------------------------------------------------ flaggers
enum { MAX_FLAGGERS = 256 };

struct Starter {
  int billboard;  // -1 none
  float a[3], b[3];  // walks from A to B
  float size[2];
  float walk_seconds;
  char textures[5][SCENERY_NAME_MAX];
  int reference_tic;  // the starter's clock starts from here (640 at load)
};
struct FinishFlagger {
  int billboard;  // -1 none
  float size[2];
  char textures[4][SCENERY_NAME_MAX];  // normal, halfway, last lap, finished
};
struct Flagger {
  int billboard;
  char idle[SCENERY_NAME_MAX];
  char waving[SCENERY_NAME_MAX];
  int checkpoints[4];  // -1 none
};
extern Starter starter;
extern FinishFlagger finish_flagger;
extern Flagger flaggers[MAX_FLAGGERS];
extern int flagger_count;

// ------------------------------------------------------ trackside cameras
enum { MAX_TRACK_CAMERAS = 256, GATE_CAMERA_ENTRIES = 256 };

struct TrackCamera {
  float x, y, z;  // y includes the ground under (x, z)
  float view[4];  // the camera view code's own values, 0 at load
  float fov;      // degrees
  float auto_fov_size;
};
extern TrackCamera track_cameras[MAX_TRACK_CAMERAS];
extern int track_camera_count;
// The camera to use while the followed rider's next checkpoint is g; -1.
extern int gate_camera[GATE_CAMERA_ENTRIES];

// ------------------------------------------------------------- the files
// Each reads a whole file, keeping what was read up to the first record
// that is malformed or holds a value that is not finite: the number of
// records (flaggers, billboards, statues, cameras) taken.
int flaggers_read(DataFile *f);
int billboards_read(DataFile *f);
int statues_read(DataFile *f);
int cameras_read(DataFile *f);
void track_tables_clear();  // flaggers, cameras, gate cameras

// ---------------------------------------------------------------- digest
// RIPEMD-160 over the track's files in their fixed order, then the shape
// file of every statue whose shape name is new; what a server compares.
extern uint8_t track_digest[20];

// ------------------------------------------------------------------ roster
enum { ROSTER_SIZE = 80 };

struct RosterRow {
  const char *number;
  const char *personality;
  const char *bike;
  const char *textures[4];  // rider body, head, bike, wheels; nullptr none
};
extern const RosterRow robot_roster[ROSTER_SIZE];
// The shuffled order and how many robots have been handed out this load.
extern int roster_order[ROSTER_SIZE];
extern int roster_next;

// A new shuffle from the shared generator (79 draws).
void roster_shuffle();
// The row for the next robot: `want` narrows the search of the rows not yet
// given out this round (from the back) to bikes containing that text, or
// to that number when `by_number` is set; without a match the row at the
// current position serves. Past 80 robots the roster starts over.
int roster_take(const char *want, int by_number);
// The bike name a rider is created with ("crf250" is the 2008 model).
const char *bike_alias(const char *name);

// ---------------------------------------------------------------- places
// Where start position n stands: x, z and heading (a rider of heading a
// faces (-sin a, -cos a)). Position 160 is a server spectator's.
void start_place(int n, float out[3]);
// Stands a rider there on the ground, lifted 0.25 at a time while it
// touches anything (at most MAX_LIFT_STEPS times).
constexpr int MAX_LIFT_STEPS = 4096;
void place_rider(Rider *r, float x, float z, float heading);
