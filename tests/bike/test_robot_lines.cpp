// Racing line tables: the file, statistics bounds, costs, how lines join,
// the look-ahead scores, the cost mode a robot uses, and learning.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "bike/rider.h"
#include "bike/robot.h"

namespace {

// Two checkpoints: two lines ending at the first, one at the second.
const char TWO_CHECKPOINTS[] =
    "ct03 2\n"
    "2\n"
    "3 400 600 7 380 590 2700 4200 1\n"
    "[1.000000 2.000000 3.000000] 10.500000 0.250000\n"
    "[4.000000 2.000000 3.000000] 12.000000 0.125000\n"
    "[8.000000 2.000000 3.000000] -14.000000 0.000000\n"
    "2 410 610 0 1000000 1000000 0 0 0\n"
    "[1.000000 0.000000 6.000000] 10.000000 0.000000\n"
    "[5.000000 0.000000 6.000000] 11.000000 0.000000\n"
    "1\n"
    "2 300 700 0 1000000 1000000 0 0 3\n"
    "[20.000000 1.000000 3.000000] 20.000000 -0.500000\n"
    "[30.000000 1.000000 3.000000] 21.000000 -0.500000\n";

int stored() {
  int n = 0;
  for (const LineTable &t : lines.table)
    for (const RacingLine &l : t.line) n += !l.points.empty();
  return n;
}

// A straight line along x at height z (lap-plane), `n` points `step` apart.
std::vector<LinePoint> straight(float x0, float z, int n, float step, float speed) {
  std::vector<LinePoint> p;
  for (int i = 0; i < n; i++) p.push_back({x0 + step * i, 0, z, speed, 0});
  return p;
}

RacingLine make_line(const std::vector<LinePoint> &p, int successes, int failures, int sum2) {
  RacingLine l{};
  l.points = p;
  l.successes = successes;
  l.failures = failures;
  l.sum2 = sum2;
  l.sum1 = sum2 / 2;
  l.t1 = l.t2 = l.best1 = l.best2 = LINE_UNPROVEN;
  return l;
}

}  // namespace

TEST(RobotLinesFile, ReadsAndWritesBackByteForByte) {
  lines_prepare(1, 1);
  ASSERT_EQ(lines_parse(TWO_CHECKPOINTS, int(sizeof TWO_CHECKPOINTS) - 1), 1);
  const RacingLine &a = lines.table[0].line[0];
  ASSERT_EQ(a.points.size(), 3u);
  EXPECT_EQ(a.t1, 400);
  EXPECT_EQ(a.t2, 600);
  EXPECT_EQ(a.successes, 7);
  EXPECT_EQ(a.best1, 380);
  EXPECT_EQ(a.best2, 590);
  EXPECT_EQ(a.sum1, 2700);
  EXPECT_EQ(a.sum2, 4200);
  EXPECT_EQ(a.failures, 1);
  EXPECT_FLOAT_EQ(a.points[2].speed, -14);  // airborne
  EXPECT_FLOAT_EQ(a.points[0].lean, 0.25f);
  EXPECT_EQ(lines.table[0].line[1].points.size(), 2u);
  EXPECT_TRUE(lines.table[0].line[2].points.empty());
  EXPECT_EQ(lines.table[1].line[0].failures, 3);
  // Ids are fresh and unique.
  EXPECT_NE(a.id, lines.table[0].line[1].id);
  std::vector<char> out;
  lines_format(&out);
  EXPECT_EQ(std::string(out.begin(), out.end()), TWO_CHECKPOINTS);
}

TEST(RobotLinesFile, AcceptsAnyWhiteSpace) {
  lines_prepare(1, 1);
  const char text[] = "ct03   2 1 2 1 2 3 4 5 6 7 8 [ 1 2 3 ] 4 5\t[1 2 3]4 5\r\n\n0";
  ASSERT_EQ(lines_parse(text, int(sizeof text) - 1), 1);
  EXPECT_EQ(lines.table[0].line[0].points.size(), 2u);
  EXPECT_EQ(lines.table[0].line[0].sum2, 7);
}

TEST(RobotLinesFile, BadFilesLeaveTheTablesEmpty) {
  const char *bad[] = {
      "",
      "ct02 2\n0\n0\n",                                        // another format
      "ct03 3\n0\n0\n0\n",                                     // another track
      "ct03 2\n46\n",                                          // more lines than slots
      "ct03 2\n-1\n0\n",                                       // negative count
      "ct03 2\n1\n-3 1 1 0 0 0 0 0 0\n",                       // negative points
      "ct03 2\n1\n2000000000 1 1 0 0 0 0 0 0\n[0 0 0] 0 0\n",  // absurd points
      "ct03 2\n1\n1 1 1 0 0 0 0 0 0\n[nan 0 0] 0 0\n0\n",      // not finite
      "ct03 2\n1\n1 1 1 0 0 0 0 0 0\n[inf 0 0] 0 0\n0\n",
      "ct03 2\n1\n1 1 1 0 0 0 0 0 0\n[1 0 0 0 0\n0\n",         // unbalanced bracket
      "ct03 2\n1\n2 1 1 0 0 0 0 0 0\n[1 0 0] 0 0\n",           // cut short
      "ct03 2\n1\n1 1 1 0 0 0 0 99999999999999999999 0\n[1 0 0] 0 0\n0\n",
  };
  for (const char *text : bad) {
    lines_prepare(1, 1);
    EXPECT_EQ(lines_parse(text, int(strlen(text))), 0) << text;
    EXPECT_EQ(stored(), 0) << text;
    EXPECT_EQ(lines.table.size(), 2u);
  }
}

