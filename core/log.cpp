#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>

#include "core/log.h"

int log_verbosity = 0;

static FILE *log_file = nullptr;
static bool log_tried = false;
// Keeps a line's prefix, text and flush together when the audio or window
// thread logs at the same time as the main thread.
static std::mutex log_mutex;

static const char DIRECTIVE[] = "KORB_LOGFILE=";

static void write_message(const char *format, va_list ap) {
  if ((unsigned char)format[0] == 19 || !log_file) return;
  int64_t s;
  int u;
  clock_now(&s, &u);
  fprintf(log_file, "[%d:%02d:%02d.%02d] ", int(s / 3600), int(s / 60 - (s / 3600) * 60),
          int(s % 60), u / 10000);
  vfprintf(log_file, format, ap);
  fflush(log_file);
}

static void write_plain(const char *format, ...) {
  va_list ap;
  va_start(ap, format);
  write_message(format, ap);
  va_end(ap);
}

// The first message decides where the log goes; see korb.h. Returns true
// when the message was the directive (which is never written). Whether it
// is a directive is judged on the format, never on the formatted text, so a
// first message that merely prints such text opens nothing.
static bool open_log(const char *format, va_list ap) {
  log_tried = true;
  const char *env_path = getenv("KORB_LOGFILE");
  const char *env_flags = getenv("KORB_LOGFILE_FLAGS");
  bool directive = strncmp(format, DIRECTIVE, sizeof DIRECTIVE - 1) == 0;
  std::string formatted;
  const char *path = env_path;
  if (!path && directive) {
    // The path may be handed in as an argument ("KORB_LOGFILE=%s"); it is
    // formatted whole, as a cut path would open some other file.
    va_list copy;
    va_copy(copy, ap);
    int n = vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    if (n < 0) return true;
    formatted.resize(size_t(n) + 1);
    vsnprintf(formatted.data(), formatted.size(), format, ap);
    formatted.resize(size_t(n));
    path = formatted.c_str() + sizeof DIRECTIVE - 1;
  }
  if (!path) return false;
  const char *mode = "w";
  if (strncmp(path, ">>", 2) == 0) {
    mode = "a";
    path += 2;
  } else if (path[0] == '>') {
    path += 1;
  }
  if (env_flags) mode = env_flags;
  log_file = fopen(path, mode);
  if (!log_file) return directive;
  write_plain("Logfile \"%s\" opened\n", path);
  write_plain("KORB 0.31\n");
  return directive;
}

void log_printf(const char *format, ...) {
  if (!format) {
    log_close();
    return;
  }
  std::lock_guard<std::mutex> lock(log_mutex);
  if (!log_tried) {
    va_list ap;
    va_start(ap, format);
    bool directive = open_log(format, ap);
    va_end(ap);
    if (directive) return;
  }
  va_list ap;
  va_start(ap, format);
  write_message(format, ap);
  va_end(ap);
}

void log_close() {
  std::lock_guard<std::mutex> lock(log_mutex);
  log_tried = true;
  if (log_file) fclose(log_file);
  log_file = nullptr;
}

void log_error(const char *text) { log_printf("Error: %s\n", text); }

void options_reset_for_tests();

void korb_reset_for_tests() {
  {
    std::lock_guard<std::mutex> lock(log_mutex);
    if (log_file) fclose(log_file);
    log_file = nullptr;
    log_tried = false;
  }
  options_reset_for_tests();
}
