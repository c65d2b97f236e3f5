// Fonts from their marker grid, text measuring and the colour codes, on a
// small made-up font and the recording GL table.
#include <gtest/gtest.h>

#include <cstring>

#include "core/core.h"
#include "gfx/images_internal.h"
#include "tests/gfx/recording_gl.h"

namespace {

const uint8_t MARKER[4] = {255, 0, 255, 255};

// 40 x 20: row 0 with cells at x = 0, 10, 15; row 1 (from y = 10) with
// cells at x = 0, 20. Ink is opaque grey elsewhere.
uint8_t *grid_picture() {
  uint8_t *px = chain_alloc(40, 20, 4);
  for (int i = 0; i < 40 * 20; i++) px[i * 4] = px[i * 4 + 1] = px[i * 4 + 2] = 90, px[i * 4 + 3] = 255;
  for (auto [x, y] : {std::pair{0, 0}, {10, 0}, {15, 0}, {0, 10}, {20, 10}})
    memcpy(px + (y * 40 + x) * 4, MARKER, 4);
  return px;
}

class Text : public ::testing::Test {
 protected:
  void SetUp() override {
    recording_gl_install();
    // Six characters for five cells: "m" starts over in row 0.
    ASSERT_TRUE(font_from_pixels(&font_main, grid_picture(), 40, 20, "-AB[0m"));
    font_main.texture = 77;
  }
  void TearDown() override {
    font_main.texture = 0;
    fonts_free();
  }
  // Colours of the quads drawn (one per quad), after a flush.
  std::vector<std::vector<float>> quad_colours() {
    twgl_flush();
    std::vector<std::vector<float>> out;
    for (size_t v = 0; v + 4 <= rec.vertices.size() / 12; v += 4)
      out.push_back({rec.vertices[v * 12 + 8], rec.vertices[v * 12 + 9],
                     rec.vertices[v * 12 + 10], rec.vertices[v * 12 + 11]});
    return out;
  }
};

TEST_F(Text, GlyphsComeFromTheMarkerGrid) {
  EXPECT_FLOAT_EQ(font_main.advances['-'], 1.0f);
  EXPECT_FLOAT_EQ(font_main.advances['A'], 0.5f);
  EXPECT_FLOAT_EQ(font_main.advances['B'], 2.5f);  // the last cell ends at the edge
  EXPECT_FLOAT_EQ(font_main.advances['['], 2.0f);
  EXPECT_FLOAT_EQ(font_main.advances['m'], 1.0f);
  EXPECT_FLOAT_EQ(font_main.advances[' '], 1.0f) << "a space is as wide as '-'";
  EXPECT_FLOAT_EQ(font_main.advances['z'], 2.0f / 3);
  EXPECT_FLOAT_EQ(font_main.glyphs['0'][0], 0.5f);
  EXPECT_FLOAT_EQ(font_main.glyphs['0'][1], 0.5f);
  EXPECT_FLOAT_EQ(font_main.glyphs['0'][2], 1.0f);
  EXPECT_FLOAT_EQ(font_main.glyphs['0'][3], 1.0f);
  EXPECT_EQ(memcmp(font_main.glyphs['m'], font_main.glyphs['-'], sizeof(float) * 4), 0);
  // The grid marks became transparent white; ink stayed.
  const uint8_t clear[4] = {255, 255, 255, 0};
  for (auto [x, y] : {std::pair{0, 0}, {10, 0}, {15, 0}, {0, 10}, {20, 10}})
    EXPECT_EQ(memcmp(font_main.pixels + (y * 40 + x) * 4, clear, 4), 0) << x << "," << y;
  EXPECT_EQ(font_main.pixels[(5 * 40 + 5) * 4 + 3], 255);
}

TEST_F(Text, WidthsTabsAndLines) {
  struct Case {
    const char *text;
    float width;
  } cases[] = {
      {"", 0},
      {"\t", 8},
      {"--------\t", 16},
      {"-\t", 8},
      {"AB\nB", 3},
      {"B\rA", 2.5f},
      {"\x1b[31mA", 0.5f},
      {"\x1b[31m\x1b[0mA", 2.0f / 3 + 2 + 2 + 1 + 0.5f},
      {"zz", 4.0f / 3},
  };
  for (const Case &c : cases) EXPECT_FLOAT_EQ(text_width(c.text), c.width) << c.text;
}

TEST_F(Text, ColourCodes) {
  using C = std::vector<float>;
  struct Case {
    const char *text;
    std::vector<C> colours;
  } cases[] = {
      {"A", {C{0.2f, 0.4f, 0.6f, 0.8f}}},
      {"\x1b[1;31mA", {C{1, 0, 0, 0.8f}}},
      {"\x1b[1mA", {C{0.45f, 0.65f, 0.85f, 0.8f}}},
      {"\x1b[32mA\x1b[0mA", {C{0, 0.75f, 0, 0.8f}, C{0.2f, 0.4f, 0.6f, 0.8f}}},
      {"\x1b[32mA\x1b[mA", {C{0, 0.75f, 0, 0.8f}, C{0.2f, 0.4f, 0.6f, 0.8f}}},
      {"\x1b[32;1;22mA", {C{0, 0.75f, 0, 0.8f}}},
      {"\x1b[41mA", {C{0.2f, 0.4f, 0.6f, 0.8f}}},  // background codes only in the shadow pass
      {"\x1b[31K\x1b[0mA", {}},  // not "m": no colour change; the drawn escape is empty
      // A second sequence right after the first: its escape byte is an empty
      // glyph and the rest is text in the colour set by the first.
      {"\x1b[31m\x1b[0mA", std::vector<C>(4, C{0.75f, 0, 0, 0.8f})},
  };
  for (const Case &c : cases) {
    rec.vertices.clear();
    text_draw(0.2f, 0.4f, 0.6f, 0.8f, c.text);
    std::vector<C> got = quad_colours();
    if (std::string(c.text) == "\x1b[31K\x1b[0mA") {
      EXPECT_EQ(got.size(), 4u);  // "[", "0", "m", "A" in the caller's colour
      continue;
    }
    ASSERT_EQ(got.size(), c.colours.size()) << c.text;
    for (size_t i = 0; i < got.size(); i++)
      for (int k = 0; k < 4; k++) EXPECT_NEAR(got[i][k], c.colours[i][k], 1e-6) << c.text << " quad " << i;
  }
  // The empty escape glyph still takes its width: "[" starts at 2/3.
  rec.vertices.clear();
  text_draw(1, 1, 1, 1, "\x1b[31m\x1b[0mA");
  twgl_flush();
  EXPECT_FLOAT_EQ(rec.vertices[0], 2.0f / 3);
}

TEST_F(Text, ShadowPassTakesBackgroundCodes) {
  rec.vertices.clear();
  text_draw_shadowed(1, 1, 1, 0.5f, "\x1b[32;41mA");
  std::vector<std::vector<float>> got = quad_colours();
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(got[0], (std::vector<float>{0.75f, 0, 0, 0.25f})) << "shadow in palette 1";
  EXPECT_EQ(got[1], (std::vector<float>{0, 0.75f, 0, 0.5f})) << "text in palette 2";
  // The shadow is drawn moved by (1/16, -1/16).
  rec.calls.clear();
  text_draw_shadowed(1, 1, 1, 1, "A");
  twgl_flush();
  EXPECT_EQ(calls_named("DrawRangeElements").size(), 2u);
}

TEST_F(Text, QuadsSpanTheLineAndNothingIsDrawnForBlankText) {
  rec.vertices.clear();
  text_draw_plain("A\n-");
  twgl_flush();
  ASSERT_EQ(rec.vertices.size(), 8u * 12);
  auto v = [&](int i, int k) { return rec.vertices[size_t(i) * 12 + size_t(k)]; };
  // "A": top left (0, 1) with (u0, v0), bottom right (0.5, 0) with (u1, v1).
  EXPECT_EQ(v(0, 0), 0);
  EXPECT_EQ(v(0, 1), 1);
  EXPECT_FLOAT_EQ(v(0, 4), 0.25f);
  EXPECT_FLOAT_EQ(v(0, 5), 0);
  EXPECT_FLOAT_EQ(v(2, 0), 0.5f);
  EXPECT_EQ(v(2, 1), 0);
  EXPECT_FLOAT_EQ(v(2, 4), 0.375f);
  EXPECT_FLOAT_EQ(v(2, 5), 0.5f);
  // "-" on the next line, back at x = 0.
  EXPECT_EQ(v(4, 0), 0);
  EXPECT_EQ(v(4, 1), 0);
  EXPECT_EQ(v(5, 1), -1);

  rec.calls.clear();
  text_draw_plain(" \t\n");
  text_draw_plain("");
  font_main.texture = 0;
  text_draw_plain("A");
  twgl_flush();
  EXPECT_TRUE(calls_named("Draw").empty());
}

TEST(Fonts, MissingPicturesLeaveEmptyFonts) {
  recording_gl_install();
  capture_begin();
  Font f;
  EXPECT_EQ(font_from_pixels(&f, nullptr, 0, 0, "0"), 0);
  EXPECT_EQ(f.texture, 0u);
  EXPECT_FLOAT_EQ(f.advances['0'], 2.0f / 3);
  // Painting numbers with no number font paints nothing.
  uint8_t px[4 * 4 * 4] = {};
  fonts_free();
  number_draw(px, 4, 4, 1, 1, 1, 1, "12");
  for (uint8_t b : px) EXPECT_EQ(b, 0);
}

}  // namespace

