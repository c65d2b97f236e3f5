#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "deform_fixture.h"

namespace {

std::vector<std::vector<uint8_t>> &sent() {
  static std::vector<std::vector<uint8_t>> v;
  return v;
}
void keep(const uint8_t *r, int n) { sent().emplace_back(r, r + n); }

// Records handed on by the wheels are caught instead of being queued.
struct Capture {
  ErodeHooks old = erode_hooks;
  Capture() {
    sent().clear();
    erode_hooks.send = [](const uint8_t *r, int n) {
      keep(r, n);
      return 1;
    };
  }
  ~Capture() { erode_hooks = old; }
  std::vector<DigEntry> decoded(size_t k) const {
    std::vector<DigEntry> e(RUT_ENTRIES);
    int n = erode_decode(sent()[k].data(), int(sent()[k].size()), e.data());
    e.resize(size_t(n));
    return e;
  }
};

WheelRutState with_entries(const std::vector<DigEntry> &e) {
  WheelRutState w{};
  for (size_t i = 0; i < e.size(); i++) {
    w.entries[i] = e[i];
    if (i == 0) continue;
    float dx = e[i].x - e[i - 1].x, dz = e[i].z - e[i - 1].z;
    if (i == 1) {
      w.min_dx = w.max_dx = dx;
      w.min_dz = w.max_dz = dz;
    }
    w.min_dx = std::min(w.min_dx, dx);
    w.max_dx = std::max(w.max_dx, dx);
    w.min_dz = std::min(w.min_dz, dz);
    w.max_dz = std::max(w.max_dz, dz);
  }
  w.entry_count = int(e.size());
  return w;
}

class RutRecord : public ::testing::Test {
 protected:
  DeformGround ground;
  void SetUp() override { ground.build(6, 2.0f); }  // extent 256
};

TEST_F(RutRecord, DecoderReadsWhatTheEncoderMeant) {
  std::mt19937 rng(3);
  auto u = [&rng] { return float(rng() >> 8) / 16777216.0f; };
  struct Case {
    const char *name;
    std::vector<DigEntry> entries;
  };
  std::vector<Case> cases;
  cases.push_back({"one entry", {{100.3f, 37.9f, 0.5f, -0.25f, 15}}});
  {
    Case c{"64 entries, wandering", {}};
    float x = 20, z = 200;
    for (int i = 0; i < 64; i++) {
      c.entries.push_back({x, z, u() * 2 - 1, u() * 2 - 1, int(rng() % 16)});
      x += 0.3f + 1.4f * u();
      z -= 2.0f * u() - 0.4f;
    }
    cases.push_back(c);
  }
  {
    Case c{"flat step range", {}};
    for (int i = 0; i < 40; i++) c.entries.push_back({50 + 0.75f * i, 80 - 0.5f * i, -1, 1, 1});
    cases.push_back(c);
  }
  {
    Case c{"wide steps", {}};
    float x = 10;
    for (int i = 0; i < 20; i++) {
      c.entries.push_back({x, 128, 0, 0, 7});
      x += (i % 2) ? 60.0f : -3.0f;
    }
    cases.push_back(c);
  }
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    WheelRutState w = with_entries(c.entries);
    uint8_t rec[RUT_RECORD_MAX];
    int len = erode_pack(&w, rec);
    ASSERT_EQ(len, 17 + 4 * (int(c.entries.size()) - 1));
    EXPECT_EQ(rec[0], 1);
    DigEntry d[RUT_ENTRIES];
    ASSERT_EQ(erode_decode(rec, len, d), int(c.entries.size()));
    // A step is off by half a byte step at most and errors never add up,
    // because every step is measured from where the decoder already is.
    float tol_x = (w.max_dx - w.min_dx + 0.125f) / 510.0f + 0.0001f;
    float tol_z = (w.max_dz - w.min_dz + 0.125f) / 510.0f + 0.0001f;
    for (size_t i = 0; i < c.entries.size(); i++) {
      const DigEntry &e = c.entries[i];
      EXPECT_NEAR(d[i].x, e.x, tol_x + 0.0001f) << i;
      EXPECT_NEAR(d[i].z, e.z, tol_z + 0.0001f) << i;
      EXPECT_NEAR(d[i].gx, e.gx, 1.0 / 32 + 1e-6) << i;
      EXPECT_NEAR(d[i].gz, e.gz, 1.0 / 32 + 1e-6) << i;
      EXPECT_EQ(d[i].n, e.n) << i;
    }
  }
}

TEST_F(RutRecord, ZeroDigComponentsSurviveExactly) {
  WheelRutState w = with_entries({{10, 10, 0, 0, 3}, {11, 10, 0.0f, -0.0f, 3}});
  uint8_t rec[RUT_RECORD_MAX];
  int len = erode_pack(&w, rec);
  DigEntry d[RUT_ENTRIES];
  ASSERT_EQ(erode_decode(rec, len, d), 2);
  EXPECT_EQ(d[1].gx, 0.0f);
  EXPECT_EQ(d[1].gz, 0.0f);
}

