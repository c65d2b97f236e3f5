#include <SDL2/SDL.h>
#include <gtest/gtest.h>

#include <climits>
#include <cstring>

#include "platform/internal.h"
#include "platform/platform.h"

namespace {

struct Popped {
  int code, down;
};

Popped pop(EventQueue *q, int64_t limit = INT64_MAX) {
  Popped p{-1, -1};
  if (!event_queue_pop(q, &p.code, &p.down, limit)) p.code = -1;
  return p;
}

TEST(EventQueue, KeepsTimeOrderAndHonoursTheLimit) {
  EventQueue q{};
  EXPECT_EQ(event_queue_push(&q, 1, 1, 300), 1);
  EXPECT_EQ(event_queue_push(&q, 2, 0, 100), 1);
  EXPECT_EQ(event_queue_push(&q, 3, 1, 200), 1);
  EXPECT_EQ(event_queue_push(&q, 4, 1, 200), 1);  // equal stamps keep arrival order
  EXPECT_EQ(pop(&q, 50).code, -1);
  Popped a = pop(&q, 100);
  EXPECT_EQ(a.code, 2);
  EXPECT_EQ(a.down, 0);
  EXPECT_EQ(pop(&q, 199).code, -1);
  EXPECT_EQ(pop(&q).code, 3);
  EXPECT_EQ(pop(&q).code, 4);
  Popped d = pop(&q);
  EXPECT_EQ(d.code, 1);
  EXPECT_EQ(d.down, 1);
  EXPECT_EQ(pop(&q).code, -1);
}

TEST(EventQueue, FullQueueDropsPressesButNeverReleases) {
  EventQueue q{};
  event_queue_push(&q, CODE_CLOSE, 1, 0);
  for (int i = 1; i < EVENT_QUEUE_SIZE; i++) ASSERT_EQ(event_queue_push(&q, 4096 + i % 200, 1, i), 1);
  EXPECT_EQ(q.count, EVENT_QUEUE_SIZE);
  EXPECT_EQ(event_queue_push(&q, 4096 + 45, 1, 1000), 0);  // the 257th press
  // A release takes the place of the newest press, and so does a close request.
  EXPECT_EQ(event_queue_push(&q, 4096 + 45, 0, 1000), 1);
  EXPECT_EQ(event_queue_push(&q, CODE_CLOSE, 1, 1001), 1);
  EXPECT_EQ(q.count, EVENT_QUEUE_SIZE);
  Popped first = pop(&q);
  EXPECT_EQ(first.code, CODE_CLOSE);
  int last_press = -1;
  Popped p{};
  for (int i = 1; i < EVENT_QUEUE_SIZE - 2; i++) {
    p = pop(&q);
    ASSERT_EQ(p.down, 1);
    last_press = p.code;
  }
  EXPECT_EQ(last_press, 4096 + (EVENT_QUEUE_SIZE - 3) % 200);  // the newest presses went
  p = pop(&q);
  EXPECT_EQ(p.code, 4096 + 45);
  EXPECT_EQ(p.down, 0);
  EXPECT_EQ(pop(&q).code, CODE_CLOSE);
}

TEST(EventQueue, QueueOfReleasesStillTakesARelease) {
  EventQueue q{};
  event_queue_push(&q, CODE_CLOSE, 1, 0);
  for (int i = 1; i < EVENT_QUEUE_SIZE; i++) event_queue_push(&q, 70000 + i, 0, i);
  // Close is never given up; a repeated release replaces the older one.
  EXPECT_EQ(event_queue_push(&q, 70001, 0, 500), 1);
  EXPECT_EQ(pop(&q).code, CODE_CLOSE);
  EXPECT_EQ(pop(&q).code, 70002);
}

TEST(EventQueue, CodesNeverReachTheReleaseFlag) {
  EventQueue q{};
  event_queue_push(&q, 0x7FFF00FF, 1, 0);
  event_queue_push(&q, 0x7FFF00FF, 0, 1);
  Popped a = pop(&q), b = pop(&q);
  EXPECT_EQ(a.code, 0x7FFF00FF);
  EXPECT_EQ(a.down, 1);
  EXPECT_EQ(b.code, 0x7FFF00FF);
  EXPECT_EQ(b.down, 0);
}

class HeadlessWindow : public ::testing::Test {
 protected:
  Window *w = nullptr;
  void SetUp() override {
    platform_reset_for_tests();
    platform_set_headless(1);
    w = window_open("Tarnwick", 0, 0, 16, 0, 16, 0, 0);
  }
  void TearDown() override { platform_reset_for_tests(); }
};

TEST_F(HeadlessWindow, TakesInjectedEventsByTimeAndNeverDraws) {
  ASSERT_NE(w, nullptr);
  EXPECT_EQ(window_current(), w);
  int width = 0, height = 0, code, down;
  EXPECT_EQ(frame_begin(w, &width, &height), 0);
  EXPECT_EQ(get_gl_proc("glClear"), nullptr);
  events_push(w, 4096 + 45, 1, 10, 500000);
  events_push(w, 4096 + 45, 0, 11, 0);
  EXPECT_EQ(events_next_until(w, &code, &down, 10, 499000), 0);
  EXPECT_EQ(events_next_until(w, &code, &down, 10, 500000), 1);
  EXPECT_EQ(code, 4096 + 45);
  EXPECT_EQ(down, 1);
  EXPECT_EQ(events_next(w, &code, &down), 1);
  EXPECT_EQ(down, 0);
  EXPECT_EQ(events_next(w, &code, &down), 0);
  // Stamped on the platform clock, so "now" covers what was just pushed.
  events_push_now(w, CODE_CLOSE, 1);
  int64_t s;
  int us;
  clock_now(&s, &us);
  EXPECT_EQ(events_next_until(w, &code, &down, s, us), 1);
  EXPECT_EQ(code, CODE_CLOSE);
  // The pointer device exists headless and reads injected positions.
  Axis *x = axis_open("cursor-x");
  ASSERT_NE(x, nullptr);
  pointer_set(123, 45);
  EXPECT_EQ(axis_read(x), 123);
  axis_close(x);
}

TEST_F(HeadlessWindow, SdlEventsBecomeCodesOnThePlatformClock) {
  ASSERT_NE(w, nullptr);
  SDL_Event ev{};
  ev.type = SDL_KEYDOWN;
  ev.key.keysym.scancode = SDL_SCANCODE_RCTRL;
  ev.key.timestamp = SDL_GetTicks() - 400;  // queued 0.4 s ago
  window_translate_event(w, &ev);
  ev.key.keysym.scancode = SDL_SCANCODE_RETURN;
  ev.key.timestamp = SDL_GetTicks();
  window_translate_event(w, &ev);
  ev.type = SDL_KEYUP;
  ev.key.keysym.scancode = SDL_SCANCODE_UNKNOWN;
  window_translate_event(w, &ev);
  SDL_Event text{};
  text.type = SDL_TEXTINPUT;
  text.text.timestamp = SDL_GetTicks();
  strcpy(text.text.text, "a\xC3\xA9\xE2\x82\xAC");  // a, e acute, euro sign
  window_translate_event(w, &text);
  SDL_Event click{};
  click.type = SDL_MOUSEBUTTONUP;
  click.button.button = SDL_BUTTON_RIGHT;
  click.button.timestamp = SDL_GetTicks();
  window_translate_event(w, &click);
  SDL_Event quit{};
  quit.type = SDL_QUIT;
  window_translate_event(w, &quit);

  int64_t ms = clock_ms() - 200;
  int code, down;
  // Only the old key press lies before the moment 0.2 s ago.
  ASSERT_EQ(events_next_until(w, &code, &down, ms / 1000, int(ms % 1000) * 1000), 1);
  EXPECT_EQ(code, 4096 + 285);
  EXPECT_EQ(down, 1);
  EXPECT_EQ(events_next_until(w, &code, &down, ms / 1000, int(ms % 1000) * 1000), 0);
  const int want[][2] = {{4096 + 28, 1}, {13, 1}, {'a', 1}, {0xE9, 1},
                         {CODE_MOUSE_RIGHT, 0}, {CODE_CLOSE, 1}};
  for (const auto &e : want) {
    ASSERT_EQ(events_next(w, &code, &down), 1);
    EXPECT_EQ(code, e[0]);
    EXPECT_EQ(down, e[1]);
  }
  EXPECT_EQ(events_next(w, &code, &down), 0);
}

TEST_F(HeadlessWindow, MessageBoxGoesToStandardError) {
  testing::internal::CaptureStderr();
  message_box("Problem starting Tarnwick", "Can't find game data\n");
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "Problem starting Tarnwick: Can't find game data\n");
}

