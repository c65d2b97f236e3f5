// Bitmap fonts from a picture whose glyph cells are marked on grid lines,
// text drawn as one batch of textured quads with ANSI-style colour codes,
// and the number painter for plate pictures.
#include <cmath>
#include <cstring>

#include "core/core.h"
#include "gfx/images_internal.h"

Font font_main, font_numbers, font_numbers_condensed;

namespace {

const float PALETTE[16][3] = {
    {0, 0, 0},       {0.75f, 0, 0},    {0, 0.75f, 0},    {0.75f, 0.75f, 0},
    {0, 0, 0.75f},   {0.75f, 0, 0.75f}, {0, 0.75f, 0.75f}, {0.75f, 0.75f, 0.75f},
    {0, 0, 0},       {1, 0, 0},        {0, 1, 0},        {1, 1, 0},
    {0, 0, 1},       {1, 0, 1},        {0, 1, 1},        {1, 1, 1}};

enum { STATE_BOLD = 8, STATE_CALLER = 16, STATE_SHADOW = 32 };

void font_reset(Font *f) {
  memset(f, 0, sizeof *f);
  for (float &a : f->advances) a = 2.0f / 3;
}

uint32_t pixel_at(const uint8_t *p, int w, int x, int y) {
  uint32_t v;
  memcpy(&v, p + (size_t(y) * w + x) * 4, 4);
  return v;
}

// Skips an escape sequence starting at s (s[0] is the escape byte),
// applying a colour code to *state when one is given. Returns the byte
// after the sequence.
const unsigned char *escape(const unsigned char *s, int *state) {
  s++;
  if (*s != '[') {
    while (*s && !(*s >= '@' && *s <= '~')) s++;
    return *s ? s + 1 : s;
  }
  s++;
  int numbers[64], n = 0;
  while (*s >= '0' && *s <= '9') {
    int v = 0;
    while (*s >= '0' && *s <= '9') {
      if (v < 100000) v = v * 10 + (*s - '0');
      s++;
    }
    if (n < 64) numbers[n++] = v;
    if (*s != ';') break;
    s++;
  }
  while (*s && !(*s >= '@' && *s <= '~')) s++;
  if (!*s) return s;
  if (*s == 'm' && state) {
    if (n == 0) *state = STATE_CALLER;
    for (int i = 0; i < n; i++) {
      int v = numbers[i];
      if (v == 0) *state = STATE_CALLER;
      else if (v == 1) *state |= STATE_BOLD;
      else if (v == 22) *state &= ~STATE_BOLD;
      else if (v >= 30 && v <= 37 && !(*state & STATE_SHADOW)) *state = (v - 30) | (*state & STATE_BOLD);
      else if (v >= 40 && v <= 47 && (*state & STATE_SHADOW)) *state = (v - 40) | (*state & STATE_BOLD);
    }
  }
  return s + 1;
}

// The walk over a text that drawing and measuring share: escape sequences
// applied to the colour state (when given) and skipped, the byte after one
// always taken as a character, the pen moved over every character.
struct TextPen {
  const unsigned char *s;
  bool after_escape;
  float x, base;  // in character heights; lines go down
  float left;     // where the character last returned starts
};

TextPen pen_start(const char *text) {
  return TextPen{reinterpret_cast<const unsigned char *>(text), false, 0, 0, 0};
}

// The next character, with the pen moved past it; 0 at the end.
int pen_next(TextPen *p, const Font &f, int *state) {
  while (*p->s) {
    int c = *p->s;
    if (c == 27 && !p->after_escape) {
      p->s = escape(p->s, state);
      p->after_escape = true;
      continue;
    }
    p->after_escape = false;
    p->s++;
    p->left = p->x;
    float space = f.advances[int(' ')];
    if (c == '\r') {
      p->x = 0;
    } else if (c == '\n') {
      p->x = 0, p->base -= 1;
    } else if (c == '\t') {
      p->x = (floorf(p->x / (8 * space)) + 1) * 8 * space;
    } else {
      p->x += f.advances[c];
    }
    return c;
  }
  return 0;
}

bool blank(const char *t) {
  for (; *t; t++)
    if (*t != ' ' && *t != '\t' && *t != '\n' && *t != '\r') return false;
  return true;
}

void draw(float r, float g, float b, float a, const char *text, int state) {
  const Font &f = font_main;
  if (!text || !f.texture || blank(text)) return;
  twglUseProgram(PROGRAM_UNLIT);
  twglEnable(GL_BLEND);
  twglBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
  twglBindTexture(GL_TEXTURE_2D, f.texture);
  twglBegin(GL_QUADS);
  TextPen pen = pen_start(text);
  while (int c = pen_next(&pen, f, &state)) {
    if (c == ' ' || c == '\r' || c == '\n' || c == '\t') continue;
    float x = pen.left, right = pen.x, base = pen.base;
    const float *gq = f.glyphs[c];
    if (gq[0] != gq[2]) {
      if (!(state & STATE_CALLER)) {
        const float *p = PALETTE[state & 15];
        twglColor(p[0], p[1], p[2], a);
      } else if (state & STATE_BOLD) {
        twglColor(fminf(r + 0.25f, 1), fminf(g + 0.25f, 1), fminf(b + 0.25f, 1), a);
      } else {
        twglColor(r, g, b, a);
      }
      twglTexCoord(gq[0], gq[1]);
      twglVertex2(x, base + 1);
      twglTexCoord(gq[0], gq[3]);
      twglVertex2(x, base);
      twglTexCoord(gq[2], gq[3]);
      twglVertex2(right, base);
      twglTexCoord(gq[2], gq[1]);
      twglVertex2(right, base + 1);
    }
  }
  twglEnd();
}

// Width and height of a text in the font's pixels.
void pixel_measure(const Font &f, const char *text, int *w, int *h) {
  *w = *h = 0;
  const unsigned char *s = reinterpret_cast<const unsigned char *>(text);
  while (*s) {
    if (*s == 27) {
      s = escape(s, nullptr);
      continue;
    }
    const float *g = f.glyphs[*s++];
    *w += int(floorf(g[2] * f.width)) - int(floorf(g[0] * f.width));
    int gh = int(floorf(g[3] * f.height)) - int(floorf(g[1] * f.height));
    if (gh > *h) *h = gh;
  }
}

bool load_font(Font *font, const char *name, const char *chars, bool texture) {
  font_reset(font);
  int w, h;
  uint8_t *px = image_read_rgba(name, &w, &h);
  if (!px) {
    add_messagef("Can't open font '%.512s'", name);
    return false;
  }
  if (!font_from_pixels(font, px, w, h, chars)) {
    add_messagef("Can't open font '%.512s'", name);
    font_reset(font);
    return false;
  }
  if (texture) {
    font->texture = texture_upload(font->pixels, w, h, 4, 0);
    mem_free(font->pixels);
    font->pixels = nullptr;
  }
  return true;
}

}  // namespace

