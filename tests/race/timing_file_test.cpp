// Reading and writing "timing_gates": snippets into gates, checkpoints and
// lap sequences, timing on or off, and write -> read round trips.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "race/timing.h"
#include "tests/common/test_util.h"

namespace {

// Reads the text as a track's file.
int read_text(const std::string &text) {
  TempFolders dirs("tw_timing");
  std::string path = dirs.root + "/timing_gates";
  EXPECT_TRUE(write_file(path, text));
  return read_timing_gates(path.c_str());
}

std::string written() {
  static char buf[1 << 20];
  int n = format_timing_gates(buf, sizeof buf);
  EXPECT_GE(n, 0);
  return n < 0 ? "" : std::string(buf, size_t(n));
}

const char *const CHECKPOINTS =
    "checkpoints:\n"
    "8 [0 0 0] [1 0 0]\n"
    "8 [100 0 0] [1 0 0]\n"
    "8 [200 0 0] [1 0 0]\n"
    "8 [300 0 0] [1 0 0]\n\n";

// Every form of gate line, then a course of four checkpoints.
const std::string FULL = std::string(
                             "startinggate:\n"
                             "[10 0 20] 0\n"
                             "[13 0.5 20] 7 @gate2.jm\n"
                             "[16 0 20] -1.5707963 @g.jm @g.png\n"
                             "[19 0 20] 0.25 @g.jm @g.png @g.shp\n") +
                         CHECKPOINTS + "firstlap:\n1 2 3\nnormallap:\n0 1 2 3\n";

struct Snippet {
  const char *what;
  std::string text;
  int gates, checkpoints, first, normal, first_counted, normal_counted, enabled;
};

class TimingFile : public ::testing::Test {
 protected:
  void TearDown() override { timing_clear(); }
};

}  // namespace

TEST_F(TimingFile, Snippets) {
  const std::string cps = CHECKPOINTS;
  const Snippet cases[] = {
      {"every gate form", FULL, 4, 4, 3, 4, 3, 4, 1},
      {"no start gates", cps + "firstlap: 1 2 3 normallap: 0 1 2 3", 0, 4, 3, 4, 3, 4, 1},
      {"two-entry lists", cps + "firstlap: 1 3 normallap: 0 3", 0, 4, 2, 2, 2, 2, 0},
      {"two-entry normal lap", cps + "firstlap: 1 2 3 normallap: 0 3", 0, 4, 3, 2, 3, 2, 0},
      {"uncounted entries", cps + "firstlap: 1 100002 2 3 normallap: 0 100001 1 2 100003 3", 0, 4,
       4, 6, 3, 4, 1},
      {"two counted of three", cps + "firstlap: 100001 2 3 normallap: 0 1 2 3", 0, 4, 3, 4, 2, 4, 0},
      {"no lap lists", cps, 0, 4, 0, 0, 0, 0, 0},
      {"lists but no checkpoints", "firstlap: 1 2 3 normallap: 0 1 2 3", 0, 0, 3, 4, 3, 4, 0},
      {"nan ends the checkpoints",
       "checkpoints:\n8 [0 0 0] [1 0 0]\n8 [1 0 0] [1 0 0]\nnan [2 0 0] [1 0 0]\n8 [3 0 0] [1 0 0]\n"
       "firstlap: 0 1 1 normallap: 0 1 1",
       0, 2, 0, 0, 0, 0, 0},
      {"inf ends the gates and so the checkpoints",
       "startinggate:\n[1 0 1] 0\n[2 0 inf] 0\n" + cps + "firstlap: 1 2 3 normallap: 0 1 2 3", 1, 0,
       0, 0, 0, 0, 0},
      {"a short gate line likewise", "startinggate:\n[1 0 1] 0\n[2 0] 0\n" + cps, 1, 0, 0, 0, 0, 0, 0},
      {"blank lines between gates", "startinggate:\n\n[1 0 1] 0\n   \n[2 0 1] 0\n" + cps, 2, 4, 0, 0,
       0, 0, 0},
      {"an empty file", "", 0, 0, 0, 0, 0, 0, 0},
  };
  for (const Snippet &s : cases) {
    EXPECT_EQ(read_text(s.text), 1) << s.what;
    EXPECT_EQ(timing.gate_count, s.gates) << s.what;
    EXPECT_EQ(timing.checkpoint_count, s.checkpoints) << s.what;
    EXPECT_EQ(timing.first_count, s.first) << s.what;
    EXPECT_EQ(timing.normal_count, s.normal) << s.what;
    EXPECT_EQ(timing.first_counted, s.first_counted) << s.what;
    EXPECT_EQ(timing.normal_counted, s.normal_counted) << s.what;
    EXPECT_EQ(timing.enabled, s.enabled) << s.what;
    // Without timing no checkpoint counts, whatever the tables hold.
    if (!s.enabled) {
      EXPECT_EQ(timing_checkpoint_for(0), -1) << s.what;
    }
  }
}

