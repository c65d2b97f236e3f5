// Until the menu screens exist, the main menu is one line of help and
// Enter starts a quick race.
#include "menu/menu.h"

#include <cstdio>

#include "gfx/gfx.h"

MenuHooks menu_hooks;

void menu_draw() {
  if (!menu_hooks.shown || !menu_hooks.shown()) return;
  char line[320];
  snprintf(line, sizeof line, "Enter: quick race on %s against nine robots    Esc: close",
           menu_hooks.track ? menu_hooks.track() : "the selected track");
  float Y = proj_half_y, h = Y / 20;
  twglUseProgram(PROGRAM_UNLIT);
  twglMatrixMode(GL_MODELVIEW);
  twglPushMatrix();
  twglLoadIdentity();
  twglDisable(GL_DEPTH_TEST);
  twglTranslate(0, -Y * 0.55f, -1);
  twglScale(h, h, h);
  text_draw_centred_shadowed(1, 1, 1, 1, -1000, 1000, line);
  twglPopMatrix();
  twgl_flush();
}

void menu_key(int code) {
  if (menu_hooks.is_enter && menu_hooks.is_enter(code) && menu_hooks.quick_race) menu_hooks.quick_race();
}

void menu_pointer(int, int, int, int, int) {}
void menu_select_first() {}
