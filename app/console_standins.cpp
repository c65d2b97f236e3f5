// Stand-ins for the subsystems the console reaches that are still to come:
// each records its call in console_standin_calls so the console can be
// checked, and does the least that keeps the program whole.
#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <string>
#include <vector>

#include "app/app.h"
#include "bike/engine_sound.h"
#include "gfx/render.h"
#include "net/net.h"
#include "race/demo.h"

std::vector<std::string> console_standin_calls;

namespace {
void note(const char *format, ...) __attribute__((format(printf, 1, 2)));
void note(const char *format, ...) {
  char text[512];
  va_list ap;
  va_start(ap, format);
  vsnprintf(text, sizeof text, format, ap);
  va_end(ap);
  console_standin_calls.push_back(text);
}
}  // namespace

void suspension_graph_set(int on) { note("suspension_graph_set %d", on); }
void contact_labels_set(int flags, double spacing) {
  note("contact_labels_set 0x%x %g", flags, spacing);
}
void contact_labels_clear() { note("contact_labels_clear"); }


int net_upload_active() { return 0; }
void net_upload_stop() { note("net_upload_stop"); }
void net_upload_start(const char *data_name) { note("net_upload_start %s", data_name); }
void net_client_info_changed() { note("net_client_info_changed"); }
