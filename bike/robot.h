// Robot riders' racing lines.
#pragma once

// Writes the learned lines of the loaded track for a skill level (0..2).
void robot_lines_save(int skill);
void robot_lines_free();
// Empties every line table; they stay allocated for the same track.
void robot_lines_clear();
// Reads the track folder's lines file of a skill level ("lines_novice",
// "lines_amateur", "lines_expert"): 1 when its tables were taken.
int robot_lines_load(const char *folder, int skill);
void robot_lines_analyze();
// Forgets which robot follows which line (every load).
void robot_lines_reset_bookkeeping();
