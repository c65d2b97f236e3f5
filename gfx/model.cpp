// The ".jm" model reader, its clean-up (degenerate triangles, tangents,
// texture rates), the cache with its coarser levels and the two passes.
#include "gfx/model.h"

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <strings.h>

#include "core/core.h"
#include "core/log.h"
#include "gfx/gl_table.h"
#include "gfx/lighting.h"
#include "gfx/render.h"

SceneSettings scene_settings;
int model_generation = 0;
int64_t model_polygons = 0;
float model_alpha = 1;

namespace {

// Counts beyond these cannot be meant (and would allocate without end).
constexpr long MAX_COUNT = 1 << 24;

// A cursor over zero-terminated text, reading numbers as the scanning
// formats do: white space, then the number.
struct Reader {
  const char *p, *end;
  int remaining() const { return int(end - p); }
  void skip() {
    while (p < end && (*p == ' ' || *p == '\t' || *p == '\n' || *p == '\r' || *p == '\f' || *p == '\v')) p++;
  }
  bool number(float *out) {
    skip();
    if (p >= end) return false;
    char *stop;
    errno = 0;
    float v = strtof(p, &stop);
    if (stop == p || !std::isfinite(v)) return false;
    p = stop;
    *out = v;
    return true;
  }
  bool integer(long *out) {
    skip();
    if (p >= end) return false;
    char *stop;
    errno = 0;
    long v = strtol(p, &stop, 10);
    if (stop == p || errno == ERANGE || v > 0x7fffffffL || v < -0x7fffffffL - 1) return false;
    p = stop;
    *out = v;
    return true;
  }
};

float *floats(long n) { return static_cast<float *>(mem_alloc(size_t(n > 0 ? n : 1) * sizeof(float))); }

Model *new_part(const char *name) {
  Model *m = static_cast<Model *>(mem_alloc(sizeof(Model)));
  if (!m) return nullptr;
  memset(m, 0, sizeof *m);
  snprintf(m->name, sizeof m->name, "%s", name);
  return m;
}

void free_part_arrays(Model *m) {
  mem_free(m->positions);
  mem_free(m->normals);
  mem_free(m->tangents);
  mem_free(m->texcoords);
  mem_free(m->weights);
  mem_free(m->bones);
  mem_free(m->triangles);
  mem_free(m->bone_bounds);
  if (m->vao && gl.DeleteVertexArrays) twglDeleteVertexArrays(1, &m->vao);
  if (m->vbo && gl.DeleteBuffers) twglDeleteBuffers(1, &m->vbo);
  if (m->ibo && gl.DeleteBuffers) twglDeleteBuffers(1, &m->ibo);
}

// The weights of one vertex: the four largest positive influences, then
// normalised. Returns 1 when a fifth influence was met.
int read_weights(Reader &r, int bone_count, float w[4], int b[4], bool *ok) {
  int crowded = 0;
  for (int i = 0; i < 4; i++) w[i] = 0, b[i] = 0;
  for (int j = 0; j < bone_count; j++) {
    float v;
    if (!r.number(&v)) {
      *ok = false;
      return crowded;
    }
    if (v <= 0) continue;
    int s = 0;
    for (int i = 1; i < 4; i++)
      if (w[i] < w[s]) s = i;
    if (w[s] > 0) {
      crowded = 1;
      if (v <= w[s]) continue;  // the four largest stay
    }
    w[s] = v, b[s] = j;
  }
  float sum = w[0] + w[1] + w[2] + w[3];
  for (int i = 0; i < 4; i++) w[i] = sum > 0 ? w[i] / sum : 0.25f;
  return crowded;
}

void sub3(const float *a, const float *b, float *o) { o[0] = a[0] - b[0], o[1] = a[1] - b[1], o[2] = a[2] - b[2]; }
void cross3(const float *a, const float *b, float *o) {
  o[0] = a[1] * b[2] - a[2] * b[1];
  o[1] = a[2] * b[0] - a[0] * b[2];
  o[2] = a[0] * b[1] - a[1] * b[0];
}
float dot3(const float *a, const float *b) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; }

