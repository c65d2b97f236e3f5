#include "tests/gfx/recording_gl.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <unistd.h>
#include <sstream>

#include "core/core.h"
#include "core/log.h"

RecordedGl rec;
static std::string version_string;
static GLuint next_name = 1;

static void note(const char *format, ...) {
  char text[512];
  va_list ap;
  va_start(ap, format);
  vsnprintf(text, sizeof text, format, ap);
  va_end(ap);
  rec.calls.push_back(text);
}

static void keep_level0(GLint level, GLsizei w, GLsizei h, GLenum format, const void *p) {
  if (level != 0 || !p) return;
  const uint8_t *b = static_cast<const uint8_t *>(p);
  rec.level0.assign(b, b + size_t(w) * h * (format == GL_RGBA ? 4 : format == GL_RGB ? 3 : 1));
}

static void expand(GLenum mode, const std::vector<int> &order) {
  auto pos = [](int v) {
    const float *p = &rec.vertices[size_t(v) * 12];
    return std::vector<float>{p[0], p[1]};
  };
  auto add = [&](int a, int b, int c) {
    std::vector<float> t = pos(a);
    for (int v : {b, c}) {
      std::vector<float> q = pos(v);
      t.insert(t.end(), q.begin(), q.end());
    }
    // Degenerate triangles draw nothing.
    float area = (t[2] - t[0]) * (t[5] - t[1]) - (t[4] - t[0]) * (t[3] - t[1]);
    if (area != 0) rec.triangles.push_back(t);
  };
  int n = int(order.size());
  if (mode == GL_TRIANGLES)
    for (int i = 0; i + 3 <= n; i += 3) add(order[i], order[i + 1], order[i + 2]);
  if (mode == GL_TRIANGLE_STRIP)
    for (int i = 0; i + 3 <= n; i++)
      i % 2 ? add(order[i + 1], order[i], order[i + 2]) : add(order[i], order[i + 1], order[i + 2]);
  if (mode == GL_TRIANGLE_FAN)
    for (int i = 1; i + 2 <= n; i++) add(order[0], order[i], order[i + 1]);
}

