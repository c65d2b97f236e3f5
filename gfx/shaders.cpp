// The five built-in programs, written once for GLSL ES 3.00 and GLSL 1.50,
// and their uniforms, looked up by name once per program.
#include <cstring>
#include <string>

#include "gfx/gl_table.h"
#include "core/log.h"

GLuint twgl_program_objects[TWGL_PROGRAMS + 1];
const char *const twgl_program_names[TWGL_PROGRAMS + 1] = {
    "", "unlit", "norm_env", "norm_spec_lit", "terrain_normals", "terrain"};

namespace {

const char *const UNIFORM_NAMES[U_COUNT] = {
    "u_modelview",     "u_projection",   "u_texture0",      "u_texture1",
    "u_texture2",      "u_texture3",     "u_texture4",      "u_texture5",
    "u_texture6",      "u_texture7",     "u_nbones",        "u_bone_c",
    "u_bone_t",        "u_bone_r",       "u_fog_color",     "u_fog_density",
    "u_ambient",       "u_diffuse",      "u_shininess",     "u_specular_color",
    "u_light_position", "u_spacing",     "u_spacing_inv",   "u_texoffset",
    "u_texscale",      "u_heights_dim_inv", "u_envmat"};

GLint locations[TWGL_PROGRAMS + 1][U_COUNT];
bool locations_ready = false;

// A desktop context skips the first 18 characters, so the same text starts
// "#version 150" there.
const char HEAD[] = "#version 300 es\n//#version 150\n#define MAX_BONE 32\n";

const char FRAG_HEAD[] =
    "#ifdef GL_ES\n"
    "precision mediump float;\n"
    "#endif\n"
    "out vec4 f_fragcolor;\n";

const char FOG[] =
    "uniform vec3 u_fog_color;\n"
    "uniform float u_fog_density;\n"
    "vec3 fog(vec3 c) {\n"
    "  float z = gl_FragCoord.z / gl_FragCoord.w;\n"
    "  float f = clamp(exp2(-1.4426950408889634 * u_fog_density * z), 0.0, 1.0);\n"
    "  return mix(u_fog_color, c, f);\n"
    "}\n";

const char UNLIT_VS[] =
    "uniform mat4 u_modelview;\n"
    "uniform mat4 u_projection;\n"
    "uniform mat4 u_texture0;\n"
    "in vec4 vattr_position;\n"
    "in vec4 vattr_color;\n"
    "in vec4 vattr_texcoord;\n"
    "out vec2 v_texcoord;\n"
    "out vec4 v_color;\n"
    "void main() {\n"
    "  v_texcoord = (u_texture0 * vattr_texcoord).st;\n"
    "  v_color = vattr_color;\n"
    "  gl_Position = u_projection * (u_modelview * vattr_position);\n"
    "}\n";

const char UNLIT_FS[] =
    "uniform sampler2D u_tex;\n"
    "in vec2 v_texcoord;\n"
    "in vec4 v_color;\n"
    "void main() {\n"
    "  vec4 c = v_color * texture(u_tex, v_texcoord);\n"
    "  c.rgb = fog(c.rgb);\n"
    "  f_fragcolor = c;\n"
    "}\n";

// Shared by the chrome and the lit model programs: optional skinning by up
// to four bones a vertex.
const char MODEL_VS[] =
    "uniform mat4 u_modelview;\n"
    "uniform mat4 u_projection;\n"
    "uniform int u_nbones;\n"
    "uniform vec3 u_bone_c[MAX_BONE];\n"
    "uniform vec3 u_bone_t[MAX_BONE];\n"
    "uniform mat3 u_bone_r[MAX_BONE];\n"
    "in vec4 vattr_position;\n"
    "in vec3 vattr_normal;\n"
    "in vec2 vattr_texcoord;\n"
    "in vec3 vattr_tangent;\n"
    "in vec4 vattr_weights;\n"
    "in vec4 vattr_bones;\n"
    "out vec3 v_normal;\n"
    "out vec3 v_tangent;\n"
    "out vec3 v_viewer;\n"
    "out vec2 v_texcoord;\n"
    "void main() {\n"
    "  v_texcoord = vattr_texcoord;\n"
    "  mat3 r = mat3(u_modelview);\n"
    "  if (u_nbones == 0) {\n"
    "    v_normal = normalize(r * vattr_normal);\n"
    "    v_tangent = normalize(r * vattr_tangent);\n"
    "    vec4 e = u_modelview * vattr_position;\n"
    "    v_viewer = e.xyz / e.w;\n"
    "    gl_Position = u_projection * e;\n"
    "  } else {\n"
    "    vec3 sv = vec3(0.0);\n"
    "    vec3 sn = vec3(0.0);\n"
    "    vec3 st = vec3(0.0);\n"
    "    for (int i = 0; i < 4; i++) {\n"
    "      int b = clamp(int(vattr_bones[i]), 0, MAX_BONE - 1);\n"
    "      float w = vattr_weights[i];\n"
    "      mat3 br = u_bone_r[b];\n"
    "      sv += (br * (vattr_position.xyz - u_bone_c[b]) + u_bone_t[b]) * w;\n"
    "      sn += (br * vattr_normal) * w;\n"
    "      st += (br * vattr_tangent) * w;\n"
    "    }\n"
    "    vec4 e = u_modelview * vec4(sv, 1.0);\n"
    "    v_viewer = e.xyz;\n"
    "    v_normal = normalize(r * sn);\n"
    "    v_tangent = normalize(r * st);\n"
    "    gl_Position = u_projection * e;\n"
    "  }\n"
    "}\n";

const char MODEL_FS_COMMON[] =
    "uniform sampler2D u_tex;\n"
    "uniform sampler2D u_nmap;\n"
    "uniform vec3 u_specular_color;\n"
    "in vec3 v_normal;\n"
    "in vec3 v_tangent;\n"
    "in vec3 v_viewer;\n"
    "in vec2 v_texcoord;\n"
    "vec3 mapped_normal() {\n"
    "  vec3 n = normalize(v_normal);\n"
    "  vec3 t = normalize(v_tangent - n * dot(n, v_tangent));\n"
    "  vec3 b = cross(n, t);\n"
    "  mat3 frame = mat3(t, b, n);\n"
    "  return normalize(frame * (texture(u_nmap, v_texcoord).rgb * 2.0 - 1.0));\n"
    "}\n";

const char NORM_ENV_FS[] =
    "uniform mat3 u_envmat;\n"
    "void main() {\n"
    "  vec3 n = mapped_normal();\n"
    "  vec3 v = normalize(u_envmat * reflect(v_viewer, n));\n"
    "  vec2 tc = normalize(v.xz) * (acos(clamp(v.y, -1.0, 1.0)) * 0.15915494309189535);\n"
    "  f_fragcolor = texture(u_tex, tc + 0.5) * vec4(u_specular_color, 1.0);\n"
    "}\n";

const char LIGHT_UNIFORMS[] =
    "uniform vec4 u_ambient;\n"
    "uniform vec3 u_diffuse;\n"
    "uniform float u_shininess;\n"
    "uniform vec3 u_light_position;\n"
    "uniform sampler2D u_smap;\n";

const char NORM_SPEC_LIT_FS[] =
    "void main() {\n"
    "  vec4 colour = u_ambient;\n"
    "  vec3 n = mapped_normal();\n"
    "  float ndl = dot(n, u_light_position);\n"
    "  float rdl = max(dot(reflect(normalize(v_viewer), n), u_light_position), 0.0);\n"
    "  if (ndl < 0.0) {\n"
    "    ndl = 0.0;\n"
    "    rdl = 0.0;\n"
    "  }\n"
    "  colour.rgb += u_diffuse * ndl;\n"
    "  colour *= texture(u_tex, v_texcoord);\n"
    "  if (colour.a < 0.75) discard;\n"
    "  vec4 s = texture(u_smap, v_texcoord);\n"
    "  s.rgb *= u_specular_color;\n"
    "  float e = s.a * 128.0 + 0.125;\n"
    "  if (e >= 127.875) e = u_shininess;\n"
    "  colour.rgb += s.rgb * pow(rdl, e);\n"
    "  colour.rgb = fog(colour.rgb);\n"
    "  f_fragcolor = colour;\n"
    "}\n";

const char TERRAIN_NORMALS_VS[] =
    "uniform mat4 u_modelview;\n"
    "uniform mat4 u_projection;\n"
    "uniform mat4 u_texture1;\n"
    "in vec4 vattr_position;\n"
    "in vec4 vattr_texcoord;\n"
    "out vec2 v_interp_tc;\n"
    "out vec2 v_texcoord;\n"
    "void main() {\n"
    "  vec4 p = u_texture1 * vattr_position;\n"
    "  v_interp_tc = p.xy / p.w;\n"
    "  v_texcoord = vattr_texcoord.st;\n"
    "  gl_Position = u_projection * (u_modelview * vattr_position);\n"
    "}\n";

const char TERRAIN_NORMALS_FS[] =
    "uniform sampler2D u_tex;\n"
    "uniform sampler2D u_shadows;\n"
    "in vec2 v_interp_tc;\n"
    "in vec2 v_texcoord;\n"
    "void main() {\n"
    "  vec2 d = normalize(vec2(dFdx(v_texcoord.s), -dFdy(v_texcoord.s)));\n"
    "  mat2 m = mat2(d, vec2(-d.y, d.x));\n"
    "  vec4 t = texture(u_tex, v_texcoord);\n"
    "  vec3 n = t.xzy * 2.0 - 1.0;\n"
    "  n.x = -n.x;\n"
    "  n.xz = n.xz * m;\n"
    "  n = normalize(n);\n"
    "  if (length(n.xz) > 126.0 / 128.0) {\n"
    "    n.y = 0.0;\n"
    "    n = normalize(n) * (126.0 / 128.0);\n"
    "  }\n"
    "  vec3 o = (n + 1.0) * 0.5;\n"
    "  f_fragcolor = vec4(o.r, 1.0 - texture(u_shadows, v_interp_tc).r, o.b, t.a);\n"
    "}\n";

// Lit in ground coordinates: the camera's rotation goes into the light and
// the view vector once a vertex rather than into every pixel's normal. The
// slopes' sample points are linear in the vertex, so they interpolate
// exactly.
const char TERRAIN_VS[] =
    "uniform mat4 u_modelview;\n"
    "uniform mat4 u_projection;\n"
    "uniform vec2 u_texoffset;\n"
    "uniform float u_texscale;\n"
    "uniform float u_spacing_inv;\n"
    "uniform float u_heights_dim_inv;\n"
    "uniform mediump vec3 u_light_position;\n"
    "in vec4 vattr_position;\n"
    "out vec2 v_texcoord;\n"
    "out vec2 v_slope_x;\n"
    "out vec2 v_slope_z;\n"
    "out vec3 v_viewer;\n"
    "flat out vec3 v_light;\n"
    "void main() {\n"
    "  v_texcoord = (vattr_position.xz + u_texoffset) * u_texscale;\n"
    // The slope texture has one texel more a side than the heights.
    "  vec2 s = vattr_position.xz * u_spacing_inv;\n"
    "  float inv = u_heights_dim_inv / (1.0 + u_heights_dim_inv);\n"
    "  v_slope_x = (s + vec2(1.0, 0.5)) * inv;\n"
    "  v_slope_z = (s + vec2(0.5, 1.0)) * inv;\n"
    "  vec4 e = u_modelview * vattr_position;\n"
    "  mat3 to_ground = transpose(mat3(u_modelview));\n"
    "  v_viewer = to_ground * (e.xyz / e.w);\n"
    "  v_light = to_ground * u_light_position;\n"
    "  gl_Position = u_projection * e;\n"
    "}\n";

// The height field's normal from its slopes: each slope texel holds the
// difference of two neighbouring heights, so one filtered fetch gives what
// two filtered height fetches half a sample either side would.
const char TERRAIN_FS[] =
    "uniform sampler2D u_tex;\n"
    "uniform sampler2D u_nmap;\n"
    "uniform highp sampler2D u_slopes;\n"
    "uniform float u_spacing;\n"
    "uniform vec3 u_specular_color;\n"
    "in vec2 v_texcoord;\n"
    "in highp vec2 v_slope_x;\n"
    "in highp vec2 v_slope_z;\n"
    "in vec3 v_viewer;\n"
    "flat in vec3 v_light;\n"
    "void main() {\n"
    "  float dx = texture(u_slopes, v_slope_x).r;\n"
    "  float dz = texture(u_slopes, v_slope_z).g;\n"
    "  vec3 g = normalize(vec3(-dx, u_spacing, -dz));\n"
    "  vec4 nm = texture(u_nmap, v_texcoord);\n"
    "  float len = nm.g;\n"
    "  vec3 n = nm.rgb * 2.0 - 1.0;\n"
    "  n.y = sqrt(max(1.0 - n.z * n.z - n.x * n.x, 0.0));\n"
    // The detail normal's frame: x stays in the x-y plane, y is the ground's.
    "  vec3 r2 = vec3(0.0, -g.z, g.y) * inversesqrt(g.y * g.y + g.z * g.z);\n"
    "  vec3 r0 = cross(g, r2);\n"
    "  n = normalize(r0 * n.x + g * n.y + r2 * n.z);\n"
    "  vec4 colour = u_ambient;\n"
    "  float ndl = dot(n, v_light);\n"
    "  float rdl = max(dot(reflect(normalize(v_viewer), n), v_light), 0.0);\n"
    "  if (ndl < 0.0) {\n"
    "    ndl = 0.0;\n"
    "    rdl = 0.0;\n"
    "  }\n"
    "  colour.rgb += u_diffuse * ndl * len;\n"
    "  colour *= texture(u_tex, v_texcoord);\n"
    "  vec4 s = texture(u_smap, v_texcoord);\n"
    "  float e = s.g * 128.0 + 0.125;\n"
    "  colour.rgb += s.r * u_specular_color * pow(rdl, e) * len;\n"
    "  colour.rgb = fog(colour.rgb);\n"
    "  f_fragcolor = colour;\n"
    "}\n";

std::string sources[TWGL_PROGRAMS + 1][2];

void build_sources() {
  std::string head = HEAD, frag = std::string(HEAD) + FRAG_HEAD;
  sources[1][0] = head + UNLIT_VS;
  sources[1][1] = frag + FOG + UNLIT_FS;
  sources[2][0] = head + MODEL_VS;
  sources[2][1] = frag + MODEL_FS_COMMON + NORM_ENV_FS;
  sources[3][0] = head + MODEL_VS;
  sources[3][1] = frag + FOG + LIGHT_UNIFORMS + MODEL_FS_COMMON + NORM_SPEC_LIT_FS;
  sources[4][0] = head + TERRAIN_NORMALS_VS;
  sources[4][1] = frag + TERRAIN_NORMALS_FS;
  sources[5][0] = head + TERRAIN_VS;
  sources[5][1] = frag + FOG + LIGHT_UNIFORMS + TERRAIN_FS;
}

void log_info(GLuint object, bool program, const char *what, const char *name) {
  GLint len = 0;
  if (program) gl.GetProgramiv(object, GL_INFO_LOG_LENGTH, &len);
  else gl.GetShaderiv(object, GL_INFO_LOG_LENGTH, &len);
  if (len <= 1) return;
  std::string text(size_t(len), '\0');
  GLsizei got = 0;
  if (program) gl.GetProgramInfoLog(object, len, &got, text.data());
  else gl.GetShaderInfoLog(object, len, &got, text.data());
  text.resize(size_t(got > 0 ? got : 0));
  if (!text.empty()) log_printf("%s for %s:\n%s\n", what, name, text.c_str());
}

GLuint compile(GLenum type, int program) {
  const char *text = twgl_shader_source(program, type == GL_FRAGMENT_SHADER);
  GLuint s = gl.CreateShader(type);
  if (!s) return 0;
  gl.ShaderSource(s, 1, &text, nullptr);
  gl.CompileShader(s);
  log_info(s, false,
           type == GL_FRAGMENT_SHADER ? "fragment shader status" : "vertex shader status",
           twgl_program_names[program]);
  GLint ok = 0;
  gl.GetShaderiv(s, GL_COMPILE_STATUS, &ok);
  if (!ok) {
    gl.DeleteShader(s);
    return 0;
  }
  return s;
}

const struct {
  const char *name;
  GLuint location;
} ATTRIBUTES[] = {{"vattr_position", 0}, {"vattr_normal", 2},  {"vattr_color", 3},
                  {"vattr_texcoord", 8}, {"vattr_tangent", 9}, {"vattr_weights", 10},
                  {"vattr_bones", 11}};

GLuint create_program(int index) {
  const char *name = twgl_program_names[index];
  log_printf("Creating \"%s\" shader\n", name);
  // Both are compiled even when the first fails, so that both logs are kept.
  GLuint vs = compile(GL_VERTEX_SHADER, index);
  GLuint fs = compile(GL_FRAGMENT_SHADER, index);
  if (!vs || !fs) {
    if (vs) gl.DeleteShader(vs);
    if (fs) gl.DeleteShader(fs);
    log_printf("Can't compile the \"%s\" shader\n", name);
    return 0;
  }
  GLuint p = gl.CreateProgram();
  gl.AttachShader(p, vs);
  gl.AttachShader(p, fs);
  for (const auto &a : ATTRIBUTES) gl.BindAttribLocation(p, a.location, a.name);
  gl.LinkProgram(p);
  // The program keeps the shaders for as long as it lives.
  gl.DeleteShader(vs);
  gl.DeleteShader(fs);
  log_info(p, true, "link status", name);
  GLint ok = 0;
  gl.GetProgramiv(p, GL_LINK_STATUS, &ok);
  if (!ok) {
    gl.DeleteProgram(p);
    log_printf("Can't link the \"%s\" shader\n", name);
    return 0;
  }
  return p;
}

void reset_locations() {
  for (auto &row : locations)
    for (GLint &l : row) l = -2;
  locations_ready = true;
}

void set_sampler(int program, const char *name, int unit) {
  GLint loc = gl.GetUniformLocation(twgl_program_objects[program], name);
  if (loc >= 0) gl.Uniform1i(loc, unit);
}

}  // namespace

