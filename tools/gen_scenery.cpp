// The default track's scenery: trees, spectators and banners, hay bales
// and a tower (with shapes riders can hit), the starter and flaggers, the
// lighting with its haze and sun flare, and sky pictures with the sun in
// them where the baked shadows put it.
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "bike/rider.h"
#include "core/core.h"
#include "race/scenery.h"
#include "race/timing.h"
#include "tools/course/track_layout.h"
#include "tools/gen.h"
#include "tools/gen_mesh.h"

namespace {

struct Rgba {
  int w, h;
  std::vector<uint8_t> px;
  Rgba(int w_, int h_) : w(w_), h(h_), px(size_t(w_) * size_t(h_) * 4, 0) {}
  void set(int x, int y, const uint8_t c[4]) {
    if (x < 0 || y < 0 || x >= w || y >= h) return;
    memcpy(&px[(size_t(y) * size_t(w) + size_t(x)) * 4], c, 4);
  }
  void rect(int x0, int y0, int x1, int y1, const uint8_t c[4]) {
    for (int y = y0; y < y1; y++)
      for (int x = x0; x < x1; x++) set(x, y, c);
  }
  void disc(float cx, float cy, float r, const uint8_t c[4]) {
    for (int y = int(cy - r); y <= int(cy + r); y++)
      for (int x = int(cx - r); x <= int(cx + r); x++)
        if ((float(x) - cx) * (float(x) - cx) + (float(y) - cy) * (float(y) - cy) <= r * r) set(x, y, c);
  }
  std::string png() const { return gen_png(w, h, 4, 8, px.data()); }
};

std::string tree_picture() {
  Rgba p(64, 128);
  const uint8_t trunk[4] = {90, 60, 35, 255};
  p.rect(28, 96, 36, 128, trunk);
  uint32_t seed = 11;
  for (int layer = 0; layer < 5; layer++) {
    float cy = 20 + float(layer) * 17, r = 12 + float(layer) * 4;
    for (int k = 0; k < 9; k++) {
      seed = seed * 1103515245 + 12345;
      float dx = float(int(seed >> 16) % 17 - 8);
      uint8_t g[4] = {uint8_t(30 + (seed >> 8) % 30), uint8_t(90 + (seed >> 4) % 60), uint8_t(30 + seed % 25), 255};
      p.disc(32 + dx, cy, r * 0.6f, g);
    }
  }
  return p.png();
}

std::string person_picture(const uint8_t shirt[4], const uint8_t flag[4], int arm_up) {
  Rgba p(32, 64);
  const uint8_t skin[4] = {225, 180, 150, 255}, pants[4] = {40, 40, 60, 255}, shoe[4] = {30, 30, 30, 255};
  p.disc(16, 8, 5, skin);
  p.rect(10, 14, 22, 36, shirt);
  p.rect(10, 36, 15, 60, pants);
  p.rect(17, 36, 22, 60, pants);
  p.rect(9, 60, 15, 64, shoe);
  p.rect(17, 60, 23, 64, shoe);
  if (flag[3]) {
    if (arm_up) {
      p.rect(22, 4, 25, 16, shirt);
      p.rect(24, 0, 26, 8, shoe);
      p.rect(26, 0, 32, 7, flag);
    } else {
      p.rect(22, 14, 25, 34, shirt);
      p.rect(24, 30, 26, 40, shoe);
      p.rect(26, 30, 32, 37, flag);
    }
  }
  return p.png();
}

std::string banner_picture() {
  Rgba p(128, 32);
  const uint8_t red[4] = {210, 30, 30, 255}, white[4] = {245, 245, 245, 255}, pole[4] = {60, 60, 60, 255};
  p.rect(0, 0, 128, 24, red);
  for (int i = 0; i < 8; i++) p.rect(8 + i * 15, 6, 16 + i * 15, 18, white);
  p.rect(2, 24, 5, 32, pole);
  p.rect(123, 24, 126, 32, pole);
  return p.png();
}

std::string flare_picture() {
  Rgba p(64, 64);
  for (int y = 0; y < 64; y++)
    for (int x = 0; x < 64; x++) {
      float d = std::hypot(float(x) - 31.5f, float(y) - 31.5f) / 32;
      float a = d >= 1 ? 0 : (1 - d) * (1 - d);
      uint8_t c[4] = {255, 255, 255, uint8_t(a * 255)};
      p.set(x, y, c);
    }
  return p.png();
}

// One face of the sky: dir(u, v) gives the direction of a pixel.
std::string sky_face(int face, const float sun[3]) {
  const int w = 128;
  std::vector<uint8_t> px(size_t(w) * w * 3);
  for (int y = 0; y < w; y++)
    for (int x = 0; x < w; x++) {
      float u = (float(x) + 0.5f) / w * 2 - 1, v = (float(y) + 0.5f) / w * 2 - 1, d[3];
      switch (face) {
        case 0: d[0] = u, d[1] = -v, d[2] = -1; break;  // north
        case 1: d[0] = 1, d[1] = -v, d[2] = u; break;   // east
        case 2: d[0] = -u, d[1] = -v, d[2] = 1; break;  // south
        case 3: d[0] = -1, d[1] = -v, d[2] = -u; break; // west
        default: d[0] = u, d[1] = 1, d[2] = -v; break;  // up
      }
      float l = std::sqrt(d[0] * d[0] + d[1] * d[1] + d[2] * d[2]);
      for (float &c : d) c /= l;
      float e = d[1];
      float rgb[3];
      const float zenith[3] = {70, 120, 205}, horizon[3] = {205, 215, 228}, ground[3] = {120, 112, 95};
      for (int c = 0; c < 3; c++) {
        if (e >= 0) {
          float t = std::pow(e, 0.6f);
          rgb[c] = horizon[c] + (zenith[c] - horizon[c]) * t;
        } else {
          float t = std::fmin(1.0f, -e * 6);
          rgb[c] = horizon[c] + (ground[c] - horizon[c]) * t;
        }
      }
      // The sun: a white disc and a warm glow around it.
      float cs = d[0] * sun[0] + d[1] * sun[1] + d[2] * sun[2];
      float ang = std::acos(std::fmin(1.0f, std::fmax(-1.0f, cs)));
      float glow = std::exp(-ang * 9) * 90;
      // Thin high cloud, so no face is one flat colour.
      float cloud = std::sin(d[0] * 23 + d[2] * 7) * std::sin(d[2] * 19 - d[0] * 5) * (e > 0 ? 6 : 0);
      // A faint dither as well: the sky keeps its full size as a texture.
      uint32_t h = uint32_t(x) * 73856093u ^ uint32_t(y) * 19349663u ^ uint32_t(face) * 83492791u;
      h = h * 2654435761u;
      for (float &v : rgb) v += cloud + float(int(h >> 29) - 4) * 0.75f;
      for (int c = 0; c < 3; c++) rgb[c] += glow * (c == 2 ? 0.7f : 1.0f);
      if (ang < 0.045f) rgb[0] = rgb[1] = rgb[2] = 255;
      for (int c = 0; c < 3; c++) px[(size_t(y) * w + size_t(x)) * 3 + size_t(c)] = uint8_t(std::fmin(255.0f, rgb[c]));
    }
  return gen_png(w, w, 3, 8, px.data());
}

GenMesh haybale_mesh() {
  GenMesh m;
  GenPart &p = m.part(4);
  const float a[3] = {-2, 1.6f, 0}, b[3] = {2, 1.6f, 0};
  gen_tube(p, a, b, 1.6f, 12, 2, 0);
  return m;
}

GenMesh tower_mesh() {
  GenMesh m;
  GenPart &p = m.part(10);
  for (int i = 0; i < 4; i++) {
    float x = i % 2 ? 3.5f : -3.5f, z = i / 2 ? 3.5f : -3.5f;
    const float a[3] = {x, 0, z}, b[3] = {x, 12, z};
    gen_tube(p, a, b, 0.3f, 6, 1, 1);
  }
  const float c[3] = {0, 14.5f, 0}, h[3] = {4.5f, 2.5f, 4.5f};
  gen_box(p, c, h, 0);
  const float rc[3] = {0, 17.3f, 0}, rh[3] = {5.2f, 0.3f, 5.2f};
  gen_box(p, rc, rh, 2);
  return m;
}

std::string shape_text(const std::vector<CollisionSphere> &spheres) {
  static char text[65536];
  return shape_format(spheres, text, sizeof text) ? std::string(text) : std::string();
}

CollisionSphere sphere(float x, float y, float z, float r) {
  CollisionSphere s;
  s.centre[0] = x, s.centre[1] = y, s.centre[2] = z;
  s.radius = r;
  s.friction = 0.6f;
  s.stiffness = 20000;
  s.damping = 2000;
  return s;
}

struct Placer {
  std::string text;
  char line[512];
  // A point beside the course at lap distance s: side > 0 right of travel.
  static void beside(float s, float side, float *x, float *z) {
    GenTrackPoint p = gen_track_point_at(s);
    *x = p.x - p.tz * side;
    *z = p.z + p.tx * side;
  }
};

}  // namespace

