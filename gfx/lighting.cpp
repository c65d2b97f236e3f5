// The track's lighting file, the sky box, the sun handed to the lit
// programs, and lens flares tested against the finished picture.
#include "gfx/lighting.h"

#include <cmath>
#include <initializer_list>
#include <cstdio>
#include <cstring>

#include "core/core.h"
#include "gfx/gl_table.h"
#include "gfx/model.h"
#include "terrain/terrain.h"

Lighting lighting;

namespace {

Flare pending;

bool have_gl() { return gl.GenTextures != nullptr && gl.UseProgram != nullptr; }

GLuint load_image(const char *name) {
  if (!have_gl() || !name || !name[0]) return 0;
  return texture_load(name);
}

void new_pending(int kind) {
  pending = Flare();
  pending.kind = kind;
}

void append_pending() {
  if (lighting.flare_count == lighting.flare_capacity) {
    int cap = lighting.flare_capacity ? lighting.flare_capacity * 2 : 16;
    Flare *grown = static_cast<Flare *>(mem_realloc(lighting.flares, size_t(cap) * sizeof(Flare)));
    if (!grown) return;
    lighting.flares = grown;
    lighting.flare_capacity = cap;
  }
  lighting.flares[lighting.flare_count++] = pending;
}

// " [ %f %f %f ] " into v when every converted number is finite; numbers
// that do not convert leave the old values.
void read_vector(const char *arg, float v[3]) {
  float t[3] = {v[0], v[1], v[2]};
  sscanf(arg, " [ %f %f %f ] ", &t[0], &t[1], &t[2]);
  if (std::isfinite(t[0]) && std::isfinite(t[1]) && std::isfinite(t[2])) v[0] = t[0], v[1] = t[1], v[2] = t[2];
}

void read_float(const char *arg, float *v) {
  float t;
  if (sscanf(arg, "%f", &t) == 1 && std::isfinite(t)) *v = t;
}

bool all_finite(const float *v, int n) {
  for (int i = 0; i < n; i++)
    if (!std::isfinite(v[i])) return false;
  return true;
}

// One line; false for an unknown keyword (reading ends).
bool read_line(char *line) {
  char *p = line;
  while (*p == ' ' || *p == '\t') p++;
  size_t n = strlen(p);
  while (n > 0 && (p[n - 1] == '\n' || p[n - 1] == '\r' || p[n - 1] == ' ' || p[n - 1] == '\t')) p[--n] = 0;
  if (!*p) return true;
  char *key = p;
  while (*p && *p != ' ' && *p != '\t') p++;
  if (*p) *p++ = 0;
  while (*p == ' ' || *p == '\t') p++;
  const char *arg = p;
  static const char *const sky_keys[6] = {"sky_n", "sky_e", "sky_s", "sky_w", "sky_u", "sky_env"};
  unsigned *sky[6] = {&lighting.sky_n, &lighting.sky_e, &lighting.sky_s, &lighting.sky_w, &lighting.sky_u, &lighting.sky_env};
  if (!strcmp(key, "sun_vector")) {
    read_vector(arg, lighting.sun_vector);
  } else if (!strcmp(key, "sun_color")) {
    read_vector(arg, lighting.sun_color);
  } else if (!strcmp(key, "ambient")) {
    read_vector(arg, lighting.ambient);
  } else if (!strcmp(key, "global_ambient")) {
    read_vector(arg, lighting.global_ambient);
  } else if (!strcmp(key, "flare_element")) {
    float v[6];
    char name[1024];
    if (sscanf(arg, " [ %f %f ] [ %f %f %f ] %f %1023s", &v[0], &v[1], &v[2], &v[3], &v[4], &v[5], name) == 7 &&
        all_finite(v, 6) && pending.element_count < 8) {
      FlareElement &e = pending.element[pending.element_count++];
      e.placement[0] = v[0], e.placement[1] = v[1];
      e.color[0] = v[2], e.color[1] = v[3], e.color[2] = v[4];
      e.size = v[5];
      e.texture = load_image(name);
    }
  } else if (!strcmp(key, "flare_point") || !strcmp(key, "flare_vector")) {
    read_vector(arg, pending.position);
    pending.kind = key[6] == 'v' ? 1 : 0;
    append_pending();
    new_pending(1);
  } else if (!strcmp(key, "fog")) {
    float v[4];
    if (sscanf(arg, " [ %f %f %f ] %f ", &v[0], &v[1], &v[2], &v[3]) == 4 && all_finite(v, 4)) {
      for (int i = 0; i < 3; i++) lighting.fog_color[i] = v[i];
      lighting.fog_density = v[3];
    }
  } else if (!strcmp(key, "dynamic_lighting")) {
    lighting.dynamic_lighting = atoi(arg) > 0 ? 1 : 0;
  } else if (!strcmp(key, "near_plane")) {
    read_float(arg, &lighting.near_plane);
  } else if (!strcmp(key, "far_plane")) {
    read_float(arg, &lighting.far_plane);
  } else {
    for (int i = 0; i < 6; i++)
      if (!strcmp(key, sky_keys[i])) {
        *sky[i] = load_image(arg);
        return true;
      }
    add_messagef("Error reading lighting: Unknown identifier '%.950s'\n", key);
    return false;
  }
  return true;
}

}  // namespace

