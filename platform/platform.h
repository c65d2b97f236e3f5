// KORB window, display, GL context and input on SDL2. The log, the options
// and the clock are in platform/korb.h, which this header includes.
//
// Everything runs on the main thread: window messages are pumped whenever
// events are fetched. The pure logic (event queue, display mode list, key
// names, bindings, axis maths, learning) works without SDL and without a
// display, so it can be tested headless.
#pragma once
#include "core/shared.h"
#include <atomic>
#include <cstdint>
#include <mutex>
#include <thread>

#include "core/log.h"

// ---------------------------------------------------------------------------
// Headless mode

// Asks for no window, no GL context and no SDL initialisation at all (call
// before window_open). window_open then returns a window object without a
// drawable: frame_begin always refuses, events can still be pushed with
// events_push and read back with events_next. message_box writes to stderr.
void platform_set_headless(int on);
int platform_headless();

// Ctrl-C (SIGINT) and SIGTERM become a Close event (CODE_CLOSE) in the open
// window's queue, so the program ends through its usual shutdown. Only the
// first of each is caught: a second one ends the program at once.
void platform_catch_signals();
// 1 when a caught signal has not yet been turned into a Close event, which
// this clears (events_next does it).
int platform_signal_take();

// ---------------------------------------------------------------------------
// Display modes

struct DisplayMode {
  int width, height;
  int bits;     // bits per pixel
  int refresh;  // hertz, 0 when unknown (ignored when deduplicating)
};

// The mode list, built on first call: the desktop mode first when its depth is
// usable, then every other distinct width x height x depth. Ends with an
// all-zero mode. Never null (an empty list when headless or without video).
const DisplayMode *display_modes();
// The desktop mode's size; 640 x 480 when unknown. Returns 1 when known.
int display_desktop_size(int *width, int *height);
// Dots per inch of the display the window is on (96 when unknown).
float display_dpi();

// Builds a mode list from the desktop mode and the system's modes: out must
// hold count + 2 entries. Returns the number of modes (without the final zero
// mode). Logs each mode as it is judged.
int display_modes_build(DisplayMode *out, const DisplayMode *desktop,
                        const DisplayMode *modes, int count);
// The full-screen mode for a request of width x height (both non-zero): the
// listed mode at least that large whose width + height is smallest (the first
// on a tie). Returns its index, or -1 when no mode is large enough.
int display_mode_pick(const DisplayMode *list, int width, int height);

// ---------------------------------------------------------------------------
// GL context request

enum { GL_DIALECT_COMPATIBILITY = 0, GL_DIALECT_CORE = 1, GL_DIALECT_ES = 2 };

// The version and dialect window_open asks for; default 3.1 core. The options
// "glmajor", "glminor", "glcore" and "gles" override it.
void set_gl_request(int major, int minor, int dialect);
// What window_open will actually request after the options are applied.
struct GlRequest {
  int major, minor;
  int dialect;  // GL_DIALECT_*
};
GlRequest gl_request_effective();
// The context window_open actually made (an ES request can fall back to a
// desktop context); all zero when there is none.
GlRequest gl_context_created();
// A GL entry point by name; null before a context exists or when unknown.
void *get_gl_proc(const char *name);
// The context's GL_VERSION text, "" without a context.
const char *gl_context_version();

// ---------------------------------------------------------------------------
// Input codes

enum : int {
  CODE_CHAR_LIMIT = 256,      // 0..255: typed characters (press only)
  CODE_KEY_BASE = 4096,       // + scan code 0..511 (extended keys + 256)
  CODE_MOUSE_LEFT = 8192,
  CODE_MOUSE_MIDDLE = 8193,
  CODE_MOUSE_RIGHT = 8194,
  CODE_CLOSE = 57005,         // the window was closed
  CODE_DEVICE_SPAN = 65536,   // device bases are multiples of this
};
// Release flag of a queued event word; codes never reach it.
constexpr uint32_t CODE_RELEASE_FLAG = 0x80000000u;

// ---------------------------------------------------------------------------
// Event queue: 256 time-stamped events in time order.

enum { EVENT_QUEUE_SIZE = 256 };

struct InputEvent {
  uint32_t word;    // code, with CODE_RELEASE_FLAG for a release
  int64_t time_us;  // platform clock (clock_ms base) in microseconds
};

struct EventQueue {
  InputEvent ring[EVENT_QUEUE_SIZE];
  int head, count;
};

// Inserts an event before queued events with later time stamps. A full
// queue drops a new press, but never a release (a lost release would leave a
// control held) nor a Close: to make room it drops the newest queued press
// (never a Close). Returns 1 when the event was queued.
int event_queue_push(EventQueue *q, int code, int down, int64_t time_us);
// Takes the oldest event whose time stamp is not later than limit_us.
int event_queue_pop(EventQueue *q, int *code, int *down, int64_t limit_us);

// ---------------------------------------------------------------------------
// Window

