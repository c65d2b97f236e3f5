// Picture files: PNG (through core's codec, with text annotations), PPM,
// PGM and the lossless K6/K7 delta images, all read through the data-file
// layer.
// Every size from a file is checked before anything is allocated for it,
// and binary bodies are read in pieces, so a short or hostile file costs
// no more memory than its own length.
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "core/core.h"
#include "gfx/images_internal.h"
#include "core/log.h"

namespace {

bool is_space(int c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// White space and "#" comment lines, then a decimal number.
int header_int(DataFile *f, int *out) {
  for (;;) {
    int c = data_peekc(f);
    if (is_space(c)) {
      data_getc(f);
    } else if (c == '#') {
      while ((c = data_getc(f)) >= 0 && c != '\n') {
      }
    } else {
      break;
    }
  }
  int c = data_peekc(f);
  if (c < '0' || c > '9') return 0;
  int64_t v = 0;
  while ((c = data_peekc(f)) >= '0' && c <= '9') {
    data_getc(f);
    v = v * 10 + (c - '0');
    if (v > 1000000000) return 0;
  }
  *out = int(v);
  return 1;
}

// n bytes of body, or false when the file ends first.
bool read_body(DataFile *f, std::vector<uint8_t> *body, int64_t n) {
  body->clear();
  while (int64_t(body->size()) < n) {
    int64_t have = int64_t(body->size());
    int64_t step = n - have;
    if (step > (1 << 20)) step = 1 << 20;
    body->resize(size_t(have + step));
    int got = data_read(f, body->data() + have, int(step));
    if (got != int(step)) return false;
  }
  return true;
}

void image_error(const char *format, int value = 0) {
  char text[256];
  snprintf(text, sizeof text, format, value);
  log_printf("%s\n", text);
}

// Decodes the delta body of a K6 (3 bytes a pixel in the file) or K7 (4)
// into pixels of out_b bytes; channels the file lacks keep their prediction.
uint8_t *read_delta(DataFile *f, int file_b, int out_b, int *w, int *h) {
  int width, height;
  if (!header_int(f, &width) || !header_int(f, &height)) {
    image_error("Can't read the size of a delta image");
    return nullptr;
  }
  if (!image_size_ok(width, height)) {
    image_error("Delta image too large or empty");
    return nullptr;
  }
  if (data_getc(f) < 0) {
    image_error("Delta image ends before its pixels");
    return nullptr;
  }
  std::vector<uint8_t> body;
  if (!read_body(f, &body, int64_t(width) * height * file_b)) {
    image_error("Delta image ends before its last pixel");
    return nullptr;
  }
  uint8_t *chain = chain_alloc(width, height, out_b);
  const uint8_t *in = body.data();
  for (int y = 0; y < height; y++)
    for (int x = 0; x < width; x++) {
      uint8_t *p = chain + (size_t(y) * width + x) * out_b;
      const uint8_t *left = p - out_b, *above = p - size_t(width) * out_b;
      for (int c = 0; c < out_b; c++) {
        int pred;
        if (y == 0) {
          pred = x == 0 ? 0 : left[c];
        } else if (x == 0) {
          pred = above[c];
        } else {
          pred = left[c] + above[c] - above[c - out_b];
          pred = pred < 0 ? 0 : pred > 255 ? 255 : pred;
        }
        p[c] = uint8_t(c < file_b ? in[c] + pred : pred);
      }
      in += file_b;
    }
  mip_build(chain, width, height, out_b, 0);
  *w = width, *h = height;
  return chain;
}

// The samples of a PPM or PGM after its magic: w x h x channels bytes
// scaled to 0..255, or an empty vector on failure.
bool read_netpbm(DataFile *f, bool binary, int channels, int *w, int *h,
                 std::vector<uint8_t> *out) {
  int width, height, maximum;
  if (!header_int(f, &width) || !header_int(f, &height) || !header_int(f, &maximum)) {
    image_error("Can't read the header of a PPM or PGM image");
    return false;
  }
  if (maximum < 1 || maximum > 255) {
    image_error("Unsupported PPM or PGM maximum value %d", maximum);
    return false;
  }
  if (!image_size_ok(width, height)) {
    image_error("PPM or PGM image too large or empty");
    return false;
  }
  int64_t n = int64_t(width) * height * channels;
  if (binary) {
    if (data_getc(f) < 0 || !read_body(f, out, n)) {
      image_error("PPM or PGM image ends before its last pixel");
      return false;
    }
  } else {
    out->clear();
    for (int64_t i = 0; i < n; i++) {
      int v;
      if (!header_int(f, &v)) {
        image_error("PPM or PGM image ends before its last sample");
        return false;
      }
      out->push_back(uint8_t(v > maximum ? 255 : v * 255 / maximum));
    }
    maximum = 255;
  }
  if (maximum != 255)
    for (uint8_t &v : *out) v = uint8_t(v > maximum ? 255 : v * 255 / maximum);
  *w = width, *h = height;
  return true;
}

}  // namespace

uint8_t *image_read_delta(DataFile *f, int b, int *w, int *h) {
  return read_delta(f, b, b, w, h);
}

uint8_t *image_read_ppm(DataFile *f, const char *magic, int *w, int *h) {
  std::vector<uint8_t> px;
  int width, height;
  if (!read_netpbm(f, strcmp(magic, "P6") == 0, 3, &width, &height, &px)) return nullptr;
  uint8_t *chain = chain_alloc(width, height, 3);
  memcpy(chain, px.data(), px.size());
  mip_build(chain, width, height, 3, 0);
  *w = width, *h = height;
  return chain;
}

uint8_t *image_read_pgm(DataFile *f, int *w, int *h) {
  char magic[16];
  if (data_scanf(f, "%15s", magic) != 1) return nullptr;
  std::vector<uint8_t> px;
  int width, height;
  if (!read_netpbm(f, magic[1] == '5', 1, &width, &height, &px)) return nullptr;
  uint8_t *out = static_cast<uint8_t *>(mem_alloc_or_die(px.size()));
  memcpy(out, px.data(), px.size());
  *w = width, *h = height;
  return out;
}

uint8_t *image_read_png_file(DataFile *f, int *w, int *h, int *b, char **text) {
  PngRead how = {};
  how.as = PNG_AS_RGB8;
  how.max_pixels = image_pixel_limit;
  how.text = 1;
  how.room = chain_bytes;
  PngPicture p;
  if (!png_read_picture(f, &how, &p)) return nullptr;
  *w = p.width, *h = p.height, *b = p.bytes;
  if (text) *text = p.text;
  else mem_free(p.text);
  return p.pixels;
}

uint8_t *image_read_png(const char *name, int *w, int *h, int *b, char **text) {
  DataFile *f = data_open(name, "rb");
  if (!f) return nullptr;
  char *t = nullptr;
  uint8_t *chain = image_read_png_file(f, w, h, b, &t);
  data_close(f);
  if (!chain) return nullptr;
  std::string info = std::string(name) + ".info";
  int n = 0;
  char *extra = file_to_string(info.c_str(), &n);
  if (extra) {
    size_t old = t ? strlen(t) : 0;
    char *joined = static_cast<char *>(mem_alloc_or_die(old + size_t(n) + 1));
    if (old) memcpy(joined, t, old);
    memcpy(joined + old, extra, size_t(n));
    joined[old + size_t(n)] = 0;
    mem_free(t);
    mem_free(extra);
    t = joined;
  }
  // The smaller levels follow the picture's own marks.
  mip_build(chain, *w, *h, *b, t && strstr(t, "[mip_max_alpha]") != nullptr);
  if (text) *text = t;
  else mem_free(t);
  return chain;
}

uint8_t *image_read_rgba(const char *name, int *w, int *h) {
  int b;
  uint8_t *chain = image_read_png(name, w, h, &b, nullptr);
  if (chain && b == 4) return chain;
  if (chain) {
    uint8_t *out = chain_alloc(*w, *h, 4);
    int64_t n = int64_t(*w) * *h;
    for (int64_t i = 0; i < n; i++) {
      memcpy(out + i * 4, chain + i * 3, 3);
      out[i * 4 + 3] = 255;
    }
    mem_free(chain);
    return out;
  }
  DataFile *f = data_open(name, "rb");
  if (!f) return nullptr;
  char token[16];
  uint8_t *out = nullptr;
  if (data_scanf(f, "%15s", token) == 1) {
    if (!strcmp(token, "K7")) out = read_delta(f, 4, 4, w, h);
    else if (!strcmp(token, "K6")) out = read_delta(f, 3, 4, w, h);
  }
  data_close(f);
  return out;
}
