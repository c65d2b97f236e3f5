// The track's objects as the simulation sees them: billboards (upright
// pictures: spectators, flaggers, roost particles) and statues (placed
// models; a statue with a collision shape is an obstacle riders hit, start
// gates among them). Drawing reads these tables; it owns no copy.
#pragma once
#include <cstdint>

#include "core/shared.h"

enum { SCENERY_NAME_MAX = 1024, OBSTACLE_GRID = 8 };

struct Billboard {
  float x, y, z;  // foot point
  float height;
  float y_offset;
  float width_ratio;
  int depth_key;
  int texture;       // texture id once drawing has loaded it; 0 not drawn
  uint8_t color[4];  // alpha 0: not drawn
  char texture_name[SCENERY_NAME_MAX];
};

struct CollisionShape;
struct Statue {
  char model_name[SCENERY_NAME_MAX];    // "" none
  char texture_name[SCENERY_NAME_MAX];  // "" none
  char shape_name[SCENERY_NAME_MAX];    // "" none
  CollisionShape *shape;                // owned; nullptr: not an obstacle
  float x, y, z;
  float y_offset;
  float angle;
  float orientation[9];  // row-major: world = orientation * local + position
  float facing_distance;
  int contact_tic;       // last tic a rider touched the shape
  int posed_tic;         // last tic a script posed it, -1 never
};

extern Billboard *billboards;
extern int billboard_count;
extern Statue *statues;
extern int statue_count;
extern int first_file_billboard, first_file_statue;

// Both tables hold at most this many entries; creation fails beyond.
enum { MAX_BILLBOARDS = 32768, MAX_STATUES = 8192 };

// A new billboard on the ground at (x, z) + y: its index, or -1. A texture
// name "#rrggbb#name" gives the colour and the name after the prefix.
int billboard_create(float x, float y, float z, float height, float width_ratio,
                     const char *texture);
// A new statue (names may be nullptr or "null" for none): its index, or -1.
// Its shape, when named, is loaded and makes it an obstacle; a shape that
// cannot be loaded is reported in the message window.
int statue_create(float x, float y, float z, float angle, const char *model,
                  const char *texture, const char *shape);
// Puts a statue on the ground and sets its orientation from its angle.
void statue_place(int index);
// The orientation of a statue of heading `angle` standing at (x, z):
// identity for camera-facing statues (angle >= 3.25), upright for angles
// <= -2 pi, else leaning with the ground. Row-major, columns side, up,
// forward.
void ground_orientation(float x, float z, float angle, float out[9]);
// The statue's own orientation turned about its local sideways (x) axis;
// a positive angle lifts its local -z side (a start gate rising).
void statue_tilt(int index, float angle);
// Rebuilds the 8 x 8 grid of obstacles over the terrain, and installs the
// physics' obstacle hook.
void obstacle_grid_build();
// The grid column of a world x (or row of a world z): 0..7 over the middle
// three quarters of the terrain, the border cells taking what lies beyond.
int obstacle_cell(float v);
// The statue indices listed in grid cell (gx, gz), ascending: the count.
int obstacle_grid_list(int gx, int gz, const int **list);
// Empties both tables (statues with their shapes) and the grid.
void scenery_free();
