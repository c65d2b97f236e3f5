// A clock and an event source the test owns, for driving the main loop
// through its seam (loop_io).
#pragma once
#include <cmath>
#include <cstdint>
#include <vector>

namespace loop_fakes {

// Milliseconds, like the platform clock.
inline int64_t fake_ms = 0;
inline double fake_now() { return double(fake_ms) / 1000; }
inline void fake_sleep(double s) { fake_ms += int64_t(ceil(s * 1000)); }

struct Event {
  double time;
  int code, down;
};
inline std::vector<Event> pending;
inline int fake_event(double until, int *code, int *down) {
  if (pending.empty() || pending.front().time > until) return 0;
  *code = pending.front().code;
  *down = pending.front().down;
  pending.erase(pending.begin());
  return 1;
}

}  // namespace loop_fakes
