// Input events and the game's controls: key handling in its fixed order,
// the control slots, and the local player's controls applied to a rider.
#include <cstdio>
#include <cstring>

#include "app/app.h"
#include "core/core.h"
#include "app/console.h"
#include "bike/bike.h"
#include "bike/physics.h"
#include "editor/editor.h"
#include "menu/menu.h"
#include "net/net.h"
#include "race/demo.h"
#include "race/race.h"
#include "gfx/gfx.h"
#include "platform/platform.h"

UiKeys ui_keys;

// How far one press of Rewind or Skip moves a replay.
static const double DEMO_SEEK_SECONDS = 5;

static int code_of(const char *name) {
  int code = 0;
  return key_code_of(name, &code) ? code : 0;
}

void ui_keys_lookup() {
  UiKeys &k = ui_keys;
  k.up = code_of("up");
  k.down = code_of("down");
  k.left = code_of("left");
  k.right = code_of("right");
  k.enter = code_of("enter");
  k.keypad_enter = code_of("keypad enter");
  k.esc = code_of("esc");
  k.pause = code_of("pause");
  k.cursor_left = code_of("cursor-left");
  k.cursor_right = code_of("cursor-right");
  k.page_up = code_of("page up");
  k.page_down = code_of("page down");
  k.close = code_of("close");
  k.tab = code_of("tab");
  for (int d = 0; d < 10; d++) {
    char name[2] = {char('0' + d), 0};
    k.digit[d] = code_of(name);
  }
}

void clear_controls() {
  for (Binding &b : control_bindings) b.held = b.tapped = 0;
  for (float &s : loop.control_slots) s = 0;
  loop.mouse_left = 0;
}

void poll_control_slots() { controls_tic(loop.control_slots); }

static bool is_key(int code, int wanted) { return wanted != 0 && code == wanted; }

// ------------------------------------------------------------ following
void follow_next_rider(int direction) {
  // An empty running order has no place to go to.
  if (running_count <= 0) return;
  int k = running_count;
  for (int i = 0; i < running_count; i++)
    if (running_order[i] == loop.followed_rider) k = i;
  int n = direction < 0 ? k - 1 : k + 1;
  if (n < 0) n = 0;
  if (n > running_count - 1) n = running_count - 1;
  loop.followed_rider = running_order[n];
}

// ----------------------------------------------------------- screenshots
int next_screenshot_number(const char *const *names) {
  int next = 0;
  for (int i = 0; names && names[i]; i++) {
    unsigned n;
    // Only the number counts: PNG shots match this pattern too.
    if (sscanf(names[i], "screenshot%u.ppm", &n) == 1 && int(n) >= next && n < 100000000u)
      next = int(n) + 1;
  }
  return next;
}

void take_screenshot() {
  int w = frame_width, h = frame_height;
  if (w <= 0 || h <= 0 || app_headless()) return;
  if (loop.screenshot_next < 0) loop.screenshot_next = next_screenshot_number(file_index_build());
  uint8_t *pixels = static_cast<uint8_t *>(mem_alloc(size_t(w) * 3 * size_t(h)));
  if (!pixels) return;
  // The read-back runs bottom-up, as the writer expects.
  gfx_read_frame_rgb(pixels, w, h);
  int n = loop.screenshot_next++;
  char name[64];
  snprintf(name, sizeof name, "@screenshot%03d.png", n);
  if (image_write_rgb(name, pixels, w, h)) add_messagef("Saved \"screenshot%03d.png\"", n);
  mem_free(pixels);
}

