// The ground on the GPU: height and shadow textures, the fan stream, the
// detail levels and their rebuilding, and the decals drawn into them.
#include "gfx/terrain_render.h"

#include <climits>
#include <cmath>
#include <cstring>
#include <vector>

#include "core/core.h"
#include "core/log.h"
#include "gfx/gl_table.h"
#include "gfx/lighting.h"
#include "gfx/render.h"
#include "terrain/deform.h"
#include "terrain/terrain_lod.h"

GroundSettings ground_settings;
GroundStats ground_stats;

namespace {

const int STREAM_BYTES = LOD_STREAM_VERTICES * 3 * 4;  // 196608
const int WORK = GROUND_LEVELS_MAX;                    // the work set's slot

struct RenderState {
  GLuint heights, slopes, shadows, vao, vbo, fbo;
  GroundLevel level[GROUND_LEVELS_MAX + 1];  // and the work set
  int level_count;
  int rebuilding, pass;  // level being rebuilt and its next pass
  int new_ox, new_oz;
  int whole_built;
  int hidden_seen;
  float viewer[3], dir[3];
  int have_dir;
  int vx, vz;  // the viewer's sample position
  LodStream stream;
};

RenderState *rs;

int texture_dim() {
  int d = ground_settings.texture_size;
  return d < 16 ? 16 : d > 4096 ? 4096 : d;
}

void set_level_filter(GLuint tex) {
  twglBindTexture(GL_TEXTURE_2D, tex);
  twglTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER,
                    ground_settings.mipmaps ? GL_LINEAR_MIPMAP_LINEAR : GL_LINEAR);
  twglTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
  twglBindTexture(GL_TEXTURE_2D, 0);
}

// A clamped texture of d x d texels, left empty.
GLuint clamped_texture(GLint internal, int d, GLenum format, GLenum type, GLint min_filter,
                       GLint mag_filter) {
  GLuint tex;
  twglGenTextures(1, &tex);
  twglBindTexture(GL_TEXTURE_2D, tex);
  twglTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, min_filter);
  twglTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, mag_filter);
  twglTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
  twglTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
  twglTexImage2D(GL_TEXTURE_2D, 0, internal, d, d, format, type, nullptr);
  twglBindTexture(GL_TEXTURE_2D, 0);
  return tex;
}

// Blue border around a black and white 8 x 8 board: shows where a level is
// still to be drawn.
GLuint placeholder_texture(int d) {
  std::vector<uint8_t> px(size_t(d) * d * 4);
  int border = d / 64 > 1 ? d / 64 : 1;
  for (int y = 0; y < d; y++)
    for (int x = 0; x < d; x++) {
      uint8_t *p = &px[(size_t(y) * d + x) * 4];
      bool edge = x < border || y < border || x >= d - border || y >= d - border;
      uint8_t v = ((x * 8 / d) + (y * 8 / d)) % 2 ? 255 : 0;
      p[0] = edge ? 0 : v, p[1] = edge ? 0 : v, p[2] = edge ? 255 : v, p[3] = 255;
    }
  GLuint t = 0;
  twglGenTextures(1, &t);
  twglBindTexture(GL_TEXTURE_2D, t);
  twglTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
  twglTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
  twglPixelStorei(GL_UNPACK_ALIGNMENT, 1);
  twglTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, d, d, GL_RGBA, GL_UNSIGNED_BYTE, px.data());
  if (ground_settings.mipmaps) twglGenerateMipmap(GL_TEXTURE_2D);
  twglBindTexture(GL_TEXTURE_2D, 0);
  set_level_filter(t);
  return t;
}

