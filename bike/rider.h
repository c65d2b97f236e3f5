// The physics half of the bike: one ODE world shared by every rider, the
// Rider record (seven bodies, six joints, controls, engine, contacts, crash
// state), the program's own collision detection, engine and driveline,
// brakes, crashes and the steering law. Units: feet, slugs, seconds,
// pounds-force, radians; y up. One tic is 1/128 s.
#pragma once
#include <ode/ode.h>

#include <cstdint>
#include <vector>

#include "bike/bike.h"
#include "bike/physics.h"
#include "core/shared.h"
#include "terrain/terrain.h"


enum RiderJointIndex {
  JOINT_FRONT_AXLE,
  JOINT_REAR_AXLE,
  JOINT_STEERING,
  JOINT_FORK,
  JOINT_SWINGARM,
  JOINT_RIDER,
  RIDER_JOINT_COUNT
};

// ODE's soft ERP | soft CFM | friction-pyramid approximation on both
// directions; the library's own dContactApprox1 macro has another value.
constexpr int CONTACT_MODE = 0x3018;

// ---------------------------------------------------------- collision shapes
struct CollisionSphere {
  float centre[3];  // body coordinates
  float radius;
  float friction;
  float stiffness;
  float damping;
};

struct CollisionShape {
  char name[64];
  std::vector<CollisionSphere> spheres;
  float bound_radius;          // largest |centre| + radius
  std::vector<double> world;   // sphere centres in world coordinates, 3 each
  // The body position and rotation `world` was worked out for, and the
  // spheres it came from: the same pose is not transformed again.
  double posed_at[12] = {};
  const CollisionSphere *posed_spheres = nullptr;
};

// Limits a ".shp" file must keep to be loaded.
enum { SHAPE_MAX_SPHERES = 1024 };
constexpr float SHAPE_MAX_RADIUS = 100.0f;

// Parses ".shp" text; 1, or 0 with `error` (may be nullptr) describing why.
int shape_parse(const char *text, CollisionShape *out, char *error, int error_size);
// A copy of the cached shape of that file name, loading it on first use.
// 0 (with a logged message) when the file is missing or malformed.
int shape_load(const char *name, CollisionShape *out);
// Puts a shape into the cache under its name (tools and tests).
void shape_cache_put(const char *name, const CollisionShape &shape);
void shape_cache_purge();

// The default shapes the generator writes for a bike row: the spheres of
// part PART_FRAME_SHAPE, PART_FORK_UPPER_SHAPE, PART_FORK_LOWER_SHAPE,
// PART_SWINGARM_SHAPE, PART_FRONT_WHEEL_SHAPE, PART_REAR_WHEEL_SHAPE or
// PART_RIDER_SHAPE in that body's coordinates; none for other parts.
std::vector<CollisionSphere> default_shape_spheres(const BikeModel *m, int part);
// ".shp" text of the spheres: 1, or 0 when it does not fit in `size`.
int shape_format(const std::vector<CollisionSphere> &spheres, char *out, int size);

// --------------------------------------------------------------- contacts
struct WheelContact {
  dBodyID body;
  double axle_point[3];  // (1, 0, 0) in wheel coordinates
  float rim_radius;
  float tire_radius;
  float position[3];  // world
  float slip[3];      // velocity of the wheel's material at the contact
  float normal[3];    // unit
  float depth;        // <= 0: no contact
  int surface;        // surface type under the contact
  dJointFeedback feedback;  // f1: force of the ground on the wheel last step
  float mu;           // the surface's friction at this contact
  double fdir[3];     // first friction direction of the contact joint
  // Strict friction only (PhysicsOptions): the step sizes each friction
  // limit from the load the tire would carry without friction; load_ratio
  // is the ratio of the load it did carry to that one, learnt when the
  // friction last reached its limit (0.25..1), and the rest what the
  // learning reads after the step.
  double arm[3];      // the contact from the wheel centre as the step began
  float load_ratio;
  int joint_tic;      // tic of the last contact joint; -1 none
};

