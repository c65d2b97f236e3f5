// State shared by the race's own files.
#pragma once

struct RaceState {
  char selected_track[256];
  char loaded_folder[256];
  int first_followed;  // NO_SLOT when no rider was created
  int attached;        // ruts, roost and decals hooked into the physics
  // The session (now_tic and drop_tic are the physics world's clock).
  int replay_delay;
  int race_time_limit;  // tics, 0: laps only
  int race_laps;
  int total_laps;       // 1000000 while a timed race is open
  int halfway_lap;
  int results_final;
  int practice_mode;
  int start_hold;
  float start_point[3];
  int last_lap, best_lap;  // time trial, tics
  int flying_start_back;
  int backup_held;      // Back up was above 0.5 last tic
  int trial_laps_seen;  // the player's completed laps the lap handling saw
  int trial_laps;       // laps done since the last flying start
};
extern RaceState race;
