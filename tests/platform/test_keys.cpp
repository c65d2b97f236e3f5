#include <SDL2/SDL_scancode.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "fake_device.h"
#include "platform/platform.h"

namespace {

class KeysTest : public ::testing::Test {
 protected:
  FakeDevice f;  // closed in TearDown, so it must outlive the test body
  void SetUp() override { platform_reset_for_tests(); }
  void TearDown() override { platform_reset_for_tests(); }
};

TEST_F(KeysTest, NamesResolveExactlyThenLoosely) {
  const struct {
    const char *name;
    int code;
  } cases[] = {
      {"right ctrl", 4096 + 285}, {"Right Ctrl", 4096 + 285}, {"right_ctrl", 4096 + 285},
      {"RIGHT   CTRL", -1},       {"0x39", 4096 + 57},        {"0x1ff", 4096 + 511},
      {"0x200", -1},              {"Esc", 4096 + 1},          {"esc", 4096 + 1},
      {"Space", 4096 + 57},       {" ", 4096 + 57},           {"x", 4096 + 45},
      {"0", 4096 + 11},           {"9", 4096 + 10},           {"\\", 4096 + 43},
      {"Pause", 4096 + 69},       {"Num Lock", 4096 + 325},   {"keypad enter", 4096 + 284},
      {"Keypad .", 4096 + 83},    {"up", 4096 + 328},         {"down", 4096 + 336},
      {"left", 4096 + 331},       {"right", 4096 + 333},      {"page down", 4096 + 337},
      {"F11", 4096 + 87},         {"Left Alt", 4096 + 56},    {"Close", 57005},
      {"close", 57005},           {"Mouse Right", 8194},      {"cursor-left", 8192},
      {"cursor-middle", 8193},    {"", -1},                   {"no such key", -1},
      {"Mouse.key[0]", -1},
  };
  for (const auto &c : cases) {
    int code = -1;
    int found = key_code_of(c.name, &code);
    if (c.code < 0) {
      EXPECT_EQ(found, 0) << c.name;
    } else {
      EXPECT_EQ(found, 1) << c.name;
      EXPECT_EQ(code, c.code) << c.name;
    }
  }
}

TEST_F(KeysTest, EveryNamedCodeReadsBackToItself) {
  EXPECT_STREQ(key_name_of(4096 + 1), "Esc");
  EXPECT_STREQ(key_name_of(4096 + 285), "Right Ctrl");
  EXPECT_STREQ(key_name_of(4096 + 57), "Space");
  EXPECT_STREQ(key_name_of(CODE_MOUSE_MIDDLE), "Mouse Middle");
  EXPECT_STREQ(key_name_of(CODE_CLOSE), "Close");
  EXPECT_EQ(key_name_of('A'), nullptr);  // characters have no name
  EXPECT_EQ(key_name_of(4096 + 0), nullptr);
  int named = 0;
  for (int code = 4096; code < 4096 + 512; code++) {
    const char *name = key_name_of(code);
    if (!name) continue;
    named++;
    int back = 0;
    ASSERT_EQ(key_code_of(name, &back), 1) << name;
    EXPECT_EQ(back, code) << name;
  }
  EXPECT_GE(named, 97);
}

TEST_F(KeysTest, ScancodesMapToLayoutFreeScanCodes) {
  const int cases[][2] = {
      {SDL_SCANCODE_ESCAPE, 1},     {SDL_SCANCODE_A, 30},       {SDL_SCANCODE_Z, 44},
      {SDL_SCANCODE_RCTRL, 285},    {SDL_SCANCODE_KP_ENTER, 284}, {SDL_SCANCODE_UP, 328},
      {SDL_SCANCODE_DOWN, 336},     {SDL_SCANCODE_LEFT, 331},   {SDL_SCANCODE_RIGHT, 333},
      {SDL_SCANCODE_NUMLOCKCLEAR, 325}, {SDL_SCANCODE_PAUSE, 69}, {SDL_SCANCODE_KP_DIVIDE, 309},
      {SDL_SCANCODE_UNKNOWN, -1},
  };
  for (const auto &c : cases) EXPECT_EQ(key_scan_from_sdl(c[0]), c[1]) << c[0];
  // Every mapped key has a name, so any key can be bound and saved.
  for (int sdl = 0; sdl < SDL_NUM_SCANCODES; sdl++) {
    int scan = key_scan_from_sdl(sdl);
    if (scan >= 0) {
      EXPECT_NE(key_name_of(4096 + scan), nullptr) << sdl;
    }
  }
}

TEST_F(KeysTest, FirstAliasWins) {
  alias_add("throttle-button", "x");
  alias_add("throttle-button", "z");
  int code = 0;
  ASSERT_EQ(key_code_of("throttle-button", &code), 1);
  EXPECT_EQ(code, 4096 + 45);
  // The standard aliases are there from the start and cannot be redefined.
  alias_add("cursor-left", "Mouse Right");
  EXPECT_STREQ(alias_resolve("cursor-left"), "Mouse Left");
  EXPECT_STREQ(alias_resolve("mouse-x"), "Mouse.axis[0]");
  EXPECT_STREQ(alias_resolve("plain"), "plain");
}

TEST_F(KeysTest, DeviceButtonsByName) {
  Device *d = device_add("Racing Wheel", 8, 2, &fake_ops, &f);
  ASSERT_NE(d, nullptr);
  EXPECT_STREQ(d->name, "RacingWheel");
  int code = 0;
  ASSERT_EQ(key_code_of("RacingWheel button 3", &code), 1);
  EXPECT_EQ(code, d->code_base + 3);
  EXPECT_EQ(d->poll_buttons, 1);
  EXPECT_EQ(f.opens, 1);
  ASSERT_EQ(key_code_of("RacingWheel.key[7]", &code), 1);
  EXPECT_EQ(code, d->code_base + 7);
  EXPECT_EQ(f.opens, 1);
  EXPECT_EQ(key_code_of("RacingWheel button 8", &code), 0);
  EXPECT_EQ(key_code_of("RacingWheel button -1", &code), 0);
  EXPECT_EQ(key_code_of("Other button 0", &code), 0);
  EXPECT_STREQ(key_name_of(d->code_base + 3), "RacingWheel button 3");
  EXPECT_EQ(key_name_of(d->code_base + 8), nullptr);
}

}  // namespace
