// The rider setup: its options, the key/value reader and writer, setup
// files and the stability preset.
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "core/core.h"
#include "bike/bike.h"

namespace {

const char *const YES_NO[] = {"No", "Yes"};
const char *const BRAKES[] = {"Normal", "Antilock"};
const char *const WHEELIES[] = {"No", "Yes", "Front Only"};

SetupOption number(const char *key, const char *label, double value, double step, double minimum,
                   double maximum, char letter = 0) {
  SetupOption o{};
  o.key = key;
  o.label = label;
  o.kind = SETUP_NUMBER;
  o.value = value;
  o.step = step;
  o.minimum = minimum;
  o.maximum = maximum;
  o.letter = letter;
  return o;
}

SetupOption choice(const char *key, const char *label, const char *const *choices, int count, int selected) {
  SetupOption o{};
  o.key = key;
  o.label = label;
  o.kind = SETUP_CHOICE;
  o.choices = choices;
  o.choice_count = count;
  o.selected = selected;
  return o;
}

template <int N>
SetupOption choice(const char *key, const char *label, const char *const (&choices)[N], int selected) {
  return choice(key, label, choices, N, selected);
}

SetupOption text(const char *key, const char *label, int text_max) {
  SetupOption o{};
  o.key = key;
  o.label = label;
  o.kind = SETUP_TEXT;
  o.text_max = text_max;
  return o;
}

const char *const DEFAULT_BIKE = "yz250f(2017)";

void make_options(SetupOption *o) {
  int bike = 0;
  for (int i = 0; i < BIKE_MODEL_COUNT; i++)
    if (strcmp(bike_menu_names[i], DEFAULT_BIKE) == 0) bike = i;
  o[SETUP_BIKE] = choice("bike", "Bike", bike_menu_names, BIKE_MODEL_COUNT, bike);
  o[SETUP_NAME] = text("name", "Name", 63);
  o[SETUP_NUMBER_TEXT] = text("number", "Number", 3);
  o[SETUP_RIDER_TEXTURE] = text("rider_texture", "Riding Gear", SETUP_TEXT_SIZE - 1);
  o[SETUP_HEAD_TEXTURE] = text("head_texture", "Helmet", SETUP_TEXT_SIZE - 1);
  o[SETUP_BIKE_TEXTURE] = text("bike_texture", "Bike Graphics", SETUP_TEXT_SIZE - 1);
  o[SETUP_WHEEL_TEXTURE] = text("wheel_texture", "Wheel Graphics", SETUP_TEXT_SIZE - 1);
  o[SETUP_STABILITY] = number("stability", "Stability", 100, 1, 0, 100);
  o[SETUP_LEVELING] = number("leveling", "Leveling", 20, 1, 0, 100, 'l');
  o[SETUP_ROLL_DAMPING] = number("roll_damping", "Roll Damping", 60, 1, 0, 100, 'd');
  o[SETUP_ROLL_LIMIT_ANGLE] = number("roll_limit_angle", "Roll Limit Angle", 45, 1, 0, 180, 'a');
  o[SETUP_ROLL_LIMIT_FACTOR] = number("roll_limit_factor", "Roll Limit Factor", 10, 1, 0, 64, 'x');
  o[SETUP_STEERING_DAMPING] = number("steering_damping", "Steering Damping", 45, 1, 0, 100, 'd');
  o[SETUP_STEERING_STRENGTH] = number("steering_strength", "Steering Strength", 75, 1, 0, 100, 's');
  o[SETUP_MAX_STEERING_FORCE] = number("max_steering_force", "Max Steering Force", 400, 5, 0, 1000, 'm');
  o[SETUP_DIRECT_STEERING] = number("direct_steering", "Direct Steering", 1, 0.125, 0, 1, 'd');
  o[SETUP_SLOW_DAMPING_SPEED] = number("slow_damping_speed", "Slow Damping Speed", 40, 1, 0, 100, 's');
  o[SETUP_SLOW_DAMPING_FACTOR] = number("slow_damping_factor", "Slow Damping Factor", 2, 0.25, 1, 10, 'x');
  o[SETUP_LAND_DAMPING_RAMPUP] =
      number("land_damping_rampup", "Landing Damping Ramp Up", 0.0625, 0.0078125, 0, 0.5, 'r');
  o[SETUP_LAND_DAMPING_FALLOFF] =
      number("land_damping_falloff", "Landing Damping Falloff", 0.25, 0.0625, 0, 0.5, 'l');
  o[SETUP_LAND_DAMPING_FACTOR] = number("land_damping_factor", "Landing Damping Factor", 2, 0.25, 1, 3, 'x');
  o[SETUP_FULL_LOCK_SPEED] = number("full_lock_speed", "Full Lock Speed", 10, 1, 1, 100, 'l');
  o[SETUP_RESTRICTED_LOCK_SPEED] = number("restricted_lock_speed", "Restricted Lock Speed", 50, 1, 1, 100, 's');
  o[SETUP_RESTRICTED_LOCK] = number("restricted_lock", "Restricted Lock Angle", 7.5, 0.125, 0, 45, 'a');
  o[SETUP_ARCADE] = choice("arcade", "Arcade Physics", YES_NO, 1);
  o[SETUP_FRONT_BRAKE] = choice("front_brake", "Front Brake", BRAKES, 1);
  o[SETUP_REAR_BRAKE] = choice("rear_brake", "Rear Brake", BRAKES, 0);
  o[SETUP_STOP_WHEELIES] = choice("stop_wheelies", "Stop Wheelies", WHEELIES, 1);
  o[SETUP_AUTO_SHIFT] = choice("auto_shift", "Automatic Shifting", YES_NO, 1);
  o[SETUP_AUTO_DAB] = choice("auto_dab", "Dab When Stopped", YES_NO, 1);
  o[SETUP_AUTO_ALIGN] = choice("auto_align", "Realign After Fall", YES_NO, 1);
  o[SETUP_STICKY_DAB] = choice("sticky_dab", "Sticky Sit/Dab", YES_NO, 0);
  o[SETUP_REVERSE_STEERING] = choice("reverse_steering", "Reversed Steering", YES_NO, 1);
  o[SETUP_LEAN_INDICATOR] = choice("lean_indicator", "Lean Indicator", YES_NO, 1);
  o[SETUP_AUTO_CLUTCH_RPMS] = number("auto_clutch_rpms", "Auto Clutch RPMs", 5000, 100, 0, 5000, 'c');
  o[SETUP_BRAKE_TORQUE] = number("brake_torque", "Braking Torque (Front)", 500, 10, 0, 500, 'f');
  o[SETUP_REAR_BRAKE_TORQUE] = number("rear_brake_torque", "Braking Torque (Rear)", 250, 10, 0, 500, 'r');
  o[SETUP_MAX_DAB_SPEED] = number("max_dab_speed", "Max Dab Speed (MPH)", 60, 1, 5, 60, 'd');
  o[SETUP_FRONT_SPROCKET] = number("front_sprocket_adjustment", "Countershaft Sprocket", 0, 1, -2, 2, 'g');
  o[SETUP_REAR_SPROCKET] = number("rear_sprocket_adjustment", "Rear Sprocket", 0, 1, -2, 2, 'g');
  o[SETUP_FORK_COMPRESSION] =
      number("fork_compression_adjustment", "Fork High Speed Compression Damping", 50, 1, 0, 100, 'C');
  o[SETUP_FORK_SLOW_COMPRESSION] =
      number("fork_slow_compression_adjustment", "Fork Low Speed Compression Damping", 50, 1, 0, 100, 'c');
  o[SETUP_FORK_REBOUND] = number("fork_rebound_adjustment", "Fork High Speed Rebound Damping", 50, 1, 0, 100, 'R');
  o[SETUP_FORK_SLOW_REBOUND] =
      number("fork_slow_rebound_adjustment", "Fork Low Speed Rebound Damping", 50, 1, 0, 100, 'r');
  o[SETUP_FORK_SPRING_RATE] = number("fork_spring_rate_adjustment", "Fork Spring Rate", 50, 1, 0, 100, 's');
  o[SETUP_FORK_PRELOAD] = number("fork_preload_adjustment", "Fork Preload", 50, 1, 0, 100, 'p');
  o[SETUP_FORK_OIL_LEVEL] = number("fork_oil_level_adjustment", "Fork Oil Level", 50, 1, 0, 100, 'l');
  o[SETUP_SHOCK_COMPRESSION] =
      number("shock_compression_adjustment", "Shock High Speed Compression Damping", 75, 1, 0, 100, 'C');
  o[SETUP_SHOCK_SLOW_COMPRESSION] =
      number("shock_slow_compression_adjustment", "Shock Low Speed Compression Damping", 50, 1, 0, 100, 'c');
  o[SETUP_SHOCK_REBOUND] =
      number("shock_rebound_adjustment", "Shock High Speed Rebound Damping", 75, 1, 0, 100, 'R');
  o[SETUP_SHOCK_SLOW_REBOUND] =
      number("shock_slow_rebound_adjustment", "Shock Low Speed Rebound Damping", 50, 1, 0, 100, 'r');
  o[SETUP_SHOCK_SPRING_RATE] = number("shock_spring_rate_adjustment", "Shock Spring Rate", 50, 1, 0, 100, 's');
  o[SETUP_SHOCK_PRELOAD] = number("shock_preload_adjustment", "Shock Preload", 50, 1, 0, 100, 'p');
  o[SETUP_RIDER_YSPRING] = number("rider_yspring", "Rider Vertical Spring", 50, 1, 0, 100, 'y');
  o[SETUP_RIDER_YDAMPING] = number("rider_ydamping", "Rider Vertical Damping", 50, 1, 0, 100, 'Y');
  o[SETUP_RIDER_ZSPRING] = number("rider_zspring", "Rider Forward Spring", 50, 1, 0, 100, 'z');
  o[SETUP_RIDER_ZDAMPING] = number("rider_zdamping", "Rider Forward Damping", 50, 1, 0, 100, 'Z');
  o[SETUP_RIDER_MASS_DISTRIBUTION] =
      number("rider_mass_distribution", "Rider Mass Distribution", 0.33, 0.01, 0.33, 0.5, 'm');
}

char *text_slot(RiderSetup *s, int key) { return s->texts[key - SETUP_NAME]; }

void set_text(RiderSetup *s, int key, const char *value) {
  snprintf(text_slot(s, key), s->options[key].text_max + 1, "%s", value);
}

RiderSetup make_default() {
  RiderSetup s{};
  setup_defaults(&s);
  return s;
}

// The stability preset tables at stability 0, 20, 40, 60, 80 and 100, one
// row per value from SETUP_LEVELING on.
const double PRESET[STABILITY_VALUE_COUNT][6] = {
    {20, 20, 20, 20, 20, 20},                               // leveling
    {40, 50, 60, 70, 75, 80},                               // roll_damping
    {90, 45, 45, 45, 45, 45},                               // roll_limit_angle
    {0, 5, 10, 32, 32, 32},                                 // roll_limit_factor
    {45, 45, 45, 45, 50, 60},                               // steering_damping
    {75, 75, 75, 75, 75, 75},                               // steering_strength
    {400, 400, 400, 400, 400, 400},                         // max_steering_force
    {1, 1, 1, 1, 1, 0.125},                                 // direct_steering
    {40, 40, 40, 40, 40, 40},                               // slow_damping_speed
    {1, 1, 1.5, 2, 2, 2},                                   // slow_damping_factor
    {0.0625, 0.0625, 0.0625, 0.0625, 0.0625, 0.0625},       // land_damping_rampup
    {0, 0.125, 0.25, 0.25, 0.25, 0.25},                     // land_damping_falloff
    {1, 1.5, 2, 2, 2, 2},                                   // land_damping_factor
    {10, 10, 10, 10, 10, 10},                               // full_lock_speed
    {50, 50, 50, 50, 50, 50},                               // restricted_lock_speed
    {45, 15, 10, 5, 2.5, 1},                                // restricted_lock
};

const char *const BIKE_ALIASES[][2] = {
    {"crf250", "crf250(2008)"},
    {"kx250f", "kx250f(2008)"},
    {"rmz250", "rmz250(2008)"},
    {"yz250f", "yz250f(2008)"},
};

}  // namespace

