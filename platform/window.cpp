// The window, its GL context, display modes and the message pump, on SDL2.
// Everything here runs on the main thread.
#include <SDL2/SDL.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/internal.h"

static int headless;
static Window *current;
static SDL_Cursor *crosshair;

// Why the last window_open failed, for the user rather than the log.
static char open_error[512];

static void note_open_error(const char *what, const char *detail) {
  snprintf(open_error, sizeof open_error, "%s%s%s", what, detail && *detail ? ": " : "",
           detail ? detail : "");
}

const char *window_open_error() { return open_error[0] ? open_error : "no reason given"; }

void platform_set_headless(int on) { headless = on; }
int platform_headless() { return headless; }
Window *window_current() { return current; }

static bool has_display() {
  const char *x = getenv("DISPLAY"), *wl = getenv("WAYLAND_DISPLAY");
  return (x && *x) || (wl && *wl);
}

// SDL's video part, started once. Never in headless runs.
static int video_state;  // 0 untried, 1 up, -1 failed
static char video_error[256];  // SDL's reason when it failed

static bool video_up() {
  if (headless) return false;
  if (video_state == 0) {
    // Draw at the display's real pixel size, whatever its scaling.
    SDL_SetHint(SDL_HINT_VIDEO_HIGHDPI_DISABLED, "0");
    const char *asked = getenv("SDL_VIDEODRIVER");
    if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) {
      snprintf(video_error, sizeof video_error, "%s", SDL_GetError());
      log_printf("Can't start video: %s\n", video_error);
      video_state = -1;
    } else if (const char *driver = SDL_GetCurrentVideoDriver();
               !(asked && *asked) && driver &&
               (!strcmp(driver, "offscreen") || !strcmp(driver, "dummy"))) {
      // SDL's last resort draws where nobody can see: a game running
      // invisibly would look hung.
      snprintf(video_error, sizeof video_error,
               "no display to show a window on (DISPLAY is not set; --headless runs without one)");
      log_printf("Can't start video: %s\n", video_error);
      SDL_QuitSubSystem(SDL_INIT_VIDEO);
      video_state = -1;
    } else {
      log_printf("Video driver: %s\n", SDL_GetCurrentVideoDriver());
      log_printf("Display scaling disabled: drawing at the full pixel size\n");
      video_state = 1;
    }
  }
  return video_state == 1;
}

static void video_down() {
  if (video_state == 1) SDL_QuitSubSystem(SDL_INIT_VIDEO);
  video_state = 0;
}

// ---------------------------------------------------------------------------
// Display modes

static DisplayMode *mode_list;
static DisplayMode desktop_mode;
static bool desktop_known;

static DisplayMode from_sdl(const SDL_DisplayMode &m) {
  int bits = int(SDL_BITSPERPIXEL(m.format));
  // 24-bit colour in 32-bit pixels is the usual 32-bit desktop.
  if (bits == 24 && SDL_BYTESPERPIXEL(m.format) == 4) bits = 32;
  return DisplayMode{m.w, m.h, bits, m.refresh_rate};
}

const DisplayMode *display_modes() {
  static const DisplayMode none[1] = {};
  if (mode_list) return mode_list;
  if (!video_up()) return none;
  SDL_DisplayMode d;
  const DisplayMode *desk = nullptr;
  if (SDL_GetDesktopDisplayMode(0, &d) == 0) {
    desktop_mode = from_sdl(d);
    desktop_known = true;
    desk = &desktop_mode;
  }
  int count = SDL_GetNumDisplayModes(0);
  if (count < 0) count = 0;
  DisplayMode *sys = new DisplayMode[size_t(count) + 1];
  int n = 0;
  for (int i = 0; i < count; i++) {
    SDL_DisplayMode m;
    if (SDL_GetDisplayMode(0, i, &m) == 0) sys[n++] = from_sdl(m);
  }
  mode_list = new DisplayMode[size_t(n) + 2];
  display_modes_build(mode_list, desk, sys, n);
  delete[] sys;
  return mode_list;
}

int display_desktop_size(int *width, int *height) {
  display_modes();
  if (desktop_known && desktop_mode.width > 0 && desktop_mode.height > 0) {
    *width = desktop_mode.width;
    *height = desktop_mode.height;
    return 1;
  }
  *width = 640;
  *height = 480;
  return 0;
}