TEST_F(RutRecord, HandMadeBytes) {
  // Flat range: both bounds decode to the same step, every byte says 0.
  std::vector<uint8_t> r = {1, 0x00, 0x82, 0x00, 0x80, 0x00, 0x82, 0x00, 0x80,
                            0xff, 0xff, 0x7f, 0x00, 0x00, 0x00, 0x80 | 3, 0x80 | 3};
  for (int i = 0; i < 3; i++) r.insert(r.end(), {0xff, 0x10, 0xfc, 0x00});
  DigEntry d[RUT_ENTRIES];
  ASSERT_EQ(erode_decode(r.data(), int(r.size()), d), 4);
  float step = 0x8200 / 65535.0f * 2048.0f - 1024.0f;
  float x0 = 0x7fffff / 16777215.0f * 256.0f;
  EXPECT_FLOAT_EQ(d[0].x, x0);
  EXPECT_FLOAT_EQ(d[0].z, 0.0f);
  EXPECT_EQ(d[0].gx, 0.0f);
  EXPECT_EQ(d[0].n, 15);
  EXPECT_FLOAT_EQ(d[3].x, x0 + 3 * step);
  EXPECT_FLOAT_EQ(d[3].z, 3 * (0x8000 / 65535.0f * 2048.0f - 1024.0f));
  EXPECT_FLOAT_EQ(d[1].gx, 63 / 32.0f - 1);
  EXPECT_EQ(d[1].gz, -1.0f);
  EXPECT_EQ(d[1].n, 0);

  // Bad versions and short records carry nothing; a partial entry at the
  // end is ignored.
  EXPECT_EQ(erode_decode(r.data(), 16, d), 0);
  std::vector<uint8_t> v2 = r;
  v2[0] = 2;
  EXPECT_EQ(erode_decode(v2.data(), int(v2.size()), d), 0);
  EXPECT_EQ(erode_decode(r.data(), 20, d), 1);
  EXPECT_EQ(erode_decode(r.data(), 21, d), 2);
}

// ------------------------------------------------------------- the wheel

WheelInput rolling(float x, float z, float vx, float vz, float fx, float fz) {
  WheelInput in{};
  in.position[0] = x;
  in.position[2] = z;
  in.depth = 0.1f;
  in.normal[1] = 1;
  in.velocity[0] = vx;
  in.velocity[2] = vz;
  in.force[0] = fx;
  in.force[1] = 200;
  in.force[2] = fz;
  in.axle[0] = 1;
  return in;
}

TEST_F(RutRecord, DigVectorFollowsTheForce) {
  // Default surface: lower 50, upper 150, off 10 / on 15 units per second,
  // slip scale 1 below 0 slip.
  struct Case {
    float fx, fz, speed;
    int front;
    int digs;
    float length;
  } cases[] = {
      {100, 0, 20, 0, 1, 0.5625f},  // half way from lower to upper
      {0, -150, 20, 0, 1, 1.0f},
      {0, 600, 20, 0, 1, 1.0f},
      {50, 0, 20, 0, 0, 0},         // at erode_lower: nothing
      {200, 0, 12.5f, 0, 1, 0.5625f},  // half the speed factor
      {100, 0, 5, 0, 0, 0},         // below erode_off_speed
  };
  for (const Case &c : cases) {
    WheelInput in = rolling(30, 30, c.speed, 0, c.fx, c.fz);
    float gx = 0, gz = 0;
    ASSERT_EQ(erode_dig_vector(&in, c.front, &gx, &gz), c.digs) << c.fx << " " << c.speed;
    if (!c.digs) continue;
    EXPECT_NEAR(std::hypot(gx, gz), c.length, 1e-5f);
    float f = std::hypot(c.fx, c.fz);
    EXPECT_NEAR(gx / std::hypot(gx, gz), c.fx / f, 1e-5f);
  }
  // Sideways force dropped with a lateral scale of 0; the front scale
  // applies to the front wheel only.
  Surface &s = terrain.surface[0];
  s.erode.s[ERODE_LATERAL_SCALE] = 0;
  s.erode.s[ERODE_FRONT_SCALE] = 0;
  WheelInput in = rolling(30, 30, 20, 0, 150, 150);
  float gx = 0, gz = 0;
  ASSERT_EQ(erode_dig_vector(&in, 0, &gx, &gz), 1);
  EXPECT_NEAR(gz, 0.0f, 1e-6f);
  EXPECT_NEAR(gx, 1.0f, 1e-5f);
  EXPECT_EQ(erode_dig_vector(&in, 1, &gx, &gz), 0);
}

