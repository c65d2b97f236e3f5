// View modes and the cameras the loop steers: the orbit camera and the
// trackside camera controls.
#include <cmath>
#include <cstdio>

#include "app/app.h"
#include "bike/physics.h"
#include "core/camera.h"
#include "gfx/camera_math.h"
#include "gfx/render.h"
#include "race/race.h"
#include "race/track.h"
#include "terrain/terrain.h"

// The camera stays above the ground as the simulation sees it.
static double ground_height(double x, double z) { return terrain_height(float(x), float(z)); }

static bool followed_local() { return rider_roles[loop.followed_rider] == ROLE_LOCAL; }

void update_view_mode() {
  int f = loop.followed_rider;
  int m = loop.view_mode;
  if (m == VIEW_NO_TRACK && track_loaded()) {
    m = rider_in_slot(f) ? VIEW_RIDER : VIEW_TRACKSIDE;
  } else if (!config.spy && m != VIEW_EDITOR && m != VIEW_ORBIT && followed_local()) {
    m = VIEW_RIDER;
  }
  if (!rider_in_slot(f)) m = VIEW_TRACKSIDE;
  if (!track_loaded()) m = VIEW_NO_TRACK;
  loop.view_mode = m;
}

// Lifting stops after MAX_LIFT_STEPS (1024 ft): a rider inside something
// that never lets go must not hang the program.

void lift_riders_clear() {
  for (int i = 0; i < RIDER_SLOTS; i++) {
    Rider *r = rider_in_slot(i);
    if (!r) continue;
    move_rider(r, 0, 0.125, 0);
    for (int n = 0; n < MAX_LIFT_STEPS && rider_intersects(r); n++) move_rider(r, 0, 0.25, 0);
    move_rider(r, 0, -0.125, 0);
  }
}

void next_view_mode() {
  switch (loop.view_mode) {
    case VIEW_RIDER:
      loop.view_mode = settings.editor ? VIEW_EDITOR : VIEW_ORBIT;
      break;
    case VIEW_EDITOR:
      terrain_bring_up_to_date();
      lift_riders_clear();
      loop.view_mode = VIEW_ORBIT;
      break;
    case VIEW_ORBIT:
      loop.view_mode = VIEW_TRACKSIDE;
      break;
    default:
      loop.view_mode = VIEW_RIDER;
      break;
  }
}

void orbit_camera_controls() {
  const float *s = loop.control_slots;
  double a = loop.orbit_angle + s[CTL_STEER] * 0.006135923151542565;
  while (a > M_PI) a -= 2 * M_PI;
  while (a <= -M_PI) a += 2 * M_PI;
  loop.orbit_angle = a;
  if (s[CTL_THROTTLE] > 0.5f)
    loop.orbit_distance = loop.orbit_distance < 0.265625 ? 0.25 : loop.orbit_distance - 1.0 / 64;
  if (s[CTL_FRONT_BRAKE] > 0.5f) loop.orbit_distance += 1.0 / 64;
  loop.orbit_height += s[CTL_SHIFT] * TIC_SECONDS;
}

void trackside_camera_controls() {
  const float *s = loop.control_slots;
  if (loop.prev_auto_slot < 0.5f && s[CTL_DAB] >= 0.5f) loop.auto_camera = !loop.auto_camera;
  loop.prev_auto_slot = s[CTL_DAB];
  if (loop.auto_camera) {
    int c = trackside_camera_for_rider(loop.followed_rider);
    if (c >= 0) loop.trackside_camera = c;
  }
  if (loop.trackside_camera != -1) return;
  double &z = loop.zoom_speed;
  if (s[CTL_THROTTLE] > 0.5f) z = z + 80 * TIC_SECONDS > 100 ? 100 : z + 80 * TIC_SECONDS;
  if (s[CTL_FRONT_BRAKE] > 0.5f) z = z - 80 * TIC_SECONDS < -100 ? -100 : z - 80 * TIC_SECONDS;
  double decay = 60 * TIC_SECONDS;
  z = z > decay ? z - decay : z < -decay ? z + decay : 0;
  if (fabs(z) > 0.0001) free_camera_move(z * TIC_SECONDS);
}

