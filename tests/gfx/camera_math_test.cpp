// Cameras as numbers: projection extents, the rider's eye and gimbal, the
// trackside rotation and aim, the keyframe path and ghost opacity.
#include <gtest/gtest.h>
#include <ode/ode.h>

#include <cmath>

#include "bike/physics.h"
#include "gfx/camera_math.h"

namespace {

double dot(const double *a, const double *b) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; }
void column(const double R[9], int c, double out[3]) {
  for (int i = 0; i < 3; i++) out[i] = R[3 * i + c];
}
double degrees_between(const double *a, const double *b) {
  double c = dot(a, b) / sqrt(dot(a, a) * dot(b, b));
  return acos(c > 1 ? 1 : c < -1 ? -1 : c) * 180 / M_PI;
}

TEST(Projection, FourByThreeRule) {
  struct Case {
    int w, h;
    double fov, X, Y;
  };
  const Case cases[] = {{1920, 1080, 110, 1.9041, 1.0711}, {800, 800, 110, 1.4281, 1.4281},
                        {640, 480, 90, 1.0, 0.75}, {600, 800, 90, 1.0, 1.3333}};
  for (const Case &c : cases) {
    float X, Y;
    ASSERT_TRUE(projection_extents(c.w, c.h, c.fov, &X, &Y));
    EXPECT_NEAR(X, c.X, 1e-4) << c.w << "x" << c.h;
    EXPECT_NEAR(Y, c.Y, 1e-4) << c.w << "x" << c.h;
  }
  float X = 7, Y = 7;
  EXPECT_FALSE(projection_extents(0, 600, 110, &X, &Y)) << "a minimised window";
  EXPECT_FALSE(projection_extents(800, 0, 110, &X, &Y));
  EXPECT_EQ(X, 7);
}

// A body of ODE's own, turned about a skew axis, as a pose.
class RiderCamera : public ::testing::Test {
 protected:
  dWorldID world;
  dBodyID body;
  BodyPose pose;
  void SetUp() override {
    dInitODE2(0);
    world = dWorldCreate();
    body = dBodyCreate(world);
    dBodySetPosition(body, 12, 3, -40);
    pitch_to(0);
  }
  void TearDown() override {
    dWorldDestroy(world);
    dCloseODE();
  }
  // Heading 0.7 rad, then pitched up by `deg` about the body's x axis.
  void pitch_to(double deg) {
    dMatrix3 a, b, r;
    dRFromAxisAndAngle(a, 0, 1, 0, 0.7);
    dRFromAxisAndAngle(b, 1, 0, 0, deg * M_PI / 180);
    dMultiply0(r, a, b, 3, 3, 3);
    dBodySetRotation(body, r);
    dBodySetLinearVel(body, 1, 2, 3);
    const dReal *p = dBodyGetPosition(body), *R = dBodyGetRotation(body), *v = dBodyGetLinearVel(body);
    for (int i = 0; i < 3; i++) {
      pose.position[i] = p[i];
      pose.velocity[i] = v[i];
      for (int j = 0; j < 3; j++) pose.rotation[3 * i + j] = R[4 * i + j];
    }
  }
};

TEST_F(RiderCamera, EyeIsTheBodyPointAsOdeTransformsIt) {
  for (double h : {0.0, 0.5, 1.0}) {
    dVector3 want;
    dBodyGetRelPointPos(body, 0, 0.5 + 0.558383 * h, -0.4 - 0.79336953 * h, want);
    double eye[3];
    rider_eye_point(pose, h, eye);
    for (int i = 0; i < 3; i++) EXPECT_NEAR(eye[i], want[i], 1e-12) << h;
  }
}

TEST_F(RiderCamera, RigidWithoutGimbalAndTiltedByTheAngle) {
  GimbalState g{};
  FrameCamera c;
  rider_camera_from_pose(pose, {0, 0, 0}, 1, &g, &c, nullptr);
  for (int i = 0; i < 9; i++) EXPECT_DOUBLE_EQ(c.R[i], pose.rotation[i]);
  for (int i = 0; i < 3; i++) EXPECT_DOUBLE_EQ(c.velocity[i], pose.velocity[i]);
  rider_camera_from_pose(pose, {0, 0, 10}, 1, &g, &c, nullptr);
  double view[3], body_fwd[3], body_up[3];
  column(c.R, 2, view);
  column(pose.rotation, 2, body_fwd);
  column(pose.rotation, 1, body_up);
  for (double &v : view) v = -v;
  for (double &v : body_fwd) v = -v;
  EXPECT_NEAR(degrees_between(view, body_fwd), 10, 1e-9);
  EXPECT_LT(dot(view, body_up), 0) << "down, not up";
}

