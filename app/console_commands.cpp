// The chat line's commands and chat: one table matched in order, each
// command checking its arguments and replying in the message window.
#include <cctype>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <strings.h>

#include "app/app.h"
#include "app/config.h"
#include "app/console.h"
#include "bike/bike.h"
#include "bike/engine_sound.h"
#include "bike/physics.h"
#include "bike/rider.h"
#include "core/core.h"
#include "core/mathutil.h"
#include "gfx/camera_math.h"
#include "gfx/hud.h"
#include "gfx/render.h"
#include "net/net.h"
#include "race/demo.h"
#include "race/race.h"
#include "race/timing.h"
#include "race/track.h"
#include "terrain/terrain.h"
#include "terrain/deform.h"

ConsoleState console_state = {0, 0, 0, 0, 0, 10, 0};

namespace {


const char *skip_space(const char *s) {
  while (isspace(static_cast<unsigned char>(*s))) s++;
  return s;
}

// The first word of s into out; 0 when it does not fit.
int first_word(const char *s, char *out, size_t size) {
  s = skip_space(s);
  size_t n = 0;
  while (s[n] && !isspace(static_cast<unsigned char>(s[n]))) n++;
  if (n >= size) return 0;
  memcpy(out, s, n);
  out[n] = 0;
  return 1;
}

Rider *followed_rider() { return rider_in_slot(loop.followed_rider); }

// ----------------------------------------------------------------- commands
typedef void (*CommandFn)(const char *args);

void save_track_info(const char *) {
  if (!track_loaded()) return;
  const char *folder = track_loaded_folder();
  const char *slash = strrchr(folder, '/');
  const char *name = slash ? slash + 1 : folder;
  const char *longname = name;
  for (int i = 0; i < track_count; i++)
    if (!strcmp(track_folders[i], folder) && track_descriptions && track_descriptions[i] &&
        track_descriptions[i][0])
      longname = track_descriptions[i];
  char path[600];
  snprintf(path, sizeof path, "@%s.trackinfo", name);
  DataFile *f = data_safe_name(name) ? data_create(path) : nullptr;
  if (!f) return;
  data_printf(f, "dir=%s\nlongname=%s\nfirstlap=%d\nnormallap=%d\ngatecount=%d\nhash=", name,
              longname, timing.first_count, timing.normal_count, timing.gate_count);
  for (uint8_t b : track_digest) data_printf(f, "%02x", b);
  data_printf(f, "\n");
  if (data_commit(f)) add_messagef("Track info saved to %s.trackinfo", name);
}

void render_stats(const char *) {
  console_state.render_stats = 1;
  settings.draw_render_stats = 1;
  render_stats_reset();
}

void toggle_spy(const char *) { toggle_notice("Spy mode", &config.spy); }

void toggle_graph(const char *) {
  toggle_notice("Suspension graph", &console_state.suspension_graph);
  suspension_graph_set(console_state.suspension_graph);
}

void billboard_window(const char *args) {
  int v;
  if (scan_int(args, &v)) config.billboard_optimize_lookahead = int(clampd(v, 0, 1024));
  add_messagef("Billboard optimization window is now %d", config.billboard_optimize_lookahead);
}

void pipe(const char *args) {
  Rider *r = followed_rider();
  if (!r) return;
  const BikeModel *m = rider_model(r);
  bool four_stroke = m && (!strcmp(m->engine_class, "250f") || !strcmp(m->engine_class, "450f"));
  float shape[3] = {1.75f, 0.3f, -0.75f};
  if (four_stroke) shape[0] = 5.0f, shape[1] = 0.9182071685791016f, shape[2] = -0.85f;
  int params[2] = {0, 15};
  // Up to five numbers; the first that does not scan ends the list.
  const char *p = args;
  for (int i = 0; i < 5; i++) {
    char *end;
    if (i < 3) {
      double v = strtod(p, &end);
      if (end == p || !std::isfinite(v)) break;
      shape[i] = float(v);
    } else {
      long v = strtol(p, &end, 10);
      if (end == p) break;
      params[i - 3] = int(clampd(double(v), INT_MIN, INT_MAX));
    }
    p = end;
  }
  engine_sound_set_pipe(loop.followed_rider, shape, params);
  add_message("Pipe updated");
}

// The recording checks the name (plain file names only, never over an
// earlier demo) and gives the reply.
void name_demo(const char *args) {
  char word[1024] = "";
  if (!first_word(args, word, 1017)) {
    add_message(demo_recording() ? "Name too long" : "Not currently recording a demo");
    return;
  }
  char reply[128];
  demo_set_name(word, reply, sizeof reply);
  add_message(reply);
}

void cam_angle(const char *args) {
  if (!followed_rider()) return;
  double yaw, pitch;
  char *end;
  const char *p = args;
  yaw = strtod(p, &end);
  bool ok = end != p && std::isfinite(yaw);
  if (ok) {
    p = end;
    pitch = strtod(p, &end);
    ok = end != p && std::isfinite(pitch);
  }
  if (!ok) {
    add_message("Usage: camangle <yaw> <pitch>");
    return;
  }
  free_camera_set_angles(yaw, pitch);
  add_message("Camera aimed");
}

void field_of_view(const char *args) {
  double v;
  if (!scan_number(args, &v)) {
    add_message("Usage: fov <degrees>");
    return;
  }
  config.fov = clampd(v, 10, 170);
  add_message("fov set");
}

void fps_histogram(const char *) {
  char line[256];
  int n = 0;
  for (int i = 0; i < 8; i++) {
    n += snprintf(line + n, sizeof line - size_t(n), "%d=%d ", 128 >> i,
                  loop.frame_time_histogram[i]);
    loop.frame_time_histogram[i] = 0;
  }
  add_message(line);
}

void save_frame_times(const char *) {
  DataFile *f = data_create("@frametimes.txt");
  int ok = f != nullptr;
  for (int i = 0; ok && i < loop.frame_time_count; i++)
    if (data_printf(f, "%f\n", double(loop.frame_time_log[i])) < 0) ok = 0;
  if (f && !ok) data_abandon(f);
  else if (f) ok = data_commit(f);
  if (!ok) {
    add_message("Error opening \"frametimes.txt\" for writing");
    return;
  }
  loop.frame_time_count = 0;
  add_message("Frame times saved to \"frametimes.txt\"");
}

void force_reload(const char *) {
  console_state.force_reload = 1;
  track_request_reload();
  add_message("Track will be reloaded on next restart");
}

void read_setup_command(const char *args) { read_setup_file(&rider_setup, args); }
void write_setup_command(const char *args) { write_setup_file(&rider_setup, args); }
void rand_dump(const char *) {}

void add_key(const char *) {
  keycam_add(race_now_tic());
  add_message("Keyframe added");
}

void delete_key(const char *) {
  keycam_delete(race_now_tic());
  add_message("Keyframe deleted");
}

void clear_keys(const char *) {
  keycam_clear();
  add_message("Keyframes cleared");
}

void list_keys(const char *) {
  for (int i = 0; i < keycam_count(); i++) {
    const Keyframe *k = keycam_get(i);
    add_messagef("pos = { %.2f, %.2f, %.2f }, rot = { %.2f, %.2f, %.2f, %.2f }, time = %.2f",
                 k->pos[0], k->pos[1], k->pos[2], k->rot[0], k->rot[1], k->rot[2], k->rot[3],
                 k->tic * TIC_SECONDS);
  }
}

// "@keycam/" + the trimmed name, for plain file names only.
int keycam_path(const char *args, char *out, size_t size) {
  char name[512];
  args = skip_space(args);
  size_t n = strlen(args);
  while (n > 0 && isspace(static_cast<unsigned char>(args[n - 1]))) n--;
  if (n == 0 || n >= sizeof name) return 0;
  memcpy(name, args, n);
  name[n] = 0;
  if (!data_safe_name(name)) return 0;
  snprintf(out, size, "@keycam/%s", name);
  return 1;
}

void read_keys(const char *args) {
  char path[600];
  DataFile *f = keycam_path(args, path, sizeof path) ? data_open(path, "rb") : nullptr;
  if (!f) {
    add_message("Error reading camera keys");
    return;
  }
  static Keyframe frames[KEYFRAME_MAX];
  int count = 0, ok = 1;
  char line[1024];
  while (ok && data_gets(f, line, sizeof line)) {
    if (!line[strspn(line, " \t\r\n")]) continue;
    Keyframe k;
    if (count == KEYFRAME_MAX ||
        sscanf(line, "%lf %lf %lf %lf %lf %lf %lf %lf %d", &k.pos[0], &k.pos[1], &k.pos[2],
               &k.rot[0], &k.rot[1], &k.rot[2], &k.rot[3], &k.fov, &k.tic) != 9) {
      ok = 0;
      break;
    }
    for (double v : {k.pos[0], k.pos[1], k.pos[2], k.rot[0], k.rot[1], k.rot[2], k.rot[3], k.fov})
      if (!std::isfinite(v)) ok = 0;
    frames[count++] = k;
  }
  if (data_error(f)) ok = 0;
  data_close(f);
  if (!ok) {
    add_message("Error reading camera keys");
    return;
  }
  keycam_replace(frames, count);
  add_message("Camera keys updated");
}

void write_keys(const char *args) {
  char path[600];
  DataFile *f = keycam_path(args, path, sizeof path) ? data_create(path) : nullptr;
  int ok = f != nullptr;
  for (int i = 0; ok && i < keycam_count(); i++) {
    const Keyframe *k = keycam_get(i);
    if (data_printf(f, "%.4f %.4f %.4f %.4f %.4f %.4f %.4f %.2f %d\n", k->pos[0], k->pos[1],
                    k->pos[2], k->rot[0], k->rot[1], k->rot[2], k->rot[3], k->fov, k->tic) < 0)
      ok = 0;
  }
  if (f && !ok) data_abandon(f);
  else if (f) ok = data_commit(f);
  add_message(ok ? "Camera keys saved" : "Error saving camera keys");
}

void toggle_keycam(const char *) { toggle_notice("Keycam mode", &keyframe_mode); }

void toggle_display(const char *label, int *config_flag, int *settings_flag) {
  toggle_notice(label, config_flag);
  *settings_flag = *config_flag;
}
void toggle_fps(const char *) { toggle_display("FPS display", &config.draw_fps, &settings.draw_fps); }
void toggle_time(const char *) {
  toggle_display("Time display", &config.draw_time, &settings.draw_time);
}
void toggle_ping(const char *) {
  toggle_display("Ping display", &config.draw_ping, &settings.draw_ping);
}
void toggle_spam(const char *) { toggle_notice("Hide spam", &messages.hide_spam); }
void toggle_speed(const char *) {
  toggle_display("Speed display", &config.draw_speed, &settings.draw_speed);
}

enum { SEND_NAME_MAX = 64 };

void send_file(const char *args) {
  char name[SEND_NAME_MAX + 2];
  args = skip_space(args);
  size_t n = strcspn(args, " \t\r\n");
  // Only letters, digits, "_" and "."; a name of dots alone would leave the
  // folder.
  bool plain = n > 0 && strspn(args, ".") < n;
  for (size_t i = 0; i < n; i++) {
    unsigned char c = static_cast<unsigned char>(args[i]);
    if (!isalnum(c) && c != '_' && c != '.') plain = false;
  }
  if (!plain) {
    add_message("Filename may only contain alphanumeric characters, '_' or '.'");
    return;
  }
  if (n > SEND_NAME_MAX) {
    add_message("Filename too long");
    return;
  }
  memcpy(name, args, n);
  name[n] = 0;
  if (net_upload_active()) {
    add_message("Stopping previous transfer");
    net_upload_stop();
  }
  char path[SEND_NAME_MAX + 16];
  snprintf(path, sizeof path, "@outgoing/%s", name);
  DataFile *f = data_open(path, "rb");
  if (!f) {
    add_message("Can't open file");
    return;
  }
  data_close(f);
  add_message("Sending file");
  if (!net_connected()) add_message("Not connected to server");
  net_upload_start(path);
}

void list_files(const char *args) {
  char pattern[256];
  if (!first_word(args, pattern, sizeof pattern)) pattern[0] = 0;
  file_index_build();
  char line[1200];
  for (int i = 0; file_index_describe(i, line, sizeof line); i++) {
    if (pattern[0]) {
      // Case-insensitive containment.
      bool found = false;
      size_t k = strlen(pattern);
      for (const char *p = line; *p && !found; p++) found = !strncasecmp(p, pattern, k);
      if (!found) continue;
    }
    add_message(line);
  }
}

void message_line_count(const char *args) {
  int v;
  if (scan_int(args, &v)) config.message_lines = int(clampd(v, 0, MESSAGE_RING));
  if (messages.showing > config.message_lines) messages.showing = config.message_lines;
  add_messagef("Maximum showing messages is now %d", config.message_lines);
}

void demo_backup_count(const char *args) {
  int v;
  if (scan_int(args, &v)) config.demo_backups = v < 0 ? 0 : v;
  demo_set_backups(config.demo_backups);
  add_messagef("Now keeping %d demo backups", config.demo_backups);
}

void map_scale(const char *args) {
  double v;
  if (scan_number(args, &v)) config.map_scale = clampd(v, 0.125, 8);
  add_messagef("Map scale set to %f", config.map_scale);
}

void height_volume(const char *) {
  double sum = 0;
  if (terrain.heights)
    for (size_t i = 0; i < size_t(terrain.size) * size_t(terrain.size); i++)
      sum += terrain.heights[i];
  add_messagef("%f\n", sum);
}

// The ground notices the change at its next texture step and redraws
// every detail level.
void toggle_decals(const char *) {
  decals_toggle();
  console_state.hide_decals = decals_hidden;
}

void clear_log(const char *) { contact_labels_clear(); }

void contact_log(const char *args) {
  const char *p = skip_space(args);
  int flags = 0;
  while (isalpha(static_cast<unsigned char>(*p))) {
    if (*p == 'e') flags |= 1;
    p++;
  }
  double spacing;
  if (scan_number(p, &spacing)) console_state.log_spacing = spacing;
  console_state.log_flags = flags;
  contact_labels_set(flags, console_state.log_spacing);
  add_messagef("Logging 0x%x, spacing %f", flags, console_state.log_spacing);
}

void report_stutter(const char *args) {
  double v;
  if (scan_number(args, &v)) loop.stutter_threshold = v;
  add_messagef("Stutter threshold set to %f", loop.stutter_threshold);
}

enum Match { EXACT, PREFIX, WORD };

struct Command {
  const char *name;
  Match match;
  CommandFn run;
};

const Command COMMANDS[] = {
    {"savetrackinfo", EXACT, save_track_info},
    {"renderstats", EXACT, render_stats},
    {"togglespy", EXACT, toggle_spy},
    {"togglegraph", EXACT, toggle_graph},
    {"bbopt", PREFIX, billboard_window},
    {"pipe", PREFIX, pipe},
    {"namedemo", PREFIX, name_demo},
    {"camangle", PREFIX, cam_angle},
    {"fov", PREFIX, field_of_view},
    {"fpshist", PREFIX, fps_histogram},
    {"saveframetimes", EXACT, save_frame_times},
    {"forcereload", EXACT, force_reload},
    {"readsetup", PREFIX, read_setup_command},
    {"writesetup", PREFIX, write_setup_command},
    {"randdump", EXACT, rand_dump},
    {"addkey", EXACT, add_key},
    {"deletekey", EXACT, delete_key},
    {"rmkey", EXACT, delete_key},
    {"clearkeys", EXACT, clear_keys},
    {"listkeys", EXACT, list_keys},
    {"readkeys", PREFIX, read_keys},
    {"writekeys", PREFIX, write_keys},
    {"togglekeycam", EXACT, toggle_keycam},
    {"togglefps", EXACT, toggle_fps},
    {"toggletime", EXACT, toggle_time},
    {"toggleping", EXACT, toggle_ping},
    {"togglespam", EXACT, toggle_spam},
    {"togglespeed", EXACT, toggle_speed},
    {"sendfile", WORD, send_file},
    {"listfiles", WORD, list_files},
    {"messagelines", WORD, message_line_count},
    {"demobackups", WORD, demo_backup_count},
    {"mapscale", WORD, map_scale},
    {"hfvol", EXACT, height_volume},
    {"toggledecals", EXACT, toggle_decals},
    {"clearlog", WORD, clear_log},
    {"log", WORD, contact_log},
    {"reportstutter", WORD, report_stutter},
};

// The arguments when the command text matches, else null.
const char *match(const Command &c, const char *text) {
  size_t n = strlen(c.name);
  switch (c.match) {
    case EXACT: return strcmp(text, c.name) ? nullptr : text + n;
    case PREFIX: return strncmp(text, c.name, n) ? nullptr : text + n;
    case WORD: {
      const char *t = skip_space(text);
      if (strncmp(t, c.name, n) || (t[n] && !isspace(static_cast<unsigned char>(t[n]))))
        return nullptr;
      return t + n;
    }
  }
  return nullptr;
}

int chat(const char *text) {
  if (loop.game_clock - messages.last_chat < 2) {
    add_message("No one likes a spammer");
    return 0;
  }
  messages.last_chat = loop.game_clock;
  if (!net_connected()) {
    add_message("Not connected to server");
    return 1;
  }
  char line[256];
  snprintf(line, sizeof line, "%s", text);
  net_send_chat(line);
  return 1;
}

}  // namespace

int console_line(const char *text) {
  if (text[0] != '/' && text[0] != '\\') return chat(text);
  const char *command = text + 1;
  for (const Command &c : COMMANDS)
    if (const char *args = match(c, command)) {
      c.run(args);
      return 1;
    }
  return 0;
}
