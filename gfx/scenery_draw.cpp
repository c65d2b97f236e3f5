// Billboards sorted far to near with a radix sort and grouped by texture
// where that cannot change the picture, the two statue passes, the scenery
// files the editor writes, and world labels.
#include "gfx/scenery_draw.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

#include "bike/rider.h"
#include "core/core.h"
#include "gfx/gfx.h"
#include "gfx/gl_table.h"
#include "gfx/lighting.h"
#include "gfx/model.h"
#include "race/scenery.h"
#include "terrain/deform.h"

StatueGraphics *statue_graphics = nullptr;
int statue_graphics_count = 0;
int billboard_frame_count = 0;
int scenery_texture_changes = 0;

namespace {

int statue_graphics_capacity = 0;
std::vector<int> sort_order, sort_scratch;

bool have_gl() { return gl.GenTextures != nullptr; }

GLuint load(const char *name) { return have_gl() && name && name[0] ? texture_load(name) : 0; }

void ensure_statue_graphics() {
  if (statue_count < statue_graphics_count) {  // emptied since: start over
    for (int i = 0; i < statue_graphics_count; i++) {
      mem_free(statue_graphics[i].rest_centres);
      mem_free(statue_graphics[i].centres);
      mem_free(statue_graphics[i].rotations);
    }
    statue_graphics_count = 0;
  }
  if (statue_count <= statue_graphics_capacity) {
    if (statue_count > statue_graphics_count) {
      memset(statue_graphics + statue_graphics_count, 0, size_t(statue_count - statue_graphics_count) * sizeof(StatueGraphics));
      statue_graphics_count = statue_count;
    }
    return;
  }
  int cap = statue_graphics_capacity ? statue_graphics_capacity : 64;
  while (cap < statue_count) cap *= 2;
  StatueGraphics *grown = static_cast<StatueGraphics *>(mem_alloc_or_die(size_t(cap) * sizeof(StatueGraphics)));
  memset(grown, 0, size_t(cap) * sizeof(StatueGraphics));
  if (statue_graphics) memcpy(grown, statue_graphics, size_t(statue_graphics_count) * sizeof(StatueGraphics));
  mem_free(statue_graphics);
  statue_graphics = grown;
  statue_graphics_capacity = cap;
  statue_graphics_count = statue_count;
}

bool ends_with(const char *s, const char *tail) {
  size_t n = strlen(s), t = strlen(tail);
  return n >= t && strcmp(s + n - t, tail) == 0;
}

GLuint companion(const char *texture, const char *model, const char *kind) {
  char names[6][1024];
  int n = companion_candidates(texture, model, kind, names);
  for (int i = 0; i < n; i++)
    if (GLuint id = load(names[i])) return id;
  return 0;
}

void load_statue(int i) {
  const Statue &s = statues[i];
  StatueGraphics &g = statue_graphics[i];
  if (g.model || !s.model_name[0]) return;
  g.model = model_get(s.model_name);
  if (!g.model || !s.texture_name[0]) return;
  g.texture = load(s.texture_name);
  g.normal_map = companion(s.texture_name, s.model_name, "_norm");
  g.specular_map = companion(s.texture_name, s.model_name, "_spec");
}

void radix_sort(int *keys_of, int *order, int *scratch, int n) {
  for (int shift = 0; shift < 32; shift += 8) {
    int count[257] = {0};
    for (int i = 0; i < n; i++) count[((unsigned(keys_of[order[i]]) >> shift) & 255) + 1]++;
    for (int b = 0; b < 256; b++) count[b + 1] += count[b];
    for (int i = 0; i < n; i++) scratch[count[(unsigned(keys_of[order[i]]) >> shift) & 255]++] = order[i];
    memcpy(order, scratch, size_t(n) * sizeof(int));
  }
}

// The pool's particles are drawn through the first billboards.
void sync_roost() {
  int n = billboard_count < ROOST_PARTICLES ? billboard_count : ROOST_PARTICLES;
  for (int i = 0; i < n; i++) {
    const RoostParticle &p = roost_pool.p[i];
    Billboard &b = billboards[i];
    b.x = p.x, b.y = p.y, b.z = p.z;
    b.height = p.size;
    b.width_ratio = 1;
    b.texture = p.texture;
    memcpy(b.color, p.color, 4);
  }
}

float cross2(float ax, float az, float bx, float bz) { return ax * bz - az * bx; }

// The part of a billboard's quad worth drawing. Its picture's clear border
// adds nothing to the picture under blending, yet the software renderer
// shades every pixel of it: the quad is cut to where the levels the
// sampler may take there are not clear. The level is bounded by the
// fewest pixels a texel covers at the quad's corners.
struct QuadTrim {
  float mvp[16];
  float half_w, half_h;  // the viewport's, in pixels
};

void clip_of(const float *m, const float *p, float w, float *o) {
  for (int r = 0; r < 4; r++) o[r] = m[r] * p[0] + m[4 + r] * p[1] + m[8 + r] * p[2] + m[12 + r] * w;
}

// Whether the upright quad from (x0, y, z0) to (x1, y + h, z1) lies wholly
// outside one side of the view volume (a hair's margin kept), so that it
// would put no pixel on the screen.
bool quad_out_of_view(const QuadTrim &q, float x0, float z0, float x1, float z1, float y, float h) {
  const float P[4][3] = {{x0, y, z0}, {x1, y, z1}, {x0, y + h, z0}, {x1, y + h, z1}};
  int out[6] = {0, 0, 0, 0, 0, 0};
  for (const float *p : P) {
    float c[4];
    clip_of(q.mvp, p, 1, c);
    float w = c[3] + std::fabs(c[3]) * 1e-4f + 1e-6f;  // a margin on either side of the eye
    out[0] += c[0] < -w, out[1] += c[0] > w, out[2] += c[1] < -w, out[3] += c[1] > w, out[4] += c[2] < -w,
    out[5] += c[2] > w;
  }
  for (int side : out)
    if (side == 4) return true;
  return false;
}

// The coarsest level the sampler can take anywhere on the quad with top
// left corner D and edge vectors S (s from 0 to 1) and T (t from 0 to 1),
// for a picture of tw x th texels; -1 when it cannot be bounded.
int coarsest_level(const QuadTrim &q, const float *D, const float *S, const float *T, int tw, int th) {
  float cD[4], cS[4], cT[4];
  clip_of(q.mvp, D, 1, cD), clip_of(q.mvp, S, 0, cS), clip_of(q.mvp, T, 0, cT);
  float least = HUGE_VALF;  // smallest squared singular value: pixels per texel
  int seen = 0;
  for (int corner = 0; corner < 4; corner++) {
    float s = float(corner & 1), t = float(corner >> 1), c[4];
    for (int k = 0; k < 4; k++) c[k] = cD[k] + s * cS[k] + t * cT[k];
    if (!(c[3] > 1e-6f)) continue;  // behind the eye: not where the picture is finest
    float w2 = c[3] * c[3];
    float a = q.half_w * (cS[0] * c[3] - c[0] * cS[3]) / w2 / float(tw);
    float b = q.half_w * (cT[0] * c[3] - c[0] * cT[3]) / w2 / float(th);
    float e = q.half_h * (cS[1] * c[3] - c[1] * cS[3]) / w2 / float(tw);
    float f = q.half_h * (cT[1] * c[3] - c[1] * cT[3]) / w2 / float(th);
    float sum = a * a + b * b + e * e + f * f, det = a * f - b * e;
    float disc = sum * sum - 4 * det * det;
    float sigma2 = (sum - std::sqrt(disc > 0 ? disc : 0)) * 0.5f;
    least = std::fmin(least, sigma2);
    seen++;
  }
  if (!seen || !(least > 1e-12f) || !std::isfinite(least)) return -1;
  // The sampler's level is log2 of texels per pixel, which GL lets it
  // overstate by up to half a level (the software renderer does not); a
  // quarter more for safety. Levels up to one past its floor are read.
  float level = -0.5f * std::log2(least) + (twgl_software ? 0.25f : 0.75f);
  return level < 0 ? 0 : level > 30 ? 31 : int(level) + 1;
}

}  // namespace

