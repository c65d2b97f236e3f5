// Drawing for real on the software renderer: the sky box's faces, lens
// flares against the picture drawn so far, the skinned rider in its rest
// pose against the same model drawn unskinned, and maps of one value
// passed as values against the same maps sampled.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#include "core/core.h"
#include "core/png.h"
#include "gfx/lighting.h"
#include "gfx/model.h"
#include "gfx/scenery_draw.h"
#include "race/scenery.h"
#include "terrain/deform.h"
#include "tests/gfx/egl_context.h"
#include "tests/gfx/test_files.h"

namespace {

const int W = 160, H = 120;
const float IDENTITY[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};  // looking north

class SceneryGl : public ::testing::Test {
 protected:
  TestContext c;
  TempDir d;
  void SetUp() override {
    ASSERT_TRUE(test_context_open(&c, false, W, H)) << "no EGL surfaceless context";
    ASSERT_TRUE(gfx_init(test_get_proc, 0));
    texture_purge(1);
    model_purge(1);
    lighting_free();
    lighting = Lighting();
    scene_settings = SceneSettings();
    proj_half_x = 1, proj_half_y = 0.75f;
  }
  void TearDown() override {
    lighting_free();
    model_purge(1);
    gfx_shutdown();
    EXPECT_EQ(gl_errors, 0) << gl_last_error;
    test_context_close(&c);
  }
  // A sky of one colour on every face but north, whose middle is red.
  void sky(uint8_t level, bool marked = true) {
    d.write("north.ppm", ppm_of(32, 32, [&](int x, int y, int k) {
              bool mid = marked && x >= 12 && x < 20 && y >= 12 && y < 20;
              return uint8_t(mid ? (k == 0 ? 200 : 40) : level);
            }));
    d.write("side.ppm", ppm_of(32, 32, [&](int x, int y, int) { return uint8_t(level - ((x ^ y) & 1)); }));
    std::string side = d.path("side.ppm");
    std::string text = "sky_n " + d.path("north.ppm") + "\nsky_e " + side + "\nsky_s " + side + "\nsky_w " + side +
                       "\nsky_u " + side + "\nsky_env " + side + "\n";
    d.write("lighting", text + extra);
    lighting_load(d.path("lighting").c_str());
  }
  std::string extra;
  void frame(bool with_sky = true) {
    twglViewport(0, 0, W, H);
    twglClearColor(0, 0, 0, 1);
    twglClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    twglMatrixMode(GL_PROJECTION);
    twglLoadIdentity();
    float n = lighting.near_plane;
    twglFrustum(-n, n, -0.75f * n, 0.75f * n, n, lighting.far_plane);
    twglMatrixMode(GL_MODELVIEW);
    twglLoadIdentity();
    twglUseProgram(PROGRAM_UNLIT);
    twglEnable(GL_DEPTH_TEST);
    twglDepthMask(GL_TRUE);
    twglDepthFunc(GL_ALWAYS);
    if (with_sky) sky_draw();
  }
  std::vector<uint8_t> px;
  const uint8_t *at(int x, int y) { return &px[(size_t(y) * W + size_t(x)) * 4]; }  // y from the bottom
};

TEST_F(SceneryGl, LookingNorthShowsTheMiddleOfTheNorthPicture) {
  sky(180);
  frame();
  px = test_read_pixels(&c);
  EXPECT_NEAR(at(W / 2, H / 2)[0], 200, 2);
  EXPECT_NEAR(at(W / 2, H / 2)[1], 40, 2);
  EXPECT_NEAR(at(5, H / 2)[0], 180, 2);  // the edge of the view is the picture's outer part
}

TEST_F(SceneryGl, FlaresSeeTheSkyAndNotWhatCoversIt) {
  // Straight ahead; near the right edge (half of the fade band in).
  const float K = 0.75f / 32;
  extra = "flare_element [ 0 1 ] [ 0 1 0 ] 0.05 none\nflare_vector [ 0 0 -1 ]\n";
  char edge[160];
  snprintf(edge, sizeof edge, "flare_element [ 0 1 ] [ 0 1 0 ] 0.05 none\nflare_vector [ %.6f 0 -1 ]\n", double(1 - K / 2));
  extra += edge;
  sky(230, false);
  ASSERT_EQ(lighting.flare_count, 2);
  const float camera[3] = {0, 0, 0};
  frame();
  twglDepthFunc(GL_ALWAYS);
  flares_draw(camera, IDENTITY);
  EXPECT_EQ(lighting.flares[0].visibility, 1);
  EXPECT_NEAR(lighting.flares[1].visibility, 0.5f, 0.02f);
  px = test_read_pixels(&c);
  EXPECT_EQ(at(W / 2, H / 2)[1], 255);  // the green sprite added
  EXPECT_NEAR(at(W / 2, H / 2)[0], 230, 2);

  // A bright wall 100 ft ahead covers the middle: the flare is hidden there.
  frame();
  twglDepthFunc(GL_LEQUAL);
  twglBindTexture(GL_TEXTURE_2D, twgl_white_texture);
  twglBegin(GL_QUADS);
  twglColor(1, 1, 1, 1);
  twglVertex(-20, -20, -100), twglVertex(20, -20, -100), twglVertex(20, 20, -100), twglVertex(-20, 20, -100);
  twglEnd();
  twglDepthFunc(GL_ALWAYS);
  flares_draw(camera, IDENTITY);
  EXPECT_EQ(lighting.flares[0].visibility, 0);

  // Switched off: nothing is drawn.
  scene_settings.lens_flare = 0;
  frame();
  flares_draw(camera, IDENTITY);
  px = test_read_pixels(&c);
  EXPECT_NEAR(at(W / 2, H / 2)[1], 230, 2);
}

// A box over all nine bones' reach, each vertex on the bone of its part,
// and the bones' rest centres.
const float CENTRES[27] = {-1.456f, 0.875f, 0.01f, 1.456f, 0.875f, 0.01f, -0.556f, 0.875f, 0.01f,
                           0.556f,  0.875f, 0.01f, -0.269f, -2.208f, 0.01f, 0.269f, -2.208f, 0.01f,
                           -0.269f, -0.88f, 0.01f, 0.269f, -0.88f, 0.01f, 0,      -0.88f, 0.01f};

Model *skinned_box(const TempDir &d) {
  std::string text = "JM2\n9 skeleton\n32 0 1 1 1 8 12\n";
  const float xs[2] = {-2.5f, 2.5f}, ys[2] = {-3.5f, 1}, zs[2] = {-0.3f, 0.3f};
  for (int i = 0; i < 8; i++) {
    char line[256];
    int bone = i % 9;
    snprintf(line, sizeof line, "%g %g %g 0 0 1 0 0", double(xs[i & 1]), double(ys[(i >> 1) & 1]), double(zs[i >> 2]));
    text += line;
    for (int b = 0; b < 9; b++) text += b == bone ? " 1" : " 0";
    text += "\n";
  }
  text += "0 1 3\n0 3 2\n4 6 7\n4 7 5\n0 4 5\n0 5 1\n2 3 7\n2 7 6\n0 2 6\n0 6 4\n1 5 7\n1 7 3\n";
  d.write("box.jm", text);
  return model_get(d.path("box.jm").c_str());
}

// The box lit and turned, in its rest pose with bones or drawn without;
// the maps on units 1 and 2 as given.
void draw_box(const Model *m, int bones, const float sun[9], GLuint normal, GLuint specular, bool map_values) {
  float rotations[81];
  for (int b = 0; b < 9; b++)
    for (int k = 0; k < 9; k++) rotations[9 * b + k] = k % 4 == 0 ? 1.0f : 0.0f;
  twglDepthFunc(GL_LEQUAL);
  twglTranslate(0, 1, -12);
  twglRotate(30, 1, 1, 0);
  light_position_update(sun);
  twglUseProgram(PROGRAM_NORM_SPEC_LIT);
  twglActiveTexture(GL_TEXTURE2);
  twglBindTexture(GL_TEXTURE_2D, specular);
  twglActiveTexture(GL_TEXTURE1);
  twglBindTexture(GL_TEXTURE_2D, normal);
  twglActiveTexture(GL_TEXTURE0);
  twglBindTexture(GL_TEXTURE_2D, twgl_white_texture);
  if (map_values) model_map_values(twgl_white_texture, normal, specular);
  else twglSetMapValues(nullptr, nullptr);
  const float camera[3] = {0, 0, 0}, pos[3] = {0, 0, -12};
  model_draw_lit(m, camera, pos, nullptr, bones, CENTRES, CENTRES, rotations);
}

// Pixels whose colour differs by more than `by` in a channel.
size_t differing(const std::vector<uint8_t> &a, const std::vector<uint8_t> &b, int by = 0) {
  size_t n = 0;
  for (size_t i = 0; i < a.size(); i += 4)
    for (size_t k = 0; k < 3; k++)
      if (std::abs(a[i + k] - b[i + k]) > by) {
        n++;
        break;
      }
  return n;
}

const float SUN[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};

TEST_F(SceneryGl, RestPoseMatchesTheUnskinnedModel) {
  Model *m = skinned_box(d);
  ASSERT_TRUE(m);
  std::vector<uint8_t> shots[2];
  for (int bones : {9, 0}) {
    frame(false);
    draw_box(m, bones, SUN, twgl_normal_texture, twgl_white_texture, false);
    shots[bones ? 0 : 1] = test_read_pixels(&c);
  }
  size_t covered = 0;
  for (size_t i = 0; i < shots[0].size(); i += 4) covered += shots[1][i] != shots[0][0] ? 1 : 0;
  EXPECT_GT(covered, 500u);
  EXPECT_EQ(differing(shots[0], shots[1]), 0u);
}

TEST_F(SceneryGl, MapsOfOneValueDrawAsTheSampledMaps) {
  Model *m = skinned_box(d);
  ASSERT_TRUE(m);
  // A tilted normal and a shiny specular map, each one value throughout.
  d.write("n.ppm", ppm_of(8, 8, [](int, int, int k) { return uint8_t(k == 0 ? 170 : k == 1 ? 110 : 230); }));
  d.write("s.ppm", ppm_of(8, 8, [](int, int, int) { return uint8_t(220); }));
  GLuint n = texture_load(d.path("n.ppm").c_str()), s = texture_load(d.path("s.ppm").c_str());
  ASSERT_TRUE(n && s);
  ASSERT_TRUE(texture_facts(n) && texture_facts(n)->uniform);
  auto shot = [&](int bones, const float *sun, bool values) {
    frame(false);
    draw_box(m, bones, sun, n, s, values);
    return test_read_pixels(&c);
  };
  std::vector<uint8_t> sampled = shot(0, SUN, false);
  EXPECT_LE(differing(sampled, shot(0, SUN, true)), 0u);
  EXPECT_LE(differing(sampled, shot(9, SUN, true)), 0u);
  // A value set while one variant is bound reaches the next: the sun moved
  // between a rigid and a skinned draw lights the skinned one.
  const float turned[9] = {0, 0, 1, 0, 1, 0, -1, 0, 0};
  std::vector<uint8_t> lit_turned = shot(0, turned, true);
  ASSERT_GT(differing(sampled, lit_turned, 8), 100u) << "the sun's move shows";
  shot(0, SUN, true);
  EXPECT_EQ(differing(lit_turned, shot(9, turned, true)), 0u);
  EXPECT_EQ(differing(sampled, shot(0, SUN, true)), 0u);
}

TEST_F(SceneryGl, BillboardsCutToTheirPicturesDrawTheSame) {
  // A soft blob with clear borders, loaded once as a picture (whose clear
  // parts the drawing may cut away) and once as a one-frame animation
  // (nothing known about it: whole quads).
  std::vector<uint8_t> px(64 * 64 * 4);
  for (int y = 0; y < 64; y++)
    for (int x = 0; x < 64; x++) {
      float dx = (float(x) - 30) / 18, dy = (float(y) - 36) / 22, r = dx * dx + dy * dy;
      uint8_t *p = &px[size_t(y * 64 + x) * 4];
      p[0] = uint8_t(100 + x), p[1] = uint8_t(60 + y), p[2] = 40;
      p[3] = r < 1 ? uint8_t(255 * (1 - r)) : 0;
    }
  PngWrite w = {64, 64, 4, 8, px.data(), 0, -1};
  int size = 0;
  uint8_t *bytes = png_write_picture_memory(&w, &size);
  d.write("blob.png", std::string(reinterpret_cast<char *>(bytes), size_t(size)));
  mem_free(bytes);
  d.write("blob.seq", "ANIM1 1 1 8 0\n0\n" + delta_encode("K7", px.data(), 64, 64, 4));
  GLuint known = texture_load(d.path("blob.png").c_str()), whole = texture_load(d.path("blob.seq").c_str());
  ASSERT_TRUE(known && whole);
  ASSERT_TRUE(texture_facts(known));
  ASSERT_FALSE(texture_facts(whole));
  EXPECT_GT(texture_facts(known)->cover[0][0], 0.1f) << "a border to cut";

  scenery_free();
  for (int i = 0; i < ROOST_PARTICLES; i++) billboard_create(0, 0, 0, 1, 1, nullptr);
  uint32_t seed = 5;
  auto rnd = [&]() { return float((seed = seed * 1664525u + 1013904223u) >> 8) / 16777216.0f; };
  for (int i = 0; i < 300; i++) {
    int b = billboard_create((rnd() - 0.5f) * 40, (rnd() - 0.5f) * 8, -2 - 60 * rnd() * rnd(), 0.3f + 6 * rnd() * rnd(),
                             0.5f + rnd(), nullptr);
    memset(billboards[b].color, 255, 4);
    billboards[b].color[3] = uint8_t(120 + 135 * rnd());
  }
  // Looking down a little, from above the ground.
  const float co = std::cos(0.3f), si = std::sin(0.3f);
  const float R[9] = {1, 0, 0, 0, co, -si, 0, si, co}, camera[3] = {0, 3, 0};
  std::vector<uint8_t> shots[2];
  for (int k = 0; k < 2; k++) {
    for (int i = ROOST_PARTICLES; i < billboard_count; i++) billboards[i].texture = int(k ? whole : known);
    frame(false);
    const float m[16] = {R[0], R[1], R[2], 0, R[3], R[4], R[5], 0, R[6], R[7], R[8], 0,
                         -(R[0] * camera[0] + R[3] * camera[1] + R[6] * camera[2]),
                         -(R[1] * camera[0] + R[4] * camera[1] + R[7] * camera[2]),
                         -(R[2] * camera[0] + R[5] * camera[1] + R[8] * camera[2]), 1};
    twglLoadMatrix(m);
    twglDepthFunc(GL_LEQUAL);
    billboards_draw(camera, R);
    shots[k] = test_read_pixels(&c);
  }
  scenery_free();
  size_t covered = 0;
  for (size_t i = 0; i < shots[1].size(); i += 4) covered += shots[1][i] != 0;
  EXPECT_GT(covered, size_t(W * H / 4));
  // Rounding of the cut quads' coordinates may move a channel by one.
  EXPECT_EQ(differing(shots[0], shots[1], 1), 0u);
}

}  // namespace
