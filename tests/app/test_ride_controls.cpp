// The two halves of the control path meet: a key press fed through the
// loop's event seam turns into throttle on the engine and moves the
// player's rider on the default track.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "app/app.h"
#include "bike/bike.h"
#include "bike/physics.h"
#include "core/core.h"
#include "platform/platform.h"
#include "race/race.h"
#include "race/scenery.h"
#include "race/timing.h"
#include "terrain/terrain.h"
#include "tests/app/loop_fakes.h"

namespace {

using namespace loop_fakes;

std::vector<float> throttle_seen;
void record_tic() {
  RiderPose p;
  rider_get_pose(rider_in_slot(loop.followed_rider), &p);
  throttle_seen.push_back(p.throttle);
}

// Where the frame is over the ground: x and z.
std::pair<double, double> frame_xz() {
  RiderPose p;
  rider_get_pose(rider_in_slot(loop.followed_rider), &p);
  return {p.body[FRAME].position[0], p.body[FRAME].position[2]};
}

TEST(RideControls, ThrottleKeyDrivesThePlayersRiderOnTheDefaultTrack) {
  // The generated game data sits beside the program in the build folder.
  const char *build = getenv("TW_BUILD_DIR");
  ASSERT_NE(build, nullptr);
  setenv("TW_HOME", build, 1);
  file_index_free();
  file_index_build();
  ASSERT_GT(track_list_build(), 0);
  ASSERT_EQ(physics_init(), 1);
  setup_defaults(&rider_setup);
  track_menu_select("hollow_creek");
  ASSERT_EQ(load_track(nullptr, 0, 0, 0, 1000, 0), 1);
  int slot = race_first_followed();
  ASSERT_NE(rider_in_slot(slot), nullptr);
  EXPECT_EQ(rider_roles[slot], ROLE_LOCAL);
  // This is about the controls, not the start: the gates are down.
  for (int g = 0; g < timing.gate_count; g++) statue_tilt(timing.gates[g].statue, 0);

  settings = Settings();
  config = Config();
  controls_set_defaults();
  controls_resolve_all();
  int throttle_key = 0;
  ASSERT_TRUE(key_code_of("x", &throttle_key));  // the default Throttle key
  fake_ms = 1000000;
  loop_io = {fake_now, fake_sleep, fake_event, record_tic};
  loop_init();
  loop.menu_screen = -1;
  loop.view_mode = VIEW_RIDER;
  loop.followed_rider = slot;

  // Let the bike settle, then hold the throttle for four seconds.
  for (int i = 0; i < 64; i++) {
    fake_ms += 16;
    measure_frame_step();
    run_tics();
    after_tics();
  }
  auto [x0, z0] = frame_xz();
  throttle_seen.clear();
  pending.push_back({fake_now() + 0.001, throttle_key, 1});
  for (int i = 0; i < 256; i++) {
    fake_ms += 16;
    measure_frame_step();
    run_tics();
    after_tics();
  }
  ASSERT_FALSE(throttle_seen.empty());
  EXPECT_EQ(throttle_seen.back(), 1.0f);
  auto [x1, z1] = frame_xz();
  EXPECT_GT(std::hypot(x1 - x0, z1 - z0), 20.0) << "the rider did not move";

  controls_release_all();
  loop_io_default();
  free_track();
  physics_shutdown();
  track_list_free();
  file_index_free();
  unsetenv("TW_HOME");
}

}  // namespace