const char *twgl_shader_source(int program, int fragment) {
  if (program < 1 || program > TWGL_PROGRAMS) return "";
  if (sources[1][0].empty()) build_sources();
  const char *s = sources[program][fragment ? 1 : 0].c_str();
  return twgl_gles ? s : s + 18;
}

int twgl_create_programs() {
  reset_locations();
  for (int i = 1; i <= TWGL_PROGRAMS; i++) {
    twgl_program_objects[i] = create_program(i);
    if (!twgl_program_objects[i]) {
      twgl_delete_programs();
      return 0;
    }
  }
  struct {
    int program;
    const char *name;
    int unit;
  } samplers[] = {{2, "u_nmap", 1},     {3, "u_nmap", 1}, {3, "u_smap", 2},
                  {4, "u_shadows", 1},  {5, "u_nmap", 1}, {5, "u_smap", 2},
                  {5, "u_heights", 3}, {5, "u_slopes", 4}};
  GLuint last = 0;
  for (const auto &s : samplers) {
    if (twgl_program_objects[s.program] != last) {
      last = twgl_program_objects[s.program];
      gl.UseProgram(last);
    }
    set_sampler(s.program, s.name, s.unit);
  }
  gl.UseProgram(0);
  return 1;
}

void twgl_delete_programs() {
  for (int i = 1; i <= TWGL_PROGRAMS; i++) {
    if (twgl_program_objects[i]) gl.DeleteProgram(twgl_program_objects[i]);
    twgl_program_objects[i] = 0;
  }
  reset_locations();
}