TEST(RobotLinesFile, StatisticsAreRescaledIntoBounds) {
  RacingLine l{};
  l.successes = 70000;
  l.failures = 10;
  l.sum2 = 140000000;
  l.sum1 = 80000000;
  line_rescale(&l);
  EXPECT_EQ(l.successes, 35000);
  EXPECT_EQ(l.failures, 5);
  EXPECT_EQ(l.sum2, 70000000);
  EXPECT_EQ(l.sum1, 40000000);
  // Negative values read as 0; nothing runs away however long a batch.
  RacingLine n{};
  n.successes = -4;
  n.failures = -1;
  n.sum1 = -5;
  n.sum2 = int64_t(1) << 40;
  line_rescale(&n);
  EXPECT_EQ(n.successes, 0);
  EXPECT_EQ(n.failures, 0);
  EXPECT_EQ(n.sum1, 0);
  EXPECT_LE(n.sum2, 100000000);
}

TEST(RobotLineCosts, ModesTreatUnprovenLinesAsTheySay) {
  RacingLine l = make_line(straight(0, 0, 3, 10, 20), 3, 0, 3 * 600);
  EXPECT_EQ(line_cost(l, 0), LINE_UNPROVEN);
  EXPECT_EQ(line_cost(l, 1), LINE_UNPROVEN);
  EXPECT_DOUBLE_EQ(line_cost(l, 2), 600);
  // Failures cost up to 5 s, weighted by mode.
  RacingLine f = make_line(straight(0, 0, 3, 10, 20), 6, 2, 6 * 500);
  EXPECT_DOUBLE_EQ(line_cost(f, 0), 640.0 * 2 / 8 + 500);
  EXPECT_DOUBLE_EQ(line_cost(f, 1), 640.0 * (16.0 / 7) / (6 + 16.0 / 7) + 500);
  EXPECT_DOUBLE_EQ(line_cost(f, 2), 640.0 * 8 / 14 + 500);
  // Testing: untried first, then by how often tried; hopeless lines last.
  EXPECT_EQ(line_cost(make_line({}, 0, 0, 0), 3), 0);
  EXPECT_EQ(line_cost(make_line({}, 1, 0, 0), 3), 5000);
  EXPECT_EQ(line_cost(make_line({}, 3, 1, 0), 3), 1000 * 3 + 4000);  // 7: 3 bits
  EXPECT_EQ(line_cost(make_line({}, 1, 6, 0), 3), 100000);
}

TEST(RobotLineConnections, FollowTheCurveOfTheEnd) {
  // Arcs of a circle of radius 50 about the origin, a point every 10 ft.
  auto arc = [](double radius, double from, int n) {
    std::vector<LinePoint> p;
    for (int i = 0; i < n; i++) {
      double a = from + i * 0.2;
      p.push_back({float(radius * cos(a)), 0, float(radius * sin(a)), 30, 0});
    }
    return p;
  };
  RacingLine a = make_line(arc(50, 0, 4), 0, 0, 0);
  EXPECT_TRUE(lines_connect(a, make_line(arc(50, 0.8, 4), 0, 0, 0)));
  EXPECT_FALSE(lines_connect(a, make_line(arc(53, 0.8, 4), 0, 0, 0)));
  EXPECT_TRUE(lines_connect(a, make_line(arc(52, 0.8, 4), 0, 0, 0)));
  // Straight: collinear points make no circle but join as its limit.
  RacingLine s = make_line(straight(0, 0, 4, 10, 30), 0, 0, 0);
  EXPECT_TRUE(lines_connect(s, make_line(straight(40, 0, 3, 10, 30), 0, 0, 0)));
  EXPECT_TRUE(lines_connect(s, make_line(straight(40, 2, 3, 10, 30), 0, 0, 0)));
  EXPECT_FALSE(lines_connect(s, make_line(straight(40, 3, 3, 10, 30), 0, 0, 0)));
  // A line veering off, and one entered too fast.
  std::vector<LinePoint> veer = straight(40, 0, 2, 10, 30);
  veer[1].z = 5;
  EXPECT_FALSE(lines_connect(s, make_line(veer, 0, 0, 0)));
  EXPECT_FALSE(lines_connect(s, make_line(straight(40, 0, 3, 10, 10), 0, 0, 0)));
  // A rider that stood still: no curve, the distance decides.
  RacingLine still = make_line(std::vector<LinePoint>(3, LinePoint{0, 0, 0, 0, 0}), 0, 0, 0);
  EXPECT_TRUE(lines_connect(still, make_line(straight(1, 0, 2, 10, 5), 0, 0, 0)));
  EXPECT_FALSE(lines_connect(still, make_line(straight(5, 0, 2, 10, 5), 0, 0, 0)));
}

