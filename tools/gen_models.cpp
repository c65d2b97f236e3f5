// The bike, rider and start gate models with their pictures: every part
// file the bike table names, built from that row's geometry in its body's
// coordinates, one shape per engine class; the rider skinned to nine bones
// in the rest pose the drawing poses from; the robots' own colours.
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <set>
#include <string>

#include "bike/bike.h"
#include "race/track.h"
#include "tools/gen.h"
#include "tools/gen_mesh.h"

namespace {

using Cells = uint8_t[16][3];

// Palette cells of a bike picture.
enum { C_PLASTIC, C_TRIM, C_BLACK, C_FRAME, C_ENGINE, C_SEAT, C_SILVER, C_WHITE, C_PLATE };

struct ClassLook {
  const char *engine_class;
  uint8_t plastic[3], trim[3], frame[3];
  const char *plate;         // the number plate's colours
  uint8_t plate_back[3];     // its background, painted on the plates
};
const ClassLook LOOKS[] = {
    {"50", {230, 200, 20}, {30, 30, 30}, {60, 60, 60}, "[numberbackground:0,0,0][numberforeground:1,1,1]", {0, 0, 0}},
    {"125", {30, 70, 200}, {240, 240, 240}, {150, 150, 160}, "[numberbackground:1,1,1][numberforeground:0,0,0]",
     {255, 255, 255}},
    {"250", {30, 160, 60}, {20, 20, 20}, {40, 120, 50}, "[numberbackground:1,1,1][numberforeground:0,0.3,0]",
     {255, 255, 255}},
    {"250f", {200, 30, 30}, {240, 240, 240}, {170, 40, 40}, "[numberbackground:1,1,1][numberforeground:0.6,0,0]",
     {255, 255, 255}},
    {"450f", {240, 110, 10}, {20, 20, 20}, {60, 60, 70}, "[numberbackground:0,0,0][numberforeground:1,0.5,0]",
     {0, 0, 0}},
};

const ClassLook &look_of(const char *engine_class) {
  for (const ClassLook &l : LOOKS)
    if (!strcmp(l.engine_class, engine_class)) return l;
  return LOOKS[3];
}

void bike_cells(const ClassLook &l, Cells c) {
  const uint8_t fixed[16][3] = {{0, 0, 0},       {0, 0, 0},       {25, 25, 28},    {0, 0, 0},
                                {70, 70, 75},    {35, 35, 45},    {190, 190, 195}, {240, 240, 240},
                                {120, 120, 120}, {90, 60, 30},    {200, 200, 200}, {60, 60, 60},
                                {255, 255, 255}, {255, 255, 255}, {255, 255, 255}, {255, 255, 255}};
  memcpy(c, fixed, sizeof fixed);
  memcpy(c[C_PLASTIC], l.plastic, 3);
  memcpy(c[C_TRIM], l.trim, 3);
  memcpy(c[C_FRAME], l.frame, 3);
  memcpy(c[C_PLATE], l.plate_back, 3);
}

void sub(const float *a, const float *b, float *o) { o[0] = a[0] - b[0], o[1] = a[1] - b[1], o[2] = a[2] - b[2]; }

// A world point of the row's rest pose in a body's coordinates.
struct Local {
  const float *origin;
  void operator()(float x, float y, float z, float *o) const {
    float p[3] = {x, y, z};
    sub(p, origin, o);
  }
};

// Levels of detail: 0 the full model, 1 the middle level (from 16 units
// on), 2 the coarsest (from 32).
const int LEVELS = 3;
const char *const LEVEL_SUFFIX[LEVELS] = {".jm", "_lod4.jm", "_lod5.jm"};
int pick(int detail, int full, int middle, int coarse) { return detail <= 0 ? full : detail == 1 ? middle : coarse; }

bool two_stroke(const BikeModel &m) { return strchr(m.engine_class, 'f') == nullptr; }

// The number plates: the number quads (plates_mesh, drawn with the rider's
// number picture, clear around the digits) stand a little off a panel of
// the plate colour in the body's own model.
const float NUMBER_LIFT = 0.01f;
void front_plate_rect(float *c, float *u, float *v) {
  c[0] = 0, c[1] = 0.55f, c[2] = -0.32f;
  u[0] = 0.4f, u[1] = 0, u[2] = 0;
  v[0] = 0, v[1] = 0.3f, v[2] = 0.1f;
}
void side_plate_rect(const BikeModel &m, int side, float *c, float *u, float *v) {
  Local L{m.frame_pos};
  L(0.36f * float(side), m.frame_pos[1] + 0.95f, m.rear_wheel_pos[2] - 0.9f, c);
  u[0] = 0, u[1] = 0, u[2] = -0.42f * float(side);
  v[0] = 0, v[1] = 0.27f, v[2] = 0;
}

GenMesh frame_mesh(const BikeModel &m, int detail) {
  GenMesh mesh;
  GenPart &p = mesh.part(24);
  Local L{m.frame_pos};
  int sides = pick(detail, 8, 6, 4);
  const float *sh = m.steering_head_pos, *fp = m.frame_pos, *pv = m.swingarm_pivot;
  float a[3], b[3], c[3], h[3];
  bool small = !strcmp(m.engine_class, "50");
  float k = small ? 0.8f : 1.0f;
  // Engine and frame rails.
  L(0, fp[1] - 0.3f * k, fp[2] - 0.1f, c);
  h[0] = 0.33f * k, h[1] = 0.45f * k, h[2] = 0.6f * k;
  gen_box(p, c, h, C_ENGINE);
  for (int side = -1; side <= 1; side += 2) {
    L(0.15f * float(side), sh[1] - 0.1f, sh[2] + 0.15f, a);
    L(0.25f * float(side), pv[1] + 0.55f, pv[2], b);
    gen_tube(p, a, b, 0.08f, sides, 1, C_FRAME);
    L(0.25f * float(side), pv[1] - 0.4f, pv[2], c);
    gen_tube(p, b, c, 0.08f, sides, 1, C_FRAME);
  }
  L(0, sh[1] - 0.1f, sh[2] + 0.1f, a);
  L(0, fp[1] - 0.75f * k, fp[2] - 0.7f, b);
  gen_tube(p, a, b, 0.09f, sides, 1, C_FRAME);
  // The engine class's top end.
  if (two_stroke(m)) {
    L(0, fp[1] + 0.3f * k, fp[2] - 0.45f, a);
    L(0, fp[1] + 0.75f * k, fp[2] - 0.55f, b);
    gen_tube(p, a, b, 0.26f * k, sides, 2, C_SILVER);
  } else {
    L(0, fp[1] + 0.45f * k, fp[2] - 0.4f, c);
    h[0] = 0.3f * k, h[1] = 0.35f * k, h[2] = 0.32f * k;
    gen_box(p, c, h, C_SILVER);
  }
  // Plastics and seat.
  L(0, 3.1f * k + (fp[1] - 1.98f), sh[2] + 0.95f, c);
  h[0] = 0.42f, h[1] = 0.28f, h[2] = 0.55f;
  gen_box(p, c, h, C_PLASTIC);
  L(0, 3.15f * k + (fp[1] - 1.98f), fp[2] + 1.0f, c);
  h[0] = 0.3f, h[1] = 0.12f, h[2] = 0.95f;
  gen_box(p, c, h, C_SEAT);
  L(0, 3.05f * k + (fp[1] - 1.98f), m.rear_wheel_pos[2] - 0.1f, c);
  h[0] = 0.33f, h[1] = 0.04f, h[2] = 0.8f;
  gen_box(p, c, h, C_PLASTIC);
  for (int side = -1; side <= 1; side += 2) {
    L(0.46f * float(side), sh[1] - 0.15f, sh[2] + 0.75f, c);
    h[0] = 0.05f, h[1] = 0.3f, h[2] = 0.42f;
    gen_box(p, c, h, C_TRIM);
    float u[3], v[3];
    side_plate_rect(m, side, c, u, v);
    gen_quad(p, c, u, v, C_PLATE);
  }
  // Exhaust: the muffler lit, the header pipe as chrome (last).
  GenPart &chrome = mesh.part(-1, 0.8f, 0.9f, 0.9f, 0.95f);
  GenPart &lit = mesh.parts[0];
  if (two_stroke(m)) {
    L(0.15f, fp[1] + 0.25f, fp[2] - 0.75f, a);
    L(0.3f, fp[1] + 0.05f, fp[2] + 0.6f, b);
    gen_tube(chrome, a, b, 0.17f * k, sides, 3, C_SILVER);
    L(0.38f, fp[1] + 1.0f, m.rear_wheel_pos[2] - 0.2f, c);
    gen_tube(lit, b, c, 0.12f * k, sides, 2, C_SILVER);
  } else {
    L(0.12f, fp[1] + 0.45f, fp[2] - 0.75f, a);
    L(0.35f, fp[1] - 0.1f, fp[2] + 0.2f, b);
    gen_tube(chrome, a, b, 0.07f, sides, 3, C_SILVER);
    L(0.42f, fp[1] + 1.05f, m.rear_wheel_pos[2] - 0.25f, c);
    gen_tube(lit, b, c, 0.16f * k, sides, 2, C_SILVER);
  }
  return mesh;
}

GenMesh fork_upper_mesh(const BikeModel &m, int detail) {
  GenMesh mesh;
  const int sides = pick(detail, 8, 6, 4), runs = pick(detail, 2, 1, 1);
  GenPart &p = mesh.part(24);
  float s = m.fork_leg_spacing / 2, axis[3], a[3], b[3], c[3], h[3];
  sub(m.fork_lower_pos, m.steering_head_pos, axis);
  for (int side = -1; side <= 1; side += 2) {
    float x = s * float(side);
    a[0] = x - axis[0] * 0.15f, a[1] = -axis[1] * 0.15f, a[2] = -axis[2] * 0.15f;
    b[0] = x + axis[0], b[1] = axis[1], b[2] = axis[2];
    gen_tube(p, a, b, 0.09f, sides, runs, C_FRAME);
  }
  for (float t : {-0.12f, 0.3f}) {
    c[0] = axis[0] * t, c[1] = axis[1] * t, c[2] = axis[2] * t;
    h[0] = s + 0.12f, h[1] = 0.06f, h[2] = 0.14f;
    gen_box(p, c, h, C_SILVER);
  }
  // Handlebar through both grips, on two risers from the top clamp.
  const float *gl = m.grip_points[0], *gr = m.grip_points[1];
  float l[3] = {gl[0] - 0.1f, gl[1], gl[2]}, r[3] = {gr[0] + 0.1f, gr[1], gr[2]};
  gen_tube(p, l, r, 0.05f, sides, pick(detail, 4, 2, 1), C_BLACK);
  for (int side = -1; side <= 1; side += 2) {
    a[0] = 0.3f * float(side), a[1] = 0.1f, a[2] = 0.1f;
    b[0] = 0.3f * float(side), b[1] = gl[1], b[2] = gl[2];
    gen_tube(p, a, b, 0.045f, pick(detail, 6, 4, 3), 1, C_SILVER);
  }
  float u[3], v[3];
  front_plate_rect(c, u, v);
  gen_quad(p, c, u, v, C_PLATE);
  return mesh;
}

GenMesh fork_lower_mesh(const BikeModel &m, int detail) {
  GenMesh mesh;
  const int sides = pick(detail, 8, 6, 4), runs = pick(detail, 2, 1, 1);
  GenPart &p = mesh.part(24);
  float s = m.fork_leg_spacing / 2, axle[3], up[3], a[3], b[3];
  sub(m.front_wheel_pos, m.fork_lower_pos, axle);
  sub(m.steering_head_pos, m.fork_lower_pos, up);
  float ul = std::sqrt(up[0] * up[0] + up[1] * up[1] + up[2] * up[2]);
  for (float &v : up) v /= ul;
  for (int side = -1; side <= 1; side += 2) {
    float x = s * float(side);
    a[0] = x, a[1] = 0.15f * up[1], a[2] = 0.15f * up[2];
    b[0] = x, b[1] = axle[1] - 0.1f, b[2] = axle[2];
    gen_tube(p, a, b, 0.11f, sides, runs, C_BLACK);
  }
  a[0] = -s, a[1] = axle[1], a[2] = axle[2];
  b[0] = s, b[1] = axle[1], b[2] = axle[2];
  gen_tube(p, a, b, 0.05f, pick(detail, 6, 4, 3), 1, C_SILVER);
  // The polished stanchions above the seals.
  GenPart &chrome = mesh.part(-1, 0.7f, 0.95f, 0.95f, 1);
  for (int side = -1; side <= 1; side += 2) {
    float x = s * float(side);
    a[0] = x, a[1] = 0.1f * up[1], a[2] = 0.1f * up[2];
    b[0] = x, b[1] = 0.7f * up[1], b[2] = 0.7f * up[2];
    gen_tube(chrome, a, b, 0.075f, sides, 1, C_SILVER);
  }
  return mesh;
}

GenMesh swingarm_mesh(const BikeModel &m, int detail) {
  GenMesh mesh;
  const int sides = pick(detail, 6, 5, 4), runs = pick(detail, 2, 1, 1);
  GenPart &p = mesh.part(24);
  float pivot[3], axle[3], a[3], b[3];
  sub(m.swingarm_pivot, m.swingarm_pos, pivot);
  sub(m.rear_wheel_pos, m.swingarm_pos, axle);
  for (int side = -1; side <= 1; side += 2) {
    a[0] = 0.32f * float(side), a[1] = pivot[1], a[2] = pivot[2];
    b[0] = 0.32f * float(side), b[1] = axle[1], b[2] = axle[2];
    gen_tube(p, a, b, 0.09f, sides, runs, C_FRAME);
  }
  a[0] = -0.34f, a[1] = pivot[1], a[2] = pivot[2];
  b[0] = 0.34f, b[1] = pivot[1], b[2] = pivot[2];
  gen_tube(p, a, b, 0.08f, sides, 1, C_FRAME);
  a[0] = 0, a[1] = pivot[1], a[2] = pivot[2] + 0.3f;
  b[0] = 0, b[1] = pivot[1] + 1.0f, b[2] = pivot[2] - 0.2f;
  gen_tube(p, a, b, 0.1f, sides, runs, C_TRIM);  // the shock
  return mesh;
}

GenMesh wheel_mesh(float rim, float tire, int detail) {
  GenMesh mesh;
  GenPart &p = mesh.part(8);
  const float c[3] = {0, 0, 0};
  int around = pick(detail, 28, 20, 12);
  gen_torus(p, c, rim, tire, around, pick(detail, 10, 7, 5), C_BLACK);
  float a[3] = {-0.25f, 0, 0}, b[3] = {0.25f, 0, 0};
  gen_tube(p, a, b, 0.13f, pick(detail, 10, 7, 5), 1, C_SILVER);
  int spokes = pick(detail, 16, 8, 0);
  for (int i = 0; i < spokes; i++) {
    float ang = 6.2831853f * float(i) / float(spokes);
    float side = (i % 2 ? 0.18f : -0.18f);
    float h[3] = {side, 0.1f * std::cos(ang), 0.1f * std::sin(ang)};
    float r[3] = {0, (rim - tire * 0.95f) * std::cos(ang + 0.2f), (rim - tire * 0.95f) * std::sin(ang + 0.2f)};
    gen_tube(p, h, r, 0.012f, 3, 1, C_SILVER);
  }
  GenPart &chrome = mesh.part(-1, 0.6f, 0.9f, 0.9f, 0.9f);
  gen_torus(chrome, c, rim - tire * 0.95f, 0.045f, around, 4, C_SILVER);
  return mesh;
}

GenMesh plates_mesh(const BikeModel &m, int front) {
  GenMesh mesh;
  GenPart &p = mesh.part(16);
  float c[3], u[3], v[3];
  if (front) {
    front_plate_rect(c, u, v);
    gen_quad(p, c, u, v, -1, NUMBER_LIFT);
  } else {
    for (int side = -1; side <= 1; side += 2) {
      side_plate_rect(m, side, c, u, v);
      gen_quad(p, c, u, v, -1, NUMBER_LIFT);
    }
  }
  return mesh;
}

// ------------------------------------------------------------------ rider
// Rest pose joints (the drawing's bone rest centres).
const float SHOULDER_X = 0.556f, ELBOW_X = 1.456f, HAND_X = 2.606f, ARM_Y = 0.875f;
const float HIP_X = 0.269f, HIP_Y = -0.88f, KNEE_Y = -2.208f, ANKLE_Y = -3.75f, BONE_Z = 0.01f;

// Bone influences of a rest-pose point: the limb it lies on, blended over
// the joints it bends at.
void skin_vertex(GenVertex &v) {
  for (int k = 0; k < 4; k++) v.w[k] = 0, v.b[k] = 0;
  const float blend = 0.12f;
  float ax = std::fabs(v.p[0]);
  int left = v.p[0] < 0;
  auto two = [&](int lower_bone, int upper_bone, float t) {  // t 0: upper, 1: lower
    t = t < 0 ? 0 : t > 1 ? 1 : t;
    v.b[0] = upper_bone, v.w[0] = 1 - t;
    v.b[1] = lower_bone, v.w[1] = t;
  };
  if (ax > SHOULDER_X + 0.02f && v.p[1] > 0.3f) {
    float t = (ax - (ELBOW_X - blend)) / (2 * blend);
    two(left ? BONE_LEFT_ELBOW : BONE_RIGHT_ELBOW, left ? BONE_LEFT_SHOULDER : BONE_RIGHT_SHOULDER, t);
  } else if (v.p[1] < HIP_Y - 0.02f) {
    float t = ((HIP_Y - v.p[1]) - (HIP_Y - KNEE_Y - blend)) / (2 * blend);
    two(left ? BONE_LEFT_KNEE : BONE_RIGHT_KNEE, left ? BONE_LEFT_HIP : BONE_RIGHT_HIP, t);
  } else {
    v.b[0] = BONE_PELVIS, v.w[0] = 1;
  }
}

GenMesh rider_mesh(int first_person, int detail) {
  GenMesh mesh;
  mesh.bones = FIGURE_BONE_COUNT;
  GenPart &p = mesh.part(12);
  int sides = pick(detail, 8, 6, 4), rings = pick(detail, 6, 3, 2);
  float c[3], h[3], a[3], b[3];
  if (!first_person) {
    c[0] = 0, c[1] = -0.05f, c[2] = BONE_Z;
    h[0] = 0.5f, h[1] = 0.9f, h[2] = 0.32f;
    gen_box(p, c, h, 0);
  } else {
    // Only the hips: nothing reaches up in front of the eyes.
    c[0] = 0, c[1] = -0.65f, c[2] = BONE_Z;
    h[0] = 0.5f, h[1] = 0.3f, h[2] = 0.32f;
    gen_box(p, c, h, 0);
  }
  for (int side = -1; side <= 1; side += 2) {
    float s = float(side);
    a[0] = s * SHOULDER_X, a[1] = ARM_Y, a[2] = BONE_Z;
    b[0] = s * ELBOW_X, b[1] = ARM_Y, b[2] = BONE_Z;
    gen_tube(p, a, b, 0.17f, sides, rings, 0);
    a[0] = s * HAND_X;
    gen_tube(p, b, a, 0.14f, sides, rings, 0);
    c[0] = s * (HAND_X + 0.08f), c[1] = ARM_Y, c[2] = BONE_Z;
    h[0] = 0.1f, h[1] = 0.1f, h[2] = 0.12f;
    gen_box(p, c, h, 2);
    a[0] = s * HIP_X, a[1] = HIP_Y + 0.1f, a[2] = BONE_Z;
    b[0] = s * HIP_X, b[1] = KNEE_Y, b[2] = BONE_Z;
    gen_tube(p, a, b, 0.22f, sides, rings, 1);
    a[1] = ANKLE_Y;
    gen_tube(p, b, a, 0.18f, sides, rings, 3);
    c[0] = s * HIP_X, c[1] = ANKLE_Y - 0.05f, c[2] = BONE_Z - 0.12f;
    h[0] = 0.13f, h[1] = 0.1f, h[2] = 0.3f;
    gen_box(p, c, h, 3);
  }
  for (GenVertex &v : p.v) skin_vertex(v);
  return mesh;
}

GenMesh rider_plate_mesh() {
  GenMesh mesh;
  mesh.bones = FIGURE_BONE_COUNT;
  GenPart &p = mesh.part(16);
  const float c[3] = {0, 0.25f, BONE_Z + 0.33f}, u[3] = {-0.32f, 0, 0}, v[3] = {0, 0.26f, 0};
  gen_quad(p, c, u, v);
  for (GenVertex &x : p.v) x.b[0] = BONE_PELVIS, x.w[0] = 1;
  return mesh;
}

// The helmet, its face towards -z.
GenMesh head_mesh(int detail) {
  GenMesh mesh;
  GenPart &p = mesh.part(40);
  const float c[3] = {0, 0.05f, 0.02f}, s[3] = {0.42f, 0.45f, 0.48f};
  gen_sphere(p, c, s, pick(detail, 18, 12, 8), 0);
  float bc[3] = {0, -0.18f, -0.42f}, bh[3] = {0.22f, 0.14f, 0.1f};
  gen_box(p, bc, bh, 1);  // chin bar
  float gc[3] = {0, 0.06f, -0.42f}, gh[3] = {0.3f, 0.09f, 0.06f};
  gen_box(p, gc, gh, 2);  // goggles
  float pc[3] = {0, 0.38f, -0.5f}, ph[3] = {0.3f, 0.02f, 0.16f};
  gen_box(p, pc, ph, 0);  // peak
  return mesh;
}

// ------------------------------------------------------------- start gate
const double GATE_TURN = 0.5890486225480862, GATE_DEPTH = 6.5, GATE_FACE = -0.45;

GenMesh gate_mesh() {
  GenMesh mesh;
  GenPart &p = mesh.part(16);
  // The plate as it stands raised, spanning its shape's spheres...
  const float c[3] = {0, float(GATE_DEPTH + 0.575), float(GATE_FACE)}, h[3] = {1.45f, 1.075f, 0.25f};
  gen_box(p, c, h, -1);
  // ...then laid into its dropped pose about the hinge at the origin.
  double cs = std::cos(GATE_TURN), sn = std::sin(GATE_TURN);
  for (GenVertex &v : p.v)
    for (float *x : {v.p, v.n}) {
      double y = x[1], z = x[2];
      x[1] = float(y * cs + z * sn);
      x[2] = float(-y * sn + z * cs);
    }
  return mesh;
}

std::string gate_picture() {
  const int w = 64;
  std::string s = "P6\n64 64\n255\n";
  for (int y = 0; y < w; y++)
    for (int x = 0; x < w; x++) {
      bool stripe = ((x + y) / 8) % 2 == 0;
      bool rim = x < 3 || y < 3 || x >= w - 3 || y >= w - 3;
      uint8_t r = rim ? 90 : stripe ? 230 : 200, g = rim ? 90 : stripe ? 230 : 30, b = rim ? 95 : stripe ? 230 : 30;
      s += char(r), s += char(g), s += char(b);
    }
  return s;
}

// --------------------------------------------------------------- pictures
std::string strip_at(const char *name) { return name[0] == '@' ? name + 1 : name; }

// "stem.png" -> "stem<kind>.png"
std::string with_kind(const std::string &file, const char *kind) {
  size_t dot = file.rfind('.');
  return file.substr(0, dot) + kind + file.substr(dot);
}

int write_maps(const char *out, const std::string &file, uint8_t level, uint8_t shininess) {
  return gen_write(out, with_kind(file, "_norm"), gen_flat_normal_png(16)) &&
         gen_write(out, with_kind(file, "_spec"), gen_specular_png(16, level, shininess));
}

int write_link(const char *out, const std::string &file, const std::string &target) {
  return gen_write(out, file, "LINK @" + target + "\n");
}

void person_cells(Cells c, const uint8_t main[3], const uint8_t second[3]) {
  for (int i = 0; i < 16; i++) c[i][0] = c[i][1] = c[i][2] = 128;
  memcpy(c[0], main, 3);
  memcpy(c[1], second, 3);
  const uint8_t dark[3] = {25, 25, 30}, boots[3] = {220, 220, 225};
  memcpy(c[2], dark, 3);
  memcpy(c[3], boots, 3);
}

const uint8_t ALT_COLOURS[8][2][3] = {
    {{240, 240, 240}, {20, 20, 140}}, {{20, 20, 20}, {230, 200, 0}},  {{120, 0, 160}, {240, 240, 240}},
    {{0, 150, 150}, {30, 30, 30}},    {{250, 120, 170}, {40, 40, 40}}, {{100, 200, 40}, {20, 20, 20}},
    {{160, 20, 20}, {240, 220, 200}}, {{40, 40, 120}, {250, 160, 0}},
};

int alt_index(const std::string &name) {
  size_t at = name.rfind("-alt");
  return at == std::string::npos ? 0 : atoi(name.c_str() + at + 4);
}

}  // namespace