// The slope texture: texel (k, j) holds the height differences towards
// sample k, j from its west and its north neighbour, of the heights as the
// height texture clamps them, so filtering it matches differencing two
// filtered heights. It has one texel more a side than the heights.
void upload_slopes_rect(int x0, int z0, int x1, int z1) {
  const Terrain &t = terrain;
  int cells = t.size - 1;
  x1 = x1 < cells ? x1 : cells, z1 = z1 < cells ? z1 : cells;
  if (x1 < x0 || z1 < z0) return;
  int w = x1 - x0 + 1, h = z1 - z0 + 1;
  std::vector<float> rg(size_t(w) * h * 2);
  auto at = [&](int i, int j) {
    i = i < 0 ? 0 : i >= cells ? cells - 1 : i;
    j = j < 0 ? 0 : j >= cells ? cells - 1 : j;
    return t.heights[size_t(j) * t.size + i];
  };
  for (int j = z0; j <= z1; j++)
    for (int k = x0; k <= x1; k++) {
      float *p = &rg[(size_t(j - z0) * w + (k - x0)) * 2];
      float here = at(k, j);
      p[0] = here - at(k - 1, j);
      p[1] = here - at(k, j - 1);
    }
  twglBindTexture(GL_TEXTURE_2D, rs->slopes);
  twglPixelStorei(GL_UNPACK_ALIGNMENT, 4);
  twglTexSubImage2D(GL_TEXTURE_2D, 0, x0, z0, w, h, GL_RG, GL_FLOAT, rg.data());
  twglPixelStorei(GL_UNPACK_ALIGNMENT, 1);
  twglBindTexture(GL_TEXTURE_2D, 0);
}

void upload_heights_block(int x0, int z0, int w, int h) {
  const Terrain &t = terrain;
  // A changed sample also changes the differences east and south of it.
  upload_slopes_rect(x0, z0, x0 + w, z0 + h);
  twglBindTexture(GL_TEXTURE_2D, rs->heights);
  twglPixelStorei(GL_UNPACK_ROW_LENGTH, t.size);
  twglPixelStorei(GL_UNPACK_ALIGNMENT, 4);
  twglTexSubImage2D(GL_TEXTURE_2D, 0, x0, z0, w, h, GL_RED, GL_FLOAT,
                    t.heights + size_t(z0) * t.size + x0);
  twglPixelStorei(GL_UNPACK_ROW_LENGTH, 0);
  twglPixelStorei(GL_UNPACK_ALIGNMENT, 1);
  twglBindTexture(GL_TEXTURE_2D, 0);
}

void upload_shadows() {
  const Terrain &t = terrain;
  int cells = t.size - 1;
  twglBindTexture(GL_TEXTURE_2D, rs->shadows);
  twglPixelStorei(GL_UNPACK_ROW_LENGTH, t.size);
  twglPixelStorei(GL_UNPACK_ALIGNMENT, 1);
  twglTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, cells, cells, GL_RED, GL_UNSIGNED_BYTE, t.shadows);
  twglPixelStorei(GL_UNPACK_ROW_LENGTH, 0);
  twglGenerateMipmap(GL_TEXTURE_2D);
  twglBindTexture(GL_TEXTURE_2D, 0);
}

// Uploads up to `limit` changed blocks, going round from the cursor.
void upload_dirty(int limit) {
  Terrain &t = terrain;
  if (!t.dirty_blocks || t.dirty_side < 1) return;
  int total = t.dirty_side * t.dirty_side, cells = t.size - 1, done = 0;
  int start = t.dirty_cursor >= 0 && t.dirty_cursor < total ? t.dirty_cursor : 0;
  for (int c = 0; c < total && done < limit; c++) {
    int k = (start + c) % total;
    uint32_t &word = t.dirty_blocks[k >> 5];
    if (!(word >> (k & 31) & 1)) continue;
    int bx = k % t.dirty_side, bz = k / t.dirty_side;
    int x0 = bx * TERRAIN_BLOCK_CELLS, z0 = bz * TERRAIN_BLOCK_CELLS;
    int w = cells - x0 < TERRAIN_BLOCK_CELLS ? cells - x0 : TERRAIN_BLOCK_CELLS;
    int h = cells - z0 < TERRAIN_BLOCK_CELLS ? cells - z0 : TERRAIN_BLOCK_CELLS;
    if (w > 0 && h > 0) upload_heights_block(x0, z0, w, h);
    word &= ~(1u << (k & 31));
    t.dirty_cursor = (k + 1) % total;
    done++;
  }
}

