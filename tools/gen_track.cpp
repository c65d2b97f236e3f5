// The default track's files: height field, height map, baked shadows, tile
// map, surface definitions and description, all from the layout's
// functions and a fixed seed.
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "tools/gen.h"
#include "tools/course/track_layout.h"
#include "tools/course/track_shape.h"

namespace {

struct Field {
  int size;
  double spacing;
  std::vector<float> h;
  float at(int i, int j) const {
    i = i < 0 ? 0 : (i >= size ? size - 1 : i);
    j = j < 0 ? 0 : (j >= size ? size - 1 : j);
    return h[size_t(j) * size + i];
  }
  float bilinear(double x, double z) const {
    double gx = x / spacing, gz = z / spacing;
    int i = int(floor(gx)), j = int(floor(gz));
    double fx = gx - i, fz = gz - j;
    double a = at(i, j) + (at(i + 1, j) - at(i, j)) * fx;
    double b = at(i, j + 1) + (at(i + 1, j + 1) - at(i, j + 1)) * fx;
    return float(a + (b - a) * fz);
  }
};

// Per sample: distance from the centre line, lap distance and lateral
// offset of the nearest centre point, found by stamping every centre point
// over the samples within reach.
struct Nearest {
  std::vector<float> d2, s, lateral;
};

void find_nearest(const GenTrackLayout &l, int size, double spacing, Nearest *n) {
  size_t count = size_t(size) * size;
  n->d2.assign(count, 1e30f);
  n->s.assign(count, 0.0f);
  n->lateral.assign(count, 0.0f);
  double reach = GEN_TRACK_HALF_WIDTH + GEN_TRACK_SHOULDER + 1;
  int r = int(ceil(reach / spacing));
  for (const GenTrackPoint &p : l.line) {
    int ci = int(lround(p.x / spacing)), cj = int(lround(p.z / spacing));
    for (int j = cj - r; j <= cj + r; j++) {
      if (j < 0 || j >= size) continue;
      for (int i = ci - r; i <= ci + r; i++) {
        if (i < 0 || i >= size) continue;
        double dx = i * spacing - p.x, dz = j * spacing - p.z;
        double d2 = dx * dx + dz * dz;
        size_t k = size_t(j) * size + i;
        if (d2 >= n->d2[k]) continue;
        n->d2[k] = float(d2);
        // Along and across the direction of travel: the along part makes
        // the lap distance continuous between centre points.
        n->s[k] = float(p.s + dx * p.tx + dz * p.tz);
        n->lateral[k] = float(dx * p.tz - dz * p.tx);
      }
    }
  }
}

std::string tileinfo_text() {
  return
      // Meadow: soft, grippy when slow, no deep ruts.
      "name grass\n"
      "texture @ground/grass.png\n"
      "friction 0.7 1\n"
      "friction 0.8 6\n"
      "friction 0.6 20\n"
      "slip_function 1\n"
      "roll_resist 8 20 1\n"
      "roost count=3 size=0.2 grow=2 r=70 g=110 b=50 fade_a=-384\n"
      "erode_depth 0.3\n"
      "erode_radius 3\n"
      "addtile\n"
      // The groomed course.
      "name dirt\n"
      "texture @ground/dirt.png\n"
      "friction 0.9 1\n"
      "friction 1.15 8\n"
      "friction 0.95 25\n"
      "slip_function 1\n"
      "roll_resist 5 15 1\n"
      "roost count=8 size=0.3 grow=3 r=125 g=100 b=75 fade_a=-320\n"
      "roost count=2 size=0.6 grow=6 drag=1.5 r=150 g=130 b=110 a=120 fade_a=-128\n"
      "erode_depth 1\n"
      "erode_limit 0 1 1\n"
      "erode_limit 0.75 0.2 0.2\n"
      "erode_limit 1.5 0 0\n"
      "addtile\n"
      // A wet patch: little grip, deep ruts, heavy clods.
      "name mud\n"
      "texture @ground/mud.png\n"
      "friction 0.45 1\n"
      "friction 0.55 6\n"
      "friction 0.4 20\n"
      "slip_function 1\n"
      "roll_resist 12 30 1\n"
      "roost count=10 size=0.35 grow=1 drag=0.8 vscale=0.7 r=80 g=62 b=45 fade_a=-256\n"
      "erode_depth 1.6\n"
      "erode_displacement 3\n"
      "erode_limit 0 1 1\n"
      "erode_limit 2 0 0\n"
      "addtile\n"
      // Packed start area: most grip, hardly deforms.
      "name hardpack\n"
      "texture @ground/hardpack.png\n"
      "friction 1.0 1\n"
      "friction 1.2 6\n"
      "friction 1.0 25\n"
      "slip_function 1\n"
      "roll_resist 4 12 1\n"
      "roost count=4 size=0.25 grow=4 r=140 g=120 b=95 fade_a=-384\n"
      "erode_depth 0.4\n"
      "erode_limit 0 1 1\n"
      "erode_limit 0.5 0 0\n"
      "addtile\n";
}

}  // namespace

