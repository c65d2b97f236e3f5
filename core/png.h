// PNG pictures through libpng, for every part of the game: the ground's
// height maps, the drawing layer's pictures and screenshots, the
// generator's files. A file's sizes are checked before anything is
// allocated for them and libpng's own allocations are capped, so a hostile
// file costs little more than its own length; every failure is a return
// value with its reason, never a crash.
#pragma once
#include <cstddef>
#include <cstdint>

struct DataFile;

// What a picture becomes when read.
enum PngAs {
  // One host-order uint16_t a pixel: 8-bit grey is widened (v x 257), colour
  // turned grey with libpng's default weights, alpha dropped.
  PNG_AS_GRAY16 = 0,
  // 8-bit RGB, or RGBA when the picture has alpha or a transparent colour:
  // grey becomes RGB, 16-bit samples keep their high byte.
  PNG_AS_RGB8 = 1,
};

// How to read. Zero-initialise, then set what matters.
struct PngRead {
  int as;              // PngAs
  int max_side;        // a wider or taller picture is refused (0: 65535)
  int64_t max_pixels;  // a larger width x height is refused (0: no such limit)
  // Only the top-left keep_w x keep_h pixels are stored; the rest is read
  // and dropped (0: all).
  int keep_w, keep_h;
  // 1: the chunks after the pixels are read too, and every text chunk's
  // value is joined into PngPicture::text.
  int text;
  // Bytes to allocate for w x h stored pixels of `bytes` each, when the
  // caller wants room after them; nullptr: just the pixels.
  int64_t (*room)(int w, int h, int bytes);
};

struct PngPicture {
  int width, height;   // as the file says
  int kept_w, kept_h;  // what `pixels` holds
  int bytes;           // per pixel: 2 (grey 16), 3 or 4
  uint8_t *pixels;     // mem_alloc'ed, rows top first, kept_w x bytes apart
  char *text;          // mem_alloc'ed, or nullptr
  char error[96];      // why a read failed
};

// 1 on success (free with png_picture_free); 0 with `error` set and nothing
// left to free.
int png_read_picture(DataFile *f, const PngRead *how, PngPicture *out);
int png_read_picture_memory(const void *data, size_t size, const PngRead *how, PngPicture *out);
void png_picture_free(PngPicture *p);

// 0 lets damaged checksums pass (fuzz targets reach past them); 1 in the
// program.
extern int png_check_crc;
// Largest pixel count the picture readers accept (width x height), so sizes
// from a file can never overflow an allocation.
extern int64_t image_pixel_limit;

// What to write.
struct PngWrite {
  int width, height;
  int channels;        // 1 grey, 2 grey + alpha, 3 RGB, 4 RGBA
  int depth;           // 8, or 16 with every sample a host-order uint16_t
  const void *pixels;  // rows of width x channels samples, packed
  int bottom_first;    // the buffer's first row is the picture's last (GL read-back)
  int level;           // zlib level 0..9, or -1 for zlib's default
};

// Writes the picture to an open file (which stays open): 1 on success.
int png_write_picture(DataFile *f, const PngWrite *p);
// The file's bytes (mem_alloc'ed, *size set), or nullptr.
uint8_t *png_write_picture_memory(const PngWrite *p, int *size);

// The named forms. Readers return mem_alloc'ed samples or nullptr; writers
// go through a temporary file and return 1 on success.
// Any PNG as 16-bit grey, within image_pixel_limit.
uint16_t *image_read_gray16(const char *name, int *w, int *h);
// 8-bit RGB, rows given bottom first (a GL read-back: screenshots).
int image_write_rgb(const char *name, const uint8_t *pixels, int w, int h);
// 16-bit grey, rows top first.
int image_write_gray16(const char *name, const uint16_t *samples, int w, int h);
