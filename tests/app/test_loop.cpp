// The main loop's timing, input assignment to tics, controls and views,
// run against a clock the test owns.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "app/app.h"
#include "core/core.h"
#include "bike/bike.h"
#include "bike/physics.h"
#include "net/net.h"
#include "race/race.h"
#include "platform/platform.h"
#include "tests/app/loop_fakes.h"
#include "tests/common/test_util.h"

namespace {

using namespace loop_fakes;

std::vector<float> throttle_per_tic;
void record_tic() { throttle_per_tic.push_back(loop.control_slots[CTL_THROTTLE]); }

const int KEY_X = CODE_KEY_BASE + 45;

class Loop : public ::testing::Test {
 protected:
  void SetUp() override {
    settings = Settings();
    config = Config();
    fake_ms = 1000000;
    pending.clear();
    throttle_per_tic.clear();
    loop_io = {fake_now, fake_sleep, fake_event, record_tic};
    for (Binding &b : control_bindings) {
      b.key_code = 0;
      b.held = b.tapped = 0;
      b.axis = nullptr;
    }
    control_bindings[CONTROL_THROTTLE].key_code = KEY_X;
    loop_init();
    loop.menu_screen = -1;
  }
  void TearDown() override { loop_io_default(); }

  // One frame's timing half: the work took `work_ms`.
  int frame(int64_t work_ms) {
    fake_ms += work_ms;
    measure_frame_step();
    run_tics();
    after_tics();
    return loop.tics_this_frame;
  }
};

TEST_F(Loop, EveryFrameRunsAtLeastOneTicAndAtMostSixteen) {
  // Quick frames wait out the tic (to the next whole millisecond) instead
  // of spinning, and each runs one tic, or two when the waits add up.
  int64_t start = fake_ms;
  int total = 0;
  for (int i = 0; i < 64; i++) {
    int n = frame(3);
    EXPECT_TRUE(n == 1 || n == 2) << n;
    EXPECT_GE(loop.frame_step, 1.0 / 128);
    total += n;
  }
  EXPECT_EQ(fake_ms - start, 64 * 8);
  EXPECT_EQ(total, 66);  // ceil(0.512 s x 128)
  EXPECT_EQ(frame(500), 16);  // a long stall slows the game
  EXPECT_EQ(loop.frame_step, 0.125);
  EXPECT_EQ(loop.max_frame_step, 0.125);
  EXPECT_EQ(frame(0), 1);
  // sim_time never runs more than one tic ahead of real time.
  EXPECT_LT(loop.sim_time - loop.accumulated_time, 1.0 / 128);
  EXPECT_GE(loop.sim_time, loop.accumulated_time);
}

TEST_F(Loop, LockFpsAdvancesExactlyOneSixtiethPerFrame) {
  settings.lock_fps = 60;
  loop_init();
  loop.menu_screen = -1;
  int total = 0;
  for (int i = 0; i < 60; i++) {
    int n = frame(2);
    EXPECT_TRUE(n == 2 || n == 3) << "frame " << i << " ran " << n;
    EXPECT_EQ(loop.frame_step, 1.0 / 60);
    total += n;
  }
  EXPECT_NEAR(total, 128, 1);
}

TEST_F(Loop, FramesArePacedToTheDisplay) {
  // A 60 Hz display: a 3 ms frame sleeps out the rest of the refresh
  // (rounded up to the clock's millisecond) and runs two or three tics.
  static int sleeps;
  sleeps = 0;
  loop_io.sleep = [](double s) {
    sleeps++;
    fake_sleep(s);
  };
  loop_io.frame_interval = [] { return 1.0 / 60; };
  int64_t start = fake_ms;
  int total = 0;
  for (int i = 0; i < 60; i++) {
    int n = frame(3);
    EXPECT_TRUE(n == 2 || n == 3) << "frame " << i << " ran " << n;
    EXPECT_GE(loop.frame_step, 1.0 / 60);
    total += n;
  }
  EXPECT_EQ(sleeps, 60);
  EXPECT_EQ(fake_ms - start, 60 * 17);
  EXPECT_NEAR(total, 1.020 * 128, 1);  // game time keeps up with real time
  // A slow frame does not wait at all.
  sleeps = 0;
  EXPECT_EQ(frame(40), 5);
  EXPECT_EQ(sleeps, 0);
  // A display faster than the tics: the tic still rules.
  loop_io.frame_interval = [] { return 1.0 / 240; };
  EXPECT_EQ(frame(1), 1);
  EXPECT_EQ(fake_ms - loop.last_frame_time * 1000, 0);
  // An absurd rate never makes frames longer than the step cap, which would
  // slow the game.
  loop_io.frame_interval = [] { return 2.0; };
  int64_t before = fake_ms;
  frame(0);
  EXPECT_EQ(fake_ms - before, 125);
  EXPECT_EQ(loop.frame_step, 0.125);
}

TEST_F(Loop, LockFpsAndWarpIgnoreTheDisplay) {
  loop_io.frame_interval = [] { return 1.0 / 30; };
  settings.lock_fps = 100;
  loop_init();
  loop.menu_screen = -1;
  frame(0);
  EXPECT_EQ(loop.frame_step, 0.01);
  settings.lock_fps = 0;
  settings.warp = 1;
  loop_init();
  int64_t before = fake_ms;
  EXPECT_EQ(frame(0), 100);
  EXPECT_EQ(fake_ms, before);
}

TEST_F(Loop, WarpRunsHundredTicsWithoutWaiting) {
  settings.warp = 1;
  loop_init();
  int64_t before = fake_ms;
  EXPECT_EQ(frame(0), 100);
  EXPECT_EQ(fake_ms, before);
}

TEST_F(Loop, KeyHeldForTheTicsBetweenPressAndRelease) {
  double t = loop.last_frame_time;
  // A frame of 8 tics; tic k falls on t + k/128.
  pending = {{t + 0.020, KEY_X, 1}, {t + 0.045, KEY_X, 0}};
  EXPECT_EQ(frame(62) + frame(0), 9);
  std::vector<float> want = {0, 0, 1, 1, 1, 0, 0, 0};
  throttle_per_tic.resize(8);
  EXPECT_EQ(throttle_per_tic, want);
}

TEST_F(Loop, LateEventsWaitForTheLastTic) {
  double t = loop.last_frame_time;
  // Stamped after the frame was measured: taken by the frame's last tic.
  pending = {{t + 1.0, KEY_X, 1}};
  frame(31);
  ASSERT_EQ(throttle_per_tic.size(), 4u);
  EXPECT_EQ(throttle_per_tic.back(), 1);
  EXPECT_EQ(throttle_per_tic[2], 0);
}

TEST_F(Loop, TicLimitEndsTheRun) {
  settings.tics_limit = 20;
  frame(500);
  frame(500);
  EXPECT_EQ(loop.tics_run, 20);
  EXPECT_TRUE(loop.quit_requested);
}

TEST_F(Loop, CloseEventRequestsQuit) {
  pending = {{loop.last_frame_time, CODE_CLOSE, 1}};
  frame(10);
  EXPECT_TRUE(loop.quit_requested);
}

TEST_F(Loop, FrameHistogramAndLog) {
  float log[4];
  loop.frame_time_log = log;
  frame(3);    // counted as measured, before the wait: below one tic
  frame(300);  // 38 tics
  EXPECT_EQ(loop.frame_time_histogram[0], 1);
  EXPECT_EQ(loop.frame_time_histogram[6], 1);
  EXPECT_EQ(loop.frame_time_count, 2);
  EXPECT_FLOAT_EQ(log[1], 0.3f);  // unscaled and uncapped
  loop.frame_time_log = nullptr;
  EXPECT_EQ(frame_histogram_bucket(0.001), 0);
  EXPECT_EQ(frame_histogram_bucket(1.0), 7);
}

TEST(ServerClock, StepScale) {
  const double T = 1.0 / 128;
  // Ahead of the server: between half and full speed.
  EXPECT_DOUBLE_EQ(server_step_scale(100, 300, 0), 0.5);
  EXPECT_DOUBLE_EQ(server_step_scale(100, 99, 0), 1.0);  // d = 0 after the drop
  // Behind before the gate drop: up to four times as fast.
  EXPECT_DOUBLE_EQ(server_step_scale(500, 10, 1000), 4.0);
  EXPECT_DOUBLE_EQ(server_step_scale(10 + 1 + 64, 10, 1000), 0.5 * 3 + 1);
  // Behind after the drop: at most one eighth faster.
  EXPECT_DOUBLE_EQ(server_step_scale(500, 400, 0), 1.125);
  EXPECT_DOUBLE_EQ(server_step_scale(400 + 1 + 8, 400, 0), 8 * 8 * T * 0.125 + 1);
}

// -------------------------------------------------------------- controls
TEST(Controls, ClutchRampAndShiftRequests) {
  loop = LoopState();
  float s[CONTROL_SLOT_COUNT] = {};
  s[CTL_CLUTCH] = 1;  // lever fully in
  TicCommand in = controls_to_command(s, 1, 0, 0);
  EXPECT_EQ(in.clutch, 0);
  s[CTL_CLUTCH] = 0;  // let go: rises 4 tic lengths per tic
  in = controls_to_command(s, 0, 0, 0);
  EXPECT_FLOAT_EQ(in.clutch, 4.0f / 128);
  s[CTL_CLUTCH] = 0.875f;  // fully in from here on
  EXPECT_NEAR(controls_to_command(s, 0.5f, 0, 0).clutch, 0, 1e-6);
  s[CTL_CLUTCH] = 0.4375f;  // half way: taken at once when lower
  EXPECT_FLOAT_EQ(controls_to_command(s, 1, 0, 0).clutch, 0.5f);

  struct {
    float slot;
    int request;
  } shifts[] = {{1, 1}, {0.5f, 0}, {0, 0}, {-0.5f, 0}, {-1, -1}, {0.6f, 1}};
  for (auto c : shifts) {
    s[CTL_SHIFT] = c.slot;
    EXPECT_EQ(controls_to_command(s, 1, 0, 0).shift, c.request) << c.slot;
  }
  s[CTL_STEER] = 1;
  EXPECT_EQ(controls_to_command(s, 1, 1, 0).steering, -1);  // reversed steering
}

TEST(Controls, StickySitDabFlipsOnEachPress) {
  loop = LoopState();
  float s[CONTROL_SLOT_COUNT] = {};
  std::vector<float> presses = {0, 1, 1, 0, 0, 1, 0};
  std::vector<float> got;
  for (float p : presses) {
    s[CTL_DAB] = p;
    got.push_back(controls_to_command(s, 1, 0, 1).sit_dab);
  }
  EXPECT_EQ(got, (std::vector<float>{0, 1, 1, 1, 1, 0, 0}));
  s[CTL_DAB] = 0.7f;
  EXPECT_FLOAT_EQ(controls_to_command(s, 1, 0, 0).sit_dab, 0.7f);
}

TEST(Following, NextAndPreviousInRunningOrder) {
  loop = LoopState();
  running_count = 0;
  loop.followed_rider = 7;
  follow_next_rider(1);  // empty order: nothing to follow
  follow_next_rider(-1);
  EXPECT_EQ(loop.followed_rider, 7);

  running_count = 3;
  running_order[0] = 4;
  running_order[1] = 9;
  running_order[2] = 2;
  loop.followed_rider = 9;
  follow_next_rider(1);
  EXPECT_EQ(loop.followed_rider, 2);
  follow_next_rider(1);  // stays last
  EXPECT_EQ(loop.followed_rider, 2);
  loop.followed_rider = 50;  // not in the order: previous is the last place
  follow_next_rider(-1);
  EXPECT_EQ(loop.followed_rider, 2);
  follow_next_rider(-1);
  follow_next_rider(-1);
  follow_next_rider(-1);
  EXPECT_EQ(loop.followed_rider, 4);
  running_count = 0;
}

// ---------------------------------------------------------------- views
TEST(Views, TabCycle) {
  loop = LoopState();
  settings = Settings();
  struct {
    int from, editor, to;
  } cases[] = {
      {VIEW_RIDER, 0, VIEW_ORBIT},          {VIEW_RIDER, 1, VIEW_EDITOR},
      {VIEW_EDITOR, 1, VIEW_ORBIT},         {VIEW_ORBIT, 0, VIEW_TRACKSIDE},
      {VIEW_TRACKSIDE, 0, VIEW_RIDER},      {VIEW_NO_TRACK, 0, VIEW_RIDER},
  };
  for (auto c : cases) {
    loop.view_mode = c.from;
    settings.editor = c.editor;
    next_view_mode();
    EXPECT_EQ(loop.view_mode, c.to) << c.from;
  }
}

TEST(Views, NoTrackMeansTitleView) {
  loop = LoopState();
  loop.view_mode = VIEW_ORBIT;
  update_view_mode();  // no track is loaded
  EXPECT_EQ(loop.view_mode, VIEW_NO_TRACK);
}

TEST(Views, OrbitCameraControls) {
  loop = LoopState();
  loop.orbit_angle = 3.14;
  loop.control_slots[CTL_STEER] = 1;
  orbit_camera_controls();
  EXPECT_LE(loop.orbit_angle, M_PI);
  EXPECT_NEAR(loop.orbit_angle, 3.14 + 2 * M_PI / 1024 - 2 * M_PI, 1e-12);  // wrapped
  loop.control_slots[CTL_STEER] = 0;
  loop.control_slots[CTL_THROTTLE] = 1;
  loop.orbit_distance = 0.28;
  orbit_camera_controls();
  EXPECT_NEAR(loop.orbit_distance, 0.28 - 1.0 / 64, 1e-12);
  orbit_camera_controls();  // below 0.265625: snaps to the nearest allowed
  EXPECT_EQ(loop.orbit_distance, 0.25);
  orbit_camera_controls();
  EXPECT_EQ(loop.orbit_distance, 0.25);
}

TEST(Views, OrbitCameraPlacement) {
  OrbitInput in{};
  in.target[1] = 3;
  in.forward[2] = -1;  // facing north
  in.local = 1;
  in.distance = 10;
  in.height = 5;
  // Slow: straight behind the rider.
  OrbitCamera c = orbit_camera(in);
  EXPECT_NEAR(c.eye[0], 0, 1e-9);
  EXPECT_NEAR(c.eye[2], 10, 1e-9);
  EXPECT_NEAR(c.eye[1], 8, 1e-9);
  // Fast and sliding east: opposite the velocity.
  in.velocity[0] = 40;
  c = orbit_camera(in);
  EXPECT_NEAR(c.eye[0], -10, 1e-9);
  EXPECT_NEAR(c.eye[2], 0, 1e-9);
  in.rigid = 1;  // the rigid camera keeps to the bike
  c = orbit_camera(in);
  EXPECT_NEAR(c.eye[2], 10, 1e-9);
  // Another rider: the orbit angle; never lower than 5 above the ground.
  in.local = 0;
  in.orbit_angle = M_PI / 2;
  in.orbit_distance = 4;
  in.orbit_height = 0;
  in.ground_height = [](double, double) { return 7.0; };
  c = orbit_camera(in);
  EXPECT_NEAR(c.eye[0], 4, 1e-9);
  EXPECT_NEAR(c.eye[1], 12, 1e-9);
}

TEST(Screenshots, NumberFollowsTheHighestInTheIndex) {
  const char *none[] = {nullptr};
  EXPECT_EQ(next_screenshot_number(none), 0);
  const char *names[] = {"config", "screenshot003.ppm", "screenshot007.png",
                         "screenshots/x", nullptr};
  EXPECT_EQ(next_screenshot_number(names), 8);
}

}  // namespace