// Drops degenerate triangles; their count.
int drop_degenerate(Model *m, const long *raw) {
  int kept = 0, dropped = 0;
  for (int t = 0; t < m->triangle_count; t++) {
    const long *i = raw + 3 * t;
    bool bad = false;
    for (int k = 0; k < 3; k++)
      if (i[k] < 0 || i[k] >= m->vertex_count) bad = true;
    if (!bad) {
      float e1[3], e2[3], n[3];
      sub3(m->positions + 3 * i[1], m->positions + 3 * i[0], e1);
      sub3(m->positions + 3 * i[2], m->positions + 3 * i[0], e2);
      cross3(e1, e2, n);
      if (dot3(n, n) < 8.271806e-25f) bad = true;
    }
    if (bad) {
      dropped++;
      continue;
    }
    for (int k = 0; k < 3; k++) m->triangles[3 * kept + k] = uint32_t(i[k]);
    kept++;
  }
  m->triangle_count = kept;
  return dropped;
}

void make_tangents(Model *m) {
  const float tiny = 0.00000095367431640625f;  // 2^-20
  for (int i = 0; i < 3 * m->vertex_count; i++) m->tangents[i] = 0;
  for (int t = 0; t < m->triangle_count; t++) {
    const uint32_t *i = m->triangles + 3 * t;
    const float *p0 = m->positions + 3 * i[0], *p1 = m->positions + 3 * i[1], *p2 = m->positions + 3 * i[2];
    const float *t0 = m->texcoords + 2 * i[0], *t1 = m->texcoords + 2 * i[1], *t2 = m->texcoords + 2 * i[2];
    float e1[3], e2[3], T[3];
    sub3(p1, p0, e1);
    sub3(p2, p0, e2);
    float du1 = t1[0] - t0[0], dv1 = t1[1] - t0[1], du2 = t2[0] - t0[0], dv2 = t2[1] - t0[1];
    float det = du1 * dv2 - dv1 * du2;
    if (std::fabs(det) >= tiny) {
      float B[3];
      for (int k = 0; k < 3; k++) {
        T[k] = (dv2 * e1[k] - dv1 * e2[k]) / det;
        B[k] = (du1 * e2[k] - du2 * e1[k]) / det;
      }
      float n21[3], tb[3];
      cross3(e2, e1, n21);
      cross3(T, B, tb);
      if (dot3(n21, tb) >= 0)
        for (float &v : T) v = -v;
    } else {
      float l1 = dot3(e1, e1), l2 = dot3(e2, e2);
      const float *e = l1 > l2 ? e1 : e2;
      float l = std::sqrt(l1 > l2 ? l1 : l2);
      if (l > 0)
        for (int k = 0; k < 3; k++) T[k] = e[k] / l * tiny;
      else
        T[0] = tiny, T[1] = T[2] = 0;
    }
    for (int k = 0; k < 3; k++)
      for (int c = 0; c < 3; c++) m->tangents[3 * i[k] + c] += T[c];
  }
  for (int v = 0; v < m->vertex_count; v++) {
    float *t = m->tangents + 3 * v;
    float l = std::sqrt(dot3(t, t));
    if (l > 0 && std::isfinite(l))
      t[0] /= l, t[1] /= l, t[2] /= l;
    else
      t[0] = 1, t[1] = t[2] = 0;
  }
}

void texture_rates(const Model *m, float *u_rate, float *v_rate) {
  for (int t = 0; t < m->triangle_count; t++) {
    for (int k = 0; k < 3; k++) {
      uint32_t a = m->triangles[3 * t + k], b = m->triangles[3 * t + (k + 1) % 3];
      float d[3];
      sub3(m->positions + 3 * b, m->positions + 3 * a, d);
      float len = std::sqrt(dot3(d, d));
      if (!(len >= 0.0625f)) continue;
      float du = std::fabs(m->texcoords[2 * b] - m->texcoords[2 * a]) / len;
      float dv = std::fabs(m->texcoords[2 * b + 1] - m->texcoords[2 * a + 1]) / len;
      if (du > *u_rate) *u_rate = du;
      if (dv > *v_rate) *v_rate = dv;
    }
  }
}

