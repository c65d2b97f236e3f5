// Device sources on SDL: game controllers (named and numbered like the
// "XInputGamepad%d" pads), other joysticks, the mouse and the pointer.
#include <SDL2/SDL.h>

#include <cstdio>
#include <cstring>

#include "core/mathutil.h"
#include "platform/internal.h"

enum PadKind { PAD_CONTROLLER, PAD_JOYSTICK, PAD_MOUSE, PAD_POINTER };
enum { MAX_PADS = 24, PAD_NUMBERS = 4, MAX_AXES = 100, MAX_BUTTONS = DEVICE_MAX_BUTTONS };

struct Pad {
  PadKind kind;
  Device *device;
  int connected;
  SDL_GameController *controller;
  SDL_Joystick *joystick;
  SDL_JoystickID instance;
  int number;                      // pad number for controllers
  uint8_t buttons[MAX_BUTTONS];    // last state seen
  int relative[3];                 // mouse motion since the last read
};

static Pad pads[MAX_PADS];
static int pad_count;
static Window *pad_window;
static int sdl_joysticks_up;
static int pointer_x, pointer_y;

void pointer_set(int x, int y) {
  pointer_x = x;
  pointer_y = y;
}

void pointer_get(int *x, int *y) {
  Window *w = pad_window;
  if (w && w->sdl_window) {
    SDL_Window *sw = static_cast<SDL_Window *>(w->sdl_window);
    int mx, my;
    SDL_GetMouseState(&mx, &my);
    // Client coordinates in drawable pixels, as frame_begin measures them.
    int ww, wh, dw, dh;
    SDL_GetWindowSize(sw, &ww, &wh);
    SDL_GL_GetDrawableSize(sw, &dw, &dh);
    if (ww > 0 && wh > 0 && dw > 0 && dh > 0) {
      mx = int(int64_t(mx) * dw / ww);
      my = int(int64_t(my) * dh / wh);
    }
    *x = mx;
    *y = my;
    return;
  }
  *x = pointer_x;
  *y = pointer_y;
}

static Pad *pad_of(Device *d) { return static_cast<Pad *>(d->impl); }

// Controller buttons in the pad's bit order: d-pad up, down, left, right,
// start, back, left and right stick, left and right shoulder, guide, -, A, B,
// X, Y.
static const int controller_bits[16] = {
    SDL_CONTROLLER_BUTTON_DPAD_UP,      SDL_CONTROLLER_BUTTON_DPAD_DOWN,
    SDL_CONTROLLER_BUTTON_DPAD_LEFT,    SDL_CONTROLLER_BUTTON_DPAD_RIGHT,
    SDL_CONTROLLER_BUTTON_START,        SDL_CONTROLLER_BUTTON_BACK,
    SDL_CONTROLLER_BUTTON_LEFTSTICK,    SDL_CONTROLLER_BUTTON_RIGHTSTICK,
    SDL_CONTROLLER_BUTTON_LEFTSHOULDER, SDL_CONTROLLER_BUTTON_RIGHTSHOULDER,
    SDL_CONTROLLER_BUTTON_GUIDE,        SDL_CONTROLLER_BUTTON_INVALID,
    SDL_CONTROLLER_BUTTON_A,            SDL_CONTROLLER_BUTTON_B,
    SDL_CONTROLLER_BUTTON_X,            SDL_CONTROLLER_BUTTON_Y,
};

static int button_now(Pad *p, int i) {
  if (!p->connected) return 0;
  switch (p->kind) {
    case PAD_CONTROLLER:
      return controller_bits[i] != SDL_CONTROLLER_BUTTON_INVALID &&
             SDL_GameControllerGetButton(p->controller, SDL_GameControllerButton(controller_bits[i]));
    case PAD_JOYSTICK:
      return SDL_JoystickGetButton(p->joystick, i) != 0;
    case PAD_MOUSE: {
      // Button order: left, right, middle, then the side buttons.
      static const int order[5] = {SDL_BUTTON_LEFT, SDL_BUTTON_RIGHT, SDL_BUTTON_MIDDLE,
                                   SDL_BUTTON_X1, SDL_BUTTON_X2};
      return (SDL_GetMouseState(nullptr, nullptr) & SDL_BUTTON(order[i])) != 0;
    }
    default:
      return 0;
  }
}

