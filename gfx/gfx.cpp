// Start-up and shutdown of the drawing layer.
#include "gfx/gfx.h"

#include "platform/korb.h"

void (*gfx_fatal_hook)(const char *text) = nullptr;
GfxSettings gfx_settings = {0, 0};

int gfx_init(void *(*)(const char *), int) {
  log_printf("Drawing layer not built yet\n");
  return 0;
}
void gfx_shutdown() {}
void draw_title_screen(int, int) {}
void draw_loading_screen(int, int, const char *, int) {}
