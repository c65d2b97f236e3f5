// The world hash: pinned after one lap of the planned rider on the default
// track, so that a change of compiler, of optimisation or of any physics
// rule that moves a single bit shows; and sensitive to every value it
// covers, in a byte order of its own.
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "core/core.h"
#include "race/world_hash.h"
#include "tests/bike/test_physics_fixture.h"
#include "tools/course/course_rider.h"

// The world after the planned rider's first lap of the generated default
// track from the start gate (stock setup, collision shapes as generated).
// Every build must give this: a deliberate change of the physics, the
// course rider or the generated track updates these in the same commit and
// says why there.
static const char PINNED_LAP_HASH[] = "4b6bd7915419041db8499f29d39ed51a93e20c9e";
static const int PINNED_LAP_TICS = 10566;

static std::string hash_text() {
  char text[41];
  world_hash_text(text);
  return text;
}

// PhysicsTest supplies the generator's collision shapes, so the ride does
// not depend on which data folders the environment happens to point at.
using WorldHashLap = PhysicsTest;

TEST_F(WorldHashLap, PlannedLapOfTheDefaultTrackIsPinned) {
  const GenTrackLayout &layout = gen_track_layout();
  const char *build = getenv("TW_BUILD_DIR");
  std::string dir = std::string(build ? build : ".") + "/" + layout.folder;
  ASSERT_EQ(terrain_load(dir.c_str()), 1) << "the build generates the default track: " << dir;
  Rider *r = create_rider(0, "yz250f(2017)", 1, "1", nullptr, nullptr, nullptr, nullptr);
  ASSERT_NE(r, nullptr);
  course_stock_setup(r, 100, 0);
  place_on_course(r, layout.start_s, 0);
  TicCommand c = rider_current_command(r);
  c.clutch = 1;
  rider_apply_command(r, c);
  course_take_bike(r);
  CoursePlan plan;
  course_plan(layout, CourseStyle(), &plan);
  CourseRider cr;
  for (int tic = 0; tic < 128 * 120; tic++) {
    course_ride(layout, plan, &cr, r, tic, &c);
    if (cr.laps == 1) break;
    rider_apply_command(r, c);
    physics_tic();
  }
  ASSERT_EQ(cr.laps, 1) << "no lap in 120 s";
  EXPECT_EQ(r->crash_count, 0);
  EXPECT_EQ(cr.last_lap_tics, PINNED_LAP_TICS);
  EXPECT_EQ(hash_text(), PINNED_LAP_HASH);
  terrain_free();
}

class WorldHash : public PhysicsTest {
 protected:
  Rider *r = nullptr;
  void SetUp() override {
    PhysicsTest::SetUp();
    ground.build(4, 4.0f, [](float x, float z) { return 0.05f * x - 0.02f * z; }, 1.0f);
    r = place(60, 80);
    ASSERT_NE(r, nullptr);
    TicCommand c = rider_current_command(r);
    c.clutch = c.throttle = 1;
    rider_apply_command(r, c);
    // Moving, spinning and with its wheels on the ground.
    run(64);
    ASSERT_TRUE(wheel_touching(r, 0) || wheel_touching(r, 1));
  }
};

