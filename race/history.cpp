// Rider descriptions and the per-slot snapshot histories of replayed riders.
#include "race/history.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "bike/physics.h"
#include "core/core.h"

SlotHistory histories[RIDER_SLOTS];
RiderDescription rider_descriptions[RIDER_SLOTS];

namespace {

const int EXTRAPOLATE_TICS = 64;

// Copies up to the first of `stops` (or the end) into out: the end of the
// field in `text`.
const char *take_field(const char *text, const char *stops, char *out, int size) {
  int n = int(strcspn(text, stops));
  int keep = std::min(n, size - 1);
  memcpy(out, text, size_t(keep));
  out[keep] = 0;
  return text + n;
}

// A field as written: without newlines, and without "|" when `bar`.
void clean_field(const char *in, char *out, int size, int bar) {
  int n = 0;
  for (const char *p = in; *p && n < size - 1; p++) {
    if (*p == '\n' || *p == '\r' || (bar && *p == '|')) continue;
    out[n++] = *p;
  }
  out[n] = 0;
}

}  // namespace

int rider_description_read(const char *text, RiderDescription *out) {
  memset(out, 0, sizeof *out);
  if (!text) return 0;
  char *fields[5] = {out->bike, out->rider_texture, out->bike_texture, out->wheel_texture,
                     out->head_texture};
  int sizes[5] = {sizeof out->bike, sizeof out->rider_texture, sizeof out->bike_texture,
                  sizeof out->wheel_texture, sizeof out->head_texture};
  const char *p = text;
  for (int i = 0; i < 5; i++) {
    // A "|" past the fifth field stays in the head texture's name.
    p = take_field(p, i < 4 ? "|\n" : "\n", fields[i], sizes[i]);
    if (*p != '|') break;
    p++;
  }
  p += strcspn(p, "\n");
  if (*p != '\n') return 0;
  p++;
  char number[64];
  p = take_field(p, "\n", number, sizeof number);
  if (*p != '\n') return 0;
  snprintf(out->number, sizeof out->number, "%.3s", number);
  take_field(p + 1, "\n", out->name, sizeof out->name);
  return 1;
}

int rider_description_write(const RiderDescription &d, char *out, int size) {
  if (size <= 0) return -1;
  char f[5][256], number[8], name[64];
  const char *in[5] = {d.bike, d.rider_texture, d.bike_texture, d.wheel_texture, d.head_texture};
  for (int i = 0; i < 5; i++) clean_field(in[i], f[i], sizeof f[i], 1);
  clean_field(d.number, number, sizeof number, 0);
  clean_field(d.name, name, sizeof name, 0);
  int n = snprintf(out, size_t(size), "%s|%s|%s|%s|%s\n%s\n%s", f[0], f[1], f[2], f[3], f[4],
                   number, name);
  if (n >= 0 && n < size) return n;
  n = snprintf(out, size_t(size), "%s\n%s\n%s", f[0], number, name);
  if (n >= 0 && n < size) return n;
  out[0] = 0;
  return -1;
}

void rider_describe(int slot, const char *bike, const char *const textures[4],
                    const char *number, const char *name) {
  if (slot < 0 || slot >= RIDER_SLOTS) return;
  RiderDescription &d = rider_descriptions[slot];
  auto copy = [](char *out, size_t size, const char *in) {
    snprintf(out, size, "%s", in ? in : "");
  };
  copy(d.bike, sizeof d.bike, bike);
  copy(d.rider_texture, sizeof d.rider_texture, textures ? textures[0] : nullptr);
  copy(d.head_texture, sizeof d.head_texture, textures ? textures[1] : nullptr);
  copy(d.bike_texture, sizeof d.bike_texture, textures ? textures[2] : nullptr);
  copy(d.wheel_texture, sizeof d.wheel_texture, textures ? textures[3] : nullptr);
  snprintf(d.number, sizeof d.number, "%.3s", number ? number : "");
  copy(d.name, sizeof d.name, name);
}

// ------------------------------------------------------------- history

void history_clear(int slot) {
  if (slot < 0 || slot >= RIDER_SLOTS) return;
  SlotHistory &h = histories[slot];
  h.count = 0;
  h.unwritten = 0;
  for (HistoryEntry &e : h.entries) e.tic = -1;
}

void history_clear_all() {
  for (int s = 0; s < RIDER_SLOTS; s++) history_clear(s);
}

void history_add(int slot, const uint8_t snapshot[SNAPSHOT_BYTES], int tic) {
  if (slot < 0 || slot >= RIDER_SLOTS) {
    add_message("add_state_to_history: slot out of range");
    return;
  }
  SlotHistory &h = histories[slot];
  // Where it goes: after every older entry.
  int at = h.count;
  while (at > 0 && h.entries[at - 1].tic >= tic) {
    if (h.entries[at - 1].tic == tic) return;
    at--;
  }
  if (h.count == HISTORY_ENTRIES) {
    if (at == 0) return;  // older than all of a full history
    memmove(&h.entries[0], &h.entries[1], sizeof(HistoryEntry) * size_t(at - 1));
    at--;
  } else {
    memmove(&h.entries[at + 1], &h.entries[at], sizeof(HistoryEntry) * size_t(h.count - at));
    h.count++;
  }
  h.entries[at].tic = tic;
  memcpy(h.entries[at].snapshot, snapshot, SNAPSHOT_BYTES);
  h.unwritten = std::min(h.unwritten + 1, int(HISTORY_ENTRIES));
}

int history_pose_at(int slot, int tic, int exact, HistoryPose *out) {
  if (slot < 0 || slot >= RIDER_SLOTS) return 0;
  const SlotHistory &h = histories[slot];
  if (h.count == 0) return 0;
  out->a = out->b = nullptr;
  out->tics = 0;
  // A: the newest entry before tic, B the one after it; past the newest,
  // the two newest.
  int ia = -1;
  for (int i = h.count - 1; i >= 0; i--)
    if (h.entries[i].tic < tic) {
      ia = i;
      break;
    }
  if (ia == h.count - 1) ia = h.count - 2;
  if (ia < 0) ia = 0;
  int ib = std::min(ia + 1, h.count - 1);
  const HistoryEntry &A = h.entries[ia], &B = h.entries[ib];
  if (A.tic >= tic || A.tic == B.tic || exact) {
    memcpy(out->snapshot, A.snapshot, SNAPSHOT_BYTES);
    return 1;
  }
  out->a = A.snapshot;
  out->b = B.snapshot;
  out->tics = B.tic - A.tic;
  if (tic == B.tic) {
    memcpy(out->snapshot, B.snapshot, SNAPSHOT_BYTES);
    return 1;
  }
  double f = double(std::min(tic, B.tic + EXTRAPOLATE_TICS) - A.tic) / (B.tic - A.tic);
  snapshot_blend(A.snapshot, B.snapshot, f, out->snapshot);
  return 1;
}

void history_pose(int slot, int tic, int exact) {
  Rider *r = rider_in_slot(slot);
  HistoryPose p;
  if (!r || !history_pose_at(slot, tic, exact, &p)) return;
  rider_pose_from_snapshot(r, p.snapshot, p.a, p.b, p.tics);
}

int history_has_pose(int slot, int tic) {
  if (slot < 0 || slot >= RIDER_SLOTS) return 0;
  const SlotHistory &h = histories[slot];
  return h.count > 0 && h.entries[0].tic <= tic;
}

int history_newest_tic(int slot) {
  if (slot < 0 || slot >= RIDER_SLOTS || histories[slot].count == 0) return -1;
  return histories[slot].entries[histories[slot].count - 1].tic;
}
