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