int companion_candidates(const char *texture, const char *model, const char *kind, char out[6][1024]) {
  int n = 0;
  if (!texture || !texture[0]) return 0;
  static const char *const exts[3] = {".seq", ".png", ".ppm"};
  size_t len = strlen(texture);
  const char *sep = nullptr;
  bool repeat = len >= 11 && (ends_with(texture, "-repeat.png") || ends_with(texture, "-repeat.ppm") ||
                              ends_with(texture, "-repeat.seq"));
  if (repeat) {
    sep = strrchr(texture, '-');
    for (const char *e : exts)
      snprintf(out[n++], 1024, "%.*s%s-repeat%s", int(sep - texture), texture, kind, e);
  } else {
    sep = strrchr(texture, '.');
    if (sep)
      for (const char *e : exts) snprintf(out[n++], 1024, "%.*s%s%s", int(sep - texture), texture, kind, e);
  }
  const char *dot = model ? strrchr(model, '.') : nullptr;
  if (sep && dot)
    for (const char *e : exts) snprintf(out[n++], 1024, "%.*s%s%s", int(dot - model), model, kind, e);
  return n;
}

int billboard_add(float x, float y, float z, float height, float width_ratio, const char *texture_name) {
  int i = billboard_create(x, y, z, height, width_ratio, texture_name);
  if (i >= 0) billboards[i].texture = int(load(billboards[i].texture_name));
  return i;
}

