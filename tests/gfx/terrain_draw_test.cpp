// The ground drawn for real on Mesa's software renderer: shading against
// the same formula on the CPU, baked shadows, back-to-front order against a
// depth test, ruts showing at once, and decals in the ground textures.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "gfx/lighting.h"
#include "gfx/terrain_render.h"
#include "terrain/deform.h"
#include "tests/gfx/egl_context.h"
#include "tests/gfx/recording_gl.h"
#include "tests/terrain/deform_fixture.h"

namespace {

const int W = 160, H = 120;
const float TILE_RGB[3] = {200, 150, 100};

GLuint solid_texture(uint8_t r, uint8_t g, uint8_t b, uint8_t a) {
  const uint8_t px[4] = {r, g, b, a};
  GLuint t = 0;
  twglGenTextures(1, &t);
  twglBindTexture(GL_TEXTURE_2D, t);
  twglTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
  twglTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
  twglTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, px);
  twglBindTexture(GL_TEXTURE_2D, 0);
  return t;
}

// A ridge along z: rising at 0.5 west of x = 64, falling at 0.8 east of it.
float ridge(float x, float) { return x < 64 ? 0.5f * x : 32 - 0.8f * (x - 64); }

class RealGround : public ::testing::Test {
 protected:
  TestContext c;
  DeformGround ground;
  std::vector<uint8_t> shadows;
  Lighting keep_lighting = lighting;
  GroundSettings keep_settings = ground_settings;
  TerrainHooks keep_hooks = terrain_hooks;
  const float sun[3] = {-0.4364358f, 0.8728716f, 0.2182179f};  // (-2, 4, 1) / |.|
  float R[9];  // world to eye rotation of the camera, row-major

  virtual bool es() const { return false; }
  void SetUp() override {
    ASSERT_TRUE(test_context_open(&c, es(), W, H)) << "no EGL surfaceless context";
    ASSERT_TRUE(twgl_init());
    lighting.ambient[0] = lighting.ambient[1] = lighting.ambient[2] = 0.3f;
    lighting.sun_color[0] = lighting.sun_color[1] = lighting.sun_color[2] = 0.6f;
    ground_settings = GroundSettings();
    decals_hidden = 0;
  }
  void TearDown() override {
    terrain_render_free();
    decals_free();
    texture_purge(1);
    lighting = keep_lighting;
    ground_settings = keep_settings;
    terrain_hooks = keep_hooks;
    decals_hidden = 0;
    twgl_shutdown();
    EXPECT_EQ(gl_errors, 0) << gl_last_error;
    test_context_close(&c);
  }

  // A 129-sample ground with one surface of a flat colour.
  void build(float (*h)(float, float)) {
    ground.build(6, 1.0f, h);
    terrain.surface[0].texture = int(solid_texture(200, 150, 100, 255));
    shadows.assign(size_t(terrain.size) * terrain.size, 0);
    terrain.shadows = shadows.data();
    for (int k = 0; k < terrain.size * terrain.size; k++) {
      terrain.min_height = std::min(terrain.min_height, terrain.heights[k]);
      terrain.max_height = std::max(terrain.max_height, terrain.heights[k]);
    }
  }

  // Straight down from above, the whole square filling the picture: world
  // x to the right, z downwards.
  void top_view() {
    twglMatrixMode(GL_PROJECTION);
    twglLoadIdentity();
    twglOrtho(0, 128, -128, 0, 1, 1000);
    twglMatrixMode(GL_MODELVIEW);
    twglLoadIdentity();
    twglRotate(90, 1, 0, 0);
    twglTranslate(0, -500, 0);
    const float r[9] = {1, 0, 0, 0, 0, -1, 0, 1, 0};
    memcpy(R, r, sizeof R);
  }

  // A perspective camera at `eye` looking along `dir` (unit, horizontal
  // part along +x only), tilted down by `pitch` degrees.
  void side_view(const float eye[3], float pitch) {
    twglMatrixMode(GL_PROJECTION);
    twglLoadIdentity();
    twglFrustum(-0.5f, 0.5f, -0.375f, 0.375f, 0.5f, 3000);
    twglMatrixMode(GL_MODELVIEW);
    twglLoadIdentity();
    twglRotate(pitch, 1, 0, 0);
    twglRotate(90, 0, 1, 0);  // -z (forward) turns to +x
    twglTranslate(-eye[0], -eye[1], -eye[2]);
    float p = pitch * 3.14159265f / 180, cp = cosf(p), sp = sinf(p);
    // Rx(pitch) * Ry(90), as rows.
    const float ry[9] = {0, 0, 1, 0, 1, 0, -1, 0, 0};
    const float rx[9] = {1, 0, 0, 0, cp, -sp, 0, sp, cp};
    for (int i = 0; i < 3; i++)
      for (int j = 0; j < 3; j++) {
        R[i * 3 + j] = 0;
        for (int k = 0; k < 3; k++) R[i * 3 + j] += rx[i * 3 + k] * ry[k * 3 + j];
      }
  }