OrbitCamera orbit_camera(const OrbitInput &in) {
  double dx, dz, dist, height;
  if (in.local) {
    dx = -in.forward[0];
    dz = -in.forward[2];
    double fl = sqrt(dx * dx + dz * dz);
    if (fl > 0) {
      dx /= fl;
      dz /= fl;
    }
    double vx = -in.velocity[0], vz = -in.velocity[2];
    double speed = sqrt(vx * vx + vz * vz);
    if (!in.rigid && speed > 0) {
      vx /= speed;
      vz /= speed;
      double t = speed >= 30 ? 1 : (speed - 10) * 0.05;
      t = t < 0 ? 0 : t > 1 ? 1 : t;
      dx += (vx - dx) * t;
      dz += (vz - dz) * t;
    }
    dist = in.distance;
    height = in.height;
  } else {
    dx = sin(in.orbit_angle);
    dz = cos(in.orbit_angle);
    dist = in.orbit_distance;
    height = in.orbit_height;
  }
  double l = sqrt(dx * dx + dz * dz);
  if (l > 0) {
    dx /= l;
    dz /= l;
  }
  OrbitCamera c;
  for (int i = 0; i < 3; i++) c.target[i] = in.target[i];
  c.eye[0] = in.target[0] + dx * dist;
  c.eye[2] = in.target[2] + dz * dist;
  double ground = in.ground_height ? in.ground_height(c.eye[0], c.eye[2]) : 0;
  double over = in.target[1] + height;
  c.eye[1] = ground + 5 > over ? ground + 5 : over;
  return c;
}

OrbitCamera orbit_camera_for(int slot) {
  OrbitInput in{};
  RiderPose pose{};
  for (int i = 0; i < 9; i += 4) pose.body[FRAME].rotation[i] = 1;
  if (Rider *r = rider_in_slot(slot)) rider_get_pose(r, &pose);
  const double *pos = pose.body[FRAME].position, *rot = pose.body[FRAME].rotation;
  const double *vel = pose.body[FRAME].velocity;
  // The chase centre in the rider's body frame; forward is the body's -z
  // (z points rearwards on the bike).
  for (int i = 0; i < 3; i++) {
    in.target[i] = pos[i];
    for (int j = 0; j < 3; j++) in.target[i] += rot[3 * i + j] * settings.chase_center[j];
    in.forward[i] = -rot[3 * i + 2];
    in.velocity[i] = vel[i];
  }
  in.local = rider_roles[slot] == ROLE_LOCAL;
  in.rigid = config.rigid_camera;
  in.distance = config.third_person_distance;
  in.height = config.third_person_height;
  in.orbit_distance = loop.orbit_distance;
  in.orbit_height = loop.orbit_height;
  in.orbit_angle = loop.orbit_angle;
  in.ground_height = ground_height;
  return orbit_camera(in);
}

// ------------------------------------------------------------ frame cameras
struct FreeCamera {
  double position[3];
  double yaw, pitch;
};
static FreeCamera free_cam = {{0, 10, 0}, 0, 0};

void free_camera_at(const float p[3]) {
  for (int i = 0; i < 3; i++) free_cam.position[i] = p[i];
}

void free_camera_move(double distance) {
  double d[3] = {sin(free_cam.yaw) * cos(free_cam.pitch), sin(free_cam.pitch),
                 cos(free_cam.yaw) * cos(free_cam.pitch)};
  for (int i = 0; i < 3; i++) free_cam.position[i] += d[i] * distance;
  double g = ground_height(free_cam.position[0], free_cam.position[2]) + 2;
  if (free_cam.position[1] < g) free_cam.position[1] = g;
}

int rider_camera(int slot, FrameCamera *out) {
  Rider *r = rider_in_slot(slot);
  if (!r) return 0;
  RiderPose pose;
  rider_get_pose(r, &pose);
  RiderCameraParams p{config.first_person_height, config.first_person_gimbal, config.first_person_angle};
  double t = race_now_tic() * TIC_SECONDS, o[9];
  rider_camera_from_pose(pose.body[RIDER_BODY], p, t, &gimbal_state, out, o);
  out->fov = config.fov;
  out->own_slot = slot;
  if (settings.print_orientation) {
    // Standard output carries the video frames while they are recorded.
    FILE *f = settings.record_video ? stderr : stdout;
    fprintf(f, "t=%f p0=%f p1=%f p2=%f x0=%f x1=%f x2=%f z0=%f z1=%f z2=%f\n", t, o[0], o[1], o[2], o[3],
            o[4], o[5], o[6], o[7], o[8]);
    fflush(f);
  }
  return 1;
}

