// The time trial's ghost on the generated default track, ridden by the
// planned rider: the first lap becomes the fast lap and its ghost rides the
// second lap where the first went; a lap the ghost lost replaces it, an
// invalid one never does.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#include "bike/rider.h"
#include "core/core.h"
#include "race/demo.h"
#include "race/race.h"
#include "race/race_internal.h"
#include "race/timing.h"
#include "terrain/terrain.h"
#include "tests/common/test_util.h"
#include "tools/course/course_rider.h"

namespace {

class TrialGhost : public ::testing::Test {
 protected:
  TempFolders folders{"tw_trial_ghost"};
  const GenTrackLayout &layout = gen_track_layout();
  CoursePlan plan;
  CourseRider cr;
  int tic = 0;

  void SetUp() override {
    const char *build = getenv("TW_BUILD_DIR");
    ASSERT_NE(build, nullptr);
    setenv("TW_HOME", build, 1);
    file_index_free();
    file_index_build();
    ASSERT_GT(track_list_build(), 0);
    ASSERT_EQ(physics_init(), 1);
    setup_defaults(&rider_setup);
    race_set_seed(1, 77);
    race_hooks = RaceHooks();
    track_menu_select("hollow_creek");
    course_plan(layout, CourseStyle(), &plan);
  }
  void TearDown() override {
    demo_finish_recording();
    demo_stop_ghost();
    free_track();
    physics_shutdown();
    physics_hooks = PhysicsHooks();
    track_list_free();
    file_index_free();
    race_set_seed(0, 0);
    race = RaceState();
  }
  void ride_tic() {
    Rider *r = rider_in_slot(0);
    TicCommand cmd;
    course_ride(layout, plan, &cr, r, tic++, &cmd);
    rider_apply_command(r, cmd);
    race_tic();
  }
  std::string fast_lap() { return read_file(folders.home + "tracks/hollow_creek/fastlap.twdemo"); }
  static void frame(int slot, double out[3]) {
    const dReal *p = dBodyGetPosition(rider_in_slot(slot)->body[FRAME]);
    for (int k = 0; k < 3; k++) out[k] = p[k];
  }
};

TEST_F(TrialGhost, TheFirstLapRidesAgainAndOnlyAValidFasterLapReplacesIt) {
  ASSERT_EQ(load_track(nullptr, 0, 0, 0, 1000, 0), 1);
  Rider *r = rider_in_slot(0);
  course_stock_setup(r, 100, 0);
  course_take_bike(r);
  TicCommand c = rider_current_command(r);
  c.throttle = 0;
  c.clutch = 1;
  c.front_brake = c.rear_brake = 0;
  rider_apply_command(r, c);
  const int F = timing.first_count, N = timing.normal_count;
  // The run-up to the lap line.
  while (race.trial_laps_seen == 0 && tic < 128 * 30) ride_tic();
  ASSERT_EQ(rider_timing[0].progress, F);
  EXPECT_TRUE(demo_recording());
  EXPECT_TRUE(fast_lap().empty());

  // Lap 1, its path every two seconds of lap time.
  const int EVERY = 256;
  std::vector<std::array<double, 3>> path;
  int start = race_now_tic();
  while (race.trial_laps == 0 && tic < 128 * 150) {
    if ((race_now_tic() - start) % EVERY == 0) {
      std::array<double, 3> p;
      frame(0, p.data());
      path.push_back(p);
    }
    ride_tic();
  }
  ASSERT_EQ(race.trial_laps, 1);
  std::string first = fast_lap();
  ASSERT_FALSE(first.empty()) << "no fast lap yet: the first becomes it";
  EXPECT_EQ(first.substr(0, 7), "TW06 1 ");
  ASSERT_NE(rider_in_slot(1), nullptr) << "the ghost";
  EXPECT_EQ(rider_roles[1], ROLE_REPLAYED);

  // Lap 2: the ghost goes where lap 1 went at the same lap time. The
  // player is cut back before the line so the ghost wins: no change.
  start = race_now_tic();
  double worst = 0;
  while (race.trial_laps == 1 && tic < 128 * 300) {
    int t = race_now_tic() - start;
    // From the first tic after the lap line, when the ghost is first posed.
    if (t > 0 && t % EVERY == 0 && size_t(t / EVERY) < path.size()) {
      double g[3];
      frame(1, g);
      const auto &p = path[size_t(t / EVERY)];
      worst = std::max(worst, std::hypot(g[0] - p[0], g[2] - p[2]));
    }
    ride_tic();
  }
  ASSERT_EQ(race.trial_laps, 2);
  EXPECT_LT(worst, 3.0) << "feet between the ghost and lap 1 at equal lap times";

  // Lap 3 invalid (an entry skipped) with the ghost held back: kept.
  auto ride_lap = [&](bool skip) {
    int laps = race.trial_laps;
    while (race.trial_laps == laps && tic < 128 * 600) {
      if (rider_timing[0].progress == F + N - 1) {
        if (rider_in_slot(1)) timing_set_progress(1, F);  // the ghost loses
        if (skip) rider_timing[0].crossing_times[size_t(F + 2)] = -1;
      }
      ride_tic();
    }
  };
  std::string kept = fast_lap();
  ride_lap(true);
  EXPECT_EQ(race.last_lap, 0) << "invalid";
  EXPECT_EQ(fast_lap(), kept) << "an invalid lap never replaces the fast lap";
  // Lap 4 valid with the ghost held back: it replaces the fast lap.
  ride_lap(false);
  EXPECT_GT(race.last_lap, 0);
  EXPECT_NE(fast_lap(), kept);
}

}  // namespace