float display_dpi() {
  if (!video_up()) return 96.0f;
  int index = current && current->sdl_window
                  ? SDL_GetWindowDisplayIndex(static_cast<SDL_Window *>(current->sdl_window))
                  : 0;
  float ddpi;
  if (SDL_GetDisplayDPI(index < 0 ? 0 : index, &ddpi, nullptr, nullptr) != 0 || !(ddpi > 0))
    return 96.0f;
  return ddpi;
}

// ---------------------------------------------------------------------------
// GL request

static GlRequest requested = {3, 1, GL_DIALECT_CORE};
static GlRequest created;

GlRequest gl_context_created() { return created; }

void set_gl_request(int major, int minor, int dialect) {
  requested = GlRequest{major, minor, dialect};
}

GlRequest gl_request_effective() {
  GlRequest r;
  r.major = option_int("glmajor", requested.major);
  r.minor = option_int("glminor", requested.minor);
  if (option_flag("gles", requested.dialect == GL_DIALECT_ES)) r.dialect = GL_DIALECT_ES;
  else r.dialect = option_flag("glcore", requested.dialect == GL_DIALECT_CORE) ? GL_DIALECT_CORE
                                                                              : GL_DIALECT_COMPATIBILITY;
  return r;
}

void *get_gl_proc(const char *name) {
  if (!current || !current->gl_context) return nullptr;
  return SDL_GL_GetProcAddress(name);
}

static void set_context_attributes(int major, int minor, int dialect) {
  SDL_GL_SetAttribute(SDL_GL_CONTEXT_MAJOR_VERSION, major);
  SDL_GL_SetAttribute(SDL_GL_CONTEXT_MINOR_VERSION, minor);
  int mask = dialect == GL_DIALECT_ES     ? SDL_GL_CONTEXT_PROFILE_ES
             : dialect == GL_DIALECT_CORE ? SDL_GL_CONTEXT_PROFILE_CORE
                                          : SDL_GL_CONTEXT_PROFILE_COMPATIBILITY;
  SDL_GL_SetAttribute(SDL_GL_CONTEXT_PROFILE_MASK, mask);
}

// The GL_VERSION text of the context made, "" without one.
static char context_version[128];

const char *gl_context_version() { return context_version; }

// SDL's buffer swap returns nothing. A context made with reset notification
// reports a lost context (a GPU reset, a driver restart) through this.
typedef unsigned (*ResetStatusFn)();
static ResetStatusFn reset_status;

// Reset notification is asked for first; a driver that cannot make such a
// context gets a plain one, and losses then go unseen.
static SDL_GLContext create_with_reset_notice(SDL_Window *sw) {
  SDL_GL_SetAttribute(SDL_GL_CONTEXT_RESET_NOTIFICATION, SDL_GL_CONTEXT_RESET_LOSE_CONTEXT);
  SDL_GLContext ctx = SDL_GL_CreateContext(sw);
  if (ctx) return ctx;
  SDL_GL_SetAttribute(SDL_GL_CONTEXT_RESET_NOTIFICATION, SDL_GL_CONTEXT_RESET_NO_NOTIFICATION);
  return SDL_GL_CreateContext(sw);
}

// The reset status query of the current context, when it has one.
static ResetStatusFn find_reset_status(const char *version) {
  typedef void (*GetIntegerv)(unsigned, int *);
  typedef const unsigned char *(*GetStringi)(unsigned, unsigned);
  bool es = strncmp(version, "OpenGL ES", 9) == 0;
  const char *digits = version;
  while (*digits && (*digits < '0' || *digits > '9')) digits++;
  int major = 0, minor = 0;
  sscanf(digits, "%d.%d", &major, &minor);
  const char *name = nullptr;
  if (es ? major * 10 + minor >= 32 : major * 10 + minor >= 45) {
    name = "glGetGraphicsResetStatus";
  } else if (major >= 3) {
    auto get_integer = reinterpret_cast<GetIntegerv>(SDL_GL_GetProcAddress("glGetIntegerv"));
    auto get_stringi = reinterpret_cast<GetStringi>(SDL_GL_GetProcAddress("glGetStringi"));
    int n = 0;
    if (get_integer && get_stringi) get_integer(0x821D, &n);  // GL_NUM_EXTENSIONS
    for (int i = 0; i < n && !name; i++) {
      const char *e = reinterpret_cast<const char *>(get_stringi(0x1F03, unsigned(i)));
      if (!e) continue;
      if (!strcmp(e, "GL_ARB_robustness")) name = "glGetGraphicsResetStatusARB";
      else if (!strcmp(e, "GL_EXT_robustness")) name = "glGetGraphicsResetStatusEXT";
      else if (!strcmp(e, "GL_KHR_robustness"))
        name = es ? "glGetGraphicsResetStatusKHR" : "glGetGraphicsResetStatus";
    }
  }
  return name ? reinterpret_cast<ResetStatusFn>(SDL_GL_GetProcAddress(name)) : nullptr;
}

