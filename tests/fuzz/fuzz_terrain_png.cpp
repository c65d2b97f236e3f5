// "terrain.png" height maps of any kind, read through the height field loader.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "core/core.h"
#include "terrain/terrain_internal.h"

static void quiet(const char *) {}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  static std::string dir;
  if (dir.empty()) {
    // Memory-backed when the system has it: each run writes the file anew.
    char shm[] = "/dev/shm/tw_fuzz_png_XXXXXX", tmp[] = "/tmp/tw_fuzz_png_XXXXXX";
    const char *made = mkdtemp(shm);
    dir = made ? made : mkdtemp(tmp);
  }
  ui_hooks.message = quiet;
  std::string path = dir + "/terrain.png";
  FILE *out = fopen(path.c_str(), "wb");
  if (!out) return 0;
  fwrite(data, 1, size, out);
  fclose(out);
  static const char header[] = "3 0.5 -1 1\n";
  DataFile *f = data_open_memory(header, sizeof header - 1, 0);
  terrain_free();
  if (terrain_load_heights(dir.c_str(), f)) {
    volatile float h = terrain_height(1.3f, 2.7f);
    (void)h;
  }
  data_close(f);
  terrain_free();
  return 0;
}
