// The two picture formats the ground needs without the drawing layer:
// 16-bit grey PNG height maps (read and written) through libpng over a
// DataFile.
#include <png.h>

#include <cstdlib>
#include <cstring>

#include "core/core.h"
#include "terrain/terrain_internal.h"

// Pictures wider or taller than this are refused before any row is read:
// a height map never needs more than 8193 samples a side.
static const int MAX_PNG_SIDE = 16384;

static void png_read_data(png_structp png, png_bytep out, png_size_t n) {
  DataFile *f = static_cast<DataFile *>(png_get_io_ptr(png));
  if (data_read(f, out, int(n)) != int(n)) png_error(png, "short read");
}

static void png_quiet_warning(png_structp, png_const_charp) {}

// A broken picture is reported by the caller; libpng's own text would only
// reach standard error.
static void png_quiet_error(png_structp png, png_const_charp) { png_longjmp(png, 1); }

// libpng unwinds with longjmp: everything here is plain data owned through
// the struct, freed after the jump.
struct GrayRead {
  DataFile *f;
  png_structp png;
  png_infop info;
  uint8_t *rows;     // kept rows
  uint8_t *scratch;  // rows past the kept ones
  uint16_t *out;
};

static void gray_read_free(GrayRead *r) {
  png_destroy_read_struct(&r->png, &r->info, nullptr);
  mem_free(r->rows);
  mem_free(r->scratch);
  mem_free(r->out);
  if (r->f) data_close(r->f);
  memset(r, 0, sizeof *r);
}

// libpng's own buffers (rows, chunk data) stay far below this for any height
// map we accept. Chunk lengths come from the file, so without the cap a tiny
// file with a text chunk claiming a gigabyte is allocated before it fails.
static png_voidp png_capped_malloc(png_structp, png_alloc_size_t size) {
  return size > (size_t(16) << 20) ? nullptr : malloc(size);
}

static void png_plain_free(png_structp, png_voidp p) { free(p); }

int png_read_gray16(const char *name, int keep_w, int keep_h, uint16_t **samples,
                    int *width, int *height) {
  // Static: fields set after setjmp must survive the jump.
  static GrayRead r;
  memset(&r, 0, sizeof r);
  *samples = nullptr;
  r.f = data_open(name, "rb");
  if (!r.f) return 0;
  uint8_t sig[8];
  if (data_read(r.f, sig, 8) != 8 || png_sig_cmp(sig, 0, 8) != 0) {
    gray_read_free(&r);
    return 0;
  }
  r.png = png_create_read_struct_2(PNG_LIBPNG_VER_STRING, nullptr, png_quiet_error,
                                   png_quiet_warning, nullptr, png_capped_malloc, png_plain_free);
  r.info = r.png ? png_create_info_struct(r.png) : nullptr;
  if (!r.info) {
    gray_read_free(&r);
    return 0;
  }
  if (setjmp(png_jmpbuf(r.png))) {
    gray_read_free(&r);
    return 0;
  }
  png_set_read_fn(r.png, r.f, png_read_data);
  png_set_sig_bytes(r.png, 8);
  png_set_user_limits(r.png, MAX_PNG_SIDE, MAX_PNG_SIDE);
  png_read_info(r.png, r.info);
  int color = png_get_color_type(r.png, r.info);
  int depth = png_get_bit_depth(r.png, r.info);
  if (color == PNG_COLOR_TYPE_PALETTE) png_set_palette_to_rgb(r.png);
  if (color == PNG_COLOR_TYPE_GRAY && depth < 8) png_set_expand_gray_1_2_4_to_8(r.png);
  if (color & PNG_COLOR_MASK_ALPHA) png_set_strip_alpha(r.png);
  if (color == PNG_COLOR_TYPE_PALETTE || (color & PNG_COLOR_MASK_COLOR))
    png_set_rgb_to_gray_fixed(r.png, 1, -1, -1);
  int passes = png_set_interlace_handling(r.png);
  png_read_update_info(r.png, r.info);
  int w = int(png_get_image_width(r.png, r.info));
  int h = int(png_get_image_height(r.png, r.info));
  int bytes = png_get_bit_depth(r.png, r.info) == 16 ? 2 : 1;
  size_t rowbytes = png_get_rowbytes(r.png, r.info);
  if (png_get_channels(r.png, r.info) != 1 || rowbytes < size_t(w) * bytes) png_error(r.png, "not grey");
  int kw = w < keep_w ? w : keep_w;
  int kh = h < keep_h ? h : keep_h;
  r.rows = static_cast<uint8_t *>(mem_alloc(rowbytes * kh));
  r.scratch = static_cast<uint8_t *>(mem_alloc(rowbytes));
  r.out = static_cast<uint16_t *>(mem_alloc(sizeof(uint16_t) * size_t(kw) * kh));
  if (!r.rows || !r.scratch || !r.out) png_error(r.png, "out of memory");
  // Interlaced passes refine the same rows, so the kept rows stay whole.
  memset(r.rows, 0, rowbytes * kh);
  for (int pass = 0; pass < passes; pass++)
    for (int y = 0; y < h; y++) png_read_row(r.png, y < kh ? r.rows + rowbytes * y : r.scratch, nullptr);
  for (int y = 0; y < kh; y++) {
    const uint8_t *row = r.rows + rowbytes * y;
    uint16_t *o = r.out + size_t(y) * kw;
    for (int x = 0; x < kw; x++)
      o[x] = bytes == 2 ? uint16_t(row[2 * x] << 8 | row[2 * x + 1]) : uint16_t(row[x] * 257);
  }
  *samples = r.out;
  r.out = nullptr;
  *width = w;
  *height = h;
  gray_read_free(&r);
  return 1;
}

static void png_write_data(png_structp png, png_bytep data, png_size_t n) {
  DataFile *f = static_cast<DataFile *>(png_get_io_ptr(png));
  if (data_write(f, data, int(n)) != int(n)) png_error(png, "short write");
}

static void png_flush_data(png_structp) {}

int png_write_gray16(DataFile *f, const uint16_t *samples, int width, int height) {
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, png_quiet_error, png_quiet_warning);
  png_infop info = png ? png_create_info_struct(png) : nullptr;
  uint8_t *row = static_cast<uint8_t *>(mem_alloc(size_t(width) * 2));
  if (!info || !row) {
    png_destroy_write_struct(&png, &info);
    mem_free(row);
    return 0;
  }
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    mem_free(row);
    return 0;
  }
  png_set_write_fn(png, f, png_write_data, png_flush_data);
  png_set_IHDR(png, info, width, height, 16, PNG_COLOR_TYPE_GRAY, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  for (int y = 0; y < height; y++) {
    const uint16_t *s = samples + size_t(y) * width;
    for (int x = 0; x < width; x++) {
      row[2 * x] = uint8_t(s[x] >> 8);
      row[2 * x + 1] = uint8_t(s[x]);
    }
    png_write_row(png, row);
  }
  png_write_end(png, info);
  png_destroy_write_struct(&png, &info);
  mem_free(row);
  return 1;
}
