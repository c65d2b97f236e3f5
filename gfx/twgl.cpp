// The GL layer: client-side matrix stacks uploaded only when dirty, one
// streaming vertex batch for begin/end primitives, and a command queue that
// lets the batch grow across state changes until it is flushed.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "core/mathutil.h"
#include "gfx/gl_table.h"
#include "core/log.h"

GlFuncs gl;

int twgl_gles = 0;
int twgl_gl_major = 0, twgl_gl_minor = 0;
int twgl_software = 0;
GLuint twgl_white_texture = 0, twgl_normal_texture = 0;
int twgl_program_switches = 0;
int twgl_texture_binds = 0;
int64_t twgl_triangles = 0;

static void count_triangles(GLenum mode, GLsizei count) {
  if (mode == GL_TRIANGLES) twgl_triangles += count / 3;
  else if ((mode == GL_TRIANGLE_STRIP || mode == GL_TRIANGLE_FAN) && count > 2) twgl_triangles += count - 2;
}

namespace {

enum Opcode {
  OP_ACTIVE_TEXTURE = 1,
  OP_BIND_TEXTURE,
  OP_BLEND_FUNC,
  OP_DEPTH_FUNC,
  OP_DEPTH_MASK,
  OP_DISABLE,
  OP_DRAW_ARRAYS,
  OP_DRAW_INDEXED,
  OP_ENABLE,
  OP_FRUSTUM,
  OP_LOAD_MATRIX,
  OP_LOAD_IDENTITY,
  OP_MATRIX_MODE,
  OP_MULT_MATRIX,
  OP_ORTHO,
  OP_POP_MATRIX,
  OP_PUSH_MATRIX,
  OP_ROTATE,
  OP_SCALE,
  OP_TRANSLATE,
};

struct Vertex {
  float pos[4];
  float tc[4];
  float col[4];
};
static_assert(sizeof(Vertex) == 48, "the batch layout is 48 bytes a vertex");

float stacks[TWGL_STACKS][TWGL_STACK_DEPTH][16];
int depth[TWGL_STACKS];
int cur_stack = 0;
int active_unit = 0;
unsigned dirty = 0;
int cur_program = 0;

Vertex batch[TWGL_BATCH_VERTICES];
uint16_t indices[TWGL_BATCH_INDICES];
int committed_v = 0, open_v = 0, committed_i = 0;
GLenum open_mode = 0;
bool primitive_open = false;
Vertex loop_first;  // a line loop closes on its first vertex, even across batches
float cur_col[4] = {1, 1, 1, 1};
float cur_tc[4] = {0, 0, 0, 1};

uint32_t queue[TWGL_QUEUE_WORDS];
int queue_len = 0;

GLuint batch_vao = 0, batch_vbo = 0, batch_ibo = 0;

const float IDENTITY[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};

uint32_t fbits(float f) {
  uint32_t u;
  memcpy(&u, &f, 4);
  return u;
}
float bitsf(uint32_t u) {
  float f;
  memcpy(&f, &u, 4);
  return f;
}

void queue_reserve(int words);

void push_words(const uint32_t *w, int n) {
  queue_reserve(n);
  memcpy(queue + queue_len, w, n * 4);
  queue_len += n;
}
void push_op(uint32_t op) { push_words(&op, 1); }
void push_op(uint32_t op, uint32_t a) {
  uint32_t w[2] = {op, a};
  push_words(w, 2);
}
void push_op(uint32_t op, uint32_t a, uint32_t b) {
  uint32_t w[3] = {op, a, b};
  push_words(w, 3);
}
void push_op_floats(uint32_t op, const float *f, int n) {
  uint32_t w[17];
  w[0] = op;
  for (int i = 0; i < n; i++) w[1 + i] = fbits(f[i]);
  push_words(w, n + 1);
}

float *top(int s) { return stacks[s][depth[s]]; }

// out = a * b, column-major, out may alias either.
void mat_mul(float *out, const float *a, const float *b) {
  float r[16];
  for (int c = 0; c < 4; c++)
    for (int row = 0; row < 4; row++) {
      float v = 0;
      for (int k = 0; k < 4; k++) v += a[k * 4 + row] * b[c * 4 + k];
      r[c * 4 + row] = v;
    }
  memcpy(out, r, sizeof r);
}

void mult_top(const float *m) {
  mat_mul(top(cur_stack), top(cur_stack), m);
  dirty |= 1u << cur_stack;
}

void exec_matrix(int op, const uint32_t *a) {
  float f[16];
  int nf = op == OP_LOAD_MATRIX || op == OP_MULT_MATRIX ? 16
           : op == OP_ROTATE                              ? 4
           : op == OP_SCALE || op == OP_TRANSLATE         ? 3
           : op == OP_FRUSTUM || op == OP_ORTHO           ? 6
                                                          : 0;
  for (int i = 0; i < nf; i++) f[i] = bitsf(a[i]);
  float m[16];
  memcpy(m, IDENTITY, sizeof m);
  switch (op) {
    case OP_LOAD_IDENTITY:
      memcpy(top(cur_stack), IDENTITY, sizeof IDENTITY);
      dirty |= 1u << cur_stack;
      return;
    case OP_LOAD_MATRIX:
      memcpy(top(cur_stack), f, sizeof(float) * 16);
      dirty |= 1u << cur_stack;
      return;
    case OP_MULT_MATRIX:
      mult_top(f);
      return;
    case OP_TRANSLATE:
      m[12] = f[0], m[13] = f[1], m[14] = f[2];
      break;
    case OP_SCALE:
      m[0] = f[0], m[5] = f[1], m[10] = f[2];
      break;
    case OP_ROTATE: {
      float len = length3(f + 1);
      if (len == 0) return;
      float x = f[1] / len, y = f[2] / len, z = f[3] / len;
      float rad = f[0] * 3.14159265358979f / 180, c = cosf(rad), s = sinf(rad), t = 1 - c;
      m[0] = x * x * t + c, m[4] = x * y * t - z * s, m[8] = x * z * t + y * s;
      m[1] = y * x * t + z * s, m[5] = y * y * t + c, m[9] = y * z * t - x * s;
      m[2] = x * z * t - y * s, m[6] = y * z * t + x * s, m[10] = z * z * t + c;
      break;
    }
    case OP_FRUSTUM: {
      float l = f[0], r = f[1], b = f[2], t = f[3], n = f[4], fa = f[5];
      memset(m, 0, sizeof m);
      m[0] = 2 * n / (r - l), m[5] = 2 * n / (t - b);
      m[8] = (r + l) / (r - l), m[9] = (t + b) / (t - b), m[10] = -(fa + n) / (fa - n);
      m[11] = -1, m[14] = -2 * fa * n / (fa - n);
      break;
    }
    case OP_ORTHO: {
      float l = f[0], r = f[1], b = f[2], t = f[3], n = f[4], fa = f[5];
      m[0] = 2 / (r - l), m[5] = 2 / (t - b), m[10] = -2 / (fa - n);
      m[12] = -(r + l) / (r - l), m[13] = -(t + b) / (t - b), m[14] = -(fa + n) / (fa - n);
      break;
    }
    case OP_PUSH_MATRIX:
      if (depth[cur_stack] >= TWGL_STACK_DEPTH - 1) {
        log_printf("Error: twglPushMatrix overflowed\n");
        return;
      }
      memcpy(stacks[cur_stack][depth[cur_stack] + 1], top(cur_stack), sizeof(float) * 16);
      depth[cur_stack]++;
      return;
    case OP_POP_MATRIX:
      if (depth[cur_stack] == 0) {
        log_printf("Error: twglPopMatrix with empty stack\n");
        return;
      }
      depth[cur_stack]--;
      dirty |= 1u << cur_stack;
      return;
  }
  mult_top(m);
}

void upload_matrices() {
  if (cur_program < 1 || cur_program > TWGL_PROGRAMS) return;
  for (int s = 0; s < TWGL_STACKS; s++) {
    if (!(dirty & (1u << s))) continue;
    GLint loc = twgl_uniform(cur_program, U_MODELVIEW + s);
    if (loc >= 0) gl.UniformMatrix4fv(loc, 1, GL_FALSE, top(s));
  }
  dirty = 0;
}

void before_draw() {
  if (cur_program == 0) twgl_fatal("Error: Fixed shader used\n");
  if (twgl_program_prepare_draw(cur_program)) dirty = (1u << TWGL_STACKS) - 1;
  upload_matrices();
}

void execute_queue() {
  int i = 0;
  while (i < queue_len) {
    uint32_t op = queue[i++];
    const uint32_t *a = queue + i;
    switch (op) {
      case OP_ACTIVE_TEXTURE: {
        gl.ActiveTexture(a[0]);
        uint32_t unit = a[0] - GL_TEXTURE0;
        if (unit >= TWGL_TEXTURE_UNITS) {
          log_printf("Error: glActiveTexture out of range\n");
        } else {
          active_unit = int(unit);
          if (cur_stack >= 2) cur_stack = 2 + active_unit;
        }
        i += 1;
        break;
      }
      case OP_BIND_TEXTURE: gl.BindTexture(a[0], a[1]); i += 2; break;
      case OP_BLEND_FUNC: gl.BlendFunc(a[0], a[1]); i += 2; break;
      case OP_DEPTH_FUNC: gl.DepthFunc(a[0]); i += 1; break;
      case OP_DEPTH_MASK: gl.DepthMask(GLboolean(a[0])); i += 1; break;
      case OP_DISABLE: gl.Disable(a[0]); i += 1; break;
      case OP_ENABLE: gl.Enable(a[0]); i += 1; break;
      case OP_DRAW_ARRAYS:
        before_draw();
        count_triangles(a[0], GLsizei(a[2]));
        gl.DrawArrays(a[0], GLint(a[1]), GLsizei(a[2]));
        i += 3;
        break;
      case OP_DRAW_INDEXED:
        before_draw();
        count_triangles(GL_TRIANGLES, GLsizei(a[1]));
        gl.DrawRangeElements(GL_TRIANGLES, a[2], a[2] + a[3] - 1, GLsizei(a[1]),
                             GL_UNSIGNED_SHORT,
                             reinterpret_cast<const void *>(uintptr_t(a[0]) * 2));
        i += 4;
        break;
      case OP_MATRIX_MODE:
        if (a[0] == GL_MODELVIEW) cur_stack = 0;
        else if (a[0] == GL_PROJECTION) cur_stack = 1;
        else if (a[0] == GL_TEXTURE) cur_stack = 2 + active_unit;
        i += 1;
        break;
      case OP_LOAD_IDENTITY:
      case OP_POP_MATRIX:
      case OP_PUSH_MATRIX: exec_matrix(int(op), a); break;
      case OP_LOAD_MATRIX:
      case OP_MULT_MATRIX: exec_matrix(int(op), a); i += 16; break;
      case OP_FRUSTUM:
      case OP_ORTHO: exec_matrix(int(op), a); i += 6; break;
      case OP_ROTATE: exec_matrix(int(op), a); i += 4; break;
      case OP_SCALE:
      case OP_TRANSLATE: exec_matrix(int(op), a); i += 3; break;
      default: twgl_fatal("Invalid GL command queued\n");
    }
  }
  queue_len = 0;
}

void create_batch_objects() {
  gl.GenVertexArrays(1, &batch_vao);
  gl.GenBuffers(1, &batch_vbo);
  gl.GenBuffers(1, &batch_ibo);
  gl.BindVertexArray(batch_vao);
  gl.BindBuffer(GL_ARRAY_BUFFER, batch_vbo);
  gl.BufferData(GL_ARRAY_BUFFER, sizeof batch, nullptr, GL_STREAM_DRAW);
  gl.BindBuffer(GL_ELEMENT_ARRAY_BUFFER, batch_ibo);
  gl.BufferData(GL_ELEMENT_ARRAY_BUFFER, sizeof indices, nullptr, GL_STREAM_DRAW);
  gl.EnableVertexAttribArray(0);
  gl.VertexAttribPointer(0, 4, GL_FLOAT, GL_FALSE, 48, reinterpret_cast<void *>(0));
  gl.EnableVertexAttribArray(8);
  gl.VertexAttribPointer(8, 4, GL_FLOAT, GL_FALSE, 48, reinterpret_cast<void *>(16));
  gl.EnableVertexAttribArray(3);
  gl.VertexAttribPointer(3, 4, GL_FLOAT, GL_FALSE, 48, reinterpret_cast<void *>(32));
  gl.BindVertexArray(0);
  gl.BindBuffer(GL_ARRAY_BUFFER, 0);
}

// Uploads the committed vertices and runs the queue; the open primitive
// (if any) must have been dealt with by the caller.
void flush_committed() {
  GLint vao = 0, vbo = 0, ibo = 0;
  bool have_vertices = committed_v > 0;
  if (have_vertices) {
    if (!batch_vao) create_batch_objects();
    gl.GetIntegerv(GL_VERTEX_ARRAY_BINDING, &vao);
    gl.GetIntegerv(GL_ARRAY_BUFFER_BINDING, &vbo);
    gl.GetIntegerv(GL_ELEMENT_ARRAY_BUFFER_BINDING, &ibo);
    gl.BindVertexArray(batch_vao);
    gl.BindBuffer(GL_ARRAY_BUFFER, batch_vbo);
    gl.BindBuffer(GL_ELEMENT_ARRAY_BUFFER, batch_ibo);
    gl.BufferData(GL_ARRAY_BUFFER, sizeof batch, nullptr, GL_STREAM_DRAW);
    gl.BufferSubData(GL_ARRAY_BUFFER, 0, committed_v * sizeof(Vertex), batch);
    if (committed_i > 0) {
      gl.BufferData(GL_ELEMENT_ARRAY_BUFFER, sizeof indices, nullptr, GL_STREAM_DRAW);
      gl.BufferSubData(GL_ELEMENT_ARRAY_BUFFER, 0, committed_i * 2, indices);
    }
  }
  execute_queue();
  if (have_vertices) {
    gl.BindVertexArray(GLuint(vao));
    gl.BindBuffer(GL_ARRAY_BUFFER, GLuint(vbo));
    gl.BindBuffer(GL_ELEMENT_ARRAY_BUFFER, GLuint(ibo));
  }
  committed_v = committed_i = 0;
}

void queue_indexed(int first_index, int count, int lowest, int nverts) {
  uint32_t w[5] = {OP_DRAW_INDEXED, uint32_t(first_index), uint32_t(count), uint32_t(lowest),
                   uint32_t(nverts)};
  push_words(w, 5);
}

// Queues the draw of the open primitive's first n vertices and commits the
// open vertices to the batch. The whole open primitive is committed even when
// a remainder is not drawn.
void emit_open() {
  // Room for the draw first: making it may start a fresh batch.
  queue_reserve(5);
  int base = committed_v, n = open_v;
  int first_index = committed_i, ni = 0;
  auto tri = [&](int a, int b, int c) {
    indices[committed_i + ni++] = uint16_t(base + a);
    indices[committed_i + ni++] = uint16_t(base + b);
    indices[committed_i + ni++] = uint16_t(base + c);
  };
  switch (open_mode) {
    case GL_QUADS: {
      int m = n - n % 4;
      for (int q = 0; q + 4 <= m; q += 4) tri(q, q + 1, q + 3), tri(q + 3, q + 1, q + 2);
      break;
    }
    case GL_QUAD_STRIP: {
      int m = n - n % 2;
      if (m >= 4)
        for (int k = 0; k + 4 <= m; k += 2) tri(k, k + 1, k + 2), tri(k + 2, k + 1, k + 3);
      break;
    }
    case GL_POLYGON:
      for (int i = 2; i < n; i++) tri(0, i - 1, i);
      break;
    default: {
      GLenum mode = open_mode == GL_LINE_LOOP ? GLenum(GL_LINE_STRIP) : open_mode;
      if (n > 0) {
        uint32_t w[4] = {OP_DRAW_ARRAYS, mode, uint32_t(base), uint32_t(n)};
        push_words(w, 4);
      }
      break;
    }
  }
  if (ni > 0) {
    committed_i += ni;
    queue_indexed(first_index, ni, base, n);
  }
  committed_v += n;
  open_v = 0;
}

// The open primitive continues in a fresh batch: draw what it has, flush,
// and carry over the vertices the rest of it still needs.
void restart_open() {
  int n = open_v;
  Vertex *v = batch + committed_v;
  Vertex carry[4];
  int nc = 0;
  auto keep = [&](int i) { carry[nc++] = v[i]; };
  switch (open_mode) {
    case GL_POINTS: break;
    case GL_LINES: for (int i = n - n % 2; i < n; i++) keep(i); break;
    case GL_TRIANGLES: for (int i = n - n % 3; i < n; i++) keep(i); break;
    case GL_QUADS: for (int i = n - n % 4; i < n; i++) keep(i); break;
    case GL_LINE_STRIP:
    case GL_LINE_LOOP:
      if (n > 0) keep(n - 1);
      break;
    case GL_TRIANGLE_STRIP:
      if (n < 2) {
        for (int i = 0; i < n; i++) keep(i);
      } else if ((n - 2) % 2 == 0) {
        keep(n - 2), keep(n - 1);
      } else {
        // The next triangle is an odd one: a degenerate first triangle keeps
        // the winding of the rest.
        keep(n - 2), keep(n - 2), keep(n - 1);
      }
      break;
    case GL_TRIANGLE_FAN:
    case GL_POLYGON:
      if (n < 2) {
        for (int i = 0; i < n; i++) keep(i);
      } else {
        keep(0), keep(n - 1);
      }
      break;
    case GL_QUAD_STRIP: {
      int m = n - n % 2;
      for (int i = m >= 2 ? m - 2 : 0; i < n; i++) keep(i);
      break;
    }
  }
  emit_open();
  flush_committed();
  memcpy(batch, carry, nc * sizeof(Vertex));
  open_v = nc;
}

// A full queue draws what is committed; the open primitive's vertices move
// to the front of the fresh batch untouched, so it goes on whole. (Drawing
// the open primitive here would queue its draw into the full queue again.)
void queue_reserve(int words) {
  if (queue_len + words <= TWGL_QUEUE_WORDS) return;
  int from = committed_v;
  flush_committed();
  memmove(batch, batch + from, size_t(open_v) * sizeof(Vertex));
}

void append_vertex(const Vertex &vx) {
  if (committed_v + open_v >= TWGL_BATCH_VERTICES) restart_open();
  batch[committed_v + open_v++] = vx;
}

}  // namespace

