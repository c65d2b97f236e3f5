// The GL entry points the drawing layer calls, kept in one table so that
// tests can put a recording table in its place. Inside gfx only.
#pragma once
#include "gfx/gfx.h"

// name in the table, its typedef stem, whether a context may lack it
#define TWGL_FUNCS(X)                                    \
  X(ActiveTexture, ACTIVETEXTURE, 0)                     \
  X(AttachShader, ATTACHSHADER, 0)                       \
  X(BindAttribLocation, BINDATTRIBLOCATION, 0)           \
  X(BindBuffer, BINDBUFFER, 0)                           \
  X(BindFramebuffer, BINDFRAMEBUFFER, 0)                 \
  X(BindTexture, BINDTEXTURE, 0)                         \
  X(BindVertexArray, BINDVERTEXARRAY, 0)                 \
  X(BlendFunc, BLENDFUNC, 0)                             \
  X(BufferData, BUFFERDATA, 0)                           \
  X(BufferSubData, BUFFERSUBDATA, 0)                     \
  X(CheckFramebufferStatus, CHECKFRAMEBUFFERSTATUS, 0)   \
  X(Clear, CLEAR, 0)                                     \
  X(ClearColor, CLEARCOLOR, 0)                           \
  X(CompileShader, COMPILESHADER, 0)                     \
  X(CreateProgram, CREATEPROGRAM, 0)                     \
  X(CreateShader, CREATESHADER, 0)                       \
  X(DeleteBuffers, DELETEBUFFERS, 0)                     \
  X(DeleteFramebuffers, DELETEFRAMEBUFFERS, 0)           \
  X(DeleteProgram, DELETEPROGRAM, 0)                     \
  X(DeleteShader, DELETESHADER, 0)                       \
  X(DeleteTextures, DELETETEXTURES, 0)                   \
  X(DeleteVertexArrays, DELETEVERTEXARRAYS, 0)           \
  X(DepthFunc, DEPTHFUNC, 0)                             \
  X(DepthMask, DEPTHMASK, 0)                             \
  X(Disable, DISABLE, 0)                                 \
  X(DisableVertexAttribArray, DISABLEVERTEXATTRIBARRAY, 0) \
  X(DrawArrays, DRAWARRAYS, 0)                           \
  X(DrawElements, DRAWELEMENTS, 0)                       \
  X(DrawRangeElements, DRAWRANGEELEMENTS, 0)             \
  X(Enable, ENABLE, 0)                                   \
  X(EnableVertexAttribArray, ENABLEVERTEXATTRIBARRAY, 0) \
  X(Finish, FINISH, 0)                                   \
  X(Flush, FLUSH, 0)                                     \
  X(FramebufferTexture2D, FRAMEBUFFERTEXTURE2D, 0)       \
  X(GenBuffers, GENBUFFERS, 0)                           \
  X(GenFramebuffers, GENFRAMEBUFFERS, 0)                 \
  X(GenerateMipmap, GENERATEMIPMAP, 0)                   \
  X(GenTextures, GENTEXTURES, 0)                         \
  X(GenVertexArrays, GENVERTEXARRAYS, 0)                 \
  X(GetError, GETERROR, 0)                               \
  X(GetIntegerv, GETINTEGERV, 0)                         \
  X(GetProgramInfoLog, GETPROGRAMINFOLOG, 0)             \
  X(GetProgramiv, GETPROGRAMIV, 0)                       \
  X(GetShaderInfoLog, GETSHADERINFOLOG, 0)               \
  X(GetShaderiv, GETSHADERIV, 0)                         \
  X(GetString, GETSTRING, 0)                             \
  X(GetTexLevelParameteriv, GETTEXLEVELPARAMETERIV, 1)   \
  X(GetUniformLocation, GETUNIFORMLOCATION, 0)           \
  X(LinkProgram, LINKPROGRAM, 0)                         \
  X(PixelStorei, PIXELSTOREI, 0)                         \
  X(ReadPixels, READPIXELS, 0)                           \
  X(ShaderSource, SHADERSOURCE, 0)                       \
  X(TexImage2D, TEXIMAGE2D, 0)                           \
  X(TexParameteri, TEXPARAMETERI, 0)                     \
  X(TexSubImage2D, TEXSUBIMAGE2D, 0)                     \
  X(Uniform1f, UNIFORM1F, 0)                             \
  X(Uniform1i, UNIFORM1I, 0)                             \
  X(Uniform2f, UNIFORM2F, 0)                             \
  X(Uniform3f, UNIFORM3F, 0)                             \
  X(Uniform3fv, UNIFORM3FV, 0)                           \
  X(Uniform4f, UNIFORM4F, 0)                             \
  X(UniformMatrix3fv, UNIFORMMATRIX3FV, 0)               \
  X(UniformMatrix4fv, UNIFORMMATRIX4FV, 0)               \
  X(UseProgram, USEPROGRAM, 0)                           \
  X(VertexAttribPointer, VERTEXATTRIBPOINTER, 0)         \
  X(Viewport, VIEWPORT, 0)

struct GlFuncs {
#define TWGL_MEMBER(name, stem, optional) PFNGL##stem##PROC name;
  TWGL_FUNCS(TWGL_MEMBER)
#undef TWGL_MEMBER
};

// The table in use. gfx_init fills it from the platform's lookup.
extern GlFuncs gl;
// Fills the table; 0 (naming the first missing one in the log) on failure.
int gl_load(void *(*get_proc)(const char *name));

// Everything after the table exists: context strings, batch, default
// textures, stacks and programs. 0 on failure.
int twgl_init();
void twgl_shutdown();

// Uniforms looked up by name and cached per program.
enum TwglUniform {
  U_MODELVIEW,
  U_PROJECTION,
  U_TEXTURE0,  // .. U_TEXTURE0 + 7
  U_NBONES = U_TEXTURE0 + 8,
  U_BONE_C,
  U_BONE_T,
  U_BONE_R,
  U_FOG_COLOR,
  U_FOG_DENSITY,
  U_AMBIENT,
  U_DIFFUSE,
  U_SHININESS,
  U_SPECULAR_COLOR,
  U_LIGHT_POSITION,
  U_SPACING,
  U_SPACING_INV,
  U_TEXOFFSET,
  U_TEXSCALE,
  U_HEIGHTS_DIM_INV,
  U_ENVMAT,
  U_NMAP_VALUE,
  U_SMAP_VALUE,
  U_COUNT
};
// Location in the given program (1..5) as bound now, looked up on first
// use; -1 absent.
GLint twgl_uniform(int program, int uniform);
// Binds the program (the variant it was last drawn with).
void twgl_program_bind(int program);
// Before a draw: binds the variant the kept bone count, map values and fog
// density ask for; 1 when another object was bound, whose matrices must be
// sent again.
int twgl_program_prepare_draw(int program);
// Builds the five programs; 0 (all deleted again) when one fails.
int twgl_create_programs();
void twgl_delete_programs();
extern GLuint twgl_program_objects[TWGL_PROGRAMS + 1];
// The program (1..5) a GL program object is a variant of; 0 for none.
int twgl_program_of_object(GLuint object);
// The source text of a program's vertex or fragment shader as compiled on
// this context.
const char *twgl_shader_source(int program, int fragment);
extern const char *const twgl_program_names[TWGL_PROGRAMS + 1];

// Logs the text, lets the platform show it, and ends the program.
[[noreturn]] void twgl_fatal(const char *text);

// Tests: forget all layer state (stacks, queue, batch, caches).
void twgl_reset_for_tests();
