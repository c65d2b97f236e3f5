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
    "u_texscale",      "u_heights_dim_inv", "u_envmat",    "u_nmap_value",
    "u_smap_value"};

// Programs 2 and 3 come in variants, compiled when first drawn with: a
// rigid model skips the skinning the software renderer would otherwise run
// for every vertex, and a map whose texels are all alike is a uniform
// rather than a texture fetch per pixel. Program 1 has one without fog for
// a fog density of 0 (the sky, the overlays), where fog gives back the
// colour.
enum { VARIANT_SKINNED = 1, VARIANT_NMAP_VALUE = 2, VARIANT_SMAP_VALUE = 4, VARIANTS = 8 };
enum { VARIANT_FOGLESS = 1 };  // program 1's
GLuint variant_objects[TWGL_PROGRAMS + 1][VARIANTS];
bool variant_failed[TWGL_PROGRAMS + 1][VARIANTS];
GLint locations[TWGL_PROGRAMS + 1][VARIANTS][U_COUNT];
bool locations_ready = false;

// The uniform values last set on each program, so that a variant bound
// later gets them too.
struct Kept {
  unsigned set;  // bit per uniform
  float value[U_COUNT][9];
  int nbones;
  float bone_c[32 * 3], bone_t[32 * 3], bone_r[32 * 9];
  int map_values;  // VARIANT_NMAP_VALUE | VARIANT_SMAP_VALUE
  int variant;     // whose object holds every kept value
};
Kept kept[TWGL_PROGRAMS + 1];

// Floats a kept uniform has (9: a 3 x 3 matrix); 0 for those kept elsewhere.
int kept_size(int u) {
  switch (u) {
    case U_NBONES: case U_FOG_DENSITY: case U_SHININESS: case U_SPACING: case U_SPACING_INV:
    case U_TEXSCALE: case U_HEIGHTS_DIM_INV: return 1;
    case U_TEXOFFSET: return 2;
    case U_FOG_COLOR: case U_DIFFUSE: case U_SPECULAR_COLOR: case U_LIGHT_POSITION: return 3;
    case U_AMBIENT: case U_NMAP_VALUE: case U_SMAP_VALUE: return 4;
    case U_ENVMAT: return 9;
    default: return 0;
  }
}

int variants_of(int program) {
  return program == PROGRAM_NORM_SPEC_LIT ? VARIANTS : program == PROGRAM_NORM_ENV ? 4 : program == PROGRAM_UNLIT ? 2 : 1;
}

// A desktop context skips the first 18 characters, so the same text starts
// "#version 150" there.
const char HEAD[] = "#version 300 es\n//#version 150\n#define MAX_BONE 32\n";

const char FRAG_HEAD[] =
    "#ifdef GL_ES\n"
    "precision mediump float;\n"
    "#endif\n"
    "out vec4 f_fragcolor;\n";

const char FOG[] =
    "#ifdef FOGLESS\n"
    "vec3 fog(vec3 c) { return c; }\n"
    "#else\n"
    "uniform vec3 u_fog_color;\n"
    "uniform float u_fog_density;\n"
    "vec3 fog(vec3 c) {\n"
    "  float z = gl_FragCoord.z / gl_FragCoord.w;\n"
    "  float f = clamp(exp2(-1.4426950408889634 * u_fog_density * z), 0.0, 1.0);\n"
    "  return mix(u_fog_color, c, f);\n"
    "}\n"
    "#endif\n";

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
    "#ifndef SKINNED\n"
    "  {\n"
    "    v_normal = normalize(r * vattr_normal);\n"
    "    v_tangent = normalize(r * vattr_tangent);\n"
    "    vec4 e = u_modelview * vattr_position;\n"
    "    v_viewer = e.xyz / e.w;\n"
    "    gl_Position = u_projection * e;\n"
    "  }\n"
    "#else\n"
    "  {\n"
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
    "#endif\n"
    "}\n";

