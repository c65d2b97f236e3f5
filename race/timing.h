// Timing gates and laps: the start gates riders line up behind, the
// checkpoints round the course, the first-lap and normal-lap sequences, and
// every rider's progress through them.
#pragma once
#include <vector>

#include "core/shared.h"

struct Rider;

enum {
  MAX_START_GATES = 160,
  MAX_CHECKPOINTS = 256,
  MAX_LAP_ENTRIES = 256,  // per sequence
  UNCOUNTED_ENTRY = 100000,
  GATE_NAME_MAX = 1024,
};

// The statue a gate line names when it names none.
extern const char *const DEFAULT_GATE_MODEL;    // "@startgate.jm"
extern const char *const DEFAULT_GATE_TEXTURE;  // "@startgate.ppm"
extern const char *const DEFAULT_GATE_SHAPE;    // "@startgate.shp"

// A gate's statue stands 3 ft ahead of the gate point, facing the riders
// (its local +z points back at them). Its shape is modelled dropped; raised
// is that pose turned by fall x 3pi/16 about the statue's local x axis, the
// right-handed way (local +y tips towards local +z, the riders).
struct StartGate {
  float x, y, z;     // y is the statue's height above the ground
  float angle;       // radians, -pi..pi; riders face (-sin a, -cos a)
  int statue;        // index in the statue table, -1 for none
  float fall;        // 1 raised .. 0 down
  float fall_speed;
  // The statue's names as the file gave them, "" for none: what the
  // writer writes back.
  char model[GATE_NAME_MAX], texture[GATE_NAME_MAX], shape[GATE_NAME_MAX];
};

struct Checkpoint {
  float x, y, z;     // centre
  float dx, dy, dz;  // forward direction (only x and z count; not unit)
  float radius;
  int down;          // a fallen rider's next checkpoint
};

struct TimingGates {
  int gate_count;
  StartGate gates[MAX_START_GATES];
  // Kept even when the laps are unusable, so the editor and the writer
  // never lose them; `enabled` says whether they count.
  int checkpoint_count;
  Checkpoint checkpoints[MAX_CHECKPOINTS];
  // First-lap entries [0, first_count), then normal-lap entries; an entry
  // is a checkpoint number, or UNCOUNTED_ENTRY + number.
  int entries[2 * MAX_LAP_ENTRIES];
  int first_count, normal_count;      // F, N
  int first_counted, normal_counted;  // Fc, Nc
  int enabled;                        // laps and timing are on
};
extern TimingGates timing;

// A rider's progress: the sequence index of the next entry to cross, the
// race tic of every index crossed (-1 skipped or not reached).
struct RiderTiming {
  int progress;
  std::vector<int> crossing_times;
  int finished;
};
extern RiderTiming rider_timing[RIDER_SLOTS];

// The running order: leader first. running_order (race.h) holds the same
// slots; running_count counts both.
struct RunningEntry {
  int slot;
  int progress;
  int last_tic;  // tic of the last crossing, 0 before any
};
extern RunningEntry running_entries[RIDER_SLOTS];

// Reads a track's "timing_gates" (a data name or path); a missing file
// leaves no gates. Creates the start-gate statues. 1 when the file was read.
int read_timing_gates(const char *path);
// The same from an open file (the caller closes it): 0 for no file.
struct DataFile;
int timing_gates_parse(DataFile *f);
// Writes the tables to "<folder>/timing_gates" through a temporary file:
// 1, or 0 after "Can't open 'timing_gates'" in the message window.
int write_timing_gates(const char *folder);
// Writes the tables as the file's text (for the generator and tests): the
// byte count, or -1 when it does not fit.
int format_timing_gates(char *out, int size);
void timing_clear();

// Building the tables by hand (the reader, the generator, tests). Names
// may be nullptr or "null" for none. No statue is made here. Each returns
// the new index, or -1 when the table is full or a value is not finite.
int timing_add_gate(float x, float y, float z, float angle, const char *model,
                    const char *texture, const char *shape);
int timing_add_checkpoint(float radius, float x, float y, float z, float dx, float dy, float dz);
// `normal` 0 appends to the first lap, 1 to the normal lap; the value is
// clamped to the checkpoints added so far as the file reader does.
int timing_add_entry(int normal, int value);
// Counts the counted entries and decides whether timing is on.
void timing_settle();

// Every tic after the rider's physics step: the crossing test at the
// frame's position and the race clock.
void update_rider_timing(Rider *r);
// The crossing test for a slot's rider standing at (x, z) at tic `now`.
void timing_cross(int slot, float x, float z, int now);
// Rebuilds running_entries, running_order and running_count from every
// occupied slot.
void update_running_order();
// Clears a slot's progress (a new rider).
void timing_rider_reset(int slot);
// Cuts progress back to q: crossing times kept only below q; finished
// cleared when q is below the current progress.
void timing_set_progress(int slot, int q);
// Clears every checkpoint's down flag, then marks the next checkpoint of
// every fallen rider in the running order (on a server only of riders
// simulated here).
void timing_mark_down(int connected);
// A flagger waves while any of its four checkpoints (-1 none) is marked.
int timing_any_down(const int checkpoints[4]);
// The realign target of physics_hooks: the centre of the rider's next
// checkpoint once it has crossed one and while it races; 0 otherwise.
int timing_realign_target(Rider *r, float out[3]);

// Queries.
int timing_checkpoint_for(int index);  // checkpoint number of a sequence index, -1 none
int timing_is_lap_line(int index);
int timing_lap_line(int lap);          // sequence index L(n), -1 for none
int timing_next_checkpoint(int slot);  // checkpoint of the slot's progress, -1 none
int rider_completed_laps(int slot);
int rider_lap_position(int slot);
int rider_crossing_time(int slot, int index);  // -1 when none
int rider_lap_tics(int slot, int lap);         // 0 when not complete
double rider_lap_time(int slot, int lap);      // seconds, 0 when not complete
