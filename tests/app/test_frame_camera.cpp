// The quick race the menu starts, and the cameras of every view worked out
// and published without a window.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>

#include "app/app.h"
#include "bike/bike.h"
#include "bike/physics.h"
#include "core/camera.h"
#include "core/core.h"
#include "gfx/camera_math.h"
#include "menu/menu.h"
#include "platform/platform.h"
#include "race/race.h"
#include "race/track.h"
#include "terrain/terrain.h"
#include "tests/app/loop_fakes.h"

namespace {

using namespace loop_fakes;

class QuickRace : public ::testing::Test {
 protected:
  void SetUp() override {
    const char *build = getenv("TW_BUILD_DIR");
    ASSERT_NE(build, nullptr);
    setenv("TW_HOME", build, 1);
    file_index_free();
    file_index_build();
    ASSERT_GT(track_list_build(), 0);
    ASSERT_EQ(physics_init(), 1);
    setup_defaults(&rider_setup);
    settings = Settings();
    config = Config();
    config.laps = 2;
    controls_set_defaults();
    controls_resolve_all();
    ui_keys_lookup();
    menu_hooks_install();
    track_menu_select("hollow_creek");
    fake_ms = 1000000;
    loop_io = {fake_now, fake_sleep, fake_event, nullptr};
    loop_init();
    loop.menu_screen = 0;
    loop.view_mode = VIEW_NO_TRACK;
    published_camera = PublishedCamera();
  }
  void TearDown() override {
    controls_release_all();
    loop_io_default();
    menu_hooks = MenuHooks();
    free_track();
    physics_shutdown();
    track_list_free();
    file_index_free();
    unsetenv("TW_HOME");
  }
  void frames(int n) {
    for (int i = 0; i < n; i++) {
      fake_ms += 16;
      run_frame();
    }
  }
};

TEST_F(QuickRace, EnterOnTheMenuStartsItAndEveryViewPublishesItsCamera) {
  menu_frame_begin_for_tests();
  handle_key(ui_keys.enter, 1);
  handle_key(ui_keys.enter, 0);
  ASSERT_TRUE(track_loaded());
  EXPECT_EQ(loop.menu_screen, -1);
  int riders = 0;
  for (int s = 0; s < RIDER_SLOTS; s++) riders += rider_in_slot(s) != nullptr;
  EXPECT_EQ(riders, 10);
  int f = loop.followed_rider;
  EXPECT_EQ(rider_roles[f], ROLE_LOCAL);

  frames(3);
  EXPECT_EQ(loop.view_mode, VIEW_RIDER);
  ASSERT_TRUE(published_camera.valid);
  RiderPose pose;
  rider_get_pose(rider_in_slot(f), &pose);
  double eye[3];
  rider_eye_point(pose.body[RIDER_BODY], config.first_person_height, eye);
  // Published before the frame's tics: within a few tics of riding.
  EXPECT_LT(std::hypot(published_camera.position[0] - eye[0], published_camera.position[2] - eye[2]), 0.5);

  // The chase view stands behind and above the rider, looking at it.
  next_view_mode();
  frames(1);
  EXPECT_EQ(loop.view_mode, VIEW_ORBIT);
  rider_get_pose(rider_in_slot(f), &pose);
  const double *p = published_camera.position, *R = published_camera.R;
  double to[3] = {pose.body[FRAME].position[0] - p[0], pose.body[FRAME].position[1] - p[1],
                  pose.body[FRAME].position[2] - p[2]};
  double d = std::sqrt(to[0] * to[0] + to[1] * to[1] + to[2] * to[2]);
  EXPECT_GT(d, 5);
  EXPECT_GT(-(to[0] * R[2] + to[1] * R[5] + to[2] * R[8]) / d, 0.95) << "looking at the rider";

  // A track camera turns to the rider and stands still.
  loop.view_mode = VIEW_TRACKSIDE;
  loop.trackside_camera = 0;
  config.spy = 1;  // the trackside view stays while the player is followed
  frames(1);
  ASSERT_GT(track_camera_count, 0);
  EXPECT_DOUBLE_EQ(p[0], track_cameras[0].x);
  for (double v : published_camera.velocity) EXPECT_EQ(v, 0);
  to[0] = pose.body[FRAME].position[0] - p[0];
  to[2] = pose.body[FRAME].position[2] - p[2];
  double h = std::hypot(to[0], to[2]);
  EXPECT_GT(-(to[0] * R[2] + to[2] * R[8]) / h, 0.95);
}

}  // namespace
