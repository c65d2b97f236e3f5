// The model reader on hand-written files, its clean-up, the cache with its
// levels, and the passes against the recording GL table.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>

#include "core/core.h"
#include "gfx/model.h"
#include "tests/gfx/recording_gl.h"
#include "tests/gfx/test_files.h"

namespace {

// A triangle part: header then three vertices of a right triangle at z.
std::string tri_part(const char *header, float z = 0, const char *weights = "") {
  char b[512];
  snprintf(b, sizeof b,
           "%s 3 1\n0 0 %g 0 0 1 0 0 %s\n1 0 %g 0 0 1 1 0 %s\n0 1 %g 0 0 1 0 1 %s\n0 1 2\n", header,
           double(z), weights, double(z), weights, double(z), weights);
  return b;
}

class Models : public ::testing::Test {
 protected:
  TempDir d;
  void SetUp() override {
    recording_gl_install();
    capture_begin();
    model_purge(1);
    model_generation = 0;
    scene_settings = SceneSettings();
  }
  void TearDown() override { model_purge(1); }
  Model *parse(const std::string &text, const char *name = "m.jm") {
    return model_parse(text.c_str(), int(text.size()), name);
  }
  int said(const std::string &text) {
    int n = 0;
    for (const std::string &m : captured_messages()) n += m == text;
    return n;
  }
};

TEST_F(Models, FormsAndFailures) {
  std::string nine(18, ' ');
  for (int i = 0; i < 9; i++) nine[size_t(2 * i)] = i == 4 ? '1' : '0';
  struct Case {
    const char *what;
    std::string text;
    int parts;       // 0: no model
    int bones;
  } cases[] = {
      {"JM1 two parts", "JM1\n" + tri_part("32 0 1 0.5 0.25") + tri_part("-1 0.5 1 1 1", 1), 2, 0},
      {"JM2 nine bones", "JM2\n9 skeleton\n" + tri_part("8 0 1 1 1", 0, nine.c_str()), 1, 9},
      {"headerless", "3 1\n0 0 0 0 0 1 0 0\n1 0 0 0 0 1 1 0\n0 1 0 0 0 1 0 1\n0 1 2\n", 1, 0},
      {"JM3", "JM3\n" + tri_part("32 0 1 1 1"), 0, 0},
      {"unreadable first header", "JM1\nshiny 0 1 1 1 3 1\n", 0, 0},
      {"bad value in a part", "JM1\n32 0 1 1 1 3 1\n0 0 0 0 0 1 0 0\n1 0 x 0 0 1 1 0\n", 0, 0},
      {"short part", "JM1\n32 0 1 1 1 3 1\n0 0 0 0 0 1 0 0\n", 0, 0},
      {"non-finite", "JM1\n" + tri_part("nan 0 1 1 1"), 0, 0},
      {"infinite position", "JM1\n32 0 1 1 1 1 0\ninf 0 0 0 0 1 0 0\n", 0, 0},
      {"negative bones", "JM2\n-1 b\n" + tri_part("8 0 1 1 1"), 0, 0},
      {"33 bones", "JM2\n33 b\n" + tri_part("8 0 1 1 1"), 0, 0},
      {"negative vertices", "JM1\n32 0 1 1 1 -3 1\n", 0, 0},
      {"negative triangles", "JM1\n32 0 1 1 1 3 -1\n", 0, 0},
      {"absurd counts", "JM1\n32 0 1 1 1 2000000000 2000000000\n1 2 3\n", 0, 0},
      {"empty", "", 0, 0},
  };
  for (const Case &c : cases) {
    Model *m = parse(c.text);
    EXPECT_EQ(m != nullptr, c.parts > 0) << c.what;
    if (!m) continue;
    int parts = 0;
    for (Model *p = m; p; p = p->next) parts++;
    EXPECT_EQ(parts, c.parts) << c.what;
    EXPECT_EQ(m->bone_count, c.bones) << c.what;
    EXPECT_EQ(m->triangle_count, 1) << c.what;
    model_free(m);
  }
}

TEST_F(Models, MaterialsTexcoordsAndBoneWeights) {
  std::string nine = "0 0 0 0 0.25 0 0 0 0.75";
  Model *m = parse("JM2\n9 skeleton\n" + tri_part("-2 0.5 1 0.5 0.25", 0, nine.c_str()) +
                   tri_part("-1 0.5 0.2 0.3 0.4", 1, nine.c_str()) + tri_part("7 0.5 1 1 1", 2, nine.c_str()));
  ASSERT_TRUE(m);
  EXPECT_EQ(m->shininess, -2);
  EXPECT_EQ(m->reflectivity, 0.5f);
  EXPECT_EQ(m->next->shininess, -1);
  EXPECT_EQ(m->next->next->reflectivity, 1);  // lit parts ignore the second value
  EXPECT_TRUE(m->has_env);
  EXPECT_EQ(m->texcoords[5], 0);  // the file's v of 1 is stored as 0
  EXPECT_EQ(m->texcoords[1], 1);
  EXPECT_FLOAT_EQ(m->weights[0] + m->weights[1] + m->weights[2] + m->weights[3], 1);
  // Bones 4 and 8 hold the weight; the empty slots weigh nothing.
  float w4 = 0, w8 = 0;
  for (int i = 0; i < 4; i++) {
    if (m->bones[i] == 4) w4 += m->weights[i];
    if (m->bones[i] == 8) w8 += m->weights[i];
  }
  EXPECT_FLOAT_EQ(w4, 0.25f);
  EXPECT_FLOAT_EQ(w8, 0.75f);
  model_free(m);
}

TEST_F(Models, FiveInfluencesKeepTheFourLargestAndWarnOnce) {
  // In both orders: the small fifth weight must not push out a large one.
  for (const char *weights : {"0.5 0.3 0.1 0.05 0.05", "0.05 0.05 0.1 0.3 0.5"}) {
    captured_messages().clear();
    Model *m = parse("JM2\n5 b\n" + tri_part("8 0 1 1 1", 0, weights), "five.jm");
    ASSERT_TRUE(m);
    EXPECT_EQ(said("Warning: vertex with more than 4 bone influences in 'five.jm'"), 1) << weights;
    float sum = 0, largest = 0, smallest = 1;
    for (int i = 0; i < 4; i++) {
      sum += m->weights[i];
      largest = std::max(largest, m->weights[i]);
      smallest = std::min(smallest, m->weights[i]);
    }
    EXPECT_FLOAT_EQ(sum, 1) << weights;
    EXPECT_FLOAT_EQ(largest, 0.5f / 0.95f) << weights;
    EXPECT_FLOAT_EQ(smallest, 0.05f / 0.95f) << weights;
    model_free(m);
  }
  // No weight at all: four equal shares.
  Model *m = parse("JM2\n2 b\n" + tri_part("8 0 1 1 1", 0, "0 0"));
  ASSERT_TRUE(m);
  for (int i = 0; i < 4; i++) EXPECT_EQ(m->weights[i], 0.25f);
  model_free(m);
}

TEST_F(Models, DegenerateTrianglesAreCountedOnceForTheFile) {
  std::string verts = "0 0 0 0 0 1 0 0\n1 0 0 0 0 1 1 0\n0 1 0 0 0 1 0 1\n2 0 0 0 0 1 0 0\n";
  // Kept: 0 1 2. Dropped: an index past the end, a negative one, three
  // points on a line, a repeated vertex; and one more in the second part.
  Model *m = parse("JM1\n32 0 1 1 1 4 5\n" + verts + "0 1 2\n0 1 9\n-1 1 2\n0 1 3\n2 2 1\n" +
                       "32 0 1 1 1 4 2\n" + verts + "0 1 2\n0 3 1\n",
                   "deg.jm");
  ASSERT_TRUE(m);
  EXPECT_EQ(m->triangle_count, 1);
  EXPECT_EQ(m->next->triangle_count, 1);
  EXPECT_EQ(said("5 degenerate triangles deleted in deg.jm"), 1);
  EXPECT_EQ(captured_messages().size(), 1u);
  model_free(m);
}

TEST_F(Models, TangentsWorkedByHand) {
  // A unit quad, u along x and the file's v along y; then its mirror image
  // (u running the other way). With v stored flipped, the sign rule turns
  // both to -x.
  const char *quads[] = {
      "0 0 0 0 0 1 0 0\n1 0 0 0 0 1 1 0\n1 1 0 0 0 1 1 1\n0 1 0 0 0 1 0 1\n",
      "0 0 0 0 0 1 1 0\n1 0 0 0 0 1 0 0\n1 1 0 0 0 1 0 1\n0 1 0 0 0 1 1 1\n",
  };
  for (const char *q : quads) {
    Model *m = parse(std::string("JM1\n32 0 1 1 1 4 2\n") + q + "0 1 2\n0 2 3\n");
    ASSERT_TRUE(m);
    for (int v = 0; v < 4; v++) {
      EXPECT_NEAR(m->tangents[3 * v], -1, 1e-6) << q << v;
      EXPECT_NEAR(m->tangents[3 * v + 1], 0, 1e-6);
      EXPECT_NEAR(m->tangents[3 * v + 2], 0, 1e-6);
    }
    EXPECT_FLOAT_EQ(m->u_rate, 1);  // the diagonal changes u by 1 over sqrt 2
    EXPECT_FLOAT_EQ(m->v_rate, 1);
    model_free(m);
  }
  // One texcoord for all corners: the longer edge gives the direction, and
  // an unused vertex keeps (1, 0, 0).
  Model *m = parse("JM1\n32 0 1 1 1 4 1\n0 0 0 0 0 1 0 0\n1 0 0 0 0 1 0 0\n2 1 0 0 0 1 0 0\n5 5 5 0 0 1 0 0\n0 1 2\n");
  ASSERT_TRUE(m);
  float s = 1 / std::sqrt(5.0f);
  EXPECT_NEAR(m->tangents[0], 2 * s, 1e-6);
  EXPECT_NEAR(m->tangents[1], s, 1e-6);
  EXPECT_EQ(m->tangents[9], 1);
  EXPECT_EQ(m->u_rate, 0);
  model_free(m);
}

TEST_F(Models, CacheCaseMismatchAndPurgeByGeneration) {
  d.write("bike.jm", "JM1\n" + tri_part("32 0 1 1 1"));
  d.write("tree.jm", "JM1\n" + tri_part("32 0 1 1 1"));
  model_generation = 1;
  Model *a = model_get(d.path("bike.jm").c_str());
  ASSERT_TRUE(a);
  EXPECT_EQ(model_get(d.path("bike.jm").c_str()), a);
  EXPECT_EQ(captured_messages().size(), 0u);
  std::string upper = d.path("Bike.jm");
  EXPECT_EQ(model_get(upper.c_str()), a);
  EXPECT_EQ(said("Warning: case mismatch on '" + upper + "'"), 1);
  EXPECT_EQ(model_get(d.path("missing.jm").c_str()), nullptr);
  model_generation = 2;
  ASSERT_TRUE(model_get(d.path("tree.jm").c_str()));
  model_purge(0);
  EXPECT_EQ(model_cache_count(), 1);
  EXPECT_STREQ(model_get(d.path("tree.jm").c_str())->name, d.path("tree.jm").c_str());
  model_purge(1);
  EXPECT_EQ(model_cache_count(), 0);
}

TEST_F(Models, LevelsByFileNameAndTheirChoice) {
  std::string home = search_folder(0);
  make_folders((home + "lodtest/").c_str());
  auto put = [&](const char *name, float z) {
    FILE *f = fopen((home + "lodtest/" + name).c_str(), "w");
    ASSERT_TRUE(f);
    fputs(("JM1\n" + tri_part("32 0 1 1 1", z)).c_str(), f);
    fclose(f);
  };
  put("bike.jm", 0), put("bike_lod3.jm", 3), put("bike_lod1.jm", 1), put("bike_lod.jm", 9);
  file_index_free();
  Model *m = model_get("@lodtest/bike.jm");
  ASSERT_TRUE(m);
  ASSERT_TRUE(m->lod_next);
  ASSERT_TRUE(m->lod_next->lod_next);
  EXPECT_EQ(m->lod_next->lod_distance, 2);
  EXPECT_EQ(m->lod_next->lod_next->lod_distance, 8);
  EXPECT_EQ(m->lod_next->lod_next->lod_next, nullptr);
  scene_settings.lod_scale = 1, scene_settings.lod_bias = 0;
  float camera[3] = {0, 0, 0};
  struct {
    float distance;
    const Model *level;
  } cases[] = {{1.9f, m}, {2, m->lod_next}, {7.9f, m->lod_next}, {8, m->lod_next->lod_next}, {100, m->lod_next->lod_next}};
  for (auto &c : cases) {
    float at[3] = {0, 0, c.distance};
    EXPECT_EQ(model_level(m, camera, at), c.level) << c.distance;
  }
  model_purge(1);
  for (const char *n : {"bike.jm", "bike_lod3.jm", "bike_lod1.jm", "bike_lod.jm"}) remove((home + "lodtest/" + n).c_str());
  remove((home + "lodtest").c_str());
  file_index_free();
}

TEST_F(Models, ChromeFirstStopsTheLitPassAndNeedsReflections) {
  d.write("chrome.jm", "JM1\n" + tri_part("-1 1 1 1 1") + tri_part("32 0 1 1 1", 1));
  Model *m = model_get(d.path("chrome.jm").c_str());
  ASSERT_TRUE(m);
  float c[3] = {0, 0, 0};
  twglUseProgram(PROGRAM_NORM_SPEC_LIT);
  rec.calls.clear();
  model_draw_lit(m, c, c, nullptr, 0, nullptr, nullptr, nullptr);
  EXPECT_TRUE(calls_named("DrawElements").empty());
  twglUseProgram(PROGRAM_NORM_ENV);
  rec.calls.clear();
  model_polygons = 0;
  model_draw_env(m, c, c, nullptr, 0, nullptr, nullptr, nullptr);
  EXPECT_EQ(calls_named("DrawElements"), std::vector<std::string>{"DrawElements 4 3"});
  EXPECT_EQ(model_polygons, 1);
  scene_settings.reflections = 0;
  rec.calls.clear();
  model_draw_env(m, c, c, nullptr, 0, nullptr, nullptr, nullptr);
  EXPECT_TRUE(calls_named("DrawElements").empty());
  // Lit parts before the chrome one are drawn.
  d.write("lit.jm", "JM1\n" + tri_part("32 0 1 1 1") + tri_part("-1 1 1 1 1", 1) + tri_part("32 0 1 1 1", 2));
  twglUseProgram(PROGRAM_NORM_SPEC_LIT);
  rec.calls.clear();
  model_draw_lit(model_get(d.path("lit.jm").c_str()), c, c, nullptr, 0, nullptr, nullptr, nullptr);
  EXPECT_EQ(calls_named("DrawElements").size(), 1u);
}

// A model wholly outside the view volume is not sent to the renderer; one
// that may reach into it is, wherever its bones take it.
TEST_F(Models, ModelsOutsideTheViewAreNotDrawn) {
  // Two bones; the triangle moves with bone 1 only, sits at x 2..3 at rest.
  d.write("rigid.jm", "JM1\n" + tri_part("32 0 1 1 1"));
  d.write("bones.jm", "JM2\n2 b\n32 0 1 1 1 3 1\n2 0 0 0 0 1 0 0 0 1\n3 0 0 0 0 1 1 0 0 1\n"
                      "2 1 0 0 0 1 0 1 0 1\n0 1 2\n");
  Model *rigid = model_get(d.path("rigid.jm").c_str()), *bones = model_get(d.path("bones.jm").c_str());
  ASSERT_TRUE(rigid && bones);
  const float I[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1}, S[9] = {3, 0, 0, 0, 3, 0, 0, 0, 3};
  struct Case {
    const char *what;
    Model *m;
    float shift;  // model-view translation along x
    int bones;
    float centre1, move1;  // bone 1's rest centre and translation along x
    const float *rotation1;
    bool drawn;
  } cases[] = {
      {"in view", rigid, 0, 0, 0, 0, I, true},
      {"beyond the right edge", rigid, 3, 0, 0, 0, I, false},
      {"beyond the left edge", rigid, -2.5f, 0, 0, 0, I, false},
      {"across the edge", rigid, 0.9f, 0, 0, 0, I, true},
      {"at rest outside, unposed", bones, 0, 0, 0, 0, I, false},
      {"posed into view", bones, 0, 2, 2, -0.5f, I, true},
      {"posed further out", bones, 0, 2, 2, 4, I, false},
      {"moved by a bone the draw does not give", bones, 0, 1, 2, -0.5f, I, true},
      // Three times larger about x = 3: reaches x = 0.5 from x = 3.5.
      {"posed with a scale", bones, 0, 2, 3, 3.5f, S, true},
      {"posed nowhere", bones, 0, 2, 2, NAN, I, true},
  };
  scene_settings.reflections = 1;
  twglUseProgram(PROGRAM_NORM_SPEC_LIT);
  twglMatrixMode(GL_PROJECTION);
  twglLoadIdentity();
  for (const Case &c : cases) {
    twglMatrixMode(GL_MODELVIEW);
    twglLoadIdentity();
    twglTranslate(c.shift, 0, 0);
    float centres[6] = {0, 0, 0, c.centre1, 0, 0}, moves[6] = {0, 0, 0, c.move1, 0, 0}, rotations[18];
    memcpy(rotations, I, sizeof I);
    memcpy(rotations + 9, c.rotation1, sizeof I);
    float at[3] = {0, 0, 0};
    rec.calls.clear();
    model_draw_lit(c.m, at, at, nullptr, c.bones, centres, moves, rotations);
    EXPECT_EQ(!calls_named("DrawElements").empty(), c.drawn) << c.what;
  }
}

TEST_F(Models, PovExportOfTwoParts) {
  Model *m = parse("JM1\n" + tri_part("32 0 1 1 1") + tri_part("32 0 1 1 1", 2));
  ASSERT_TRUE(m);
  DataFile *f = data_create(d.path("out.pov").c_str());
  ASSERT_TRUE(f);
  EXPECT_TRUE(model_export_pov(m, f));
  ASSERT_TRUE(data_commit(f));
  auto part = [](const char *z) {
    return std::string("mesh2 {\n\tvertex_vectors {\n\t\t3\n") + "\t\t<0.000000,0.000000," + z +
           ">,\n\t\t<1.000000,0.000000," + z + ">,\n\t\t<0.000000,1.000000," + z + ">\n\t}\n" +
           "\tnormal_vectors {\n\t\t3\n\t\t<0.000000,0.000000,1.000000>,\n"
           "\t\t<0.000000,0.000000,1.000000>,\n\t\t<0.000000,0.000000,1.000000>\n\t}\n"
           "\tuv_vectors {\n\t\t3\n\t\t<0.000000,1.000000>,\n\t\t<1.000000,1.000000>,\n"
           "\t\t<0.000000,0.000000>\n\t}\n\tface_indices {\n\t\t1\n\t\t<0,1,2>\n\t}\n}\n";
  };
  EXPECT_EQ(d.read("out.pov"), "union {\n" + part("0.000000") + part("2.000000") + "}\n");
  model_free(m);
}

}  // namespace
