// Decals: textured rectangles on the ground, read from the track's "decals"
// file and sorted into an 8 x 8 grid of buckets so that redrawing a piece of
// the ground texture only looks at the decals that can touch it.
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "core/core.h"
#include "terrain/deform.h"

Decal *decals;
int decal_count;
int decals_hidden;
static int decal_capacity;

static std::vector<int> buckets[DECAL_BUCKETS * DECAL_BUCKETS];
static std::vector<int> merged;
// Set while decal lists exist; terrain.decals is non-null then too.
static int lists_exist;

static int load_texture(const char *name) {
  return terrain_hooks.load_texture ? terrain_hooks.load_texture(name) : 0;
}

// The companion texture: the name up to its last '.', then the suffix with
// ".png", else with ".ppm".
static int companion(const char *name, const char *suffix) {
  std::string base = name;
  size_t dot = base.rfind('.');
  size_t slash = base.rfind('/');
  if (dot != std::string::npos && (slash == std::string::npos || dot > slash)) base.resize(dot);
  int id = load_texture((base + suffix + ".png").c_str());
  return id ? id : load_texture((base + suffix + ".ppm").c_str());
}

static int append(const Decal &d) {
  if (decal_count == decal_capacity) {
    int cap = decal_capacity ? decal_capacity * 2 : 16;
    void *p = mem_realloc(decals, sizeof(Decal) * size_t(cap));
    if (!p) return 0;
    decals = static_cast<Decal *>(p);
    decal_capacity = cap;
  }
  decals[decal_count++] = d;
  return 1;
}

int decals_load(DataFile *f) {
  int added = 0;
  for (;;) {
    Decal d{};
    int fields = data_scanf(f, "[ %f %f ] %f %f %f %1023s ", &d.x, &d.z, &d.angle, &d.size,
                            &d.aspect, d.name);
    if (fields != 6) break;
    // A record with a non-number would put the decal nowhere or everywhere.
    if (!std::isfinite(d.x) || !std::isfinite(d.z) || !std::isfinite(d.angle) ||
        !std::isfinite(d.size) || !std::isfinite(d.aspect))
      continue;
    d.texture = load_texture(d.name);
    if (!d.texture) continue;
    d.normal_texture = companion(d.name, "_tnorm");
    d.spec_texture = companion(d.name, "_tspec");
    d.sin_angle = sinf(d.angle);
    d.cos_angle = cosf(d.angle);
    if (!append(d)) break;
    added++;
  }
  decals_rebucket();
  return added;
}

int decals_load_dir(const char *dir) {
  decals_free();
  lists_exist = 1;
  terrain.decals = &decal_count;
  std::string path = std::string(dir) + "/decals";
  DataFile *f = data_open(path.c_str(), "rb");
  if (f) {
    show_progress("Loading decals");
    decals_load(f);
    data_close(f);
    show_progress("Loading decals...done");
  }
  decals_rebucket();
  return 1;
}

void decals_free() {
  mem_free(decals);
  decals = nullptr;
  decal_count = 0;
  decal_capacity = 0;
  for (std::vector<int> &b : buckets) b.clear();
  merged.clear();
  if (lists_exist) terrain.decals = nullptr;
  lists_exist = 0;
}

int decals_save_dir(const char *dir) {
  std::string path = std::string(dir) + "/decals";
  DataFile *f = data_create(path.c_str());
  if (!f) {
    add_message("Can't open 'decals'");
    return 0;
  }
  for (int i = 0; i < decal_count; i++) {
    const Decal &d = decals[i];
    data_printf(f, "[%f %f] %f %f %f %s\n", d.x, d.z, d.angle, d.size, d.aspect, d.name);
  }
  if (!data_commit(f)) {
    add_message("Can't open 'decals'");
    return 0;
  }
  return 1;
}

void decals_attach() {
  terrain_hooks.decals_load = decals_load_dir;
  terrain_hooks.decals_free = decals_free;
  terrain_hooks.decals_save = decals_save_dir;
}

// ----------------------------------------------------------------- buckets

static int bucket_of(float coord) {
  float extent = terrain.extent;
  float b = extent > 0.0f ? floorf(coord * float(DECAL_BUCKETS) / extent) : 0.0f;
  if (!(b > 0.0f)) return 0;
  return b < float(DECAL_BUCKETS - 1) ? int(b) : DECAL_BUCKETS - 1;
}

static void insert_sorted(std::vector<int> &v, int k) {
  auto it = v.end();
  while (it != v.begin() && *(it - 1) > k) --it;
  if (it != v.begin() && *(it - 1) == k) return;
  v.insert(it, k);
}

void decals_rebucket() {
  for (std::vector<int> &b : buckets) b.clear();
  // Hidden decals are in no bucket, so nothing draws them.
  if (decals_hidden) return;
  for (int k = 0; k < decal_count; k++) {
    const Decal &d = decals[k];
    float s = d.sin_angle, c = d.cos_angle, half = d.size / 2;
    float hx = fabsf(s * half) + fabsf(c * d.aspect * half);
    float hz = fabsf(s * d.aspect * half) + fabsf(c * half);
    int bx0 = bucket_of(d.x - hx), bx1 = bucket_of(d.x + hx);
    int bz0 = bucket_of(d.z - hz), bz1 = bucket_of(d.z + hz);
    for (int bz = bz0; bz <= bz1; bz++)
      for (int bx = bx0; bx <= bx1; bx++) insert_sorted(buckets[bz * DECAL_BUCKETS + bx], k);
  }
}

int decals_in_rect(float x0, float z0, float x1, float z1, const int **list) {
  int bx0 = bucket_of(fminf(x0, x1)), bx1 = bucket_of(fmaxf(x0, x1));
  int bz0 = bucket_of(fminf(z0, z1)), bz1 = bucket_of(fmaxf(z0, z1));
  if (bx0 == bx1 && bz0 == bz1) {
    const std::vector<int> &b = buckets[bz0 * DECAL_BUCKETS + bx0];
    *list = b.data();
    return int(b.size());
  }
  // Merge the sorted lists: repeatedly take the smallest head, once.
  const std::vector<int> *src[DECAL_BUCKETS * DECAL_BUCKETS];
  size_t at[DECAL_BUCKETS * DECAL_BUCKETS];
  int n = 0;
  for (int bz = bz0; bz <= bz1; bz++)
    for (int bx = bx0; bx <= bx1; bx++) {
      const std::vector<int> &b = buckets[bz * DECAL_BUCKETS + bx];
      if (b.empty()) continue;
      src[n] = &b;
      at[n++] = 0;
    }
  merged.clear();
  for (;;) {
    int best = -1;
    for (int i = 0; i < n; i++)
      if (at[i] < src[i]->size() && (best < 0 || (*src[i])[at[i]] < (*src[best])[at[best]]))
        best = i;
    if (best < 0) break;
    int k = (*src[best])[at[best]];
    merged.push_back(k);
    for (int i = 0; i < n; i++)
      if (at[i] < src[i]->size() && (*src[i])[at[i]] == k) at[i]++;
  }
  *list = merged.data();
  return int(merged.size());
}

void decals_toggle() {
  decals_hidden = !decals_hidden;
  add_messagef(decals_hidden ? "%.60s ON" : "%.60s OFF", "Hide decals");
  decals_rebucket();
}
