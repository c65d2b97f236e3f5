// Loading a track's ground: "terrain.hf" (with inline samples or a
// "terrain.png" height map), "shadows.pgm", the surface file and "tilemap".
#include <sys/mman.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>

#include "core/core.h"
#include "core/log.h"
#include "core/png.h"
#include "terrain/terrain_internal.h"

TerrainHooks terrain_hooks;
TerrainLight terrain_light = {{0.75f, 0.5f, 0.4330127f}, {1.0f, 0.96f, 0.88f}, {0.42f, 0.45f, 0.52f}};
int terrain_shift_limit = TERRAIN_MAX_SHIFT;

static void begin(const char *text) { show_progress(text); }

static void done(const char *text) {
  char line[96];
  snprintf(line, sizeof line, "%.64s...done", text);
  show_progress(line);
}

static std::string join(const char *dir, const char *file) { return std::string(dir) + "/" + file; }

static DataFile *open_or_say(const char *dir, const char *file) {
  std::string path = join(dir, file);
  DataFile *f = data_open(path.c_str(), "rb");
  if (!f) {
    char text[1000];
    snprintf(text, sizeof text, "Can't open '%.950s'", path.c_str());
    add_message(text);
  }
  return f;
}

void terrain_free() {
  Terrain &t = terrain;
  // The hooks must be safe on an empty terrain.
  if (terrain_hooks.decals_free) terrain_hooks.decals_free();
  if (terrain_hooks.render_free) terrain_hooks.render_free();
  mem_free(t.heights);  // base_heights shares the block
  mem_free(t.shadows);
  mem_free(t.tilemap);
  mem_free(t.dirty_blocks);
  memset(&t, 0, sizeof t);
}

// ------------------------------------------------------------------ heights

// Queries land anywhere in tens of megabytes of heights: with large pages
// the page walks that would dominate their cost mostly go away.
static void advise_huge_pages(void *block, size_t bytes) {
  const uintptr_t page = 2u << 20;
  uintptr_t lo = (uintptr_t(block) + page - 1) & ~(page - 1);
  uintptr_t hi = (uintptr_t(block) + bytes) & ~(page - 1);
  if (hi > lo) madvise(reinterpret_cast<void *>(lo), hi - lo, MADV_HUGEPAGE);
}

static int read_inline_samples(DataFile *f, float low, float high, Ripemd160 *digest) {
  Terrain &t = terrain;
  int n = t.size;
  uint8_t *row = static_cast<uint8_t *>(mem_alloc(size_t(n) * 2));
  if (!row) return 0;
  float range = high - low;
  for (int j = 0; j < n; j++) {
    if (data_read(f, row, n * 2) != n * 2 || data_error(f)) {
      mem_free(row);
      return 0;
    }
    ripemd160_update(digest, row, size_t(n) * 2);
    float *h = t.heights + size_t(j) * n;
    for (int i = 0; i < n; i++) h[i] = low + range * float(row[2 * i] | row[2 * i + 1] << 8) / 65535.0f;
    if ((j & 63) == 0) show_progress_cycling("Loading heights");
  }
  mem_free(row);
  return 1;
}

static void read_png_samples(const char *dir, float low, float high, Ripemd160 *digest) {
  Terrain &t = terrain;
  int n = t.size;
  std::string path = join(dir, "terrain.png");
  // Only the samples the ground uses are kept; a picture wider or taller
  // than any ground (8193 a side) could need is refused before any row.
  PngRead how = {};
  how.as = PNG_AS_GRAY16;
  how.max_side = 16384;
  how.keep_w = how.keep_h = n;
  PngPicture pic;
  DataFile *f = data_open(path.c_str(), "rb");
  int read = f && png_read_picture(f, &how, &pic);
  if (f) data_close(f);
  if (!read) {
    // No picture: the ground is flat at the low end of the range.
    for (size_t k = 0; k < size_t(n) * n; k++) t.heights[k] = low;
    return;
  }
  const uint16_t *img = reinterpret_cast<const uint16_t *>(pic.pixels);
  int kw = pic.kept_w, kh = pic.kept_h;
  float range = high - low;
  uint8_t *raw = static_cast<uint8_t *>(mem_alloc(size_t(n) * 2));
  for (int j = 0; j < n; j++) {
    const uint16_t *src = img + size_t(j < kh ? j : kh - 1) * kw;
    float *dst = t.heights + size_t(j) * n;
    for (int i = 0; i < n; i++) {
      uint16_t v = src[i < kw ? i : kw - 1];
      dst[i] = low + range * float(v) / 65535.0f;
      if (raw) {
        raw[2 * i] = uint8_t(v);
        raw[2 * i + 1] = uint8_t(v >> 8);
      }
    }
    if (raw) ripemd160_update(digest, raw, size_t(n) * 2);
    if ((j & 63) == 0) show_progress_cycling("Loading heights");
  }
  mem_free(raw);
  png_picture_free(&pic);
}

