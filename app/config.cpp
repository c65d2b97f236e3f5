// The configuration: the item table, reading and writing "@config", the
// detail presets and the server history.
#include "app/config.h"

#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/app.h"
#include "bike/bike.h"
#include "core/core.h"
#include "core/log.h"
#include "core/mathutil.h"
#include "platform/platform.h"

namespace {

const char *const NO_YES[] = {"No", "Yes"};
const char *const SKILLS[] = {"Novice", "Amateur", "Expert"};
const char *const GATE_CHOICES[] = {"Empty", "Human", "Robot", "Robot (2 stroke)",
                                    "Robot (4 stroke)"};
const char *const DIM_OLD[] = {"32x32", "64x64", "128x128", "256x256", "512x512", "1024x1024"};
const char *const DIM_NEW[] = {"128x128",   "256x256",   "512x512",
                               "1024x1024", "2048x2048", "4096x4096"};
const char *const COMPRESS[] = {"No", "Yes", "Always"};
const char *const RENDER_TEXTURE[] = {"Software", "Hardware/Copy", "Hardware/Direct",
                                      "Shaders/Copy", "Shaders/Direct"};
const char *const PLAYBACK[] = {"Playback Only", "Race Against"};

// The binding keys in writing order.
const char *const BINDING_KEYS[] = {
    "throttle_key", "front_brake_key", "rear_brake_key",    "left_key",   "right_key",
    "clutch_key",   "upshift_key",     "downshift_key",     "dab_key",    "back_up_key",
    "lean_forward_key", "lean_backward_key", "pause_key",   "step_key",   "rewind_key",
    "skip_key",     "prev_key",        "next_key",          "console_key", "screenshot_key"};

// The video modes: a copy of the list built at start-up; the first two are
// always there so that a configuration read before the list still works.
char video_mode_text[VIDEO_MODE_MAX][32] = {"Default Fullscreen", "Windowed"};
const char *video_mode_names[VIDEO_MODE_MAX] = {video_mode_text[0], video_mode_text[1]};
int video_mode_count = 2;

char slot_keys[40][8], slot_labels[40][10], hist_keys[16][20];

ConfigItem items[CONFIG_ITEM_MAX];
int item_count = 0;

ConfigItem &add(const char *key, ItemKind kind, const char *label = "") {
  ConfigItem &it = items[item_count++];
  it = ConfigItem{};
  it.key = key;
  it.kind = kind;
  it.label = label;
  return it;
}

void integer(const char *key, int *v, int lo = 0, int hi = 0) {
  ConfigItem &it = add(key, ITEM_INTEGER);
  it.integer = v;
  it.minimum = lo;
  it.maximum = hi;
}

void number(const char *key, const char *label, double *v, double lo, double hi,
            double step = 1) {
  ConfigItem &it = add(key, ITEM_NUMBER, label);
  it.number = v;
  it.minimum = lo;
  it.maximum = hi;
  it.step = step;
}

template <int N>
ConfigItem &choice(const char *key, const char *label, int *v, const char *const (&texts)[N]) {
  ConfigItem &it = add(key, ITEM_CHOICE, label);
  it.choice = v;
  it.choices = texts;
  it.choice_count = N;
  return it;
}

void text(const char *key, char *buffer, int size, int read_max = 0) {
  ConfigItem &it = add(key, ITEM_TEXT);
  it.text = buffer;
  it.text_size = size;
  it.read_max = read_max;
}

int control_for(const char *key) {
  for (int i = 0; i < CONTROL_COUNT; i++)
    if (!strcmp(control_info[i].config_key, key)) return i;
  return -1;
}

void build_items() {
  Config &c = config;
  item_count = 0;
  integer("xres", &c.xres);
  integer("yres", &c.yres);
  integer("draw_fps", &c.draw_fps);
  integer("draw_time", &c.draw_time);
  integer("draw_ping", &c.draw_ping);
  integer("draw_speed", &c.draw_speed);
  integer("spy", &c.spy);
  text("track", c.track, sizeof c.track);
  choice("record", "Record Demo", &c.record, NO_YES);
  choice("skill", "Robot Skill", &c.skill, SKILLS);
  number("minutes", "Minutes", &c.minutes, 0, 60);
  number("laps", "Laps", &c.laps, 0, 50);
  for (int i = 0; i < 40; i++) {
    snprintf(slot_keys[i], sizeof slot_keys[i], "slot%02d", i);
    snprintf(slot_labels[i], sizeof slot_labels[i], "Gate %d", i + 1);
    choice(slot_keys[i], slot_labels[i], &c.slot[i], GATE_CHOICES);
  }
  number("ghost_fade_distance", "Ghost Fade Distance", &c.ghost_fade_distance, 0, 40);
  choice("time_trial_abort", "Backing Up Aborts Attempt", &c.time_trial_abort, NO_YES);
  add("rider setup", ITEM_SETUP);
  {
    ConfigItem &it = add("video_mode", ITEM_CHOICE, "Video Mode");
    it.choice = &c.video_mode;
    it.choices = video_mode_names;
    it.choice_count = -1;  // the live list
  }
  text("server_name", c.server_name, sizeof c.server_name);
  for (int i = 0; i < 16; i++) {
    snprintf(hist_keys[i], sizeof hist_keys[i], "server_name_hist%02d", i);
    text(hist_keys[i], c.server_name_hist[i], sizeof c.server_name_hist[i], 126);
  }
  number("ground_detail", "Ground Geometric Detail", &c.ground_detail, 0, 100);
  number("ground_texture_detail", "Ground Texture Levels", &c.ground_texture_detail, 0, 10);
  choice("ground_texture_dim", "Ground Texture Resolution", &c.ground_texture_dim, DIM_OLD);
  choice("ground_texture_dim_new", "Ground Texture Resolution", &c.ground_texture_dim_new,
         DIM_NEW);
  choice("ground_mipmaps", "Enable Ground Mipmaps", &c.ground_mipmaps, NO_YES);
  choice("texture_compress", "Compress Textures", &c.texture_compress, COMPRESS);
  choice("render_texture", "Terrain Rendering Method", &c.render_texture, RENDER_TEXTURE);
  choice("use_shader", "Use Shader Programs", &c.use_shader, NO_YES);
  number("roost_density", "Roost Density", &c.roost_density, 0, 1000, 10);
  number("reshade_delay", "Reshade Delay", &c.reshade_delay, 0, 20);
  number("terrain_resync_rate", "Terrain Sync Rate", &c.terrain_resync_rate, 0, 10);
  choice("lens_flare", "Enable Lens Flares", &c.lens_flare, NO_YES);
  choice("reflections", "Enable Reflections", &c.reflections, NO_YES);
  choice("hide_rider", "Hide 1st Person Rider", &c.hide_rider, NO_YES);
  choice("rigid_camera", "Rigid 3rd person camera", &c.rigid_camera, NO_YES);
  number("model_detail", "Model Geometric Detail", &c.model_detail, 0, 100);
  number("model_texture_detail", "Model Texture Detail", &c.model_texture_detail, 0, 10);
  number("fov", "Field Of View", &c.fov, 10, 170);
  number("first_person_height", "1st Person Height", &c.first_person_height, 0, 1, 0.03125);
  number("first_person_angle", "1st Person Angle", &c.first_person_angle, 0, 40);
  number("first_person_gimbal", "1st Person Gimbal", &c.first_person_gimbal, 0, 100);
  number("third_person_height", "3rd Person Height", &c.third_person_height, 0, 20);
  number("third_person_distance", "3rd Person Distance", &c.third_person_distance, 5, 40);
  number("volume", "Volume", &c.volume, 0, 10);
  number("comp_volume", "Competitor Volume", &c.comp_volume, 0, 10);
  choice("playback_mode", "Playback Mode", &c.playback_mode, PLAYBACK);
  // A huge window would overflow the billboards' look-ahead index; more
  // lines than the ring holds cannot be shown.
  integer("billboard_optimize_lookahead", &c.billboard_optimize_lookahead, 0, 1024);
  integer("message_lines", &c.message_lines, 0, 1000);
  integer("demo_backups", &c.demo_backups);
  number("map_scale", "", &c.map_scale, 0.125, 8, 0);
  for (const char *key : BINDING_KEYS) {
    int k = control_for(key);
    if (k < 0) continue;
    ConfigItem &it = add(key, ITEM_BINDING, control_info[k].label);
    it.binding = &control_bindings[k];
  }
  choice("use_fbo", "Use Framebuffer Objects", &c.use_fbo, NO_YES).flags = ITEM_READ_ONLY;
  add("ground_texture_distance", ITEM_IGNORED).flags = ITEM_READ_ONLY;
}

int choice_count(const ConfigItem &it) {
  return it.choice_count < 0 ? video_mode_count : it.choice_count;
}


void apply(const ConfigItem &it, const char *value) {
  switch (it.kind) {
    case ITEM_NUMBER: {
      double v;
      if (scan_number(value, &v)) *it.number = clampd(v, it.minimum, it.maximum);
      break;
    }
    case ITEM_INTEGER: {
      int v;
      if (!scan_int(value, &v)) break;
      if (it.minimum < it.maximum) v = int(clampd(v, it.minimum, it.maximum));
      *it.integer = v;
      break;
    }
    case ITEM_CHOICE:
      for (int i = 0; i < choice_count(it); i++)
        if (!strcmp(value, it.choices[i])) *it.choice = i;
      break;
    case ITEM_TEXT:
      if (it.read_max && strlen(value) > size_t(it.read_max)) break;
      snprintf(it.text, size_t(it.text_size), "%s", value);
      break;
    case ITEM_BINDING:
      binding_parse(it.binding, value);
      break;
    case ITEM_SETUP:
    case ITEM_IGNORED:
      break;
  }
}

}  // namespace

