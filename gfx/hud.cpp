#include "gfx/hud.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "bike/physics.h"
#include "bike/rider.h"
#include "gfx/frame.h"
#include "gfx/gfx.h"
#include "race/race.h"
#include "race/timing.h"

int render_stats_max[6];

static void rect(float x0, float y0, float x1, float y1) {
  twglVertexScreen(x0, y0);
  twglVertexScreen(x0, y1);
  twglVertexScreen(x1, y1);
  twglVertexScreen(x1, y0);
}

static void solid(float x0, float y0, float x1, float y1, float r, float g, float b, float a) {
  twglBindTexture(GL_TEXTURE_2D, twgl_white_texture);
  twglBegin(GL_QUADS);
  twglColor(r, g, b, a);
  rect(x0, y0, x1, y1);
  twglEnd();
}

static void picture(const char *name, float x0, float y0, float x1, float y1) {
  GLuint t = texture_load(name);
  if (!t) return;
  screen_picture(t, x0, y0, x1, y1);
}

// Text at a screen point (its top left), `h` high.
static void text_at(float x, float y, float h, float r, float g, float b, const char *s, bool shadow = true) {
  twglPushMatrix();
  twglTranslate(x, y - h, -1);
  twglScale(h, h, h);
  if (shadow) text_draw_shadowed(r, g, b, 1, s);
  else text_draw(r, g, b, 1, s);
  twglPopMatrix();
}

static void begin_overlay() {
  twglUseProgram(PROGRAM_UNLIT);
  twglMatrixMode(GL_MODELVIEW);
  twglLoadIdentity();
  twglDisable(GL_DEPTH_TEST);
  twglDisable(GL_CULL_FACE);
  twglEnable(GL_BLEND);
  twglBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
}

// ---------------------------------------------------------------- results
static void draw_results(int followed) {
  static ResultsOverlay o;
  results_overlay(followed, &o);
  if (!o.shown) return;
  float X = proj_half_x, Y = proj_half_y;
  float h = Y / 18, w = 1.5f * Y;
  float x0 = -w / 2, top = Y * 0.8f;
  int lines = 2 + o.row_count + (o.final_results ? 1 + o.penalty_count : 0);
  float bottom = top - h * (lines + 0.5f);
  if (x0 < -X) x0 = -X;
  solid(x0 - h / 2, top + h / 2, x0 + w + h / 2, bottom, 0, 0, 0, 0.6f);
  text_at(x0, top, h, 1, 1, 1, o.title);
  const float cols[6] = {0, 0.1f, 0.22f, 0.36f, 0.58f, 0.84f};
  float y = top - h;
  for (int c = 0; c < 6; c++) text_at(x0 + cols[c] * w, y, h, 1, 0.85f, 0.3f, OVERLAY_HEADS[c]);
  for (int k = 0; k < o.row_count; k++) {
    y -= h;
    const OverlayRow &r = o.rows[k];
    if (k & 1) solid(x0 - h / 4, y, x0 + w + h / 4, y - h, 1, 1, 1, 0.12f);
    float cr = r.followed ? 1 : 1, cg = r.followed ? 0.9f : 1, cb = r.followed ? 0.2f : 1;
    const char *cells[6] = {r.pos, r.number, r.lap, r.gap, r.best, r.blap};
    for (int c = 0; c < 6; c++) text_at(x0 + cols[c] * w, y, h, cr, cg, cb, cells[c]);
  }
  if (!o.final_results) return;
  y -= h;
  text_at(x0, y, h, 1, 1, 1, o.total);
  for (int k = 0; k < o.penalty_count; k++) {
    y -= h;
    text_at(x0, y, h, 1, 0.2f, 0.15f, o.penalties[k]);
  }
}