// Flag bits of a contact test, one per body part.
enum {
  HIT_FRAME = 1,
  HIT_FRONT_WHEEL = 2,
  HIT_REAR_WHEEL = 4,
  HIT_FORK_UPPER = 8,
  HIT_FORK_LOWER = 16,
  HIT_SWINGARM = 32,
  HIT_RIDER_BODY = 64
};

enum ContactMode { CONTACT_JOINTS = 0, CONTACT_FORCES = 1 };

// A static obstacle of the track (a statue with a shape).
struct Obstacle {
  const CollisionShape *shape;
  float position[3];
  float orientation[9];  // row-major: world = orientation * local + position
  int *contact_tic;      // may be nullptr
};

// ------------------------------------------------------------------ rider
enum RiderFlag {
  RF_STEER_INPUT = 1,
  RF_WHEELIE_ENGINE = 2,  // no engine torque while the front is up
  RF_WHEELIE_FRONT = 4,   // no front brake while only the front touches
  RF_FRONT_ANTILOCK = 8,
  RF_REAR_ANTILOCK = 16,
  RF_AUTO_SHIFT = 32,
  RF_AUTO_DAB = 64,
  RF_REALIGN = 128
};

struct Rider {
  // identity
  int in_use;
  int slot;
  int model;  // bike table row
  int simulated;
  char name[64];
  char number[8];
  char bike_texture[256];  // as given; the engine sound's definition is named after it

  dBodyID body[BODY_PART_COUNT];
  dJointID joint[RIDER_JOINT_COUNT];
  dJointFeedback feedback[RIDER_JOINT_COUNT];

  // controls
  float throttle, clutch, front_brake, rear_brake, steering, sit_dab, dab_assist, back_up, lean;
  float sit_dab_input;  // the player's own, before the automatic dab
  int gear;
  int shift_request;

  // driveline
  double phase;         // rad, -pi..pi
  double engine_speed;  // rad/s
  double torque;        // the engine's in the last tic, wheelie stopper included
  float final_drive;

  // suspension
  float fork_hs_compression, fork_ls_compression, fork_hs_rebound, fork_ls_rebound;
  float fork_spring, fork_preload, fork_air_gap;
  float shock_hs_compression, shock_ls_compression, shock_hs_rebound, shock_ls_rebound;
  float shock_spring, shock_preload;
  float rider_yspring, rider_ydamping, rider_zspring, rider_zdamping;

  // riding aids
  float leveling, roll_damping, roll_limit_angle, roll_limit_factor;
  float steering_damping, steering_strength, max_steering_force, direct_steering;
  float slow_damping_speed, slow_damping_factor;
  float land_rampup, land_falloff, land_factor;
  float auto_clutch_rpm, front_brake_torque, rear_brake_torque, max_dab_speed;
  float full_lock_speed, restricted_lock_speed, restricted_lock;
  int flags;  // RiderFlag bits
  int arcade;

  WheelContact wheel[2];  // front, rear

  // crash state
  int crash_timer;
  int crash_count;
  float foot[2][3];
  float foot_vel[2][3];
  float bump;
  int takeoff_tic, landing_tic;

  float total_mass;
  float land_level;
  float sigma;  // steering-lock saturation, 0..1
  float lean_angle;  // the frame's, kept for frames held vertical
  float weight;  // local simulation weight
  float velocity_ring[4][3];  // rider body velocity, by tic mod 4
  int last_rider_hit_tic;
  int sample_tic;
  int nonfinite_resets;
  double last_good[3];  // frame position of the last finite tic
  double last_good_heading;

  CollisionShape shape[BODY_PART_COUNT];  // wheels' shapes only for statues and drawing

  void *user;  // robot line state and other owners' data
};

extern Rider riders[RIDER_SLOTS];

// ------------------------------------------------------------------ world
struct PhysicsWorld {
  dWorldID world;
  dJointGroupID contacts;
  int now_tic;    // tics since the track loaded
  int drop_tic;   // the start gate's drop
  int extra_down[16];  // extra tics down per crash count (a server sets them)
  int step_escapes;    // steps ODE gave up on (the riders were mended)
};
extern PhysicsWorld physics;

