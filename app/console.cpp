// The message window: the ring of recent lines, its timing on the game
// clock and its drawing; the ON/OFF notice of the console's switches.
#include "app/console.h"

#include <cstdio>
#include <cstring>

#include "app/app.h"
#include "core/core.h"
#include "core/log.h"
#include "gfx/gfx.h"

MessageStore messages;

void message_window_clear() {
  memset(&messages, 0, sizeof messages);
  // The first chat line of a run is never a spammer's.
  messages.last_chat = -1e30;
}

void message_store_add(const char *text) {
  if (messages.hide_spam && strstr(text, "[SPAM]")) return;
  size_t n = strlen(text);
  // Colour codes start with an escape; reset them so the log reads plainly.
  const char *reset = strchr(text, 27) ? "\033[0m" : "";
  log_printf(n && text[n - 1] == '\n' ? "%s%s" : "%s%s\n", text, reset);
  int at = messages.next_line;
  if (at < 0 || at >= MESSAGE_RING) at = 0;
  snprintf(messages.lines[at], MESSAGE_SIZE, "%s", text);
  messages.next_line = (at + 1) % MESSAGE_RING;
  int limit = config.message_lines < 0             ? 0
              : config.message_lines > MESSAGE_RING ? MESSAGE_RING
                                                    : config.message_lines;
  messages.showing = messages.showing + 1 < limit ? messages.showing + 1 : limit;
  messages.next_scroll = loop.game_clock + 2;
}

void message_window_scroll(double game_clock) {
  if (game_clock > messages.next_scroll && messages.showing > 0) {
    messages.showing--;
    messages.next_scroll = game_clock + 5;
  }
}

const char *message_shown(int i) {
  int showing = messages.showing;
  if (i < 0 || i >= showing) return "";
  int at = ((messages.next_line - showing + i) % MESSAGE_RING + MESSAGE_RING) % MESSAGE_RING;
  return messages.lines[at];
}

void message_window_draw() {
  if (messages.showing <= 0) return;
  text_mode_begin(30);
  for (int i = 0; i < messages.showing; i++) {
    // A line's own line feed would move the pen twice.
    char line[MESSAGE_SIZE];
    snprintf(line, sizeof line, "%s", message_shown(i));
    line[strcspn(line, "\n")] = 0;
    text_draw_shadowed(1, 1, 1, 1, line);
    twglTranslate(0, -1, 0);
  }
  text_mode_end();
}

void toggle_notice(const char *label, int *flag) {
  *flag = !*flag;
  add_messagef(*flag ? "%.60s ON" : "%.60s OFF", label);
}