GLint twgl_uniform(int program, int uniform) {
  if (program < 1 || program > TWGL_PROGRAMS || uniform < 0 || uniform >= U_COUNT) return -1;
  if (!locations_ready) reset_locations();
  GLint &l = locations[program][uniform];
  if (l == -2) l = gl.GetUniformLocation(twgl_program_objects[program], UNIFORM_NAMES[uniform]);
  return l;
}

// ------------------------------------------------------------ uniform setters
static GLint current_uniform(int uniform) {
  twgl_flush();
  return twgl_uniform(twgl_current_program(), uniform);
}

void twglSetBones(int n, const float *centres, const float *translations,
                  const float *rotations) {
  if (twgl_current_program() < 1) return;
  if (n < 0) n = 0;
  if (n > 32) n = 32;  // the shaders' MAX_BONE
  GLint loc = current_uniform(U_NBONES);
  if (loc >= 0) gl.Uniform1i(loc, n);
  if (n < 1) return;
  int p = twgl_current_program();
  if ((loc = twgl_uniform(p, U_BONE_C)) >= 0) gl.Uniform3fv(loc, n, centres);
  if ((loc = twgl_uniform(p, U_BONE_T)) >= 0) gl.Uniform3fv(loc, n, translations);
  if ((loc = twgl_uniform(p, U_BONE_R)) >= 0) gl.UniformMatrix3fv(loc, n, GL_FALSE, rotations);
}

