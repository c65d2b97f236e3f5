// The crossing test, laps and the running order on a hand-made course of
// four checkpoints in a row, riders placed where a case needs them rather
// than ridden there.
#include <gtest/gtest.h>

#include <vector>

#include "bike/rider.h"
#include "race/race.h"
#include "race/timing.h"

namespace {

// Checkpoint c at (100c, 0) facing +x, radius 10. First lap 1 2 3, normal
// lap 0 1 2 3: checkpoint 3 is the lap line (indexes 2, 6, 10, ...).
void four_checkpoint_course() {
  timing_clear();
  for (int c = 0; c < 4; c++) timing_add_checkpoint(10, 100.0f * c, 0, 0, 1, 0, 0);
  for (int e : {1, 2, 3}) timing_add_entry(0, e);
  for (int e : {0, 1, 2, 3}) timing_add_entry(1, e);
  timing_settle();
}

const int SLOT = 7;
const int NOW = 5000;

void set_history(int slot, const std::vector<int> &times) {
  timing_rider_reset(slot);
  rider_timing[slot].crossing_times = times;
  rider_timing[slot].progress = int(times.size());
}

class Crossing : public ::testing::Test {
 protected:
  void SetUp() override { four_checkpoint_course(); }
  void TearDown() override {
    for (int s = 0; s < RIDER_SLOTS; s++) {
      timing_rider_reset(s);
      riders[s].in_use = 0;
      riders[s].crash_timer = 0;
      rider_roles[s] = ROLE_LOCAL;
    }
    running_count = 0;
    timing_clear();
  }
};

}  // namespace

TEST_F(Crossing, CourseSettles) {
  EXPECT_TRUE(timing.enabled);
  EXPECT_EQ(timing.first_count, 3);
  EXPECT_EQ(timing.normal_count, 4);
  EXPECT_EQ(timing_checkpoint_for(0), 1);
  EXPECT_EQ(timing_checkpoint_for(3), 0);
  EXPECT_EQ(timing_checkpoint_for(10), 3);
  EXPECT_EQ(timing_lap_line(1), 2);
  EXPECT_EQ(timing_lap_line(3), 10);
  for (int i = 0; i < 12; i++) EXPECT_EQ(timing_is_lap_line(i), i == 2 || i == 6 || i == 10) << i;
}

// Each case: the rider's crossing history (its size is the progress), where
// it stands, and the history after one test.
struct CrossCase {
  const char *what;
  std::vector<int> before;
  float x;
  std::vector<int> after;
};

TEST_F(Crossing, Table) {
  const int T = 100;  // an earlier crossing
  const int N = NOW, S = -1;
  const CrossCase cases[] = {
      {"the next checkpoint", {}, 101, {N}},
      {"short of it, outside the disc", {}, 85, {}},
      {"its far half-disc never counts", {}, 99, {}},
      {"+1 skips one", {}, 201, {S, N}},
      {"+2 is taken, leaving -1 twice", {T, T, T}, 201, {T, T, T, S, S, N}},
      {"+3 is not examined", {T, T, T}, 301, {T, T, T}},
      {"the lap line is crossed: lap 1 complete", {T, T}, 301, {T, T, N}},
      {"nothing beyond an uncrossed lap line", {T}, 1, {T}},
      {"nor one step beyond it", {T, T}, 1, {T, T}},
      {"back two, all crossed: ignored", {T, T, T, T, T}, 1, {T, T, T, T, T}},
      {"back two onto a skipped one: mended", {T, T, T, S, T}, 1, {T, T, T, N}},
      {"back three onto a skipped one", {T, T, T, S, T, T}, 1, {T, T, T, N}},
      {"back two after a gap three back", {T, T, T, S, T, T}, 101, {T, T, T, S, N}},
      {"back one is never examined", {T, T, T, S}, 1, {T, T, T, S}},
      {"back three, crossed: ignored", {T, T, T, T, T, T}, 1, {T, T, T, T, T, T}},
  };
  for (const CrossCase &c : cases) {
    set_history(SLOT, c.before);
    timing_cross(SLOT, c.x, 0.5f, NOW);
    EXPECT_EQ(rider_timing[SLOT].crossing_times, c.after) << c.what;
    EXPECT_EQ(rider_timing[SLOT].progress, int(c.after.size())) << c.what;
  }
}

TEST_F(Crossing, OutsideTheRadiusAndWithoutTimingNothingCounts) {
  set_history(SLOT, {});
  timing_cross(SLOT, 101, 10.5f, NOW);  // beside the disc
  EXPECT_EQ(rider_timing[SLOT].progress, 0);
  timing_cross(SLOT, 101, 9.5f, NOW);
  EXPECT_EQ(rider_timing[SLOT].progress, 1);

  rider_timing[SLOT].finished = 1;
  timing_cross(SLOT, 201, 0, NOW);
  EXPECT_EQ(rider_timing[SLOT].progress, 1);

  timing_clear();
  set_history(SLOT, {});
  timing_cross(SLOT, 101, 0, NOW);
  EXPECT_EQ(rider_timing[SLOT].progress, 0);
  EXPECT_EQ(rider_completed_laps(SLOT), 0);
  EXPECT_EQ(timing_checkpoint_for(0), -1);
}

