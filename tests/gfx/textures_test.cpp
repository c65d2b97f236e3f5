// The texture cache against the recording GL table: sizes uploaded, the
// messages for the player, generations and purges, animations, links,
// script painting and number plates.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "core/core.h"
#include "core/png.h"
#include "gfx/images_internal.h"
#include "tests/gfx/recording_gl.h"
#include "tests/gfx/test_files.h"

namespace {

class Textures : public ::testing::Test {
 protected:
  TempDir d;
  void SetUp() override {
    recording_gl_install();
    capture_begin();
    texture_purge(1);
    texture_generation = 0;
    texture_bytes = 0;
    gfx_settings = {0, 0};
  }
  void TearDown() override { texture_purge(1); }
  // Level 0's size as uploaded by the last load.
  std::string uploaded() {
    for (const std::string &c : rec.calls)
      if (c.rfind("TexImage2D 0 ", 0) == 0) return c.substr(13, c.find(' ', c.find(' ', 13) + 1) - 13);
    return "";
  }
  std::string noise(const char *name, int w, int h) {
    uint32_t seed = uint32_t(w * 31 + h);
    d.write(name, ppm_of(w, h, [&](int, int, int) { return uint8_t((seed = seed * 1103515245 + 12345) >> 16); }));
    return d.path(name);
  }
  std::string flat(const char *name, int w, int h) {
    d.write(name, ppm_of(w, h, [](int, int, int c) { return uint8_t(40 * c + 7); }));
    return d.path(name);
  }
  bool said(const std::string &text) {
    for (const std::string &m : captured_messages())
      if (m == text) return true;
    return false;
  }
};

TEST_F(Textures, SizesFollowReductionPowersOfTwoAndDetail) {
  struct Case {
    std::string name;
    int reduction;
    const char *size;
    bool warns;
  } cases[] = {
      {"!" + noise("a.ppm", 512, 512), 1, "0x8051 512x512", false},
      {noise("b.ppm", 512, 512), 1, "0x8051 256x256", false},
      {noise("c.ppm", 512, 256), 4, "0x8051 256x128", false},
      {noise("d.ppm", 200, 100), 0, "0x8051 128x64", true},
      {noise("e.ppm", 256, 100), 0, "0x8051 128x64", true},
      {flat("f.ppm", 16, 16), 0, "0x8051 16x16", false},
  };
  for (const Case &c : cases) {
    gfx_settings.texture_reduction = c.reduction;
    rec.calls.clear();
    captured_messages().clear();
    EXPECT_NE(texture_load(c.name.c_str()), 0u) << c.name;
    EXPECT_EQ(uploaded(), c.size) << c.name;
    std::string plain = c.name[0] == '!' ? c.name.substr(1) : c.name;
    EXPECT_EQ(said("Warning: Non power of 2 texture '" + plain + "'"), c.warns) << c.name;
    EXPECT_EQ(captured_messages().size(), c.warns ? 1u : 0u) << c.name;
  }
  // A single colour is stored at the lowest size that reproduces it.
  std::string g = flat("g.ppm", 256, 256);
  rec.calls.clear();
  texture_load(g.c_str());
  EXPECT_EQ(uploaded(), "0x8051 16x16");
  EXPECT_TRUE(said(g + " reduced to 16x16 (originally 256x256)"));
  // Every level down to 1 x 1 is uploaded, and counted.
  EXPECT_EQ(calls_named("TexImage2D").size(), 5u);
  EXPECT_EQ(calls_named("TexImage2D").back(), "TexImage2D 4 0x8051 1x1 0x1907");
}

TEST_F(Textures, CacheGenerationsAndPurge) {
  std::string a = noise("a.ppm", 32, 32), b = noise("b.ppm", 32, 32), c = noise("c.ppm", 32, 32);
  GLuint ta = texture_load(a.c_str());  // before any track: permanent
  texture_generation = 1;
  texture_bytes = 0;
  GLuint tb = texture_load(b.c_str());
  int64_t b_bytes = texture_bytes;
  EXPECT_EQ(b_bytes, (32 * 32 + 16 * 16 + 8 * 8 + 4 * 4 + 2 * 2 + 1) * 3);
  texture_generation = 2;
  texture_bytes = 0;
  GLuint tc = texture_load(c.c_str());
  texture_bytes = 0;
  EXPECT_EQ(texture_load(b.c_str()), tb) << "loaded once";
  EXPECT_EQ(texture_bytes, b_bytes) << "a texture of an older generation counts again";
  EXPECT_EQ(texture_load(a.c_str()), ta);
  EXPECT_EQ(texture_bytes, b_bytes) << "permanent textures are not counted";
  rec.calls.clear();
  texture_purge(0);
  EXPECT_TRUE(calls_named("DeleteTextures").empty());
  texture_generation = 3;
  texture_load(c.c_str());
  texture_purge(0);
  EXPECT_EQ(calls_named("DeleteTextures"),
            std::vector<std::string>{"DeleteTextures 1 " + std::to_string(tb)});
  EXPECT_EQ(texture_find(a.c_str()), ta);
  EXPECT_EQ(texture_find(b.c_str()), 0u);
  EXPECT_EQ(texture_find(c.c_str()), tc);
  EXPECT_STREQ(texture_name(tc), c.c_str());

  // A request that differs only in case finds the cached texture and warns.
  std::string upper = c;
  for (char &ch : upper) ch = char(toupper(ch));
  EXPECT_EQ(texture_load(upper.c_str()), tc);
  EXPECT_TRUE(said("Warning: case mismatch on '" + upper + "'"));
  rec.calls.clear();
  texture_purge(1);
  EXPECT_EQ(calls_named("DeleteTextures").size(), 2u);
  EXPECT_EQ(texture_find(a.c_str()), 0u);
}

TEST_F(Textures, CompressionByChoiceAndMark) {
  uint8_t px[8 * 8 * 3];
  for (size_t i = 0; i < sizeof px; i++) px[i] = uint8_t(i * 37);
  ASSERT_TRUE(image_write_rgb(d.path("plain.png").c_str(), px, 8, 8));
  ASSERT_TRUE(image_write_rgb(d.path("marked.png").c_str(), px, 8, 8));
  d.write("marked.png.info", "[compress]");
  std::string ppm = noise("p.ppm", 8, 8);
  struct Case {
    int choice;
    const char *file;
    bool compressed;
  } cases[] = {{0, "marked.png", false}, {1, "plain.png", false}, {1, "marked.png", true},
               {2, "plain.png", true},   {2, "p.ppm", false}};
  for (const Case &c : cases) {
    texture_purge(1);
    gfx_settings.texture_compress = c.choice;
    rec.calls.clear();
    GLuint t = texture_load(d.path(c.file).c_str());
    ASSERT_NE(t, 0u);
    EXPECT_EQ(uploaded(), c.compressed ? "0x84ed 8x8" : "0x8051 8x8") << c.choice << c.file;
  }
  EXPECT_STREQ(texture_text(texture_load(d.path("marked.png").c_str())), "[compress]");
}

TEST_F(Textures, MarksInAnnotationsShapeTheChain) {
  // "[mip_custom]": level 0 is the top two thirds, level 1 below it, level 2
  // right of level 1, the rest below level 2.
  const int W = 4, H = 6;
  uint8_t px[W * H * 3];
  for (int i = 0; i < W * H; i++) px[i * 3] = uint8_t(i), px[i * 3 + 1] = px[i * 3 + 2] = 0;
  // The writer takes rows bottom first.
  uint8_t flipped[W * H * 3];
  for (int y = 0; y < H; y++) memcpy(flipped + y * W * 3, px + (H - 1 - y) * W * 3, W * 3);
  ASSERT_TRUE(image_write_rgb(d.path("m.png").c_str(), flipped, W, H));
  d.write("m.png.info", "[mip_custom]");
  rec.calls.clear();
  ASSERT_NE(texture_load(d.path("m.png").c_str()), 0u);
  EXPECT_EQ(uploaded(), "0x8051 4x4");
  EXPECT_TRUE(captured_messages().empty()) << captured_messages()[0];
  std::vector<std::string> levels = calls_named("TexImage2D");
  ASSERT_EQ(levels.size(), 3u);
  EXPECT_EQ(rec.level_first_bytes, (std::vector<int>{0, 16, 18}));

  d.write("bad.png.info", "[mip_custom]");
  ASSERT_TRUE(image_write_rgb(d.path("bad.png").c_str(), flipped, W, 4));
  ASSERT_NE(texture_load(d.path("bad.png").c_str()), 0u);
  EXPECT_TRUE(said("Warning: Invalid height for custom MIP map in '" + d.path("bad.png") + "'"));
}

TEST_F(Textures, AnimationsShowTheirStepsInTime) {
  std::string frames;
  for (int f = 0; f < 4; f++) {
    uint8_t px[2 * 2 * 4];
    memset(px, 10 * (f + 1), sizeof px);
    frames += delta_encode("K7", px, 2, 2, 4) + "\n";
  }
  d.write("once.seq", "ANIM1 4 4 32 0\n0 1 2 3\n" + frames);
  d.write("loop.seq", "ANIM1 4 4 32 1\n0 1 2 3\n" + frames);
  GLuint once = texture_load(d.path("once.seq").c_str());
  GLuint loop = texture_load(d.path("loop.seq").c_str());
  ASSERT_NE(once, 0u);
  ASSERT_NE(loop, 0u);
  EXPECT_EQ(rec.level0[0], 10) << "starts with the first step's frame";
  auto shown = [&](int tic) {
    rec.calls.clear();
    anim_update(tic);
    std::vector<std::string> subs = calls_named("TexSubImage2D 0 ");
    std::vector<int> firsts;
    for (const std::string &s : subs) firsts.push_back(atoi(s.substr(s.rfind(' ')).c_str()));
    return firsts;
  };
  EXPECT_EQ(shown(95), (std::vector<int>{30, 30}));
  EXPECT_EQ(shown(96), (std::vector<int>{40, 40}));
  EXPECT_EQ(shown(128), (std::vector<int>{10})) << "only the looping one starts again";
  EXPECT_EQ(shown(1024), (std::vector<int>{})) << "both already show their frames";
  anim_stop(loop);
  anim_restart(once, 1000);
  EXPECT_EQ(shown(1000), (std::vector<int>{10}));
  // Frames are replaced level by level down to 1 x 1.
  rec.calls.clear();
  anim_update(1032);
  EXPECT_EQ(calls_named("TexSubImage2D").size(), 2u);
}

TEST_F(Textures, FactsOfWhatWasUploaded) {
  auto png = [&](const char *name, uint8_t alpha, bool one_clear, bool one_opaque = false) {
    uint8_t px[4 * 4 * 4];
    for (int i = 0; i < 16; i++) px[i * 4] = 10, px[i * 4 + 1] = 20, px[i * 4 + 2] = 30, px[i * 4 + 3] = alpha;
    if (one_clear) px[4 * 5 + 3] = 0;
    if (one_opaque) px[4 * 5 + 3] = 255;
    PngWrite w = {4, 4, 4, 8, px, 0, -1};
    int size = 0;
    uint8_t *bytes = png_write_picture_memory(&w, &size);
    d.write(name, std::string(reinterpret_cast<char *>(bytes), size_t(size)));
    mem_free(bytes);
    return d.path(name);
  };
  struct Case {
    std::string file;
    int uniform, opaque;
  } cases[] = {{flat("one.ppm", 8, 8), 1, 1},       {noise("noise.ppm", 8, 8), 0, 1},
               {png("see.png", 200, false), 1, 0}, {png("hole.png", 255, true), 0, 0},
               {png("solid.png", 255, false), 1, 1}};
  for (const Case &c : cases) {
    const TextureFacts *f = texture_facts(texture_load(c.file.c_str()));
    ASSERT_TRUE(f) << c.file;
    EXPECT_EQ(f->uniform, c.uniform) << c.file;
    EXPECT_EQ(f->opaque, c.opaque) << c.file;
  }
  const TextureFacts *one = texture_facts(texture_find(cases[0].file.c_str()));
  EXPECT_EQ(one->value[1], 47 / 255.0f);
  EXPECT_EQ(one->value[3], 1) << "no alpha reads as 1";
  EXPECT_EQ(texture_facts(texture_find(cases[2].file.c_str()))->value[3], 200 / 255.0f);
  // One opaque texel at (1, 1) of 4 x 4: level 0 reaches it from half a
  // texel around (and a little more), level 1 (2 x 2) from up to 1.5 of its
  // texels, level 2 from everywhere.
  const TextureFacts *hole = texture_facts(texture_find(cases[3].file.c_str()));
  EXPECT_EQ(hole->width, 4);
  const TextureFacts *dot = texture_facts(texture_load(png("dot.png", 0, false, true).c_str()));
  ASSERT_TRUE(dot);
  EXPECT_NEAR(dot->cover[0][0], 0.5f / 4, 0.02f);
  EXPECT_NEAR(dot->cover[0][3], 2.5f / 4, 0.02f);
  EXPECT_EQ(dot->cover[1][0], 0);
  EXPECT_NEAR(dot->cover[1][2], 1.5f / 2, 0.03f);
  EXPECT_EQ(dot->cover[2][2], 1);
  // The defaults are known; animations (and painting) change what a
  // texture holds, so nothing is claimed for them.
  EXPECT_TRUE(texture_facts(twgl_normal_texture)->uniform);
  uint8_t px[2 * 2 * 4] = {};
  d.write("a.seq", "ANIM1 1 1 8 0\n0\n" + delta_encode("K7", px, 2, 2, 4));
  EXPECT_EQ(texture_facts(texture_load(d.path("a.seq").c_str())), nullptr);
  EXPECT_EQ(texture_facts(0), nullptr);
}

TEST_F(Textures, LinksFollowTheirTargets) {
  std::string target = noise("t.ppm", 8, 8);
  d.write("l.lnk", "LINK  " + target + " \n");
  d.write("self.lnk", "LINK " + d.path("self.lnk"));
  d.write("dead.lnk", "LINK " + d.path("missing.ppm"));
  GLuint t = texture_load(d.path("l.lnk").c_str());
  ASSERT_NE(t, 0u);
  EXPECT_EQ(texture_load(target.c_str()), t);
  EXPECT_EQ(texture_load(d.path("l.lnk").c_str()), t);
  GLuint white = texture_load("@colors/white.png");
  ASSERT_NE(white, 0u) << "generated data missing";
  EXPECT_EQ(texture_load(d.path("self.lnk").c_str()), white);
  EXPECT_EQ(texture_load(d.path("dead.lnk").c_str()), 0u);
  EXPECT_EQ(texture_load(d.path("dead.lnk").c_str()), white);
}

TEST_F(Textures, ScriptPaintingClipsAndComposites) {
  // Frame 0 transparent, frame 1 opaque red at the left, half-transparent
  // green at the right.
  uint8_t f0[4 * 2 * 4] = {}, f1[4 * 2 * 4];
  for (int i = 0; i < 8; i++) {
    uint8_t *p = f1 + i * 4;
    bool left = i % 4 < 2;
    p[0] = left ? 255 : 0, p[1] = left ? 0 : 255, p[2] = 0, p[3] = left ? 255 : 128;
  }
  d.write("p.seq", "ANIM1 1 2 8 0\n0\n" + delta_encode("K7", f0, 4, 2, 4) + "\n" +
                       delta_encode("K7", f1, 4, 2, 4));
  GLuint t = texture_load(d.path("p.seq").c_str());
  ASSERT_NE(t, 0u);
  EXPECT_EQ(custom_frame_paste(t, 1, 0, 0, 0, 0, 1, 1), 0) << "no paint buffer yet";
  EXPECT_EQ(custom_frame_begin(999), 0);
  ASSERT_EQ(custom_frame_begin(t), 1);
  EXPECT_EQ(custom_frame_paste(t, 2, 0, 0, 0, 0, 1, 1), 0) << "no such frame";
  // The left half of frame 1 (red) pasted half a picture to the right.
  EXPECT_EQ(custom_frame_paste(t, 1, 0, 0, 0.5f, 0, 0.5f, 1), 1);
  // The right half (green at alpha 128) pasted over it: mixed.
  EXPECT_EQ(custom_frame_paste(t, 1, 0.5f, 0, 0.5f, 0, 0.5f, 1), 1);
  // Starting left of the picture: clipped to what is inside.
  EXPECT_EQ(custom_frame_paste(t, 1, 0, 0, -0.25f, 0, 0.5f, 1), 1);
  EXPECT_EQ(custom_frame_paste(t, 1, 0, 0, 1.0f, 0, 0.5f, 1), 0) << "wholly outside";
  EXPECT_EQ(custom_frame_paste(t, 1, NAN, 0, 0, 0, 1, 1), 0);
  ASSERT_EQ(custom_frame_end(t), 1);
  ASSERT_EQ(rec.level0.size(), 32u);
  const uint8_t *row = rec.level0.data();
  // x = 0: red (the clipped paste of source column 1); x = 1: untouched.
  EXPECT_EQ(std::vector<uint8_t>(row, row + 8), (std::vector<uint8_t>{255, 0, 0, 255, 0, 0, 0, 0}));
  // x = 2: green at 128 over opaque red.
  EXPECT_EQ(std::vector<uint8_t>(row + 8, row + 12),
            (std::vector<uint8_t>{127, 128, 0, 255}));
}

TEST_F(Textures, NumberPlatesUseTheCondensedDigitsWhenWide) {
  fonts_load();
  ASSERT_NE(font_numbers.pixels, nullptr) << "generated data missing";
  ASSERT_NE(font_numbers_condensed.pixels, nullptr);
  auto ink_span = [](const char *text, int *left, int *right) {
    std::vector<uint8_t> px(128 * 128 * 4, 0);
    for (size_t i = 0; i < px.size(); i += 4) px[i] = px[i + 1] = px[i + 2] = 255;
    number_draw(px.data(), 128, 128, 1, 1, 1, 1, text);
    *left = 128, *right = -1;
    for (int y = 0; y < 128; y++)
      for (int x = 0; x < 128; x++)
        if (px[(y * 128 + x) * 4] < 128) *left = std::min(*left, x), *right = std::max(*right, x);
  };
  int l1, r1, l3, r3;
  ink_span("7", &l1, &r1);
  EXPECT_NEAR((l1 + r1) / 2.0, 64, 6) << "centred";
  ink_span("999", &l3, &r3);
  EXPECT_GT(l3, 2) << "three digits fit once condensed";
  EXPECT_LT(r3, 125);
  // The plate: background where no ink, foreground where black ink.
  const uint8_t bg[3] = {200, 30, 40}, fg[3] = {10, 20, 250};
  rec.calls.clear();
  GLuint t = number_texture("7", 128, 128, bg, fg);
  EXPECT_NE(t, 0u);
  EXPECT_EQ(uploaded(), "0x8058 128x128");
  ASSERT_EQ(rec.level0.size(), 128u * 128 * 4);
  EXPECT_EQ(std::vector<uint8_t>(rec.level0.begin(), rec.level0.begin() + 4),
            (std::vector<uint8_t>{200, 30, 40, 0}));
  bool fg_seen = false;
  for (size_t i = 0; i < rec.level0.size(); i += 4)
    fg_seen |= rec.level0[i] == 10 && rec.level0[i + 2] == 250 && rec.level0[i + 3] > 200;
  EXPECT_TRUE(fg_seen);
  EXPECT_EQ(texture_find("7"), 0u) << "plates are not cached";
  fonts_free();
}

}  // namespace