int statue_add(float x, float y, float z, float angle, const char *model, const char *texture, const char *shape) {
  int i = statue_create(x, y, z, angle, model, texture, shape);
  if (i < 0) return i;
  ensure_statue_graphics();
  if (have_gl()) load_statue(i);
  return i;
}

void scenery_graphics_prepare() {
  scenery_graphics_free();  // the statue table is a new track's
  for (int i = ROOST_PARTICLES; i < billboard_count; i++)
    if (!billboards[i].texture) billboards[i].texture = int(load(billboards[i].texture_name));
  ensure_statue_graphics();
  if (have_gl())
    for (int i = 0; i < statue_count; i++) load_statue(i);
}

void scenery_graphics_free() {
  for (int i = 0; i < statue_graphics_count; i++) {
    mem_free(statue_graphics[i].rest_centres);
    mem_free(statue_graphics[i].centres);
    mem_free(statue_graphics[i].rotations);
  }
  mem_free(statue_graphics);
  statue_graphics = nullptr;
  statue_graphics_count = statue_graphics_capacity = 0;
}

// ------------------------------------------------------------ billboards
int depth_key(const float p[3], const float R[9], float extra) {
  double d = double(p[0]) * R[2] + double(p[1]) * R[5] + double(p[2]) * R[8] + extra;
  double k = std::floor(1024 * d + 16777216);
  // Beyond 16384 units ahead the key would turn negative and sort as the
  // nearest: such points are simply the farthest.
  if (!(k >= 0)) return 0;
  return k > 2147483647.0 ? 2147483647 : int(k);
}

int billboards_sort(const float camera[3], const float R[9], int *order, int *scratch) {
  int K = depth_key(camera, R, 0);
  int n = 0;
  for (int i = 0; i < billboard_count; i++) {
    Billboard &b = billboards[i];
    if (!b.texture || !b.color[3]) continue;
    float p[3] = {b.x, b.y, b.z};
    b.depth_key = depth_key(p, R, i < ROOST_PARTICLES ? b.height * b.width_ratio : 0);
    if (b.depth_key < K) order[n++] = i;
  }
  static std::vector<int> keys;
  if (keys.size() < size_t(billboard_count)) keys.resize(size_t(billboard_count));
  for (int j = 0; j < n; j++) keys[size_t(order[j])] = billboards[order[j]].depth_key;
  radix_sort(keys.data(), order, scratch, n);
  order[n] = -1;
  return n;
}

void billboards_reorder(int *order, int count, int lookahead, const float camera[3], const float R[9]) {
  if (lookahead <= 1) return;
  float rx = R[8], rz = -R[2];
  float rl = std::sqrt(rx * rx + rz * rz);
  if (!(rl > 0)) return;
  rx /= rl, rz /= rl;
  const float cx = camera[0], cz = camera[2];
  auto span = [&](int i, float *l, float *r) {
    const Billboard &b = billboards[i];
    float hw = b.height * b.width_ratio / 2;
    l[0] = b.x - rx * hw - cx, l[1] = b.z - rz * hw - cz;
    r[0] = b.x + rx * hw - cx, r[1] = b.z + rz * hw - cz;
  };
  for (int u = 0; u < count; u++) {
    int tex = billboards[order[u]].texture;
    int w = 0;
    for (int j = 1; j < lookahead && u + j < count; j++)
      if (billboards[order[u + j]].texture == tex) {
        w = j;
        break;
      }
    if (w < 2) continue;
    float sl[2], sr[2];
    span(order[u + w], sl, sr);
    bool pass = true;
    for (int j = 1; j < w && pass; j++) {
      float kl[2], kr[2];
      span(order[u + j], kl, kr);
      pass = cross2(kr[0], kr[1], sl[0], sl[1]) >= 0 || cross2(sr[0], sr[1], kl[0], kl[1]) >= 0;
    }
    if (!pass) continue;
    int found = order[u + w];
    memmove(order + u + 2, order + u + 1, size_t(w - 1) * sizeof(int));
    order[u + 1] = found;
  }
}

