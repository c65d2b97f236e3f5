// The race displays on crossing histories written by hand: the results
// overlay and its gaps, best laps and penalty lines, the timing display,
// the lapping line, the finish flagger and the starter's walk.
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "race/displays.h"
#include "race/race.h"
#include "race/race_internal.h"
#include "race/timing.h"
#include "race/track.h"
#include "tests/bike/test_physics_fixture.h"
#include "tests/race/track_fixture.h"

namespace {

const int DROP = 1280;

// Three checkpoints; both laps are 0 1 2 (F = N = 3, lap n ends at index
// 3n - 1).
class Displays : public PhysicsTest {
 protected:
  struct Crossing {
    int tic, slot, index;
  };
  std::vector<Crossing> history;

  void SetUp() override {
    PhysicsTest::SetUp();
    cache_bike_shapes();
    ground.build(4, 4, [](float, float) { return 0.0f; }, 1);
    timing_clear();
    for (int c = 0; c < 3; c++) timing_add_checkpoint(10, 20.0f * float(c), 0, 0, 1, 0, 0);
    for (int lap = 0; lap < 2; lap++)
      for (int c = 0; c < 3; c++) timing_add_entry(lap, c);
    timing_settle();
    ASSERT_TRUE(timing.enabled);
    race = RaceState();
    snprintf(race.loaded_folder, sizeof race.loaded_folder, "tracks/test_course");
    physics.now_tic = 0;
    physics.drop_tic = DROP;
    race_hooks = RaceHooks();
  }
  void TearDown() override {
    for (int s = 0; s < RIDER_SLOTS; s++) timing_rider_reset(s);
    timing_clear();
    running_count = results_count = 0;
    race = RaceState();
    race_hooks = RaceHooks();
    PhysicsTest::TearDown();
  }
  void race_of(int laps) {
    race.race_laps = laps;
    race.total_laps = laps;
    race.halfway_lap = (laps + 1) / 2;
  }
  void rider(int slot, const char *number) {
    ASSERT_NE(create_rider(slot, "yz250f(2017)", 1, number, nullptr, nullptr, nullptr, nullptr), nullptr);
    rider_roles[slot] = ROLE_ROBOT;
    timing_rider_reset(slot);
  }
  void rides(int slot, std::vector<int> after_drop) {
    for (size_t i = 0; i < after_drop.size(); i++)
      history.push_back({after_drop[i] < 0 ? -1 : DROP + after_drop[i], slot, int(i)});
  }
  // Feeds the crossings in time order as the crossing test would.
  void run() {
    std::vector<Crossing> taken;
    for (const Crossing &c : history)
      if (c.tic >= 0) taken.push_back(c);
    history.clear();
    std::stable_sort(taken.begin(), taken.end(),
                     [](const Crossing &a, const Crossing &b) { return a.tic < b.tic; });
    for (const Crossing &c : taken) {
      RiderTiming &t = rider_timing[c.slot];
      if (t.finished) continue;
      physics.now_tic = c.tic;
      t.crossing_times.resize(size_t(c.index) + 1, -1);
      t.crossing_times[size_t(c.index)] = c.tic;
      t.progress = c.index + 1;
      if (timing_is_lap_line(c.index)) race_lap_completed(c.slot);
    }
    update_running_order();
  }
};

TEST_F(Displays, OverlayRowsAndGapsAsRidersFinish) {
  race_of(2);
  rider(0, "7");
  rider(1, "12");
  rider(2, "3");
  rides(0, {100, 200, 300, 400, 500, 600});
  rides(1, {110, 230, 350, 460, 570, 728});  // 128 tics behind at the line
  rides(2, {120, 240, 360});
  run();
  ResultsOverlay o;
  results_overlay(1, &o);
  ASSERT_TRUE(o.shown);
  EXPECT_STREQ(o.title, "Unofficial Results");
  ASSERT_EQ(o.row_count, 2) << "only the finished riders until the results are final";
  EXPECT_STREQ(o.rows[0].pos, "1");
  EXPECT_STREQ(o.rows[0].number, "  7");
  EXPECT_STREQ(o.rows[0].lap, "L2");
  EXPECT_STREQ(o.rows[0].gap, "  0.000") << "the leader";
  EXPECT_STREQ(o.rows[1].gap, "  1.000");
  EXPECT_TRUE(o.rows[1].followed);
  EXPECT_FALSE(o.rows[0].followed);
  EXPECT_STREQ(o.rows[0].best, "0:02.343") << "lap 2: 300 tics";
  EXPECT_STREQ(o.rows[0].blap, "(2)");
  EXPECT_STREQ(o.total, "");

  race_give_up();
  results_overlay(1, &o);
  EXPECT_STREQ(o.title, "Final Results");
  ASSERT_EQ(o.row_count, 3);
  // A lap down: compared at the last entry both crossed (index 2).
  EXPECT_STREQ(o.rows[2].gap, "  0.078") << "10 tics behind at checkpoint 2";
  EXPECT_STREQ(o.rows[2].best, "0:00.000") << "one lap: no best lap";
  EXPECT_STREQ(o.rows[2].blap, "(0)");
  EXPECT_STREQ(o.total, "Total Race Time: 0:04.687");
  EXPECT_EQ(o.penalty_count, 0);
}

TEST_F(Displays, ASingleRiderHasNoGap) {
  race_of(1);
  rider(0, "7");
  rides(0, {100, 200, 300});
  run();
  ResultsOverlay o;
  results_overlay(0, &o);
  ASSERT_EQ(o.row_count, 1);
  EXPECT_STREQ(o.rows[0].gap, "  0.000");
  EXPECT_EQ(race_gap_tics(0, 0), 0);
  TimingDisplay t;
  timing_display(0, &t);
  EXPECT_STREQ(t.gap, "") << "nobody to compare with";
}

// Cutting penalties of one and of two best laps turn into laps taken away
// and the rest into seconds.
TEST_F(Displays, PenaltyLinesNameLapsAndSeconds) {
  struct Case {
    int second_crossing;  // the cutter's checkpoint 2 of lap 1
    const char *line;
  };
  const Case cases[] = {
      {1556, "  2 penalized 1 lap 4.69 seconds for cutting track"},
      {356, "  2 penalized 2 laps 4.69 seconds for cutting track"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.line);
    for (int s = 0; s < 2; s++) {
      if (Rider *r = rider_in_slot(s)) destroy_rider(r);
      timing_rider_reset(s);
    }
    running_count = results_count = 0;
    race = RaceState();
    race_of(5);
    rider(0, "1");
    rider(1, "2");
    std::vector<int> honest = {100, 1700, 3228};
    for (int i = 3; i < 15; i++) honest.push_back(3228 + 150 * (i - 2));
    rides(0, honest);
    std::vector<int> cutter = {100, -1, c.second_crossing};
    for (int i = 3; i < 15; i++) cutter.push_back(c.second_crossing + 400 * (i - 2));
    rides(1, cutter);
    run();
    ASSERT_TRUE(race_results_final());
    ResultsOverlay o;
    results_overlay(0, &o);
    ASSERT_EQ(o.penalty_count, 1);
    EXPECT_STREQ(o.penalties[0], c.line);
  }
}

TEST_F(Displays, TimingDisplayGapsAndLaps) {
  race_of(5);
  rider(0, "7");
  rider(1, "12");
  // Two laps of 300 and 250 tics for the leader; the other 64 tics behind.
  rides(0, {100, 200, 300, 400, 500, 550});
  rides(1, {110, 230, 350, 460, 570, 614});
  run();
  TimingDisplay lead, behind;
  timing_display(0, &lead);
  timing_display(1, &behind);
  EXPECT_STREQ(lead.number, "7");
  EXPECT_STREQ(lead.place, "L3 P1");
  EXPECT_STREQ(behind.place, "L3 P2");
  EXPECT_STREQ(lead.gap, "+0.5 ") << "the leader against the second";
  EXPECT_STREQ(behind.gap, "-0.5 ") << "against the rider ahead";
  EXPECT_STREQ(lead.last, "Last - 0:01.9 ") << "lap 2: 250 tics";
  EXPECT_STREQ(lead.best, "Best - 0:01.9");
  race.practice_mode = 1;
  timing_display(0, &lead);
  EXPECT_STREQ(lead.place, "P1");
  EXPECT_STREQ(lead.last, "") << "practice shows its own laps";
  race.last_lap = 640;
  timing_display(0, &lead);
  EXPECT_STREQ(lead.last, "Last - 0:05.0 ");
}

TEST_F(Displays, LappingLineListsRidersClosingIn) {
  race_of(9);
  rider(0, "17");
  rider(1, "slow");
  // The slow rider crosses checkpoint 1 (index 1) at 1000; the fast one is
  // a lap ahead and crosses it again (index 4) 320 tics (2.5 s) later.
  rides(1, {500, 1000});
  rides(0, {100, 200, 300, 400, 1320});
  run();
  physics.now_tic = DROP + 1400;
  TimingDisplay t;
  timing_display(1, &t);
  EXPECT_STREQ(t.lapping, " 17 (2.5) ");
  physics.now_tic = DROP + 1000 + 16 * 128;
  timing_display(1, &t);
  EXPECT_STREQ(t.lapping, "") << "gone 15 s after the slow rider's crossing";
}

TEST_F(Displays, FinishFlaggerCountsTheLeadersNextEntry) {
  race_of(5);  // halfway lap 3
  rider(0, "1");
  // The lap line ending lap n is index 3n - 1. Next entry the line of lap
  // 3 (index 8): the halfway flag; of lap 4 (index 11), which begins the
  // last lap: the last-lap flag; of lap 5 (index 14): finished.
  struct Step {
    int crossings, texture;
  };
  const Step steps[] = {{1, 0}, {5, 0}, {8, 1}, {10, 1}, {11, 2}, {13, 2}, {14, 3}};
  for (const Step &s : steps) {
    timing_rider_reset(0);
    std::vector<int> c;
    for (int i = 0; i < s.crossings; i++) c.push_back(100 * (i + 1));
    rides(0, c);
    race.results_final = 0;
    run();
    EXPECT_EQ(finish_flagger_texture(), s.texture) << s.crossings << " crossings";
  }
}

TEST_F(Displays, StarterWalksAndChangesPictures) {
  starter = Starter();
  starter.reference_tic = 640;
  starter.walk_seconds = 1;
  for (int i = 0; i < 3; i++) starter.a[i] = 0, starter.b[i] = 10;
  struct Step {
    double t;
    int texture;
    float x;
  };
  const Step steps[] = {{5.0, 0, 0}, {5.2, 1, 0}, {5.5, 2, 0}, {6.5, 3, 5}, {7.5, 4, 10}};
  for (const Step &s : steps) {
    float p[3];
    int tex;
    starter_state(s.t, p, &tex);
    EXPECT_EQ(tex, s.texture) << s.t;
    EXPECT_FLOAT_EQ(p[0], s.x) << s.t;
  }
  starter.walk_seconds = 0;  // no walk: at B as soon as it begins
  float p[3];
  int tex;
  starter_state(5.9, p, &tex);
  EXPECT_FLOAT_EQ(p[0], 0);
  starter_state(6.0, p, &tex);
  EXPECT_FLOAT_EQ(p[0], 10);
  EXPECT_EQ(tex, 4);
}

TEST(InfoLines, SwitchedLinesWithTheirMaxima) {
  InfoValues v{};
  v.fps = 59.6;
  v.speed = 44;
  v.dabbing = 1;
  for (int i = 0; i < 6; i++) v.stats[i] = i, v.stats_max[i] = 10 + i;
  char out[1024];
  info_lines({1, 0, 1, 1, 0}, v, out, sizeof out);
  EXPECT_STREQ(out, "FPS - 60\nSpeed - 30.00\nDabbing!\n") << "no ping offline";
  info_lines({0, 0, 0, 0, 1}, v, out, sizeof out);
  EXPECT_NE(strstr(out, "Ground polygons - 0 max=10\n"), nullptr);
  EXPECT_NE(strstr(out, "Shader Changes - 5 max=15\n"), nullptr);
  EXPECT_NE(strstr(out, "Erode buffered - 0\n"), nullptr);
}

}  // namespace
