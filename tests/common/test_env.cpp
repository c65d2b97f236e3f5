// Linked into every test program: points the home folder at the build's own
// test folder (so a developer's real one is never touched) and tells tests
// where the sources and the generated data are, whether the program is run
// by ctest or by hand. Values already in the environment win.
#include <cstdlib>

namespace {
struct TestEnvironment {
  TestEnvironment() {
    setenv("XDG_DATA_HOME", TW_BUILD_DIR "/testhome", 0);
    setenv("TW_SOURCE_DIR", TW_SOURCE_DIR, 0);
    setenv("TW_BUILD_DIR", TW_BUILD_DIR, 0);
  }
} test_environment;
}  // namespace
