// The race's rules on crossing histories written by hand: the length of a
// timed race, both finish rules, the best lap, cutting penalties, the
// results order and "@results.txt" byte for byte.
#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <string>
#include <tuple>
#include <vector>

#include "race/race.h"
#include "race/race_internal.h"
#include "race/timing.h"
#include "tests/bike/test_physics_fixture.h"
#include "tests/common/test_util.h"
#include "tests/race/track_fixture.h"

namespace {

const int DROP = 1280;

// Three checkpoints; both laps are 0 1 2, so F = N = 3 and lap n ends at
// sequence index 3n - 1.
class RaceRules : public PhysicsTest {
 protected:
  TempFolders folders{"tw_race_rules"};
  struct Crossing {
    int tic, slot, index;  // tic -1: skipped
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

  // A race of laps, or of minutes and then laps.
  void race_of(int laps, int minutes = 0) {
    race.race_laps = laps;
    race.race_time_limit = minutes * 60 * TICS_PER_SECOND;
    race.total_laps = race.halfway_lap = minutes ? 1000000 : laps;
    if (!minutes) race.halfway_lap = (laps + 1) / 2;
  }

  void rider(int slot, const char *bike, const char *number) {
    ASSERT_NE(create_rider(slot, bike, 1, number, nullptr, nullptr, nullptr, nullptr), nullptr);
    rider_roles[slot] = ROLE_ROBOT;
    timing_rider_reset(slot);
  }

  // Crossings at tics after the drop, one per sequence index (-1 skips).
  void rides(int slot, std::vector<int> after_drop) {
    for (size_t i = 0; i < after_drop.size(); i++)
      history.push_back({after_drop[i] < 0 ? -1 : DROP + after_drop[i], slot, int(i)});
  }
  // Laps of even crossings, the first crossing `first` after the drop.
  void laps(int slot, int count, int first, int lap_tics) {
    std::vector<int> t;
    for (int i = 0; i < 3 * count; i++) t.push_back(first + i * lap_tics / 3);
    rides(slot, t);
  }

  void cross(int slot, int index, int after_drop) {
    history.push_back({DROP + after_drop, slot, index});
  }

