// What the program asks of a context through the drawing layer: the
// context's strings logged and its version judged, before anything else
// of GL is loaded.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "tests/gfx/recording_gl.h"

namespace {

const char *fake_version = "";
bool fake_has_stringi = true;

const GLubyte *fake_get_string(GLenum e) {
  const char *s = e == GL_VERSION ? fake_version
                  : e == GL_VENDOR ? "Vendor"
                  : e == GL_RENDERER ? "Renderer"
                  : e == GL_EXTENSIONS ? "old_a old_b"
                                       : nullptr;
  return reinterpret_cast<const GLubyte *>(s);
}

const GLubyte *fake_get_stringi(GLenum e, GLuint i) {
  static const char *names[3] = {"ext_a", nullptr, "ext_c"};
  return e == GL_EXTENSIONS && i < 3 ? reinterpret_cast<const GLubyte *>(names[i]) : nullptr;
}

void fake_get_integer(GLenum e, GLint *v) {
  if (e == GL_NUM_EXTENSIONS) *v = 3;
}

void *fake_lookup(const char *name) {
  if (!strcmp(name, "glGetString")) return reinterpret_cast<void *>(fake_get_string);
  if (!fake_has_stringi) return nullptr;
  if (!strcmp(name, "glGetStringi")) return reinterpret_cast<void *>(fake_get_stringi);
  if (!strcmp(name, "glGetIntegerv")) return reinterpret_cast<void *>(fake_get_integer);
  return nullptr;
}

void *nothing(const char *) { return nullptr; }

TEST(Context, VersionsOlderThanTheDrawingNeedsAreRefused) {
  struct {
    const char *version;
    int ok;
  } cases[] = {
      {"4.6 (Core Profile) Mesa 22.3.6", 1}, {"3.1 Mesa", 1},      {"3.0 Mesa 22.3.6", 0},
      {"2.1 Mesa", 0},                       {"OpenGL ES 3.0 Mesa", 1}, {"OpenGL ES 3.2", 1},
      {"OpenGL ES 2.0 Mesa", 0},             {"garbage", 0},       {"", 0},
  };
  for (const auto &c : cases) {
    fake_version = c.version;
    EXPECT_EQ(gfx_log_context(fake_lookup), c.ok) << c.version;
  }
  EXPECT_EQ(gfx_log_context(nothing), 0);
}

TEST(Context, StringsAreLoggedWithExtensionsFromEitherList) {
  fake_version = "3.3 Mesa";
  for (bool stringi : {true, false}) {
    fake_has_stringi = stringi;
    capture_begin();
    EXPECT_EQ(gfx_log_context(fake_lookup), 1);
    std::string log = captured_log();
    EXPECT_NE(log.find("GL_VENDOR: Vendor\n"), std::string::npos) << log;
    EXPECT_NE(log.find("GL_RENDERER: Renderer\n"), std::string::npos) << log;
    EXPECT_NE(log.find("GL_VERSION: 3.3 Mesa\n"), std::string::npos) << log;
    const char *ext = stringi ? "GL_EXTENSIONS: ext_a ext_c\n" : "GL_EXTENSIONS: old_a old_b\n";
    EXPECT_NE(log.find(ext), std::string::npos) << log;
  }
  fake_has_stringi = true;
}

TEST(Context, FrameReadBackAndFirstStateGoThroughTheLayer) {
  recording_gl_install();
  rec.calls.clear();
  uint8_t px[2 * 3 * 3];
  gfx_read_frame_rgb(px, 3, 2);
  EXPECT_EQ(rec.calls, (std::vector<std::string>{"PixelStorei 0xd05 1", "ReadPixels"}));
  rec.calls.clear();
  gfx_initial_state();
  twgl_flush();
  EXPECT_FALSE(calls_named("Enable 0xb44").empty());       // back faces culled
  EXPECT_FALSE(calls_named("PixelStorei 0xcf5 1").empty());  // uploads packed tight
}

}  // namespace