// ------------------------------------------------------------ level passes

struct PassSaved {
  GLint fbo, viewport[4], depth, cull, blend;
};

// Binds the work texture as the target with a view from above of the
// area; 0 (after saying so) when the framebuffer cannot be drawn into.
int pass_begin(GLuint target, const GroundLevel &area, PassSaved *saved) {
  twglGetIntegerv(GL_FRAMEBUFFER_BINDING, &saved->fbo);
  twglBindFramebuffer(GL_FRAMEBUFFER, rs->fbo);
  twglFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, target, 0);
  GLenum status = twglCheckFramebufferStatus(GL_FRAMEBUFFER);
  if (status != GL_FRAMEBUFFER_COMPLETE) {
    add_messagef("Framebuffer error %x", unsigned(status));
    twglBindFramebuffer(GL_FRAMEBUFFER, GLuint(saved->fbo));
    return 0;
  }
  twglGetIntegerv(GL_VIEWPORT, saved->viewport);
  twglGetIntegerv(GL_DEPTH_TEST, &saved->depth);
  twglGetIntegerv(GL_CULL_FACE, &saved->cull);
  twglGetIntegerv(GL_BLEND, &saved->blend);
  int d = texture_dim();
  twglViewport(0, 0, d, d);
  twglDisable(GL_DEPTH_TEST);
  twglDisable(GL_CULL_FACE);
  twglDisable(GL_BLEND);
  float sp = terrain.spacing;
  float x0 = float(area.ox) * sp, z0 = float(area.oz) * sp, w = float(area.g) * sp;
  twglMatrixMode(GL_PROJECTION);
  twglPushMatrix();
  twglLoadIdentity();
  twglOrtho(x0, x0 + w, z0, z0 + w, 0, 2);
  twglMatrixMode(GL_MODELVIEW);
  twglPushMatrix();
  // Ground (x, y, z) to eye (x, z, y): ground vertices lie at y = -1.
  const float m[16] = {1, 0, 0, 0, 0, 0, 1, 0, 0, 1, 0, 0, 0, 0, 0, 1};
  twglLoadMatrix(m);
  return 1;
}

void pass_end(GLuint target, const PassSaved &saved) {
  twglMatrixMode(GL_PROJECTION);
  twglPopMatrix();
  twglMatrixMode(GL_MODELVIEW);
  twglPopMatrix();
  twgl_flush();
  if (saved.depth) twglEnable(GL_DEPTH_TEST);
  if (saved.cull) twglEnable(GL_CULL_FACE);
  if (saved.blend) twglEnable(GL_BLEND);
  else twglDisable(GL_BLEND);
  twglBindFramebuffer(GL_FRAMEBUFFER, GLuint(saved.fbo));
  twglViewport(saved.viewport[0], saved.viewport[1], saved.viewport[2], saved.viewport[3]);
  if (ground_settings.mipmaps) {
    twglBindTexture(GL_TEXTURE_2D, target);
    twglGenerateMipmap(GL_TEXTURE_2D);
    twglBindTexture(GL_TEXTURE_2D, 0);
  }
}

void area_quad(const GroundLevel &a) {
  float sp = terrain.spacing;
  float x0 = float(a.ox) * sp, z0 = float(a.oz) * sp, x1 = float(a.ox + a.g) * sp,
        z1 = float(a.oz + a.g) * sp;
  twglBegin(GL_QUADS);
  twglTexCoord(0, 0), twglVertexGround(x0, z0);
  twglTexCoord(1, 0), twglVertexGround(x1, z0);
  twglTexCoord(1, 1), twglVertexGround(x1, z1);
  twglTexCoord(0, 1), twglVertexGround(x0, z1);
  twglEnd();
}