int gen_models(const char *out) {
  std::set<std::string> written;
  auto once = [&](const char *name) { return written.insert(name).second; };
  int ok = 1;
  // Bike parts, one geometry per row's engine class under each stem's name.
  for (int i = 0; i < BIKE_MODEL_COUNT && ok; i++) {
    const BikeModel &m = bike_models[i];
    const char *const *pf = nullptr;
    (void)pf;
    struct Job {
      int part;
      int lod;
    } jobs[] = {{PART_FRAME_MODEL, 1}, {PART_FORK_UPPER_MODEL, 1}, {PART_FORK_LOWER_MODEL, 1},
                {PART_SWINGARM_MODEL, 1}, {PART_SIDE_PLATES_MODEL, 0}, {PART_FRONT_PLATE_MODEL, 0}};
    for (const Job &j : jobs) {
      const char *name = m.part_files[j.part];
      if (!name[0] || !once(name)) continue;
      for (int detail = 0; detail < (j.lod ? LEVELS : 1) && ok; detail++) {
        GenMesh mesh;
        switch (j.part) {
          case PART_FRAME_MODEL: mesh = frame_mesh(m, detail); break;
          case PART_FORK_UPPER_MODEL: mesh = fork_upper_mesh(m, detail); break;
          case PART_FORK_LOWER_MODEL: mesh = fork_lower_mesh(m, detail); break;
          case PART_SWINGARM_MODEL: mesh = swingarm_mesh(m, detail); break;
          case PART_SIDE_PLATES_MODEL: mesh = plates_mesh(m, 0); break;
          default: mesh = plates_mesh(m, 1); break;
        }
        std::string file = strip_at(name);
        if (detail) file = file.substr(0, file.rfind('.')) + LEVEL_SUFFIX[detail];
        ok = gen_write_model(out, file, mesh);
      }
    }
    // Its picture: a link to the class's palette, which carries the plate
    // colours; maps likewise.
    const char *tex = m.part_files[PART_BIKE_TEXTURE];
    if (tex[0] && once(tex)) {
      const ClassLook &l = look_of(m.engine_class);
      std::string shared = std::string("bike_") + l.engine_class + ".png";
      if (once(shared.c_str())) {
        Cells c;
        bike_cells(l, c);
        ok = ok && gen_write(out, shared, gen_palette_png(c, 64, l.plate)) && write_maps(out, shared, 160, 40);
      }
      std::string file = strip_at(tex);
      ok = ok && write_link(out, file, shared) && write_link(out, with_kind(file, "_norm"), with_kind(shared, "_norm")) &&
           write_link(out, with_kind(file, "_spec"), with_kind(shared, "_spec"));
    }
  }
  const BikeModel &base = bike_models[find_bike_model("yz250f(2017)")];
  for (int detail = 0; detail < LEVELS && ok; detail++) {
    const char *suffix = LEVEL_SUFFIX[detail];
    ok = gen_write_model(out, std::string("front_wheel") + suffix, wheel_mesh(base.front_rim_radius, base.front_tire_radius, detail)) &&
         gen_write_model(out, std::string("rear_wheel") + suffix, wheel_mesh(base.rear_rim_radius, base.rear_tire_radius, detail)) &&
         gen_write_model(out, std::string("rider_body") + suffix, rider_mesh(0, detail)) &&
         gen_write_model(out, std::string("rider_head") + suffix, head_mesh(detail));
  }
  ok = ok && gen_write_model(out, "rider_body_fp.jm", rider_mesh(1, 0)) &&
       gen_write_model(out, "rider_plate.jm", rider_plate_mesh());

  // Wheels, rider and helmet pictures, then the robots' own colours.
  Cells wheels, body, head;
  bike_cells(LOOKS[1], wheels);
  const uint8_t jersey[3] = {40, 90, 200}, pants[3] = {30, 30, 40}, helmet[3] = {230, 230, 235}, visor[3] = {200, 30, 30};
  person_cells(body, jersey, pants);
  person_cells(head, helmet, visor);
  ok = ok && gen_write(out, "wheels.png", gen_palette_png(wheels, 64)) && write_maps(out, "wheels.png", 120, 20) &&
       gen_write(out, "rider_body.png", gen_palette_png(body, 64)) && write_maps(out, "rider_body.png", 40, 8) &&
       gen_write(out, "rider_head.png", gen_palette_png(head, 64)) && write_maps(out, "rider_head.png", 220, 60);
  for (int r = 0; r < ROSTER_SIZE && ok; r++)
    for (int k = 0; k < 4 && ok; k++) {
      const char *name = robot_roster[r].textures[k];
      if (!name || !once(name)) continue;
      const uint8_t(*alt)[3] = ALT_COLOURS[alt_index(name) % 8];
      Cells c;
      std::string text;
      if (k == 2) {
        ClassLook l = look_of(bike_models[find_bike_model(robot_roster[r].bike)].engine_class);
        memcpy(l.plastic, alt[0], 3);
        memcpy(l.trim, alt[1], 3);
        bike_cells(l, c);
        text = l.plate;
      } else if (k == 3) {
        bike_cells(LOOKS[1], c);
        memcpy(c[C_SILVER], alt[0], 3);
      } else {
        person_cells(c, alt[0], alt[1]);
      }
      ok = gen_write(out, strip_at(name), gen_palette_png(c, 64, text));
    }

  ok = ok && gen_write_model(out, "startgate.jm", gate_mesh()) && gen_write(out, "startgate.ppm", gate_picture());
  if (!ok) fprintf(stderr, "gen_data: the models could not be written\n");
  return ok;
}