RiderSetup rider_setup = make_default();
void (*setup_read_hook)(RiderSetup *s) = nullptr;

void setup_defaults(RiderSetup *s) {
  make_options(s->options);
  for (auto &t : s->texts) t[0] = 0;
  set_text(s, SETUP_NAME, "Joe Motocross");
  set_text(s, SETUP_NUMBER_TEXT, "999");
  for (int k = SETUP_RIDER_TEXTURE; k <= SETUP_WHEEL_TEXTURE; k++) set_text(s, k, "default");
}

int setup_find_key(const char *key) {
  static SetupOption keys[SETUP_KEY_COUNT];
  if (!keys[0].key) make_options(keys);
  if (!key) return -1;
  for (int k = 0; k < SETUP_KEY_COUNT; k++)
    if (strcmp(keys[k].key, key) == 0) return k;
  return -1;
}

const char *setup_text(const RiderSetup *s, int key) {
  if (key < 0 || key >= SETUP_KEY_COUNT || s->options[key].kind != SETUP_TEXT) return "";
  return s->texts[key - SETUP_NAME];
}

const char *setup_choice_text(const RiderSetup *s, int key) {
  if (key < 0 || key >= SETUP_KEY_COUNT) return "";
  const SetupOption &o = s->options[key];
  if (o.kind != SETUP_CHOICE || o.selected < 0 || o.selected >= o.choice_count) return "";
  return o.choices[o.selected];
}

