// Riders on their bikes: each bike part at its body, the skinned rider posed
// from the physics points by two-bone reaching, the head looking where the
// rider goes, the number plates, then the chrome pass. Drawing only reads
// the bodies.
#pragma once
#include <GL/glcorearb.h>

#include "bike/bike.h"
#include "core/shared.h"

struct Model;
struct Rider;

// What a rider draws with, made when it is created.
struct RiderGraphics {
  int made;
  Model *model[PART_FILE_COUNT];  // model parts only; nullptr not drawn
  GLuint texture[GFX_GROUP_COUNT], normal[GFX_GROUP_COUNT], specular[GFX_GROUP_COUNT];
  GLuint number_plate;  // owned
};
extern RiderGraphics rider_graphics[RIDER_SLOTS];

// Fills the physics' graphics hooks so riders get their graphics at
// creation (not called by headless runs).
void rider_graphics_install();
void rider_graphics_make(Rider *r, const char *const textures[GFX_GROUP_COUNT]);
void rider_graphics_release(Rider *r);

// The middle joint of a two-bone limb from root A to target B (lengths l1,
// l2), bent towards the hint H. Reach is kept between |l1 - l2| and 95 % of
// l1 + l2.
void two_bone_ik(const float A[3], const float B[3], float l1, float l2, const float H[3], float J[3]);
// Columns c0 = c1 x c2, c1 = P - Q, c2 = R x c1, normalised; stored
// column-major (as the shaders take bone rotations).
void bone_frame(const float P[3], const float Q[3], const float R[3], float out[9]);

// One rider's pose as drawn: bodies (the rider body leaned back when
// cramped), the nine bones and the head frame. Rotations of bodies are
// row-major; bone rotations and the head frame column-major.
struct RiderFigure {
  float position[7][3];
  float rotation[7][9];
  float centres[27], translations[27], rotations[81];
  float head_point[3], head_frame[9];
  float elbow[2][3], knee[2][3], grip[2][3], shoulder[2][3], hip[2][3], foot[2][3];
};
// Works the figure out from the rider's bodies without changing them.
void rider_figure(Rider *r, RiderFigure *out);

// The slots of the riders with graphics, nearest the camera first (ties by
// slot): drawn in this order, hidden surfaces fail the depth test before
// their lighting is worked out. The count.
int rider_draw_order(const float camera[3], int order[RIDER_SLOTS]);

// Draws the rider in the slot (flag: 0 seen from outside, 1 own eyes with
// the body hidden, 2 own eyes with the first-person body). The caller set
// the camera, the fog and model_alpha.
void rider_draw(int slot, int first_person_flag, const float camera[3]);
