// Robot riders' racing lines.
#pragma once

// Writes the learned lines of the loaded track for a skill level (0..2).
void robot_lines_save(int skill);
void robot_lines_free();
