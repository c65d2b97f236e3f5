// Key names: the layout-independent scan code table, aliases, interned names
// and the name <-> code lookups.
#include <SDL2/SDL_keyboard.h>
#include <SDL2/SDL_scancode.h>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "platform/internal.h"

// ---------------------------------------------------------------------------
// SDL scancode -> PC set-1 scan code (extended keys + 256). Bindings are saved
// by these codes and names, so they mean the same key on every layout.

struct ScanPair {
  int sdl, scan;
};

static const ScanPair scan_pairs[] = {
    {SDL_SCANCODE_ESCAPE, 1},        {SDL_SCANCODE_1, 2},
    {SDL_SCANCODE_2, 3},             {SDL_SCANCODE_3, 4},
    {SDL_SCANCODE_4, 5},             {SDL_SCANCODE_5, 6},
    {SDL_SCANCODE_6, 7},             {SDL_SCANCODE_7, 8},
    {SDL_SCANCODE_8, 9},             {SDL_SCANCODE_9, 10},
    {SDL_SCANCODE_0, 11},            {SDL_SCANCODE_MINUS, 12},
    {SDL_SCANCODE_EQUALS, 13},       {SDL_SCANCODE_BACKSPACE, 14},
    {SDL_SCANCODE_TAB, 15},          {SDL_SCANCODE_Q, 16},
    {SDL_SCANCODE_W, 17},            {SDL_SCANCODE_E, 18},
    {SDL_SCANCODE_R, 19},            {SDL_SCANCODE_T, 20},
    {SDL_SCANCODE_Y, 21},            {SDL_SCANCODE_U, 22},
    {SDL_SCANCODE_I, 23},            {SDL_SCANCODE_O, 24},
    {SDL_SCANCODE_P, 25},            {SDL_SCANCODE_LEFTBRACKET, 26},
    {SDL_SCANCODE_RIGHTBRACKET, 27}, {SDL_SCANCODE_RETURN, 28},
    {SDL_SCANCODE_LCTRL, 29},        {SDL_SCANCODE_A, 30},
    {SDL_SCANCODE_S, 31},            {SDL_SCANCODE_D, 32},
    {SDL_SCANCODE_F, 33},            {SDL_SCANCODE_G, 34},
    {SDL_SCANCODE_H, 35},            {SDL_SCANCODE_J, 36},
    {SDL_SCANCODE_K, 37},            {SDL_SCANCODE_L, 38},
    {SDL_SCANCODE_SEMICOLON, 39},    {SDL_SCANCODE_APOSTROPHE, 40},
    {SDL_SCANCODE_GRAVE, 41},        {SDL_SCANCODE_LSHIFT, 42},
    {SDL_SCANCODE_BACKSLASH, 43},    {SDL_SCANCODE_NONUSHASH, 43},
    {SDL_SCANCODE_Z, 44},            {SDL_SCANCODE_X, 45},
    {SDL_SCANCODE_C, 46},            {SDL_SCANCODE_V, 47},
    {SDL_SCANCODE_B, 48},            {SDL_SCANCODE_N, 49},
    {SDL_SCANCODE_M, 50},            {SDL_SCANCODE_COMMA, 51},
    {SDL_SCANCODE_PERIOD, 52},       {SDL_SCANCODE_SLASH, 53},
    {SDL_SCANCODE_RSHIFT, 54},       {SDL_SCANCODE_KP_MULTIPLY, 55},
    {SDL_SCANCODE_LALT, 56},         {SDL_SCANCODE_SPACE, 57},
    {SDL_SCANCODE_CAPSLOCK, 58},     {SDL_SCANCODE_F1, 59},
    {SDL_SCANCODE_F2, 60},           {SDL_SCANCODE_F3, 61},
    {SDL_SCANCODE_F4, 62},           {SDL_SCANCODE_F5, 63},
    {SDL_SCANCODE_F6, 64},           {SDL_SCANCODE_F7, 65},
    {SDL_SCANCODE_F8, 66},           {SDL_SCANCODE_F9, 67},
    {SDL_SCANCODE_F10, 68},          {SDL_SCANCODE_PAUSE, 69},
    {SDL_SCANCODE_SCROLLLOCK, 70},   {SDL_SCANCODE_KP_7, 71},
    {SDL_SCANCODE_KP_8, 72},         {SDL_SCANCODE_KP_9, 73},
    {SDL_SCANCODE_KP_MINUS, 74},     {SDL_SCANCODE_KP_4, 75},
    {SDL_SCANCODE_KP_5, 76},         {SDL_SCANCODE_KP_6, 77},
    {SDL_SCANCODE_KP_PLUS, 78},      {SDL_SCANCODE_KP_1, 79},
    {SDL_SCANCODE_KP_2, 80},         {SDL_SCANCODE_KP_3, 81},
    {SDL_SCANCODE_KP_0, 82},         {SDL_SCANCODE_KP_PERIOD, 83},
    {SDL_SCANCODE_NONUSBACKSLASH, 86}, {SDL_SCANCODE_F11, 87},
    {SDL_SCANCODE_F12, 88},          {SDL_SCANCODE_KP_EQUALS, 89},
    {SDL_SCANCODE_F13, 100},         {SDL_SCANCODE_F14, 101},
    {SDL_SCANCODE_F15, 102},         {SDL_SCANCODE_F16, 103},
    {SDL_SCANCODE_F17, 104},         {SDL_SCANCODE_F18, 105},
    {SDL_SCANCODE_F19, 106},         {SDL_SCANCODE_F20, 107},
    {SDL_SCANCODE_F21, 108},         {SDL_SCANCODE_F22, 109},
    {SDL_SCANCODE_F23, 110},         {SDL_SCANCODE_INTERNATIONAL2, 112},
    {SDL_SCANCODE_INTERNATIONAL1, 115}, {SDL_SCANCODE_F24, 118},
    {SDL_SCANCODE_INTERNATIONAL4, 121}, {SDL_SCANCODE_INTERNATIONAL5, 123},
    {SDL_SCANCODE_INTERNATIONAL3, 125}, {SDL_SCANCODE_KP_COMMA, 126},
    // Extended keys.
    {SDL_SCANCODE_AUDIOPREV, 256 + 0x10}, {SDL_SCANCODE_AUDIONEXT, 256 + 0x19},
    {SDL_SCANCODE_KP_ENTER, 284},    {SDL_SCANCODE_RCTRL, 285},
    {SDL_SCANCODE_AUDIOMUTE, 256 + 0x20}, {SDL_SCANCODE_MUTE, 256 + 0x20},
    {SDL_SCANCODE_AUDIOPLAY, 256 + 0x22}, {SDL_SCANCODE_AUDIOSTOP, 256 + 0x24},
    {SDL_SCANCODE_VOLUMEDOWN, 256 + 0x2E}, {SDL_SCANCODE_VOLUMEUP, 256 + 0x30},
    {SDL_SCANCODE_KP_DIVIDE, 309},   {SDL_SCANCODE_PRINTSCREEN, 311},
    {SDL_SCANCODE_RALT, 312},        {SDL_SCANCODE_NUMLOCKCLEAR, 325},
    {SDL_SCANCODE_HOME, 327},        {SDL_SCANCODE_UP, 328},
    {SDL_SCANCODE_PAGEUP, 329},      {SDL_SCANCODE_LEFT, 331},
    {SDL_SCANCODE_RIGHT, 333},       {SDL_SCANCODE_END, 335},
    {SDL_SCANCODE_DOWN, 336},        {SDL_SCANCODE_PAGEDOWN, 337},
    {SDL_SCANCODE_INSERT, 338},      {SDL_SCANCODE_DELETE, 339},
    {SDL_SCANCODE_LGUI, 347},        {SDL_SCANCODE_RGUI, 348},
    {SDL_SCANCODE_APPLICATION, 349}, {SDL_SCANCODE_POWER, 350},
    {SDL_SCANCODE_SLEEP, 351},       {SDL_SCANCODE_CALCULATOR, 256 + 0x21},
    {SDL_SCANCODE_AC_HOME, 256 + 0x32}, {SDL_SCANCODE_AC_SEARCH, 256 + 0x65},
    {SDL_SCANCODE_AC_BOOKMARKS, 256 + 0x66}, {SDL_SCANCODE_AC_REFRESH, 256 + 0x67},
    {SDL_SCANCODE_AC_STOP, 256 + 0x68}, {SDL_SCANCODE_AC_FORWARD, 256 + 0x69},
    {SDL_SCANCODE_AC_BACK, 256 + 0x6A}, {SDL_SCANCODE_COMPUTER, 256 + 0x6B},
    {SDL_SCANCODE_MAIL, 256 + 0x6C}, {SDL_SCANCODE_MEDIASELECT, 256 + 0x6D},
};