// One part's vertices and triangles after its counts; false on a bad value.
bool read_part(Reader &r, Model *m, int bone_count, bool oldest, int *crowded, int *degenerate) {
  long nv = m->vertex_count, nt = m->triangle_count;
  // Every vertex needs at least 8 numbers and every triangle 3, each taking
  // two bytes or more: counts the text cannot hold fail before allocating.
  long need = (nv * (8 + bone_count) + nt * 3) * 2 - 1;
  if (nv < 0 || nt < 0 || nv > MAX_COUNT || nt > MAX_COUNT || need > r.remaining()) return false;
  (void)oldest;
  m->bone_count = bone_count;
  m->positions = floats(3 * nv);
  m->normals = floats(3 * nv);
  m->tangents = floats(3 * nv);
  m->texcoords = floats(2 * nv);
  m->triangles = static_cast<uint32_t *>(mem_alloc(size_t(nt > 0 ? 3 * nt : 1) * sizeof(uint32_t)));
  if (bone_count > 0) {
    m->weights = floats(4 * nv);
    m->bones = static_cast<int *>(mem_alloc(size_t(nv > 0 ? 4 * nv : 1) * sizeof(int)));
  }
  if (!m->positions || !m->normals || !m->tangents || !m->texcoords || !m->triangles ||
      (bone_count > 0 && (!m->weights || !m->bones)))
    return false;
  for (long v = 0; v < nv; v++) {
    for (int k = 0; k < 3; k++)
      if (!r.number(m->positions + 3 * v + k)) return false;
    for (int k = 0; k < 3; k++)
      if (!r.number(m->normals + 3 * v + k)) return false;
    float uv[2];
    if (!r.number(&uv[0]) || !r.number(&uv[1])) return false;
    m->texcoords[2 * v] = uv[0];
    m->texcoords[2 * v + 1] = 1 - uv[1];
    if (bone_count > 0) {
      bool ok = true;
      if (read_weights(r, bone_count, m->weights + 4 * v, m->bones + 4 * v, &ok)) *crowded = 1;
      if (!ok) return false;
    }
  }
  long *raw = static_cast<long *>(mem_alloc(size_t(nt > 0 ? 3 * nt : 1) * sizeof(long)));
  if (!raw) return false;
  for (long i = 0; i < 3 * nt; i++)
    if (!r.integer(raw + i)) {
      mem_free(raw);
      return false;
    }
  *degenerate += drop_degenerate(m, raw);
  mem_free(raw);
  make_tangents(m);
  return true;
}

// A part header: false at the end of the parts.
bool read_header(Reader &r, Model *m) {
  float f[5];
  long nv, nt;
  for (float &v : f)
    if (!r.number(&v)) return false;
  if (!r.integer(&nv) || !r.integer(&nt)) return false;
  m->shininess = f[0];
  m->reflectivity = f[0] < 0 ? f[1] : 1;
  m->color[0] = f[2], m->color[1] = f[3], m->color[2] = f[4];
  m->vertex_count = int(nv < 0 ? -1 : nv > MAX_COUNT ? MAX_COUNT + 1 : nv);
  m->triangle_count = int(nt < 0 ? -1 : nt > MAX_COUNT ? MAX_COUNT + 1 : nt);
  return true;
}

}  // namespace

// Spheres around groups of points, two runs over them: `each(visit)` calls
// visit(group, point) for every point of every group it belongs to. Out:
// centre and radius a group, widened a little so that the view test never
// drops a model the renderer would have put a pixel of on the screen;
// radius -1 for a group with no point.
template <class Each>
void spheres_of(int groups, Each each, float *out) {
  double box[MODEL_MAX_BONES][6], r2[MODEL_MAX_BONES];
  for (int g = 0; g < groups; g++) {
    for (int k = 0; k < 3; k++) box[g][k] = HUGE_VAL, box[g][3 + k] = -HUGE_VAL;
    r2[g] = 0;
  }
  each([&](int g, const float *v) {
    for (int k = 0; k < 3; k++) box[g][k] = std::fmin(box[g][k], v[k]), box[g][3 + k] = std::fmax(box[g][3 + k], v[k]);
  });
  each([&](int g, const float *v) {
    double d[3];
    for (int k = 0; k < 3; k++) d[k] = v[k] - (box[g][k] + box[g][3 + k]) / 2;
    r2[g] = std::fmax(r2[g], d[0] * d[0] + d[1] * d[1] + d[2] * d[2]);
  });
  for (int g = 0; g < groups; g++) {
    float *o = out + 4 * g;
    for (int k = 0; k < 3; k++) o[k] = box[g][k] <= box[g][3 + k] ? float((box[g][k] + box[g][3 + k]) / 2) : 0;
    o[3] = box[g][0] <= box[g][3] ? float(std::sqrt(r2[g]) * 1.01 + 1e-3) : -1;
  }
}

