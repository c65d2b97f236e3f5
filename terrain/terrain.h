// The ground: one square height field with its queries, the tile map and
// the surface records it points into, the light map and the dirty blocks the
// renderer uploads. One global terrain at a time, filled by terrain_load and
// emptied by terrain_free. No GL and no window: drawing, textures and decals
// attach through terrain_hooks.
#pragma once
#include <cstdint>

struct DataFile;

// Size exponents outside this range are refused by the loader: 2^13 + 1
// samples a side is already half a gigabyte of heights.
const int TERRAIN_MAX_SHIFT = 12;
const int SURFACE_MAX = 256;
const int SURFACE_CURVE_POINTS = 8;
const int SURFACE_ROOSTS = 4;
const int SURFACE_NAME_MAX = 47;
const int SURFACE_FILE_MAX = 255;
// A friction point with this slip speed ends the curve; a roll point ends
// at speed 0.
const float FRICTION_END_SPEED = 1048576.0f;
const int TERRAIN_BLOCK_CELLS = 128;

struct TerrainVec {
  float x, y, z;
};

struct TerrainTriangle {
  TerrainVec v[3];
};

// ------------------------------------------------------------------ surfaces

enum RoostMode { ROOST_NONE = 0, ROOST_THROW = 1, ROOST_SPLASH = 2 };

struct SurfaceRoost {
  int32_t mode;  // RoostMode
  int32_t texture;
  float count;
  float dig;
  float slip_threshold;
  float slow_angle;
  float fast_angle;
  float slow_speed;
  float fast_speed;
  float size;
  float grow;
  float drag;
  float vscale;
  float randomize;
  uint8_t color[4];
  int8_t fade[4];
  char texture_name[SURFACE_FILE_MAX + 1];
};

// The deformation record is read by index (erode.s[ERODE_RADIUS], ...).
enum ErodeIndex {
  ERODE_DEPTH = 0,
  ERODE_LOWER,
  ERODE_UPPER,
  ERODE_DISPLACEMENT,
  ERODE_RADIUS,
  ERODE_INNER_DEPTH,
  ERODE_INNER_RADIUS,
  ERODE_MIN_SLOPE,
  ERODE_MAX_SLOPE,
  ERODE_OFF_SPEED,
  ERODE_ON_SPEED,
  ERODE_SLIP_LOWER,
  ERODE_SLIP_UPPER,
  ERODE_SLIP_BASE_SCALE,
  ERODE_SLIP_SCALE,
  ERODE_DOWNHILL_SCALE,
  ERODE_LIMIT_DEPTH = 16,  // 8 depths
  ERODE_LIMIT_OUTER = 24,  // 8 outer scales
  ERODE_LIMIT_INNER = 32,  // 8 inner scales
  ERODE_PROJECT_TO_GROUND = 40,
  ERODE_LATERAL_SCALE,
  ERODE_FRONT_SCALE,
  ERODE_FLOATS
};
const int ERODE_LIMITS_MAX = 8;

struct SurfaceErode {
  float s[ERODE_FLOATS];
  int32_t limit_count;
};

struct Surface {
  char name[SURFACE_NAME_MAX + 1];
  int32_t texture;
  float friction_coef[SURFACE_CURVE_POINTS];
  float friction_speed[SURFACE_CURVE_POINTS];
  int32_t slip_function;  // 0, 1 or 2
  float roll_a[SURFACE_CURVE_POINTS];
  float roll_b[SURFACE_CURVE_POINTS];
  float roll_speed[SURFACE_CURVE_POINTS];
  SurfaceRoost roost[SURFACE_ROOSTS];
  SurfaceErode erode;
  int32_t transition;
  // The texture file as given, for whoever loads textures later.
  char texture_name[SURFACE_FILE_MAX + 1];
};

// Fills a surface with the defaults both surface files start from.
void surface_defaults(Surface *s);
void surface_roost_defaults(SurfaceRoost *r);
void surface_erode_defaults(SurfaceErode *e);

// Parse the open file into terrain.surface[] and set terrain.tile_count.
// Problems are warnings in the message window; a file that defines no
// surface yields one default surface, so every tile index stays in range.
int tileinfo_parse(DataFile *f);
int texturelist_parse(DataFile *f);

// ------------------------------------------------------------------ terrain

struct Terrain {
  int shift;          // size exponent n
  int size;           // samples a side: 2^(n+1) + 1
  float spacing;
  float extent;       // spacing * 2^(n+1)
  float inv_spacing;
  float tile_size;    // 2 * spacing
  float *heights;       // size * size, sample (i, j) at j * size + i
  float *base_heights;  // as loaded; never changed
  float min_height, max_height;  // only ever widen while loaded
  uint8_t *shadows;     // size * size; 0 lit, 255 shadowed
  uint8_t *tilemap;     // 2^n * 2^n, every entry below tile_count
  int tile_count;
  uint32_t *dirty_blocks;  // one bit per 128 x 128 cell block
  int dirty_side;          // blocks per side
  int dirty_cursor;
  int change_flags;        // 7 after any write: bit 2 unsaved, bit 4 undo
  int frozen;
  uint32_t change_count;   // bumped by every dig and deposit
  Surface surface[SURFACE_MAX];
  void *render;  // owned by the renderer's hooks
  void *decals;  // owned by the decal hooks
};

extern Terrain terrain;

// Drawing, textures and decals live elsewhere; they plug in here. Every
// hook may be null.
struct TerrainHooks {
  int (*load_texture)(const char *name);  // texture id, 0 when none
  int (*render_create)();                 // after the heights are in; 0 fails
  void (*render_free)();                  // also called on an empty terrain
  int (*decals_load)(const char *dir);    // after the tile map; 0 fails
  void (*decals_free)();
  int (*decals_save)(const char *dir);    // 0 fails
  long long (*texture_bytes)();           // texture memory in use, for the log
};
extern TerrainHooks terrain_hooks;

// Sun and colours of the track's lighting, for the shading the editor bakes.
struct TerrainLight {
  float sun[3];  // unit vector towards the sun
  float diffuse[3];
  float ambient[3];
};
extern TerrainLight terrain_light;

int terrain_load(const char *dir);  // 1, or 0 with the terrain empty
void terrain_free();
// Writes the track files of the current terrain through temporary files:
// 1 when every file was written, else 0 after a message.
int terrain_save(const char *dir);

// Queries over the triangulated surface; the grid continues beyond its
// edges as the edge samples. Fast and allocation-free.
float terrain_height(float x, float z);
// Not normalised: y is spacing^2.
TerrainVec terrain_normal(float x, float z);
int terrain_tile_at(float x, float z);
// The two triangles of cell (i, j), vertices in world units.
void terrain_cell_triangles(int i, int j, TerrainTriangle out[2]);
// Height of sample (i, j) with indices clamped to the grid.
float terrain_sample(int i, int j);
void terrain_mark_dirty(int i0, int j0, int i1, int j1);
// Writes one sample the way every editing path must: widens the height
// range, sets change_flags and marks the block dirty.
void terrain_set_height(int i, int j, float h);

// ---------------------------------------------------------------- track list

extern int track_count;
extern char **track_folders;       // e.g. "tracks/hollow_creek"
extern char **track_descriptions;  // first line of its "desc"
int track_list_build();  // the number of tracks found
void track_list_free();
