// The race displays drawn over the view: the results overlay, the timing
// display on the pit board, the tach and shifter, the information lines,
// the lean indicator, and in the trackside view the lap counter, the
// running order and the followed rider's name.
#pragma once
#include "race/displays.h"

struct HudInput {
  int followed;           // rider slot, -1 none
  int trackside;          // the trackside view
  int track_camera;       // a track camera (not the free one) is in use
  int show_name;          // the followed rider's name (automatic camera)
  int lean_indicator;
  InfoSwitches info;
  double fps;
  int connected, ping_ms, offset_ms;
};

// The largest values of the render statistics seen so far.
extern int render_stats_max[6];
void hud_draw(const HudInput &in);
// The followed rider's name near the top of the view.
void hud_draw_rider_name(int slot);
