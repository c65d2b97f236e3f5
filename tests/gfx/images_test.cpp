// Picture readers and writers, checked against files written by this test
// and by ImageMagick and netpbm (so no reader is only checked against our
// own writer), and the chain operations.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

#include "core/core.h"
#include "gfx/images_internal.h"
#include "tests/gfx/test_files.h"

namespace {

// A 3 x 2 RGB picture with distinct values everywhere.
const uint8_t RGB6[18] = {255, 0, 0, 0, 255, 0, 0, 0, 255, 10, 20, 30, 200, 100, 50, 1, 2, 3};

std::string ppm6() {
  return std::string("P6\n3 2\n255\n") + std::string(reinterpret_cast<const char *>(RGB6), 18);
}

struct Png {
  uint8_t *chain = nullptr;
  int w = 0, h = 0, b = 0;
  char *text = nullptr;
  ~Png() {
    mem_free(chain);
    mem_free(text);
  }
};

bool read_png(const std::string &path, Png *p, bool with_text = false) {
  p->chain = image_read_png(path.c_str(), &p->w, &p->h, &p->b, with_text ? &p->text : nullptr);
  return p->chain != nullptr;
}

TEST(Png, ReadsEveryKindOfPngFromOtherTools) {
  TempDir d;
  if (!have_tool("convert") || !have_tool("pnmtopng")) GTEST_SKIP() << "ImageMagick or netpbm missing";
  d.write("in.ppm", ppm6());
  struct Case {
    const char *command;
    int b;
  } cases[] = {
      {"convert in.ppm PNG24:out.png", 3},
      {"convert in.ppm -depth 16 PNG48:out.png", 3},
      {"convert in.ppm PNG8:out.png", 3},
      {"convert in.ppm -interlace PNG PNG24:out.png", 3},
      {"convert in.ppm -alpha set -channel A -evaluate set 50% +channel PNG32:out.png", 4},
      {"convert in.ppm -depth 16 -alpha set PNG64:out.png", 4},
  };
  for (const Case &c : cases) {
    ASSERT_TRUE(d.run(c.command)) << c.command;
    Png p;
    ASSERT_TRUE(read_png(d.path("out.png"), &p)) << c.command;
    EXPECT_EQ(p.w, 3);
    EXPECT_EQ(p.h, 2);
    ASSERT_EQ(p.b, c.b) << c.command;
    for (int i = 0; i < 6; i++)
      for (int k = 0; k < 3; k++)
        EXPECT_EQ(p.chain[i * p.b + k], RGB6[i * 3 + k]) << c.command << " pixel " << i;
    if (c.b == 4) {
      EXPECT_TRUE(p.chain[3] == 128 || p.chain[3] == 255) << int(p.chain[3]);
    }
  }
  // Grey of 1 bit becomes RGB; a transparent colour becomes an alpha channel.
  d.write("grey.pgm", "P2\n4 1\n1\n0 1 1 0\n");
  ASSERT_TRUE(d.run("pnmtopng grey.pgm > grey.png"));
  Png g;
  ASSERT_TRUE(read_png(d.path("grey.png"), &g));
  ASSERT_EQ(g.b, 3);
  EXPECT_EQ(std::vector<uint8_t>(g.chain, g.chain + 12),
            (std::vector<uint8_t>{0, 0, 0, 255, 255, 255, 255, 255, 255, 0, 0, 0}));
  ASSERT_TRUE(d.run("pnmtopng -transparent =rgb:ff/00/00 in.ppm > trns.png"));
  Png t;
  ASSERT_TRUE(read_png(d.path("trns.png"), &t));
  ASSERT_EQ(t.b, 4);
  EXPECT_EQ(t.chain[3], 0);    // the red pixel
  EXPECT_EQ(t.chain[7], 255);  // the green one
}

TEST(Png, AnnotationsJoinTextChunksBeforeAndAfterThePixelsAndTheInfoFile) {
  TempDir d;
  if (!have_tool("convert") || !have_tool("pnmtopng")) GTEST_SKIP() << "ImageMagick or netpbm missing";
  d.write("in.ppm", ppm6());
  d.write("t.txt", "Comment [before]\n");
  ASSERT_TRUE(d.run("pnmtopng -text t.txt in.ppm > b.png"));
  ASSERT_TRUE(d.run("convert in.ppm -define png:exclude-chunk=date,time -set comment '[after]' a.png"));
  d.write("a.png.info", "[compress]\n");
  Png b, a;
  ASSERT_TRUE(read_png(d.path("b.png"), &b, true));
  ASSERT_TRUE(read_png(d.path("a.png"), &a, true));
  EXPECT_STREQ(b.text, "[before]");
  EXPECT_STREQ(a.text, "[after][compress]\n");
  // The chain follows the picture's own "[mip_max_alpha]" mark.
  ASSERT_TRUE(d.run("convert -size 2x1 xc:none -fill red -draw 'point 0,0' PNG32:m.png"));
  ASSERT_TRUE(d.run("cp m.png n.png"));
  d.write("m.png.info", "[mip_max_alpha]");
  Png m, n;
  ASSERT_TRUE(read_png(d.path("m.png"), &m));
  ASSERT_TRUE(read_png(d.path("n.png"), &n));
  ASSERT_EQ(m.b, 4);
  EXPECT_EQ(m.chain[8 + 3], 255);
  EXPECT_EQ(n.chain[8 + 3], 127);
  EXPECT_EQ(n.chain[8], 255) << "colour weighted by alpha";
}

TEST(Png, BrokenFilesFailCleanly) {
  TempDir d;
  std::string good;
  {
    d.write("in.ppm", ppm6());
    uint8_t px[12] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
    ASSERT_TRUE(image_write_rgb(d.path("w.png").c_str(), px, 2, 2));
    good = d.read("w.png");
  }
  std::string cases[] = {
      "",
      "not a png at all",
      good.substr(0, 8),
      good.substr(0, good.size() / 2),
      good.substr(0, 16) + std::string("\xff\xff\xff\xff\xff\xff\xff\xff") + good.substr(24),
  };
  for (const std::string &bytes : cases) {
    d.write("bad.png", bytes);
    Png p;
    EXPECT_FALSE(read_png(d.path("bad.png"), &p, true)) << bytes.size();
  }
  Png p;
  EXPECT_FALSE(read_png(d.path("missing.png"), &p));
}

// ------------------------------------------------------------ PPM and PGM

uint8_t *ppm_from(const std::string &bytes, int *w, int *h) {
  DataFile *f = data_open_memory(bytes.data(), int(bytes.size()), 0);
  char magic[16];
  EXPECT_EQ(data_scanf(f, "%15s", magic), 1);
  uint8_t *c = image_read_ppm(f, magic, w, h);
  data_close(f);
  return c;
}

uint8_t *pgm_from(const std::string &bytes, int *w, int *h) {
  DataFile *f = data_open_memory(bytes.data(), int(bytes.size()), 0);
  uint8_t *c = image_read_pgm(f, w, h);
  data_close(f);
  return c;
}

TEST(Netpbm, ReadsBinaryAndAsciiWithCommentsAndScaling) {
  int w, h;
  uint8_t *c = ppm_from(ppm6(), &w, &h);
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(memcmp(c, RGB6, 18), 0);
  // The chain's smaller levels follow: 3x2 -> 1x1 from the first 2x2 block.
  EXPECT_EQ(c[18], (255 + 0 + 10 + 200) >> 2);
  mem_free(c);

  c = ppm_from("P3\n# a comment\n2 1 # another\n15\n15 0 0\n# between samples\n0 7 15\n", &w, &h);
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(std::vector<uint8_t>(c, c + 6), (std::vector<uint8_t>{255, 0, 0, 0, 119, 255}));
  mem_free(c);

  c = pgm_from(std::string("P5 3 1 100\n\x00\x32\x64", 14), &w, &h);
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(std::vector<uint8_t>(c, c + 3), (std::vector<uint8_t>{0, 127, 255}));
  mem_free(c);
  c = pgm_from("P2\n2 2\n255\n1 2\n3 4\n", &w, &h);
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(std::vector<uint8_t>(c, c + 4), (std::vector<uint8_t>{1, 2, 3, 4}));
  mem_free(c);
}

TEST(Netpbm, ReadsFilesMadeByNetpbm) {
  TempDir d;
  if (!have_tool("ppmmake")) GTEST_SKIP() << "netpbm missing";
  ASSERT_TRUE(d.run("ppmmake rgb:10/20/30 3 2 > m.ppm && pgmramp -lr 4 1 > r.pgm"));
  int w, h;
  uint8_t *c = ppm_from(d.read("m.ppm"), &w, &h);
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(w, 3);
  EXPECT_EQ(c[15], 0x10);
  EXPECT_EQ(c[16], 0x20);
  mem_free(c);
  c = pgm_from(d.read("r.pgm"), &w, &h);
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(c[0], 0);
  EXPECT_EQ(c[3], 255);
  mem_free(c);
}

TEST(Netpbm, BadFilesFail) {
  const char *cases[] = {
      "P6\n2 1\n0\nxxxxxx",           // maximum 0
      "P6\n2 1\n256\nxxxxxx",         // beyond one byte
      "P6\n2 1\n255\nxxxxx",          // one byte short
      "P6\n2 1\n255",                 // no separator, no body
      "P3\n2 1\n255\n1 2 3 4 5",      // a sample missing
      "P6\n2\n",                      // no height
      "P6\n99999999999 1\n255\n",     // overflowing width
      "P6\n70000 70000\n255\nxxx",    // beyond the size limit
      "P6\n0 5\n255\n",               // empty
  };
  for (const char *bytes : cases) {
    int w, h;
    uint8_t *c = ppm_from(bytes, &w, &h);
    EXPECT_EQ(c, nullptr) << bytes;
    mem_free(c);
  }
  int w, h;
  EXPECT_EQ(pgm_from("P5\n2 2\n255\n\x01", &w, &h), nullptr);
  EXPECT_EQ(pgm_from("", &w, &h), nullptr);
}

// ------------------------------------------------------------------ K6 / K7

uint8_t *delta_from(const std::string &bytes, int b, int *w, int *h) {
  DataFile *f = data_open_memory(bytes.data(), int(bytes.size()), 0);
  char magic[16];
  EXPECT_EQ(data_scanf(f, "%15s", magic), 1);
  uint8_t *c = image_read_delta(f, b, w, h);
  data_close(f);
  return c;
}

TEST(Delta, DecodesWhatTheFormatDescribes) {
  // A hand-made K6 of 2 x 2: red, then +1 green; the next row predicted from
  // above and by the gradient, clamped at 255.
  std::string k6 = std::string("K6 2 2\n") +
                   std::string("\xff\x00\x00" "\x00\x01\x00" "\x00\x00\x00" "\x05\x00\x00", 12);
  int w, h;
  uint8_t *c = delta_from(k6, 3, &w, &h);
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(std::vector<uint8_t>(c, c + 12),
            (std::vector<uint8_t>{255, 0, 0, 255, 1, 0, 255, 0, 0, 4, 1, 0}));
  mem_free(c);

  uint8_t px[7 * 5 * 4];
  uint32_t seed = 7;
  for (uint8_t &v : px) v = uint8_t((seed = seed * 1103515245 + 12345) >> 16);
  for (int b : {3, 4}) {
    c = delta_from(delta_encode(b == 4 ? "K7" : "K6", px, 7, 5, b), b, &w, &h);
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(w, 7);
    EXPECT_EQ(h, 5);
    EXPECT_EQ(memcmp(c, px, size_t(7 * 5 * b)), 0);
    mem_free(c);
  }
}

TEST(Delta, BadHeadersAndShortBodiesFail) {
  const char *cases[] = {"K7", "K7 4", "K7 x 4\n", "K7 2 2", "K7 2 2\nabc",
                         "K7 100000 100000\n", "K7 4000000000 1\n"};
  for (const char *bytes : cases) {
    int w, h;
    uint8_t *c = delta_from(bytes, 4, &w, &h);
    EXPECT_EQ(c, nullptr) << bytes;
    mem_free(c);
  }
}

// ------------------------------------------------------------------ chains

TEST(Chain, MipLevelsWeighColourByAlpha) {
  // Two transparent black pixels and two opaque red ones: red at half alpha.
  uint8_t c[4 * 4 + 4] = {0, 0, 0, 0, 255, 0, 0, 255, 0, 0, 0, 0, 255, 0, 0, 255};
  mip_build(c, 2, 2, 4, 0);
  EXPECT_EQ(std::vector<uint8_t>(c + 16, c + 20), (std::vector<uint8_t>{255, 0, 0, 127}));
  mip_build(c, 2, 2, 4, 1);
  EXPECT_EQ(c[19], 255) << "the largest alpha";
  // All transparent: the plain mean.
  uint8_t t[20] = {100, 0, 0, 0, 200, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  mip_build(t, 2, 2, 4, 0);
  EXPECT_EQ(t[16], 75);
  // One pixel wide: pairs. 1 x 4 RGB -> 1 x 2 -> 1 x 1.
  uint8_t p[3 * 7] = {10, 0, 0, 20, 0, 0, 30, 0, 0, 41, 0, 0};
  mip_build(p, 1, 4, 3, 0);
  EXPECT_EQ(p[12], 15);
  EXPECT_EQ(p[15], 35);
  EXPECT_EQ(p[18], 25);
  EXPECT_EQ(chain_bytes(4, 1, 3), (4 + 2 + 1) * 3);
  EXPECT_EQ(chain_bytes(256, 100, 4), chain_level_offset(256, 100, 4, 8) + 4);
}

TEST(Chain, FitResamplesToPowersOfTwoAndDropsLargeLevels) {
  int w = 300, h = 200;
  uint8_t *c = chain_alloc(w, h, 3);
  for (int y = 0; y < h; y++)
    for (int x = 0; x < w; x++) {
      uint8_t *p = c + (y * w + x) * 3;
      p[0] = uint8_t(x), p[1] = uint8_t(y), p[2] = 0;
    }
  ASSERT_TRUE(image_fit(&c, &w, &h, 3, 65536, 0));
  EXPECT_EQ(w, 256);
  EXPECT_EQ(h, 128);
  // Nearest neighbour: pixel (x, y) from (x * 300 / 256, y * 200 / 128).
  EXPECT_EQ(c[(100 * 256 + 200) * 3], uint8_t(200 * 300 / 256));
  EXPECT_EQ(c[(100 * 256 + 200) * 3 + 1], uint8_t(100 * 200 / 128));
  ASSERT_TRUE(image_fit(&c, &w, &h, 3, 1000, 0));
  EXPECT_EQ(w, 128) << "levels are dropped only while above 16384 pixels";
  EXPECT_EQ(h, 64);
  ASSERT_TRUE(image_fit(&c, &w, &h, 3, 65536, 3));
  EXPECT_EQ(w, 128) << "nothing above 16384 pixels to drop";
  mem_free(c);
}

TEST(Chain, SizesCannotOverflow) {
  EXPECT_FALSE(image_size_ok(0, 5));
  EXPECT_FALSE(image_size_ok(65536, 1));
  EXPECT_FALSE(image_size_ok(40000, 40000));
  EXPECT_TRUE(image_size_ok(8192, 8192));
  EXPECT_EQ(chain_alloc(1 << 20, 1 << 20, 4), nullptr);
}

// ------------------------------------------------------------- sequences

TEST(Sequence, ReadsFramesAndRejectsBrokenFiles) {
  uint8_t a[2 * 2 * 4] = {}, b[2 * 2 * 4];
  memset(b, 200, sizeof b);
  std::string k7a = delta_encode("K7", a, 2, 2, 4), k7b = delta_encode("K7", b, 2, 2, 4);
  std::string good = "ANIM1 3 2 16 1\n0 1 0\n" + k7a + "\n" + k7b;
  DataFile *f = data_open_memory(good.data(), int(good.size()), 0);
  char token[16];
  ASSERT_EQ(data_scanf(f, "%15s", token), 1);
  SeqData s;
  std::string message;
  ASSERT_TRUE(seq_read(f, &s, &message)) << message;
  data_close(f);
  EXPECT_EQ(s.steps, 3);
  EXPECT_EQ(s.sequence, (std::vector<int>{0, 1, 0}));
  ASSERT_EQ(s.frames.size(), 2u);
  EXPECT_EQ(s.frames[1].chain[0], 200);
  seq_free(&s);

  uint8_t big[4 * 2 * 4] = {};
  std::string k7big = delta_encode("K7", big, 4, 2, 4);
  struct Case {
    std::string body;
    const char *message;
  } cases[] = {
      {"ANIM1 0 1 16 0\n", ""},
      {"ANIM1 1 1 0 0\n0\n" + k7a, "Error reading .seq header"},
      {"ANIM1 2 1 16 0\n0 1\n" + k7a, "Error reading .seq sequence"},
      {"ANIM1 1 2 16 0\n0\n" + k7a + "\nK9 1 1\n", "Error reading .seq frame 1"},
      {"ANIM1 1 2 16 0\n0\n" + k7a + "\nPNG", "EOF while reading .seq"},
      {"ANIM1 1 1 16 0\n0\nPNG /nonexistent/x.png\n", "Can't read /nonexistent/x.png"},
      {"ANIM1 1 2 16 0\n0\n" + k7a + "\n" + k7big, "Width/height mismatch reading .seq"},
  };
  for (const Case &c : cases) {
    f = data_open_memory(c.body.data(), int(c.body.size()), 0);
    ASSERT_EQ(data_scanf(f, "%15s", token), 1);
    EXPECT_FALSE(seq_read(f, &s, &message)) << c.body;
    EXPECT_EQ(message, c.message);
    EXPECT_TRUE(s.frames.empty());
    data_close(f);
  }
}

}  // namespace

namespace {

TEST(Rgba, FontPicturesFromPngOrDeltaFiles) {
  TempDir d;
  const uint8_t rgb[2 * 1 * 3] = {10, 20, 30, 40, 50, 60};
  ASSERT_TRUE(image_write_rgb(d.path("rgb.png").c_str(), rgb, 2, 1));
  const uint8_t rgba[2 * 4] = {1, 2, 3, 4, 5, 6, 7, 8};
  d.write("k7", delta_encode("K7", rgba, 2, 1, 4));
  d.write("k6", delta_encode("K6", rgb, 2, 1, 3));
  d.write("junk", "P6 1 1 255 abc");
  struct Case {
    const char *file;
    std::vector<uint8_t> level0;
  } cases[] = {
      {"rgb.png", {10, 20, 30, 255, 40, 50, 60, 255}},
      {"k7", {1, 2, 3, 4, 5, 6, 7, 8}},
      // A K6 file's fourth channel is its prediction alone: 0.
      {"k6", {10, 20, 30, 0, 40, 50, 60, 0}},
  };
  for (const Case &c : cases) {
    int w = 0, h = 0;
    uint8_t *px = image_read_rgba(d.path(c.file).c_str(), &w, &h);
    ASSERT_NE(px, nullptr) << c.file;
    EXPECT_EQ(w, 2);
    EXPECT_EQ(std::vector<uint8_t>(px, px + 8), c.level0) << c.file;
    mem_free(px);
  }
  int w, h;
  EXPECT_EQ(image_read_rgba(d.path("junk").c_str(), &w, &h), nullptr);
  EXPECT_EQ(image_read_rgba(d.path("none").c_str(), &w, &h), nullptr);
}

}  // namespace
