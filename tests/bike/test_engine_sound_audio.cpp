// Recorded engine sound judged by ear's proxy: the fundamental of the
// read-back output against the cycle rate, levels against rpm and load, and
// the pitch of a passing bike.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <sys/stat.h>

#include "bike/engine_sound.h"
#include "tests/bike/engine_sound_harness.h"
#include "tests/common/test_util.h"

namespace {

EngineVoice voice;

// The pitch of a voice held at rpm and torque for two seconds beside the
// listener, measured over the second.
double steady_pitch(const char *engine_class, const char *name, float rpm, float torque,
                    double *level = nullptr, bool pitch = true) {
  RecordedAudio out;
  engine_listener = EngineListener{{0, 0, 0}, {0, 0, 0}, {1, 0, 0}};
  engine_voice_setup(&voice, engine_class, name);
  double S[3] = {0, 0, 0}, V[3] = {0, 0, 0};
  run_voice(out, &voice, 256, rpm, torque, S, V);
  size_t from = out.samples.size() / 2, n = 16384;
  if (level) *level = rms(out.samples, from, 32768);
  double f = pitch ? fundamental(out.samples, from, n, RecordedAudio::RATE, 25) : 0;
  sound_free(voice.stream);
  voice.stream = nullptr;
  return f;
}

// The generated data (the install folder of the build), or "".
std::string generated_data() {
  const char *build = getenv("TW_BUILD_DIR");
  std::string dir = std::string(build ? build : ".") + "/";
  struct stat st;
  return stat((dir + "default250f.braap").c_str(), &st) == 0 ? dir : "";
}

}  // namespace

TEST(EngineSoundAudio, BuiltInFundamental) {
  struct {
    const char *engine_class;
    float rpm, hz;
  } cases[] = {{"125", 6000, 100}, {"250f", 6000, 50}, {"125", 3000, 50}, {"250f", 9000, 75},
               {"50", 8000, 133.333f}};
  for (auto &c : cases)
    for (float torque : {-10.0f, 10.0f}) {
      double f = steady_pitch(c.engine_class, nullptr, c.rpm, torque);
      EXPECT_NEAR(f, c.hz, c.hz * 0.02) << c.engine_class << " at " << c.rpm << " torque " << torque;
    }
}

TEST(EngineSoundAudio, PassingBikeDoppler) {
  RecordedAudio out;
  engine_listener = EngineListener{{0, 0, 20}, {0, 0, 0}, {1, 0, 0}};
  engine_voice_setup(&voice, "125", nullptr);
  // 80 ft/s along x, passing 20 ft from a still listener.
  double S[3] = {-480, 0, 0}, V[3] = {80, 0, 0};
  run_voice(out, &voice, 12 * 128, 6000, 10, S, V);
  // Measured at about 300 ft before and after the pass.
  size_t n = 32768;
  size_t before = size_t(2.2 * RecordedAudio::RATE), after = size_t(9.6 * RecordedAudio::RATE);
  double f1 = fundamental(out.samples, before, n, RecordedAudio::RATE);
  double f2 = fundamental(out.samples, after, n, RecordedAudio::RATE);
  double vc = 80 * SOUND_SECONDS_PER_FOOT;
  ASSERT_GT(f2, 0);
  EXPECT_NEAR(f1 / f2, (1 + vc) / (1 - vc), 0.01 * (1 + vc) / (1 - vc)) << f1 << " " << f2;
  EXPECT_NEAR(f1, 100 / (1 - vc), 2);
  sound_free(voice.stream);
  voice.stream = nullptr;
}

TEST(EngineSoundAudio, GeneratedSets) {
  std::string dir = generated_data();
  if (dir.empty()) GTEST_SKIP() << "no generated data";
  setenv("TW_HOME", dir.c_str(), 1);
  file_index_free();
  struct {
    const char *engine_class;
    float firings_per_rev;
  } classes[] = {{"50", 1}, {"125", 1}, {"250", 1}, {"250f", 0.5f}, {"450f", 0.5f}};
  for (auto &c : classes) {
    // The class default read, with a table of its own.
    engine_voice_setup(&voice, c.engine_class, nullptr);
    EXPECT_STRNE(voice.def.table->name, "default_two_stroke") << c.engine_class;
    EXPECT_STRNE(voice.def.table->name, "default_four_stroke") << c.engine_class;
    float low = voice.def.low_torque, high = voice.def.high_torque;
    EXPECT_LT(low, high) << c.engine_class;
    double pitch[2], level_rpm[2], level_load[2];
    float rpms[2] = {4000, 8000};
    for (int i = 0; i < 2; i++) {
      pitch[i] = steady_pitch(c.engine_class, nullptr, rpms[i], high, &level_rpm[i]);
      double hz = c.firings_per_rev * rpms[i] / 60;
      EXPECT_NEAR(pitch[i], hz, hz * 0.02) << c.engine_class << " at " << rpms[i];
    }
    EXPECT_GT(level_rpm[1], level_rpm[0] * 1.05) << c.engine_class;
    steady_pitch(c.engine_class, nullptr, 6000, low, &level_load[0], false);
    steady_pitch(c.engine_class, nullptr, 6000, high, &level_load[1], false);
    EXPECT_GT(level_load[1], level_load[0] * 1.2) << c.engine_class;
  }
  engine_sound_shutdown();
  unsetenv("TW_HOME");
  file_index_free();
}
