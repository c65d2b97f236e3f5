// The PNG codec: every layout written and read back, pictures made by
// libpng directly and by other tools (so the reader is not only checked
// against its own writer), the kept corner, text chunks and the refusals.
#include <gtest/gtest.h>
#include <png.h>
#include <zlib.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "core/core.h"
#include "core/png.h"
#include "tests/common/test_util.h"

namespace {

// A PNG written with libpng's own calls: grey or RGB samples of 8 or 16
// bits (16-bit given high byte first), optionally interlaced, with a text
// chunk before and one after the pixels when given.
struct Fixture {
  int w, h, depth, type;
  bool interlace;
  std::vector<uint8_t> samples;  // the file's row bytes, top row first
  const char *text_before, *text_after;
};

void append_bytes(png_structp png, png_bytep data, png_size_t n) {
  static_cast<std::string *>(png_get_io_ptr(png))->append(reinterpret_cast<char *>(data), n);
}

void set_text(png_structp png, png_infop info, const char *value) {
  png_text t = {};
  t.compression = PNG_TEXT_COMPRESSION_NONE;
  t.key = const_cast<char *>("Comment");
  t.text = const_cast<char *>(value);
  png_set_text(png, info, &t, 1);
}

std::string libpng_file(const Fixture &f) {
  std::string out;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png), end = png_create_info_struct(png);
  png_set_write_fn(png, &out, append_bytes, nullptr);
  png_set_IHDR(png, info, f.w, f.h, f.depth, f.type,
               f.interlace ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
               PNG_FILTER_TYPE_DEFAULT);
  if (f.text_before) set_text(png, info, f.text_before);
  png_write_info(png, info);
  int passes = png_set_interlace_handling(png);
  size_t stride = f.samples.size() / f.h;
  for (int pass = 0; pass < passes; pass++)
    for (int y = 0; y < f.h; y++) png_write_row(png, const_cast<uint8_t *>(&f.samples[stride * y]));
  if (f.text_after) set_text(png, end, f.text_after);
  png_write_end(png, end);
  png_destroy_info_struct(png, &end);
  png_destroy_write_struct(&png, &info);
  return out;
}

// Grey samples 0x0100 * x + y + (x ^ y) of a w x h picture, 16-bit.
uint16_t grey_at(int x, int y) { return uint16_t(0x0100 * x + 16 * y + (x ^ y)); }

std::vector<uint8_t> grey16_rows(int w, int h) {
  std::vector<uint8_t> s;
  for (int y = 0; y < h; y++)
    for (int x = 0; x < w; x++) {
      s.push_back(uint8_t(grey_at(x, y) >> 8));
      s.push_back(uint8_t(grey_at(x, y)));
    }
  return s;
}

PngRead reading(int as, int text = 0) {
  PngRead how = {};
  how.as = as;
  how.text = text;
  return how;
}

struct Picture : PngPicture {
  Picture() { memset(static_cast<PngPicture *>(this), 0, sizeof(PngPicture)); }
  ~Picture() { png_picture_free(this); }
  bool read(const std::string &bytes, const PngRead &how) {
    png_picture_free(this);
    return png_read_picture_memory(bytes.data(), bytes.size(), &how, this) == 1;
  }
  uint16_t grey(int i) const {
    uint16_t v;
    memcpy(&v, pixels + 2 * i, 2);
    return v;
  }
};

std::string written(const PngWrite &p) {
  int size = 0;
  uint8_t *bytes = png_write_picture_memory(&p, &size);
  if (!bytes) return std::string();
  std::string s(reinterpret_cast<char *>(bytes), size_t(size));
  mem_free(bytes);
  return s;
}

struct TempDir {
  std::string dir;
  TempDir() {
    char t[] = "/tmp/tw_png_XXXXXX";
    dir = mkdtemp(t) ? t : "/tmp";
  }
  ~TempDir() { system(("rm -rf '" + dir + "'").c_str()); }
  std::string path(const std::string &name) const { return dir + "/" + name; }
  bool run(const std::string &command) const {
    return system(("cd '" + dir + "' && " + command + " 2>/dev/null").c_str()) == 0;
  }
};

bool have_tool(const char *name) {
  return system((std::string("command -v ") + name + " >/dev/null 2>&1").c_str()) == 0;
}

