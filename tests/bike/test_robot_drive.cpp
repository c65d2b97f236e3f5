// The auto pilot on flat ground: when a point counts as reached, the start
// sequence, the control law's targets, and what counts as traffic.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "bike/robot.h"
#include "core/core.h"
#include "tests/bike/test_physics_fixture.h"

namespace {

class RobotDrive : public PhysicsTest {
 protected:
  Rider *r = nullptr;
  float x0 = 100, z0 = 200;

  void SetUp() override {
    PhysicsTest::SetUp();
    ground.build(6, 4.0f, [](float, float) { return 0.0f; }, 1.0f);
    lines_prepare(0, 0);
    robot_state_reset(0);
    r = place(x0, z0);
    ASSERT_NE(r, nullptr);
    robot_states[0].personality = 1;
    physics.now_tic = 10000;
    physics.drop_tic = 0;  // long after the start
  }
  void TearDown() override {
    robot_state_reset(0);
    PhysicsTest::TearDown();
  }
  // A line from where the bike stands straight ahead (-z), a point every
  // `step` ft, beginning `first` ft ahead.
  void line_ahead(float first, float step, int n, float speed) {
    RobotState &s = robot_states[0];
    s.followed.clear();
    const dReal *p = dBodyGetPosition(r->body[FRAME]);
    for (int i = 0; i < n; i++)
      s.followed.push_back({float(p[0]), 0, float(p[2]) - first - step * i, speed, 0});
    s.next = 0;
    s.progress_tic = physics.now_tic;
  }
  void move_along(double vx, double vz) {
    const double v[3] = {vx, 0, vz};
    rider_set_velocity(r, v);
  }
};

}  // namespace

TEST_F(RobotDrive, PointReachedWithinItsRadius) {
  struct Case {
    float distance;
    int recovery;
    int reached;
  } cases[] = {{50, 0, 1}, {70, 0, 0}, {25, 3, 1}, {35, 3, 0}};
  for (const Case &c : cases) {
    RobotState &s = robot_states[0];
    // Point 0 at the bike, point 1 at the distance, the rest beyond.
    line_ahead(0, c.distance, 30, 30);
    for (size_t i = 2; i < s.followed.size(); i++) s.followed[i].z = s.followed[1].z - 10.0f * i;
    s.next = 1;
    s.recovery = c.recovery;
    robot_drive(r);
    EXPECT_EQ(s.next, c.reached ? 2 : 1) << c.distance << " ft, recovery " << c.recovery;
  }
}

TEST_F(RobotDrive, APointOnASegmentPointingBackIsNotReached) {
  RobotState &s = robot_states[0];
  line_ahead(0, 10, 30, 30);
  // Point 0 lies 30 ft ahead, point 1 10 ft ahead: the segment runs back
  // towards the bike.
  s.followed[0].z = s.followed[1].z - 20;
  s.next = 1;
  robot_drive(r);
  EXPECT_EQ(s.next, 1);
}

TEST_F(RobotDrive, WithoutLinesItStopsAtTheEndOfItsLine) {
  RobotState &s = robot_states[0];
  line_ahead(5, 10, 2, 30);
  s.next = 1;
  robot_drive(r);  // the last point is within reach: the line is used up
  EXPECT_EQ(s.followed.size(), 0u);
  EXPECT_FLOAT_EQ(r->throttle, 0);
  EXPECT_FLOAT_EQ(r->front_brake, 1);
  EXPECT_FLOAT_EQ(r->rear_brake, 1);
}

TEST_F(RobotDrive, StartBlipsThenReactsAndReleasesTheClutch) {
  rng_seed(1);
  physics.now_tic = 0;
  physics.drop_tic = 13 * 128;
  line_ahead(30, 10, 200, 30);
  RobotState &s = robot_states[0];
  std::vector<float> throttle, clutch, steering;
  for (int t = 0; t < physics.drop_tic + 3 * 128; t++) {
    s.progress_tic = physics.now_tic;  // no recovery on the straight
    robot_drive(r);
    throttle.push_back(r->throttle);
    clutch.push_back(r->clutch);
    steering.push_back(r->steering);
    physics_tic();
  }
  // Runs of open and closed throttle before the gate is ready at 5 s; the
  // first closed run and the run cut by 5 s are partial.
  std::vector<std::pair<int, int>> runs;  // value, length
  for (int t = 0; t < 5 * 128; t++) {
    int v = throttle[size_t(t)] > 0.5f;
    if (runs.empty() || runs.back().first != v) runs.push_back({v, 0});
    runs.back().second++;
  }
  ASSERT_GE(runs.size(), 4u);
  for (size_t i = 1; i + 1 < runs.size(); i++) {
    double secs = runs[i].second / 128.0;
    if (runs[i].first) {
      EXPECT_GE(secs, 0.25 - 1.0 / 64) << i;
      EXPECT_LE(secs, 0.75 + 1.0 / 64) << i;
    } else {
      EXPECT_GE(secs, 2 - 1.0 / 64) << i;
      EXPECT_LE(secs, 2.5 + 1.0 / 64) << i;
    }
  }
  // The clutch stays out until the reaction time after the drop (0.2 to
  // 0.4 s for this personality), then comes in over a quarter second.
  int first = -1, full = -1;
  for (size_t t = size_t(physics.drop_tic); t < clutch.size(); t++) {
    if (first < 0 && clutch[t] > 0) first = int(t);
    if (full < 0 && clutch[t] >= 1) full = int(t);
  }
  ASSERT_GE(first, 0);
  EXPECT_GE(first - physics.drop_tic, int(0.2 * 128));
  EXPECT_LE(first - physics.drop_tic, int(0.4 * 128) + 1);
  EXPECT_NEAR(full - first, 32, 2);
  for (int t = first; t < first + 2 * 128 - 2; t++) EXPECT_EQ(steering[size_t(t)], 0) << t;
  // Full throttle against the brakes before the reaction time.
  EXPECT_EQ(throttle[size_t(physics.drop_tic)], 1);
}