int gen_scenery(const char *out) {
  const GenTrackLayout &l = gen_track_layout();
  const std::string dir = std::string(l.folder) + "/", data = "@" + dir;
  uint8_t shirts[4][4] = {{200, 40, 40, 255}, {40, 90, 200, 255}, {240, 200, 40, 255}, {60, 160, 80, 255}};
  const uint8_t none[4] = {0, 0, 0, 0}, green[4] = {30, 170, 40, 255}, white[4] = {250, 250, 250, 255},
                yellow[4] = {250, 220, 0, 255}, black[4] = {15, 15, 15, 255}, red[4] = {220, 30, 30, 255};
  const uint8_t orange[4] = {240, 120, 20, 255}, marshal[4] = {240, 240, 240, 255};
  int ok = gen_write(out, "tree.png", tree_picture()) && gen_write(out, "banner.png", banner_picture()) &&
           gen_write(out, "flare.png", flare_picture());
  for (int i = 0; i < 4 && ok; i++)
    ok = gen_write(out, "spectator" + std::to_string(i + 1) + ".png", person_picture(shirts[i], none, 0));
  // The starter's boards: 30 seconds, sideways, up, down, and after the drop.
  const uint8_t *starter_boards[5] = {green, yellow, red, black, none};
  for (int i = 0; i < 5 && ok; i++)
    ok = gen_write(out, "starter" + std::to_string(i + 1) + ".png", person_picture(orange, starter_boards[i], i == 1 || i == 2));
  // The finish flagger: racing, halfway, last lap, chequered.
  const uint8_t *finish_flags[4] = {none, green, white, black};
  for (int i = 0; i < 4 && ok; i++)
    ok = gen_write(out, "finish" + std::to_string(i + 1) + ".png", person_picture(marshal, finish_flags[i], i > 0));
  ok = ok && gen_write(out, "flagger_idle.png", person_picture(marshal, yellow, 0)) &&
       gen_write(out, "flagger_waving.png", person_picture(marshal, yellow, 1));

  // Statue models and pictures.
  const uint8_t hay[16][3] = {{200, 170, 80}, {140, 140, 150}, {60, 50, 40}};
  const uint8_t wood[16][3] = {{150, 110, 70}, {90, 70, 50}, {60, 60, 70}};
  ok = ok && gen_write_model(out, "haybale.jm", haybale_mesh()) && gen_write(out, "haybale.png", gen_palette_png(hay, 32)) &&
       gen_write(out, "haybale_norm.png", gen_flat_normal_png(16)) &&
       gen_write(out, "haybale_spec.png", gen_specular_png(16, 20, 4)) &&
       gen_write_model(out, "tower.jm", tower_mesh()) && gen_write(out, "tower.png", gen_palette_png(wood, 32)) &&
       gen_write(out, "tower_norm.png", gen_flat_normal_png(16)) && gen_write(out, "tower_spec.png", gen_specular_png(16, 40, 10));
  std::vector<CollisionSphere> bale;
  for (int i = 0; i < 5; i++) bale.push_back(sphere(-1.6f + 0.8f * float(i), 1.6f, 0, 1.6f));
  std::vector<CollisionSphere> tower;
  for (int i = 0; i < 4; i++)
    for (int k = 0; k < 3; k++) tower.push_back(sphere(i % 2 ? 3.5f : -3.5f, 0.5f + float(k), i / 2 ? 3.5f : -3.5f, 0.5f));
  std::string bale_shape = shape_text(bale), tower_shape = shape_text(tower);
  ok = ok && !bale_shape.empty() && !tower_shape.empty() && gen_write(out, "haybale.shp", bale_shape) &&
       gen_write(out, "tower.shp", tower_shape);

  // Billboards: trees well off the course, spectators at the features,
  // banners along the start straight.
  Placer b;
  uint32_t seed = 4242;
  auto rnd = [&]() {
    seed = seed * 1664525u + 1013904223u;
    return float(seed >> 8) / 16777216.0f;
  };
  for (float s = 0; s < l.length; s += 45) {
    for (int side = -1; side <= 1; side += 2) {
      float off = (l.half_width + 28 + 40 * rnd()) * float(side), x, z;
      Placer::beside(s + 20 * rnd(), off, &x, &z);
      snprintf(b.line, sizeof b.line, "[%.2f 0 %.2f] %.2f 0.5 @tree.png\n", double(x), double(z), double(18 + 10 * rnd()));
      b.text += b.line;
    }
  }
  std::vector<GenTrackFeature> features = gen_track_features();
  for (const GenTrackFeature &f : features) {
    if (!strcmp(f.kind, "start")) continue;
    for (int k = 0; k < 6; k++) {
      float x, z, s = f.s0 + (f.s1 - f.s0) * float(k) / 6;
      Placer::beside(s, (l.half_width + 10 + 3 * rnd()) * (k % 2 ? 1.0f : -1.0f), &x, &z);
      snprintf(b.line, sizeof b.line, "[%.2f 0 %.2f] 5.6 0.5 @spectator%d.png\n", double(x), double(z), 1 + k % 4);
      b.text += b.line;
    }
  }
  for (int k = 0; k < 4; k++) {
    float x, z;
    Placer::beside(l.start_s + 30 + 25 * float(k), l.half_width + 6, &x, &z);
    snprintf(b.line, sizeof b.line, "[%.2f 0 %.2f] 2.5 4 #ffd0d0#@banner.png\n", double(x), double(z));
    b.text += b.line;
  }

  // Statues: hay bales on the outside of the features, the tower by the start.
  Placer st;
  for (const GenTrackFeature &f : features) {
    if (strcmp(f.kind, "berm") && strcmp(f.kind, "tabletop") && strcmp(f.kind, "double")) continue;
    for (int k = 0; k < 3; k++) {
      float s = f.s0 + (f.s1 - f.s0) * (0.25f + 0.25f * float(k)), x, z;
      GenTrackPoint p = gen_track_point_at(s);
      Placer::beside(s, l.half_width + 4, &x, &z);
      float heading = std::atan2(p.tx, p.tz) + 1.5707963f;
      if (heading > 3.1415927f) heading -= 6.2831853f;  // 3.25 and above would face the camera
      snprintf(st.line, sizeof st.line, "[%.2f 0 %.2f] %.4f @haybale.jm @haybale.png @haybale.shp\n", double(x),
               double(z), double(heading));
      st.text += st.line;
    }
  }
  {
    float x, z;
    Placer::beside(l.start_s - 20, -(l.half_width + 30), &x, &z);
    snprintf(st.line, sizeof st.line, "[%.2f 0 %.2f] 0.0 @tower.jm @tower.png @tower.shp\n", double(x), double(z));
    st.text += st.line;
  }

  // Flaggers: the starter beside the gates, the finish flagger at the lap
  // line, one flagger at each jump's checkpoint.
  Placer fl;
  {
    float ax, az, bx, bz;
    Placer::beside(l.start_s + 4, 16, &ax, &az);
    Placer::beside(l.start_s + 12, 16, &bx, &bz);
    snprintf(fl.line, sizeof fl.line, "[%.2f 0 %.2f] [%.2f 0 %.2f] 6 0.5 4\n", double(ax), double(az), double(bx), double(bz));
    fl.text += fl.line;
    for (int i = 1; i <= 5; i++) fl.text += "@starter" + std::to_string(i) + ".png\n";
    float fx, fz;
    Placer::beside(6, -(l.half_width + 4), &fx, &fz);
    snprintf(fl.line, sizeof fl.line, "[%.2f 0 %.2f] 6 0.5\n", double(fx), double(fz));
    fl.text += fl.line;
    for (int i = 1; i <= 4; i++) fl.text += "@finish" + std::to_string(i) + ".png\n";
  }
  // The course's checkpoints, as the race will read them.
  std::string gates_path = std::string(out) + "/" + dir + "timing_gates";
  if (FILE *g = fopen(gates_path.c_str(), "rb")) {
    std::string bytes;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, g)) > 0) bytes.append(buf, n);
    fclose(g);
    timing_clear();
    DataFile *f = data_open_memory(bytes.data(), int(bytes.size()), 0);
    if (f) timing_gates_parse(f);
    data_close(f);
  }
  for (const GenTrackFeature &f : features) {
    if (strcmp(f.kind, "tabletop") && strcmp(f.kind, "double") && strcmp(f.kind, "step_up")) continue;
    GenTrackPoint p = gen_track_point_at(f.s0);
    int best = -1;
    float best_d = 1e30f;
    for (int c = 0; c < timing.checkpoint_count; c++) {
      const Checkpoint &k = timing.checkpoints[c];
      float d = std::hypot(k.x - p.x, k.z - p.z);
      if (d < best_d) best_d = d, best = c;
    }
    float x, z;
    Placer::beside(f.s0 - 10, l.half_width + 7, &x, &z);
    snprintf(fl.line, sizeof fl.line, "[%.2f 0 %.2f] 6 0.5 %d -1 -1 -1\n@flagger_idle.png\n@flagger_waving.png\n", double(x),
             double(z), best);
    fl.text += fl.line;
  }

  timing_clear();
  scenery_free();

  // Lighting: the shadows' sun, a light haze, the sun's flare.
  const float *sun = GEN_TRACK_SUN;
  char lighting[2048];
  snprintf(lighting, sizeof lighting,
           "sun_vector [ %.7f %.7f %.7f ]\n"
           "sun_color [ 1 0.97 0.9 ]\n"
           "ambient [ 0.5 0.5 0.52 ]\n"
           "global_ambient [ 0.2 0.2 0.2 ]\n"
           "fog [ 0.8 0.84 0.9 ] 0.0004\n"
           "sky_n %ssky-n.png\nsky_e %ssky-e.png\nsky_s %ssky-s.png\nsky_w %ssky-w.png\nsky_u %ssky-u.png\n"
           "flare_element [ 0 1 ] [ 1 0.95 0.8 ] 0.3 @flare.png\n"
           "flare_element [ 0 0.5 ] [ 0.4 0.5 0.3 ] 0.08 @flare.png\n"
           "flare_element [ 0 0.1 ] [ 0.3 0.4 0.6 ] 0.05 @flare.png\n"
           "flare_element [ 0 -0.4 ] [ 0.5 0.3 0.2 ] 0.12 @flare.png\n"
           "flare_vector [ %.7f %.7f %.7f ]\n",
           double(sun[0]), double(sun[1]), double(sun[2]), data.c_str(), data.c_str(), data.c_str(), data.c_str(),
           data.c_str(), double(sun[0]), double(sun[1]), double(sun[2]));
  ok = ok && gen_write(out, dir + "billboards", b.text) && gen_write(out, dir + "statues", st.text) &&
       gen_write(out, dir + "flaggers", fl.text) && gen_write(out, dir + "lighting", lighting);
  const char *names[5] = {"sky-n.png", "sky-e.png", "sky-s.png", "sky-w.png", "sky-u.png"};
  for (int f = 0; f < 5 && ok; f++) ok = gen_write(out, dir + names[f], sky_face(f, sun));
  if (!ok) fprintf(stderr, "gen_data: the scenery could not be written\n");
  return ok;
}
