// The ground's pictures: one per surface of the default track, and the
// track's decals (a painted start line, a wet patch in the mud) with their
// normal and specular companions. All from periodic noise with fixed seeds.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "tools/gen.h"
#include "tools/course/track_layout.h"
#include "tools/course/track_shape.h"

namespace {

const int SIDE = 128;
// A tile shows the picture from 1/16 to 15/16 of its width, so the pattern
// repeats every 7/8 of it: the shown part of one tile ends where the next
// one's begins.
const int PERIOD = SIDE * 7 / 8;

uint32_t hash(uint32_t seed, int x, int y) {
  uint32_t h = seed * 0x9e3779b9u ^ uint32_t(x) * 0x85ebca6bu ^ uint32_t(y) * 0xc2b2ae35u;
  h ^= h >> 15, h *= 0x2c1b3c6du, h ^= h >> 12, h *= 0x297a2d39u, h ^= h >> 15;
  return h;
}

double lattice(uint32_t seed, int x, int y, int cells) {
  x = ((x % cells) + cells) % cells, y = ((y % cells) + cells) % cells;
  return double(hash(seed, x, y) & 0xffff) / 65535.0 * 2 - 1;
}

// Smooth value noise in -1 .. 1 with `cells` lattice cells per period.
double noise(uint32_t seed, double x, double y, int cells) {
  double fx = x / PERIOD * cells, fy = y / PERIOD * cells;
  int ix = int(floor(fx)), iy = int(floor(fy));
  double u = fx - ix, v = fy - iy;
  u = u * u * (3 - 2 * u), v = v * v * (3 - 2 * v);
  double a = lattice(seed, ix, iy, cells), b = lattice(seed, ix + 1, iy, cells);
  double c = lattice(seed, ix, iy + 1, cells), d = lattice(seed, ix + 1, iy + 1, cells);
  return (a + (b - a) * u) + ((c + (d - c) * u) - (a + (b - a) * u)) * v;
}

// Octaves with 4, 8, 16 and 32 cells per period, weights halving.
double fractal(uint32_t seed, double x, double y) {
  double sum = 0, weight = 0.5, total = 0;
  for (int cells = 4; cells <= 32; cells *= 2, weight *= 0.5) {
    sum += noise(seed + uint32_t(cells), x, y, cells) * weight;
    total += weight;
  }
  return sum / total;
}

struct Ground {
  const char *name;
  double rgb[3];      // mean colour: the surface's roost colour
  double variation;   // relative brightness change of the coarse noise
  double speckle;     // fine grain
  double tint[3];     // how the noise shifts each channel
  uint32_t seed;
};

const Ground GROUNDS[] = {
    {"grass", {70, 110, 50}, 0.22, 0.18, {0.8, 1.0, 0.6}, 11},
    {"dirt", {125, 100, 75}, 0.18, 0.12, {1.0, 0.95, 0.9}, 23},
    {"mud", {80, 62, 45}, 0.25, 0.05, {1.0, 1.0, 1.1}, 37},
    {"hardpack", {140, 120, 95}, 0.12, 0.15, {1.0, 1.0, 1.0}, 41},
};

uint8_t byte(double v) { return uint8_t(v < 0 ? 0 : v > 255 ? 255 : lround(v)); }

std::string ground_picture(const Ground &g) {
  std::vector<uint8_t> px(size_t(SIDE) * SIDE * 3);
  for (int y = 0; y < SIDE; y++)
    for (int x = 0; x < SIDE; x++) {
      double coarse = fractal(g.seed, x, y);
      // Grain at the finest lattice the period allows (7 pixels a cell)
      // plus a second offset lattice, so it does not look gridded.
      double fine = 0.5 * noise(g.seed * 7 + 1, x, y, 32) + 0.5 * noise(g.seed * 7 + 2, x + 3, y + 5, 16);
      for (int c = 0; c < 3; c++) {
        double f = 1 + (coarse * g.variation + fine * g.speckle) * g.tint[c];
        px[(size_t(y) * SIDE + x) * 3 + c] = byte(g.rgb[c] * f);
      }
    }
  return gen_png(SIDE, SIDE, 3, 8, px.data());
}

// --------------------------------------------------------------- decals

struct Picture {
  int w, h;
  std::vector<uint8_t> rgba;
  uint8_t *at(int x, int y) { return &rgba[(size_t(y) * w + x) * 4]; }
  Picture(int w_, int h_) : w(w_), h(h_), rgba(size_t(w_) * h_ * 4) {}
  std::string png() const { return gen_png(w, h, 4, 8, rgba.data()); }
};

// A painted line: white, worn at random, soft at its ends.
void start_line(Picture *colour, Picture *normal, Picture *specular) {
  int w = colour->w, h = colour->h;
  for (int y = 0; y < h; y++)
    for (int x = 0; x < w; x++) {
      double wear = noise(5, x * 112.0 / w * 4, y * 112.0 / h, 32);
      double edge_x = std::min(x + 0.5, w - x - 0.5) / 4, edge_y = std::min(y + 0.5, h - y - 0.5) / 2;
      double a = std::min({1.0, edge_x, edge_y}) * (wear > 0.55 ? 0.35 : 0.9);
      uint8_t *c = colour->at(x, y);
      c[0] = 238, c[1] = 236, c[2] = 226, c[3] = byte(255 * a);
      uint8_t *n = normal->at(x, y);
      // Paint is flat: straight up, with a faint brush grain.
      n[0] = byte(128 + 6 * noise(9, x * 4.0, y * 2.0, 16)), n[1] = 128, n[2] = 255, n[3] = c[3];
      uint8_t *s = specular->at(x, y);
      s[0] = 40, s[1] = 40, s[2] = 40, s[3] = c[3];
    }
}

// Standing water: dark, glossy, fading out at a ragged rim.
void wet_patch(Picture *colour, Picture *normal, Picture *specular) {
  int w = colour->w, h = colour->h;
  for (int y = 0; y < h; y++)
    for (int x = 0; x < w; x++) {
      double dx = (x + 0.5) / w * 2 - 1, dy = (y + 0.5) / h * 2 - 1;
      double r = sqrt(dx * dx + dy * dy) + 0.18 * noise(13, x * 112.0 / w, y * 112.0 / h, 8);
      double a = r < 0.7 ? 1 : r > 0.95 ? 0 : (0.95 - r) / 0.25;
      uint8_t *c = colour->at(x, y);
      c[0] = 52, c[1] = 46, c[2] = 40, c[3] = byte(200 * a);
      // Small ripples: a gentle slope field from noise.
      double e = 0.02 * 112.0 / w;
      double gx = (noise(17, x + 1, y, 16) - noise(17, x - 1, y, 16)) / (2 * e * 50);
      double gy = (noise(17, x, y + 1, 16) - noise(17, x, y - 1, 16)) / (2 * e * 50);
      uint8_t *n = normal->at(x, y);
      n[0] = byte(128 + 127 * std::max(-0.3, std::min(0.3, gx)));
      n[1] = byte(128 + 127 * std::max(-0.3, std::min(0.3, gy)));
      n[2] = 250, n[3] = c[3];
      uint8_t *s = specular->at(x, y);
      // Red: shine, green: exponent / 128.
      s[0] = byte(230 * a), s[1] = 90, s[2] = 0, s[3] = c[3];
    }
}

int write_decal(const char *out, const std::string &base, void (*paint)(Picture *, Picture *, Picture *),
                int w, int h) {
  Picture colour(w, h), normal(w, h), specular(w, h);
  paint(&colour, &normal, &specular);
  return gen_write(out, base + ".png", colour.png()) &&
         gen_write(out, base + "_tnorm.png", normal.png()) &&
         gen_write(out, base + "_tspec.png", specular.png());
}

// The angle whose decal s axis (cos a, -sin a) lies across travel (tx, tz).
double across(const GenTrackPoint &p) { return atan2(double(p.tx), double(p.tz)); }

}  // namespace

int gen_ground(const char *out) {
  for (const Ground &g : GROUNDS)
    if (!gen_write(out, std::string("ground/") + g.name + ".png", ground_picture(g))) return 0;
  if (!write_decal(out, "decals/start_line", start_line, 256, 16) ||
      !write_decal(out, "decals/wet_patch", wet_patch, 128, 128))
    return 0;

  const GenTrackLayout &l = gen_track_layout();
  GenTrackPoint start = gen_track_point_at(l.start_s);
  float mud_s = 0;
  for (const GenTrackFeature &f : gen_track_features())
    if (std::string(f.kind) == "mud") mud_s = 0.5f * (f.s0 + f.s1);
  GenTrackPoint mud = gen_track_point_at(mud_s);
  const double line_width = 1.0;
  char text[512];
  snprintf(text, sizeof text,
           "[%f %f] %f %f %f @decals/start_line.png\n"
           "[%f %f] %f %f %f @decals/wet_patch.png\n",
           double(start.x), double(start.z), across(start), line_width,
           2 * GEN_TRACK_HALF_WIDTH / line_width, double(mud.x), double(mud.z), across(mud), 14.0,
           1.4);
  return gen_write(out, std::string(l.folder) + "/decals", text);
}
