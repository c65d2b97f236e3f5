// The default track's ground drawn alone at 1280 x 720 with no window (EGL
// surfaceless, Mesa's software renderer here), the camera riding one lap of
// the course's centre line at eye height, 40 ft/s at 30 frames a second.
//
//   bench_ground [TRACK_FOLDER] [--texture-size N] [--shot FILE] [--frames N]
//                [--empty] [--quarter]   (the frame without the ground; 640 x 360)
//
// Prints the renderer, frame times (median, 95th percentile, worst; frames
// that redrew a detail level apart), the processor time of a frame over
// all threads (the renderer's included), triangles and batches a frame,
// and the CPU time of the node pass.
#include <EGL/egl.h>
#include <EGL/eglext.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "bench/bench_common.h"
#include "core/core.h"
#include "core/log.h"
#include "gfx/gfx.h"
#include "gfx/gl_table.h"
#include "gfx/lighting.h"
#include "gfx/terrain_render.h"
#include "terrain/deform.h"
#include "terrain/terrain_lod.h"
#include "tools/course/track_layout.h"

namespace {

const int WIDTH = 1280, HEIGHT = 720;

void *proc(const char *name) { return reinterpret_cast<void *>(eglGetProcAddress(name)); }

bool open_context() {
  auto get_display =
      reinterpret_cast<PFNEGLGETPLATFORMDISPLAYEXTPROC>(eglGetProcAddress("eglGetPlatformDisplayEXT"));
  if (!get_display) return false;
  EGLDisplay dpy = get_display(EGL_PLATFORM_SURFACELESS_MESA, EGL_DEFAULT_DISPLAY, nullptr);
  if (dpy == EGL_NO_DISPLAY || !eglInitialize(dpy, nullptr, nullptr)) return false;
  if (!eglBindAPI(EGL_OPENGL_API)) return false;
  const EGLint attrs[] = {EGL_CONTEXT_MAJOR_VERSION, 3, EGL_CONTEXT_MINOR_VERSION, 2,
                          EGL_CONTEXT_OPENGL_PROFILE_MASK, EGL_CONTEXT_OPENGL_CORE_PROFILE_BIT,
                          EGL_NONE};
  EGLContext ctx = eglCreateContext(dpy, EGL_NO_CONFIG_KHR, EGL_NO_CONTEXT, attrs);
  return ctx != EGL_NO_CONTEXT && eglMakeCurrent(dpy, EGL_NO_SURFACE, EGL_NO_SURFACE, ctx);
}

// The window's stand-in: colour and depth textures in a framebuffer.
bool make_target() {
  GLuint tex[2], fbo;
  twglGenTextures(2, tex);
  twglBindTexture(GL_TEXTURE_2D, tex[0]);
  twglTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, WIDTH, HEIGHT, GL_RGBA, GL_UNSIGNED_BYTE, nullptr);
  twglBindTexture(GL_TEXTURE_2D, tex[1]);
  twglTexImage2D(GL_TEXTURE_2D, 0, GL_DEPTH_COMPONENT24, WIDTH, HEIGHT, GL_DEPTH_COMPONENT,
                 GL_UNSIGNED_INT, nullptr);
  twglBindTexture(GL_TEXTURE_2D, 0);
  twglGenFramebuffers(1, &fbo);
  twglBindFramebuffer(GL_FRAMEBUFFER, fbo);
  twglFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, tex[0], 0);
  twglFramebufferTexture2D(GL_FRAMEBUFFER, GL_DEPTH_ATTACHMENT, GL_TEXTURE_2D, tex[1], 0);
  twglViewport(0, 0, WIDTH, HEIGHT);
  return twglCheckFramebufferStatus(GL_FRAMEBUFFER) == GL_FRAMEBUFFER_COMPLETE;
}

double now_ms() {
  using namespace std::chrono;
  return duration<double, std::milli>(steady_clock::now().time_since_epoch()).count();
}

// The node pass runs on this thread alone: its CPU time, not the wall's.
double cpu_ms() {
  timespec t;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return double(t.tv_sec) * 1e3 + double(t.tv_nsec) * 1e-6;
}

