// Slot tables: which rider each kind of slot yields, the robot roster and
// its shuffle, and a fixed seed repeating a load exactly.
#include <set>

#include "tests/race/track_fixture.h"

namespace {

const char *bike_of(int slot) { return bike_model_name(rider_in_slot(slot)->model); }

TEST_F(TrackTest, KindsOfSlots) {
  write_track("flat");
  select("flat");

  // Only the first local slot is the player's; it is followed.
  auto t = table({SLOT_EMPTY, SLOT_EMPTY, SLOT_EMPTY, SLOT_LOCAL, SLOT_ROBOT, SLOT_EMPTY,
                  SLOT_EMPTY, SLOT_LOCAL});
  ASSERT_EQ(load_track(t.data(), 0, 0, 0, 3, 0), 1);
  EXPECT_EQ(riders_present(), 2);
  EXPECT_EQ(rider_roles[3], ROLE_LOCAL);
  EXPECT_STREQ(rider_in_slot(3)->number, "999");
  EXPECT_EQ(rider_in_slot(7), nullptr);
  EXPECT_EQ(rider_roles[4], ROLE_ROBOT);
  EXPECT_STREQ(rider_in_slot(4)->name, "Roborider");
  EXPECT_STRNE(rider_personality(4), "");
  EXPECT_EQ(race_first_followed(), 3);
  EXPECT_EQ(race.practice_mode, 0);
  EXPECT_EQ(race.total_laps, 3);
  EXPECT_EQ(race.halfway_lap, 2);

  // Nothing to race: a robot in slot 0. Negative kinds are empty too.
  for (auto empty : {table({}), table({-1, -1000, -7})}) {
    ASSERT_EQ(load_track(empty.data(), 0, 0, 0, 3, 0), 1);
    EXPECT_EQ(riders_present(), 1);
    EXPECT_EQ(rider_roles[0], ROLE_ROBOT);
    EXPECT_EQ(race_first_followed(), 0);
  }
  t = table({-5, SLOT_ROBOT});
  ASSERT_EQ(load_track(t.data(), 0, 0, 0, 3, 0), 1);
  EXPECT_EQ(rider_in_slot(0), nullptr);
  EXPECT_NE(rider_in_slot(1), nullptr);
  EXPECT_EQ(race_first_followed(), 1);

  // Any other kind: an "rm125" without number or name.
  t = table({SLOT_ROBOT, 6, 999});
  ASSERT_EQ(load_track(t.data(), 0, 0, 0, 3, 0), 1);
  for (int slot : {1, 2}) {
    ASSERT_NE(rider_in_slot(slot), nullptr);
    EXPECT_STREQ(bike_of(slot), "rm125");
    EXPECT_STREQ(rider_in_slot(slot)->number, "");
    EXPECT_STREQ(rider_in_slot(slot)->name, "");
  }

  // Practice: the player alone, the clock five minutes in.
  ASSERT_EQ(load_track(nullptr, 0, 0, 0, 1000, 0), 1);
  EXPECT_EQ(riders_present(), 1);
  EXPECT_EQ(rider_roles[0], ROLE_LOCAL);
  EXPECT_EQ(race.practice_mode, 1);
  EXPECT_EQ(race_now_tic(), 38400);

  // A timed race leaves the number of laps open.
  t = table({SLOT_LOCAL});
  ASSERT_EQ(load_track(t.data(), 0, 0, 2 * 60 * 128, 0, 0), 1);
  EXPECT_EQ(race.total_laps, 1000000);
  EXPECT_EQ(race.halfway_lap, 1000000);
}

TEST_F(TrackTest, RobotsComeFromTheRoster) {
  write_track("flat");
  select("flat");

  // 20 rows have a 125; the 21st asking for one gets the next row anyway.
  std::vector<int> t(RIDER_SLOTS, SLOT_EMPTY);
  for (int i = 0; i < 21; i++) t[size_t(i)] = SLOT_ROBOT_125;
  ASSERT_EQ(load_track(t.data(), 0, 0, 0, 3, 0), 1);
  for (int i = 0; i < 20; i++) EXPECT_NE(strstr(bike_of(i), "125"), nullptr) << i;
  EXPECT_EQ(strstr(bike_of(20), "125"), nullptr);
  EXPECT_STREQ(rider_personality(0), "tolly");

  // 100 robots: the roster starts over after 80.
  for (int i = 0; i < 100; i++) t[size_t(i)] = SLOT_ROBOT;
  ASSERT_EQ(load_track(t.data(), 0, 0, 0, 3, 0), 1);
  EXPECT_EQ(riders_present(), 100);
  std::set<std::string> numbers;
  for (int i = 0; i < 80; i++) numbers.insert(rider_in_slot(i)->number);
  EXPECT_EQ(numbers.size(), 80u);
  EXPECT_EQ(*numbers.begin(), "20");
  EXPECT_EQ(*numbers.rbegin(), "99");
  for (int i = 0; i < 20; i++) {
    EXPECT_STREQ(rider_in_slot(i + 80)->number, rider_in_slot(i)->number);
    EXPECT_STREQ(bike_of(i + 80), bike_of(i));
  }

  // Numbered robots: "42" is a row (a 250 on its 2008 model); "5" is not,
  // and rides the row at the current place under its own number.
  t = table({SLOT_NUMBERED_ROBOT + 42, SLOT_NUMBERED_ROBOT + 5});
  ASSERT_EQ(load_track(t.data(), 0, 0, 0, 3, 0), 1);
  EXPECT_STREQ(rider_in_slot(0)->number, "42");
  EXPECT_STREQ(bike_of(0), "crf250(2008)");
  EXPECT_STREQ(rider_personality(0), "vesk");
  EXPECT_STREQ(rider_in_slot(1)->number, "5");
  EXPECT_STREQ(bike_of(1), bike_alias(robot_roster[roster_order[1]].bike));
  EXPECT_EQ(roster_next, 2);

  // "--practice": every robot a tester.
  race_set_practice(1);
  t = table({SLOT_ROBOT, SLOT_ROBOT_250});
  ASSERT_EQ(load_track(t.data(), 0, 0, 0, 3, 0), 1);
  EXPECT_STREQ(rider_personality(0), "tester");
  EXPECT_STREQ(rider_personality(1), "tester");
  EXPECT_NE(strstr(bike_of(1), "250"), nullptr);
}

TEST_F(TrackTest, BikeNamesOfThe250sMeanTheir2008Models) {
  EXPECT_STREQ(bike_alias("crf250"), "crf250(2008)");
  EXPECT_STREQ(bike_alias("yz250f"), "yz250f(2008)");
  EXPECT_STREQ(bike_alias("yz250f_se(2006)"), "yz250f_se(2006)");
  EXPECT_STREQ(bike_alias("kx125"), "kx125");
  // Every roster bike names a row of the bike table.
  for (const RosterRow &row : robot_roster)
    EXPECT_GE(lookup_bike_model(bike_alias(row.bike)), 0) << row.bike;
}

TEST_F(TrackTest, AFixedSeedRepeatsTheDropAndTheRoster) {
  write_track("flat");
  select("flat");
  auto t = table({SLOT_ROBOT, SLOT_ROBOT, SLOT_ROBOT});
  auto load = [&](uint32_t seed, std::vector<int> *order) {
    race_set_seed(1, seed);
    EXPECT_EQ(load_track(t.data(), 0, 0, 0, 3, 0), 1);
    order->assign(roster_order, roster_order + ROSTER_SIZE);
    uint32_t next = rng_next();  // later draws repeat too
    order->push_back(int(next & 0x7fffffff));
    return race_drop_tic();
  };
  std::vector<int> a, b, c;
  int drop_a = load(99, &a);
  int drop_b = load(99, &b);
  int drop_c = load(100, &c);
  EXPECT_EQ(drop_a, drop_b);
  EXPECT_EQ(a, b);
  EXPECT_NE(a, c);
  for (int d : {drop_a, drop_c}) {
    EXPECT_GE(d, 13 * 128);
    EXPECT_LT(d, 15 * 128);
  }
  // The roster order is a permutation.
  std::set<int> rows(a.begin(), a.begin() + ROSTER_SIZE);
  EXPECT_EQ(rows.size(), size_t(ROSTER_SIZE));
}

}  // namespace