[[noreturn]] void twgl_fatal(const char *text) {
  log_printf("%s", text);
  if (gfx_fatal_hook) gfx_fatal_hook(text);
  exit(1);
}

void twglMatrixMode(GLenum mode) { push_op(OP_MATRIX_MODE, mode); }
void twglLoadIdentity() { push_op(OP_LOAD_IDENTITY); }
void twglLoadMatrix(const float m[16]) { push_op_floats(OP_LOAD_MATRIX, m, 16); }
void twglMultMatrix(const float m[16]) { push_op_floats(OP_MULT_MATRIX, m, 16); }
void twglTranslate(float x, float y, float z) {
  float f[3] = {x, y, z};
  push_op_floats(OP_TRANSLATE, f, 3);
}
void twglRotate(float deg, float x, float y, float z) {
  float f[4] = {deg, x, y, z};
  push_op_floats(OP_ROTATE, f, 4);
}
void twglScale(float x, float y, float z) {
  float f[3] = {x, y, z};
  push_op_floats(OP_SCALE, f, 3);
}
void twglFrustum(float l, float r, float b, float t, float n, float f) {
  float v[6] = {l, r, b, t, n, f};
  push_op_floats(OP_FRUSTUM, v, 6);
}
void twglOrtho(float l, float r, float b, float t, float n, float f) {
  float v[6] = {l, r, b, t, n, f};
  push_op_floats(OP_ORTHO, v, 6);
}
void twglPushMatrix() { push_op(OP_PUSH_MATRIX); }
void twglPopMatrix() { push_op(OP_POP_MATRIX); }
void twglActiveTexture(GLenum unit) { push_op(OP_ACTIVE_TEXTURE, unit); }
void twglBindTexture(GLenum target, GLuint tex) {
  twgl_texture_binds++;
  push_op(OP_BIND_TEXTURE, target, tex);
}
void twglBlendFunc(GLenum s, GLenum d) { push_op(OP_BLEND_FUNC, s, d); }
void twglDepthFunc(GLenum f) { push_op(OP_DEPTH_FUNC, f); }
void twglDepthMask(GLboolean flag) { push_op(OP_DEPTH_MASK, flag); }
void twglEnable(GLenum cap) { push_op(OP_ENABLE, cap); }
void twglDisable(GLenum cap) { push_op(OP_DISABLE, cap); }
const float *twglGetMatrix() { return top(cur_stack); }
void twgl_mvp(float out[16]) {
  twgl_flush();  // queued matrix operations first
  mat_mul(out, top(1), top(0));
}