// strtod/strtol as "%f"/"%d" read them (leading blanks, a number prefix);
// 0 when nothing scans or the number is not finite.
int scan_number(const char *s, double *out) {
  char *end;
  double v = strtod(s, &end);
  if (end == s || !std::isfinite(v)) return 0;
  *out = v;
  return 1;
}

int scan_int(const char *s, int *out) {
  char *end;
  long v = strtol(s, &end, 10);
  if (end == s) return 0;
  *out = v < INT_MIN ? INT_MIN : v > INT_MAX ? INT_MAX : int(v);
  return 1;
}

const ConfigItem *config_items(int *count) {
  if (!item_count) build_items();
  *count = item_count;
  return items;
}

const ConfigItem *config_item(const char *key) {
  int n;
  const ConfigItem *all = config_items(&n);
  for (int i = 0; i < n; i++)
    if (all[i].kind != ITEM_SETUP && !strcmp(all[i].key, key)) return &all[i];
  return nullptr;
}

void config_set_defaults() {
  config = Config();
  setup_defaults(&rider_setup);
  set_setup_value(&rider_setup, "bike", "yz250f(2017)");
  // The 16 stability values follow the configured stability.
  stability_preset(&rider_setup, int(rider_setup.options[SETUP_STABILITY].value));
  controls_set_defaults();
}

