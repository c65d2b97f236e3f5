// The configuration reader: any file is read to its end without a crash,
// and every number, integer with a range and choice stays within it.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "app/app.h"
#include "app/config.h"
#include "bike/bike.h"
#include "core/core.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  static bool ready = false;
  if (!ready) {
    config_set_defaults();
    ready = true;
  }
  DataFile *f = data_open_memory(data, int(size), 0);
  if (!f) return 0;
  config_read_file(f);
  data_close(f);
  int n;
  const ConfigItem *items = config_items(&n);
  for (int i = 0; i < n; i++) {
    const ConfigItem &it = items[i];
    switch (it.kind) {
      case ITEM_NUMBER:
        if (!(*it.number >= it.minimum && *it.number <= it.maximum)) abort();
        break;
      case ITEM_INTEGER:
        if (it.minimum < it.maximum && (*it.integer < it.minimum || *it.integer > it.maximum))
          abort();
        break;
      case ITEM_CHOICE:
        if (*it.choice < 0) abort();
        break;
      case ITEM_TEXT:
        if (strlen(it.text) >= size_t(it.text_size)) abort();
        break;
      default: break;
    }
  }
  for (const SetupOption &o : rider_setup.options)
    if (o.kind == SETUP_NUMBER && !(o.value >= o.minimum && o.value <= o.maximum)) abort();
  return 0;
}
