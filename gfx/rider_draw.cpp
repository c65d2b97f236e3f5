// Rider and bike drawing: graphics made at creation, the posed figure
// (worked out in local copies: the bodies are never written), the lit
// passes of every part and the chrome pass.
#include "gfx/rider_draw.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "bike/rider.h"
#include "core/camera.h"
#include "core/core.h"
#include "core/log.h"
#include "gfx/gfx.h"
#include "gfx/lighting.h"
#include "gfx/model.h"

RiderGraphics rider_graphics[RIDER_SLOTS];

namespace {

void sub(const float *a, const float *b, float *o) { o[0] = a[0] - b[0], o[1] = a[1] - b[1], o[2] = a[2] - b[2]; }
void add(const float *a, const float *b, float *o) { o[0] = a[0] + b[0], o[1] = a[1] + b[1], o[2] = a[2] + b[2]; }
float dot(const float *a, const float *b) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; }
void cross(const float *a, const float *b, float *o) {
  float t[3] = {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
  o[0] = t[0], o[1] = t[1], o[2] = t[2];
}
float length(const float *a) { return std::sqrt(dot(a, a)); }
// Normalises v; a zero or non-finite vector becomes the fallback.
void normalize(const float *v, float *o, const float *fallback) {
  float l = length(v);
  if (l > 1e-12f && std::isfinite(l)) {
    o[0] = v[0] / l, o[1] = v[1] / l, o[2] = v[2] / l;
  } else {
    o[0] = fallback[0], o[1] = fallback[1], o[2] = fallback[2];
  }
}
void copy(const float *a, float *o) { o[0] = a[0], o[1] = a[1], o[2] = a[2]; }
void set_columns(float *m, const float *c0, const float *c1, const float *c2) {
  copy(c0, m), copy(c1, m + 3), copy(c2, m + 6);
}
// Some unit vector at right angles to the unit vector a.
void perpendicular(const float *a, float *o) {
  float axis[3] = {0, 0, 0};
  int k = std::fabs(a[0]) < std::fabs(a[1]) ? (std::fabs(a[0]) < std::fabs(a[2]) ? 0 : 2)
                                            : (std::fabs(a[1]) < std::fabs(a[2]) ? 1 : 2);
  axis[k] = 1;
  float t[3];
  cross(a, axis, t);
  static const float x[3] = {1, 0, 0};
  normalize(t, o, x);
}

const float X_AXIS[3] = {1, 0, 0}, Y_AXIS[3] = {0, 1, 0}, Z_AXIS[3] = {0, 0, 1};

// A body point in the world for a pose (row-major rotation).
void world_point(const float *pos, const float *rot, const float *local, float *o) {
  for (int i = 0; i < 3; i++) o[i] = pos[i] + rot[3 * i] * local[0] + rot[3 * i + 1] * local[1] + rot[3 * i + 2] * local[2];
}
void world_vector(const float *rot, const float *local, float *o) {
  for (int i = 0; i < 3; i++) o[i] = rot[3 * i] * local[0] + rot[3 * i + 1] * local[1] + rot[3 * i + 2] * local[2];
}
void column(const float *rot, int c, float *o) { o[0] = rot[c], o[1] = rot[3 + c], o[2] = rot[6 + c]; }

void read_body(dBodyID b, float *pos, float *rot) {
  const dReal *p = dBodyGetPosition(b), *r = dBodyGetRotation(b);
  for (int i = 0; i < 3; i++) {
    pos[i] = float(p[i]);
    for (int j = 0; j < 3; j++) rot[3 * i + j] = float(r[4 * i + j]);
  }
}

// The head's frame: looking against the way the rider goes, turned within
// limits from its rest direction.
void head_look(const float *rot, const float *velocity, float *frame) {
  float c1[3], c2[3], v[3];
  column(rot, 1, c1), column(rot, 2, c2);
  copy(velocity, v);
  for (float &x : v)
    if (!std::isfinite(x)) x = 0;
  float vc = dot(v, c2);
  if (vc >= 0)
    for (int i = 0; i < 3; i++) v[i] -= vc * c2[i];
  const float k3 = 0.5547002f;  // 1 / sqrt 3.25
  float q[3], n[3];
  for (int i = 0; i < 3; i++) q[i] = (1.5f * c1[i] + c2[i]) * k3, n[i] = (1.5f * c1[i] - c2[i]) * k3;
  float cv[3];
  sub(c2, v, cv);
  float k = length(cv), hx, hz;
  if (k >= 32) {
    hx = c2[0] - v[0], hz = c2[2] - v[2];
  } else {
    hx = c2[0] - v[0] * k / 32, hz = c2[2] - v[2] * k / 32;
  }
  float g = std::sqrt(hx * hx + hz * hz);
  float lift = g * (60 - g) * 0.35f / 60;
  float draw[3] = {hx, (lift > 0 ? lift : 0) + 0.25f * g, hz};
  float d[3];
  normalize(draw, d, q);
  float e3[3];
  sub(n, Y_AXIS, e3);
  float e = length(e3), u[3];
  if (e > 0.5f)
    for (int i = 0; i < 3; i++) u[i] = n[i] + (0.5f / e) * (Y_AXIS[i] - n[i]);
  else
    copy(Y_AXIS, u);
  float dn = dot(d, n), d1[3];
  for (int i = 0; i < 3; i++) d1[i] = d[i] + 2 * dn * n[i];
  float off[3];
  sub(d1, q, off);
  float lo = length(off);
  if (lo > 0.75f)
    for (int i = 0; i < 3; i++) d1[i] = q[i] + off[i] * 0.75f / lo;
  float d1n = dot(d1, n), d2[3];
  for (int i = 0; i < 3; i++) d2[i] = d1[i] - (2.0f / 3) * d1n * n[i];
  float z[3], x[3], y[3], t[3], body_x[3];
  normalize(d2, z, q);
  column(rot, 0, body_x);
  cross(u, z, t);
  normalize(t, x, body_x);  // looking straight along the reference up: the body's side
  cross(z, x, t);
  normalize(t, y, Y_AXIS);
  set_columns(frame, x, y, z);
}

void mult_pose(const float *pos, const float *rot) {
  float m[16] = {rot[0], rot[3], rot[6], 0, rot[1], rot[4], rot[7], 0,
                 rot[2], rot[5], rot[8], 0, pos[0], pos[1], pos[2], 1};
  twglMultMatrix(m);
}

}  // namespace

