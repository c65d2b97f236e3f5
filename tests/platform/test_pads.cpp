#include <SDL2/SDL.h>
#include <gtest/gtest.h>

#include <cstdlib>

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

}  // namespace
