// What demos and the network share about riders that are replayed rather
// than simulated: the rider description text, and per slot a history of
// state snapshots the race tic poses them from.
#pragma once
#include <cstdint>

#include "bike/snapshot.h"
#include "core/shared.h"

// ------------------------------------------------------ rider description
struct RiderDescription {
  char bike[64];
  char rider_texture[256], bike_texture[256], wheel_texture[256], head_texture[256];
  char number[4];  // only three characters are kept
  char name[64];
};
// "bike|rider|bike texture|wheel|head\nnumber\nname"; fewer "|" fields
// leave the missing ones empty. 1, or 0 when the text has no two newlines.
int rider_description_read(const char *text, RiderDescription *out);
// The five-field form, or "bike\nnumber\nname" when that does not fit: the
// length written, or -1 when not even the short form fits. Newlines are
// left out of every field and "|" of the five description fields.
int rider_description_write(const RiderDescription &d, char *out, int size);

// What each slot's rider was created with (track loading fills it): the
// description a recording or the server is given.
extern RiderDescription rider_descriptions[RIDER_SLOTS];
// Textures in the order rider body, head, bike, wheels; nullptr for none.
void rider_describe(int slot, const char *bike, const char *const textures[4],
                    const char *number, const char *name);

// ------------------------------------------------------------- history
enum { HISTORY_ENTRIES = 128 };

struct HistoryEntry {
  int tic;  // -1 empty
  uint8_t snapshot[SNAPSHOT_BYTES];
};
// Entries in tic order, oldest first; `unwritten` are the newest entries
// a recording has not taken yet.
struct SlotHistory {
  HistoryEntry entries[HISTORY_ENTRIES];
  int count;
  int unwritten;
};
extern SlotHistory histories[RIDER_SLOTS];

void history_clear(int slot);
void history_clear_all();
// Inserts in tic order; a tic already held keeps its first snapshot; the
// oldest entry falls out of a full history. A slot outside 0..159 is said.
void history_add(int slot, const uint8_t snapshot[SNAPSHOT_BYTES], int tic);
// The snapshot the slot's rider has at `tic` (interpolated, or
// extrapolated at most 64 tics past the newest), with the two entries its
// velocities come from: 1, or 0 when the history is empty. With `exact`
// no blending is done (poses come from A alone).
struct HistoryPose {
  uint8_t snapshot[SNAPSHOT_BYTES];
  const uint8_t *a, *b;  // nullptr: no velocities
  int tics;              // from a to b
};
int history_pose_at(int slot, int tic, int exact, HistoryPose *out);
// Poses the slot's rider from its history at `tic`; nothing without one.
void history_pose(int slot, int tic, int exact = 0);
// Whether the history covers `tic` (an entry at or after it), and the
// newest tic held (-1 none).
int history_has_pose(int slot, int tic);
int history_newest_tic(int slot);
