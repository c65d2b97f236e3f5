// The GL layer against a recording GL table: what reaches GL, in what order.
#include <gtest/gtest.h>

#include <cmath>

#include "tests/gfx/recording_gl.h"

namespace {

class Twgl : public ::testing::Test {
 protected:
  void SetUp() override {
    recording_gl_install();
    twglUseProgram(PROGRAM_UNLIT);
    rec.calls.clear();
  }
};

void quad(float x, float y) {
  twglVertex2(x, y), twglVertex2(x + 1, y), twglVertex2(x + 1, y + 1), twglVertex2(x, y + 1);
}

TEST_F(Twgl, QuadsBecomeIndexedTriangles) {
  twglBegin(GL_QUADS);
  for (int i = 0; i < 6; i++) twglVertex2(float(i), float(i * i));  // one quad and a rest
  twglEnd();
  twgl_flush();
  ASSERT_EQ(calls_named("DrawRangeElements").size(), 1u);
  EXPECT_EQ(calls_named("DrawRangeElements")[0], "DrawRangeElements 4 0 5 6 0");
  EXPECT_EQ(rec.indices, (std::vector<uint16_t>{0, 1, 3, 3, 1, 2}));

  rec.calls.clear();
  twglBegin(GL_QUADS);
  for (int i = 0; i < 3; i++) twglVertex2(float(i), 0);
  twglEnd();
  twgl_flush();
  EXPECT_TRUE(calls_named("Draw").empty());
}

TEST_F(Twgl, QuadStripAndPolygonIndices) {
  struct Case {
    GLenum mode;
    int vertices;
    std::vector<uint16_t> indices;
  } cases[] = {
      {GL_QUAD_STRIP, 3, {}},
      {GL_QUAD_STRIP, 5, {0, 1, 2, 2, 1, 3}},
      {GL_QUAD_STRIP, 6, {0, 1, 2, 2, 1, 3, 2, 3, 4, 4, 3, 5}},
      {GL_POLYGON, 2, {}},
      {GL_POLYGON, 5, {0, 1, 2, 0, 2, 3, 0, 3, 4}},
  };
  for (const Case &c : cases) {
    rec.indices.clear();
    rec.calls.clear();
    twglBegin(c.mode);
    for (int i = 0; i < c.vertices; i++) twglVertex2(float(i), float(i % 2));
    twglEnd();
    twgl_flush();
    EXPECT_EQ(rec.indices, c.indices) << "mode " << c.mode << ", " << c.vertices;
    EXPECT_EQ(calls_named("DrawRangeElements").size(), c.indices.empty() ? 0u : 1u);
  }
}

TEST_F(Twgl, OneUploadAndTwoDrawsAcrossATextureBind) {
  twglBegin(GL_QUADS);
  quad(0, 0);
  twglEnd();
  twglBindTexture(GL_TEXTURE_2D, 7);
  twglBegin(GL_QUADS);
  quad(2, 0);
  twglEnd();
  EXPECT_TRUE(rec.calls.empty()) << "nothing reaches GL before the flush";
  twgl_flush();
  std::vector<std::string> want = {"UploadVertices 8", "UploadIndices 12",
                                   "DrawRangeElements 4 0 3 6 0", "BindTexture 0xde1 7",
                                   "DrawRangeElements 4 4 7 6 6"};
  std::vector<std::string> got;
  for (const std::string &c : rec.calls)
    if (c.rfind("Upload", 0) == 0 || c.rfind("Draw", 0) == 0 || c.rfind("Bind", 0) == 0)
      got.push_back(c);
  EXPECT_EQ(got, want);
}

// Long primitives continue seamlessly in a fresh batch: the triangles GL
// makes from all draws are those of the unbroken primitive, with the same
// winding.
TEST_F(Twgl, PrimitivesCarryOverTheBatchBoundary) {
  struct Case {
    GLenum mode;
    int vertices;
    int triangles;
  } cases[] = {
      {GL_QUADS, 8196, 4098},          {GL_QUADS, 8195, 4096},
      {GL_TRIANGLES, 8200, 2733},      {GL_TRIANGLE_STRIP, 8193 + 10, 8201},
      {GL_TRIANGLE_STRIP, 9000, 8998}, {GL_TRIANGLE_FAN, 9000, 8998},
      {GL_POLYGON, 9000, 8998},        {GL_QUAD_STRIP, 9001, 8998},
  };
  for (int offset : {0, 1, 3}) {
    for (const Case &c : cases) {
      recording_gl_install();
      twglUseProgram(PROGRAM_UNLIT);
      // A few vertices already in the batch shift where the boundary falls.
      twglBegin(GL_POINTS);
      for (int i = 0; i < offset; i++) twglVertex2(0, 0);
      twglEnd();
      std::vector<std::vector<float>> want;
      // Vertices on a spiral-free zigzag: every triangle has a clear winding.
      auto at = [&](int i, float *x, float *y) {
        if (c.mode == GL_TRIANGLE_FAN || c.mode == GL_POLYGON) {
          float a = i == 0 ? 0 : float(i) * 0.0005f;
          *x = i == 0 ? 0 : cosf(a) * (1 + i), *y = i == 0 ? 0 : sinf(a) * (1 + i);
        } else if (c.mode == GL_QUADS || c.mode == GL_TRIANGLES) {
          int k = i % 4;
          *x = float(i / 4 * 3 + (k == 1 || k == 2)), *y = float(k >= 2);
        } else {
          *x = float(i / 2), *y = float(i % 2);
        }
      };
      twglBegin(c.mode);
      for (int i = 0; i < c.vertices; i++) {
        float x, y;
        at(i, &x, &y);
        twglVertex2(x, y);
      }
      twglEnd();
      twgl_flush();
      EXPECT_EQ(rec.vertex_uploads, 2) << c.mode;
      ASSERT_EQ(int(rec.triangles.size()), c.triangles) << "mode " << c.mode << " offset " << offset;
      // Same orientation for every triangle of a consistently wound primitive.
      int positive = 0;
      for (const auto &t : rec.triangles) {
        float area = (t[2] - t[0]) * (t[5] - t[1]) - (t[4] - t[0]) * (t[3] - t[1]);
        positive += area > 0;
      }
      EXPECT_TRUE(positive == 0 || positive == int(rec.triangles.size()))
          << "mode " << c.mode << " offset " << offset << ": " << positive << " of "
          << rec.triangles.size();
    }
  }
}

// A queue filled by state changes alone flushes itself, whether it fills
// while a primitive is open or at the primitive's end, and the primitive is
// drawn whole.
TEST_F(Twgl, AFullQueueFlushesAndKeepsTheOpenPrimitive) {
  for (int at_end : {0, 1}) {
    recording_gl_install();
    twglUseProgram(PROGRAM_UNLIT);
    int fill = TWGL_QUEUE_WORDS / 2 - (at_end ? 1 : 0);
    if (at_end)
      for (int i = 0; i < fill; i++) twglEnable(GL_BLEND);
    twglBegin(GL_QUADS);
    twglVertex2(0, 0), twglVertex2(1, 0);
    if (!at_end)
      for (int i = 0; i < fill; i++) twglEnable(GL_BLEND);
    twglVertex2(1, 1), twglVertex2(0, 1);
    twglEnd();
    twgl_flush();
    EXPECT_EQ(int(calls_named("Enable").size()), fill) << at_end;
    ASSERT_EQ(calls_named("DrawRangeElements").size(), 1u) << at_end;
    ASSERT_EQ(rec.triangles.size(), 2u) << at_end;
    EXPECT_EQ(rec.triangles[0], (std::vector<float>{0, 0, 1, 0, 0, 1})) << at_end;
  }
}

TEST_F(Twgl, MatricesAreSentWhenDirtyAndAfterAProgramSwitch) {
  auto draw = [] {
    twglBegin(GL_TRIANGLES);
    twglVertex2(0, 0), twglVertex2(1, 0), twglVertex2(0, 1);
    twglEnd();
    twgl_flush();
  };
  draw();
  EXPECT_EQ(calls_named("UniformMatrix4fv").size(), 3u);  // model-view, projection, texture 0
  rec.calls.clear();
  draw();
  EXPECT_TRUE(calls_named("UniformMatrix4fv").empty()) << "nothing changed";
  twglTranslate(1, 2, 3);
  draw();
  EXPECT_EQ(calls_named("UniformMatrix4fv"), std::vector<std::string>{"UniformMatrix4fv 1"});
  rec.calls.clear();
  twglUseProgram(PROGRAM_NORM_SPEC_LIT);
  twglUseProgram(PROGRAM_NORM_SPEC_LIT);  // already current: ignored
  EXPECT_EQ(twgl_program_switches, 2);
  draw();
  EXPECT_EQ(calls_named("UniformMatrix4fv").size(), 3u) << "re-sent to the new program";
}

TEST_F(Twgl, MatrixCommandsApplyAtTheFlush) {
  twglMatrixMode(GL_MODELVIEW);
  twglTranslate(5, 0, 0);
  EXPECT_EQ(twglGetMatrix()[12], 0) << "still queued";
  twgl_flush();
  EXPECT_EQ(twglGetMatrix()[12], 5);
  twglRotate(90, 0, 0, 2);  // the axis is normalised
  twglScale(2, 2, 2);
  twgl_flush();
  const float *m = twglGetMatrix();
  EXPECT_NEAR(m[0], 0, 1e-6);
  EXPECT_NEAR(m[1], 2, 1e-6);
  EXPECT_NEAR(m[4], -2, 1e-6);
  EXPECT_EQ(m[12], 5);
  twglLoadIdentity();
  twglOrtho(0, 4, 0, 2, -1, 1);
  twgl_flush();
  EXPECT_FLOAT_EQ(twglGetMatrix()[0], 0.5f);
  EXPECT_FLOAT_EQ(twglGetMatrix()[12], -1);
}

TEST_F(Twgl, StackLimitsFollowTheThirtyTwoEntries) {
  capture_begin();
  twglMatrixMode(GL_MODELVIEW);
  twglLoadIdentity();
  for (int k = 1; k <= 32; k++) {
    twglTranslate(1, 0, 0);
    twglPushMatrix();
  }
  twgl_flush();
  EXPECT_EQ(twglGetMatrix()[12], 32) << "the 32nd push changed nothing";
  EXPECT_NE(captured_log().find("Error: twglPushMatrix overflowed\n"), std::string::npos);
  twglPopMatrix();
  twgl_flush();
  EXPECT_EQ(twglGetMatrix()[12], 31) << "the following pop still pops";
  for (int k = 0; k < 30; k++) twglPopMatrix();
  twgl_flush();
  EXPECT_EQ(twglGetMatrix()[12], 1);
  EXPECT_EQ(captured_log().find("Error: twglPopMatrix with empty stack"), std::string::npos);
  twglPopMatrix();
  twgl_flush();
  EXPECT_EQ(twglGetMatrix()[12], 1);
  EXPECT_NE(captured_log().find("Error: twglPopMatrix with empty stack\n"), std::string::npos);
}

TEST_F(Twgl, TextureUnitsPastTheLastStackAreRejected) {
  capture_begin();
  twglActiveTexture(GL_TEXTURE0 + 7);
  twglMatrixMode(GL_TEXTURE);
  twglTranslate(3, 0, 0);
  twglActiveTexture(GL_TEXTURE0 + 8);
  twglTranslate(4, 0, 0);  // still the stack of unit 7
  twgl_flush();
  EXPECT_NE(captured_log().find("Error: glActiveTexture out of range\n"), std::string::npos);
  EXPECT_EQ(twglGetMatrix()[12], 7);
  twglMatrixMode(GL_MODELVIEW);
  twgl_flush();
  EXPECT_EQ(twglGetMatrix()[12], 0) << "the model-view stack was never touched";
}

TEST_F(Twgl, LineLoopClosesAndOtherModesDrawAsArrays) {
  twglBegin(GL_LINE_LOOP);
  twglVertex2(0, 0), twglVertex2(1, 0), twglVertex2(1, 1);
  twglEnd();
  twglBegin(GL_TRIANGLES);
  twglEnd();  // empty: nothing
  twglBegin(GL_LINES);
  twglVertex2(0, 0), twglVertex2(2, 2);
  twglEnd();
  twgl_flush();
  EXPECT_EQ(calls_named("Draw"),
            (std::vector<std::string>{"DrawArrays 3 0 4", "DrawArrays 1 4 2"}));
  EXPECT_EQ(rec.vertices[3 * 12], 0);  // the loop's first vertex again
  EXPECT_EQ(rec.vertices[3 * 12 + 1], 0);
}

TEST(TwglFatal, DrawingWithoutAProgramEndsTheProgram) {
  recording_gl_install();
  auto draw = [] {
    twglBegin(GL_TRIANGLES);
    twglVertex2(0, 0);
    twglVertex2(1, 0);
    twglVertex2(0, 1);
    twglEnd();
    twgl_flush();
  };
  EXPECT_EXIT(draw(), ::testing::ExitedWithCode(1), "");
}

}  // namespace

