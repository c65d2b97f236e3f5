// The client arrives with its own work; until then a named server is
// remembered and never answers.
#include "net/net.h"

#include <cstdio>

static char server_name[128];

int net_server_set() { return server_name[0] != 0; }
int net_connecting() { return 0; }
int net_connected() { return 0; }
int net_socket_open() { return 0; }
int net_has_race_slot() { return 0; }
int net_sending_tics() { return 0; }
double net_server_tic() { return 0; }
void net_start(const char *server, const char *) {
  snprintf(server_name, sizeof server_name, "%s", server ? server : "");
}
void net_step() {}
void net_disconnect() {}
// Forgets the server as well: a reset client is not set to any.
void net_reset() { server_name[0] = 0; }
void net_send_chat(const char *) {}
void net_library_shutdown() {}
