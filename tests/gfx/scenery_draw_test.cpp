// Billboards: the far-to-near order, the texture grouping and its overlap
// test, colour prefixes and the editor's file; statues: companion maps, the
// turn to the camera, distance culling and the chrome pass.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <random>

#include "core/core.h"
#include "gfx/model.h"
#include "gfx/scenery_draw.h"
#include "race/scenery.h"
#include "race/track.h"
#include "terrain/deform.h"
#include "tests/gfx/recording_gl.h"
#include "tests/gfx/test_files.h"

namespace {

class Scenery : public ::testing::Test {
 protected:
  TempDir d;
  void SetUp() override {
    recording_gl_install();
    capture_begin();
    scenery_free();
    scenery_graphics_free();
    model_purge(1);
    scene_settings = SceneSettings();
    // The roost pool's entries come first, hidden.
    for (int i = 0; i < ROOST_PARTICLES; i++) billboard_create(0, 0, 0, 1, 1, nullptr);
  }
  void TearDown() override {
    scenery_graphics_free();
    scenery_free();
    model_purge(1);
    texture_purge(1);
  }
  int plain(float x, float z, int texture, float h = 2, float w = 0.5f) {
    int i = billboard_create(x, 0, z, h, w, nullptr);
    billboards[i].texture = texture;
    return i;
  }
};

// Looking north (-z) from the origin: R's columns right, up, back.
const float NORTH[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};

bool passes(int k, int s, const float c[3], const float R[9]) {
  float rx = R[8], rz = -R[2], l = std::sqrt(rx * rx + rz * rz);
  rx /= l, rz /= l;
  auto span = [&](int i, float *a, float *b) {
    const Billboard &x = billboards[i];
    float hw = x.height * x.width_ratio / 2;
    a[0] = x.x - rx * hw - c[0], a[1] = x.z - rz * hw - c[2];
    b[0] = x.x + rx * hw - c[0], b[1] = x.z + rz * hw - c[2];
  };
  float kl[2], kr[2], sl[2], sr[2];
  span(k, kl, kr), span(s, sl, sr);
  auto cross = [](const float *a, const float *b) { return a[0] * b[1] - a[1] * b[0]; };
  return cross(kr, sl) >= 0 || cross(sr, kl) >= 0;
}

TEST_F(Scenery, RadixOrderAndTheReorderOnRandomScenes) {
  std::mt19937 rng(7);
  std::uniform_real_distribution<float> pos(-200, 200), ang(0, 6.2831853f);
  for (int scene = 0; scene < 20; scene++) {
    scenery_free();
    for (int i = 0; i < ROOST_PARTICLES; i++) billboard_create(0, 0, 0, 1, 1, nullptr);
    for (int i = 0; i < 500; i++) plain(pos(rng), pos(rng), 1 + int(rng() % 4), 1 + float(rng() % 8), 0.5f);
    float a = ang(rng), c = std::cos(a), s = std::sin(a);
    const float R[9] = {c, 0, s, 0, 1, 0, -s, 0, c};
    const float camera[3] = {pos(rng) / 4, 5, pos(rng) / 4};
    std::vector<int> order(size_t(billboard_count) + 1), scratch(order.size());
    int n = billboards_sort(camera, R, order.data(), scratch.data());
    EXPECT_EQ(order[size_t(n)], -1);
    std::vector<int> expected;
    int K = depth_key(camera, R, 0);
    for (int i = 0; i < billboard_count; i++)
      if (billboards[i].texture && billboards[i].depth_key < K) expected.push_back(i);
    std::stable_sort(expected.begin(), expected.end(),
                     [](int x, int y) { return billboards[x].depth_key < billboards[y].depth_key; });
    ASSERT_EQ(std::vector<int>(order.begin(), order.begin() + n), expected);
    for (int lookahead : {0, 1}) {
      std::vector<int> same = order;
      billboards_reorder(same.data(), n, lookahead, camera, R);
      EXPECT_EQ(same, order);
    }
    std::vector<int> grouped = order;
    billboards_reorder(grouped.data(), n, 8, camera, R);
    EXPECT_NE(grouped, order);
    // Every pair now drawn against depth order passes the overlap test.
    std::vector<int> rank(static_cast<size_t>(billboard_count), 0);
    for (int j = 0; j < n; j++) rank[size_t(order[size_t(j)])] = j;
    for (int x = 0; x < n; x++)
      for (int y = x + 1; y < n; y++) {
        int p = grouped[size_t(x)], q = grouped[size_t(y)];
        if (rank[size_t(p)] > rank[size_t(q)]) {
          EXPECT_TRUE(passes(q, p, camera, R)) << q << " jumped by " << p;
        }
      }
  }
}

TEST_F(Scenery, OverlappingNeighboursKeepDepthOrder) {
  // A, B, A one behind the other straight ahead: B hides part of both.
  int a1 = plain(0, -30, 1, 4, 1), b = plain(0, -20, 2, 4, 1), a2 = plain(0, -10, 1, 4, 1);
  const float camera[3] = {0, 2, 0};
  std::vector<int> order(size_t(billboard_count) + 1), scratch(order.size());
  int n = billboards_sort(camera, NORTH, order.data(), scratch.data());
  billboards_reorder(order.data(), n, 8, camera, NORTH);
  EXPECT_EQ(std::vector<int>(order.begin(), order.begin() + 3), (std::vector<int>{a1, b, a2}));
  // Side by side, apart on screen: the two A's are drawn in a row.
  billboards[b].x = 40;
  n = billboards_sort(camera, NORTH, order.data(), scratch.data());
  billboards_reorder(order.data(), n, 8, camera, NORTH);
  EXPECT_EQ(std::vector<int>(order.begin(), order.begin() + 3), (std::vector<int>{a1, a2, b}));
}

TEST_F(Scenery, StrictDepthTestAndDrawing) {
  const float camera[3] = {0, 2, 0};
  plain(3, 0, 5);   // level with the camera: its key equals the camera's
  int front = plain(3, -1, 5);
  plain(0, 3, 6);   // behind
  std::vector<int> order(size_t(billboard_count) + 1), scratch(order.size());
  EXPECT_EQ(billboards_sort(camera, NORTH, order.data(), scratch.data()), 1);
  EXPECT_EQ(order[0], front);
  // A roost particle must lie its own width in front.
  roost_pool.p[0].x = 0, roost_pool.p[0].z = -0.5f, roost_pool.p[0].size = 1, roost_pool.p[0].texture = 7;
  memset(roost_pool.p[0].color, 255, 4);
  roost_pool.p[1] = roost_pool.p[0];
  roost_pool.p[1].z = -1.5f;
  // A wide view from the camera: everything ahead is on the screen.
  twglUseProgram(PROGRAM_UNLIT);  // as the frame has it
  twglMatrixMode(GL_PROJECTION);
  twglLoadIdentity();
  twglFrustum(-1, 1, -1, 1, 0.1f, 100);
  twglMatrixMode(GL_MODELVIEW);
  twglLoadIdentity();
  twglTranslate(-camera[0], -camera[1], -camera[2]);
  scenery_texture_changes = 0;
  rec.calls.clear();
  billboards_draw(camera, NORTH);
  EXPECT_EQ(billboard_frame_count, 2);
  EXPECT_EQ(scenery_texture_changes, 2);
  // Seen from far to the west, the same two take part but are off the
  // right edge.
  twglLoadIdentity();
  twglTranslate(100 - camera[0], -camera[1], -camera[2]);
  scenery_texture_changes = 0;
  rec.calls.clear();
  billboards_draw(camera, NORTH);
  twgl_flush();
  EXPECT_EQ(billboard_frame_count, 2);
  EXPECT_EQ(scenery_texture_changes, 0);
  EXPECT_TRUE(calls_named("DrawArrays").empty());
  roost_pool.p[0] = roost_pool.p[1] = RoostParticle();
}

TEST_F(Scenery, ColourPrefixAndTheEditorFile) {
  int a = billboard_add(1, 0.5f, 2, 3, 0.25f, "#ff8000#cone.png");
  int b = billboard_add(4, 0, 5, 6, 1, "#ff80#cone.png");
  EXPECT_EQ(std::vector<uint8_t>(billboards[a].color, billboards[a].color + 4), (std::vector<uint8_t>{255, 128, 0, 255}));
  EXPECT_STREQ(billboards[a].texture_name, "cone.png");
  EXPECT_STREQ(billboards[b].texture_name, "#ff80#cone.png");
  EXPECT_EQ(billboards[b].color[1], 255);
  first_file_billboard = a;
  std::string home = search_folder(0);
  make_folders((home + "scenerytest/").c_str());
  ASSERT_TRUE(billboards_save("scenerytest"));
  char *text = file_to_string("@scenerytest/billboards");
  ASSERT_TRUE(text);
  EXPECT_STREQ(text, "[1.000000 0.500000 2.000000] 3.000000 0.250000 #ff8000#cone.png\n"
                     "[4.000000 0.000000 5.000000] 6.000000 1.000000 #ff80#cone.png\n");
  // Read back: the same records.
  int before = billboard_count;
  DataFile *f = data_open_memory(text, int(strlen(text)), 0);
  billboards_read(f);
  data_close(f);
  mem_free(text);
  ASSERT_EQ(billboard_count, before + 2);
  EXPECT_EQ(memcmp(billboards[before].color, billboards[a].color, 4), 0);
  EXPECT_STREQ(billboards[before + 1].texture_name, "#ff80#cone.png");
  EXPECT_EQ(billboards[before].y_offset, 0.5f);

  statue_create(1, 0, 2, 0.5f, "shed.jm", nullptr, nullptr);
  first_file_statue = 0;
  ASSERT_TRUE(statues_save("scenerytest"));
  text = file_to_string("@scenerytest/statues");
  EXPECT_STREQ(text, "[1.000000 0.000000 2.000000] 0.500000 shed.jm null null\n");
  mem_free(text);
  remove((home + "scenerytest/billboards").c_str());
  remove((home + "scenerytest/statues").c_str());
  remove((home + "scenerytest").c_str());
}

TEST_F(Scenery, CompanionMapsInOrder) {
  char names[6][1024];
  ASSERT_EQ(companion_candidates("shed.png", "shed.jm", "_norm", names), 6);
  const char *expected[6] = {"shed_norm.seq", "shed_norm.png", "shed_norm.ppm", "shed_norm.seq", "shed_norm.png", "shed_norm.ppm"};
  for (int i = 0; i < 6; i++) EXPECT_STREQ(names[i], expected[i]);
  ASSERT_EQ(companion_candidates("@walls/brick-repeat.png", "@hut.jm", "_spec", names), 6);
  EXPECT_STREQ(names[0], "@walls/brick_spec-repeat.seq");
  EXPECT_STREQ(names[2], "@walls/brick_spec-repeat.ppm");
  EXPECT_STREQ(names[3], "@hut_spec.seq");
  EXPECT_EQ(companion_candidates("noext", "hut.jm", "_norm", names), 0);
}

TEST_F(Scenery, StatueTurnCullingAndChrome) {
  const std::string tri = " 3 1\n0 0 0 0 0 1 0 0\n1 0 0 0 0 1 1 0\n0 1 0 0 0 1 0 1\n0 1 2\n";
  d.write("box.jm", "JM1\n32 0 1 1 1" + tri);
  d.write("chrome.jm", "JM1\n32 0 1 1 1" + tri + "-1 1 1 1 1" + tri);
  auto px = ppm_of(4, 4, [](int, int, int) { return uint8_t(200); });
  d.write("box.ppm", px);
  d.write("box_norm.ppm", px);
  int lit = statue_add(0, 0, -100, 4, d.path("box.jm").c_str(), d.path("box.ppm").c_str(), nullptr);
  statue_add(0, 0, -700, 0, d.path("chrome.jm").c_str(), d.path("box.ppm").c_str(), nullptr);
  ASSERT_EQ(statue_graphics_count, 2);
  EXPECT_NE(statue_graphics[lit].normal_map, 0u);
  EXPECT_EQ(statue_graphics[lit].specular_map, 0u);
  EXPECT_EQ(statues[lit].facing_distance, 16);
  scene_settings.lod_scale = 1, scene_settings.lod_bias = 0;
  // Nearer than its facing distance: the orientation stays.
  float near_cam[3] = {10, 0, -100};
  statues_draw(near_cam);
  EXPECT_EQ(statues[lit].orientation[0], 1);
  // Beyond it: local +z turns towards the camera; straight above keeps it.
  float east[3] = {30, 0, -100};
  statues_draw(east);
  EXPECT_NEAR(statues[lit].orientation[2], 1, 1e-6);   // row 0: (dz/d, 0, dx/d)
  EXPECT_NEAR(statues[lit].orientation[6], -1, 1e-6);  // row 2: (-dx/d, 0, dz/d)
  float above[3] = {0, 50, -100};
  statues_draw(above);
  EXPECT_NEAR(statues[lit].orientation[2], 1, 1e-6);
  for (float v : statues[lit].orientation) EXPECT_TRUE(std::isfinite(v));

  // A camera at the origin looking north, both statues ahead of it.
  twglMatrixMode(GL_PROJECTION);
  twglLoadIdentity();
  twglFrustum(-1, 1, -1, 1, 1, 5000);
  twglMatrixMode(GL_MODELVIEW);
  twglLoadIdentity();
  float origin[3] = {0, 0, 0};
  struct Case {
    float detail;
    int reflections;
    int draws;  // lit draws + chrome draws
  } cases[] = {{50, 1, 3}, {50, 0, 2}, {5, 1, 1}, {0, 1, 0}};
  for (const Case &c : cases) {
    scene_settings.model_detail = c.detail;
    scene_settings.reflections = c.reflections;
    rec.calls.clear();
    statues_draw(origin);
    EXPECT_EQ(int(calls_named("DrawElements").size()), c.draws) << c.detail << " " << c.reflections;
  }
}

// World labels: only those at least 2 units ahead get a bubble, the
// farthest first, with the depth test off while they are drawn.
TEST_F(Scenery, LabelsInFrontOnlyFarthestFirst) {
  labels_clear();
  twglUseProgram(PROGRAM_UNLIT);  // as the frame has it
  const float camera[3] = {0, 1, 0};
  label_add(0, 1, -10, "near");       // one line
  label_add(0, 1, -30, "far\nline");  // two lines: the bubble's tip is higher
  label_add(0, 1, 10, "behind");
  label_add(0, 1, -1.5f, "too close");
  EXPECT_FLOAT_EQ(label_last_distance(0, 1, 0), 1.5f);
  rec.calls.clear();
  labels_draw(camera, NORTH);
  twgl_flush();
  std::vector<float> tips;  // the first fan vertex is (0, L / 2 + 1)
  for (const std::string &c : calls_named("DrawArrays")) {
    int mode, first, count;
    ASSERT_EQ(sscanf(c.c_str(), "DrawArrays %d %d %d", &mode, &first, &count), 3);
    if (mode != GL_TRIANGLE_FAN) continue;
    EXPECT_EQ(count, 9);
    tips.push_back(rec.vertices[size_t(first) * 12 + 1]);
  }
  EXPECT_EQ(tips, (std::vector<float>{2, 1.5f}));
  auto at = [&](const char *call) {
    return std::find(rec.calls.begin(), rec.calls.end(), call) - rec.calls.begin();
  };
  auto fan = std::find_if(rec.calls.begin(), rec.calls.end(),
                          [](const std::string &c) { return c.rfind("DrawArrays 6 ", 0) == 0; }) - rec.calls.begin();
  EXPECT_LT(at("Disable 0xb71"), fan);  // GL_DEPTH_TEST
  EXPECT_GT(at("Enable 0xb71"), fan);

  // Looking the other way only the one behind shows; none once cleared.
  const float SOUTH[9] = {-1, 0, 0, 0, 1, 0, 0, 0, -1};
  rec.calls.clear();
  labels_draw(camera, SOUTH);
  twgl_flush();
  EXPECT_EQ(calls_named("DrawArrays 6 ").size(), 1u);
  labels_clear();
  rec.calls.clear();
  labels_draw(camera, NORTH);
  twgl_flush();
  EXPECT_TRUE(calls_named("DrawArrays").empty());
  EXPECT_EQ(label_last_distance(0, 0, 0), 1000000);
}

}  // namespace
