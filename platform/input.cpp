// Input devices, axis objects, bindings, the game's controls and learning a
// binding. No SDL here: the device sources live in pads.cpp.
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "platform/internal.h"

// ---------------------------------------------------------------------------
// Devices

enum { MAX_DEVICES = 32 };
static Device devices[MAX_DEVICES];
static int devices_used;
static std::vector<const char *> axis_name_list;

static int base_in_use(int base) {
  for (int i = 0; i < devices_used; i++)
    if (devices[i].code_base == base) return 1;
  return 0;
}

int device_code_base(const char *name, int (*in_use)(int base)) {
  uint32_t even = 0, odd = 0;
  for (int i = 0; name[i]; i++) {
    if (i % 2 == 0) even += uint8_t(name[i]);
    else odd += uint8_t(name[i]);
  }
  uint32_t d = even & 0xFFFF, a = odd & 0xFF;
  uint32_t base = ((a * 256 + d) * 65536u) & 0x7FFF0000u;
  // Step past bases in use, wrapping below bit 31 (the release flag) and
  // never to 0; there are far fewer devices than bases, so this ends.
  for (int tries = 0; tries < 0x8000; tries++) {
    if (base != 0 && !(in_use && in_use(int(base)))) return int(base);
    base += 65536;
    if (base > 0x7FFF0000u) base = 65536;
  }
  return 65536;
}

Device *device_find(const char *name) {
  for (int i = 0; i < devices_used; i++)
    if (strcmp(devices[i].name, name) == 0) return &devices[i];
  return nullptr;
}

int device_count() { return devices_used; }
Device *device_at(int index) {
  return index >= 0 && index < devices_used ? &devices[index] : nullptr;
}

void device_clean_name(const char *name, char out[DEVICE_CLEAN_NAME]) {
  int n = 0;
  for (const char *p = name; *p && n < DEVICE_CLEAN_NAME - 1; p++)
    if (*p != ' ' && *p != '.') out[n++] = *p;
  out[n] = 0;
  if (n == 0) strcpy(out, "Device");
}

Device *device_add(const char *base_name, int button_count, int axis_count,
                   const DeviceOps *ops, void *impl) {
  if (devices_used >= MAX_DEVICES) {
    log_printf("Out of memory\n");
    return nullptr;
  }
  // 63 characters is as much as a lookup reads: room for a "#k" after.
  char clean[DEVICE_CLEAN_NAME];
  device_clean_name(base_name, clean);
  char name[DEVICE_NAME_MAX];
  snprintf(name, sizeof name, "%s", clean);
  for (int k = 2; device_find(name); k++) snprintf(name, sizeof name, "%s#%d", clean, k);
  Device *d = &devices[devices_used];
  *d = Device{};
  snprintf(d->name, sizeof d->name, "%s", name);
  d->code_base = device_code_base(name, base_in_use);
  d->button_count = button_count < 0 ? 0 : button_count > DEVICE_MAX_BUTTONS ? DEVICE_MAX_BUTTONS : button_count;
  d->axis_count = axis_count < 0 ? 0 : axis_count;
  d->ops = ops;
  d->impl = impl;
  devices_used++;
  return d;
}

void devices_clear() {
  learn_reset();
  for (int i = 0; i < devices_used; i++) {
    Device *d = &devices[i];
    if ((d->use_count > 0 || d->poll_buttons) && d->ops && d->ops->close) d->ops->close(d);
  }
  devices_used = 0;
  axis_name_list.clear();
}

void axis_name_add(const char *name) {
  const char *interned = name_intern(name);
  for (const char *n : axis_name_list)
    if (n == interned) return;
  axis_name_list.push_back(interned);
}

const char *const *axis_names(int *count) {
  *count = int(axis_name_list.size());
  return axis_name_list.data();
}

void devices_poll_buttons() {
  for (int i = 0; i < devices_used; i++) {
    Device *d = &devices[i];
    if (d->poll_buttons && d->ops && d->ops->poll) d->ops->poll(d);
  }
}

// ---------------------------------------------------------------------------
// Axis objects

Axis *axis_open(const char *name) {
  if (!name) return nullptr;
  names_init();
  name = alias_resolve(name);
  char device_name[64];
  int index;
  if (sscanf(name, "%63[^.].axis[%d]", device_name, &index) != 2 &&
      sscanf(name, "%63s axis %d", device_name, &index) != 2)
    return nullptr;
  if (index < 0) return nullptr;
  Device *d = device_find(device_name);
  if (!d || index >= d->axis_count) return nullptr;
  if (d->use_count == 0 && !d->poll_buttons && d->ops && d->ops->open && !d->ops->open(d))
    return nullptr;
  d->use_count++;
  return new Axis{d, index};
}

