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
};

struct StartGate {
  float x, y, z;
  float angle;       // radians, -pi..pi; riders face (-sin a, -cos a)
  int statue;        // index in the statue table, -1 for none
  float fall;        // 1 raised .. 0 down
  float fall_speed;
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

// The running order: leader first.
struct RunningEntry {
  int slot;
  int progress;
  int last_tic;  // tic of the last crossing, 0 before any
};

// Reads a track's "timing_gates" (a data name or path); a missing file
// leaves no gates. Creates the start-gate statues. 1 when the file was read.
int read_timing_gates(const char *path);
// Writes the tables to "<folder>/timing_gates" through a temporary file:
// 1, or 0 after "Can't open 'timing_gates'" in the message window.
int write_timing_gates(const char *folder);
// Writes the tables as the file's text (for the generator and tests): the
// byte count, or -1 when it does not fit.
int format_timing_gates(char *out, int size);
void timing_clear();

// Every tic after the rider's physics step.
void update_rider_timing(Rider *r);
void update_running_order();
// Clears a slot's progress (a new rider).
void timing_rider_reset(int slot);
// Cuts progress back to q: crossing times kept only below q; finished
// cleared when q is below the current progress.
void timing_set_progress(int slot, int q);
// Clears every checkpoint's down flag, then marks the next checkpoint of
// every fallen rider.
void timing_mark_down();

// Queries.
int timing_checkpoint_for(int index);  // checkpoint number of a sequence index, -1 none
int timing_is_lap_line(int index);
int timing_lap_line(int lap);          // sequence index L(n)
int rider_completed_laps(int slot);
int rider_lap_position(int slot);
int rider_crossing_time(int slot, int index);  // -1 when none
double rider_lap_time(int slot, int lap);      // seconds, 0 when not complete
