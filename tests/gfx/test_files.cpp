#include "tests/gfx/test_files.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <unistd.h>

// "@" names are looked up in the build folder, where the generator wrote
// the pictures. Set before the data layer first looks at its folders.
static int home_set = [] {
  const char *build = getenv("TW_BUILD_DIR");
  std::string dir;
  if (build) {
    dir = build;
  } else {
    char exe[4096];
    ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
    if (n > 0) {
      exe[n] = 0;
      dir = exe;
      dir = dir.substr(0, dir.rfind('/'));  // .../tests
      dir = dir.substr(0, dir.rfind('/'));
    }
  }
  if (!dir.empty()) setenv("TW_HOME", dir.c_str(), 1);
  return 0;
}();

TempDir::TempDir() {
  char name[] = "/tmp/tw_gfx_XXXXXX";
  dir = mkdtemp(name) ? name : "/tmp";
}

TempDir::~TempDir() {
  if (dir != "/tmp") system(("rm -rf '" + dir + "'").c_str());
}

void TempDir::write(const std::string &name, const std::string &bytes) const {
  std::ofstream(path(name), std::ios::binary) << bytes;
}

std::string TempDir::read(const std::string &name) const {
  std::ifstream in(path(name), std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

bool TempDir::run(const std::string &command) const {
  return system(("cd '" + dir + "' && ( " + command + " ) 2>/dev/null").c_str()) == 0;
}

bool have_tool(const char *name) {
  return system((std::string("command -v ") + name + " >/dev/null 2>&1").c_str()) == 0;
}

// An encoder written from the format's description, independent of the
// reader: each byte is the difference from the prediction.
std::string delta_encode(const char *magic, const uint8_t *px, int w, int h, int b) {
  std::string s = std::string(magic) + "\n# made by the test\n" + std::to_string(w) + " " +
                  std::to_string(h) + "\n";
  for (int y = 0; y < h; y++)
    for (int x = 0; x < w; x++)
      for (int c = 0; c < b; c++) {
        auto at = [&](int xx, int yy) { return int(px[(yy * w + xx) * b + c]); };
        int pred = y == 0 ? (x == 0 ? 0 : at(x - 1, 0))
                          : x == 0 ? at(0, y - 1)
                                   : std::min(255, std::max(0, at(x - 1, y) + at(x, y - 1) -
                                                                    at(x - 1, y - 1)));
        s += char(uint8_t(at(x, y) - pred));
      }
  return s;
}