void twglBegin(GLenum mode) {
  if (primitive_open) twglEnd();
  open_mode = mode;
  open_v = 0;
  primitive_open = true;
}

void twglColor(float r, float g, float b, float a) {
  cur_col[0] = r, cur_col[1] = g, cur_col[2] = b, cur_col[3] = a;
}
void twglTexCoord(float s, float t, float r, float q) {
  cur_tc[0] = s, cur_tc[1] = t, cur_tc[2] = r, cur_tc[3] = q;
}
void twglVertex(float x, float y, float z, float w) {
  if (!primitive_open) return;
  Vertex vx;
  vx.pos[0] = x, vx.pos[1] = y, vx.pos[2] = z, vx.pos[3] = w;
  memcpy(vx.tc, cur_tc, sizeof cur_tc);
  memcpy(vx.col, cur_col, sizeof cur_col);
  if (open_mode == GL_LINE_LOOP && open_v == 0) loop_first = vx;
  append_vertex(vx);
}
void twglVertexGround(float x, float z) { twglVertex(x, -1, z, 1); }
void twglVertexScreen(float x, float y) { twglVertex(x, y, -1, 1); }
void twglVertex2(float x, float y) { twglVertex(x, y, 0, 1); }

void twglEnd() {
  if (!primitive_open) return;
  if (open_mode == GL_LINE_LOOP && open_v > 0) append_vertex(loop_first);
  emit_open();
  primitive_open = false;
}