// What other subsystems plug in; every hook may be null.
struct PhysicsHooks {
  // Obstacles whose grid cells lie around (x, z): fills up to `max`.
  int (*obstacles_near)(float x, float z, Obstacle *out, int max);
  // The point the realign motor turns a fallen rider towards; 0: no target
  // (no timing gates, no checkpoint crossed yet, or finished).
  int (*realign_target)(Rider *r, float out[3]);
  void (*realign_spoiled)(Rider *r);
  // After the contacts of a tic (roost) and after the step (ruts).
  void (*wheel_roost)(Rider *r, const WheelContact *w, float max_angle);
  void (*wheel_rut)(Rider *r, const WheelContact *w);
  // Called by the race for each robot before its update.
  void (*robot_drive)(Rider *r);
  // Whether a rider simulated here meets a replayed one (a server race's
  // rule for nearby riders). Null: never, as offline, where replayed riders
  // are ghosts and demo riders that nothing may push.
  int (*meets_replayed)(Rider *own, Rider *replayed);
  // Called by the race for each rider simulated here after its timing.
  void (*line_record)(Rider *r);
  void (*rider_reset)(Rider *r);  // clears robot line state
  // The drawing's pictures and models of a new rider (names in
  // GraphicsGroup order, any may be nullptr) and their release; headless
  // runs leave these empty and load nothing.
  void (*graphics_create)(Rider *r, const char *const textures[GFX_GROUP_COUNT]);
  void (*graphics_free)(Rider *r);
};
extern PhysicsHooks physics_hooks;

// Soft-joint conversion of a spring kp and damper kd at the tic length.
void soft_erp_cfm(double kp, double kd, double *erp, double *cfm);

// The pieces of a tic; the race runs them in its own order (with robots,
// timing and lines between), physics_tic runs them alone for tools and
// tests. Contacts of every simulated rider with the world and each other:
void physics_contacts();
// The wheel samples for roost (a replayed rider's wheels sampled against
// the ground first), visited in the occupied slots' order from position
// now_tic mod their count:
void physics_wheel_samples();
// The world step, the contact group emptied, the ruts queued:
void physics_step();
// A replayed rider knocked loose is simulated here for a while: its weight
// falls back by 1/128 each tic.
void rider_weight_countdown(Rider *r);
// Whether the rider update runs here this tic (weight above 0.25).
int rider_updated_here(const Rider *r);
// Every rider's weight countdown and update, in slot order.
void physics_update_riders();
// Contacts, samples, step, update, then now_tic + 1.
void physics_tic();

// --------------------------------------------------------- rider lifetime
// nullptr when the slot is outside 0..159 or the world is missing.
Rider *create_rider(int slot, const char *bike_name, int simulated_here, const char *number,
                    const char *rider_texture, const char *head_texture,
                    const char *bike_texture, const char *wheel_texture);
void reset_rider(Rider *r);
void turn_rider(Rider *r, const double axis[3], double angle);
void reattach_rider_body(Rider *r);
void set_local_simulation_weight(Rider *r, float w);
// The setup's values for this rider (gearing, suspension, aids, masses);
// 1 when the mechanic applied them.
int rider_apply_setup(Rider *r, const RiderSetup *s, int arcade_allowed, double game_time);
// Copies converted values in without the mechanic's checks.
void rider_set_adjust(Rider *r, const RiderAdjust *a);

const BikeModel *rider_model(const Rider *r);
// Lean of a body: positive when it leans to its left. `previous` is kept
// when the body points straight up or down.
float body_lean_angle(dBodyID b, float previous);
float rider_lean(Rider *r);
float rider_speed(const Rider *r);  // |frame velocity|
double rider_rpm(const Rider *r);

// The update of one rider after the step (crashes, steering, suspension,
// engine, dab), once per tic for every rider updated here.
void rider_update(Rider *r);