TEST(Png, EveryLayoutWrittenIsReadBack) {
  // 3 x 2 pixels; 16-bit samples carry different high and low bytes.
  for (int channels = 1; channels <= 4; channels++)
    for (int depth : {8, 16})
      for (int bottom_first : {0, 1}) {
        SCOPED_TRACE(testing::Message() << channels << " channels, depth " << depth
                                        << (bottom_first ? ", bottom first" : ""));
        int n = 3 * 2 * channels;
        std::vector<uint8_t> s8(n);
        std::vector<uint16_t> s16(n);
        for (int i = 0; i < n; i++) s8[i] = uint8_t(7 + 37 * i), s16[i] = uint16_t(0x0102 + 0x0f31 * i);
        PngWrite p = {3, 2, channels, depth, nullptr, bottom_first, -1};
        p.pixels = depth == 8 ? static_cast<const void *>(s8.data()) : s16.data();
        std::string file = written(p);
        ASSERT_EQ(file.substr(1, 3), "PNG");
        // Sample c of pixel (x, y) as given to the writer, scaled to 16 bits.
        auto given = [&](int x, int y, int c) {
          int row = bottom_first ? 1 - y : y;
          int i = (row * 3 + x) * channels + c;
          return depth == 8 ? s8[i] * 257 : s16[i];
        };
        Picture pic;
        if (channels <= 2) {
          ASSERT_TRUE(pic.read(file, reading(PNG_AS_GRAY16))) << pic.error;
          ASSERT_EQ(pic.bytes, 2);
          for (int y = 0; y < 2; y++)
            for (int x = 0; x < 3; x++) EXPECT_EQ(pic.grey(y * 3 + x), given(x, y, 0));
        } else {
          ASSERT_TRUE(pic.read(file, reading(PNG_AS_RGB8))) << pic.error;
          ASSERT_EQ(pic.bytes, channels);
          for (int y = 0; y < 2; y++)
            for (int x = 0; x < 3; x++)
              for (int c = 0; c < channels; c++)
                EXPECT_EQ(pic.pixels[(y * 3 + x) * channels + c], given(x, y, c) >> 8);
        }
        EXPECT_EQ(pic.width, 3);
        EXPECT_EQ(pic.height, 2);
        EXPECT_EQ(pic.text, nullptr);
      }
}

TEST(Png, NamedWritersAreReadBackByNetpbm) {
  TempDir d;
  if (!have_tool("pngtopnm")) GTEST_SKIP() << "netpbm missing";
  // Rows are given bottom first: the file's first row is the last given.
  const uint8_t rgb[3 * 2 * 3] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18};
  ASSERT_TRUE(image_write_rgb(d.path("shot.png").c_str(), rgb, 3, 2));
  ASSERT_TRUE(d.run("pngtopnm shot.png > shot.ppm"));
  std::string want = "P6\n3 2\n255\n";
  want += std::string(reinterpret_cast<const char *>(rgb + 9), 9);
  want += std::string(reinterpret_cast<const char *>(rgb), 9);
  EXPECT_EQ(read_file(d.path("shot.ppm")), want);

  const uint16_t heights[4] = {0x0102, 0xfffe, 0, 0x8000};
  ASSERT_TRUE(image_write_gray16(d.path("hf.png").c_str(), heights, 2, 2));
  ASSERT_TRUE(d.run("pngtopnm hf.png > hf.pgm"));
  EXPECT_EQ(read_file(d.path("hf.pgm")),
            std::string("P5\n2 2\n65535\n\x01\x02\xff\xfe\x00\x00\x80\x00", 21));
  int w, h;
  uint16_t *back = image_read_gray16(d.path("hf.png").c_str(), &w, &h);
  ASSERT_NE(back, nullptr);
  EXPECT_EQ(std::vector<uint16_t>(back, back + 4), std::vector<uint16_t>(heights, heights + 4));
  mem_free(back);
  // A failed write leaves the old file in place.
  EXPECT_FALSE(image_write_rgb(d.path("nofolder/x/../../shot.png").c_str(), rgb, 0, 2));
  EXPECT_EQ(read_file(d.path("shot.png")).substr(1, 3), "PNG");
}

