// The bike table: lookups with their fallback, the shape of every row, and
// the graphics file choices made before anything is drawn.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "core/core.h"
#include "bike/bike.h"
#include "tests/common/test_util.h"

namespace {

TEST(BikeLookup, ExactNamesAndFallbacks) {
  struct Case {
    const char *name;
    const char *row;
    const char *message;  // nullptr: silent
  } cases[] = {
      {"yz250f(2017)", "yz250f(2017)", nullptr},
      {"rs50yz", "rs50yz", nullptr},
      // No "125" in the name, and the crf250 names hold no "250f".
      {"crf250(2010)", "kx250f(2007)", "bike info for 'crf250(2010)' not found using 'kx250f(2007)' instead"},
      {"kx125x", "cr125", "bike info for 'kx125x' not found using 'cr125' instead"},
      {"YZ250F(2017)", "kx250f(2007)", "bike info for 'YZ250F(2017)' not found using 'kx250f(2007)' instead"},
      {"", "kx250f(2007)", "bike info for '' not found using 'kx250f(2007)' instead"},
      // The requested name is cut to 20 characters in the message.
      {"an-extremely-long-bike-name", "kx250f(2007)",
       "bike info for 'an-extremely-long-bi' not found using 'kx250f(2007)' instead"},
  };
  for (const Case &c : cases) {
    MessageCatcher catcher;
    int row = find_bike_model(c.name);
    EXPECT_STREQ(bike_model_name(row), c.row) << c.name;
    if (c.message) {
      ASSERT_EQ(catcher.lines.size(), 1u) << c.name;
      EXPECT_EQ(catcher.lines[0], c.message);
      EXPECT_EQ(lookup_bike_model(c.name), -1);
    } else {
      EXPECT_TRUE(catcher.lines.empty()) << c.name;
      EXPECT_EQ(lookup_bike_model(c.name), row);
    }
  }
  EXPECT_EQ(find_bike_model(nullptr), lookup_bike_model("kx250f(2007)"));
  EXPECT_STREQ(bike_model_name(-1), "none");
  EXPECT_STREQ(bike_model_name(BIKE_MODEL_COUNT), "none");
  EXPECT_EQ(bike_model(80), nullptr);
}

TEST(BikeTable, NamesClassesAndMenuOrder) {
  std::set<std::string> names, menu;
  const std::set<std::string> classes = {"125", "250", "250f", "450f", "50"};
  for (const BikeModel &m : bike_models) {
    names.insert(m.name);
    EXPECT_TRUE(classes.count(m.engine_class)) << m.name;
  }
  EXPECT_EQ(names.size(), 80u);
  // The menu shows every row exactly once.
  for (const char *n : bike_menu_names) {
    menu.insert(n);
    EXPECT_GE(lookup_bike_model(n), 0) << n;
  }
  EXPECT_EQ(menu, names);
  EXPECT_STREQ(bike_menu_names[0], "450sxf(2018)");
  EXPECT_STREQ(bike_menu_names[79], "rs50yz");
  // Indices other code keeps.
  EXPECT_EQ(lookup_bike_model("cr125"), 0);
  EXPECT_EQ(lookup_bike_model("kx250f(2007)"), 15);
  EXPECT_EQ(lookup_bike_model("yz250f_se(2006)"), 44);
  EXPECT_EQ(lookup_bike_model("yz250f(2017)"), 49);
  EXPECT_EQ(lookup_bike_model("350sxf(2011)"), 64);
  EXPECT_STREQ(bike_models[64].engine_class, "450f");
  EXPECT_STREQ(bike_models[65].engine_class, "250f");
}

double torque_at(const float *curve, double rpm) {
  double x = rpm / TORQUE_RPM_STEP;
  int i = static_cast<int>(x);
  if (i >= TORQUE_POINTS - 1) return curve[TORQUE_POINTS - 1];
  return curve[i] + (curve[i + 1] - curve[i]) * (x - i);
}

// Every row, given or derived, must be a bike the physics can ride.
TEST(BikeTable, EveryRowIsPlausible) {
  for (const BikeModel &m : bike_models) {
    SCOPED_TRACE(m.name);
    EXPECT_GE(m.frame_mass, 3.34125f);
    EXPECT_LE(m.frame_mass, 4.735f);
    EXPECT_GE(m.fork_mass, 0.703125f);
    EXPECT_LE(m.fork_mass, 0.75375f);
    EXPECT_GE(m.swingarm_half_mass, 0.5025f);
    EXPECT_LE(m.swingarm_half_mass, 0.589375f);
    EXPECT_GE(m.engine_inertia, 0.0011936f);
    EXPECT_LE(m.engine_inertia, 0.0088501f);
    EXPECT_GE(m.front_sprocket, 12);
    EXPECT_LE(m.front_sprocket, 14);
    EXPECT_GE(m.rear_sprocket, 48);
    EXPECT_LE(m.rear_sprocket, 55);
    EXPECT_LT(m.fork_spring_min, m.fork_spring_max);
    EXPECT_LT(m.shock_spring_min, m.shock_spring_max);
    EXPECT_GT(m.fork_spring_min, 0);
    EXPECT_LT(m.downshift_rpm, m.upshift_rpm);
    EXPECT_LT(m.upshift_rpm, m.rev_limit_rpm);
    EXPECT_TRUE(m.rider_mass == 4.6875f || m.rider_mass == 5.46875f);
    const bool fifty = strcmp(m.engine_class, "50") == 0;
    EXPECT_EQ(m.driveline_stiffness, fifty ? 1200.0f : 7500.0f);
    EXPECT_GT(m.gear_ratios[0], m.gear_ratios[1]);

    float peak = 0;
    for (float t : m.full_throttle_torque) peak = std::max(peak, t);
    EXPECT_GE(peak, 4.3099f);
    EXPECT_LE(peak, 36.0f);
    // Pulls up to the rev limit, then the tail brakes the engine.
    EXPECT_GT(torque_at(m.full_throttle_torque, m.upshift_rpm), 0);
    EXPECT_GT(torque_at(m.full_throttle_torque, m.rev_limit_rpm), 0);
    EXPECT_LT(m.full_throttle_torque[TORQUE_POINTS - 1], -1);
    for (int i = 0; i < TORQUE_POINTS; i++) {
      EXPECT_TRUE(std::isfinite(m.full_throttle_torque[i]));
      EXPECT_TRUE(std::isfinite(m.closed_throttle_torque[i]));
      if (i * TORQUE_RPM_STEP <= m.rev_limit_rpm) {
        EXPECT_LT(m.closed_throttle_torque[i], m.full_throttle_torque[i]) << i;
      }
    }

    for (int p = 0; p < PART_FILE_COUNT; p++) {
      const char *f = m.part_files[p];
      EXPECT_EQ(f[0], '@') << p;
      const char *ext = strrchr(f, '.');
      ASSERT_NE(ext, nullptr) << p;
      EXPECT_TRUE(!strcmp(ext, ".jm") || !strcmp(ext, ".png") || !strcmp(ext, ".shp")) << f;
    }
    // Shared parts are the same in every row.
    EXPECT_STREQ(m.part_files[PART_RIDER_SHAPE], bike_models[0].part_files[PART_RIDER_SHAPE]);
    EXPECT_STREQ(m.part_files[PART_WHEEL_TEXTURE], "@wheels.png");
    EXPECT_EQ(m.grip_points[0][0], -m.grip_points[1][0]);
  }
}

// The rows other code and saved files refer to by index.
TEST(BikeTable, RowOrderAndClasses) {
  const char *const want[BIKE_MODEL_COUNT][2] = {
      {"cr125", "125"}, {"crf250(2007)", "250f"}, {"crf250(2008)", "250f"}, {"crf250(2009)", "250f"},
      {"crf250(2013)", "250f"}, {"crf250(2016)", "250f"}, {"crf250(2017)", "250f"}, {"crf250(2018)", "250f"},
      {"cr250(2007)", "250"}, {"crf450(2011)", "450f"}, {"crf450(2013)", "450f"}, {"crf450(2016)", "450f"},
      {"crf450(2017)", "450f"}, {"crf450(2018)", "450f"}, {"kx125", "125"}, {"kx250f(2007)", "250f"},
      {"kx250f(2008)", "250f"}, {"kx250f(2009)", "250f"}, {"kx250f(2013)", "250f"}, {"kx250f(2016)", "250f"},
      {"kx250f(2017)", "250f"}, {"kx250f(2018)", "250f"}, {"kx250(2006)", "250"}, {"kx450f(2011)", "450f"},
      {"kx450f(2013)", "450f"}, {"kx450f(2016)", "450f"}, {"kx450f(2017)", "450f"}, {"kx450f(2018)", "450f"},
      {"rm125", "125"}, {"rmz250(2007)", "250f"}, {"rmz250(2008)", "250f"}, {"rmz250(2009)", "250f"},
      {"rmz250(2013)", "250f"}, {"rmz250(2016)", "250f"}, {"rmz250(2017)", "250f"}, {"rmz250(2018)", "250f"},
      {"rm250(2008)", "250"}, {"rmz450(2011)", "450f"}, {"rmz450(2013)", "450f"}, {"rmz450(2016)", "450f"},
      {"rmz450(2017)", "450f"}, {"rmz450(2018)", "450f"}, {"yz125", "125"}, {"yz250f(2007)", "250f"},
      {"yz250f_se(2006)", "250f"}, {"yz250f(2008)", "250f"}, {"yz250f(2009)", "250f"}, {"yz250f(2013)", "250f"},
      {"yz250f(2016)", "250f"}, {"yz250f(2017)", "250f"}, {"yz250f(2018)", "250f"}, {"yz250(2012)", "250"},
      {"yz450f(2011)", "450f"}, {"yz450f(2013)", "450f"}, {"yz450f(2016)", "450f"}, {"yz450f(2017)", "450f"},
      {"yz450f(2018)", "450f"}, {"125sx", "125"}, {"250sxf(2009)", "250f"}, {"250sxf(2013)", "250f"},
      {"250sxf(2016)", "250f"}, {"250sxf(2017)", "250f"}, {"250sxf(2018)", "250f"}, {"250sx(2012)", "250"},
      {"350sxf(2011)", "450f"}, {"350sxf(2013)", "250f"}, {"350sxf(2017)", "250f"}, {"450sxf(2011)", "450f"},
      {"450sxf(2013)", "450f"}, {"450sxf(2016)", "450f"}, {"450sxf(2017)", "450f"}, {"450sxf(2018)", "450f"},
      {"fc250(2017)", "250f"}, {"fc250(2018)", "250f"}, {"fc450(2017)", "450f"}, {"fc450(2018)", "450f"},
      {"rs50cr", "50"}, {"rs50kx", "50"}, {"rs50rm", "50"}, {"rs50yz", "50"},
  };
  for (int i = 0; i < BIKE_MODEL_COUNT; i++) {
    EXPECT_STREQ(bike_models[i].name, want[i][0]) << i;
    EXPECT_STREQ(bike_models[i].engine_class, want[i][1]) << i;
  }
}

// The six rows every other row is derived from, value for value.
TEST(BikeTable, GivenRowsAsStated) {
  struct Given {
    const char *name;
    float frame_mass, fork_mass, fork_spring[2], swingarm_half, shock_spring[2], primary, sprockets[2];
    float gears[GEAR_COUNT], inertia, stiffness, damping, rpm[3], rider_mass;
  } given[] = {
      {"cr125", 3.65375f, 0.7396875f, {322.5451f, 860.1203f}, 0.541875f, {1814.3163f, 4502.1919f}, 3.15f,
       {13, 52}, {2.3571f, 1.8667f, 1.5789f, 1.2941f, 1.1333f, -1}, 0.0048828f, 7500, 0.75f,
       {9400, 12000, 12750}, 4.6875f},
      {"cr250(2007)", 4.365625f, 0.75375f, {322.5451f, 860.1203f}, 0.589375f, {2083.1038f, 4770.98f}, 3.0f,
       {13, 49}, {1.8f, 1.4706f, 1.2105f, 1.0f, 0.8696f, -1}, 0.0068359f, 7500, 0.75f, {6000, 9000, 10500},
       5.46875f},
      {"yz250f(2017)", 4.24f, 0.703125f, {335.9845f, 873.5596f}, 0.504375f, {2217.4978f, 4905.3735f}, 3.3529f,
       {13, 50}, {2.1429f, 1.75f, 1.4444f, 1.2222f, 1.0417f, -1}, 0.0048828f, 7500, 0.75f,
       {8000, 12500, 13250}, 4.6875f},
      {"yz450f(2011)", 4.735f, 0.703125f, {376.3026f, 913.8778f}, 0.5025f, {2486.2854f, 5174.1606f}, 2.6522f,
       {13, 48}, {1.9286f, 1.5333f, 1.2778f, 1.0909f, 0.9524f, -1}, 0.0088501f, 7500, 0.75f,
       {6000, 10500, 12000}, 5.46875f},
      {"125sx", 3.65375f, 0.7396875f, {322.5451f, 860.1203f}, 0.541875f, {1814.3163f, 4502.1919f}, 3.0435f,
       {13, 50}, {2.4615f, 2.0f, 1.6471f, 1.4f, 1.2105f, 1.0909f}, 0.0048828f, 7500, 0.75f,
       {9400, 12000, 12750}, 4.6875f},
      {"rs50cr", 3.34125f, 0.7396875f, {309.1057f, 846.6809f}, 0.541875f, {1814.3163f, 4502.1919f}, 3.7143f,
       {12, 55}, {3.0909f, 2.0f, 1.5f, 1.2f, 1.0455f, 0.9565f}, 0.0011936f, 1200, 1.0f, {9400, 12000, 12750},
       4.6875f},
  };
  for (const Given &g : given) {
    SCOPED_TRACE(g.name);
    ASSERT_GE(lookup_bike_model(g.name), 0);
    const BikeModel &m = bike_models[lookup_bike_model(g.name)];
    EXPECT_FLOAT_EQ(m.frame_mass, g.frame_mass);
    EXPECT_FLOAT_EQ(m.fork_mass, g.fork_mass);
    EXPECT_NEAR(m.fork_spring_min, g.fork_spring[0], 1e-4);
    EXPECT_NEAR(m.fork_spring_max, g.fork_spring[1], 1e-4);
    EXPECT_FLOAT_EQ(m.swingarm_half_mass, g.swingarm_half);
    EXPECT_FLOAT_EQ(m.shock_spring_min, g.shock_spring[0]);
    EXPECT_FLOAT_EQ(m.shock_spring_max, g.shock_spring[1]);
    EXPECT_FLOAT_EQ(m.primary_ratio, g.primary);
    EXPECT_EQ(m.front_sprocket, g.sprockets[0]);
    EXPECT_EQ(m.rear_sprocket, g.sprockets[1]);
    for (int i = 0; i < GEAR_COUNT; i++) EXPECT_FLOAT_EQ(m.gear_ratios[i], g.gears[i]) << i;
    EXPECT_FLOAT_EQ(m.engine_inertia, g.inertia);
    EXPECT_EQ(m.driveline_stiffness, g.stiffness);
    EXPECT_EQ(m.driveline_damping, g.damping);
    EXPECT_EQ(m.downshift_rpm, g.rpm[0]);
    EXPECT_EQ(m.upshift_rpm, g.rpm[1]);
    EXPECT_EQ(m.rev_limit_rpm, g.rpm[2]);
    EXPECT_EQ(m.rider_mass, g.rider_mass);
  }
}

// Every row carries the same drawn rider; the physics reads its grips,
// shoulders and feet.
TEST(BikeTable, RiderFigureBlock) {
  for (const BikeModel &m : bike_models) {
    SCOPED_TRACE(m.name);
    const float head[3] = {0, 0.8084f, -0.9434f};
    for (int i = 0; i < 3; i++) EXPECT_EQ(m.head_point[i], head[i]);
    for (int s = 0; s < 2; s++) {
      const float side = s == 0 ? -1.0f : 1.0f;
      const float want[4][3] = {{side * 0.556f, 0.5804f, -0.6545f},
                                {side * 0.269f, -0.5709f, 0.6706f},
                                {side * 1.097f, 1.145f, 0.753f},
                                {side * 0.6f, -0.557f, 0.584f}};
      const float *got[4] = {m.shoulder_points[s], m.hip_points[s], m.grip_points[s], m.foot_points[s]};
      for (int p = 0; p < 4; p++)
        for (int i = 0; i < 3; i++) EXPECT_EQ(got[p][i], want[p][i]) << s << " " << p << " " << i;
    }
    EXPECT_EQ(m.upper_arm_length, 0.9f);
    EXPECT_EQ(m.forearm_length, 1.15f);
    EXPECT_EQ(m.thigh_length, 1.328f);
    EXPECT_EQ(m.shin_length, 1.701f);
    EXPECT_EQ(m.bone_centres[BONE_PELVIS][1], -0.88f);
    EXPECT_EQ(m.bone_centres[BONE_LEFT_KNEE][1], -2.208f);
  }
}

TEST(BikeTable, GivenRowsKeepTheirCurvesAndFiles) {
  const BikeModel &yz = bike_models[lookup_bike_model("yz250f(2017)")];
  const float full[29] = {5,       5,       5,       5,       5,       6.18f,   7.36f,   8.5399f,
                          9.7199f, 10.8999f, 12.1009f, 13.9229f, 14.811f, 15.8452f, 16.8143f, 17.8922f,
                          18.5268f, 19.1362f, 19.3453f, 19.1785f, 18.6082f, 17.9072f, 17.3367f, 16.8981f,
                          16.4741f, 15.9664f, 15.0251f, 7.5125f, 0};
  for (int i = 0; i < TORQUE_POINTS; i++) {
    // Above 14000 rpm the tail falls from -13.5 by 0.5 a point.
    EXPECT_FLOAT_EQ(yz.full_throttle_torque[i], i < 29 ? full[i] : -13.5f - 0.5f * (i - 29)) << i;
    const float start[4] = {2, 2, 1, 0};
    const float closed = i < 4 ? start[i] : -static_cast<float>((i - 2) / 2);
    EXPECT_EQ(yz.closed_throttle_torque[i], closed) << i;
  }
  EXPECT_FLOAT_EQ(yz.full_throttle_torque[18], 19.3453f);  // peak at 9000 rpm
  EXPECT_FLOAT_EQ(yz.full_throttle_torque[27], 7.5125f);
  EXPECT_EQ(yz.full_throttle_torque[28], 0.0f);
  EXPECT_FLOAT_EQ(yz.full_throttle_torque[49], -23.5f);
  EXPECT_EQ(yz.closed_throttle_torque[3], 0.0f);
  EXPECT_EQ(yz.closed_throttle_torque[49], -23.0f);
  EXPECT_STREQ(yz.part_files[PART_FRAME_MODEL], "@yz250fv2014_frame.jm");
  EXPECT_STREQ(yz.part_files[PART_BIKE_TEXTURE], "@yz250fv2014.png");
  EXPECT_STREQ(yz.part_files[PART_RIDER_BODY_FP_MODEL], "@rider_body_fp.jm");
  EXPECT_STREQ(yz.part_files[PART_RIDER_PLATE_MODEL], "@rider_plate.jm");

  float peak = 0;
  for (float t : bike_models[lookup_bike_model("rs50cr")].full_throttle_torque) peak = std::max(peak, t);
  EXPECT_NEAR(peak, 4.31f, 1e-4);
}

// ------------------------------------------------------------ graphics

TEST(GraphicsFiles, VariantModelNames) {
  struct Case {
    const char *model, *texture, *variant;  // variant nullptr: none
  } cases[] = {
      {"@yz250fv2014_frame.jm", "@yz250f-red-2.png", "@yz250fv2014_frame-red.jm"},
      {"@yz250fv2014_frame.jm", "@skins/my-bike/yz-blue-x-y.png", "@yz250fv2014_frame-blue.jm"},
      {"@models/frame-old.jm", "@a-b-c.png", "@models/frame-b.jm"},
      {"@dir.v2/frame", "@a-b-c.png", "@dir.v2/frame-b.jm"},
      {"@crf250_frame.jm", "@crf250-alt1.png", nullptr},
      {"@crf250_frame.jm", "@x-y/plain.png", nullptr},  // dashes only in the folder
      {"@crf250_frame.jm", "@a--b.png", "@crf250_frame-.jm"},
  };
  for (const Case &c : cases) {
    char out[256];
    int made = variant_model_name(c.model, c.texture, out, sizeof out);
    if (c.variant) {
      EXPECT_TRUE(made) << c.texture;
      EXPECT_STREQ(out, c.variant);
    } else {
      EXPECT_FALSE(made) << c.texture;
    }
  }
  char small[8];
  EXPECT_FALSE(variant_model_name("@yz250fv2014_frame.jm", "@a-b-c.png", small, sizeof small));
}

std::set<std::string> present;
int fake_exists(const char *name) { return present.count(name) ? 1 : 0; }

TEST(GraphicsFiles, PartModelChoice) {
  char out[256], warning[1024];
  const char *model = "@yz250fv2014_frame.jm", *texture = "@skins/yz-red-2.png";

  present = {"@yz250fv2014_frame-red.jm", "@skins/yz250fv2014_frame-red.jm", model};
  EXPECT_EQ(choose_part_model(model, texture, 1, fake_exists, out, sizeof out, warning, sizeof warning),
            MODEL_VARIANT);
  EXPECT_STREQ(out, "@yz250fv2014_frame-red.jm");

  present = {"@skins/yz250fv2014_frame-red.jm", model};
  EXPECT_EQ(choose_part_model(model, texture, 1, fake_exists, out, sizeof out, warning, sizeof warning),
            MODEL_VARIANT_FOLDER);
  EXPECT_STREQ(out, "@skins/yz250fv2014_frame-red.jm");

  // A missing variant is not replaced by the row's model.
  present = {model};
  EXPECT_EQ(choose_part_model(model, texture, 1, fake_exists, out, sizeof out, warning, sizeof warning),
            MODEL_NONE);
  EXPECT_STREQ(warning, "Warning: Can't load @yz250fv2014_frame-red.jm or @skins/yz250fv2014_frame-red.jm");
  EXPECT_EQ(choose_part_model(model, texture, 0, fake_exists, out, sizeof out, warning, sizeof warning),
            MODEL_NONE);
  EXPECT_STREQ(warning, "");

  // No texture of its own (or one without variants): the row's model.
  EXPECT_EQ(choose_part_model(model, nullptr, 1, fake_exists, out, sizeof out, warning, sizeof warning),
            MODEL_ROW);
  EXPECT_STREQ(out, model);
  EXPECT_EQ(choose_part_model(model, "@plain.png", 1, fake_exists, out, sizeof out, warning, sizeof warning),
            MODEL_ROW);
  present.clear();
  EXPECT_EQ(choose_part_model(model, nullptr, 1, fake_exists, out, sizeof out, warning, sizeof warning),
            MODEL_NONE);
  EXPECT_STREQ(warning, "Warning: Can't load @yz250fv2014_frame.jm");

  EXPECT_TRUE(graphics_part_warns(PART_FRAME_MODEL));
  EXPECT_FALSE(graphics_part_warns(PART_RIDER_PLATE_MODEL));
  EXPECT_FALSE(graphics_part_warns(PART_SIDE_PLATES_MODEL));
  int parts[8];
  EXPECT_EQ(graphics_group_parts(GFX_BIKE, parts), 6);
  EXPECT_EQ(parts[1], PART_SIDE_PLATES_MODEL);
  EXPECT_EQ(graphics_group_texture_part(GFX_HEAD), PART_HEAD_TEXTURE);
}

TEST(GraphicsFiles, NormalAndSpecularMaps) {
  char normal[256], specular[256];
  const char *texture = "@skins/yz-red-2.png", *row = "@yz250fv2014.png";

  present = {"@skins/yz-red-2_norm.ppm", "@skins/yz-red-2_spec.seq", "@skins/yz-red-2_norm.png"};
  ASSERT_TRUE(find_texture_maps(texture, row, fake_exists, normal, specular, sizeof normal));
  EXPECT_STREQ(normal, "@skins/yz-red-2_norm.png");  // ".png" comes before ".ppm"
  EXPECT_STREQ(specular, "@skins/yz-red-2_spec.seq");

  // Only one of the pair beside the texture: the variant's pair wins.
  present = {"@skins/yz-red-2_norm.png", "@skins/yz-red_norm.png", "@skins/yz-red_spec.png"};
  ASSERT_TRUE(find_texture_maps(texture, row, fake_exists, normal, specular, sizeof normal));
  EXPECT_STREQ(normal, "@skins/yz-red_norm.png");
  EXPECT_STREQ(specular, "@skins/yz-red_spec.png");

  present = {"@yz250fv2014_norm.png", "@yz250fv2014_spec.ppm"};
  ASSERT_TRUE(find_texture_maps(texture, row, fake_exists, normal, specular, sizeof normal));
  EXPECT_STREQ(normal, "@yz250fv2014_norm.png");

  present = {"@yz250fv2014_norm.png"};
  EXPECT_FALSE(find_texture_maps(texture, row, fake_exists, normal, specular, sizeof normal));
  EXPECT_STREQ(normal, "");
  EXPECT_STREQ(specular, "");
}

int loads_red_skin(const char *name) { return strcmp(name, "@skins/yz-red-2.png") == 0; }

TEST(GraphicsFiles, WholeRiderPlan) {
  const BikeModel &m = bike_models[lookup_bike_model("yz250f(2017)")];
  present = {"@yz250fv2014_frame-red.jm", "@skins/yz250fv2014_fork_upper-red.jm", "@skins/yz250fv2014_fork_lower-red.jm",
             "@front_wheel.jm", "@rear_wheel.jm", "@rider_body.jm", "@rider_head.jm",
             "@skins/yz-red-2_norm.png", "@skins/yz-red-2_spec.png"};
  const char *names[GFX_GROUP_COUNT] = {"@skins/yz-red-2.png", "default", "@gear-a-b.png", nullptr};
  static GraphicsPlan plan;
  MessageCatcher catcher;
  plan_rider_graphics(&m, names, loads_red_skin, fake_exists, &plan);

  EXPECT_EQ(plan.custom[GFX_BIKE], 1);
  EXPECT_STREQ(plan.texture[GFX_BIKE], "@skins/yz-red-2.png");
  EXPECT_STREQ(plan.model[PART_FRAME_MODEL], "@yz250fv2014_frame-red.jm");
  EXPECT_STREQ(plan.model[PART_FORK_UPPER_MODEL], "@skins/yz250fv2014_fork_upper-red.jm");
  EXPECT_STREQ(plan.model[PART_SWINGARM_MODEL], "");
  EXPECT_STREQ(plan.model[PART_SIDE_PLATES_MODEL], "");
  EXPECT_STREQ(plan.normal[GFX_BIKE], "@skins/yz-red-2_norm.png");
  // A texture that does not load leaves the row's texture and models.
  EXPECT_EQ(plan.custom[GFX_RIDER], 0);
  EXPECT_STREQ(plan.texture[GFX_RIDER], "@rider_body.png");
  EXPECT_STREQ(plan.model[PART_RIDER_BODY_MODEL], "@rider_body.jm");
  EXPECT_STREQ(plan.model[PART_REAR_WHEEL_MODEL], "@rear_wheel.jm");
  EXPECT_STREQ(plan.model[PART_HEAD_MODEL], "@rider_head.jm");
  EXPECT_STREQ(plan.normal[GFX_HEAD], "");
  // Only the parts that report failures warn; plates and bodies are silent.
  std::vector<std::string> want = {
      "Warning: Can't load @yz250fv2014_swingarm-red.jm or @skins/yz250fv2014_swingarm-red.jm"};
  EXPECT_EQ(catcher.lines, want);
}

TEST(GraphicsFiles, NumberPlateColours) {
  struct Case {
    const char *text;
    PlateColours want;
  } cases[] = {
      {nullptr, {{255, 255, 255}, {0, 0, 0}}},
      {"made by hand", {{255, 255, 255}, {0, 0, 0}}},
      {"x [numberbackground:0,0.5,1] [numberforeground:1,0.25,0]", {{0, 127, 255}, {255, 63, 0}}},
      // Missing numbers are 1, out-of-range ones clamped, non-numbers missing.
      {"[numberforeground:0.5]", {{255, 255, 255}, {127, 255, 255}}},
      {"[numberbackground:-3,7,nan]", {{0, 255, 255}, {0, 0, 0}}},
      {"[numberbackground:inf,0,0]", {{255, 0, 0}, {0, 0, 0}}},
      {"[numberforeground:-inf,-1e99,1e99]", {{255, 255, 255}, {0, 0, 255}}},
  };
  for (const Case &c : cases) {
    PlateColours p = parse_plate_colours(c.text);
    SCOPED_TRACE(c.text ? c.text : "(null)");
    for (int i = 0; i < 3; i++) {
      EXPECT_EQ(p.background[i], c.want.background[i]) << i;
      EXPECT_EQ(p.foreground[i], c.want.foreground[i]) << i;
    }
  }
}

}  // namespace