void twgl_flush() {
  if (primitive_open) {
    restart_open();
  } else {
    flush_committed();
  }
}

void twglUseProgram(int index) {
  if (index < 0 || index > TWGL_PROGRAMS || index == cur_program) return;
  twgl_flush();
  cur_program = index;
  dirty = (1u << TWGL_STACKS) - 1;
  twgl_program_bind(index);
  twgl_program_switches++;
}
int twgl_current_program() { return cur_program; }

void twglDrawArrays(GLenum mode, GLint first, GLsizei count) {
  twgl_flush();
  before_draw();
  count_triangles(mode, count);
  gl.DrawArrays(mode, first, count);
}
void twglDrawElements(GLenum mode, GLsizei count, GLenum type, const void *offset) {
  twgl_flush();
  before_draw();
  count_triangles(mode, count);
  gl.DrawElements(mode, count, type, offset);
}
void twglDrawRangeElements(GLenum mode, GLuint lo, GLuint hi, GLsizei count, GLenum type,
                           const void *offset) {
  twgl_flush();
  before_draw();
  count_triangles(mode, count);
  gl.DrawRangeElements(mode, lo, hi, count, type, offset);
}

// Direct calls.
#define TWGL_DIRECT(ret, name, params, args) \
  ret twgl##name params {                    \
    twgl_flush();                            \
    return gl.name args;                     \
  }
