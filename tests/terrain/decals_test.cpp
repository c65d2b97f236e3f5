#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "deform_fixture.h"
#include "fixture.h"

namespace {

// Texture ids for the names the test pretends exist.
std::map<std::string, int> &textures() {
  static std::map<std::string, int> t;
  return t;
}
int fake_texture(const char *name) {
  auto it = textures().find(name);
  return it == textures().end() ? 0 : it->second;
}

class Decals : public ::testing::Test {
 protected:
  DeformGround ground;
  TempDir dir;
  TerrainHooks old = terrain_hooks;
  void SetUp() override {
    ground.build(5, 1.0f);  // extent 64: buckets of 8
    textures() = {{"line.png", 1}, {"line_tnorm.ppm", 2}, {"logo.png", 3}, {"logo_tspec.png", 4},
                  {"pics/mud", 5}};
    terrain_hooks.load_texture = fake_texture;
    decals_hidden = 0;
  }
  void TearDown() override {
    decals_free();
    terrain_hooks = old;
    decals_hidden = 0;
  }
  std::vector<int> in_rect(float x0, float z0, float x1, float z1) {
    const int *list = nullptr;
    int n = decals_in_rect(x0, z0, x1, z1, &list);
    return std::vector<int>(list, list + n);
  }
};

TEST_F(Decals, FileReadingSkipsMissingTexturesAndStopsAtBadLines) {
  dir.write("decals",
            "[10 20] 0 2 3 line.png\n"
            "[ 5.5 6 ] 1.5 1 1 nothere.png\n"
            "[30 30] 0.5 4 0.5 logo.png\n"
            "[40 40] nan 4 1 logo.png\n"
            "[1 1] 0 1 1 pics/mud\n"
            "[2 2] 0 1\n"
            "[3 3] 0 1 1 line.png\n");
  ASSERT_EQ(decals_load_dir(dir.path.c_str()), 1);
  EXPECT_NE(terrain.decals, nullptr);
  ASSERT_EQ(decal_count, 3);
  const Decal &a = decals[0], &b = decals[1], &c = decals[2];
  EXPECT_EQ(a.texture, 1);
  EXPECT_EQ(a.normal_texture, 2);  // the ".ppm" companion when no ".png"
  EXPECT_EQ(a.spec_texture, 0);
  EXPECT_FLOAT_EQ(a.aspect, 3);
  EXPECT_EQ(b.texture, 3);
  EXPECT_EQ(b.spec_texture, 4);
  EXPECT_FLOAT_EQ(b.sin_angle, sinf(0.5f));
  EXPECT_FLOAT_EQ(b.cos_angle, cosf(0.5f));
  EXPECT_STREQ(c.name, "pics/mud");

  // Written back and read again, the same decals.
  ASSERT_EQ(decals_save_dir(dir.path.c_str()), 1);
  std::vector<Decal> before(decals, decals + decal_count);
  decals_free();
  EXPECT_EQ(terrain.decals, nullptr);
  ASSERT_EQ(decals_load_dir(dir.path.c_str()), 1);
  ASSERT_EQ(decal_count, 3);
  for (int i = 0; i < 3; i++) {
    EXPECT_STREQ(decals[i].name, before[size_t(i)].name);
    EXPECT_FLOAT_EQ(decals[i].x, before[size_t(i)].x);
    EXPECT_FLOAT_EQ(decals[i].angle, before[size_t(i)].angle);
    EXPECT_EQ(decals[i].normal_texture, before[size_t(i)].normal_texture);
  }
}

TEST_F(Decals, NoFileStillMakesEmptyLists) {
  ASSERT_EQ(decals_load_dir(dir.path.c_str()), 1);
  EXPECT_NE(terrain.decals, nullptr);
  EXPECT_EQ(decal_count, 0);
  EXPECT_TRUE(in_rect(0, 0, 64, 64).empty());
}

TEST_F(Decals, BucketsHoldEveryDecalTheyTouchOnce) {
  dir.write("decals",
            "[10 20] 0 2 3 line.png\n"              // x 7..13, z 19..21
            "[60 60] 0.7853982 2 1 logo.png\n"      // corner bucket
            "[-50 200] 0 1 1 logo.png\n"            // off the ground: clamped
            "[20 20] 0 1 1 line.png\n");
  decals_load_dir(dir.path.c_str());
  ASSERT_EQ(decal_count, 4);
  EXPECT_EQ(in_rect(1, 17, 7.5f, 23), std::vector<int>({0}));
  EXPECT_EQ(in_rect(8.5f, 17, 9, 18), std::vector<int>({0}));
  EXPECT_EQ(in_rect(16.5f, 16.5f, 17, 17), std::vector<int>({3}));
  // Covering both of decal 0's buckets and more: ascending, no repeats.
  EXPECT_EQ(in_rect(0, 0, 24, 24), std::vector<int>({0, 3}));
  EXPECT_EQ(in_rect(0, 0, 64, 64), std::vector<int>({0, 1, 2, 3}));
  EXPECT_EQ(in_rect(64, 64, 0, 0), std::vector<int>({0, 1, 2, 3}));
  EXPECT_EQ(in_rect(0, 56, 1, 70), std::vector<int>({2}));

  Messages said;
  decals_toggle();
  EXPECT_TRUE(said.has("Hide decals ON")) << said.all();
  EXPECT_TRUE(in_rect(0, 0, 64, 64).empty());
  decals_toggle();
  EXPECT_TRUE(said.has("Hide decals OFF"));
  EXPECT_EQ(in_rect(0, 0, 64, 64).size(), 4u);
}

}  // namespace
