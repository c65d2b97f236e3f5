// Real drawing on Mesa through EGL: text at a known place, the title screen
// and the loading spinner, on a desktop core context and on OpenGL ES, with
// every GL error failing the test.
#include <gtest/gtest.h>

#include "core/log.h"
#include "tests/gfx/egl_context.h"

namespace {

const int W = 640, H = 480;

class Screens : public ::testing::TestWithParam<bool> {
 protected:
  TestContext c;
  std::vector<uint8_t> px;
  void SetUp() override {
    ASSERT_TRUE(test_context_open(&c, GetParam(), W, H)) << "no EGL surfaceless context";
    ASSERT_TRUE(gfx_init(test_get_proc, GetParam()));
    texture_purge(1);
    gfx_load_pictures();
    ASSERT_NE(font_main.texture, 0u) << "generated data missing";
  }
  void TearDown() override {
    gfx_shutdown();
    EXPECT_EQ(gl_errors, 0) << gl_last_error;
    test_context_close(&c);
  }
  // Pixel (x, y) with y counted from the top.
  const uint8_t *at(int x, int y) { return &px[(size_t(H - 1 - y) * W + x) * 4]; }
};

TEST_P(Screens, TextLandsWhereItWasPut) {
  twglClearColor(0, 0, 0, 1);
  twglClear(GL_COLOR_BUFFER_BIT);
  screen_projection(W, H);
  twglUseProgram(PROGRAM_UNLIT);
  text_mode_begin(8);  // 60 pixels a line
  text_draw_plain("HI");
  text_mode_end();
  px = test_read_pixels(&c);
  int right = int(text_width("HI") * 60 + 0.5f);
  int inside = 0, outside = 0;
  for (int y = 0; y < H; y++)
    for (int x = 0; x < W; x++) {
      bool lit = at(x, y)[0] > 128;
      bool in_box = x <= right + 1 && y < 61;
      (in_box ? inside : outside) += lit;
    }
  EXPECT_GT(inside, 300) << "the letters are drawn";
  EXPECT_EQ(outside, 0) << "and nowhere else";
  // The letters are white ink: where lit, all channels agree.
  for (int y = 0; y < 60; y++)
    for (int x = 0; x < right; x++)
      if (at(x, y)[0] > 200) {
        EXPECT_EQ(at(x, y)[0], at(x, y)[2]);
      }
}

TEST_P(Screens, TitleScreenShowsThePictureAndTheVersion) {
  draw_title_screen(W, H);
  px = test_read_pixels(&c);
  test_save_shot(&c, px, "title");
  const uint8_t *sky = at(W / 2, 3), *dirt = at(W / 2, H - 4);
  EXPECT_GT(sky[2], sky[0] + 40) << "blue sky at the top";
  EXPECT_GT(dirt[0], dirt[2] + 30) << "brown dirt at the bottom";
  // The word: white letters across the middle band.
  int white = 0;
  for (int y = H / 6; y < H / 2; y++)
    for (int x = 0; x < W; x++) white += at(x, y)[0] > 240 && at(x, y)[1] > 240 && at(x, y)[2] > 240;
  EXPECT_GT(white, 500);
  // The version text in grey, ending at the bottom right corner.
  int grey = 0;
  for (int y = H - 16; y < H; y++)
    for (int x = W / 2; x < W; x++) {
      const uint8_t *p = at(x, y);
      grey += p[0] > 150 && p[1] > 150 && p[2] > 140;  // the dirt behind has little blue
    }
  EXPECT_GT(grey, 20);
  // A wide window: the picture covers the width and is cropped at top and
  // bottom, so the sky is still blue at the top.
  draw_title_screen(W, H / 3);
  px = test_read_pixels(&c);
  const uint8_t *wide_sky = at(W / 2, H - H / 3 + 2);
  EXPECT_GT(wide_sky[2], wide_sky[0]);
}

TEST_P(Screens, LoadingScreens) {
  draw_loading_screen(W, H, "Loading track", -1);
  px = test_read_pixels(&c);
  test_save_shot(&c, px, "loading");
  int lit = 0;
  for (int y = 0; y < 20; y++)
    for (int x = 0; x < 120; x++) lit += at(x, y)[0] > 200 && at(x, y)[2] > 200;
  EXPECT_GT(lit, 10) << "the message at the top left";
  draw_loading_screen(W, H, nullptr, 5);
  px = test_read_pixels(&c);
  test_save_shot(&c, px, "spinner");
  // The first refresh of the run fades its squares in from nothing.
  EXPECT_NEAR(at(W / 2, H / 2)[0], 128, 3) << "grey 0.5 at the centre";
  EXPECT_LT(at(1, 1)[0], at(W / 2, H / 2)[0] - 30) << "darker towards the corners";
  EXPECT_GE(at(1, 1)[0], 63);
  // Half a second on the squares are opaque: the first (at x = Y, right of
  // the centre) lit by bit 0 of the counter, the second not.
  sleep_for(0, 600000);
  draw_loading_screen(W, H, nullptr, 1);
  px = test_read_pixels(&c);
  int step = H / 2 / 16;  // Y / 16 in pixels
  EXPECT_NEAR(at(W / 2 + H / 2, H / 2)[0], 223, 3) << "grey 0.875";
  EXPECT_NEAR(at(W / 2 + H / 2 - step, H / 2)[0], 191, 3) << "grey 0.75";
  EXPECT_LT(at(W / 2 + H / 2 - step / 2, H / 2)[0], 150) << "background between them";
}

INSTANTIATE_TEST_SUITE_P(Contexts, Screens, ::testing::Values(false, true),
                         [](const auto &info) { return info.param ? "GLES3" : "Desktop"; });

}  // namespace
