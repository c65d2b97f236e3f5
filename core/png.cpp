// The one PNG reader and writer. libpng reports errors by longjmp, so
// everything that lives across its calls is plain data in a state struct
// owned by the caller of the function that sets the jump, freed after it.
#include "core/png.h"

#include <png.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "core/core.h"
#include "core/log.h"

int png_check_crc = 1;
// 8192 x 8192: a picture larger than any texture the program uses.
int64_t image_pixel_limit = int64_t(1) << 26;

namespace {

// libpng's own buffers (rows, chunk data, text) never need more than this
// for a picture we accept. A chunk length is taken from the file, so
// without the cap a tiny file with a text chunk claiming a gigabyte is
// allocated before the read fails.
const size_t PNG_ALLOC_MAX = size_t(8) << 20;

png_voidp capped_malloc(png_structp, png_alloc_size_t size) {
  return size > PNG_ALLOC_MAX ? nullptr : malloc(size);
}

void plain_free(png_structp, png_voidp p) { free(p); }

// The reason goes to the caller's error text (the error pointer) and, with
// --debug, to the log.
void on_error(png_structp png, png_const_charp message) {
  if (char *error = static_cast<char *>(png_get_error_ptr(png))) snprintf(error, 96, "%s", message);
  if (log_verbosity >= 1) log_printf("PNG error: %s\n", message);
  png_longjmp(png, 1);
}

void on_warning(png_structp, png_const_charp) {}

void set_error(char *error, const char *message) { snprintf(error, 96, "%s", message); }

// ------------------------------------------------------------------ reading

// Bytes come from a data file or from memory.
struct Source {
  DataFile *f;
  const uint8_t *data;
  size_t size, pos;
};

int source_read(Source *s, void *to, size_t n) {
  if (s->f) return n <= size_t(INT_MAX) && data_read(s->f, to, int(n)) == int(n);
  if (n > s->size - s->pos) return 0;
  memcpy(to, s->data + s->pos, n);
  s->pos += n;
  return 1;
}

void read_bytes(png_structp png, png_bytep to, png_size_t n) {
  if (!source_read(static_cast<Source *>(png_get_io_ptr(png)), to, n)) png_error(png, "file ends early");
}

struct ReadState {
  Source src;
  const PngRead *how;
  PngPicture *out;
  png_structp png;
  png_infop info, end;
  uint8_t *scratch;  // rows past the kept ones
};

void append_text(ReadState *r, png_infop info) {
  png_textp texts = nullptr;
  int n = png_get_text(r->png, info, &texts, nullptr);
  for (int i = 0; i < n; i++) {
    const char *v = texts[i].text ? texts[i].text : "";
    char *old_text = r->out->text;
    size_t old = old_text ? strlen(old_text) : 0, add = strlen(v);
    char *t = static_cast<char *>(mem_realloc(old_text, old + add + 1));
    if (!t) png_error(r->png, "out of memory");
    memcpy(t + old, v, add + 1);
    r->out->text = t;
  }
}

// Rows are read whole into the buffer, kept_w pixels of them then moved
// together and converted in place.
void pack_rows(PngPicture *p, size_t rowbytes, int file_bytes) {
  int kw = p->kept_w, kh = p->kept_h;
  size_t stride = size_t(kw) * file_bytes;
  // Each row moves towards the start, so the rows still to move are intact.
  if (stride != rowbytes)
    for (int y = 1; y < kh; y++) memmove(p->pixels + stride * y, p->pixels + rowbytes * y, stride);
  if (p->bytes != 2) return;
  size_t n = size_t(kw) * kh;
  uint16_t *out = reinterpret_cast<uint16_t *>(p->pixels);
  if (file_bytes == 2) {
    for (size_t i = 0; i < n; i++) {
      const uint8_t *s = p->pixels + 2 * i;
      out[i] = uint16_t(s[0] << 8 | s[1]);
    }
  } else {
    // Widened from the end: sample i is read before anything lands on it.
    for (size_t i = n; i-- > 0;) out[i] = uint16_t(p->pixels[i] * 257);
  }
}

int decode(ReadState *r) {
  const PngRead *how = r->how;
  PngPicture *out = r->out;
  uint8_t sig[8];
  if (!source_read(&r->src, sig, 8) || png_sig_cmp(sig, 0, 8)) {
    set_error(out->error, "not a PNG file");
    return 0;
  }
  r->png = png_create_read_struct_2(PNG_LIBPNG_VER_STRING, out->error, on_error, on_warning,
                                    nullptr, capped_malloc, plain_free);
  if (!r->png) {
    set_error(out->error, "out of memory");
    return 0;
  }
  r->info = png_create_info_struct(r->png);
  r->end = png_create_info_struct(r->png);
  if (!r->info || !r->end) {
    set_error(out->error, "out of memory");
    return 0;
  }
  if (setjmp(png_jmpbuf(r->png))) return 0;
  png_set_read_fn(r->png, &r->src, read_bytes);
  png_set_sig_bytes(r->png, 8);
  int side = how->max_side > 0 ? how->max_side : 65535;
  png_set_user_limits(r->png, png_uint_32(side), png_uint_32(side));
  png_set_chunk_cache_max(r->png, 1000);
  if (!png_check_crc) png_set_crc_action(r->png, PNG_CRC_QUIET_USE, PNG_CRC_QUIET_USE);
  png_read_info(r->png, r->info);
  png_uint_32 width, height;
  int depth, type;
  png_get_IHDR(r->png, r->info, &width, &height, &depth, &type, nullptr, nullptr, nullptr);
  if (how->max_pixels > 0 && int64_t(width) * int64_t(height) > how->max_pixels)
    png_error(r->png, "picture too large");
  if (how->text) append_text(r, r->info);
  if (type == PNG_COLOR_TYPE_PALETTE) png_set_palette_to_rgb(r->png);
  if (type == PNG_COLOR_TYPE_GRAY && depth < 8) png_set_expand_gray_1_2_4_to_8(r->png);
  int bytes, channels;
  if (how->as == PNG_AS_RGB8) {
    bool trns = png_get_valid(r->png, r->info, PNG_INFO_tRNS) != 0;
    png_set_strip_16(r->png);
    if (type == PNG_COLOR_TYPE_GRAY || type == PNG_COLOR_TYPE_GRAY_ALPHA) png_set_gray_to_rgb(r->png);
    if (trns) png_set_tRNS_to_alpha(r->png);
    bytes = channels = (type & PNG_COLOR_MASK_ALPHA) || trns ? 4 : 3;
  } else {
    png_set_strip_alpha(r->png);
    if (type & PNG_COLOR_MASK_COLOR) png_set_rgb_to_gray_fixed(r->png, 1, -1, -1);
    bytes = 2, channels = 1;
  }
  int passes = png_set_interlace_handling(r->png);
  png_read_update_info(r->png, r->info);
  size_t rowbytes = png_get_rowbytes(r->png, r->info);
  int file_bytes = how->as == PNG_AS_RGB8 ? bytes : png_get_bit_depth(r->png, r->info) == 16 ? 2 : 1;
  if (png_get_channels(r->png, r->info) != channels || rowbytes != size_t(width) * file_bytes)
    png_error(r->png, "unexpected row layout");
  int w = int(width), h = int(height);
  int kw = how->keep_w > 0 && how->keep_w < w ? how->keep_w : w;
  int kh = how->keep_h > 0 && how->keep_h < h ? how->keep_h : h;
  size_t rows_size = rowbytes * size_t(kh), size = size_t(kw) * kh * bytes;
  if (size < rows_size) size = rows_size;
  if (how->room) {
    int64_t room = how->room(kw, kh, bytes);
    if (room > 0 && size_t(room) > size) size = size_t(room);
  }
  out->pixels = static_cast<uint8_t *>(mem_alloc(size));
  if (kh < h) r->scratch = static_cast<uint8_t *>(mem_alloc(rowbytes));
  if (!out->pixels || (kh < h && !r->scratch)) png_error(r->png, "out of memory");
  // Interlaced passes refine the same rows, so the kept rows stay whole.
  if (passes > 1) memset(out->pixels, 0, rows_size);
  for (int pass = 0; pass < passes; pass++)
    for (int y = 0; y < h; y++)
      png_read_row(r->png, y < kh ? out->pixels + rowbytes * y : r->scratch, nullptr);
  if (how->text) {
    png_read_end(r->png, r->end);
    append_text(r, r->end);
  }
  out->width = w, out->height = h;
  out->kept_w = kw, out->kept_h = kh;
  out->bytes = bytes;
  pack_rows(out, rowbytes, file_bytes);
  return 1;
}

int read_from(const Source &src, const PngRead *how, PngPicture *out) {
  memset(out, 0, sizeof *out);
  ReadState r;
  memset(&r, 0, sizeof r);
  r.src = src;
  r.how = how;
  r.out = out;
  int ok = decode(&r);
  if (r.png) png_destroy_read_struct(&r.png, &r.info, &r.end);
  mem_free(r.scratch);
  if (!ok) {
    mem_free(out->pixels);
    mem_free(out->text);
    out->pixels = nullptr, out->text = nullptr;
    if (!out->error[0]) set_error(out->error, "can't read the picture");
  }
  return ok;
}

// ------------------------------------------------------------------ writing

// Bytes go to a data file or into a growing buffer.
struct Sink {
  DataFile *f;
  uint8_t *data;
  size_t size, cap;
};

void write_bytes(png_structp png, png_bytep data, png_size_t n) {
  Sink *s = static_cast<Sink *>(png_get_io_ptr(png));
  if (s->f) {
    if (n > size_t(INT_MAX) || data_write(s->f, data, int(n)) != int(n)) png_error(png, "write failed");
    return;
  }
  if (n > size_t(INT_MAX) - s->size) png_error(png, "picture too large");
  if (s->size + n > s->cap) {
    size_t cap = s->cap ? s->cap : 4096;
    while (cap < s->size + n) cap *= 2;
    uint8_t *grown = static_cast<uint8_t *>(mem_realloc(s->data, cap));
    if (!grown) png_error(png, "out of memory");
    s->data = grown, s->cap = cap;
  }
  memcpy(s->data + s->size, data, n);
  s->size += n;
}

void flush_nothing(png_structp) {}

struct WriteState {
  Sink sink;
  png_structp png;
  png_infop info;
  uint8_t *row;  // a 16-bit row in the file's byte order
  char error[96];
};

bool write_shape_ok(const PngWrite *p) {
  return p->pixels && p->width >= 1 && p->height >= 1 && p->width <= 1000000 &&
         p->height <= 1000000 && p->channels >= 1 && p->channels <= 4 &&
         (p->depth == 8 || p->depth == 16) && p->level >= -1 && p->level <= 9;
}

int encode(WriteState *s, const PngWrite *p) {
  static const int types[5] = {0, PNG_COLOR_TYPE_GRAY, PNG_COLOR_TYPE_GRAY_ALPHA, PNG_COLOR_TYPE_RGB,
                               PNG_COLOR_TYPE_RGB_ALPHA};
  size_t samples = size_t(p->width) * p->channels;
  size_t stride = samples * (p->depth / 8);
  if (p->depth == 16) {
    s->row = static_cast<uint8_t *>(mem_alloc(stride));
    if (!s->row) return 0;
  }
  s->png = png_create_write_struct(PNG_LIBPNG_VER_STRING, s->error, on_error, on_warning);
  if (!s->png) return 0;
  s->info = png_create_info_struct(s->png);
  if (!s->info) return 0;
  if (setjmp(png_jmpbuf(s->png))) return 0;
  png_set_write_fn(s->png, &s->sink, write_bytes, flush_nothing);
  if (p->level >= 0) png_set_compression_level(s->png, p->level);
  png_set_IHDR(s->png, s->info, png_uint_32(p->width), png_uint_32(p->height), p->depth,
               types[p->channels], PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
               PNG_FILTER_TYPE_DEFAULT);
  png_write_info(s->png, s->info);
  const uint8_t *pixels = static_cast<const uint8_t *>(p->pixels);
  for (int i = 0; i < p->height; i++) {
    const uint8_t *src = pixels + stride * size_t(p->bottom_first ? p->height - 1 - i : i);
    if (p->depth == 16) {
      // The file stores the high byte first, whatever the machine does.
      for (size_t k = 0; k < samples; k++) {
        uint16_t v;
        memcpy(&v, src + 2 * k, 2);
        s->row[2 * k] = uint8_t(v >> 8);
        s->row[2 * k + 1] = uint8_t(v);
      }
      png_write_row(s->png, s->row);
    } else {
      png_write_row(s->png, const_cast<png_bytep>(src));
    }
  }
  png_write_end(s->png, s->info);
  return 1;
}

int write_to(WriteState *s, const PngWrite *p) {
  if (!write_shape_ok(p)) return 0;
  int ok = encode(s, p);
  if (s->png) png_destroy_write_struct(&s->png, &s->info);
  mem_free(s->row);
  s->row = nullptr;
  return ok;
}

}  // namespace