  // One frame as the frame sequence draws the ground: level upkeep, then
  // the fans with the depth function ALWAYS (or LESS to compare).
  std::vector<uint8_t> frame(const float viewer[3], const float dir[3], GLenum depth = GL_ALWAYS,
                             int steps = 16) {
    terrain_set_viewer(viewer, dir);
    for (int i = 0; i < steps; i++) terrain_texture_step(viewer);
    twglClearColor(0, 0, 0, 1);
    twglClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    twglEnable(GL_DEPTH_TEST);
    twglDepthFunc(depth);
    twglDepthMask(GL_TRUE);
    twglEnable(GL_CULL_FACE);
    twglUseProgram(PROGRAM_TERRAIN);
    float l[3];
    for (int i = 0; i < 3; i++) l[i] = R[i * 3] * sun[0] + R[i * 3 + 1] * sun[1] + R[i * 3 + 2] * sun[2];
    twglSetLightPosition(l);
    twglSetFogDensity(0);
    terrain_draw(viewer);
    twglDepthFunc(GL_LESS);
    return test_read_pixels(&c);
  }

  // Two slopes and a shadowed patch seen from above, against the CPU.
  void check_shading() {
    build(ridge);
    // A fully shadowed patch in the south.
    for (int j = 100; j < terrain.size; j++)
      for (int i = 0; i < terrain.size; i++) shadows[size_t(j) * terrain.size + i] = 255;
    ASSERT_EQ(terrain_render_create(), 1);
    top_view();
    const float viewer[3] = {64, 500, 64}, down[3] = {0, -1, 0};
    std::vector<uint8_t> px = frame(viewer, down);
    test_save_shot(&c, px, "ground-shading");
    struct {
      float x, z, slope;
      bool shadowed;
    } spots[] = {{30, 40, 0.5f, false}, {100, 40, -0.8f, false}, {30, 115, 0.5f, true},
                 {100, 115, -0.8f, true}};
    for (const auto &s : spots) {
      float n[3] = {-s.slope, 1, 0}, len = sqrtf(1 + s.slope * s.slope);
      float ndl = (n[0] * sun[0] + n[1] * sun[1] + n[2] * sun[2]) / len;
      float light = 0.3f + (s.shadowed ? 0 : 0.6f * std::max(ndl, 0.0f));
      const uint8_t *p = at(px, s.x, s.z);
      for (int k = 0; k < 3; k++)
        EXPECT_NEAR(p[k], TILE_RGB[k] * light, 3) << "at " << s.x << "," << s.z << " channel " << k;
    }
  }

  // The pixel showing ground point (x, z) in the top view.
  static const uint8_t *at(const std::vector<uint8_t> &px, float x, float z) {
    int col = int(x / 128 * W), row = int((128 - z) / 128 * H);
    return &px[(size_t(row) * W + col) * 4];
  }
};

TEST_F(RealGround, ShadingMatchesTheFormulaAndShadowsLeaveAmbientOnly) { check_shading(); }

// OpenGL ES samples the heights without filtering: the same on planes.
class RealGroundEs : public RealGround {
 protected:
  bool es() const override { return true; }
};
TEST_F(RealGroundEs, ShadingMatchesTheFormula) { check_shading(); }

TEST_F(RealGround, APitBesideTheViewerShowsAtOnceAndItsShadingAfterTheUpload) {
  build([](float, float) { return 4.0f; });
  // A checked tile picture, so that moved ground shows.
  uint8_t check[4 * 4 * 4];
  for (int k = 0; k < 16; k++) {
    uint8_t v = ((k % 4) + (k / 4)) % 2 ? 220 : 60;
    check[4 * k] = v, check[4 * k + 1] = v, check[4 * k + 2] = v, check[4 * k + 3] = 255;
  }
  GLuint tile = 0;
  twglGenTextures(1, &tile);
  twglBindTexture(GL_TEXTURE_2D, tile);
  twglTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
  twglTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
  twglTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, 4, 4, GL_RGBA, GL_UNSIGNED_BYTE, check);
  terrain.surface[0].texture = int(tile);
  ASSERT_EQ(terrain_render_create(), 1);
  const float eye[3] = {40, 10, 64}, dir[3] = {0.8f, -0.6f, 0};
  side_view(eye, 36.87f);
  std::vector<uint8_t> before = frame(eye, dir);
  // A pit 8 ft ahead, 9 samples wide.
  for (int j = 60; j <= 68; j++)
    for (int i = 44; i <= 52; i++) {
      float d = 4 - hypotf(float(i - 48), float(j - 64));
      if (d > 0) terrain_set_height(i, j, 4 - 0.6f * d);
    }
  terrain.change_count++;
  std::vector<uint8_t> moved = frame(eye, dir);
  terrain_update_frame();
  std::vector<uint8_t> shaded = frame(eye, dir);
  test_save_shot(&c, shaded, "ground-pit");
  auto differing = [](const std::vector<uint8_t> &a, const std::vector<uint8_t> &b) {
    int n = 0;
    for (size_t k = 0; k < a.size(); k += 4)
      if (abs(a[k] - b[k]) + abs(a[k + 1] - b[k + 1]) + abs(a[k + 2] - b[k + 2]) > 6) n++;
    return n;
  };
  EXPECT_GT(differing(before, moved), 100);
  EXPECT_GT(differing(moved, shaded), 100);
}