static bool create_context(Window *w) {
  SDL_Window *sw = static_cast<SDL_Window *>(w->sdl_window);
  GlRequest r = gl_request_effective();
  SDL_GLContext ctx = nullptr;
  if (r.dialect == GL_DIALECT_ES) {
    log_printf("Creating OpenGL ES %d.%d context\n", r.major, r.minor);
    set_context_attributes(r.major, r.minor, GL_DIALECT_ES);
    ctx = create_with_reset_notice(sw);
    if (!ctx) {
      log_printf("Can't create OpenGL ES context: %s\n", SDL_GetError());
      r.dialect = option_flag("glcore", requested.dialect == GL_DIALECT_CORE)
                      ? GL_DIALECT_CORE : GL_DIALECT_COMPATIBILITY;
    }
  }
  if (!ctx) {
    log_printf("Creating OpenGL %d.%d %s context\n", r.major, r.minor,
               r.dialect == GL_DIALECT_CORE ? "core" : "compatibility");
    set_context_attributes(r.major, r.minor, r.dialect);
    ctx = create_with_reset_notice(sw);
    if (!ctx) {
      log_printf("Couldn't create OpenGL context with attributes\n");
      log_printf("%s\n", SDL_GetError());
      char what[80];
      snprintf(what, sizeof what, "Couldn't create an OpenGL %d.%d %s context", r.major, r.minor,
               r.dialect == GL_DIALECT_CORE ? "core" : "compatibility");
      note_open_error(what, SDL_GetError());
      return false;
    }
  }
  if (SDL_GL_MakeCurrent(sw, ctx) != 0) {
    log_printf("Couldn't make the OpenGL context current: %s\n", SDL_GetError());
    note_open_error("Couldn't make the OpenGL context current", SDL_GetError());
    SDL_GL_DeleteContext(ctx);
    return false;
  }
  w->gl_context = ctx;
  created = r;
  typedef const unsigned char *(*GetString)(unsigned);
  GetString get = reinterpret_cast<GetString>(SDL_GL_GetProcAddress("glGetString"));
  if (get) {
    const unsigned char *version = get(0x1F02), *renderer = get(0x1F01);
    log_printf("OpenGL %s on %s\n", version ? (const char *)version : "?",
               renderer ? (const char *)renderer : "?");
    snprintf(context_version, sizeof context_version, "%s", version ? (const char *)version : "");
  }
  reset_status = find_reset_status(context_version);
  if (!reset_status) log_printf("No reset notification: a lost OpenGL context goes unnoticed\n");
  return true;
}

// ---------------------------------------------------------------------------
// The frame lock

static bool frame_held_here(Window *w) {
  return w->frame_owner.load() == std::this_thread::get_id();
}

// Takes the frame lock unless this thread is drawing a frame already, when
// nothing else can be touching the size (locking again would hang).
struct FrameGuard {
  Window *w;
  bool locked;
  explicit FrameGuard(Window *window) : w(window), locked(!frame_held_here(window)) {
    if (locked) w->frame_lock.lock();
  }
  ~FrameGuard() {
    if (locked) w->frame_lock.unlock();
  }
  FrameGuard(const FrameGuard &) = delete;
  FrameGuard &operator=(const FrameGuard &) = delete;
};

// ---------------------------------------------------------------------------
// Full screen

