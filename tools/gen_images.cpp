// Pictures the program needs from its start: the fonts (rasterised from
// DejaVu through FreeType), the title picture, the HUD pictures, the roost
// particle, a plain white picture and the sky box. All drawn by code, the
// same bytes every run.
#include <ft2build.h>
#include FT_FREETYPE_H

#include <cmath>
#include <cstdio>
#include <cstring>
#include <algorithm>
#include <string>
#include <vector>

#include "tools/gen.h"

namespace {

struct Canvas {
  int w, h, ch;
  std::vector<uint8_t> px;
  Canvas(int w_, int h_, int ch_) : w(w_), h(h_), ch(ch_), px(size_t(w_) * h_ * ch_, 0) {}
  uint8_t *at(int x, int y) { return &px[(size_t(y) * w + x) * ch]; }
  bool inside(int x, int y) const { return x >= 0 && y >= 0 && x < w && y < h; }
  // Blends an RGB colour over the pixel with coverage a (0..1).
  void blend(int x, int y, const float rgb[3], float a) {
    if (!inside(x, y) || a <= 0) return;
    uint8_t *p = at(x, y);
    for (int c = 0; c < 3 && c < ch; c++)
      p[c] = uint8_t(lroundf(p[c] * (1 - a) + rgb[c] * 255 * a));
    if (ch == 4) p[3] = uint8_t(lroundf(p[3] * (1 - a) + 255 * a));
  }
  std::string png() const { return gen_png(w, h, ch, 8, px.data()); }
};

// A fixed-seed generator of the generator's own (not the game's).
struct Lcg {
  uint32_t s;
  uint32_t next() { return s = s * 1664525u + 1013904223u; }
  float unit() { return float(next() >> 8) / 16777216.0f; }
};

float smooth_noise(float x, uint32_t seed) {
  // Sum of a few sines with seeded phases: smooth and deterministic.
  Lcg r{seed};
  float v = 0, amp = 1, freq = 1, total = 0;
  for (int i = 0; i < 5; i++) {
    v += amp * sinf(x * freq + r.unit() * 6.2831853f);
    total += amp;
    amp *= 0.5f, freq *= 2.13f;
  }
  return v / total;
}

FT_Library ft;
FT_Face regular, bold;

bool fonts_open() {
  if (FT_Init_FreeType(&ft)) return false;
  if (FT_New_Face(ft, TW_FONT_FILE, 0, &regular) || FT_New_Face(ft, TW_FONT_BOLD_FILE, 0, &bold)) {
    fprintf(stderr, "gen_data: can't open %s or %s\n", TW_FONT_FILE, TW_FONT_BOLD_FILE);
    return false;
  }
  return true;
}

void fonts_close() {
  FT_Done_Face(regular);
  FT_Done_Face(bold);
  FT_Done_FreeType(ft);
}

void set_size(FT_Face face, int pixels, float squeeze = 1) {
  FT_Set_Pixel_Sizes(face, 0, FT_UInt(pixels));
  FT_Matrix m = {FT_Fixed(squeeze * 65536), 0, 0, 0x10000};
  FT_Set_Transform(face, &m, nullptr);
}

// Draws one character with its origin (pen, baseline) at (x, y); returns
// the advance in pixels.
int draw_char(Canvas &c, FT_Face face, int code, int x, int y, const float rgb[3],
              float alpha = 1) {
  if (FT_Load_Char(face, FT_ULong(code), FT_LOAD_RENDER)) return 0;
  FT_GlyphSlot g = face->glyph;
  for (unsigned row = 0; row < g->bitmap.rows; row++)
    for (unsigned col = 0; col < g->bitmap.width; col++) {
      float a = g->bitmap.buffer[row * g->bitmap.pitch + col] / 255.0f;
      c.blend(x + g->bitmap_left + int(col), y - g->bitmap_top + int(row), rgb, a * alpha);
    }
  return int((g->advance.x + 32) >> 6);
}

int text_advance(FT_Face face, const char *text) {
  int w = 0;
  for (const char *s = text; *s; s++)
    if (!FT_Load_Char(face, FT_ULong((unsigned char)*s), FT_LOAD_DEFAULT))
      w += int((face->glyph->advance.x + 32) >> 6);
  return w;
}

void draw_text(Canvas &c, FT_Face face, const char *text, int x, int y, const float rgb[3],
               float alpha = 1) {
  for (const char *s = text; *s; s++) x += draw_char(c, face, (unsigned char)*s, x, y, rgb, alpha);
}

// A font picture: every glyph in a cell whose top-left pixel, and the start
// of every row in column 0, carry the marker colour. Rows are balanced and
// each is widened to the picture width by spreading the spare pixels over
// its cells, since a row's last cell always ends at the picture's edge.
std::string font_picture(FT_Face face, int pixels, float squeeze, const char *chars, int rows,
                         int row_h, const float ink[3]) {
  set_size(face, pixels, squeeze);
  int n = int(strlen(chars));
  std::vector<int> widths;
  int total = 0;
  for (int i = 0; i < n; i++) {
    FT_Load_Char(face, FT_ULong((unsigned char)chars[i]), FT_LOAD_DEFAULT);
    int wdt = int((face->glyph->advance.x + 32) >> 6) + 4;  // 2 pixels of air a side
    widths.push_back(wdt);
    total += wdt;
  }
  std::vector<std::vector<int>> layout(static_cast<size_t>(rows));
  int target = (total + rows - 1) / rows, r = 0, sum = 0;
  for (int i = 0; i < n; i++) {
    if (r < rows - 1 && sum + widths[size_t(i)] / 2 > target && !layout[size_t(r)].empty()) {
      r++;
      sum = 0;
    }
    layout[size_t(r)].push_back(i);
    sum += widths[size_t(i)];
  }
  int W = 0;
  for (auto &row : layout) {
    int s = 0;
    for (int i : row) s += widths[size_t(i)];
    W = s > W ? s : W;
  }
  int H = rows * row_h;
  Canvas c(W, H, 4);
  // Ink colour everywhere, coverage in alpha, so filtering at glyph edges
  // never darkens or lightens the ink.
  for (size_t i = 0; i < c.px.size(); i += 4) c.px[i] = uint8_t(ink[0] * 255), c.px[i + 1] = uint8_t(ink[1] * 255), c.px[i + 2] = uint8_t(ink[2] * 255);
  const uint8_t marker[4] = {255, 0, 255, 255};
  int baseline = int(lroundf(row_h * 0.78f));
  for (int ri = 0; ri < rows; ri++) {
    auto &row = layout[size_t(ri)];
    int s = 0;
    for (int i : row) s += widths[size_t(i)];
    int spare = W - s, y0 = ri * row_h, x = 0;
    for (size_t k = 0; k < row.size(); k++) {
      int wdt = widths[size_t(row[k])] + spare / int(row.size()) +
                (int(k) < spare % int(row.size()) ? 1 : 0);
      int extra = wdt - widths[size_t(row[k])];
      // Glyphs drawn by coverage into alpha only.
      FT_Load_Char(face, FT_ULong((unsigned char)chars[row[k]]), FT_LOAD_RENDER);
      FT_GlyphSlot g = face->glyph;
      for (unsigned gy = 0; gy < g->bitmap.rows; gy++)
        for (unsigned gx = 0; gx < g->bitmap.width; gx++) {
          int px = x + 2 + extra / 2 + g->bitmap_left + int(gx);
          int py = y0 + baseline - g->bitmap_top + int(gy);
          // Keep the marker line and column clear of ink.
          if (px <= x || py <= y0 || px >= x + wdt || py >= y0 + row_h) continue;
          uint8_t &a = c.at(px, py)[3];
          int v = a + g->bitmap.buffer[gy * g->bitmap.pitch + gx];
          a = uint8_t(v > 255 ? 255 : v);
        }
      memcpy(c.at(x, y0), marker, 4);
      x += wdt;
    }
  }
  return c.png();
}

void fill_gradient(Canvas &c, const float top[3], const float bottom[3]) {
  for (int y = 0; y < c.h; y++) {
    float t = float(y) / float(c.h - 1);
    for (int x = 0; x < c.w; x++) {
      uint8_t *p = c.at(x, y);
      for (int k = 0; k < 3; k++) p[k] = uint8_t(lroundf((top[k] + (bottom[k] - top[k]) * t) * 255));
      if (c.ch == 4) p[3] = 255;
    }
  }
}

void disc(Canvas &c, float cx, float cy, float r, const float rgb[3], float alpha = 1) {
  for (int y = int(cy - r - 1); y <= int(cy + r + 1); y++)
    for (int x = int(cx - r - 1); x <= int(cx + r + 1); x++) {
      float d = hypotf(x + 0.5f - cx, y + 0.5f - cy);
      float a = r + 0.5f - d;
      c.blend(x, y, rgb, (a < 0 ? 0 : a > 1 ? 1 : a) * alpha);
    }
}

void line(Canvas &c, float x0, float y0, float x1, float y1, float width, const float rgb[3]) {
  int minx = int(fminf(x0, x1) - width - 1), maxx = int(fmaxf(x0, x1) + width + 1);
  int miny = int(fminf(y0, y1) - width - 1), maxy = int(fmaxf(y0, y1) + width + 1);
  float dx = x1 - x0, dy = y1 - y0, len2 = dx * dx + dy * dy;
  for (int y = miny; y <= maxy; y++)
    for (int x = minx; x <= maxx; x++) {
      float px = x + 0.5f - x0, py = y + 0.5f - y0;
      float t = len2 > 0 ? (px * dx + py * dy) / len2 : 0;
      t = t < 0 ? 0 : t > 1 ? 1 : t;
      float d = hypotf(px - t * dx, py - t * dy);
      float a = width / 2 + 0.5f - d;
      c.blend(x, y, rgb, a < 0 ? 0 : a > 1 ? 1 : a);
    }
}

void rect(Canvas &c, int x0, int y0, int x1, int y1, const float rgb[3], float alpha = 1) {
  for (int y = y0; y < y1; y++)
    for (int x = x0; x < x1; x++) c.blend(x, y, rgb, alpha);
}

std::string title_picture() {
  Canvas c(1024, 512, 3);
  const float sky_top[3] = {0.18f, 0.36f, 0.68f}, sky_low[3] = {0.86f, 0.78f, 0.62f};
  fill_gradient(c, sky_top, sky_low);
  // Three ranges of hills, the nearest a dirt track with ruts.
  const float far[3] = {0.45f, 0.52f, 0.55f}, mid[3] = {0.36f, 0.42f, 0.22f},
              dirt[3] = {0.47f, 0.31f, 0.17f}, rut[3] = {0.33f, 0.21f, 0.11f};
  struct Range {
    float base, height, scale;
    uint32_t seed;
    const float *colour;
  } ranges[] = {{300, 60, 0.006f, 11, far}, {350, 70, 0.009f, 23, mid}, {400, 90, 0.007f, 37, dirt}};
  for (const Range &r : ranges)
    for (int x = 0; x < c.w; x++) {
      float top = r.base - r.height * (0.5f + 0.5f * smooth_noise(x * r.scale, r.seed));
      for (int y = int(top); y < c.h; y++) {
        float a = fminf(1, top + 1 - float(y));
        c.blend(x, y, r.colour, y == int(top) ? fmaxf(a, 0) : 1);
      }
    }
  // Ruts sweeping across the front hill.
  for (int k = 0; k < 5; k++)
    for (int x = 0; x < c.w; x += 2) {
      float y = 440 + k * 14 + 10 * sinf(x * 0.008f + k);
      line(c, float(x), y, float(x + 2), y + 10 * (sinf((x + 2) * 0.008f + k) - sinf(x * 0.008f + k)), 3, rut);
    }
  const float shadow[3] = {0.1f, 0.06f, 0.03f}, white[3] = {1, 1, 1}, amber[3] = {0.98f, 0.72f, 0.2f};
  // Narrow enough to survive the cropping of a 4:3 window (the middle two
  // thirds show).
  set_size(bold, 116);
  const char *word = "Tarnwick";
  int w = text_advance(bold, word), x = (c.w - w) / 2;
  draw_text(c, bold, word, x + 5, 205, shadow, 0.6f);
  draw_text(c, bold, word, x, 200, white);
  line(c, float(x), 222, float(x + w), 222, 7, amber);
  return c.png();
}

std::string tach_picture() {
  Canvas c(256, 256, 4);
  const float face[3] = {0.08f, 0.08f, 0.09f}, rim[3] = {0.7f, 0.7f, 0.72f}, white[3] = {1, 1, 1},
              red[3] = {0.9f, 0.1f, 0.08f};
  disc(c, 128, 128, 126, rim);
  disc(c, 128, 128, 118, face);
  set_size(regular, 18);
  // 0 to 14 thousand rpm over 270 degrees, the last two in red.
  for (int i = 0; i <= 28; i++) {
    float a = (225 - i * 270.0f / 28) * 3.14159265f / 180;
    float cs = cosf(a), sn = -sinf(a);
    bool major = i % 2 == 0;
    const float *col = i >= 24 ? red : white;
    line(c, 128 + cs * (major ? 96 : 104), 128 + sn * (major ? 96 : 104), 128 + cs * 114,
         128 + sn * 114, major ? 4 : 2, col);
    if (major) {
      char num[4];
      snprintf(num, sizeof num, "%d", i / 2);
      int tw = text_advance(regular, num);
      draw_text(c, regular, num, int(128 + cs * 78) - tw / 2, int(128 + sn * 78) + 7, col);
    }
  }
  set_size(regular, 12);
  draw_text(c, regular, "x1000 rpm", 128 - text_advance(regular, "x1000 rpm") / 2, 176, white);
  disc(c, 128, 128, 10, rim);
  return c.png();
}

std::string shifter_picture() {
  Canvas c(128, 256, 4);
  const float panel[3] = {0.1f, 0.1f, 0.12f}, frame[3] = {0.6f, 0.6f, 0.62f}, white[3] = {1, 1, 1};
  rect(c, 0, 0, 128, 256, frame);
  rect(c, 6, 6, 122, 250, panel);
  set_size(bold, 34);
  // No neutral: the bike is always in one of its six gears, first at the bottom.
  const char *gears[6] = {"6", "5", "4", "3", "2", "1"};
  for (int i = 0; i < 6; i++) {
    int y = 20 + i * 39;
    line(c, 20, float(y + 18), 40, float(y + 18), 3, frame);
    draw_text(c, bold, gears[i], 64 - text_advance(bold, gears[i]) / 2 + 12, y + 32, white);
  }
  return c.png();
}

std::string pitboard_picture() {
  Canvas c(256, 128, 4);
  const float board[3] = {0.1f, 0.1f, 0.1f}, edge[3] = {0.95f, 0.8f, 0.1f}, pole[3] = {0.55f, 0.55f, 0.55f};
  rect(c, 0, 0, 256, 128, edge);
  rect(c, 6, 6, 250, 122, board);
  line(c, 8, 64, 248, 64, 2, pole);
  return c.png();
}

std::string roost_picture() {
  Canvas c(64, 64, 4);
  Lcg r{4242};
  const float soil[3] = {0.42f, 0.29f, 0.17f};
  // A soft clump of a few grains.
  for (int i = 0; i < 24; i++) {
    float a = r.unit() * 6.2831853f, d = r.unit() * 18;
    disc(c, 32 + cosf(a) * d, 32 + sinf(a) * d, 3 + r.unit() * 6, soil, 0.5f + 0.5f * r.unit());
  }
  for (int y = 0; y < 64; y++)
    for (int x = 0; x < 64; x++) {
      uint8_t *p = c.at(x, y);
      if (p[3] == 0) p[0] = uint8_t(soil[0] * 255), p[1] = uint8_t(soil[1] * 255), p[2] = uint8_t(soil[2] * 255);
    }
  return c.png();
}

std::string ppm(const Canvas &c) {
  std::string s = "P6\n" + std::to_string(c.w) + " " + std::to_string(c.h) + "\n255\n";
  for (size_t i = 0; i < c.px.size(); i += size_t(c.ch)) s.append(reinterpret_cast<const char *>(&c.px[i]), 3);
  return s;
}

const float ZENITH[3] = {0.22f, 0.42f, 0.75f}, HORIZON[3] = {0.80f, 0.85f, 0.90f},
            GROUND[3] = {0.42f, 0.40f, 0.34f};

// A side of the sky box: zenith at the top row, horizon at the middle, the
// same on every side so the edges meet.
Canvas sky_side(uint32_t seed) {
  Canvas c(256, 256, 3);
  for (int y = 0; y < 256; y++) {
    float t = y / 255.0f;
    for (int x = 0; x < 256; x++) {
      float rgb[3];
      for (int k = 0; k < 3; k++) {
        if (t < 0.5f) {
          float s = powf(t * 2, 2.5f);
          rgb[k] = ZENITH[k] + (HORIZON[k] - ZENITH[k]) * s;
        } else {
          float s = fminf(1, (t - 0.5f) * 8);
          rgb[k] = HORIZON[k] + (GROUND[k] - HORIZON[k]) * s;
        }
      }
      uint8_t *p = c.at(x, y);
      for (int k = 0; k < 3; k++) p[k] = uint8_t(lroundf(fminf(rgb[k], 1) * 255));
    }
  }
  // Distant hills along the horizon, darker, meeting at the edges.
  const float hills[3] = {0.48f, 0.52f, 0.50f};
  for (int x = 0; x < 256; x++) {
    float n = smooth_noise(float(x) / 256 * 6.2831853f, seed);
    float edge = sinf(float(x) / 255 * 3.14159265f);  // 0 at both edges
    int top = int(128 - 6 - 8 * edge * (0.5f + 0.5f * n));
    for (int y = top; y < 132; y++) c.blend(x, y, hills, 0.8f);
  }
  return c;
}

// Straight up: the zenith colour, as the sides' top rows.
Canvas sky_up() {
  Canvas c(256, 256, 3);
  for (int y = 0; y < 256; y++)
    for (int x = 0; x < 256; x++) {
      uint8_t *p = c.at(x, y);
      for (int k = 0; k < 3; k++) p[k] = uint8_t(lroundf(ZENITH[k] * 255));
    }
  return c;
}

// For reflections: sky above, ground below, by the angle from straight up
// (the chrome program maps the reflected direction this way).
Canvas sky_env() {
  Canvas c(256, 256, 3);
  for (int y = 0; y < 256; y++)
    for (int x = 0; x < 256; x++) {
      float r = hypotf(x - 127.5f, y - 127.5f) / 128;  // 0 up .. 1 straight down
      float rgb[3];
      for (int k = 0; k < 3; k++) {
        if (r < 0.5f) rgb[k] = ZENITH[k] + (HORIZON[k] - ZENITH[k]) * powf(r * 2, 2);
        else rgb[k] = HORIZON[k] + (GROUND[k] - HORIZON[k]) * fminf(1, (r - 0.5f) * 6);
      }
      uint8_t *p = c.at(x, y);
      for (int k = 0; k < 3; k++) p[k] = uint8_t(lroundf(rgb[k] * 255));
    }
  return c;
}

}  // namespace