TEST(RobotLineScores, TheBestChainScoresOne) {
  // Six tables; lines in the first three only, so chains end there. Line
  // A runs along z = 0 through all three, B along z = 10; they never
  // cross over. B starts cheaper but its last line is dear: A's chain
  // (3000) beats B's (4000).
  lines_prepare(3, 3);
  auto put = [](int t, int slot, float x, float z, int cost) {
    lines.table[size_t(t)].line[slot] = make_line(straight(x, z, 3, 10, 30), 1, 0, cost);
    lines.table[size_t(t)].line[slot].id = 100 + 10 * t + slot;
  };
  put(0, 0, 0, 0, 1000);
  put(0, 1, 0, 10, 500);
  put(1, 0, 30, 0, 1000);
  put(1, 1, 30, 10, 500);
  put(2, 0, 60, 0, 1000);
  put(2, 1, 60, 10, 3000);
  float score[LINE_SLOTS];
  line_scores(0, 2, score);
  EXPECT_FLOAT_EQ(score[0], 1);
  EXPECT_FLOAT_EQ(score[1], 0.75f);
  // In mode 3 every untested line costs 0: no 0/0, every score 1.
  for (int t = 0; t < 3; t++)
    for (int i = 0; i < 2; i++) lines.table[size_t(t)].line[i].successes = 0;
  line_scores(0, 3, score);
  EXPECT_FLOAT_EQ(score[0], 1);
  EXPECT_FLOAT_EQ(score[1], 1);
}

TEST(RobotPersonalities, NamesAndTheLeadersMode) {
  EXPECT_EQ(personality_index("tolly"), 2);
  EXPECT_EQ(personality_index("tester"), 4);
  EXPECT_EQ(personality_index("empty"), 1);  // never taken by name
  EXPECT_EQ(personality_index("nobody"), 1);
  Rider r{};
  r.slot = 3;
  robot_states[3].personality = 2;
  static int gap;
  robot_race.lead_gap = [](int) { return gap; };
  gap = -1;
  EXPECT_EQ(robot_cost_mode(&r), 2);
  gap = 12 * 128;
  EXPECT_EQ(robot_cost_mode(&r), 1);
  gap = 8 * 128;
  EXPECT_EQ(robot_cost_mode(&r), 2);
  robot_states[3].personality = 1;
  gap = 12 * 128;
  EXPECT_EQ(robot_cost_mode(&r), 0);
  robot_race = RobotRaceHooks();
  robot_state_reset(3);
}

TEST(RobotLearning, DuplicatesSlowLinesAndEviction) {
  lines_prepare(1, 1);
  std::vector<LinePoint> p = straight(0, 0, 5, 10, 30);
  EXPECT_EQ(line_offer(0, p, 300, 500), 0);
  EXPECT_EQ(lines.learned, 1);
  // Within 1/16 ft and 1/16 ft/s of the stored one: a duplicate.
  std::vector<LinePoint> q = p;
  q[2].x += 0.05f;
  q[3].speed += 0.05f;
  EXPECT_EQ(line_offer(0, q, 290, 480), -1);
  q[2].x += 0.1f;
  EXPECT_EQ(line_offer(0, q, 290, 480), 1);

  // A full table of proven lines: a slower newcomer is turned away.
  lines_prepare(1, 1);
  for (int i = 0; i < LINE_SLOTS; i++) {
    lines.table[0].line[i] = make_line(straight(0, float(i), 5, 10, 30), 10, 0, 10 * 400);
    lines.table[0].line[i].id = i + 1;
  }
  EXPECT_EQ(line_offer(0, straight(0, 100, 5, 10, 30), 300, 400), -1);  // 500 > 400
  // Lines failing as often as they succeed go first: among them the
  // dearest, a line starting where no other does counting 3/4 of its cost.
  for (int i = 0; i < LINE_SLOTS; i++) {
    RacingLine &l = lines.table[0].line[i];
    l.points = straight(0, 0, 5, 10, 30);
    l.points[4].z = float(i);  // distinct, same start
    l.successes = l.failures = 0;
    l.sum2 = 0;
    l.t2 = 100 + i;
  }
  lines.table[0].line[44].points[0].z = 50;  // alone: 144 x 5/4 x 3/4
  lines.table[0].line[10].successes = 1;     // proven, kept
  lines.table[0].line[10].sum2 = 100000;
  EXPECT_EQ(line_evict_choice(0), 43);
  int old_id = lines.table[0].line[43].id;
  EXPECT_EQ(line_offer(0, straight(0, 100, 5, 10, 30), 80, 120), 43);
  EXPECT_NE(lines.table[0].line[43].id, old_id);
  EXPECT_EQ(lines.table[0].line[43].t2, 120);
  EXPECT_EQ(lines.table[0].line[43].successes, 0);
  lines_prepare(0, 0);
}
