#include "core/shared.h"

const char *const control_slot_names[CONTROL_SLOT_COUNT] = {
    "steer", "throttle", "front_brake", "rear_brake", "shift",
    "clutch", "dab", "back_up", "lean"};