TEST(DisplayModes, DuplicatesAndOddDepthsAreLeftOut) {
  const DisplayMode desktop = {1920, 1080, 32, 60};
  const DisplayMode sys[] = {
      {1920, 1080, 32, 60}, {1920, 1080, 32, 144}, {1280, 1024, 32, 60}, {800, 600, 15, 60},
      {1024, 768, 32, 75},  {1024, 768, 16, 75},   {640, 480, 64, 60},
  };
  DisplayMode out[9];
  int n = display_modes_build(out, &desktop, sys, 7);
  ASSERT_EQ(n, 4);
  const int want[4][3] = {{1920, 1080, 32}, {1280, 1024, 32}, {1024, 768, 32}, {1024, 768, 16}};
  for (int i = 0; i < 4; i++) {
    EXPECT_EQ(out[i].width, want[i][0]);
    EXPECT_EQ(out[i].height, want[i][1]);
    EXPECT_EQ(out[i].bits, want[i][2]);
  }
  EXPECT_EQ(out[4].width, 0);
  // A desktop of an unusable depth is not listed.
  const DisplayMode odd = {1920, 1080, 30, 60};
  n = display_modes_build(out, &odd, sys + 2, 1);
  EXPECT_EQ(n, 1);
  EXPECT_EQ(out[0].width, 1280);
}

