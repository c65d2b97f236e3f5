#include <SDL2/SDL.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/internal.h"
#include "platform/platform.h"

namespace {

// A virtual game controller stands in for a real pad; SDL's joystick part
// needs no display.
class PadTest : public ::testing::Test {
 protected:
  Window w;
  int device_index = -1;
  SDL_Joystick *virt = nullptr;
  void SetUp() override {
    unsetenv("KORB_OPTIONS");  // pads on, whatever earlier tests left
    korb_reset_for_tests();
    platform_reset_for_tests();
    if (SDL_InitSubSystem(SDL_INIT_GAMECONTROLLER) != 0) GTEST_SKIP() << SDL_GetError();
    device_index = SDL_JoystickAttachVirtual(SDL_JOYSTICK_TYPE_GAMECONTROLLER, SDL_CONTROLLER_AXIS_MAX,
                                             SDL_CONTROLLER_BUTTON_MAX, 0);
    if (device_index < 0) GTEST_SKIP() << SDL_GetError();
    pads_open(&w);
    virt = SDL_JoystickFromInstanceID(SDL_JoystickGetDeviceInstanceID(device_index));
  }
  void TearDown() override {
    pads_close();
    if (device_index >= 0) SDL_JoystickDetachVirtual(device_index);
    SDL_QuitSubSystem(SDL_INIT_GAMECONTROLLER);
    platform_reset_for_tests();
  }
  void set_axis(SDL_GameControllerAxis a, int v) {
    SDL_JoystickSetVirtualAxis(virt, a, Sint16(v));
    SDL_JoystickUpdate();
  }
  void set_button(SDL_GameControllerButton b, int down) {
    SDL_JoystickSetVirtualButton(virt, b, Uint8(down));
    SDL_JoystickUpdate();
  }
};

TEST_F(PadTest, ControllerReadsLikeAPad) {
  ASSERT_NE(virt, nullptr);
  Device *d = device_find("XInputGamepad0");
  ASSERT_NE(d, nullptr);
  EXPECT_EQ(d->button_count, 16);
  EXPECT_EQ(d->axis_count, 6);
  int count;
  const char *const *names = axis_names(&count);
  ASSERT_EQ(count, 6);
  EXPECT_STREQ(names[5], "XInputGamepad0 axis 5");

  Axis *ly = axis_open("XInputGamepad0 axis 1"), *rt = axis_open("XInputGamepad0.axis[5]");
  ASSERT_TRUE(ly && rt);
  set_axis(SDL_CONTROLLER_AXIS_LEFTY, -32768);  // stick pushed up
  set_axis(SDL_CONTROLLER_AXIS_TRIGGERRIGHT, 32767);
  EXPECT_EQ(axis_read(ly), 32767);
  EXPECT_EQ(axis_read(rt), 32767);
  set_axis(SDL_CONTROLLER_AXIS_LEFTY, 16000);
  EXPECT_EQ(axis_read(ly), -16000);

  // "A" is bit 12; once bound, its presses and releases reach the queue.
  int code;
  ASSERT_EQ(key_code_of("XInputGamepad0 button 12", &code), 1);
  EXPECT_EQ(code, d->code_base + 12);
  set_button(SDL_CONTROLLER_BUTTON_A, 1);
  int got, down;
  ASSERT_EQ(events_next(&w, &got, &down), 1);
  EXPECT_EQ(got, d->code_base + 12);
  EXPECT_EQ(down, 1);
  // Pulling the pad out lets go of what it held.
  SDL_JoystickID id = SDL_JoystickInstanceID(virt);
  SDL_Event ev{};
  ev.type = SDL_JOYDEVICEREMOVED;
  ev.jdevice.which = id;
  pads_handle_event(&ev);
  ASSERT_EQ(events_next(&w, &got, &down), 1);
  EXPECT_EQ(got, d->code_base + 12);
  EXPECT_EQ(down, 0);
  EXPECT_EQ(axis_read(ly), 0);
  axis_close(ly);
  axis_close(rt);
}

// With "xinput" off a pad is read as a plain stick under its product name;
// with "dinput" off as well there is nothing but the pointer.
TEST_F(PadTest, OptionsChooseHowPadsAreRead) {
  const struct {
    const char *options;
    int pads, sticks;
  } cases[] = {{"[xinput:no]", 0, 1}, {"[dinput:no]", 1, 0}, {"[xinput:no][dinput:no]", 0, 0}};
  for (const auto &c : cases) {
    pads_close();
    setenv("KORB_OPTIONS", c.options, 1);
    korb_reset_for_tests();
    pads_open(&w);
    int pads = 0, sticks = 0;
    for (int i = 0; i < device_count(); i++) {
      const char *name = device_at(i)->name;
      if (strncmp(name, "XInputGamepad", 13) == 0) pads++;
      else if (strcmp(name, "cursor") != 0) sticks++;
    }
    EXPECT_EQ(pads, c.pads) << c.options;
    EXPECT_EQ(sticks, c.sticks) << c.options;
    EXPECT_NE(device_find("cursor"), nullptr) << c.options;
  }
  unsetenv("KORB_OPTIONS");
  korb_reset_for_tests();
}

// Other joysticks (wheels, pedals) come in as they are plugged in, named by
// their product name; their buttons reach the queue whenever an axis is read,
// so one nobody has bound yet can still be learned.
TEST_F(PadTest, WheelsArePluggedInAndReadLikeSticks) {
  int first = SDL_JoystickAttachVirtual(SDL_JOYSTICK_TYPE_WHEEL, 2, 4, 0);
  int second = SDL_JoystickAttachVirtual(SDL_JOYSTICK_TYPE_WHEEL, 2, 4, 0);
  ASSERT_GE(first, 0);
  ASSERT_GE(second, 0);
  SDL_Event added{};
  added.type = SDL_JOYDEVICEADDED;
  added.jdevice.which = first;
  pads_handle_event(&added);
  added.jdevice.which = second;
  pads_handle_event(&added);
  pads_handle_event(&added);  // a repeated notice adds nothing
  Device *a = nullptr, *b = nullptr;
  for (int i = 0; i < device_count(); i++) {
    Device *d = device_at(i);
    if (d->button_count == 4 && d->axis_count == 2) (a ? b : a) = d;
  }
  ASSERT_TRUE(a && b);
  EXPECT_EQ(std::string(b->name), std::string(a->name) + "#2");
  EXPECT_EQ(strpbrk(a->name, " ."), nullptr);

  SDL_Joystick *js = SDL_JoystickFromInstanceID(SDL_JoystickGetDeviceInstanceID(second));
  ASSERT_NE(js, nullptr);
  Axis *steer = axis_open((std::string(b->name) + " axis 0").c_str());
  ASSERT_NE(steer, nullptr);
  SDL_JoystickSetVirtualAxis(js, 0, -32768);
  SDL_JoystickSetVirtualButton(js, 2, 1);
  SDL_JoystickUpdate();
  EXPECT_EQ(axis_read(steer), -32767);
  int code, down;
  ASSERT_EQ(events_next(&w, &code, &down), 1);
  EXPECT_EQ(code, b->code_base + 2);
  EXPECT_EQ(down, 1);
  axis_close(steer);
  // Unplugged and plugged back in, it is the same device under the same name.
  SDL_Event removed{};
  removed.type = SDL_JOYDEVICEREMOVED;
  removed.jdevice.which = SDL_JoystickInstanceID(js);
  pads_handle_event(&removed);
  SDL_JoystickDetachVirtual(second);
  ASSERT_EQ(events_next(&w, &code, &down), 1);  // what it held is let go
  EXPECT_EQ(code, b->code_base + 2);
  EXPECT_EQ(down, 0);
  int devices_before = device_count();
  int again = SDL_JoystickAttachVirtual(SDL_JOYSTICK_TYPE_WHEEL, 2, 4, 0);
  ASSERT_GE(again, 0);
  added.jdevice.which = again;
  pads_handle_event(&added);
  EXPECT_EQ(device_count(), devices_before);
  steer = axis_open((std::string(a->name) + "#2 axis 0").c_str());
  ASSERT_NE(steer, nullptr);
  js = SDL_JoystickFromInstanceID(SDL_JoystickGetDeviceInstanceID(again));
  SDL_JoystickSetVirtualAxis(js, 0, 1000);
  SDL_JoystickUpdate();
  EXPECT_EQ(axis_read(steer), 1000);
  axis_close(steer);
  SDL_JoystickDetachVirtual(again);
  SDL_JoystickDetachVirtual(first);
}

}  // namespace
