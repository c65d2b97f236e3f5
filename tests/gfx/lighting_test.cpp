// The lighting file: its keywords, limits, flares, the default sky images
// and the mends for files that would leave the sky or the sun broken.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <string>

#include "core/core.h"
#include "gfx/lighting.h"
#include "tests/gfx/recording_gl.h"
#include "tests/gfx/test_files.h"

namespace {

const char *const SIDES[6] = {"n", "e", "s", "w", "u", "env"};

class LightingFile : public ::testing::Test {
 protected:
  TempDir d;
  std::string home;
  void SetUp() override {
    recording_gl_install();
    capture_begin();
    texture_purge(1);
    home = search_folder(0);
    make_folders(home.c_str());
    for (const char *s : SIDES) put(home + "sky-" + s + ".ppm");
    file_index_free();
    lighting_free();
    lighting = Lighting();
  }
  void TearDown() override {
    for (const char *s : SIDES) remove((home + "sky-" + s + ".ppm").c_str());
    file_index_free();
    lighting_free();
    texture_purge(1);
  }
  static void put(const std::string &path) {
    FILE *f = fopen(path.c_str(), "wb");
    ASSERT_TRUE(f);
    std::string p = ppm_of(4, 4, [](int, int, int c) { return uint8_t(60 * c); });
    fwrite(p.data(), 1, p.size(), f);
    fclose(f);
  }
  void load(const std::string &text) {
    d.write("lighting", text);
    lighting_load(d.path("lighting").c_str());
  }
  static bool default_sky() {
    unsigned ids[6] = {lighting.sky_n, lighting.sky_e, lighting.sky_s, lighting.sky_w, lighting.sky_u, lighting.sky_env};
    for (int i = 0; i < 6; i++)
      if (!ids[i] || std::string(texture_name(ids[i])) != std::string("@sky-") + SIDES[i] + ".ppm") return false;
    return true;
  }
};

TEST_F(LightingFile, ValuesAndLimits) {
  const float r3 = 1 / std::sqrt(3.0f);
  struct Case {
    const char *text;
    float sun[3], sun_color0, ambient0, near, far, fog;
  } cases[] = {
      {"", {r3, r3, r3}, 1, 0.5f, 0.25f, 5000, 0},
      {"sun_vector [ 0 2 0 ]\nsun_color [0.5 0.5 0.5]\nambient [0.25 0 0]\n", {0, 1, 0}, 0.5f, 0.25f, 0.25f, 5000, 0},
      {"near_plane 2\n", {r3, r3, r3}, 1, 0.5f, 0.875f, 5000, 0},
      {"near_plane 0\n", {r3, r3, r3}, 1, 0.5f, 0.0009765625f, 5000, 0},
      {"far_plane 0.1\n", {r3, r3, r3}, 1, 0.5f, 0.25f, 0.25f, 0},
      {"far_plane 2000000\n", {r3, r3, r3}, 1, 0.5f, 0.25f, 1048576, 0},
      {"  fog [0.5 0.5 0.5] 0.002  \n", {r3, r3, r3}, 1, 0.5f, 0.25f, 5000, 0.002f},
      {"fog [0.5 0.5 0.5]\n", {r3, r3, r3}, 1, 0.5f, 0.25f, 5000, 0},
      // Mends: a zero or non-finite sun and non-finite planes keep the defaults.
      {"sun_vector [0 0 0]\n", {r3, r3, r3}, 1, 0.5f, 0.25f, 5000, 0},
      {"sun_vector [nan 1 1]\nnear_plane inf\nfar_plane nan\n", {r3, r3, r3}, 1, 0.5f, 0.25f, 5000, 0},
      {"fog [0.5 0.5 0.5] inf\nambient [inf 0 0]\n", {r3, r3, r3}, 1, 0.5f, 0.25f, 5000, 0},
      // A misspelt keyword ends the reading; what came before counts.
      {"sun_color [0.5 0.5 0.5]\nsunvector [0 1 0]\nambient [0 0 0]\n", {r3, r3, r3}, 0.5f, 0.5f, 0.25f, 5000, 0},
  };
  for (const Case &c : cases) {
    captured_messages().clear();
    load(c.text);
    for (int i = 0; i < 3; i++) EXPECT_NEAR(lighting.sun_vector[i], c.sun[i], 1e-6) << c.text;
    EXPECT_EQ(lighting.sun_color[0], c.sun_color0) << c.text;
    EXPECT_EQ(lighting.ambient[0], c.ambient0) << c.text;
    EXPECT_EQ(lighting.near_plane, c.near) << c.text;
    EXPECT_EQ(lighting.far_plane, c.far) << c.text;
    EXPECT_EQ(lighting.fog_density, c.fog) << c.text;
    EXPECT_TRUE(default_sky()) << c.text;
  }
  EXPECT_EQ(captured_messages(), std::vector<std::string>{"Error reading lighting: Unknown identifier 'sunvector'\n"});
}

TEST_F(LightingFile, Flares) {
  std::string eight;
  for (int i = 0; i < 9; i++) eight += "flare_element [0 " + std::to_string(i) + "] [1 1 1] 2 none.png\n";
  load(eight + "flare_vector [0 1 0]\n"
               "flare_element [0 1] [0.5 0.25 1] 3 none.png\n"
               "flare_element [0 1] [1 1 1] 3\n"  // short: ignored
               "flare_point [10 20 30]\n"
               "flare_element [0 1] [1 1 1] 1 none.png\n");  // no flare follows
  ASSERT_EQ(lighting.flare_count, 2);
  EXPECT_EQ(lighting.flares[0].kind, 1);
  EXPECT_EQ(lighting.flares[0].element_count, 8);
  EXPECT_EQ(lighting.flares[0].element[7].placement[1], 7);
  EXPECT_EQ(lighting.flares[1].kind, 0);
  EXPECT_EQ(lighting.flares[1].position[2], 30);
  ASSERT_EQ(lighting.flares[1].element_count, 1);
  EXPECT_EQ(lighting.flares[1].element[0].color[1], 0.25f);
  EXPECT_EQ(lighting.flares[1].element[0].size, 3);
  // The next load replaces the list.
  load("");
  EXPECT_EQ(lighting.flare_count, 0);
}

TEST_F(LightingFile, MissingFileReadsAsEmpty) {
  load("fog [0.25 0.5 0.75] 0.01\nsun_color [0 0 0]\nsky_n sky-u.ppm\n");
  EXPECT_EQ(lighting.fog_density, 0.01f);
  rec.calls.clear();
  lighting_load(d.path("nothing-here").c_str());
  EXPECT_EQ(lighting.fog_density, 0);
  EXPECT_EQ(lighting.fog_color[1], 0.5f);  // the colour is kept across tracks
  EXPECT_EQ(lighting.sun_color[0], 1);
  EXPECT_TRUE(default_sky());
  // The fog uniforms of the lit, ground and unlit programs are set again.
  EXPECT_EQ(calls_named("UseProgram").size(), 3u);
}

}  // namespace