TEST_F(RiderCamera, GimbalHoldsASuddenPitchAndLetsGoAtFivePerSecond) {
  GimbalState g{};
  FrameCamera c;
  const RiderCameraParams p{0, 100, 0};
  rider_camera_from_pose(pose, p, 0, &g, &c, nullptr);  // level, remembered
  double before[3];
  column(c.R, 2, before);
  pitch_to(30);
  double t = 0, dt = 1.0 / 128;
  t += dt;
  rider_camera_from_pose(pose, p, t, &g, &c, nullptr);
  double view[3], body[3];
  column(c.R, 2, view);
  column(pose.rotation, 2, body);
  double lag = degrees_between(view, body);
  EXPECT_NEAR(lag, atan(tan(30 * M_PI / 180)) * 180 / M_PI * (1 - 5 * dt), 1e-6) << "held";
  // A second later: shrunk by (1 - 5 dt) in every frame's tangent step.
  double th = 30 * M_PI / 180 * (1 - 5 * dt);
  for (int i = 1; i < 128; i++) {
    t += dt;
    rider_camera_from_pose(pose, p, t, &g, &c, nullptr);
    th *= 1 - 5 * dt;
  }
  column(c.R, 2, view);
  EXPECT_NEAR(degrees_between(view, body), th * 180 / M_PI, 1e-6);
  EXPECT_LT(degrees_between(view, body), 30 * exp(-4.9));
  // A sudden 80 degrees lags by no more than 45.
  pitch_to(-50);
  rider_camera_from_pose(pose, p, t + dt, &g, &c, nullptr);
  column(c.R, 2, view);
  column(pose.rotation, 2, body);
  EXPECT_NEAR(degrees_between(view, body), 45 * (1 - 5 * dt), 1e-4);
}

TEST(TracksideCamera, LooksWhereYawAndPitchSay) {
  double R[9], back[3];
  trackside_rotation(0, 0, R);
  column(R, 2, back);
  EXPECT_NEAR(back[2], -1, 1e-12) << "yaw 0 looks south (+z)";
  trackside_rotation(0.3, 0.2, R);
  column(R, 2, back);
  EXPECT_NEAR(-back[1], sin(0.2), 1e-12) << "positive pitch looks up";
  EXPECT_NEAR(-back[0], sin(0.3) * cos(0.2), 1e-12);
  // Aimed at a point, the view passes through it.
  const double from[3] = {5, 20, 5}, to[3] = {-30, 2, 70};
  double yaw = 0, pitch = 0;
  ASSERT_TRUE(aim_yaw_pitch(from, to, &yaw, &pitch));
  trackside_rotation(yaw, pitch, R);
  column(R, 2, back);
  double d[3] = {to[0] - from[0], to[1] - from[1], to[2] - from[2]};
  for (double &v : back) v = -v;
  EXPECT_NEAR(degrees_between(back, d), 0, 1e-5);
  // At its target a camera keeps its direction.
  EXPECT_FALSE(aim_yaw_pitch(from, from, &yaw, &pitch));
  trackside_rotation(yaw, pitch, R);
  column(R, 2, back);
  for (double &v : back) v = -v;
  EXPECT_NEAR(degrees_between(back, d), 0, 1e-5);
  // The automatic field of view frames an object of 10 ft.
  EXPECT_NEAR(auto_fov(10, 10 / (2 * tan(15 * M_PI / 180)), 60), 30, 1e-9);
  EXPECT_EQ(auto_fov(10, 1e6, 60), 10) << "no narrower than 10 degrees";
  EXPECT_EQ(auto_fov(10, 1, 60), 60) << "no wider than its own";
}

TEST(OrbitCamera, LooksAtTheTargetWithTheUpVertical) {
  const double eye[3] = {0, 10, 0}, target[3] = {30, 0, 40};
  double R[9], c0[3], c2[3];
  look_at_rotation(eye, target, R);
  column(R, 0, c0);
  column(R, 2, c2);
  EXPECT_NEAR(c0[1], 0, 1e-12) << "right axis level";
  double d[3] = {eye[0] - target[0], eye[1] - target[1], eye[2] - target[2]};
  EXPECT_NEAR(degrees_between(c2, d), 0, 1e-6);
  EXPECT_GT(R[4], 0) << "up is up";
}

