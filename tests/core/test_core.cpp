#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "core/core.h"

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

void realloc_failure_keeps_the_block() {
  setenv("TW_CHECK_ALLOC", "1", 1);
#if !defined(__SANITIZE_ADDRESS__)  // the address sanitizer ends the program on a huge request
  char *a = static_cast<char *>(mem_alloc(16));
  volatile size_t huge = SIZE_MAX / 2;
  if (mem_realloc(a, huge) != nullptr) fprintf(stderr, "huge block\n");
  // Still recorded: released without a complaint, and no leak is left.
  mem_free(a);
#endif
  // A zero size keeps a block (glibc would free it behind the table's back).
  char *b = static_cast<char *>(mem_realloc(mem_alloc(8), 0));
  if (!b) fprintf(stderr, "no block\n");
  mem_free(b);
  mem_report();
  fprintf(stderr, "end\n");
  exit(0);
}

TEST(AllocationCheckerDeathTest, FailedReallocKeepsTheOldBlockRecorded) {
  EXPECT_EXIT(realloc_failure_keeps_the_block(), ::testing::ExitedWithCode(0), "^end\n$");
}

void fill_the_table() {
  setenv("TW_CHECK_ALLOC", "1", 1);
  const int table = 1048576;
  std::vector<void *> blocks(table + 1);
  for (int i = 0; i <= table; i++) blocks[i] = mem_alloc(1);  // the last one stops checking
  for (void *b : blocks) mem_free(b);
  // The report lists every recorded block, released or not: count the lines
  // in a file rather than through the death test's pipe.
  char path[] = "/tmp/tw_report_XXXXXX";
  int fd = mkstemp(path);
  fflush(stderr);
  int saved = dup(2);
  dup2(fd, 2);
  mem_report();
  fflush(stderr);
  dup2(saved, 2);
  FILE *fp = fdopen(fd, "r");
  rewind(fp);
  char first[256] = "";
  if (!fgets(first, sizeof first, fp)) first[0] = 0;
  int lines = 1, c;
  while ((c = getc(fp)) != EOF) lines += c == '\n';
  fclose(fp);
  unlink(path);
  fprintf(stderr, "first: %slines: %d\n", first, lines);
  exit(0);
}

TEST(AllocationCheckerDeathTest, ReportAfterTheTableFilledSaysItIsIncomplete) {
  EXPECT_EXIT(fill_the_table(), ::testing::ExitedWithCode(0),
              "^Too many allocations to check!\n"
              "first: Allocation report incomplete[^\n]*\nlines: 1048577\n$");
}

}  // namespace
