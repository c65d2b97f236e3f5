// "shadows.pgm" light maps of any kind, through a whole track load.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "core/core.h"
#include "terrain/terrain.h"

static void quiet(const char *) {}

static void put(const std::string &path, const void *data, size_t size) {
  FILE *f = fopen(path.c_str(), "wb");
  if (!f) return;
  fwrite(data, 1, size, f);
  fclose(f);
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  static std::string dir;
  ui_hooks.message = quiet;
  if (dir.empty()) {
    char shm[] = "/dev/shm/tw_fuzz_shadows_XXXXXX", tmp[] = "/tmp/tw_fuzz_shadows_XXXXXX";
    const char *made = mkdtemp(shm);
    dir = made ? made : mkdtemp(tmp);
    // A 5 x 5 field (n = 1) with two surfaces.
    std::string hf = "1 1.0 0 4\n:" + std::string(50, '\x10');
    put(dir + "/terrain.hf", hf.data(), hf.size());
    put(dir + "/texturelist", "a.png\nb.png\n", 12);
    put(dir + "/tilemap", "\x01\x00\x07\x01", 4);
  }
  put(dir + "/shadows.pgm", data, size);
  // The tile byte 7 must have been clamped to the last surface.
  if (terrain_load(dir.c_str()) && terrain.tilemap[2] != 1) abort();
  terrain_free();
  return 0;
}