void recording_gl_install(const char *version) {
  rec = RecordedGl();
  version_string = version;
  next_name = 1;
  memset(&gl, 0, sizeof gl);
  gl.Enable = [](GLenum c) { note("Enable %#x", c); };
  gl.Disable = [](GLenum c) { note("Disable %#x", c); };
  gl.BlendFunc = [](GLenum s, GLenum d) { note("BlendFunc %#x %#x", s, d); };
  gl.DepthFunc = [](GLenum f) { note("DepthFunc %#x", f); };
  gl.DepthMask = [](GLboolean f) { note("DepthMask %d", f); };
  gl.ActiveTexture = [](GLenum u) { note("ActiveTexture %#x", u); };
  gl.BindTexture = [](GLenum t, GLuint x) { note("BindTexture %#x %u", t, x); };
  gl.GenTextures = [](GLsizei n, GLuint *t) {
    for (int i = 0; i < n; i++) t[i] = next_name++;
    note("GenTextures %d", n);
  };
  gl.DeleteTextures = [](GLsizei n, const GLuint *t) { note("DeleteTextures %d %u", n, t[0]); };
  gl.TexImage2D = [](GLenum, GLint level, GLint internal, GLsizei w, GLsizei h, GLint,
                     GLenum format, GLenum, const void *p) {
    note("TexImage2D %d %#x %dx%d %#x", level, internal, w, h, format);
    if (level == 0) rec.level_first_bytes.clear();
    rec.level_first_bytes.push_back(p ? *static_cast<const uint8_t *>(p) : -1);
    keep_level0(level, w, h, format, p);
  };
  gl.TexSubImage2D = [](GLenum, GLint level, GLint, GLint, GLsizei w, GLsizei h, GLenum format,
                        GLenum, const void *p) {
    note("TexSubImage2D %d %dx%d %#x %d", level, w, h, format,
         *static_cast<const uint8_t *>(p));
    keep_level0(level, w, h, format, p);
  };
  gl.TexParameteri = [](GLenum, GLenum n, GLint v) { note("TexParameteri %#x %#x", n, v); };
  gl.GetTexLevelParameteriv = [](GLenum, GLint, GLenum, GLint *v) { *v = 100; };
  gl.PixelStorei = [](GLenum n, GLint v) { note("PixelStorei %#x %d", n, v); };
  gl.ReadPixels = [](GLint, GLint, GLsizei, GLsizei, GLenum, GLenum, void *) {
    note("ReadPixels");
  };
  gl.GenBuffers = [](GLsizei n, GLuint *b) {
    for (int i = 0; i < n; i++) b[i] = next_name++;
  };
  gl.DeleteBuffers = [](GLsizei, const GLuint *) {};
  gl.GenVertexArrays = [](GLsizei n, GLuint *b) {
    for (int i = 0; i < n; i++) b[i] = next_name++;
  };
  gl.DeleteVertexArrays = [](GLsizei, const GLuint *) {};
  gl.BindVertexArray = [](GLuint) {};
  gl.BindBuffer = [](GLenum, GLuint) {};
  gl.EnableVertexAttribArray = [](GLuint) {};
  gl.DisableVertexAttribArray = [](GLuint) {};
  gl.VertexAttribPointer = [](GLuint, GLint, GLenum, GLboolean, GLsizei, const void *) {};
  gl.BufferData = [](GLenum, GLsizeiptr, const void *, GLenum) {};
  gl.BufferSubData = [](GLenum target, GLintptr, GLsizeiptr size, const void *data) {
    if (target == GL_ARRAY_BUFFER) {
      rec.vertices.assign(static_cast<const float *>(data),
                          static_cast<const float *>(data) + size / 4);
      rec.vertex_uploads++;
      note("UploadVertices %d", int(size / 48));
    } else {
      rec.indices.assign(static_cast<const uint16_t *>(data),
                         static_cast<const uint16_t *>(data) + size / 2);
      note("UploadIndices %d", int(size / 2));
    }
  };
  gl.GetIntegerv = [](GLenum, GLint *v) { *v = 0; };
  gl.DrawArrays = [](GLenum mode, GLint first, GLsizei count) {
    note("DrawArrays %d %d %d", mode, first, count);
    std::vector<int> order;
    for (int i = 0; i < count; i++) order.push_back(first + i);
    expand(mode, order);
  };
  gl.DrawRangeElements = [](GLenum mode, GLuint lo, GLuint hi, GLsizei count, GLenum,
                            const void *offset) {
    int first = int(reinterpret_cast<uintptr_t>(offset) / 2);
    note("DrawRangeElements %d %u %u %d %d", mode, lo, hi, count, first);
    std::vector<int> order(rec.indices.begin() + first, rec.indices.begin() + first + count);
    expand(mode, order);
  };
  gl.DrawElements = [](GLenum mode, GLsizei count, GLenum, const void *) {
    note("DrawElements %d %d", mode, count);
  };
  gl.GetString = [](GLenum name) -> const GLubyte * {
    return reinterpret_cast<const GLubyte *>(name == GL_VERSION ? version_string.c_str()
                                                                : "Recorder");
  };
  gl.CreateShader = [](GLenum) -> GLuint { return next_name++; };
  gl.ShaderSource = [](GLuint, GLsizei, const GLchar *const *, const GLint *) {};
  gl.CompileShader = [](GLuint) {};
  gl.GetShaderiv = [](GLuint, GLenum name, GLint *v) { *v = name == GL_COMPILE_STATUS; };
  gl.GetShaderInfoLog = [](GLuint, GLsizei, GLsizei *n, GLchar *) { *n = 0; };
  gl.DeleteShader = [](GLuint) {};
  gl.CreateProgram = []() -> GLuint { return next_name++; };
  gl.AttachShader = [](GLuint, GLuint) {};
  gl.BindAttribLocation = [](GLuint, GLuint, const GLchar *) {};
  gl.LinkProgram = [](GLuint) {};
  gl.GetProgramiv = [](GLuint, GLenum name, GLint *v) { *v = name == GL_LINK_STATUS; };
  gl.GetProgramInfoLog = [](GLuint, GLsizei, GLsizei *n, GLchar *) { *n = 0; };
  gl.DeleteProgram = [](GLuint) {};
  gl.UseProgram = [](GLuint p) {
    rec.bound_program = p;
    note("UseProgram %u", p);
  };
  gl.GetUniformLocation = [](GLuint, const GLchar *name) -> GLint {
    // Every program has the matrices; locations are stable per name.
    if (!strcmp(name, "u_modelview")) return 1;
    if (!strcmp(name, "u_projection")) return 2;
    if (!strcmp(name, "u_texture0")) return 3;
    if (!strcmp(name, "u_fog_density")) return 4;
    return -1;
  };
  gl.UniformMatrix4fv = [](GLint loc, GLsizei, GLboolean, const GLfloat *) {
    note("UniformMatrix4fv %d", loc);
  };
  gl.UniformMatrix3fv = [](GLint, GLsizei, GLboolean, const GLfloat *) {};
  gl.Uniform1i = [](GLint, GLint) {};
  gl.Uniform1f = [](GLint loc, GLfloat v) {
    if (loc == 4) note("FogDensity %g", v);
  };
  gl.Uniform2f = [](GLint, GLfloat, GLfloat) {};
  gl.Uniform3f = [](GLint, GLfloat, GLfloat, GLfloat) {};
  gl.Uniform3fv = [](GLint, GLsizei, const GLfloat *) {};
  gl.Uniform4f = [](GLint, GLfloat, GLfloat, GLfloat, GLfloat) {};
  gl.Clear = [](GLbitfield m) { note("Clear %#x", m); };
  gl.ClearColor = [](GLfloat, GLfloat, GLfloat, GLfloat) {};
  gl.Viewport = [](GLint x, GLint y, GLsizei w, GLsizei h) { note("Viewport %d %d %d %d", x, y, w, h); };
  gl.Flush = []() {};
  gl.Finish = []() {};
  gl.GetError = []() -> GLenum { return 0; };
  gl.GenFramebuffers = [](GLsizei, GLuint *) {};
  gl.DeleteFramebuffers = [](GLsizei, const GLuint *) {};
  gl.BindFramebuffer = [](GLenum, GLuint) {};
  gl.FramebufferTexture2D = [](GLenum, GLenum, GLenum, GLuint, GLint) {};
  gl.CheckFramebufferStatus = [](GLenum) -> GLenum { return GL_FRAMEBUFFER_COMPLETE; };
  gl.GenerateMipmap = [](GLenum) { note("GenerateMipmap"); };
  twgl_init();
  rec.calls.clear();
}

std::vector<std::string> calls_named(const char *prefix) {
  std::vector<std::string> out;
  for (const std::string &c : rec.calls)
    if (c.compare(0, strlen(prefix), prefix) == 0) out.push_back(c);
  return out;
}

static std::string log_path;
static std::vector<std::string> messages;

static void keep_message(const char *text) { messages.push_back(text); }

void capture_begin() {
  char name[] = "/tmp/tw_gfx_logXXXXXX";
  int fd = mkstemp(name);
  if (fd >= 0) close(fd);
  log_path = name;
  korb_reset_for_tests();
  log_printf("KORB_LOGFILE=%s", log_path.c_str());
  messages.clear();
  ui_hooks.message = keep_message;
}

std::string captured_log() {
  std::ifstream in(log_path);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

std::vector<std::string> &captured_messages() { return messages; }