enum {
  WINDOW_MAY_FULLSCREEN = 2,  // the window may switch to full screen
  WINDOW_THREADED = 4,        // never set here: the window lives on the main thread
  WINDOW_FULLSCREEN = 8,      // full screen is active
};
// Added to window_open's depth_flags to ask for full screen.
enum { WINDOW_OPEN_FULLSCREEN = 0x200 };

struct Window {
  // Every field starts at zero, however the record is made.
  char title[256] = {};
  int width = 0, height = 0;          // client size, updated on every resize
  int mode_width = 0, mode_height = 0;  // full-screen display mode in use
  int flags = 0;                      // WINDOW_*
  int closing = 0;
  int busy = 0;                       // a mode switch is under way: no frame drawn
  std::mutex frame_lock;              // held from frame_begin to frame_end
  // The thread holding frame_lock: a nested frame, or a size change or mode
  // switch on the drawing thread, must not lock it a second time.
  std::atomic<std::thread::id> frame_owner{};
  std::mutex event_lock;              // guards events
  EventQueue events = {};
  void *sdl_window = nullptr;         // SDL_Window, null when headless
  void *gl_context = nullptr;         // SDL_GLContext, null without GL
  int hidden = 0;                     // minimised or hidden
};

// Creates the window, its input devices and its GL context. depth_flags holds
// the colour depth in its low byte, plus WINDOW_OPEN_FULLSCREEN. A width or
// height of 0 means the desktop size. Returns null after logging the reason.
Window *window_open(const char *title, int width, int height, int depth_flags,
                    int alpha_bits, int depth_bits, int stencil_bits, int accum_bits);
// Why the last window_open failed, in a line for the user.
const char *window_open_error();
// Deletes the GL context, closes the input devices and the window.
void window_close(Window *w);
// The window that is open, or null.
Window *window_current();

// Returns 1 and the drawable size in pixels with the frame lock held, or 0
// when no frame should be drawn (no GL context, hidden, busy, or a frame
// already begun on this thread).
int frame_begin(Window *w, int *width, int *height);
// Swaps the buffers and releases the frame lock. 0 when the swap failed as
// far as can be told: the context is no longer current, or the driver
// reports it lost (contexts with reset notification only). A call without a
// begun frame does nothing and returns 1.
int frame_end(Window *w);
// The refresh rate in hertz of the display the window is on; 0 when unknown
// or without a window.
int window_refresh_rate(Window *w);

// Pumps window messages and returns the oldest event (1), or 0 when none is
// pending. When the queue is empty, devices with bound buttons are polled.
int events_next(Window *w, int *code, int *down);
// The same, but only an event stamped no later than the given time.
int events_next_until(Window *w, int *code, int *down, int64_t seconds, int microseconds);
// Puts an event into the window's queue (the devices' way in; tests and
// headless runs inject input this way). Returns 1 when queued.
int events_push(Window *w, int code, int down, int64_t seconds, int microseconds);
// Stamped with the current clock.
int events_push_now(Window *w, int code, int down);

// Switches to full screen with a mode at least width x height, or to windowed
// mode with that client size (0 x 0: the desktop size).
void window_set_mode(Window *w, int width, int height, int fullscreen);

// Raises the process priority (called once a track has loaded).
void tune_process();

// Shows a modal message box with an OK button. Headless, without a display,
// or with the option "messagebox" off, writes "caption: text" to stderr
// instead, so nothing can block an unattended run.
void message_box(const char *caption, const char *format, ...)
    __attribute__((format(printf, 2, 3)));

// ---------------------------------------------------------------------------
// Names: interning, aliases, key names

// One shared copy of every name (equal texts give equal pointers).
const char *name_intern(const char *text);
// First definition wins; later ones are logged and ignored.
void alias_add(const char *name, const char *target);
// The alias target, or the name itself.
const char *alias_resolve(const char *name);

// Looks a key, mouse button or device button name up; 1 and the code, or 0.
int key_code_of(const char *name, int *code);
// The name of a code, or null (characters have none). Interned.
const char *key_name_of(int code);
// The built-in (layout-independent) name of a scan code 0..511, or "".
const char *key_builtin_name(int scan);
// Maps an SDL scancode to the PC set-1 scan code (extended keys + 256); -1
// for keys without one.
int key_scan_from_sdl(int sdl_scancode);

// ---------------------------------------------------------------------------
// Input devices and axes

struct Device;

// A device's operations: read one axis (-32768..32767), push button events
// for changed buttons, and acquire / release. Any may be null.
struct DeviceOps {
  int (*open)(Device *d);             // 1 on success
  void (*poll)(Device *d);            // push button events
  int (*read_axis)(Device *d, int index);
  void (*close)(Device *d);
};

enum { DEVICE_NAME_MAX = 256, DEVICE_MAX_BUTTONS = 256 };

struct Device {
  char name[DEVICE_NAME_MAX];
  int code_base;
  int button_count, axis_count;
  int use_count;     // open axis objects; acquired while above 0
  int poll_buttons;  // set once a binding names one of its buttons
  const DeviceOps *ops;
  void *impl;        // the implementation's own data
};

// Adds a device under a unique name made from base_name ("#2", "#3"... for
// repeats). Returns it, or null when the table is full.
Device *device_add(const char *base_name, int button_count, int axis_count,
                   const DeviceOps *ops, void *impl);
