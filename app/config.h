// The "@config" file: the settings as item records of five kinds, read once
// at start-up and written at shutdown. The records point at the fields of
// `config` (app/app.h) and at the platform's control bindings; the menus edit
// the values through the same records.
#pragma once
#include <string>
#include <vector>

struct Binding;
struct DataFile;

enum ItemKind {
  ITEM_NUMBER,   // double, step, limited to minimum..maximum
  ITEM_CHOICE,   // selected index into the texts
  ITEM_INTEGER,  // int, "%d"; limited when minimum < maximum
  ITEM_TEXT,     // fixed character buffer
  ITEM_BINDING,  // a control binding
  ITEM_SETUP,    // where the rider setup block is written
  ITEM_IGNORED,  // a key still accepted on reading, with no effect
};

enum {
  ITEM_READ_ONLY = 1,  // read but never written
  CONFIG_LINE_MAX = 1023,
  CONFIG_ITEM_MAX = 160,
  VIDEO_MODE_MAX = 64,
};

struct ConfigItem {
  const char *key;
  ItemKind kind;
  const char *label;  // menu label, "" for none
  // number and integer
  double *number;
  int *integer;
  double step, minimum, maximum;
  // choice
  int *choice;
  const char *const *choices;
  int choice_count;
  // text: the buffer and its size; longer values than read_max (when set)
  // are ignored on reading instead of cut
  char *text;
  int text_size, read_max;
  Binding *binding;
  int flags;
};

// Every record in writing order (built on first use).
const ConfigItem *config_items(int *count);
// The record of a key (exact), or null.
const ConfigItem *config_item(const char *key);

// Every setting back to its default: the fields, the rider setup (default
// bike and stability preset) and the bindings.
void config_set_defaults();
// The video mode list built at start-up: "Default Fullscreen", "Windowed",
// then "%dx%d" modes.
void config_set_video_modes(const std::vector<std::string> &modes);

// Reads "@config" when there is one.
void config_read();
// Reads configuration lines from an open file (tests and the fuzzer).
void config_read_file(DataFile *f);
// Offers one key and value to the rider setup and the items: 1 when a
// record took the key (even if the value was refused), 0 for unknown keys.
int config_set_value(const char *key, const char *value);
// Writes "@config" through a temporary file; a failure is logged and the
// previous file stays. 1 on success.
int config_write();
// Every item's line, in order; 0 on a write error.
int config_write_file(DataFile *f);
// Sets the graphics preset keys to preset n (0..3).
void apply_detail_preset(int n);
// Puts a server name at the front of the history.
void server_history_push(const char *name);

// Numbers as "%f" and "%d" read them (leading blanks, a number prefix):
// 0 when nothing scans or the number is not finite, the value untouched.
int scan_number(const char *s, double *out);
int scan_int(const char *s, int *out);