int key_scan_from_sdl(int sdl_scancode) {
  for (const ScanPair &p : scan_pairs)
    if (p.sdl == sdl_scancode) return p.scan;
  return -1;
}

static int sdl_from_scan(int scan) {
  for (const ScanPair &p : scan_pairs)
    if (p.scan == scan) return p.sdl;
  return -1;
}

// ---------------------------------------------------------------------------
// The built-in key name table.

struct KeyName {
  const char *name;
  int scan;
};

static const KeyName builtin_keys[] = {
    {"Esc", 1},      {"0", 11},        {"1", 2},          {"2", 3},
    {"3", 4},        {"4", 5},         {"5", 6},          {"6", 7},
    {"7", 8},        {"8", 9},         {"9", 10},         {"A", 30},
    {"B", 48},       {"C", 46},        {"D", 32},         {"E", 18},
    {"F", 33},       {"G", 34},        {"H", 35},         {"I", 23},
    {"J", 36},       {"K", 37},        {"L", 38},         {"M", 50},
    {"N", 49},       {"O", 24},        {"P", 25},         {"Q", 16},
    {"R", 19},       {"S", 31},        {"T", 20},         {"U", 22},
    {"V", 47},       {"W", 17},        {"X", 45},         {"Y", 21},
    {"Z", 44},       {"-", 12},        {"=", 13},         {"[", 26},
    {"]", 27},       {";", 39},        {"'", 40},         {"`", 41},
    {"\\", 43},      {",", 51},        {".", 52},         {"/", 53},
    {"Backspace", 14}, {"Tab", 15},    {"Enter", 28},     {"Left Ctrl", 29},
    {"Left Shift", 42}, {"Right Shift", 54}, {"Space", 57}, {" ", 57},
    {"Caps Lock", 58}, {"Right Ctrl", 285}, {"Insert", 338}, {"Delete", 339},
    {"Home", 327},   {"End", 335},     {"Page Up", 329},  {"Page Down", 337},
    {"Up", 328},     {"Down", 336},    {"Left", 331},     {"Right", 333},
    {"F1", 59},      {"F2", 60},       {"F3", 61},        {"F4", 62},
    {"F5", 63},      {"F6", 64},       {"F7", 65},        {"F8", 66},
    {"F9", 67},      {"F10", 68},      {"F11", 87},       {"F12", 88},
    {"Pause", 69},   {"Num Lock", 325}, {"Keypad /", 309}, {"Keypad *", 55},
    {"Keypad -", 74}, {"Keypad 7", 71}, {"Keypad 8", 72}, {"Keypad 9", 73},
    {"Keypad +", 78}, {"Keypad 4", 75}, {"Keypad 5", 76}, {"Keypad 6", 77},
    {"Keypad 1", 79}, {"Keypad 2", 80}, {"Keypad 3", 81}, {"Keypad Enter", 284},
    {"Keypad 0", 82}, {"Keypad .", 83},
};

