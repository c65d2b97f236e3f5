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

std::vector<Keyframe> keyframes;
}  // namespace

void render_stats_reset() { note("render_stats_reset"); }
void suspension_graph_set(int on) { note("suspension_graph_set %d", on); }
void free_camera_set_angles(double yaw, double pitch) {
  note("free_camera_set_angles %g %g", yaw, pitch);
}
void contact_labels_set(int flags, double spacing) {
  note("contact_labels_set 0x%x %g", flags, spacing);
}
void contact_labels_clear() { note("contact_labels_clear"); }


// Tests set this to stand for a recording in progress.

int net_upload_active() { return 0; }
void net_upload_stop() { note("net_upload_stop"); }
void net_upload_start(const char *data_name) { note("net_upload_start %s", data_name); }
void net_client_info_changed() { note("net_client_info_changed"); }

void keycam_add(int tic) {
  Keyframe k{};
  k.fov = config.fov;
  k.tic = tic;
  keyframes.insert(std::upper_bound(keyframes.begin(), keyframes.end(), k,
                                    [](const Keyframe &a, const Keyframe &b) {
                                      return a.tic < b.tic;
                                    }),
                   k);
  note("keycam_add %d", tic);
}
void keycam_delete(int tic) {
  note("keycam_delete %d", tic);
  if (keyframes.size() < 2) {
    keyframes.clear();
    return;
  }
  for (size_t i = 0; i < keyframes.size(); i++)
    if (keyframes[i].tic > tic) {
      keyframes.erase(keyframes.begin() + long(i));
      return;
    }
  keyframes.pop_back();
}
void keycam_clear() { keyframes.clear(); }
int keycam_count() { return int(keyframes.size()); }
const Keyframe *keycam_get(int i) {
  return i >= 0 && i < int(keyframes.size()) ? &keyframes[size_t(i)] : nullptr;
}
void keycam_replace(const Keyframe *frames, int count) { keyframes.assign(frames, frames + count); }
