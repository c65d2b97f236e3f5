// Scenery drawing: ten riders at the start, the default track's statues and
// billboards and 2000 roost particles, seen from beside the start at
// 1280 x 720 on the software renderer. The GL is finished after each pass;
// prints ms per pass, model polygons and texture changes a frame, and the
// time of sorting 3000 billboards.
// bench_scenery [TRACK] [--shot FILE] [--distance FEET] [--viewport W H] [--frames N]
//               [--slot-order] [--detail MODEL_DETAIL] [--stats]
// Riders are drawn nearest first; --slot-order draws them by slot instead.
// --stats asks the renderer, per pass, how many pixels passed the depth
// test, how many fragment shader runs it made (the software renderer
// counts 16 for every 4 x 4 block it shades) and how many triangles it
// clipped; the queries slow the passes, so their times are not comparable.
// --detail sets the level-of-detail scale and bias as the configuration's
// model detail does (without it every coarser level is always taken).
// A tiny viewport (same view, few pixels) leaves the per-call cost alone:
// the difference from the full one is the cost of filling pixels.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "bench/bench_common.h"
#include "bike/rider.h"
#include "core/camera.h"
#include "core/core.h"
#include "core/log.h"
#include "gfx/gl_table.h"
#include "gfx/lighting.h"
#include "gfx/model.h"
#include "gfx/rider_draw.h"
#include "gfx/scenery_draw.h"
#include "race/race.h"
#include "race/scenery.h"
#include "race/track.h"
#include "terrain/deform.h"
#include "terrain/terrain.h"
#include "tests/gfx/egl_context.h"

namespace {

const int W = 1280, H = 720;
int FRAMES = 20;

double now_ms() {
  timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return double(t.tv_sec) * 1000 + double(t.tv_nsec) / 1e6;
}

// The process's own CPU time (the renderer's threads included): on a
// machine shared with other work, wall time overstates the cost.
double cpu_ms() {
  timespec t;
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return double(t.tv_sec) * 1000 + double(t.tv_nsec) / 1e6;
}

// Pipeline statistics of a pass (--stats), when the renderer has them.
struct PassQueries {
  static const int KINDS = 4;
  bool on = false;
  GLuint id[KINDS] = {};
  long long sum[3][KINDS] = {};
  int pass = -1;
  PFNGLBEGINQUERYPROC begin = nullptr;
  PFNGLENDQUERYPROC end = nullptr;
  PFNGLGETQUERYOBJECTUI64VPROC get = nullptr;
} queries;
// Samples passed, fragment shader runs, clipper input and output primitives.
const GLenum QUERY_KINDS[PassQueries::KINDS] = {GL_SAMPLES_PASSED, 0x82F4, 0x82F6, 0x82F7};

void queries_open() {
  auto gen = reinterpret_cast<PFNGLGENQUERIESPROC>(test_get_proc("glGenQueries"));
  auto ext = reinterpret_cast<PFNGLGETSTRINGIPROC>(test_get_proc("glGetStringi"));
  auto count = reinterpret_cast<PFNGLGETINTEGERVPROC>(test_get_proc("glGetIntegerv"));
  queries.begin = reinterpret_cast<PFNGLBEGINQUERYPROC>(test_get_proc("glBeginQuery"));
  queries.end = reinterpret_cast<PFNGLENDQUERYPROC>(test_get_proc("glEndQuery"));
  queries.get = reinterpret_cast<PFNGLGETQUERYOBJECTUI64VPROC>(test_get_proc("glGetQueryObjectui64v"));
  bool have = false;
  GLint n = 0;
  if (ext && count) count(GL_NUM_EXTENSIONS, &n);
  for (GLint i = 0; i < n; i++)
    have |= !strcmp(reinterpret_cast<const char *>(ext(GL_EXTENSIONS, GLuint(i))), "GL_ARB_pipeline_statistics_query");
  if (!gen || !queries.begin || !queries.end || !queries.get || !have) {
    fprintf(stderr, "No pipeline statistics on this renderer\n");
    return;
  }
  gen(PassQueries::KINDS, queries.id);
  queries.on = true;
}

void pass_begin(int pass) {
  if (!queries.on) return;
  twgl_flush();
  for (int k = 0; k < PassQueries::KINDS; k++) queries.begin(QUERY_KINDS[k], queries.id[k]);
  queries.pass = pass;
}

void finish() {
  twgl_flush();
  if (queries.on && queries.pass >= 0) {
    for (int k = 0; k < PassQueries::KINDS; k++) {
      queries.end(QUERY_KINDS[k]);
      GLuint64 v = 0;
      queries.get(queries.id[k], GL_QUERY_RESULT, &v);
      queries.sum[queries.pass][k] += static_cast<long long>(v);
    }
    queries.pass = -1;
  }
  twglFinish();
}

// A camera beside the grid looking at its middle: R's columns are right,
// up and backward.
void aim(const float eye[3], const float at[3], float R[9]) {
  float b[3] = {eye[0] - at[0], eye[1] - at[1], eye[2] - at[2]};
  float l = std::sqrt(b[0] * b[0] + b[1] * b[1] + b[2] * b[2]);
  for (float &v : b) v /= l;
  float r[3] = {b[2], 0, -b[0]};  // up x back
  l = std::sqrt(r[0] * r[0] + r[2] * r[2]);
  r[0] /= l, r[2] /= l;
  float u[3] = {b[1] * r[2] - b[2] * r[1], b[2] * r[0] - b[0] * r[2], b[0] * r[1] - b[1] * r[0]};
  for (int i = 0; i < 3; i++) R[3 * i] = r[i], R[3 * i + 1] = u[i], R[3 * i + 2] = b[i];
}

void view(const float eye[3], const float R[9], int rotation_only) {
  float m[16] = {R[0], R[1], R[2], 0, R[3], R[4], R[5], 0, R[6], R[7], R[8], 0, 0, 0, 0, 1};
  if (!rotation_only)
    for (int row = 0; row < 3; row++)
      m[12 + row] = -(R[row] * eye[0] + R[3 + row] * eye[1] + R[6 + row] * eye[2]);
  twglMatrixMode(GL_MODELVIEW);
  twglLoadMatrix(m);
}

}  // namespace

