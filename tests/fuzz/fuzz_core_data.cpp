// Archive headers, gzip streams and formatted reading on arbitrary bytes.
// The first byte picks the part; formatted reading is also compared with
// the C library's scanf on the same input.
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "core/core.h"

namespace {

const char *const formats[] = {
    "%d %i %x",     "%63s%n",          "%f%lf%Lf",      "%63[a-z0-9]%n%c", "%hd%hhd%n", " #%*[^\n]%n",
    "%u%o%n",       "%e,%g:%a",        "%5c%3d",        "%*[^,],%d",       "%%%d",      "x%ny %n",
    "%2f%3i%4x",    "%63[^]x-z]%n",    "%lld%llu%zd%n", "%4s %4s %4s",     "%*d%*f%n",  "%63[-a]%d",
};
const int FORMATS = sizeof formats / sizeof formats[0];
const int SLOTS = 4, SLOT_SIZE = 64;

alignas(16) unsigned char ref_slots[SLOTS][SLOT_SIZE], our_slots[SLOTS][SLOT_SIZE];

int ref_scan(FILE *fp, const char *format, ...) {
  va_list ap;
  va_start(ap, format);
  int r = fp ? vfscanf(fp, format, ap) : vsscanf("", format, ap);
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

void scan(const uint8_t *data, size_t size) {
  if (size < 1) return;
  const char *format = formats[data[0] % FORMATS];
  data++;
  size--;
  memset(ref_slots, 0x5a, sizeof ref_slots);
  memset(our_slots, 0x5a, sizeof our_slots);
  char *copy = static_cast<char *>(malloc(size + 1));
  memcpy(copy, data, size);
  FILE *fp = size ? fmemopen(copy, size, "r") : nullptr;
  int want = ref_scan(fp, format, ref_slots[0], ref_slots[1], ref_slots[2], ref_slots[3]);
  DataFile *f = data_open_memory(data, static_cast<int>(size), 0);
  int got = our_scan(f, format, our_slots[0], our_slots[1], our_slots[2], our_slots[3]);
  if (got != want || memcmp(ref_slots, our_slots, sizeof ref_slots) != 0) abort();
  // The same characters are left unread.
  for (;;) {
    int a = fp ? getc(fp) : EOF;
    int b = data_getc(f);
    if (a != (b < 0 ? EOF : b)) abort();
    if (b < 0) break;
  }
  if (fp) fclose(fp);
  data_close(f);
  free(copy);
}

void gunzip(const uint8_t *data, size_t size) {
  DataFile *f = data_open_memory(data, static_cast<int>(size), 1);
  if (!f) return;
  char buf[4096];
  int total = 0, n;
  // A tiny input can inflate a thousandfold: a bounded read is enough.
  while (total < (1 << 20) && (n = data_read(f, buf, sizeof buf)) > 0) total += n;
  if (data_getc(f) >= 0 && data_error(f)) abort();  // no data after an error
  data_close(f);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 1 || size > (1 << 16)) return 0;
  int part = data[0] % 3;
  data++;
  size--;
  if (part == 0)
    data_archive_scan(data, static_cast<int>(size));
  else if (part == 1)
    gunzip(data, size);
  else
    scan(data, size);
  return 0;
}