namespace {

// ------------------------------------------------------------ key handling
const int ESC = CODE_KEY_BASE + 1, TAB = CODE_KEY_BASE + 15, PAUSE = CODE_KEY_BASE + 69,
          CHAT = CODE_KEY_BASE + 20, STEP = CODE_KEY_BASE + 52, OTHER = CODE_KEY_BASE + 30;

class Keys : public ::testing::Test {
 protected:
  void SetUp() override {
    settings = Settings();
    config = Config();
    loop = LoopState();
    ui_keys = UiKeys();
    ui_keys.esc = ESC;
    ui_keys.tab = TAB;
    for (Binding &b : control_bindings) b.key_code = 0;
    control_bindings[KEY_PAUSE].key_code = PAUSE;
    control_bindings[KEY_CHAT].key_code = CHAT;
    control_bindings[KEY_STEP].key_code = STEP;
  }
  // Presses a key at the start of a frame.
  void press(int code) {
    run_frame_start();
    handle_key(code, 1);
    handle_key(code, 0);
  }
  void run_frame_start() { menu_frame_begin_for_tests(); }
};

TEST_F(Keys, EscOpensAndClosesTheMenu) {
  loop.view_mode = VIEW_RIDER;
  loop.menu_screen = -1;
  press(ESC);
  EXPECT_EQ(loop.menu_screen, 0);
  press(ESC);
  EXPECT_EQ(loop.menu_screen, -1);
  loop.menu_screen = 18;  // the leave screen: Esc keeps playing
  press(ESC);
  EXPECT_EQ(loop.menu_screen, -1);
  EXPECT_FALSE(loop.quit_requested);
}

TEST_F(Keys, GameKeysOnlyWithoutMenu) {
  struct {
    int view, menu, key;
    int paused, menu_after, view_after;
  } cases[] = {
      {VIEW_RIDER, -1, PAUSE, 1, -1, VIEW_RIDER},
      {VIEW_RIDER, 0, PAUSE, 0, 0, VIEW_RIDER},         // the menu takes it
      {VIEW_NO_TRACK, -1, PAUSE, 0, -1, VIEW_NO_TRACK},  // no track: ignored
      {VIEW_NO_TRACK, -1, CHAT, 0, 16, VIEW_NO_TRACK},   // but chat opens
      {VIEW_RIDER, -1, TAB, 0, -1, VIEW_ORBIT},
      {VIEW_RIDER, 0, TAB, 0, 0, VIEW_RIDER},
      {VIEW_ORBIT, -1, OTHER, 0, -1, VIEW_ORBIT},
  };
  for (auto c : cases) {
    loop.paused = 0;
    loop.view_mode = c.view;
    loop.menu_screen = c.menu;
    press(c.key);
    EXPECT_EQ(loop.paused, c.paused) << c.view << " " << c.key;
    EXPECT_EQ(loop.menu_screen, c.menu_after) << c.view << " " << c.key;
    EXPECT_EQ(loop.view_mode, c.view_after) << c.view << " " << c.key;
  }
}

TEST_F(Keys, PauseIgnoredWhileAServerIsSet) {
  loop.view_mode = VIEW_RIDER;
  loop.menu_screen = -1;
  net_start("example", "");
  press(PAUSE);
  EXPECT_EQ(loop.paused, 0);
  net_reset();
}

TEST(UiKeys, NamesResolveToKeyCodes) {
  // A name the key table does not know leaves that key dead in every menu.
  ui_keys = UiKeys();
  ui_keys_lookup();
  const UiKeys &k = ui_keys;
  for (int code : {k.up, k.down, k.left, k.right, k.enter, k.keypad_enter, k.esc, k.pause,
                   k.page_up, k.page_down, k.tab})
    EXPECT_GE(code, CODE_KEY_BASE);
  EXPECT_EQ(k.cursor_left, CODE_MOUSE_LEFT);
  for (int d = 0; d < 10; d++) EXPECT_GE(k.digit[d], CODE_KEY_BASE) << d;
  EXPECT_NE(k.digit[0], k.digit[1]);
  EXPECT_NE(k.enter, k.keypad_enter);
}

TEST_F(Keys, NextBikeLeavesTheLocalPlayerOnlyInSpyMode) {
  const int NEXT = CODE_KEY_BASE + 49;
  control_bindings[KEY_NEXT_BIKE].key_code = NEXT;
  running_count = 2;
  running_order[0] = 0;
  running_order[1] = 5;
  int saved_role = rider_roles[0];
  struct {
    int role, spy, followed_after;
  } cases[] = {
      {ROLE_LOCAL, 0, 0},  // riding: the player stays on the own bike
      {ROLE_LOCAL, 1, 5},
      {ROLE_ROBOT, 0, 5},
  };
  for (auto c : cases) {
    rider_roles[0] = c.role;
    config.spy = c.spy;
    loop.followed_rider = 0;
    loop.view_mode = VIEW_TRACKSIDE;
    loop.menu_screen = -1;
    press(NEXT);
    EXPECT_EQ(loop.followed_rider, c.followed_after) << c.role << " " << c.spy;
  }
  rider_roles[0] = saved_role;
  running_count = 0;
}

TEST_F(Keys, CloseEndsTheLoopEvenBehindAMenu) {
  loop.menu_screen = 3;
  handle_key(CODE_CLOSE, 1);
  EXPECT_TRUE(loop.quit_requested);
}

// An applied setup change is announced once, at the next 5-second mark of
// the game clock, with the changed entries' letters.
TEST_F(Loop, AppliedSetupChangeIsAnnouncedOnce) {
  MessageCatcher catcher;
  setup_defaults(&rider_setup);
  setup_watch_reset(&rider_setup);
  const BikeModel *m = &bike_models[lookup_bike_model("yz250f(2017)")];
  RiderAdjust adjust;
  set_setup_value(&rider_setup, "roll_damping", "11");
  for (int i = 0; i < 48; i++) frame(125);  // 6 s of game clock, nothing applied
  EXPECT_TRUE(catcher.lines.empty());
  ASSERT_EQ(apply_setup(&rider_setup, m, 1, 0, 0, &adjust), 1);
  for (int i = 0; i < 48; i++) frame(125);
  ASSERT_EQ(catcher.lines.size(), 1u);
  const std::string &line = catcher.lines[0];
  EXPECT_EQ(line.rfind("[SPAM] Setup change ", 0), 0u) << line;
  EXPECT_EQ(line.size(), strlen("[SPAM] Setup change ") + SETUP_WATCH_COUNT + 1) << line;
  EXPECT_NE(line.find_first_not_of("-\n", strlen("[SPAM] Setup change ")), std::string::npos) << line;
  setup_defaults(&rider_setup);
}

// ------------------------------------------------------------------ stutter
std::vector<std::string> messages;
void keep_message(const char *text) { messages.push_back(text); }

TEST(Stutter, ReportsGapsAboveTheThreshold) {
  UiHooks saved = ui_hooks;
  ui_hooks.message = keep_message;
  messages.clear();
  loop = LoopState();
  loop_io = {fake_now, fake_sleep, fake_event, nullptr};
  fake_ms = 5000;
  stutter_checkpoint("draw");  // off: threshold 0
  loop.stutter_threshold = 0.02;
  stutter_checkpoint("draw");
  fake_ms += 10;
  stutter_checkpoint("flip");
  fake_ms += 50;
  stutter_checkpoint("sound");
  ui_hooks = saved;
  loop_io_default();
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0], "Stutter in sound - 0.050000 seconds");
}

}  // namespace

namespace {

// The same assignment of events to tics through the platform's own queue of
// a headless window, so the time units of both sides are checked together.
TEST_F(Loop, EventsFromTheWindowQueueMeetTheirTics) {
  platform_set_headless(1);
  Window *w = window_open("Tarnwick", 0, 0, 16, 0, 16, 0, 0);
  ASSERT_NE(w, nullptr);
  loop_io_default();
  loop_io.now = fake_now;
  loop_io.sleep = fake_sleep;
  loop_io.tic_done = record_tic;
  loop_init();
  loop.menu_screen = -1;
  int64_t t = fake_ms;
  events_push(w, KEY_X, 1, (t + 20) / 1000, int((t + 20) % 1000) * 1000);
  events_push(w, KEY_X, 0, (t + 45) / 1000, int((t + 45) % 1000) * 1000);
  frame(62);
  window_close(w);
  platform_set_headless(0);
  std::vector<float> want = {0, 0, 1, 1, 1, 0, 0, 0};
  EXPECT_EQ(throttle_per_tic, want);
}

}  // namespace
