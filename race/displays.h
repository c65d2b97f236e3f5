// What the race shows, as text and numbers worked out from the race state:
// the results overlay, the gap rule, the followed rider's timing display,
// the information lines, the starter's walk, the finish flagger, the
// flaggers and the lap counter. Drawing them is the HUD's.
#pragma once
#include "core/shared.h"

// The number a rider wears ("%3s" in the tables); the slot's place + 1
// when no rider is there.
const char *display_number(int slot);

// The gap between a row and the row it is compared with, in tics: the
// compared rider's crossing tic minus this one's at the last entry both
// crossed (negative behind); 0 when a tic is missing or only one rides.
int race_gap_tics(int slot, int compared_slot);

struct OverlayRow {
  int slot;
  int followed;  // drawn in its own colour
  char pos[12], number[16], lap[16], gap[24], best[24], blap[16];
};
struct ResultsOverlay {
  int shown;  // the first rider of the shown order has finished
  int final_results;
  char title[24];
  int row_count;
  OverlayRow rows[RIDER_SLOTS];
  char total[48];  // "" unless final
  int penalty_count;
  char penalties[RIDER_SLOTS][96];
};
extern const char *const OVERLAY_HEADS[6];
void results_overlay(int followed, ResultsOverlay *out);

struct TimingDisplay {
  char number[16];
  char place[32];  // "L%d P%d", or "P%d" in practice
  char gap[24];    // "%+.1f " or ""
  char last[48];   // "Last - ..." or ""
  char best[48];   // "Best - ..." or ""
  char lapping[256];  // riders about to lap the followed one, or ""
};
void timing_display(int slot, TimingDisplay *out);

// The information lines switched by the configuration, one per line.
struct InfoSwitches {
  int fps, time, ping, speed, render_stats;
};
struct InfoValues {
  double fps;
  int connected, ping_ms, offset_ms;
  double speed;  // feet per second
  int dabbing;
  // ground polygons, model polygons, billboards, decals, texture changes,
  // shader changes: this frame's and the largest seen; erode buffered
  int stats[6], stats_max[6], erode_buffered;
};
// Fills `out` with lines separated by "\n"; the byte count.
int info_lines(const InfoSwitches &on, const InfoValues &v, char *out, int size);

// The starter at race time t seconds: where it stands (height above the
// ground in y) and which texture 0..4 it shows.
void starter_state(double t, float position[3], int *texture);
// The finish flagger's texture 0..3: normal, halfway, last lap, finished.
int finish_flagger_texture();

// "Lap %d" of the leader, and the box colour: 0 green, 1 white (last lap),
// 2 chequered (the leader finished). 0 when there is nothing to count.
int lap_counter(char *text, int size, int *box);
