// The physics half of the bike as the rest of the game sees it: one command
// per rider per tic goes in, one plain pose per rider comes out. No ODE here:
// cameras, drawing, demos, the network and scripts read poses, and everything
// that drives a rider (the local player, robots, demo playback, the network,
// tools) writes tic commands. The full Rider record is bike/rider.h's.
#pragma once
#include <cstdint>

#include "core/shared.h"

struct Rider;
struct RiderSetup;

enum BodyPart {
  FRAME = 0,
  FRONT_WHEEL = 1,
  REAR_WHEEL = 2,
  FORK_UPPER = 3,
  FORK_LOWER = 4,
  SWINGARM = 5,
  RIDER_BODY = 6,
  BODY_PART_COUNT = 7
};

// What drives a rider for one tic. Values are as the controls give them:
// throttle, brakes, clutch (1 engaged), sit/dab and back-up 0..1; steering
// -1..1 (+1 left); lean -1 (forward) .. +1 (backward); shift +1 up, -1 down.
struct TicCommand {
  float throttle;
  float front_brake;
  float rear_brake;
  float steering;
  float lean;
  float clutch;
  float sit_dab;
  float back_up;
  int shift;
};

// A rider as it may be drawn, followed or recorded, in world coordinates.
struct BodyPose {
  double position[3];
  double rotation[9];  // row-major: world = rotation * local + position
  double velocity[3];
};
struct RiderPose {
  BodyPose body[BODY_PART_COUNT];
  float wheel_angle[2];  // front, rear: spin about the axle, radians
  float steering_angle;  // of the fork about the steering head, radians
  double rpm;
  int gear;
  float throttle, clutch;
  int crash_timer;  // > 0 while down after a crash
  int crash_count;
};

// Settings of the physics that change how the bikes ride; they hold across
// physics_init and shutdown.
struct PhysicsOptions {
  // Off (the default), each tire's friction is the surface's coefficient in
  // the solver's friction pyramid, which bounds it by the load the step
  // finds with every contact frictionless; a bike pitching under braking so
  // pulls up to about 1.3 mu g, the feel the surfaces' friction curves are
  // made for and that recordings expect. On, each tire's coefficient is
  // scaled by the ratio of the load it carried to that estimate, learnt
  // from the last step, so no tire pulls more than mu times its load:
  // physically stricter, it brakes less hard than the usual feel.
  int strict_friction;
};
extern PhysicsOptions physics_options;

// The ODE world all riders share: 1, or 0 (logged) when it cannot be made.
int physics_init();
void physics_shutdown();

// The rider in a slot, nullptr when the slot is empty or out of range.
Rider *rider_in_slot(int slot);
int rider_slot(const Rider *r);

// Applies one tic's command (clamped as the control setters clamp).
void rider_apply_command(Rider *r, const TicCommand &c);
// The command that leaves every control as it is now.
TicCommand rider_current_command(const Rider *r);
void rider_get_pose(const Rider *r, RiderPose *out);

// Empties the slot (the record stays for the next create_rider).
void destroy_rider(Rider *r);
// Moves every body of the rider by the same offset.
void move_rider(Rider *r, double dx, double dy, double dz);
// 1 when any part of the rider touches the ground or an obstacle (a test
// only: nothing is pushed).
int rider_intersects(Rider *r);
