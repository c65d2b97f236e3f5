// The command line: any argument vector is either taken or refused with a
// message, and what is taken is finite and within its ranges.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

// The parser is one self-contained file of the program.
#include "app/app.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  // Arguments are separated by NUL bytes.
  std::vector<std::string> args(1);
  for (size_t i = 0; i < size && args.size() < 64; i++) {
    if (data[i] == 0) args.emplace_back();
    else args.back() += char(data[i]);
  }
  std::vector<const char *> argv;
  for (const std::string &a : args) argv.push_back(a.c_str());
  Settings s;
  std::string errors;
  int status = parse_command_line(int(argv.size()), argv.data(), &s, &errors);
  if (status != 0 && errors.empty()) abort();
  if (status == 0) {
    if (s.erode < 0 || s.erode > 102400) abort();
    if (s.fake_lag < 0 || s.fake_lag > 1 || s.fake_loss < 0 || s.fake_loss > 100) abort();
    // Off, or a rate the frame loop can wait for.
    if (s.lock_fps != 0 && !(s.lock_fps >= 1 && s.lock_fps <= 1000)) abort();
    if (!std::isfinite(s.lock_fps) || !std::isfinite(s.lod_bias) ||
        !std::isfinite(s.terrain_detail) || !(s.lod_scale >= 0.000001f))
      abort();
    for (float c : s.chase_center)
      if (!std::isfinite(c)) abort();
    if (s.gl_dialect < 0 || s.gl_dialect > 2) abort();
  }
  return 0;
}
