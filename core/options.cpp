#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "core/log.h"

static bool options_read = false;
static std::string options_text;

static const char *find_option(const char *name) {
  if (!options_read) {
    const char *env = getenv("KORB_OPTIONS");
    options_text = env ? env : "";
    options_read = true;
  }
  char pattern[80];
  snprintf(pattern, sizeof pattern, "[%.60s:", name);
  const char *at = strstr(options_text.c_str(), pattern);
  return at ? at + strlen(pattern) : nullptr;
}

int option_flag(const char *name, int def) {
  const char *v = find_option(name);
  if (!v) return def;
  if (strncmp(v, "yes]", 4) == 0 || strncmp(v, "on]", 3) == 0) return 1;
  if (strncmp(v, "no]", 3) == 0 || strncmp(v, "off]", 4) == 0) return 0;
  log_printf("unrecognized setting for %s\n", name);
  return def;
}

int option_int(const char *name, int def) {
  const char *v = find_option(name);
  if (!v) return def;
  char *end;
  errno = 0;
  long n = strtol(v, &end, 10);
  if (end == v) {
    log_printf("unrecognized setting for %s\n", name);
    return def;
  }
  // Out-of-range numbers saturate rather than wrap.
  if (n > 2147483647L) n = 2147483647L;
  if (n < -2147483647L - 1) n = -2147483647L - 1;
  return int(n);
}

void options_reset_for_tests() {
  options_read = false;
  options_text.clear();
}
