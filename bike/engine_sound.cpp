// Engine sound arrives with its own work; until then the bikes are silent.
#include "bike/engine_sound.h"

void engine_sounds_set_level(float) {}
void engine_sound_free(int) {}
