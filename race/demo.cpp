// Demo files. A recording is a header (riders, race length, drop), the
// track's folder, one description per rider, then blocks: each a length
// chained by XOR with the one before (so seeking can walk back), a tic, a
// kind and its payload. State blocks carry the riders' 39-byte snapshots;
// the others texts and rut records. A replay is read whole into memory and
// fed to the riders' histories a little ahead of the race clock.
#include "race/demo.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>
#include <vector>

#include "bike/engine_sound.h"
#include "bike/rider.h"
#include "bike/snapshot.h"
#include "core/core.h"
#include "core/log.h"
#include "race/history.h"
#include "race/race.h"
#include "race/race_internal.h"
#include "race/timing.h"
#include "terrain/deform.h"

DemoHooks demo_hooks;

namespace {

const int RECORD_BYTES = 1 + 4 + SNAPSHOT_BYTES;  // rider index, tic, snapshot
const int BLOCK_HEADER = 9;
// A state block holds at most every history entry of every slot.
const uint32_t MAX_PAYLOAD = uint32_t(RIDER_SLOTS) * HISTORY_ENTRIES * RECORD_BYTES;
const int MAX_TEXT = 1023;
const int READ_AHEAD = 64;
const int BLOCKS_PER_CALL = 128;
const int OLD_RECORDS_AHEAD = 8;
const int DEFAULT_DROP_TIC = 14 * TICS_PER_SECOND;
const int MAX_LINE = 4096;
const int MAX_TIC = 1 << 30;  // far beyond any race; keeps offsets from overflowing
const int MAX_BACKUPS = 100;
const int ERODE_MAX = 102400;
const int END_GRACE = 10 * TICS_PER_SECOND;
const int DEMO_FILE_MAX = 1 << 30;

enum { KIND_STATES = 1, KIND_MESSAGE = 2, KIND_ERODE = 3, KIND_RUT = 5, KIND_SCRIPT = 6 };

struct Replay {
  int open;
  int ghost;  // the time trial's: its clock starts now
  std::vector<uint8_t> data;
  DemoHeader header;
  std::vector<DemoRider> riders;
  int slot_of[RIDER_SLOTS];  // rider index -> slot, NO_SLOT none
  size_t first_block;
  size_t pos;
  uint32_t prev_len;
  int ended;
  int end_tic;
  int started;  // the first state block was read
  int offset;   // added to every tic read
  long long deformed_upto;  // the furthest rut block applied, -1 none
  int next_record_tic;      // old versions
  int final_update_done;
  int record_size;          // old versions: bytes per tic
};
Replay replay;

struct Recording {
  FILE *fp;
  int practice;
  char name[320];
  int slots[RIDER_SLOTS];
  int count;
  uint32_t prev_len;
  int header[4];  // riders, limit, laps, drop
};
Recording rec;
char pending_name[1100];
int backup_count = 0;

uint32_t get32(const uint8_t *p) {
  return p[0] | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
void put32(uint8_t *p, uint32_t v) {
  for (int k = 0; k < 4; k++) p[k] = uint8_t(v >> (8 * k));
}

// ------------------------------------------------------------ the header

// The next line without its newline: 1, or 0 when it does not end in one.
int take_line(const std::vector<uint8_t> &d, size_t *pos, char *out, int size) {
  size_t p = *pos;
  int n = 0;
  while (p < d.size() && d[p] != '\n') {
    if (n >= size - 1 || n >= MAX_LINE) return 0;
    out[n++] = char(d[p++]);
  }
  if (p >= d.size()) return 0;
  out[n] = 0;
  if (n > 0 && out[n - 1] == '\r') out[n - 1] = 0;
  *pos = p + 1;
  return 1;
}

int parse_header(Replay *r) {
  size_t pos = 0;
  char line[MAX_LINE + 1];
  if (!take_line(r->data, &pos, line, sizeof line)) return 0;
  DemoHeader &h = r->header;
  h = DemoHeader();
  int v[5] = {0, 0, 0, 0, 0};
  int n = sscanf(line, "TW%d %d %d %d %d", &v[0], &v[1], &v[2], &v[3], &v[4]);
  if (n < 3) return 0;
  // Version 4's snapshots are laid out otherwise; such files are not read.
  if (v[0] < 5 || v[0] > 6) {
    log_printf("Demo version %d not supported\n", v[0]);
    return 0;
  }
  h.version = v[0];
  h.riders = v[1];
  h.time_limit = v[2];
  h.laps = n >= 4 ? v[3] : 0;
  h.drop_tic = n >= 5 ? v[4] : DEFAULT_DROP_TIC;
  if (h.riders < 0 || h.riders > RIDER_SLOTS || h.time_limit < 0 || h.time_limit > MAX_TIC ||
      h.laps < 0 || h.laps > 1000000 || h.drop_tic < 0 || h.drop_tic > MAX_TIC)
    return 0;
  if (!take_line(r->data, &pos, line, sizeof line)) return 0;
  snprintf(h.track, sizeof h.track, "%.255s", line);
  r->riders.clear();
  for (int i = 0; i < h.riders; i++) {
    // Exactly its lines: a description, the number, and in version 6 the
    // name and an empty line.
    char desc[MAX_LINE + 1], number[MAX_LINE + 1], name[MAX_LINE + 1] = "";
    if (!take_line(r->data, &pos, desc, sizeof desc)) return 0;
    if (!take_line(r->data, &pos, number, sizeof number)) return 0;
    if (h.version >= 6) {
      if (!take_line(r->data, &pos, name, sizeof name)) return 0;
      char blank[MAX_LINE + 1];
      if (!take_line(r->data, &pos, blank, sizeof blank) || blank[0]) return 0;
    }
    std::vector<char> text(strlen(desc) + strlen(number) + strlen(name) + 3);
    snprintf(text.data(), text.size(), "%s\n%s\n%s", desc, number, name);
    RiderDescription d;
    if (!rider_description_read(text.data(), &d)) return 0;
    DemoRider dr{};
    snprintf(dr.name, sizeof dr.name, "%s", d.name);
    snprintf(dr.number, sizeof dr.number, "%s", d.number);
    snprintf(dr.bike, sizeof dr.bike, "%s", d.bike);
    snprintf(dr.textures[0], sizeof dr.textures[0], "%s", d.rider_texture);
    snprintf(dr.textures[1], sizeof dr.textures[1], "%s", d.head_texture);
    snprintf(dr.textures[2], sizeof dr.textures[2], "%s", d.bike_texture);
    snprintf(dr.textures[3], sizeof dr.textures[3], "%s", d.wheel_texture);
    r->riders.push_back(dr);
  }
  r->first_block = pos;
  r->record_size = h.riders * SNAPSHOT_BYTES;
  return 1;
}

void rewind_replay(Replay *r) {
  r->pos = r->first_block;
  r->prev_len = 0;
  r->ended = 0;
  r->end_tic = -1;
  r->started = 0;
  r->offset = 0;
  r->deformed_upto = -1;
  r->next_record_tic = 0;
  r->final_update_done = 0;
}

int open_bytes(std::vector<uint8_t> &&bytes) {
  demo_close();
  replay.data = std::move(bytes);
  if (!parse_header(&replay)) {
    replay = Replay();
    return 0;
  }
  for (int &s : replay.slot_of) s = NO_SLOT;
  rewind_replay(&replay);
  replay.open = 1;
  return 1;
}

int load_file(const char *file, std::vector<uint8_t> *out) {
  int n = 0;
  char *text = file_to_string(file, &n);
  if (!text) return 0;
  if (n > DEMO_FILE_MAX) n = 0;
  out->assign(text, text + n);
  mem_free(text);
  return n > 0;
}

// ------------------------------------------------------------ the blocks

struct Block {
  size_t at;  // its header
  uint32_t length;
  int tic;
  int kind;
  const uint8_t *payload;
};

// The block at `at` after one of length `prev`: 1, or 0 when it runs past
// the end or its length or tic is not believable.
int block_at(size_t at, uint32_t prev, Block *b) {
  const std::vector<uint8_t> &d = replay.data;
  if (at < replay.first_block || at + BLOCK_HEADER > d.size()) return 0;
  b->at = at;
  b->length = get32(&d[at]) ^ prev;
  b->tic = int(get32(&d[at + 4]));
  b->kind = d[at + 8];
  if (b->length > MAX_PAYLOAD || b->length > d.size() - at - BLOCK_HEADER) return 0;
  if (b->tic < 0 || b->tic > MAX_TIC) return 0;
  b->payload = &d[at + BLOCK_HEADER];
  return 1;
}

void text_of(const Block &b, char out[MAX_TEXT + 1]) {
  int n = int(std::min<uint32_t>(b.length, MAX_TEXT));
  memcpy(out, b.payload, size_t(n));
  out[n] = 0;
}

void add_states(const Block &b) {
  if (b.length % RECORD_BYTES) return;
  for (uint32_t k = 0; k < b.length; k += RECORD_BYTES) {
    const uint8_t *p = b.payload + k;
    int r = p[0];
    int tic = int(get32(p + 1));
    if (r >= replay.header.riders || tic < 0 || tic > MAX_TIC) continue;
    int slot = replay.slot_of[r];
    if (slot == NO_SLOT) continue;
    history_add(slot, p + 5, tic + replay.offset);
  }
}

void handle_block(const Block &b) {
  char text[MAX_TEXT + 1];
  switch (b.kind) {
    case KIND_STATES:
      if (!replay.started) {
        replay.started = 1;
        // The ghost starts now; a replay's clock takes the recording's.
        if (replay.ghost) replay.offset = physics.now_tic - b.tic;
        else physics.now_tic = b.tic;
      }
      add_states(b);
      break;
    case KIND_MESSAGE:
      text_of(b, text);
      add_message(text);
      break;
    case KIND_ERODE: {
      text_of(b, text);
      int amount;
      if (sscanf(text, "erode %d", &amount) == 1 && demo_hooks.set_erosion)
        demo_hooks.set_erosion(std::clamp(amount, 0, ERODE_MAX));
      break;
    }
    case KIND_RUT:
      // Seeking back reads the block again; the ground keeps it once.
      if ((long long)b.at > replay.deformed_upto) {
        replay.deformed_upto = (long long)b.at;
        erode_receive(b.payload, int(b.length));
      }
      break;
    case KIND_SCRIPT:
      text_of(b, text);
      if (demo_hooks.script_message) demo_hooks.script_message(text);
      break;
    default:
      break;
  }
}

void read_blocks() {
  for (int n = 0; n < BLOCKS_PER_CALL; n++) {
    Block b;
    if (!block_at(replay.pos, replay.prev_len, &b)) {
      // The end, or a damaged block: the riders keep their last poses.
      if (replay.pos != replay.data.size())
        log_printf("Demo ends early at byte %zu\n", replay.pos);
      replay.ended = 1;
      return;
    }
    // A ghost's first block is due whenever it was recorded.
    int due = (replay.ghost && !replay.started) ||
              (long long)b.tic + replay.offset <= (long long)physics.now_tic + READ_AHEAD;
    if (!due) return;
    handle_block(b);
    replay.pos = b.at + BLOCK_HEADER + b.length;
    replay.prev_len = b.length;
    replay.end_tic = b.tic + replay.offset;
  }
}

void read_old_records() {
  int R = replay.header.riders;
  for (int n = 0; n < BLOCKS_PER_CALL; n++) {
    if (physics.now_tic < replay.next_record_tic - OLD_RECORDS_AHEAD) return;
    size_t at = replay.first_block + size_t(replay.next_record_tic) * size_t(replay.record_size);
    if (R == 0 || at + size_t(replay.record_size) > replay.data.size()) {
      replay.ended = 1;
      return;
    }
    for (int r = 0; r < R; r++)
      if (replay.slot_of[r] != NO_SLOT)
        history_add(replay.slot_of[r], &replay.data[at + size_t(r) * SNAPSHOT_BYTES],
                    replay.next_record_tic + replay.offset);
    replay.end_tic = replay.next_record_tic + replay.offset;
    replay.next_record_tic++;
  }
}

// Walks back from the current position to the last block at or before
// `tic`, by the chained lengths; never before the first block.
void walk_back(int tic) {
  size_t pos = replay.pos;
  uint32_t len = replay.prev_len;  // of the block ending at pos
  while (pos > replay.first_block) {
    if (len + BLOCK_HEADER > pos - replay.first_block) break;  // a broken chain
    size_t at = pos - len - BLOCK_HEADER;
    uint32_t before = get32(&replay.data[at]) ^ len;
    int block_tic = int(get32(&replay.data[at + 4]));
    pos = at;
    len = before;
    if (block_tic + (long long)replay.offset <= tic) break;
  }
  if (pos == replay.first_block) len = 0;
  replay.pos = pos;
  replay.prev_len = len;
  replay.ended = 0;
}

int simulated_here() {
  for (int s = 0; s < RIDER_SLOTS; s++)
    if (rider_in_slot(s) && (rider_roles[s] == ROLE_LOCAL || rider_roles[s] == ROLE_ROBOT))
      return 1;
  return 0;
}

// ------------------------------------------------------------ recording

void write_block(int kind, int tic, const uint8_t *payload, uint32_t n) {
  uint8_t head[BLOCK_HEADER];
  put32(head, n ^ rec.prev_len);
  put32(head + 4, uint32_t(tic));
  head[8] = uint8_t(kind);
  fwrite(head, 1, sizeof head, rec.fp);
  if (n) fwrite(payload, 1, n, rec.fp);
  // Every block on disk at once: a crash leaves a demo that replays.
  fflush(rec.fp);
  rec.prev_len = n;
}

int writing_allowed() {
  return rec.fp && !(demo_hooks.clock_pending && demo_hooks.clock_pending());
}

void write_header() {
  fprintf(rec.fp, "TW06 %d %d %d %4d\n", rec.header[0], rec.header[1], rec.header[2],
          rec.header[3]);
}

void rotate_backups() {
  char from[64], to[64];
  for (int n = std::min(backup_count, MAX_BACKUPS) - 2; n >= 0; n--) {
    snprintf(from, sizeof from, "@demos/default%02d.twdemo", n);
    snprintf(to, sizeof to, "@demos/default%02d.twdemo", n + 1);
    data_rename(from, to);
  }
  if (backup_count > 0) data_rename("@demos/default.twdemo", "@demos/default00.twdemo");
}

int file_exists(const char *name) {
  char path[1400];
  if (!data_path(name, path, sizeof path)) return 0;
  FILE *fp = fopen(path, "rb");
  if (fp) fclose(fp);
  return fp != nullptr;
}

}  // namespace

// ---------------------------------------------------------------- replay

int demo_open_playback(const char *file, char *track, int size) {
  if (track && size > 0) track[0] = 0;
  std::vector<uint8_t> bytes;
  if (!file || !load_file(file, &bytes) || !open_bytes(std::move(bytes))) {
    log_printf("Can't read demo \"%s\"\n", file ? file : "");
    return 0;
  }
  // A name from a file never reaches the data layer as a path.
  const char *folder = track_find(replay.header.track);
  if (!folder) {
    add_messagef("Demo track \"%.64s\" not found", replay.header.track);
    demo_close();
    return 0;
  }
  if (track && size > 0) snprintf(track, size_t(size), "%s", folder);
  return 1;
}

int demo_open_memory(const void *data, int n) {
  if (!data || n <= 0) return 0;
  const uint8_t *p = static_cast<const uint8_t *>(data);
  return open_bytes(std::vector<uint8_t>(p, p + n));
}

int demo_playing() { return replay.open && !replay.ghost; }

void demo_close() {
  replay = Replay();
  for (int &s : replay.slot_of) s = NO_SLOT;
}

int demo_header(DemoHeader *out) {
  if (!replay.open) return 0;
  *out = replay.header;
  return 1;
}

int demo_rider_count() { return replay.open ? int(replay.riders.size()) : 0; }
const DemoRider *demo_rider(int i) {
  return replay.open && i >= 0 && i < int(replay.riders.size()) ? &replay.riders[size_t(i)]
                                                                 : nullptr;
}

int demo_replay_end_tic() { return replay.open && replay.ended ? replay.end_tic : -1; }

int demo_replay_only() { return demo_playing() && !simulated_here(); }

int demo_replay_over() {
  if (!demo_playing() || !replay.ended || simulated_here()) return 0;
  if (race_results_final()) return 1;
  if (physics.now_tic < replay.end_tic + END_GRACE) return 0;
  if (!replay.final_update_done) {
    replay.final_update_done = 1;
    update_results();
  }
  return 1;
}

void demo_seek(double seconds) {
  if (!demo_playing() || rec.fp || simulated_here() || !track_loaded()) return;
  double t = physics.now_tic - 1 + seconds * TICS_PER_SECOND;
  int target = int(std::clamp(t, 0.0, double(MAX_TIC)));
  if (target >= physics.now_tic) {
    // Forward runs the race: the riders cross, the ground is dug alike.
    while (physics.now_tic < target && track_loaded()) race_tic();
    return;
  }
  if (replay.header.version >= 6) {
    walk_back(target - READ_AHEAD);
  } else {
    replay.next_record_tic = std::max(target - replay.offset, 0);
    replay.ended = 0;
  }
  for (int s = 0; s < RIDER_SLOTS; s++) {
    if (!rider_in_slot(s)) continue;
    // Crossings after the target have not happened yet.
    int q = rider_timing[s].progress;
    while (q > 0) {
      int c = rider_crossing_time(s, q - 1);
      if (c >= 0 && c <= target) break;
      q--;
    }
    if (q < rider_timing[s].progress) timing_set_progress(s, q);
  }
  race.results_final = 0;
  update_results();
  physics.now_tic = target;
  history_clear_all();
  demo_read_tic();
  race_tic();
}

// ------------------------------------------------------------- recording

void demo_set_backups(int n) { backup_count = std::clamp(n, 0, MAX_BACKUPS); }
int demo_backups() { return backup_count; }
int demo_recording() { return rec.fp != nullptr; }

void demo_start_recording() {
  demo_finish_recording();
  const char *folder = track_loaded_folder();
  if (!folder[0]) return;
  rec = Recording();
  rec.practice = race.practice_mode;
  if (rec.practice) {
    snprintf(rec.name, sizeof rec.name, "@%s/lastlap.twdemo", folder);
  } else {
    rotate_backups();
    snprintf(rec.name, sizeof rec.name, "@demos/default.twdemo");
  }
  char path[1400];
  if (!data_path(rec.name, path, sizeof path)) return;
  make_folders(path);
  rec.fp = fopen(path, "wb");
  if (!rec.fp) {
    log_printf("Can't create demo \"%s\"\n", path);
    return;
  }
  // The ruts dug here go into the file as they are queued.
  erode_hooks.sent_offline = [](const uint8_t *record, int length) {
    demo_record_event(KIND_RUT, record, length);
  };
  int online = race_hooks.connected && race_hooks.connected();
  for (int s = 0; s < RIDER_SLOTS; s++) {
    if (!rider_in_slot(s)) continue;
    int role = rider_roles[s];
    if (role == ROLE_LOCAL || role == ROLE_ROBOT || (online && role == ROLE_REPLAYED))
      rec.slots[rec.count++] = s;
  }
  rec.header[0] = rec.count;
  rec.header[1] = race.race_time_limit;
  rec.header[2] = race.race_laps;
  rec.header[3] = physics.drop_tic;
  write_header();
  fprintf(rec.fp, "%s\n", folder);
  for (int i = 0; i < rec.count; i++) {
    const Rider *r = rider_in_slot(rec.slots[i]);
    // As the rider was created; its bike, number and name as it is now.
    RiderDescription d = rider_descriptions[rec.slots[i]];
    const BikeModel *m = rider_model(r);
    snprintf(d.bike, sizeof d.bike, "%s", m ? m->name : "");
    snprintf(d.number, sizeof d.number, "%.3s", r->number);
    snprintf(d.name, sizeof d.name, "%s", r->name);
    char text[1600];
    if (rider_description_write(d, text, sizeof text) < 0) text[0] = 0;
    fprintf(rec.fp, "%s\n\n", text);
  }
  rec.prev_len = 0;
  fflush(rec.fp);
  for (int i = 0; i < rec.count; i++) history_clear(rec.slots[i]);
  demo_record_erosion(demo_hooks.erosion ? demo_hooks.erosion() : 0);
  // A lap's first states at the tic it starts: its ghost starts there.
  if (rec.practice) demo_record_tic(1);
}

void demo_record_tic(int force) {
  if (!rec.fp) return;
  int now = physics.now_tic;
  if (!force && now % 4) return;
  for (int i = 0; i < rec.count; i++) {
    int s = rec.slots[i];
    const Rider *r = rider_in_slot(s);
    if (r && rider_roles[s] != ROLE_REPLAYED) {
      uint8_t snap[SNAPSHOT_BYTES];
      snapshot_from_rider(r, snap);
      history_add(s, snap, now);
    }
  }
  if (!force && now % 16) return;
  if (!writing_allowed()) return;
  std::vector<uint8_t> payload;
  for (int i = 0; i < rec.count; i++) {
    SlotHistory &h = histories[rec.slots[i]];
    int n = std::min(h.unwritten, h.count);
    for (int k = h.count - n; k < h.count; k++) {
      uint8_t head[5];
      head[0] = uint8_t(i);
      put32(head + 1, uint32_t(h.entries[k].tic));
      payload.insert(payload.end(), head, head + 5);
      payload.insert(payload.end(), h.entries[k].snapshot, h.entries[k].snapshot + SNAPSHOT_BYTES);
    }
  }
  if (payload.empty()) return;
  write_block(KIND_STATES, now, payload.data(), uint32_t(payload.size()));
  for (int i = 0; i < rec.count; i++) histories[rec.slots[i]].unwritten = 0;
}

void demo_record_event(int kind, const void *bytes, int n) {
  if (!writing_allowed() || n < 0 || uint32_t(n) > MAX_PAYLOAD) return;
  write_block(kind, physics.now_tic, static_cast<const uint8_t *>(bytes), uint32_t(n));
}

void demo_record_erosion(int amount) {
  char text[32];
  int n = snprintf(text, sizeof text, "erode %d", amount);
  demo_record_event(KIND_ERODE, text, n);
}

void demo_finish_recording() {
  if (!rec.fp) return;
  demo_record_tic(1);
  fseek(rec.fp, 0, SEEK_SET);
  write_header();
  fclose(rec.fp);
  rec.fp = nullptr;
  if (pending_name[0] && !rec.practice) {
    char target[1200];
    snprintf(target, sizeof target, "@demos/%s", pending_name);
    // An earlier demo of that name is never lost.
    if (file_exists(target))
      add_messagef("Demo %.64s exists - kept as default.twdemo", pending_name);
    else if (!data_rename(rec.name, target))
      add_messagef("Can't rename demo to %.64s", pending_name);
  }
  pending_name[0] = 0;
}

int demo_set_name(const char *word, char *reply, int size) {
  auto say = [&](const char *text, int result) {
    if (reply && size > 0) snprintf(reply, size_t(size), "%s", text);
    return result;
  };
  if (!rec.fp || rec.practice) return say("Not currently recording a demo", 0);
  if (!word || strlen(word) > 1016) return say("Name too long", 0);
  if (!data_safe_name(word)) return say("Bad demo name", 0);
  size_t n = strlen(word);
  const char *ext = ".twdemo";
  bool has = n >= strlen(ext) && !strcmp(word + n - strlen(ext), ext);
  snprintf(pending_name, sizeof pending_name, "%s%s", word, has ? "" : ext);
  return say("Demo name updated", 1);
}

// ------------------------------------------------------- the race's calls

void demo_history_reset() { history_clear_all(); }

void demo_write_first_block() { demo_record_tic(1); }

void demo_prime_replay(int replaying) {
  if (!replaying) {
    demo_close();
    return;
  }
  if (!replay.open) return;
  // The replayed slots in order are the demo's riders in order.
  int slots[RIDER_SLOTS], n = 0;
  for (int s = 0; s < RIDER_SLOTS && n < replay.header.riders; s++)
    if (rider_in_slot(s) && rider_roles[s] == ROLE_REPLAYED) slots[n++] = s;
  demo_replay_start(slots, n);
}

void demo_replay_start(const int *slots, int n) {
  if (!replay.open) return;
  for (int &s : replay.slot_of) s = NO_SLOT;
  for (int r = 0; r < n && r < replay.header.riders; r++)
    replay.slot_of[r] = slots[r] >= 0 && slots[r] < RIDER_SLOTS ? slots[r] : NO_SLOT;
  rewind_replay(&replay);
  demo_read_tic();
}

void demo_pose_replayed(int tic) {
  int exact = replay.open && replay.header.version < 5;
  for (int s = 0; s < RIDER_SLOTS; s++)
    if (rider_roles[s] == ROLE_REPLAYED && rider_in_slot(s)) history_pose(s, tic, exact);
}

void demo_record_tic() { demo_record_tic(0); }

void demo_read_tic() {
  if (!replay.open || replay.ended) return;
  if (replay.header.version >= 6) read_blocks();
  else read_old_records();
}

int demo_history_has_pose(int slot, int tic) { return history_has_pose(slot, tic); }
int demo_history_newest_tic(int slot) { return history_newest_tic(slot); }

// ------------------------------------------------------- the time trial

int demo_keep_fast_lap() {
  const char *folder = track_loaded_folder();
  if (!folder[0]) return 0;
  char from[320], to[320];
  snprintf(from, sizeof from, "@%s/lastlap.twdemo", folder);
  snprintf(to, sizeof to, "@%s/fastlap.twdemo", folder);
  int n = 0;
  char *bytes = file_to_string(from, &n);
  if (!bytes) return 0;
  DataFile *f = data_create(to);
  int ok = f && data_write(f, bytes, n) == n;
  mem_free(bytes);
  if (!f) return 0;
  if (!ok) {
    data_abandon(f);
    return 0;
  }
  return data_commit(f);
}

int demo_fast_lap_exists() {
  const char *folder = track_loaded_folder();
  char name[320];
  snprintf(name, sizeof name, "@%s/fastlap.twdemo", folder);
  return folder[0] && file_exists(name);
}

int demo_start_ghost() {
  demo_stop_ghost();
  if (replay.open) return 0;  // a replay of its own runs
  const char *folder = track_loaded_folder();
  char name[320];
  snprintf(name, sizeof name, "@%s/fastlap.twdemo", folder);
  std::vector<uint8_t> bytes;
  if (!folder[0] || !load_file(name, &bytes) || !open_bytes(std::move(bytes))) return 0;
  replay.ghost = 1;
  const int F = timing.first_count;
  int r = 0;
  for (int s = 0; s < RIDER_SLOTS && r < replay.header.riders; s++) {
    if (rider_in_slot(s)) continue;
    const DemoRider &d = replay.riders[size_t(r)];
    auto none = [](const char *t) { return t[0] ? t : nullptr; };
    Rider *g = create_rider(s, d.bike, 0, d.number, none(d.textures[0]), none(d.textures[1]),
                            none(d.textures[2]), none(d.textures[3]));
    if (!g) break;
    snprintf(g->name, sizeof g->name, "%s", d.name);
    engine_voice_create(s, g, g->bike_texture[0] ? g->bike_texture : nullptr);
    rider_roles[s] = ROLE_REPLAYED;
    timing_rider_reset(s);
    timing_set_progress(s, F - 1);
    replay.slot_of[r++] = s;
  }
  if (r == 0) {
    demo_close();
    return 0;
  }
  demo_read_tic();
  return 1;
}

void demo_stop_ghost() {
  if (!replay.open || !replay.ghost) return;
  for (int r = 0; r < RIDER_SLOTS; r++) {
    int s = replay.slot_of[r];
    if (s == NO_SLOT) continue;
    engine_sound_free(s);
    if (Rider *g = rider_in_slot(s)) destroy_rider(g);
    history_clear(s);
  }
  demo_close();
}

int demo_ghost_progress() {
  if (!replay.open || !replay.ghost || replay.slot_of[0] == NO_SLOT) return -1;
  return rider_timing[replay.slot_of[0]].progress;
}
