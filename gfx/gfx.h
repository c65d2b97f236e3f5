// Drawing: the GL layer (twgl*), images and the texture cache, fonts and
// text, and the screens shown while no world is drawn. The library links no
// GL library: the platform layer hands gfx_init its procedure lookup.
#pragma once
#include <cstdint>

#include <GL/glcorearb.h>

// The PNG codec, image_pixel_limit and the PNG writers are core's.
#include "core/png.h"

struct DataFile;

// ------------------------------------------------------------------ start-up
// Logs the current context's vendor, renderer, version and extensions,
// looked up through get_proc before gfx_init; 0 when the version is older
// than the drawing needs (desktop 3.1, ES 3.0).
int gfx_log_context(void *(*get_proc)(const char *name));
// After a GL context exists and is current: looks up the entry points
// through get_proc, reads the context's version, creates the vertex batch,
// the default textures and the five programs. 0 on failure (logged).
// `gles` says what the platform asked for; the version string decides.
int gfx_init(void *(*get_proc)(const char *name), int gles);
// Loads the fonts and the HUD pictures ("!@tach.png", "!@shifter.png",
// "!@pitboard.png", "!@title.png"); once the data files can be read.
void gfx_load_pictures();
// Frees fonts, textures, programs and the batch (the context still current).
void gfx_shutdown();
// The state the first frame starts from: the clear colour, back faces
// culled, pixel rows packed tight both ways.
void gfx_initial_state();
// The frame just drawn, width x height, as packed RGB rows, bottom row
// first (as GL reads it back).
void gfx_read_frame_rgb(uint8_t *out, int width, int height);

// What a fatal drawing fault does after logging it: the platform layer sets
// this to show a message box. The program then exits with status 1.
extern void (*gfx_fatal_hook)(const char *text);

// Settings shared with start-up and the configuration.
struct GfxSettings {
  int texture_reduction;  // model texture reduction level 0..10
  int texture_compress;   // 0 "No", 1 "Yes", 2 "Always"
};
extern GfxSettings gfx_settings;

// ------------------------------------------------------------------ GL layer
// GL primitive numbers of the old fixed-function API, accepted by twglBegin.
#ifndef GL_QUADS
#define GL_QUADS 0x0007
#endif
#ifndef GL_QUAD_STRIP
#define GL_QUAD_STRIP 0x0008
#endif
#ifndef GL_POLYGON
#define GL_POLYGON 0x0009
#endif
#ifndef GL_MODELVIEW
#define GL_MODELVIEW 0x1700
#endif
#ifndef GL_PROJECTION
#define GL_PROJECTION 0x1701
#endif

enum {
  TWGL_STACKS = 10,      // model-view, projection, texture units 0..7
  TWGL_STACK_DEPTH = 32,
  TWGL_TEXTURE_UNITS = 8,
  TWGL_BATCH_VERTICES = 8192,
  TWGL_BATCH_INDICES = 24576,
  TWGL_QUEUE_WORDS = 1048576,
  TWGL_PROGRAMS = 5,
};

enum TwglProgram {
  PROGRAM_NONE = 0,
  PROGRAM_UNLIT = 1,
  PROGRAM_NORM_ENV = 2,
  PROGRAM_NORM_SPEC_LIT = 3,
  PROGRAM_TERRAIN_NORMALS = 4,
  PROGRAM_TERRAIN = 5,
};

// Queued: applied in order at the next flush.
void twglMatrixMode(GLenum mode);
void twglLoadIdentity();
void twglLoadMatrix(const float m[16]);  // column-major
void twglMultMatrix(const float m[16]);
void twglTranslate(float x, float y, float z);
void twglRotate(float deg, float x, float y, float z);
void twglScale(float x, float y, float z);
void twglFrustum(float l, float r, float b, float t, float n, float f);
void twglOrtho(float l, float r, float b, float t, float n, float f);
void twglPushMatrix();
void twglPopMatrix();
void twglActiveTexture(GLenum unit);
void twglBindTexture(GLenum target, GLuint tex);
void twglBlendFunc(GLenum s, GLenum d);
void twglDepthFunc(GLenum f);
void twglDepthMask(GLboolean flag);
void twglEnable(GLenum cap);
void twglDisable(GLenum cap);
// The current stack's top as applied so far: flush first when matrix
// commands may still be queued.
const float *twglGetMatrix();
// Projection x model-view, with queued commands applied.
void twgl_mvp(float out[16]);

// Immediate drawing into the vertex batch.
void twglBegin(GLenum mode);
void twglColor(float r, float g, float b, float a);
void twglTexCoord(float s, float t, float r = 0, float q = 1);
void twglVertex(float x, float y, float z, float w = 1);
void twglVertexGround(float x, float z);  // (x, -1, z, 1)
void twglVertexScreen(float x, float y);  // (x, y, -1, 1)
void twglVertex2(float x, float y);       // (x, y, 0, 1)
void twglEnd();