static void enter_fullscreen(Window *w, int width, int height) {
  SDL_Window *sw = static_cast<SDL_Window *>(w->sdl_window);
  const DisplayMode *list = display_modes();
  int dw, dh;
  display_desktop_size(&dw, &dh);
  int mw = dw, mh = dh;
  if (width > 0 && height > 0) {
    int pick = display_mode_pick(list, width, height);
    if (pick >= 0) {
      mw = list[pick].width;
      mh = list[pick].height;
    }
  }
  w->mode_width = mw;
  w->mode_height = mh;
  bool change = !(mw == dw && mh == dh) && width > 0 && height > 0;
  if (change) {
    SDL_DisplayMode m = {};
    m.w = mw;
    m.h = mh;
    SDL_DisplayMode closest;
    if (SDL_GetClosestDisplayMode(0, &m, &closest)) SDL_SetWindowDisplayMode(sw, &closest);
    if (SDL_SetWindowFullscreen(sw, SDL_WINDOW_FULLSCREEN) != 0)
      log_printf("Can't switch to full screen: %s\n", SDL_GetError());
  } else if (SDL_SetWindowFullscreen(sw, SDL_WINDOW_FULLSCREEN_DESKTOP) != 0) {
    log_printf("Can't switch to full screen: %s\n", SDL_GetError());
  }
  w->flags |= WINDOW_FULLSCREEN;
}

static void enter_windowed(Window *w, int width, int height) {
  SDL_Window *sw = static_cast<SDL_Window *>(w->sdl_window);
  w->flags &= ~WINDOW_FULLSCREEN;
  SDL_SetWindowFullscreen(sw, 0);
  if (width <= 0 || height <= 0) display_desktop_size(&width, &height);
  SDL_SetWindowSize(sw, width, height);
  SDL_SetWindowPosition(sw, SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED);
  SDL_ShowWindow(sw);
}

void window_set_mode(Window *w, int width, int height, int fullscreen) {
  if (!w || !w->sdl_window) return;
  {
    FrameGuard hold(w);
    w->busy = 1;
  }
  if (fullscreen) enter_fullscreen(w, width, height);
  else enter_windowed(w, width, height);
  int cw, ch;
  SDL_GetWindowSize(static_cast<SDL_Window *>(w->sdl_window), &cw, &ch);
  FrameGuard hold(w);
  w->width = cw;
  w->height = ch;
  w->busy = 0;
}

// ---------------------------------------------------------------------------
// Opening and closing

