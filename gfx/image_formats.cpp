// Picture files: PNG through libpng (with text annotations), PPM, PGM and
// the lossless K6/K7 delta images, all read through the data-file layer.
// Every size from a file is checked before anything is allocated for it,
// and binary bodies are read in pieces, so a short or hostile file costs
// no more memory than its own length.
#include <png.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "core/core.h"
#include "gfx/images_internal.h"
#include "core/log.h"

int png_check_crc = 1;

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

// ------------------------------------------------------------------ PNG

struct PngRead {
  DataFile *f;
  png_structp png;
  png_infop info, end;
  uint8_t *pixels;
  png_bytep *rows;
  char *text;
};

void png_read_fn(png_structp png, png_bytep out, png_size_t n) {
  DataFile *f = static_cast<DataFile *>(png_get_io_ptr(png));
  if (data_read(f, out, int(n)) != int(n)) png_error(png, "file ends early");
}

void png_error_fn(png_structp png, png_const_charp message) {
  if (log_verbosity >= 1) log_printf("PNG error: %s\n", message);
  png_longjmp(png, 1);
}

void png_warning_fn(png_structp, png_const_charp) {}

// libpng's own buffers (rows, chunk data, text) never need more than this
// for a picture we accept. A chunk length is taken from the file, so
// without the cap a 1 GB text chunk in a tiny file is allocated before the
// read fails.
const size_t PNG_ALLOC_MAX = size_t(8) << 20;

png_voidp png_malloc_fn(png_structp, png_alloc_size_t size) {
  return size > PNG_ALLOC_MAX ? nullptr : malloc(size);
}

void png_free_fn(png_structp, png_voidp p) { free(p); }

void append_text(PngRead *r, png_infop info) {
  png_textp texts = nullptr;
  int n = png_get_text(r->png, info, &texts, nullptr);
  for (int i = 0; i < n; i++) {
    const char *v = texts[i].text ? texts[i].text : "";
    size_t old = r->text ? strlen(r->text) : 0, add = strlen(v);
    char *t = static_cast<char *>(mem_realloc(r->text, old + add + 1));
    if (!t) png_error(r->png, "out of memory");
    memcpy(t + old, v, add + 1);
    r->text = t;
  }
}

void png_read_free(PngRead *r) {
  if (r->png) png_destroy_read_struct(&r->png, &r->info, &r->end);
  mem_free(r->rows);
  mem_free(r->pixels);
  mem_free(r->text);
  r->rows = nullptr, r->pixels = nullptr, r->text = nullptr;
}

// mode 0: RGB or RGBA with room for the chain; mode 1: 16-bit grey samples.
// Everything lives in *r so that an error jump loses nothing.
int png_decode(PngRead *r, int mode, int *w, int *h, int *b) {
  uint8_t sig[8];
  if (data_read(r->f, sig, 8) != 8 || png_sig_cmp(sig, 0, 8)) return 0;
  r->png = png_create_read_struct_2(PNG_LIBPNG_VER_STRING, nullptr, png_error_fn,
                                    png_warning_fn, nullptr, png_malloc_fn, png_free_fn);
  if (!r->png) return 0;
  r->info = png_create_info_struct(r->png);
  r->end = png_create_info_struct(r->png);
  if (!r->info || !r->end) return 0;
  if (setjmp(png_jmpbuf(r->png))) return 0;
  png_set_read_fn(r->png, r->f, png_read_fn);
  png_set_sig_bytes(r->png, 8);
  png_set_user_limits(r->png, 65535, 65535);
  png_set_chunk_cache_max(r->png, 1000);
  if (!png_check_crc) png_set_crc_action(r->png, PNG_CRC_QUIET_USE, PNG_CRC_QUIET_USE);
  png_read_info(r->png, r->info);
  png_uint_32 width, height;
  int depth, type;
  png_get_IHDR(r->png, r->info, &width, &height, &depth, &type, nullptr, nullptr, nullptr);
  if (!image_size_ok(width, height)) png_error(r->png, "picture too large");
  if (mode == 0) append_text(r, r->info);
  bool trns = png_get_valid(r->png, r->info, PNG_INFO_tRNS) != 0;
  int bytes;
  if (type == PNG_COLOR_TYPE_PALETTE) png_set_palette_to_rgb(r->png);
  if (type == PNG_COLOR_TYPE_GRAY && depth < 8) png_set_expand_gray_1_2_4_to_8(r->png);
  if (mode == 0) {
    png_set_strip_16(r->png);
    if (type == PNG_COLOR_TYPE_GRAY || type == PNG_COLOR_TYPE_GRAY_ALPHA)
      png_set_gray_to_rgb(r->png);
    if (trns) png_set_tRNS_to_alpha(r->png);
    bytes = (type & PNG_COLOR_MASK_ALPHA) || trns ? 4 : 3;
  } else {
    png_set_strip_alpha(r->png);
    if (type & PNG_COLOR_MASK_COLOR) png_set_rgb_to_gray_fixed(r->png, 1, -1, -1);
    if (depth == 16) png_set_swap(r->png);
    bytes = depth == 16 ? 2 : 1;
  }
  png_set_interlace_handling(r->png);
  png_read_update_info(r->png, r->info);
  if (png_get_rowbytes(r->png, r->info) != size_t(width) * bytes)
    png_error(r->png, "unexpected row layout");
  size_t size = mode == 0 ? size_t(chain_bytes(int(width), int(height), bytes))
                          : size_t(width) * height * 2;
  r->pixels = static_cast<uint8_t *>(mem_alloc_or_die(size));
  r->rows = static_cast<png_bytep *>(mem_alloc_or_die(sizeof(png_bytep) * height));
  for (png_uint_32 y = 0; y < height; y++) r->rows[y] = r->pixels + size_t(y) * width * bytes;
  png_read_image(r->png, r->rows);
  png_read_end(r->png, r->end);
  if (mode == 0) append_text(r, r->end);
  *w = int(width), *h = int(height), *b = bytes;
  return 1;
}

