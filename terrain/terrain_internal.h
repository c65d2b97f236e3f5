// Entry points inside the terrain library, for its own files, its tests and
// its fuzzers. Not part of the interface other subsystems use.
#pragma once
#include "terrain/terrain.h"

// Number parsing shared by the surface files: the longest decimal
// floating-point prefix after optional blanks; "nan", "inf", hex and values
// beyond the float range are not numbers. Advances *p past it on success.
int parse_decimal_float(const char **p, float *out);

// Reads the header and samples of an open "terrain.hf" into the (freed)
// terrain; a height map is looked for in `dir`. 1, or 0 after a message.
int terrain_load_heights(const char *dir, DataFile *f);

// Largest size exponent terrain_load accepts (tests and fuzzers lower it).
extern int terrain_shift_limit;
