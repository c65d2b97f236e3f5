// Billboards and statues as the simulation sees them: the two tables, a
// statue's place and orientation on the ground, and the grid through which
// the contact code finds the statues a rider can hit. Textures and models
// are named here and loaded by the drawing.
#include "race/scenery.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "bike/rider.h"
#include "core/core.h"
#include "core/log.h"
#include "terrain/terrain.h"

Billboard *billboards = nullptr;
int billboard_count = 0;
Statue *statues = nullptr;
int statue_count = 0;
int first_file_billboard = 0, first_file_statue = 0;

static int billboard_capacity = 0, statue_capacity = 0;
static std::vector<int> obstacle_grid[OBSTACLE_GRID * OBSTACLE_GRID];

// Doubles a table's room; running out of memory ends the program, as any
// allocation failure while loading does.
static void *grow(void *table, int *capacity, int count, size_t entry, int limit) {
  if (count < *capacity) return table;
  int room = *capacity ? *capacity * 2 : 64;
  if (room > limit) room = limit;
  void *bigger = mem_alloc_or_die(size_t(room) * entry);
  if (table) memcpy(bigger, table, size_t(count) * entry);
  mem_free(table);
  *capacity = room;
  return bigger;
}

static int is_none(const char *name) { return !name || !name[0] || !strcmp(name, "null"); }

static void copy_name(char *out, const char *name) {
  snprintf(out, SCENERY_NAME_MAX, "%s", is_none(name) ? "" : name);
}