// Every thread of the process, the renderer's included: steadier than the
// wall clock when other work shares the processors.
double process_cpu_ms() {
  timespec t;
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return double(t.tv_sec) * 1e3 + double(t.tv_nsec) * 1e-6;
}

double percentile(std::vector<double> v, double p) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  size_t k = size_t(p * double(v.size() - 1) + 0.5);
  return v[std::min(k, v.size() - 1)];
}

// Camera at `eye` looking along `f` (unit): sets both matrices and returns
// the world-to-eye rotation (rows) for the light.
void look(const float eye[3], const float f[3], float rot[9]) {
  float r[3] = {-f[2], 0, f[0]};  // f x up
  float rl = sqrtf(r[0] * r[0] + r[2] * r[2]);
  r[0] /= rl, r[2] /= rl;
  float u[3] = {r[1] * f[2] - r[2] * f[1], r[2] * f[0] - r[0] * f[2], r[0] * f[1] - r[1] * f[0]};
  const float rows[9] = {r[0], r[1], r[2], u[0], u[1], u[2], -f[0], -f[1], -f[2]};
  memcpy(rot, rows, sizeof rows);
  float m[16] = {0};
  for (int i = 0; i < 3; i++) {
    for (int j = 0; j < 3; j++) m[j * 4 + i] = rows[i * 3 + j];
    m[12 + i] = -(rows[i * 3] * eye[0] + rows[i * 3 + 1] * eye[1] + rows[i * 3 + 2] * eye[2]);
  }
  m[15] = 1;
  twglMatrixMode(GL_PROJECTION);
  twglLoadIdentity();
  const float n = 0.25f, aspect = float(HEIGHT) / WIDTH;
  twglFrustum(-n, n, -n * aspect, n * aspect, n, 5000);  // 90 degrees across
  twglMatrixMode(GL_MODELVIEW);
  twglLoadMatrix(m);
}

}  // namespace

