// One frame of the 3D world from a camera: the projection, the fixed
// sequence of passes, the riders' opacities and the counters behind the
// render statistics.
#pragma once
#include "core/shared.h"

// What the frame needs from the program around it. Filled by the program
// before drawing; every hook may be null.
struct FrameSettings {
  int width = 0, height = 0;  // the drawable
  int fugly = 0;              // plain drawing: the clear colour, no sky
  int hide_rider = 0;
  float ghost_fade_distance = 10;
  int lens_flare = 1;
  int verbosity = 0;          // 2 draws the robots' lines
  void (*checkpoint)(const char *label) = nullptr;
  void (*script_frame)() = nullptr;  // the track script's frame handler
  int (*connected)() = nullptr;
  // The race hides this rider (warm-up, replays out of reach); a slot with
  // no rider is always hidden.
  int (*rider_hidden)(int slot) = nullptr;
  // The robots' lines, one at a time: the point count of line `index`
  // (xyz each), -1 past the last.
  int (*robot_line)(int index, const float **points) = nullptr;
  // Ground polygons, decals and queued ruts of the last frame.
  int (*ground_polygons)() = nullptr;
  int (*decal_count)() = nullptr;
  int (*erode_buffered)() = nullptr;
};
extern FrameSettings frame_settings;

// Counted anew in every draw_world; the passes add to the counts.
struct RenderStats {
  int billboards;
  int model_polygons;
  int texture_changes;
  int program_switches;
  int ground_polygons;
  int decals;
};
extern RenderStats render_stats;

// Per rider slot, recomputed in every draw_world: 1 opaque, 0 not drawn,
// between the two a ghost.
extern float rider_opacity[RIDER_SLOTS];
// The alpha models are drawn with; the ghost pass lowers it.
extern float frame_global_alpha;

// Viewport and projection for a drawable and field of view; the half
// extents go to proj_half_x and proj_half_y. 0, and nothing set, for an
// empty drawable (a minimised window).
int set_projection(int width, int height, float fov);
// One frame of the world. own_slot: the rider whose eyes the camera uses,
// -1 none.
void draw_world(const float position[3], const float R[9], float fov, int own_slot);
// The race's billboards (starter, finish flagger, flaggers) as the race
// state says now.
void race_billboards_update();
