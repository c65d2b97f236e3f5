// Riders on the generated default track: full throttle with steering that
// follows the course line through the first corner, and the planned rider
// round a whole lap.
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/stat.h>

#include "tests/bike/test_physics_fixture.h"
#include "tools/course/course_rider.h"

// The generated track loaded and a stock rider on the start gate; empty
// when the track has not been generated.
static std::string load_course(Rider **out) {
  const GenTrackLayout &layout = gen_track_layout();
  const char *build = getenv("TW_BUILD_DIR");
  std::string dir = std::string(build ? build : ".") + "/" + layout.folder;
  struct stat st;
  if (stat((dir + "/terrain.hf").c_str(), &st) != 0) return "";
  EXPECT_EQ(terrain_load(dir.c_str()), 1);
  EXPECT_EQ(physics_init(), 1);
  Rider *r = create_rider(0, "yz250f(2017)", 1, "1", nullptr, nullptr, nullptr, nullptr);
  EXPECT_NE(r, nullptr);
  if (!r) return "";
  course_stock_setup(r, 100, 0);
  place_on_course(r, layout.start_s, 0);
  *out = r;
  return dir;
}

TEST(DefaultCourse, FullThrottleThroughTheFirstCorner) {
  const GenTrackLayout &layout = gen_track_layout();
  Rider *r = nullptr;
  if (load_course(&r).empty()) GTEST_SKIP() << "no generated track";
  ASSERT_NE(r, nullptr);
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
    // one dragged into the bend slides out (from a fifth of the brake on).
    rider_set_front_brake(r, over > 4 ? 0.8f : 0.0f);
    rider_set_rear_brake(r, over > 4 ? 0.1f : 0.0f);
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

// A whole lap at race pace: upright all the way, the tabletop and the double
// landed on their far downslopes (not cased, not overshot to the flat), and
// a lap time a good rider would do.
TEST(DefaultCourse, PlannedRiderLapsUpright) {
  const GenTrackLayout &layout = gen_track_layout();
  Rider *r = nullptr;
  if (load_course(&r).empty()) GTEST_SKIP() << "no generated track";
  ASSERT_NE(r, nullptr);
  CoursePlan plan;
  course_plan(layout, CourseStyle(), &plan);
  ASSERT_EQ(plan.jumps.size(), 3u);
  std::vector<GenTrackFeature> features = gen_track_features();
  rider_set_clutch(r, 1);
  CourseRider cr;
  course_take_bike(r);
  double worst_lean = 0;
  int air_from = -1, jumps_landed = 0;
  int tic = 0;
  for (; tic < 128 * 120 && cr.laps == 0; tic++) {
    TicCommand c;
    course_ride(layout, plan, &cr, r, tic, &c);
    rider_apply_command(r, c);
    physics_tic();
    worst_lean = std::fmax(worst_lean, std::fabs(r->lean_angle));
    if (cr.air_tics == 1) air_from = cr.follow.index;
    if (cr.air_tics != 0 || air_from < 0) continue;
    float from = layout.line[air_from].s, to = layout.line[cr.follow.index].s;
    air_from = -1;
    for (const CourseJump &j : plan.jumps) {
      if (strcmp(j.kind, "tabletop") && strcmp(j.kind, "double")) continue;
      if (std::fabs(from - j.lip) > 6) continue;
      float end = 0;
      for (const GenTrackFeature &f : features)
        if (!strcmp(f.kind, j.kind)) end = f.s1;
      EXPECT_GT(to, j.lip + 0.6f * (end - j.lip)) << j.kind << " landed short";
      EXPECT_LT(to, end + 10) << j.kind << " overshot its landing";
      jumps_landed++;
    }
  }
  ASSERT_EQ(cr.laps, 1) << "no lap in 120 s; stopped at s=" << layout.line[cr.follow.index].s;
  EXPECT_EQ(r->crash_count, 0);
  EXPECT_LT(worst_lean, 1.0);
  EXPECT_EQ(jumps_landed, 2);
  double seconds = cr.last_lap_tics / 128.0;
  EXPECT_GT(seconds, 60);
  EXPECT_LT(seconds, 90);
  physics_shutdown();
  terrain_free();
}