void billboards_draw(const float camera[3], const float R[9]) {
  billboard_frame_count = 0;
  if (billboard_count == 0) return;
  sync_roost();
  sort_order.resize(size_t(billboard_count) + 1);
  sort_scratch.resize(size_t(billboard_count) + 1);
  int n = billboards_sort(camera, R, sort_order.data(), sort_scratch.data());
  float rx = R[8], rz = -R[2];
  float rl = std::sqrt(rx * rx + rz * rz);
  if (!(rl > 0) || n == 0) return;  // looking straight up or down
  rx /= rl, rz /= rl;
  billboards_reorder(sort_order.data(), n, scene_settings.billboard_lookahead, camera, R);

  twglDisable(GL_CULL_FACE);
  twglEnable(GL_BLEND);
  twglBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
  twglDepthMask(GL_FALSE);
  twglEnable(GL_DEPTH_TEST);
  twglActiveTexture(GL_TEXTURE0);
  QuadTrim q;
  GLint viewport[4] = {0, 0, 0, 0};
  twglGetIntegerv(GL_VIEWPORT, viewport);
  twgl_mvp(q.mvp);
  q.half_w = float(viewport[2]) * 0.5f, q.half_h = float(viewport[3]) * 0.5f;
  int bound = -1;
  bool open = false;
  const TextureFacts *facts = nullptr;
  int tw = 0, th = 0;
  for (int j = 0; j < n; j++) {
    const Billboard &b = billboards[sort_order[size_t(j)]];
    float hw = b.height * b.width_ratio * 0.5f;
    float x0 = b.x - rx * hw, z0 = b.z - rz * hw, x1 = b.x + rx * hw, z1 = b.z + rz * hw;
    if (quad_out_of_view(q, x0, z0, x1, z1, b.y, b.height)) continue;
    if (b.texture != bound) {
      if (open) twglEnd();
      twglBindTexture(GL_TEXTURE_2D, GLuint(b.texture));
      scenery_texture_changes++;
      bound = b.texture;
      facts = texture_facts(GLuint(b.texture));
      // Nothing to cut even at the finest level: the whole quad.
      if (facts && facts->cover[0][0] <= 0 && facts->cover[0][1] <= 0 && facts->cover[0][2] >= 1 &&
          facts->cover[0][3] >= 1)
        facts = nullptr;
      tw = facts ? facts->width : 0, th = facts ? facts->height : 0;
      twglBegin(GL_QUADS);
      open = true;
    }
    twglColor(b.color[0] / 255.0f, b.color[1] / 255.0f, b.color[2] / 255.0f, b.color[3] / 255.0f);
    float s0 = 0, t0 = 0, s1 = 1, t1 = 1;
    if (facts && tw > 0) {
      const float D[3] = {x0, b.y + b.height, z0}, S[3] = {x1 - x0, 0, z1 - z0}, T[3] = {0, -b.height, 0};
      int k = coarsest_level(q, D, S, T, tw, th);
      if (k >= 0 && k < facts->levels) {
        const float *c = facts->cover[k];
        if (c[0] > c[2]) continue;  // clear at every level it can take
        s0 = c[0], t0 = c[1], s1 = c[2], t1 = c[3];
      }
    }
    float xa = x0 + (x1 - x0) * s0, za = z0 + (z1 - z0) * s0;
    float xb = x0 + (x1 - x0) * s1, zb = z0 + (z1 - z0) * s1;
    float ya = b.y + b.height * (1 - t1), yb = b.y + b.height * (1 - t0);
    twglTexCoord(s0, t1), twglVertex(xa, ya, za);
    twglTexCoord(s1, t1), twglVertex(xb, ya, zb);
    twglTexCoord(s1, t0), twglVertex(xb, yb, zb);
    twglTexCoord(s0, t0), twglVertex(xa, yb, za);
  }
  if (open) twglEnd();
  twglDepthMask(GL_TRUE);
  twglEnable(GL_CULL_FACE);
  billboard_frame_count = n;
}

