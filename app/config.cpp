// Configuration. The file itself arrives with its own work; the defaults
// and the server history are here already.
#include "app/config.h"

#include <cstdio>
#include <cstring>

#include "app/app.h"
#include "bike/bike.h"

void config_set_defaults() {
  set_setup_value(&rider_setup, "bike", "yz250f(2017)");
  // The 16 stability values follow the configured stability.
  stability_preset(&rider_setup, int(rider_setup.options[SETUP_STABILITY].value));
}

void config_read() {}
void config_write() {}
void apply_detail_preset(int) {}

void server_history_push(const char *name) {
  if (!name[0] || !strcmp(name, config.server_name_hist[0])) return;
  memmove(config.server_name_hist[1], config.server_name_hist[0],
          sizeof config.server_name_hist[0] * 15);
  snprintf(config.server_name_hist[0], sizeof config.server_name_hist[0], "%s", name);
  config.server_hist_pos = -1;
}
