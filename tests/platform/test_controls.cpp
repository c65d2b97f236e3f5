#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <string>

#include "fake_device.h"
#include "platform/internal.h"
#include "platform/platform.h"

namespace {

class InputTest : public ::testing::Test {
 protected:
  Window *w = nullptr;
  // Devices outlive the test body: they are closed in TearDown.
  FakeDevice fa, fb;
  void SetUp() override {
    platform_reset_for_tests();
    platform_set_headless(1);
    w = window_open("Tarnwick", 640, 480, 16, 0, 16, 0, 0);
    controls_set_defaults();
  }
  void TearDown() override {
    learn_cancel();
    controls_release_all();
    platform_reset_for_tests();
  }
};

TEST(AxisMap, MapsTheEndsAndNeverGivesNaN) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const struct {
    int raw;
    float low, high, want;
  } cases[] = {
      {0, 0, 1, 0},          {16384, 0, 1, 0.5f},   {32767, 0, 1, 32767 / 32768.0f},
      {-32768, 0, 1, 0},     {-16384, 0, -1, 0.5f}, {16384, -0.875f, 0.875f, 0.785714f},
      {16384, 0.5f, 0.5f, 0}, {0, 0, 0, 0},         {1000, nan, 1, 0},
      {1000, 0, nan, 0},     {32767, -1e38f, 1e38f, 0.5f},
  };
  for (const auto &c : cases) {
    float v = axis_map(c.raw, c.low, c.high);
    EXPECT_FALSE(std::isnan(v));
    EXPECT_NEAR(v, c.want, 1e-5) << c.raw << " " << c.low << " " << c.high;
  }
}

TEST(DeviceCodeBase, StaysBelowTheReleaseFlag) {
  // Even bytes sum 0xFF, odd bytes 0x7F: the highest base there is.
  const char top[] = {char(0xFF), char(0x7F), 0};
  EXPECT_EQ(uint32_t(device_code_base(top, nullptr)), 0x7FFF0000u);
  auto top_used = [](int base) { return base == 0x7FFF0000 ? 1 : 0; };
  EXPECT_EQ(device_code_base(top, top_used), 65536);
  // Bit 15 of the sum would land on bit 31; it is masked away, and a base of
  // 0 steps on.
  const char high[] = {char(0x01), char(0x80), 0};
  EXPECT_EQ(device_code_base(high, nullptr), 0x10000);
  const char zero[] = {char(0x80), char(0x7E), char(0x80), char(0x01), 0};  // 0x8000
  EXPECT_EQ(device_code_base(zero, nullptr), 65536);
  for (const char *name : {"XInputGamepad0", "Mouse", "cursor", "RacingWheel#2"}) {
    int base = device_code_base(name, nullptr);
    EXPECT_GE(base, 65536) << name;
    EXPECT_EQ(base % 65536, 0) << name;
    EXPECT_LT(uint32_t(base) + 255u, 0x80000000u) << name;
  }
}

TEST_F(InputTest, DevicesGetUniqueNamesAndBases) {
  Device *da = device_add("Racing Wheel", 4, 2, &fake_ops, &fa);
  Device *db = device_add("Racing Wheel", 4, 2, &fake_ops, &fb);
  ASSERT_TRUE(da && db);
  EXPECT_STREQ(da->name, "RacingWheel");
  EXPECT_STREQ(db->name, "RacingWheel#2");
  EXPECT_NE(da->code_base, db->code_base);
  // The pointer device was added when the window opened.
  EXPECT_NE(device_find("cursor"), nullptr);
}

TEST(DeviceNames, CleaningDropsSpacesAndDotsAndCutsLongNames) {
  struct {
    std::string in, out;
  } cases[] = {
      {"Racing Wheel", "RacingWheel"},
      {"Pad v1.2 (USB)", "Padv12(USB)"},
      {" . . ", "Device"},
      {"", "Device"},
      {std::string(60, 'x'), std::string(51, 'x')},
      {std::string(70, ' ') + "late", "late"},
  };
  for (const auto &c : cases) {
    char out[DEVICE_CLEAN_NAME];
    device_clean_name(c.in.c_str(), out);
    EXPECT_EQ(out, c.out) << '"' << c.in << '"';
  }
}

TEST_F(InputTest, AxesOpenByEveryNameForm) {
  FakeDevice &f = fa;
  f.axes[1] = -1234;
  Device *d = device_add("Joystick 1", 2, 3, &fake_ops, &f);
  ASSERT_NE(d, nullptr);
  for (const char *name : {"Joystick1.axis[1]", "Joystick1 axis 1", "joystick-a-y"}) {
    Axis *a = axis_open(name);
    ASSERT_NE(a, nullptr) << name;
    EXPECT_EQ(axis_read(a), -1234) << name;
    axis_close(a);
  }
  for (const char *name : {"Joystick1.axis[3]", "Joystick1 axis -1", "Nothing axis 0", "Joystick1"})
    EXPECT_EQ(axis_open(name), nullptr) << name;
  // Opened while any axis object is alive, closed with the last one.
  Axis *x = axis_open("Joystick1 axis 0"), *y = axis_open("Joystick1 axis 1");
  EXPECT_EQ(f.opens, 4);
  axis_close(x);
  EXPECT_EQ(d->use_count, 1);
  axis_close(y);
  EXPECT_EQ(f.closes, 4);
}