// Runs the queued commands and draws the batch. State and matrix calls and
// begin/end drawing reach GL only here (or at any direct call), so the
// frame's end calls it before the buffers are swapped.
void twgl_flush();
// Direct calls: the queue is flushed first.
void twglUseProgram(int index);
int twgl_current_program();
extern int twgl_program_switches;
extern int twgl_texture_binds;  // texture binds asked for, for the statistics
extern int64_t twgl_triangles;   // triangles handed to GL
void twglDrawArrays(GLenum mode, GLint first, GLsizei count);
void twglDrawElements(GLenum mode, GLsizei count, GLenum type, const void *offset);
void twglDrawRangeElements(GLenum mode, GLuint lo, GLuint hi, GLsizei count, GLenum type,
                           const void *offset);
void twglGenTextures(GLsizei n, GLuint *tex);
void twglDeleteTextures(GLsizei n, const GLuint *tex);
void twglTexImage2D(GLenum target, GLint level, GLint internal, GLsizei w, GLsizei h,
                    GLenum format, GLenum type, const void *pixels);
void twglTexSubImage2D(GLenum target, GLint level, GLint x, GLint y, GLsizei w, GLsizei h,
                       GLenum format, GLenum type, const void *pixels);
void twglTexParameteri(GLenum target, GLenum name, GLint value);
void twglPixelStorei(GLenum name, GLint value);
void twglReadPixels(GLint x, GLint y, GLsizei w, GLsizei h, GLenum format, GLenum type,
                    void *pixels);
void twglGenFramebuffers(GLsizei n, GLuint *fb);
void twglDeleteFramebuffers(GLsizei n, const GLuint *fb);
void twglBindFramebuffer(GLenum target, GLuint fb);
void twglFramebufferTexture2D(GLenum target, GLenum attachment, GLenum textarget,
                              GLuint tex, GLint level);
GLenum twglCheckFramebufferStatus(GLenum target);
void twglGenerateMipmap(GLenum target);
void twglGetIntegerv(GLenum name, GLint *v);
void twglGenBuffers(GLsizei n, GLuint *b);
void twglDeleteBuffers(GLsizei n, const GLuint *b);
void twglBindBuffer(GLenum target, GLuint b);
void twglBufferData(GLenum target, GLsizeiptr size, const void *data, GLenum usage);
void twglBufferSubData(GLenum target, GLintptr offset, GLsizeiptr size, const void *data);
void twglGenVertexArrays(GLsizei n, GLuint *a);
void twglDeleteVertexArrays(GLsizei n, const GLuint *a);
void twglBindVertexArray(GLuint a);
void twglEnableVertexAttribArray(GLuint index);
void twglDisableVertexAttribArray(GLuint index);
void twglVertexAttribPointer(GLuint index, GLint size, GLenum type, GLboolean normalized,
                             GLsizei stride, const void *offset);
void twglClear(GLbitfield mask);
void twglClearColor(float r, float g, float b, float a);
void twglViewport(GLint x, GLint y, GLsizei w, GLsizei h);
void twglFlush();
void twglFinish();
GLenum twglGetError();

// Uniform setters (act on the current program).
void twglSetBones(int n, const float *centres, const float *translations,
                  const float *rotations);
void twglSetFogColor(const float rgb[3]);
void twglSetFogDensity(float d);
void twglSetAmbient(const float rgba[4]);
void twglSetDiffuse(const float rgb[3]);
void twglSetShininess(float s);
void twglSetSpecularColor(const float rgb[3]);
void twglSetLightPosition(const float xyz[3]);
void twglSetSpacing(float s);
void twglSetTexTransform(const float offset[2], float scale);
void twglSetHeightsDimInv(float v);
void twglSetEnvMatrix(const float m[9]);
// The normal and specular maps bound on units 1 and 2 hold these values in
// every texel: the model programs take them as they are instead of
// sampling. nullptr: sample the map.
void twglSetMapValues(const float normal[4], const float specular[4]);

// The context as found at start-up.
extern int twgl_gles;        // 1 on OpenGL ES
extern int twgl_gl_major, twgl_gl_minor;
// 1 on Mesa's software renderer, which takes a texture's level from the
// exact lengths of the coordinates' derivatives.
extern int twgl_software;
// 1 x 1 white and flat-normal textures.
extern GLuint twgl_white_texture, twgl_normal_texture;

// ------------------------------------------------------------------ images
// An image chain: level 0 (w x h, rows top first) followed by every smaller
// level down to 1 x 1, b bytes per pixel. Buffers are mem_alloc'ed.
int64_t chain_bytes(int w, int h, int b);

