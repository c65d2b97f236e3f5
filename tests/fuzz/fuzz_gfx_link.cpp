// Link files: the target name is trimmed and always terminated.
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "core/core.h"
#include "gfx/images_internal.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size > 4096) return 0;
  DataFile *f = data_open_memory(data, int(size), 0);
  if (!f) return 0;
  char target[1024];
  link_read_target(f, target, sizeof target);
  size_t n = strlen(target);
  if (n >= sizeof target || (n && (isspace((unsigned char)target[0]) ||
                                   isspace((unsigned char)target[n - 1]))))
    __builtin_trap();
  data_close(f);
  return 0;
}
