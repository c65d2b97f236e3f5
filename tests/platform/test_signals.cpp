// Ctrl-C and SIGTERM turn into one Close event; a second signal is left to
// its default action, and a signal the caller ignores stays ignored.
#include <gtest/gtest.h>

#include <csignal>

#include "platform/platform.h"

namespace {

class Signals : public ::testing::Test {
 protected:
  Window *w = nullptr;
  void SetUp() override {
    korb_reset_for_tests();
    platform_reset_for_tests();
    platform_set_headless(1);
    w = window_open("Tarnwick", 320, 240, 32, 0, 16, 0, 0);
    ASSERT_NE(w, nullptr);
  }
  void TearDown() override {
    signal(SIGINT, SIG_DFL);
    signal(SIGTERM, SIG_DFL);
    platform_signal_take();
    platform_reset_for_tests();
  }
  int closes() {
    int n = 0, code, down;
    while (events_next(w, &code, &down)) n += code == CODE_CLOSE && down;
    return n;
  }
  static void (*handler(int sig))(int) {
    struct sigaction now = {};
    sigaction(sig, nullptr, &now);
    return now.sa_handler;
  }
};

TEST_F(Signals, EachBecomesACloseRequestOnce) {
  platform_catch_signals();
  EXPECT_EQ(closes(), 0);
  raise(SIGTERM);
  EXPECT_EQ(closes(), 1);
  EXPECT_EQ(closes(), 0);
  EXPECT_EQ(handler(SIGTERM), SIG_DFL);  // a second SIGTERM would end the program
  raise(SIGINT);
  EXPECT_EQ(closes(), 1);
  EXPECT_EQ(handler(SIGINT), SIG_DFL);
}

TEST_F(Signals, IgnoredStaysIgnored) {
  signal(SIGINT, SIG_IGN);
  platform_catch_signals();
  EXPECT_EQ(handler(SIGINT), SIG_IGN);
  EXPECT_NE(handler(SIGTERM), SIG_DFL);
  raise(SIGINT);
  EXPECT_EQ(closes(), 0);
}

}  // namespace
