// The "@config" file: read once at start-up, written at shutdown.
#pragma once

// Defaults the file may override: the bike choice, the stability preset.
void config_set_defaults();
void config_read();
void config_write();
// Sets the graphics preset keys to preset n (0..3).
void apply_detail_preset(int n);
// Puts a server name at the front of the history.
void server_history_push(const char *name);
