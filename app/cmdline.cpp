// The command line, read through the option table, and the detail settings
// derived from the configuration.
#include "app/cmdline.h"

#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/app.h"
#include "core/mathutil.h"

Settings settings;
Config config;

void derive_detail_settings(const Config &c, Settings *s) {
  // A zero ground detail would divide by zero; the menu's smallest step wins.
  double gd = c.ground_detail < 1 ? 1 : c.ground_detail;
  s->terrain_detail = float(0.125 / gd);
  s->model_texture_reduction = clampi(int(10 - c.model_texture_detail), 0, 10);
  s->ground_texture_reduction = clampi(int(10 - c.ground_texture_detail), 0, 10);
  s->ground_texture_size = 128 << clampi(c.ground_texture_dim_new, 0, 5);
  double md = c.model_detail < 0 ? 0 : c.model_detail > 100 ? 100 : c.model_detail;
  double scale = 0.02 * (100 - md);
  if (scale > 1) scale = scale * scale * scale;
  s->lod_scale = float(scale);
  double b = (c.model_detail - 10) * 0.05;
  b = b < 0 ? 0 : b > 1 ? 1 : b;
  s->lod_bias = float(50 - 50 * b);
  s->roost_frequency = float(int(c.roost_density));
  s->texture_compress = c.texture_compress;
  s->reflections = c.reflections;
}

// ------------------------------------------------------------------ values
namespace {

double limit(double v, double lo, double hi) { return v < lo ? lo : v > hi ? hi : v; }

// A whole unsigned decimal number (used by the batch options).
bool scan_count(const char *v, uint64_t limit, uint64_t *out) {
  if (!*v) return false;
  uint64_t n = 0;
  for (const char *p = v; *p; p++) {
    if (*p < '0' || *p > '9') return false;
    n = n * 10 + uint64_t(*p - '0');
    if (n > limit) return false;
  }
  *out = n;
  return true;
}

int bad_arg(const OptionDef &o, std::string *errors) {
  *errors += "Bad arg for ";
  *errors += o.name;
  *errors += "\n";
  return 1;
}

// ------------------------------------------------------- irregular options
int both_texture_levels(const OptionDef &o, const char *, double v, Settings *s, std::string *) {
  option_store(o, v, s);
  s->ground_texture_reduction = s->model_texture_reduction;
  return 0;
}

int fade_follows(const OptionDef &o, const char *, double v, Settings *s, std::string *) {
  option_store(o, v, s);
  s->fade_distance = s->max_detail_distance + 5;
  return 0;
}

// 0 or less turns the lock off; any other rate is kept to a sane range, as a
// rate near zero would wait for ages between frames.
int lock_rate(const OptionDef &o, const char *, double v, Settings *s, std::string *) {
  if (v <= 0) s->lock_fps = 0;
  else option_store(o, v, s);
  return 0;
}

int no_longer_used(const OptionDef &o, const char *, double, Settings *, std::string *errors) {
  *errors += o.name;
  *errors += " doesn't do anything anymore\n";
  return 0;
}

int server_address(const OptionDef &, const char *v, double, Settings *s, std::string *) {
  if (!strncmp(v, "tarnwick:", 9)) v += 9;
  s->connect = v;
  return 0;
}

int chase_point(const OptionDef &o, const char *v, double, Settings *s, std::string *errors) {
  float c[3];
  if (sscanf(v, "%f,%f,%f", &c[0], &c[1], &c[2]) != 3 || !std::isfinite(c[0]) ||
      !std::isfinite(c[1]) || !std::isfinite(c[2]))
    return bad_arg(o, errors);
  for (int k = 0; k < 3; k++) s->chase_center[k] = c[k];
  return 0;
}

int gl_version(const OptionDef &, const char *v, double, Settings *s, std::string *errors) {
  int major, minor;
  char word[16] = "";
  int got = sscanf(v, "%d.%d%15s", &major, &minor, word);
  if (got < 2) {
    *errors += "bad arg for --glversion\n";
    return 1;
  }
  int dialect = 0;
  if (got == 3) {
    if (!strcmp(word, "compatibility")) dialect = 0;
    else if (!strcmp(word, "core")) dialect = 1;
    else if (!strcmp(word, "es")) dialect = 2;
    else {
      *errors += "unknown OpenGL dialect for --glversion (must be 'compatibility', 'core' or 'es')\n";
      return 1;
    }
  }
  s->gl_major = major;
  s->gl_minor = minor;
  s->gl_dialect = dialect;
  return 0;
}

int random_seed(const OptionDef &o, const char *v, double, Settings *s, std::string *errors) {
  uint64_t seed;
  if (!scan_count(v, 0xffffffffu, &seed)) return bad_arg(o, errors);
  s->seed = uint32_t(seed);
  return 0;
}

int tic_count(const OptionDef &o, const char *v, double, Settings *s, std::string *errors) {
  uint64_t t;
  if (!scan_count(v, uint64_t(INT64_MAX), &t) || t == 0) return bad_arg(o, errors);
  s->tics_limit = int64_t(t);
  return 0;
}

// Gates 1..40 as one text: H the local player, R a robot, 2 and 4 two- and
// four-stroke robots, . empty.
int race_slots(const OptionDef &o, const char *v, double, Settings *s, std::string *errors) {
  size_t n = strlen(v);
  if (n < 1 || n > 40 || strspn(v, "HR24.") != n) return bad_arg(o, errors);
  s->race_slots = v;
  return 0;
}

int skill_name(const OptionDef &o, const char *v, double, Settings *s, std::string *errors) {
  static const char *const names[] = {"novice", "amateur", "expert"};
  for (int i = 0; i < 3; i++)
    if (!strcmp(v, names[i])) {
      s->race_skill = i;
      return 0;
    }
  return bad_arg(o, errors);
}

int drive_source(const OptionDef &o, const char *v, double, Settings *s, std::string *errors) {
  if (!*v) return bad_arg(o, errors);
  s->drive = v;
  return 0;
}

// Repeatable: every line is kept, in order.
int console_command(const OptionDef &o, const char *v, double, Settings *s, std::string *errors) {
  if (!*v) return bad_arg(o, errors);
  s->console_lines.push_back(v);
  return 0;
}

}  // namespace

