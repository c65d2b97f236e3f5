// The engine sound of every rider.
#pragma once

// Overall level of the engine sounds, 0..1 (quieter behind a menu).
void engine_sounds_set_level(float level);
// The sound of a slot's rider, when it has one.
void engine_sound_free(int slot);
// The exhaust pipe of a slot's engine voice: three shape values and two
// integer parameters.
void engine_sound_set_pipe(int slot, const float shape[3], const int params[2]);