int decal_texture_id;
int decal_texture(const char *name) { return strcmp(name, "blue.png") ? 0 : decal_texture_id; }

TEST_F(RealGround, AHalfTransparentDecalBlendsOnceAndGoesWhenHidden) {
  build([](float, float) { return 2.0f; });
  decal_texture_id = int(solid_texture(0, 0, 255, 128));
  terrain_hooks.load_texture = decal_texture;
  char dir[] = "/tmp/tw_decal_XXXXXX";
  ASSERT_TRUE(mkdtemp(dir));
  std::string file = std::string(dir) + "/decals";
  FILE *f = fopen(file.c_str(), "w");
  // Across the bucket line at x = 64.
  fputs("[64 40] 0 8 1.5 blue.png\n", f);
  fclose(f);
  ASSERT_EQ(decals_load_dir(dir), 1);
  remove(file.c_str());
  rmdir(dir);
  ASSERT_EQ(decal_count, 1);
  ASSERT_EQ(terrain_render_create(), 1);
  top_view();
  const float viewer[3] = {64, 500, 64}, down[3] = {0, -1, 0};
  std::vector<uint8_t> px = frame(viewer, down);
  test_save_shot(&c, px, "ground-decal");
  float light = 0.3f + 0.6f * sun[1];
  float a = 128.0f / 255;
  for (float x : {62.0f, 66.0f}) {
    const uint8_t *p = at(px, x, 40);
    for (int k = 0; k < 3; k++) {
      float level = TILE_RGB[k] * (1 - a) + (k == 2 ? 255 * a : 0);
      EXPECT_NEAR(p[k], level * light, 4) << x << " channel " << k;
    }
  }
  const uint8_t *plain = at(px, 30, 40);
  EXPECT_NEAR(plain[2], TILE_RGB[2] * light, 3);
  decals_toggle();
  px = frame(viewer, down);
  const uint8_t *gone = at(px, 62, 40);
  for (int k = 0; k < 3; k++) EXPECT_NEAR(gone[k], TILE_RGB[k] * light, 3);
}

TEST_F(RealGround, BackToFrontMatchesADepthTestOnTheDefaultTrack) {
  terrain_render_attach();
  decals_attach();
  capture_begin();
  ASSERT_EQ(terrain_load("@tracks/hollow_creek"), 1)
      << captured_log() << (captured_messages().empty() ? "" : captured_messages()[0]);
  ASSERT_GT(decal_count, 0);
  // Along the start straight from the start line, and across the whole
  // track from its west edge, low, where hills hide each other.
  struct View {
    float x, z, above, pitch;
  } views[] = {{decals[0].x - 20, decals[0].z, 5, 10}, {8, 300, 3, 2}, {8, 520, 3, 2}, {8, 760, 3, 2}};
  double worst = 0;
  for (const View &v : views) {
    float eye[3] = {v.x, terrain_height(v.x, v.z) + v.above, v.z};
    float p = v.pitch * 3.14159265f / 180;
    const float dir[3] = {cosf(p), -sinf(p), 0};
    side_view(eye, v.pitch);
    std::vector<uint8_t> painted = frame(eye, dir, GL_ALWAYS, 64);
    std::vector<uint8_t> tested = frame(eye, dir, GL_LESS, 1);
    if (v.z == 520) test_save_shot(&c, painted, "ground-track");
    int differ = 0, ground_pixels = 0;
    for (size_t k = 0; k < painted.size(); k += 4) {
      if (tested[k] || tested[k + 1] || tested[k + 2]) ground_pixels++;
      if (abs(painted[k] - tested[k]) + abs(painted[k + 1] - tested[k + 1]) +
              abs(painted[k + 2] - tested[k + 2]) > 12)
        differ++;
    }
    double share = double(differ) / double(W * H);
    printf("painter's order differs from the depth test at %.2f%% of the pixels from %.0f,%.0f\n",
           100 * share, double(v.x), double(v.z));
    EXPECT_GT(ground_pixels, W * H / 4);
    worst = std::max(worst, share);
  }
  // Nearest-first order differs at about 1% of the pixels here.
  EXPECT_LT(worst, 0.003);
  terrain_free();
}

}  // namespace