const char *key_builtin_name(int scan) {
  for (const KeyName &k : builtin_keys)
    if (k.scan == scan) return k.name;
  return "";
}

// ---------------------------------------------------------------------------
// Interned names and aliases.

static std::unordered_set<std::string> *pool;
static std::unordered_map<std::string, const char *> *aliases;

const char *name_intern(const char *text) {
  if (!pool) pool = new std::unordered_set<std::string>;
  return pool->insert(text ? text : "").first->c_str();
}

static void alias_put(const char *name, const char *target) {
  if (!aliases) aliases = new std::unordered_map<std::string, const char *>;
  auto found = aliases->find(name);
  if (found != aliases->end()) {
    log_printf("Second alias for '%s' ('%s') ignored\n", name, target);
    return;
  }
  (*aliases)[name] = name_intern(target);
}

// The 512 system names: the built-in name where there is one, else SDL's
// fixed name for the key, else a "0x.." text that key_code_of reads back,
// so every real key can be bound and saved.
static const char *system_names[512];
static bool names_ready;

void names_init() {
  if (names_ready) return;
  names_ready = true;
  static const char *const standard[][2] = {
      {"cursor-left", "Mouse Left"},       {"cursor-middle", "Mouse Middle"},
      {"cursor-right", "Mouse Right"},     {"cursor-x", "cursor.axis[0]"},
      {"cursor-y", "cursor.axis[1]"},      {"mouse-x", "Mouse.axis[0]"},
      {"mouse-y", "Mouse.axis[1]"},        {"mouse-left", "Mouse.key[0]"},
      {"mouse-right", "Mouse.key[1]"},     {"mouse-middle", "Mouse.key[2]"},
      {"joystick-a-x", "Joystick1.axis[0]"}, {"joystick-a-y", "Joystick1.axis[1]"},
      {"joystick-a-1", "Joystick1.key[0]"}, {"joystick-a-2", "Joystick1.key[1]"},
      {"joystick-b-x", "Joystick2.axis[0]"}, {"joystick-b-y", "Joystick2.axis[1]"},
      {"joystick-b-1", "Joystick2.key[0]"}, {"joystick-b-2", "Joystick2.key[1]"},
  };
  for (auto &a : standard) alias_put(a[0], a[1]);
  for (int s = 0; s < 512; s++) {
    const char *name = key_builtin_name(s);
    char buf[16];
    if (!*name) {
      int sdl = sdl_from_scan(s);
      if (sdl >= 0) {
        name = SDL_GetScancodeName(SDL_Scancode(sdl));
        if (!name || !*name) {
          snprintf(buf, sizeof buf, "0x%x", s);
          name = buf;
        }
      }
    }
    system_names[s] = name_intern(name);
  }
}

