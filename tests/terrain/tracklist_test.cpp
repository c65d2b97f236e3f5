#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "fixture.h"

namespace {

void put(const std::string &path, const std::string &bytes) {
  std::system(("mkdir -p '" + path.substr(0, path.rfind('/')) + "'").c_str());
  FILE *f = fopen(path.c_str(), "wb");
  fwrite(bytes.data(), 1, bytes.size(), f);
  fclose(f);
}

// Builds the file index over two fresh folders, so it must be the first
// index of its process (ctest runs each test on its own).
TEST(TrackList, FindsFoldersAndSortsByDescription) {
  TempDir home, install;
  setenv("XDG_DATA_HOME", home.path.c_str(), 1);
  setenv("TW_HOME", install.path.c_str(), 1);
  std::string h = home.path + "/Tarnwick/", i = install.path + "/";
  put(h + "tracks/zeta/terrain.hf", "1 1 0 1\n");
  put(h + "tracks/zeta/desc", "beta Track\r\nsecond line\n");
  put(i + "tracks/alpha/terrain.hf", "1 1 0 1\n");
  put(i + "tracks/alpha/terrain.hf.gz", "");
  put(i + "tracks/omega/notterrain.hf", "");
  put(i + "terrain.hf", "");
  std::string members[][2] = {{"tracks/gamma/terrain.hf", "1 1 0 1\n"}, {"tracks/gamma/desc", "Alpine"}};
  std::string saf;
  for (auto &m : members) saf += std::to_string(m[1].size()) + " " + m[0] + "\n";
  saf += "-\n";
  for (auto &m : members) saf += m[1];
  put(i + "extra.saf", saf);

  ASSERT_EQ(track_list_build(), 3);
  ASSERT_EQ(track_count, 3);
  EXPECT_STREQ(track_descriptions[0], "Alpine");
  EXPECT_STREQ(track_folders[0], "tracks/gamma");
  EXPECT_STREQ(track_descriptions[1], "beta Track");
  EXPECT_STREQ(track_folders[1], "tracks/zeta");
  EXPECT_STREQ(track_descriptions[2], "tracks/alpha");
  EXPECT_STREQ(track_folders[2], "tracks/alpha");
  track_list_free();
  EXPECT_EQ(track_count, 0);
  file_index_free();
}

// The generated default track, when the build has made the data.
TEST(DefaultTrack, LoadsWithItsSurfaces) {
  // The build folder from the environment, else two levels above this
  // program (build/tests/test_terrain).
  const char *build = getenv("TW_BUILD_DIR");
  std::string root = build ? build : ".";
  char exe[4096];
  ssize_t n = build ? -1 : readlink("/proc/self/exe", exe, sizeof exe - 1);
  if (n > 0) {
    root.assign(exe, n);
    root = root.substr(0, root.rfind('/'));
    root = root.substr(0, root.rfind('/'));
  }
  std::string dir = root + "/tracks/hollow_creek";
  struct stat st;
  if (stat((dir + "/terrain.hf").c_str(), &st) != 0) GTEST_SKIP() << "no generated data in " << dir;
  Messages m;
  ASSERT_EQ(terrain_load(dir.c_str()), 1) << m.all();
  EXPECT_TRUE(m.lines().empty()) << m.all();
  EXPECT_EQ(terrain.size, 2049);
  EXPECT_FLOAT_EQ(terrain.spacing, 0.5f);
  ASSERT_EQ(terrain.tile_count, 4);
  const char *names[] = {"grass", "dirt", "mud", "hardpack"};
  for (int k = 0; k < 4; k++) EXPECT_STREQ(terrain.surface[k].name, names[k]);
  EXPECT_EQ(terrain_tile_at(210, 900), 3);  // start straight
  EXPECT_EQ(terrain_tile_at(400, 900), 1);
  EXPECT_EQ(terrain_tile_at(20, 20), 0);
  int seen[4] = {0, 0, 0, 0};
  for (int k = 0; k < 1024 * 1024; k++) seen[terrain.tilemap[k]]++;
  for (int k = 0; k < 4; k++) EXPECT_GT(seen[k], 0) << names[k];
  // Shadows were baked: some ground lies in shade, most in the sun.
  int shaded = 0;
  for (int k = 0; k < 2049 * 2049; k++) shaded += terrain.shadows[k] > 64;
  EXPECT_GT(shaded, 0);
  EXPECT_LT(shaded, 2049 * 2049 / 4);
  terrain_free();
}

}  // namespace
