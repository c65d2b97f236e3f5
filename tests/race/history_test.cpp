// Replayed riders' snapshot histories and the rider description text.
#include <gtest/gtest.h>

#include <cstring>

#include "race/history.h"
#include "tests/common/test_util.h"

namespace {

const SnapshotScale SCALE = {1000, 0, 0.5, 1.0};

void make(double x, int wheel, uint8_t out[SNAPSHOT_BYTES]) {
  SnapshotFields f{};
  f.position[0] = x;
  f.position[1] = 10;
  f.position[2] = 500;
  f.orientation[0] = f.rider_orientation[0] = 1;
  f.rpm = x * 10;
  f.gear = int(x) % 6;
  snapshot_encode(f, SCALE, out);
  out[34] = uint8_t(wheel);
}

double x_of(const uint8_t *s) {
  SnapshotFields f;
  snapshot_decode(s, SCALE, &f);
  return f.position[0];
}

struct HistoryTest : ::testing::Test {
  void SetUp() override { history_clear_all(); }
  void TearDown() override { history_clear_all(); }
};

TEST_F(HistoryTest, KeepsTicOrderTheFirstOfATicAndTheNewest128) {
  uint8_t s[SNAPSHOT_BYTES];
  HistoryPose p;
  EXPECT_EQ(history_pose_at(3, 100, 0, &p), 0);  // nothing yet
  for (int tic : {8, 0, 4, 12}) {
    make(tic, 0, s);
    history_add(3, s, tic);
  }
  make(999, 0, s);
  history_add(3, s, 4);  // the tic is taken: the first stays
  const SlotHistory &h = histories[3];
  ASSERT_EQ(h.count, 4);
  for (int i = 0; i < 4; i++) {
    EXPECT_EQ(h.entries[i].tic, 4 * i);
    EXPECT_NEAR(x_of(h.entries[i].snapshot), 4 * i, 1e-3);
  }
  EXPECT_EQ(h.unwritten, 4);
  for (int tic = 16; tic < 16 + 4 * 200; tic += 4) {
    make(tic, 0, s);
    history_add(3, s, tic);
  }
  EXPECT_EQ(h.count, HISTORY_ENTRIES);
  EXPECT_EQ(h.unwritten, HISTORY_ENTRIES);
  EXPECT_EQ(h.entries[0].tic, 16 + 4 * 200 - 4 * HISTORY_ENTRIES);
  EXPECT_EQ(history_newest_tic(3), 16 + 4 * 199);

  MessageCatcher messages;
  history_add(160, s, 1);
  history_add(-1, s, 1);
  ASSERT_EQ(messages.lines.size(), 2u);
  EXPECT_EQ(messages.lines[0], "add_state_to_history: slot out of range");
}

TEST_F(HistoryTest, PosesBetweenExactlyAtAndBeyondTheNewest) {
  uint8_t a[SNAPSHOT_BYTES], b[SNAPSHOT_BYTES];
  make(100, 250, a);
  make(108, 5, b);  // the wheel turned on across half a turn
  history_add(0, a, 400);
  history_add(0, b, 416);
  HistoryPose p;
  // Before the first entry: the first alone, standing still.
  ASSERT_EQ(history_pose_at(0, 390, 0, &p), 1);
  EXPECT_EQ(memcmp(p.snapshot, a, SNAPSHOT_BYTES), 0);
  EXPECT_EQ(p.a, nullptr);
  // Exact at B: B itself, moving from A.
  ASSERT_EQ(history_pose_at(0, 416, 0, &p), 1);
  EXPECT_EQ(memcmp(p.snapshot, b, SNAPSHOT_BYTES), 0);
  EXPECT_EQ(p.tics, 16);
  ASSERT_NE(p.a, nullptr);
  EXPECT_EQ(memcmp(p.a, a, SNAPSHOT_BYTES), 0);
  // Halfway.
  ASSERT_EQ(history_pose_at(0, 408, 0, &p), 1);
  EXPECT_NEAR(x_of(p.snapshot), 104, 1e-3);
  EXPECT_EQ(p.snapshot[34], 0);  // 250 + 5 wraps round
  EXPECT_EQ(p.snapshot[36], a[36]);
  EXPECT_EQ(p.snapshot[18] & 1, 0);
  // Beyond B the position runs on for 64 tics, then holds.
  ASSERT_EQ(history_pose_at(0, 416 + 32, 0, &p), 1);
  EXPECT_NEAR(x_of(p.snapshot), 124, 1e-3);
  uint8_t held[SNAPSHOT_BYTES];
  ASSERT_EQ(history_pose_at(0, 416 + 64, 0, &p), 1);
  memcpy(held, p.snapshot, sizeof held);
  EXPECT_NEAR(x_of(held), 140, 1e-3);
  ASSERT_EQ(history_pose_at(0, 416 + 500, 0, &p), 1);
  EXPECT_EQ(memcmp(p.snapshot, held, SNAPSHOT_BYTES), 0);
  // Old demos pose from A alone.
  ASSERT_EQ(history_pose_at(0, 408, 1, &p), 1);
  EXPECT_EQ(memcmp(p.snapshot, a, SNAPSHOT_BYTES), 0);
  EXPECT_TRUE(history_has_pose(0, 400));
  EXPECT_FALSE(history_has_pose(0, 399));
}

TEST(RiderDescription, ReadsFiveFieldsOrFewerAndCutsTheNumber) {
  struct Case {
    const char *text;
    int ok;
    const char *bike, *rider, *bike_tex, *wheel, *head, *number, *name;
  } cases[] = {
      {"yz250f|r.png|b.png|w.png|h.png\n1234\nAnna", 1, "yz250f", "r.png", "b.png", "w.png",
       "h.png", "123", "Anna"},
      {"rm125|r.png\n7\nBo", 1, "rm125", "r.png", "", "", "", "7", "Bo"},
      {"cr250\n12\n", 1, "cr250", "", "", "", "", "12", ""},
      {"a|b|c|d|e|f\n1\nx", 1, "a", "b", "c", "d", "e|f", "1", "x"},
      {"cr250\n12", 0, "", "", "", "", "", "", ""},
      {"cr250", 0, "", "", "", "", "", "", ""},
  };
  for (const Case &c : cases) {
    RiderDescription d;
    EXPECT_EQ(rider_description_read(c.text, &d), c.ok) << c.text;
    if (!c.ok) continue;
    EXPECT_STREQ(d.bike, c.bike);
    EXPECT_STREQ(d.rider_texture, c.rider);
    EXPECT_STREQ(d.bike_texture, c.bike_tex);
    EXPECT_STREQ(d.wheel_texture, c.wheel);
    EXPECT_STREQ(d.head_texture, c.head);
    EXPECT_STREQ(d.number, c.number);
    EXPECT_STREQ(d.name, c.name);
  }
}

TEST(RiderDescription, WritesCleanFieldsAndFallsBackToTheShortForm) {
  RiderDescription d{};
  snprintf(d.bike, sizeof d.bike, "yz|250");
  snprintf(d.rider_texture, sizeof d.rider_texture, "r\n.png");
  snprintf(d.number, sizeof d.number, "12");
  snprintf(d.name, sizeof d.name, "A|n\nna");
  char out[600];
  ASSERT_GT(rider_description_write(d, out, sizeof out), 0);
  EXPECT_STREQ(out, "yz250|r.png|||\n12\nA|nna");
  RiderDescription back;
  ASSERT_EQ(rider_description_read(out, &back), 1);
  EXPECT_STREQ(back.name, "A|nna");
  char small[16];
  ASSERT_GT(rider_description_write(d, small, sizeof small), 0);
  EXPECT_STREQ(small, "yz250\n12\nA|nna");
  char tiny[4];
  EXPECT_EQ(rider_description_write(d, tiny, sizeof tiny), -1);
}

}  // namespace