int setup_bike_model(const RiderSetup *s) { return find_bike_model(setup_choice_text(s, SETUP_BIKE)); }

int setup_set_number(RiderSetup *s, int key, double value) {
  if (key < 0 || key >= SETUP_KEY_COUNT) return 0;
  SetupOption &o = s->options[key];
  if (o.kind != SETUP_NUMBER || !std::isfinite(value)) return 0;
  o.value = value < o.minimum ? o.minimum : value > o.maximum ? o.maximum : value;
  if (key == SETUP_STABILITY) stability_preset(s, static_cast<int>(o.value));
  return 1;
}

int set_setup_value(RiderSetup *s, const char *key_text, const char *text) {
  int key = setup_find_key(key_text);
  if (key < 0) return 0;
  if (!text) return 1;
  SetupOption &o = s->options[key];
  switch (o.kind) {
    case SETUP_NUMBER: {
      double v;
      if (sscanf(text, "%lf", &v) == 1) setup_set_number(s, key, v);
      break;
    }
    case SETUP_CHOICE:
      if (key == SETUP_BIKE)
        for (const auto &alias : BIKE_ALIASES)
          if (strcmp(text, alias[0]) == 0) text = alias[1];
      for (int i = 0; i < o.choice_count; i++)
        if (strcmp(o.choices[i], text) == 0) o.selected = i;
      break;
    case SETUP_TEXT: set_text(s, key, text); break;
  }
  return 1;
}