// A shader that does not compile: its log and the other shader's log are
// written, nothing created stays alive, and start-up fails.
namespace {
int programs_alive = 0, shaders_made = 0;
}

TEST(TwglPrograms, AFailedShaderIsLoggedAndUndone) {
  recording_gl_install();
  capture_begin();
  twgl_delete_programs();  // those of the installed layer
  programs_alive = shaders_made = 0;
  gl.CreateShader = [](GLenum) -> GLuint { return GLuint(++shaders_made); };
  gl.CreateProgram = []() -> GLuint { return GLuint(100 + ++programs_alive); };
  gl.DeleteProgram = [](GLuint) { programs_alive--; };
  gl.GetShaderiv = [](GLuint s, GLenum name, GLint *v) {
    if (name == GL_INFO_LOG_LENGTH) *v = 16;
    else *v = name == GL_COMPILE_STATUS && s != 3;  // norm_env's vertex shader
  };
  gl.GetShaderInfoLog = [](GLuint s, GLsizei, GLsizei *n, GLchar *text) {
    *n = snprintf(text, 16, "shader %u log", s);
  };
  EXPECT_EQ(twgl_init(), 0);
  EXPECT_EQ(programs_alive, 0) << "the programs made before are deleted again";
  std::string log = captured_log();
  EXPECT_NE(log.find("Creating \"unlit\" shader\n"), std::string::npos);
  EXPECT_NE(log.find("Creating \"norm_env\" shader\n"), std::string::npos);
  EXPECT_EQ(log.find("Creating \"norm_spec_lit\" shader"), std::string::npos);
  EXPECT_NE(log.find("vertex shader status for norm_env:\nshader 3 log\n"), std::string::npos)
      << log;
  EXPECT_NE(log.find("fragment shader status for norm_env:\nshader 4 log\n"), std::string::npos);
  for (int p = 1; p <= TWGL_PROGRAMS; p++) EXPECT_EQ(twgl_program_objects[p], 0u);
}