Window *window_open(const char *title, int width, int height, int depth_flags,
                    int alpha_bits, int depth_bits, int stencil_bits, int accum_bits) {
  open_error[0] = 0;
  if (current) {
    log_printf("A window is already open\n");
    note_open_error("A window is already open", nullptr);
    return nullptr;
  }
  int threaded = option_flag("threaded", 0);
  log_printf("Options:\n");
  log_printf("%10s [%s]\n", "threaded:", threaded ? "on" : "off");
  if (threaded)
    log_printf("A window thread is not available on this platform: the window stays on the main thread\n");

  Window *w = new Window();
  snprintf(w->title, sizeof w->title, "%s", title ? title : "");
  w->flags = WINDOW_MAY_FULLSCREEN;
  bool fullscreen = (depth_flags & WINDOW_OPEN_FULLSCREEN) != 0;

  if (headless) {
    log_printf("Headless: no window\n");
    if (width <= 0 || height <= 0) {
      width = 640;
      height = 480;
    }
    w->width = width;
    w->height = height;
    current = w;
    names_init();
    pads_open(w);
    return w;
  }

  if (!video_up()) {
    note_open_error("Can't start video", video_error);
    delete w;
    return nullptr;
  }
  display_modes();
  int request_w = width, request_h = height;
  if (width <= 0 || height <= 0) display_desktop_size(&width, &height);

  int colour = depth_flags & 0xFF;
  if (colour == 32) colour = 24;
  int rgb[3] = {8, 8, 8};
  if (colour > 0 && colour <= 16) {
    rgb[0] = 5; rgb[1] = 6; rgb[2] = 5;
  }
  SDL_GL_ResetAttributes();
  SDL_GL_SetAttribute(SDL_GL_RED_SIZE, rgb[0]);
  SDL_GL_SetAttribute(SDL_GL_GREEN_SIZE, rgb[1]);
  SDL_GL_SetAttribute(SDL_GL_BLUE_SIZE, rgb[2]);
  SDL_GL_SetAttribute(SDL_GL_ALPHA_SIZE, alpha_bits);
  SDL_GL_SetAttribute(SDL_GL_DEPTH_SIZE, depth_bits);
  SDL_GL_SetAttribute(SDL_GL_STENCIL_SIZE, stencil_bits);
  int accum = accum_bits > 0 ? accum_bits / 4 : 0;
  SDL_GL_SetAttribute(SDL_GL_ACCUM_RED_SIZE, accum);
  SDL_GL_SetAttribute(SDL_GL_ACCUM_GREEN_SIZE, accum);
  SDL_GL_SetAttribute(SDL_GL_ACCUM_BLUE_SIZE, accum);
  SDL_GL_SetAttribute(SDL_GL_ACCUM_ALPHA_SIZE, accum);
  SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);
  // The window's visual can depend on the profile, so ask before creating it.
  GlRequest r = gl_request_effective();
  set_context_attributes(r.major, r.minor, r.dialect);

  log_printf("Creating window\n");
  SDL_Window *sw = SDL_CreateWindow(w->title, SDL_WINDOWPOS_UNDEFINED, SDL_WINDOWPOS_UNDEFINED,
                                    width, height,
                                    SDL_WINDOW_OPENGL | SDL_WINDOW_RESIZABLE |
                                        SDL_WINDOW_ALLOW_HIGHDPI | SDL_WINDOW_HIDDEN);
  if (!sw) {
    log_error("Can't create window!\n");
    log_printf("%s\n", SDL_GetError());
    note_open_error("Can't create window", SDL_GetError());
    delete w;
    return nullptr;
  }
  w->sdl_window = sw;
  w->width = width;
  w->height = height;
  current = w;
  if (fullscreen) enter_fullscreen(w, request_w, request_h);
  if (!crosshair) crosshair = SDL_CreateSystemCursor(SDL_SYSTEM_CURSOR_CROSSHAIR);
  if (crosshair) SDL_SetCursor(crosshair);
  SDL_ShowWindow(sw);
  SDL_RaiseWindow(sw);
  SDL_GetWindowSize(sw, &w->width, &w->height);

  names_init();
  pads_open(w);

  if (!create_context(w)) {
    window_close(w);
    return nullptr;
  }
  return w;
}

void window_close(Window *w) {
  if (!w) return;
  if (w->gl_context) {
    log_printf("Deleting OpenGL context\n");
    SDL_GL_MakeCurrent(static_cast<SDL_Window *>(w->sdl_window), nullptr);
    SDL_GL_DeleteContext(static_cast<SDL_GLContext>(w->gl_context));
    w->gl_context = nullptr;
    created = GlRequest{};
    context_version[0] = 0;
    reset_status = nullptr;
  }
  log_printf("Closing input devices\n");
  pads_close();
  if (w->sdl_window) {
    log_printf("Destroying window\n");
    SDL_Window *sw = static_cast<SDL_Window *>(w->sdl_window);
    // Leaving full screen first gives the desktop its own mode back.
    if (w->flags & WINDOW_FULLSCREEN) SDL_SetWindowFullscreen(sw, 0);
    SDL_DestroyWindow(sw);
    w->sdl_window = nullptr;
  }
  if (crosshair) SDL_FreeCursor(crosshair);
  crosshair = nullptr;
  if (current == w) current = nullptr;
  // A fatal error met while drawing closes the window inside its frame; a
  // mutex must not be destroyed while held.
  if (frame_held_here(w)) {
    w->frame_owner = std::thread::id();
    w->frame_lock.unlock();
  }
  delete w;
  delete[] mode_list;
  mode_list = nullptr;
  desktop_known = false;
  video_down();
  log_printf("Window shutdown complete\n");
}

// ---------------------------------------------------------------------------
// Frames