int billboards_save(const char *folder) {
  char name[1100];
  snprintf(name, sizeof name, "@%s/billboards", folder);
  DataFile *f = data_create(name);
  if (!f) {
    add_message("Can't open 'billboards'\n");
    return 0;
  }
  for (int i = first_file_billboard; i < billboard_count; i++) {
    const Billboard &b = billboards[i];
    if (!b.texture_name[0]) continue;
    data_printf(f, "[%f %f %f] %f %f ", double(b.x), double(b.y_offset), double(b.z), double(b.height),
                double(b.width_ratio));
    if (b.color[0] == 255 && b.color[1] == 255 && b.color[2] == 255)
      data_printf(f, "%s\n", b.texture_name);
    else
      data_printf(f, "#%02x%02x%02x#%s\n", b.color[0], b.color[1], b.color[2], b.texture_name);
  }
  if (!data_commit(f)) {
    add_message("Can't open 'billboards'\n");
    return 0;
  }
  return 1;
}

int statues_save(const char *folder) {
  char name[1100];
  snprintf(name, sizeof name, "@%s/statues", folder);
  DataFile *f = data_create(name);
  if (!f) {
    add_message("Can't open 'statues'\n");
    return 0;
  }
  auto or_null = [](const char *s) { return s[0] ? s : "null"; };
  for (int i = first_file_statue; i < statue_count; i++) {
    const Statue &s = statues[i];
    data_printf(f, "[%f %f %f] %f %s %s %s\n", double(s.x), double(s.y_offset), double(s.z), double(s.angle),
                or_null(s.model_name), or_null(s.texture_name), or_null(s.shape_name));
  }
  if (!data_commit(f)) {
    add_message("Can't open 'statues'\n");
    return 0;
  }
  return 1;
}

// --------------------------------------------------------------- statues
namespace {

// The statue's model-view and its part of a pass; false when it is not
// drawn this frame.
bool statue_visible(int i, const float p[3]) {
  Statue &s = statues[i];
  float dx = p[0] - s.x, dy = p[1] - s.y, dz = p[2] - s.z;
  float d2 = dx * dx + dy * dy + dz * dz;
  float md = scene_settings.model_detail;
  if (md <= 10) {
    float cut = md * md * 20;
    if (d2 > cut * cut) return false;
  }
  float sc = scene_settings.lod_scale, b = scene_settings.lod_bias;
  float e = s.facing_distance - b;
  if (s.facing_distance != 0 && d2 * sc * sc > e * e) {
    float d = std::sqrt(dx * dx + dz * dz);
    if (d > 0) {  // straight above it keeps the orientation it had
      const float o[9] = {dz / d, 0, dx / d, 0, 1, 0, -dx / d, 0, dz / d};
      memcpy(s.orientation, o, sizeof o);
    }
  }
  return true;
}

void statue_draw(int i, const float p[3], int env) {
  const Statue &s = statues[i];
  const StatueGraphics &g = statue_graphics[i];
  const float *o = s.orientation;
  float m[16] = {o[0], o[3], o[6], 0, o[1], o[4], o[7], 0, o[2], o[5], o[8], 0, s.x, s.y, s.z, 1};
  float pos[3] = {s.x, s.y, s.z};
  twglPushMatrix();
  twglMultMatrix(m);
  if (env)
    model_draw_env(g.model, p, pos, o, g.bone_count, g.rest_centres, g.centres, g.rotations);
  else
    model_draw_lit(g.model, p, pos, o, g.bone_count, g.rest_centres, g.centres, g.rotations, g.specular_map != 0);
  twglPopMatrix();
}

}  // namespace

