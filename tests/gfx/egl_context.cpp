#include "tests/gfx/egl_context.h"

#include <EGL/egl.h>
#include <EGL/eglext.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "gfx/gl_table.h"

int gl_errors = 0;
char gl_last_error[512];

void *test_get_proc(const char *name) {
  return reinterpret_cast<void *>(eglGetProcAddress(name));
}

static void APIENTRY on_debug(GLenum, GLenum type, GLuint, GLenum severity, GLsizei,
                                const GLchar *message, const void *) {
  if (type == GL_DEBUG_TYPE_ERROR || severity == GL_DEBUG_SEVERITY_HIGH) {
    gl_errors++;
    snprintf(gl_last_error, sizeof gl_last_error, "%s", message);
    fprintf(stderr, "GL error: %s\n", message);
  }
}

bool test_context_open(TestContext *c, bool gles, int width, int height) {
  auto get_display = reinterpret_cast<PFNEGLGETPLATFORMDISPLAYEXTPROC>(
      eglGetProcAddress("eglGetPlatformDisplayEXT"));
  if (!get_display) return false;
  EGLDisplay dpy = get_display(EGL_PLATFORM_SURFACELESS_MESA, EGL_DEFAULT_DISPLAY, nullptr);
  if (dpy == EGL_NO_DISPLAY || !eglInitialize(dpy, nullptr, nullptr)) return false;
  if (!eglBindAPI(gles ? EGL_OPENGL_ES_API : EGL_OPENGL_API)) return false;
  const EGLint desktop[] = {EGL_CONTEXT_MAJOR_VERSION, 3, EGL_CONTEXT_MINOR_VERSION, 2,
                            EGL_CONTEXT_OPENGL_PROFILE_MASK,
                            EGL_CONTEXT_OPENGL_CORE_PROFILE_BIT, EGL_CONTEXT_OPENGL_DEBUG,
                            EGL_TRUE, EGL_NONE};
  const EGLint es[] = {EGL_CONTEXT_MAJOR_VERSION, 3, EGL_CONTEXT_MINOR_VERSION, 0,
                       EGL_CONTEXT_OPENGL_DEBUG, EGL_TRUE, EGL_NONE};
  EGLContext ctx = eglCreateContext(dpy, EGL_NO_CONFIG_KHR, EGL_NO_CONTEXT, gles ? es : desktop);
  if (ctx == EGL_NO_CONTEXT) return false;
  if (!eglMakeCurrent(dpy, EGL_NO_SURFACE, EGL_NO_SURFACE, ctx)) return false;
  c->display = dpy, c->context = ctx, c->width = width, c->height = height, c->gles = gles;
  gl_errors = 0;
  auto callback = reinterpret_cast<PFNGLDEBUGMESSAGECALLBACKPROC>(
      test_get_proc(gles ? "glDebugMessageCallbackKHR" : "glDebugMessageCallback"));
  if (!callback) callback = reinterpret_cast<PFNGLDEBUGMESSAGECALLBACKPROC>(
      test_get_proc("glDebugMessageCallback"));
  auto enable = reinterpret_cast<PFNGLENABLEPROC>(test_get_proc("glEnable"));
  if (callback) {
    enable(GL_DEBUG_OUTPUT);
    enable(GL_DEBUG_OUTPUT_SYNCHRONOUS);
    callback(on_debug, nullptr);
  }
  if (!gl_load(test_get_proc)) return false;
  auto gen_rb = reinterpret_cast<PFNGLGENRENDERBUFFERSPROC>(test_get_proc("glGenRenderbuffers"));
  auto bind_rb = reinterpret_cast<PFNGLBINDRENDERBUFFERPROC>(test_get_proc("glBindRenderbuffer"));
  auto storage = reinterpret_cast<PFNGLRENDERBUFFERSTORAGEPROC>(
      test_get_proc("glRenderbufferStorage"));
  auto attach = reinterpret_cast<PFNGLFRAMEBUFFERRENDERBUFFERPROC>(
      test_get_proc("glFramebufferRenderbuffer"));
  gl.GenFramebuffers(1, &c->fbo);
  gl.BindFramebuffer(GL_FRAMEBUFFER, c->fbo);
  gen_rb(1, &c->color);
  bind_rb(GL_RENDERBUFFER, c->color);
  storage(GL_RENDERBUFFER, GL_RGBA8, width, height);
  attach(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, c->color);
  gen_rb(1, &c->depth);
  bind_rb(GL_RENDERBUFFER, c->depth);
  storage(GL_RENDERBUFFER, GL_DEPTH24_STENCIL8, width, height);
  attach(GL_FRAMEBUFFER, GL_DEPTH_STENCIL_ATTACHMENT, GL_RENDERBUFFER, c->depth);
  if (gl.CheckFramebufferStatus(GL_FRAMEBUFFER) != GL_FRAMEBUFFER_COMPLETE) return false;
  gl.Viewport(0, 0, width, height);
  return true;
}

void test_context_close(TestContext *c) {
  if (!c->display) return;
  auto del_rb = reinterpret_cast<PFNGLDELETERENDERBUFFERSPROC>(
      test_get_proc("glDeleteRenderbuffers"));
  if (c->fbo) {
    gl.BindFramebuffer(GL_FRAMEBUFFER, 0);
    gl.DeleteFramebuffers(1, &c->fbo);
    GLuint rb[2] = {c->color, c->depth};
    del_rb(2, rb);
  }
  EGLDisplay dpy = c->display;
  eglMakeCurrent(dpy, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
  eglDestroyContext(dpy, c->context);
  // The display stays initialised: terminating it unloads the driver, whose
  // own leftovers the leak checker then reports without names.

  *c = TestContext();
}

std::vector<uint8_t> test_read_pixels(const TestContext *c) {
  std::vector<uint8_t> px(size_t(c->width) * c->height * 4);
  twgl_flush();
  gl.PixelStorei(GL_PACK_ALIGNMENT, 1);
  gl.ReadPixels(0, 0, c->width, c->height, GL_RGBA, GL_UNSIGNED_BYTE, px.data());
  return px;
}

void test_save_shot(const TestContext *c, const std::vector<uint8_t> &rgba, const char *name) {
  const char *dir = getenv("TW_GFX_SHOTS");
  if (!dir) return;
  std::vector<uint8_t> rgb(size_t(c->width) * c->height * 3);
  for (size_t i = 0; i < rgb.size() / 3; i++)
    for (int k = 0; k < 3; k++) rgb[i * 3 + k] = rgba[i * 4 + k];
  std::string path = std::string(dir) + "/" + name + (c->gles ? "-es" : "") + ".png";
  image_write_rgb(path.c_str(), rgb.data(), c->width, c->height);
}
