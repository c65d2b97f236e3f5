// Roost: dirt thrown by the wheels as particles from one fixed pool, flying
// under drag and gravity until they fall back to the ground. Purely for the
// eye, so the random numbers come from a generator of its own: how much dirt
// the player likes to see must not change what robots and scripts draw.
#include "core/shared.h"
#include <cmath>
#include <random>

#include "core/mathutil.h"
#include "terrain/deform.h"

RoostPool roost_pool;
int roost_density = 250;

static std::mt19937 roost_rng;

// Particles move in single precision.
static const float DT = float(TIC_SECONDS);
static const float GRAVITY_F = float(GRAVITY);
static const float FRONT_IDLE_ANGLE = 0.049087387f;  // pi / 64

// Uniform in [0, 1) from 24 random bits.
static inline float uniform() { return float(roost_rng() >> 8) * (1.0f / 16777216.0f); }

void roost_pool_reset() {
  roost_rng.seed(5489u);
  RoostPool &pool = roost_pool;
  float y = terrain_height(0.0f, 0.0f);
  for (int i = 0; i < ROOST_PARTICLES; i++) {
    RoostParticle &p = pool.p[i];
    p = RoostParticle{};
    p.y = y;
    p.size = 1.0f;
    p.texture = 0;
    for (uint8_t &c : p.color) c = 255;
    p.next = i + 1 < ROOST_PARTICLES ? i + 1 : -1;
  }
  pool.free_head = 0;
  pool.active_head = -1;
  pool.active_count = 0;
}

int roost_cap(int density) {
  if (density <= 0) return 0;
  int c = density / 100;
  if (uniform() < float(density % 100) / 100.0f) c++;
  return c;
}

static void spawn(const SurfaceRoost &r, const float pos[3], const float vel[3]) {
  RoostPool &pool = roost_pool;
  for (int k = 0; k < 3; k++)
    if (!std::isfinite(pos[k]) || !std::isfinite(vel[k])) return;
  int i = pool.free_head;
  if (i < 0) return;
  RoostParticle &p = pool.p[i];
  pool.free_head = p.next;
  p.x = pos[0];
  p.y = pos[1];
  p.z = pos[2];
  p.vx = vel[0];
  p.vy = vel[1];
  p.vz = vel[2];
  p.roost = &r;
  p.size = r.size;
  p.texture = r.texture;
  for (int k = 0; k < 4; k++) p.color[k] = r.color[k];
  p.next = pool.active_head;
  pool.active_head = i;
  pool.active_count++;
}

static void splash(const SurfaceRoost &r, const WheelInput *in, int n, int now_tic) {
  const float *v = in->velocity, *nrm = in->normal;
  float vn = dot3(v, nrm);
  float t[3] = {v[0] - nrm[0] * vn, v[1] - nrm[1] * vn, v[2] - nrm[2] * vn};
  float tl = length3(t);
  // Standing still there is no direction to splash in.
  if (!(tl > 0.0f) || !std::isfinite(tl)) return;
  float th[3] = {t[0] / tl, t[1] / tl, t[2] / tl};
  float side[3];
  cross3(nrm, th, side);
  float k = tl * 0.70710678f;
  float d0[3], d1[3];
  for (int c = 0; c < 3; c++) {
    d0[c] = (nrm[c] + side[c]) * k;
    d1[c] = (nrm[c] - side[c]) * k;
  }
  for (int i = 0; i < n; i++) {
    const float *d = ((i ^ now_tic) & 1) == 0 ? d0 : d1;
    float f = float(i) * DT / float(n);
    float pos[3], vel[3];
    for (int c = 0; c < 3; c++) {
      pos[c] = in->position[c] + d[c] * f;
      vel[c] = d[c] + (uniform() - 0.5f) * r.randomize;
    }
    float scale = r.vscale * uniform();
    for (float &c : vel) c *= scale;
    spawn(r, pos, vel);
  }
}