class Keyframes : public ::testing::Test {
 protected:
  void SetUp() override { camera_keys_clear(); }
  void TearDown() override { camera_keys_clear(); }
  static void key(float x, float y, float z, double yaw, double pitch, float fov, int tic) {
    const float p[3] = {x, y, z};
    ASSERT_GE(camera_key_add(camera_key_from_yaw_pitch(p, yaw, pitch, fov, tic)), 0);
  }
};

TEST_F(Keyframes, TwoKeysMakeASmoothstepAndTheLastKeyHolds) {
  key(10, 20, 30, 1.0, 0.2, 60, 1280);
  key(0, 0, 0, 0.0, 0.0, 100, 0);  // added out of order
  EXPECT_EQ(camera_keys[0].tic, 0);
  FrameCamera c;
  ASSERT_TRUE(keyframe_camera(640, &c));
  EXPECT_NEAR(c.position[0], 5, 1e-9);
  EXPECT_NEAR(c.position[1], 10, 1e-9);
  EXPECT_NEAR(c.position[2], 15, 1e-9);
  EXPECT_NEAR(c.fov, 80, 1e-9) << "linear";
  ASSERT_TRUE(keyframe_camera(320, &c));
  EXPECT_NEAR(c.position[0], 10 * (3 * 0.0625 - 2 * 0.015625), 1e-9);
  ASSERT_TRUE(keyframe_camera(2000, &c));
  EXPECT_FLOAT_EQ(float(c.position[0]), 10);
  EXPECT_FLOAT_EQ(float(c.fov), 60);
  double R[9];
  trackside_rotation(1.0, 0.2, R);
  for (int i = 0; i < 9; i++) EXPECT_NEAR(c.R[i], R[i], 1e-6);
  camera_keys_clear();
  EXPECT_FALSE(keyframe_camera(0, &c));
}

TEST(RotationFromKey, AYawPitchKeyGivesTheTracksideMatrix) {
  for (double yaw : {-2.5, 0.0, 0.7, 3.0})
    for (double pitch : {-1.2, 0.0, 0.4}) {
      const float p[3] = {0, 0, 0};
      CameraKey k = camera_key_from_yaw_pitch(p, yaw, pitch, 90, 0);
      double a[9], b[9];
      rotation_from_key(k.rotation[0], k.rotation[1], k.rotation[2], k.rotation[3], a);
      trackside_rotation(yaw, pitch, b);
      for (int i = 0; i < 9; i++) EXPECT_NEAR(a[i], b[i], 1e-6) << yaw << " " << pitch;
    }
}

TEST_F(Keyframes, FourKeysMakeAPathWithoutKinks) {
  key(0, 0, 0, 0.0, 0.0, 90, 0);
  key(40, 10, -5, 0.5, 0.1, 90, 100);
  key(50, 30, 20, 1.0, 0.3, 90, 300);
  key(0, 5, 60, 2.0, 0.0, 90, 400);
  const double eps = 1e-3;
  for (int inner : {100, 300}) {
    FrameCamera a, m, b;
    keyframe_camera(inner - eps, &a);
    keyframe_camera(inner, &m);
    keyframe_camera(inner + eps, &b);
    for (int i = 0; i < 3; i++) {
      double left = (m.position[i] - a.position[i]) / eps, right = (b.position[i] - m.position[i]) / eps;
      EXPECT_NEAR(left, right, 1e-3 * (1 + fabs(left))) << "tic " << inner << " axis " << i;
      EXPECT_NEAR(a.position[i], m.position[i], 1e-2);
    }
    for (int i = 0; i < 9; i++) {
      double left = (m.R[i] - a.R[i]) / eps, right = (b.R[i] - m.R[i]) / eps;
      EXPECT_NEAR(left, right, 1e-3 * (1 + fabs(left))) << "tic " << inner << " R" << i;
    }
  }
}

TEST(Ghosts, FadeWithinTheDistance) {
  EXPECT_EQ(ghost_opacity(5, 10), 0);
  EXPECT_FLOAT_EQ(ghost_opacity(7.5, 10), 0.5f);
  EXPECT_EQ(ghost_opacity(10, 10), 1);
  EXPECT_EQ(ghost_opacity(50, 10), 1);
  EXPECT_EQ(ghost_opacity(0, 0), 1) << "no fading";
  EXPECT_EQ(ghost_opacity(3, -4), 1);
}

}  // namespace