TWGL_DIRECT(void, GenTextures, (GLsizei n, GLuint *t), (n, t))
TWGL_DIRECT(void, DeleteTextures, (GLsizei n, const GLuint *t), (n, t))
TWGL_DIRECT(void, TexImage2D,
            (GLenum target, GLint level, GLint internal, GLsizei w, GLsizei h, GLenum format,
             GLenum type, const void *pixels),
            (target, level, internal, w, h, 0, format, type, pixels))
TWGL_DIRECT(void, TexSubImage2D,
            (GLenum target, GLint level, GLint x, GLint y, GLsizei w, GLsizei h, GLenum format,
             GLenum type, const void *pixels),
            (target, level, x, y, w, h, format, type, pixels))
TWGL_DIRECT(void, TexParameteri, (GLenum t, GLenum n, GLint v), (t, n, v))
TWGL_DIRECT(void, PixelStorei, (GLenum n, GLint v), (n, v))
TWGL_DIRECT(void, ReadPixels,
            (GLint x, GLint y, GLsizei w, GLsizei h, GLenum format, GLenum type, void *p),
            (x, y, w, h, format, type, p))
TWGL_DIRECT(void, GenFramebuffers, (GLsizei n, GLuint *f), (n, f))
TWGL_DIRECT(void, DeleteFramebuffers, (GLsizei n, const GLuint *f), (n, f))
TWGL_DIRECT(void, BindFramebuffer, (GLenum t, GLuint f), (t, f))
TWGL_DIRECT(void, FramebufferTexture2D,
            (GLenum t, GLenum attachment, GLenum textarget, GLuint tex, GLint level),
            (t, attachment, textarget, tex, level))