// The bounds of one level (all its parts) for the view test: one sphere
// for the whole, and with bones one for the points each bone moves.
void level_bounds(Model *first) {
  spheres_of(1, [first](auto visit) {
    for (const Model *p = first; p; p = p->next)
      for (int i = 0; i < p->vertex_count; i++) visit(0, p->positions + 3 * i);
  }, first->bound);
  bool skinned = false;
  for (const Model *p = first; p; p = p->next) skinned |= p->bone_count > 0 && p->weights && p->bones;
  if (!skinned || !(first->bone_bounds = floats(4 * MODEL_MAX_BONES))) return;
  spheres_of(MODEL_MAX_BONES, [first](auto visit) {
    for (const Model *p = first; p; p = p->next)
      for (int i = 0; p->weights && p->bones && i < p->vertex_count; i++)
        for (int k = 0; k < 4; k++) {
          int b = p->bones[4 * i + k];
          if (p->weights[4 * i + k] > 0 && b >= 0 && b < MODEL_MAX_BONES) visit(b, p->positions + 3 * i);
        }
  }, first->bone_bounds);
}

Model *model_parse(const char *text, int length, const char *name) {
  if (!text || length < 0) return nullptr;
  Reader r{text, text + length};
  Model *first = nullptr, *last = nullptr;
  int crowded = 0, degenerate = 0;
  auto fail = [&](const char *why) -> Model * {
    log_printf("Can't read model %.900s: %s\n", name, why);
    model_free(first);
    return nullptr;
  };
  auto append = [&](Model *m) {
    if (last)
      last->next = m;
    else
      first = m;
    last = m;
  };
  r.skip();
  if (r.remaining() >= 2 && r.p[0] == 'J' && r.p[1] == 'M') {
    r.p += 2;
    long version;
    if (!r.integer(&version) || (version != 1 && version != 2)) return fail("unknown version");
    long bones = 0;
    if (version == 2) {
      if (!r.integer(&bones)) return fail("no bone count");
      if (bones < 0 || bones > MODEL_MAX_BONES) return fail("bad bone count");
      r.skip();
      int n = 0;  // the word after the count is not used
      while (r.p < r.end && n < 1023 && !isspace(static_cast<unsigned char>(*r.p))) r.p++, n++;
      if (n == 0) return fail("no bone line");
    }
    for (;;) {
      Model *m = new_part(name);
      if (!m) return fail("out of memory");
      if (!read_header(r, m)) {
        model_free(m);
        break;
      }
      append(m);
      if (!read_part(r, m, int(bones), false, &crowded, &degenerate)) return fail("bad value");
    }
    if (!first) return fail("no parts");
  } else {
    Model *m = new_part(name);
    if (!m) return fail("out of memory");
    append(m);
    long nv, nt;
    if (!r.integer(&nv) || !r.integer(&nt)) return fail("no counts");
    m->shininess = 32, m->reflectivity = 1;
    m->color[0] = m->color[1] = m->color[2] = 1;
    m->vertex_count = int(nv < 0 ? -1 : nv > MAX_COUNT ? MAX_COUNT + 1 : nv);
    m->triangle_count = int(nt < 0 ? -1 : nt > MAX_COUNT ? MAX_COUNT + 1 : nt);
    if (!read_part(r, m, 0, true, &crowded, &degenerate)) return fail("bad value");
  }
  if (crowded) add_messagef("Warning: vertex with more than 4 bone influences in '%.900s'", name);
  if (degenerate) add_messagef("%d degenerate triangles deleted in %.100s", degenerate, name);
  float ur = 0, vr = 0;
  for (Model *m = first; m; m = m->next) {
    texture_rates(m, &ur, &vr);
    if (m->shininess == -1) first->has_env = 1;
  }
  first->u_rate = ur, first->v_rate = vr;
  level_bounds(first);
  return first;
}

