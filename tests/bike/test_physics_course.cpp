// A rider on the generated default track: full throttle, steering that
// follows the course line, through the first corner on two wheels.
#include <cstdlib>
#include <string>
#include <sys/stat.h>

#include "tests/bike/test_physics_fixture.h"
// The course line is the generator's; this program is its only user here.
#include "tools/gen_track_layout.cpp"
#include "tools/ride/ride_follow.h"

TEST(DefaultCourse, FullThrottleThroughTheFirstCorner) {
  const GenTrackLayout &layout = gen_track_layout();
  const char *build = getenv("TW_BUILD_DIR");
  std::string dir = std::string(build ? build : ".") + "/" + layout.folder;
  struct stat st;
  if (stat((dir + "/terrain.hf").c_str(), &st) != 0) GTEST_SKIP() << "no generated track in " << dir;
  ASSERT_EQ(terrain_load(dir.c_str()), 1);
  ASSERT_EQ(physics_init(), 1);
  Rider *r = create_rider(0, "yz250f(2017)", 1, "1", nullptr, nullptr, nullptr, nullptr);
  ASSERT_NE(r, nullptr);
  RiderSetup setup;
  setup_defaults(&setup);
  set_setup_value(&setup, "arcade", "No");
  stability_preset(&setup, 100);
  RiderAdjust a;
  setup_convert(&setup, rider_model(r), 1, &a);
  rider_set_adjust(r, &a);
  place_on_course(r, layout.start_s, 0);
  rider_set_clutch(r, 1);
  CourseFollower f;
  // The first bend turns the course from east to north.
  float corner_end = 0;
  for (const GenTrackPoint &p : layout.line)
    if (p.s > layout.start_s && p.tz < -0.99f) {
      corner_end = p.s;
      break;
    }
  ASSERT_GT(corner_end, layout.start_s);
  double worst_lean = 0, fastest = 0;
  int tic = 0;
  for (; tic < 128 * 40; tic++) {
    rider_set_steering(r, follow_course(layout, &f, r));
    double over = rider_speed(r) - course_speed(layout, &f);
    rider_set_throttle(r, over > 0 ? 0.0f : 1.0f);
    // The rear brake stays light: braking hard unloads the rear wheel, and
    // one locked into the bend slides out or not on a few ft/s of speed.
    rider_set_front_brake(r, over > 4 ? 0.8f : 0.0f);
    rider_set_rear_brake(r, over > 4 ? 0.2f : 0.0f);
    physics_tic();
    worst_lean = std::fmax(worst_lean, std::fabs(r->lean_angle));
    fastest = std::fmax(fastest, rider_speed(r));
    if (layout.line[f.index].s > corner_end + 30) break;
  }
  EXPECT_LT(tic, 128 * 40) << "never got round the corner";
  EXPECT_EQ(r->crash_count, 0);
  EXPECT_LT(worst_lean, 1.0);
  EXPECT_GT(fastest, 60);
  physics_shutdown();
  terrain_free();
}