int main(int argc, char **argv) {
  std::string folder, shot;
  int texture_size = 256, frame_limit = 0, empty = 0, quarter = 0;
  for (int i = 1; i < argc; i++) {
    if (!strcmp(argv[i], "--texture-size") && i + 1 < argc) texture_size = atoi(argv[++i]);
    else if (!strcmp(argv[i], "--shot") && i + 1 < argc) shot = argv[++i];
    else if (!strcmp(argv[i], "--frames") && i + 1 < argc) frame_limit = atoi(argv[++i]);
    else if (!strcmp(argv[i], "--empty")) empty = 1;  // the frame without the ground
    else if (!strcmp(argv[i], "--quarter")) quarter = 1;  // a quarter of the pixels
    else if (argv[i][0] != '-') folder = argv[i];
    else {
      fprintf(stderr, "usage: bench_ground [TRACK_FOLDER] [--texture-size N] [--shot FILE] [--frames N] [--empty] [--quarter]\n");
      return 2;
    }
  }
  std::string build = bench_build_folder();
  setenv("TW_HOME", build.c_str(), 0);
  if (folder.empty()) folder = build + "/tracks/hollow_creek";
  ui_hooks.message = bench_quiet;
  ui_hooks.progress = bench_quiet_progress;

  if (!open_context() || !gfx_init(proc, 0)) {
    fprintf(stderr, "no GL context (EGL surfaceless)\n");
    return 1;
  }
  printf("renderer: %s\n", reinterpret_cast<const char *>(gl.GetString(GL_RENDERER)));
  if (!make_target()) {
    fprintf(stderr, "can't make the framebuffer\n");
    return 1;
  }
  gfx_initial_state();
  if (quarter) twglViewport(0, 0, WIDTH / 2, HEIGHT / 2);
  ground_settings.texture_size = texture_size;
  terrain_render_attach();
  decals_attach();
  double t0 = now_ms();
  if (!terrain_load(folder.c_str())) {
    fprintf(stderr, "can't load the track in %s\n", folder.c_str());
    return 1;
  }
  printf("track: %s, %d x %d samples, level textures %d x %d; loaded in %.0f ms\n", folder.c_str(),
         terrain.size, terrain.size, texture_size, texture_size, now_ms() - t0);
  for (int k = 0; k < 3; k++) {
    lighting.sun_vector[k] = terrain_light.sun[k];
    lighting.sun_color[k] = terrain_light.diffuse[k];
    lighting.ambient[k] = terrain_light.ambient[k];
  }

  // A whole node pass, then slices of one as the main loop runs them.
  lod_set_tolerance(lod.tolerance);
  t0 = cpu_ms();
  lod_pass(LONG_MAX);
  double full_pass = cpu_ms() - t0;

  const GenTrackLayout &layout = gen_track_layout();
  const float speed = 40, fps = 30, eye_height = 5.5f, pitch = 0.12f;
  int frames = int(layout.length / (speed / fps));
  if (frame_limit > 0 && frame_limit < frames) frames = frame_limit;
  std::vector<double> plain, rebuild, slices, plain_cpu;
  double triangles = 0, batches = 0;
  // Once every level is built, with the start line ahead.
  int shot_frame = std::min(frames - 1, 10);
  const float first_s = layout.start_s - 40;
  terrain.change_count++;  // the ground keeps changing, as under riders
  for (int i = 0; i < frames; i++) {
    GenTrackPoint p = gen_track_point_at(first_s + float(i) * speed / fps);
    float eye[3] = {p.x, 0, p.z};
    eye[1] = terrain_height(eye[0], eye[2]) + eye_height;
    float dir[3] = {p.tx * cosf(pitch), -sinf(pitch), p.tz * cosf(pitch)};
    double start = now_ms(), start_cpu = process_cpu_ms();
    double s0 = cpu_ms();
    if (!lod.running) terrain.change_count++;
    terrain_update_frame();
    slices.push_back(cpu_ms() - s0);
    terrain_set_viewer(eye, dir);
    terrain_texture_step(eye);
    int passes = ground_stats.level_passes;
    float rot[9];
    twglClearColor(0.45f, 0.62f, 0.85f, 1);
    twglClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    twglEnable(GL_DEPTH_TEST);
    twglDepthFunc(GL_ALWAYS);
    twglDepthMask(GL_TRUE);
    look(eye, dir, rot);
    if (!empty) twglUseProgram(PROGRAM_TERRAIN);
    float l[3];
    for (int k = 0; k < 3; k++)
      l[k] = rot[k * 3] * lighting.sun_vector[0] + rot[k * 3 + 1] * lighting.sun_vector[1] +
             rot[k * 3 + 2] * lighting.sun_vector[2];
    twglSetLightPosition(l);
    twglSetFogDensity(0);
    if (!empty) terrain_draw(eye);
    twglFinish();
    double ms = now_ms() - start;
    (passes ? rebuild : plain).push_back(ms);
    if (!passes) plain_cpu.push_back(process_cpu_ms() - start_cpu);
    triangles += ground_stats.triangles;
    batches += ground_stats.batches;
    if (i == shot_frame && !shot.empty()) {
      std::vector<uint8_t> rgb(size_t(WIDTH) * HEIGHT * 3);
      gfx_read_frame_rgb(rgb.data(), WIDTH, HEIGHT);
      if (!image_write_rgb(shot.c_str(), rgb.data(), WIDTH, HEIGHT))
        fprintf(stderr, "can't write %s\n", shot.c_str());
    }
  }
  printf("frames: %d (%d drew without a level rebuild, %d with one)\n", frames, int(plain.size()),
         int(rebuild.size()));
  printf("ms per frame:        median %6.2f   95%% %6.2f   worst %6.2f\n", percentile(plain, 0.5),
         percentile(plain, 0.95), percentile(plain, 1));
  printf("processor ms:        median %6.2f   95%% %6.2f   (all threads, frames without a rebuild)\n",
         percentile(plain_cpu, 0.5), percentile(plain_cpu, 0.95));
  printf("rebuild frames (ms): median %6.2f   95%% %6.2f   worst %6.2f\n", percentile(rebuild, 0.5),
         percentile(rebuild, 0.95), percentile(rebuild, 1));
  printf("per frame: %.0f triangles, %.1f batches\n", triangles / frames, batches / frames);
  double mean_slice = 0;
  for (double s : slices) mean_slice += s;
  printf("node pass (CPU): %.3f ms per frame (8000 units), %.0f ms for a whole pass\n",
         mean_slice / double(slices.size()), full_pass);
  terrain_free();
  gfx_shutdown();
  return 0;
}