TEST_F(InputTest, BindingTextRoundTrips) {
  Binding b{};
  binding_parse(&b, "  (-1.000000,1.000000)XInputGamepad0.axis[5]\n");
  EXPECT_STREQ(b.axis_name, "XInputGamepad0.axis[5]");
  EXPECT_EQ(b.key_name, nullptr);
  EXPECT_FLOAT_EQ(b.low, -1);
  EXPECT_FLOAT_EQ(b.high, 1);
  char text[256];
  binding_format(&b, text, sizeof text);
  EXPECT_STREQ(text, "(-1.000000,1.000000)XInputGamepad0.axis[5]");
  for (const char *value : {"(k)x", "x"}) {
    binding_parse(&b, value);
    EXPECT_STREQ(b.key_name, "x");
    EXPECT_EQ(b.axis_name, nullptr);
    EXPECT_FLOAT_EQ(b.high, 1);
    binding_format(&b, text, sizeof text);
    EXPECT_STREQ(text, "(k)x");
  }
  binding_parse(&b, "(k)right ctrl");
  EXPECT_STREQ(b.key_name, "right ctrl");
  binding_parse(&b, "(oops)x");  // not an axis form: a key name as it stands
  EXPECT_STREQ(b.key_name, "(oops)x");
  binding_parse(&b, "");
  EXPECT_EQ(binding_format(&b, text, sizeof text), 0);
}

TEST_F(InputTest, DefaultControlsFillTheirSlots) {
  controls_resolve_all();
  const char *defaults[] = {"left", "right", "x", "c", "v", "up", "down", "z",
                            "right ctrl", "b", "n", "m", "s", "t", "]", "[", "/", "\\", ".", "pause"};
  for (int i = 0; i < CONTROL_COUNT; i++) {
    EXPECT_STREQ(control_bindings[i].key_name, defaults[i]);
    EXPECT_NE(control_bindings[i].key_code, 0) << defaults[i];
  }
  float slots[CONTROL_SLOT_COUNT];
  EXPECT_EQ(controls_key_event(4096 + 45, 1), 1);  // throttle
  controls_key_event(4096 + 333, 1);               // right
  controls_key_event(4096 + 49, 1);                // lean forward
  controls_key_event(4096 + 50, 1);                // and backward
  controls_tic(slots);
  EXPECT_FLOAT_EQ(slots[1], 1);
  EXPECT_FLOAT_EQ(slots[0], -1);
  EXPECT_FLOAT_EQ(slots[8], 0);
  controls_key_event(4096 + 45, 0);
  controls_tic(slots);
  EXPECT_FLOAT_EQ(slots[1], 0);
  // A tap shorter than a tic (down and up before it) counts for one tic.
  controls_key_event(4096 + 45, 1);
  controls_key_event(4096 + 45, 0);
  controls_tic(slots);
  EXPECT_FLOAT_EQ(slots[1], 1);
  controls_tic(slots);
  EXPECT_FLOAT_EQ(slots[1], 0);
  EXPECT_EQ(controls_key_event(4096 + 69, 1), 0);  // pause is no game control
  EXPECT_TRUE(special_key_is(KEY_PAUSE, 4096 + 69));
  EXPECT_FALSE(special_key_is(KEY_STEP, 4096 + 69));
  EXPECT_FALSE(special_key_is(KEY_STEP, 0));
  EXPECT_STREQ(control_info[CONTROL_DAB].config_key, "dab_key");
  // An axis-bound throttle with equal ends stays at 0.
  FakeDevice &f = fa;
  f.axes[0] = 20000;
  ASSERT_NE(device_add("Pedals", 0, 1, &fake_ops, &f), nullptr);
  binding_set_axis(&control_bindings[CONTROL_THROTTLE], "Pedals axis 0", 0.25f, 0.25f);
  binding_resolve(&control_bindings[CONTROL_THROTTLE]);
  ASSERT_NE(control_bindings[CONTROL_THROTTLE].axis, nullptr);
  controls_tic(slots);
  EXPECT_FLOAT_EQ(slots[1], 0);
  control_bindings[CONTROL_THROTTLE].high = 1;
  controls_tic(slots);
  EXPECT_NEAR(slots[1], (20000 / 32768.0 - 0.25) / 0.75, 1e-5);
}

TEST_F(InputTest, DeviceButtonsArePolledOnceBound) {
  FakeDevice &f = fa;
  Device *d = device_add("Wheel", 4, 0, &fake_ops, &f);
  ASSERT_NE(d, nullptr);
  int code, down;
  f.buttons[2] = 1;
  EXPECT_EQ(events_next(w, &code, &down), 0);  // nobody asked for its buttons
  binding_set_key(&control_bindings[CONTROL_CLUTCH], "Wheel button 2");
  binding_resolve(&control_bindings[CONTROL_CLUTCH]);
  ASSERT_EQ(events_next(w, &code, &down), 1);
  EXPECT_EQ(code, d->code_base + 2);
  EXPECT_EQ(down, 1);
  EXPECT_EQ(controls_key_event(code, down), 1);
  float slots[CONTROL_SLOT_COUNT];
  controls_tic(slots);
  EXPECT_FLOAT_EQ(slots[5], 1);
}