static int is_hex(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

// ------------------------------------------------------------- billboards
int billboard_create(float x, float y, float z, float height, float width_ratio,
                     const char *texture) {
  if (billboard_count >= MAX_BILLBOARDS) {
    log_printf("Too many billboards\n");
    return -1;
  }
  billboards = static_cast<Billboard *>(
      grow(billboards, &billboard_capacity, billboard_count, sizeof(Billboard), MAX_BILLBOARDS));
  Billboard &b = billboards[billboard_count];
  memset(&b, 0, sizeof b);
  for (uint8_t &c : b.color) c = 255;
  const char *name = texture ? texture : "";
  // "#rrggbb#name": a coloured picture.
  if (strlen(name) > 7 && name[0] == '#' && name[7] == '#' &&
      std::all_of(name + 1, name + 7, is_hex)) {
    unsigned v = 0;
    sscanf(name, "#%x#", &v);
    b.color[0] = uint8_t(v >> 16);
    b.color[1] = uint8_t(v >> 8);
    b.color[2] = uint8_t(v);
    name += 8;
  }
  snprintf(b.texture_name, sizeof b.texture_name, "%s", name);
  b.x = x;
  b.z = z;
  b.y_offset = y;
  b.y = terrain_height(x, z) + y;
  b.height = height;
  b.width_ratio = width_ratio;
  return billboard_count++;
}

// ---------------------------------------------------------------- statues
void ground_orientation(float x, float z, float angle, float out[9]) {
  if (angle >= 3.25f) {
    const float identity[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
    memcpy(out, identity, sizeof identity);
    return;
  }
  float s = sinf(angle), c = cosf(angle);
  float n[3] = {0, 1, 0};
  if (angle > float(-2 * PI)) {
    // The ground's slope over one world unit, whatever the grid spacing.
    float h = terrain_height(x, z);
    n[0] = h - terrain_height(x + 1, z);
    n[2] = h - terrain_height(x, z + 1);
    float l = sqrtf(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]);
    for (float &v : n) v /= l;
  }
  // The heading (s, 0, c) lifted onto the plane across the normal.
  float f[3] = {s * n[1], -(s * n[0] + c * n[2]), c * n[1]};
  float l = sqrtf(f[0] * f[0] + f[1] * f[1] + f[2] * f[2]);
  for (float &v : f) v /= l;
  float e[3] = {n[1] * f[2] - n[2] * f[1], n[2] * f[0] - n[0] * f[2], n[0] * f[1] - n[1] * f[0]};
  for (int i = 0; i < 3; i++) {
    out[i * 3 + 0] = e[i];
    out[i * 3 + 1] = n[i];
    out[i * 3 + 2] = f[i];
  }
}

void statue_place(int index) {
  if (index < 0 || index >= statue_count) return;
  Statue &s = statues[index];
  s.y = terrain_height(s.x, s.z) + s.y_offset;
  ground_orientation(s.x, s.z, s.angle, s.orientation);
}

void statue_tilt(int index, float angle) {
  if (index < 0 || index >= statue_count) return;
  Statue &s = statues[index];
  float o[9];
  ground_orientation(s.x, s.z, s.angle, o);
  float c = cosf(angle), sn = sinf(angle);
  for (int i = 0; i < 3; i++) {
    s.orientation[i * 3 + 0] = o[i * 3 + 0];
    s.orientation[i * 3 + 1] = o[i * 3 + 1] * c + o[i * 3 + 2] * sn;
    s.orientation[i * 3 + 2] = o[i * 3 + 2] * c - o[i * 3 + 1] * sn;
  }
}

int statue_create(float x, float y, float z, float angle, const char *model,
                  const char *texture, const char *shape) {
  if (statue_count >= MAX_STATUES) {
    log_printf("Too many statues\n");
    return -1;
  }
  statues = static_cast<Statue *>(
      grow(statues, &statue_capacity, statue_count, sizeof(Statue), MAX_STATUES));
  Statue &s = statues[statue_count];
  memset(&s, 0, sizeof s);
  copy_name(s.model_name, model);
  copy_name(s.texture_name, texture);
  copy_name(s.shape_name, shape);
  s.facing_distance = angle >= 3.25f ? exp2f(angle) : 0;
  if (s.shape_name[0]) {
    CollisionShape loaded;
    if (shape_load(s.shape_name, &loaded)) s.shape = new CollisionShape(loaded);
    else add_messagef("Warning: missing shape file %.900s", s.shape_name);
  }
  s.x = x;
  s.z = z;
  s.y_offset = y;
  s.angle = angle;
  s.posed_tic = -1;
  statue_count++;
  statue_place(statue_count - 1);
  return statue_count - 1;
}

void scenery_free() {
  for (int i = 0; i < statue_count; i++) delete statues[i].shape;
  mem_free(statues);
  mem_free(billboards);
  statues = nullptr;
  billboards = nullptr;
  statue_count = billboard_count = 0;
  statue_capacity = billboard_capacity = 0;
  first_file_billboard = first_file_statue = 0;
  for (auto &cell : obstacle_grid) cell.clear();
}

// ---------------------------------------------------------- obstacle grid
int obstacle_cell(float v) {
  if (!(terrain.extent > 0)) return 0;
  // Single precision before the floor, as the grid was always computed.
  float f = (v / terrain.extent - 0.125f) * (4.0f / 3.0f);
  float cell = floorf(8.0f * f);
  if (!(cell >= 0)) return 0;  // also NaN
  return cell > 7 ? 7 : int(cell);
}

int obstacle_grid_list(int gx, int gz, const int **list) {
  if (gx < 0 || gx >= OBSTACLE_GRID || gz < 0 || gz >= OBSTACLE_GRID) {
    *list = nullptr;
    return 0;
  }
  const std::vector<int> &cell = obstacle_grid[gz * OBSTACLE_GRID + gx];
  *list = cell.data();
  return int(cell.size());
}

// No part of a rider, not even a thrown rider body, lies further than this
// from its frame; statues beyond it (plus their own reach) cannot be hit.
static const float RIDER_REACH = 16.0f;

// The statues whose grid cells lie around (x, z), in statue order.
static int obstacles_near(float x, float z, Obstacle *out, int max) {
  if (!std::isfinite(x) || !std::isfinite(z)) return 0;
  int x0 = obstacle_cell(x - RIDER_REACH), x1 = obstacle_cell(x + RIDER_REACH);
  int z0 = obstacle_cell(z - RIDER_REACH), z1 = obstacle_cell(z + RIDER_REACH);
  std::vector<int> near;
  for (int gz = z0; gz <= z1; gz++)
    for (int gx = x0; gx <= x1; gx++)
      for (int i : obstacle_grid[gz * OBSTACLE_GRID + gx]) {
        const Statue &s = statues[i];
        float dx = s.x - x, dz = s.z - z, reach = RIDER_REACH + s.shape->bound_radius;
        if (dx * dx + dz * dz <= reach * reach) near.push_back(i);
      }
  std::sort(near.begin(), near.end());
  near.erase(std::unique(near.begin(), near.end()), near.end());
  int n = 0;
  for (int i : near) {
    if (n >= max) break;
    Statue &s = statues[i];
    Obstacle &o = out[n++];
    o.shape = s.shape;
    o.position[0] = s.x;
    o.position[1] = s.y;
    o.position[2] = s.z;
    // A statue that turns to the camera is hit as it stands.
    const float identity[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
    memcpy(o.orientation, s.facing_distance != 0 ? identity : s.orientation, sizeof o.orientation);
    o.contact_tic = &s.contact_tic;
  }
  return n;
}

void obstacle_grid_build() {
  for (auto &cell : obstacle_grid) cell.clear();
  for (int i = 0; i < statue_count; i++) {
    const Statue &s = statues[i];
    if (!s.shape) continue;
    float r = s.shape->bound_radius;
    for (int gz = obstacle_cell(s.z - r); gz <= obstacle_cell(s.z + r); gz++)
      for (int gx = obstacle_cell(s.x - r); gx <= obstacle_cell(s.x + r); gx++)
        obstacle_grid[gz * OBSTACLE_GRID + gx].push_back(i);
  }
  physics_hooks.obstacles_near = obstacles_near;
}