void area_rect(const GroundLevel &a, float rect[4]) {
  float sp = terrain.spacing;
  rect[0] = float(a.ox) * sp, rect[1] = float(a.oz) * sp;
  rect[2] = float(a.ox + a.g) * sp, rect[3] = float(a.oz + a.g) * sp;
}

void fog_off() {
  twglSetFogDensity(0);
}

void fog_back() {
  if (twgl_current_program() == PROGRAM_UNLIT) twglSetFogDensity(lighting.fog_density);
}

// Tiles show the inner 7/8 of their picture, so that neighbours join.
void colour_pass(const GroundLevel &a) {
  const Terrain &t = terrain;
  int tiles = 1 << t.shift;
  int tx0 = a.ox / 2, tz0 = a.oz / 2, tx1 = (a.ox + a.g) / 2, tz1 = (a.oz + a.g) / 2;
  tx1 = tx1 < tiles ? tx1 : tiles, tz1 = tz1 < tiles ? tz1 : tiles;
  twglUseProgram(PROGRAM_UNLIT);
  fog_off();
  uint8_t present[SURFACE_MAX] = {};
  for (int z = tz0; z < tz1; z++)
    for (int x = tx0; x < tx1; x++) present[t.tilemap[size_t(z) * tiles + x]] = 1;
  const float lo = 0.0625f, hi = 0.9375f, ts = t.tile_size;
  // Tiles smaller than a texel show only their picture's mean colour: a
  // row's run of one surface is then one quad (a million tiles on a large
  // terrain would otherwise be a million quads).
  bool runs = (tx1 - tx0) > texture_dim();
  twglColor(1, 1, 1, 1);
  for (int s = 0; s < t.tile_count && s < SURFACE_MAX; s++) {
    if (!present[s]) continue;
    GLuint tex = t.surface[s].texture ? GLuint(t.surface[s].texture) : twgl_white_texture;
    twglBindTexture(GL_TEXTURE_2D, tex);
    twglBegin(GL_QUADS);
    for (int z = tz0; z < tz1; z++) {
      const uint8_t *row = t.tilemap + size_t(z) * tiles;
      float z0 = float(z) * ts, z1 = z0 + ts;
      for (int x = tx0; x < tx1; x++) {
        if (row[x] != s) continue;
        float x0 = float(x) * ts;
        while (runs && x + 1 < tx1 && row[x + 1] == s) x++;
        float x1 = float(x + 1) * ts;
        twglTexCoord(lo, lo), twglVertexGround(x0, z0);
        twglTexCoord(hi, lo), twglVertexGround(x1, z0);
        twglTexCoord(hi, hi), twglVertexGround(x1, z1);
        twglTexCoord(lo, hi), twglVertexGround(x0, z1);
      }
    }
    twglEnd();
  }
  float rect[4];
  area_rect(a, rect);
  decals_draw(rect, 0);
}

void normal_pass(const GroundLevel &a) {
  twglUseProgram(PROGRAM_TERRAIN_NORMALS);
  twglColor(1, 1, 1, 1);
  twglActiveTexture(GL_TEXTURE1);
  twglBindTexture(GL_TEXTURE_2D, rs->shadows);
  twglMatrixMode(GL_TEXTURE);
  twglPushMatrix();
  // Ground (x, z) to the shadow texture, sample centres on texel centres.
  float inv = 1.0f / terrain.extent, half = 0.5f / float(terrain.size - 1);
  const float m[16] = {inv, 0, 0, 0, 0, 0, 0, 0, 0, inv, 0, 0, half, half, 0, 1};
  twglLoadMatrix(m);
  twglActiveTexture(GL_TEXTURE0);
  twglMatrixMode(GL_MODELVIEW);
  twglBindTexture(GL_TEXTURE_2D, twgl_normal_texture);
  area_quad(a);
  float rect[4];
  area_rect(a, rect);
  decals_draw(rect, 1);
  twglActiveTexture(GL_TEXTURE1);
  twglMatrixMode(GL_TEXTURE);
  twglPopMatrix();
  twglBindTexture(GL_TEXTURE_2D, 0);
  twglActiveTexture(GL_TEXTURE0);
  twglMatrixMode(GL_MODELVIEW);
}