int axis_read(Axis *a) {
  if (!a || !a->device->ops || !a->device->ops->read_axis) return 0;
  return a->device->ops->read_axis(a->device, a->index);
}

void axis_close(Axis *a) {
  if (!a) return;
  Device *d = a->device;
  if (--d->use_count == 0 && !d->poll_buttons && d->ops && d->ops->close) d->ops->close(d);
  delete a;
}

// ---------------------------------------------------------------------------
// Bindings

void binding_release(Binding *b) {
  axis_close(b->axis);
  b->axis = nullptr;
}

void binding_clear(Binding *b) {
  binding_release(b);
  b->key_name = nullptr;
  b->key_code = 0;
  b->axis_name = nullptr;
  b->low = 0;
  b->high = 1;
  b->held = 0;
  b->tapped = 0;
}

void binding_set_key(Binding *b, const char *key_name) {
  binding_clear(b);
  if (key_name && *key_name) b->key_name = name_intern(key_name);
}

void binding_set_axis(Binding *b, const char *axis_name, float low, float high) {
  binding_clear(b);
  if (axis_name && *axis_name) b->axis_name = name_intern(axis_name);
  b->low = low;
  b->high = high;
}

void binding_resolve(Binding *b) {
  b->key_code = 0;
  b->held = 0;
  b->tapped = 0;
  binding_release(b);
  if (b->key_name) {
    int code;
    if (key_code_of(b->key_name, &code)) b->key_code = code;
  } else if (b->axis_name) {
    b->axis = axis_open(b->axis_name);
  }
}

float axis_map(int raw, float low, float high) {
  float span = high - low;
  // Equal ends (or ends that are not numbers) would divide into NaN.
  if (!(span != 0) || !std::isfinite(span)) return 0;
  float v = (float(raw) / 32768.0f - low) / span;
  if (!(v > 0)) return 0;
  return v > 1 ? 1 : v;
}

float binding_value(Binding *b) {
  if (b->axis) return axis_map(axis_read(b->axis), b->low, b->high);
  return b->held || b->tapped ? 1.0f : 0.0f;
}

int binding_format(const Binding *b, char *out, int size) {
  int n;
  if (b->key_name) n = snprintf(out, size_t(size), "(k)%s", b->key_name);
  else if (b->axis_name) n = snprintf(out, size_t(size), "(%f,%f)%s", b->low, b->high, b->axis_name);
  else n = snprintf(out, size_t(size), "%s", "");
  return n < 0 ? 0 : n;
}

void binding_parse(Binding *b, const char *text) {
  binding_clear(b);
  if (!text) return;
  while (*text == ' ' || *text == '\t') text++;
  std::string value(text);
  while (!value.empty() && (value.back() == '\n' || value.back() == '\r' ||
                            value.back() == ' ' || value.back() == '\t'))
    value.pop_back();
  float low, high;
  size_t close = value.find(')');
  if (!value.empty() && value[0] == '(' && close != std::string::npos &&
      sscanf(value.c_str(), "(%f,%f)", &low, &high) == 2) {
    binding_set_axis(b, value.c_str() + close + 1, low, high);
    return;
  }
  const char *name = value.c_str();
  if (strncmp(name, "(k)", 3) == 0) name += 3;
  binding_set_key(b, name);
}

// ---------------------------------------------------------------------------
// The game's controls

const ControlInfo control_info[CONTROL_COUNT] = {
    {"Left", "left_key", CTL_STEER, +1, "left"},
    {"Right", "right_key", CTL_STEER, -1, "right"},
    {"Throttle", "throttle_key", CTL_THROTTLE, +1, "x"},
    {"Front Brake", "front_brake_key", CTL_FRONT_BRAKE, +1, "c"},
    {"Rear Brake", "rear_brake_key", CTL_REAR_BRAKE, +1, "v"},
    {"Upshift", "upshift_key", CTL_SHIFT, +1, "up"},
    {"Downshift", "downshift_key", CTL_SHIFT, -1, "down"},
    {"Clutch", "clutch_key", CTL_CLUTCH, +1, "z"},
    {"Sit/Dab", "dab_key", CTL_DAB, +1, "right ctrl"},
    {"Back up", "back_up_key", CTL_BACK_UP, +1, "b"},
    {"Lean Forward", "lean_forward_key", CTL_LEAN, -1, "n"},
    {"Lean Backward", "lean_backward_key", CTL_LEAN, +1, "m"},
    {"Screenshot", "screenshot_key", -1, 0, "s"},
    {"Chat", "console_key", -1, 0, "t"},
    {"Next Bike", "next_key", -1, 0, "]"},
    {"Previous Bike", "prev_key", -1, 0, "["},
    {"Skip", "skip_key", -1, 0, "/"},
    {"Rewind", "rewind_key", -1, 0, "\\"},
    {"Step", "step_key", -1, 0, "."},
    {"Pause", "pause_key", -1, 0, "pause"},
};