static void pad_poll(Device *d) {
  Pad *p = pad_of(d);
  for (int i = 0; i < d->button_count; i++) {
    int now = button_now(p, i);
    if (now != p->buttons[i]) {
      p->buttons[i] = uint8_t(now);
      events_push_now(pad_window, d->code_base + i, now);
    }
  }
}

static int pad_read_axis(Device *d, int index) {
  Pad *p = pad_of(d);
  switch (p->kind) {
    case PAD_CONTROLLER: {
      pad_poll(d);  // reading a pad's axes also brings its buttons up to date
      if (!p->connected) return 0;
      static const SDL_GameControllerAxis axes[6] = {
          SDL_CONTROLLER_AXIS_LEFTX,        SDL_CONTROLLER_AXIS_LEFTY,
          SDL_CONTROLLER_AXIS_RIGHTX,       SDL_CONTROLLER_AXIS_RIGHTY,
          SDL_CONTROLLER_AXIS_TRIGGERLEFT,  SDL_CONTROLLER_AXIS_TRIGGERRIGHT};
      int v = SDL_GameControllerGetAxis(p->controller, axes[index]);
      // Sticks count up as positive; triggers run 0..32767.
      if (index == 1 || index == 3) v = -v;
      return clampi(v, -32768, 32767);
    }
    case PAD_JOYSTICK: {
      // Reading a device brings its buttons up to date too, which is how a
      // button nobody has bound yet reaches the learner.
      pad_poll(d);
      if (!p->connected) return 0;
      int v = SDL_JoystickGetAxis(p->joystick, index);
      return v < -32767 ? -32767 : v;
    }
    case PAD_MOUSE: {
      int v = p->relative[index];
      p->relative[index] = 0;
      return clampi(v, -32768, 32767);
    }
    case PAD_POINTER: {
      int x, y;
      pointer_get(&x, &y);
      return index == 0 ? x : y;
    }
  }
  return 0;
}

// Motion from before anyone watched the mouse is not motion since a read.
static int pad_open_op(Device *d) {
  Pad *p = pad_of(d);
  for (int &r : p->relative) r = 0;
  return 1;
}

static const DeviceOps pad_ops = {pad_open_op, pad_poll, pad_read_axis, nullptr};

// ---------------------------------------------------------------------------
// Finding devices

static Pad *pad_new(PadKind kind) {
  if (pad_count >= MAX_PADS) return nullptr;
  Pad *p = &pads[pad_count++];
  *p = Pad{};
  p->kind = kind;
  p->connected = 1;
  return p;
}

static Pad *pad_by_instance(SDL_JoystickID id) {
  for (int i = 0; i < pad_count; i++)
    if (pads[i].connected && (pads[i].kind == PAD_CONTROLLER || pads[i].kind == PAD_JOYSTICK) &&
        pads[i].instance == id)
      return &pads[i];
  return nullptr;
}

