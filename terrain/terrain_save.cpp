// The editor's writers: the height field as header plus 16-bit height map,
// baked shading pictures, the tile map and the decals. Every file goes
// through a temporary file and a rename, so a failed save leaves the
// previous track whole.
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "core/core.h"
#include "core/png.h"
#include "terrain/terrain_internal.h"

static void cant_open(const char *file) {
  char text[64];
  snprintf(text, sizeof text, "Can't open '%s'", file);
  add_message(text);
}

static void cant_write(const char *file) {
  char text[64];
  snprintf(text, sizeof text, "Error writing '%s'", file);
  add_message(text);
}

static DataFile *create(const char *dir, const char *file) {
  std::string path = std::string(dir) + "/" + file;
  DataFile *f = data_create(path.c_str());
  if (!f) cant_open(file);
  return f;
}

static int commit(DataFile *f, const char *file) {
  if (data_commit(f)) return 1;
  cant_write(file);
  return 0;
}

// Light factor of one sample's baked shading, before the colours.
static float sample_light(int i, int j) {
  const Terrain &t = terrain;
  float west = terrain_sample(i - 1, j), east = terrain_sample(i + 1, j);
  float north = terrain_sample(i, j - 1), south = terrain_sample(i, j + 1);
  float s = 2 * t.spacing;
  float dx = (east - west) * s, dz = (south - north) * s;
  const float *L = terrain_light.sun;
  float ndl = (s * s * L[1] - dx * L[0] - dz * L[2]) / sqrtf(s * s * s * s + dx * dx + dz * dz);
  ndl = ndl < 0 ? 0 : (ndl > 1 ? 1 : ndl);
  return ndl * (1.0f - float(t.shadows ? t.shadows[j * t.size + i] : 0) / 255.0f);
}

static int write_shading(const char *dir, const char *file, int doubled) {
  const Terrain &t = terrain;
  DataFile *f = create(dir, file);
  if (!f) return 0;
  data_printf(f, "P6\n%d %d\n255\n", t.size, t.size);
  std::vector<uint8_t> row(size_t(t.size) * 3);
  int ok = 1;
  for (int j = 0; j < t.size && ok; j++) {
    for (int i = 0; i < t.size; i++) {
      float ndl = sample_light(i, j);
      for (int k = 0; k < 3; k++) {
        float v = (ndl * terrain_light.diffuse[k] + terrain_light.ambient[k]) * 0.5f * 255.0f;
        int c = std::isfinite(v) ? (v > 255.0f ? 255 : (v < 0.0f ? 0 : int(v))) : 0;
        if (doubled) c = 2 * c > 255 ? 255 : 2 * c;
        row[size_t(i) * 3 + k] = uint8_t(c);
      }
    }
    ok = data_write(f, row.data(), int(row.size())) == int(row.size());
  }
  if (!ok) {
    data_abandon(f);
    cant_write(file);
    return 0;
  }
  return commit(f, file);
}

int terrain_save(const char *dir) {
  Terrain &t = terrain;
  if (!t.heights) {
    add_message("No terrain to save");
    return 0;
  }
  size_t count = size_t(t.size) * t.size;
  float lowest = t.heights[0], highest = t.heights[0];
  for (size_t k = 1; k < count; k++) {
    if (t.heights[k] < lowest) lowest = t.heights[k];
    if (t.heights[k] > highest) highest = t.heights[k];
  }
  t.min_height = lowest;
  t.max_height = highest;

  // The header and the height map only make sense together: both are
  // written in full before either replaces its old file.
  std::vector<uint16_t> samples(count, 0);
  if (highest > lowest) {
    double range = double(highest) - double(lowest);
    for (size_t k = 0; k < count; k++) {
      double v = (double(t.heights[k]) - lowest) / range * 65535.0 + 0.5;
      samples[k] = uint16_t(v > 65535.0 ? 65535 : int(v));
    }
  }
  DataFile *png = create(dir, "terrain.png");
  if (!png) return 0;
  PngWrite picture = {t.size, t.size, 1, 16, samples.data(), 0, -1};
  if (!png_write_picture(png, &picture)) {
    data_abandon(png);
    cant_write("terrain.png");
    return 0;
  }
  DataFile *hf = create(dir, "terrain.hf");
  if (!hf) {
    data_abandon(png);
    return 0;
  }
  data_printf(hf, "%d %f %f %f\n", t.shift, double(t.spacing), double(lowest), double(highest));
  // Flushed first so a full disk shows before either file is replaced.
  if (data_flush(png) != 0 || data_flush(hf) != 0) {
    data_abandon(png);
    data_abandon(hf);
    cant_write("terrain.png");
    return 0;
  }
  if (!commit(png, "terrain.png")) {
    data_abandon(hf);
    return 0;
  }
  if (!commit(hf, "terrain.hf")) return 0;

  if (!write_shading(dir, "shading.ppm", 1) || !write_shading(dir, "shadingx2.ppm", 0)) return 0;

  DataFile *tm = create(dir, "tilemap");
  if (!tm) return 0;
  int tiles = 1 << t.shift;
  int bytes = tiles * tiles;
  if (!t.tilemap || data_write(tm, t.tilemap, bytes) != bytes) {
    data_abandon(tm);
    cant_write("tilemap");
    return 0;
  }
  if (!commit(tm, "tilemap")) return 0;

  if (t.decals && terrain_hooks.decals_save && !terrain_hooks.decals_save(dir)) return 0;
  t.change_flags &= ~2;
  return 1;
}
