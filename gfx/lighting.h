// The track's live lighting: sun, ambient light, fog, clipping planes, sky
// images and lens flares. The ground, the models and the frame read it.
#pragma once

struct FlareElement {
  float placement[2] = {0, 0};
  float color[3] = {1, 1, 1};
  float size = 1;
  unsigned texture = 0;
};

struct Flare {
  float position[3] = {0, 0, 0};  // a world point, or a direction (vector flare)
  float screen[2] = {0, 0};       // per frame
  FlareElement element[8];
  int element_count = 0;
  int kind = 0;  // 0 point, 1 vector
  float visibility = 0;
};

struct Lighting {
  float sun_vector[3] = {0.57735026f, 0.57735026f, 0.57735026f};  // towards the sun, unit
  float sun_color[3] = {1, 1, 1};
  float ambient[3] = {0.5f, 0.5f, 0.5f};  // the ground's only ambient term
  float global_ambient[3] = {0.2f, 0.2f, 0.2f};  // added to ambient for models
  float near_plane = 0.25f, far_plane = 5000;
  int dynamic_lighting = 0;
  float fog_color[3] = {1, 1, 1};  // kept across tracks when not set
  float fog_density = 0;
  unsigned sky_n = 0, sky_e = 0, sky_s = 0, sky_w = 0, sky_u = 0, sky_env = 0;
  Flare *flares = nullptr;
  int flare_count = 0, flare_capacity = 0;
};

extern Lighting lighting;

// The default block (sun, ambient, planes), no fog, no sky images, no flares;
// the fog colour stays.
void lighting_reset();
// Reads a track's "lighting" file; a missing file counts as an empty one
// (default sky images, fog uniforms set).
void lighting_load(const char *path);
// The same from a file already open; nullptr reads as an empty file.
struct DataFile;
void lighting_read(DataFile *f);
void lighting_free();
// The sky box: the model-view holds only the camera rotation.
void sky_draw();
// The sun direction in eye coordinates for the lit programs; program 1 is
// current afterwards. R: the camera rotation, row-major, its columns the
// camera's right, up and backward axes.
void light_position_update(const float R[9]);
// The unlit program's fog for the world passes (after the sky), and off
// again before labels and flares; both only when the track has fog.
void fog_world_begin();
void fog_world_end();
// Visibility test against the picture drawn so far, then the sprites. The
// model-view is the identity and the projection the frame's.
void flares_draw(const float camera[3], const float R[9]);
