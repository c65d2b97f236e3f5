// The message window's store and timing, the console's commands as a table
// of lines, replies and effects, and the chat line's editing.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "app/app.h"
#include "app/config.h"
#include "app/console.h"
#include "terrain/deform.h"
#include "bike/bike.h"
#include "gfx/camera_math.h"
#include "gfx/hud.h"
#include "gfx/render.h"
#include "bike/engine_sound.h"
#include "bike/physics.h"
#include "bike/rider.h"
#include "core/core.h"
#include "core/log.h"
#include "platform/platform.h"
#include "race/race.h"
#include "race/timing.h"
#include "race/track.h"
#include "terrain/terrain.h"
#include "tests/common/test_util.h"

extern std::vector<std::string> console_standin_calls;

namespace {

// The log as a file of the test's own.
struct LogFile {
  std::string path;
  explicit LogFile(const TempFolders &t) : path(t.root + "/log.txt") {
    korb_reset_for_tests();
    setenv("KORB_LOGFILE", path.c_str(), 1);
  }
  std::string text() {
    log_close();
    return read_file(path);
  }
  ~LogFile() {
    log_close();
    unsetenv("KORB_LOGFILE");
    korb_reset_for_tests();
  }
};

struct StoreHook {
  void (*old)(const char *) = ui_hooks.message;
  StoreHook() {
    message_window_clear();
    ui_hooks.message = message_store_add;
  }
  ~StoreHook() { ui_hooks.message = old; }
};

// ---------------------------------------------------------- message window
TEST(MessageWindow, BurstShowsThreeThenScrollsAway) {
  config_set_defaults();
  StoreHook hook;
  loop = LoopState();
  loop.game_clock = 100;
  EXPECT_EQ(console_line("/messagelines 3"), 1);
  EXPECT_STREQ(message_shown(0), "Maximum showing messages is now 3");
  for (int i = 0; i < 8; i++) add_messagef("burst %d", i);
  EXPECT_EQ(messages.showing, 3);
  EXPECT_STREQ(message_shown(0), "burst 5");
  EXPECT_STREQ(message_shown(2), "burst 7");
  // Frames of 10 ms: the first line goes 2 s after the burst, then one
  // every 5 s.
  std::vector<double> gone;
  for (int f = 1; f < 2000 && messages.showing > 0; f++) {
    loop.game_clock = 100 + f * 0.01;
    int before = messages.showing;
    message_window_scroll(loop.game_clock);
    if (messages.showing < before) gone.push_back(loop.game_clock);
  }
  ASSERT_EQ(gone.size(), 3u);
  EXPECT_NEAR(gone[0], 102.01, 1e-6);
  EXPECT_NEAR(gone[1], 107.02, 1e-6);
  EXPECT_NEAR(gone[2], 112.03, 1e-6);
  config_set_defaults();
}

TEST(MessageWindow, LongLinesCutInTheRingButLoggedWhole) {
  TempFolders t;
  LogFile log(t);
  config_set_defaults();
  StoreHook hook;
  std::string long_line(300, 'w');
  add_message(long_line.c_str());
  EXPECT_EQ(strlen(message_shown(messages.showing - 1)), 255u);
  add_message("\033[31mred");
  messages.hide_spam = 1;
  add_message("[SPAM] Setup change Ab");
  EXPECT_STREQ(message_shown(messages.showing - 1), "\033[31mred");
  std::string text = log.text();
  EXPECT_NE(text.find(long_line + "\n"), std::string::npos);
  EXPECT_NE(text.find("\033[31mred\033[0m\n"), std::string::npos);
  EXPECT_EQ(text.find("SPAM"), std::string::npos);
}

TEST(MessageWindow, RingWraps) {
  config_set_defaults();
  StoreHook hook;
  for (int i = 0; i < MESSAGE_RING + 5; i++) add_messagef("m%d", i);
  EXPECT_EQ(messages.next_line, 5);
  EXPECT_EQ(messages.showing, 5);
  EXPECT_STREQ(message_shown(4), "m1004");
  EXPECT_STREQ(message_shown(0), "m1000");
  EXPECT_STREQ(messages.lines[999], "m999");
}

// ----------------------------------------------------------------- console
struct Line {
  const char *text;
  int result;
  std::vector<std::string> replies;
  std::function<bool()> check = nullptr;
  std::vector<std::string> calls = {};  // stand-in calls, in order
};

void run_lines(const std::vector<Line> &lines) {
  for (const Line &l : lines) {
    MessageCatcher replies;
    console_standin_calls.clear();
    EXPECT_EQ(console_line(l.text), l.result) << l.text;
    EXPECT_EQ(replies.lines, l.replies) << l.text;
    if (l.check) {
      EXPECT_TRUE(l.check()) << l.text;
    }
    EXPECT_EQ(console_standin_calls, l.calls) << l.text;
  }
}

TEST(Console, EveryCommand) {
  TempFolders t;
  config_set_defaults();
  settings = Settings();
  loop = LoopState();
  message_window_clear();
  keycam_clear();
  console_state = ConsoleState{0, 0, 0, 0, 0, 10, 0};
  loop.followed_rider = 0;  // no rider: the rider commands stay quiet
  int fps_hist[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  memcpy(loop.frame_time_histogram, fps_hist, sizeof fps_hist);
  float frame_log[2] = {0.5f, 0.25f};
  loop.frame_time_log = frame_log;
  loop.frame_time_count = 2;
  ASSERT_TRUE(write_file(t.home + "outgoing/present", "data"));
  ASSERT_TRUE(write_file(t.home + "keycam/bad", "1 2 3\n"));
  const std::string long_name(65, 'a');
  const std::string send_long = "/sendfile " + long_name;
  const char *plain_only = "Filename may only contain alphanumeric characters, '_' or '.'";

  // Keys are made from the free trackside camera.
  const float free_at[3] = {1, 2, 3};
  free_camera_at(free_at);
  free_camera_set_angles(90, 60);
  run_lines({
      {"/savetrackinfo", 1, {}},
      {"/renderstats", 1, {}, [] { return settings.draw_render_stats == 1 && render_stats_max[1] == 0; }},
      {"/togglespy", 1, {"Spy mode ON"}, [] { return config.spy == 1; }},
      {"/togglegraph", 1, {"Suspension graph ON"}, nullptr, {"suspension_graph_set 1"}},
      {"/bbopt 99999", 1, {"Billboard optimization window is now 1024"}},
      {"/bbopt x", 1, {"Billboard optimization window is now 1024"}},
      {"/bbopt 16", 1, {"Billboard optimization window is now 16"}},
      {"/pipe 1 2 3", 1, {}},
      {"/namedemo race1", 1, {"Not currently recording a demo"}},
      {"/camangle 10 20", 1, {}},
      {"/fov 90", 1, {"fov set"}, [] { return config.fov == 90; }},
      {"/fov abc", 1, {"Usage: fov <degrees>"}, [] { return config.fov == 90; }},
      {"/fovx 90", 1, {"Usage: fov <degrees>"}, [] { return config.fov == 90; }},
      {"/fov nan", 1, {"Usage: fov <degrees>"}, [] { return config.fov == 90; }},
      {"/fov 500", 1, {"fov set"}, [] { return config.fov == 170; }},
      {"/fpshist", 1, {"128=1 64=2 32=3 16=4 8=5 4=6 2=7 1=8 "},
       [] { return loop.frame_time_histogram[7] == 0; }},
      {"/saveframetimes", 1, {"Frame times saved to \"frametimes.txt\""},
       [&] {
         return loop.frame_time_count == 0 &&
                read_file(t.home + "frametimes.txt") == "0.500000\n0.250000\n";
       }},
      {"/forcereload", 1, {"Track will be reloaded on next restart"}},
      {"/writesetup mine", 1, {"Setup written"}},
      {"/readsetup  mine ", 1, {"Setup updated"}},
      {"/readsetup ../mine", 1,
       {"Setup name '../mine' must not be empty or contain \"/\", \"\\\" or \"..\"",
        "Error reading setup"}},
      {"/randdump", 1, {}},
      {"/addkey", 1, {"Keyframe added"}, [] { return keycam_count() == 1; }},
      {"/listkeys", 1,
       {"pos = { 1.00, 2.00, 3.00 }, rot = { 0.35, 0.61, -0.35, 0.61 }, time = 0.00"}},
      {"/writekeys cam1", 1, {"Camera keys saved"},
       [&] {
         return read_file(t.home + "keycam/cam1") ==
                "1.0000 2.0000 3.0000 0.3536 0.6124 -0.3536 0.6124 170.00 0\n";
       }},
      {"/writekeys a/b", 1, {"Error saving camera keys"}},
      {"/writekeys ..", 1, {"Error saving camera keys"}},
      {"/clearkeys", 1, {"Keyframes cleared"}, [] { return keycam_count() == 0; }},
      {"/readkeys cam1", 1, {"Camera keys updated"},
       [] { return keycam_count() == 1 && keycam_get(0)->fov == 170; }},
      {"/readkeys ../cam1", 1, {"Error reading camera keys"}},
      {"/readkeys", 1, {"Error reading camera keys"}},
      {"/readkeys missing", 1, {"Error reading camera keys"}},
      {"/readkeys bad", 1, {"Error reading camera keys"}, [] { return keycam_count() == 1; }},
      {"/deletekey", 1, {"Keyframe deleted"}, [] { return keycam_count() == 0; }},
      {"/rmkey", 1, {"Keyframe deleted"}, [] { return keycam_count() == 0; }},
      {"/togglekeycam", 1, {"Keycam mode ON"}, [] { return keyframe_mode == 1; }},
      {"/togglefps", 1, {"FPS display ON"}, [] { return settings.draw_fps == 1; }},
      {"/togglefps", 1, {"FPS display OFF"}, [] { return config.draw_fps == 0; }},
      {"/toggletime", 1, {"Time display ON"}},
      {"/toggleping", 1, {"Ping display OFF"}},
      {"/togglespeed", 1, {"Speed display ON"}},
      {"/sendfile ../x", 1, {plain_only}},
      {"/sendfile ..", 1, {plain_only}},
      {"/sendfile", 1, {plain_only}},
      {send_long.c_str(), 1, {"Filename too long"}},
      {"/sendfile missing", 1, {"Can't open file"}},
      {"/sendfile present", 1, {"Sending file", "Not connected to server"}, nullptr,
       {"net_upload_start @outgoing/present"}},
      {"/listfiles no-such-file-anywhere", 1, {}},
      {"/messagelines 3", 1, {"Maximum showing messages is now 3"}},
      {"/messagelines 5000", 1, {"Maximum showing messages is now 1000"}},
      {"/messagelinesx 3", 0, {}, [] { return config.message_lines == 1000; }},
      {"/demobackups 3", 1, {"Now keeping 3 demo backups"}},
      {"/mapscale 100", 1, {"Map scale set to 8.000000"}},
      {"/mapscale inf", 1, {"Map scale set to 8.000000"}},
      {"/mapscale 0.5", 1, {"Map scale set to 0.500000"}},
      {"/hfvol", 1, {"0.000000\n"}},
      {"/toggledecals", 1, {"Hide decals ON"}, [] { return decals_hidden == 1; }},
      {"/log e 25", 1, {"Logging 0x1, spacing 25.000000"}, nullptr,
       {"contact_labels_set 0x1 25"}},
      {"/log x nan", 1, {"Logging 0x0, spacing 25.000000"}, nullptr,
       {"contact_labels_set 0x0 25"}},
      {"/clearlog", 1, {}, nullptr, {"contact_labels_clear"}},
      {"/reportstutter 0.5", 1, {"Stutter threshold set to 0.500000"}},
      {"/reportstutter nan", 1, {"Stutter threshold set to 0.500000"}},
      {"/togglespam", 1, {"Hide spam ON"}, [] { return messages.hide_spam == 1; }},
      {"\\togglespam", 1, {"Hide spam OFF"}},
      {"/nosuchcommand", 0, {}},
      {"/", 0, {}},
  });
  loop.frame_time_log = nullptr;
  keycam_clear();
  config_set_defaults();
  settings = Settings();
}

TEST(Console, NamingADemoNeedsARecording) {
  // The naming rules themselves are the recording's, tested with a race.
  const std::string too_long = "/namedemo " + std::string(1017, 'd');
  run_lines({
      {"/namedemo heat2", 1, {"Not currently recording a demo"}},
      {too_long.c_str(), 1, {"Not currently recording a demo"}},
  });
}

TEST(Console, ChatIsLimitedToOneLineInTwoSeconds) {
  message_window_clear();
  loop = LoopState();
  loop.game_clock = 10;
  run_lines({{"hello", 1, {"Not connected to server"}}});
  loop.game_clock = 11.5;
  run_lines({{"again", 0, {"No one likes a spammer"}}});
  loop.game_clock = 12.1;
  run_lines({{"later", 1, {"Not connected to server"}}});
}

// On the default track: the track's own digest and lap counts, and the
// commands that need a rider in the followed slot.
TEST(Console, TrackAndRiderCommands) {
  const char *build = getenv("TW_BUILD_DIR");
  ASSERT_NE(build, nullptr);
  setenv("TW_HOME", build, 1);
  file_index_free();
  file_index_build();
  ASSERT_GT(track_list_build(), 0);
  ASSERT_EQ(physics_init(), 1);
  config_set_defaults();
  track_menu_select("hollow_creek");
  ASSERT_EQ(load_track(nullptr, 0, 0, 0, 1000, 0), 1);
  loop = LoopState();
  loop.followed_rider = race_first_followed();
  Rider *r = rider_in_slot(loop.followed_rider);
  ASSERT_NE(r, nullptr);

  std::string home = search_folder(0);
  remove((home + "hollow_creek.trackinfo").c_str());
  run_lines({{"/savetrackinfo", 1, {"Track info saved to hollow_creek.trackinfo"}}});
  std::string info = read_file(home + "hollow_creek.trackinfo");
  char expect[256];
  int n = snprintf(expect, sizeof expect, "firstlap=%d\nnormallap=%d\ngatecount=%d\nhash=",
                   timing.first_count, timing.normal_count, timing.gate_count);
  for (uint8_t b : track_digest) n += snprintf(expect + n, sizeof expect - size_t(n), "%02x", b);
  EXPECT_EQ(info.substr(0, 17), "dir=hollow_creek\n");
  EXPECT_NE(info.find(std::string(expect) + "\n"), std::string::npos) << info;
  EXPECT_GT(timing.gate_count, 0);
  remove((home + "hollow_creek.trackinfo").c_str());

  const BikeModel *m = rider_model(r);
  bool four = !strcmp(m->engine_class, "250f") || !strcmp(m->engine_class, "450f");
  std::string slot = std::to_string(loop.followed_rider);
  // The followed voice's taps against the same pipe applied to a copy.
  auto pipe_is = [&](float a, float b, float c, int first, int last) {
    return [=] {
      EngineSoundDef want = engine_voices[loop.followed_rider].def;
      set_pipe(&want, a, b, c, first, last);
      return !memcmp(&want, &engine_voices[loop.followed_rider].def, sizeof want);
    };
  };
  run_lines({
      {"/pipe 2 0.5 -1 3 9", 1, {"Pipe updated"}, pipe_is(2, 0.5f, -1, 3, 9)},
      four ? Line{"/pipe", 1, {"Pipe updated"}, pipe_is(5, 0.918207169f, -0.850000024f, 0, 15)}
           : Line{"/pipe", 1, {"Pipe updated"}, pipe_is(1.75f, 0.300000012f, -0.75f, 0, 15)},
      {"/camangle 30 -10", 1, {"Camera aimed"}},
      {"/camangle 30", 1, {"Usage: camangle <yaw> <pitch>"}},
  });
  MessageCatcher replies;
  console_line("/hfvol");
  double sum = 0;
  for (int i = 0; i < terrain.size * terrain.size; i++) sum += terrain.heights[i];
  char want[64];
  snprintf(want, sizeof want, "%f\n", sum);
  ASSERT_EQ(replies.lines.size(), 1u);
  EXPECT_EQ(replies.lines[0], want);
  free_track();
  file_index_free();
}

// ---------------------------------------------------------------- chat line
int key(const char *name) {
  int code = 0;
  key_code_of(name, &code);
  return code;
}

void type(const char *text) {
  for (const char *p = text; *p; p++) chat_line_key(static_cast<unsigned char>(*p));
}

TEST(ChatLine, EditingAndHistory) {
  ui_keys_lookup();
  message_window_clear();
  loop = LoopState();
  loop.menu_screen = CHAT_SCREEN;
  chat_line = ChatLine();
  chat_line_open();
  type("/fov 8");
  chat_line_key(key("left"));
  type("9");          // "/fov 98"
  chat_line_key(key("home"));
  chat_line_key(key("delete"));  // "fov 98"
  type("/");
  chat_line_key(key("end"));
  chat_line_key(8);  // "/fov 9"
  chat_line_key(key("left"));
  chat_line_key(8);  // "/fov9"
  type(" ");
  chat_line_key(key("right"));
  type("0");  // "/fov 90"
  EXPECT_STREQ(chat_line.text, "/fov 90");
  EXPECT_EQ(chat_line.cursor, 7);
  config_set_defaults();
  {
    MessageCatcher replies;
    chat_line_key(13);
    EXPECT_EQ(replies.lines, std::vector<std::string>{"fov set"});
  }
  EXPECT_EQ(config.fov, 90);
  EXPECT_EQ(loop.menu_screen, -1);
  // The next opening starts empty; Up brings back the line typed before.
  loop.menu_screen = CHAT_SCREEN;
  chat_line_open();
  type("/togglefps");
  chat_line_key(13);
  chat_line_open();
  chat_line_key(key("up"));
  EXPECT_STREQ(chat_line.text, "/togglefps");
  chat_line_key(key("up"));
  EXPECT_STREQ(chat_line.text, "/fov 90");
  chat_line_key(key("up"));  // no older line
  EXPECT_STREQ(chat_line.text, "/fov 90");
  chat_line_key(key("down"));
  chat_line_key(key("down"));
  EXPECT_STREQ(chat_line.text, "");
  // Esc closes without running anything.
  loop.menu_screen = CHAT_SCREEN;
  type("/togglefps");
  {
    MessageCatcher replies;
    chat_line_key(27);
    EXPECT_TRUE(replies.lines.empty());
  }
  EXPECT_EQ(loop.menu_screen, -1);
  config_set_defaults();
  settings = Settings();
}

// Through the loop's key handling: the Chat control opens the screen, and
// its own character is not typed into the line.
TEST(ChatLine, OpenedByTheChatControl) {
  ui_keys_lookup();
  controls_set_defaults();
  controls_resolve_all();
  loop = LoopState();
  loop.menu_screen = -1;
  loop.view_mode = VIEW_NO_TRACK;
  menu_frame_begin_for_tests();
  handle_key(key("t"), 1);
  handle_key('t', 1);
  EXPECT_EQ(loop.menu_screen, CHAT_SCREEN);
  EXPECT_STREQ(chat_line.text, "");
  menu_frame_begin_for_tests();
  handle_key('h', 1);
  handle_key('i', 1);
  EXPECT_STREQ(chat_line.text, "hi");
  handle_key(key("esc"), 1);
  EXPECT_EQ(loop.menu_screen, -1);
  controls_release_all();
}

}  // namespace
