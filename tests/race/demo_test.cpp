// Demo files: hand-made files fed into the histories, malformed ones
// refused, and races recorded, replayed and sought through.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "race/demo.h"
#include "race/history.h"
#include "terrain/deform.h"
#include "track_fixture.h"

namespace {

// A demo file as bytes: text, then blocks with chained lengths.
struct DemoBytes {
  std::string s;
  uint32_t prev = 0;
  void text(const std::string &t) { s += t; }
  void u32(uint32_t v) {
    for (int k = 0; k < 4; k++) s += char(uint8_t(v >> (8 * k)));
  }
  void block(int kind, int tic, const std::string &payload) {
    u32(uint32_t(payload.size()) ^ prev);
    u32(uint32_t(tic));
    s += char(kind);
    s += payload;
    prev = uint32_t(payload.size());
  }
  static std::string record(int rider, int tic, uint8_t fill) {
    std::string r(1, char(rider));
    for (int k = 0; k < 4; k++) r += char(uint8_t(uint32_t(tic) >> (8 * k)));
    std::string snap(SNAPSHOT_BYTES, char(fill));
    return r + snap;
  }
};

const char *RIDERS6 =
    "yz250f|r.png|b.png|w.png|h.png\n12\nAnna\n\n"
    "cr250||||\n7\n\n\n";  // an empty name

struct Caught {
  static int erosion;
  static std::string script;
};
int Caught::erosion = -1;
std::string Caught::script;

struct DemoFileTest : ::testing::Test {
  float old_extent = 0;
  void SetUp() override {
    history_clear_all();
    erode_queue_clear();
    physics.now_tic = 0;
    Caught::erosion = -1;
    Caught::script.clear();
    demo_hooks.set_erosion = [](int a) { Caught::erosion = a; };
    demo_hooks.script_message = [](const char *t) { Caught::script = t; };
    old_extent = terrain.extent;
    terrain.extent = 256;  // rut records are read against it
  }
  void TearDown() override {
    demo_close();
    demo_hooks = DemoHooks();
    history_clear_all();
    erode_queue_clear();
    terrain.extent = old_extent;
  }
};

std::string rut_record() {
  WheelRutState w;
  erode_wheel_reset(&w);
  w.entries[0] = DigEntry{100, 120, 0.5f, -0.25f, 3};
  w.entry_count = 1;
  w.min_dx = w.min_dz = -1;
  w.max_dx = w.max_dz = 1;
  uint8_t out[RUT_RECORD_MAX];
  int n = erode_pack(&w, out);
  return std::string(reinterpret_cast<char *>(out), size_t(n));
}

TEST_F(DemoFileTest, Version6FeedsHistoriesAndEvents) {
  DemoBytes d;
  d.text("TW06 2 7680 3 1800\ntracks/flat\n");
  d.text(RIDERS6);
  d.block(3, 0, "erode 200000");  // clamped like the command line's
  d.block(1, 16, DemoBytes::record(0, 12, 1) + DemoBytes::record(1, 12, 2) +
                     DemoBytes::record(0, 16, 3) + DemoBytes::record(5, 16, 4));  // no rider 5
  d.block(2, 16, "hello");
  d.block(77, 16, "unknown kinds are passed over");
  d.block(5, 20, rut_record());
  d.block(6, 20, "go");
  d.block(1, 30, DemoBytes::record(1, 30, 5).substr(0, 40));  // not whole records
  d.block(1, 100, DemoBytes::record(1, 100, 6));
  ASSERT_EQ(demo_open_memory(d.s.data(), int(d.s.size())), 1);
  DemoHeader h;
  ASSERT_EQ(demo_header(&h), 1);
  EXPECT_EQ(h.version, 6);
  EXPECT_EQ(h.riders, 2);
  EXPECT_EQ(h.time_limit, 7680);
  EXPECT_EQ(h.laps, 3);
  EXPECT_EQ(h.drop_tic, 1800);
  EXPECT_STREQ(h.track, "tracks/flat");
  ASSERT_EQ(demo_rider_count(), 2);
  EXPECT_STREQ(demo_rider(0)->name, "Anna");
  EXPECT_STREQ(demo_rider(0)->textures[1], "h.png");  // the head
  EXPECT_STREQ(demo_rider(1)->bike, "cr250");
  EXPECT_STREQ(demo_rider(1)->number, "7");
  EXPECT_STREQ(demo_rider(1)->name, "");

  MessageCatcher messages;
  int slots[2] = {4, 9};
  demo_replay_start(slots, 2);
  // The first state block sets the clock.
  EXPECT_EQ(physics.now_tic, 16);
  EXPECT_EQ(Caught::erosion, 102400);
  ASSERT_EQ(histories[4].count, 2);
  EXPECT_EQ(histories[4].entries[0].tic, 12);
  EXPECT_EQ(histories[4].entries[1].snapshot[0], 3);
  ASSERT_EQ(histories[9].count, 1);
  EXPECT_EQ(histories[9].entries[0].snapshot[0], 2);
  ASSERT_EQ(messages.lines.size(), 1u);
  EXPECT_EQ(messages.lines[0], "hello");
  EXPECT_EQ(Caught::script, "go");
  EXPECT_EQ(erode_queue_length(), 1);
  // Tic 100 is more than 64 ahead: not yet.
  EXPECT_EQ(histories[9].count, 1);
  EXPECT_EQ(demo_replay_end_tic(), -1);
  physics.now_tic = 36;
  demo_read_tic();
  ASSERT_EQ(histories[9].count, 2);
  EXPECT_EQ(histories[9].entries[1].tic, 100);
  demo_read_tic();
  EXPECT_EQ(demo_replay_end_tic(), 100);

  // Reading from the start again digs nothing twice.
  demo_replay_start(slots, 2);
  EXPECT_EQ(erode_queue_length(), 2);
}

TEST_F(DemoFileTest, Version5RecordsArePerTicInRiderOrder) {
  DemoBytes d;
  d.text("TW05 2 0 3\ntracks/flat\nyz250f\n12\ncr250|a.png\n7\n");
  for (int tic = 0; tic < 20; tic++) {
    d.text(std::string(SNAPSHOT_BYTES, char(tic)));
    d.text(std::string(SNAPSHOT_BYTES, char(100 + tic)));
  }
  ASSERT_EQ(demo_open_memory(d.s.data(), int(d.s.size())), 1);
  DemoHeader h;
  demo_header(&h);
  EXPECT_EQ(h.drop_tic, 1792);  // not given
  EXPECT_STREQ(demo_rider(1)->textures[0], "a.png");
  int slots[2] = {0, 1};
  demo_replay_start(slots, 2);
  ASSERT_EQ(histories[0].count, 9);  // tics 0..8: 8 ahead
  EXPECT_EQ(histories[0].entries[8].tic, 8);
  EXPECT_EQ(histories[0].entries[8].snapshot[0], 8);
  EXPECT_EQ(histories[1].entries[8].snapshot[0], 108);
  physics.now_tic = 100;
  demo_read_tic();
  EXPECT_EQ(histories[1].count, 20);
  EXPECT_EQ(demo_replay_end_tic(), 19);
}

TEST_F(DemoFileTest, MalformedHeadersAndEntriesAreRefused) {
  const char *cases[] = {
      "",
      "TW06 1 0 1 1000",                             // no newline
      "XX06 0 0 1 1000\ntracks/flat\n",
      "TW06 0\ntracks/flat\n",                       // too few numbers
      "TW07 0 0 1 1000\ntracks/flat\n",
      "TW04 0 0 1 1000\ntracks/flat\n",              // old layout not read
      "TW06 161 0 1 1000\ntracks/flat\n",
      "TW06 -1 0 1 1000\ntracks/flat\n",
      "TW06 0 -5 1 1000\ntracks/flat\n",
      "TW06 0 0 1 1000\ntracks/flat",                // track line unended
      "TW06 1 0 1 1000\ntracks/flat\nyz250f||||\n12\nAnna\n",   // no empty line
      "TW06 1 0 1 1000\ntracks/flat\nyz250f||||\n12\nAnna\nx\n",  // not empty
      "TW06 2 0 1 1000\ntracks/flat\nyz250f||||\n12\nAnna\n\n",   // a rider short
      "TW05 1 0 1 1000\ntracks/flat\nyz250f\n",
  };
  for (const char *c : cases)
    EXPECT_EQ(demo_open_memory(c, int(strlen(c))), 0) << c;
  const char *ok = "TW06 0 0 1 1000\ntracks/flat\n";
  EXPECT_EQ(demo_open_memory(ok, int(strlen(ok))), 1);
}

TEST_F(DemoFileTest, ABadLengthEndsTheReplayKeepingWhatWasRead) {
  DemoBytes d;
  d.text("TW06 1 0 1 1000\ntracks/flat\n");
  d.text("yz250f||||\n1\nA\n\n");
  d.block(1, 0, DemoBytes::record(0, 0, 1));
  d.block(1, 4, DemoBytes::record(0, 4, 2));
  std::string cut = d.s + std::string("\xff\xff\xff\x7f\x08\x00\x00\x00\x01", 9) + "xx";
  ASSERT_EQ(demo_open_memory(cut.data(), int(cut.size())), 1);
  int slot = 3;
  demo_replay_start(&slot, 1);
  EXPECT_EQ(histories[3].count, 2);
  EXPECT_EQ(demo_replay_end_tic(), 4);
  // A truncated last block likewise.
  std::string part = d.s.substr(0, d.s.size() - 10);
  ASSERT_EQ(demo_open_memory(part.data(), int(part.size())), 1);
  history_clear_all();
  demo_replay_start(&slot, 1);
  EXPECT_EQ(histories[3].count, 1);
  EXPECT_EQ(demo_replay_end_tic(), 0);
}

// ------------------------------------------------------- whole races

class DemoRaceTest : public TrackTest {
 protected:
  void TearDown() override {
    demo_finish_recording();
    demo_close();
    demo_set_backups(0);
    TrackTest::TearDown();
  }
  // The local rider rides off with some throttle and steering.
  static void ride(int tics) {
    for (int t = 0; t < tics; t++) {
      if (Rider *r = rider_in_slot(0); r && rider_roles[0] == ROLE_LOCAL) {
        TicCommand c = rider_current_command(r);
        c.throttle = 0.3f;
        c.clutch = 1;
        c.steering = (t / 300) % 2 ? 0.2f : -0.1f;
        c.shift = t == 0 ? 1 : 0;
        rider_apply_command(r, c);
      }
      race_tic();
    }
  }
  std::string demo_path(const char *name) { return folders.home + "demos/" + name; }
};

TEST_F(DemoRaceTest, BackupsKeepTheNewestRecordings) {
  write_track("flat");
  select("flat");
  demo_set_backups(3);
  for (int n = 0; n < 5; n++) {
    auto t = table({SLOT_LOCAL});
    ASSERT_EQ(load_track(t.data(), 0, 1, 0, 1, 0), 1);
    ride(32 + n);
    demo_finish_recording();
  }
  for (const char *f : {"default.twdemo", "default00.twdemo", "default01.twdemo",
                        "default02.twdemo"})
    EXPECT_FALSE(read_file(demo_path(f)).empty()) << f;
  EXPECT_TRUE(read_file(demo_path("default03.twdemo")).empty());
}

TEST_F(DemoRaceTest, ARecordedRaceReplaysWhereItWasRiddenAndSeeksBack) {
  write_track("flat");
  select("flat");
  auto t = table({SLOT_LOCAL});
  ASSERT_EQ(load_track(t.data(), 0, 1, 0, 1, 0), 1);
  const int SAMPLES[] = {800, 1000, 1200};
  double at[3][3];
  int k = 0;
  while (k < 3) {
    ride(1);
    if (physics.now_tic == SAMPLES[k]) frame_at(0, at[k++]);
  }
  for (auto &p : at) {
    ASSERT_GT(p[0], 0);
    ASSERT_LT(p[0], 256);  // still on the ground's square
    ASSERT_GT(p[2], 0);
    ASSERT_LT(p[2], 256);
  }
  ride(40);
  char reply[80];
  EXPECT_EQ(demo_set_name("../up", reply, sizeof reply), 0);
  EXPECT_EQ(demo_set_name("mine", reply, sizeof reply), 1);
  EXPECT_STREQ(reply, "Demo name updated");
  demo_finish_recording();
  std::string file = demo_path("mine.twdemo");
  std::string bytes = read_file(file);
  ASSERT_FALSE(bytes.empty());
  EXPECT_EQ(bytes.substr(0, 5), "TW06 ");

  char track[256];
  ASSERT_EQ(demo_open_playback(file.c_str(), track, sizeof track), 1);
  EXPECT_STREQ(track, "tracks/flat");
  auto none = table({});
  ASSERT_EQ(load_track(none.data(), 1, 0, 0, 1000, 0), 1);
  ASSERT_NE(rider_in_slot(0), nullptr);
  EXPECT_EQ(rider_roles[0], ROLE_REPLAYED);
  EXPECT_TRUE(demo_replay_only());
  auto near = [&](int i) {
    double p[3];
    frame_at(0, p);
    double d2 = 0;
    for (int j = 0; j < 3; j++) d2 += (p[j] - at[i][j]) * (p[j] - at[i][j]);
    return std::sqrt(d2);
  };
  // Posed a tic after the physics had it there (it is recorded after the
  // clock moves on); at riding speed that is well within a foot.
  while (physics.now_tic < SAMPLES[2] + 1) race_tic();
  EXPECT_LT(near(2), 0.25);
  demo_seek(-((SAMPLES[2] - SAMPLES[0]) * TIC_SECONDS));
  EXPECT_EQ(physics.now_tic, SAMPLES[0] + 1);
  EXPECT_LT(near(0), 0.25);
  demo_seek((SAMPLES[1] - SAMPLES[0]) * TIC_SECONDS + TIC_SECONDS);
  EXPECT_EQ(physics.now_tic, SAMPLES[1] + 1);
  EXPECT_LT(near(1), 0.25);
}

TEST_F(DemoRaceTest, ATrackThatIsNotListedIsNotReplayed) {
  write_track("flat");
  select("flat");
  std::string file = folders.root + "/x.twdemo";
  write_file(file, "TW06 0 0 1 1000\n../../etc\n");
  char track[256] = "?";
  MessageCatcher messages;
  EXPECT_EQ(demo_open_playback(file.c_str(), track, sizeof track), 0);
  EXPECT_STREQ(track, "");
  EXPECT_FALSE(demo_playing());
}

}  // namespace

