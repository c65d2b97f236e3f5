// Plain passes the frame runs on until the real ground, sky and models are
// in: a coarse coloured ground at the terrain's heights, a sky gradient and
// a box for each rider.
#include <cmath>

#include "bike/physics.h"
#include "gfx/frame.h"
#include "gfx/frame_passes.h"
#include "gfx/gfx.h"
#include "terrain/terrain.h"

void terrain_set_viewer(const float *, const float *) {}
void terrain_texture_step(const float *) {}

void terrain_draw(const float *) {
  const Terrain &t = terrain;
  if (!t.heights || t.size < 2) return;
  const int cells = 48;
  float step = t.extent / cells;
  float lo = t.min_height, span = t.max_height - t.min_height > 1 ? t.max_height - t.min_height : 1;
  twglBindTexture(GL_TEXTURE_2D, twgl_white_texture);
  twglBegin(GL_QUADS);
  for (int j = 0; j < cells; j++)
    for (int i = 0; i < cells; i++) {
      float x0 = i * step, z0 = j * step, x1 = x0 + step, z1 = z0 + step;
      const float xs[4] = {x0, x0, x1, x1}, zs[4] = {z0, z1, z1, z0};
      for (int k = 0; k < 4; k++) {
        float h = terrain_height(xs[k], zs[k]);
        float s = (h - lo) / span, c = ((i + j) & 1) ? 0.94f : 1.0f;
        twglColor((0.45f + 0.25f * s) * c, (0.36f + 0.2f * s) * c, (0.24f + 0.1f * s) * c, 1);
        twglVertex(xs[k], h, zs[k]);
      }
    }
  twglEnd();
  render_stats.ground_polygons += 2 * cells * cells;
}

void sky_draw() {
  float X = proj_half_x, Y = proj_half_y;
  twglUseProgram(PROGRAM_UNLIT);
  twglPushMatrix();
  twglLoadIdentity();
  twglDepthMask(GL_FALSE);
  twglBindTexture(GL_TEXTURE_2D, twgl_white_texture);
  twglBegin(GL_QUADS);
  twglColor(0.22f, 0.42f, 0.75f, 1);
  twglVertexScreen(-X, Y);
  twglColor(0.8f, 0.85f, 0.9f, 1);
  twglVertexScreen(-X, -Y);
  twglVertexScreen(X, -Y);
  twglColor(0.22f, 0.42f, 0.75f, 1);
  twglVertexScreen(X, Y);
  twglEnd();
  twglDepthMask(GL_TRUE);
  twglPopMatrix();
}

void light_position_update(const float *) {}
void flares_draw(const float *, const float *) {}

static void box(const BodyPose &b, const float half[3], const float rgb[3], float a) {
  static const int faces[6][4] = {{0, 1, 3, 2}, {4, 6, 7, 5}, {0, 4, 5, 1},
                                  {2, 3, 7, 6}, {0, 2, 6, 4}, {1, 5, 7, 3}};
  float v[8][3];
  for (int c = 0; c < 8; c++) {
    double l[3] = {(c & 4) ? half[0] : -half[0], (c & 2) ? half[1] : -half[1], (c & 1) ? half[2] : -half[2]};
    for (int i = 0; i < 3; i++)
      v[c][i] = float(b.position[i] + b.rotation[3 * i] * l[0] + b.rotation[3 * i + 1] * l[1] +
                      b.rotation[3 * i + 2] * l[2]);
  }
  for (int f = 0; f < 6; f++) {
    float shade = 0.7f + 0.06f * f;
    twglColor(rgb[0] * shade, rgb[1] * shade, rgb[2] * shade, a);
    for (int k = 0; k < 4; k++) twglVertex(v[faces[f][k]][0], v[faces[f][k]][1], v[faces[f][k]][2]);
  }
}

void rider_draw(int slot, int first_person_flag, const float *) {
  Rider *r = rider_in_slot(slot);
  if (!r) return;
  RiderPose p;
  rider_get_pose(r, &p);
  const float frame_half[3] = {0.35f, 0.5f, 1.6f}, body_half[3] = {0.6f, 1.2f, 0.45f},
              wheel_half[3] = {0.2f, 1.0f, 1.0f};
  const float bike[3] = {0.85f, 0.1f, 0.1f}, kit[3] = {0.15f, 0.2f, 0.8f}, tire[3] = {0.1f, 0.1f, 0.1f};
  twglDisable(GL_CULL_FACE);
  twglBindTexture(GL_TEXTURE_2D, twgl_white_texture);
  twglBegin(GL_QUADS);
  float a = frame_global_alpha;
  if (first_person_flag == 0) {
    box(p.body[FRAME], frame_half, bike, a);
    box(p.body[RIDER_BODY], body_half, kit, a);
  }
  box(p.body[FRONT_WHEEL], wheel_half, tire, a);
  if (first_person_flag == 0) box(p.body[REAR_WHEEL], wheel_half, tire, a);
  twglEnd();
  twglEnable(GL_CULL_FACE);
  render_stats.model_polygons += 12 * 4;
}

void statues_draw(const float *) {}
void billboards_draw(const float *, const float *) {}
void labels_draw(const float *, const float *) {}