// No shine on plain ground: intensity 0 (red), exponent 128 (green).
void specular_pass(const GroundLevel &a) {
  twglUseProgram(PROGRAM_UNLIT);
  fog_off();
  twglBindTexture(GL_TEXTURE_2D, twgl_white_texture);
  twglColor(0, 1, 1, 1);
  area_quad(a);
  twglColor(1, 1, 1, 1);
  float rect[4];
  area_rect(a, rect);
  decals_draw(rect, 2);
}

// One step of the rebuild: choose a level, or draw one of its passes.
// 1 when something was done.
int rebuild_step() {
  if (rs->rebuilding < 0) {
    for (int l = rs->level_count - 1; l >= 0; l--) {
      GroundLevel &L = rs->level[l];
      int need = L.state == -1 || L.ox < 0 || lod_level_stale(LodArea{L.ox, L.oz, L.g}, rs->vx, rs->vz);
      if (!need) continue;
      int ox = lod_level_origin(L.g, rs->vx), oz = lod_level_origin(L.g, rs->vz);
      if (ox == L.ox && oz == L.oz && L.state != -1) continue;
      rs->rebuilding = l;
      rs->pass = 1;
      rs->new_ox = ox, rs->new_oz = oz;
      return 1;
    }
    return 0;
  }
  GroundLevel &L = rs->level[rs->rebuilding];
  GroundLevel &W = rs->level[WORK];
  GroundLevel area = L;
  area.ox = rs->new_ox, area.oz = rs->new_oz;
  int pass = rs->pass;
  int program = twgl_current_program();
  PassSaved saved;
  GLuint target = W.tex[pass - 1];
  if (pass_begin(target, area, &saved)) {
    if (pass == 1) colour_pass(area);
    else if (pass == 2) normal_pass(area);
    else specular_pass(area);
    fog_back();
    pass_end(target, saved);
  }
  ground_stats.level_passes++;
  twglUseProgram(program);
  if (pass < 3) {
    rs->pass++;
    return 1;
  }
  // The old textures stayed visible until now.
  for (int c = 0; c < 3; c++) {
    GLuint t = L.tex[c];
    L.tex[c] = W.tex[c];
    W.tex[c] = t;
  }
  L.ox = rs->new_ox, L.oz = rs->new_oz;
  L.state = decal_count;
  if (rs->rebuilding == rs->level_count - 1) rs->whole_built = 1;
  rs->rebuilding = -1;
  return 1;
}

// ------------------------------------------------------------------ stream

void stream_draw(LodStream *s, void *) {
  twglBindBuffer(GL_ARRAY_BUFFER, rs->vbo);
  twglBufferData(GL_ARRAY_BUFFER, STREAM_BYTES, nullptr, GL_STREAM_DRAW);
  twglBufferSubData(GL_ARRAY_BUFFER, 0, GLsizeiptr(s->count) * 12, s->v);
  float sp = terrain.spacing;
  for (int b = 0; b < s->batch_count; b++) {
    int first = s->batch[b].first;
    int end = b + 1 < s->batch_count ? s->batch[b + 1].first : s->count;
    if (end <= first) continue;
    int l = s->batch[b].level;
    const GroundLevel &L = rs->level[l >= 0 && l < rs->level_count ? l : rs->level_count - 1];
    for (int c = 0; c < 3; c++) {
      twglActiveTexture(GLenum(GL_TEXTURE0 + c));
      twglBindTexture(GL_TEXTURE_2D, L.tex[c]);
    }
    twglActiveTexture(GL_TEXTURE0);
    int ox = L.ox > 0 ? L.ox : 0, oz = L.oz > 0 ? L.oz : 0;
    const float offset[2] = {-float(ox) * sp, -float(oz) * sp};
    twglSetTexTransform(offset, 1.0f / (float(L.g) * sp));
    twglDrawArrays(GL_TRIANGLES, first, end - first);
  }
}

