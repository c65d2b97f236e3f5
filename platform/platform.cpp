// Interim bodies of the window and input layer; replaced file by file.
#include <cstdarg>
#include <cstdio>

#include "platform/platform.h"

static int headless;
void platform_set_headless(int on) { headless = on; }
int platform_headless() { return headless; }

static const DisplayMode no_modes[1] = {};
const DisplayMode *display_modes() { return no_modes; }
int display_desktop_size(int *width, int *height) { *width = 640; *height = 480; return 0; }
float display_dpi() { return 96.0f; }
int display_modes_build(DisplayMode *out, const DisplayMode *, const DisplayMode *, int) {
  out[0] = DisplayMode{};
  return 0;
}
int display_mode_pick(const DisplayMode *, int, int) { return -1; }

static GlRequest gl_req = {3, 1, GL_DIALECT_CORE};
void set_gl_request(int major, int minor, int dialect) { gl_req = {major, minor, dialect}; }
GlRequest gl_request_effective() { return gl_req; }
void *get_gl_proc(const char *) { return nullptr; }

int event_queue_push(EventQueue *, int, int, int64_t) { return 0; }
int event_queue_pop(EventQueue *, int *, int *, int64_t) { return 0; }

Window *window_open(const char *, int, int, int, int, int, int, int) { return nullptr; }
void window_close(Window *) {}
Window *window_current() { return nullptr; }
int frame_begin(Window *, int *, int *) { return 0; }
int frame_end(Window *) { return 0; }
int events_next(Window *, int *, int *) { return 0; }
int events_next_until(Window *, int *, int *, int64_t, int) { return 0; }
int events_push(Window *, int, int, int64_t, int) { return 0; }
int events_push_now(Window *, int, int) { return 0; }
void window_set_mode(Window *, int, int, int) {}
void tune_process() {}
void message_box(const char *caption, const char *format, ...) {
  va_list ap;
  va_start(ap, format);
  fprintf(stderr, "%s: ", caption);
  vfprintf(stderr, format, ap);
  va_end(ap);
}

const char *name_intern(const char *text) { return text; }
void alias_add(const char *, const char *) {}
const char *alias_resolve(const char *name) { return name; }
int key_code_of(const char *, int *) { return 0; }
const char *key_name_of(int) { return nullptr; }
const char *key_builtin_name(int) { return ""; }
int key_scan_from_sdl(int) { return -1; }

Device *device_add(const char *, int, int, const DeviceOps *, void *) { return nullptr; }
void devices_clear() {}
Device *device_find(const char *) { return nullptr; }
int device_count() { return 0; }
Device *device_at(int) { return nullptr; }
void axis_name_add(const char *) {}
const char *const *axis_names(int *count) { *count = 0; return nullptr; }
void devices_poll_buttons() {}
int device_code_base(const char *, int (*)(int)) { return 65536; }
Axis *axis_open(const char *) { return nullptr; }
int axis_read(Axis *) { return 0; }
void axis_close(Axis *) {}
void pointer_set(int, int) {}

void binding_clear(Binding *b) { b->key_name = nullptr; b->key_code = 0; b->axis_name = nullptr; b->axis = nullptr; b->low = 0; b->high = 1; b->held = 0; }
void binding_set_key(Binding *b, const char *key_name) { binding_clear(b); b->key_name = key_name; }
void binding_set_axis(Binding *b, const char *axis_name, float low, float high) { binding_clear(b); b->axis_name = axis_name; b->low = low; b->high = high; }
void binding_resolve(Binding *) {}
void binding_release(Binding *) {}
float axis_map(int, float, float) { return 0; }
float binding_value(Binding *b) { return b->held ? 1.0f : 0.0f; }
int binding_format(const Binding *, char *out, int size) { if (size > 0) out[0] = 0; return 0; }
void binding_parse(Binding *b, const char *) { binding_clear(b); }

const ControlInfo control_info[CONTROL_COUNT] = {};
Binding control_bindings[CONTROL_COUNT];
void controls_set_defaults() {}
void controls_resolve_all() {}
void controls_release_all() {}
int controls_key_event(int, int) { return 0; }
void controls_tic(float slots[CONTROL_SLOTS]) { for (int i = 0; i < CONTROL_SLOTS; i++) slots[i] = 0; }
int special_key_is(int, int) { return 0; }

void learn_start(Binding *, double) {}
Binding *learn_binding() { return nullptr; }
int learn_event(int, int, double) { return 0; }
int learn_tic(double) { return 0; }
void learn_cancel() {}
void platform_reset_for_tests() {}