TEST(Png, Gray16WidensEightBitsAndConvertsColour) {
  TempDir d;
  if (!have_tool("convert")) GTEST_SKIP() << "ImageMagick missing";
  write_file(d.path("g.pgm"), std::string("P5\n2 1\n255\n\x00\x81", 13));
  ASSERT_TRUE(d.run("convert g.pgm -depth 8 PNG8:g8.png || convert g.pgm -depth 8 g8.png"));
  int w, h;
  uint16_t *s = image_read_gray16(d.path("g8.png").c_str(), &w, &h);
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(s[0], 0);
  EXPECT_EQ(s[1], 0x81 * 257);
  mem_free(s);
  write_file(d.path("white.ppm"), std::string("P6\n1 1\n255\n\xff\xff\xff", 14));
  ASSERT_TRUE(d.run("convert white.ppm PNG24:w.png"));
  s = image_read_gray16(d.path("w.png").c_str(), &w, &h);
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(s[0], 65535);
  mem_free(s);
}

TEST(Png, KeepsTheTopLeftCornerWhateverTheLayout) {
  const int W = 11, H = 9;
  struct Case {
    int depth;
    bool interlace;
    int keep_w, keep_h;
  } cases[] = {
      {16, false, 4, 3}, {16, true, 4, 3}, {8, true, 5, 7},
      {16, true, 0, 0},  {16, false, 40, 2}, {8, false, 11, 9},
  };
  std::vector<uint8_t> s16 = grey16_rows(W, H), s8;
  for (size_t i = 0; i < s16.size(); i += 2) s8.push_back(s16[i + 1]);
  for (const Case &c : cases) {
    SCOPED_TRACE(testing::Message() << "depth " << c.depth << (c.interlace ? " interlaced" : "")
                                    << " keep " << c.keep_w << " x " << c.keep_h);
    Fixture f = {W, H, c.depth, PNG_COLOR_TYPE_GRAY, c.interlace, c.depth == 16 ? s16 : s8,
                 nullptr, nullptr};
    PngRead how = reading(PNG_AS_GRAY16);
    how.keep_w = c.keep_w, how.keep_h = c.keep_h;
    Picture pic;
    ASSERT_TRUE(pic.read(libpng_file(f), how)) << pic.error;
    int kw = c.keep_w > 0 && c.keep_w < W ? c.keep_w : W;
    int kh = c.keep_h > 0 && c.keep_h < H ? c.keep_h : H;
    EXPECT_EQ(pic.width, W);
    EXPECT_EQ(pic.height, H);
    ASSERT_EQ(pic.kept_w, kw);
    ASSERT_EQ(pic.kept_h, kh);
    for (int y = 0; y < kh; y++)
      for (int x = 0; x < kw; x++) {
        int want = c.depth == 16 ? grey_at(x, y) : (grey_at(x, y) & 0xff) * 257;
        ASSERT_EQ(pic.grey(y * kw + x), want) << x << ", " << y;
      }
  }
  // Colour keeps the corner too, with room asked for after it.
  std::vector<uint8_t> rgb;
  for (int i = 0; i < W * H * 3; i++) rgb.push_back(uint8_t(i));
  Fixture f = {W, H, 8, PNG_COLOR_TYPE_RGB, true, rgb, nullptr, nullptr};
  PngRead how = reading(PNG_AS_RGB8);
  how.keep_w = 2, how.keep_h = 2;
  how.room = [](int w, int h, int b) { return int64_t(w) * h * b * 2; };
  Picture pic;
  ASSERT_TRUE(pic.read(libpng_file(f), how)) << pic.error;
  ASSERT_EQ(pic.bytes, 3);
  EXPECT_EQ(std::vector<uint8_t>(pic.pixels, pic.pixels + 12),
            (std::vector<uint8_t>{0, 1, 2, 3, 4, 5, 33, 34, 35, 36, 37, 38}));
}

TEST(Png, TextChunksBeforeAndAfterThePixelsJoinInOrder) {
  Fixture f = {2, 1, 8, PNG_COLOR_TYPE_GRAY, false, {0, 255}, "[first]", "[second]"};
  std::string file = libpng_file(f);
  Picture pic;
  ASSERT_TRUE(pic.read(file, reading(PNG_AS_RGB8, 1))) << pic.error;
  EXPECT_STREQ(pic.text, "[first][second]");
  EXPECT_EQ(std::vector<uint8_t>(pic.pixels, pic.pixels + 6),
            (std::vector<uint8_t>{0, 0, 0, 255, 255, 255}));
  ASSERT_TRUE(pic.read(file, reading(PNG_AS_GRAY16, 0)));
  EXPECT_EQ(pic.text, nullptr);
}