void lighting_reset() {
  const Lighting d;
  memcpy(lighting.sun_vector, d.sun_vector, sizeof d.sun_vector);
  memcpy(lighting.sun_color, d.sun_color, sizeof d.sun_color);
  memcpy(lighting.ambient, d.ambient, sizeof d.ambient);
  memcpy(lighting.global_ambient, d.global_ambient, sizeof d.global_ambient);
  lighting.near_plane = d.near_plane;
  lighting.far_plane = d.far_plane;
  lighting.dynamic_lighting = 0;
  lighting.fog_density = 0;
  lighting.sky_n = lighting.sky_e = lighting.sky_s = lighting.sky_w = lighting.sky_u = lighting.sky_env = 0;
  lighting.flare_count = 0;
  new_pending(1);
}

void lighting_free() {
  mem_free(lighting.flares);
  lighting.flares = nullptr;
  lighting.flare_count = lighting.flare_capacity = 0;
}

void lighting_load(const char *path) {
  // A missing file reads as an empty one: the sky and the fog of the last
  // track must not stay.
  DataFile *f = path ? data_open(path, "r") : nullptr;
  lighting_read(f);
  data_close(f);
}

void lighting_read(DataFile *f) {
  lighting_reset();
  static const char PROGRESS[] = "Loading lighting";
  show_progress(PROGRESS);
  if (f) {
    char line[1024];
    while (data_gets(f, line, sizeof line)) {
      loading_refresh();
      if (!read_line(line)) break;
    }
  }
  float &n = lighting.near_plane, &fp = lighting.far_plane;
  n = std::fmax(std::fmin(n, 0.875f), 0.0009765625f);
  fp = n > fp ? n : std::fmin(fp, 1048576.0f);
  float *s = lighting.sun_vector;
  float len = std::sqrt(s[0] * s[0] + s[1] * s[1] + s[2] * s[2]);
  if (len > 0 && std::isfinite(len)) {
    for (int i = 0; i < 3; i++) s[i] /= len;
  } else {
    const Lighting d;
    memcpy(s, d.sun_vector, sizeof d.sun_vector);
  }
  static const char *const defaults[6] = {"@sky-n.ppm", "@sky-e.ppm", "@sky-s.ppm",
                                          "@sky-w.ppm", "@sky-u.ppm", "@sky-env.ppm"};
  unsigned *sky[6] = {&lighting.sky_n, &lighting.sky_e, &lighting.sky_s, &lighting.sky_w, &lighting.sky_u, &lighting.sky_env};
  for (int i = 0; i < 6; i++)
    if (!*sky[i]) {
      loading_refresh();
      *sky[i] = load_image(defaults[i]);
    }
  // The ground's baked shading follows the same sun.
  for (int i = 0; i < 3; i++) {
    terrain_light.sun[i] = lighting.sun_vector[i];
    terrain_light.diffuse[i] = lighting.sun_color[i];
    terrain_light.ambient[i] = lighting.ambient[i];
  }
  char done[96];
  snprintf(done, sizeof done, "%.64s...done", PROGRESS);
  show_progress(done);
  if (!have_gl()) return;
  for (int p : {PROGRAM_NORM_SPEC_LIT, PROGRAM_TERRAIN, PROGRAM_UNLIT}) {
    twglUseProgram(p);
    twglSetFogDensity(lighting.fog_density);
    twglSetFogColor(lighting.fog_color);
  }
}

void sky_draw() {
  static const float faces[5][4][3] = {
      {{-1, 1, -1}, {-1, -1, -1}, {1, -1, -1}, {1, 1, -1}},
      {{1, 1, -1}, {1, -1, -1}, {1, -1, 1}, {1, 1, 1}},
      {{1, 1, 1}, {1, -1, 1}, {-1, -1, 1}, {-1, 1, 1}},
      {{-1, 1, 1}, {-1, -1, 1}, {-1, -1, -1}, {-1, 1, -1}},
      {{-1, 1, 1}, {-1, 1, -1}, {1, 1, -1}, {1, 1, 1}},
  };
  static const float tc[4][2] = {{1 / 128.0f, 1 / 128.0f}, {1 / 128.0f, 127 / 128.0f},
                                 {127 / 128.0f, 127 / 128.0f}, {127 / 128.0f, 1 / 128.0f}};
  const unsigned images[5] = {lighting.sky_n, lighting.sky_e, lighting.sky_s, lighting.sky_w, lighting.sky_u};
  twglDepthMask(GL_FALSE);
  twglDisable(GL_BLEND);
  twglPushMatrix();
  twglActiveTexture(GL_TEXTURE0);
  for (int f = 0; f < 5; f++) {
    twglBindTexture(GL_TEXTURE_2D, images[f] ? images[f] : twgl_white_texture);
    twglBegin(GL_QUADS);
    twglColor(1, 1, 1, 1);
    for (int v = 0; v < 4; v++) {
      twglTexCoord(tc[v][0], tc[v][1]);
      twglVertex(faces[f][v][0], faces[f][v][1], faces[f][v][2]);
    }
    twglEnd();
  }
  twglPopMatrix();
  twglDepthMask(GL_TRUE);
}