TWGL_DIRECT(GLenum, CheckFramebufferStatus, (GLenum t), (t))
TWGL_DIRECT(void, GenerateMipmap, (GLenum t), (t))
TWGL_DIRECT(void, GetIntegerv, (GLenum name, GLint *v), (name, v))
TWGL_DIRECT(void, GenBuffers, (GLsizei n, GLuint *b), (n, b))
TWGL_DIRECT(void, DeleteBuffers, (GLsizei n, const GLuint *b), (n, b))
TWGL_DIRECT(void, BindBuffer, (GLenum t, GLuint b), (t, b))
TWGL_DIRECT(void, BufferData, (GLenum t, GLsizeiptr s, const void *d, GLenum u), (t, s, d, u))
TWGL_DIRECT(void, BufferSubData, (GLenum t, GLintptr o, GLsizeiptr s, const void *d),
            (t, o, s, d))
TWGL_DIRECT(void, GenVertexArrays, (GLsizei n, GLuint *a), (n, a))
TWGL_DIRECT(void, DeleteVertexArrays, (GLsizei n, const GLuint *a), (n, a))
TWGL_DIRECT(void, BindVertexArray, (GLuint a), (a))
TWGL_DIRECT(void, EnableVertexAttribArray, (GLuint i), (i))
TWGL_DIRECT(void, DisableVertexAttribArray, (GLuint i), (i))
TWGL_DIRECT(void, VertexAttribPointer,
            (GLuint i, GLint s, GLenum t, GLboolean n, GLsizei st, const void *o),
            (i, s, t, n, st, o))