// v rotated by angle a about the unit axis (right-hand rule).
static void rotate(const float v[3], const float axis[3], float a, float out[3]) {
  float c = cosf(a), s = sinf(a);
  float kv[3];
  cross3(axis, v, kv);
  float kd = dot3(axis, v) * (1.0f - c);
  for (int i = 0; i < 3; i++) out[i] = v[i] * c + kv[i] * s + axis[i] * kd;
}

static void throw_dirt(const SurfaceRoost &r, const WheelInput *in, int n, float max_angle) {
  const float *slip = in->slip;
  if (!(length3(slip) >= r.slip_threshold)) return;
  float theta_max = FRONT_IDLE_ANGLE;
  if (dot3(in->velocity, slip) < 0.0f) {
    float w2 = dot3(in->angular, in->angular);
    float lo = r.slow_speed * r.slow_speed, hi = r.fast_speed * r.fast_speed;
    float f = hi == lo ? (w2 >= hi ? 1.0f : 0.0f) : (w2 - lo) / (hi - lo);
    f = clamp01f(f);
    theta_max = r.slow_angle + f * (r.fast_angle - r.slow_angle);
    if (theta_max > max_angle) theta_max = max_angle;
  }
  float arm[3];
  for (int c = 0; c < 3; c++) arm[c] = in->position[c] - in->center[c];
  for (int i = 0; i < n; i++) {
    float theta = uniform() * theta_max;
    float rel[3];
    rotate(arm, in->axle, -theta, rel);
    float spin[3];
    cross3(in->angular, rel, spin);
    float f = float(i) * DT / float(n);
    float pos[3], vel[3];
    for (int c = 0; c < 3; c++) {
      float v = in->velocity[c] + spin[c];
      pos[c] = in->center[c] + rel[c] + v * f;
      vel[c] = (v + (uniform() - 0.5f) * r.randomize) * r.vscale;
    }
    spawn(r, pos, vel);
  }
}

void roost_emit(const WheelInput *in, int cap, float max_angle, int now_tic) {
  if (!(in->depth > 0.0f) || cap <= 0) return;
  const Surface &s = terrain.surface[terrain_tile_at(in->position[0], in->position[2])];
  for (const SurfaceRoost &r : s.roost) {
    if (r.mode == ROOST_NONE) break;
    float whole = floorf(r.count);
    int n = whole > 0.0f ? (whole < float(ROOST_PARTICLES) ? int(whole) : ROOST_PARTICLES) : 0;
    if (r.count - whole > uniform()) n++;
    if (n > cap) n = cap;
    if (n <= 0) continue;
    if (r.mode == ROOST_SPLASH)
      splash(r, in, n, now_tic);
    else if (r.mode == ROOST_THROW)
      throw_dirt(r, in, n, max_angle);
  }
}

static inline bool finite_particle(const RoostParticle &p) {
  return std::isfinite(p.x) && std::isfinite(p.y) && std::isfinite(p.z) && std::isfinite(p.vx) &&
         std::isfinite(p.vy) && std::isfinite(p.vz);
}

void roost_update() {
  RoostPool &pool = roost_pool;
  int *link = &pool.active_head;
  while (*link >= 0) {
    int i = *link;
    RoostParticle &p = pool.p[i];
    const SurfaceRoost &r = *p.roost;
    p.x += p.vx * DT;
    p.y += p.vy * DT;
    p.z += p.vz * DT;
    float k = 1.0f - r.drag * DT;
    p.vx *= k;
    p.vz *= k;
    p.vy = p.vy * k - GRAVITY_F * DT;
    p.size += r.grow * DT;
    for (int c = 0; c < 4; c++) {
      int v = p.color[c] + r.fade[c];
      p.color[c] = uint8_t(v < 0 ? 0 : (v > 255 ? 255 : v));
    }
    // Non-finite particles would never land and slowly drain the pool.
    bool landed = p.vy < 0.0f && terrain_height(p.x, p.z) > p.y;
    if (landed || !finite_particle(p)) {
      p.texture = 0;
      *link = p.next;
      p.next = pool.free_head;
      pool.free_head = i;
      pool.active_count--;
      continue;
    }
    link = &p.next;
  }
}
