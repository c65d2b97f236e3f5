// Formatted reading must agree with the C library's scanf: the same return
// value, the same stored values and the same characters left unread.
#include <gtest/gtest.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>

#include "core/core.h"

namespace {

const int SLOTS = 5;
const int SLOT_SIZE = 64;

struct Outcome {
  int result;
  unsigned char slots[SLOTS][SLOT_SIZE];
  std::string left;
};

int ref_scan(FILE *fp, const char *format, ...) {
  va_list ap;
  va_start(ap, format);
  int r = vfscanf(fp, format, ap);
  va_end(ap);
  return r;
}

int ref_sscan(const char *input, const char *format, ...) {
  va_list ap;
  va_start(ap, format);
  int r = vsscanf(input, format, ap);
  va_end(ap);
  return r;
}

int our_scan(DataFile *f, const char *format, ...) {
  va_list ap;
  va_start(ap, format);
  int r = data_vscanf(f, format, ap);
  va_end(ap);
  return r;
}

// Every conversion writes into its own 64-byte slot, whatever its type.
alignas(16) unsigned char slots[SLOTS][SLOT_SIZE];

Outcome reference(const std::string &input, const char *format) {
  Outcome o;
  memset(slots, 0xa5, sizeof slots);
  if (input.empty()) {
    o.result = ref_sscan("", format, slots[0], slots[1], slots[2], slots[3], slots[4]);
  } else {
    std::string copy = input;
    FILE *fp = fmemopen(copy.data(), copy.size(), "r");
    o.result = ref_scan(fp, format, slots[0], slots[1], slots[2], slots[3], slots[4]);
    int c;
    while ((c = getc(fp)) != EOF) o.left += static_cast<char>(c);
    fclose(fp);
  }
  memcpy(o.slots, slots, sizeof slots);
  return o;
}

Outcome ours(const std::string &input, const char *format) {
  Outcome o;
  memset(slots, 0xa5, sizeof slots);
  DataFile *f = data_open_memory(input.data(), input.size(), 0);
  o.result = our_scan(f, format, slots[0], slots[1], slots[2], slots[3], slots[4]);
  int c;
  while ((c = data_getc(f)) >= 0) o.left += static_cast<char>(c);
  data_close(f);
  memcpy(o.slots, slots, sizeof slots);
  return o;
}

struct Case {
  const char *format;
  const char *input;
};

const Case cases[] = {
    // integers
    {"%d", "42"}, {"%d", "  -17x"}, {"%d", "+"}, {"%d", "-"}, {"%d", ""}, {"%d", "   "}, {"%d", "abc"},
    {"%d", "2147483648"}, {"%d", "99999999999999999999"}, {"%d", "0x1f"}, {"%0d", "123"},
    {"%i", "0x1f"}, {"%i", "017"}, {"%i", "08"}, {"%i", "0x"}, {"%i", "0xg"}, {"%i", "-0x10"}, {"%i", "  +12"},
    {"%o", "777 8"}, {"%o", "0x7"}, {"%x", "ff"}, {"%x", "0XfFz"}, {"%x", "0x"}, {"%x", "-1"}, {"%X", "aBc"},
    {"%u", "-1"}, {"%u", "4294967296"}, {"%hd", "70000"}, {"%hhd", "300"}, {"%hu", "65537"},
    {"%ld", "9223372036854775808"}, {"%lld", "-9223372036854775809"}, {"%lu", "18446744073709551615"},
    {"%qd", "12"}, {"%zd", "5"}, {"%jd", "6"}, {"%td", "7"},
    {"%3d", "12345"}, {"%1d", "-5"}, {"%2i", "0x1"}, {"%2d", "+-3"}, {"%d%d", "1-2"},
    // floating point
    {"%f", "1.5"}, {"%f", "-.5e3"}, {"%f", "1e"}, {"%f", "1e+"}, {"%f", "1.2.3"}, {"%f", "."}, {"%f", "-"},
    {"%f", "nan"}, {"%f", "NaN(x)"}, {"%f", "inf"}, {"%f", "infinity"}, {"%f", "infinite"}, {"%f", "INFx"},
    {"%f", "nax"}, {"%f", "-inF"}, {"%f", "0x1p4"}, {"%f", "0x"}, {"%f", "0xg"}, {"%f", "0x1.8P-1z"}, {"%f", "0xp3"}, {"%f", "0x.p1"}, {"%f", "0e5"}, {"%f", "-0xp"},
    {"%f", "  3.25abc"}, {"%f", "1e5x"}, {"%f", "+-1"}, {"%f", "1e-400"}, {"%f", "3.4e39"}, {"%f", ".e5"},
    {"%f", "00012"}, {"%f", "1.e3"}, {"%f", "1e3e4"}, {"%f", ""}, {"%f", "+"},
    {"%lf", "0.1"}, {"%Lf", "0.1"}, {"%le", "2.5e-3"}, {"%lg", "7"}, {"%e", "1E2"}, {"%g", "-0"},
    {"%a", "0x10"}, {"%E", "1"}, {"%G", "2"}, {"%F", "3"}, {"%A", "4"},
    {"%4f", "123456"}, {"%4f", "-1.25"}, {"%4f", "nan"}, {"%2f", "nan"}, {"%3f", "infinity"},
    {"%5f", "infinity"}, {"%1f", "-1"}, {"%2f", "1e5"}, {"%3f", "0x10"}, {"%*f%d", "1.5 3"},
    // strings and characters
    {"%s", "hello world"}, {"%s", "  x"}, {"%s", ""}, {"%s", "   "}, {"%3s", "abcdef"}, {"%*s %s", "a b"},
    {"%c", ""}, {"%c", " x"}, {"%3c", "ab"}, {"%3c", "abcd"}, {" %c", "  q"}, {"%*c%c", "ab"}, {"%5c", ""},
    {"%[a-c]", "abcd"}, {"%[a-c]", "dab"}, {"%[a-c]", ""}, {"%[^\n]", "line\nnext"}, {"%[^\n]", "\nx"},
    {"%[]a]", "]]a-b"}, {"%[a-]", "a-b"}, {"%[-a]", "-a-b"}, {"%[z-a]", "z-a"}, {"%2[0-9]", "12345"},
    {"%[^]x]", "ab]c"}, {"%[abc", "abc"}, {"%[a-c-e]", "ce-d"}, {"%*[a-z]%d", "abc12"}, {"%5[a-z]%n", "abcdefg"},
    // %n, %% and literals
    {"%n", ""}, {"%n", "abc"}, {" %n", "   "}, {" %n", "  x"}, {"x%n", "x"}, {"%d%n", "12 "}, {"%*d%n", "12"},
    {"%%", "%"}, {"%%", " %"}, {"%%", "x"}, {"%%", ""}, {"%d%%", "5%"}, {"%d %%", "5 %"},
    {"a b", "ab"}, {"a b", "a  b"}, {"abc:%d", "abc:5"}, {"abc:%d", "abx"}, {"x", ""}, {" x", "   "},
    {"%d ", "5   z"}, {"%d ", "5"}, {"%d %d %d", "1 2"}, {"%d %d %d", "1 2 x"}, {"%*d %d", "1"},
    {"%d,%f,%s", "3,4.5,ok"}, {"%y", "x"}, {"%d", "\t\n\v\f\r7"}, {"%d:%d", "1 :2"},
    {" #%*[^\n]%n", "# c\nx"}, {" #%*[^\n]%n", "  #\nx"}, {" #%*[^\n]%n", "x"}, {" #%*[^\n]%n", ""},
    {" #%*[^\n]%n", "   "},
};

TEST(DataScan, AgreesWithTheCLibrary) {
  for (const Case &c : cases) {
    Outcome want = reference(c.input, c.format);
    Outcome got = ours(c.input, c.format);
    SCOPED_TRACE(std::string("format \"") + c.format + "\" input \"" + c.input + "\"");
    EXPECT_EQ(got.result, want.result);
    EXPECT_EQ(got.left, want.left);
    for (int i = 0; i < SLOTS; i++) EXPECT_EQ(memcmp(got.slots[i], want.slots[i], SLOT_SIZE), 0) << "slot " << i;
  }
}

TEST(DataScan, ReadsAcrossLinesOfAFile) {
  // Several calls on one stream continue where the last one stopped.
  const char text[] = "12 abc 3.5\nname: x y\n";
  DataFile *f = data_open_memory(text, sizeof text - 1, 0);
  int a = 0, n = 0;
  char word[16];
  float v = 0;
  EXPECT_EQ(data_scanf(f, "%d %15s %f", &a, word, &v), 3);
  EXPECT_EQ(a, 12);
  EXPECT_STREQ(word, "abc");
  EXPECT_FLOAT_EQ(v, 3.5f);
  EXPECT_EQ(data_scanf(f, " name: %15[^\n]%n", word, &n), 1);
  EXPECT_STREQ(word, "x y");
  EXPECT_EQ(n, 10);
  EXPECT_EQ(data_scanf(f, "%d", &a), -1);
  data_close(f);
}

}  // namespace
