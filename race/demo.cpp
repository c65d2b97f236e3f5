// Demo recording and replay arrive with their own work; until then there is
// never a demo to replay.
#include "race/demo.h"

int demo_open_playback(const char *, char *track, int size) {
  if (track && size > 0) track[0] = 0;
  return 0;
}
int demo_playing() { return 0; }
void demo_seek(double) {}
void demo_close() {}
void demo_finish_recording() {}