namespace {

TEST_F(DemoRaceTest, TheGhostRidesTheFastLapFromNow) {
  write_track("flat");
  select("flat");
  ASSERT_EQ(load_track(nullptr, 0, 0, 0, 1000, 0), 1);  // a time trial
  ride(100);
  demo_start_recording();
  ASSERT_TRUE(demo_recording());
  double at[5][3];
  for (int k = 0; k < 5; k++) {
    frame_at(0, at[k]);
    ride(100);
  }
  demo_finish_recording();
  EXPECT_FALSE(read_file(folders.home + "tracks/flat/lastlap.twdemo").empty());
  EXPECT_FALSE(demo_fast_lap_exists());
  ASSERT_EQ(demo_keep_fast_lap(), 1);
  EXPECT_TRUE(demo_fast_lap_exists());
  ride(37);
  int ghost_start = physics.now_tic;
  ASSERT_EQ(demo_start_ghost(), 1);
  EXPECT_FALSE(demo_playing());  // a ghost is not a replay to seek
  ASSERT_NE(rider_in_slot(1), nullptr);
  EXPECT_EQ(rider_roles[1], ROLE_REPLAYED);
  EXPECT_EQ(rider_timing[1].progress, 0);  // F - 1 without timing: 0
  for (int k = 0; k < 5; k++) {
    while (physics.now_tic < ghost_start + 100 * k + 1) race_tic();
    double p[3];
    frame_at(1, p);
    double d2 = 0;
    for (int j = 0; j < 3; j++) d2 += (p[j] - at[k][j]) * (p[j] - at[k][j]);
    EXPECT_LT(std::sqrt(d2), 0.25) << "at " << 100 * k << " tics into the lap";
  }
  demo_stop_ghost();
  EXPECT_EQ(rider_in_slot(1), nullptr);
}

}  // namespace