// ------------------------------------------------------------------- table
#define AT(member) value_at(&Settings::member)

const OptionDef OPTION_TABLE[] = {
    {.name = "--fugly", .kind = OPT_FLAG, .to = AT(fugly), .help = "plain drawing"},
    {.name = "--nosound", .kind = OPT_FLAG, .to = AT(nosound), .help = "open no audio device"},
    {.name = "--novertexarrays", .kind = OPT_FLAG, .to = AT(novertexarrays),
     .help = "accepted for old scripts; does nothing"},
    {.name = "--learn", .kind = OPT_FLAG, .to = AT(learn),
     .help = "save the robots' learned racing lines at exit"},
    {.name = "--nolearn", .kind = OPT_FLAG, .to = AT(learn), .flag_value = 0,
     .help = "turn --learn off again"},
    {.name = "--debug", .kind = OPT_FLAG, .to = AT(verbosity), .help = "verbose log"},
    {.name = "--super-debug", .kind = OPT_FLAG, .to = AT(verbosity), .flag_value = 2,
     .help = "very verbose log"},
    {.name = "--practice", .kind = OPT_FLAG, .to = AT(practice), .help = "practice races"},
    {.name = "--warp", .kind = OPT_FLAG, .to = AT(warp),
     .help = "frames advance 100 tics; finished races restart at once"},
    {.name = "--texture-detail", .kind = OPT_INT, .to = AT(model_texture_reduction), .lo = 0,
     .hi = 4, .special = both_texture_levels, .help = "N: texture reduction level"},
    {.name = "--ground-texture-detail", .kind = OPT_INT, .to = AT(ground_texture_reduction),
     .lo = 0, .hi = 4, .help = "N: ground texture reduction level"},
    {.name = "--roostfrequency", .kind = OPT_INT, .to = AT(roost_frequency), .lo = 0, .hi = 1000,
     .help = "N: roost frequency"},
    {.name = "--erode", .kind = OPT_FLOAT, .to = AT(erode), .scale = 1024, .lo = 0,
     .hi = 100 * 1024, .help = "X: automatic erosion amount"},
    {.name = "--detail", .kind = OPT_FLOAT, .to = AT(terrain_detail), .help = "X: terrain detail"},
    {.name = "--max-detail-distance", .kind = OPT_FLOAT, .to = AT(max_detail_distance),
     .special = fade_follows, .help = "X: terrain maximum detail distance"},
    {.name = "--lod-scale", .kind = OPT_FLOAT, .to = AT(lod_scale), .lo = 0.000001, .hi = 1000000,
     .help = "X: model level-of-detail scale"},
    {.name = "--lod-bias", .kind = OPT_FLOAT, .to = AT(lod_bias),
     .help = "X: model level-of-detail bias"},
    {.name = "--lock-fps", .kind = OPT_FLOAT, .to = AT(lock_fps), .lo = 1, .hi = 1000,
     .special = lock_rate, .help = "F: fixed frame rate, 0 for none"},
    {.name = "--fake-lag", .kind = OPT_FLOAT, .to = AT(fake_lag), .scale = 0.001, .lo = 0, .hi = 1,
     .help = "MS: simulated network delay"},
    {.name = "--fake-loss", .kind = OPT_INT, .to = AT(fake_loss), .lo = 0, .hi = 100,
     .help = "PERCENT: simulated packet loss"},
    {.name = "--record-audio", .kind = OPT_TEXT, .to = AT(record_audio),
     .given = &Settings::record_audio_given, .help = "FILE: write the mixed audio to FILE"},
    {.name = "--record-video", .kind = OPT_FLAG, .to = AT(record_video),
     .help = "write every frame to standard output as PPM"},
    {.name = "--rotate-lineup", .kind = OPT_INT_KEEP, .to = AT(rotate_lineup),
     .help = "N: lineup rotation for menu races"},
    {.name = "--editor", .kind = OPT_FLAG, .to = AT(editor), .help = "Tab reaches the track editor"},
    {.name = "--hidden-pause", .kind = OPT_FLAG, .to = AT(hidden_pause),
     .help = "do not draw \"Paused\""},
    {.name = "--hidden-hud", .kind = OPT_FLAG, .to = AT(hidden_hud),
     .help = "do not draw the HUD and results"},
    {.name = "--bikes", .kind = OPT_TEXT, .special = no_longer_used,
     .help = "X: no longer does anything"},
    {.name = "--width", .kind = OPT_INT_KEEP, .to = AT(width), .help = "N: window width in windowed mode"},
    {.name = "--height", .kind = OPT_INT_KEEP, .to = AT(height),
     .help = "N: window height in windowed mode"},
    {.name = "--depth", .kind = OPT_ATOI, .to = AT(depth), .help = "BITS: colour depth"},
    {.name = "--zdepth", .kind = OPT_ATOI, .to = AT(zdepth), .help = "BITS: depth-buffer bits"},
    {.name = "--draw-fps", .kind = OPT_ATOI, .to = AT(draw_fps), .help = "0/1: frame-rate display"},
    {.name = "--draw-time", .kind = OPT_ATOI, .to = AT(draw_time), .help = "0/1: time display"},
    {.name = "--draw-ping", .kind = OPT_ATOI, .to = AT(draw_ping), .help = "0/1: ping display"},
    {.name = "--draw-speed", .kind = OPT_ATOI, .to = AT(draw_speed), .help = "0/1: speed display"},
    {.name = "--draw-render-stats", .kind = OPT_ATOI, .to = AT(draw_render_stats),
     .help = "0/1: render statistics display"},
    {.name = "--accurate-skip", .kind = OPT_FLAG, .to = AT(accurate_skip),
     .help = "accurate demo skipping"},
    {.name = "--track", .kind = OPT_TEXT, .to = AT(track), .help = "NAME: track to load at start"},
    {.name = "--connect", .kind = OPT_TEXT, .to = AT(connect), .given = &Settings::connect_given,
     .special = server_address, .help = "ADDRESS: connect to this server at start"},
    {.name = "--password", .kind = OPT_TEXT, .to = AT(password), .help = "TEXT: server password"},
    {.name = "--chase-center", .kind = OPT_TEXT, .special = chase_point,
     .help = "X,Y,Z: point the orbit camera aims at"},
    {.name = "--open-home", .kind = OPT_FLAG, .to = AT(open_home),
     .help = "open the home folder and end"},
    {.name = "--glfinish", .kind = OPT_FLAG, .to = AT(glfinish),
     .help = "wait for the GL to finish every frame"},
    {.name = "--glversion", .kind = OPT_TEXT, .special = gl_version,
     .help = "M.N[compatibility|core|es]: GL version to request"},
    {.name = "--print-orientation", .kind = OPT_FLAG, .to = AT(print_orientation),
     .help = "log the rider camera's orientation"},
    {.name = "--sse2", .kind = OPT_FLAG, .help = "accepted and ignored"},
    {.name = "--headless", .kind = OPT_FLAG, .to = AT(headless),
     .help = "run without a window, GL or audio"},
    {.name = "--seed", .kind = OPT_TEXT, .given = &Settings::seed_given, .special = random_seed,
     .help = "N: fixed random seed instead of the calendar time (headless runs: 0 unless given)"},
    {.name = "--tics", .kind = OPT_TEXT, .special = tic_count, .help = "N: end after N tics"},
    {.name = "--exit-after-race", .kind = OPT_FLAG, .to = AT(exit_after_race),
     .help = "end when the race is over"},
    {.name = "--race", .kind = OPT_TEXT, .given = &Settings::race_given, .special = race_slots,
     .help = "SLOTS: start a race, a character per gate: H you, R robot, 2/4 two-/four-stroke "
             "robot, . empty"},
    {.name = "--minutes", .kind = OPT_INT, .to = AT(race_minutes), .lo = 0, .hi = 600,
     .help = "N: race length in minutes (then --laps more)"},
    {.name = "--laps", .kind = OPT_INT, .to = AT(race_laps), .lo = 0, .hi = 1000,
     .help = "N: race length in laps"},
    {.name = "--skill", .kind = OPT_TEXT, .special = skill_name,
     .help = "novice|amateur|expert: the robots' lines"},
    {.name = "--record-demo", .kind = OPT_FLAG, .to = AT(record_demo),
     .help = "record the race started by --race as a demo"},
    {.name = "--time-trial", .kind = OPT_FLAG, .to = AT(time_trial),
     .help = "start a time trial: alone, flying laps"},
    {.name = "--drive", .kind = OPT_TEXT, .special = drive_source,
     .help = "follow|FILE: the local player is ridden by the planned rider of the default "
             "course, or by a control script"},
    {.name = "--print-hash", .kind = OPT_FLAG, .to = AT(print_hash),
     .help = "print the world hash at the end of a headless run"},
    {.name = "--console", .kind = OPT_TEXT, .special = console_command,
     .help = "\"LINE\": run a console line once start-up is done (repeatable), e.g. "
             "\"/fov 90\""},
    {.name = "--help", .kind = OPT_FLAG, .to = AT(help), .help = "show this text and end"},
};
const int OPTION_COUNT = int(sizeof OPTION_TABLE / sizeof OPTION_TABLE[0]);

