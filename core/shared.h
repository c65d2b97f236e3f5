// What the whole game agrees on: the tic, the rider slots, the control slots
// the player's controls add into, and the units. Defined here once.
#pragma once

// Simulated time advances in fixed tics.
constexpr int TICS_PER_SECOND = 128;
constexpr double TIC_SECONDS = 1.0 / TICS_PER_SECOND;

// Rider slots 0..159; 160 means "no slot".
enum { RIDER_SLOTS = 160, NO_SLOT = 160 };

// Every tic each game control adds value x scale into one of these.
enum ControlSlot {
  CTL_STEER = 0,  // Left +1, Right -1
  CTL_THROTTLE = 1,
  CTL_FRONT_BRAKE = 2,
  CTL_REAR_BRAKE = 3,
  CTL_SHIFT = 4,  // Upshift +1, Downshift -1
  CTL_CLUTCH = 5,
  CTL_DAB = 6,
  CTL_BACK_UP = 7,
  CTL_LEAN = 8,  // Lean Forward -1, Lean Backward +1
  CONTROL_SLOT_COUNT = 9,
};
// Short names of the slots, for logs and tools ("steer", "throttle", ...).
extern const char *const control_slot_names[CONTROL_SLOT_COUNT];

// World units: feet, slugs, pounds-force, seconds, radians; y up, x east,
// z south; gravity 32 ft/s^2 down.
constexpr double GRAVITY = 32.0;
constexpr double MPH_PER_FOOT_PER_SECOND = 0.6818182;
constexpr double FEET_PER_SECOND_PER_MPH = 1.0 / MPH_PER_FOOT_PER_SECOND;
constexpr double PI = 3.14159265358979323846;
constexpr double RADIANS_PER_DEGREE = PI / 180;
