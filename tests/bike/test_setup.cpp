// The rider setup: values as the configuration and setup files hand them
// over, the stability preset, the conversions into physical values, setup
// files on disk, the mechanic and the change watch.
#include <ftw.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "core/core.h"
#include "bike/bike.h"
#include "tests/common/test_util.h"

namespace {

RiderSetup fresh() {
  RiderSetup s;
  setup_defaults(&s);
  return s;
}

double val(const RiderSetup &s, int key) { return s.options[key].value; }

TEST(SetupValues, DefaultsAndFileOrder) {
  RiderSetup s = fresh();
  EXPECT_STREQ(setup_choice_text(&s, SETUP_BIKE), "yz250f(2017)");
  EXPECT_STREQ(setup_text(&s, SETUP_NAME), "Joe Motocross");
  EXPECT_STREQ(setup_text(&s, SETUP_NUMBER_TEXT), "999");
  EXPECT_STREQ(setup_choice_text(&s, SETUP_STOP_WHEELIES), "Yes");
  EXPECT_EQ(setup_bike_model(&s), lookup_bike_model("yz250f(2017)"));
  for (int k = 0; k < SETUP_KEY_COUNT; k++) EXPECT_EQ(setup_find_key(s.options[k].key), k) << k;
  EXPECT_EQ(setup_find_key("track"), -1);
  EXPECT_EQ(setup_find_key(nullptr), -1);

  std::string first_keys;
  for (int k = 0; k <= SETUP_STABILITY; k++) first_keys += std::string(s.options[k].key) + ",";
  EXPECT_EQ(first_keys, "bike,name,number,rider_texture,head_texture,bike_texture,wheel_texture,stability,");
  EXPECT_STREQ(s.options[SETUP_KEY_COUNT - 1].key, "rider_mass_distribution");
}

TEST(SetupValues, ParsingClampingAndRefusals) {
  struct Case {
    const char *key, *text;
    int option;
    double want;  // the numeric value after the line
  } numbers[] = {
      {"max_dab_speed", "3", SETUP_MAX_DAB_SPEED, 5},          // clamped to the minimum
      {"max_dab_speed", "90.5", SETUP_MAX_DAB_SPEED, 60},      // and the maximum
      {"roll_limit_angle", "12.5xyz", SETUP_ROLL_LIMIT_ANGLE, 12.5},
      {"roll_limit_angle", "abc", SETUP_ROLL_LIMIT_ANGLE, 45},  // unparsable: unchanged
      {"roll_limit_angle", "", SETUP_ROLL_LIMIT_ANGLE, 45},
      {"roll_limit_angle", "nan", SETUP_ROLL_LIMIT_ANGLE, 45},  // never clamped into place
      {"roll_limit_angle", "inf", SETUP_ROLL_LIMIT_ANGLE, 45},
      {"roll_limit_angle", "-INF", SETUP_ROLL_LIMIT_ANGLE, 45},
      {"front_sprocket_adjustment", "-2.5", SETUP_FRONT_SPROCKET, -2},
  };
  for (const Case &c : numbers) {
    RiderSetup s = fresh();
    EXPECT_EQ(set_setup_value(&s, c.key, c.text), 1);
    EXPECT_EQ(val(s, c.option), c.want) << c.key << "=" << c.text;
  }

  struct Choice {
    const char *key, *text, *want;
  } choices[] = {
      {"stop_wheelies", "Front Only", "Front Only"},
      {"stop_wheelies", "front only", "Yes"},  // exact text only
      {"arcade", "No", "No"},
      {"arcade", "No ", "Yes"},
      {"bike", "yz250f", "yz250f(2008)"},  // old names of the 250f bikes
      {"bike", "kx250f", "kx250f(2008)"},
      {"bike", "rs50kx", "rs50kx"},
      {"bike", "crf250(2010)", "yz250f(2017)"},  // unknown: unchanged
      {"bike", "cr125x", "yz250f(2017)"},
  };
  for (const Choice &c : choices) {
    RiderSetup s = fresh();
    EXPECT_EQ(set_setup_value(&s, c.key, c.text), 1);
    EXPECT_STREQ(setup_choice_text(&s, setup_find_key(c.key)), c.want) << c.key << "=" << c.text;
  }

  RiderSetup s = fresh();
  std::string long_name(100, 'n');
  set_setup_value(&s, "name", long_name.c_str());
  EXPECT_EQ(strlen(setup_text(&s, SETUP_NAME)), 63u);
  set_setup_value(&s, "number", "12345");
  EXPECT_STREQ(setup_text(&s, SETUP_NUMBER_TEXT), "123");
  set_setup_value(&s, "name", "");
  EXPECT_STREQ(setup_text(&s, SETUP_NAME), "");
  std::string long_texture(2000, 't');
  set_setup_value(&s, "bike_texture", long_texture.c_str());
  EXPECT_EQ(strlen(setup_text(&s, SETUP_BIKE_TEXTURE)), 1023u);

  // Keys of the configuration itself are left to it.
  EXPECT_EQ(set_setup_value(&s, "fov", "60"), 0);
  EXPECT_EQ(setup_set_number(&s, SETUP_BIKE, 3), 0);
  EXPECT_EQ(setup_set_number(&s, SETUP_LEVELING, NAN), 0);
}

TEST(SetupValues, StabilityPreset) {
  struct Case {
    const char *stability;
    double roll_damping, restricted_lock, direct_steering;
  } cases[] = {
      {"0", 40, 45, 1},
      {"20", 50, 15, 1},
      {"37.9", 58.5, 10.75, 1},  // the preset runs with 37
      {"90", 77.5, 1.75, 0.5625},
      {"100", 80, 1, 0.125},
      {"250", 80, 1, 0.125},
      {"-5", 40, 45, 1},
  };
  for (const Case &c : cases) {
    RiderSetup s = fresh();
    set_setup_value(&s, "stability", c.stability);
    SCOPED_TRACE(c.stability);
    EXPECT_NEAR(val(s, SETUP_ROLL_DAMPING), c.roll_damping, 1e-9);
    EXPECT_NEAR(val(s, SETUP_RESTRICTED_LOCK), c.restricted_lock, 1e-9);
    EXPECT_NEAR(val(s, SETUP_DIRECT_STEERING), c.direct_steering, 1e-9);
  }
  RiderSetup s = fresh();
  set_setup_value(&s, "stability", "37.9");
  EXPECT_DOUBLE_EQ(val(s, SETUP_STABILITY), 37.9);

  // The menus may hand any integer.
  stability_preset(&s, INT_MAX);
  EXPECT_EQ(val(s, SETUP_ROLL_DAMPING), 80);
  stability_preset(&s, INT_MIN);
  EXPECT_EQ(val(s, SETUP_ROLL_DAMPING), 40);

  // A bad stability line runs no preset.
  set_setup_value(&s, "roll_damping", "10");
  set_setup_value(&s, "stability", "nan");
  EXPECT_EQ(val(s, SETUP_ROLL_DAMPING), 10);
}

const BikeModel &row(const char *name) { return bike_models[lookup_bike_model(name)]; }

TEST(SetupConversion, IntoPhysicalValues) {
  const BikeModel &rs = row("rs50cr");
  const BikeModel &yz = row("yz250f(2017)");
  RiderSetup s = fresh();
  RiderAdjust a;

  setup_convert(&s, &yz, 1, &a);
  EXPECT_DOUBLE_EQ(a.fork_hs_compression, yz.fork_hs_compression);  // stock at 50
  EXPECT_EQ(a.fork_ls_compression, 0);
  EXPECT_DOUBLE_EQ(a.shock_hs_rebound, 2 * yz.shock_hs_rebound);  // 75 clicks: doubled
  EXPECT_DOUBLE_EQ(a.fork_spring, (static_cast<double>(yz.fork_spring_min) + yz.fork_spring_max) / 2);
  EXPECT_NEAR(a.roll_limit_angle, M_PI / 4, 1e-12);
  EXPECT_NEAR(a.max_dab_speed, 88, 1e-9);
  EXPECT_EQ(a.front_teeth, 13);
  EXPECT_EQ(a.rear_teeth, 50);
  EXPECT_DOUBLE_EQ(a.final_drive_ratio, 50.0 / 13.0);
  EXPECT_EQ(a.arcade, 1);
  EXPECT_EQ(a.stop_wheelies, 3);
  EXPECT_EQ(a.front_antilock, 1);
  EXPECT_EQ(a.rear_antilock, 0);

  set_setup_value(&s, "fork_compression_adjustment", "100");
  set_setup_value(&s, "shock_compression_adjustment", "0");
  set_setup_value(&s, "fork_slow_rebound_adjustment", "0");
  set_setup_value(&s, "fork_spring_rate_adjustment", "100");
  set_setup_value(&s, "fork_oil_level_adjustment", "100");
  set_setup_value(&s, "max_dab_speed", "3");
  set_setup_value(&s, "front_sprocket_adjustment", "-2.5");
  set_setup_value(&s, "rear_sprocket_adjustment", "2");
  set_setup_value(&s, "restricted_lock", "45");
  set_setup_value(&s, "stop_wheelies", "Front Only");
  set_setup_value(&s, "rider_mass_distribution", "0.9");
  setup_convert(&s, &rs, 0, &a);
  EXPECT_DOUBLE_EQ(a.fork_hs_compression, 4 * rs.fork_hs_compression);
  EXPECT_DOUBLE_EQ(a.shock_hs_compression, 0.25 * rs.shock_hs_compression);
  EXPECT_DOUBLE_EQ(a.fork_ls_rebound, -rs.fork_ls_rebound);
  EXPECT_DOUBLE_EQ(a.fork_spring, rs.fork_spring_max);
  EXPECT_DOUBLE_EQ(a.fork_air_gap, rs.fork_oil_max);  // most oil, least air
  // 5 mph is 7.33 ft/s, above the floor of 7.
  EXPECT_NEAR(a.max_dab_speed, 7.3333333333, 1e-9);
  EXPECT_EQ(a.front_teeth, 10);
  EXPECT_EQ(a.rear_teeth, 57);
  EXPECT_NEAR(a.restricted_lock, M_PI / 4, 1e-12);
  EXPECT_EQ(a.stop_wheelies, 2);
  EXPECT_EQ(a.arcade, 0);  // the server may forbid it
  EXPECT_DOUBLE_EQ(a.rider_mass_distribution, 0.5);
  EXPECT_DOUBLE_EQ(frame_mass_with_rider(&rs, 0.5) + rider_body_mass(&rs, 0.5),
                   static_cast<double>(rs.frame_mass) + rs.rider_mass);
  EXPECT_DOUBLE_EQ(rider_body_mass(&rs, 0.1), 0.33 * rs.rider_mass);

  // Values the menus may have set directly are clamped all the same.
  s.options[SETUP_RIDER_YSPRING].value = 400;
  s.options[SETUP_LEVELING].value = NAN;
  setup_convert(&s, &rs, 1, &a);
  EXPECT_EQ(a.rider_yspring, 1);
  EXPECT_TRUE(std::isfinite(a.leveling));
}

TEST(SetupConversion, PhysicalTexts) {
  const BikeModel &yz = row("yz250f(2017)");
  RiderSetup s = fresh();
  char text[64];
  set_setup_value(&s, "fork_spring_rate_adjustment", "0");
  ASSERT_TRUE(setup_physical_text(&s, SETUP_FORK_SPRING_RATE, &yz, text, sizeof text));
  EXPECT_STREQ(text, "0.500 kg/mm");
  set_setup_value(&s, "shock_spring_rate_adjustment", "100");
  ASSERT_TRUE(setup_physical_text(&s, SETUP_SHOCK_SPRING_RATE, &yz, text, sizeof text));
  EXPECT_STREQ(text, "7.30 kg/mm");
  set_setup_value(&s, "shock_preload_adjustment", "100");
  ASSERT_TRUE(setup_physical_text(&s, SETUP_SHOCK_PRELOAD, &yz, text, sizeof text));
  EXPECT_STREQ(text, "101.60 mm");
  ASSERT_TRUE(setup_physical_text(&s, SETUP_FORK_OIL_LEVEL, &yz, text, sizeof text));
  EXPECT_STREQ(text, "101.60 mm");
  set_setup_value(&s, "front_sprocket_adjustment", "1");
  ASSERT_TRUE(setup_physical_text(&s, SETUP_FRONT_SPROCKET, &yz, text, sizeof text));
  EXPECT_STREQ(text, "14.00 teeth");
  EXPECT_FALSE(setup_physical_text(&s, SETUP_LEVELING, &yz, text, sizeof text));
}

TEST(SetupMechanic, RefusesAMovingBike) {
  MessageCatcher catcher;
  setup_mechanic_reset();
  RiderSetup s = fresh();
  const BikeModel &yz = row("yz250f(2017)");
  RiderAdjust a{};
  a.leveling = -1;

  EXPECT_EQ(apply_setup(&s, &yz, 1, 30.0, 100.0, &a), 0);
  EXPECT_TRUE(catcher.lines.empty());  // the first refusal is silent
  EXPECT_EQ(apply_setup(&s, &yz, 1, 0.2, 109.5, &a), 0);
  ASSERT_EQ(catcher.lines.size(), 1u);
  EXPECT_EQ(catcher.lines[0], "Settings not applied.  Mechanic can't keep up error.");
  EXPECT_EQ(a.leveling, -1);  // nothing applied
  // Each refusal restarts the 10 s.
  EXPECT_EQ(apply_setup(&s, &yz, 1, NAN, 119.0, &a), 0);
  EXPECT_EQ(catcher.lines.size(), 2u);
  EXPECT_EQ(apply_setup(&s, &yz, 1, 5.0, 129.5, &a), 0);
  EXPECT_EQ(catcher.lines.size(), 2u);

  EXPECT_EQ(apply_setup(&s, &yz, 1, 0.125, 130.0, &a), 1);
  EXPECT_EQ(a.leveling, 20);
  EXPECT_EQ(catcher.lines.size(), 2u);
}

TEST(SetupWatchList, ReportsChangedValuesByLetter) {
  RiderSetup s = fresh();
  const BikeModel &yz = row("yz250f(2017)");
  RiderAdjust a;
  char report[128];
  setup_mechanic_reset();
  setup_watch_reset(&s);
  ASSERT_EQ(apply_setup(&s, &yz, 1, 0, 0, &a), 1);
  EXPECT_EQ(setup_watch_report(&s, report, sizeof report), 0);

  set_setup_value(&s, "rear_sprocket_adjustment", "1");
  set_setup_value(&s, "rider_zdamping", "10");
  set_setup_value(&s, "roll_damping", "11");
  // Changes count only once the setup has been applied.
  EXPECT_EQ(setup_watch_report(&s, report, sizeof report), 0);
  ASSERT_EQ(apply_setup(&s, &yz, 1, 0, 0, &a), 1);
  ASSERT_EQ(setup_watch_report(&s, report, sizeof report), 1);
  EXPECT_STREQ(report, "[SPAM] Setup change -d-------------------g----------------Z-\n");
  EXPECT_EQ(setup_watch_report(&s, report, sizeof report), 0);
}

// ----------------------------------------------------------- setup files

class SetupFiles : public ::testing::Test {
 protected:
  TempFolders folders{"tw_setup"};

