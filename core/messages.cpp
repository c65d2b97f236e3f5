#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "core/core.h"
#include "core/log.h"

static void log_message(const char *text) {
  size_t n = strlen(text);
  // Colour codes start with an escape; reset them so the log reads plainly.
  const char *reset = strchr(text, 27) ? "\033[0m" : "";
  log_printf(n && text[n - 1] == '\n' ? "%s%s" : "%s%s\n", text, reset);
}

static void log_progress(const char *text, int cycling) {
  if (!cycling) log_printf("%s\n", text);
}

static void no_refresh() {}

UiHooks ui_hooks = {log_message, log_progress, no_refresh};

void add_message(const char *text) { ui_hooks.message(text); }

void add_messagef(const char *format, ...) {
  char text[1024];
  va_list ap;
  va_start(ap, format);
  vsnprintf(text, sizeof text, format, ap);
  va_end(ap);
  add_message(text);
}

void show_progress(const char *text) { ui_hooks.progress(text, 0); }
void show_progress_cycling(const char *text) { ui_hooks.progress(text, 1); }
void loading_refresh() { ui_hooks.refresh(); }
