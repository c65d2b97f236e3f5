// The chat line (menu screen 16): one line of text with a cursor and the
// lines typed this run; Enter hands the line to the console.
#include <cstdio>
#include <cstring>

#include "app/app.h"
#include "app/console.h"
#include "gfx/gfx.h"
#include "platform/platform.h"

ChatLine chat_line;

namespace {

int code_of(const char *name) {
  int code = 0;
  return key_code_of(name, &code) ? code : -1;
}

// From the history, which never overlaps the line itself.
void set_text(const char *text) {
  size_t n = strnlen(text, CHAT_LINE_SIZE - 1);
  memcpy(chat_line.text, text, n);
  chat_line.text[n] = 0;
  chat_line.length = int(n);
  chat_line.cursor = chat_line.length;
}

void remember(const char *text) {
  ChatLine &c = chat_line;
  if (!text[0]) return;
  if (c.history_count && !strcmp(c.history[c.history_count - 1], text)) return;
  if (c.history_count == CHAT_HISTORY) {
    memmove(c.history[0], c.history[1], sizeof c.history[0] * (CHAT_HISTORY - 1));
    c.history_count--;
  }
  snprintf(c.history[c.history_count++], CHAT_LINE_SIZE, "%s", text);
}

void close_screen() {
  loop.menu_screen = -1;
}

void enter() {
  char line[CHAT_LINE_SIZE];
  snprintf(line, sizeof line, "%s", chat_line.text);
  remember(line);
  chat_line_open();
  close_screen();
  if (line[0]) console_line(line);
}

void erase(int at) {
  ChatLine &c = chat_line;
  if (at < 0 || at >= c.length) return;
  memmove(c.text + at, c.text + at + 1, size_t(c.length - at));
  c.length--;
  if (c.cursor > at) c.cursor--;
}

}  // namespace

void chat_line_open() {
  chat_line.text[0] = 0;
  chat_line.length = chat_line.cursor = 0;
  chat_line.browse = chat_line.history_count;
}

void chat_line_char(int c) {
  ChatLine &l = chat_line;
  if (c < 32 || c == 127 || c >= 256 || l.length >= CHAT_LINE_SIZE - 1) return;
  memmove(l.text + l.cursor + 1, l.text + l.cursor, size_t(l.length - l.cursor + 1));
  l.text[l.cursor++] = char(c);
  l.length++;
}

int chat_line_key(int code) {
  ChatLine &c = chat_line;
  // Characters: text, and the control characters that come with their keys.
  if (code >= 0 && code < CODE_CHAR_LIMIT) {
    if (code == 8) erase(c.cursor - 1);
    else if (code == 13) enter();
    else if (code == 27) close_screen();
    else chat_line_char(code);
    return 1;
  }
  if (code == ui_keys.left) c.cursor = c.cursor > 0 ? c.cursor - 1 : 0;
  else if (code == ui_keys.right) c.cursor = c.cursor < c.length ? c.cursor + 1 : c.length;
  else if (code == code_of("home")) c.cursor = 0;
  else if (code == code_of("end")) c.cursor = c.length;
  else if (code == code_of("delete")) erase(c.cursor);
  else if (code == ui_keys.up && c.browse > 0) set_text(c.history[--c.browse]);
  else if (code == ui_keys.down && c.browse < c.history_count) {
    c.browse++;
    set_text(c.browse < c.history_count ? c.history[c.browse] : "");
  } else return 0;
  return 1;
}

void chat_line_draw() {
  // Below the message lines: "Say: " and the text with a bar at the cursor.
  char shown[CHAT_LINE_SIZE + 8];
  snprintf(shown, sizeof shown, "Say: %.*s|%s", chat_line.cursor, chat_line.text,
           chat_line.text + chat_line.cursor);
  text_mode_begin(30);
  twglTranslate(0, -float(messages.showing), 0);
  text_draw_shadowed(1, 1, 0.5f, 1, shown);
  text_mode_end();
}