int gen_images(const char *out) {
  if (!fonts_open()) return 0;
  char printable[95];
  for (int c = 33; c <= 126; c++) printable[c - 33] = char(c);
  printable[94] = 0;
  const float white[3] = {1, 1, 1}, black[3] = {0, 0, 0};
  int ok = gen_write(out, "font.png", font_picture(regular, 44, 1, printable, 4, 64, white)) &&
           gen_write(out, "numbers.png", font_picture(bold, 84, 1, "0123456789", 1, 96, black)) &&
           gen_write(out, "numbers-condensed.png",
                     font_picture(bold, 84, 0.68f, "0123456789", 1, 96, black)) &&
           gen_write(out, "title.png", title_picture()) &&
           gen_write(out, "tach.png", tach_picture()) &&
           gen_write(out, "shifter.png", shifter_picture()) &&
           gen_write(out, "pitboard.png", pitboard_picture()) &&
           gen_write(out, "roost.png", roost_picture());
  if (ok) {
    Canvas white4(4, 4, 3);
    std::fill(white4.px.begin(), white4.px.end(), 255);
    ok = gen_write(out, "colors/white.png", white4.png());
  }
  const char *sides[4] = {"n", "e", "s", "w"};
  for (int i = 0; ok && i < 4; i++)
    ok = gen_write(out, std::string("sky-") + sides[i] + ".ppm", ppm(sky_side(100 + uint32_t(i))));
  ok = ok && gen_write(out, "sky-u.ppm", ppm(sky_up())) && gen_write(out, "sky-env.ppm", ppm(sky_env()));
  fonts_close();
  return ok;
}