void config_set_video_modes(const std::vector<std::string> &modes) {
  video_mode_count = 0;
  for (const std::string &m : modes) {
    if (video_mode_count == VIDEO_MODE_MAX) break;
    snprintf(video_mode_text[video_mode_count], sizeof video_mode_text[0], "%s", m.c_str());
    video_mode_names[video_mode_count] = video_mode_text[video_mode_count];
    video_mode_count++;
  }
}

int config_set_value(const char *key, const char *value) {
  if (set_setup_value(&rider_setup, key, value)) return 1;
  const ConfigItem *it = config_item(key);
  if (!it) return 0;
  apply(*it, value);
  if (!strcmp(key, "use_fbo")) config.render_texture = config.use_fbo ? 2 : 1;
  return 1;
}

void config_read_file(DataFile *f) {
  char line[CONFIG_LINE_MAX + 1];
  for (;;) {
    // One line: its first 1023 bytes; the rest of a longer line is dropped
    // so that no piece of it is ever taken for a key of its own.
    int n = 0, c = 0, nul = 0;
    while ((c = data_getc(f)) != EOF && c != '\n') {
      if (c == 0) nul = 1;
      if (n < CONFIG_LINE_MAX) line[n++] = char(c);
    }
    if (c == EOF && n == 0) break;
    line[n] = 0;
    char *eq = strchr(line, '=');
    if (!nul && eq) {
      *eq = 0;
      char *value = eq + 1;
      size_t len = strlen(value);
      while (len > 0 && (value[len - 1] == '\r' || value[len - 1] == '\n')) value[--len] = 0;
      config_set_value(line, value);
    }
    if (c == EOF) break;
  }
}