const char MODEL_FS_COMMON[] =
    "uniform sampler2D u_tex;\n"
    "uniform sampler2D u_nmap;\n"
    "#ifdef NMAP_VALUE\n"
    "uniform vec4 u_nmap_value;\n"
    "#define NMAP_TEXEL u_nmap_value\n"
    "#else\n"
    "#define NMAP_TEXEL texture(u_nmap, v_texcoord)\n"
    "#endif\n"
    "#ifdef SMAP_VALUE\n"
    "uniform vec4 u_smap_value;\n"
    "#define SMAP_TEXEL u_smap_value\n"
    "#else\n"
    "#define SMAP_TEXEL texture(u_smap, v_texcoord)\n"
    "#endif\n"
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
    "  return normalize(frame * (NMAP_TEXEL.rgb * 2.0 - 1.0));\n"
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
    "  vec4 s = SMAP_TEXEL;\n"
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

std::string sources[TWGL_PROGRAMS + 1][VARIANTS][2];

void build_sources(int variant) {
  std::string defines;
  if (variant & VARIANT_SKINNED) defines += "#define SKINNED\n";
  if (variant & VARIANT_NMAP_VALUE) defines += "#define NMAP_VALUE\n";
  if (variant & VARIANT_SMAP_VALUE) defines += "#define SMAP_VALUE\n";
  std::string head = HEAD + defines, frag = head + FRAG_HEAD;
  auto set = [&](int p, std::string vs, std::string fs) {
    if (variant < variants_of(p)) sources[p][variant][0] = vs, sources[p][variant][1] = fs;
  };
  std::string fogless = variant & VARIANT_FOGLESS ? "#define FOGLESS\n" : "";
  set(1, head + UNLIT_VS, frag + fogless + FOG + UNLIT_FS);
  set(2, head + MODEL_VS, frag + MODEL_FS_COMMON + NORM_ENV_FS);
  set(3, head + MODEL_VS, frag + FOG + LIGHT_UNIFORMS + MODEL_FS_COMMON + NORM_SPEC_LIT_FS);
  set(4, head + TERRAIN_NORMALS_VS, frag + TERRAIN_NORMALS_FS);
  set(5, head + TERRAIN_VS, frag + FOG + LIGHT_UNIFORMS + TERRAIN_FS);
}