// ------------------------------------------------------- rider's displays
static void draw_gauges(int slot, int lean_indicator) {
  Rider *r = rider_in_slot(slot);
  if (!r) return;
  RiderPose p;
  rider_get_pose(r, &p);
  float X = proj_half_x, Y = proj_half_y;
  // The tach in the bottom right corner, its needle over 0..14000 rpm.
  float s = Y * 0.55f, cx = X - s / 2 - Y * 0.03f, cy = -Y + s / 2 + Y * 0.03f;
  picture("!@tach.png", cx - s / 2, cy + s / 2, cx + s / 2, cy - s / 2);
  double rpm = p.rpm < 0 ? 0 : p.rpm > 14000 ? 14000 : p.rpm;
  double a = (225 - rpm / 14000 * 270) * M_PI / 180;
  float ux = float(cos(a)), uy = float(sin(a)), len = s * 0.42f, wd = s * 0.012f;
  twglBindTexture(GL_TEXTURE_2D, twgl_white_texture);
  twglBegin(GL_QUADS);
  twglColor(1, 0.25f, 0.1f, 1);
  twglVertexScreen(cx - uy * wd, cy + ux * wd);
  twglVertexScreen(cx + ux * len - uy * wd * 0.3f, cy + uy * len + ux * wd * 0.3f);
  twglVertexScreen(cx + ux * len + uy * wd * 0.3f, cy + uy * len - ux * wd * 0.3f);
  twglVertexScreen(cx + uy * wd, cy - ux * wd);
  twglEnd();
  // The shifter left of it, the gear's row lit.
  float sw = s * 0.3f, sh = s * 0.6f, sx1 = cx - s / 2 - Y * 0.02f, sx0 = sx1 - sw, sy0 = -Y + Y * 0.03f + sh;
  picture("!@shifter.png", sx0, sy0, sx1, sy0 - sh);
  // Rows 6..1 from the top; gear index 0 is first gear.
  int g = p.gear < 0 ? 0 : p.gear > 5 ? 5 : p.gear;
  float v0 = (20 + (5 - g) * 39) / 256.0f, v1 = v0 + 36 / 256.0f;
  solid(sx0 + sw * 0.08f, sy0 - sh * v0, sx1 - sw * 0.08f, sy0 - sh * v1, 1, 0.8f, 0.1f, 0.35f);
  // The lean indicator: a bar under the view's centre, forward to the left.
  if (lean_indicator) {
    float lean = rider_current_command(r).lean, bw = Y * 0.3f, by = -Y * 0.9f, bh = Y * 0.02f;
    solid(-bw, by, bw, by - bh, 0, 0, 0, 0.4f);
    float m = lean * bw;
    solid(m - bh, by + bh / 2, m + bh, by - bh * 1.5f, 1, 1, 1, 0.9f);
  }
}

static void draw_pitboard(int slot) {
  TimingDisplay t;
  timing_display(slot, &t);
  float X = proj_half_x, Y = proj_half_y;
  float w = Y * 0.7f, h = w / 2, x0 = X - w - Y * 0.03f, y0 = Y - Y * 0.03f;
  picture("!@pitboard.png", x0, y0, x0 + w, y0 - h);
  float th = h / 4.6f, tx = x0 + h * 0.12f;
  char line[64];
  snprintf(line, sizeof line, "%s  %s", t.number, t.place);
  text_at(tx, y0 - h * 0.08f, th, 1, 1, 1, line, false);
  text_at(tx, y0 - h * 0.08f - th * 1.05f, th, 1, 0.9f, 0.3f, t.gap, false);
  text_at(tx, y0 - h * 0.55f, th * 0.8f, 1, 1, 1, t.last, false);
  text_at(tx, y0 - h * 0.55f - th * 0.85f, th * 0.8f, 1, 1, 1, t.best, false);
  if (t.lapping[0]) text_at(x0, y0 - h - Y * 0.02f, th * 0.8f, 1, 0.4f, 0.3f, t.lapping);
}