// Header and samples; the file stays open for the caller to close.
int terrain_load_heights(const char *dir, DataFile *f) {
  Terrain &t = terrain;
  int n = 0;
  float spacing = 0, low = 0, high = 0;
  int fields = data_scanf(f, "%d %f %f %f ", &n, &spacing, &low, &high);
  // A size beyond what memory can hold, or a spacing that divides by zero
  // or overflows the extent, is as unusable as a missing number.
  int sane = fields == 4 && n >= 0 && n <= terrain_shift_limit && std::isfinite(spacing) &&
             spacing > 0 && std::isfinite(low) && std::isfinite(high) &&
             std::isfinite(spacing * float(2 << n)) && std::isfinite(1.0f / spacing);
  if (!sane) {
    add_message("Bad height field parameters");
    add_message("Error reading heights");
    return 0;
  }
  t.shift = n;
  t.size = (2 << n) + 1;
  t.spacing = spacing;
  t.extent = spacing * float(2 << n);
  t.inv_spacing = 1.0f / spacing;
  t.tile_size = 2 * spacing;
  t.max_height = high;
  t.min_height = low;
  size_t count = size_t(t.size) * t.size;
  t.heights = static_cast<float *>(mem_alloc(sizeof(float) * count * 2));
  if (!t.heights) {
    log_printf("No memory for a %dx%d height field\n", t.size, t.size);
    add_message("Error reading heights");
    return 0;
  }
  t.base_heights = t.heights + count;
  advise_huge_pages(t.heights, sizeof(float) * count * 2);

  begin("Loading heights");
  Ripemd160 digest;
  ripemd160_init(&digest);
  if (data_getc(f) == ':') {
    if (!read_inline_samples(f, low, high, &digest)) {
      log_printf("Height samples end early\n");
      add_message("Error reading heights");
      return 0;
    }
  } else {
    read_png_samples(dir, low, high, &digest);
  }
  uint8_t sum[20];
  ripemd160_final(&digest, sum);
  if (log_verbosity >= 2) {
    char hex[41];
    for (int i = 0; i < 20; i++) snprintf(hex + 2 * i, 3, "%02x", sum[i]);
    log_printf("%s\n", hex);
  }
  memcpy(t.base_heights, t.heights, sizeof(float) * count);
  done("Loading heights");
  return 1;
}

// ------------------------------------------------------------------ shadows

