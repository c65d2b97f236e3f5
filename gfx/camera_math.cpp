#include "gfx/camera_math.h"

#include <cmath>
#include <cstring>

#include "bike/physics.h"

GimbalState gimbal_state;
CameraKey camera_keys[MAX_CAMERA_KEYS];
int camera_key_count = 0;
int keyframe_mode = 0;

static double clampd(double v, double lo, double hi) { return v < lo ? lo : v > hi ? hi : v; }

int projection_extents(int width, int height, double fov, float *X, float *Y) {
  if (width <= 0 || height <= 0) return 0;
  double f = tan(fov * M_PI / 360);
  double x, y;
  if (double(width) / height > 4.0 / 3) {
    y = 0.75 * f;
    x = y * width / height;
  } else {
    x = f;
    y = x * height / width;
  }
  *X = float(x);
  *Y = float(y);
  return 1;
}

void trackside_rotation(double y, double p, double R[9]) {
  double cy = cos(y), sy = sin(y), cp = cos(p), sp = sin(p);
  const double m[9] = {-cy, -sy * sp, -cp * sy, 0, cp, -sp, sy, -cy * sp, -cy * cp};
  memcpy(R, m, sizeof m);
}

int aim_yaw_pitch(const double from[3], const double to[3], double *yaw, double *pitch) {
  double dx = to[0] - from[0], dy = to[1] - from[1], dz = to[2] - from[2];
  double h = sqrt(dx * dx + dz * dz);
  if (!(h > 0 || dy != 0)) return 0;
  if (!std::isfinite(h) || !std::isfinite(dy)) return 0;
  *yaw = h > 0 ? atan2(dx, dz) : *yaw;
  *pitch = atan2(dy, h);
  return 1;
}

double auto_fov(double size, double distance, double widest) {
  if (widest < 10) widest = 10;
  if (!(distance > 0)) return widest;
  double a = 2 * atan(size / (2 * distance)) * 180 / M_PI;
  return clampd(a, 10, widest);
}

static void normalize(double v[3]) {
  double l = sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
  if (l > 0)
    for (int i = 0; i < 3; i++) v[i] /= l;
}