static void draw_info(const HudInput &in) {
  InfoValues v{};
  v.fps = in.fps;
  v.connected = in.connected;
  v.ping_ms = in.ping_ms;
  v.offset_ms = in.offset_ms;
  if (Rider *r = rider_in_slot(in.followed)) {
    RiderPose p;
    rider_get_pose(r, &p);
    const double *vel = p.body[FRAME].velocity;
    v.speed = sqrt(vel[0] * vel[0] + vel[1] * vel[1] + vel[2] * vel[2]);
    v.dabbing = r->dab_assist > 0;
  }
  const int now[6] = {render_stats.ground_polygons, render_stats.model_polygons, render_stats.billboards,
                      render_stats.decals, render_stats.texture_changes, render_stats.program_switches};
  for (int i = 0; i < 6; i++) {
    if (now[i] > render_stats_max[i]) render_stats_max[i] = now[i];
    v.stats[i] = now[i];
    v.stats_max[i] = render_stats_max[i];
  }
  char text[1024];
  if (info_lines(in.info, v, text, sizeof text) <= 0) return;
  text_mode_begin(40);
  twglTranslate(0.3f, in.trackside ? -3.5f : -0.3f, 0);
  text_draw_shadowed(1, 1, 1, 1, text);
  text_mode_end();
}

// ------------------------------------------------------------- trackside
static void draw_lap_box() {
  char text[32];
  int box;
  if (!lap_counter(text, sizeof text, &box)) return;
  float X = proj_half_x, Y = proj_half_y, h = Y / 14, x0 = -X + Y * 0.04f, y0 = Y - Y * 0.04f;
  float w = h * 4;
  if (box == 2) {
    for (int i = 0; i < 8; i++)
      for (int j = 0; j < 2; j++) {
        float c = (i + j) & 1 ? 0 : 1;
        solid(x0 + w * i / 8, y0 - h * 1.4f * j / 2, x0 + w * (i + 1) / 8, y0 - h * 1.4f * (j + 1) / 2, c, c, c, 1);
      }
    return;
  }
  if (box == 1) solid(x0, y0, x0 + w, y0 - h * 1.4f, 1, 1, 1, 1);
  else solid(x0, y0, x0 + w, y0 - h * 1.4f, 0.1f, 0.6f, 0.2f, 1);
  float ink = box == 1 ? 0 : 1;
  text_at(x0 + h * 0.3f, y0 - h * 0.2f, h, ink, ink, ink, text, false);
}

static void draw_running_order(int followed) {
  float X = proj_half_x, Y = proj_half_y, h = Y / 22, x0 = -X + Y * 0.04f, y = Y - Y * 0.04f - Y / 14 * 1.6f;
  int n = running_count < 20 ? running_count : 20;
  if (n > 0) solid(x0, y, x0 + h * 4.2f, y - h * (n + 0.3f), 0, 0, 0, 0.5f);
  for (int k = 0; k < n; k++) {
    int s = running_order[k];
    char line[24];
    snprintf(line, sizeof line, "%2d %s", k + 1, display_number(s));
    bool f = s == followed;
    text_at(x0 + h * 0.2f, y - h * k - h * 0.15f, h, 1, f ? 0.85f : 1, f ? 0.2f : 1, line);
  }
}

void hud_draw_rider_name(int slot) {
  if (!rider_in_slot(slot)) return;
  begin_overlay();
  char name[96];
  const char *who = rider_personality(slot);
  snprintf(name, sizeof name, "%s %s", display_number(slot), who);
  float Y = proj_half_y, h = Y / 12;
  twglPushMatrix();
  twglTranslate(0, Y * 0.75f - h, -1);
  twglScale(h, h, h);
  text_draw_centred_shadowed(1, 1, 1, 1, -100, 100, name);
  twglPopMatrix();
  twgl_flush();
}

void hud_draw(const HudInput &in) {
  begin_overlay();
  if (in.trackside) {
    draw_lap_box();
    if (in.track_camera) draw_running_order(in.followed);
  } else if (rider_in_slot(in.followed)) {
    draw_gauges(in.followed, in.lean_indicator);
    if (timing.enabled) draw_pitboard(in.followed);
  }
  draw_info(in);
  draw_results(in.followed);
  twglDisable(GL_BLEND);
  twglEnable(GL_CULL_FACE);
  twgl_flush();
}

void render_stats_reset() { memset(render_stats_max, 0, sizeof render_stats_max); }
