// Lines file text: any bytes either leave the tables empty or fill at most
// their 45 slots with finite points and bounded statistics, which write
// out and read back to the same lines.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "bike/robot.h"

static std::string text() {
  std::vector<char> out;
  lines_format(&out);
  return std::string(out.begin(), out.end());
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size > (1 << 20)) return 0;
  // Two, or as many tables as the first byte says.
  int first = size > 0 ? 1 + data[0] % 3 : 1;
  lines_prepare(first, 1);
  const char *p = reinterpret_cast<const char *>(data);
  int ok = lines_parse(p, int(size));
  int stored = 0;
  for (const LineTable &t : lines.table)
    for (const RacingLine &l : t.line) {
      if (l.points.empty()) continue;
      stored++;
      if (l.successes < 0 || l.successes > 65535 || l.failures < 0 || l.failures > 65535 ||
          l.sum2 < 0 || l.sum2 > 100000000 || l.sum1 < 0 || l.sum1 > 100000000)
        abort();
      for (const LinePoint &q : l.points)
        if (!std::isfinite(q.x) || !std::isfinite(q.y) || !std::isfinite(q.z) ||
            !std::isfinite(q.speed) || !std::isfinite(q.lean))
          abort();
    }
  if (!ok && stored) abort();
  if (ok) {
    std::string once = text();
    lines_prepare(first, 1);
    if (!lines_parse(once.data(), int(once.size()))) abort();
    int again = 0;
    for (const LineTable &t : lines.table)
      for (const RacingLine &l : t.line) again += !l.points.empty();
    if (again != stored) abort();
    analyze_lines();
    float score[LINE_SLOTS];
    for (int t = 0; t < int(lines.table.size()); t++)
      for (int mode = 0; mode < 4; mode++) {
        line_scores(t, mode, score);
        for (float s : score)
          if (!std::isfinite(s)) abort();
      }
  }
  lines_prepare(0, 0);
  return 0;
}