void model_free(Model *m) {
  while (m) {
    Model *next = m->next;
    model_free(m->lod_next);
    free_part_arrays(m);
    mem_free(m);
    m = next;
  }
}

// ------------------------------------------------------------ GPU objects
static void upload(Model *m) {
  if (!gl.GenBuffers || !gl.GenVertexArrays) return;  // no context: headless
  for (Model *p = m; p; p = p->next) {
    long nv = p->vertex_count;
    long block3 = nv * 3 * long(sizeof(float)), block2 = nv * 2 * long(sizeof(float));
    long block4 = nv * 4 * long(sizeof(float));
    long size = 3 * block3 + block2 + (p->bone_count ? 2 * block4 : 0);
    twglGenVertexArrays(1, &p->vao);
    twglBindVertexArray(p->vao);
    twglGenBuffers(1, &p->vbo);
    twglBindBuffer(GL_ARRAY_BUFFER, p->vbo);
    twglBufferData(GL_ARRAY_BUFFER, size > 0 ? size : 4, nullptr, GL_STATIC_DRAW);
    long at = 0;
    auto block = [&](GLuint attr, int comps, const void *data, long bytes) {
      if (bytes > 0) twglBufferSubData(GL_ARRAY_BUFFER, at, bytes, data);
      twglEnableVertexAttribArray(attr);
      twglVertexAttribPointer(attr, comps, GL_FLOAT, GL_FALSE, 0, reinterpret_cast<const void *>(at));
      at += bytes;
    };
    block(0, 3, p->positions, block3);
    block(2, 3, p->normals, block3);
    block(9, 3, p->tangents, block3);
    block(8, 2, p->texcoords, block2);
    if (p->bone_count) {
      block(10, 4, p->weights, block4);
      float *b = floats(4 * nv);
      if (b) {
        for (long i = 0; i < 4 * nv; i++) b[i] = float(p->bones[i]);
        block(11, 4, b, block4);
        mem_free(b);
      }
    }
    twglGenBuffers(1, &p->ibo);
    twglBindBuffer(GL_ELEMENT_ARRAY_BUFFER, p->ibo);
    long ibytes = long(p->triangle_count) * 3 * long(sizeof(uint32_t));
    twglBufferData(GL_ELEMENT_ARRAY_BUFFER, ibytes > 0 ? ibytes : 4, ibytes > 0 ? p->triangles : nullptr,
                   GL_STATIC_DRAW);
    twglBindVertexArray(0);
    twglBindBuffer(GL_ARRAY_BUFFER, 0);
  }
}

static Model *model_load(const char *name) {
  int length = 0;
  char *text = file_to_string(name, &length);
  if (!text) {
    log_printf("Can't open model %.900s\n", name);
    return nullptr;
  }
  Model *m = model_parse(text, length, name);
  mem_free(text);
  if (m) upload(m);
  return m;
}

// Every "<stem>_lod<d>" data file beside a "@" model, chained by distance.
static void load_levels(Model *m) {
  const char *name = m->name;
  if (name[0] != '@') return;
  const char *dot = strrchr(name, '.');
  const char *slash = strrchr(name, '/');
  if (dot && slash && dot < slash) dot = nullptr;
  int stem = int((dot ? dot : name + strlen(name)) - (name + 1));
  const char *const *files = file_index_build();
  for (int i = 0; files && files[i]; i++) {
    const char *f = files[i];
    if (f[0] == '@') f++;
    if (strncmp(f, name + 1, size_t(stem)) != 0 || strncmp(f + stem, "_lod", 4) != 0) continue;
    const char *digits = f + stem + 4;
    if (*digits < '0' || *digits > '9') continue;
    int d = atoi(digits);
    if (d > 60) d = 60;
    char level_name[MODEL_NAME_MAX];
    int n = snprintf(level_name, sizeof level_name, "@%s", f);
    if (n < 0 || n >= int(sizeof level_name)) continue;
    size_t len = strlen(level_name);
    if (len > 3 && strcmp(level_name + len - 3, ".gz") == 0) level_name[len - 3] = 0;
    bool seen = false;
    for (Model *l = m->lod_next; l; l = l->lod_next)
      if (strcmp(l->name, level_name) == 0) seen = true;
    if (seen) continue;
    Model *level = model_load(level_name);
    if (!level) continue;
    level->lod_distance = std::ldexp(1.0f, d);
    Model *at = m;
    while (at->lod_next && at->lod_next->lod_distance <= level->lod_distance) at = at->lod_next;
    level->lod_next = at->lod_next;
    at->lod_next = level;
  }
}

