// Wheels to rut records: the dig vector of a contact, the averages that
// become entries, and the byte record that carries them. Only decoded
// records ever reach the ground, so the encoder follows the decoder's
// arithmetic step by step.
#include <cmath>
#include <cstring>

#include "core/mathutil.h"
#include "terrain/deform.h"

ErodeHooks erode_hooks;

// Where v lies between lo and hi, 0..1; an empty span is a step at hi.
static inline float ramp(float v, float lo, float hi) {
  if (hi == lo) return v >= hi ? 1.0f : 0.0f;
  return clamp01f((v - lo) / (hi - lo));
}

int erode_dig_vector(const WheelInput *in, int is_front, float *out_gx, float *out_gz) {
  if (!(in->depth > 0.0f)) return 0;
  float x = in->position[0], z = in->position[2];
  const float *s = terrain.surface[terrain_tile_at(x, z)].erode.s;
  TerrainVec n = terrain_normal(x, z);
  const float *v = in->velocity;
  float speed = length3(v);
  float hlen = sqrtf(v[0] * v[0] + v[2] * v[2]);
  // Without a heading there is no sideways direction to scale.
  if (!(hlen > 0.0f) || !std::isfinite(hlen)) return 0;
  float hx = v[0] / hlen, hz = v[2] / hlen;
  float sf = ramp(speed, s[ERODE_OFF_SPEED], s[ERODE_ON_SPEED]);
  const float *f = in->force;
  float p = (f[0] * n.x + f[1] * n.y + f[2] * n.z) / (n.x * n.x + n.y * n.y + n.z * n.z);
  const float *sl = in->slip;
  float slip = length3(sl);
  float kf = s[ERODE_SLIP_BASE_SCALE] + ramp(slip, s[ERODE_SLIP_LOWER], s[ERODE_SLIP_UPPER]) *
                                            (s[ERODE_SLIP_SCALE] - s[ERODE_SLIP_BASE_SCALE]);
  float proj = s[ERODE_PROJECT_TO_GROUND];
  float gx = (f[0] - p * n.x * proj) * sf * kf;
  float gz = (f[2] - p * n.z * proj) * sf * kf;
  float lat = gx * -hz + gz * hx;
  float t = (s[ERODE_LATERAL_SCALE] - 1.0f) * lat;
  gx += t * -hz;
  gz += t * hx;
  if (is_front) {
    gx *= s[ERODE_FRONT_SCALE];
    gz *= s[ERODE_FRONT_SCALE];
  }
  float r2 = gx * gx + gz * gz;
  float lower = s[ERODE_LOWER];
  // Written so that NaN fails too.
  if (!(r2 > lower * lower && r2 > 0.0009765625f) || !std::isfinite(r2)) return 0;
  float r = sqrtf(r2);
  float scale = (0.125f + 0.875f * ramp(r, lower, s[ERODE_UPPER])) / r;
  gx *= scale;
  gz *= scale;
  if (!std::isfinite(gx) || !std::isfinite(gz)) return 0;
  *out_gx = gx;
  *out_gz = gz;
  return 1;
}

void erode_wheel_reset(WheelRutState *w) {
  w->last_push_tic = 0;
  w->entry_count = 0;
  w->sum_x = w->sum_z = w->sum_gx = w->sum_gz = 0.0f;
  w->travel = 0.0f;
  w->sample_count = 0;
  w->min_dx = w->min_dz = w->max_dx = w->max_dz = 0.0f;
  w->last_x = w->last_z = 0.0f;
}

// ------------------------------------------------------------------ coding

static const float STEP_LIMIT = 1024.0f;

static inline float decode_bound(unsigned q) { return float(q) / 65535.0f * 2048.0f - 1024.0f; }

static inline unsigned encode_bound(float b) {
  if (!(b > -STEP_LIMIT)) return 0;
  if (b > STEP_LIMIT) b = STEP_LIMIT;
  return unsigned(floorf((b + 1024.0f) * 65535.0f / 2048.0f + 0.5f));
}

static inline float decode_pos(unsigned q, float extent) { return float(q) / 16777215.0f * extent; }

static inline float decode_step(unsigned b, float lo, float hi) {
  return lo + float(b) / 255.0f * (hi - lo);
}

static inline float decode_g(unsigned q) { return clamp01f(float(q) / 64.0f) * 2.0f - 1.0f; }

static inline unsigned encode_g(float g) {
  float q = floorf((g + 1.0f) * 32.0f + 0.5f);
  if (!(q > 0.0f)) return 0;
  return q > 63.0f ? 63u : unsigned(q);
}

