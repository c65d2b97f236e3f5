// The loading screen and the window-aware message and progress hooks.
#include <cstdio>
#include <cstring>

#include "app/app.h"
#include "core/core.h"
#include "app/console.h"
#include "gfx/gfx.h"
#include "platform/platform.h"

namespace {

double last_cycle_draw = -1, last_refresh_draw = -1;
int cycle_dots = 0;
int spinner = 0;

double now_seconds() { return double(clock_ms()) / 1000; }

// Loading takes no input, but a close request must not be lost.
void drain_input() {
  Window *w = window_current();
  int code, down;
  while (w && events_next(w, &code, &down))
    if (code == CODE_CLOSE) loop.quit_requested = 1;
  clear_controls();
}

void draw(const char *text, int spin) {
  Window *w = window_current();
  int width, height;
  if (!w || !frame_begin(w, &width, &height)) return;
  draw_loading_screen(width, height, text, spin);
  frame_end(w);
}

void on_message(const char *text) { message_store_add(text); }

void on_progress(const char *text, int cycling) {
  drain_input();
  if (!cycling) {
    draw(text, -1);
    log_printf("%s\n", text);
    return;
  }
  double t = now_seconds();
  if (last_cycle_draw >= 0 && t - last_cycle_draw < 0.125) return;
  last_cycle_draw = t;
  char line[80];
  static const char *const dots[4] = {"...", "..", ".", ""};
  snprintf(line, sizeof line, "%.64s%s", text, dots[cycle_dots]);
  cycle_dots = (cycle_dots + 1) % 4;
  draw(line, -1);
}

// The spinner's counter counts every refresh of the run, also those that
// came too early to redraw, so its bits show how busy loading is.
void on_refresh() {
  drain_input();
  int counter = spinner++;
  double t = now_seconds();
  if (last_refresh_draw >= 0 && t - last_refresh_draw < 1.0 / 16) return;
  last_refresh_draw = t;
  draw("", counter);
}

}  // namespace

void loading_screen_install() { ui_hooks = {on_message, on_progress, on_refresh}; }