int font_from_pixels(Font *font, uint8_t *px, int w, int h, const char *chars) {
  font_reset(font);
  if (!px || w < 1 || h < 1) {
    mem_free(px);
    return 0;
  }
  uint32_t marker = pixel_at(px, w, 0, 0);
  std::vector<int> row_starts;
  for (int y = 0; y < h; y++)
    if (y == 0 || pixel_at(px, w, 0, y) == marker) row_starts.push_back(y);
  struct Cell {
    int x0, y0, x1, y1;
  };
  std::vector<Cell> cells;
  for (size_t r = 0; r < row_starts.size(); r++) {
    int y0 = row_starts[r], y1 = r + 1 < row_starts.size() ? row_starts[r + 1] : h;
    std::vector<int> xs;
    for (int x = 0; x < w; x++)
      if (x == 0 || pixel_at(px, w, x, y0) == marker) xs.push_back(x);
    for (size_t i = 0; i < xs.size(); i++)
      cells.push_back({xs[i], y0, i + 1 < xs.size() ? xs[i + 1] : w, y1});
  }
  size_t n = strlen(chars);
  for (size_t i = 0; i < n; i++) {
    // More characters than cells: the assignment starts over at row 0.
    const Cell &c = cells[i % cells.size()];
    unsigned char ch = (unsigned char)chars[i];
    font->glyphs[ch][0] = float(c.x0) / w;
    font->glyphs[ch][1] = float(c.y0) / h;
    font->glyphs[ch][2] = float(c.x1) / w;
    font->glyphs[ch][3] = float(c.y1) / h;
    font->advances[ch] = float(c.x1 - c.x0) / float(c.y1 - c.y0);
  }
  // The grid marks are no ink.
  static const uint8_t clear[4] = {255, 255, 255, 0};
  for (int y0 : row_starts) {
    memcpy(px + size_t(y0) * w * 4, clear, 4);
    for (int x = 1; x < w; x++)
      if (pixel_at(px, w, x, y0) == marker) memcpy(px + (size_t(y0) * w + x) * 4, clear, 4);
  }
  font->advances[int(' ')] = font->advances[int('-')];
  mip_build(px, w, h, 4, 0);
  font->pixels = px;
  font->width = w, font->height = h;
  return 1;
}

