#include <gtest/gtest.h>
#include <png.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>

#include "fixture.h"
#include "terrain/terrain_internal.h"

namespace {

// A grey PNG of 8 or 16 bits written straight with libpng.
void write_png(const std::string &path, int w, int h, int depth, const std::vector<uint16_t> &v) {
  FILE *f = fopen(path.c_str(), "wb");
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  png_init_io(png, f);
  png_set_IHDR(png, info, w, h, depth, PNG_COLOR_TYPE_GRAY, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  std::vector<uint8_t> row(size_t(w) * 2);
  for (int y = 0; y < h; y++) {
    for (int x = 0; x < w; x++) {
      uint16_t s = v[size_t(y) * w + x];
      if (depth == 16) {
        row[2 * x] = uint8_t(s >> 8);
        row[2 * x + 1] = uint8_t(s);
      } else {
        row[x] = uint8_t(s);
      }
    }
    png_write_row(png, row.data());
  }
  png_write_end(png, info);
  png_destroy_write_struct(&png, &info);
  fclose(f);
}

std::vector<uint16_t> ramp(int size) {
  std::vector<uint16_t> v(size_t(size) * size);
  for (int j = 0; j < size; j++)
    for (int i = 0; i < size; i++) v[size_t(j) * size + i] = uint16_t((i * 4099 + j * 257 * 7) & 0xffff);
  return v;
}

TEST(TerrainFiles, InlineSamplesConvertAcrossTheRange) {
  TempDir d;
  std::vector<uint16_t> s(25, 0);
  s[1] = 65535;
  s[2] = 32768;
  s[24] = 13107;  // a fifth of the range
  write_small_track(d, 1, 0.5f, -10, 40, s);
  Messages m;
  ASSERT_EQ(terrain_load(d.path.c_str()), 1) << m.all();
  EXPECT_EQ(terrain.shift, 1);
  EXPECT_EQ(terrain.size, 5);
  EXPECT_FLOAT_EQ(terrain.extent, 2.0f);
  EXPECT_FLOAT_EQ(terrain.tile_size, 1.0f);
  EXPECT_FLOAT_EQ(terrain_sample(0, 0), -10.0f);
  EXPECT_FLOAT_EQ(terrain_sample(1, 0), 40.0f);
  EXPECT_NEAR(terrain_sample(2, 0), 15.0004f, 1e-3f);
  EXPECT_FLOAT_EQ(terrain_sample(4, 4), 0.0f);
  EXPECT_EQ(memcmp(terrain.heights, terrain.base_heights, sizeof(float) * 25), 0);
  EXPECT_FLOAT_EQ(terrain.min_height, -10.0f);
  EXPECT_FLOAT_EQ(terrain.max_height, 40.0f);
  EXPECT_EQ(terrain.tile_count, 2);
  EXPECT_EQ(terrain.change_flags, 0);
  EXPECT_EQ(terrain.dirty_side, 1);
  for (int k = 0; k < 25; k++) EXPECT_EQ(terrain.shadows[k], 0);
  terrain_free();
  EXPECT_EQ(terrain.heights, nullptr);
}

std::vector<std::string> &progress_lines() {
  static std::vector<std::string> v;
  return v;
}

TEST(TerrainFiles, LoadingShowsItsStepsInOrder) {
  TempDir d;
  write_small_track(d, 1, 0.5f, 0, 1, std::vector<uint16_t>(25));
  auto old = ui_hooks.progress;
  progress_lines().clear();
  ui_hooks.progress = [](const char *text, int cycling) {
    if (!cycling) progress_lines().push_back(text);
  };
  ASSERT_EQ(terrain_load(d.path.c_str()), 1);
  ui_hooks.progress = old;
  const std::vector<std::string> expected = {
      "Loading terrain",  "Loading heights",         "Loading heights...done",
      "Loading terrain...done", "Loading shadows",   "Loading shadows...done",
      "Loading tileinfo", "Loading tileinfo...done", "Loading tilemap",
      "Loading tilemap...done", "Creating terrain texture pyramid",
      "Creating terrain texture pyramid...done"};
  EXPECT_EQ(progress_lines(), expected);
  terrain_free();
}

TEST(TerrainFiles, HeightMapPicturesAreReadWidenedAndRepeated) {
  TempDir d;
  write_small_track(d, 2, 1.0f, 0, 65535, {});
  d.write("terrain.hf", "2 1.0 0 65535\n");
  // 16 bits, full size: values as stored.
  std::vector<uint16_t> v = ramp(9);
  write_png(d.file("terrain.png"), 9, 9, 16, v);
  ASSERT_EQ(terrain_load(d.path.c_str()), 1);
  for (int j = 0; j < 9; j++)
    for (int i = 0; i < 9; i++) ASSERT_FLOAT_EQ(terrain_sample(i, j), float(v[j * 9 + i]));

  // 8 bits on a smaller picture: each byte repeated, the last column and row
  // standing in for the missing ones.
  std::vector<uint16_t> small = {0, 255, 7, 128, 1, 2};
  write_png(d.file("terrain.png"), 3, 2, 8, small);
  ASSERT_EQ(terrain_load(d.path.c_str()), 1);
  EXPECT_FLOAT_EQ(terrain_sample(1, 0), 65535.0f);
  EXPECT_FLOAT_EQ(terrain_sample(8, 0), 7.0f * 257);
  EXPECT_FLOAT_EQ(terrain_sample(0, 8), 128.0f * 257);
  EXPECT_FLOAT_EQ(terrain_sample(8, 8), 2.0f * 257);

  // No picture at all: flat at the low end.
  d.write("terrain.hf", "2 1.0 -3.5 65535\n");
  remove(d.file("terrain.png").c_str());
  ASSERT_EQ(terrain_load(d.path.c_str()), 1);
  EXPECT_FLOAT_EQ(terrain_sample(4, 4), -3.5f);
  // A picture that is no PNG reads as missing.
  d.write("terrain.png", "not a picture");
  ASSERT_EQ(terrain_load(d.path.c_str()), 1);
  EXPECT_FLOAT_EQ(terrain_sample(2, 7), -3.5f);
  terrain_free();
}

TEST(TerrainFiles, BadHeaderFailsTheLoad) {
  const char *headers[] = {
      "13 0.5 0 10\n",  "-1 0.5 0 10\n", "4 0 0 10\n",      "4 -0.5 0 10\n", "4 nan 0 10\n",
      "4 inf 0 10\n",   "4 0.5 nan 10\n", "4 0.5 0 inf\n",  "4 0.5 0\n",     "",
      "4 1e-45 0 10\n", "12 1e38 0 10\n", "100000 0.5 0 1\n", "4 0.5 zero 10\n",
  };
  for (const char *h : headers) {
    TempDir d;
    write_small_track(d, 1, 1, 0, 1, std::vector<uint16_t>(25));
    d.write("terrain.hf", h);
    Messages m;
    EXPECT_EQ(terrain_load(d.path.c_str()), 0) << h;
    EXPECT_TRUE(m.has("Bad height field parameters")) << h << m.all();
    EXPECT_TRUE(m.has("Error reading heights")) << h;
    EXPECT_EQ(terrain.heights, nullptr);
  }
}

TEST(TerrainFiles, ShortInlineSamplesFailTheLoad) {
  TempDir d;
  std::string hf = inline_hf(2, 1, 0, 10, std::vector<uint16_t>(81, 7));
  write_small_track(d, 2, 1, 0, 10, {});
  d.write("terrain.hf", hf.substr(0, hf.size() - 1));
  Messages m;
  EXPECT_EQ(terrain_load(d.path.c_str()), 0);
  EXPECT_TRUE(m.has("Error reading heights")) << m.all();
  EXPECT_EQ(terrain.heights, nullptr);
}

TEST(TerrainFiles, MissingFilesAreReportedByPath) {
  TempDir d;
  Messages m;
  EXPECT_EQ(terrain_load(d.path.c_str()), 0);
  EXPECT_TRUE(m.has("Can't open '" + d.file("terrain.hf") + "'")) << m.all();

  write_small_track(d, 1, 1, 0, 1, std::vector<uint16_t>(25));
  remove(d.file("tilemap").c_str());
  EXPECT_EQ(terrain_load(d.path.c_str()), 0);
  EXPECT_TRUE(m.has("Can't open '" + d.file("tilemap") + "'")) << m.all();
  EXPECT_EQ(terrain.heights, nullptr);

  write_small_track(d, 1, 1, 0, 1, std::vector<uint16_t>(25));
  remove(d.file("texturelist").c_str());
  EXPECT_EQ(terrain_load(d.path.c_str()), 0);
  EXPECT_TRUE(m.has("Can't open '" + d.file("texturelist") + "'")) << m.all();

  // "tileinfo" wins over "texturelist" and makes it optional.
  d.write("tileinfo", "texture a.png\naddtile\ntexture b.png\naddtile\ntexture c.png\naddtile\n");
  ASSERT_EQ(terrain_load(d.path.c_str()), 1) << m.all();
  EXPECT_EQ(terrain.tile_count, 3);
  terrain_free();
}

TEST(TerrainFiles, ShadowsAreStoredInvertedAndMustFit) {
  TempDir d;
  write_small_track(d, 1, 1, 0, 1, std::vector<uint16_t>(25));
  std::string pgm = "P5\n# baked\n5 5\n255\n";
  for (int k = 0; k < 25; k++) pgm += char(k * 10);
  d.write("shadows.pgm", pgm);
  ASSERT_EQ(terrain_load(d.path.c_str()), 1);
  EXPECT_EQ(terrain.shadows[0], 255);
  EXPECT_EQ(terrain.shadows[24], 15);

  // ASCII samples with their own scale.
  std::string ascii = "P2 5 5 15\n";
  for (int k = 0; k < 25; k++) ascii += k == 3 ? "15 " : "0 ";
  d.write("shadows.pgm", ascii);
  ASSERT_EQ(terrain_load(d.path.c_str()), 1);
  EXPECT_EQ(terrain.shadows[3], 0);
  EXPECT_EQ(terrain.shadows[4], 255);

  Messages m;
  d.write("shadows.pgm", "P5\n4 5\n255\n" + std::string(20, 'x'));
  EXPECT_EQ(terrain_load(d.path.c_str()), 0);
  EXPECT_EQ(terrain.heights, nullptr);
  EXPECT_TRUE(m.lines().empty()) << m.all();  // the log has the dimensions

  std::string colour = "P3 5 5 255\n";
  for (int k = 0; k < 75; k++) colour += "7 ";
  for (std::string bad : {std::string("P5\n5 5\n255\n"), std::string("P5\n5 5\n0\n"),
                          std::string("P2 5 5 255\n1 2 3"), std::string("GIF89a"), colour}) {
    d.write("shadows.pgm", bad);
    EXPECT_EQ(terrain_load(d.path.c_str()), 0) << bad;
    EXPECT_TRUE(m.has("Error reading shadows")) << bad;
  }
}

TEST(TerrainFiles, TileMapIsClampedToTheSurfaces) {
  TempDir d;
  write_small_track(d, 2, 1, 0, 1, std::vector<uint16_t>(81));
  d.write("texturelist", "a.png\nb.png\nc.png\nd.png\ne.png\n");
  std::string map(16, '\2');
  map[0] = char(200);
  map[1] = char(4);
  d.write("tilemap", map.substr(0, 10));  // short: the rest stays 0
  ASSERT_EQ(terrain_load(d.path.c_str()), 1);
  EXPECT_EQ(terrain.tilemap[0], 4);
  EXPECT_EQ(terrain.tilemap[1], 4);
  EXPECT_EQ(terrain.tilemap[9], 2);
  EXPECT_EQ(terrain.tilemap[10], 0);
  EXPECT_EQ(terrain.tilemap[15], 0);
  terrain_free();
}

TEST(TerrainFiles, SaveRoundTripsThroughHeightMap) {
  TempDir a, b;
  std::vector<uint16_t> v = ramp(17);
  write_small_track(a, 3, 0.5f, -2, 6, v);
  std::string tm(64, '\0');
  for (int k = 0; k < 64; k++) tm[k] = char(k % 2);
  a.write("tilemap", tm);
  ASSERT_EQ(terrain_load(a.path.c_str()), 1);
  terrain_set_height(3, 4, 9.25f);  // beyond the loaded range
  terrain_set_height(16, 16, -4.0f);
  std::vector<float> before(terrain.heights, terrain.heights + 17 * 17);

  Messages m;
  ASSERT_EQ(terrain_save(b.path.c_str()), 1) << m.all();
  EXPECT_EQ(terrain.change_flags & 2, 0);
  EXPECT_FLOAT_EQ(terrain.min_height, -4.0f);
  EXPECT_FLOAT_EQ(terrain.max_height, 9.25f);
  EXPECT_EQ(b.read("terrain.hf"), "3 0.500000 -4.000000 9.250000\n");
  EXPECT_EQ(b.read("tilemap"), tm);
  std::string ppm = b.read("shading.ppm"), ppm2 = b.read("shadingx2.ppm");
  ASSERT_EQ(ppm.substr(0, 13), "P6\n17 17\n255\n");
  ASSERT_EQ(ppm.size(), 13 + 17 * 17 * 3u);
  for (size_t k = 13; k < ppm.size(); k++)
    ASSERT_EQ(uint8_t(ppm[k]), std::min(255, 2 * uint8_t(ppm2[k])));
  for (const char *leftover : {"terrain.hf.tmp", "terrain.png.tmp", "tilemap.tmp"})
    EXPECT_EQ(access(b.file(leftover).c_str(), F_OK), -1) << leftover;

  b.write("texturelist", "dirt.png\ngrass.png\n");
  ASSERT_EQ(terrain_load(b.path.c_str()), 1);
  float step = 13.25f / 65535;
  for (int k = 0; k < 17 * 17; k++) ASSERT_NEAR(terrain.heights[k], before[k], step) << k;
  EXPECT_EQ(terrain.tilemap[1], 1);
  terrain_free();
}

TEST(TerrainFiles, BakedShadingFollowsSunSlopeAndShadow) {
  TempDir d, out;
  std::vector<uint16_t> v(25);
  for (int k = 0; k < 25; k++) v[k] = uint16_t(k % 5);  // height = x: slope 1
  write_small_track(d, 1, 1, 0, 65535, v);
  std::string pgm = "P5 5 5 255\n" + std::string(25, char(255));
  pgm[pgm.size() - 25 + 7] = 0;  // sample (2, 1) in full shadow
  d.write("shadows.pgm", pgm);
  ASSERT_EQ(terrain_load(d.path.c_str()), 1);
  TerrainLight saved = terrain_light;
  terrain_light = {{0, 1, 0}, {1, 1, 1}, {0.2f, 0, 0}};
  ASSERT_EQ(terrain_save(out.path.c_str()), 1);
  terrain_light = saved;
  std::string x2 = out.read("shadingx2.ppm");
  auto px = [&x2](int i, int j, int c) { return int(uint8_t(x2[11 + (j * 5 + i) * 3 + c])); };
  ASSERT_EQ(x2.substr(0, 11), "P6\n5 5\n255\n");
  // Interior: normal at 45 degrees to the sun, ndl = 1 / sqrt(2).
  EXPECT_EQ(px(2, 2, 1), int(0.70710678f * 0.5f * 255));
  EXPECT_EQ(px(2, 2, 0), int((0.70710678f + 0.2f) * 0.5f * 255));
  // Edge columns see half the rise through their clamped neighbour.
  EXPECT_EQ(px(0, 2, 1), int(1 / sqrtf(1.25f) * 0.5f * 255));
  // Shadowed: ambient only.
  EXPECT_EQ(px(2, 1, 1), 0);
  EXPECT_EQ(px(2, 1, 0), int(0.2f * 0.5f * 255));
  terrain_free();
}

TEST(TerrainFiles, FailedSaveKeepsTheOldTrack) {
  TempDir d;
  write_small_track(d, 1, 1, 0, 8, ramp(5));
  ASSERT_EQ(terrain_load(d.path.c_str()), 1);
  std::string hf = d.read("terrain.hf");
  // A folder in the way of the temporary file makes its creation fail.
  mkdir(d.file("terrain.png.tmp").c_str(), 0755);
  Messages m;
  EXPECT_EQ(terrain_save(d.path.c_str()), 0);
  EXPECT_TRUE(m.has("Can't open 'terrain.png'")) << m.all();
  EXPECT_EQ(d.read("terrain.hf"), hf);
  rmdir(d.file("terrain.png.tmp").c_str());

  mkdir(d.file("terrain.hf.tmp").c_str(), 0755);
  EXPECT_EQ(terrain_save(d.path.c_str()), 0);
  EXPECT_TRUE(m.has("Can't open 'terrain.hf'")) << m.all();
  EXPECT_EQ(d.read("terrain.hf"), hf);
  EXPECT_EQ(access(d.file("terrain.png").c_str(), F_OK), -1);
  ASSERT_EQ(terrain_load(d.path.c_str()), 1);
  EXPECT_FLOAT_EQ(terrain_sample(1, 0), 8.0f * ramp(5)[1] / 65535);
  terrain_free();
}

}  // namespace