#undef AT

// ------------------------------------------------------------------ setting
const OptionDef *option_find(const char *name) {
  for (const OptionDef &o : OPTION_TABLE)
    if (!strcmp(o.name, name)) return &o;
  return nullptr;
}

void option_store(const OptionDef &o, double v, Settings *s) {
  v *= o.scale;
  if (o.lo < o.hi) v = limit(v, o.lo, o.hi);
  switch (o.to.type) {
    case VAL_INT:
      // Rounded down, and never past what an int holds.
      s->*o.to.i = int(limit(floor(v), double(INT_MIN), double(INT_MAX)));
      break;
    case VAL_FLOAT: s->*o.to.f = float(v); break;
    case VAL_DOUBLE: s->*o.to.d = v; break;
    case VAL_TEXT:
    case VAL_NONE: break;
  }
}

int option_set(const OptionDef &o, const char *text, Settings *s, std::string *errors) {
  double value = 0;
  switch (o.kind) {
    case OPT_FLAG:
      value = o.flag_value;
      break;
    case OPT_INT:
    case OPT_INT_KEEP: {
      int i;
      if (sscanf(text, "%d", &i) != 1) return o.kind == OPT_INT ? bad_arg(o, errors) : 0;
      value = i;
      break;
    }
    case OPT_ATOI:
      value = atoi(text);
      break;
    case OPT_FLOAT: {
      // Non-finite values would slip through every range.
      float f;
      if (sscanf(text, "%f", &f) != 1 || !std::isfinite(f)) return bad_arg(o, errors);
      value = f;
      break;
    }
    case OPT_TEXT:
      break;
  }
  if (o.special) {
    if (o.special(o, text, value, s, errors)) return 1;
  } else if (o.to.type == VAL_TEXT) {
    s->*o.to.s = text;
  } else {
    option_store(o, value, s);
  }
  if (o.given) s->*o.given = 1;
  return 0;
}