void statues_draw(const float camera[3]) {
  ensure_statue_graphics();
  twglUseProgram(PROGRAM_NORM_SPEC_LIT);
  twglEnable(GL_BLEND);
  twglBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
  GLuint last[3] = {~0u, ~0u, ~0u};
  auto bind = [&](int unit, GLuint id) {
    if (last[unit] == id) return;
    twglActiveTexture(GL_TEXTURE0 + GLenum(unit));
    twglBindTexture(GL_TEXTURE_2D, id);
    last[unit] = id;
    scenery_texture_changes++;
  };
  std::vector<char> drawn(size_t(statue_count), 0);
  bool blending = true;
  for (int i = 0; i < statue_count; i++) {
    const StatueGraphics &g = statue_graphics[i];
    if (!g.model || !g.texture || !statue_visible(i, camera)) continue;
    drawn[size_t(i)] = 1;
    bind(2, g.specular_map ? g.specular_map : twgl_white_texture);
    bind(1, g.normal_map ? g.normal_map : twgl_normal_texture);
    bind(0, g.texture);
    // Blending an opaque picture gives back what is drawn: skip the work.
    bool blend = !model_map_values(g.texture, g.normal_map, g.specular_map);
    if (blend != blending) blend ? twglEnable(GL_BLEND) : twglDisable(GL_BLEND);
    blending = blend;
    statue_draw(i, camera, 0);
  }
  twglActiveTexture(GL_TEXTURE2);
  twglBindTexture(GL_TEXTURE_2D, 0);
  twglActiveTexture(GL_TEXTURE1);
  twglBindTexture(GL_TEXTURE_2D, 0);
  bool env_started = false;
  last[1] = ~0u;
  for (int i = 0; i < statue_count; i++) {
    const StatueGraphics &g = statue_graphics[i];
    if (!drawn[size_t(i)] || !model_draws_env(g.model)) continue;
    if (!env_started) {
      twglUseProgram(PROGRAM_NORM_ENV);
      twglEnable(GL_BLEND);
      twglBlendFunc(GL_ONE, GL_ONE);
      twglActiveTexture(GL_TEXTURE0);
      twglBindTexture(GL_TEXTURE_2D, lighting.sky_env);
      env_started = true;
    }
    bind(1, g.normal_map ? g.normal_map : twgl_normal_texture);
    model_map_values(g.texture, g.normal_map, 0);
    statue_draw(i, camera, 1);
  }
  twglActiveTexture(GL_TEXTURE1);
  twglBindTexture(GL_TEXTURE_2D, 0);
  twglActiveTexture(GL_TEXTURE0);
  twglBindTexture(GL_TEXTURE_2D, 0);
  twglDisable(GL_BLEND);
  twglBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
  twglUseProgram(PROGRAM_UNLIT);
}

// ---------------------------------------------------------------- labels
namespace {
struct WorldLabel {
  float position[3];
  int depth_key;
  char text[1024];
};
std::vector<WorldLabel> labels;
}  // namespace

void label_add(float x, float y, float z, const char *text) {
  WorldLabel l;
  l.position[0] = x, l.position[1] = y, l.position[2] = z;
  l.depth_key = 0;
  snprintf(l.text, sizeof l.text, "%s", text ? text : "");
  labels.push_back(l);
}

void labels_clear() {
  labels.clear();
  labels.shrink_to_fit();
}

float label_last_distance(float x, float y, float z) {
  if (labels.empty()) return 1000000;
  const float *p = labels.back().position;
  return std::sqrt((x - p[0]) * (x - p[0]) + (y - p[1]) * (y - p[1]) + (z - p[2]) * (z - p[2]));
}

void labels_draw(const float camera[3], const float R[9]) {
  if (labels.empty()) return;
  int K = depth_key(camera, R, -2);
  std::vector<int> order, scratch(labels.size() + 1), keys(labels.size());
  for (size_t i = 0; i < labels.size(); i++) {
    labels[i].depth_key = keys[i] = depth_key(labels[i].position, R, 0);
    if (keys[i] < K) order.push_back(int(i));
  }
  if (order.empty()) return;
  radix_sort(keys.data(), order.data(), scratch.data(), int(order.size()));
  twglDisable(GL_DEPTH_TEST);
  twglDisable(GL_BLEND);
  const float face[16] = {R[8], 0, -R[2], 0, 0, 1, 0, 0, R[2], 0, R[8], 0, 0, 0, 0, 1};
  for (int i : order) {
    const WorldLabel &l = labels[size_t(i)];
    float W = text_width(l.text), L = 1;
    for (const char *c = l.text; *c; c++) L += *c == '\n';
    twglPushMatrix();
    twglTranslate(l.position[0], l.position[1], l.position[2]);
    twglMultMatrix(face);
    twglScale(0.5f, 0.5f, 0.5f);
    twglActiveTexture(GL_TEXTURE0);
    twglBindTexture(GL_TEXTURE_2D, twgl_white_texture);
    const float fan[9][2] = {{0, L / 2 + 1}, {-W / 2, L + 1}, {-W / 2, 1}, {-1, 1}, {0, 0},
                             {1, 1},         {W / 2, 1},      {W / 2, L + 1}, {-W / 2, L + 1}};
    twglBegin(GL_TRIANGLE_FAN);
    twglColor(1, 1, 1, 1);
    for (const auto &v : fan) twglVertex2(v[0], v[1]);
    twglEnd();
    twglTranslate(0, L, 0);
    text_draw(0, 0, 0, 1, l.text);
    twglPopMatrix();
  }
  twglEnable(GL_DEPTH_TEST);
}