Binding control_bindings[CONTROL_COUNT];

void controls_set_defaults() {
  for (int i = 0; i < CONTROL_COUNT; i++) {
    binding_set_key(&control_bindings[i], control_info[i].default_key);
    control_bindings[i].label = control_info[i].label;
  }
}

void controls_resolve_all() {
  for (int i = 0; i < CONTROL_COUNT; i++) {
    control_bindings[i].label = control_info[i].label;
    binding_resolve(&control_bindings[i]);
  }
}

void controls_release_all() {
  for (Binding &b : control_bindings) binding_release(&b);
}

int controls_key_event(int code, int down) {
  if (code == 0) return 0;
  int matched = 0;
  for (int i = 0; i < CONTROL_COUNT; i++) {
    Binding &b = control_bindings[i];
    if (b.key_code != code) continue;
    b.held = down ? 1 : 0;
    if (down) b.tapped = 1;
    if (i < GAME_CONTROLS) matched++;
  }
  return matched;
}

void controls_tic(float slots[CONTROL_SLOT_COUNT]) {
  for (int i = 0; i < CONTROL_SLOT_COUNT; i++) slots[i] = 0;
  for (int i = 0; i < GAME_CONTROLS; i++)
    slots[control_info[i].slot] += binding_value(&control_bindings[i]) * control_info[i].scale;
  for (Binding &b : control_bindings) b.tapped = 0;
}

int special_key_is(int id, int code) {
  if (id < GAME_CONTROLS || id >= CONTROL_COUNT || code == 0) return 0;
  return control_bindings[id].key_code == code;
}

// ---------------------------------------------------------------------------
// Learning: the first key pressed, unless an axis is moved more than halfway
// from rest and held a quarter second, which wins even over a captured key.

struct Watched {
  const char *name;
  Axis *axis;
  float rest, extreme;
};

static Binding *learning;
static std::vector<Watched> watched;
static int captured_code;
static const char *captured_name;
static double change_time;

static float axis_unit(Axis *a) { return float(axis_read(a)) / 32768.0f; }

void learn_start(Binding *b, double now) {
  learn_cancel();
  learning = b;
  captured_code = 0;
  captured_name = nullptr;
  change_time = now;
  if (log_verbosity >= 1) log_printf("Watching pots\n");
  int count;
  const char *const *names = axis_names(&count);
  for (int i = 0; i < count; i++) {
    Axis *a = axis_open(names[i]);
    if (log_verbosity >= 1) log_printf("\t%s %s\n", names[i], a ? "Ok" : "Failed");
    if (!a) continue;
    float r = axis_unit(a);
    watched.push_back({names[i], a, r, r});
  }
}

Binding *learn_binding() { return learning; }

static void learn_finish(Axis *keep) {
  for (Watched &w : watched)
    if (w.axis != keep) axis_close(w.axis);
  watched.clear();
  learning = nullptr;
  if (log_verbosity >= 1) log_printf("Done watching pots\n");
}

void learn_cancel() {
  if (learning) learn_finish(nullptr);
}

void learn_reset() { learn_cancel(); }

int learn_event(int code, int down, double now) {
  if (!learning) return 0;
  if (!down) return 1;
  int esc;
  if (key_code_of("esc", &esc) && code == esc) {
    learn_cancel();
    return 1;
  }
  const char *name = key_name_of(code);
  if (name && !captured_name) {
    captured_code = code;
    captured_name = name;
    change_time = now;
  }
  return 1;
}

int learn_tic(double now) {
  if (!learning) return 0;
  for (Watched &w : watched) {
    float v = axis_unit(w.axis);
    float d = std::fabs(w.rest - w.extreme);
    if (std::fabs(w.rest - v) > d) {
      w.extreme = v;
      change_time = now;
    }
    if (now > change_time + 0.25 && d > 0.5f) {
      Binding *b = learning;
      float r = w.rest, e = w.extreme;
      binding_set_axis(b, w.name, r + (e - r) * 0.0625f, r + (e - r) * 0.9375f);
      b->axis = w.axis;
      learn_finish(w.axis);
      return 1;
    }
  }
  if (captured_name && now > change_time + 0.25) {
    Binding *b = learning;
    binding_set_key(b, captured_name);
    // Resolving by name also marks a device button for polling.
    binding_resolve(b);
    if (!b->key_code) b->key_code = captured_code;
    learn_finish(nullptr);
    return 1;
  }
  return 0;
}