int frame_begin(Window *w, int *width, int *height) {
  if (!w || !w->gl_context || !w->sdl_window) return 0;
  // A frame inside a frame (a loading screen drawn while drawing) would lock
  // the frame lock twice: it is skipped instead.
  if (frame_held_here(w)) return 0;
  Uint32 f = SDL_GetWindowFlags(static_cast<SDL_Window *>(w->sdl_window));
  if (w->hidden || (f & (SDL_WINDOW_HIDDEN | SDL_WINDOW_MINIMIZED))) return 0;
  w->frame_lock.lock();
  if (w->busy) {
    w->frame_lock.unlock();
    return 0;
  }
  int dw, dh;
  SDL_GL_GetDrawableSize(static_cast<SDL_Window *>(w->sdl_window), &dw, &dh);
  if (dw <= 0 || dh <= 0) {
    w->frame_lock.unlock();
    return 0;
  }
  w->frame_owner = std::this_thread::get_id();
  *width = dw;
  *height = dh;
  return 1;
}

// Whether the context survived the swap, as far as can be seen: it must
// still be SDL's current context on this thread (not deleted or replaced
// behind the frame's back), and the driver must report no reset (only
// contexts with reset notification do). A swap that fails silently, or a
// driver that hangs in it, cannot be seen from here.
static int context_alive(Window *w) {
  if (SDL_GL_GetCurrentContext() != w->gl_context) {
    log_printf("Buffer swap failed: the OpenGL context is no longer current\n");
    return 0;
  }
  unsigned status = reset_status ? reset_status() : 0;
  if (status != 0) {  // GL_NO_ERROR
    log_printf("Buffer swap failed: the OpenGL context was lost (reset status 0x%x)\n", status);
    return 0;
  }
  return 1;
}

int frame_end(Window *w) {
  if (!w || !w->sdl_window) return 0;
  // Unlocking a lock this thread does not hold is undefined.
  if (!frame_held_here(w)) return 1;
  SDL_GL_SwapWindow(static_cast<SDL_Window *>(w->sdl_window));
  int ok = context_alive(w);
  w->frame_owner = std::thread::id();
  w->frame_lock.unlock();
  return ok;
}

int window_refresh_rate(Window *w) {
  if (!w || !w->sdl_window) return 0;
  int index = SDL_GetWindowDisplayIndex(static_cast<SDL_Window *>(w->sdl_window));
  SDL_DisplayMode m;
  if (index < 0 || SDL_GetCurrentDisplayMode(index, &m) != 0) return 0;
  return m.refresh_rate > 0 ? m.refresh_rate : 0;
}

// ---------------------------------------------------------------------------
// The message pump

// SDL stamps events with its own millisecond count; carry the age over to
// the platform clock so events and tics share one time base.
static int64_t event_time_ms(Uint32 stamp) {
  int64_t now = clock_ms();
  Uint32 age = SDL_GetTicks() - stamp;
  if (age > 10000) age = 0;
  return now - int64_t(age);
}

static void push_ms(Window *w, int code, int down, int64_t ms) {
  events_push(w, code, down, ms / 1000, int(ms % 1000) * 1000);
}

// Typed text as character codes 0..255, as a press only.
static void push_text(Window *w, const char *text, int64_t ms) {
  const unsigned char *p = reinterpret_cast<const unsigned char *>(text);
  while (*p) {
    unsigned c = *p++;
    if (c >= 0x80) {
      int more = c >= 0xF0 ? 3 : c >= 0xE0 ? 2 : c >= 0xC0 ? 1 : 0;
      c &= more == 3 ? 0x07 : more == 2 ? 0x0F : 0x1F;
      for (; more > 0 && (*p & 0xC0) == 0x80; more--) c = (c << 6) | (*p++ & 0x3F);
    }
    if (c < 256) push_ms(w, int(c), 1, ms);
  }
}

void window_pump(Window *w) {
  if (!w || !w->sdl_window) return;
  SDL_Event ev;
  while (SDL_PollEvent(&ev)) window_translate_event(w, &ev);
}