static inline unsigned encode_step(float step, float lo, float hi) {
  if (!(step >= lo)) return 0;
  if (!(hi > lo)) return 0;
  float b = floorf(((step < hi ? step : hi) - lo) * 255.0f / (hi - lo) + 0.5f);
  return b > 255.0f ? 255u : unsigned(b);
}

static inline void put16(uint8_t *p, unsigned v) {
  p[0] = uint8_t(v);
  p[1] = uint8_t(v >> 8);
}

static inline void put24(uint8_t *p, unsigned v) {
  p[0] = uint8_t(v);
  p[1] = uint8_t(v >> 8);
  p[2] = uint8_t(v >> 16);
}

static inline void put_dig(uint8_t *p, const DigEntry &e) {
  p[0] = uint8_t(encode_g(e.gx) << 2 | (unsigned(e.n) & 3));
  p[1] = uint8_t(encode_g(e.gz) << 2 | (unsigned(e.n) >> 2 & 3));
}

int erode_pack(const WheelRutState *w, uint8_t out[RUT_RECORD_MAX]) {
  int count = w->entry_count;
  if (count <= 0) return 0;
  if (count > RUT_ENTRIES) count = RUT_ENTRIES;
  unsigned q[4] = {encode_bound(w->min_dx - 0.0625f), encode_bound(w->min_dz - 0.0625f),
                   encode_bound(w->max_dx + 0.0625f), encode_bound(w->max_dz + 0.0625f)};
  float min_dx = decode_bound(q[0]), min_dz = decode_bound(q[1]);
  float max_dx = decode_bound(q[2]), max_dz = decode_bound(q[3]);
  out[0] = 1;
  for (int k = 0; k < 4; k++) put16(out + 1 + 2 * k, q[k]);

  float extent = terrain.extent;
  const DigEntry &e0 = w->entries[0];
  unsigned qx = 0, qz = 0;
  if (extent > 0.0f) {
    float x = clamp0f(e0.x, extent);
    float z = clamp0f(e0.z, extent);
    qx = unsigned(floorf(x / extent * 16777215.0f + 0.5f));
    qz = unsigned(floorf(z / extent * 16777215.0f + 0.5f));
    if (qx > 16777215u) qx = 16777215u;
    if (qz > 16777215u) qz = 16777215u;
  }
  put24(out + 9, qx);
  put24(out + 12, qz);
  put_dig(out + 15, e0);
  float px = decode_pos(qx, extent), pz = decode_pos(qz, extent);
  for (int i = 1; i < count; i++) {
    const DigEntry &e = w->entries[i];
    uint8_t *p = out + 17 + 4 * (i - 1);
    unsigned bx = encode_step(e.x - px, min_dx, max_dx);
    unsigned bz = encode_step(e.z - pz, min_dz, max_dz);
    p[0] = uint8_t(bx);
    p[1] = uint8_t(bz);
    put_dig(p + 2, e);
    px += decode_step(bx, min_dx, max_dx);
    pz += decode_step(bz, min_dz, max_dz);
  }
  return 17 + 4 * (count - 1);
}

int erode_decode(const uint8_t *rec, int length, DigEntry out[RUT_ENTRIES]) {
  if (!rec || length < RUT_RECORD_MIN || rec[0] != 1) return 0;
  int count = 1 + (length - RUT_RECORD_MIN) / 4;
  if (count > RUT_ENTRIES) count = RUT_ENTRIES;
  float min_dx = decode_bound(rec[1] | rec[2] << 8), min_dz = decode_bound(rec[3] | rec[4] << 8);
  float max_dx = decode_bound(rec[5] | rec[6] << 8), max_dz = decode_bound(rec[7] | rec[8] << 8);
  float extent = terrain.extent;
  float x = decode_pos(rec[9] | rec[10] << 8 | unsigned(rec[11]) << 16, extent);
  float z = decode_pos(rec[12] | rec[13] << 8 | unsigned(rec[14]) << 16, extent);
  const uint8_t *d = rec + 15;
  for (int i = 0; i < count; i++) {
    if (i > 0) {
      const uint8_t *p = rec + 17 + 4 * (i - 1);
      x += decode_step(p[0], min_dx, max_dx);
      z += decode_step(p[1], min_dz, max_dz);
      d = p + 2;
    }
    DigEntry &e = out[i];
    e.x = x;
    e.z = z;
    e.gx = decode_g(d[0] >> 2);
    e.gz = decode_g(d[1] >> 2);
    e.n = (d[1] & 3) * 4 + (d[0] & 3);
  }
  return count;
}

