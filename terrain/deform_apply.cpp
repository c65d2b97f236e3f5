// The erode queue and what it does to the ground: decoded dig entries wait
// in one ring and a bounded number per frame are dug out and laid down
// behind, shaped by the surface's deformation record.
#include <climits>
#include <cmath>

#include "core/core.h"
#include "core/mathutil.h"
#include "terrain/deform.h"

static DigEntry queue[ERODE_QUEUE_SIZE];
static int queue_head, queue_count;
static int hold_tic = INT_MAX;
static int full_reported;

void erode_queue_clear() {
  queue_head = 0;
  queue_count = 0;
  hold_tic = INT_MAX;
}

int erode_queue_length() { return queue_count; }

void erode_receive(const uint8_t *record, int length) {
  DigEntry e[RUT_ENTRIES];
  int n = erode_decode(record, length, e);
  for (int i = 0; i < n; i++) {
    if (queue_count == ERODE_QUEUE_SIZE) {
      if (!full_reported) add_message("Erode queue full!");
      full_reported = 1;
      continue;
    }
    queue[(queue_head + queue_count) % ERODE_QUEUE_SIZE] = e[i];
    queue_count++;
  }
}

// ------------------------------------------------------------------ kernels

// Windows wider than this many samples each way are cut: a radius that big
// only comes from a damaged surface file and would stall the frame.
static const int MAX_WINDOW = 1024;

struct Window {
  int cx, cz, g;
  float gx, gz, rg;
};

// 0 when the point or radius cannot form a window (non-finite, far off the
// grid, or no samples inside the radius).
static int window_at(float x, float z, float r, Window *w) {
  if (!terrain.heights || !std::isfinite(x) || !std::isfinite(z) || !(r > 0.0f) ||
      !std::isfinite(r))
    return 0;
  float inv = terrain.inv_spacing;
  float gx = x * inv, gz = z * inv, rg = r * inv;
  float far = float(terrain.size + 2 * MAX_WINDOW);
  if (!(fabsf(gx) < far && fabsf(gz) < far) || !(rg > 0.0f)) return 0;
  w->gx = gx;
  w->gz = gz;
  w->rg = rg;
  float g = ceilf(rg);
  w->g = g > float(MAX_WINDOW) ? MAX_WINDOW : int(g);
  w->cx = int(floorf(gx));
  w->cz = int(floorf(gz));
  return 1;
}

static inline float bump(const Window &w, int i, int j) {
  float dx = float(i) - w.gx, dz = float(j) - w.gz;
  float t = sqrtf(dx * dx + dz * dz) / w.rg;
  if (!(t <= 1.0f)) return -1.0f;
  return (2.0f * t - 3.0f) * t * t + 1.0f;
}

static void finish(const Window &w) {
  terrain_mark_dirty(w.cx - w.g + 1, w.cz - w.g + 1, w.cx + w.g, w.cz + w.g);
  terrain.change_count++;
}

static inline void raise_sample(int i, int j, float delta) {
  Terrain &t = terrain;
  if (t.frozen || i < 0 || j < 0 || i >= t.size || j >= t.size) return;
  float &h = t.heights[size_t(j) * t.size + i];
  h += delta;
  if (h < t.min_height) t.min_height = h;
  if (h > t.max_height) t.max_height = h;
  t.change_flags = 7;
}

float terrain_dig(float x, float z, float r, float amplitude) {
  Window w;
  if (!window_at(x, z, r, &w)) return 0.0f;
  float total = 0.0f;
  for (int j = w.cz - w.g + 1; j <= w.cz + w.g; j++)
    for (int i = w.cx - w.g + 1; i <= w.cx + w.g; i++) {
      float k = bump(w, i, j);
      if (k < 0.0f) continue;
      float d = amplitude * k;
      total += d;
      raise_sample(i, j, d);
    }
  finish(w);
  return total;
}

void terrain_deposit(float x, float z, float r, float amount) {
  Window w;
  if (!window_at(x, z, r, &w)) return;
  // The bump of each sample is wanted twice, for the total and the share:
  // kept for windows of a usual size.
  const int side = 2 * w.g;
  float kept[32 * 32];
  const bool keep = side <= 32;
  float weight = 0.0f;
  for (int j = w.cz - w.g + 1; j <= w.cz + w.g; j++)
    for (int i = w.cx - w.g + 1; i <= w.cx + w.g; i++) {
      float k = bump(w, i, j);
      if (keep) kept[(j - (w.cz - w.g + 1)) * side + (i - (w.cx - w.g + 1))] = k;
      if (k >= 0.0f) weight += k;
    }
  float per = amount / (weight > 1.0f ? weight : 1.0f);
  for (int j = w.cz - w.g + 1; j <= w.cz + w.g; j++)
    for (int i = w.cx - w.g + 1; i <= w.cx + w.g; i++) {
      float k = keep ? kept[(j - (w.cz - w.g + 1)) * side + (i - (w.cx - w.g + 1))] : bump(w, i, j);
      if (k >= 0.0f) raise_sample(i, j, per * k);
    }
  finish(w);
}

