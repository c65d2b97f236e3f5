// A whole frame drawn for real on Mesa, desktop and ES: the world from a
// rider's eyes with the HUD over it, and the trackside HUD, without a GL
// error; the sky above, the tach in its corner.
#include <gtest/gtest.h>

#include "bike/rider.h"
#include "gfx/camera_math.h"
#include "gfx/frame.h"
#include "gfx/lighting.h"
#include "gfx/hud.h"
#include "race/race.h"
#include "race/timing.h"
#include "tests/bike/test_physics_fixture.h"
#include "tests/gfx/egl_context.h"

namespace {

const int W = 640, H = 360;

class Hud : public PhysicsTest, public ::testing::WithParamInterface<bool> {
 protected:
  TestContext c;
  Lighting saved_lighting;
  std::vector<uint8_t> px;
  void SetUp() override {
    PhysicsTest::SetUp();
    ground.build(4, 8, [](float x, float) { return 0.02f * x; }, 1);
    ASSERT_TRUE(test_context_open(&c, GetParam(), W, H)) << "no EGL surfaceless context";
    ASSERT_TRUE(gfx_init(test_get_proc, GetParam()));
    texture_purge(1);
    gfx_load_pictures();
    gfx_initial_state();
    // The default track's sky, so the top of the rider view is sky.
    saved_lighting = lighting;
    lighting_load("@tracks/hollow_creek/lighting");
    frame_settings = FrameSettings();
    frame_settings.width = W;
    frame_settings.height = H;
    for (int s = 0; s < 3; s++) {
      ASSERT_NE(create_rider(s, "yz250f(2017)", 1, "1", nullptr, nullptr, nullptr, nullptr), nullptr);
      rider_roles[s] = s == 0 ? ROLE_LOCAL : ROLE_ROBOT;
      move_rider(rider_in_slot(s), 60 + 8 * s, 4, 60);
    }
    update_running_order();
  }
  void TearDown() override {
    for (int s = 0; s < RIDER_SLOTS; s++) {
      if (Rider *r = rider_in_slot(s)) destroy_rider(r);
      rider_roles[s] = ROLE_REPLAYED;
    }
    running_count = 0;
    lighting_free();
    lighting = saved_lighting;
    frame_settings = FrameSettings();
    gfx_shutdown();
    EXPECT_EQ(gl_errors, 0) << gl_last_error;
    test_context_close(&c);
    PhysicsTest::TearDown();
  }
  const uint8_t *at(int x, int y) { return &px[(size_t(H - 1 - y) * W + x) * 4]; }
  void world(const FrameCamera &cam) {
    float p[3], R[9];
    for (int i = 0; i < 3; i++) p[i] = float(cam.position[i]);
    for (int i = 0; i < 9; i++) R[i] = float(cam.R[i]);
    draw_world(p, R, float(cam.fov), cam.own_slot);
  }
};

TEST_P(Hud, RiderViewWithGaugesAndLines) {
  RiderPose pose;
  rider_get_pose(rider_in_slot(0), &pose);
  GimbalState g{};
  FrameCamera cam;
  rider_camera_from_pose(pose.body[RIDER_BODY], {0, 0, 0}, 0, &g, &cam, nullptr);
  cam.fov = 90;
  cam.own_slot = 0;
  world(cam);
  HudInput in{};
  in.followed = 0;
  in.lean_indicator = 1;
  in.info = {1, 1, 1, 1, 1};
  in.fps = 60;
  hud_draw(in);
  px = test_read_pixels(&c);
  test_save_shot(&c, px, "hud_rider");
  const uint8_t *sky = at(W / 2, 4);
  EXPECT_GT(sky[2], sky[0]) << "sky at the top";
  const uint8_t *tach = at(W - 43, H - 67);
  EXPECT_LT(tach[0] + tach[1] + tach[2], 150) << "the tach's face";
}

TEST_P(Hud, TracksideViewWithTheRunningOrder) {
  FrameCamera cam{};
  cam.position[0] = 40, cam.position[1] = 20, cam.position[2] = 40;
  const double target[3] = {68, 3, 60};
  look_at_rotation(cam.position, target, cam.R);
  cam.fov = 60;
  cam.own_slot = -1;
  world(cam);
  HudInput in{};
  in.followed = 1;
  in.trackside = 1;
  in.track_camera = 1;
  hud_draw(in);
  hud_draw_rider_name(1);
  px = test_read_pixels(&c);
  test_save_shot(&c, px, "hud_trackside");
  // The running order's dark box in the top left corner.
  const uint8_t *box = at(12, 40), *beside = at(120, 40);
  EXPECT_LT(box[0] + box[1] + box[2], 0.7 * (beside[0] + beside[1] + beside[2]));
}

INSTANTIATE_TEST_SUITE_P(Contexts, Hud, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool> &i) { return i.param ? "es" : "desktop"; });

}  // namespace