void window_translate_event(Window *w, const void *event) {
  const SDL_Event &ev = *static_cast<const SDL_Event *>(event);
  {
    switch (ev.type) {
      case SDL_QUIT:
        events_push_now(w, CODE_CLOSE, 1);
        break;
      case SDL_WINDOWEVENT:
        switch (ev.window.event) {
          case SDL_WINDOWEVENT_SIZE_CHANGED: {
            FrameGuard hold(w);
            w->width = ev.window.data1;
            w->height = ev.window.data2;
            log_printf("Window size %dx%d\n", w->width, w->height);
            break;
          }
          case SDL_WINDOWEVENT_MINIMIZED:
          case SDL_WINDOWEVENT_HIDDEN:
            w->hidden = 1;
            break;
          case SDL_WINDOWEVENT_RESTORED:
          case SDL_WINDOWEVENT_SHOWN:
          case SDL_WINDOWEVENT_EXPOSED:
          case SDL_WINDOWEVENT_MAXIMIZED:
            w->hidden = 0;
            break;
        }
        break;
      case SDL_KEYDOWN:
      case SDL_KEYUP: {
        int scan = key_scan_from_sdl(ev.key.keysym.scancode);
        int64_t ms = event_time_ms(ev.key.timestamp);
        int down = ev.type == SDL_KEYDOWN;
        if (scan >= 0) push_ms(w, CODE_KEY_BASE + scan, down, ms);
        // Control characters come with their keys, not as text.
        if (down) {
          switch (ev.key.keysym.scancode) {
            case SDL_SCANCODE_BACKSPACE: push_ms(w, 8, 1, ms); break;
            case SDL_SCANCODE_TAB: push_ms(w, 9, 1, ms); break;
            case SDL_SCANCODE_RETURN:
            case SDL_SCANCODE_KP_ENTER: push_ms(w, 13, 1, ms); break;
            case SDL_SCANCODE_ESCAPE: push_ms(w, 27, 1, ms); break;
            default: break;
          }
        }
        break;
      }
      case SDL_TEXTINPUT:
        push_text(w, ev.text.text, event_time_ms(ev.text.timestamp));
        break;
      case SDL_MOUSEBUTTONDOWN:
      case SDL_MOUSEBUTTONUP: {
        int code = ev.button.button == SDL_BUTTON_LEFT     ? CODE_MOUSE_LEFT
                   : ev.button.button == SDL_BUTTON_MIDDLE ? CODE_MOUSE_MIDDLE
                   : ev.button.button == SDL_BUTTON_RIGHT  ? CODE_MOUSE_RIGHT
                                                           : 0;
        if (code) push_ms(w, code, ev.type == SDL_MOUSEBUTTONDOWN, event_time_ms(ev.button.timestamp));
        pads_handle_event(&ev);
        break;
      }
      default:
        pads_handle_event(&ev);
        break;
    }
  }
}

// ---------------------------------------------------------------------------
// Process tuning and message boxes

void tune_process() {
  long pages = sysconf(_SC_PHYS_PAGES), page = sysconf(_SC_PAGESIZE);
  uint64_t total = pages > 0 && page > 0 ? uint64_t(pages) * uint64_t(page) : 0;
  if (total < (64ull << 20)) {
    log_printf("Working set left alone - less than 64 MB physical memory\n");
    return;
  }
  if (setpriority(PRIO_PROCESS, 0, -5) == 0) log_printf("Priority successfully set to high\n");
  else log_printf("Priority set failed\n");
}

void message_box(const char *caption, const char *format, ...) {
  char text[1024];
  va_list ap;
  va_start(ap, format);
  vsnprintf(text, sizeof text, format, ap);
  va_end(ap);
  const char *end = *text && text[strlen(text) - 1] == '\n' ? "" : "\n";
  log_printf("%s: %s%s", caption, text, end);
  // Also on standard error: the box may never be seen (started from a
  // terminal or a script), and it is gone once dismissed.
  fprintf(stderr, "%s: %s%s", caption, text, end);
  fflush(stderr);
  // A modal box waits for someone to press OK: only show one where a person
  // can see it.
  if (!headless && option_flag("messagebox", 1) && has_display() && video_up()) {
    SDL_Window *parent = current ? static_cast<SDL_Window *>(current->sdl_window) : nullptr;
    if (SDL_ShowSimpleMessageBox(SDL_MESSAGEBOX_ERROR, caption, text, parent) != 0)
      log_printf("Can't show a message box: %s\n", SDL_GetError());
  }
}

void platform_reset_for_tests() {
  if (current) window_close(current);
  devices_clear();
  names_reset_for_tests();
  delete[] mode_list;
  mode_list = nullptr;
  desktop_known = false;
  requested = GlRequest{3, 1, GL_DIALECT_CORE};
  headless = 0;
}