// ---------------------------------------------------------- key handling
void handle_key(int code, int down) {
  if (code == CODE_CLOSE) loop.quit_requested = 1;
  controls_key_event(code, down);
  if (code == CODE_MOUSE_LEFT) loop.mouse_left = down;
  if (learn_binding()) {
    learn_event(code, down, loop.game_clock);
    return;
  }
  if (!down) return;

  if (is_key(code, ui_keys.esc)) {
    loop.menu_screen = loop.menu_screen < 0 ? 0 : -1;
    menu_select_first();
    if (loop.menu_screen < 0) return;
  }
  if (loop.menu_screen >= 0) {
    // A key that opened or changed the screen is not also an entry on it.
    if (menu_changed_this_frame()) return;
    if (loop.menu_screen == CHAT_SCREEN) chat_line_key(code);
    else menu_key(code);
    return;
  }
  if (loop.view_mode == VIEW_EDITOR && editor_key(code)) return;
  if (special_key_is(KEY_CHAT, code)) {
    loop.menu_screen = CHAT_SCREEN;
    chat_line_open();
    return;
  }
  if (loop.view_mode == VIEW_NO_TRACK) return;

  if (special_key_is(KEY_PAUSE, code) && !net_server_set()) loop.paused = !loop.paused;
  if (special_key_is(KEY_STEP, code) && loop.paused && track_loaded()) race_tic();
  if (is_key(code, ui_keys.tab)) next_view_mode();
  if (demo_playing()) {
    if (special_key_is(KEY_REWIND, code)) demo_seek(-DEMO_SEEK_SECONDS);
    if (special_key_is(KEY_SKIP, code)) demo_seek(DEMO_SEEK_SECONDS);
  }
  bool prev = special_key_is(KEY_PREV_BIKE, code), next = special_key_is(KEY_NEXT_BIKE, code);
  if (prev || next) {
    bool local = rider_roles[loop.followed_rider] == ROLE_LOCAL;
    if (!local || config.spy || (net_connected() && !net_has_race_slot()))
      follow_next_rider(prev ? -1 : 1);
  }
  if (special_key_is(KEY_SCREENSHOT, code) && loop.view_mode != VIEW_EDITOR) loop.screenshot_pending = 1;
  for (int d = 0; d < 10; d++) {
    if (!is_key(code, ui_keys.digit[d])) continue;
    int count = trackside_camera_count();
    loop.trackside_camera = (d < count ? d : count) - 1;
  }
}

// ------------------------------------------------------ applying controls
TicCommand controls_to_command(const float *s, float clutch, int reversed, int sticky) {
  TicCommand c{};
  c.steering = reversed ? -s[CTL_STEER] : s[CTL_STEER];
  c.front_brake = s[CTL_FRONT_BRAKE];
  c.rear_brake = s[CTL_REAR_BRAKE];
  c.throttle = s[CTL_THROTTLE];
  float dab = s[CTL_DAB];
  if (sticky) {
    if (loop.prev_dab_slot < 0.5f && dab >= 0.5f) loop.sticky_dab_held = !loop.sticky_dab_held;
    c.sit_dab = loop.sticky_dab_held ? 1.0f : 0.0f;
  } else {
    c.sit_dab = dab;
  }
  loop.prev_dab_slot = dab;
  c.back_up = s[CTL_BACK_UP];
  c.lean = s[CTL_LEAN];
  // The lever is fully in from 0.875 on; letting it out takes 0.25 s.
  float target = 1 - s[CTL_CLUTCH] * 1.1428571428571428f;
  target = target < 0 ? 0 : target > 1 ? 1 : target;
  c.clutch = clutch < target ? clutch + float(4 * TIC_SECONDS) : target;
  float shift = s[CTL_SHIFT];
  c.shift = shift > 0.5f ? 1 : shift < -0.5f ? -1 : 0;
  return c;
}

static int setup_switch(int key) { return rider_setup.options[key].selected == 1; }

void apply_controls(Rider *r) {
  float clutch = rider_current_command(r).clutch;
  rider_apply_command(r, controls_to_command(loop.control_slots, clutch,
                                             setup_switch(SETUP_REVERSE_STEERING),
                                             setup_switch(SETUP_STICKY_DAB)));
}