void delete_level_textures(GroundLevel &L) {
  for (GLuint &t : L.tex)
    if (t) {
      twglDeleteTextures(1, &t);
      t = 0;
    }
}

int ground_load_texture(const char *name) {
  int keep = gfx_settings.texture_reduction;
  gfx_settings.texture_reduction = ground_settings.texture_reduction;
  GLuint t = texture_load(name);
  gfx_settings.texture_reduction = keep;
  return int(t);
}

long long ground_texture_bytes() { return texture_bytes; }

}  // namespace

// --------------------------------------------------------------- interface

void terrain_render_attach() {
  terrain_hooks.render_create = terrain_render_create;
  terrain_hooks.render_free = terrain_render_free;
  terrain_hooks.load_texture = ground_load_texture;
  terrain_hooks.texture_bytes = ground_texture_bytes;
}

int terrain_render_create() {
  terrain_render_free();
  const Terrain &t = terrain;
  if (!t.heights || t.size < 3) return 0;
  rs = static_cast<RenderState *>(mem_alloc(sizeof(RenderState)));
  if (!rs) return 0;
  memset(rs, 0, sizeof *rs);
  if (!lod_create(ground_settings.tolerance)) {
    mem_free(rs);
    rs = nullptr;
    return 0;
  }
  int cells = t.size - 1;
  // Clamped: repeating would bring the far edge's heights into the
  // normals along this one.
  // OpenGL ES filters float textures only with an extension; the nearest
  // sample still gives a one-sample difference there.
  GLint filter = twgl_gles ? GL_NEAREST : GL_LINEAR;
  rs->heights = clamped_texture(GL_R32F, cells, GL_RED, GL_FLOAT, filter, filter);
  rs->slopes = clamped_texture(GL_RG32F, cells + 1, GL_RG, GL_FLOAT, filter, filter);
  // In blocks, so that the differences need no terrain-sized buffer.
  for (int z0 = 0; z0 < cells; z0 += TERRAIN_BLOCK_CELLS)
    for (int x0 = 0; x0 < cells; x0 += TERRAIN_BLOCK_CELLS) {
      int w = cells - x0 < TERRAIN_BLOCK_CELLS ? cells - x0 : TERRAIN_BLOCK_CELLS;
      int h = cells - z0 < TERRAIN_BLOCK_CELLS ? cells - z0 : TERRAIN_BLOCK_CELLS;
      upload_heights_block(x0, z0, w, h);
    }

  rs->shadows = clamped_texture(GL_R8, cells, GL_RED, GL_UNSIGNED_BYTE, GL_LINEAR_MIPMAP_LINEAR,
                                GL_LINEAR);
  if (t.shadows) upload_shadows();

  twglGenVertexArrays(1, &rs->vao);
  twglGenBuffers(1, &rs->vbo);
  twglBindVertexArray(rs->vao);
  twglBindBuffer(GL_ARRAY_BUFFER, rs->vbo);
  twglBufferData(GL_ARRAY_BUFFER, STREAM_BYTES, nullptr, GL_STREAM_DRAW);
  twglEnableVertexAttribArray(0);
  twglVertexAttribPointer(0, 3, GL_FLOAT, GL_FALSE, 12, nullptr);
  twglBindVertexArray(0);
  twglBindBuffer(GL_ARRAY_BUFFER, 0);
  twglGenFramebuffers(1, &rs->fbo);

  int sizes[3], d = texture_dim();
  rs->level_count = lod_level_sizes(sizes);
  for (int l = 0; l <= rs->level_count; l++) {
    GroundLevel &L = rs->level[l == rs->level_count ? WORK : l];
    L.g = l < rs->level_count ? sizes[l] : 0;
    L.ox = L.oz = -t.size;
    L.state = -1;
    for (GLuint &tex : L.tex) tex = placeholder_texture(d);
    log_printf("Detail level %d is %dx%d covering %dx%d height elements\n",
               l < rs->level_count ? l : 16, d, d, L.g, L.g);
  }
  rs->rebuilding = -1;
  rs->hidden_seen = decals_hidden;

  int program = twgl_current_program();
  twglUseProgram(PROGRAM_TERRAIN);
  twglSetSpacing(t.spacing);
  twglSetHeightsDimInv(1.0f / float(cells));
  twglUseProgram(program);
  twgl_flush();
  return 1;
}