int write_setup(RiderSetup *s, DataFile *f) {
  int ok = 1;
  for (int k = 0; k < SETUP_KEY_COUNT; k++) {
    const SetupOption &o = s->options[k];
    int n = 0;
    switch (o.kind) {
      case SETUP_NUMBER: n = data_printf(f, "%s=%f\n", o.key, o.value); break;
      case SETUP_CHOICE: n = data_printf(f, "%s=%s\n", o.key, setup_choice_text(s, k)); break;
      case SETUP_TEXT: {
        // A line break inside a value would start a new key when read back.
        const char *t = setup_text(s, k);
        n = data_printf(f, "%s=%.*s\n", o.key, static_cast<int>(strcspn(t, "\r\n")), t);
        break;
      }
    }
    if (n < 0) ok = 0;
  }
  return ok;
}

void stability_preset(RiderSetup *setup, int s) {
  double u = static_cast<double>(s) * 5 * 0.01;  // no int overflow for any s
  u = u < 0 ? 0 : u > 5 ? 5 : u;
  int i = static_cast<int>(std::floor(u));
  if (i > 4) i = 4;
  double f = u - i;
  for (int v = 0; v < STABILITY_VALUE_COUNT; v++) {
    const double *t = PRESET[v];
    setup->options[SETUP_LEVELING + v].value = t[i] + (t[i + 1] - t[i]) * f;
  }
}

