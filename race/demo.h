// Demo files: recording the race's state stream into a ".twdemo" file and
// replaying one, with seeking and the backups of earlier recordings.
#pragma once
#include <cstdint>

// ------------------------------------------------------------- replaying
// Opens a demo for replay (its riders, length and drop read from the
// header); its listed track folder goes to `track`. 1 on success; 0 when
// the file is missing or malformed or its track is not listed.
int demo_open_playback(const char *file, char *track, int size);
// The same over bytes in memory (tools, tests): the track is not looked up.
int demo_open_memory(const void *data, int n);
// A replay is open (its riders may have ended).
int demo_playing();
// Rewind (negative) or skip by that many seconds of race time: only while
// replaying with nobody simulated here and nothing recorded.
void demo_seek(double seconds);
void demo_close();

// The header of the demo opened for replay.
struct DemoHeader {
  int version;
  int riders;
  int time_limit;  // tics
  int laps;
  int drop_tic;
  char track[256];
};
// 1 with the header of the open replay, 0 when none.
int demo_header(DemoHeader *out);

// A rider described in the header of the demo being replayed.
struct DemoRider {
  char name[64];
  char number[8];
  char bike[64];
  char textures[4][256];  // rider body, head, bike, wheels; "" none
};
// The riders of the demo opened for replay, in header order (0 when none).
int demo_rider_count();
const DemoRider *demo_rider(int i);
// Every block has been read (or the file ended early): the tic of the
// last one read, else -1.
int demo_replay_end_tic();
// A headless replay with nobody simulated here is over: every block
// played and the results final, or 10 s after the last block (the results
// then updated once more, riders without fresh poses left out).
int demo_replay_over();
// A replay is open and nobody is simulated here (nothing to race).
int demo_replay_only();

// ------------------------------------------------------------- recording
// Starts a recording of the loaded race: in a time trial "lastlap.twdemo"
// in the track folder, else "@demos/default.twdemo" after the backups
// are moved on. Riders recorded: every local and robot rider offline.
void demo_start_recording();
// Every 4 tics each recorded rider's snapshot, every 16 a block of them;
// `force` does both now.
void demo_record_tic(int force);
// An event block at the race clock (kinds 2 message, 3 erosion, 5 rut
// record, 6 script message); nothing when not recording.
void demo_record_event(int kind, const void *bytes, int n);
// The automatic erosion amount changed (also written at the start).
void demo_record_erosion(int amount);
// Finishes the file: the last entries, the header again, then the name
// given by "namedemo".
void demo_finish_recording();
int demo_recording();
// "namedemo": the name the recording is given when it stops (".twdemo"
// added unless present). 1 and the reply "Demo name updated"; 0 with the
// reason (nothing recorded, a name with "/", "\\" or "..", too long).
int demo_set_name(const char *word, char *reply, int size);
// "demo_backups": how many earlier recordings are kept (at most 100).
void demo_set_backups(int n);
int demo_backups();

// What demos need from the program around them; each may be null.
struct DemoHooks {
  int (*erosion)();                      // the automatic erosion amount
  void (*set_erosion)(int amount);       // kind 3 read back
  void (*script_message)(const char *);  // kind 6 read back
  // Connected to a server whose clock is not known yet: nothing is written.
  int (*clock_pending)();
};
extern DemoHooks demo_hooks;

// ----------------------------------------------------- the race's calls
// What track loading asks of demos, in its order: every slot's state
// history emptied, recording started, the first block written, replay
// primed at the race's start.
void demo_history_reset();
void demo_write_first_block();
void demo_prime_replay(int replaying);  // else a replay still open is closed
// The replay from its start with rider r in slots[r] (the rest unplaced):
// what priming does once the riders stand in their slots.
void demo_replay_start(const int *slots, int n);

// What the race tic asks of demos and the state history, in its order:
// replayed riders posed at a tic, this tic recorded, replay input read.
void demo_pose_replayed(int tic);
void demo_record_tic();
void demo_read_tic();
// Whether a slot's history holds a pose for a tic, and its newest tic (-1
// none): a replayed rider keeps a race open while its history moves it.
int demo_history_has_pose(int slot, int tic);
int demo_history_newest_tic(int slot);

// ----------------------------------------------------- the time trial
// Copies the finished "lastlap.twdemo" over "fastlap.twdemo" in the
// track folder (through a temporary file): 1 on success.
int demo_keep_fast_lap();
int demo_fast_lap_exists();
// Replays "fastlap.twdemo" of the loaded track as the ghost, in the empty
// slots, starting now: 1 when a ghost rides.
int demo_start_ghost();
// Ends the ghost's replay and takes its riders off the track.
void demo_stop_ghost();
// The ghost's progress in the crossing sequence, -1 when none rides.
int demo_ghost_progress();