TEST_F(RobotDrive, UprightAtWalkingPace) {
  // A line bending hard to the right.
  RobotState &s = robot_states[0];
  line_ahead(5, 10, 30, 20);
  for (size_t i = 0; i < s.followed.size(); i++) s.followed[i].x += 0.5f * float(i * i);
  move_along(0, -5);
  robot_control(r);
  EXPECT_EQ(s.target_lean, 0);
  // Faster, a bend of 30 ft radius is leaned into, within 45 degrees of
  // the bank on ground of friction 1, and the speed is cut to what the
  // grip holds.
  line_ahead(0, 10, 30, 60);
  const dReal *p = dBodyGetPosition(r->body[FRAME]);
  for (size_t i = 0; i < s.followed.size(); i++) {
    double a = (5 + 10.0 * double(i)) / 30;
    s.followed[i].x = float(p[0] + 30 * (1 - cos(a)));
    s.followed[i].z = float(p[2] - 30 * sin(a));
  }
  move_along(0, -40);
  robot_control(r);
  EXPECT_LT(s.target_lean, 0) << s.target_speed;  // to the right
  EXPECT_LE(fabs(s.target_lean), M_PI / 4 + 1e-4);
  EXPECT_LT(s.target_speed, 60) << s.target_lean;
  EXPECT_TRUE(std::isfinite(s.target_speed));
}

TEST_F(RobotDrive, PursuitStaysFiniteStandingStill) {
  const float ahead[3] = {3, 0, -20}, behind[3] = {-3, 0, 20};
  EXPECT_TRUE(std::isfinite(pursuit_radius(r, ahead, INFINITY)));
  EXPECT_TRUE(std::isfinite(pursuit_radius(r, ahead, 0)));
  EXPECT_EQ(pursuit_radius(r, behind, INFINITY), -10);
  robot_states[0].followed.clear();
  line_ahead(5, 10, 30, 20);
  robot_control(r);
  EXPECT_TRUE(std::isfinite(robot_states[0].target_lean));
}

TEST_F(RobotDrive, SideBySideIsNotTrafficButAheadIs) {
  Rider *b = place(x0 + 3, z0, 1);
  ASSERT_NE(b, nullptr);
  move_along(0, -30);
  const double v[3] = {0, 0, -30};
  rider_set_velocity(b, v);
  EXPECT_FALSE(robot_traffic(r, b));
  EXPECT_FALSE(robot_traffic(b, r));
  // Ahead and drifting across the other's path: the one behind sees it.
  move_rider(b, -1, 0, -6);
  const double across[3] = {-3, 0, -30};
  rider_set_velocity(b, across);
  EXPECT_TRUE(robot_traffic(r, b));
  EXPECT_FALSE(robot_traffic(b, r));
  destroy_rider(b);
}

// Short lines: the robot keeps ten points ahead, so it has picked several
// lines past the one it finishes when it crosses that line's checkpoint,
// and that line is still the one credited.
TEST_F(RobotDrive, ALineManyPicksBackIsCreditedOnCrossing) {
  const RobotRaceHooks saved = robot_race;
  static int progress;
  progress = 0;
  robot_race = {};
  robot_race.progress = [](int) { return progress; };
  robot_race.counted_before = [](int i) { return i; };
  robot_race.is_counted = [](int) { return 1; };
  robot_race.counted_tic = [](int, int k) { return k < progress ? 100 * (k + 1) : -1; };
  // Nine tables of one two-point line each, one after another ahead.
  const dReal *p = dBodyGetPosition(r->body[FRAME]);
  std::string text = "ct03 9\n";
  char row[160];
  for (int t = 0; t < 9; t++) {
    text += "1\n2 100 200 0 1000000 1000000 0 0 0\n";
    for (float d : {4.0f, 10.0f}) {
      snprintf(row, sizeof row, "[%f 0 %f] 30 0\n", double(p[0]), p[2] - d - 12.0 * t);
      text += row;
    }
  }
  lines_prepare(1, 8);
  ASSERT_EQ(lines_parse(text.c_str(), int(text.size())), 1);
  RobotState &s = robot_states[0];
  for (int i = 0; i < 8; i++) robot_drive(r);
  ASSERT_GE(s.lines_taken, 5) << "the robot should be several lines ahead";
  // Over the first two checkpoints: the line of the first is credited.
  progress = 2;
  record_line(r);
  const RacingLine &first = lines.table[0].line[0];
  EXPECT_EQ(first.successes, 1);
  EXPECT_EQ(first.best1, 100);
  EXPECT_EQ(first.best2, 200);
  robot_race = saved;
  lines_prepare(0, 0);
}
