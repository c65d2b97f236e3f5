// Start-up and shutdown of the drawing layer, and what the program asks
// of the context directly.
#include <cstdio>
#include <cstring>
#include <string>

#include "gfx/gl_table.h"
#include "core/log.h"

void (*gfx_fatal_hook)(const char *text) = nullptr;
GfxSettings gfx_settings = {0, 0};

void screens_forget_textures();

int gfx_log_context(void *(*get_proc)(const char *name)) {
  auto get_string = reinterpret_cast<PFNGLGETSTRINGPROC>(get_proc("glGetString"));
  if (!get_string) return 0;
  auto text = [&](GLenum e) {
    const GLubyte *s = get_string(e);
    return s ? reinterpret_cast<const char *>(s) : "";
  };
  log_printf("GL_VENDOR: %s\n", text(GL_VENDOR));
  log_printf("GL_RENDERER: %s\n", text(GL_RENDERER));
  const char *version = text(GL_VERSION);
  log_printf("GL_VERSION: %s\n", version);
  // Core contexts list extensions one by one only.
  std::string ext;
  auto get_stringi = reinterpret_cast<PFNGLGETSTRINGIPROC>(get_proc("glGetStringi"));
  auto get_integer = reinterpret_cast<PFNGLGETINTEGERVPROC>(get_proc("glGetIntegerv"));
  if (get_stringi && get_integer) {
    GLint n = 0;
    get_integer(GL_NUM_EXTENSIONS, &n);
    for (GLint i = 0; i < n; i++) {
      const GLubyte *e = get_stringi(GL_EXTENSIONS, GLuint(i));
      if (!e) continue;
      if (!ext.empty()) ext += ' ';
      ext += reinterpret_cast<const char *>(e);
    }
  } else {
    ext = text(GL_EXTENSIONS);
  }
  log_printf("GL_EXTENSIONS: %s\n", ext.c_str());
  bool es = strncmp(version, "OpenGL ES", 9) == 0;
  const char *digits = version;
  while (*digits && (*digits < '0' || *digits > '9')) digits++;
  int major = 0, minor = 0;
  sscanf(digits, "%d.%d", &major, &minor);
  // ES 3.0 carries everything the desktop 3.1 core path needs.
  int need_minor = es ? 0 : 1;
  return major > 3 || (major == 3 && minor >= need_minor);
}

int gfx_init(void *(*get_proc)(const char *name), int gles) {
  if (!gl_load(get_proc)) return 0;
  if (!twgl_init()) {
    log_printf("Can't create the shader programs\n");
    return 0;
  }
  if (gles != twgl_gles)
    log_printf("Asked for %s, got %s\n", gles ? "OpenGL ES" : "desktop OpenGL",
               twgl_gles ? "OpenGL ES" : "desktop OpenGL");
  return 1;
}

void gfx_load_pictures() {
  fonts_load();
  texture_load("!@tach.png");
  texture_load("!@shifter.png");
  texture_load("!@pitboard.png");
  texture_load("!@title.png");
  twgl_flush();
}

void gfx_initial_state() {
  twglClear(GL_COLOR_BUFFER_BIT);
  twglClearColor(0.196078f, 0.6f, 0.8f, 0);
  twglEnable(GL_CULL_FACE);
  twglPixelStorei(GL_PACK_ALIGNMENT, 1);
  twglPixelStorei(GL_UNPACK_ALIGNMENT, 1);
}

void gfx_read_frame_rgb(uint8_t *out, int width, int height) {
  twglPixelStorei(GL_PACK_ALIGNMENT, 1);  // rows are packed tight
  twglReadPixels(0, 0, width, height, GL_RGB, GL_UNSIGNED_BYTE, out);
}

void gfx_shutdown() {
  fonts_free();
  texture_purge(1);
  screens_forget_textures();
  twgl_shutdown();
}