TEST_F(RutRecord, NoHeadingOrNoGroundNoDig) {
  Capture cap;
  WheelRutState w{};
  // Dropping straight down fast with a big force: no horizontal speed.
  WheelInput in = rolling(30, 30, 0, 0, 500, 0);
  in.velocity[1] = -30;
  float gx = 7, gz = 7;
  EXPECT_EQ(erode_dig_vector(&in, 0, &gx, &gz), 0);
  for (int tic = 0; tic < 200; tic++) erode_wheel_update(&w, &in, 0, tic);
  // Nor off the edge of the ground, where the record can't say where.
  for (float x : {-3.0f, 257.0f}) {
    WheelInput off = rolling(x, 30, 20, 0, 150, 0);
    float gx, gz;
    ASSERT_EQ(erode_dig_vector(&off, 0, &gx, &gz), 1);
    for (int tic = 0; tic < 200; tic++) erode_wheel_update(&w, &off, 0, tic);
  }
  EXPECT_EQ(w.sample_count, 0);
  EXPECT_EQ(w.entry_count, 0);
  EXPECT_TRUE(sent().empty());
}

TEST_F(RutRecord, RestingWheelAveragesFifteenSamples) {
  Capture cap;
  WheelRutState w{};
  // Spinning in place: the contact does not move.
  WheelInput in = rolling(40, 40, 20, 0, 150, 0);
  int tic = 0;
  for (; tic < 15 * 65 + 1; tic++) erode_wheel_update(&w, &in, 0, tic);
  ASSERT_EQ(sent().size(), 1u);
  std::vector<DigEntry> e = cap.decoded(0);
  ASSERT_EQ(e.size(), 64u);
  for (const DigEntry &d : e) {
    EXPECT_EQ(d.n, RUT_MAX_SAMPLES);
    EXPECT_NEAR(d.x, 40, 0.001f);
    EXPECT_NEAR(d.gx, 1.0f, 1.0f / 32 + 1e-6f);
  }
  // Lifted: the rest goes out 65 tics after the last entry, then nothing.
  in.depth = 0;
  int last_push = w.last_push_tic;
  for (; tic <= last_push + 64; tic++) erode_wheel_update(&w, &in, 0, tic);
  EXPECT_EQ(sent().size(), 1u);
  erode_wheel_update(&w, &in, 0, tic++);
  ASSERT_EQ(sent().size(), 2u);
  EXPECT_EQ(cap.decoded(1).size(), 2u);  // the pushed entry and the open average
  EXPECT_EQ(w.entry_count, 0);
  EXPECT_EQ(w.sample_count, 0);
  for (int k = 0; k < 300; k++) erode_wheel_update(&w, &in, 0, tic++);
  EXPECT_EQ(sent().size(), 2u);
}

TEST_F(RutRecord, RollingWheelLeavesAnEntryPerUnit) {
  Capture cap;
  WheelRutState w{};
  float x = 10;
  int tic = 0;
  for (; tic < 13 * 64 + 20; tic++) {
    WheelInput in = rolling(x, 100, 20, 0, 150, 0);  // fast enough to dig
    erode_wheel_update(&w, &in, 0, tic);
    x += 10.0f / 128;
  }
  ASSERT_GE(sent().size(), 1u);
  std::vector<DigEntry> e = cap.decoded(0);
  ASSERT_EQ(e.size(), 64u);
  // 10 units per second at 128 tics: 12.8 tics per unit.
  for (size_t i = 1; i < e.size(); i++) {
    EXPECT_NEAR(e[i].x - e[i - 1].x, 1.0f, 0.1f) << i;
    EXPECT_TRUE(e[i].n == 12 || e[i].n == 13) << e[i].n;
  }
}

TEST_F(RutRecord, JumpStartsANewRecord) {
  Capture cap;
  WheelRutState w{};
  int tic = 0;
  auto ride = [&](float x0, int tics) {
    for (int k = 0; k < tics; k++, tic++) {
      WheelInput in = rolling(x0 + 20.0f * k / 128, 50, 20, 0, 150, 0);
      erode_wheel_update(&w, &in, 0, tic);
    }
  };
  ride(10, 100);
  ride(200, 100);  // the rider was put back 180 units further on
  ASSERT_EQ(sent().size(), 1u);
  std::vector<DigEntry> first = cap.decoded(0);
  ASSERT_GE(first.size(), 10u);
  for (const DigEntry &d : first) EXPECT_LT(d.x, 30.0f);
  EXPECT_NEAR(first.back().x, w.entries[0].x - 180, 30);
  EXPECT_GT(w.entries[0].x, 190.0f);
  // The far jump never shows up inside one record.
  for (int i = 1; i < w.entry_count; i++) EXPECT_LT(w.entries[i].x - w.entries[i - 1].x, 2.0f);
}

}  // namespace
