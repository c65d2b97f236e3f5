// The generated default track's timing gates, ridden: the planned rider
// from the start gate round two laps crosses every entry of both lap
// sequences in order, skipping none, with every robot line a second or
// more long; and the start gate's shape stands just clear of the front
// wheel of a rider at its place, and lies flat when dropped.
#include <cmath>
#include <cstdlib>
#include <string>

#include "core/core.h"
#include "race/race_internal.h"
#include "race/timing.h"
#include "tests/bike/test_physics_fixture.h"
#include "tools/course/course_rider.h"

namespace {

std::string track_dir() {
  const char *build = getenv("TW_BUILD_DIR");
  return std::string(build ? build : ".") + "/" + gen_track_layout().folder;
}

class DefaultCourseTiming : public PhysicsTest {
 protected:
  void SetUp() override {
    PhysicsTest::SetUp();
    std::string dir = track_dir();
    ASSERT_EQ(terrain_load(dir.c_str()), 1) << "the build generates the default track: " << dir;
    ASSERT_EQ(read_timing_gates((dir + "/timing_gates").c_str()), 1);
    // Riding on and on: the race's finish rule stays out of the way.
    race.total_laps = race.halfway_lap = 1000000;
  }
  void TearDown() override {
    timing_rider_reset(0);
    timing_clear();
    terrain_free();
    race = RaceState();
    PhysicsTest::TearDown();
  }
};

}  // namespace

TEST_F(DefaultCourseTiming, TheFileMakesACourse) {
  ASSERT_TRUE(timing.enabled);
  EXPECT_EQ(timing.gate_count, 8);
  EXPECT_EQ(timing.first_count, timing.normal_count);
  // A robot line per counted entry, both laps' tables together.
  EXPECT_GT(timing.normal_counted, timing.normal_count / 2);
  for (int g = 0; g < timing.gate_count; g++) {
    EXPECT_NEAR(timing.gates[g].angle, -M_PI / 2, 1e-6);  // along the start straight, east
    EXPECT_STREQ(timing.gates[g].shape, "@startgate.shp");
  }
  // The lap line is the last checkpoint, on the start straight behind the
  // grid; the first lap starts past the gates.
  const GenTrackLayout &l = gen_track_layout();
  const Checkpoint &lap = timing.checkpoints[timing_checkpoint_for(timing_lap_line(1))];
  GenTrackPoint front_row = gen_track_point_at(l.start_s);
  EXPECT_EQ(lap.z, front_row.z);
  EXPECT_LT(lap.x, front_row.x - 30);
  EXPECT_GT(timing.checkpoints[timing_checkpoint_for(0)].x, timing.gates[0].x + 3);
}

TEST_F(DefaultCourseTiming, PlannedRiderCrossesEveryEntryOfTwoLaps) {
  const GenTrackLayout &layout = gen_track_layout();
  Rider *r = create_rider(0, "yz250f(2017)", 1, "1", nullptr, nullptr, nullptr, nullptr);
  ASSERT_NE(r, nullptr);
  course_stock_setup(r, 100, 0);
  place_on_course(r, layout.start_s, 0);
  TicCommand c = rider_current_command(r);
  c.clutch = 1;
  rider_apply_command(r, c);
  course_take_bike(r);
  CoursePlan plan;
  course_plan(layout, CourseStyle(), &plan);
  CourseRider cr;
  timing_rider_reset(0);
  const int F = timing.first_count, N = timing.normal_count;
  for (int tic = 0; tic < 128 * 240 && rider_timing[0].progress < F + N; tic++) {
    course_ride(layout, plan, &cr, r, tic, &c);
    rider_apply_command(r, c);
    physics_tic();
    update_rider_timing(r);
  }
  EXPECT_EQ(r->crash_count, 0);
  ASSERT_EQ(rider_timing[0].progress, F + N) << "two laps in 240 s";
  EXPECT_EQ(rider_completed_laps(0), 2);
  const std::vector<int> &t = rider_timing[0].crossing_times;
  for (int i = 0; i < F + N; i++) {
    EXPECT_GE(t[size_t(i)], 0) << "entry " << i << " skipped";
    if (i > 0) {
      EXPECT_GT(t[size_t(i)], t[size_t(i) - 1]) << "entry " << i;
    }
  }
  // Robot lines run between counted entries, a point every 32 tics: four
  // or more each on the normal lap.
  int last = timing_lap_line(1);
  for (int i = F; i < F + N; i++) {
    if (timing.entries[i] >= UNCOUNTED_ENTRY) continue;
    EXPECT_GE(t[size_t(i)] - t[size_t(last)], 4 * 32) << "entry " << i;
    last = i;
  }
  // The second lap, lap line to lap line, is the course rider's lap.
  EXPECT_NEAR(rider_lap_time(0, 2), cr.last_lap_tics / 128.0, 0.05 * cr.last_lap_tics / 128.0);
}

