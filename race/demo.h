// Demo files: recording the race's state stream and replaying it.
#pragma once

// Opens a demo for replay; its track folder goes to `track`. 1 on success.
int demo_open_playback(const char *file, char *track, int size);
int demo_playing();
// Rewind (negative) or skip by that many seconds of race time.
void demo_seek(double seconds);
void demo_close();
void demo_finish_recording();
