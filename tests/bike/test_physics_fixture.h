// A physics world over a small analytic ground, for the rider tests.
#pragma once
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <vector>

#include "bike/rider.h"

// Ground of 2^(shift+1) cells a side at the given spacing, heights from
// a function of (x, z), one surface of the given friction and no rolling
// resistance unless asked for.
struct TestGround {
  std::vector<float> heights;
  std::vector<float> base;
  std::vector<uint8_t> tiles;

  void build(int shift, float spacing, const std::function<float(float, float)> &h, float mu,
             bool rolling_resistance = true) {
    int size = (1 << (shift + 1)) + 1;
    heights.assign(size_t(size) * size, 0.0f);
    for (int j = 0; j < size; j++)
      for (int i = 0; i < size; i++) heights[size_t(j) * size + i] = h(i * spacing, j * spacing);
    base = heights;
    tiles.assign(size_t(1) << (2 * shift), 0);
    terrain.shift = shift;
    terrain.size = size;
    terrain.spacing = spacing;
    terrain.extent = spacing * float(size - 1);
    terrain.inv_spacing = 1.0f / spacing;
    terrain.tile_size = 2 * spacing;
    terrain.heights = heights.data();
    terrain.base_heights = base.data();
    terrain.tilemap = tiles.data();
    terrain.tile_count = 1;
    Surface &s = terrain.surface[0];
    surface_defaults(&s);
    s.friction_coef[0] = mu;
    if (!rolling_resistance) {
      s.roll_a[0] = 0;
      s.roll_b[0] = 0;
    }
  }
  ~TestGround() {
    terrain.heights = nullptr;
    terrain.base_heights = nullptr;
    terrain.tilemap = nullptr;
    terrain.tile_count = 0;
  }
};

class PhysicsTest : public ::testing::Test {
 protected:
  TestGround ground;
  void SetUp() override {
    ASSERT_EQ(physics_init(), 1);
    // The generator's shapes, without needing the data folder.
    const BikeModel *m = &bike_models[find_bike_model("yz250f(2017)")];
    for (int part : {PART_FRAME_SHAPE, PART_FORK_UPPER_SHAPE, PART_FORK_LOWER_SHAPE,
                     PART_SWINGARM_SHAPE, PART_FRONT_WHEEL_SHAPE, PART_REAR_WHEEL_SHAPE,
                     PART_RIDER_SHAPE}) {
      CollisionShape s;
      s.spheres = default_shape_spheres(m, part);
      float bound = 0;
      for (auto &c : s.spheres) {
        float l = std::sqrt(c.centre[0] * c.centre[0] + c.centre[1] * c.centre[1] +
                            c.centre[2] * c.centre[2]) + c.radius;
        bound = l > bound ? l : bound;
      }
      s.bound_radius = bound;
      shape_cache_put(m->part_files[part], s);
    }
  }
  void TearDown() override {
    physics_shutdown();
    physics_hooks = PhysicsHooks();  // a failed test may leave its hooks
    physics_options = PhysicsOptions();  // or its settings
  }

  // A rider standing with its wheels just touching the ground at (x, z),
  // heading along -z.
  Rider *place(float x, float z, int slot = 0, float lift = 0) {
    Rider *r = create_rider(slot, "yz250f(2017)", 1, "1", nullptr, nullptr, nullptr, nullptr);
    if (!r) return nullptr;
    const dReal *p = dBodyGetPosition(r->body[FRAME]);
    move_rider(r, x - p[0], 0, z - p[2]);
    double ground_y = terrain_height(x, z);
    const BikeModel *m = rider_model(r);
    double bottom = m->front_wheel_pos[1] - m->front_rim_radius - m->front_tire_radius;
    move_rider(r, 0, ground_y - bottom + lift, 0);
    return r;
  }
  static void run(int tics) {
    for (int i = 0; i < tics; i++) physics_tic();
  }
};
