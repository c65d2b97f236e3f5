// The command line and the detail settings derived from the configuration.
#include <cmath>
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

namespace {

enum Kind {
  FLAG,    // exact spelling only
  INT,     // "%d", "Bad arg" when it does not scan
  INT_KEEP,  // "%d", keeps the previous value when it does not scan
  ATOI,    // atoi: no check, empty gives 0
  FLOAT,   // "%f", finite, "Bad arg" otherwise
  TEXT,
};

struct Option {
  const char *name;
  Kind kind;
  const char *help;
};

// In the order "--help" lists them.
const Option OPTIONS[] = {
    {"--fugly", FLAG, "plain drawing"},
    {"--nosound", FLAG, "open no audio device"},
    {"--novertexarrays", FLAG, "accepted for old scripts; does nothing"},
    {"--learn", FLAG, "save the robots' learned racing lines at exit"},
    {"--nolearn", FLAG, "turn --learn off again"},
    {"--debug", FLAG, "verbose log"},
    {"--super-debug", FLAG, "very verbose log"},
    {"--practice", FLAG, "practice races"},
    {"--warp", FLAG, "frames advance 100 tics; finished races restart at once"},
    {"--texture-detail", INT, "N: texture reduction level 0..4"},
    {"--ground-texture-detail", INT, "N: ground texture reduction level 0..4"},
    {"--roostfrequency", INT, "N: roost frequency 0..1000"},
    {"--erode", FLOAT, "X: automatic erosion amount 0..100"},
    {"--detail", FLOAT, "X: terrain detail"},
    {"--max-detail-distance", FLOAT, "X: terrain maximum detail distance"},
    {"--lod-scale", FLOAT, "X: model level-of-detail scale"},
    {"--lod-bias", FLOAT, "X: model level-of-detail bias"},
    {"--lock-fps", FLOAT, "F: fixed frame rate"},
    {"--fake-lag", FLOAT, "MS: simulated network delay"},
    {"--fake-loss", INT, "PERCENT: simulated packet loss"},
    {"--record-audio", TEXT, "FILE: write the mixed audio to FILE"},
    {"--record-video", FLAG, "write every frame to standard output as PPM"},
    {"--rotate-lineup", INT_KEEP, "N: lineup rotation for menu races"},
    {"--editor", FLAG, "Tab reaches the track editor"},
    {"--hidden-pause", FLAG, "do not draw \"Paused\""},
    {"--hidden-hud", FLAG, "do not draw the HUD and results"},
    {"--bikes", TEXT, "X: no longer does anything"},
    {"--width", INT_KEEP, "N: window width in windowed mode"},
    {"--height", INT_KEEP, "N: window height in windowed mode"},
    {"--depth", ATOI, "BITS: colour depth"},
    {"--zdepth", ATOI, "BITS: depth-buffer bits"},
    {"--draw-fps", ATOI, "0/1: frame-rate display"},
    {"--draw-time", ATOI, "0/1: time display"},
    {"--draw-ping", ATOI, "0/1: ping display"},
    {"--draw-speed", ATOI, "0/1: speed display"},
    {"--draw-render-stats", ATOI, "0/1: render statistics display"},
    {"--accurate-skip", FLAG, "accurate demo skipping"},
    {"--track", TEXT, "NAME: track to load at start"},
    {"--connect", TEXT, "ADDRESS: connect to this server at start"},
    {"--password", TEXT, "TEXT: server password"},
    {"--chase-center", TEXT, "X,Y,Z: point the orbit camera aims at"},
    {"--open-home", FLAG, "open the home folder and end"},
    {"--glfinish", FLAG, "wait for the GL to finish every frame"},
    {"--glversion", TEXT, "M.N[compatibility|core|es]: GL version to request"},
    {"--print-orientation", FLAG, "log the rider camera's orientation"},
    {"--sse2", FLAG, "accepted and ignored"},
    {"--headless", FLAG, "run without a window, GL or audio"},
    {"--seed", TEXT, "N: fixed random seed instead of the calendar time"},
    {"--tics", TEXT, "N: end after N tics"},
    {"--exit-after-race", FLAG, "end when the race is over"},
    {"--help", FLAG, "show this text and end"},
};

const Option *find_option(const char *arg, const char **value) {
  *value = nullptr;
  for (const Option &o : OPTIONS) {
    size_t n = strlen(o.name);
    if (strncmp(arg, o.name, n) != 0) continue;
    if (arg[n] == 0) return &o;
    if (o.kind != FLAG && arg[n] == '=') {
      *value = arg + n + 1;
      return &o;
    }
  }
  return nullptr;
}

bool scan_int(const char *v, int *out) { return sscanf(v, "%d", out) == 1; }

bool scan_float(const char *v, float *out) {
  return sscanf(v, "%f", out) == 1 && std::isfinite(*out);
}

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

void bad_arg(std::string *errors, const char *name) {
  *errors += "Bad arg for ";
  *errors += name;
  *errors += "\n";
}

// Applies one option with its value ("" when it was the last argument).
// Returns 0 on success, 1 after writing the error.
int apply(const Option &o, const char *v, Settings *s, std::string *errors) {
  const char *n = o.name;
  int i;
  float f;
  if (o.kind == FLAG) {
    if (!strcmp(n, "--fugly")) s->fugly = 1;
    else if (!strcmp(n, "--nosound")) s->nosound = 1;
    else if (!strcmp(n, "--novertexarrays")) s->novertexarrays = 1;
    else if (!strcmp(n, "--learn")) s->learn = 1;
    else if (!strcmp(n, "--nolearn")) s->learn = 0;
    else if (!strcmp(n, "--debug")) s->verbosity = 1;
    else if (!strcmp(n, "--super-debug")) s->verbosity = 2;
    else if (!strcmp(n, "--practice")) s->practice = 1;
    else if (!strcmp(n, "--warp")) s->warp = 1;
    else if (!strcmp(n, "--record-video")) s->record_video = 1;
    else if (!strcmp(n, "--editor")) s->editor = 1;
    else if (!strcmp(n, "--hidden-pause")) s->hidden_pause = 1;
    else if (!strcmp(n, "--hidden-hud")) s->hidden_hud = 1;
    else if (!strcmp(n, "--accurate-skip")) s->accurate_skip = 1;
    else if (!strcmp(n, "--open-home")) s->open_home = 1;
    else if (!strcmp(n, "--glfinish")) s->glfinish = 1;
    else if (!strcmp(n, "--print-orientation")) s->print_orientation = 1;
    else if (!strcmp(n, "--headless")) s->headless = 1;
    else if (!strcmp(n, "--exit-after-race")) s->exit_after_race = 1;
    else if (!strcmp(n, "--help")) s->help = 1;
    return 0;  // "--sse2" is accepted and ignored
  }
  if (o.kind == INT || o.kind == INT_KEEP) {
    bool ok = scan_int(v, &i);
    if (!ok) {
      if (o.kind == INT_KEEP) return 0;
      bad_arg(errors, n);
      return 1;
    }
    if (!strcmp(n, "--texture-detail")) {
      s->model_texture_reduction = s->ground_texture_reduction = clampi(i, 0, 4);
    } else if (!strcmp(n, "--ground-texture-detail")) {
      s->ground_texture_reduction = clampi(i, 0, 4);
    } else if (!strcmp(n, "--roostfrequency")) {
      s->roost_frequency = float(clampi(i, 0, 1000));
    } else if (!strcmp(n, "--fake-loss")) {
      s->fake_loss = clampi(i, 0, 100);
    } else if (!strcmp(n, "--rotate-lineup")) {
      s->rotate_lineup = i;
    } else if (!strcmp(n, "--width")) {
      s->width = i;
    } else if (!strcmp(n, "--height")) {
      s->height = i;
    }
    return 0;
  }
  if (o.kind == ATOI) {
    i = atoi(v);
    if (!strcmp(n, "--depth")) s->depth = i;
    else if (!strcmp(n, "--zdepth")) s->zdepth = i;
    else if (!strcmp(n, "--draw-fps")) s->draw_fps = i;
    else if (!strcmp(n, "--draw-time")) s->draw_time = i;
    else if (!strcmp(n, "--draw-ping")) s->draw_ping = i;
    else if (!strcmp(n, "--draw-speed")) s->draw_speed = i;
    else if (!strcmp(n, "--draw-render-stats")) s->draw_render_stats = i;
    return 0;
  }
  if (o.kind == FLOAT) {
    // Non-finite values would slip through the clamps below.
    if (!scan_float(v, &f)) {
      bad_arg(errors, n);
      return 1;
    }
    if (!strcmp(n, "--erode")) {
      s->erode = int(floorf(clampf(f, 0, 100) * 1024));
    } else if (!strcmp(n, "--detail")) {
      s->terrain_detail = f;
    } else if (!strcmp(n, "--max-detail-distance")) {
      s->max_detail_distance = f;
      s->fade_distance = f + 5;
    } else if (!strcmp(n, "--lod-scale")) {
      s->lod_scale = clampf(f, 0.000001f, 1000000.0f);
    } else if (!strcmp(n, "--lod-bias")) {
      s->lod_bias = f;
    } else if (!strcmp(n, "--lock-fps")) {
      s->lock_fps = f;
    } else if (!strcmp(n, "--fake-lag")) {
      s->fake_lag = clampf(f / 1000, 0, 1);
    }
    return 0;
  }
  // Text options.
  if (!strcmp(n, "--record-audio")) {
    s->record_audio = v;
    s->record_audio_given = 1;
  } else if (!strcmp(n, "--bikes")) {
    *errors += "--bikes doesn't do anything anymore\n";
  } else if (!strcmp(n, "--track")) {
    s->track = v;
  } else if (!strcmp(n, "--connect")) {
    if (!strncmp(v, "tarnwick:", 9)) v += 9;
    s->connect = v;
    s->connect_given = 1;
  } else if (!strcmp(n, "--password")) {
    s->password = v;
  } else if (!strcmp(n, "--chase-center")) {
    float c[3];
    if (sscanf(v, "%f,%f,%f", &c[0], &c[1], &c[2]) != 3 || !std::isfinite(c[0]) ||
        !std::isfinite(c[1]) || !std::isfinite(c[2])) {
      bad_arg(errors, n);
      return 1;
    }
    for (int k = 0; k < 3; k++) s->chase_center[k] = c[k];
  } else if (!strcmp(n, "--glversion")) {
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
  } else if (!strcmp(n, "--seed")) {
    uint64_t seed;
    if (!scan_count(v, 0xffffffffu, &seed)) {
      bad_arg(errors, n);
      return 1;
    }
    s->seed = uint32_t(seed);
    s->seed_given = 1;
  } else if (!strcmp(n, "--tics")) {
    uint64_t t;
    if (!scan_count(v, uint64_t(INT64_MAX), &t) || t == 0) {
      bad_arg(errors, n);
      return 1;
    }
    s->tics_limit = int64_t(t);
  }
  return 0;
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
    const Option *o = find_option(arg, &value);
    if (!o) {
      *errors += "bad option '";
      *errors += arg;
      *errors += "'\n";
      return 1;
    }
    if (o->kind != FLAG && !value) value = a + 1 < argc ? argv[++a] : "";
    if (apply(*o, value, s, errors)) return 1;
  }
  if (s->connect_given) s->track.clear();
  return 0;
}

const char *command_line_help() {
  static std::string text;
  if (text.empty()) {
    text = "usage: tarnwick [options] [--] [demo file]\n";
    for (const Option &o : OPTIONS) {
      char line[200];
      snprintf(line, sizeof line, "  %-26s %s\n", o.name, o.help);
      text += line;
    }
  }
  return text.c_str();
}