void terrain_render_free() {
  lod_free();
  if (!rs) return;
  twglDeleteTextures(1, &rs->heights);
  twglDeleteTextures(1, &rs->slopes);
  twglDeleteTextures(1, &rs->shadows);
  for (GroundLevel &L : rs->level) delete_level_textures(L);
  twglDeleteBuffers(1, &rs->vbo);
  twglDeleteVertexArrays(1, &rs->vao);
  twglDeleteFramebuffers(1, &rs->fbo);
  mem_free(rs);
  rs = nullptr;
}

void terrain_update_step(int blocks) {
  if (!rs) return;
  lod_pass(LOD_PASS_BUDGET);
  upload_dirty(blocks);
}

void terrain_update_frame() {
  int r = ground_settings.resync_rate;
  terrain_update_step(1 << (r < 0 ? 0 : r > 30 ? 30 : r));
}

void terrain_refresh_all() {
  if (!rs) return;
  // A pass already running may have started before the latest change.
  lod_pass(LONG_MAX);
  lod_pass(LONG_MAX);
  upload_dirty(INT_MAX);
  if (terrain.shadows) upload_shadows();
  terrain_invalidate_levels();
}

void terrain_bring_up_to_date() { terrain_refresh_all(); }

void terrain_set_mipmaps(int on) {
  ground_settings.mipmaps = on ? 1 : 0;
  if (!rs) return;
  for (GroundLevel &L : rs->level)
    for (GLuint tex : L.tex)
      if (tex) set_level_filter(tex);
  terrain_invalidate_levels();
}

void terrain_set_viewer(const float position[3], const float direction[3]) {
  if (!rs) return;
  for (int k = 0; k < 3; k++) rs->viewer[k] = position[k], rs->dir[k] = direction[k];
  rs->have_dir = 1;
}

void terrain_texture_step(const float viewer[3]) {
  ground_stats.level_passes = ground_stats.decals = 0;
  if (!rs) return;
  if (decals_hidden != rs->hidden_seen) {
    rs->hidden_seen = decals_hidden;
    terrain_invalidate_levels();
  }
  rs->vx = int(floorf(fmaxf(fminf(viewer[0] * terrain.inv_spacing, 1e8f), -1e8f)));
  rs->vz = int(floorf(fmaxf(fminf(viewer[2] * terrain.inv_spacing, 1e8f), -1e8f)));
  // Until the whole terrain has its level, nothing better can be shown.
  for (int guard = 0; guard < 64; guard++)
    if (!rebuild_step() || rs->whole_built) break;
}

void terrain_draw(const float viewer[3]) {
  ground_stats.triangles = ground_stats.batches = ground_stats.flushes = 0;
  if (!rs) return;
  LodArea areas[GROUND_LEVELS_MAX];
  int count = rs->level_count;
  for (int l = 0; l < count; l++) {
    const GroundLevel &L = rs->level[l];
    bool built = L.ox >= 0;
    areas[l] = built || l == count - 1 ? LodArea{L.ox > 0 ? L.ox : 0, L.oz > 0 ? L.oz : 0, L.g}
                                       : LodArea{0, 0, 0};
  }
  twglBindVertexArray(rs->vao);
  twglActiveTexture(GL_TEXTURE3);
  twglBindTexture(GL_TEXTURE_2D, rs->heights);
  twglActiveTexture(GL_TEXTURE4);
  twglBindTexture(GL_TEXTURE_2D, rs->slopes);
  twglActiveTexture(GL_TEXTURE0);
  lod_activate(viewer, areas, count);
  twglUseProgram(PROGRAM_TERRAIN);
  const float ambient[4] = {lighting.ambient[0], lighting.ambient[1], lighting.ambient[2], 1};
  twglSetAmbient(ambient);
  twglSetDiffuse(lighting.sun_color);
  twglSetSpecularColor(lighting.sun_color);
  rs->stream.flush = stream_draw;
  lod_emit(viewer, rs->have_dir ? rs->dir : nullptr, areas, count, &rs->stream);
  twglUseProgram(PROGRAM_UNLIT);
  for (int u = 4; u >= 0; u--) {
    twglActiveTexture(GLenum(GL_TEXTURE0 + u));
    twglBindTexture(GL_TEXTURE_2D, 0);
  }
  twgl_flush();
  twglBindVertexArray(0);
  ground_stats.triangles = rs->stream.triangles;
  ground_stats.batches = rs->stream.batches;
  ground_stats.flushes = rs->stream.flushes;
}