namespace {

TEST_F(DemoRaceTest, NamedemoNeverOverwritesAnEarlierDemo) {
  write_track("flat");
  select("flat");
  char reply[80];
  EXPECT_EQ(demo_set_name("x", reply, sizeof reply), 0);
  EXPECT_STREQ(reply, "Not currently recording a demo");
  std::string sizes[2];
  for (int n = 0; n < 2; n++) {
    auto t = table({SLOT_LOCAL});
    ASSERT_EQ(load_track(t.data(), 0, 1, 0, 1, 0), 1);
    ride(64 * (n + 1));
    for (const char *bad : {"a/b", "a\\b", "..x"})
      EXPECT_EQ(demo_set_name(bad, reply, sizeof reply), 0) << bad;
    EXPECT_EQ(demo_set_name("best.twdemo", reply, sizeof reply), 1);
    MessageCatcher messages;
    demo_finish_recording();
    EXPECT_EQ(messages.lines.size(), size_t(n));  // the second is told
  }
  std::string first = read_file(demo_path("best.twdemo"));
  std::string second = read_file(demo_path("default.twdemo"));
  ASSERT_FALSE(first.empty());
  ASSERT_FALSE(second.empty());
  EXPECT_LT(first.size(), second.size());  // the longer ride kept its default name
  EXPECT_TRUE(read_file(demo_path("best.twdemo.twdemo")).empty());
}

}  // namespace