void alias_add(const char *name, const char *target) {
  names_init();
  alias_put(name, target);
}

const char *alias_resolve(const char *name) {
  names_init();
  auto found = aliases->find(name);
  return found == aliases->end() ? name : found->second;
}

// ---------------------------------------------------------------------------
// Lookups.

static const struct {
  const char *name;
  int code;
} fixed_names[] = {
    {"Close", CODE_CLOSE},
    {"Mouse Left", CODE_MOUSE_LEFT},
    {"Mouse Middle", CODE_MOUSE_MIDDLE},
    {"Mouse Right", CODE_MOUSE_RIGHT},
};

static int loose_char(unsigned char c) {
  if (c == '_' || isspace(c)) return ' ';
  return tolower(c);
}

// Case-insensitive, with "_" and white space counted as a space.
static bool loose_equal(const char *a, const char *b) {
  for (; *a && *b; a++, b++)
    if (loose_char(*a) != loose_char(*b)) return false;
  return *a == *b;
}

static int find_in_lists(const char *name, bool loose) {
  auto same = [&](const char *candidate) {
    return loose ? loose_equal(name, candidate) : strcmp(name, candidate) == 0;
  };
  for (auto &f : fixed_names)
    if (same(f.name)) return f.code;
  for (int s = 0; s < 512; s++)
    if (*system_names[s] && same(system_names[s])) return CODE_KEY_BASE + s;
  for (const KeyName &k : builtin_keys)
    if (same(k.name)) return CODE_KEY_BASE + k.scan;
  return -1;
}

int key_code_of(const char *name, int *code) {
  if (!name || !*name) return 0;
  names_init();
  name = alias_resolve(name);
  int found = find_in_lists(name, false);
  if (found < 0) found = find_in_lists(name, true);
  if (found >= 0) {
    *code = found;
    return 1;
  }
  unsigned value;
  if (sscanf(name, "0x%x", &value) == 1 && value <= 511) {
    *code = CODE_KEY_BASE + int(value);
    return 1;
  }
  char device_name[64];
  int index;
  if ((sscanf(name, "%63[^.].key[%d]", device_name, &index) == 2 ||
       sscanf(name, "%63s button %d", device_name, &index) == 2) &&
      index >= 0 && index <= 255) {
    Device *d = device_find(device_name);
    if (d && index < d->button_count) {
      if (!d->poll_buttons) {
        d->poll_buttons = 1;
        if (d->use_count == 0 && d->ops && d->ops->open) d->ops->open(d);
      }
      *code = d->code_base + index;
      return 1;
    }
  }
  return 0;
}

const char *key_name_of(int code) {
  names_init();
  for (auto &f : fixed_names)
    if (f.code == code) return f.name;
  if (code >= CODE_KEY_BASE && code < CODE_KEY_BASE + 512) {
    const char *name = system_names[code - CODE_KEY_BASE];
    if (!*name) name = key_builtin_name(code - CODE_KEY_BASE);
    return *name ? name : nullptr;
  }
  if (code >= CODE_DEVICE_SPAN) {
    for (int i = 0; i < device_count(); i++) {
      Device *d = device_at(i);
      if (code >= d->code_base && code < d->code_base + d->button_count) {
        char buf[1100];
        snprintf(buf, sizeof buf, "%.1000s button %d", d->name, code - d->code_base);
        return name_intern(buf);
      }
    }
  }
  return nullptr;
}

void names_reset_for_tests() {
  delete aliases;
  aliases = nullptr;
  names_ready = false;
}