void decals_draw(const float rect[4], int pass) {
  const int *list = nullptr;
  int n = decals_in_rect(rect[0], rect[1], rect[2], rect[3], &list);
  if (n <= 0) return;
  twglEnable(GL_BLEND);
  twglBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
  int bound = 0, open = 0;
  for (int i = 0; i < n; i++) {
    const Decal &d = decals[list[i]];
    int tex = pass == 0 ? d.texture : pass == 1 ? d.normal_texture : d.spec_texture;
    if (!tex) continue;
    if (tex != bound || !open) {
      if (open) twglEnd();
      twglBindTexture(GL_TEXTURE_2D, GLuint(tex));
      twglBegin(GL_QUADS);
      bound = tex, open = 1;
    }
    float s = d.sin_angle, c = d.cos_angle, a = d.aspect, S = d.size;
    float ax = c * a * S / 2, az = s * a * S / 2, bx = s * S / 2, bz = c * S / 2;
    twglTexCoord(0, 0), twglVertexGround(d.x - ax - bx, d.z + az - bz);
    twglTexCoord(1, 0), twglVertexGround(d.x + ax - bx, d.z - az - bz);
    twglTexCoord(1, 1), twglVertexGround(d.x + ax + bx, d.z - az + bz);
    twglTexCoord(0, 1), twglVertexGround(d.x - ax + bx, d.z + az + bz);
    ground_stats.decals++;
  }
  if (open) twglEnd();
  twglDisable(GL_BLEND);
}

void terrain_invalidate_rect(float x0, float z0, float x1, float z1) {
  if (!rs) return;
  float sp = terrain.spacing;
  for (int l = 0; l < rs->level_count; l++) {
    GroundLevel &L = rs->level[l];
    if (L.ox < 0) continue;  // never built: it will be drawn anyway
    float lx0 = float(L.ox) * sp, lz0 = float(L.oz) * sp, w = float(L.g) * sp;
    if (x1 >= lx0 && x0 <= lx0 + w && z1 >= lz0 && z0 <= lz0 + w) L.state = -1;
  }
}

void terrain_decal_changed(int index) {
  if (index < 0 || index >= decal_count) return;
  const Decal &d = decals[index];
  float half = d.size / 2, s = d.sin_angle, c = d.cos_angle;
  float hx = fabsf(s * half) + fabsf(c * d.aspect * half);
  float hz = fabsf(s * d.aspect * half) + fabsf(c * half);
  terrain_invalidate_rect(d.x - hx, d.z - hz, d.x + hx, d.z + hz);
}

void terrain_invalidate_levels() {
  if (!rs) return;
  for (int l = 0; l < rs->level_count; l++) rs->level[l].state = -1;
}

int ground_level_count() { return rs ? rs->level_count : 0; }
const GroundLevel *ground_level(int index) {
  return rs && index >= 0 && index <= GROUND_LEVELS_MAX ? &rs->level[index] : nullptr;
}
int ground_level_rebuilding(int *pass) {
  if (pass) *pass = rs ? rs->pass : 0;
  return rs ? rs->rebuilding : -1;
}