int trackside_camera(FrameCamera *out) {
  out->own_slot = -1;
  out->has_velocity = 1;
  out->velocity[0] = out->velocity[1] = out->velocity[2] = 0;
  if (keyframe_mode && keyframe_camera(race_now_tic(), out)) {
    out->has_velocity = 1;
    return 1;
  }
  int c = loop.trackside_camera;
  bool track = c >= 0 && c < track_camera_count;
  double target[3];
  OrbitCamera chase = orbit_camera_for(loop.followed_rider);
  for (int i = 0; i < 3; i++) target[i] = chase.target[i];
  bool aim = rider_in_slot(loop.followed_rider) != nullptr;
  if (track) {
    TrackCamera &tc = track_cameras[c];
    double pos[3] = {tc.x, tc.y, tc.z}, yaw = tc.view[0], pitch = tc.view[1];
    if (aim && aim_yaw_pitch(pos, target, &yaw, &pitch)) {
      tc.view[0] = float(yaw);
      tc.view[1] = float(pitch);
    }
    double fov = tc.fov;
    if (aim && tc.auto_fov_size > 0) {
      double dx = target[0] - pos[0], dy = target[1] - pos[1], dz = target[2] - pos[2];
      fov = auto_fov(tc.auto_fov_size, sqrt(dx * dx + dy * dy + dz * dz), tc.fov);
    }
    for (int i = 0; i < 3; i++) out->position[i] = pos[i];
    trackside_rotation(tc.view[0], tc.view[1], out->R);
    out->fov = fov;
    return 1;
  }
  if (aim) aim_yaw_pitch(free_cam.position, target, &free_cam.yaw, &free_cam.pitch);
  for (int i = 0; i < 3; i++) out->position[i] = free_cam.position[i];
  trackside_rotation(free_cam.yaw, free_cam.pitch, out->R);
  out->fov = config.fov;
  return 1;
}

int frame_camera(FrameCamera *out) {
  int f = loop.followed_rider;
  switch (loop.view_mode) {
    case VIEW_RIDER:
      return rider_camera(f, out);
    case VIEW_ORBIT: {
      OrbitCamera c = orbit_camera_for(f);
      for (int i = 0; i < 3; i++) out->position[i] = c.eye[i];
      look_at_rotation(c.eye, c.target, out->R);
      out->fov = config.fov;
      out->own_slot = -1;
      out->has_velocity = 0;
      return 1;
    }
    case VIEW_TRACKSIDE:
      return trackside_camera(out);
    default:
      return 0;
  }
}

int frame_camera_publish(FrameCamera *out) {
  if (!track_loaded() || !frame_camera(out)) return 0;
  camera_publish(out->position, out->R, out->fov, loop.frame_step);
  if (out->has_velocity)
    for (int i = 0; i < 3; i++) published_camera.velocity[i] = out->velocity[i];
  return 1;
}

// ----------------------------------------------------- keyframes, free camera
// The console's view of the keyframe list: keys are the frame code's
// camera_keys, made from the free trackside camera.
void free_camera_set_angles(double yaw_degrees, double pitch_degrees) {
  free_cam.yaw = yaw_degrees * M_PI / 180;
  free_cam.pitch = pitch_degrees * M_PI / 180;
}

void keycam_add(int tic) {
  const float p[3] = {float(free_cam.position[0]), float(free_cam.position[1]),
                      float(free_cam.position[2])};
  camera_key_add(camera_key_from_yaw_pitch(p, free_cam.yaw, free_cam.pitch, float(config.fov), tic));
}

void keycam_delete(int tic) {
  if (camera_key_count < 2) {
    camera_keys_clear();
    return;
  }
  for (int i = 0; i < camera_key_count; i++)
    if (camera_keys[i].tic > tic) {
      camera_key_remove(i);
      return;
    }
  camera_key_remove(camera_key_count - 1);
}

void keycam_clear() { camera_keys_clear(); }
int keycam_count() { return camera_key_count; }

const Keyframe *keycam_get(int i) {
  static Keyframe k;
  if (i < 0 || i >= camera_key_count) return nullptr;
  const CameraKey &c = camera_keys[i];
  for (int j = 0; j < 3; j++) k.pos[j] = c.position[j];
  for (int j = 0; j < 4; j++) k.rot[j] = c.rotation[j];
  k.fov = c.fov;
  k.tic = c.tic;
  return &k;
}

void keycam_replace(const Keyframe *frames, int count) {
  camera_keys_clear();
  for (int i = 0; i < count; i++) {
    CameraKey c{};
    for (int j = 0; j < 3; j++) c.position[j] = float(frames[i].pos[j]);
    for (int j = 0; j < 4; j++) c.rotation[j] = float(frames[i].rot[j]);
    c.fov = float(frames[i].fov);
    c.tic = frames[i].tic;
    camera_key_add(c);
  }
}
