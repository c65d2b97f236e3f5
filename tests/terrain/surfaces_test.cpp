#include <gtest/gtest.h>

#include <functional>

#include "fixture.h"
#include "terrain/terrain_internal.h"

namespace {

std::vector<std::string> parse(const std::string &text, int (*parser)(DataFile *)) {
  Messages m;
  DataFile *f = data_open_memory(text.data(), int(text.size()), 0);
  EXPECT_NE(f, nullptr);
  EXPECT_EQ(parser(f), 1);
  data_close(f);
  return m.lines();
}

const Surface &S(int i) { return terrain.surface[i]; }
const SurfaceRoost &R(int i, int k) { return terrain.surface[i].roost[k]; }
std::string W(const std::string &what) { return "tileinfo warning: " + what + "\n"; }

struct Case {
  const char *name;
  std::string text;
  std::vector<std::string> warnings;
  std::function<void()> check;
};

TEST(Tileinfo, SnippetsGiveRecordsAndWarnings) {
  const Case cases[] = {
      {"defaults", "texture @ground/dirt.png\naddtile\n", {}, [] {
         EXPECT_EQ(terrain.tile_count, 1);
         EXPECT_STREQ(S(0).name, "@ground/dirt.png");
         EXPECT_STREQ(S(0).texture_name, "@ground/dirt.png");
         EXPECT_EQ(S(0).friction_coef[0], 1.0f);
         EXPECT_EQ(S(0).friction_speed[0], 1.0f);
         EXPECT_EQ(S(0).friction_speed[1], FRICTION_END_SPEED);
         EXPECT_EQ(S(0).roll_a[3], 5.0f);
         EXPECT_EQ(S(0).roll_speed[0], 1.0f);
         EXPECT_EQ(S(0).roll_speed[1], 0.0f);
         EXPECT_EQ(R(0, 0).mode, ROOST_NONE);
         EXPECT_EQ(S(0).erode.limit_count, 1);
         EXPECT_EQ(S(0).erode.s[ERODE_UPPER], 150.0f);
         EXPECT_EQ(S(0).erode.s[ERODE_LIMIT_OUTER], 1.0f);
         EXPECT_EQ(S(0).erode.s[ERODE_FRONT_SCALE], 1.0f);
       }},
      {"friction sorted by slip speed", "friction 0.8 10\nfriction 1.2 2\naddtile\n", {}, [] {
         EXPECT_EQ(S(0).friction_coef[0], 1.2f);
         EXPECT_EQ(S(0).friction_speed[0], 2.0f);
         EXPECT_EQ(S(0).friction_coef[1], 0.8f);
         EXPECT_EQ(S(0).friction_speed[1], 10.0f);
         EXPECT_EQ(S(0).friction_speed[2], FRICTION_END_SPEED);
       }},
      {"friction limits and errors",
       "friction -1 2000000\nfriction 1\nfriction nan 3\n"
       "friction 1 1\nfriction 1 2\nfriction 1 3\nfriction 1 4\nfriction 1 5\nfriction 1 6\nfriction 1 7\nfriction 1 8\n"
       "addtile\n",
       {W("bad friction parameters"), W("bad friction parameters"), W("too many friction points")}, [] {
         EXPECT_EQ(S(0).friction_coef[7], 0.0f);
         EXPECT_EQ(S(0).friction_speed[7], 1048575.0f);
         EXPECT_EQ(S(0).friction_speed[0], 1.0f);
       }},
      {"slip function", "slip_function 2\naddtile\nslip_function 3\naddtile\nslip_function x\naddtile\n",
       {W("bad slip_function"), W("bad slip_function")}, [] {
         EXPECT_EQ(S(0).slip_function, 2);
         EXPECT_EQ(S(1).slip_function, 0);
         EXPECT_EQ(S(2).slip_function, 0);
       }},
      {"roll resistance", "roll_resist 1 2 30\nroll_resist -1 -2 0\nroll_resist 1 2\naddtile\n",
       {W("bad roll_resist parameters")}, [] {
         EXPECT_EQ(S(0).roll_a[0], 0.0f);
         EXPECT_EQ(S(0).roll_b[0], 0.0f);
         EXPECT_EQ(S(0).roll_speed[0], 0.00000095367431640625f);
         EXPECT_EQ(S(0).roll_speed[1], 30.0f);
         EXPECT_EQ(S(0).roll_speed[2], 0.0f);
       }},
      {"nine roll points", [] {
         std::string s;
         for (int i = 0; i < 9; i++) s += "roll_resist 1 1 " + std::to_string(9 - i) + "\n";
         return s + "addtile\n";
       }(), {W("too many roll_resist points")}, [] {
         EXPECT_EQ(S(0).roll_speed[0], 2.0f);
         EXPECT_EQ(S(0).roll_speed[7], 9.0f);
       }},
      {"roost with quotes", "roost count=3 \"texture=my roost.png\" splash=1\naddtile\n", {}, [] {
         EXPECT_EQ(R(0, 0).mode, ROOST_SPLASH);
         EXPECT_EQ(R(0, 0).count, 3.0f);
         EXPECT_STREQ(R(0, 0).texture_name, "my roost.png");
         EXPECT_EQ(R(0, 1).mode, ROOST_NONE);
       }},
      {"roost quote inside a token", "roost texture=\"a b.png\"\naddtile\n", {}, [] {
         EXPECT_STREQ(R(0, 0).texture_name, "a b.png");
         EXPECT_EQ(R(0, 0).mode, ROOST_THROW);
       }},
      {"roost bytes", "roost fade_a=-256 fade_r=-250 fade_g=1e9 r=300 g=-5 b=7.9 a=12\naddtile\n", {}, [] {
         EXPECT_EQ(R(0, 0).fade[3], -2);
         EXPECT_EQ(R(0, 0).fade[0], -1);
         EXPECT_EQ(R(0, 0).fade[1], 127);
         EXPECT_EQ(R(0, 0).color[0], 255);
         EXPECT_EQ(R(0, 0).color[1], 0);
         EXPECT_EQ(R(0, 0).color[2], 7);
         EXPECT_EQ(R(0, 0).color[3], 12);
       }},
      {"roost numbers", "roost count=abc drag=1000 size=2.5x slow_angle=nan splash=0 foo=1\naddtile\n",
       {W("bad count"), W("bad slow_angle"), W("unknown roost parameter 'foo=1'")}, [] {
         EXPECT_EQ(R(0, 0).count, 0.0f);
         EXPECT_EQ(R(0, 0).drag, 128.0f);
         EXPECT_EQ(R(0, 0).size, 2.5f);
         EXPECT_EQ(R(0, 0).slow_angle, 0.0f);
         EXPECT_EQ(R(0, 0).mode, ROOST_THROW);
         EXPECT_EQ(R(0, 0).vscale, 1.0f);
         EXPECT_STREQ(R(0, 0).texture_name, "@roost.png");
       }},
      {"five roosts", "roost\nroost\nroost\nroost\nroost count=1\naddtile\n", {W("too many roost types")}, [] {
         EXPECT_EQ(R(0, 3).mode, ROOST_THROW);
         EXPECT_EQ(R(0, 3).count, 10.0f);
       }},
      {"erode fields", "erode_depth x\nerode_radius 1e9\nerode_inner_radius -3\nerode_on_speed 20\n"
                       "erode_front_scale inf\naddtile\n",
       {W("bad erode_depth"), W("bad erode_front_scale")}, [] {
         EXPECT_EQ(S(0).erode.s[ERODE_DEPTH], 1.0f);
         EXPECT_EQ(S(0).erode.s[ERODE_RADIUS], 32.0f);
         EXPECT_EQ(S(0).erode.s[ERODE_INNER_RADIUS], 0.0f);
         EXPECT_EQ(S(0).erode.s[ERODE_ON_SPEED], 20.0f);
         EXPECT_EQ(S(0).erode.s[ERODE_FRONT_SCALE], 1.0f);
       }},
      {"erode limits", "erode_limit 0.1 1 1\nerode_limit 0.05 2 2\nerode_limit 0.5 0 0\nerode_limit 1\naddtile\n",
       {W("erode_limit depth <= prev depth"), W("bad erode_limit")}, [] {
         EXPECT_EQ(S(0).erode.limit_count, 2);
         EXPECT_EQ(S(0).erode.s[ERODE_LIMIT_DEPTH + 1], 0.5f);
         EXPECT_EQ(S(0).erode.s[ERODE_LIMIT_OUTER + 1], 0.0f);
       }},
      {"nine erode limits", [] {
         std::string s;
         for (int i = 0; i < 9; i++) s += "erode_limit " + std::to_string(i) + " 1 1\n";
         return s + "addtile\n";
       }(), {W("too many erode limits")}, [] { EXPECT_EQ(S(0).erode.limit_count, 8); }},
      {"names and unknown keys", "  name   A very long surface name that runs past forty-seven characters\r\n"
                                 "texture x.png\nTexture y.png\n\n\t\naddtile\nname left over\n",
       {W("Unknown identifier 'Texture'")}, [] {
         EXPECT_EQ(terrain.tile_count, 1);
         EXPECT_EQ(std::string(S(0).name), std::string("A very long surface name that runs past forty-s"));
       }},
      {"no tiles gives one default", "name lonely\ntexture a.png\n",
       {"tileinfo warning: no tiles defined, using a default surface\n"}, [] {
         EXPECT_EQ(terrain.tile_count, 1);
         EXPECT_EQ(S(0).name[0], 0);
         EXPECT_EQ(S(0).friction_coef[0], 1.0f);
       }},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(parse(c.text, tileinfo_parse), c.warnings);
    c.check();
  }
}

TEST(Tileinfo, StopsAtTheSurfaceLimit) {
  std::string text;
  for (int i = 0; i < 300; i++) text += "name t" + std::to_string(i) + "\naddtile\n";
  text += "bogus\n";  // never reached
  EXPECT_TRUE(parse(text, tileinfo_parse).empty());
  EXPECT_EQ(terrain.tile_count, 256);
  EXPECT_STREQ(S(255).name, "t255");
}

TEST(Tileinfo, TransitionCodesComeFromTextureNames) {
  std::string text;
  for (const char *t : {"@g/dirt.png", "grass.png", "dirt-grass-0011.png", "dirt-alt1.png", "dirt-sand-0000.png",
                        "rock-dirt-1111.png", "grass-dirt-01x1.png", ""})
    text += std::string("texture ") + t + "\naddtile\n";
  parse(text, tileinfo_parse);
  const int expected[] = {0, 65536 + 256, 256 + 3, 0, -256, 5 * 65536 + 5 * 256, 65536, 7 * 65536 + 7 * 256};
  for (int i = 0; i < 8; i++) EXPECT_EQ(S(i).transition, expected[i]) << i;
}

TEST(Texturelist, LinesGiveFrictionRollAndTexture) {
  auto warnings = parse("0.9 5 15 dirt.png\n  grass.png\n\n-1 2 3 my mud.png\r\n7 nan 1 odd.png\nlast.png", texturelist_parse);
  EXPECT_TRUE(warnings.empty());
  ASSERT_EQ(terrain.tile_count, 5);
  EXPECT_EQ(S(0).friction_coef[7], 0.9f);
  EXPECT_EQ(S(0).friction_speed[0], 1.0f);
  EXPECT_EQ(S(0).friction_speed[1], FRICTION_END_SPEED);
  EXPECT_EQ(S(0).roll_a[7], 5.0f);
  EXPECT_EQ(S(0).roll_b[7], 15.0f);
  EXPECT_EQ(S(0).roll_speed[1], 0.0f);
  EXPECT_STREQ(S(0).texture_name, "@dirt.png");
  EXPECT_EQ(S(0).roost[0].mode, ROOST_THROW);
  EXPECT_EQ(S(0).roost[1].mode, ROOST_NONE);
  EXPECT_EQ(S(1).friction_coef[0], 1.0f);
  EXPECT_EQ(S(1).roll_b[0], 15.0f);
  EXPECT_STREQ(S(1).texture_name, "@grass.png");
  EXPECT_STREQ(S(2).texture_name, "@my mud.png");
  EXPECT_EQ(S(2).friction_coef[0], 0.0f);
  EXPECT_STREQ(S(3).texture_name, "@7 nan 1 odd.png");
  EXPECT_STREQ(S(4).texture_name, "@last.png");
  EXPECT_EQ(S(0).transition, 0);
  EXPECT_EQ(S(4).transition, 4 * 65536 + 4 * 256);

  warnings = parse(" \n\n", texturelist_parse);
  EXPECT_EQ(terrain.tile_count, 1);
  EXPECT_EQ(warnings.size(), 1u);
}

TEST(Texturelist, TexturesComeThroughTheHook) {
  static std::vector<std::string> asked;
  asked.clear();
  terrain_hooks.load_texture = [](const char *name) {
    asked.push_back(name);
    return int(asked.size());
  };
  parse("dirt.png\n", texturelist_parse);
  terrain_hooks.load_texture = nullptr;
  EXPECT_EQ(asked, (std::vector<std::string>{"@dirt.png", "@roost.png"}));
  EXPECT_EQ(S(0).texture, 1);
  EXPECT_EQ(S(0).roost[0].texture, 2);
}

TEST(SurfaceNumbers, OnlyDecimalFiniteNumbers) {
  struct Case {
    const char *text;
    int ok;
    float value;
    int used;
  } cases[] = {
      {"  12.5rest", 1, 12.5f, 6}, {"-.5", 1, -0.5f, 3}, {"1e3x", 1, 1000, 3}, {"1e", 1, 1, 1},
      {"3.", 1, 3, 2},             {"nan", 0, 0, 0},     {"inf", 0, 0, 0},     {"-infinity", 0, 0, 0},
      {"0x1p3", 1, 0, 1},          {"1e39", 0, 0, 0},    {".", 0, 0, 0},       {"+", 0, 0, 0},
  };
  for (const Case &c : cases) {
    const char *p = c.text;
    float v = -99;
    EXPECT_EQ(parse_decimal_float(&p, &v), c.ok) << c.text;
    if (c.ok) {
      EXPECT_EQ(v, c.value) << c.text;
      EXPECT_EQ(p - c.text, c.used) << c.text;
    }
  }
}

}  // namespace
