// ".jm" text: the reader and its clean-up, with no GL context.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "core/core.h"
#include "gfx/model.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size > (1 << 20)) return 0;
  char *text = static_cast<char *>(mem_alloc(size + 1));
  if (!text) return 0;
  memcpy(text, data, size);
  text[size] = 0;
  model_free(model_parse(text, int(size), "fuzz.jm"));
  mem_free(text);
  return 0;
}