TEST_F(TimingFile, GateNamesAndAngles) {
  ASSERT_EQ(read_text(FULL), 1);
  ASSERT_EQ(timing.gate_count, 4);
  const StartGate *g = timing.gates;
  EXPECT_STREQ(g[0].model, "@startgate.jm");
  EXPECT_STREQ(g[0].texture, "@startgate.ppm");
  EXPECT_STREQ(g[0].shape, "@startgate.shp");
  EXPECT_STREQ(g[1].model, "@gate2.jm");
  EXPECT_STREQ(g[1].texture, "@startgate.ppm");
  EXPECT_STREQ(g[2].texture, "@g.png");
  EXPECT_STREQ(g[2].shape, "@startgate.shp");
  EXPECT_STREQ(g[3].shape, "@g.shp");
  EXPECT_FLOAT_EQ(g[1].y, 0.5f);
  EXPECT_NEAR(g[1].angle, 7 - 2 * M_PI, 1e-6);
  EXPECT_NEAR(g[2].angle, -M_PI / 2, 1e-6);
  EXPECT_FLOAT_EQ(g[3].angle, 0.25f);
  for (int i = 0; i < 4; i++) EXPECT_EQ(g[i].fall, 1.0f);

  // Angles outside -pi..pi come back into it, both ways round.
  const float angles[][2] = {{-7, float(-7 + 2 * M_PI)}, {10, float(10 - 4 * M_PI)}, {-3.1f, -3.1f}};
  for (const auto &a : angles) {
    timing_clear();
    ASSERT_EQ(timing_add_gate(0, 0, 0, a[0], nullptr, nullptr, nullptr), 0);
    EXPECT_NEAR(timing.gates[0].angle, a[1], 1e-5) << a[0];
  }
}

TEST_F(TimingFile, EntriesAreClampedToTheCheckpoints) {
  ASSERT_EQ(read_text(std::string(CHECKPOINTS) + "firstlap: -5 7 100009 2 normallap: 0 250001 1 2"), 1);
  const int entries[] = {0, 3, 100003, 2, 0, 100003, 1, 2};
  for (int i = 0; i < 8; i++) EXPECT_EQ(timing.entries[i], entries[i]) << i;
  EXPECT_EQ(timing.first_counted, 3);  // an uncounted entry stays uncounted
  EXPECT_EQ(timing.normal_counted, 3);
  EXPECT_EQ(timing_checkpoint_for(2), 3);
  EXPECT_EQ(timing_checkpoint_for(4 + 1), 3);
  EXPECT_EQ(timing_checkpoint_for(4 + 4 + 2), 1);  // the normal lap repeats
}

TEST_F(TimingFile, TheTablesHaveLimits) {
  std::string text = "startinggate:\n";
  for (int i = 0; i < 170; i++) text += "[" + std::to_string(i) + " 0 0] 0\n";
  text += "checkpoints:\n";
  for (int i = 0; i < 256; i++) text += "5 [" + std::to_string(i) + " 0 0] [1 0 0]\n";
  text += "firstlap:";
  for (int i = 0; i < 300; i++) text += " " + std::to_string(i % 4);
  ASSERT_EQ(read_text(text), 1);
  EXPECT_EQ(timing.gate_count, 160);
  EXPECT_EQ(timing.gates[159].x, 159);
  EXPECT_EQ(timing.checkpoint_count, 256);
  EXPECT_EQ(timing.first_count, 256);
}

TEST_F(TimingFile, AMissingFileLeavesNoGates) {
  ASSERT_EQ(read_text(FULL), 1);
  EXPECT_EQ(read_timing_gates("/nonexistent/timing_gates"), 0);
  EXPECT_EQ(timing.gate_count, 0);
  EXPECT_EQ(timing.checkpoint_count, 0);
  EXPECT_EQ(timing.enabled, 0);
  EXPECT_EQ(read_timing_gates(nullptr), 0);
}