void fonts_load() {
  char chars[95];
  for (int c = 33; c <= 126; c++) chars[c - 33] = char(c);
  chars[94] = 0;
  load_font(&font_main, "@font.png", chars, true);
  load_font(&font_numbers, "@numbers.png", "0123456789", false);
  load_font(&font_numbers_condensed, "@numbers-condensed.png", "0123456789", false);
}

void fonts_free() {
  for (Font *f : {&font_main, &font_numbers, &font_numbers_condensed}) {
    if (f->texture) twglDeleteTextures(1, &f->texture);
    mem_free(f->pixels);
    font_reset(f);
  }
}

void text_draw(float r, float g, float b, float a, const char *text) {
  draw(r, g, b, a, text, STATE_CALLER);
}

void text_draw_shadowed(float r, float g, float b, float a, const char *text) {
  twglPushMatrix();
  twglTranslate(1.0f / 16, -1.0f / 16, 0);
  draw(0, 0, 0, a / 2, text, STATE_CALLER | STATE_SHADOW);
  twglPopMatrix();
  text_draw(r, g, b, a, text);
}

void text_draw_plain(const char *text) { text_draw(1, 1, 1, 1, text); }

void text_draw_grey(const char *text) {
  twglPushMatrix();
  twglTranslate(1.0f / 16, -1.0f / 16, 0);
  draw(0, 0, 0, 0.5f, text, STATE_CALLER | STATE_SHADOW);
  twglPopMatrix();
  text_draw(0.75f, 0.75f, 0.75f, 1, text);
}

void text_draw_centred(float r, float g, float b, float a, float x0, float x1,
                       const char *text) {
  twglPushMatrix();
  twglTranslate((x1 - x0 - text_width(text)) / 2 + x0, 0, 0);
  text_draw(r, g, b, a, text);
  twglPopMatrix();
}

void text_draw_centred_shadowed(float r, float g, float b, float a, float x0, float x1,
                                const char *text) {
  twglPushMatrix();
  twglTranslate((x1 - x0 - text_width(text)) / 2 + x0, 0, 0);
  text_draw_shadowed(r, g, b, a, text);
  twglPopMatrix();
}

void text_draw_right(float r, float g, float b, float a, float x, const char *text) {
  twglPushMatrix();
  twglTranslate(x - text_width(text), 0, 0);
  text_draw_shadowed(r, g, b, a, text);
  twglPopMatrix();
}

float text_width(const char *text) {
  float widest = 0;
  TextPen pen = pen_start(text);
  while (pen_next(&pen, font_main, nullptr))
    if (pen.x > widest) widest = pen.x;
  return widest;
}

void text_mode_begin(int lines) {
  float s = 2 * proj_half_y / float(lines);
  twglMatrixMode(GL_MODELVIEW);
  twglPushMatrix();
  twglLoadIdentity();
  twglTranslate(-proj_half_x, proj_half_y - s, -1);
  twglScale(s, s, s);
}

void text_mode_end() {
  twglMatrixMode(GL_MODELVIEW);
  twglPopMatrix();
}

void number_draw(uint8_t *pixels, int W, int H, float r, float g, float b, float a,
                 const char *text) {
  const Font *f = &font_numbers;
  if (!f->pixels) return;
  int tw, th;
  pixel_measure(*f, text, &tw, &th);
  if (W * 9 / 8 < tw && font_numbers_condensed.pixels) {
    f = &font_numbers_condensed;
    pixel_measure(*f, text, &tw, &th);
  }
  int x = W / 2 - tw / 2, y = H / 2 - th / 2;
  float colour[3] = {r, g, b};
  for (const unsigned char *s = reinterpret_cast<const unsigned char *>(text); *s; s++) {
    const float *gq = f->glyphs[*s];
    int gx0 = int(floorf(gq[0] * f->width)), gx1 = int(floorf(gq[2] * f->width));
    int gy0 = int(floorf(gq[1] * f->height)), gy1 = int(floorf(gq[3] * f->height));
    for (int sy = gy0; sy < gy1; sy++) {
      int dy = y + sy - gy0;
      if (dy < 0 || dy >= H) continue;
      for (int sx = gx0; sx < gx1; sx++) {
        int dx = x + sx - gx0;
        if (dx < 0 || dx >= W) continue;
        const uint8_t *src = f->pixels + (size_t(sy) * f->width + sx) * 4;
        uint8_t *dst = pixels + (size_t(dy) * W + dx) * 4;
        float e = src[3] / 255.0f * a;
        for (int c = 0; c < 3; c++)
          dst[c] = uint8_t(src[c] * colour[c] * e + dst[c] * (1 - e));
        dst[3] = uint8_t(dst[3] * (1 - e) + 255 * e * e);
      }
    }
    x += gx1 - gx0;
  }
}