// ------------------------------------------------------------------ limbs
void two_bone_ik(const float A[3], const float B[3], float l1, float l2, const float H[3], float J[3]) {
  float ab[3], a[3];
  sub(B, A, ab);
  float d = length(ab);
  static const float down[3] = {0, -1, 0};
  normalize(ab, a, down);  // a target at the root: reach straight down
  float r = 0.95f * (l1 + l2);
  float lo = std::fabs(l1 - l2) + 1e-6f;
  if (!(d < r)) d = r;
  if (!(d > lo)) d = lo < r ? lo : r;
  float h = (l1 * l1 - l2 * l2 + d * d) / (2 * d);
  float p2 = l1 * l1 - h * h;
  float p = p2 > 0 ? std::sqrt(p2) : 0;
  float ha[3];
  sub(H, A, ha);
  float along = dot(ha, a);
  float side[3] = {ha[0] - along * a[0], ha[1] - along * a[1], ha[2] - along * a[2]};
  float s[3], fallback[3];
  perpendicular(a, fallback);
  normalize(side, s, fallback);
  for (int i = 0; i < 3; i++) J[i] = A[i] + a[i] * h + s[i] * p;
}

void bone_frame(const float P[3], const float Q[3], const float R[3], float out[9]) {
  float pq[3], c0[3], c1[3], c2[3], t[3], fallback[3];
  sub(P, Q, pq);
  normalize(pq, c1, Y_AXIS);
  cross(R, c1, t);
  // A reference along the limb (or none): any direction across it.
  cross(X_AXIS, c1, fallback);
  if (dot(fallback, fallback) < 1e-6f) cross(Z_AXIS, c1, fallback);
  normalize(fallback, fallback, Z_AXIS);
  normalize(t, c2, fallback);
  cross(c1, c2, c0);
  set_columns(out, c0, c1, c2);
}