TWGL_DIRECT(void, Clear, (GLbitfield m), (m))
TWGL_DIRECT(void, ClearColor, (float r, float g, float b, float a), (r, g, b, a))
TWGL_DIRECT(void, Viewport, (GLint x, GLint y, GLsizei w, GLsizei h), (x, y, w, h))
TWGL_DIRECT(void, Flush, (), ())
TWGL_DIRECT(void, Finish, (), ())
TWGL_DIRECT(GLenum, GetError, (), ())
#undef TWGL_DIRECT

int gl_load(void *(*get_proc)(const char *name)) {
  int ok = 1;
#define TWGL_LOAD(name, stem, optional)                                   \
  gl.name = reinterpret_cast<PFNGL##stem##PROC>(get_proc("gl" #name));   \
  if (!gl.name && !(optional)) {                                         \
    log_printf("Can't find the GL function gl%s\n", #name);              \
    ok = 0;                                                              \
  }
  TWGL_FUNCS(TWGL_LOAD)
#undef TWGL_LOAD
  return ok;
}

static GLuint make_pixel_texture(const uint8_t rgba[4]) {
  GLuint t = 0;
  gl.GenTextures(1, &t);
  gl.BindTexture(GL_TEXTURE_2D, t);
  gl.TexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
  gl.TexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
  gl.TexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, 1, 1, 0, GL_RGBA, GL_UNSIGNED_BYTE, rgba);
  gl.BindTexture(GL_TEXTURE_2D, 0);
  return t;
}

