// Loading as a whole: the track digest against an independent RIPEMD-160,
// the progress texts in their order, the same-track shortcut and freeing.
#include <algorithm>
#include <cstdio>

#include "core/log.h"
#include "terrain/deform.h"
#include "tests/race/track_fixture.h"

namespace {

std::string hex(const uint8_t *d, int n) {
  std::string s;
  char b[3];
  for (int i = 0; i < n; i++) {
    snprintf(b, sizeof b, "%02x", d[i]);
    s += b;
  }
  return s;
}

// RIPEMD-160 of the bytes by "openssl dgst -ripemd160" when it is there,
// else by core's (itself checked against the published vectors).
std::string ripemd160_hex(const std::string &bytes, const std::string &scratch) {
  write_file(scratch, bytes);
  std::string cmd = "openssl dgst -ripemd160 -r '" + scratch + "' 2>/dev/null";
  if (FILE *p = popen(cmd.c_str(), "r")) {
    char line[256] = "";
    bool got = fgets(line, sizeof line, p) != nullptr;
    int status = pclose(p);
    if (got && status == 0 && strlen(line) >= 40) return std::string(line, 40);
  }
  uint8_t d[20];
  ripemd160(bytes.data(), bytes.size(), d);
  return hex(d, 20);
}

const char *TILEINFO = "name dirt\ntexture @dirt.png\nfriction 0.9 1\naddtile\n";

TEST_F(TrackTest, DigestCoversTheFilesInOrderThenTheDistinctStatueShapes) {
  std::string a = post_shape(0.5f, 1), b = post_shape(0.25f, 2);
  std::vector<std::pair<std::string, std::string>> files = {
      {"terrain.png", "not a picture"},
      {"tileinfo", TILEINFO},
      {"nofrills.js", "// nothing\n"},
      {"timing_gates", "firstlap:\n"},
      {"statues", "[ 10 0 10 ] 0 m.jm null @tracks/full/a.shp\n"
                  "[ 20 0 10 ] 0 m.jm null null\n"
                  "[ 30 0 10 ] 0 m.jm null @tracks/full/b.shp\n"
                  "[ 40 0 10 ] 0 m.jm null @tracks/full/a.shp\n"},
      {"a.shp", a},
      {"b.shp", b},
      {"flaggers", "ignored by the digest"},
  };
  write_track("full", files);
  std::string dir = folders.home + "tracks/full/";
  std::string expected;
  for (const char *name : {"terrain.hf", "terrain.png", "texturelist", "tilemap", "tileinfo",
                           "nofrills.js", "timing_gates", "statues", "a.shp", "b.shp"})
    expected += read_file(dir + name);
  select("full");
  ASSERT_EQ(load_track(table({SLOT_ROBOT}).data(), 0, 0, 0, 3, 0), 1);
  EXPECT_EQ(hex(track_digest, 20), ripemd160_hex(expected, folders.root + "/all"));

  // Missing files add nothing: no picture, script, statues file or shapes.
  write_track("part", {{"tileinfo", TILEINFO}, {"timing_gates", "firstlap:\n"}});
  dir = folders.home + "tracks/part/";
  expected.clear();
  for (const char *name : {"terrain.hf", "texturelist", "tilemap", "tileinfo", "timing_gates"})
    expected += read_file(dir + name);
  select("part");
  ASSERT_EQ(load_track(table({SLOT_ROBOT}).data(), 0, 0, 0, 3, 0), 1);
  EXPECT_EQ(hex(track_digest, 20), ripemd160_hex(expected, folders.root + "/part"));

  // A statue whose shape file is missing names it, but it adds nothing.
  write_track("gone", {{"statues", "[ 10 0 10 ] 0 m.jm null @tracks/gone/none.shp\n"}});
  dir = folders.home + "tracks/gone/";
  expected.clear();
  for (const char *name : {"terrain.hf", "texturelist", "tilemap", "statues"})
    expected += read_file(dir + name);
  select("gone");
  ASSERT_EQ(load_track(table({SLOT_ROBOT}).data(), 0, 0, 0, 3, 0), 1);
  EXPECT_EQ(hex(track_digest, 20), ripemd160_hex(expected, folders.root + "/gone"));
}

std::vector<std::string> *shown = nullptr;
void catch_progress(const char *text, int cycling) {
  if (!cycling) shown->push_back(text);
}

TEST_F(TrackTest, ProgressTextsAndTheSameTrackShortcut) {
  write_track("flat", {{"statues", "[ 10 0 10 ] 0 m.jm null null\n"},
                       {"billboards", "[ 1 0 1 ] 2 1 tree.png\n"}});
  select("flat");
  std::vector<std::string> texts;
  shown = &texts;
  auto old = ui_hooks.progress;
  ui_hooks.progress = catch_progress;
  auto t = table({SLOT_ROBOT});
  ASSERT_EQ(load_track(t.data(), 0, 0, 0, 3, 0), 1);
  // The track's own steps, each closed by its "...done", in this order
  // (the ground's loader shows texts of its own in between).
  const std::vector<std::string> order = {
      "Resetting...", "Resetting......done", "Remembering lines", "Remembering lines...done",
      "Cleaning up", "Cleaning up...done", "Scanning", "Scanning...done", "Loading flaggers",
      "Loading flaggers...done", "Loading billboards", "Loading billboards...done",
      "Loading statues", "Loading statues...done", "Loading map", "Loading map...done",
      "Analyzing lines", "Analyzing lines...done", "Loading bikes", "Loading bikes...done",
      "Loading track script", "Loading track script...done"};
  size_t at = 0;
  for (const std::string &s : texts)
    if (at < order.size() && s == order[at]) at++;
  EXPECT_EQ(at, order.size()) << "missing or out of order: " << order[std::min(at, order.size() - 1)];
  EXPECT_EQ(first_file_billboard, ROOST_PARTICLES);
  EXPECT_EQ(billboard_count, ROOST_PARTICLES + 1);
  EXPECT_EQ(billboards[0].texture, 0);

  // The same track again keeps its files; a reload request reads them.
  texts.clear();
  statues[0].contact_tic = 77;
  ASSERT_EQ(load_track(t.data(), 0, 0, 0, 3, 0), 1);
  EXPECT_EQ(std::count(texts.begin(), texts.end(), "Scanning"), 0);
  EXPECT_EQ(std::count(texts.begin(), texts.end(), "Loading bikes"), 1);
  EXPECT_EQ(statue_count, 1);
  EXPECT_EQ(statues[0].contact_tic, 0);
  texts.clear();
  track_request_reload();
  ASSERT_EQ(load_track(t.data(), 0, 0, 0, 3, 0), 1);
  EXPECT_EQ(std::count(texts.begin(), texts.end(), "Scanning"), 1);
  EXPECT_EQ(statue_count, 1);
  ui_hooks.progress = old;
  shown = nullptr;

  // A track that is not listed, or whose ground does not load, leaves
  // none loaded.
  MessageCatcher messages;
  track_menu_select("nowhere");
  EXPECT_EQ(load_track(t.data(), 0, 0, 0, 3, 0), 0);
  EXPECT_FALSE(track_loaded());
  EXPECT_EQ(riders_present(), 0);
  EXPECT_EQ(statue_count, 0);
  write_track("broken", {{"terrain.hf", "garbage"}});
  select("broken");
  EXPECT_EQ(load_track(t.data(), 0, 0, 0, 3, 0), 0);
  EXPECT_FALSE(track_loaded());
  // And the next load of a good one works.
  select("flat");
  EXPECT_EQ(load_track(t.data(), 0, 0, 0, 3, 0), 1);
  EXPECT_TRUE(track_loaded());
  free_track();
  EXPECT_FALSE(track_loaded());
  EXPECT_EQ(billboard_count, 0);
  EXPECT_EQ(terrain.heights, nullptr);
}

// The log tells what loading did, in order.
TEST_F(TrackTest, LogTexts) {
  write_track("flat", {{"cameras", "addcamera 1 2 3\naddcamera 4 5 6\n"}});
  write_track("other");
  std::string log = folders.root + "/log.txt";
  korb_reset_for_tests();
  log_printf("KORB_LOGFILE=%s", log.c_str());
  log_verbosity = 1;
  auto t = table({SLOT_ROBOT});
  select("other");
  ASSERT_EQ(load_track(t.data(), 0, 0, 0, 3, 0), 1);
  select("flat");
  ASSERT_EQ(load_track(t.data(), 0, 0, 0, 3, 0), 1);
  free_track();
  log_verbosity = 0;
  korb_reset_for_tests();
  std::string text = read_file(log);
  size_t at = text.find("Max loading delay was ");  // the second load from here
  ASSERT_NE(at, std::string::npos);
  for (const char *want :
       {"Resetting...\n", "Resetting\n", "Deallocating bikes\n", "Finished deallocating bikes\n",
        "Deallocating track\n", "Finished deallocating track\n", "Scanning\n",
        "Loading 'tracks/flat'\n", "2 cameras found\n", "Loading bikes\n", "Loading bikes...done\n",
        "Max loading delay was ", "Deallocating track\n", "Finished deallocating track\n"}) {
    size_t next = text.find(want, at);
    ASSERT_NE(next, std::string::npos) << "\"" << want << "\" missing after " << text.substr(at, 200);
    at = next + 1;
  }
}

}  // namespace
