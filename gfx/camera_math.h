// Cameras as numbers: the projection's extents, the rider's eye with its
// gimbal, the trackside yaw and pitch, the keyframe path, the orbit's
// look-at and the ghosts' opacity. No GL here: headless runs work out and
// publish the same cameras a window draws from.
#pragma once

struct BodyPose;

// A camera: position and a row-major rotation whose columns are right, up
// and backward in world axes (it looks along minus the third column).
struct FrameCamera {
  double position[3];
  double R[9];
  double fov;       // degrees across a 4:3 picture
  int own_slot;     // the rider whose eyes these are, -1 none
  double velocity[3];
  int has_velocity;  // 0: the publisher works it out from the last frame
};

// Half extents of the view at distance 1 for a drawable and field of view:
// the horizontal field of view spans a 4:3 picture, wider windows see more
// at the sides, taller ones more above and below. 0 for an empty drawable.
int projection_extents(int width, int height, double fov, float *X, float *Y);

// The trackside rotation: yaw 0 looks south (+z), positive pitch looks up.
void trackside_rotation(double yaw, double pitch, double R[9]);
// Yaw and pitch that look from `from` at `to`; 0 (unchanged) when the two
// points are the same.
int aim_yaw_pitch(const double from[3], const double to[3], double *yaw, double *pitch);
// The field of view in which an object of size s fills the view at
// `distance`, between 10 degrees and `widest`.
double auto_fov(double size, double distance, double widest);
// Looks from eye at target with the up vector vertical (the orbit camera).
void look_at_rotation(const double eye[3], const double target[3], double R[9]);

// ------------------------------------------------------------ rider camera
struct RiderCameraParams {
  double height;   // first_person_height
  double gimbal;   // first_person_gimbal, 0..100
  double angle;    // first_person_angle, degrees down
};
struct GimbalState {
  double direction[3];  // the view's backward axis last frame, 0 at first
  double time;          // seconds of race time of that frame
};
extern GimbalState gimbal_state;
// The eye point of a rider body pose (body coordinates to world).
void rider_eye_point(const BodyPose &body, double height, double out[3]);
// The rider's camera at race time t (seconds) from its body pose; the
// gimbal state is read and updated. `orientation`, when given, receives
// the eye point, right and backward axes before the view is tilted down
// (what "--print-orientation" prints).
void rider_camera_from_pose(const BodyPose &body, const RiderCameraParams &p, double t,
                            GimbalState *g, FrameCamera *out, double orientation[9]);

// ------------------------------------------------------------ keyframes
struct CameraKey {
  float position[3];
  float rotation[4];  // r0..r3
  float fov;
  int tic;
};
enum { MAX_CAMERA_KEYS = 1024 };
extern CameraKey camera_keys[MAX_CAMERA_KEYS];
extern int camera_key_count;
extern int keyframe_mode;  // the trackside view follows the keys when on
// A key looking along yaw and pitch.
CameraKey camera_key_from_yaw_pitch(const float position[3], double yaw, double pitch,
                                    float fov, int tic);
// Inserts a key after those of the same or an earlier tic: its index, or
// -1 when the list is full or a value is not finite.
int camera_key_add(const CameraKey &k);
void camera_key_remove(int index);
void camera_keys_clear();
void rotation_from_key(double r0, double r1, double r2, double r3, double R[9]);
// The keyframe camera at tic T: 0 when there are no keys.
int keyframe_camera(double T, FrameCamera *out);

// ------------------------------------------------------------ ghosts
// A replayed rider d feet from the player fades out below G/2 and is fully
// there from G on; G of 0 or less turns the fading off.
float ghost_opacity(double d, double G);
