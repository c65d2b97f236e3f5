// One frame of the world: a fixed sequence of passes with few state
// changes. The ground goes first without depth testing (it is drawn back
// to front), then the opaque riders and statues, then everything blended
// with depth writes off; fog is on only for the world passes.
#include "gfx/frame.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "bike/physics.h"
#include "gfx/camera_math.h"
#include "gfx/frame_passes.h"
#include "gfx/gfx.h"
#include "gfx/lighting.h"
#include "gfx/model.h"
#include "race/displays.h"
#include "race/race.h"
#include "race/timing.h"
#include "race/track.h"
#include "terrain/terrain.h"

FrameSettings frame_settings;
RenderStats render_stats;
float rider_opacity[RIDER_SLOTS];
float frame_global_alpha = 1;

static void checkpoint(const char *label) {
  if (frame_settings.checkpoint) frame_settings.checkpoint(label);
}

int set_projection(int width, int height, float fov) {
  float X, Y;
  if (!projection_extents(width, height, fov, &X, &Y)) return 0;
  twglViewport(0, 0, width, height);
  float n = lighting.near_plane, f = lighting.far_plane;
  twglMatrixMode(GL_PROJECTION);
  twglLoadIdentity();
  twglFrustum(-X * n, X * n, -Y * n, Y * n, n, f);
  twglMatrixMode(GL_MODELVIEW);
  twglLoadIdentity();
  proj_half_x = X;
  proj_half_y = Y;
  return 1;
}

// ------------------------------------------------------- race billboards
static void billboard_texture(int index, const char *name) {
  if (index < 0 || index >= billboard_count || !name || !name[0]) return;
  Billboard &b = billboards[index];
  if (strcmp(b.texture_name, name) == 0 && b.texture) return;
  snprintf(b.texture_name, sizeof b.texture_name, "%s", name);
  b.texture = int(texture_load(name));
}

void race_billboards_update() {
  if (timing.gate_count <= 0 && timing.checkpoint_count <= 0) return;
  if (starter.billboard >= 0 && starter.billboard < billboard_count) {
    float p[3];
    int tex;
    starter_state(race_now_tic() * TIC_SECONDS, p, &tex);
    Billboard &b = billboards[starter.billboard];
    b.x = p[0];
    b.z = p[2];
    b.y = p[1] + terrain_height(p[0], p[2]);
    billboard_texture(starter.billboard, starter.textures[tex]);
  }
  if (finish_flagger.billboard >= 0)
    billboard_texture(finish_flagger.billboard, finish_flagger.textures[finish_flagger_texture()]);
  timing_mark_down(frame_settings.connected ? frame_settings.connected() : 0);
  for (int i = 0; i < flagger_count; i++) {
    const Flagger &f = flaggers[i];
    billboard_texture(f.billboard, timing_any_down(f.checkpoints) ? f.waving : f.idle);
  }
}

// ------------------------------------------------------------- riders
static int local_player_slot() {
  for (int s = 0; s < RIDER_SLOTS; s++)
    if (rider_roles[s] == ROLE_LOCAL && rider_in_slot(s)) return s;
  return -1;
}

static int hidden(int slot) {
  if (!rider_in_slot(slot)) return 1;
  return frame_settings.rider_hidden ? frame_settings.rider_hidden(slot) : 0;
}

static void draw_riders(const float camera[3], int own_slot) {
  int P = local_player_slot();
  bool offline = !(frame_settings.connected && frame_settings.connected());
  RiderPose player{}, pose{};
  if (P >= 0) rider_get_pose(rider_in_slot(P), &player);
  bool drawn[RIDER_SLOTS] = {};
  for (int s = 0; s < RIDER_SLOTS; s++) {
    rider_opacity[s] = 1;
    Rider *r = rider_in_slot(s);
    if (!r) {
      rider_opacity[s] = 0;
      continue;
    }
    if (P >= 0 && offline && rider_roles[s] == ROLE_REPLAYED) {
      rider_get_pose(r, &pose);
      double d2 = 0;
      for (int i = 0; i < 3; i++) {
        double d = pose.body[FRAME].position[i] - player.body[FRAME].position[i];
        d2 += d * d;
      }
      rider_opacity[s] = ghost_opacity(sqrt(d2), frame_settings.ghost_fade_distance);
      drawn[s] = rider_opacity[s] >= 1;
    } else if (hidden(s)) {
      rider_opacity[s] = 0;
    } else {
      drawn[s] = true;
    }
  }
  // Nearest first, so the depth test rejects the pixels of riders behind.
  int order[RIDER_SLOTS];
  int n = rider_draw_order(camera, order);
  for (int i = 0; i < n; i++) {
    int s = order[i];
    if (drawn[s]) rider_draw(s, s == own_slot ? (frame_settings.hide_rider ? 1 : 2) : 0, camera);
  }
}

