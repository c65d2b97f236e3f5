// Binding values and key or axis names as a configuration file may hold
// them: parsing, resolving, naming and writing back never fail badly.
#include <cstdint>
#include <cstring>
#include <string>

#include "platform/platform.h"

namespace {

struct Setup {
  Setup() {
    platform_set_headless(1);
    window_open("fuzz", 64, 64, 16, 0, 16, 0, 0);
  }
};

int no_open(Device *) { return 1; }
int zero_axis(Device *, int) { return 0; }
const DeviceOps ops = {no_open, nullptr, zero_axis, nullptr};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  static Setup once;
  static bool devices_added = false;
  if (!devices_added) {
    device_add("Racing Wheel", 12, 4, &ops, nullptr);
    device_add("XInputGamepad0", 16, 6, &ops, nullptr);
    devices_added = true;
  }
  std::string text(reinterpret_cast<const char *>(data), size);
  text = text.c_str();  // the reader hands over a C string

  Binding b{};
  binding_parse(&b, text.c_str());
  binding_resolve(&b);
  char out[2048];
  binding_format(&b, out, sizeof out);
  (void)binding_value(&b);
  if (b.key_code) {
    const char *name = key_name_of(b.key_code);
    int back = 0;
    if (name && !key_code_of(name, &back)) __builtin_trap();
  }
  binding_clear(&b);

  int code = 0;
  if (key_code_of(text.c_str(), &code)) (void)key_name_of(code);
  Axis *a = axis_open(text.c_str());
  if (a) {
    (void)axis_read(a);
    axis_close(a);
  }
  (void)axis_map(int(size) * 37 - 32768, float(size % 7) / 3.0f - 1, float(size % 5) / 2.0f - 1);
  return 0;
}