TEST(TwglPrograms, AVariantThatFailsFallsBackOnceAndDrawsOn) {
  recording_gl_install();
  capture_begin();
  twgl_delete_programs();
  programs_alive = shaders_made = 0;
  static bool failing = false;
  gl.CreateShader = [](GLenum) -> GLuint { return GLuint(++shaders_made); };
  gl.CreateProgram = []() -> GLuint { return GLuint(100 + ++programs_alive); };
  gl.DeleteProgram = [](GLuint) { programs_alive--; };
  gl.GetShaderiv = [](GLuint, GLenum name, GLint *v) { *v = name == GL_COMPILE_STATUS ? !failing : 0; };
  failing = false;
  ASSERT_EQ(twgl_init(), 1);
  twglUseProgram(PROGRAM_NORM_SPEC_LIT);
  float v[9 * 15] = {};
  twglSetBones(9, v, v, v);
  twglDrawElements(GL_TRIANGLES, 3, GL_UNSIGNED_INT, nullptr);
  EXPECT_EQ(programs_alive, TWGL_PROGRAMS + 1) << "the skinned variant made on its first draw";
  const int made = shaders_made;
  failing = true;
  twglSetMapValues(v, nullptr);
  rec.calls.clear();
  for (int i = 0; i < 2; i++) twglDrawElements(GL_TRIANGLES, 3, GL_UNSIGNED_INT, nullptr);
  EXPECT_EQ(shaders_made, made + 2) << "compiled once, not again at the next draw";
  EXPECT_EQ(calls_named("DrawElements").size(), 2u) << "drawn with the program it had";
  EXPECT_NE(captured_log().find("Can't compile the \"norm_spec_lit\" shader"), std::string::npos);
  failing = false;
  twgl_shutdown();
  EXPECT_EQ(programs_alive, 0) << "variants are deleted with their programs";
}
