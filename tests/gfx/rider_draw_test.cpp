// The rider's figure against the physics: limbs reach the points they stand
// for, the reaching stays finite at its limits, and drawing leaves every
// body as it was.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "core/core.h"
#include "core/log.h"
#include "gfx/model.h"
#include "gfx/rider_draw.h"
#include "tests/bike/test_physics_fixture.h"
#include "tests/gfx/recording_gl.h"

namespace {

float dist(const float *a, const float *b) {
  return std::sqrt((a[0] - b[0]) * (a[0] - b[0]) + (a[1] - b[1]) * (a[1] - b[1]) + (a[2] - b[2]) * (a[2] - b[2]));
}
bool finite3(const float *a) { return std::isfinite(a[0]) && std::isfinite(a[1]) && std::isfinite(a[2]); }

// Where bone b carries a point of the rest pose.
void skin(const RiderFigure &f, int b, const float *rest, float *out) {
  const float *R = f.rotations + 9 * b, *C = f.centres + 3 * b, *T = f.translations + 3 * b;
  float d[3] = {rest[0] - C[0], rest[1] - C[1], rest[2] - C[2]};
  for (int i = 0; i < 3; i++) out[i] = R[i] * d[0] + R[3 + i] * d[1] + R[6 + i] * d[2] + T[i];
}

TEST(TwoBoneIk, ReachLimitsAndHints) {
  const float A[3] = {0, 0, 0}, H[3] = {0, 5, 0};
  struct Case {
    float B[3];
    float reach;  // expected |J - A| reach used; < 0: lengths exact
  } cases[] = {
      {{1.5f, 0, 0}, -1},     // in reach
      {{3, 0, 0}, 1.9475f},   // beyond 95 %: placed as for 95 %
      {{0.1f, 0, 0}, 0},      // nearer than |l1 - l2|
      {{0, 0, 0}, 0},         // at the root
  };
  for (const Case &c : cases) {
    float J[3];
    two_bone_ik(A, c.B, 0.9f, 1.15f, H, J);
    ASSERT_TRUE(finite3(J)) << c.B[0];
    EXPECT_NEAR(dist(J, A), 0.9f, 1e-5) << c.B[0];
    if (c.reach < 0) {
      EXPECT_NEAR(dist(J, c.B), 1.15f, 1e-5);
    }
    if (c.reach > 0) {
      float at95[3] = {c.reach, 0, 0}, J95[3];
      two_bone_ik(A, at95, 0.9f, 1.15f, H, J95);
      EXPECT_NEAR(dist(J, J95), 0, 1e-6);
      EXPECT_NEAR(dist(J, at95), 1.15f, 1e-5);
    }
    if (c.B[0] > 0) {
      EXPECT_GT(J[1], 0) << "the joint bends towards the hint";
    }
  }
  // A hint on the root-target axis still gives a joint at the right lengths.
  float B[3] = {1.5f, 0, 0}, onaxis[3] = {4, 0, 0}, J[3];
  two_bone_ik(A, B, 0.9f, 1.15f, onaxis, J);
  ASSERT_TRUE(finite3(J));
  EXPECT_NEAR(dist(J, B), 1.15f, 1e-5);
}

TEST(BoneFrame, OrthonormalEvenFromZeroVectors) {
  const float zero[3] = {0, 0, 0}, up[3] = {0, 2, 0}, x[3] = {1, 0, 0};
  const float *cases[][3] = {{up, zero, x}, {zero, zero, x}, {up, zero, zero}, {up, zero, up}};
  for (auto &c : cases) {
    float m[9];
    bone_frame(c[0], c[1], c[2], m);
    for (int i = 0; i < 3; i++)
      for (int j = 0; j < 3; j++) {
        float d = m[3 * i] * m[3 * j] + m[3 * i + 1] * m[3 * j + 1] + m[3 * i + 2] * m[3 * j + 2];
        EXPECT_NEAR(d, i == j ? 1 : 0, 1e-5);
      }
  }
  float m[9];
  bone_frame(up, zero, x, m);
  EXPECT_NEAR(m[4], 1, 1e-6);  // c1 along P - Q
  EXPECT_NEAR(m[8], 1, 1e-6);  // c2 = R x c1 = x x y = z
}

class RiderFigureTest : public PhysicsTest {
 protected:
  void SetUp() override {
    PhysicsTest::SetUp();
    ground.build(5, 4, [](float, float) { return 0.0f; }, 1);
    recording_gl_install();
  }
  void TearDown() override {
    // The pictures and models a rider's graphics loaded stay cached.
    model_purge(1);
    texture_purge(1);
    PhysicsTest::TearDown();
  }
  static std::string body_hash(Rider *r) {
    Ripemd160 h;
    ripemd160_init(&h);
    for (int b = 0; b < BODY_PART_COUNT; b++) {
      dBodyID id = r->body[b];
      ripemd160_update(&h, dBodyGetPosition(id), 3 * sizeof(dReal));
      ripemd160_update(&h, dBodyGetQuaternion(id), 4 * sizeof(dReal));
      ripemd160_update(&h, dBodyGetRotation(id), 12 * sizeof(dReal));
      ripemd160_update(&h, dBodyGetLinearVel(id), 3 * sizeof(dReal));
      ripemd160_update(&h, dBodyGetAngularVel(id), 3 * sizeof(dReal));
    }
    uint8_t out[20];
    ripemd160_final(&h, out);
    return std::string(reinterpret_cast<char *>(out), 20);
  }
};

TEST_F(RiderFigureTest, BonesCarryTheRestPoseOntoThePhysicsPoints) {
  Rider *r = place(64, 64);
  ASSERT_TRUE(r);
  run(64);
  RiderFigure f;
  rider_figure(r, &f);
  const BikeModel *m = rider_model(r);
  const float(*C)[3] = m->bone_centres;
  // Each bone puts its own rest joint on the posed joint...
  const float *joints[9] = {f.elbow[0], f.elbow[1], f.shoulder[0], f.shoulder[1], f.knee[0], f.knee[1], f.hip[0], f.hip[1], nullptr};
  for (int b = 0; b < 8; b++) {
    float p[3];
    skin(f, b, C[b], p);
    EXPECT_LT(dist(p, joints[b]), 1e-4) << b;
  }
  // ...and the next rest joint on the next posed one.
  struct Next {
    int bone;
    float rest[3];
    const float *posed;
  } next[] = {
      {BONE_LEFT_SHOULDER, {C[0][0], C[0][1], C[0][2]}, f.elbow[0]},
      {BONE_RIGHT_SHOULDER, {C[1][0], C[1][1], C[1][2]}, f.elbow[1]},
      {BONE_LEFT_HIP, {C[4][0], C[4][1], C[4][2]}, f.knee[0]},
      {BONE_RIGHT_HIP, {C[5][0], C[5][1], C[5][2]}, f.knee[1]},
      {BONE_LEFT_ELBOW, {C[0][0] - m->forearm_length, C[0][1], C[0][2]}, f.grip[0]},
      {BONE_RIGHT_ELBOW, {C[1][0] + m->forearm_length, C[1][1], C[1][2]}, f.grip[1]},
      {BONE_LEFT_KNEE, {C[4][0], C[4][1] - m->shin_length, C[4][2]}, f.foot[0]},
      {BONE_RIGHT_KNEE, {C[5][0], C[5][1] - m->shin_length, C[5][2]}, f.foot[1]},
  };
  for (const Next &n : next) {
    float p[3];
    skin(f, n.bone, n.rest, p);
    EXPECT_LT(dist(p, n.posed), 2e-3) << n.bone << ": a hand or foot in reach lands on its point";
  }
  // Rotations stay rotations.
  for (int b = 0; b < 9; b++) {
    const float *R = f.rotations + 9 * b;
    float det = R[0] * (R[4] * R[8] - R[5] * R[7]) - R[3] * (R[1] * R[8] - R[2] * R[7]) + R[6] * (R[1] * R[5] - R[2] * R[4]);
    EXPECT_NEAR(det, 1, 1e-4) << b;
  }
  for (int i = 0; i < 9; i++) EXPECT_TRUE(std::isfinite(f.head_frame[i]));
}

TEST_F(RiderFigureTest, DrawingNeverWritesABody) {
  Rider *r = place(64, 64);
  ASSERT_TRUE(r);
  run(32);
  // Cramped: the rider body pushed towards the bars, so the lean applies.
  const dReal *p = dBodyGetPosition(r->body[RIDER_BODY]);
  dBodySetPosition(r->body[RIDER_BODY], p[0], p[1] + 0.3, p[2] - 0.6);
  dBodySetLinearVel(r->body[RIDER_BODY], 0, 40, 0);  // a vertical look vector
  const char *none[GFX_GROUP_COUNT] = {nullptr, nullptr, nullptr, nullptr};
  rider_graphics_make(r, none);
  std::string before = body_hash(r);
  float camera[3] = {60, 6, 70};
  for (int flag : {0, 1, 2}) rider_draw(0, flag, camera);
  log_verbosity = 2;  // with the debugging marks
  rider_draw(0, 0, camera);
  log_verbosity = 0;
  EXPECT_EQ(body_hash(r), before);
  RiderFigure f;
  rider_figure(r, &f);
  for (int i = 0; i < 9; i++) EXPECT_TRUE(std::isfinite(f.head_frame[i]));
  for (int i = 0; i < 81; i++) EXPECT_TRUE(std::isfinite(f.rotations[i]));
  rider_graphics_release(r);
}

// Nearest first, equal distances by slot, riders without graphics left out.
TEST_F(RiderFigureTest, DrawOrderNearestFirst) {
  const char *none[GFX_GROUP_COUNT] = {nullptr, nullptr, nullptr, nullptr};
  const float xs[4] = {70, 50, 58, 66};  // slots 2 and 3 equally near x = 62
  for (int s = 0; s < 4; s++) ASSERT_TRUE(place(xs[s], 64, s));
  for (int s : {1, 2, 3}) rider_graphics_make(rider_in_slot(s), none);
  float camera[3] = {62, 2, 64};
  int order[RIDER_SLOTS];
  ASSERT_EQ(rider_draw_order(camera, order), 3);
  EXPECT_EQ(order[0], 2);
  EXPECT_EQ(order[1], 3);
  EXPECT_EQ(order[2], 1);
  for (int s : {1, 2, 3}) rider_graphics_release(rider_in_slot(s));
}

}  // namespace