// Every value the hash covers, nudged by one step of its last bit and put
// back: the hash moves, then returns.
TEST_F(WorldHash, FollowsEveryValueItCovers) {
  std::string base = hash_text();
  EXPECT_EQ(hash_text(), base) << "computed twice";
  struct Nudge {
    std::string what;
    std::function<void(int)> apply;  // +1 one step up, -1 back
  };
  auto up = [](double v, int s) { return nextafter(v, s > 0 ? INFINITY : -INFINITY); };
  auto upf = [](float v, int s) { return nextafterf(v, s > 0 ? INFINITY : -INFINITY); };
  std::vector<Nudge> nudges;
  nudges.push_back({"a height sample", [&](int s) {
                      float &h = terrain.heights[17 * terrain.size + 5];
                      h = upf(h, s);
                    }});
  for (int b = 0; b < BODY_PART_COUNT; b++) {
    dBodyID body = r->body[b];
    std::string name = "body " + std::to_string(b);
    nudges.push_back({name + " position", [=](int s) {
                        const dReal *p = dBodyGetPosition(body);
                        dBodySetPosition(body, p[0], up(p[1], s), p[2]);
                      }});
    nudges.push_back({name + " velocity", [=](int s) {
                        const dReal *v = dBodyGetLinearVel(body);
                        dBodySetLinearVel(body, v[0], v[1], up(v[2], s));
                      }});
    nudges.push_back({name + " spin", [=](int s) {
                        const dReal *w = dBodyGetAngularVel(body);
                        dBodySetAngularVel(body, up(w[0], s), w[1], w[2]);
                      }});
  }
  nudges.push_back({"engine speed", [&](int s) { r->engine_speed = up(r->engine_speed, s); }});
  nudges.push_back({"crank phase", [&](int s) { r->phase = up(r->phase, s); }});
  for (int w = 0; w < 2; w++) {
    std::string name = w ? "rear wheel" : "front wheel";
    nudges.push_back({name + " depth", [this, w, upf](int s) {
                        r->wheel[w].depth = upf(r->wheel[w].depth, s);
                      }});
  }
  for (const Nudge &n : nudges) {
    n.apply(1);
    EXPECT_NE(hash_text(), base) << n.what;
    n.apply(-1);
    EXPECT_EQ(hash_text(), base) << n.what << " put back";
  }
  // The tires' learnt load ratios steer the step with strict friction
  // only, and only then are part of the world.
  for (int w = 0; w < 2; w++) {
    float &ratio = r->wheel[w].load_ratio;
    const float was = ratio;
    ratio = nextafterf(ratio, 0);  // down: it is often at its upper limit, 1
    EXPECT_EQ(hash_text(), base) << "load ratio " << w << " with raw friction";
    physics_options.strict_friction = 1;
    std::string strict = hash_text();
    ratio = was;
    EXPECT_NE(hash_text(), strict) << "load ratio " << w << " with strict friction";
    physics_options.strict_friction = 0;
    EXPECT_EQ(hash_text(), base);
  }
  // The rotation is set through the library, which normalises it: a turn
  // of a hair is enough.
  dQuaternion q;
  dBodyCopyQuaternion(r->body[SWINGARM], q);
  dQuaternion turned = {q[0], q[1] + 1e-9, q[2], q[3]};
  dBodySetQuaternion(r->body[SWINGARM], turned);
  EXPECT_NE(hash_text(), base) << "a body's rotation";
}

// The same rider state in another slot, and a second rider, are other
// worlds.
TEST_F(WorldHash, CoversWhichSlotsRide) {
  std::string moving = hash_text();
  destroy_rider(r);
  std::string none = hash_text();
  EXPECT_NE(none, moving);
  // A new rider comes out the same in any slot.
  Rider *a = place(60, 80, 0);
  ASSERT_NE(a, nullptr);
  uint64_t state = rider_state_hash(a, 0);
  std::string in_0 = hash_text();
  destroy_rider(a);
  Rider *b = place(60, 80, 7);
  ASSERT_NE(b, nullptr);
  ASSERT_EQ(rider_state_hash(b, 0), state);
  std::string in_7 = hash_text();
  EXPECT_NE(in_7, in_0) << "the same rider in another slot";
  EXPECT_NE(in_7, none);
  ASSERT_NE(place(60, 80, 0), nullptr);
  std::string both = hash_text();
  EXPECT_NE(both, in_0) << "a second rider";
  EXPECT_NE(both, in_7) << "a second rider";
}

// Heights go in as the little-endian bytes of their floats after the
// sample count, whatever the host keeps in memory.
TEST(WorldHashBytes, HeightsInAFixedOrder) {
  float heights[9] = {0, 1.5f, -2.25f, 3, 1e-30f, -0.0f, 7, 8, 1e30f};
  float *saved = terrain.heights;
  int saved_size = terrain.size;
  terrain.heights = heights;
  terrain.size = 3;
  std::vector<uint8_t> bytes = {3, 0, 0, 0};
  for (float h : heights) {
    uint32_t bits;
    memcpy(&bits, &h, 4);
    for (int i = 0; i < 4; i++) bytes.push_back(uint8_t(bits >> (8 * i)));
  }
  uint8_t expect[20], got[20];
  ripemd160(bytes.data(), bytes.size(), expect);
  world_hash(got);
  EXPECT_EQ(memcmp(got, expect, 20), 0);
  char text[41];
  world_hash_text(text);
  for (int i = 0; i < 20; i++) {
    char pair[3];
    snprintf(pair, sizeof pair, "%02x", expect[i]);
    EXPECT_EQ(std::string(text + 2 * i, 2), pair) << "byte " << i;
  }
  terrain.heights = saved;
  terrain.size = saved_size;
}