TEST(DisplayModes, PicksTheSmallestModeThatFits) {
  const DisplayMode list[] = {{1280, 1024, 32, 0}, {800, 600, 32, 0}, {1024, 768, 32, 0},
                              {1152, 640, 32, 0}, {}};
  EXPECT_EQ(display_mode_pick(list, 1000, 700), 2);
  EXPECT_EQ(display_mode_pick(list, 800, 600), 1);
  EXPECT_EQ(display_mode_pick(list, 1100, 600), 3);
  EXPECT_EQ(display_mode_pick(list, 2000, 700), -1);  // caller falls back to the desktop
  const DisplayMode tie[] = {{1024, 800, 32, 0}, {1124, 700, 32, 0}, {}};
  EXPECT_EQ(display_mode_pick(tie, 1000, 700), 0);
}

TEST(GlRequest, OptionsOverrideTheRequest) {
  platform_reset_for_tests();
  set_gl_request(3, 3, GL_DIALECT_ES);
  GlRequest r = gl_request_effective();
  EXPECT_EQ(r.major, 3);
  EXPECT_EQ(r.minor, 3);
  EXPECT_EQ(r.dialect, GL_DIALECT_ES);
  setenv("KORB_OPTIONS", "[gles:no][glcore:no][glmajor:4][glminor:6]", 1);
  korb_reset_for_tests();
  r = gl_request_effective();
  EXPECT_EQ(r.major, 4);
  EXPECT_EQ(r.minor, 6);
  EXPECT_EQ(r.dialect, GL_DIALECT_COMPATIBILITY);
  unsetenv("KORB_OPTIONS");
  korb_reset_for_tests();
  platform_reset_for_tests();
  r = gl_request_effective();
  EXPECT_EQ(r.major * 10 + r.minor, 31);
  EXPECT_EQ(r.dialect, GL_DIALECT_CORE);
}

}  // namespace