void mip_build(uint8_t *chain, int w, int h, int b, int max_alpha);
// Resamples to powers of two and drops levels past max_pixels (or `drop`
// levels), replacing *chain, *w, *h in place. 1, or 0 when out of memory.
int image_fit(uint8_t **chain, int *w, int *h, int b, int max_pixels, int drop);

// Readers. The chain and text are mem_alloc'ed (free with mem_free).
uint8_t *image_read_png(const char *name, int *w, int *h, int *b, char **text);
uint8_t *image_read_ppm(DataFile *f, const char *magic, int *w, int *h);
uint8_t *image_read_delta(DataFile *f, int b, int *w, int *h);
uint8_t *image_read_pgm(DataFile *f, int *w, int *h);
uint8_t *image_read_rgba(const char *name, int *w, int *h);

// ------------------------------------------------------------ texture cache
extern int texture_generation;
extern int64_t texture_bytes;

enum { TEX_REPEAT_S = 1, TEX_REPEAT_T = 2, TEX_COMPRESS = 4 };

// What a cached texture's levels hold, worked out when they were uploaded.
struct TextureFacts {
  int known;       // 0 for animated, painted and compressed textures
  int uniform;     // every texel of every level reads as `value`
  float value[4];  // as the shaders read it (bytes / 255)
  int opaque;      // every texel's alpha is 255
  int width, height;  // of level 0
  // cover[k]: texture coordinates (s0, t0, s1, t1) outside which a bilinear
  // sample of any level up to k reads alpha 0 (s0 > s1: nowhere); from
  // `levels` on, nothing is known.
  int levels;
  float cover[16][4];
};
// nullptr when unknown or not from the cache (the 1 x 1 defaults count).
const TextureFacts *texture_facts(GLuint tid);

GLuint texture_load(const char *name);
GLuint texture_find(const char *name);
const char *texture_name(GLuint tid);
const char *texture_text(GLuint tid);
void texture_purge(int all);
// A picture stretched over a screen-plane rectangle, (x0, y0) its top left.
void screen_picture(GLuint texture, float x0, float y0, float x1, float y1);
GLuint texture_upload(const uint8_t *chain, int w, int h, int b, int flags);
GLuint texture_create(const uint8_t *chain, int w, int h, int b, int reduction, int flags,
                      const char *name);

void anim_update(int now_tic);
void anim_restart(GLuint tid, int now_tic);
void anim_stop(GLuint tid);
int custom_frame_begin(GLuint tid);
int custom_frame_paste(GLuint tid, int frame, float sx, float sy, float dx, float dy,
                       float fw, float fh);
int custom_frame_end(GLuint tid);

// A number plate: text painted on `background`, ink in `foreground` (RGB
// 0..255). Not cached: the caller deletes it.
GLuint number_texture(const char *text, int w, int h, const uint8_t background[3],
                      const uint8_t foreground[3]);

// ------------------------------------------------------------------ fonts
struct Font {
  GLuint texture;
  uint8_t *pixels;
  int width, height;
  float glyphs[256][4];
  float advances[256];
};
extern Font font_main, font_numbers, font_numbers_condensed;

// Builds a font from an RGBA picture (level 0 of `pixels`, which the font
// takes over) and its character list; 0 when no marker grid is found.
int font_from_pixels(Font *font, uint8_t *pixels, int w, int h, const char *chars);
void fonts_load();
void fonts_free();

void text_draw(float r, float g, float b, float a, const char *text);
void text_draw_shadowed(float r, float g, float b, float a, const char *text);
void text_draw_plain(const char *text);  // white, no shadow
void text_draw_grey(const char *text);   // grey with a black shadow
void text_draw_centred(float r, float g, float b, float a, float x0, float x1,
                       const char *text);
void text_draw_centred_shadowed(float r, float g, float b, float a, float x0, float x1,
                                const char *text);
void text_draw_right(float r, float g, float b, float a, float x, const char *text);
float text_width(const char *text);
void text_mode_begin(int lines);
void text_mode_end();
void number_draw(uint8_t *pixels, int w, int h, float r, float g, float b, float a,
                 const char *text);

// ------------------------------------------------------------------ screens
// Half extents of the view at distance 1, kept by whoever set the projection.
extern float proj_half_x, proj_half_y;
// Viewport and a projection for screens drawn without a world (half extents
// as a 4:3 picture with a 90 degree field of view would give).
void screen_projection(int width, int height);
// The title picture, the version text and the optional message; the menus
// draw over it.
void title_screen_draw(const char *message);
// The spinner screen of long loading loops; counter counts refresh calls.
void loading_refresh_draw(int counter);
void draw_title_screen(int width, int height);
// spinner < 0: the title screen with the text (a loading step);
// spinner >= 0: the spinner screen with that counter.
void draw_loading_screen(int width, int height, const char *text, int spinner);
