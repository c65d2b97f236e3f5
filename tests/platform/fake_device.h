// A scriptable input device for the tests: axis values and button states
// are set by the test, and opens/closes are counted.
#pragma once
#include "platform/platform.h"

struct FakeDevice {
  int axes[8] = {};
  int buttons[16] = {};
  int seen[16] = {};
  int opens = 0, closes = 0;
};

inline int fake_open(Device *d) {
  static_cast<FakeDevice *>(d->impl)->opens++;
  return 1;
}
inline void fake_close(Device *d) { static_cast<FakeDevice *>(d->impl)->closes++; }
inline int fake_read(Device *d, int index) { return static_cast<FakeDevice *>(d->impl)->axes[index]; }
inline void fake_poll(Device *d) {
  FakeDevice *f = static_cast<FakeDevice *>(d->impl);
  for (int i = 0; i < d->button_count && i < 16; i++)
    if (f->buttons[i] != f->seen[i]) {
      f->seen[i] = f->buttons[i];
      events_push_now(window_current(), d->code_base + i, f->buttons[i]);
    }
}
inline const DeviceOps fake_ops = {fake_open, fake_poll, fake_read, fake_close};
