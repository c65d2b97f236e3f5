// The configuration file: the hand-made full file round trip, the reading
// rules and the safe rewrite.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "app/app.h"
#include "app/config.h"
#include "bike/bike.h"
#include "core/core.h"
#include "core/log.h"
#include "platform/platform.h"
#include "tests/common/test_util.h"

namespace {

std::string fixture(const char *name) {
  return read_file(std::string(getenv("TW_SOURCE_DIR")) + "/tests/app/fixtures/" + name);
}

void read_text(const std::string &text) {
  DataFile *f = data_open_memory(text.data(), int(text.size()), 0);
  ASSERT_NE(f, nullptr);
  config_read_file(f);
  data_close(f);
}

std::string item_value_text(const ConfigItem &it) {
  char buf[64];
  switch (it.kind) {
    case ITEM_NUMBER: snprintf(buf, sizeof buf, "%.17g", *it.number); return buf;
    case ITEM_INTEGER: return std::to_string(*it.integer);
    case ITEM_CHOICE: return std::to_string(*it.choice);
    case ITEM_TEXT: return it.text;
    default: return "";
  }
}

Binding &control(const char *key) {
  for (int i = 0; i < CONTROL_COUNT; i++)
    if (!strcmp(control_info[i].config_key, key)) return control_bindings[i];
  return control_bindings[0];
}

// Every item's value equals the default's (a Config of its own).
void expect_defaults() {
  Config saved = config;
  config = Config();
  int n;
  const ConfigItem *items = config_items(&n);
  std::vector<std::string> want;
  for (int i = 0; i < n; i++) want.push_back(item_value_text(items[i]));
  config = saved;
  for (int i = 0; i < n; i++) EXPECT_EQ(item_value_text(items[i]), want[size_t(i)]) << items[i].key;
}

// Every key at a value other than its default, in writing order: read and
// written back it gives the same bytes.
TEST(Config, FullFileRoundTrip) {
  TempFolders t;
  config_set_defaults();
  std::string all = fixture("config_all");
  ASSERT_FALSE(all.empty());
  ASSERT_TRUE(write_file(t.home + "config", all));
  config_read();
  EXPECT_EQ(config.xres, 1280);
  EXPECT_EQ(config.skill, 2);
  EXPECT_EQ(config.slot[1], 2);
  EXPECT_EQ(config.video_mode, 0);
  EXPECT_DOUBLE_EQ(config.fov, 95);
  EXPECT_STREQ(config.server_name_hist[15], "host15.example.org");
  EXPECT_STREQ(setup_text(&rider_setup, SETUP_NAME), "Rita Ridge");
  EXPECT_STREQ(control("throttle_key").axis_name, "XInputGamepad0.axis[5]");
  remove((t.home + "config").c_str());
  ASSERT_TRUE(config_write());
  EXPECT_EQ(read_file(t.home + "config"), all);
  config_set_defaults();
}

// What the defaults write reads back as the defaults; the file has every
// written key once and nothing read-only.
TEST(Config, DefaultsRoundTrip) {
  TempFolders t;
  config_set_defaults();
  ASSERT_TRUE(config_write());
  std::string written = read_file(t.home + "config");
  EXPECT_EQ(written.find("use_fbo"), std::string::npos);
  EXPECT_EQ(written.find("ground_texture_distance"), std::string::npos);
  EXPECT_NE(written.find("\nserver_name=localhost\n"), std::string::npos);
  // Scramble, then read the defaults' file over the scrambled values.
  read_text(fixture("config_all"));
  ASSERT_EQ(config.xres, 1280);
  config_read();
  expect_defaults();
  EXPECT_STREQ(control("throttle_key").key_name, "x");
  EXPECT_EQ(control("throttle_key").axis_name, nullptr);
  remove((t.home + "config").c_str());
  ASSERT_TRUE(config_write());
  EXPECT_EQ(read_file(t.home + "config"), written);
}

struct ReadCase {
  const char *name;
  std::string text;
  std::function<bool()> check;
};

// A NUL inside a line, and a last line without its line feed.
const char BAD_LINES[] = "no equals sign\nbogus_key=1\nfov=x\nxres=1\0 24\nyres=700\nlaps=7";

TEST(Config, ReadingCases) {
  const std::string hist126(126, 'h'), hist127(127, 'g');
  const std::string long_line = "server_name=" + std::string(1100, 's') + "xres=999" +
                                std::string(3000 - 1120, 'x') + "\n";
  const ReadCase cases[] = {
      {"minutes limited", "minutes=90\n", [] { return config.minutes == 60; }},
      {"laps limited", "laps=-3\n", [] { return config.laps == 0; }},
      {"fov no number", "fov=abc\n", [] { return config.fov == 110; }},
      {"fov nan", "fov=nan\n", [] { return config.fov == 110; }},
      {"fov inf", "fov=-inf\n", [] { return config.fov == 110; }},
      {"map_scale nan", "map_scale=NAN\n", [] { return config.map_scale == 1; }},
      {"choice case", "skill=expert\n", [] { return config.skill == 0; }},
      {"choice", "skill=Expert\n", [] { return config.skill == 2; }},
      {"crlf", "xres=1280\r\n", [] { return config.xres == 1280; }},
      {"axis binding", "throttle_key=(-1.000000,1.000000)XInputGamepad0.axis[5]\n",
       [] {
         Binding &b = control("throttle_key");
         return b.axis_name && !strcmp(b.axis_name, "XInputGamepad0.axis[5]") && !b.key_name &&
                b.low == -1 && b.high == 1;
       }},
      {"key binding", "throttle_key=(k)q\n",
       [] { return !strcmp(control("throttle_key").key_name, "q"); }},
      {"bare key binding", "throttle_key=q\n",
       [] { return !strcmp(control("throttle_key").key_name, "q"); }},
      {"use_fbo no", "use_fbo=No\n", [] { return config.render_texture == 1; }},
      {"use_fbo yes", "render_texture=Software\nuse_fbo=Yes\n",
       [] { return config.render_texture == 2; }},
      {"map_scale limited", "map_scale=100\n", [] { return config.map_scale == 8; }},
      {"history 126", "server_name_hist03=" + hist126 + "\n",
       [&] { return config.server_name_hist[3] == hist126; }},
      {"history 127", "server_name_hist03=" + hist127 + "\n",
       [] { return config.server_name_hist[3][0] == 0; }},
      {"slot suffixes", "slot40=Robot\nslot7=Robot\nslot-1=Robot\nslot39=Human\n",
       [] {
         for (int i = 0; i < 39; i++)
           if (config.slot[i]) return false;
         return config.slot[39] == 1;
       }},
      {"history suffix", "server_name_hist16=x\nserver_name_hist1=y\n",
       [] {
         for (auto &h : config.server_name_hist)
           if (h[0]) return false;
         return true;
       }},
      {"long line: its rest never read", long_line + "yres=600\nfov=80\n",
       [] {
         return config.xres == 640 && config.yres == 600 && config.fov == 80 &&
                strlen(config.server_name) == 127;
       }},
      {"bad lines cost one line",
       std::string(BAD_LINES, sizeof BAD_LINES - 1),
       [] { return config.xres == 640 && config.yres == 700 && config.laps == 7; }},
      {"message_lines limited", "message_lines=5000\n", [] { return config.message_lines == 1000; }},
      {"lookahead limited", "billboard_optimize_lookahead=99999999999\n",
       [] { return config.billboard_optimize_lookahead == 1024; }},
      {"lookahead below", "billboard_optimize_lookahead=-4\n",
       [] { return config.billboard_optimize_lookahead == 0; }},
      {"ignored key", "ground_texture_distance=5\n", [] { return true; }},
      {"setup key", "stop_wheelies=No\n",
       [] { return rider_setup.options[SETUP_STOP_WHEELIES].selected == 0; }},
      {"value keeps '='", "server_name=a=b\n", [] { return !strcmp(config.server_name, "a=b"); }},
      {"track", "track=tracks/mesa\n", [] { return !strcmp(config.track, "tracks/mesa"); }},
  };
  for (const ReadCase &c : cases) {
    config_set_defaults();
    read_text(c.text);
    EXPECT_TRUE(c.check()) << c.name;
  }
  config_set_defaults();
}

TEST(Config, Presets) {
  config_set_defaults();
  apply_detail_preset(3);
  EXPECT_EQ(config.terrain_resync_rate, 8);
  EXPECT_EQ(config.ground_texture_dim_new, 3);
  EXPECT_EQ(config.render_texture, 4);
  EXPECT_EQ(config.ground_detail, 90);
  apply_detail_preset(1);
  EXPECT_EQ(config.roost_density, 0);
  EXPECT_EQ(config.use_shader + config.lens_flare + config.reflections, 0);
  EXPECT_EQ(config.model_texture_detail, 7);
  apply_detail_preset(0);
  expect_defaults();
  apply_detail_preset(7);  // no such preset: nothing changes
  expect_defaults();
}

TEST(Config, ServerHistory) {
  config_set_defaults();
  for (int i = 0; i < 17; i++) server_history_push(("h" + std::to_string(i)).c_str());
  server_history_push("h16");
  server_history_push("");
  EXPECT_STREQ(config.server_name_hist[0], "h16");
  EXPECT_STREQ(config.server_name_hist[15], "h1");
  config_set_defaults();
}

// A rewrite that cannot finish leaves the old file byte for byte and says so
// in the log.
TEST(Config, FailedWriteKeepsOldFile) {
  TempFolders t;
  std::string log_path = t.root + "/log.txt";
  korb_reset_for_tests();
  setenv("KORB_LOGFILE", log_path.c_str(), 1);
  config_set_defaults();
  const std::string old = "xres=800\nfov=70.000000\n";
  ASSERT_TRUE(write_file(t.home + "config", old));
  // The temporary name is taken by a folder.
  mkdir((t.home + "config.tmp").c_str(), 0755);
  EXPECT_EQ(config_write(), 0);
  EXPECT_EQ(read_file(t.home + "config"), old);
  rmdir((t.home + "config.tmp").c_str());
  // The home folder is read-only (meaningless for root, who writes anyway).
  if (geteuid() != 0) {
    chmod(t.home.c_str(), 0555);
    EXPECT_EQ(config_write(), 0);
    chmod(t.home.c_str(), 0755);
    EXPECT_EQ(read_file(t.home + "config"), old);
  }
  log_close();
  EXPECT_NE(read_file(log_path).find("configuration"), std::string::npos);
  unsetenv("KORB_LOGFILE");
  korb_reset_for_tests();
}

}  // namespace
