// The generated content loads: every model and picture the bike table and
// the robot roster name, the default track's scenery, flaggers and
// lighting; and the start gate's model lies where its shape does.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <set>
#include <string>

#include "bike/rider.h"
#include "core/core.h"
#include "gfx/lighting.h"
#include "gfx/model.h"
#include "race/track.h"
#include "tests/gfx/recording_gl.h"

namespace {

class Generated : public ::testing::Test {
 protected:
  void SetUp() override {
    recording_gl_install();
    capture_begin();
    model_purge(1);
    texture_purge(1);
  }
  void TearDown() override {
    model_purge(1);
    texture_purge(1);
    lighting_free();
  }
  static std::string read(const std::string &name) {
    char *t = file_to_string(name.c_str());
    std::string s = t ? t : "";
    mem_free(t);
    return s;
  }
};

TEST_F(Generated, EveryBikeRosterAndRiderFileLoads) {
  std::set<std::string> models, textures;
  for (int i = 0; i < BIKE_MODEL_COUNT; i++) {
    const BikeModel &m = bike_models[i];
    for (int g = 0; g < GFX_GROUP_COUNT; g++) {
      int parts[8];
      int n = graphics_group_parts(g, parts);
      for (int k = 0; k < n; k++) models.insert(m.part_files[parts[k]]);
      textures.insert(m.part_files[graphics_group_texture_part(g)]);
    }
  }
  for (const std::string &name : models) EXPECT_TRUE(model_get(name.c_str())) << name;
  for (const std::string &name : textures) {
    EXPECT_NE(texture_load(name.c_str()), 0u) << name;
    char normal[1024], specular[1024];
    EXPECT_TRUE(find_texture_maps(name.c_str(), name.c_str(), nullptr, normal, specular, 1024)) << name;
  }
  for (const RosterRow &r : robot_roster)
    for (const char *t : r.textures)
      if (t) {
        EXPECT_NE(texture_load(t), 0u) << t;
      }
  // Plate colours travel with the bike pictures.
  const char *text = texture_text(texture_load(bike_models[find_bike_model("yz250f(2017)")].part_files[PART_BIKE_TEXTURE]));
  ASSERT_TRUE(text);
  EXPECT_TRUE(strstr(text, "[numberbackground:"));
  // Skinned with nine bones, four influences at most, in one piece.
  const Model *body = model_get("@rider_body.jm");
  ASSERT_TRUE(body);
  EXPECT_EQ(body->bone_count, 9);
  // A middle level from 16 units on and the coarsest from 32, each lighter.
  ASSERT_TRUE(body->lod_next && body->lod_next->lod_next);
  EXPECT_EQ(body->lod_next->lod_distance, 16);
  EXPECT_EQ(body->lod_next->lod_next->lod_distance, 32);
  for (const char *name : {"@rider_body.jm", "@front_wheel.jm", "@rider_head.jm"})
    for (const Model *l = model_get(name); l && l->lod_next; l = l->lod_next)
      EXPECT_LT(l->lod_next->triangle_count, l->triangle_count) << name;
  EXPECT_TRUE(captured_messages().empty()) << captured_messages()[0];
  // The helmet's face is towards -z.
  const Model *head = model_get("@rider_head.jm");
  float zmin = 0, zmax = 0;
  for (int v = 0; v < head->vertex_count; v++) {
    zmin = std::min(zmin, head->positions[3 * v + 2]);
    zmax = std::max(zmax, head->positions[3 * v + 2]);
  }
  EXPECT_LT(zmin, -zmax);
  // Chrome parts only after the lit ones.
  for (const std::string &name : models) {
    bool chrome = false;
    for (const Model *p = model_get(name.c_str()); p; p = p->next) {
      if (p->shininess == -1) {
        chrome = true;
      } else {
        EXPECT_FALSE(chrome) << name;
      }
    }
  }
}

TEST_F(Generated, NumberPlatesReadUprightFromBothSides) {
  const BikeModel &m = bike_models[find_bike_model("yz250f(2017)")];
  for (const char *name : {m.part_files[PART_FRONT_PLATE_MODEL], m.part_files[PART_SIDE_PLATES_MODEL], "@rider_plate.jm"}) {
    const Model *plate = model_get(name);
    ASSERT_TRUE(plate) << name;
    // Seen against its normal, a face's picture runs left to right and top
    // (t = 0) to bottom.
    const float *P = plate->positions, *N = plate->normals, *T = plate->texcoords;
    int pairs = 0;
    for (int a = 0; a < plate->vertex_count; a++)
      for (int b = 0; b < plate->vertex_count; b++) {
        const float *na = N + 3 * a, *nb = N + 3 * b;
        if (na[0] * nb[0] + na[1] * nb[1] + na[2] * nb[2] < 0.99f) continue;  // another face
        const float d[3] = {P[3 * b] - P[3 * a], P[3 * b + 1] - P[3 * a + 1], P[3 * b + 2] - P[3 * a + 2]};
        const float right[3] = {na[2], 0, -na[0]};  // up x normal
        float across = d[0] * right[0] + d[2] * right[2];
        if (across > 0.05f) {
          EXPECT_GT(T[2 * b], T[2 * a]) << name;
        }
        if (d[1] > 0.05f) {
          EXPECT_LT(T[2 * b + 1], T[2 * a + 1]) << name;
        }
        pairs += across > 0.05f || d[1] > 0.05f;
      }
    EXPECT_GT(pairs, 8) << name;
  }
}

TEST_F(Generated, TrackFilesNameWhatExists) {
  const std::string dir = "@tracks/hollow_creek/";
  std::string billboards = read(dir + "billboards"), statues = read(dir + "statues"), flaggers = read(dir + "flaggers");
  ASSERT_FALSE(billboards.empty());
  ASSERT_FALSE(statues.empty());
  ASSERT_FALSE(flaggers.empty());
  auto words = [](const std::string &s) {
    std::set<std::string> w;
    size_t at = 0;
    while ((at = s.find('@', at)) != std::string::npos) {
      size_t end = s.find_first_of(" \n", at);
      w.insert(s.substr(at, end - at));
      at = end;
    }
    return w;
  };
  for (const std::string &w : words(billboards + flaggers)) EXPECT_NE(texture_load(w.c_str()), 0u) << w;
  for (const std::string &w : words(statues)) {
    CollisionShape s;
    if (w.find(".jm") != std::string::npos) {
      EXPECT_TRUE(model_get(w.c_str())) << w;
    } else if (w.find(".png") != std::string::npos) {
      EXPECT_NE(texture_load(w.c_str()), 0u) << w;
    } else {
      EXPECT_TRUE(shape_load(w.c_str(), &s)) << w;
    }
  }
  lighting_load((dir + "lighting").c_str());
  for (const std::string &m : captured_messages()) ADD_FAILURE() << m;
  EXPECT_EQ(lighting.flare_count, 1);
  EXPECT_NE(lighting.flares[0].element[0].texture, 0u);
  EXPECT_GT(lighting.fog_density, 0);
  for (unsigned id : {lighting.sky_n, lighting.sky_e, lighting.sky_s, lighting.sky_w, lighting.sky_u, lighting.sky_env})
    EXPECT_NE(id, 0u);
  EXPECT_NE(std::string(texture_name(lighting.sky_e)).find("hollow_creek"), std::string::npos);
}

TEST_F(Generated, StartGateFitsItsShape) {
  const Model *gate = model_get("@startgate.jm");
  ASSERT_TRUE(gate);
  EXPECT_NE(texture_load("@startgate.ppm"), 0u);
  CollisionShape shape;
  ASSERT_TRUE(shape_load("@startgate.shp", &shape));
  // Raised (turned by 3 pi / 16 about x) the plate is upright: its box and
  // the spheres' box agree; dropped, their tops agree.
  for (double turn : {0.5890486225480862, 0.0}) {
    double c = std::cos(turn), s = std::sin(turn);
    auto raise = [&](const float *p, double out[3]) {
      out[0] = p[0];
      out[1] = p[1] * c - p[2] * s;
      out[2] = p[1] * s + p[2] * c;
    };
    double lo[2][3], hi[2][3];
    for (int k = 0; k < 3; k++) lo[0][k] = lo[1][k] = 1e9, hi[0][k] = hi[1][k] = -1e9;
    for (int v = 0; v < gate->vertex_count; v++) {
      double q[3];
      raise(gate->positions + 3 * v, q);
      for (int k = 0; k < 3; k++) lo[0][k] = std::min(lo[0][k], q[k]), hi[0][k] = std::max(hi[0][k], q[k]);
    }
    for (const CollisionSphere &sp : shape.spheres) {
      double q[3];
      raise(sp.centre, q);
      for (int k = 0; k < 3; k++)
        lo[1][k] = std::min(lo[1][k], q[k] - sp.radius), hi[1][k] = std::max(hi[1][k], q[k] + sp.radius);
    }
    double tolerance = turn != 0 ? 0.01 : 0.15;
    EXPECT_NEAR(hi[0][1], hi[1][1], tolerance) << turn;
    for (int k = 0; turn != 0 && k < 3; k++) {
      EXPECT_NEAR(lo[0][k], lo[1][k], tolerance) << k;
      EXPECT_NEAR(hi[0][k], hi[1][k], tolerance) << k;
    }
  }
}

}  // namespace
