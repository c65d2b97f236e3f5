// The screens drawn while no world is: the title picture with the version
// text (the menus draw over it) and the spinner of long loading loops.
#include <cmath>

#include "gfx/gfx.h"
#include "core/log.h"

float proj_half_x = 1, proj_half_y = 0.75f;

static const char VERSION_TEXT[] = "2022-11-03-1628 snapshot";
static GLuint title_texture = 0;
// A missing picture is asked for once, not in every frame (each failed
// request is a file search and, with --debug, a message).
static bool title_requested = false;
// When the spinner was first drawn: it fades in from then.
static double spinner_first = -1;

void screen_projection(int width, int height) {
  if (width < 1) width = 1;
  if (height < 1) height = 1;
  twglViewport(0, 0, width, height);
  // The half extents a 90 degree view of a 4:3 picture would give.
  const float f = 1;
  float x, y;
  if (float(width) / float(height) > 4.0f / 3) {
    y = 0.75f * f;
    x = y * float(width) / float(height);
  } else {
    x = f;
    y = x * float(height) / float(width);
  }
  proj_half_x = x, proj_half_y = y;
  const float n = 0.5f, fa = 16;
  twglMatrixMode(GL_PROJECTION);
  twglLoadIdentity();
  twglFrustum(-x * n, x * n, -y * n, y * n, n, fa);
  twglMatrixMode(GL_MODELVIEW);
  twglLoadIdentity();
}

static void screen_rect(float x0, float y0, float x1, float y1) {
  twglVertexScreen(x0, y0);
  twglVertexScreen(x0, y1);
  twglVertexScreen(x1, y1);
  twglVertexScreen(x1, y0);
}

void title_screen_draw(const char *message) {
  float X = proj_half_x, Y = proj_half_y;
  twglUseProgram(PROGRAM_UNLIT);
  twglMatrixMode(GL_MODELVIEW);
  twglLoadIdentity();
  twglDisable(GL_DEPTH_TEST);
  twglDisable(GL_BLEND);
  twglBindTexture(GL_TEXTURE_2D, twgl_white_texture);
  twglBegin(GL_QUADS);
  twglColor(0, 0, 0, 1);
  screen_rect(-X, Y, X, -Y);
  twglEnd();
  if (!title_requested) {
    title_texture = texture_load("!@title.png");
    title_requested = true;
  }
  if (title_texture) {
    // A 2:1 picture covering the screen, cropped.
    float x0 = -2 * Y, y0 = Y, x1 = 2 * Y, y1 = -Y;
    if (X > 2 * Y) x0 = -X, y0 = X / 2, x1 = X, y1 = -X / 2;
    screen_picture(title_texture, x0, y0, x1, y1);
  }
  if (message && *message) {
    text_mode_begin(25);
    text_draw_plain(message);
    text_mode_end();
  }
  twglPushMatrix();
  twglTranslate(X, -Y, -1);
  twglScale(Y / 16, Y / 16, Y / 16);
  text_draw_right(0.75f, 0.75f, 0.75f, 1, 0, VERSION_TEXT);
  twglPopMatrix();
}

void loading_refresh_draw(int counter) {
  double t = double(clock_ms()) / 1000;
  if (spinner_first < 0) spinner_first = t;
  double t_first = spinner_first;
  float X = proj_half_x, Y = proj_half_y;
  twglUseProgram(PROGRAM_UNLIT);
  twglMatrixMode(GL_MODELVIEW);
  twglLoadIdentity();
  twglDisable(GL_DEPTH_TEST);
  twglEnable(GL_BLEND);
  twglBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
  twglBindTexture(GL_TEXTURE_2D, twgl_white_texture);
  twglBegin(GL_QUADS);
  twglColor(0.25f, 0.25f, 0.25f, 1);
  screen_rect(-X, Y, X, -Y);
  twglEnd();
  twglBegin(GL_TRIANGLE_FAN);
  twglColor(0.5f, 0.5f, 0.5f, 1);
  twglVertexScreen(0, 0);
  twglColor(0.25f, 0.25f, 0.25f, 1);
  for (int k = 0; k <= 16; k++) {
    double an = k * M_PI / 8;
    twglVertexScreen(float(2 * Y * sin(an)), float(2 * Y * cos(an)));
  }
  twglEnd();
  float a = float((t - t_first - 0.25) * 4);
  a = a < 0 ? 0 : a > 1 ? 1 : a;
  double half = t / 2 - floor(t / 2);
  int w = int(floor(64 * half));
  twglBegin(GL_QUADS);
  for (int j = 0; j < 32; j++) {
    bool big = ((w + j) & 32) != 0;
    float u = big ? 3.0f / 128 : 9.0f / 512, v = big ? 9.0f / 512 : 27.0f / 2048;
    float cx = Y - Y * float(j) / 16;
    twglColor(0, 0, 0, 0.1f * a);
    screen_rect(cx - u * Y, u * Y, cx + u * Y, -u * Y);
    float g = (counter >> j) & 1 ? 0.875f : 0.75f;
    twglColor(g, g, g, a);
    screen_rect(cx - v * Y, v * Y, cx + v * Y, -v * Y);
  }
  twglEnd();
  twglDisable(GL_BLEND);
}

void draw_title_screen(int width, int height) {
  screen_projection(width, height);
  title_screen_draw(nullptr);
  twgl_flush();
}

void draw_loading_screen(int width, int height, const char *text, int spinner) {
  screen_projection(width, height);
  if (spinner < 0) title_screen_draw(text);
  else loading_refresh_draw(spinner);
  twgl_flush();
}

void screens_forget_textures() {
  title_texture = 0;
  title_requested = false;
  spinner_first = -1;
}

void screen_picture(GLuint texture, float x0, float y0, float x1, float y1) {
  twglBindTexture(GL_TEXTURE_2D, texture);
  twglBegin(GL_QUADS);
  twglColor(1, 1, 1, 1);
  twglTexCoord(0, 0);
  twglVertexScreen(x0, y0);
  twglTexCoord(0, 1);
  twglVertexScreen(x0, y1);
  twglTexCoord(1, 1);
  twglVertexScreen(x1, y1);
  twglTexCoord(1, 0);
  twglVertexScreen(x1, y0);
  twglEnd();
}