// ------------------------------------------------------------------ cache
static Model **cache = nullptr;
static int cache_count = 0, cache_capacity = 0;

Model *model_get(const char *name) {
  if (!name || !name[0]) return nullptr;
  for (int i = 0; i < cache_count; i++)
    if (strcmp(cache[i]->name, name) == 0) {
      cache[i]->generation = model_generation;
      return cache[i];
    }
  for (int i = 0; i < cache_count; i++)
    if (strcasecmp(cache[i]->name, name) == 0) {
      add_messagef("Warning: case mismatch on '%.900s'", name);
      cache[i]->generation = model_generation;
      return cache[i];
    }
  if (cache_count == cache_capacity) {
    int cap = cache_capacity ? cache_capacity * 2 : 16;
    Model **grown = static_cast<Model **>(mem_realloc(cache, size_t(cap) * sizeof(Model *)));
    if (!grown) return nullptr;
    cache = grown, cache_capacity = cap;
  }
  Model *m = model_load(name);
  if (!m) return nullptr;
  load_levels(m);
  m->generation = model_generation;
  cache[cache_count++] = m;
  return m;
}

void model_purge(int all) {
  int kept = 0;
  for (int i = 0; i < cache_count; i++) {
    Model *m = cache[i];
    if (all || (m->generation && m->generation != model_generation)) {
      if (log_verbosity >= 1) add_messagef("deleting model %.900s", m->name);
      model_free(m);
    } else {
      cache[kept++] = m;
    }
  }
  cache_count = kept;
  if (all) {
    mem_free(cache);
    cache = nullptr;
    cache_capacity = 0;
  }
}

int model_cache_count() { return cache_count; }

// ---------------------------------------------------------------- drawing
static void lod_scale_bias(float *s, float *b) {
  *s = scene_settings.lod_scale;
  *b = scene_settings.lod_bias;
}

const Model *model_level(const Model *m, const float camera[3], const float position[3]) {
  if (!m) return nullptr;
  float s, b;
  lod_scale_bias(&s, &b);
  float d[3] = {position[0] - camera[0], position[1] - camera[1], position[2] - camera[2]};
  float D = dot3(d, d) * s * s;
  const Model *l = m;
  for (const Model *next = m->lod_next; next; next = next->lod_next) {
    float e = next->lod_distance - b;
    if (!(e <= 0 || e * e <= D)) break;
    l = next;
  }
  return l;
}

// A bound on how far a bone's rotation can move a point: 1 for a rotation,
// else the Frobenius norm (a script may pose with any matrix).
static double stretch(const float *r) {
  double f = 0, off = 0;
  for (int i = 0; i < 3; i++)
    for (int j = 0; j < 3; j++) {
      f += double(r[3 * i + j]) * r[3 * i + j];
      double d = double(r[i]) * r[j] + double(r[3 + i]) * r[3 + j] + double(r[6 + i]) * r[6 + j];
      off = std::fmax(off, std::fabs(d - (i == j)));
    }
  return off < 1e-4 ? 1.0001 : std::sqrt(f);
}