int gen_track(const char *out) {
  const GenTrackLayout &l = gen_track_layout();
  std::string dir = l.folder;
  Field f;
  f.size = (2 << l.shift) + 1;
  f.spacing = l.spacing;
  size_t count = size_t(f.size) * f.size;

  Nearest n;
  find_nearest(l, f.size, f.spacing, &n);
  f.h.resize(count);
  float lowest = 1e30f, highest = -1e30f;
  for (int j = 0; j < f.size; j++)
    for (int i = 0; i < f.size; i++) {
      size_t k = size_t(j) * f.size + i;
      double x = i * f.spacing, z = j * f.spacing;
      double h = n.d2[k] < 1e29f ? gen_track_shape(x, z, fabs(n.lateral[k]), n.s[k], n.lateral[k])
                                 : gen_track_ground(x, z);
      f.h[k] = float(h);
      if (f.h[k] < lowest) lowest = f.h[k];
      if (f.h[k] > highest) highest = f.h[k];
    }

  // Whole-foot bounds print exactly in the header.
  double low = floor(lowest) - 1, high = ceil(highest) + 1;
  std::vector<uint16_t> png(count);
  for (size_t k = 0; k < count; k++) {
    long v = lround((f.h[k] - low) / (high - low) * 65535.0);
    png[k] = uint16_t(v < 0 ? 0 : (v > 65535 ? 65535 : v));
  }
  char header[96];
  snprintf(header, sizeof header, "%d %f %f %f\n", l.shift, double(l.spacing), low, high);
  std::string image = gen_png(f.size, f.size, 1, 16, png.data());
  if (image.empty()) {
    fprintf(stderr, "gen_data: can't encode the height map\n");
    return 0;
  }

  // Cast shadows: march from each sample towards the sun until the ray is
  // above everything; lit is 255 in the file.
  double horiz = hypot(GEN_TRACK_SUN[0], GEN_TRACK_SUN[2]);
  double sx = GEN_TRACK_SUN[0] / horiz, sz = GEN_TRACK_SUN[2] / horiz;
  double rise = GEN_TRACK_SUN[1] / horiz;
  double extent = f.spacing * (f.size - 1);
  std::vector<uint8_t> lit(count);
  for (int j = 0; j < f.size; j++)
    for (int i = 0; i < f.size; i++) {
      double x = i * f.spacing, z = j * f.spacing, h = f.h[size_t(j) * f.size + i] + 0.05;
      int shade = 0;
      for (double t = f.spacing; h + t * rise <= highest; t += f.spacing) {
        double px = x + sx * t, pz = z + sz * t;
        if (px < 0 || pz < 0 || px > extent || pz > extent) break;
        if (f.bilinear(px, pz) > h + t * rise) {
          shade = 1;
          break;
        }
      }
      lit[size_t(j) * f.size + i] = shade ? 110 : 255;
    }
  std::string pgm = "P5\n" + std::to_string(f.size) + " " + std::to_string(f.size) + "\n255\n";
  pgm.resize(pgm.size() + count);
  uint8_t *pix = reinterpret_cast<uint8_t *>(&pgm[pgm.size() - count]);
  // Soften the edges with a 3 x 3 mean.
  for (int j = 0; j < f.size; j++)
    for (int i = 0; i < f.size; i++) {
      int sum = 0;
      for (int b = -1; b <= 1; b++)
        for (int a = -1; a <= 1; a++) {
          int ii = i + a < 0 ? 0 : (i + a >= f.size ? f.size - 1 : i + a);
          int jj = j + b < 0 ? 0 : (j + b >= f.size ? f.size - 1 : j + b);
          sum += lit[size_t(jj) * f.size + ii];
        }
      pix[size_t(j) * f.size + i] = uint8_t(sum / 9);
    }

  // Tiles cover 2 x 2 cells; each takes the surface under its centre.
  int tiles = 1 << l.shift;
  std::string tilemap(size_t(tiles) * tiles, char(GEN_TRACK_GRASS));
  for (int tz = 0; tz < tiles; tz++)
    for (int tx = 0; tx < tiles; tx++) {
      size_t k = size_t(2 * tz + 1) * f.size + (2 * tx + 1);
      if (n.d2[k] < 1e29f && fabs(n.lateral[k]) <= GEN_TRACK_HALF_WIDTH + 1)
        tilemap[size_t(tz) * tiles + tx] = char(gen_track_surface_mark(n.s[k]));
    }

  std::string base = dir + "/";
  return gen_write(out, base + "terrain.hf", header) && gen_write(out, base + "terrain.png", image) &&
         gen_write(out, base + "shadows.pgm", pgm) && gen_write(out, base + "tilemap", tilemap) &&
         gen_write(out, base + "tileinfo", tileinfo_text()) &&
         gen_write(out, base + "desc", std::string(l.description) + "\n");
}