// ----------------------------------------------------------------- figure
void rider_figure(Rider *r, RiderFigure *f) {
  const BikeModel *m = rider_model(r);
  for (int b = 0; b < BODY_PART_COUNT; b++) read_body(r->body[b], f->position[b], f->rotation[b]);
  float *bp = f->position[RIDER_BODY], *br = f->rotation[RIDER_BODY];
  const float *up = f->position[FORK_UPPER], *ur = f->rotation[FORK_UPPER];

  // Lean back when cramped: on the copy only, about the left hip.
  const float shoulder_mid[3] = {0, (m->shoulder_points[0][1] + m->shoulder_points[1][1]) / 2,
                                 (m->shoulder_points[0][2] + m->shoulder_points[1][2]) / 2};
  const float hip_mid[3] = {0, (m->hip_points[0][1] + m->hip_points[1][1]) / 2, (m->hip_points[0][2] + m->hip_points[1][2]) / 2};
  const float grip_mid[3] = {0, (m->grip_points[0][1] + m->grip_points[1][1]) / 2,
                             (m->grip_points[0][2] + m->grip_points[1][2]) / 2};
  float S[3], G[3], SG[3];
  world_point(bp, br, shoulder_mid, S);
  world_point(up, ur, grip_mid, G);
  sub(S, G, SG);
  float a = 1.25f - length(SG);
  a = a < 0 ? 0 : a > 1 ? 1 : a;
  if (a > 0) {
    float c0[3], c1[3], c2[3], u[3], t[3], z[3], y[3];
    column(br, 0, c0), column(br, 1, c1), column(br, 2, c2);
    for (int i = 0; i < 3; i++) t[i] = c1[i] + 0.375f * a * c2[i];
    normalize(t, u, c1);
    cross(c0, u, z);
    cross(z, c0, y);
    float hip_before[3], hip_after[3], leaned[9];
    world_point(bp, br, m->hip_points[0], hip_before);
    for (int i = 0; i < 3; i++) leaned[3 * i] = c0[i], leaned[3 * i + 1] = y[i], leaned[3 * i + 2] = z[i];
    memcpy(br, leaned, sizeof leaned);
    world_point(bp, br, m->hip_points[0], hip_after);
    for (int i = 0; i < 3; i++) bp[i] += hip_before[i] - hip_after[i];
  }

  for (int s = 0; s < 2; s++) {
    world_point(bp, br, m->shoulder_points[s], f->shoulder[s]);
    world_point(bp, br, m->hip_points[s], f->hip[s]);
    world_point(up, ur, m->grip_points[s], f->grip[s]);
  }
  float target[2][3], weight[2];
  rider_foot_pose(r, target, weight);
  for (int s = 0; s < 2; s++) copy(target[s], f->foot[s]);

  float spine_local[3], spine[3];
  sub(shoulder_mid, hip_mid, spine_local);
  world_vector(br, spine_local, spine);

  // Elbows, bent towards hints below and ahead of the shoulders.
  float rise[2] = {std::fmax(0.0f, f->shoulder[1][1] - f->shoulder[0][1]),
                   std::fmax(0.0f, f->shoulder[0][1] - f->shoulder[1][1])};
  for (int s = 0; s < 2; s++) {
    float out = s ? 0.5f : -0.5f;
    float drop = s ? 0.9f + 1.5f * rise[1] + 0.125f * r->throttle : 1 + 1.5f * rise[0];
    const float *sp = m->shoulder_points[s];
    float local[3] = {sp[0] + out, sp[1] - drop, sp[2] + 2}, hint[3], bar[3];
    world_point(bp, br, local, hint);
    sub(f->grip[s], f->grip[1 - s], bar);
    add(hint, bar, hint);
    two_bone_ik(f->shoulder[s], f->grip[s], m->upper_arm_length, m->forearm_length, hint, f->elbow[s]);
  }
  for (int s = 0; s < 2; s++) {
    const float *hp = m->hip_points[s];
    float local[3] = {hp[0] + (s ? 0.5f : -0.5f), hp[1], hp[2] - 2}, hint[3];
    world_point(bp, br, local, hint);
    two_bone_ik(f->hip[s], f->foot[s], m->thigh_length, m->shin_length, hint, f->knee[s]);
  }

  for (int b = 0; b < FIGURE_BONE_COUNT; b++) copy(m->bone_centres[b], f->centres + 3 * b);
  float *T = f->translations;
  copy(f->elbow[0], T + 0), copy(f->elbow[1], T + 3), copy(f->shoulder[0], T + 6), copy(f->shoulder[1], T + 9);
  copy(f->knee[0], T + 12), copy(f->knee[1], T + 15), copy(f->hip[0], T + 18), copy(f->hip[1], T + 21);
  world_point(bp, br, hip_mid, T + 24);

  float h[3], k[3];
  sub(f->grip[1], f->grip[0], h);
  sub(f->hip[1], f->hip[0], k);
  float *Rb = f->rotations;
  for (int s = 0; s < 2; s++) {
    float c0[3], c1[3], c2[3], t[3], fallback[3];
    // Forearm: rest x along the limb, outwards on the right.
    sub(s ? f->grip[s] : f->elbow[s], s ? f->elbow[s] : f->grip[s], t);
    normalize(t, c0, X_AXIS);
    if (s)
      cross(h, c0, t);
    else
      cross(c0, h, t);
    perpendicular(c0, fallback);
    normalize(t, c1, fallback);
    cross(c0, c1, c2);
    set_columns(Rb + 9 * (BONE_LEFT_ELBOW + s), c0, c1, c2);
    // Upper arm.
    sub(s ? f->elbow[s] : f->shoulder[s], s ? f->shoulder[s] : f->elbow[s], t);
    normalize(t, c0, X_AXIS);
    cross(c0, spine, t);
    perpendicular(c0, fallback);
    normalize(t, c2, fallback);
    cross(c2, c0, c1);
    set_columns(Rb + 9 * (BONE_LEFT_SHOULDER + s), c0, c1, c2);
    // Thigh and shin.
    bone_frame(f->hip[s], f->knee[s], k, Rb + 9 * (BONE_LEFT_HIP + s));
    float hk[3], kf[3], n[3], ref[3];
    sub(f->hip[s], f->knee[s], hk);
    sub(f->foot[s], f->knee[s], kf);
    cross(hk, kf, n);
    if (dot(n, n) < 0.001f)
      copy(k, ref);
    else
      for (int i = 0; i < 3; i++) ref[i] = k[i] + weight[s] * (n[i] - k[i]);
    bone_frame(f->knee[s], f->foot[s], ref, Rb + 9 * (BONE_LEFT_KNEE + s));
  }
  float c0[3], c1[3], c2[3], sh[3], hc[3], t[3];
  column(br, 0, c0);
  world_point(bp, br, shoulder_mid, sh);
  world_point(bp, br, hip_mid, hc);
  sub(sh, hc, t);
  float body_y[3];
  column(br, 1, body_y);
  normalize(t, c1, body_y);
  cross(c0, c1, c2);
  set_columns(Rb + 9 * BONE_PELVIS, c0, c1, c2);

  world_point(bp, br, m->head_point, f->head_point);
  const dReal *lv = dBodyGetLinearVel(r->body[RIDER_BODY]);
  float v[3] = {float(lv[0]), float(lv[1]), float(lv[2])};
  head_look(br, v, f->head_frame);
}