int main(int argc, char **argv) {
  const char *track = "tracks/hollow_creek", *shot = nullptr;
  float distance = 26;  // from the grid's middle, sideways
  int vw = W, vh = H, slot_order = 0, stats = 0;
  for (int i = 1; i < argc; i++) {
    if (!strcmp(argv[i], "--shot") && i + 1 < argc)
      shot = argv[++i];
    else if (!strcmp(argv[i], "--distance") && i + 1 < argc)
      distance = float(atof(argv[++i]));
    else if (!strcmp(argv[i], "--detail") && i + 1 < argc) {
      double md = std::fmin(100, std::fmax(0, atof(argv[++i])));
      double scale = 0.02 * (100 - md), b = std::fmin(1, std::fmax(0, (md - 10) * 0.05));
      scene_settings.lod_scale = float(scale > 1 ? scale * scale * scale : scale);
      scene_settings.lod_bias = float(50 - 50 * b);
      scene_settings.model_detail = float(md);
    } else if (!strcmp(argv[i], "--slot-order"))
      slot_order = 1;
    else if (!strcmp(argv[i], "--stats"))
      stats = 1;
    else if (!strcmp(argv[i], "--frames") && i + 1 < argc)
      FRAMES = atoi(argv[++i]) > 1 ? atoi(argv[i]) : 2;
    else if (!strcmp(argv[i], "--viewport") && i + 2 < argc)
      vw = atoi(argv[i + 1]), vh = atoi(argv[i + 2]), i += 2;
    else
      track = argv[i];
  }
  setenv("TW_HOME", bench_build_folder().c_str(), 0);
  ui_hooks.message = bench_quiet;
  ui_hooks.progress = bench_quiet_progress;
  file_index_build();
  if (track_list_build() == 0 || !track_find(track)) {
    fprintf(stderr, "No track named \"%s\" (is the data generated?)\n", track);
    return 1;
  }
  TestContext c;
  if (!test_context_open(&c, false, W, H) || !gfx_init(test_get_proc, 0)) {
    fprintf(stderr, "No EGL surfaceless context\n");
    return 1;
  }
  gfx_initial_state();
  if (stats) queries_open();
  if (!physics_init()) return 1;
  rider_graphics_install();
  track_hooks.lighting_load = [](const char *folder) {
    lighting_load((std::string("@") + folder + "/lighting").c_str());
  };
  track_hooks.graphics_prepare = scenery_graphics_prepare;
  setup_defaults(&rider_setup);
  race_set_seed(1, 1);
  track_menu_select(track);
  std::vector<int> slots(RIDER_SLOTS, SLOT_EMPTY);
  for (int i = 0; i < 10; i++) slots[size_t(i)] = SLOT_ROBOT;
  if (!load_track(slots.data(), 0, 0, 0, 3, 0)) {
    fprintf(stderr, "The track did not load\n");
    return 1;
  }

  // The grid's middle and heading.
  float mid[3] = {0, 0, 0}, fwd[3] = {0, 0, 0};
  int riders = 0;
  for (int s = 0; s < RIDER_SLOTS; s++)
    if (Rider *r = rider_in_slot(s)) {
      const dReal *p = dBodyGetPosition(r->body[FRAME]), *R = dBodyGetRotation(r->body[FRAME]);
      for (int k = 0; k < 3; k++) mid[k] += float(p[k]), fwd[k] -= float(R[4 * k + 2]);
      riders++;
    }
  for (int k = 0; k < 3; k++) mid[k] /= float(riders ? riders : 1), fwd[k] /= float(riders ? riders : 1);
  float right[3] = {-fwd[2], 0, fwd[0]};
  float k = distance / 26;
  float eye[3] = {mid[0] + (right[0] * 26 + fwd[0] * 16) * k, mid[1] + 5 * k, mid[2] + (right[2] * 26 + fwd[2] * 16) * k};
  float at[3] = {mid[0] - fwd[0] * 4, mid[1] + 1.5f, mid[2] - fwd[2] * 4};
  float R[9];
  aim(eye, at, R);
  double Rd[9], eyed[3] = {eye[0], eye[1], eye[2]};
  for (int i = 0; i < 9; i++) Rd[i] = R[i];
  camera_publish(eyed, Rd, 90, 0);

  // 2000 particles of dirt thrown up behind the grid.
  GLuint dirt = texture_load("@roost.png");
  uint32_t seed = 99;
  auto rnd = [&]() {
    seed = seed * 1664525u + 1013904223u;
    return float(seed >> 8) / 16777216.0f;
  };
  for (int i = 0; i < ROOST_PARTICLES; i++) {
    RoostParticle &p = roost_pool.p[i];
    p.x = mid[0] + (rnd() - 0.5f) * 30 - fwd[0] * (4 + 10 * rnd());
    p.z = mid[2] + (rnd() - 0.5f) * 30 - fwd[2] * (4 + 10 * rnd());
    p.y = terrain_height(p.x, p.z) + 3 * rnd();
    p.size = 0.3f + rnd();
    p.texture = int(dirt);
    p.color[0] = 140, p.color[1] = 105, p.color[2] = 70, p.color[3] = 220;
  }

  const float N = lighting.near_plane, F = lighting.far_plane;
  proj_half_x = 1, proj_half_y = float(H) / W;
  double t_riders = 0, t_statues = 0, t_billboards = 0, t_sky = 0;
  double c_riders = 0, c_statues = 0, c_billboards = 0;
  int64_t polygons = 0;
  int billboard_changes = 0, statue_changes = 0;
  for (int frame = 0; frame < FRAMES; frame++) {
    twglViewport(0, 0, vw > 0 && vw <= W ? vw : W, vh > 0 && vh <= H ? vh : H);
    twglMatrixMode(GL_PROJECTION);
    twglLoadIdentity();
    twglFrustum(-proj_half_x * N, proj_half_x * N, -proj_half_y * N, proj_half_y * N, N, F);
    twglClearColor(0, 0, 0, 1);
    twglClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    double t0 = now_ms();
    twglUseProgram(PROGRAM_UNLIT);
    view(eye, R, 1);
    twglDepthFunc(GL_ALWAYS);
    sky_draw();
    twglDepthFunc(GL_LEQUAL);
    light_position_update(R);
    fog_world_begin();
    view(eye, R, 0);
    finish();
    double t1 = now_ms(), c1 = cpu_ms();
    pass_begin(0);
    model_polygons = 0;
    if (slot_order) {
      for (int s = 0; s < RIDER_SLOTS; s++)
        if (rider_in_slot(s)) rider_draw(s, 0, eye);
    } else {
      int order[RIDER_SLOTS];
      int n = rider_draw_order(eye, order);
      for (int i = 0; i < n; i++) rider_draw(order[i], 0, eye);
    }
    finish();
    double t2 = now_ms(), c2 = cpu_ms();
    scenery_texture_changes = 0;
    pass_begin(1);
    statues_draw(eye);
    finish();
    statue_changes += scenery_texture_changes;
    double t3 = now_ms(), c3 = cpu_ms();
    scenery_texture_changes = 0;
    twglUseProgram(PROGRAM_UNLIT);
    pass_begin(2);
    billboards_draw(eye, R);
    finish();
    billboard_changes += scenery_texture_changes;
    double t4 = now_ms(), c4 = cpu_ms();
    polygons += model_polygons;
    fog_world_end();
    twglMatrixMode(GL_MODELVIEW);
    twglLoadIdentity();
    flares_draw(eye, R);
    finish();
    if (frame > 0) {
      t_sky += t1 - t0, t_riders += t2 - t1, t_statues += t3 - t2, t_billboards += t4 - t3;
      c_riders += c2 - c1, c_statues += c3 - c2, c_billboards += c4 - c3;
    }
  }
  const double n = FRAMES - 1;
  printf("track %s, %d riders, %d statues, %d billboards (%d drawn)\n", track, riders, statue_count,
         billboard_count, billboard_frame_count);
  printf("ms per pass           wall      cpu\n");
  printf("sky:                  %7.2f\n", t_sky / n);
  printf("riders:               %7.2f  %7.2f\n", t_riders / n, c_riders / n);
  printf("statues:              %7.2f  %7.2f\n", t_statues / n, c_statues / n);
  printf("billboards (sorted):  %7.2f  %7.2f\n", t_billboards / n, c_billboards / n);
  printf("riders+statues+bb:    %7.2f  %7.2f per frame\n", (t_riders + t_statues + t_billboards) / n,
         (c_riders + c_statues + c_billboards) / n);
  if (queries.on) {
    printf("per frame            visible px  shader runs (4x4 blocks)  triangles in/out of the clipper\n");
    const char *names[3] = {"riders:", "statues:", "billboards:"};
    for (int p = 0; p < 3; p++) {
      const long long *q = queries.sum[p];
      printf("%-20s %11lld  %11lld (%6lld)  %lld / %lld\n", names[p], q[0] / FRAMES, q[1] / FRAMES, q[1] / FRAMES / 16,
             q[2] / FRAMES, q[3] / FRAMES);
    }
  }
  printf("model polygons:       %7lld a frame\n", static_cast<long long>(polygons / FRAMES));
  printf("texture changes:      %7d statues, %d billboards a frame\n", statue_changes / FRAMES, billboard_changes / FRAMES);

  // Sorting 3000 billboards on their own.
  while (billboard_count < 3000) billboard_create(mid[0] + (rnd() - 0.5f) * 400, 0, mid[2] + (rnd() - 0.5f) * 400, 3, 0.5f, nullptr);
  for (int i = ROOST_PARTICLES; i < billboard_count; i++)
    if (!billboards[i].texture) billboards[i].texture = int(dirt);
  std::vector<int> order(size_t(billboard_count) + 1), scratch(order.size());
  double s0 = now_ms();
  const int SORTS = 200;
  int sorted = 0;
  for (int i = 0; i < SORTS; i++) sorted = billboards_sort(eye, R, order.data(), scratch.data());
  printf("sort of %d billboards (%d in front): %.3f ms\n", billboard_count, sorted, (now_ms() - s0) / SORTS);

  if (shot) {
    std::vector<uint8_t> rgba = test_read_pixels(&c), rgb(size_t(W) * H * 3);
    for (size_t i = 0; i < size_t(W) * H; i++)
      for (size_t k = 0; k < 3; k++) rgb[i * 3 + k] = rgba[i * 4 + k];
    if (!image_write_rgb(shot, rgb.data(), W, H)) fprintf(stderr, "Can't write %s\n", shot);
  }
  free_track();
  physics_shutdown();
  scenery_graphics_free();
  model_purge(1);
  gfx_shutdown();
  test_context_close(&c);
  track_list_free();
  file_index_free();
  return 0;
}