TEST_F(TimingFile, TheWritersExactText) {
  ASSERT_EQ(read_text(FULL), 1);
  EXPECT_EQ(written(),
            "startinggate:\n"
            "[10.000000 0.000000 20.000000] 0.000000\n"
            "[13.000000 0.500000 20.000000] 0.716815 @gate2.jm @startgate.ppm @startgate.shp\n"
            "[16.000000 0.000000 20.000000] -1.570796 @g.jm @g.png @startgate.shp\n"
            "[19.000000 0.000000 20.000000] 0.250000 @g.jm @g.png @g.shp\n"
            "checkpoints:\n"
            "8.000000 [0.000000 0.000000 0.000000] [1.000000 0.000000 0.000000]\n"
            "8.000000 [100.000000 0.000000 0.000000] [1.000000 0.000000 0.000000]\n"
            "8.000000 [200.000000 0.000000 0.000000] [1.000000 0.000000 0.000000]\n"
            "8.000000 [300.000000 0.000000 0.000000] [1.000000 0.000000 0.000000]\n"
            "\n"
            "firstlap:\n"
            "1 2 3 \n"
            "normallap:\n"
            "0 1 2 3 \n");
  char small[64];
  EXPECT_EQ(format_timing_gates(small, sizeof small), -1);
}

TEST_F(TimingFile, RoundTrips) {
  const std::string texts[] = {
      FULL,
      // A gate without a statue, and a half-built course: checkpoints but
      // no usable laps are written all the same.
      "startinggate:\n[1 2 3] -3 null null null\n[4 5 6] 3 null @t.png null\n" + std::string(CHECKPOINTS) +
          "firstlap: 0 1 normallap: 100003 2",
      std::string(CHECKPOINTS) + "firstlap: 0 100001 2 3 normallap: 100000 1 2 3",
      // Lap lists without checkpoints: the section's word still ends the
      // gates.
      "startinggate:\n[1 2 3] 0\ncheckpoints:\nfirstlap: 1 2 normallap: 5",
      "checkpoints:\nnormallap: 1 2",
  };
  for (const std::string &text : texts) {
    ASSERT_EQ(read_text(text), 1);
    std::string first = written();
    int gates = timing.gate_count, cps = timing.checkpoint_count, enabled = timing.enabled;
    int first_count = timing.first_count, normal_count = timing.normal_count;
    ASSERT_EQ(read_text(first), 1);
    EXPECT_EQ(written(), first);
    EXPECT_EQ(timing.gate_count, gates);
    EXPECT_EQ(timing.checkpoint_count, cps);
    EXPECT_EQ(timing.first_count, first_count);
    EXPECT_EQ(timing.normal_count, normal_count);
    EXPECT_EQ(timing.enabled, enabled);
  }
  ASSERT_EQ(read_text(texts[1]), 1);
  EXPECT_STREQ(timing.gates[0].model, "");
  EXPECT_STREQ(timing.gates[1].texture, "@t.png");
  EXPECT_EQ(timing.gates[0].statue, -1);  // nothing named, nothing made
  EXPECT_NE(written().find("] -3.000000 null null null\n"), std::string::npos);
  EXPECT_NE(written().find("checkpoints:\n"), std::string::npos);
}

TEST_F(TimingFile, WritingGoesThroughATemporaryFile) {
  TempFolders dirs("tw_timing_w");
  ASSERT_EQ(read_text(FULL), 1);
  ASSERT_EQ(write_timing_gates("@tracks/t"), 1);
  EXPECT_EQ(read_file(dirs.home + "tracks/t/timing_gates"), written());
  EXPECT_EQ(read_file(dirs.home + "tracks/t/timing_gates.tmp"), "");

  // A folder that cannot exist: said, and nothing else touched.
  ASSERT_TRUE(write_file(dirs.root + "/plain", "x"));
  MessageCatcher messages;
  EXPECT_EQ(write_timing_gates((dirs.root + "/plain/track").c_str()), 0);
  ASSERT_EQ(messages.lines.size(), 1u);
  EXPECT_EQ(messages.lines[0], "Can't open 'timing_gates'\n");
  EXPECT_EQ(read_file(dirs.root + "/plain"), "x");
}