// --------------------------------------------------------------- graphics
static int texture_loads(const char *name) { return texture_load(name) != 0; }

// A gzip-compressed file serves for its plain name.
static int data_exists(const char *name) {
  if (file_index_exists(name)) return 1;
  char packed[1100];
  int n = snprintf(packed, sizeof packed, "%s.gz", name);
  return n > 0 && n < int(sizeof packed) && file_index_exists(packed);
}

void rider_graphics_make(Rider *r, const char *const textures[GFX_GROUP_COUNT]) {
  if (!r || r->slot < 0 || r->slot >= RIDER_SLOTS) return;
  rider_graphics_release(r);
  RiderGraphics &g = rider_graphics[r->slot];
  const BikeModel *m = rider_model(r);
  if (!m) return;
  static GraphicsPlan plan;
  plan_rider_graphics(m, textures, texture_loads, data_exists, &plan);
  for (int k = 0; k < GFX_GROUP_COUNT; k++) {
    g.texture[k] = plan.texture[k][0] ? texture_load(plan.texture[k]) : 0;
    g.normal[k] = plan.normal[k][0] ? texture_load(plan.normal[k]) : 0;
    g.specular[k] = plan.specular[k][0] ? texture_load(plan.specular[k]) : 0;
  }
  for (int p = 0; p < PART_FILE_COUNT; p++) g.model[p] = plan.model[p][0] ? model_get(plan.model[p]) : nullptr;
  PlateColours c = parse_plate_colours(texture_text(g.texture[GFX_BIKE]));
  g.number_plate = number_texture(r->number, 128, 64, c.background, c.foreground);
  g.made = 1;
}

void rider_graphics_release(Rider *r) {
  if (!r || r->slot < 0 || r->slot >= RIDER_SLOTS) return;
  RiderGraphics &g = rider_graphics[r->slot];
  if (g.number_plate) twglDeleteTextures(1, &g.number_plate);
  memset(&g, 0, sizeof g);
}

