// The race server client: connection, packets, reliable messages.
#pragma once

// A server was named ("--connect" or the multiplayer menu).
int net_server_set();
int net_connecting();  // a connection is being made
int net_connected();
int net_socket_open();
int net_has_race_slot();
int net_sending_tics();  // the server has started sending tics
double net_server_tic();
void net_start(const char *server, const char *password);
// Once per tic while a server is set.
void net_step();
void net_disconnect();
void net_reset();
void net_send_chat(const char *text);
void net_library_shutdown();
// File upload to the server: one at a time, of a data name
// ("@outgoing/...").
int net_upload_active();
void net_upload_stop();
void net_upload_start(const char *data_name);
// The player's name, number, bike or pictures changed: sent again.
void net_client_info_changed();