static const char *gl_string(GLenum name) {
  const GLubyte *s = gl.GetString(name);
  return s ? reinterpret_cast<const char *>(s) : "NULL";
}

int twgl_init() {
  twgl_reset_for_tests();
  const char *version = gl_string(GL_VERSION);
  log_printf("GL vendor: %s\nGL renderer: %s\nGL version: %s\n", gl_string(GL_VENDOR),
             gl_string(GL_RENDERER), version);
  int major = 0, minor = 0;
  if (sscanf(version, "OpenGL ES %d.%d", &major, &minor) == 2) {
    twgl_gles = 1;
  } else {
    twgl_gles = 0;
    if (sscanf(version, "%d.%d", &major, &minor) != 2) major = minor = 0;
  }
  twgl_gl_major = major, twgl_gl_minor = minor;
  twgl_software = strstr(gl_string(GL_RENDERER), "llvmpipe") != nullptr;
  if (major > 2) create_batch_objects();
  // Rows of RGB pictures and of read-backs are rarely 4-byte multiples.
  gl.PixelStorei(GL_UNPACK_ALIGNMENT, 1);
  gl.PixelStorei(GL_PACK_ALIGNMENT, 1);
  static const uint8_t white[4] = {255, 255, 255, 255};
  static const uint8_t flat[4] = {128, 128, 255, 255};
  twgl_white_texture = make_pixel_texture(white);
  twgl_normal_texture = make_pixel_texture(flat);
  if (!twgl_create_programs()) {
    twgl_shutdown();
    return 0;
  }
  return 1;
}

void twgl_shutdown() {
  if (primitive_open) twglEnd();
  twgl_flush();
  twgl_delete_programs();
  cur_program = 0;
  GLuint t[2] = {twgl_white_texture, twgl_normal_texture};
  if (t[0]) gl.DeleteTextures(2, t);
  twgl_white_texture = twgl_normal_texture = 0;
  if (batch_vao) {
    gl.DeleteVertexArrays(1, &batch_vao);
    GLuint b[2] = {batch_vbo, batch_ibo};
    gl.DeleteBuffers(2, b);
  }
  batch_vao = batch_vbo = batch_ibo = 0;
}

void twgl_reset_for_tests() {
  for (int s = 0; s < TWGL_STACKS; s++) {
    depth[s] = 0;
    memcpy(stacks[s][0], IDENTITY, sizeof IDENTITY);
  }
  cur_stack = 0;
  active_unit = 0;
  dirty = (1u << TWGL_STACKS) - 1;
  cur_program = 0;
  twgl_program_switches = 0;
  committed_v = open_v = committed_i = 0;
  primitive_open = false;
  queue_len = 0;
  batch_vao = batch_vbo = batch_ibo = 0;
  cur_col[0] = cur_col[1] = cur_col[2] = cur_col[3] = 1;
  cur_tc[0] = cur_tc[1] = cur_tc[2] = 0, cur_tc[3] = 1;
}
