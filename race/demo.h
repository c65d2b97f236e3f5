// Demo files: recording the race's state stream and replaying it.
#pragma once

// Opens a demo for replay; its track folder goes to `track`. 1 on success.
int demo_open_playback(const char *file, char *track, int size);
int demo_playing();
// Rewind (negative) or skip by that many seconds of race time.
void demo_seek(double seconds);
void demo_close();
void demo_finish_recording();

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
// What track loading asks of demos, in its order: every slot's state
// history emptied, recording started, the first block written, replay
// primed at the race's start.
void demo_history_reset();
void demo_start_recording();
void demo_write_first_block();
void demo_prime_replay();

// What the race tic asks of demos and the state history, in its order:
// replayed riders posed at a tic, this tic recorded, replay input read.
void demo_pose_replayed(int tic);
void demo_record_tic();
void demo_read_tic();
// Whether a slot's history holds a pose for a tic, and its newest tic (-1
// none): a replayed rider keeps a race open while its history moves it.
int demo_history_has_pose(int slot, int tic);
int demo_history_newest_tic(int slot);

// A demo is being recorded outside a time trial: it can still be renamed.
int demo_recording_renamable();
// The file name the recording is saved under (".twdemo" already added).
void demo_set_record_name(const char *file_name);