void rider_graphics_install() {
  physics_hooks.graphics_create = rider_graphics_make;
  physics_hooks.graphics_free = rider_graphics_release;
}

// ---------------------------------------------------------------- drawing
namespace {

struct DrawState {
  const RiderGraphics *g;
  const RiderFigure *f;
  const float *camera;
  int env;  // the chrome pass
};

void bind_maps(GLuint colour, GLuint normal, GLuint specular, int env) {
  if (!env) {
    twglActiveTexture(GL_TEXTURE2);
    twglBindTexture(GL_TEXTURE_2D, specular ? specular : twgl_white_texture);
  }
  twglActiveTexture(GL_TEXTURE1);
  twglBindTexture(GL_TEXTURE_2D, normal ? normal : twgl_normal_texture);
  twglActiveTexture(GL_TEXTURE0);
  int opaque = model_map_values(colour, normal, specular);
  if (!env) {
    twglBindTexture(GL_TEXTURE_2D, colour);
    // Blending an opaque picture gives back what is drawn: skip the work.
    if (opaque) twglDisable(GL_BLEND);
    else twglEnable(GL_BLEND);
  }
}

void bind_group(const DrawState &s, int group) {
  const RiderGraphics &g = *s.g;
  bind_maps(g.texture[group], g.normal[group], g.specular[group], s.env);
}

void draw_model(const DrawState &s, const Model *m, const float *pos, const float *rot, int own_specular,
                int bones) {
  if (!m) return;
  if (s.env && !model_draws_env(m)) return;
  const RiderFigure &f = *s.f;
  const float *centres = bones ? f.centres : nullptr, *tr = bones ? f.translations : nullptr,
              *rr = bones ? f.rotations : nullptr;
  int n = bones ? FIGURE_BONE_COUNT : 0;
  if (!bones) {
    twglPushMatrix();
    mult_pose(pos, rot);
  }
  if (s.env)
    model_draw_env(m, s.camera, pos, rot, n, centres, tr, rr);
  else
    model_draw_lit(m, s.camera, pos, rot, n, centres, tr, rr, own_specular);
  if (!bones) twglPopMatrix();
}

void draw_part(const DrawState &s, int part, int body, int group) {
  draw_model(s, s.g->model[part], s.f->position[body], s.f->rotation[body], s.g->specular[group] != 0, 0);
}

// Steps 2 to 6 of both passes (the chrome pass skips more in first person).
void draw_all(const DrawState &s, int flag, int first_person) {
  const RiderGraphics &g = *s.g;
  const RiderFigure &f = *s.f;
  bind_group(s, GFX_BIKE);
  draw_part(s, PART_FRAME_MODEL, FRAME, GFX_BIKE);
  draw_part(s, PART_FORK_UPPER_MODEL, FORK_UPPER, GFX_BIKE);
  if (!(s.env && first_person)) draw_part(s, PART_FORK_LOWER_MODEL, FORK_LOWER, GFX_BIKE);
  if (!first_person) draw_part(s, PART_SWINGARM_MODEL, SWINGARM, GFX_BIKE);
  bind_group(s, GFX_WHEELS);
  if (!(s.env && first_person)) draw_part(s, PART_FRONT_WHEEL_MODEL, FRONT_WHEEL, GFX_WHEELS);
  if (!first_person) draw_part(s, PART_REAR_WHEEL_MODEL, REAR_WHEEL, GFX_WHEELS);
  if (flag != 1 && g.model[PART_RIDER_BODY_MODEL]) {
    const Model *body = g.model[PART_RIDER_BODY_MODEL];
    if (flag == 2 && g.model[PART_RIDER_BODY_FP_MODEL]) body = g.model[PART_RIDER_BODY_FP_MODEL];
    bind_group(s, GFX_RIDER);
    draw_model(s, body, f.position[RIDER_BODY], f.rotation[RIDER_BODY], g.specular[GFX_RIDER] != 0, 1);
  }
  if (flag == 0 && g.model[PART_HEAD_MODEL]) {
    bind_group(s, GFX_HEAD);
    float head_rot[9];  // row-major from the column-major frame
    for (int i = 0; i < 3; i++)
      for (int j = 0; j < 3; j++) head_rot[3 * i + j] = f.head_frame[3 * j + i];
    draw_model(s, g.model[PART_HEAD_MODEL], f.head_point, head_rot, g.specular[GFX_HEAD] != 0, 0);
  }
  bind_maps(g.number_plate, 0, 0, s.env);
  draw_model(s, g.model[PART_FRONT_PLATE_MODEL], f.position[FORK_UPPER], f.rotation[FORK_UPPER], 0, 0);
  draw_model(s, g.model[PART_SIDE_PLATES_MODEL], f.position[FRAME], f.rotation[FRAME], 0, 0);
  if (flag == 0)
    draw_model(s, g.model[PART_RIDER_PLATE_MODEL], f.position[RIDER_BODY], f.rotation[RIDER_BODY], 0, 1);
}

}  // namespace