static void add_controller(int index) {
  // A pad that comes back takes its old name, so its bindings still hold.
  Pad *p = nullptr;
  for (int i = 0; i < pad_count && !p; i++)
    if (pads[i].kind == PAD_CONTROLLER && !pads[i].connected) p = &pads[i];
  bool reuse = p != nullptr;
  if (!reuse) {
    int used = 0;
    for (int i = 0; i < pad_count; i++)
      if (pads[i].kind == PAD_CONTROLLER) used++;
    if (used >= PAD_NUMBERS) return;
  }
  SDL_GameController *gc = SDL_GameControllerOpen(index);
  if (!gc) {
    log_printf("Can't open game controller %d: %s\n", index, SDL_GetError());
    return;
  }
  if (!reuse) {
    int number = 0;
    for (int i = 0; i < pad_count; i++)
      if (pads[i].kind == PAD_CONTROLLER) number++;
    p = pad_new(PAD_CONTROLLER);
    if (!p) {
      SDL_GameControllerClose(gc);
      return;
    }
    p->number = number;
    char name[32];
    snprintf(name, sizeof name, "XInputGamepad%d", number);
    p->device = device_add(name, 16, 6, &pad_ops, p);
    if (!p->device) {
      pad_count--;
      SDL_GameControllerClose(gc);
      return;
    }
    for (int a = 0; a < 6; a++) {
      snprintf(name, sizeof name, "XInputGamepad%d axis %d", number, a);
      axis_name_add(name);
    }
  }
  p->controller = gc;
  p->joystick = SDL_GameControllerGetJoystick(gc);
  p->instance = SDL_JoystickInstanceID(p->joystick);
  p->connected = 1;
  log_printf("%s found\n", p->device->name);
  if (SDL_GameControllerName(gc)) log_printf("%s\n", SDL_GameControllerName(gc));
}

static void add_joystick(int index) {
  const char *product = SDL_JoystickNameForIndex(index);
  if (!product) product = "Joystick";
  log_printf("%s (%s)\n", product, product);
  // The name device_add gives it, less any "#2": a stick that comes back
  // takes the place of one of the same product, so its bindings still hold.
  char clean[DEVICE_CLEAN_NAME];
  device_clean_name(product, clean);
  size_t len = strlen(clean);
  Pad *p = nullptr;
  for (int i = 0; i < pad_count && !p; i++) {
    const char *old = pads[i].kind == PAD_JOYSTICK && !pads[i].connected ? pads[i].device->name : "";
    if (strncmp(old, clean, len) == 0 && (old[len] == 0 || old[len] == '#')) p = &pads[i];
  }
  SDL_Joystick *js = SDL_JoystickOpen(index);
  if (!js) {
    log_printf("Can't create \"%s\"\n", product);
    return;
  }
  if (!p) {
    int axes = SDL_JoystickNumAxes(js), buttons = SDL_JoystickNumButtons(js);
    log_printf("%d axes, %d keys\n", axes, buttons);
    if (axes <= 0 && buttons <= 0) {
      SDL_JoystickClose(js);
      return;
    }
    if (axes > MAX_AXES) {
      log_printf("Wow! This thing has a lot of axes!\nThe first ignored axis is called \"%s axis %d\"\n",
                 product, MAX_AXES);
      axes = MAX_AXES;
    }
    if (buttons > MAX_BUTTONS) {
      log_printf("Wow! This thing has a lot of buttons!\nThe first ignored button is called \"%s button %d\"\n",
                 product, MAX_BUTTONS);
      buttons = MAX_BUTTONS;
    }
    p = pad_new(PAD_JOYSTICK);
    if (!p) {
      SDL_JoystickClose(js);
      return;
    }
    p->device = device_add(product, buttons < 0 ? 0 : buttons, axes < 0 ? 0 : axes, &pad_ops, p);
    if (!p->device) {
      pad_count--;
      SDL_JoystickClose(js);
      return;
    }
    for (int a = 0; a < p->device->axis_count; a++) log_printf("axis %d is absolute\n", a);
    for (int a = 0; a < p->device->axis_count; a++) {
      char name[300];
      snprintf(name, sizeof name, "%.200s axis %d", p->device->name, a);
      log_printf("Adding axis \"%s\"\n", name);
      axis_name_add(name);
    }
  }
  p->joystick = js;
  p->instance = SDL_JoystickInstanceID(js);
  p->connected = 1;
}

static bool is_known(int index) {
  return pad_by_instance(SDL_JoystickGetDeviceInstanceID(index)) != nullptr;
}

static void add_sdl_device(int index) {
  if (is_known(index)) return;
  bool as_controller = SDL_IsGameController(index) && option_flag("xinput", 1);
  if (as_controller) add_controller(index);
  else if (option_flag("dinput", 1)) add_joystick(index);
}