// "@setups/" + the name without surrounding white space, when the name is
// safe to use as a file name.
static int setup_file_name(const char *name, char *out, int size) {
  if (!name) name = "";
  while (isspace(static_cast<unsigned char>(*name))) name++;
  int n = static_cast<int>(strlen(name));
  while (n > 0 && isspace(static_cast<unsigned char>(name[n - 1]))) n--;
  if (n > 1015) n = 1015;
  char trimmed[1016];
  memcpy(trimmed, name, n);
  trimmed[n] = 0;
  if (!data_safe_name(trimmed)) {
    add_messagef("Setup name '%.64s' must not be empty or contain \"/\", \"\\\" or \"..\"", trimmed);
    return 0;
  }
  snprintf(out, size, "@setups/%s", trimmed);
  return 1;
}

// Room for the longest line write_setup makes (a key, "=", a 1023-character
// name and "\r\n"), so a written setup always reads back whole.
enum { SETUP_LINE_SIZE = 1024 + 64 };

int read_setup(RiderSetup *s, DataFile *f) {
  char line[SETUP_LINE_SIZE];
  while (data_gets(f, line, sizeof line)) {
    size_t n = strlen(line);
    if (n == sizeof line - 1 && line[n - 1] != '\n' && data_peekc(f) != EOF) {
      // Over-long line: its tail must not be read as a line of its own.
      int c;
      while ((c = data_getc(f)) != EOF && c != '\n') {
      }
      continue;
    }
    char *eq = strchr(line, '=');
    if (!eq) continue;
    *eq = 0;
    char *value = eq + 1;
    size_t len = strlen(value);
    while (len > 0 && (value[len - 1] == '\n' || value[len - 1] == '\r')) value[--len] = 0;
    set_setup_value(s, line, value);
  }
  return !data_error(f);
}

int read_setup_file(RiderSetup *s, const char *name) {
  char path[1040];
  DataFile *f = setup_file_name(name, path, sizeof path) ? data_open(path, "rb") : nullptr;
  int ok = 0;
  if (f) {
    ok = read_setup(s, f);
    data_close(f);
  }
  add_message(ok ? "Setup updated" : "Error reading setup");
  // After the message, so that a mechanic's refusal reads after it; also
  // after a failed read, which still leaves the menus' setup to apply.
  if (setup_read_hook) setup_read_hook(s);
  return ok;
}

int write_setup_file(RiderSetup *s, const char *name) {
  char path[1040];
  if (!setup_file_name(name, path, sizeof path)) {
    add_message("Error writing setup");
    return 0;
  }
  DataFile *f = data_create(path);
  if (!f) {
    add_message("Error writing setup");
    return 0;
  }
  if (!write_setup(s, f)) {
    data_abandon(f);
    add_message("Error writing setup");
    return 0;
  }
  if (!data_commit(f)) {
    add_message("Error writing setup");
    return 0;
  }
  add_message("Setup written");
  return 1;
}