void config_read() {
  DataFile *f = data_open("@config", "rb");
  if (!f) return;
  config_read_file(f);
  data_close(f);
}

int config_write_file(DataFile *f) {
  int n;
  const ConfigItem *all = config_items(&n);
  int ok = 1;
  for (int i = 0; i < n; i++) {
    const ConfigItem &it = all[i];
    if (it.flags & ITEM_READ_ONLY) continue;
    int r = 0;
    switch (it.kind) {
      case ITEM_NUMBER: r = data_printf(f, "%s=%f\n", it.key, *it.number); break;
      case ITEM_INTEGER: r = data_printf(f, "%s=%d\n", it.key, *it.integer); break;
      case ITEM_CHOICE: {
        int k = *it.choice;
        // An index past the list (a video mode gone since) keeps its place
        // by writing the first text.
        if (k < 0 || k >= choice_count(it)) k = 0;
        r = data_printf(f, "%s=%s\n", it.key, it.choices[k]);
        break;
      }
      case ITEM_TEXT:
        // A line break inside a value would start a new key when read back.
        r = data_printf(f, "%s=%.*s\n", it.key, int(strcspn(it.text, "\r\n")), it.text);
        break;
      case ITEM_BINDING: {
        char value[600];
        if (binding_format(it.binding, value, sizeof value) > 0)
          r = data_printf(f, "%s=%s\n", it.key, value);
        break;
      }
      case ITEM_SETUP:
        if (!write_setup(&rider_setup, f)) ok = 0;
        break;
      case ITEM_IGNORED: break;
    }
    if (r < 0) ok = 0;
  }
  return ok;
}

int config_write() {
  // The home folder only: a copy written anywhere else would be shadowed
  // by the old one there on the next start.
  char path[4096];
  DataFile *f = data_path("@config", path, sizeof path) ? data_create(path) : nullptr;
  if (!f) {
    log_printf("Error: can't create the configuration file; the old one stays\n");
    return 0;
  }
  if (!config_write_file(f)) {
    data_abandon(f);
    log_printf("Error: writing the configuration failed; the old one stays\n");
    return 0;
  }
  if (!data_commit(f)) {
    log_printf("Error: saving the configuration failed; the old one stays\n");
    return 0;
  }
  return 1;
}

void apply_detail_preset(int n) {
  if (n < 0 || n > 3) return;
  static const double resync[4] = {0, 0, 4, 8}, roost[4] = {1000, 0, 1000, 1000},
                      model[4] = {50, 25, 50, 75}, textures[4] = {9, 7, 9, 10},
                      ground[4] = {70, 50, 70, 90};
  static const int yes[4] = {1, 0, 1, 1}, render[4] = {0, 2, 4, 4}, compress[4] = {0, 1, 1, 0},
                   dim[4] = {1, 1, 2, 3};
  Config &c = config;
  c.terrain_resync_rate = resync[n];
  c.roost_density = roost[n];
  c.model_detail = model[n];
  c.use_shader = c.lens_flare = c.reflections = yes[n];
  c.render_texture = render[n];
  c.texture_compress = compress[n];
  c.ground_mipmaps = 1;
  c.ground_texture_dim_new = dim[n];
  c.model_texture_detail = c.ground_texture_detail = textures[n];
  c.ground_detail = ground[n];
}

void server_history_push(const char *name) {
  if (!name[0] || !strcmp(name, config.server_name_hist[0])) return;
  memmove(config.server_name_hist[1], config.server_name_hist[0],
          sizeof config.server_name_hist[0] * 15);
  snprintf(config.server_name_hist[0], sizeof config.server_name_hist[0], "%s", name);
  config.server_hist_pos = -1;
}