  std::string setups() const { return folders.home + "setups/"; }
  void put(const std::string &name, const std::string &data) {
    ASSERT_TRUE(write_file(setups() + name, data));
  }
  std::string get(const std::string &name) const { return read_file(setups() + name); }
};

TEST_F(SetupFiles, WriteAndReadBackAWholeSetup) {
  MessageCatcher catcher;
  RiderSetup s = fresh();
  set_setup_value(&s, "bike", "rs50rm");
  set_setup_value(&s, "name", "Ann = Fast");
  set_setup_value(&s, "number", "7");
  set_setup_value(&s, "bike_texture", "@skins/rs50-blue-1.png");
  set_setup_value(&s, "stability", "37.9");
  set_setup_value(&s, "steering_damping", "12");
  set_setup_value(&s, "arcade", "No");
  set_setup_value(&s, "stop_wheelies", "Front Only");
  set_setup_value(&s, "land_damping_rampup", "0.0078125");
  set_setup_value(&s, "front_sprocket_adjustment", "-2");
  set_setup_value(&s, "shock_preload_adjustment", "66");
  set_setup_value(&s, "rider_mass_distribution", "0.42");
  ASSERT_EQ(write_setup_file(&s, "  mine.txt \n"), 1);
  EXPECT_EQ(catcher.lines.back(), "Setup written");

  std::string text = get("mine.txt");
  EXPECT_EQ(text.rfind("bike=rs50rm\nname=Ann = Fast\nnumber=7\nrider_texture=default\n", 0), 0u) << text;
  EXPECT_NE(text.find("\nstability=37.900000\nleveling=20.000000\n"), std::string::npos);
  EXPECT_NE(text.find("\narcade=No\n"), std::string::npos);
  EXPECT_EQ(text.substr(text.size() - 33), "rider_mass_distribution=0.420000\n");
  EXPECT_EQ(access((setups() + "mine.txt.tmp").c_str(), F_OK), -1);

  RiderSetup back = fresh();
  set_setup_value(&back, "roll_damping", "3");
  ASSERT_EQ(read_setup_file(&back, "mine.txt"), 1);
  EXPECT_EQ(catcher.lines.back(), "Setup updated");
  for (int k = 0; k < SETUP_KEY_COUNT; k++) {
    SCOPED_TRACE(s.options[k].key);
    EXPECT_EQ(back.options[k].selected, s.options[k].selected);
    EXPECT_STREQ(setup_text(&back, k), setup_text(&s, k));
    // "%f" keeps six decimals, which every menu step fits.
    EXPECT_NEAR(back.options[k].value, s.options[k].value, 5e-7);
  }
  // The 16 values written after stability win over the preset.
  EXPECT_EQ(val(back, SETUP_STEERING_DAMPING), 12);
}

TEST_F(SetupFiles, LineOrderDecidesBetweenPresetAndValue) {
  put("before", "roll_damping=10\nstability=100\n");
  put("after", "stability=100\r\nroll_damping=10\r\n");
  RiderSetup s = fresh();
  ASSERT_EQ(read_setup_file(&s, "before"), 1);
  EXPECT_EQ(val(s, SETUP_ROLL_DAMPING), 80);
  ASSERT_EQ(read_setup_file(&s, "after"), 1);
  EXPECT_EQ(val(s, SETUP_ROLL_DAMPING), 10);
}

TEST_F(SetupFiles, BadLinesAreSkippedAndTheRestKept) {
  std::string longline = "name=" + std::string(1100, 'x') + "number=42\n";
  put("messy",
      "leveling=30\n"
      "name\n"                 // no "=": skipped
      "track=hollow\n"         // not a setup key
      "roll_damping=soft\n"    // unparsable: kept
      "=5\n" +
          longline +           // over-long: its tail is not a line of its own
          "steering_strength=33\n"
          "number=");          // last line without a newline
  MessageCatcher catcher;
  RiderSetup s = fresh();
  ASSERT_EQ(read_setup_file(&s, "messy"), 1);
  EXPECT_EQ(val(s, SETUP_LEVELING), 30);
  EXPECT_EQ(val(s, SETUP_ROLL_DAMPING), 60);
  EXPECT_EQ(val(s, SETUP_STEERING_STRENGTH), 33);
  EXPECT_STREQ(setup_text(&s, SETUP_NAME), "Joe Motocross");
  EXPECT_STREQ(setup_text(&s, SETUP_NUMBER_TEXT), "");
}

TEST_F(SetupFiles, MissingFilesAndUnsafeNames) {
  MessageCatcher catcher;
  RiderSetup s = fresh();
  set_setup_value(&s, "leveling", "33");
  EXPECT_EQ(read_setup_file(&s, "nothing-here"), 0);
  EXPECT_EQ(catcher.lines.back(), "Error reading setup");
  EXPECT_EQ(val(s, SETUP_LEVELING), 33);

  put("../escape", "leveling=1\n");  // lands in the home folder itself
  for (const char *name : {"", "   ", "../escape", "a/b", "a\\b", "..", "x..y", "/etc/passwd"}) {
    SCOPED_TRACE(name);
    catcher.lines.clear();
    EXPECT_EQ(read_setup_file(&s, name), 0);
    EXPECT_EQ(catcher.lines.back(), "Error reading setup");
    EXPECT_EQ(catcher.lines.size(), 2u);  // says why first
    catcher.lines.clear();
    EXPECT_EQ(write_setup_file(&s, name), 0);
    EXPECT_EQ(catcher.lines.back(), "Error writing setup");
  }
  EXPECT_EQ(val(s, SETUP_LEVELING), 33);
  EXPECT_EQ(access((folders.root + "/xdg/Tarnwick/a").c_str(), F_OK), -1);
}

TEST_F(SetupFiles, AFailedWriteKeepsTheOldFile) {
  MessageCatcher catcher;
  put("kept", "leveling=1\n");
  // A folder where the temporary file would go, and an install folder
  // under a plain file, leave nowhere to write.
  make_folders((setups() + "kept.tmp/").c_str());
  FILE *fp = fopen((folders.root + "/plain").c_str(), "wb");
  ASSERT_NE(fp, nullptr);
  fclose(fp);
  setenv("TW_HOME", (folders.root + "/plain/install").c_str(), 1);
  file_index_free();
  RiderSetup s = fresh();
  EXPECT_EQ(write_setup_file(&s, "kept"), 0);
  EXPECT_EQ(catcher.lines.back(), "Error writing setup");
  EXPECT_EQ(get("kept"), "leveling=1\n");
}

std::vector<std::string> seen_by_hook;
MessageCatcher *hook_catcher;
void record_hook(RiderSetup *) {
  const std::vector<std::string> &lines = hook_catcher->lines;
  seen_by_hook.push_back(lines.empty() ? "" : lines.back());
}

TEST_F(SetupFiles, ReadRunsTheGameHookAfterItsMessage) {
  MessageCatcher catcher;
  hook_catcher = &catcher;
  put("one", "bike=kx125\n");
  seen_by_hook.clear();
  setup_read_hook = record_hook;
  RiderSetup s = fresh();
  EXPECT_EQ(read_setup_file(&s, "one"), 1);
  // A failed read still hands the setup on: the menus may have changed it.
  EXPECT_EQ(read_setup_file(&s, "two"), 0);
  setup_read_hook = nullptr;
  EXPECT_EQ(seen_by_hook, (std::vector<std::string>{"Setup updated", "Error reading setup"}));
  EXPECT_EQ(setup_bike_model(&s), lookup_bike_model("kx125"));
}

TEST_F(SetupFiles, LongestNamesReadBack) {
  RiderSetup s = fresh();
  std::string name(1023, 'w');
  name[0] = '@';
  set_setup_value(&s, "wheel_texture", name.c_str());
  set_setup_value(&s, "rider_texture", name.c_str());
  ASSERT_EQ(write_setup_file(&s, "long"), 1);
  std::string text = get("long");
  size_t at = 0;
  while ((at = text.find('\n', at)) != std::string::npos) text.replace(at, 1, "\r\n"), at += 2;
  put("long-crlf", text);
  RiderSetup back = fresh();
  ASSERT_EQ(read_setup_file(&back, "long-crlf"), 1);
  EXPECT_EQ(setup_text(&back, SETUP_WHEEL_TEXTURE), name);
  EXPECT_EQ(setup_text(&back, SETUP_RIDER_TEXTURE), name);
}

TEST(SetupReader, FromMemory) {
  const char text[] = "leveling=30\nname=Bo\r\nstability\n";
  DataFile *f = data_open_memory(text, sizeof text - 1, 0);
  ASSERT_NE(f, nullptr);
  RiderSetup s = fresh();
  EXPECT_EQ(read_setup(&s, f), 1);
  data_close(f);
  EXPECT_EQ(val(s, SETUP_LEVELING), 30);
  EXPECT_STREQ(setup_text(&s, SETUP_NAME), "Bo");
}

}  // namespace
