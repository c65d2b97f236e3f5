// The ground's level of detail without any GL: node values of the quadtree
// over the height field (recomputed in slices, double-buffered), the nodes
// active for a viewer, and the triangle fans of a frame as a plain vertex
// stream cut into batches by detail level. Also the geometry of the detail
// levels (sizes, re-centring). The drawing side uploads and draws what
// this produces; headless runs never create it.
#pragma once
#include <cstdint>

const int LOD_STREAM_VERTICES = 16384;
// Eight triangles: a full fan.
const int LOD_FAN_VERTICES = 24;
const int LOD_AREAS_MAX = 4;
// A tolerance of 0 would make every error infinite.
const float LOD_TOLERANCE_MIN = 1e-6f;
const int LOD_PASS_BUDGET = 8000;

// A square of the height field, in samples; g 0 means none.
struct LodArea {
  int ox, oz, g;
};

struct LodBatch {
  int first;  // vertex
  int level;  // index into the areas given, the last one covering all
};

// Vertices (x, height, z) as the fans leave them. When the next fan would
// not fit, `flush` is called with the stream full of finished batches; it
// must leave `count` and the batches as it found them (the stream resets
// itself afterwards).
struct LodStream {
  float v[LOD_STREAM_VERTICES * 3];
  int count;
  LodBatch batch[LOD_STREAM_VERTICES / 3 + 2];
  int batch_count;
  void (*flush)(LodStream *s, void *user);
  void *user;
  // Totals of the frame, for the statistics.
  int triangles, flushes, batches;
};

struct Lod {
  int n;  // deepest depth: nodes there cover 2 x 2 cells
  int node_count;
  float tolerance;
  float *front, *back;
  uint32_t *active;  // one bit per node
  // The pass in progress: where it stands and what it has found so far.
  int running, force;
  uint32_t start_count, done_count;
  int depth, row, col, tri, srow;
  float node_max;
  // Nodes activated this frame, by depth, for the balancing sweep.
  int *list;
  int list_first[16], list_count[16];
};
extern Lod lod;

// Node index of (depth k, row i along z, column j along x).
inline int lod_index(int k, int i, int j) { return ((1 << (2 * k)) - 1) / 3 + (i << k) + j; }

// After the terrain is loaded: allocates and runs one whole pass. 0 when
// out of memory (nothing kept).
int lod_create(float tolerance);
void lod_free();
// A new tolerance takes effect with the next whole pass, which is forced.
void lod_set_tolerance(float tolerance);
// Recomputes node values for at most `budget` work units (10 a triangle
// plus one a sample scanned). A pass starts only when the terrain's change
// counter moved since the last completed one started; at its end the
// arrays swap. 1 when a pass finished in this call.
int lod_pass(long budget);

// Marks the nodes to draw: every node covering one of the areas and its
// ancestors, then by distance from the root, then whatever neighbours the
// fans need to meet without cracks.
void lod_activate(const float viewer[3], const LodArea *areas, int area_count);
inline int lod_active(int index) { return lod.active[index >> 5] >> (index & 31) & 1; }
// The fans of the active nodes back to front into the stream, ending with
// a flush. `direction` null draws everything (no culling).
void lod_emit(const float viewer[3], const float direction[3], const LodArea *areas,
              int area_count, LodStream *s);

// ------------------------------------------------------------ detail levels
// Covered sizes of the levels for this terrain, finest first, the last the
// whole terrain: the count (at most 3).
int lod_level_sizes(int sizes[3]);
// Where a level of size g would be centred for the viewer's sample position
// (one axis): the origin, a multiple of g / 4 within the terrain.
int lod_level_origin(int g, int viewer_sample);
// 1 when a level at `area` is too far from the viewer (in samples).
int lod_level_stale(const LodArea &area, int vx, int vz);