// The gate's collision shape placed as the race places it, against a
// rider standing at gate 0: raised just ahead of its front tire and taller
// than its axle; dropped no more than a tenth of a foot above the ground.
TEST_F(DefaultCourseTiming, StartGateShapeSuitsTheGrid) {
  char *text = file_to_string((track_dir() + "/../../startgate.shp").c_str());
  ASSERT_NE(text, nullptr);
  CollisionShape shape;
  char error[128];
  ASSERT_EQ(shape_parse(text, &shape, error, sizeof error), 1) << error;
  mem_free(text);

  const StartGate &g = timing.gates[0];
  double sa = sin(g.angle), ca = cos(g.angle);
  // A rider at its place: (0 + 1/16) x 10 ft behind the gate, brakes on.
  Rider *r = create_rider(0, "yz250f(2017)", 1, "1", nullptr, nullptr, nullptr, nullptr);
  ASSERT_NE(r, nullptr);
  course_stock_setup(r, 100, 0);  // dabs a foot down while stopped
  reset_rider(r);
  const double up[3] = {0, 1, 0};
  turn_rider(r, up, g.angle);
  RiderPose pose;
  rider_get_pose(r, &pose);
  double px = g.x + sa * 0.625, pz = g.z + ca * 0.625;
  move_rider(r, px - pose.body[FRAME].position[0], terrain_height(float(px), float(pz)),
             pz - pose.body[FRAME].position[2]);
  for (int i = 0; i < 4096 && rider_intersects(r); i++) move_rider(r, 0, 0.25, 0);
  TicCommand c = rider_current_command(r);
  c.front_brake = c.rear_brake = 1;
  rider_apply_command(r, c);
  for (int i = 0; i < 256; i++) physics_tic();
  rider_get_pose(r, &pose);
  const BodyPose &wheel = pose.body[FRONT_WHEEL];
  const BikeModel *m = rider_model(r);
  double axle[3] = {wheel.rotation[0], wheel.rotation[3], wheel.rotation[6]};

  // The statue: 3 ft ahead of the gate, tilted with the ground.
  double x = g.x - 3 * sa, z = g.z - 3 * ca;
  double ground = terrain_height(float(x), float(z));
  double y = ground + g.y;
  double n[3] = {ground - terrain_height(float(x + 1), float(z)), 1,
                 ground - terrain_height(float(x), float(z + 1))};
  double nl = sqrt(n[0] * n[0] + 1 + n[2] * n[2]);
  for (double &v : n) v /= nl;
  double f[3] = {sa * n[1], -(sa * n[0] + ca * n[2]), ca * n[1]};
  double fl = sqrt(f[0] * f[0] + f[1] * f[1] + f[2] * f[2]);
  for (double &v : f) v /= fl;
  double e[3] = {n[1] * f[2] - n[2] * f[1], n[2] * f[0] - n[0] * f[2], n[0] * f[1] - n[1] * f[0]};
  const double turn = 3 * M_PI / 16;

  double clearance = 1e9, top = -1e9, dropped_top = -1e9;
  for (const CollisionSphere &s : shape.spheres) {
    for (int raised = 0; raised < 2; raised++) {
      double a = raised ? turn : 0;
      // About the local x axis, local +y towards local +z.
      double lx = s.centre[0];
      double ly = s.centre[1] * cos(a) - s.centre[2] * sin(a);
      double lz = s.centre[1] * sin(a) + s.centre[2] * cos(a);
      double w[3] = {x + e[0] * lx + n[0] * ly + f[0] * lz, y + e[1] * lx + n[1] * ly + f[1] * lz,
                     z + e[2] * lx + n[2] * ly + f[2] * lz};
      double above = w[1] + s.radius - terrain_height(float(w[0]), float(w[2]));
      if (!raised) {
        dropped_top = std::max(dropped_top, above);
        continue;
      }
      top = std::max(top, above);
      // Distance from the tire's torus.
      double v[3] = {w[0] - wheel.position[0], w[1] - wheel.position[1], w[2] - wheel.position[2]};
      double h = v[0] * axle[0] + v[1] * axle[1] + v[2] * axle[2];
      double q[3] = {v[0] - h * axle[0], v[1] - h * axle[1], v[2] - h * axle[2]};
      double ring = sqrt(q[0] * q[0] + q[1] * q[1] + q[2] * q[2]) - m->front_rim_radius;
      clearance = std::min(clearance, sqrt(ring * ring + h * h) - m->front_tire_radius - s.radius);
    }
  }
  double axle_height = wheel.position[1] - terrain_height(float(wheel.position[0]), float(wheel.position[2]));
  EXPECT_GT(clearance, 0.05);
  EXPECT_LT(clearance, 0.5);
  EXPECT_GT(top, axle_height + 0.3);
  EXPECT_LT(dropped_top, 0.15);
}
