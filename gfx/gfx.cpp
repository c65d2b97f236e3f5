// Start-up and shutdown of the drawing layer.
#include "gfx/gl_table.h"
#include "core/log.h"

void (*gfx_fatal_hook)(const char *text) = nullptr;
GfxSettings gfx_settings = {0, 0};

void screens_forget_textures();

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

void gfx_shutdown() {
  fonts_free();
  texture_purge(1);
  screens_forget_textures();
  twgl_shutdown();
}