static int pgm_token(DataFile *f, int *out) {
  int c = data_getc(f);
  for (;;) {
    while (c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v') c = data_getc(f);
    if (c != '#') break;
    while (c != '\n' && c != -1) c = data_getc(f);
  }
  if (c < '0' || c > '9') return 0;
  long v = 0;
  while (c >= '0' && c <= '9') {
    v = v * 10 + (c - '0');
    if (v > 1000000) return 0;
    c = data_getc(f);
  }
  *out = int(v);
  // The one separator after the number is consumed here, as binary data
  // begins right after it.
  return 1;
}

// -1 when the file is no readable grey map, -2 when its size is wrong.
static int read_shadows(DataFile *f, int *w, int *h) {
  Terrain &t = terrain;
  int m0 = data_getc(f), m1 = data_getc(f);
  int maxval = 0;
  // Only grey maps: a colour picture would be read as three times the
  // samples and shade the ground with its first third.
  if (m0 != 'P' || (m1 != '5' && m1 != '2') || !pgm_token(f, w) || !pgm_token(f, h) ||
      !pgm_token(f, &maxval) || maxval < 1)
    return -1;
  if (*w != t.size || *h != t.size) return -2;
  size_t count = size_t(t.size) * t.size;
  if (m1 == '5') {
    if (maxval > 255) return -1;
    if (data_read(f, t.shadows, int(count)) != int(count) || data_error(f)) return -1;
    for (size_t k = 0; k < count; k++) {
      int v = maxval == 255 ? t.shadows[k] : t.shadows[k] * 255 / maxval;
      t.shadows[k] = uint8_t(255 - (v > 255 ? 255 : v));
    }
  } else {
    for (size_t k = 0; k < count; k++) {
      int v;
      if (!pgm_token(f, &v)) return -1;
      v = v * 255 / maxval;
      t.shadows[k] = uint8_t(255 - (v > 255 ? 255 : v));
    }
  }
  return 0;
}

static int load_shadows(const char *dir) {
  Terrain &t = terrain;
  size_t count = size_t(t.size) * t.size;
  t.shadows = static_cast<uint8_t *>(mem_alloc(count));
  if (!t.shadows) {
    add_message("Error reading shadows");
    return 0;
  }
  memset(t.shadows, 0, count);
  std::string path = join(dir, "shadows.pgm");
  DataFile *f = data_open(path.c_str(), "rb");
  if (!f) return 1;
  int w = 0, h = 0;
  int r = read_shadows(f, &w, &h);
  data_close(f);
  if (r == -1) {
    add_message("Error reading shadows");
    return 0;
  }
  if (r == -2) {
    log_printf("Bad shadow dimensions (%dx%d)\n", w, h);
    return 0;
  }
  return 1;
}

// ---------------------------------------------------------- surfaces, tiles

static int load_surfaces(const char *dir) {
  std::string path = join(dir, "tileinfo");
  DataFile *f = data_open(path.c_str(), "rb");
  if (f) {
    int ok = tileinfo_parse(f) && !data_error(f);
    data_close(f);
    if (!ok) add_message("Error reading tileinfo");
    return ok;
  }
  f = open_or_say(dir, "texturelist");
  if (!f) return 0;
  int ok = texturelist_parse(f) && !data_error(f);
  data_close(f);
  if (!ok) add_message("Error reading textures");
  return ok;
}

static int load_tilemap(const char *dir) {
  Terrain &t = terrain;
  DataFile *f = open_or_say(dir, "tilemap");
  if (!f) return 0;
  int tiles = 1 << t.shift;
  size_t count = size_t(tiles) * tiles;
  t.tilemap = static_cast<uint8_t *>(mem_alloc(count));
  if (!t.tilemap) {
    data_close(f);
    return 0;
  }
  memset(t.tilemap, 0, count);
  int got = data_read(f, t.tilemap, int(count));
  data_close(f);
  int last = t.tile_count - 1;
  for (int k = 0; k < got; k++)
    if (t.tilemap[k] > last) t.tilemap[k] = uint8_t(last);
  return 1;
}

static void log_texture_memory(const char *when) {
  if (log_verbosity >= 1 && terrain_hooks.texture_bytes)
    log_printf("%lu bytes texture memory used %s ground tiles loaded\n",
               (unsigned long)terrain_hooks.texture_bytes(), when);
}

int terrain_load(const char *dir) {
  Terrain &t = terrain;
  terrain_free();
  t.frozen = 0;
  begin("Loading terrain");
  DataFile *f = open_or_say(dir, "terrain.hf");
  if (!f) return 0;
  int ok = terrain_load_heights(dir, f);
  data_close(f);
  if (!ok) {
    terrain_free();
    return 0;
  }
  done("Loading terrain");

  begin("Loading shadows");
  if (!load_shadows(dir)) {
    terrain_free();
    return 0;
  }
  done("Loading shadows");

  log_texture_memory("before");
  begin("Loading tileinfo");
  if (!load_surfaces(dir)) {
    terrain_free();
    return 0;
  }
  done("Loading tileinfo");
  log_texture_memory("after");

  begin("Loading tilemap");
  if (!load_tilemap(dir)) {
    terrain_free();
    return 0;
  }
  done("Loading tilemap");

  t.dirty_side = (t.size - 1) / TERRAIN_BLOCK_CELLS;
  if (t.dirty_side < 1) t.dirty_side = 1;
  int blocks = t.dirty_side * t.dirty_side;
  t.dirty_blocks = static_cast<uint32_t *>(mem_alloc(sizeof(uint32_t) * ((blocks + 31) / 32)));
  if (!t.dirty_blocks) {
    terrain_free();
    return 0;
  }
  memset(t.dirty_blocks, 0, sizeof(uint32_t) * ((blocks + 31) / 32));
  t.dirty_cursor = 0;

  begin("Creating terrain texture pyramid");
  if (terrain_hooks.render_create && !terrain_hooks.render_create()) {
    terrain_free();
    return 0;
  }
  done("Creating terrain texture pyramid");
  if (terrain_hooks.decals_load && !terrain_hooks.decals_load(dir)) {
    terrain_free();
    return 0;
  }
  return 1;
}