// Whether a level, placed as the vertex program places it, lies wholly
// outside one plane of the view volume: then it would put no pixel on the
// screen and drawing it only costs the renderer.
static bool out_of_view(const Model *l, int bone_count, const float *centres, const float *translations,
                        const float *rotations) {
  double c[3] = {l->bound[0], l->bound[1], l->bound[2]}, r = l->bound[3];
  if (bone_count > 0) {
    // A skinned point is a weighted mean of where its bones take it; bone
    // b takes it within stretch x (its radius + how far the rest centre is
    // from the bone sphere's) of its translation.
    if (!l->bone_bounds) return false;
    double lo[3] = {HUGE_VAL, HUGE_VAL, HUGE_VAL}, hi[3] = {-HUGE_VAL, -HUGE_VAL, -HUGE_VAL};
    double reach[MODEL_MAX_BONES] = {};
    for (int b = 0; b < MODEL_MAX_BONES; b++) {
      const float *s = l->bone_bounds + 4 * b;
      if (s[3] < 0) continue;
      if (b >= bone_count) return false;  // moved by a bone this draw does not give
      const float *ce = centres + 3 * b, *t = translations + 3 * b;
      double d[3] = {double(s[0]) - ce[0], double(s[1]) - ce[1], double(s[2]) - ce[2]};
      reach[b] = stretch(rotations + 9 * b) * (s[3] + std::sqrt(d[0] * d[0] + d[1] * d[1] + d[2] * d[2]));
      if (!std::isfinite(reach[b] + t[0] + t[1] + t[2])) return false;  // a broken pose: no guess
      for (int k = 0; k < 3; k++) lo[k] = std::fmin(lo[k], t[k]), hi[k] = std::fmax(hi[k], t[k]);
    }
    if (!(lo[0] <= hi[0])) return false;
    r = 0;
    for (int k = 0; k < 3; k++) c[k] = (lo[k] + hi[k]) / 2;
    for (int b = 0; b < MODEL_MAX_BONES; b++) {
      if (l->bone_bounds[4 * b + 3] < 0) continue;
      const float *t = translations + 3 * b;
      double d[3] = {t[0] - c[0], t[1] - c[1], t[2] - c[2]};
      r = std::fmax(r, std::sqrt(d[0] * d[0] + d[1] * d[1] + d[2] * d[2]) + reach[b]);
    }
    r = r * 1.01 + 1e-3;
  }
  if (!(r >= 0)) return false;  // no points, or not a number
  float m[16];
  twgl_mvp(m);
  // Planes of the clip volume in the model's space: w + x >= 0, w - x >= 0,
  // and the same for y and z.
  for (int k = 0; k < 3; k++)
    for (int sign = -1; sign <= 1; sign += 2) {
      double pl[4];
      for (int j = 0; j < 4; j++) pl[j] = double(m[4 * j + 3]) + sign * double(m[4 * j + k]);
      double n = std::sqrt(pl[0] * pl[0] + pl[1] * pl[1] + pl[2] * pl[2]);
      if (pl[0] * c[0] + pl[1] * c[1] + pl[2] * c[2] + pl[3] < -r * n) return true;
    }
  return false;
}

static void draw_part(const Model *p) {
  if (!p->vao || p->triangle_count <= 0) return;
  twglBindVertexArray(p->vao);
  twglDrawElements(GL_TRIANGLES, p->triangle_count * 3, GL_UNSIGNED_INT, nullptr);
  twglBindVertexArray(0);
  model_polygons += p->triangle_count;
}

void model_draw_lit(const Model *m, const float camera[3], const float position[3], const float *,
                    int bone_count, const float *centres, const float *translations,
                    const float *rotations, int own_specular) {
  if (!m) return;
  const Model *l = model_level(m, camera, position);
  if (out_of_view(l, bone_count, centres, translations, rotations)) return;
  twglSetBones(bone_count, centres, translations, rotations);
  for (const Model *p = l; p; p = p->next) {
    if (p->shininess == -1) break;
    if (p->shininess == -2) {
      float amb[4] = {p->color[0], p->color[1], p->color[2], model_alpha};
      float zero[3] = {0, 0, 0};
      twglSetAmbient(amb);
      twglSetDiffuse(zero);
      twglSetSpecularColor(zero);
      twglSetShininess(1);
    } else {
      float amb[4];
      for (int k = 0; k < 3; k++) amb[k] = lighting.ambient[k] + lighting.global_ambient[k];
      amb[3] = model_alpha;
      float specular[3];
      for (int k = 0; k < 3; k++) specular[k] = own_specular ? lighting.sun_color[k] : lighting.sun_color[k] * p->color[k];
      twglSetAmbient(amb);
      twglSetDiffuse(lighting.sun_color);
      twglSetSpecularColor(specular);
      twglSetShininess(p->shininess > 0.125f ? p->shininess : 0.125f);
    }
    draw_part(p);
  }
}

