#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "app/core.h"

namespace {

std::string hex(const uint8_t *d, int n) {
  std::string s;
  char b[3];
  for (int i = 0; i < n; i++) {
    snprintf(b, sizeof b, "%02x", d[i]);
    s += b;
  }
  return s;
}

std::string digest_of(const std::string &text) {
  uint8_t out[20];
  ripemd160(text.data(), text.size(), out);
  return hex(out, 20);
}

TEST(Digest, PublishedVectors) {
  struct {
    std::string in;
    const char *out;
  } cases[] = {
      {"", "9c1185a5c5e9fc54612808977ee8f548b2258d31"},
      {"a", "0bdc9d2d256b3ee9daae347be6f4dc835a467ffe"},
      {"abc", "8eb208f7e05d987a9b044a8e98c6b087f15a0bfc"},
      {"message digest", "5d0689ef49d2fae572b881b123a85ffa21595f36"},
      {"abcdefghijklmnopqrstuvwxyz", "f71c27109c692c1b56bbdceb5b9d2865b3708dbc"},
      {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
       "12a053384a9c0c88e405a06c27dcf49ada62eb2b"},
      {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
       "b0e20b6e3116640286ed3a87a5713079b21f5189"},
      {"1234567890123456789012345678901234567890123456789012345678901234567890"
       "1234567890",
       "9b752e45573d4b39f4dbd3323cab82bf63326bfb"},
  };
  for (const auto &c : cases) EXPECT_EQ(digest_of(c.in), c.out) << c.in;
}

TEST(Digest, MillionAInUnevenPieces) {
  Ripemd160 r;
  ripemd160_init(&r);
  std::string chunk(997, 'a');
  size_t left = 1000000;
  while (left > 0) {
    size_t n = left < chunk.size() ? left : chunk.size();
    ripemd160_update(&r, chunk.data(), n);
    left -= n;
  }
  uint8_t out[20];
  ripemd160_final(&r, out);
  EXPECT_EQ(hex(out, 20), "52783243c1697bdbe16d37f97f68f08325dc1528");
}

TEST(Random, DefaultSeedMatchesTheStandardGenerator) {
  rng_seed(5489);
  uint32_t v = 0;
  for (int i = 0; i < 10000; i++) v = rng_next();
  EXPECT_EQ(v, 4123659995u);
  rng_seed(42);
  uint32_t a = rng_next();
  rng_seed(42);
  EXPECT_EQ(rng_next(), a);
}

// The checker decides once per process, so each case runs in a child.
void leak_three_and_double_free() {
  setenv("TW_CHECK_ALLOC", "1", 1);
  void *a = mem_alloc(10);
  void *b = mem_alloc_or_die(20);
  char *c = static_cast<char *>(mem_alloc(30));
  void *d = mem_alloc(5);
  mem_free(d);
  mem_free(d);  // reported, not released
  c = static_cast<char *>(mem_realloc(c, 4000));
  (void)a;
  (void)b;
  mem_report();
  exit(0);
}

TEST(AllocationCheckerDeathTest, ReportsDoubleFreeAndLeaksOldestFirst) {
  EXPECT_EXIT(leak_three_and_double_free(), ::testing::ExitedWithCode(0),
              "Allocation not found for 0x[0-9a-f]+!\n"
              "0x[0-9a-f]+:0\n0x[0-9a-f]+:1\n0x[0-9a-f]+:4\n$");
}

void checking_off(const char *value) {
  if (value) setenv("TW_CHECK_ALLOC", value, 1);
  else unsetenv("TW_CHECK_ALLOC");
  void *a = mem_alloc(10);
  (void)a;
  mem_report();
  fprintf(stderr, "end\n");
  exit(0);
}

TEST(AllocationCheckerDeathTest, OffUnlessPositive) {
  const char *values[] = {nullptr, "0", "yes", "-3"};
  for (const char *v : values)
    EXPECT_EXIT(checking_off(v), ::testing::ExitedWithCode(0), "^end\n$") << (v ? v : "unset");
}

}  // namespace