int png_read_picture(DataFile *f, const PngRead *how, PngPicture *out) {
  Source src = {f, nullptr, 0, 0};
  return read_from(src, how, out);
}

int png_read_picture_memory(const void *data, size_t size, const PngRead *how, PngPicture *out) {
  Source src = {nullptr, static_cast<const uint8_t *>(data), data ? size : 0, 0};
  return read_from(src, how, out);
}

void png_picture_free(PngPicture *p) {
  mem_free(p->pixels);
  mem_free(p->text);
  p->pixels = nullptr, p->text = nullptr;
}

int png_write_picture(DataFile *f, const PngWrite *p) {
  WriteState s;
  memset(&s, 0, sizeof s);
  s.sink.f = f;
  return f && write_to(&s, p);
}

uint8_t *png_write_picture_memory(const PngWrite *p, int *size) {
  WriteState s;
  memset(&s, 0, sizeof s);
  if (!write_to(&s, p)) {
    mem_free(s.sink.data);
    return nullptr;
  }
  *size = int(s.sink.size);
  return s.sink.data;
}

uint16_t *image_read_gray16(const char *name, int *w, int *h) {
  DataFile *f = data_open(name, "rb");
  if (!f) return nullptr;
  PngRead how = {};
  how.as = PNG_AS_GRAY16;
  how.max_pixels = image_pixel_limit;
  PngPicture p;
  int ok = png_read_picture(f, &how, &p);
  data_close(f);
  if (!ok) return nullptr;
  *w = p.width, *h = p.height;
  return reinterpret_cast<uint16_t *>(p.pixels);
}

// Through a temporary file, so a failed write keeps the old picture.
static int write_named(const char *name, const PngWrite *p) {
  if (p->width < 1 || p->height < 1 || !p->pixels) return 0;
  DataFile *f = data_create(name);
  int ok = 0;
  if (f) {
    if (png_write_picture(f, p)) ok = data_commit(f);
    else data_abandon(f);
  }
  if (!ok) log_printf("Can't write \"%s\"\n", name);
  return ok;
}

int image_write_rgb(const char *name, const uint8_t *pixels, int w, int h) {
  PngWrite p = {w, h, 3, 8, pixels, 1, -1};
  return write_named(name, &p);
}

int image_write_gray16(const char *name, const uint16_t *samples, int w, int h) {
  PngWrite p = {w, h, 1, 16, samples, 0, -1};
  return write_named(name, &p);
}
