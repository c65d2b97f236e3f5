// The race tic on the generated default track: the start gates against
// real riders, the time trial's flying start and laps, and a lone rider
// simulated by the race tic as by the bare physics tic.
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <string>

#include "bike/rider.h"
#include "bike/robot.h"
#include "core/core.h"
#include "race/race.h"
#include "race/race_internal.h"
#include "race/scenery.h"
#include "race/timing.h"
#include "race/world_hash.h"
#include "terrain/deform.h"
#include "terrain/terrain.h"
#include "tests/bike/test_physics_fixture.h"
#include "tests/common/test_util.h"
#include "tools/course/course_rider.h"

namespace {

class DefaultTrackRace : public ::testing::Test {
 protected:
  TempFolders folders{"tw_race_gates"};

  void SetUp() override {
    // The generated game data sits beside the programs in the build folder.
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
  }
  void TearDown() override {
    free_track();
    physics_shutdown();
    physics_hooks = PhysicsHooks();
    track_list_free();
    file_index_free();
    race_set_seed(0, 0);
    race = RaceState();
    race_hooks = RaceHooks();
  }

  static void hold(Rider *r, float throttle, float brakes) {
    TicCommand c = rider_current_command(r);
    c.throttle = throttle;
    c.clutch = 1;
    c.front_brake = c.rear_brake = brakes;
    rider_apply_command(r, c);
  }