void light_position_update(const float R[9]) {
  const float *s = lighting.sun_vector;
  float eye[3];
  for (int c = 0; c < 3; c++) eye[c] = R[c] * s[0] + R[3 + c] * s[1] + R[6 + c] * s[2];
  for (int p : {PROGRAM_NORM_SPEC_LIT, PROGRAM_TERRAIN}) {
    twglUseProgram(p);
    twglSetLightPosition(eye);
  }
  twglUseProgram(PROGRAM_UNLIT);
}

void fog_world_begin() {
  if (lighting.fog_density > 0) twglSetFogDensity(lighting.fog_density);
}

void fog_world_end() {
  if (lighting.fog_density > 0) twglSetFogDensity(0);
}

static float clamp01(float v) { return v < 0 ? 0 : v > 1 ? 1 : v; }

// Fades a flare within K of a screen edge.
static float edge_fade(float s, float X, float K) {
  if (s < K - X) return clamp01((X + s) / K);
  if (s > X - K) return clamp01((X - s) / K);
  return 1;
}

void flares_draw(const float camera[3], const float R[9]) {
  if (!scene_settings.lens_flare || lighting.flare_count == 0) return;
  const float X = proj_half_x, Y = proj_half_y;
  GLint vp[4] = {0, 0, 0, 0};
  twgl_flush();
  if (gl.GetIntegerv) gl.GetIntegerv(GL_VIEWPORT, vp);
  const int width = vp[2], height = vp[3];
  const float N = lighting.near_plane, F = lighting.far_plane;
  for (int i = 0; i < lighting.flare_count; i++) {
    Flare &fl = lighting.flares[i];
    fl.visibility = 0;
    float d[3];
    for (int k = 0; k < 3; k++) d[k] = fl.kind ? fl.position[k] : fl.position[k] - camera[k];
    float ex = R[0] * d[0] + R[3] * d[1] + R[6] * d[2];
    float ey = R[1] * d[0] + R[4] * d[1] + R[7] * d[2];
    float ez = R[2] * d[0] + R[5] * d[1] + R[8] * d[2];
    float depth_ahead = -ez;
    if (!(ex >= -X * depth_ahead && ex <= X * depth_ahead && ey >= -Y * depth_ahead && ey <= Y * depth_ahead)) continue;
    if (!(depth_ahead > 0)) continue;
    float sx = ex / depth_ahead, sy = ey / depth_ahead;
    fl.screen[0] = sx, fl.screen[1] = sy;
    int px = int(std::floor(clamp01((sx + X) / (2 * X)) * float(width)));
    int py = int(std::floor(clamp01((sy + Y) / (2 * Y)) * float(height)));
    if (px < 0 || px >= width || py < 0 || py >= height) continue;
    uint8_t rgb[3] = {0, 0, 0};
    twglReadPixels(vp[0] + px, vp[1] + py, 1, 1, GL_RGB, GL_UNSIGNED_BYTE, rgb);
    if (rgb[0] <= 223 || rgb[1] <= 223 || rgb[2] <= 223) continue;
    float depth = 1;
    if (!twgl_gles) twglReadPixels(vp[0] + px, vp[1] + py, 1, 1, GL_DEPTH_COMPONENT, GL_FLOAT, &depth);
    float f = (-(F * N) / (depth * (F - N) - F) - N) / (F - N);
    float own = fl.kind ? 0.4f : clamp01((depth_ahead - 0.25f) * 0.00020001f);
    if (own > f) continue;
    float K = std::fmin(X, Y) / 32;
    fl.visibility = std::fmin(edge_fade(sx, X, K), edge_fade(sy, Y, K));
  }
  twglEnable(GL_BLEND);
  twglBlendFunc(GL_SRC_ALPHA, GL_ONE);
  twglActiveTexture(GL_TEXTURE0);
  for (int i = 0; i < lighting.flare_count; i++) {
    const Flare &fl = lighting.flares[i];
    if (fl.visibility == 0) continue;
    float sx = fl.screen[0], sy = fl.screen[1];
    for (int e = 0; e < fl.element_count; e++) {
      const FlareElement &el = fl.element[e];
      twglBindTexture(GL_TEXTURE_2D, el.texture ? el.texture : twgl_white_texture);
      float a = el.placement[0], b = el.placement[1], sz = el.size;
      float cx = a * sy + b * sx, cy = b * sy - a * sx;
      twglBegin(GL_QUADS);
      twglColor(el.color[0] * fl.visibility, el.color[1] * fl.visibility, el.color[2] * fl.visibility, 1);
      twglTexCoord(0, 1), twglVertexScreen(cx - sz, cy + sz);
      twglTexCoord(0, 0), twglVertexScreen(cx - sz, cy - sz);
      twglTexCoord(1, 0), twglVertexScreen(cx + sz, cy - sz);
      twglTexCoord(1, 1), twglVertexScreen(cx + sz, cy + sz);
      twglEnd();
    }
  }
  twglBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
}