void erode_send(const uint8_t *record, int length) {
  if (erode_hooks.send && erode_hooks.send(record, length)) return;
  if (erode_hooks.sent_offline) erode_hooks.sent_offline(record, length);
  erode_receive(record, length);
}

static void send_entries(const WheelRutState *w) {
  uint8_t rec[RUT_RECORD_MAX];
  int n = erode_pack(w, rec);
  if (n > 0) erode_send(rec, n);
}

// ---------------------------------------------------------------- sampling

// Steps past this make the record's step range unable to carry them.
static const float STEP_RANGE_MAX = 64.0f;
static const float STEP_BOUND_MAX = 1023.0f;

static void push(WheelRutState *w, int now_tic) {
  if (w->sample_count == 0) return;
  if (w->entry_count == RUT_ENTRIES) {
    send_entries(w);
    w->entry_count = 0;
  }
  float k = 1.0f / float(w->sample_count);
  DigEntry e = {w->sum_x * k, w->sum_z * k, w->sum_gx * k, w->sum_gz * k, w->sample_count};
  if (w->entry_count == 0) {
    w->entries[0] = e;
    w->entry_count = 1;
  } else {
    const DigEntry &prev = w->entries[w->entry_count - 1];
    float dx = e.x - prev.x, dz = e.z - prev.z;
    float old[4] = {w->min_dx, w->max_dx, w->min_dz, w->max_dz};
    if (w->entry_count == 1) {
      w->min_dx = w->max_dx = dx;
      w->min_dz = w->max_dz = dz;
    } else {
      w->min_dx = fminf(w->min_dx, dx);
      w->max_dx = fmaxf(w->max_dx, dx);
      w->min_dz = fminf(w->min_dz, dz);
      w->max_dz = fmaxf(w->max_dz, dz);
    }
    // A jump the record cannot encode (a teleported rider) starts a new
    // record rather than landing the rut somewhere else.
    bool too_wide = !(w->max_dx - w->min_dx <= STEP_RANGE_MAX) ||
                    !(w->max_dz - w->min_dz <= STEP_RANGE_MAX) ||
                    !(fabsf(w->min_dx) <= STEP_BOUND_MAX) || !(fabsf(w->max_dx) <= STEP_BOUND_MAX) ||
                    !(fabsf(w->min_dz) <= STEP_BOUND_MAX) || !(fabsf(w->max_dz) <= STEP_BOUND_MAX);
    if (too_wide) {
      // The entries already gathered go out with their own bounds.
      w->min_dx = old[0];
      w->max_dx = old[1];
      w->min_dz = old[2];
      w->max_dz = old[3];
      send_entries(w);
      w->entries[0] = e;
      w->entry_count = 1;
      w->min_dx = w->min_dz = w->max_dx = w->max_dz = 0.0f;
    } else {
      w->entries[w->entry_count++] = e;
    }
  }
  w->last_push_tic = now_tic;
}

static void sample(WheelRutState *w, float x, float z, float gx, float gz, int now_tic) {
  float d = 0.0f;
  if (w->sample_count > 0) {
    float dx = x - w->last_x, dz = z - w->last_z;
    d = sqrtf(dx * dx + dz * dz);
  }
  w->last_x = x;
  w->last_z = z;
  if (w->sample_count >= RUT_MAX_SAMPLES || w->travel + d >= 1.0f) {
    bool full = w->sample_count >= RUT_MAX_SAMPLES;
    float travel = w->travel + d;
    push(w, now_tic);
    w->sum_x = x;
    w->sum_z = z;
    w->sum_gx = gx;
    w->sum_gz = gz;
    w->sample_count = 1;
    w->travel = (full || travel >= 2.0f) ? 0.0f : travel - 1.0f;
  } else {
    w->sum_x += x;
    w->sum_z += z;
    w->sum_gx += gx;
    w->sum_gz += gz;
    w->sample_count++;
    w->travel += d;
  }
}

void erode_wheel_update(WheelRutState *w, const WheelInput *in, int is_front, int now_tic) {
  float gx, gz;
  float x = in->position[0], z = in->position[2], e = terrain.extent;
  // Off the ground the record could not place the entries: its first
  // position is clamped to the square, and the rest would follow it there.
  bool on_ground = x >= 0.0f && x <= e && z >= 0.0f && z <= e;
  if (on_ground && erode_dig_vector(in, is_front, &gx, &gz)) {
    sample(w, x, z, gx, gz, now_tic);
    return;
  }
  if (w->entry_count > 0 && now_tic - w->last_push_tic > 64) {
    push(w, now_tic);
    send_entries(w);
    erode_wheel_reset(w);
  }
}