#define TWGL_SETTER(fn, params, uniform, call) \
  void fn params {                             \
    GLint loc = current_uniform(uniform);      \
    if (loc >= 0) call;                        \
  }
TWGL_SETTER(twglSetFogColor, (const float c[3]), U_FOG_COLOR, gl.Uniform3f(loc, c[0], c[1], c[2]))
TWGL_SETTER(twglSetFogDensity, (float d), U_FOG_DENSITY, gl.Uniform1f(loc, d))
TWGL_SETTER(twglSetAmbient, (const float c[4]), U_AMBIENT,
            gl.Uniform4f(loc, c[0], c[1], c[2], c[3]))
TWGL_SETTER(twglSetDiffuse, (const float c[3]), U_DIFFUSE, gl.Uniform3f(loc, c[0], c[1], c[2]))
TWGL_SETTER(twglSetShininess, (float s), U_SHININESS, gl.Uniform1f(loc, s))
TWGL_SETTER(twglSetSpecularColor, (const float c[3]), U_SPECULAR_COLOR,
            gl.Uniform3f(loc, c[0], c[1], c[2]))
TWGL_SETTER(twglSetLightPosition, (const float p[3]), U_LIGHT_POSITION,
            gl.Uniform3f(loc, p[0], p[1], p[2]))
TWGL_SETTER(twglSetHeightsDimInv, (float v), U_HEIGHTS_DIM_INV, gl.Uniform1f(loc, v))
#undef TWGL_SETTER

void twglSetSpacing(float s) {
  GLint loc = current_uniform(U_SPACING);
  if (loc >= 0) gl.Uniform1f(loc, s);
  loc = twgl_uniform(twgl_current_program(), U_SPACING_INV);
  if (loc >= 0) gl.Uniform1f(loc, 1 / s);
}

void twglSetTexTransform(const float offset[2], float scale) {
  GLint loc = current_uniform(U_TEXOFFSET);
  if (loc >= 0) gl.Uniform2f(loc, offset[0], offset[1]);
  loc = twgl_uniform(twgl_current_program(), U_TEXSCALE);
  if (loc >= 0) gl.Uniform1f(loc, scale);
}

void twglSetEnvMatrix(const float m[9]) {
  twglUseProgram(PROGRAM_NORM_ENV);
  GLint loc = current_uniform(U_ENVMAT);
  if (loc >= 0) gl.UniformMatrix3fv(loc, 1, GL_FALSE, m);
  twglUseProgram(PROGRAM_UNLIT);
}