TEST_F(Crossing, LapsAndLapTimes) {
  physics.drop_tic = 1000;
  // Lap 1 ends at index 2 (tic 2000), lap 2 at 6 (2900), lap 3 at 10 (3850).
  set_history(SLOT, {1200, 1500, 2000, 2200, 2400, 2600, 2900, 3100, 3300, 3500, 3850, 4000});
  const int laps[][3] = {{0, 0, 0}, {2, 0, 2}, {3, 1, 1}, {6, 1, 4}, {7, 2, 1}, {11, 3, 1}, {12, 3, 2}};
  for (const auto &l : laps) {
    timing_set_progress(SLOT, l[0]);
    EXPECT_EQ(rider_completed_laps(SLOT), l[1]) << "progress " << l[0];
    EXPECT_EQ(rider_lap_position(SLOT), l[2]) << "progress " << l[0];
  }
  set_history(SLOT, {1200, 1500, 2000, 2200, 2400, 2600, 2900, 3100, 3300, 3500, 3850, 4000});
  EXPECT_EQ(rider_lap_tics(SLOT, 1), 1000);
  EXPECT_EQ(rider_lap_tics(SLOT, 2), 900);
  EXPECT_EQ(rider_lap_tics(SLOT, 3), 950);
  EXPECT_EQ(rider_lap_tics(SLOT, 4), 0);  // not complete
  EXPECT_DOUBLE_EQ(rider_lap_time(SLOT, 2), 900 / 128.0);
  // A skipped lap line leaves its laps untimed.
  rider_timing[SLOT].crossing_times[6] = -1;
  EXPECT_EQ(rider_lap_tics(SLOT, 2), 0);
  EXPECT_EQ(rider_lap_tics(SLOT, 3), 0);
  EXPECT_EQ(rider_crossing_time(SLOT, 6), -1);
  EXPECT_EQ(rider_crossing_time(SLOT, 40), -1);
  physics.drop_tic = 0;
}

TEST_F(Crossing, CuttingProgressBack) {
  set_history(SLOT, {10, 20, 30, 40, 50});
  rider_timing[SLOT].finished = 1;
  timing_set_progress(SLOT, 5);
  EXPECT_EQ(rider_timing[SLOT].finished, 1);
  timing_set_progress(SLOT, 2);
  EXPECT_EQ(rider_timing[SLOT].finished, 0);
  EXPECT_EQ(rider_timing[SLOT].crossing_times, (std::vector<int>{10, 20}));
  // The time trial's flying start: the next crossing is the lap line.
  timing_set_progress(SLOT, 2);
  timing_cross(SLOT, 301, 0, NOW);
  EXPECT_EQ(rider_completed_laps(SLOT), 1);
  EXPECT_EQ(rider_crossing_time(SLOT, 2), NOW);
}

TEST_F(Crossing, RunningOrder) {
  // slot: history
  struct {
    int slot;
    std::vector<int> times;
  } field[] = {{3, {10, 20}}, {9, {10, 25, 30}}, {1, {10, 20}}, {5, {11, 19}}, {12, {}}, {0, {5, -1, 18}}};
  for (auto &f : field) {
    riders[f.slot].in_use = 1;
    riders[f.slot].slot = f.slot;
    set_history(f.slot, f.times);
  }
  update_running_order();
  // Furthest first; level riders by the earlier last crossing, then slot.
  const int order[] = {0, 9, 5, 1, 3, 12};
  ASSERT_EQ(running_count, 6);
  for (int k = 0; k < 6; k++) {
    EXPECT_EQ(running_order[k], order[k]) << k;
    EXPECT_EQ(running_entries[k].slot, order[k]) << k;
  }
  EXPECT_EQ(running_entries[0].progress, 3);
  EXPECT_EQ(running_entries[0].last_tic, 18);
  EXPECT_EQ(running_entries[5].last_tic, 0);

  riders[9].in_use = 0;
  update_running_order();
  EXPECT_EQ(running_count, 5);
  EXPECT_EQ(running_order[1], 5);
}

TEST_F(Crossing, DownMarkersFlaggersAndRealign) {
  for (int s : {2, 4, 6}) {
    riders[s].in_use = 1;
    riders[s].slot = s;
  }
  set_history(2, {1});        // next: index 1, checkpoint 2
  set_history(4, {1, 2, 3});  // next: index 3, checkpoint 0
  set_history(6, {});         // next: checkpoint 1
  riders[2].crash_timer = 300;
  riders[4].crash_timer = 10;
  rider_roles[4] = ROLE_REPLAYED;
  update_running_order();
  timing.checkpoints[3].down = 1;  // last frame's

  timing_mark_down(0);
  int down[4];
  for (int c = 0; c < 4; c++) down[c] = timing.checkpoints[c].down;
  EXPECT_EQ(down[0], 1);
  EXPECT_EQ(down[1], 0);
  EXPECT_EQ(down[2], 1);
  EXPECT_EQ(down[3], 0);
  // On a server only riders simulated here mark.
  timing_mark_down(1);
  EXPECT_EQ(timing.checkpoints[0].down, 0);
  EXPECT_EQ(timing.checkpoints[2].down, 1);

  const int waving[4] = {-1, 3, 2, -1}, idle[4] = {0, 1, 3, 400};
  EXPECT_EQ(timing_any_down(waving), 1);
  EXPECT_EQ(timing_any_down(idle), 0);

  // Realign towards the next checkpoint, once one has been crossed.
  float t[3];
  EXPECT_EQ(timing_realign_target(&riders[6], t), 0);
  ASSERT_EQ(timing_realign_target(&riders[2], t), 1);
  EXPECT_EQ(t[0], 200);
  EXPECT_EQ(timing_next_checkpoint(2), 2);
  EXPECT_EQ(timing_next_checkpoint(6), 1);
}
