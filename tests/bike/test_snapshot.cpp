// The 39-byte rider state snapshot: its layout, its precision, and posing a
// rider from it against the simulated rider it was taken from.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "bike/snapshot.h"
#include "test_physics_fixture.h"

namespace {

const double PI = 3.14159265358979323846;
const SnapshotScale SCALE = {1000, -10, 0.5, 1.0};

TEST(Snapshot, HandMadeBytesDecodeToTheirFields) {
  const uint8_t bytes[SNAPSHOT_BYTES] = {
      0x00, 0x00, 0x80,  // x: 2^23
      0xff, 0xff, 0xff,  // y: the top
      0x00, 0x00, 0x00,  // z: 0
      0xff, 0xff, 0x00, 0x80, 0x00, 0x80, 0x00, 0x80,  // identity
      0x80,              // steering
      0x81,              // rear, bit 0 set
      0x41,              // front: bit 0 is not part of the value
      0x00, 0x00, 0x00, 0x80, 0xff, 0xff,  // rider offset
      0x00, 0x80, 0xff, 0xff, 0x00, 0x80, 0x00, 0x80,  // rider turned about x by pi
      0x00, 0xff,        // wheels at -pi and +pi
      0x5b,              // gear 3, dab, throttle 5/15
      0x00, 0x10,        // 4096
  };
  SnapshotFields f;
  snapshot_decode(bytes, SCALE, &f);
  EXPECT_NEAR(f.position[0], 8388608.0 / 16777215 * 1000, 1e-9);
  EXPECT_NEAR(f.position[1], 1000 - 10, 1e-9);
  EXPECT_EQ(f.position[2], 0);
  EXPECT_NEAR(f.orientation[0], 1, 1e-9);
  for (int k = 1; k < 4; k++) EXPECT_NEAR(f.orientation[k], 0, 2e-5);
  EXPECT_NEAR(f.steering, 128 / 255.0 * PI / 2 - PI / 4, 1e-12);
  EXPECT_NEAR(f.rear_suspension, 129 / 255.0 * 0.5 - 0.5, 1e-12);
  EXPECT_EQ(f.rear_exact, 1);
  EXPECT_NEAR(f.front_suspension, 64 / 255.0 - 1, 1e-12);
  EXPECT_NEAR(f.rider_offset[0], -16, 1e-12);
  EXPECT_NEAR(f.rider_offset[1], 32768 / 2047.96875 - 16, 1e-12);
  EXPECT_NEAR(f.rider_offset[2], 16, 1e-12);
  EXPECT_NEAR(std::fabs(f.rider_orientation[1]), 1, 1e-9);
  EXPECT_NEAR(f.wheel_angle[0], -PI, 1e-12);
  EXPECT_NEAR(f.wheel_angle[1], PI, 1e-12);
  EXPECT_EQ(f.gear, 3);
  EXPECT_EQ(f.dab, 1);
  EXPECT_FLOAT_EQ(f.throttle, 5 / 15.0f);
  EXPECT_EQ(f.down, 0);
  EXPECT_NEAR(f.rpm, 4096 / 1.9999695, 1e-9);

  uint8_t down[SNAPSHOT_BYTES];
  memcpy(down, bytes, sizeof down);
  down[36] = 0xf7;
  snapshot_decode(down, SCALE, &f);
  EXPECT_EQ(f.down, 128);
  down[36] = 0x07;
  snapshot_decode(down, SCALE, &f);
  EXPECT_EQ(f.down, 1);
}

SnapshotFields state(double x, double y, double z, double steer, double rear, double front,
                     int gear, float throttle, int down, double rpm) {
  SnapshotFields f{};
  f.position[0] = x;
  f.position[1] = y;
  f.position[2] = z;
  double q[4] = {0.8, 0.2, -0.5, 0.2595};
  double n = std::sqrt(q[0] * q[0] + q[1] * q[1] + q[2] * q[2] + q[3] * q[3]);
  for (int k = 0; k < 4; k++) f.orientation[k] = f.rider_orientation[k] = q[k] / n;
  f.steering = steer;
  f.rear_suspension = rear;
  f.front_suspension = front;
  f.rider_offset[0] = 0.3;
  f.rider_offset[1] = 2.1;
  f.rider_offset[2] = -0.7;
  f.wheel_angle[0] = 2.5;
  f.wheel_angle[1] = -3.0;
  f.gear = gear;
  f.throttle = throttle;
  f.down = down;
  f.rpm = rpm;
  return f;
}

TEST(Snapshot, EncodeThenDecodeKeepsHalfAStep) {
  struct Case {
    SnapshotFields in;
    double x, y, z, steer, rear, front, rpm;  // expected after clamping
  } cases[] = {
      {state(500, 20, 250, 0.3, -0.2, -0.4, 3, 0.6f, 0, 9000), 500, 20, 250, 0.3, -0.2, -0.4,
       9000},
      // Everything beyond its range lands on the range's end.
      {state(-5, -50, 2000, 2, 1, -3, 6, 1, 0, 40000), 0, -10, 1000, PI / 4, 0, -1, 32768},
      {state(1000, 990, 0, -2, -0.6, 0.2, 1, 0, 0, 0), 1000, 990, 0, -PI / 4, -0.5, 0, 0},
      {state(10, 0, 10, 0, 0, 0, 1, 0, 100, 32768), 10, 0, 10, 0, 0, 0, 32768},
  };
  for (const Case &c : cases) {
    uint8_t b[SNAPSHOT_BYTES];
    snapshot_encode(c.in, SCALE, b);
    SnapshotFields f;
    snapshot_decode(b, SCALE, &f);
    EXPECT_NEAR(f.position[0], c.x, 0.5 * 1000 / 16777215.0 + 1e-9);
    EXPECT_NEAR(f.position[1], c.y, 0.5 * 1000 / 16777215.0 + 1e-9);
    EXPECT_NEAR(f.position[2], c.z, 0.5 * 1000 / 16777215.0 + 1e-9);
    for (int k = 0; k < 4; k++) {
      EXPECT_NEAR(f.orientation[k], c.in.orientation[k], 1 / 32767.5);
      EXPECT_NEAR(f.rider_orientation[k], c.in.rider_orientation[k], 1 / 32767.5);
    }
    EXPECT_NEAR(f.steering, c.steer, 0.5 * (PI / 2) / 255 + 1e-12);
    // Bit 0 of the rear is always set: up to a whole step off.
    EXPECT_NEAR(f.rear_suspension, c.rear, 0.5 / 255 + 1e-12);
    EXPECT_EQ(f.rear_exact, 1);
    // The front's bit 0 is not stored: a whole step.
    EXPECT_NEAR(f.front_suspension, c.front, 1.0 / 255 + 1e-12);
    for (int k = 0; k < 3; k++)
      EXPECT_NEAR(f.rider_offset[k], c.in.rider_offset[k], 0.5 / 2047.96875);
    EXPECT_NEAR(f.wheel_angle[0], 2.5, PI / 255 + 1e-12);
    EXPECT_NEAR(f.wheel_angle[1], -3.0, PI / 255 + 1e-12);
    EXPECT_NEAR(f.rpm, c.rpm, 0.5 / 1.9999695);
    if (c.in.down) {
      EXPECT_EQ(f.down, (99 * 15 / 127) * 127 / 15 + 1);
    } else {
      EXPECT_EQ(f.down, 0);
      EXPECT_EQ(f.gear, c.in.gear);
      EXPECT_NEAR(f.throttle, c.in.throttle, 0.5 / 15);
    }
  }
}

TEST(Snapshot, NearZeroQuaternionsComeBackAsTheIdentity) {
  uint8_t b[SNAPSHOT_BYTES] = {};
  for (int at : {9, 26})
    for (int k = 0; k < 4; k++) {
      b[at + 2 * k] = 0x00;
      b[at + 2 * k + 1] = 0x80;  // 32768: a hair above zero
    }
  SnapshotFields f;
  snapshot_decode(b, SCALE, &f);
  EXPECT_EQ(f.orientation[0], 1);
  EXPECT_EQ(f.rider_orientation[0], 1);
  for (int k = 1; k < 4; k++) EXPECT_EQ(f.orientation[k], 0);
  // A short one is stretched to unit length.
  SnapshotFields g = state(1, 1, 1, 0, 0, 0, 0, 0, 0, 0);
  for (double &c : g.orientation) c *= 0.5;
  snapshot_encode(g, SCALE, b);
  snapshot_decode(b, SCALE, &f);
  double n = 0;
  for (double c : f.orientation) n += c * c;
  EXPECT_NEAR(n, 1, 1e-12);
}

TEST(Snapshot, BlendWrapsTheWheelsAndExtrapolatesOnlyThePosition) {
  uint8_t a[SNAPSHOT_BYTES], b[SNAPSHOT_BYTES], out[SNAPSHOT_BYTES];
  snapshot_encode(state(100, 0, 100, 0, -0.1, -0.2, 2, 0.5f, 0, 5000), SCALE, a);
  snapshot_encode(state(110, 0, 100, 0.2, -0.3, -0.2, 3, 1, 0, 7000), SCALE, b);
  a[34] = 250;  // just short of +pi
  b[34] = 5;    // just past -pi: ten steps on
  a[35] = 100;
  b[35] = 60;   // 40 back: more than an eighth, so 215 forward
  snapshot_blend(a, b, 0.5, out);
  EXPECT_EQ(out[34], 0);  // 252.5 wraps to -2.5 steps: rounds to 255 or 0
  EXPECT_NEAR(out[35], 100 + 107.5 - 255 + 255 * (100 + 107.5 >= 255 ? 0 : 1), 0.5);
  EXPECT_EQ(out[36], a[36]);
  EXPECT_EQ(out[18] & 1, 0);
  SnapshotFields f;
  snapshot_decode(out, SCALE, &f);
  EXPECT_NEAR(f.position[0], 105, 1e-3);
  EXPECT_NEAR(f.rpm, 6000, 1);
  // Past b the position runs on; the rest holds at b.
  snapshot_blend(a, b, 1.5, out);
  snapshot_decode(out, SCALE, &f);
  EXPECT_NEAR(f.position[0], 115, 1e-3);
  EXPECT_NEAR(f.rpm, 7000, 1);
  EXPECT_NEAR(f.steering, 0.2, PI / 255);
}

// ------------------------------------------------------------ posing

double dist(const dReal *a, const double *b) {
  return std::sqrt((a[0] - b[0]) * (a[0] - b[0]) + (a[1] - b[1]) * (a[1] - b[1]) +
                   (a[2] - b[2]) * (a[2] - b[2]));
}

TEST_F(PhysicsTest, APosedRiderStandsWhereItsSourceStood) {
  ground.build(7, 2.0f, [](float x, float z) { return 0.3f * std::sin(x * 0.2f) + 0.02f * z; },
               1.0f);
  terrain.min_height = -5;
  Rider *src = place(200, 400);
  ASSERT_NE(src, nullptr);
  Rider *copy = create_rider(1, "yz250f(2017)", 0, "2", nullptr, nullptr, nullptr, nullptr);
  ASSERT_NE(copy, nullptr);
  move_rider(copy, 50, 0, 0);  // out of the way
  set_local_simulation_weight(copy, 0);
  TicCommand c = rider_current_command(src);
  c.throttle = 0.7f;
  c.clutch = 1;
  c.shift = 1;
  rider_apply_command(src, c);
  for (int t = 0; t < 300; t++) {
    c.shift = t == 100 ? 1 : 0;
    c.steering = t > 150 ? 0.4f : 0;
    rider_apply_command(src, c);
    run(1);
  }
  uint8_t a[SNAPSHOT_BYTES], b[SNAPSHOT_BYTES];
  double before[BODY_PART_COUNT][3];
  snapshot_from_rider(src, a);
  for (int i = 0; i < BODY_PART_COUNT; i++)
    memcpy(before[i], dBodyGetPosition(src->body[i]), sizeof before[i]);
  run(4);
  snapshot_from_rider(src, b);
  rider_pose_from_snapshot(copy, b, a, b, 4);

  // Quantisation: 2^-24 of the extent, 2^-15 of each quaternion component
  // over a body's reach, a 255th of the joints' ranges times their arms.
  for (int i = 0; i < BODY_PART_COUNT; i++) {
    const dReal *p = dBodyGetPosition(copy->body[i]);
    double want[3];
    memcpy(want, dBodyGetPosition(src->body[i]), sizeof want);
    EXPECT_LT(dist(p, want), 0.03) << "body " << i;
    const dReal *rs = dBodyGetRotation(src->body[i]), *rc = dBodyGetRotation(copy->body[i]);
    if (i != FRONT_WHEEL && i != REAR_WHEEL) {
      for (int k = 0; k < 12; k++)
        if (k % 4 != 3) {
          EXPECT_NEAR(rc[k], rs[k], 0.02) << "body " << i << " element " << k;
        }
    }
    const dReal *v = dBodyGetLinearVel(copy->body[i]);
    for (int k = 0; k < 3; k++)
      EXPECT_NEAR(v[k], (want[k] - before[i][k]) / (4 * TIC_SECONDS), 1.0) << "body " << i;
  }
  // The joints read back what was recorded.
  EXPECT_NEAR(dJointGetHingeAngle(copy->joint[JOINT_STEERING]),
              dJointGetHingeAngle(src->joint[JOINT_STEERING]), 0.01);
  EXPECT_NEAR(dJointGetHingeAngle(copy->joint[JOINT_SWINGARM]),
              dJointGetHingeAngle(src->joint[JOINT_SWINGARM]), 0.01);
  EXPECT_NEAR(dJointGetSliderPosition(copy->joint[JOINT_FORK]),
              dJointGetSliderPosition(src->joint[JOINT_FORK]), 0.01);
  for (int j : {JOINT_FRONT_AXLE, JOINT_REAR_AXLE}) {
    double d = std::remainder(dJointGetHingeAngle(copy->joint[j]) -
                                  dJointGetHingeAngle(src->joint[j]), 2 * PI);
    EXPECT_NEAR(d, 0, 0.02) << "axle " << j;
  }
  EXPECT_EQ(copy->gear, src->gear);
  EXPECT_NEAR(copy->engine_speed, src->engine_speed, 1);
}

}  // namespace
