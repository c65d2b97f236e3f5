// One frame of the world against the recording GL table: the passes'
// order and the state each runs in, plain drawing, an empty drawable, and
// that drawing leaves the simulation exactly as it found it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "bike/rider.h"
#include "core/core.h"
#include "gfx/camera_math.h"
#include "gfx/frame.h"
#include "gfx/gfx.h"
#include "gfx/rider_draw.h"
#include "gfx/lighting.h"
#include "gfx/model.h"
#include "race/race.h"
#include "race/timing.h"
#include "race/world_hash.h"
#include "tests/bike/test_physics_fixture.h"
#include "tests/gfx/recording_gl.h"

namespace {

class Frame : public PhysicsTest {
 protected:
  Lighting saved_lighting;
  void SetUp() override {
    PhysicsTest::SetUp();
    ground.build(4, 8, [](float x, float z) { return 0.05f * x + 0.02f * z; }, 1);
    recording_gl_install();
    saved_lighting = lighting;
    frame_settings = FrameSettings();
    frame_settings.width = 1280;
    frame_settings.height = 720;
    // A checkpoint marks the call list once everything before it reached GL.
    frame_settings.checkpoint = [](const char *label) {
      twgl_flush();
      rec.calls.push_back(std::string("checkpoint ") + label);
    };
    // Riders get their models at creation, as in a game with a window.
    rider_graphics_install();
    for (int s = 0; s < 3; s++) {
      ASSERT_NE(create_rider(s, "yz250f(2017)", 1, "1", nullptr, nullptr, nullptr, nullptr), nullptr);
      rider_roles[s] = s == 0 ? ROLE_LOCAL : ROLE_ROBOT;
      move_rider(rider_in_slot(s), 10 + 8 * s, 3, 20);
    }
  }
  void TearDown() override {
    for (int s = 0; s < RIDER_SLOTS; s++) {
      if (Rider *r = rider_in_slot(s)) destroy_rider(r);
      rider_roles[s] = ROLE_REPLAYED;
    }
    model_purge(1);
    texture_purge(1);
    lighting = saved_lighting;
    frame_settings = FrameSettings();
    PhysicsTest::TearDown();
  }
  void draw(int own_slot = 0) {
    const float pos[3] = {0, 20, 0};
    double Rd[9];
    trackside_rotation(0.6, -0.2, Rd);
    float R[9];
    for (int i = 0; i < 9; i++) R[i] = float(Rd[i]);
    draw_world(pos, R, 110, own_slot);
    twgl_flush();
  }
  int index_of(const std::string &call, int from = 0) {
    for (size_t i = size_t(from); i < rec.calls.size(); i++)
      if (rec.calls[i] == call) return int(i);
    return -1;
  }
  // The last call starting with `prefix` before index `before`.
  std::string last_before(const char *prefix, int before) {
    for (int i = before - 1; i >= 0; i--)
      if (rec.calls[size_t(i)].rfind(prefix, 0) == 0) return rec.calls[size_t(i)];
    return "";
  }
  int draws_between(int a, int b) {
    int n = 0;
    for (int i = a + 1; i < b; i++) n += rec.calls[size_t(i)].rfind("Draw", 0) == 0;
    return n;
  }
};

TEST_F(Frame, PassesRunInOrderWithTheirDepthState) {
  lighting.fog_density = 0.002f;
  draw();
  const char *labels[] = {"js", "rendertex", "drawterrain", "drawbikes", "drawstatues", "drawbillboards",
                          "drawghosts"};
  int at[7], prev = -1;
  for (int i = 0; i < 7; i++) {
    at[i] = index_of(std::string("checkpoint ") + labels[i]);
    ASSERT_GT(at[i], prev) << labels[i];
    prev = at[i];
  }
  // The ground: no depth test to speak of, depth writes on.
  EXPECT_EQ(last_before("DepthFunc", at[2]), "DepthFunc 0x207");
  EXPECT_EQ(last_before("DepthMask", at[2]), "DepthMask 1");
  EXPECT_GE(draws_between(at[1], at[2]), 1);
  // Riders against it.
  EXPECT_EQ(last_before("DepthFunc", at[3]), "DepthFunc 0x203");
  char lit[32];
  snprintf(lit, sizeof lit, "UseProgram %u", twgl_program_objects[PROGRAM_NORM_SPEC_LIT]);
  int riders = index_of(lit, at[2]);
  EXPECT_TRUE(riders > at[2] && riders < at[3]) << "the riders, lit, between the ground and the statues";
  // Fog on program 1 after the sky, off again after the world passes.
  int sky = index_of("Clear 0x100");
  ASSERT_GE(sky, 0) << "depth only: the sky covers the picture";
  int fog_on = index_of("FogDensity 0.002"), fog_off = index_of("FogDensity 0");
  ASSERT_GT(fog_on, sky);
  EXPECT_GE(draws_between(sky, fog_on), 1) << "the sky is drawn before the fog";
  EXPECT_GT(fog_off, at[6]);
  auto program_at = [&](int at) {  // the program whose variant is bound there
    unsigned object = 0;
    sscanf(last_before("UseProgram", at).c_str(), "UseProgram %u", &object);
    return twgl_program_of_object(object);
  };
  EXPECT_EQ(program_at(fog_on), PROGRAM_UNLIT);
  EXPECT_EQ(program_at(fog_off), PROGRAM_UNLIT);
  EXPECT_EQ(draws_between(fog_off, int(rec.calls.size())), 0) << "nothing of the world after";
  EXPECT_EQ(last_before("DepthFunc", int(rec.calls.size())), "DepthFunc 0x207");
  EXPECT_GT(render_stats.program_switches, 0);
  EXPECT_GT(render_stats.texture_changes, 0);
}

TEST_F(Frame, PlainDrawingClearsAndDrawsNoSky) {
  lighting.sky_n = lighting.sky_e = lighting.sky_s = lighting.sky_w = lighting.sky_u = 901;
  draw();
  int with_sky = draws_between(index_of("Clear 0x100"), index_of("checkpoint drawterrain"));
  rec.calls.clear();
  frame_settings.fugly = 1;
  draw();
  int clear = index_of("Clear 0x4100");
  ASSERT_GE(clear, 0) << "colour and depth";
  EXPECT_EQ(index_of("Clear 0x100"), -1);
  EXPECT_EQ(index_of("BindTexture 0xde1 901"), -1);
  int terrain = index_of("checkpoint drawterrain");
  EXPECT_LT(draws_between(clear, terrain), with_sky) << "the ground alone";
}

TEST_F(Frame, AnEmptyDrawableDrawsNothing) {
  frame_settings.height = 0;
  draw();
  for (const std::string &c : rec.calls) {
    EXPECT_NE(c.rfind("Draw", 0), 0u) << c;
    EXPECT_NE(c.rfind("Clear", 0), 0u) << c;
    EXPECT_NE(c.rfind("Viewport", 0), 0u) << c;
  }
}

TEST_F(Frame, ReplayedRidersFadeNearThePlayer) {
  rider_roles[1] = rider_roles[2] = ROLE_REPLAYED;
  frame_settings.ghost_fade_distance = 20;  // riders 8 and 16 ft from the player
  draw();
  EXPECT_EQ(rider_opacity[0], 1);
  EXPECT_NEAR(rider_opacity[1], 0, 1e-6);
  EXPECT_NEAR(rider_opacity[2], 0.6, 1e-3);
  EXPECT_EQ(rider_opacity[3], 0) << "no rider";
  frame_settings.connected = [] { return 1; };
  draw();
  EXPECT_EQ(rider_opacity[1], 1) << "no ghosts on a server";
}

// What a frame could disturb: the bodies, the heights, the race's timing
// and the shared random numbers.
std::string simulation_digest() {
  uint8_t h[20];
  world_hash(h);
  std::string s(reinterpret_cast<const char *>(h), 20);
  for (int slot = 0; slot < RIDER_SLOTS; slot++) {
    const RiderTiming &t = rider_timing[slot];
    s += std::to_string(t.progress) + ":" + std::to_string(t.finished) + ":";
    for (int c : t.crossing_times) s += std::to_string(c) + ",";
  }
  for (int k = 0; k < running_count; k++) s += std::to_string(running_order[k]) + " ";
  s += std::to_string(race_now_tic()) + " " + std::to_string(race_drop_tic());
  return s;
}

TEST_F(Frame, DrawingChangesNothing) {
  update_running_order();
  frame_settings.verbosity = 2;
  frame_settings.lens_flare = 1;
  lighting.fog_density = 0.001f;
  for (int own : {0, -1}) {  // the rider's eyes; chase and trackside cameras
    rng_seed(77);
    std::string before = simulation_digest();
    draw(own);
    draw(own);
    EXPECT_EQ(simulation_digest(), before) << own;
    std::mt19937 fresh(77);
    EXPECT_EQ(rng_next(), uint32_t(fresh())) << "no random numbers drawn";
  }
}

}  // namespace