// A chunk with a correct checksum over its type and data.
std::string chunk(const char *type, const std::string &data) {
  std::string c;
  uint32_t n = uint32_t(data.size());
  for (int s = 24; s >= 0; s -= 8) c += char(n >> s);
  std::string body = std::string(type, 4) + data;
  uint32_t crc = uint32_t(crc32(0, reinterpret_cast<const Bytef *>(body.data()), uInt(body.size())));
  c += body;
  for (int s = 24; s >= 0; s -= 8) c += char(crc >> s);
  return c;
}

std::string ihdr(uint32_t w, uint32_t h) {
  std::string d;
  for (uint32_t v : {w, h})
    for (int s = 24; s >= 0; s -= 8) d += char(v >> s);
  d += std::string("\x08\x00\x00\x00\x00", 5);  // 8-bit grey, not interlaced
  return "\x89PNG\r\n\x1a\n" + chunk("IHDR", d);
}

TEST(Png, RefusesBadPicturesWithAReason) {
  Fixture f = {6, 4, 8, PNG_COLOR_TYPE_GRAY, false, std::vector<uint8_t>(24, 9), nullptr, nullptr};
  std::string good = libpng_file(f);
  // A text chunk that says it holds a gigabyte, in a file of 40 bytes.
  std::string huge = ihdr(6, 4) + std::string("\x40\x00\x00\x00tEXtComment", 15);
  std::string damaged = good;
  damaged[29] ^= 0x55;  // the header's checksum
  struct Case {
    const char *what;
    std::string bytes;
    int max_side;
    int64_t max_pixels;
  } cases[] = {
      {"empty", "", 0, 0},
      {"no PNG", "GIF89a and then some more bytes", 0, 0},
      {"signature only", good.substr(0, 8), 0, 0},
      {"cut in the pixels", good.substr(0, good.size() - 20), 0, 0},
      {"damaged header checksum", damaged, 0, 0},
      {"wider than allowed", good, 5, 0},
      {"more pixels than allowed", good, 0, 23},
      {"gigabyte text chunk", huge, 0, 0},
  };
  for (const Case &c : cases) {
    PngRead how = reading(PNG_AS_GRAY16, 1);
    how.max_side = c.max_side;
    how.max_pixels = c.max_pixels;
    Picture pic;
    EXPECT_FALSE(pic.read(c.bytes, how)) << c.what;
    EXPECT_NE(pic.error[0], 0) << c.what;
    EXPECT_EQ(pic.pixels, nullptr) << c.what;
  }
  // The limits are inclusive; the same bytes read through a data file.
  PngRead how = reading(PNG_AS_GRAY16);
  how.max_side = 6;
  how.max_pixels = 24;
  DataFile *file = data_open_memory(good.data(), int(good.size()), 0);
  Picture pic;
  ASSERT_TRUE(png_read_picture(file, &how, &pic)) << pic.error;
  data_close(file);
  EXPECT_EQ(pic.grey(23), 9 * 257);
}

TEST(Png, WriterRefusesShapesItCannotWrite) {
  uint8_t px[16] = {};
  PngWrite cases[] = {
      {0, 1, 1, 8, px, 0, -1},  {1, 0, 1, 8, px, 0, -1}, {1, 1, 5, 8, px, 0, -1},
      {1, 1, 1, 4, px, 0, -1},  {1, 1, 1, 8, nullptr, 0, -1}, {1, 1, 1, 8, px, 0, 10},
  };
  for (const PngWrite &p : cases) {
    int size = -1;
    EXPECT_EQ(png_write_picture_memory(&p, &size), nullptr);
    EXPECT_EQ(size, -1);
  }
  PngWrite ok = {1, 1, 1, 8, px, 0, 9};
  EXPECT_FALSE(png_write_picture(nullptr, &ok));
  EXPECT_FALSE(written(ok).empty());
}

}  // namespace