  // How far the frame stands ahead of gate g, along the riders' heading.
  static double ahead_of_gate(Rider *r, int g) {
    const StartGate &s = timing.gates[g];
    const dReal *p = dBodyGetPosition(r->body[FRAME]);
    return -((p[0] - s.x) * sin(s.angle) + (p[2] - s.z) * cos(s.angle));
  }
};

TEST_F(DefaultTrackRace, UntouchedGatesFallInThirtyTwoTics) {
  std::vector<int> table(RIDER_SLOTS, SLOT_EMPTY);
  table[0] = SLOT_LOCAL;
  ASSERT_EQ(load_track(table.data(), 0, 0, 0, 2, 0), 1);
  ASSERT_GE(timing.gate_count, 2);
  const int drop = race_drop_tic();
  ASSERT_GE(drop, 13 * 128);
  ASSERT_LE(drop, 15 * 128);
  Rider *r = rider_in_slot(0);
  const StartGate &far = timing.gates[timing.gate_count - 1];
  const Statue &statue = statues[far.statue];
  float raised[9];
  memcpy(raised, statue.orientation, sizeof raised);
  while (race_now_tic() <= drop) {
    hold(r, 0, 1);
    race_tic();
    ASSERT_EQ(far.fall, 1.0f);
  }
  int tics = 0;
  while (far.fall > 0 && tics < 100) {
    hold(r, 0, 1);
    race_tic();
    tics++;
  }
  EXPECT_EQ(tics, 32);
  // Down is the statue's own pose; up is turned 3 pi / 16 about its side.
  float own[9];
  ground_orientation(statue.x, statue.z, statue.angle, own);
  for (int k = 0; k < 9; k++) EXPECT_FLOAT_EQ(statue.orientation[k], own[k]) << k;
  double cosine = 0;
  for (int k = 0; k < 3; k++) cosine += double(raised[3 * k + 1]) * own[3 * k + 1];
  EXPECT_NEAR(acos(cosine), 3 * M_PI / 16, 1e-4);
}

// Full throttle from the start: the raised gate holds the bike until the
// drop, and stays up while the bike leans on it; the others fall.
TEST_F(DefaultTrackRace, RaisedGateHoldsAFullThrottleRider) {
  std::vector<int> table(RIDER_SLOTS, SLOT_EMPTY);
  table[0] = SLOT_LOCAL;
  ASSERT_EQ(load_track(table.data(), 0, 0, 0, 2, 0), 1);
  const int drop = race_drop_tic();
  Rider *r = rider_in_slot(0);
  const StartGate &mine = timing.gates[0];
  const Statue &statue = statues[mine.statue];
  double start = ahead_of_gate(r, 0);
  int touched = 0;
  while (race_now_tic() <= drop) {
    hold(r, 1, 0);
    race_tic();
    ASSERT_LT(ahead_of_gate(r, 0), start + 1.0) << "through the gate at tic " << race_now_tic();
    touched += statue.contact_tic == race_now_tic() - 1;
  }
  EXPECT_GT(touched, 100) << "the bike pushed on the gate";
  int held = 0;
  for (int i = 0; i < 64; i++) {
    hold(r, 1, 0);
    float before = mine.fall;
    race_tic();
    if (statue.contact_tic == race_now_tic() - 1) {
      EXPECT_EQ(mine.fall, before) << "a touched gate fell";
      held++;
    }
  }
  EXPECT_GT(held, 0);
  EXPECT_EQ(timing.gates[1].fall, 0.0f) << "an untouched gate stays down";
}

// On a server, leaving the line before the drop holds the rider until 15 s
// after it, whenever the offence.
TEST_F(DefaultTrackRace, FalseStartOnAServerHoldsUntilFifteenSecondsAfterTheDrop) {
  race_hooks.connected = [] { return 1; };
  std::vector<int> table(RIDER_SLOTS, SLOT_EMPTY);
  table[0] = SLOT_LOCAL;
  ASSERT_EQ(load_track(table.data(), 0, 0, 0, 2, 0), 1);
  const int drop = race_drop_tic();
  Rider *r = rider_in_slot(0);
  while (race_now_tic() < 500) {
    hold(r, 0, 1);
    race_tic();
  }
  EXPECT_EQ(race.start_hold, 0) << "standing still is no offence";
  // Four feet back from where it stood.
  double a = timing.gates[0].angle;
  move_rider(r, 4 * sin(a), 0, 4 * cos(a));
  MessageCatcher messages;
  race_tic();
  EXPECT_EQ(race.start_hold, drop + 15 * 128 - 500);
  ASSERT_EQ(messages.lines.size(), 1u);
  EXPECT_EQ(messages.lines[0], "15 second false start penalty");
  while (race_now_tic() <= drop + 15 * 128) {
    hold(r, 1, 0);
    race_tic();
    ASSERT_EQ(r->throttle, 0.0f) << "held at tic " << race_now_tic() - 1;
    ASSERT_EQ(r->front_brake, 1.0f);
  }
  EXPECT_EQ(race.start_hold, 0);
  hold(r, 1, 0);
  race_tic();
  EXPECT_EQ(r->throttle, 1.0f) << "free 15 s after the drop";
  EXPECT_EQ(messages.lines.size(), 1u);
}

// Each gate's robot starts on a shipped line of its own: one leaving from
// its gate (not from its mirror image across the track) and keeping its
// distance from its neighbours' lines, so that robots side by side on the
// grid are not led into one another.
TEST_F(DefaultTrackRace, ShippedLinesLeaveEveryGateInItsOwnLane) {
  ASSERT_EQ(load_track(nullptr, 0, 0, 0, 1000, 0), 1);
  const int G = timing.gate_count;
  ASSERT_GE(G, 2);
  // Forward and right of the gates' heading, from gate 0.
  const StartGate &g0 = timing.gates[0];
  const double fx = -sin(g0.angle), fz = -cos(g0.angle), rx = -fz, rz = fx;
  auto side = [&](double x, double z) { return (x - g0.x) * rx + (z - g0.z) * rz; };
  for (const char *skill : {"lines_novice", "lines_amateur", "lines_expert"}) {
    SCOPED_TRACE(skill);
    std::string text = read_file(std::string(getenv("TW_BUILD_DIR")) +
                                 "/tracks/hollow_creek/" + skill);
    lines_prepare(timing.first_counted, timing.normal_counted);
    ASSERT_EQ(lines_parse(text.c_str(), int(text.size())), 1);
    // (gate's place across the track, where its line is at the segment's end)
    std::vector<std::pair<double, double>> across;
    for (int g = 0; g < G; g++) {
      const StartGate &gate = timing.gates[g];
      for (const RacingLine &l : lines.table[0].line) {
        if (l.points.empty()) continue;
        const LinePoint &p0 = l.points[0], &end = l.points.back();
        if (std::hypot(p0.x - gate.x, p0.z - gate.z) > 1.5) continue;
        EXPECT_GT((end.x - p0.x) * fx + (end.z - p0.z) * fz, 50) << "gate " << g;
        across.push_back({side(gate.x, gate.z), side(end.x, end.z)});
        break;
      }
      EXPECT_EQ(int(across.size()), g + 1) << "no line leaves gate " << g;
    }
    std::sort(across.begin(), across.end());
    for (size_t k = 1; k < across.size(); k++) {
      const double gap = across[k].first - across[k - 1].first;
      EXPECT_GT(across[k].second - across[k - 1].second, gap - 0.5)
          << "the lines of gates " << across[k - 1].first << " and " << across[k].first
          << " ft across close in";
    }
  }
  lines_prepare(0, 0);
}

// The time trial: the player runs up from two checkpoints before the lap
// line, and every lap is timed from that line round to it again.
TEST_F(DefaultTrackRace, TimeTrialFlyingStartAndLaps) {
  int laps_seen = 0, run_ups = 0, last_tics = 0, last_valid = 0;
  static int *seen, *ups, *tics, *valid;
  seen = &laps_seen, ups = &run_ups, tics = &last_tics, valid = &last_valid;
  race_hooks.time_trial_lap = [](int lap, int t, int v) {
    if (lap == 0) ++*ups;
    else *seen = lap, *tics = t, *valid = v;
  };
  ASSERT_EQ(load_track(nullptr, 0, 0, 0, 1000, 0), 1);
  ASSERT_TRUE(race.practice_mode);
  EXPECT_EQ(race.flying_start_back, 3);
  const int F = timing.first_count, N = timing.normal_count;
  EXPECT_EQ(rider_timing[0].progress, F - 1);
  Rider *r = rider_in_slot(0);
  // Standing on the checkpoint two entries before the lap line.
  const Checkpoint &c = timing.checkpoints[timing_checkpoint_for(F + N - 2)];
  const dReal *p = dBodyGetPosition(r->body[FRAME]);
  EXPECT_LT(std::hypot(p[0] - c.x, p[2] - c.z), 3.0);

  const GenTrackLayout &layout = gen_track_layout();
  CoursePlan plan;
  course_plan(layout, CourseStyle(), &plan);
  CourseRider cr;
  course_stock_setup(r, 100, 0);
  course_take_bike(r);
  hold(r, 0, 0);
  for (int tic = 0; tic < 128 * 150 && laps_seen < 1; tic++) {
    TicCommand cmd;
    course_ride(layout, plan, &cr, r, tic, &cmd);
    rider_apply_command(r, cmd);
    race_tic();
  }
  EXPECT_EQ(run_ups, 1);
  ASSERT_EQ(laps_seen, 1);
  EXPECT_TRUE(last_valid);
  EXPECT_GT(last_tics, 60 * 128);
  EXPECT_LT(last_tics, 100 * 128);
  EXPECT_EQ(race.last_lap, last_tics);
  EXPECT_EQ(race.best_lap, last_tics);
  EXPECT_EQ(rider_timing[0].progress, F) << "the lap line just crossed starts the next lap";
  EXPECT_TRUE(race_over());

  // Backing up aborts the attempt and starts one checkpoint further back.
  time_trial_abort_rule(0, 1);
  EXPECT_EQ(race.flying_start_back, 4);
  EXPECT_EQ(race.last_lap, 0);
  EXPECT_EQ(race.best_lap, last_tics) << "the best lap stays";
  EXPECT_EQ(rider_timing[0].progress, F - 1);
  const Checkpoint &back = timing.checkpoints[timing_checkpoint_for(F + N - 3)];
  p = dBodyGetPosition(r->body[FRAME]);
  EXPECT_LT(std::hypot(p[0] - back.x, p[2] - back.z), 3.0);
  time_trial_abort_rule(0, 1);
  EXPECT_EQ(race.flying_start_back, 4) << "held, not pressed again";
  time_trial_abort_rule(1, 0);
  EXPECT_EQ(race.flying_start_back, 2) << "the throttle brings it back to two";
}

// A lone local rider: the race tic's phases simulate exactly what the bare
// physics tic does.
TEST(RaceTicWorld, LoneRiderAsThePhysicsTic) {
  std::string hashes[2];
  for (int pass = 0; pass < 2; pass++) {
    ASSERT_EQ(physics_init(), 1);
    const BikeModel *m = &bike_models[find_bike_model("yz250f(2017)")];
    for (int part : {PART_FRAME_SHAPE, PART_FORK_UPPER_SHAPE, PART_FORK_LOWER_SHAPE,
                     PART_SWINGARM_SHAPE, PART_FRONT_WHEEL_SHAPE, PART_REAR_WHEEL_SHAPE,
                     PART_RIDER_SHAPE}) {
      CollisionShape s;
      s.spheres = default_shape_spheres(m, part);
      s.bound_radius = 3;
      shape_cache_put(m->part_files[part], s);
    }
    TestGround ground;
    ground.build(5, 4, [](float x, float z) { return 0.04f * x + 0.5f * sinf(z * 0.1f); }, 1);
    timing_clear();
    roost_pool_reset();  // nothing left flying from another track
    race = RaceState();
    snprintf(race.loaded_folder, sizeof race.loaded_folder, "tracks/flat");
    Rider *r = create_rider(0, "yz250f(2017)", 1, "1", nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(r, nullptr);
    rider_roles[0] = ROLE_LOCAL;
    const dReal *p = dBodyGetPosition(r->body[FRAME]);
    move_rider(r, 100 - p[0], terrain_height(100, 200) + 2 - p[1], 200 - p[2]);
    physics.now_tic = 0;
    physics.drop_tic = 0;
    for (int tic = 0; tic < 600; tic++) {
      TicCommand c = rider_current_command(r);
      c.clutch = 1;
      c.throttle = tic < 300 ? 1 : 0.3f;
      c.steering = tic > 200 && tic < 260 ? 0.5f : 0;
      rider_apply_command(r, c);
      if (pass == 0) physics_tic();
      else race_tic();
    }
    EXPECT_EQ(physics.now_tic, 600);
    char text[41];
    world_hash_text(text);
    hashes[pass] = text;
    race = RaceState();
    physics_shutdown();
    shape_cache_purge();
  }
  EXPECT_EQ(hashes[0], hashes[1]);
}

}  // namespace