// A device that goes away lets go of every button it held.
static void remove_sdl_device(SDL_JoystickID id) {
  Pad *p = pad_by_instance(id);
  if (!p) return;
  log_printf("%s removed\n", p->device->name);
  for (int i = 0; i < p->device->button_count; i++)
    if (p->buttons[i]) {
      p->buttons[i] = 0;
      events_push_now(pad_window, p->device->code_base + i, 0);
    }
  if (p->controller) SDL_GameControllerClose(p->controller);
  else if (p->joystick) SDL_JoystickClose(p->joystick);
  p->controller = nullptr;
  p->joystick = nullptr;
  p->connected = 0;
}

void pads_open(Window *w) {
  pad_window = w;
  if (!platform_headless()) {
    int up = SDL_InitSubSystem(SDL_INIT_GAMECONTROLLER) == 0;
    if (!up) log_printf("Can't start game controllers: %s\n", SDL_GetError());
    sdl_joysticks_up = up;
    int dinput = option_flag("dinput", 1), xinput = option_flag("xinput", 1);
    // Sticks that are not pads first, then the pads (read as pads only with
    // "xinput" on), as the two roll calls list them.
    if (!dinput) {
      log_printf("DirectInput disabled\n");
    } else {
      log_printf("DirectInput roll call...\n");
      for (int i = 0; up && i < SDL_NumJoysticks(); i++)
        if (!(xinput && SDL_IsGameController(i))) add_sdl_device(i);
      // The mouse as a device with relative axes, as listed with all devices.
      if (!option_flag("dinputsticksonly", 1)) {
        Pad *m = pad_new(PAD_MOUSE);
        if (m) m->device = device_add("Mouse", 5, 3, &pad_ops, m);
        if (m && !m->device) pad_count--;
      }
      log_printf("End of DirectInput roll call\n");
    }
    if (!xinput) {
      log_printf("XInput disabled\n");
    } else {
      log_printf("XInput roll call...\n");
      for (int i = 0; up && i < SDL_NumJoysticks(); i++)
        if (SDL_IsGameController(i)) add_sdl_device(i);
      log_printf("End of XInput roll call\n");
    }
  }
  Pad *c = pad_new(PAD_POINTER);
  if (c) c->device = device_add("cursor", 0, 2, &pad_ops, c);
  if (c && !c->device) pad_count--;
}

void pads_close() {
  for (int i = 0; i < pad_count; i++) {
    Pad &p = pads[i];
    if (p.kind == PAD_JOYSTICK || p.kind == PAD_MOUSE) log_printf("Killing %s\n", p.device->name);
    if (p.controller) SDL_GameControllerClose(p.controller);
    else if (p.joystick) SDL_JoystickClose(p.joystick);
  }
  pad_count = 0;
  devices_clear();
  if (sdl_joysticks_up) SDL_QuitSubSystem(SDL_INIT_GAMECONTROLLER);
  sdl_joysticks_up = 0;
  pad_window = nullptr;
}

int pads_handle_event(const void *event) {
  const SDL_Event &ev = *static_cast<const SDL_Event *>(event);
  switch (ev.type) {
    case SDL_JOYDEVICEADDED:
      if (sdl_joysticks_up) add_sdl_device(ev.jdevice.which);
      return 1;
    case SDL_JOYDEVICEREMOVED:
      remove_sdl_device(ev.jdevice.which);
      return 1;
    case SDL_MOUSEMOTION:
    case SDL_MOUSEWHEEL:
      for (int i = 0; i < pad_count; i++)
        if (pads[i].kind == PAD_MOUSE) {
          if (ev.type == SDL_MOUSEMOTION) {
            pads[i].relative[0] += ev.motion.xrel;
            pads[i].relative[1] += ev.motion.yrel;
          } else {
            pads[i].relative[2] += ev.wheel.y * 120;
          }
        }
      return 1;
  }
  return 0;
}
