// Track loading tests: hand-made track folders in a throw-away home folder,
// the bikes' default shapes in the shape cache, and a physics world.
#pragma once
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "bike/bike.h"
#include "bike/rider.h"
#include "core/core.h"
#include "race/race.h"
#include "race/race_internal.h"
#include "race/scenery.h"
#include "race/timing.h"
#include "race/track.h"
#include "terrain/terrain.h"
#include "tests/common/test_util.h"

// A flat ground of 2^(n+1) cells a side at `spacing`, `height` up.
inline std::string flat_heights(int n, float spacing, float height) {
  char header[128];
  snprintf(header, sizeof header, "%d %f %f %f\n:", n, spacing, height, height + 1);
  std::string s = header;
  size_t samples = size_t((1 << (n + 1)) + 1) * size_t((1 << (n + 1)) + 1);
  s.append(samples * 2, '\0');
  return s;
}

// Every bike row's part shapes as the generator makes them.
inline void cache_bike_shapes() {
  for (int row = 0; row < BIKE_MODEL_COUNT; row++) {
    const BikeModel *m = &bike_models[row];
    for (int part : {PART_FRAME_SHAPE, PART_FORK_UPPER_SHAPE, PART_FORK_LOWER_SHAPE,
                     PART_SWINGARM_SHAPE, PART_FRONT_WHEEL_SHAPE, PART_REAR_WHEEL_SHAPE,
                     PART_RIDER_SHAPE}) {
      CollisionShape s;
      s.spheres = default_shape_spheres(m, part);
      float bound = 0;
      for (auto &c : s.spheres)
        bound = std::fmax(bound, std::sqrt(c.centre[0] * c.centre[0] + c.centre[1] * c.centre[1] +
                                           c.centre[2] * c.centre[2]) +
                                     c.radius);
      s.bound_radius = bound;
      shape_cache_put(m->part_files[part], s);
    }
  }
}

// A column of spheres of radius r from the ground up to `height`.
inline std::string post_shape(float r, float height) {
  std::string s;
  int n = 0;
  std::string body;
  for (float y = r; y < height + r; y += r, n++) {
    char line[128];
    snprintf(line, sizeof line, "0 %f 0 %f 0.5 2500 250\n", y, r);
    body += line;
  }
  return std::to_string(n) + "\n" + body;
}

class TrackTest : public ::testing::Test {
 protected:
  TempFolders folders{"tw_track"};

  // A track folder "tracks/<name>" in the home folder with `files` beside
  // a flat ground of 64 x 64 cells of 4 ft (extent 256).
  void write_track(const std::string &name,
                   const std::vector<std::pair<std::string, std::string>> &files = {}) {
    std::string dir = folders.home + "tracks/" + name + "/";
    write_file(dir + "terrain.hf", flat_heights(5, 4, 0));
    write_file(dir + "texturelist", "dirt.png\n");
    write_file(dir + "tilemap", std::string(32 * 32, '\0'));
    for (auto &f : files) write_file(dir + f.first, f.second);
  }

  // Lists the tracks written so far and selects one.
  void select(const std::string &name) {
    file_index_free();
    file_index_build();
    track_list_build();
    track_menu_select(name.c_str());
  }

  void SetUp() override {
    ASSERT_EQ(physics_init(), 1);
    cache_bike_shapes();
    setup_defaults(&rider_setup);
    race_set_seed(1, 1234);
    race_set_practice(0);
    server_race = ServerRace();
  }

  void TearDown() override {
    free_track();
    physics_shutdown();
    physics_hooks = PhysicsHooks();
    shape_cache_purge();
    track_list_free();
    file_index_free();
    race_set_seed(0, 0);
  }

  // A slot table: the given kinds in slots 0.., the rest empty.
  static std::vector<int> table(std::initializer_list<int> kinds) {
    std::vector<int> t(RIDER_SLOTS, SLOT_EMPTY);
    int i = 0;
    for (int k : kinds) t[size_t(i++)] = k;
    return t;
  }

  static int riders_present() {
    int n = 0;
    for (int i = 0; i < RIDER_SLOTS; i++) n += rider_in_slot(i) != nullptr;
    return n;
  }

  static void frame_at(int slot, double out[3]) {
    RiderPose p;
    rider_get_pose(rider_in_slot(slot), &p);
    for (int i = 0; i < 3; i++) out[i] = p.body[FRAME].position[i];
  }

  // Where the rider's frame points: its local -z axis in the world.
  static void facing(int slot, double out[3]) {
    RiderPose p;
    rider_get_pose(rider_in_slot(slot), &p);
    const double *R = p.body[FRAME].rotation;
    out[0] = -R[2];
    out[1] = -R[5];
    out[2] = -R[8];
  }
};
