// Shared between the window and input files of this folder only.
#pragma once
#include "platform/platform.h"

// Standard aliases and the 512 system key names, once.
void names_init();
// Pumps SDL's queue into the window's events (main thread only).
void window_pump(Window *w);
// Turns one SDL event into queued events (window_pump's step).
void window_translate_event(Window *w, const void *sdl_event);
// Device sources: game controllers, other joysticks, mouse, the pointer.
void pads_open(Window *w);
void pads_close();
// Feeds SDL device events (hot-plug, mouse motion) to the device sources;
// returns 1 when the event was theirs.
int pads_handle_event(const void *sdl_event);
// Pointer position in client coordinates, as the "cursor" device reads it.
void pointer_get(int *x, int *y);
// A device's name as device_add gives it, less any "#2": spaces and "."
// dropped (they would break the "name.axis[i]" and "name axis i" forms),
// at most 51 characters, "Device" when nothing is left.
enum { DEVICE_CLEAN_NAME = 52 };
void device_clean_name(const char *name, char out[DEVICE_CLEAN_NAME]);
// Forgets the learner's state (the devices went away).
void learn_reset();
// Tests: forget aliases and the system name table.
void names_reset_for_tests();