// Digest of every body's state, for determinism checks.
uint64_t rider_state_hash(const Rider *r, uint64_t h);

// ------------------------------------------------------------- contacts
// `grip_scale` 1, or the arcade lean reduction.
int wheel_ground_contact(Rider *r, WheelContact *w, float grip_scale);
int wheel_ground_sample(WheelContact *w);
int shape_ground_contact(CollisionShape *shape, dBodyID body);
int shape_shape_contact(CollisionShape *a, dBodyID body_a, CollisionShape *b, dBodyID body_b,
                        int mode);
int wheel_shape_contact(CollisionShape *shape, dBodyID body, WheelContact *w, int mode);
int rider_collide_world(Rider *r);
int rider_collide_riders(Rider *a, Rider *b, int mode);
// Riders whose frames are farther apart than this (ft) meet nothing.
constexpr double RIDERS_MEET = 20.0;
// After the world step, with strict friction: the wheel's load ratio from
// the forces and motion the step gave its contact joint (does nothing
// without one this tic).
void wheel_friction_learn(WheelContact *w);
// Script queries: depth, and when above 0 the contact position, slip
// velocity and the contact point's velocity without the wheel's spin.
float wheel_query(Rider *r, int which, float pos[3], float slip[3], float ground_vel[3]);
// Friction coefficient of a surface at slip velocity and rolling speed.
float surface_friction(const Surface *s, const float slip[3], float slip_along_no_spin);

// Geometry used by the contacts (exposed for tests): the deepest
// penetration of a torus (centre c, unit axle a, radii R and r) or a sphere
// into a triangle. Depth > 0 means touching; point on the surface, normal
// out of the triangle.
double torus_triangle(const double c[3], const double a[3], double R, double r,
                      const TerrainTriangle &t, double point[3], double normal[3]);
double sphere_triangle(const double c[3], double radius, const TerrainTriangle &t,
                       double point[3], double normal[3]);
// The wheel's contact with the ground: the deepest penetration of the
// torus over the triangles of the terrain under it (0: none).
double tire_ground_deepest(const double c[3], const double a[3], double R, double r,
                           double point[3], double normal[3]);

// --------------------------------------------------- engine and controls
void rider_set_throttle(Rider *r, float v);
void rider_set_clutch(Rider *r, float v);
void rider_set_front_brake(Rider *r, float v);
void rider_set_rear_brake(Rider *r, float v);
void rider_set_steering(Rider *r, float v);
void rider_set_sit_dab(Rider *r, float v);
void rider_set_back_up(Rider *r, float v);
void rider_set_lean(Rider *r, float v);
void shift(Rider *r, int request);
void crash(Rider *r);
// Sets every body moving at `v` with the wheels rolling and the engine
// turning to match the gear (starts at speed for tools and tests).
void rider_set_velocity(Rider *r, const double v[3]);
// Engine torque at an rpm and throttle, with the row's two curves.
double engine_torque(const BikeModel *m, double rpm, double throttle);
// Where the drawn rider's feet go: targets and weights.
void rider_foot_pose(Rider *r, float target[2][3], float weight[2]);
// The point on the ground a foot dabs at (side 0 left, 1 right): 1, or 0
// when the bike leans the other way.
int dab_foot_point(Rider *r, int side, double out[3]);
// Damping force magnitude of a suspension damper (speed v >= 0).
double damping_curve(double v, double high, double low);
// Shock travel and its slope at swingarm fraction x.
void linkage_curve(const BikeModel *m, double x, double *s, double *slope);

// Parts of the rider update (engine.cpp, steer.cpp, rider.cpp).
void engine_update(Rider *r);
void brakes_update(Rider *r);
void auto_shift_update(Rider *r);
void crash_update(Rider *r);
void auto_dab_update(Rider *r);
void dab_update(Rider *r);
void feet_update(Rider *r);
void steering_update(Rider *r);
void steering_damping(Rider *r);
void apply_steering_torque(Rider *r, double x);
int wheel_touching(const Rider *r, int which);
