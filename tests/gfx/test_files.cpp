#include "tests/gfx/test_files.h"

#include <cstdlib>
#include <fstream>
#include <sstream>

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