namespace {

// The fonts the generator made: every printable character has a cell of
// the line's height and a plausible width, and the digits of both number
// fonts are kept as pixels.
TEST(Fonts, GeneratedFontsHoldEveryCharacter) {
  recording_gl_install();
  fonts_load();
  ASSERT_NE(font_main.texture, 0u) << "generated data missing";
  EXPECT_EQ(font_main.pixels, nullptr) << "released once uploaded";
  for (int c = 33; c <= 126; c++) {
    const float *g = font_main.glyphs[c];
    EXPECT_GT(g[2], g[0]) << char(c);
    EXPECT_FLOAT_EQ((g[3] - g[1]) * font_main.height, 64) << char(c);
    EXPECT_GT(font_main.advances[c], 0.2f) << char(c);
    EXPECT_LT(font_main.advances[c], 1.3f) << char(c);
  }
  EXPECT_FLOAT_EQ(font_main.advances[int(' ')], font_main.advances[int('-')]);
  for (const Font *f : {&font_numbers, &font_numbers_condensed}) {
    ASSERT_NE(f->pixels, nullptr);
    for (int c = '0'; c <= '9'; c++) EXPECT_GT(f->glyphs[c][2], f->glyphs[c][0]);
  }
  EXPECT_LT(font_numbers_condensed.advances[int('8')], font_numbers.advances[int('8')]);
  fonts_free();
}

}  // namespace