  // Feeds the history up to a tic after the drop in time order, as the
  // crossing test would take it; the rest waits.
  void run(int until = 1 << 30) {
    std::vector<Crossing> taken, later;
    for (const Crossing &c : history) {
      if (c.tic - DROP > until) later.push_back(c);
      else if (c.tic >= 0) taken.push_back(c);
    }
    history = later;
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
  }
};

TEST_F(RaceRules, TimedRaceEndsWithTheLapDuringWhichTheTimeRanOut) {
  race_of(0, 2);  // 2 minutes + 0 laps: 15360 tics
  rider(0, "yz250f(2017)", "1");
  rider(1, "yz250f(2017)", "2");
  laps(0, 3, 2000, 6400);  // lap lines 6266, 12666 and 19066 after the drop
  laps(1, 3, 2100, 7000);  // 6766, 13766, 20766
  run(13000);
  EXPECT_EQ(race.total_laps, 1000000) << "two laps before the time ran out";
  EXPECT_EQ(race.halfway_lap, 3) << "set at the first lap after half time";
  EXPECT_FALSE(race_leader_finished());
  run();
  EXPECT_EQ(race.total_laps, 3);
  EXPECT_TRUE(rider_finished(0));
  EXPECT_TRUE(rider_finished(1)) << "the second finished its third lap too";
  EXPECT_TRUE(race_results_final());
  EXPECT_TRUE(race_over());
}

TEST_F(RaceRules, TimedRaceRunsItsLapsAfterTheTime) {
  race_of(1, 2);  // 2 minutes + 1 lap
  rider(0, "yz250f(2017)", "1");
  laps(0, 4, 2000, 6400);
  run();
  EXPECT_EQ(race.total_laps, 4);
  EXPECT_TRUE(rider_finished(0));
}

TEST_F(RaceRules, EveryoneFinishesAtTheirNextLapLineAfterTheLeader) {
  race_of(3);
  rider(0, "yz250f(2017)", "1");
  rider(1, "yz250f(2017)", "2");
  rider(2, "yz250f(2017)", "3");
  laps(0, 3, 1000, 3000);  // done at 9000
  laps(1, 2, 1100, 5000);  // lapped: its second lap line at 9433
  laps(2, 2, 1200, 3300);  // its second lap line at 6700
  run();
  EXPECT_TRUE(rider_finished(0));
  EXPECT_TRUE(rider_finished(1)) << "its lap line after the leader's final one";
  EXPECT_EQ(rider_completed_laps(1), 2);
  EXPECT_FALSE(rider_finished(2)) << "still on its third lap";
  EXPECT_FALSE(race_results_final()) << "one rider still racing";
  cross(2, 6, 7800);
  cross(2, 7, 8900);
  run();
  EXPECT_FALSE(rider_finished(2));
  cross(2, 8, 9999);
  run();
  EXPECT_TRUE(rider_finished(2));
  EXPECT_TRUE(race_results_final());
}

TEST_F(RaceRules, NobodyFinishesWithoutTiming) {
  race_of(1);
  rider(0, "yz250f(2017)", "1");
  laps(0, 2, 1000, 3000);
  run();
  ASSERT_TRUE(rider_finished(0));
  timing.enabled = 0;
  EXPECT_FALSE(rider_finished(0));
}

TEST_F(RaceRules, BestLapLeavesOutTheFirst) {
  race_of(10);
  rider(0, "yz250f(2017)", "1");
  rides(0, {100, 200, 300,       // lap 1: 300 (never counts)
            700, 1100, 1500,     // lap 2: 1200
            1800, 2000, 2400,    // lap 3: 900
            2800, 3000, 3300});  // lap 4: 900, a tie: lap 3 keeps it
  run();
  int tics = -1;
  EXPECT_EQ(rider_best_lap(0, &tics), 3);
  EXPECT_EQ(tics, 900);
  rider(1, "yz250f(2017)", "2");
  laps(1, 1, 100, 300);
  run();
  EXPECT_EQ(rider_best_lap(1, &tics), 0) << "one lap has no best";
  EXPECT_EQ(tics, 0);
}

// A cut of the first lap: the others took 1280 and 1408 tics from
// checkpoint 0 to checkpoint 2; the cutter 304. Penalty: their average plus
// a second, less its own time.
TEST_F(RaceRules, PenaltyForACutIsTheTimeGained) {
  race_of(5);
  rider(0, "yz250f(2017)", "1");
  rider(1, "yz250f(2017)", "2");
  rider(2, "yz250f(2017)", "3");
  rides(0, {640, 1280, 1920});
  rides(1, {704, -1, 1008});
  rides(2, {800, 1504, 2208});
  run();
  EXPECT_DOUBLE_EQ(rider_penalty_tics(1), (1280 + 1408) / 2.0 + 128 - 304);
  EXPECT_EQ(rider_penalty_tics(0), 0);
  // Faster than everyone else plus a second is no cut worth a penalty.
  rider(3, "yz250f(2017)", "4");
  rides(3, {700, -1, 2300});
  run();
  EXPECT_EQ(rider_penalty_tics(3), 0);
}

TEST_F(RaceRules, PenaltyReferenceOfTheNormalLapAveragesEveryLap) {
  race_of(5);
  rider(0, "yz250f(2017)", "1");
  rider(1, "yz250f(2017)", "2");
  // Checkpoint 0 to 2 of the normal lap: 600 tics in lap 2, 800 in lap 3.
  rides(0, {100, 200, 300, 400, 700, 1000, 1300, 1700, 2100});
  // The cut: checkpoint 1 of lap 2 skipped, 0 to 2 in 100 tics.
  rides(1, {110, 210, 310, 410, -1, 510});
  run();
  EXPECT_DOUBLE_EQ(rider_penalty_tics(1), 700 + 128 - 100);
}

TEST_F(RaceRules, NoReferenceCountsAMinute) {
  race_of(5);
  rider(0, "yz250f(2017)", "1");
  rides(0, {100, -1, 300});
  run();
  EXPECT_DOUBLE_EQ(rider_penalty_tics(0), 60 * 128 + 128 - 200);
}

// 2.5 best laps of penalty on a rider five laps in: two laps and half a
// best lap of time.
TEST_F(RaceRules, WholeBestLapsOfPenaltyCostLaps) {
  race_of(5);
  rider(0, "yz250f(2017)", "1");
  rider(1, "yz250f(2017)", "2");
  // Honest: checkpoint 0 to 2 of the first lap in 3128 tics, then quick.
  std::vector<int> honest = {100, 1700, 3228};
  for (int i = 3; i < 15; i++) honest.push_back(3228 + 150 * (i - 2));
  rides(0, honest);
  // The cutter: 0 to 2 in 256 tics (3000 of penalty), then laps of 1200.
  std::vector<int> cutter = {100, -1, 356};
  for (int i = 3; i < 15; i++) cutter.push_back(356 + 400 * (i - 2));
  rides(1, cutter);
  run();
  ASSERT_DOUBLE_EQ(rider_penalty_tics(1), 3000);
  ASSERT_TRUE(race_results_final());
  ResultRow first, second;
  ASSERT_TRUE(race_result_row(0, &first));
  ASSERT_TRUE(race_result_row(1, &second));
  EXPECT_EQ(first.slot, 0);
  EXPECT_EQ(first.laps, 5);
  EXPECT_EQ(second.slot, 1);
  EXPECT_EQ(second.best_tics, 1200);
  EXPECT_EQ(second.laps, 3);
  EXPECT_EQ(second.tics, 5156 + 600);
}

// A cutter one lap and a bit in has no best lap: none of its laps may go.
TEST_F(RaceRules, WithoutABestLapThePenaltyIsAllTime) {
  race_of(2);
  rider(0, "yz250f(2017)", "1");
  rider(1, "yz250f(2017)", "2");
  rides(0, {100, 5000, 9000, 9500, 9900, 10300});
  rides(1, {100, -1, 1000, 1500, 2000});
  run();
  race_give_up();
  ASSERT_TRUE(race_results_final());
  ResultRow row;
  ASSERT_TRUE(race_result_row(1, &row));
  EXPECT_EQ(row.slot, 1);
  EXPECT_EQ(row.laps, 1) << "its lap kept";
  EXPECT_DOUBLE_EQ(rider_penalty_tics(1), 8900 + 128 - 900);
  EXPECT_EQ(row.tics, 2000 + 8128);
}

// Three riders, one cutting, round two laps; times after the drop in
// eighths of a second, so every printed value is exact.
TEST_F(RaceRules, ResultsFileByteForByte) {
  race_of(2);
  rider(0, "yz250f(2017)", "7");
  rider(1, "kx125", "12");
  rider(2, "crf250(2008)", "99");
  rides(0, {640, 1280, 1920, 2560, 3200, 3840});
  rides(1, {704, -1, 1008, 2704, 3408, 4000});  // penalty 1344 + 128 - 304 = 1168
  rides(2, {800, 1504, 2208, 2912, 3616, 4304});
  run();
  ASSERT_TRUE(race_results_final());
  std::string got = read_file(folders.home + "results.txt");
  size_t date = got.find("|Date=");
  ASSERT_NE(date, std::string::npos);
  size_t end = got.find("\r\n", date);
  long seconds = atol(got.c_str() + date + 6);
  EXPECT_NEAR(double(seconds), double(time(nullptr)), 60.0);
  got.erase(date + 6, end - date - 6);
  const std::string expected =
      "Time=0.00|Laps=2|Track=tracks/test_course|Date=\r\n"
      " No. |         Bike | Laps | Total Time | BLap |  Best Time\r\n"
      "   7 | yz250f(2017) |    2 |   0:30.000 |    2 |   0:15.000\r\n"
      "  99 | crf250(2008) |    2 |   0:33.625 |    2 |   0:16.375\r\n"
      "  12 |        kx125 |    2 |   0:40.375 |    2 |   0:23.375\r\n"
      "\r\n"
      "6\r\n"
      "   5.000   10.000   15.000\r\n"
      "  20.000   25.000   30.000\r\n"
      "\r\n"
      "6\r\n"
      "   6.250   11.750   17.250\r\n"
      "  22.750   28.250   33.625\r\n"
      "\r\n"
      "6\r\n"
      "   5.500       -1    7.875\r\n"
      "  21.125   26.625   31.250\r\n";
  EXPECT_EQ(got, expected);
  EXPECT_EQ(read_file(folders.home + "results.txt.tmp"), "") << "renamed into place";
}

TEST_F(RaceRules, NoResultsWhileSomeoneRaces) {
  race_of(1);
  rider(0, "yz250f(2017)", "1");
  rider(1, "yz250f(2017)", "2");
  rides(0, {100, 200, 300});
  run();
  EXPECT_TRUE(rider_finished(0));
  EXPECT_FALSE(race_results_final());
  EXPECT_EQ(read_file(folders.home + "results.txt"), "");
  // A batch run that gives up on the rest writes the finished riders.
  race_give_up();
  EXPECT_TRUE(race_results_final());
  std::string got = read_file(folders.home + "results.txt");
  EXPECT_NE(got.find("\r\n   1 | yz250f(2017) |    1 |"), std::string::npos) << got;
  EXPECT_EQ(got.find("   2 | "), std::string::npos) << "only finished riders" << got;
}

TEST_F(RaceRules, LengthText) {
  const std::tuple<int, int, const char *> cases[] = {
      {0, 5, "5 laps"},
      {2 * 60 * 128, 0, "2 minutes"},
      {10 * 60 * 128, 3, "10 minutes + 3 laps"},
      {90 * 128, 1, "2 minutes + 1 laps"},  // rounded to the nearest minute
      {89 * 128, 0, "1 minutes"},
  };
  for (auto [limit, laps, text] : cases) {
    race.race_time_limit = limit;
    race.race_laps = laps;
    char out[64];
    race_length_text(out, sizeof out);
    EXPECT_STREQ(out, text) << limit << " " << laps;
  }
}

TEST(Lineup, RotatesTheFortyGates) {
  for (int i = 0; i < RIDER_SLOTS; i++) lineup[i] = i;
  rotate_lineup(3);
  EXPECT_EQ(lineup[3], 0);
  EXPECT_EQ(lineup[0], 37);
  EXPECT_EQ(lineup[39], 36);
  EXPECT_EQ(lineup[40], 40) << "slots past the gates stay";
  rotate_lineup(-3 + 40 * 2);
  for (int i = 0; i < RIDER_SLOTS; i++) EXPECT_EQ(lineup[i], i);
  for (int &k : lineup) k = 0;
}

}  // namespace