// The points the rider record holds (feet, wheel contacts) and the figure's
// targets (grips): small squares on the ground plane with vertical ticks.
static void debug_marks(const Rider *r, const RiderFigure &f) {
  const float *points[8];
  int n = 0;
  points[n++] = r->foot[0], points[n++] = r->foot[1];
  points[n++] = r->wheel[0].position, points[n++] = r->wheel[1].position;
  points[n++] = f.grip[0], points[n++] = f.grip[1], points[n++] = f.foot[0], points[n++] = f.foot[1];
  twglBindTexture(GL_TEXTURE_2D, twgl_white_texture);
  twglBegin(GL_LINES);
  twglColor(1, 1, 0, 1);
  const float s = 0.1f;
  for (int i = 0; i < n; i++) {
    const float *p = points[i];
    const float c[5][2] = {{-s, -s}, {s, -s}, {s, s}, {-s, s}, {-s, -s}};
    for (int k = 0; k < 4; k++) {
      twglVertex(p[0] + c[k][0], p[1], p[2] + c[k][1]);
      twglVertex(p[0] + c[k + 1][0], p[1], p[2] + c[k + 1][1]);
    }
    twglVertex(p[0], p[1], p[2]);
    twglVertex(p[0], p[1] + 0.5f, p[2]);
  }
  twglEnd();
}

int rider_draw_order(const float camera[3], int order[RIDER_SLOTS]) {
  double d2[RIDER_SLOTS];
  int n = 0;
  for (int s = 0; s < RIDER_SLOTS; s++) {
    Rider *r = rider_in_slot(s);
    if (!r || !rider_graphics[s].made) continue;
    const dReal *p = dBodyGetPosition(r->body[FRAME]);
    double d = 0;
    for (int k = 0; k < 3; k++) d += (double(p[k]) - camera[k]) * (double(p[k]) - camera[k]);
    if (!std::isfinite(d)) d = HUGE_VAL;
    // Insertion keeps equal distances in slot order.
    int at = n;
    while (at > 0 && d2[at - 1] > d) {
      d2[at] = d2[at - 1], order[at] = order[at - 1];
      at--;
    }
    d2[at] = d, order[at] = s;
    n++;
  }
  return n;
}

void rider_draw(int slot, int first_person_flag, const float camera[3]) {
  Rider *r = rider_in_slot(slot);
  if (!r || !rider_graphics[slot].made) return;
  static RiderFigure figure;
  rider_figure(r, &figure);
  const int first_person = first_person_flag != 0 && r->crash_timer == 0;
  DrawState s{&rider_graphics[slot], &figure, camera, 0};

  twglUseProgram(PROGRAM_NORM_SPEC_LIT);
  twglEnable(GL_BLEND);
  twglBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
  draw_all(s, first_person_flag, first_person);
  twglEnable(GL_BLEND);

  if (scene_settings.reflections) {
    float env[9];  // eye directions back into the world: the camera's rotation
    for (int i = 0; i < 3; i++)
      for (int j = 0; j < 3; j++) env[3 * j + i] = float(published_camera.R[3 * i + j]);
    twglSetEnvMatrix(env);
    twglUseProgram(PROGRAM_NORM_ENV);
    twglBlendFunc(GL_ONE, GL_ONE);
    twglActiveTexture(GL_TEXTURE2);
    twglBindTexture(GL_TEXTURE_2D, 0);
    twglActiveTexture(GL_TEXTURE0);
    twglBindTexture(GL_TEXTURE_2D, lighting.sky_env);
    s.env = 1;
    draw_all(s, first_person_flag, first_person);
    twglBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
  }
  twglActiveTexture(GL_TEXTURE1);
  twglBindTexture(GL_TEXTURE_2D, 0);
  twglActiveTexture(GL_TEXTURE0);
  twglUseProgram(PROGRAM_UNLIT);
  if (log_verbosity >= 2) debug_marks(r, figure);
}
