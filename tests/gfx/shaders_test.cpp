// The five programs compile and link on a desktop core context and on
// OpenGL ES, with no GL error anywhere on the way.
#include <gtest/gtest.h>

#include <cstring>

#include "gfx/gl_table.h"
#include "tests/gfx/egl_context.h"
#include "tests/gfx/recording_gl.h"

class RealContext : public ::testing::TestWithParam<bool> {};

TEST_P(RealContext, AllProgramsBuildAndDrawWithoutErrors) {
  TestContext c;
  ASSERT_TRUE(test_context_open(&c, GetParam(), 64, 64)) << "no EGL surfaceless context";
  // The fixture does notice GL errors.
  gl.Enable(0x1234);
  ASSERT_EQ(gl_errors, 1);
  gl.GetError();
  gl_errors = 0;
  ASSERT_TRUE(twgl_init());
  EXPECT_EQ(twgl_gles, GetParam() ? 1 : 0);
  EXPECT_GE(twgl_gl_major, 3);
  for (int p = 1; p <= TWGL_PROGRAMS; p++) {
    EXPECT_NE(twgl_program_objects[p], 0u) << twgl_program_names[p];
    const char *vs = twgl_shader_source(p, 0);
    EXPECT_EQ(strncmp(vs, GetParam() ? "#version 300 es\n" : "#version 150\n",
                      GetParam() ? 16 : 13), 0);
  }
  // A full-screen quad through the unlit program reaches the framebuffer.
  twglUseProgram(PROGRAM_UNLIT);
  twglBindTexture(GL_TEXTURE_2D, twgl_white_texture);
  twglBegin(GL_QUADS);
  twglColor(1, 0, 0, 1);
  twglVertex2(-1, -1), twglVertex2(1, -1), twglVertex2(1, 1), twglVertex2(-1, 1);
  twglEnd();
  std::vector<uint8_t> px = test_read_pixels(&c);
  EXPECT_EQ(px[(32 * 64 + 32) * 4 + 0], 255);
  EXPECT_EQ(px[(32 * 64 + 32) * 4 + 1], 0);
  // Dense green fog turns it green, and no fog gives the colour back: the
  // program without fog and the one with it both get the kept values.
  const float green[3] = {0, 1, 0};
  for (float density : {1000.0f, 0.0f}) {
    twglSetFogColor(green);
    twglSetFogDensity(density);
    twglBegin(GL_QUADS);
    twglColor(1, 0, 0, 1);
    twglVertex2(-1, -1), twglVertex2(1, -1), twglVertex2(1, 1), twglVertex2(-1, 1);
    twglEnd();
    px = test_read_pixels(&c);
    EXPECT_EQ(px[(32 * 64 + 32) * 4 + 0], density > 0 ? 0 : 255) << density;
    EXPECT_EQ(px[(32 * 64 + 32) * 4 + 1], density > 0 ? 255 : 0) << density;
  }
  // Every uniform setter on every program is accepted.
  float v[16] = {0.5f, 0.5f, 0.5f, 1, 0, 0, 0, 1, 0, 0, 0, 1};
  for (int p = 1; p <= TWGL_PROGRAMS; p++) {
    twglUseProgram(p);
    twglSetFogColor(v), twglSetFogDensity(0.01f), twglSetAmbient(v), twglSetDiffuse(v);
    twglSetShininess(8), twglSetSpecularColor(v), twglSetLightPosition(v);
    twglSetSpacing(2), twglSetTexTransform(v, 0.5f), twglSetHeightsDimInv(1.0f / 256);
    twglSetBones(1, v, v, v + 3);
  }
  twglSetEnvMatrix(v + 3);
  EXPECT_EQ(twgl_current_program(), PROGRAM_UNLIT);
  // The model programs' variants compile on this context too: skinned, with
  // map values, both.
  capture_begin();
  for (int p : {PROGRAM_NORM_ENV, PROGRAM_NORM_SPEC_LIT})
    for (int variant = 0; variant < 8; variant++) {
      twglUseProgram(p);
      twglSetBones(variant & 1, v, v, v + 3);
      twglSetMapValues(variant & 2 ? v : nullptr, variant & 4 ? v : nullptr);
      twglBegin(GL_TRIANGLES);
      twglVertex2(-1, -1), twglVertex2(1, -1), twglVertex2(1, 1);
      twglEnd();
      twgl_flush();
    }
  EXPECT_EQ(captured_log().find("Can't"), std::string::npos) << captured_log();
  twgl_shutdown();
  EXPECT_EQ(gl_errors, 0) << gl_last_error;
  test_context_close(&c);
}

INSTANTIATE_TEST_SUITE_P(Contexts, RealContext, ::testing::Values(false, true),
                         [](const auto &info) { return info.param ? "GLES3" : "Desktop"; });