void png_write_fn(png_structp png, png_bytep data, png_size_t n) {
  DataFile *f = static_cast<DataFile *>(png_get_io_ptr(png));
  if (data_write(f, data, int(n)) != int(n)) png_error(png, "write failed");
}
void png_flush_fn(png_structp) {}

struct PngWrite {
  png_structp png;
  png_infop info;
  png_bytep *rows;
};

// rows[i] is the i-th row of the file; 1 on success.
int png_encode(PngWrite *p, DataFile *f, int w, int h, int depth, int type, int transforms) {
  p->png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, png_error_fn, png_warning_fn);
  if (!p->png) return 0;
  p->info = png_create_info_struct(p->png);
  if (!p->info) return 0;
  if (setjmp(png_jmpbuf(p->png))) return 0;
  png_set_write_fn(p->png, f, png_write_fn, png_flush_fn);
  png_set_IHDR(p->png, p->info, png_uint_32(w), png_uint_32(h), depth, type,
               PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_set_rows(p->png, p->info, p->rows);
  png_write_png(p->png, p->info, transforms, nullptr);
  return 1;
}

int write_png(const char *name, const uint8_t *pixels, int w, int h, int bytes, int depth,
              int type, int transforms, bool bottom_first) {
  if (w < 1 || h < 1 || !pixels) return 0;
  DataFile *f = data_create(name);
  if (!f) {
    log_printf("Can't write \"%s\"\n", name);
    return 0;
  }
  PngWrite p = {nullptr, nullptr, nullptr};
  p.rows = static_cast<png_bytep *>(mem_alloc_or_die(sizeof(png_bytep) * h));
  size_t stride = size_t(w) * bytes;
  for (int i = 0; i < h; i++)
    p.rows[i] = const_cast<png_bytep>(pixels + stride * (bottom_first ? h - 1 - i : i));
  int ok = png_encode(&p, f, w, h, depth, type, transforms);
  if (p.png) png_destroy_write_struct(&p.png, &p.info);
  mem_free(p.rows);
  if (!ok) {
    data_abandon(f);
    log_printf("Can't write \"%s\"\n", name);
    return 0;
  }
  return data_commit(f);
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
  PngRead r = {f, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr};
  if (!png_decode(&r, 0, w, h, b)) {
    png_read_free(&r);
    return nullptr;
  }
  uint8_t *chain = r.pixels;
  r.pixels = nullptr;
  if (text) {
    *text = r.text;
    r.text = nullptr;
  }
  png_read_free(&r);
  return chain;
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

uint16_t *image_read_gray16_file(DataFile *f, int *w, int *h) {
  PngRead r = {f, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr};
  int b;
  if (!png_decode(&r, 1, w, h, &b)) {
    png_read_free(&r);
    return nullptr;
  }
  uint16_t *out = reinterpret_cast<uint16_t *>(r.pixels);
  if (b == 1) {
    // Widen in place from the end: v becomes v x 257.
    for (int64_t i = int64_t(*w) * *h - 1; i >= 0; i--) out[i] = uint16_t(r.pixels[i] * 257);
  }
  r.pixels = nullptr;
  png_read_free(&r);
  return out;
}

uint16_t *image_read_gray16(const char *name, int *w, int *h) {
  DataFile *f = data_open(name, "rb");
  if (!f) return nullptr;
  uint16_t *out = image_read_gray16_file(f, w, h);
  data_close(f);
  return out;
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

int image_write_rgb(const char *name, const uint8_t *pixels, int w, int h) {
  return write_png(name, pixels, w, h, 3, 8, PNG_COLOR_TYPE_RGB, PNG_TRANSFORM_IDENTITY, true);
}

int image_write_gray16(const char *name, const uint16_t *samples, int w, int h) {
  return write_png(name, reinterpret_cast<const uint8_t *>(samples), w, h, 2, 16,
                   PNG_COLOR_TYPE_GRAY, PNG_TRANSFORM_SWAP_ENDIAN, false);
}
