// State shared by the race's own files.
#pragma once

struct RaceState {
  char selected_track[256];
  char loaded_folder[256];
  int first_followed;  // NO_SLOT when no rider was created
  int attached;        // ruts, roost and decals hooked into the physics
};
extern RaceState race;
