// The command line: value forms, clamps, messages and status.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "app/app.h"
#include "app/cmdline.h"

namespace {

struct Parsed {
  int status;
  std::string errors;
  Settings s;
};

Parsed parse(std::vector<const char *> args, Settings start = Settings()) {
  Parsed p{0, "", start};
  p.status = parse_command_line(int(args.size()), args.data(), &p.s, &p.errors);
  return p;
}

struct Case {
  std::vector<const char *> args;
  int status;
  const char *errors;
  std::function<bool(const Settings &)> check;
};

TEST(CommandLine, Table) {
  Settings configured;
  configured.width = 1024;
  configured.height = 768;
  configured.depth = 24;
  const std::string gates_40(40, 'R'), gates_41(41, 'R');
  const Case cases[] = {
      // value forms
      {{"--width=640", "--height", "480"}, 0, "",
       [](const Settings &s) { return s.width == 640 && s.height == 480; }},
      {{"--width"}, 0, "", [](const Settings &s) { return s.width == 1024; }},
      {{"--width", "abc"}, 0, "", [](const Settings &s) { return s.width == 1024; }},
      {{"--depth"}, 0, "", [](const Settings &s) { return s.depth == 0; }},
      {{"--zdepth=24", "--draw-fps", "1"}, 0, "",
       [](const Settings &s) { return s.zdepth == 24 && s.draw_fps == 1; }},
      {{"--texture-detail"}, 1, "Bad arg for --texture-detail\n", nullptr},
      {{"--texture-detail", "x"}, 1, "Bad arg for --texture-detail\n", nullptr},
      {{"--rotate-lineup", "x"}, 0, "", [](const Settings &s) { return s.rotate_lineup == 0; }},
      {{"--track"}, 0, "", [](const Settings &s) { return s.track.empty(); }},
      {{"--track", "dunes", "--password=a=b"}, 0, "",
       [](const Settings &s) { return s.track == "dunes" && s.password == "a=b"; }},
      // clamps
      {{"--texture-detail", "9"}, 0, "",
       [](const Settings &s) {
         return s.model_texture_reduction == 4 && s.ground_texture_reduction == 4;
       }},
      {{"--texture-detail", "-3"}, 0, "",
       [](const Settings &s) {
         return s.model_texture_reduction == 0 && s.ground_texture_reduction == 0;
       }},
      {{"--ground-texture-detail=7"}, 0, "",
       [](const Settings &s) { return s.ground_texture_reduction == 4; }},
      {{"--roostfrequency", "5000"}, 0, "",
       [](const Settings &s) { return s.roost_frequency == 1000; }},
      {{"--erode", "250"}, 0, "", [](const Settings &s) { return s.erode == 102400; }},
      {{"--erode", "0.5"}, 0, "", [](const Settings &s) { return s.erode == 512; }},
      {{"--erode", "-4"}, 0, "", [](const Settings &s) { return s.erode == 0; }},
      {{"--fake-lag", "2500"}, 0, "", [](const Settings &s) { return s.fake_lag == 1.0; }},
      {{"--fake-lag", "250"}, 0, "",
       [](const Settings &s) { return std::fabs(s.fake_lag - 0.25) < 1e-7; }},
      {{"--fake-loss", "150"}, 0, "", [](const Settings &s) { return s.fake_loss == 100; }},
      {{"--lod-scale", "0"}, 0, "",
       [](const Settings &s) { return s.lod_scale == 0.000001f; }},
      {{"--max-detail-distance", "60"}, 0, "",
       [](const Settings &s) { return s.max_detail_distance == 60 && s.fade_distance == 65; }},
      {{"--lock-fps", "60"}, 0, "", [](const Settings &s) { return s.lock_fps == 60; }},
      // a rate near zero would wait for ages between frames; 0 or less is no lock
      {{"--lock-fps", "1e-30"}, 0, "", [](const Settings &s) { return s.lock_fps == 1; }},
      {{"--lock-fps=5000"}, 0, "", [](const Settings &s) { return s.lock_fps == 1000; }},
      {{"--lock-fps", "60", "--lock-fps", "0"}, 0, "",
       [](const Settings &s) { return s.lock_fps == 0; }},
      {{"--lock-fps", "-3"}, 0, "", [](const Settings &s) { return s.lock_fps == 0; }},
      {{"--lock-fps", "x"}, 1, "Bad arg for --lock-fps\n", nullptr},
      // non-finite numbers never get through
      {{"--erode", "nan"}, 1, "Bad arg for --erode\n", nullptr},
      {{"--lock-fps", "inf"}, 1, "Bad arg for --lock-fps\n", nullptr},
      {{"--detail=-inf"}, 1, "Bad arg for --detail\n", nullptr},
      {{"--fake-lag", "NAN"}, 1, "Bad arg for --fake-lag\n", nullptr},
      {{"--chase-center", "1,nan,2"}, 1, "Bad arg for --chase-center\n", nullptr},
      {{"--erode"}, 1, "Bad arg for --erode\n", nullptr},
      // chase centre
      {{}, 0, "",
       [](const Settings &s) {
         return s.chase_center[0] == 0 && s.chase_center[1] == 2.52f &&
                s.chase_center[2] == 0.52f;
       }},
      {{"--chase-center=1,2,3"}, 0, "",
       [](const Settings &s) {
         return s.chase_center[0] == 1 && s.chase_center[1] == 2 && s.chase_center[2] == 3;
       }},
      {{"--chase-center", "1,2"}, 1, "Bad arg for --chase-center\n", nullptr},
      // GL version forms
      {{}, 0, "",
       [](const Settings &s) { return s.gl_major == 3 && s.gl_minor == 1 && s.gl_dialect == 1; }},
      {{"--glversion", "4.6"}, 0, "",
       [](const Settings &s) { return s.gl_major == 4 && s.gl_minor == 6 && s.gl_dialect == 0; }},
      {{"--glversion", "3.2core"}, 0, "",
       [](const Settings &s) { return s.gl_major == 3 && s.gl_minor == 2 && s.gl_dialect == 1; }},
      {{"--glversion", "3.2 es"}, 0, "",
       [](const Settings &s) { return s.gl_minor == 2 && s.gl_dialect == 2; }},
      {{"--glversion=3.3compatibility"}, 0, "", [](const Settings &s) { return s.gl_dialect == 0; }},
      {{"--glversion", "3"}, 1, "bad arg for --glversion\n", nullptr},
      {{"--glversion"}, 1, "bad arg for --glversion\n", nullptr},
      {{"--glversion", "3.2gles"}, 1,
       "unknown OpenGL dialect for --glversion (must be 'compatibility', 'core' or 'es')\n", nullptr},
      // files and "--"
      {{"--", "-x"}, 0, "", [](const Settings &s) { return s.demo_file == "-x"; }},
      {{"--", "-x", "y"}, 1, "Too many files!\n", nullptr},
      {{"a.twdemo", "b.twdemo"}, 1, "Too many files!\n", nullptr},
      {{"--", "--"}, 0, "", [](const Settings &s) { return s.demo_file == "--"; }},
      {{"x.twdemo", "--", "--nosound"}, 1, "Too many files!\n", nullptr},
      {{"race.twdemo", "--nosound"}, 0, "",
       [](const Settings &s) { return s.demo_file == "race.twdemo" && s.nosound; }},
      // unknown options, flags only by their exact spelling
      {{"-x"}, 1, "bad option '-x'\n", nullptr},
      {{"--nosound=1"}, 1, "bad option '--nosound=1'\n", nullptr},
      {{"--widthx=3"}, 1, "bad option '--widthx=3'\n", nullptr},
      {{"-"}, 1, "bad option '-'\n", nullptr},
      // flags and their interplay
      {{"--learn", "--nolearn", "--sse2"}, 0, "", [](const Settings &s) { return !s.learn; }},
      {{"--fugly", "--nosound", "--novertexarrays", "--learn", "--practice", "--warp",
        "--record-video", "--editor", "--hidden-pause", "--hidden-hud", "--accurate-skip",
        "--open-home", "--glfinish", "--print-orientation", "--headless",
        "--exit-after-race"},
       0, "",
       [](const Settings &s) {
         return s.fugly && s.nosound && s.novertexarrays && s.learn && s.practice && s.warp &&
                s.record_video && s.editor && s.hidden_pause && s.hidden_hud &&
                s.accurate_skip && s.open_home && s.glfinish && s.print_orientation &&
                s.headless && s.exit_after_race;
       }},
      {{"--draw-time=1", "--draw-ping", "0", "--draw-speed", "1", "--draw-render-stats=1",
        "--depth", "24"},
       0, "",
       [](const Settings &s) {
         return s.draw_time == 1 && s.draw_ping == 0 && s.draw_speed == 1 &&
                s.draw_render_stats == 1 && s.depth == 24;
       }},
      {{"--detail", "0.01", "--lod-bias=-2.5", "--lod-scale", "2e7", "--rotate-lineup", "3"},
       0, "",
       [](const Settings &s) {
         return s.terrain_detail == 0.01f && s.lod_bias == -2.5f && s.lod_scale == 1000000.0f &&
                s.rotate_lineup == 3;
       }},
      {{"--record-audio", "out.raw"}, 0, "",
       [](const Settings &s) { return s.record_audio == "out.raw" && s.record_audio_given; }},
      {{"--record-audio"}, 0, "",
       [](const Settings &s) { return s.record_audio.empty() && s.record_audio_given; }},
      {{"--bikes"}, 0, "--bikes doesn't do anything anymore\n", nullptr},
      {{"--debug"}, 0, "", [](const Settings &s) { return s.verbosity == 1; }},
      {{"--super-debug"}, 0, "", [](const Settings &s) { return s.verbosity == 2; }},
      {{"--bikes", "3", "--nosound"}, 0, "--bikes doesn't do anything anymore\n",
       [](const Settings &s) { return s.nosound == 1; }},
      {{"--connect", "tarnwick:host.example:1234", "--track", "dunes"}, 0, "",
       [](const Settings &s) {
         return s.connect == "host.example:1234" && s.connect_given && s.track.empty();
       }},
      // batch options
      {{"--headless", "--seed", "42", "--tics=256", "--exit-after-race"}, 0, "",
       [](const Settings &s) {
         return s.headless && s.seed_given && s.seed == 42 && s.tics_limit == 256 &&
                s.exit_after_race;
       }},
      {{"--seed", "4294967296"}, 1, "Bad arg for --seed\n", nullptr},
      {{"--tics", "0"}, 1, "Bad arg for --tics\n", nullptr},
      {{"--tics", "-5"}, 1, "Bad arg for --tics\n", nullptr},
      // a race without menus
      {{"--race", "HR2.4", "--laps", "2", "--minutes=3", "--skill", "expert", "--record-demo",
        "--drive", "follow"},
       0, "",
       [](const Settings &s) {
         return s.race_given && s.race_slots == "HR2.4" && s.race_laps == 2 &&
                s.race_minutes == 3 && s.race_skill == 2 && s.record_demo &&
                s.drive == "follow";
       }},
      {{}, 0, "",
       [](const Settings &s) {
         return !s.race_given && s.race_laps == -1 && s.race_minutes == -1 &&
                s.race_skill == -1 && !s.time_trial && s.drive.empty();
       }},
      {{"--race", "HX"}, 1, "Bad arg for --race\n", nullptr},
      {{"--race", ""}, 1, "Bad arg for --race\n", nullptr},
      {{"--race", gates_41.c_str()}, 1, "Bad arg for --race\n", nullptr},
      {{"--race", gates_40.c_str()}, 0, "", nullptr},
      {{"--skill", "pro"}, 1, "Bad arg for --skill\n", nullptr},
      {{"--skill", "novice"}, 0, "", [](const Settings &s) { return s.race_skill == 0; }},
      {{"--drive"}, 1, "Bad arg for --drive\n", nullptr},
      {{"--laps", "5000"}, 0, "", [](const Settings &s) { return s.race_laps == 1000; }},
      {{"--race", "H", "--time-trial"}, 1, "--race and --time-trial are two races: give one\n",
       nullptr},
      {{"--time-trial", "--connect", "host"}, 1,
       "--race and --time-trial race here, not on a server: not with --connect\n", nullptr},
      {{"--race", "H", "--laps", "0"}, 1, "--laps 0 leaves nothing to race without --minutes\n",
       nullptr},
      {{"--race", "H", "--laps", "0", "--minutes", "2"}, 0, "", nullptr},
      {{"--help"}, 0, "", [](const Settings &s) { return s.help == 1; }},
      {{"--headless", "--print-hash"}, 0, "", [](const Settings &s) { return s.print_hash == 1; }},
      {{}, 0, "", [](const Settings &s) { return s.print_hash == 0; }},
      {{"--console", "/fov 90", "--console=/togglefps"}, 0, "",
       [](const Settings &s) {
         return s.console_lines == std::vector<std::string>{"/fov 90", "/togglefps"};
       }},
      {{"--console"}, 1, "Bad arg for --console\n", nullptr},
  };
  for (const Case &c : cases) {
    std::string line;
    for (const char *a : c.args) line += std::string(a) + " ";
    Parsed p = parse(c.args, configured);
    EXPECT_EQ(p.status, c.status) << line;
    EXPECT_EQ(p.errors, c.errors) << line;
    if (c.check) {
      EXPECT_TRUE(c.check(p.s)) << line;
    }
  }
}

TEST(CommandLine, HelpListsEveryOption) {
  std::string help = command_line_help();
  for (const char *name :
       {"--fugly", "--nosound", "--novertexarrays", "--learn", "--nolearn", "--debug",
        "--super-debug", "--practice", "--warp", "--texture-detail", "--ground-texture-detail",
        "--roostfrequency", "--erode", "--detail", "--max-detail-distance", "--lod-scale",
        "--lod-bias", "--lock-fps", "--fake-lag", "--fake-loss", "--record-audio",
        "--record-video", "--rotate-lineup", "--editor", "--hidden-pause", "--hidden-hud",
        "--bikes", "--width", "--height", "--depth", "--zdepth", "--draw-fps", "--draw-time",
        "--draw-ping", "--draw-speed", "--draw-render-stats", "--accurate-skip", "--track",
        "--connect", "--password", "--chase-center", "--open-home", "--glfinish",
        "--glversion", "--print-orientation", "--sse2", "--headless", "--seed", "--tics",
        "--exit-after-race", "--print-hash", "--help"}) {
    EXPECT_NE(help.find(std::string(" ") + name + " "), std::string::npos) << name;
    // Every option listed is also one the parser takes.
    std::vector<const char *> args = {name, "1"};
    if (!strcmp(name, "--chase-center")) args[1] = "1,2,3";
    if (!strcmp(name, "--glversion")) args[1] = "3.3";
    Settings s;
    std::string errors;
    EXPECT_EQ(parse_command_line(2, args.data(), &s, &errors), 0) << name << ": " << errors;
  }
}

TEST(CommandLine, HelpShowsRangesInTheUnitsTyped) {
  std::string help = command_line_help();
  auto line_of = [&](const char *name) {
    size_t at = help.find(std::string("  ") + name + " ");
    return at == std::string::npos ? std::string() : help.substr(at, help.find('\n', at) - at);
  };
  EXPECT_NE(line_of("--erode").find("(0..100)"), std::string::npos) << line_of("--erode");
  EXPECT_NE(line_of("--fake-lag").find("(0..1000)"), std::string::npos);
  EXPECT_NE(line_of("--lock-fps").find("(1..1000)"), std::string::npos);
  EXPECT_EQ(line_of("--lod-bias").find(".."), std::string::npos);
}

// The records are what a configuration file or console sets values through.
TEST(OptionTable, SetByName) {
  const OptionDef *erode = option_find("--erode");
  ASSERT_NE(erode, nullptr);
  EXPECT_EQ(option_find("erode"), nullptr);
  EXPECT_EQ(option_find("--erode=3"), nullptr);
  Settings s;
  std::string errors;
  EXPECT_EQ(option_set(*erode, "50", &s, &errors), 0);
  EXPECT_EQ(s.erode, 51200);
  EXPECT_EQ(option_set(*erode, "much", &s, &errors), 1);
  EXPECT_EQ(errors, "Bad arg for --erode\n");
  EXPECT_EQ(s.erode, 51200);
  // Every name appears once, so a lookup can never find the wrong record.
  for (int i = 0; i < OPTION_COUNT; i++) EXPECT_EQ(option_find(OPTION_TABLE[i].name), &OPTION_TABLE[i]);
}

TEST(DetailSettings, DerivedFromConfiguration) {
  Config c;
  Settings s;
  derive_detail_settings(c, &s);
  EXPECT_FLOAT_EQ(s.terrain_detail, 0.125f / 70);
  EXPECT_EQ(s.model_texture_reduction, 1);
  EXPECT_EQ(s.ground_texture_reduction, 1);
  EXPECT_EQ(s.ground_texture_size, 256);
  EXPECT_FLOAT_EQ(s.lod_scale, 1.0f);  // 0.02 x 50
  EXPECT_FLOAT_EQ(s.lod_bias, 0.0f);   // (50 - 10) x 0.05 limited to 1
  EXPECT_EQ(s.roost_frequency, 1000);

  c.model_detail = 0;  // s = 2 becomes 8
  c.model_texture_detail = 12;
  c.ground_detail = 0;  // never a division by zero
  c.ground_texture_dim_new = 5;
  c.roost_density = 333.7;
  derive_detail_settings(c, &s);
  EXPECT_FLOAT_EQ(s.lod_scale, 8.0f);
  EXPECT_FLOAT_EQ(s.lod_bias, 50.0f);
  EXPECT_EQ(s.model_texture_reduction, 0);
  EXPECT_TRUE(std::isfinite(s.terrain_detail));
  EXPECT_EQ(s.ground_texture_size, 4096);
  EXPECT_EQ(s.roost_frequency, 333);
}

}  // namespace
