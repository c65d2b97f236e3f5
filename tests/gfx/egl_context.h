// A GL context with no window (EGL surfaceless) drawing into a framebuffer
// object, for tests that draw for real on Mesa's software renderer.
#pragma once
#include <cstdint>
#include <vector>

#include "gfx/gfx.h"

struct TestContext {
  void *display = nullptr;
  void *context = nullptr;
  GLuint fbo = 0, color = 0, depth = 0;
  int width = 0, height = 0;
  bool gles = false;
};

// Makes a desktop 3.2 core (gles false) or ES 3.0 context current, loads the
// drawing layer's table and binds a width x height framebuffer object. GL
// errors reported through the debug output are counted in gl_errors.
bool test_context_open(TestContext *c, bool gles, int width, int height);
void test_context_close(TestContext *c);
void *test_get_proc(const char *name);
// The framebuffer's pixels, RGBA, rows bottom first.
std::vector<uint8_t> test_read_pixels(const TestContext *c);
// With TW_GFX_SHOTS naming a folder, saves the framebuffer there as
// <name>.png for a person to look at.
void test_save_shot(const TestContext *c, const std::vector<uint8_t> &rgba, const char *name);
extern int gl_errors;
extern char gl_last_error[512];