// ----------------------------------------------------------- command line
namespace {

// The option an argument names, with its joined value ("--width=800").
const OptionDef *match_option(const char *arg, const char **value) {
  *value = nullptr;
  for (const OptionDef &o : OPTION_TABLE) {
    size_t n = strlen(o.name);
    if (strncmp(arg, o.name, n) != 0) continue;
    if (arg[n] == 0) return &o;
    if (o.kind != OPT_FLAG && arg[n] == '=') {
      *value = arg + n + 1;
      return &o;
    }
  }
  return nullptr;
}

}  // namespace

int parse_command_line(int argc, const char *const *argv, Settings *s, std::string *errors) {
  bool files_only = false;
  bool have_file = false;
  for (int a = 0; a < argc; a++) {
    const char *arg = argv[a];
    if (files_only || arg[0] != '-') {
      if (have_file) {
        *errors += "Too many files!\n";
        return 1;
      }
      s->demo_file = arg;
      have_file = true;
      continue;
    }
    if (!strcmp(arg, "--")) {
      files_only = true;
      continue;
    }
    const char *value;
    const OptionDef *o = match_option(arg, &value);
    if (!o) {
      *errors += "bad option '";
      *errors += arg;
      *errors += "'\n";
      return 1;
    }
    if (o->kind != OPT_FLAG && !value) value = a + 1 < argc ? argv[++a] : "";
    if (option_set(*o, value ? value : "", s, errors)) return 1;
  }
  if (s->connect_given) s->track.clear();
  const char *conflict = nullptr;
  if (s->race_given && s->time_trial)
    conflict = "--race and --time-trial are two races: give one\n";
  else if ((s->race_given || s->time_trial) && s->connect_given)
    conflict = "--race and --time-trial race here, not on a server: not with --connect\n";
  else if (s->race_laps == 0 && s->race_minutes <= 0)
    conflict = "--laps 0 leaves nothing to race without --minutes\n";
  if (conflict) {
    *errors += conflict;
    return 1;
  }
  return 0;
}

const char *command_line_help() {
  static std::string text;
  if (text.empty()) {
    text = "usage: tarnwick [options] [--] [demo file]\n";
    for (const OptionDef &o : OPTION_TABLE) {
      char line[240];
      int n = snprintf(line, sizeof line, "  %-26s %s", o.name, o.help);
      // The range as the user types the value.
      if (o.lo < o.hi && n > 0 && n < int(sizeof line))
        snprintf(line + n, sizeof line - size_t(n), " (%g..%g)", o.lo / o.scale, o.hi / o.scale);
      text += line;
      text += "\n";
    }
  }
  return text.c_str();
}
