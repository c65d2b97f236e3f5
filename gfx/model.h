// Triangle models: the ".jm" reader, the cache keyed by name with its
// coarser levels, static GPU buffers and the lit and chrome passes.
#pragma once
#include <cstdint>

#include <GL/glcorearb.h>

enum { MODEL_MAX_BONES = 32, MODEL_NAME_MAX = 1024 };

// Settings of the model drawing, filled from the configuration and the
// command line by the program.
struct SceneSettings {
  int reflections = 1;
  float model_detail = 50;  // 0..100; also the statues' distance cut
  float lod_scale = 1, lod_bias = 50;
  int lens_flare = 1;
  int hide_rider = 0;
  int billboard_lookahead = 8;
};
extern SceneSettings scene_settings;

// One part of a model; the first part stands for the whole model.
struct Model {
  char name[MODEL_NAME_MAX];
  float shininess;     // >= 0 lit, -1 chrome (environment), -2 self-lit
  float reflectivity;  // the header's second value for negative shininess, else 1
  float color[3];
  int vertex_count, triangle_count;
  int bone_count;  // 0: no weights
  float *positions, *normals, *tangents;  // 3 a vertex
  float *texcoords;                       // 2 a vertex, v stored as 1 - v
  float *weights;                         // 4 a vertex (bones only)
  int *bones;                             // 4 a vertex (bones only)
  uint32_t *triangles;                    // 3 a triangle
  int has_env;                            // first part: some part is chrome
  float u_rate, v_rate;                   // first part: over the whole model
  GLuint vao, vbo, ibo;
  Model *next;
  Model *lod_next;  // first part: the next coarser level
  float lod_distance;
  int generation;
  // First part: a sphere (centre, radius) holding the level's rest
  // positions, and for a skinned level one per bone around the vertices it
  // moves (MODEL_MAX_BONES x 4, radius -1 for bones that move none).
  float bound[4];
  float *bone_bounds;
};

// The track generation models are looked up in (the race's load count).
extern int model_generation;
// Polygons drawn since the counter was last cleared.
extern int64_t model_polygons;

// Parses ".jm" text (zero-terminated, `length` bytes): the model (no GPU
// objects), or nullptr with a logged reason. Warnings go to the message
// window under `name`.
Model *model_parse(const char *text, int length, const char *name);
// Deletes a model: its parts, its levels and their GPU objects.
void model_free(Model *m);
// The cached model of that name, loading it (and its "_lodN" levels) on
// first use; nullptr when the file cannot be read or parsed.
Model *model_get(const char *name);
// Deletes every model (all = 1) or those not looked up in this generation.
void model_purge(int all);
int model_cache_count();

// The level drawn for an object at `position` seen from `camera`.
const Model *model_level(const Model *m, const float camera[3], const float position[3]);

// The passes. The caller has set the model-view matrix and bound colour,
// normal and specular maps on units 0, 1 and 2; `own_specular` says the
// specular map is the model's own. Bone arrays are bone_count x 3, x 3 and
// x 9 floats; nothing is passed with bone_count 0. The orientation is not
// used by the level choice and may be nullptr.
void model_draw_lit(const Model *m, const float camera[3], const float position[3],
                    const float orientation[9], int bone_count, const float *centres,
                    const float *translations, const float *rotations, int own_specular = 0);
// After binding a lit model's normal and specular maps (0: the defaults):
// maps whose texels are all alike go to the program as values. Returns
// whether blending can be left off for a colour texture: opaque and drawn
// at full alpha, so that blending would give back the source.
int model_map_values(GLuint colour, GLuint normal, GLuint specular);
// The chrome pass: only with reflections on and chrome parts in the model.
int model_draws_env(const Model *m);
void model_draw_env(const Model *m, const float camera[3], const float position[3],
                    const float orientation[9], int bone_count, const float *centres,
                    const float *translations, const float *rotations);
// Every triangle edge of the coarsest level as lines (the editor).
void model_draw_lines(const Model *m);
// The model as POV-Ray mesh text; 1, or 0 when a write failed.
struct DataFile;
int model_export_pov(const Model *m, DataFile *f);
// The global alpha of the lit pass (the ghost pass lowers it).
extern float model_alpha;