const char *source(int program, int variant, int fragment) {
  if (sources[1][0][0].empty())
    for (int v = 0; v < VARIANTS; v++) build_sources(v);
  const char *s = sources[program][variant][fragment ? 1 : 0].c_str();
  return twgl_gles ? s : s + 18;
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

GLuint compile(GLenum type, int program, int variant) {
  const char *text = source(program, variant, type == GL_FRAGMENT_SHADER);
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

const struct {
  int program;
  const char *name;
  int unit;
} SAMPLERS[] = {{2, "u_nmap", 1}, {3, "u_nmap", 1}, {3, "u_smap", 2}, {4, "u_shadows", 1},
                {5, "u_nmap", 1}, {5, "u_smap", 2}, {5, "u_heights", 3}, {5, "u_slopes", 4}};

// Compiles, links and binds the samplers of one variant; the caller binds
// a program again afterwards.
GLuint create_program(int index, int variant) {
  const char *name = twgl_program_names[index];
  if (variant == 0) log_printf("Creating \"%s\" shader\n", name);
  // Both are compiled even when the first fails, so that both logs are kept.
  GLuint vs = compile(GL_VERTEX_SHADER, index, variant);
  GLuint fs = compile(GL_FRAGMENT_SHADER, index, variant);
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
  gl.UseProgram(p);
  for (const auto &s : SAMPLERS) {
    if (s.program != index) continue;
    GLint loc = gl.GetUniformLocation(p, s.name);
    if (loc >= 0) gl.Uniform1i(loc, s.unit);
  }
  return p;
}

void reset_state() {
  for (auto &program : locations)
    for (auto &variant : program)
      for (GLint &l : variant) l = -2;
  for (auto &row : variant_failed)
    for (bool &f : row) f = false;
  for (Kept &k : kept) k.set = 0, k.nbones = 0, k.map_values = 0, k.variant = 0;
  locations_ready = true;
}

GLint location(int program, int variant, int uniform) {
  if (!locations_ready) reset_state();
  GLint &l = locations[program][variant][uniform];
  if (l == -2) l = variant_objects[program][variant]
                       ? gl.GetUniformLocation(variant_objects[program][variant], UNIFORM_NAMES[uniform])
                       : -1;
  return l;
}

void upload(int program, int variant, int u) {
  GLint loc = location(program, variant, u);
  if (loc < 0) return;
  const float *v = kept[program].value[u];
  switch (kept_size(u)) {
    case 1:
      if (u == U_NBONES) gl.Uniform1i(loc, int(v[0]));
      else gl.Uniform1f(loc, v[0]);
      break;
    case 2: gl.Uniform2f(loc, v[0], v[1]); break;
    case 3: gl.Uniform3f(loc, v[0], v[1], v[2]); break;
    case 4: gl.Uniform4f(loc, v[0], v[1], v[2], v[3]); break;
    case 9: gl.UniformMatrix3fv(loc, 1, GL_FALSE, v); break;
  }
}

void upload_bones(int program, int variant) {
  const Kept &k = kept[program];
  if (k.nbones < 1) return;
  GLint loc;
  if ((loc = location(program, variant, U_BONE_C)) >= 0) gl.Uniform3fv(loc, k.nbones, k.bone_c);
  if ((loc = location(program, variant, U_BONE_T)) >= 0) gl.Uniform3fv(loc, k.nbones, k.bone_t);
  if ((loc = location(program, variant, U_BONE_R)) >= 0) gl.UniformMatrix3fv(loc, k.nbones, GL_FALSE, k.bone_r);
}

// Binds a variant's object, first giving it every value the program keeps
// when another variant had them last.
bool bind_variant(int program, int variant) {
  if (!variant_objects[program][variant]) {
    if (variant_failed[program][variant]) return false;
    variant_objects[program][variant] = create_program(program, variant);
    if (!variant_objects[program][variant]) {
      variant_failed[program][variant] = true;
      gl.UseProgram(variant_objects[program][kept[program].variant]);
      return false;
    }
  }
  gl.UseProgram(variant_objects[program][variant]);
  Kept &k = kept[program];
  if (k.variant != variant) {
    for (int u = 0; u < U_COUNT; u++)
      if (k.set & (1u << u)) upload(program, variant, u);
    upload_bones(program, variant);
    k.variant = variant;
  }
  return true;
}

// Keeps a value of the current program's and sends it to its bound object.
void keep(int uniform, const float *v) {
  twgl_flush();
  int p = twgl_current_program();
  if (p < 1 || p > TWGL_PROGRAMS) return;
  Kept &k = kept[p];
  memcpy(k.value[uniform], v, sizeof(float) * size_t(kept_size(uniform)));
  k.set |= 1u << uniform;
  upload(p, k.variant, uniform);
}

}  // namespace

const char *twgl_shader_source(int program, int fragment) {
  if (program < 1 || program > TWGL_PROGRAMS) return "";
  return source(program, 0, fragment);
}

int twgl_create_programs() {
  // Objects still listed belong to a context that is gone (or to another
  // GL table): not ours to delete or bind in this one.
  for (auto &row : variant_objects)
    for (GLuint &o : row) o = 0;
  reset_state();
  for (int i = 1; i <= TWGL_PROGRAMS; i++) {
    twgl_program_objects[i] = variant_objects[i][0] = create_program(i, 0);
    if (!twgl_program_objects[i]) {
      twgl_delete_programs();
      return 0;
    }
  }
  gl.UseProgram(0);
  return 1;
}

void twgl_delete_programs() {
  for (int i = 1; i <= TWGL_PROGRAMS; i++) {
    for (GLuint &o : variant_objects[i]) {
      if (o) gl.DeleteProgram(o);
      o = 0;
    }
    twgl_program_objects[i] = 0;
  }
  reset_state();
}

GLint twgl_uniform(int program, int uniform) {
  if (program < 1 || program > TWGL_PROGRAMS || uniform < 0 || uniform >= U_COUNT) return -1;
  return location(program, kept[program].variant, uniform);
}

void twgl_program_bind(int program) {
  if (program < 1 || program > TWGL_PROGRAMS) return;
  bind_variant(program, kept[program].variant);
}

int twgl_program_of_object(GLuint object) {
  for (int p = 1; object && p <= TWGL_PROGRAMS; p++)
    for (GLuint o : variant_objects[p])
      if (o == object) return p;
  return 0;
}

int twgl_program_prepare_draw(int program) {
  if (program < 1 || program > TWGL_PROGRAMS) return 0;
  const Kept &k = kept[program];
  bool fog = (k.set >> U_FOG_DENSITY) & 1 && k.value[U_FOG_DENSITY][0] != 0;
  int want = program == PROGRAM_UNLIT ? (fog ? 0 : VARIANT_FOGLESS)
                                      : ((k.nbones > 0 ? VARIANT_SKINNED : 0) | k.map_values) & (variants_of(program) - 1);
  if (want == k.variant) return 0;
  return bind_variant(program, want) ? 1 : 0;
}

// ------------------------------------------------------------ uniform setters
void twglSetBones(int n, const float *centres, const float *translations,
                  const float *rotations) {
  int p = twgl_current_program();
  if (p < 1) return;
  if (n < 0) n = 0;
  if (n > 32) n = 32;  // the shaders' MAX_BONE
  float nf = float(n);
  keep(U_NBONES, &nf);
  Kept &k = kept[p];
  k.nbones = n;
  if (n < 1) return;
  memcpy(k.bone_c, centres, sizeof(float) * 3 * size_t(n));
  memcpy(k.bone_t, translations, sizeof(float) * 3 * size_t(n));
  memcpy(k.bone_r, rotations, sizeof(float) * 9 * size_t(n));
  upload_bones(p, k.variant);
}

void twglSetFogColor(const float c[3]) { keep(U_FOG_COLOR, c); }
void twglSetFogDensity(float d) { keep(U_FOG_DENSITY, &d); }
void twglSetAmbient(const float c[4]) { keep(U_AMBIENT, c); }
void twglSetDiffuse(const float c[3]) { keep(U_DIFFUSE, c); }
void twglSetShininess(float s) { keep(U_SHININESS, &s); }
void twglSetSpecularColor(const float c[3]) { keep(U_SPECULAR_COLOR, c); }
void twglSetLightPosition(const float p[3]) { keep(U_LIGHT_POSITION, p); }
void twglSetHeightsDimInv(float v) { keep(U_HEIGHTS_DIM_INV, &v); }

void twglSetSpacing(float s) {
  float inv = 1 / s;
  keep(U_SPACING, &s);
  keep(U_SPACING_INV, &inv);
}

void twglSetTexTransform(const float offset[2], float scale) {
  keep(U_TEXOFFSET, offset);
  keep(U_TEXSCALE, &scale);
}

void twglSetEnvMatrix(const float m[9]) {
  twglUseProgram(PROGRAM_NORM_ENV);
  keep(U_ENVMAT, m);
  twglUseProgram(PROGRAM_UNLIT);
}

void twglSetMapValues(const float normal[4], const float specular[4]) {
  int p = twgl_current_program();
  if (p < 1) return;
  twgl_flush();
  Kept &k = kept[p];
  k.map_values = 0;
  if (normal) {
    keep(U_NMAP_VALUE, normal);
    k.map_values |= VARIANT_NMAP_VALUE;
  }
  if (specular) {
    keep(U_SMAP_VALUE, specular);
    k.map_values |= VARIANT_SMAP_VALUE;
  }
}