// Removes and closes every device and forgets the axis names.
void devices_clear();
Device *device_find(const char *name);
int device_count();
Device *device_at(int index);
// Registers an axis name offered for learning (interned, no duplicates).
void axis_name_add(const char *name);
// The names of every absolute axis the devices offer; count in *count.
const char *const *axis_names(int *count);
// Polls every device that has bound buttons (pushes their events).
void devices_poll_buttons();

// The code base for a device name: a multiple of 65536 in 65536..0x7FFF0000
// derived from the name, stepped past bases already in use.
int device_code_base(const char *name, int (*in_use)(int base));

struct Axis {
  Device *device;
  int index;
};
// Opens an axis by name ("Dev.axis[i]", "Dev axis i", or an alias).
Axis *axis_open(const char *name);
// Signed value about -32768..32767 (relative axes: motion since last read).
int axis_read(Axis *a);
void axis_close(Axis *a);

// The pointer position used by the "cursor" device when there is no window
// (headless runs and tests).
void pointer_set(int x, int y);

// ---------------------------------------------------------------------------
// Bindings and the game's controls

struct Binding {
  const char *label;     // shown in "Customize Controls"
  const char *key_name;  // interned, or null
  int key_code;          // resolved from key_name, 0 when unresolved
  const char *axis_name; // interned, or null
  Axis *axis;            // opened from axis_name
  float low, high;       // axis readings (-1..1) that map to 0 and to 1
  int held;              // a key-bound control's key is down
  int tapped;            // pressed since the last tic: a tap shorter than a tic still counts
};

// No key, no axis, ends 0 and 1 (closes an open axis).
void binding_clear(Binding *b);
void binding_set_key(Binding *b, const char *key_name);
void binding_set_axis(Binding *b, const char *axis_name, float low, float high);
// Sets key_code from key_name, or opens the axis from axis_name.
void binding_resolve(Binding *b);
// Closes the binding's axis object (the names stay).
void binding_release(Binding *b);
// limit((raw / 32768 - low) / (high - low), 0, 1); 0 when low == high.
float axis_map(int raw, float low, float high);
// The binding's current value: its axis mapped, else 1 while its key is held.
float binding_value(Binding *b);
// The configuration text of a binding: "(k)name", "(low,high)name" with six
// decimals, or "" for an empty binding. Returns the length.
int binding_format(const Binding *b, char *out, int size);
// Reads a configuration value (clears first): "(%f,%f)axis", "(k)key" or a
// bare key name. Names are interned, not resolved.
void binding_parse(Binding *b, const char *text);

enum { GAME_CONTROLS = 12, SPECIAL_KEYS = 8,
       CONTROL_COUNT = GAME_CONTROLS + SPECIAL_KEYS };

// Game controls 0..11 in the order of ControlId, then the special keys.
enum ControlId {
  CONTROL_LEFT, CONTROL_RIGHT, CONTROL_THROTTLE, CONTROL_FRONT_BRAKE,
  CONTROL_REAR_BRAKE, CONTROL_UPSHIFT, CONTROL_DOWNSHIFT, CONTROL_CLUTCH,
  CONTROL_DAB, CONTROL_BACK_UP, CONTROL_LEAN_FORWARD, CONTROL_LEAN_BACKWARD,
  KEY_SCREENSHOT, KEY_CHAT, KEY_NEXT_BIKE, KEY_PREV_BIKE, KEY_SKIP,
  KEY_REWIND, KEY_STEP, KEY_PAUSE,
};

struct ControlInfo {
  const char *label;
  const char *config_key;   // e.g. "throttle_key"
  int slot;                 // control slot 0..8, -1 for a special key
  float scale;              // +1 or -1
  const char *default_key;  // e.g. "x"
};
extern const ControlInfo control_info[CONTROL_COUNT];
extern Binding control_bindings[CONTROL_COUNT];

// Every binding back to its default key (unresolved; labels set).
void controls_set_defaults();
void controls_resolve_all();
// Closes every binding's axis object (shutdown).
void controls_release_all();
// A key event for the controls: every game control bound to the code holds
// 1 on down and 0 on up. Returns how many controls matched.
int controls_key_event(int code, int down);
// Zeroes the slots and adds every game control's value x scale.
void controls_tic(float slots[CONTROL_SLOT_COUNT]);
// 1 when the code is the special key's (never for an unresolved binding).
int special_key_is(int id, int code);

// ---------------------------------------------------------------------------
// Learning a binding ("Customize Controls")

// Starts learning for b at game time now (seconds): watches every axis.
void learn_start(Binding *b, double now);
// The binding being learned, or null.
Binding *learn_binding();
// A key event while learning: "esc" cancels, a named key is captured.
// Returns 1 when the event was consumed (always while learning).
int learn_event(int code, int down, double now);
// The per-tic step. Returns 1 when learning ended with a new binding.
int learn_tic(double now);
// Ends learning without a change.
void learn_cancel();

// Tests only: forget names, aliases, devices and the mode list.
void platform_reset_for_tests();
