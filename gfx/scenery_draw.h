// Drawing the track's objects: billboards (roost particles, flaggers, trees
// and spectators) sorted far to near, statues with their models and maps,
// and the world labels. The tables themselves are the race's.
#pragma once
#include <GL/glcorearb.h>

#include <cstdint>

struct Model;
struct Billboard;

// What drawing adds to a statue record: its model, pictures and pose.
struct StatueGraphics {
  Model *model;
  GLuint texture, normal_map, specular_map;
  int bone_count;  // 0: not posed
  float *rest_centres, *centres, *rotations;
};
// One entry per statue (same index); grows with the statue table.
extern StatueGraphics *statue_graphics;
extern int statue_graphics_count;

// Frame figures for the render statistics.
extern int billboard_frame_count;
extern int scenery_texture_changes;

// A billboard (texture name may carry a "#rrggbb#" colour) with its texture
// loaded when drawing is up: its index, or -1.
int billboard_add(float x, float y, float z, float height, float width_ratio, const char *texture_name);
// A statue with its model, texture and companion maps loaded when drawing
// is up: its index, or -1.
int statue_add(float x, float y, float z, float angle, const char *model, const char *texture,
               const char *shape);
// Loads pictures and models for every billboard and statue that lacks them
// (after a track load; never in headless runs).
void scenery_graphics_prepare();
void scenery_graphics_free();

// The companion map names tried for a statue picture, in order: `kind` is
// "_norm" or "_spec". The count (at most 6).
int companion_candidates(const char *texture, const char *model, const char *kind, char out[6][1024]);

// Depth keys along the camera's backward axis b = (R2, R5, R8): 1/1024 unit
// steps around 2^24, never negative.
int depth_key(const float p[3], const float R[9], float extra);
// Sorts the billboards in front of the camera far to near: the count, with
// order[count] = -1. `order` and `scratch` hold billboard_count + 1.
int billboards_sort(const float camera[3], const float R[9], int *order, int *scratch);
// Moves entries sharing a texture next to each other where no entry in
// between can overlap them as seen from the camera.
void billboards_reorder(int *order, int count, int lookahead, const float camera[3], const float R[9]);
void billboards_draw(const float camera[3], const float R[9]);
// The editor's writers: 1 on success, 0 after the message.
int billboards_save(const char *folder);
int statues_save(const char *folder);

void statues_draw(const float camera[3]);

// World labels: text bubbles at points.
void label_add(float x, float y, float z, const char *text);
void labels_clear();
float label_last_distance(float x, float y, float z);
void labels_draw(const float camera[3], const float R[9]);
