// Drawing the ground: the heights and baked shadows as textures, the
// quadtree's fans streamed into one buffer, and up to three detail levels
// (colour, normal and specular textures of shrinking areas around the
// viewer) redrawn from the tiles, the decals and the shadows when the
// viewer moves away from them. Attached to the terrain through its hooks;
// a run without GL never creates any of it.
#pragma once
#include <cstdint>

#include "gfx/gfx.h"

// Filled by start-up from the configuration and the command line.
struct GroundSettings {
  float tolerance = 0.125f / 70;  // height error allowed per unit of distance
  int texture_size = 256;         // texels a side of each detail level texture
  int mipmaps = 1;
  int resync_rate = 0;            // 2^rate changed height blocks uploaded a frame
  int texture_reduction = 1;      // levels dropped from tile and decal pictures
};
extern GroundSettings ground_settings;

// What the last drawn frame cost, for the render statistics.
struct GroundStats {
  int triangles, batches, flushes, decals;
  int level_passes;  // detail level passes drawn by the last texture step
};
extern GroundStats ground_stats;

const int GROUND_LEVELS_MAX = 3;

// One detail level as the drawing sees it (read-only outside).
struct GroundLevel {
  int ox, oz, g;  // area in samples; ox < 0 before the first build
  int state;      // -1 must be rebuilt, else the decal count when built
  GLuint tex[3];  // colour, normal, specular
};
int ground_level_count();
const GroundLevel *ground_level(int index);
// The level being rebuilt (-1 when idle) and its next pass (1 colour,
// 2 normal, 3 specular).
int ground_level_rebuilding(int *pass);

// Sets terrain_hooks.render_create / render_free / load_texture /
// texture_bytes to this file's functions.
void terrain_render_attach();
int terrain_render_create();
void terrain_render_free();
// Once per main-loop iteration: a slice of the node values and up to
// 2^resync_rate changed height blocks.
void terrain_update_frame();
// Everything at once (after editing): node values, heights, shadows, and
// every level redrawn.
void terrain_refresh_all();

// The frame's camera, before terrain_texture_step and terrain_draw.
void terrain_set_viewer(const float position[3], const float direction[3]);
void terrain_texture_step(const float viewer[3]);
void terrain_draw(const float viewer[3]);

// Draws the decals of a rectangle (x0, z0, x1, z1) into the level texture
// being built: pass 0 colour, 1 normal, 2 specular pictures.
void decals_draw(const float rect[4], int pass);
// Levels overlapping the rectangle (world units) are redrawn; call it for
// the old and the new place of an added or moved decal.
void terrain_invalidate_rect(float x0, float z0, float x1, float z1);
void terrain_decal_changed(int index);
void terrain_invalidate_levels();