// ------------------------------------------------------------- application

// Height of the ground as loaded, by the same triangles as terrain_height.
static float base_height(float x, float z) {
  float *now = terrain.heights;
  terrain.heights = terrain.base_heights;
  float h = terrain_height(x, z);
  terrain.heights = now;
  return h;
}

// The outer and inner scales at dug depth D.
static void limit_scales(const SurfaceErode &e, float D, float *outer, float *inner) {
  const float *s = e.s;
  int k = e.limit_count;
  if (k < 1) k = 1;
  if (k > ERODE_LIMITS_MAX) k = ERODE_LIMITS_MAX;
  const float *d = s + ERODE_LIMIT_DEPTH;
  float P = 0.0f;
  if (k > 1 && D >= d[0]) {
    P = float(k - 1);
    for (int l = 1; l < k; l++)
      if (d[l] > D) {
        P = float(l - 1) + (D - d[l - 1]) / (d[l] - d[l - 1]);
        break;
      }
  }
  int i0 = int(P);
  int i1 = i0 + 1 < k ? i0 + 1 : k - 1;
  float f = P - float(i0);
  const float *so = s + ERODE_LIMIT_OUTER, *si = s + ERODE_LIMIT_INNER;
  *outer = so[i0] + f * (so[i1] - so[i0]);
  *inner = si[i0] + f * (si[i1] - si[i0]);
}

// 1 when the ground was dug, 0 when there was nothing to dig (rate 0), -1
// when the entry was skipped for the slope or as unreadable.
static int apply_entry(const DigEntry *e, float rate) {
  float x = e->x, z = e->z;
  if (!std::isfinite(x) || !std::isfinite(z) || !std::isfinite(e->gx) || !std::isfinite(e->gz))
    return -1;
  const SurfaceErode &se = terrain.surface[terrain_tile_at(x, z)].erode;
  const float *s = se.s;
  float u = terrain_height(x, z);
  float g = sqrtf(e->gx * e->gx + e->gz * e->gz);
  float w = ((g - 0.125f) * 1.1428572f);
  w = clamp01f(w) * s[ERODE_DISPLACEMENT];
  // A dig without direction lays its material back where it came from.
  float bx = x, bz = z;
  if (g > 0.0f) {
    bx = x - e->gx / g * w;
    bz = z - e->gz / g * w;
  }
  float B = terrain_height(bx, bz);
  float rise = B - u;
  if (rise > s[ERODE_MAX_SLOPE] * w || rise < s[ERODE_MIN_SLOPE] * w) return -1;
  float a = rate * 0.00048828125f;
  if (rise < 0.0f) a *= 1.0f + s[ERODE_DOWNHILL_SCALE] * (u - B) / w;
  if (!(a != 0.0f) || !std::isfinite(a)) return 0;
  float D = base_height(x, z) - u;
  float outer, inner;
  limit_scales(se, D, &outer, &inner);
  float removed_outer =
      terrain_dig(x, z, s[ERODE_RADIUS], -(float(e->n) * outer * s[ERODE_DEPTH] * a));
  float removed_inner = terrain_dig(x, z, s[ERODE_INNER_RADIUS], -(inner * s[ERODE_INNER_DEPTH] * a));
  terrain_deposit(bx, bz, s[ERODE_RADIUS], -(removed_outer + removed_inner));
  return 1;
}

int erode_apply_entry(const DigEntry *e, float rate) { return apply_entry(e, rate) > 0; }

void erode_process(const float *viewer, float rate, int now_tic) {
  if (!terrain.heights) return;
  int frozen = terrain.frozen;
  terrain.frozen = 0;
  int c = queue_count;
  if (now_tic > hold_tic || c > 8192) {
    hold_tic = INT_MAX;
    viewer = nullptr;
  }
  int budget = c / 512 + (c > 8192 ? c - 8192 : 0) / 64 + 4;
  for (; budget > 0 && queue_count > 0; budget--) {
    const DigEntry &e = queue[queue_head];
    if (viewer) {
      float dx = e.x - viewer[0], dz = e.z - viewer[2];
      if (dx * dx + dz * dz < 100.0f) {
        int until = now_tic > INT_MAX - 256 ? INT_MAX : now_tic + 256;
        if (until < hold_tic) hold_tic = until;
        break;
      }
    }
    DigEntry taken = e;
    queue_head = (queue_head + 1) % ERODE_QUEUE_SIZE;
    queue_count--;
    // Only an entry that was applied ends a hold: one skipped for its
    // slope leaves the deadline of the entry waiting near the viewer.
    if (apply_entry(&taken, rate) >= 0) hold_tic = INT_MAX;
  }
  terrain.frozen = frozen;
}