int model_map_values(GLuint colour, GLuint normal, GLuint specular) {
  const TextureFacts *n = texture_facts(normal ? normal : twgl_normal_texture);
  const TextureFacts *s = texture_facts(specular ? specular : twgl_white_texture);
  twglSetMapValues(n && n->uniform ? n->value : nullptr, s && s->uniform ? s->value : nullptr);
  const TextureFacts *c = texture_facts(colour);
  return c && c->opaque && model_alpha >= 1;
}

int model_draws_env(const Model *m) { return m && scene_settings.reflections && m->has_env; }

void model_draw_env(const Model *m, const float camera[3], const float position[3], const float *,
                    int bone_count, const float *centres, const float *translations,
                    const float *rotations) {
  if (!model_draws_env(m)) return;
  const Model *l = model_level(m, camera, position);
  if (out_of_view(l, bone_count, centres, translations, rotations)) return;
  twglSetBones(bone_count, centres, translations, rotations);
  for (const Model *p = l; p; p = p->next) {
    if (p->shininess != -1) continue;
    float c[3] = {p->color[0] * p->reflectivity, p->color[1] * p->reflectivity, p->color[2] * p->reflectivity};
    twglSetSpecularColor(c);
    draw_part(p);
  }
}

void model_draw_lines(const Model *m) {
  if (!m) return;
  while (m->lod_next) m = m->lod_next;
  twglBegin(GL_LINES);
  for (const Model *p = m; p; p = p->next)
    for (int t = 0; t < p->triangle_count; t++)
      for (int k = 0; k < 3; k++) {
        const float *a = p->positions + 3 * p->triangles[3 * t + k];
        const float *b = p->positions + 3 * p->triangles[3 * t + (k + 1) % 3];
        twglVertex(a[0], a[1], a[2]);
        twglVertex(b[0], b[1], b[2]);
      }
  twglEnd();
}

static int export_part(const Model *p, DataFile *f) {
  int ok = data_printf(f, "mesh2 {\n") >= 0;
  const char *blocks[3] = {"\tvertex_vectors {\n", "\tnormal_vectors {\n", "\tuv_vectors {\n"};
  for (int b = 0; b < 3; b++) {
    ok &= data_printf(f, "%s\t\t%d\n", blocks[b], p->vertex_count) >= 0;
    for (int v = 0; v < p->vertex_count; v++) {
      const char *comma = v + 1 < p->vertex_count ? "," : "";
      if (b == 2) {
        ok &= data_printf(f, "\t\t<%f,%f>%s\n", double(p->texcoords[2 * v]), double(p->texcoords[2 * v + 1]), comma) >= 0;
      } else {
        const float *x = (b == 0 ? p->positions : p->normals) + 3 * v;
        ok &= data_printf(f, "\t\t<%f,%f,%f>%s\n", double(x[0]), double(x[1]), double(x[2]), comma) >= 0;
      }
    }
    ok &= data_printf(f, "\t}\n") >= 0;
  }
  ok &= data_printf(f, "\tface_indices {\n\t\t%d\n", p->triangle_count) >= 0;
  for (int t = 0; t < p->triangle_count; t++) {
    const uint32_t *i = p->triangles + 3 * t;
    ok &= data_printf(f, "\t\t<%d,%d,%d>%s\n", int(i[0]), int(i[1]), int(i[2]),
                      t + 1 < p->triangle_count ? "," : "") >= 0;
  }
  ok &= data_printf(f, "\t}\n}\n") >= 0;
  return ok;
}

int model_export_pov(const Model *m, DataFile *f) {
  if (!m || !f) return 0;
  int ok = 1;
  if (m->next) ok &= data_printf(f, "union {\n") >= 0;
  for (const Model *p = m; p; p = p->next) ok &= export_part(p, f);
  if (m->next) ok &= data_printf(f, "}\n") >= 0;
  return ok;
}

void models_delete() { model_purge(1); }