static void cross(const double a[3], const double b[3], double out[3]) {
  double r[3] = {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
  memcpy(out, r, sizeof r);
}

static void set_columns(double R[9], const double c0[3], const double c1[3], const double c2[3]) {
  for (int i = 0; i < 3; i++) {
    R[3 * i] = c0[i];
    R[3 * i + 1] = c1[i];
    R[3 * i + 2] = c2[i];
  }
}

void look_at_rotation(const double eye[3], const double target[3], double R[9]) {
  double c2[3] = {eye[0] - target[0], eye[1] - target[1], eye[2] - target[2]};
  normalize(c2);
  if (c2[0] == 0 && c2[1] == 0 && c2[2] == 0) c2[2] = 1;
  const double up[3] = {0, 1, 0};
  double c0[3], c1[3];
  cross(up, c2, c0);
  // Straight up or down: any right axis will do; keep east.
  if (sqrt(c0[0] * c0[0] + c0[1] * c0[1] + c0[2] * c0[2]) < 1e-9) c0[0] = 1, c0[1] = c0[2] = 0;
  normalize(c0);
  cross(c2, c0, c1);
  set_columns(R, c0, c1, c2);
}

// ------------------------------------------------------------ rider camera
void rider_eye_point(const BodyPose &b, double h, double out[3]) {
  const double local[3] = {0, 0.5 + 0.558383 * h, -0.4 - 0.79336953 * h};
  for (int i = 0; i < 3; i++) {
    out[i] = b.position[i];
    for (int j = 0; j < 3; j++) out[i] += b.rotation[3 * i + j] * local[j];
  }
}

void rider_camera_from_pose(const BodyPose &b, const RiderCameraParams &p, double t,
                            GimbalState *g, FrameCamera *out, double orientation[9]) {
  rider_eye_point(b, p.height, out->position);
  double c0[3], c1[3], c2[3];
  for (int i = 0; i < 3; i++) {
    c0[i] = b.rotation[3 * i];
    c1[i] = b.rotation[3 * i + 1];
    c2[i] = b.rotation[3 * i + 2];
  }
  if (p.gimbal > 0.5) {
    const double *s = g->direction;
    double th = atan2(s[0] * c1[0] + s[1] * c1[1] + s[2] * c1[2],
                      s[0] * c2[0] + s[1] * c2[1] + s[2] * c2[2]);
    th = clampd(th, -0.7853982, 0.7853982);
    if (t > g->time) {
      double o = 1 - p.gimbal * 0.01;
      double dt = t - g->time < 0.125 ? t - g->time : 0.125;
      double k = 1 - (o * o * o * 100 + 5) * dt;
      th = th > 0 ? fmax(th * k, 0) : fmin(th * k, 0);
    }
    double tn = tan(th);
    for (int i = 0; i < 3; i++) c2[i] += c1[i] * tn;
    normalize(c2);
    cross(c2, c0, c1);
    memcpy(g->direction, c2, sizeof c2);
    g->time = t;
  }
  if (orientation) {
    memcpy(orientation, out->position, 3 * sizeof(double));
    memcpy(orientation + 3, c0, sizeof c0);
    memcpy(orientation + 6, c2, sizeof c2);
  }
  double a = p.angle * M_PI / 180, ca = cos(a), sa = sin(a);
  for (int i = 0; i < 3; i++) {
    double u = c1[i], w = c2[i];
    c1[i] = ca * u - sa * w;
    c2[i] = sa * u + ca * w;
  }
  set_columns(out->R, c0, c1, c2);
  memcpy(out->velocity, b.velocity, sizeof out->velocity);
  out->has_velocity = 1;
}

// ------------------------------------------------------------ keyframes
CameraKey camera_key_from_yaw_pitch(const float position[3], double y, double p, float fov,
                                    int tic) {
  CameraKey k;
  memcpy(k.position, position, sizeof k.position);
  k.rotation[0] = float(cos(y / 2) * sin(p / 2));
  k.rotation[1] = float(sin(y / 2) * cos(p / 2));
  k.rotation[2] = float(-sin(y / 2) * sin(p / 2));
  k.rotation[3] = float(cos(y / 2) * cos(p / 2));
  k.fov = fov;
  k.tic = tic;
  return k;
}

int camera_key_add(const CameraKey &k) {
  if (camera_key_count >= MAX_CAMERA_KEYS) return -1;
  for (float v : k.position)
    if (!std::isfinite(v)) return -1;
  for (float v : k.rotation)
    if (!std::isfinite(v)) return -1;
  if (!std::isfinite(k.fov)) return -1;
  int i = camera_key_count;
  while (i > 0 && camera_keys[i - 1].tic > k.tic) {
    camera_keys[i] = camera_keys[i - 1];
    i--;
  }
  camera_keys[i] = k;
  camera_key_count++;
  return i;
}

void camera_key_remove(int index) {
  if (index < 0 || index >= camera_key_count) return;
  for (int i = index; i + 1 < camera_key_count; i++) camera_keys[i] = camera_keys[i + 1];
  camera_key_count--;
}

void camera_keys_clear() { camera_key_count = 0; }

void rotation_from_key(double r0, double r1, double r2, double r3, double R[9]) {
  const double m[9] = {2 * (r2 * r2 + r1 * r1) - 1, -2 * (r1 * r0 - r2 * r3), -2 * (r2 * r0 + r1 * r3),
                       2 * (r1 * r0 + r2 * r3),     1 - 2 * (r2 * r2 + r0 * r0), 2 * (r1 * r2 - r0 * r3),
                       -2 * (r2 * r0 - r1 * r3),    -2 * (r1 * r2 + r0 * r3),    2 * (r1 * r1 + r0 * r0) - 1};
  memcpy(R, m, sizeof m);
}

// Cubic Hermite from P1 to P2 with tangents from the neighbours, each
// scaled to the middle interval's length.
static double hermite(double p0, double p1, double p2, double p3, double e, double g, double u) {
  double d = p2 - p1;
  double t1 = e > 0 ? ((p1 - p0) / e + d) / 2 : 0;
  double t2 = g > 0 ? ((p3 - p2) / g + d) / 2 : 0;
  return p1 + t1 * u + (3 * d - 2 * t1 - t2) * u * u + (t1 + t2 - 2 * d) * u * u * u;
}

static void from_key(const CameraKey &k, FrameCamera *out) {
  for (int i = 0; i < 3; i++) out->position[i] = k.position[i];
  rotation_from_key(k.rotation[0], k.rotation[1], k.rotation[2], k.rotation[3], out->R);
  out->fov = k.fov;
}

int keyframe_camera(double T, FrameCamera *out) {
  int n = camera_key_count;
  if (n <= 0) return 0;
  out->own_slot = -1;
  out->velocity[0] = out->velocity[1] = out->velocity[2] = 0;
  out->has_velocity = 0;
  int i = 0;
  while (i < n && camera_keys[i].tic <= T) i++;
  if (i == 0 || i == n) {
    from_key(camera_keys[i == n ? n - 1 : 0], out);
    return 1;
  }
  const CameraKey &k0 = camera_keys[i - 2 < 0 ? 0 : i - 2], &k1 = camera_keys[i - 1],
                  &k2 = camera_keys[i], &k3 = camera_keys[i + 1 < n ? i + 1 : n - 1];
  double t0 = k0.tic, t1 = k1.tic, t2 = k2.tic, t3 = k3.tic;
  double span = t2 - t1;
  double u = span > 0 ? clampd((T - t1) / span, 0, 1) : 0;
  double e = span > 0 ? (t1 - t0) / span : 0, g = span > 0 ? (t3 - t2) / span : 0;
  for (int c = 0; c < 3; c++)
    out->position[c] = hermite(k0.position[c], k1.position[c], k2.position[c], k3.position[c], e, g, u);
  // The shorter way round: neighbours on the far side of K2 are flipped.
  double q[4][4];
  const CameraKey *ks[4] = {&k0, &k1, &k2, &k3};
  for (int j = 0; j < 4; j++)
    for (int c = 0; c < 4; c++) q[j][c] = ks[j]->rotation[c];
  for (int j = 0; j < 4; j++) {
    if (j == 2) continue;
    double dot = 0;
    for (int c = 0; c < 4; c++) dot += q[j][c] * q[2][c];
    if (dot < 0)
      for (int c = 0; c < 4; c++) q[j][c] = -q[j][c];
  }
  double r[4], len = 0;
  for (int c = 0; c < 4; c++) {
    r[c] = hermite(q[0][c], q[1][c], q[2][c], q[3][c], e, g, u);
    len += r[c] * r[c];
  }
  len = sqrt(len);
  if (len > 0)
    for (double &v : r) v /= len;
  else
    r[0] = r[1] = r[2] = 0, r[3] = 1;
  rotation_from_key(r[0], r[1], r[2], r[3], out->R);
  out->fov = k1.fov + u * (k2.fov - k1.fov);
  return 1;
}

float ghost_opacity(double d, double G) {
  if (!(G > 0)) return 1;
  return float(clampd((d - G / 2) / (G / 2), 0, 1));
}