static void draw_ghosts(const float camera[3], int own_slot) {
  for (int s = 0; s < RIDER_SLOTS; s++) {
    if (!rider_in_slot(s) || !(rider_opacity[s] < 1) || rider_opacity[s] <= 0) continue;
    frame_global_alpha = model_alpha = rider_opacity[s];
    rider_draw(s, s == own_slot ? (frame_settings.hide_rider ? 1 : 2) : 0, camera);
  }
  frame_global_alpha = model_alpha = 1;
}

// Faint with distance: lines far away would only clutter the view.
static void draw_robot_lines(const float camera[3]) {
  if (!frame_settings.robot_line) return;
  twglBindTexture(GL_TEXTURE_2D, twgl_white_texture);
  twglEnable(GL_BLEND);
  twglBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
  twglDepthMask(GL_FALSE);
  const float *p;
  for (int i = 0, n; (n = frame_settings.robot_line(i, &p)) >= 0; i++) {
    if (n < 2) continue;
    twglBegin(GL_LINE_STRIP);
    for (int k = 0; k < n; k++, p += 3) {
      float dx = p[0] - camera[0], dy = p[1] - camera[1], dz = p[2] - camera[2];
      float a = 1 - (dx * dx + dy * dy + dz * dz) * 0.001f;
      a = a < 0.0625f ? 0.0625f : a > 1 ? 1 : a;
      twglColor(1, 1, 1, a);
      twglVertex(p[0], p[1], p[2]);
    }
    twglEnd();
  }
  twglDepthMask(GL_TRUE);
  twglDisable(GL_BLEND);
}

// ------------------------------------------------------------- the frame
void draw_world(const float pos[3], const float R[9], float fov, int own_slot) {
  // 1.
  memset(&render_stats, 0, sizeof render_stats);
  model_polygons = 0;
  int switches0 = twgl_program_switches, binds0 = twgl_texture_binds;
  // 2, 3.
  race_billboards_update();
  anim_update(race_now_tic());
  // 4. The camera itself is published by whoever chose it (headless runs
  // too); the ground learns where it is seen from.
  const float dir[3] = {-R[2], -R[5], -R[8]};
  terrain_set_viewer(pos, dir);
  // 5.
  if (frame_settings.script_frame) frame_settings.script_frame();
  checkpoint("js");
  // 6.
  terrain_texture_step(pos);
  checkpoint("rendertex");
  // 7.
  if (!set_projection(frame_settings.width, frame_settings.height, fov)) return;
  const float m[16] = {R[0], R[1], R[2], 0, R[3], R[4], R[5], 0, R[6], R[7], R[8], 0, 0, 0, 0, 1};
  twglLoadMatrix(m);
  twglUseProgram(PROGRAM_NORM_ENV);
  twglSetEnvMatrix(R);
  // 8, 9.
  twglEnable(GL_DEPTH_TEST);
  twglDepthFunc(GL_ALWAYS);
  if (frame_settings.fugly) {
    twglClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
  } else {
    twglClear(GL_DEPTH_BUFFER_BIT);
    sky_draw();
  }
  // 10.
  float fog = lighting.fog_density;
  if (fog > 0) {
    twglUseProgram(PROGRAM_UNLIT);
    twglSetFogDensity(fog);
  }
  // 11, 12.
  twglTranslate(-pos[0], -pos[1], -pos[2]);
  light_position_update(R);
  twglUseProgram(PROGRAM_UNLIT);
  // 13.
  twglDepthMask(GL_TRUE);
  terrain_draw(pos);
  checkpoint("drawterrain");
  // 14, 15.
  twglDepthFunc(GL_LEQUAL);
  draw_riders(pos, own_slot);
  checkpoint("drawbikes");
  // 16, 17.
  statues_draw(pos);
  checkpoint("drawstatues");
  billboards_draw(pos, R);
  checkpoint("drawbillboards");
  // 18.
  draw_ghosts(pos, own_slot);
  checkpoint("drawghosts");
  // 19.
  twglUseProgram(PROGRAM_UNLIT);
  if (frame_settings.verbosity >= 2) draw_robot_lines(pos);
  // 20.
  if (fog > 0) {
    twglUseProgram(PROGRAM_UNLIT);
    twglSetFogDensity(0);
  }
  // 21.
  labels_draw(pos, R);
  // 22.
  twglMatrixMode(GL_MODELVIEW);
  twglLoadIdentity();
  twglDepthFunc(GL_ALWAYS);
  if (frame_settings.lens_flare && lighting.flare_count > 0) flares_draw(pos, R);
  render_stats.program_switches = twgl_program_switches - switches0;
  render_stats.texture_changes = twgl_texture_binds - binds0;
  render_stats.model_polygons = int(model_polygons);
  render_stats.billboards = billboard_frame_count;
  render_stats.ground_polygons = ground_stats.triangles;
  render_stats.decals = ground_stats.decals;
  if (frame_settings.ground_polygons) render_stats.ground_polygons = frame_settings.ground_polygons();
  if (frame_settings.decal_count) render_stats.decals = frame_settings.decal_count();
}