class LearnTest : public InputTest {
 protected:
  FakeDevice pad, stick;
  Device *pad_dev = nullptr;
  Binding b{};
  void SetUp() override {
    InputTest::SetUp();
    pad_dev = device_add("Pad", 4, 2, &fake_ops, &pad);
    device_add("Stick", 0, 1, &fake_ops, &stick);
    axis_name_add("Pad axis 0");
    axis_name_add("Pad axis 1");
    axis_name_add("Stick axis 0");
    pad.axes[1] = -32768;  // a trigger at rest
    binding_set_key(&b, "x");
    binding_resolve(&b);
  }
  void TearDown() override {
    learn_cancel();
    binding_clear(&b);
    InputTest::TearDown();
  }
};

TEST_F(LearnTest, HeldTriggerBindsItsTravel) {
  learn_start(&b, 10.0);
  EXPECT_EQ(learn_binding(), &b);
  EXPECT_EQ(learn_tic(10.0), 0);
  pad.axes[1] = 32767;
  EXPECT_EQ(learn_tic(10.1), 0);
  EXPECT_EQ(learn_tic(10.3), 0);  // not held long enough yet
  EXPECT_EQ(learn_tic(10.4), 1);
  EXPECT_EQ(learn_binding(), nullptr);
  EXPECT_EQ(b.key_name, nullptr);
  EXPECT_EQ(b.key_code, 0);
  EXPECT_STREQ(b.axis_name, "Pad axis 1");
  ASSERT_NE(b.axis, nullptr);
  EXPECT_NEAR(b.low, -0.875, 1e-4);
  EXPECT_NEAR(b.high, 0.875, 1e-4);
  // Only the bound axis stays open.
  EXPECT_EQ(pad_dev->use_count, 1);
  EXPECT_EQ(device_find("Stick")->use_count, 0);
  EXPECT_NEAR(binding_value(&b), 1.0, 1e-3);
}

TEST_F(LearnTest, KeyBindsAfterAQuarterSecond) {
  learn_start(&b, 10.0);
  EXPECT_EQ(learn_event('A', 1, 10.0), 1);  // a character cannot be bound
  EXPECT_EQ(learn_tic(10.5), 0);
  EXPECT_EQ(learn_event(4096 + 46, 1, 10.5), 1);  // "C"
  EXPECT_EQ(learn_event(4096 + 46, 0, 10.55), 1);  // releases are ignored
  EXPECT_EQ(learn_event(4096 + 47, 1, 10.6), 1);  // a second key does not replace it
  EXPECT_EQ(learn_tic(10.7), 0);
  EXPECT_EQ(learn_tic(10.8), 1);
  EXPECT_STREQ(b.key_name, "C");
  EXPECT_EQ(b.key_code, 4096 + 46);
  EXPECT_EQ(b.axis, nullptr);
  EXPECT_EQ(pad_dev->use_count, 0);
}

TEST_F(LearnTest, MovedStickWinsOverACapturedKey) {
  learn_start(&b, 10.0);
  learn_event(4096 + 46, 1, 10.05);
  stick.axes[0] = 20000;
  EXPECT_EQ(learn_tic(10.1), 0);
  EXPECT_EQ(learn_tic(10.3), 0);
  EXPECT_EQ(learn_tic(10.4), 1);
  EXPECT_STREQ(b.axis_name, "Stick axis 0");
  EXPECT_EQ(b.key_name, nullptr);
}

TEST_F(LearnTest, LearnedDeviceButtonIsPolledAfterwards) {
  learn_start(&b, 10.0);
  learn_event(pad_dev->code_base + 3, 1, 10.0);
  EXPECT_EQ(learn_tic(10.3), 1);
  EXPECT_STREQ(b.key_name, "Pad button 3");
  EXPECT_EQ(b.key_code, pad_dev->code_base + 3);
  EXPECT_EQ(pad_dev->poll_buttons, 1);
}

TEST_F(LearnTest, SmallMovementsAndEscLeaveTheBindingAlone) {
  const char *before = b.key_name;
  learn_start(&b, 10.0);
  stick.axes[0] = 12000;  // less than halfway
  EXPECT_EQ(learn_tic(10.1), 0);
  EXPECT_EQ(learn_tic(11.0), 0);
  EXPECT_EQ(learn_event(4096 + 1, 1, 11.1), 1);  // esc
  EXPECT_EQ(learn_binding(), nullptr);
  EXPECT_EQ(b.key_name, before);
  EXPECT_EQ(b.key_code, 4096 + 45);
  EXPECT_EQ(pad_dev->use_count, 0);
  EXPECT_EQ(device_find("Stick")->use_count, 0);
  EXPECT_EQ(learn_event(4096 + 46, 1, 11.2), 0);  // no longer learning
}

}  // namespace
