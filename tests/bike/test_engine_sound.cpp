// The engine sound synthesiser: built-in sets, definition files and sound
// tables, the cycle rules, placing and the Doppler factor.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>

#include "bike/engine_sound.h"
#include "platform/mixer.h"
#include "tests/bike/engine_sound_harness.h"
#include "tests/common/test_util.h"

namespace {

EngineVoice voice;  // 128 KB of ring: not on the stack

int delay(const EngineSoundDef &d, int i) { return ENGINE_RING - d.tap_offset[i]; }

// Synthesises one sample at a time, noting the rate each new cycle takes.
std::vector<float> cycle_rates(EngineVoice *v, float rpm, float torque, int samples) {
  std::vector<float> rates;
  for (int i = 0; i < samples; i++) {
    int before = v->cycle_count;
    engine_voice_synthesise(v, 1, rpm, torque);
    if (v->cycle_count != before) rates.push_back(v->cycle_rate);
  }
  return rates;
}

std::string raw16(const std::vector<int> &v) {
  std::string s;
  for (int x : v) {
    s += char(x & 255);
    s += char((x >> 8) & 255);
  }
  return s;
}

}  // namespace

TEST(EngineSound, BuiltInSets) {
  engine_voice_setup(&voice, "250f", nullptr);
  const EngineSoundDef &four = voice.def;
  const int four_delays[16] = {386, 382, 377, 373, 368, 363, 359, 354,
                               349, 345, 340, 335, 330, 325, 320, 315};
  for (int i = 0; i < 16; i++) {
    EXPECT_EQ(delay(four, i), four_delays[i]) << i;
    EXPECT_FLOAT_EQ(four.tap_gain[i], -0.053125f);
  }
  EXPECT_STREQ(four.table->name, "default_four_stroke");
  EXPECT_EQ(four.firings_per_rev, 0.5f);
  ASSERT_EQ(four.table->rows, 1);
  ASSERT_EQ(four.table->columns, 2);
  // The waveform at a few points, from its formula.
  for (int i : {0, 17, 200, 255, 256, 700, 1023}) {
    float d = float(i) / 1023.0f;
    float e = (std::fabs(std::sin(3.0f * float(M_PI) * d + 0.5246f)) - 0.5f) * 0.5f;
    float w = e + (d < 0.25f ? (1 - 4 * d) * std::sin(16.0f * float(M_PI) * d) : 0.0f);
    EXPECT_NEAR(four.table->cells[1].samples[i], w, 1e-6) << i;
    EXPECT_NEAR(four.table->cells[0].samples[i], 0.25f * w, 1e-6) << i;
  }
  EXPECT_EQ(four.table->cells[1].load, 1.0f);

  const int two_delays[16] = {135, 133, 132, 130, 129, 127, 126, 124,
                              123, 121, 120, 118, 116, 115, 113, 112};
  struct {
    const char *engine_class;
    float high;
  } twos[] = {{"125", 3.5f}, {"250", 3.5f}, {"50", 1.5f}, {"odd", 3.5f}};
  for (auto &c : twos) {
    engine_voice_setup(&voice, c.engine_class, nullptr);
    EXPECT_STREQ(voice.def.table->name, "default_two_stroke") << c.engine_class;
    EXPECT_EQ(voice.def.high_torque, c.high) << c.engine_class;
    EXPECT_EQ(voice.def.low_torque, -3.5f);
    for (int i = 0; i < 16; i++) {
      EXPECT_EQ(delay(voice.def, i), two_delays[i]) << i;
      EXPECT_FLOAT_EQ(voice.def.tap_gain[i], -0.046875f);
    }
    float d = 100.0f / 1023.0f;
    EXPECT_NEAR(voice.def.table->cells[1].samples[100], (1 - 4 * d) * std::sin(8 * float(M_PI) * d), 1e-6);
    EXPECT_EQ(voice.def.table->cells[1].samples[600], 0.0f);
  }
  // No rider: four-stroke.
  engine_voice_setup(&voice, nullptr, nullptr);
  EXPECT_EQ(voice.def.firings_per_rev, 0.5f);
  EXPECT_EQ(voice.write_pos, 11025);
  EXPECT_EQ(voice.prev_rpm, 1000.0f);
}

TEST(EngineSound, CycleRates) {
  struct {
    const char *engine_class;
    float rpm, rate;
    int inc;
  } cases[] = {
      {"250f", 6000, 50, 19022},
      {"125", 6000, 100, 38044},
      {"250f", 200, 1000 * 0.5f / 60, 3170},  // min_rpm first
      {"125", 2e9f, 22050, 8388608},          // the fixed-point ceiling
  };
  for (auto &c : cases) {
    engine_voice_setup(&voice, c.engine_class, nullptr);
    std::vector<float> rates = cycle_rates(&voice, c.rpm, 0, 44100);
    ASSERT_GT(rates.size(), 2u);
    EXPECT_FLOAT_EQ(rates.back(), c.rate) << c.engine_class << " " << c.rpm;
    EXPECT_EQ(std::lround(double(rates.back()) * (1 << 24) / 44100), c.inc);
  }
  // Never below 5 cycles a second, whatever the definition says.
  engine_voice_setup(&voice, "125", nullptr);
  engine_definition_line(&voice.def, "minrpm 10");
  EXPECT_EQ(cycle_rates(&voice, 0, 0, 44100).back(), 5.0f);
  // Full load plays the waveform, no load a quarter of it: the players' gains.
  engine_voice_setup(&voice, "125", nullptr);
  cycle_rates(&voice, 6000, 100, 5000);
  EXPECT_EQ(voice.players[2].gain + voice.players[3].gain, 1.0f);
  EXPECT_EQ(voice.players[0].gain + voice.players[1].gain, 0.0f);
  EXPECT_EQ(voice.players[2].cell->load, 1.0f);
}

TEST(EngineSound, PipeLines) {
  engine_voice_setup(&voice, "125", nullptr);
  EngineSoundDef before = voice.def;
  engine_definition_line(&voice.def, "pipe 3 1 -0.5 4 10");
  for (int i = 0; i < 16; i++) {
    bool changed = i >= 4 && i <= 10;
    EXPECT_EQ(voice.def.tap_gain[i] != before.tap_gain[i], changed) << i;
    if (changed) {
      EXPECT_FLOAT_EQ(voice.def.tap_gain[i], -0.5f / 7);
    }
  }
  EXPECT_EQ(delay(voice.def, 4), int(3 * PIPE_SAMPLES_PER_FOOT));
  EXPECT_EQ(delay(voice.def, 10), int(float(3 - 1) * PIPE_SAMPLES_PER_FOOT));
  before = voice.def;
  engine_definition_line(&voice.def, "pipe 3 1 -0.5 10 4");
  EXPECT_EQ(memcmp(&before, &voice.def, sizeof before), 0);
  // A first tap of 20 is 15: one tap, the whole length.
  engine_definition_line(&voice.def, "pipe 2 1 -0.4 20 30");
  EXPECT_EQ(delay(voice.def, 15), int(2 * PIPE_SAMPLES_PER_FOOT));
  EXPECT_FLOAT_EQ(voice.def.tap_gain[15], -0.4f);
  // Fields not given keep the four-stroke pipe; non-finite and over-long
  // pipes stay inside the ring.
  engine_definition_line(&voice.def, "pipe 5   # a comment");
  EXPECT_EQ(delay(voice.def, 0), 386);
  EXPECT_EQ(delay(voice.def, 15), 315);
  before = voice.def;
  engine_definition_line(&voice.def, "pipe nan 1 1");
  EXPECT_EQ(memcmp(&before, &voice.def, sizeof before), 0);
  engine_definition_line(&voice.def, "pipe 1e9 0 1 0 0");
  EXPECT_EQ(delay(voice.def, 0), ENGINE_RING - 1);
  engine_definition_line(&voice.def, "pipe -4 0 1 1 1");
  EXPECT_EQ(delay(voice.def, 1), 0);
}

TEST(EngineSound, DefinitionLines) {
  engine_voice_setup(&voice, "125", nullptr);
  EngineSoundDef &d = voice.def;
  struct {
    const char *line;
    float min_rpm, low, high;
  } cases[] = {
      {"minrpm 1500", 1500, -3.5f, 3.5f},  {"lowtorque -1", 1500, -1, 3.5f},
      {"hightorque 9 # x", 1500, -1, 9},   {"  minrpm 7", 1500, -1, 9},  // must begin the line
      {"minrpm inf", 1500, -1, 9},         {"hightorque nan", 1500, -1, 9},
  };
  for (auto &c : cases) {
    engine_definition_line(&d, c.line);
    EXPECT_EQ(d.min_rpm, c.min_rpm) << c.line;
    EXPECT_EQ(d.low_torque, c.low) << c.line;
    EXPECT_EQ(d.high_torque, c.high) << c.line;
  }
  engine_definition_line(&d, "  bias 1 2\t3 x 4");
  EXPECT_EQ(d.bias_count, 3);
  EXPECT_EQ(d.bias[2], 3.0f);
  engine_definition_line(&d, "biased 9");
  EXPECT_EQ(d.bias_count, 3);
  std::string many = "scale";
  for (int i = 0; i < 150; i++) many += " 2";
  engine_definition_line(&d, many.c_str());
  EXPECT_EQ(d.scale_count, 100);
}

TEST(EngineSound, BiasAlternatesCycles) {
  TempFolders tf("tw_braap");
  write_file(tf.install + "bias.braap", "bias 0 200\nscale 1\n");
  engine_voice_setup(&voice, "125", "@bias.png");
  ASSERT_EQ(voice.def.bias_count, 2);
  for (int i = 0; i < 16; i++) EXPECT_EQ(voice.def.tap_gain[i], 0.0f);  // no "pipe" line
  std::vector<float> rates = cycle_rates(&voice, 6000, 0, 44100);
  ASSERT_GT(rates.size(), 10u);
  // Cycle 1 at rpm + 0 (6000: 100 Hz), cycle 2 at rpm + 200, and so on.
  for (size_t i = 2; i < rates.size(); i++)
    EXPECT_FLOAT_EQ(rates[i], i % 2 == 0 ? 100.0f : 6200.0f / 60) << i;
}

TEST(EngineSound, DefinitionSearch) {
  TempFolders tf("tw_braap");
  auto mark = [&](const char *file, int rpm) {
    write_file(tf.install + file, "minrpm " + std::to_string(rpm) + "\n");
  };
  struct {
    const char *engine_class, *texture;
    float min_rpm;
  } cases[] = {
      {"250f", "@crf250-alt1-b.png", 1000},  // nothing yet: the built-in set
      {"450f", nullptr, 1000},
  };
  for (auto &c : cases) {
    engine_voice_setup(&voice, c.engine_class, c.texture);
    EXPECT_EQ(voice.def.min_rpm, c.min_rpm);
  }
  mark("default250f.braap", 2001);
  mark("default50.braap", 2002);
  mark("default450f.braap", 2003);
  mark("default125.braap", 2004);
  mark("default250.braap", 2005);
  struct {
    const char *engine_class, *texture;
    float min_rpm;
  } defaults[] = {{"250f", "@crf250-alt1-b.png", 2001}, {"50", nullptr, 2002},
                  {"450f", "@noext", 2003},             {"125", "@a.b/c-d", 2004},
                  {"250", "@x.png", 2005},              {"500", "@x.png", 1000}};
  for (auto &c : defaults) {
    engine_voice_setup(&voice, c.engine_class, c.texture);
    EXPECT_EQ(voice.def.min_rpm, c.min_rpm) << c.engine_class;
  }
  // Each "-" step, then the full name first.
  mark("crf250.braap", 3001);
  engine_voice_setup(&voice, "250f", "@crf250-alt1-b.png");
  EXPECT_EQ(voice.def.min_rpm, 3001);
  mark("crf250-alt1.braap", 3002);
  engine_voice_setup(&voice, "250f", "@crf250-alt1-b.png");
  EXPECT_EQ(voice.def.min_rpm, 3002);
  mark("crf250-alt1-b.braap", 3003);
  engine_voice_setup(&voice, "250f", "@crf250-alt1-b.png");
  EXPECT_EQ(voice.def.min_rpm, 3003);
  // A "-" before the last "/" is not a step.
  mark("my-bikes.braap", 3004);
  engine_voice_setup(&voice, "250f", "@my-bikes/crf.png");
  EXPECT_EQ(voice.def.min_rpm, 2001);
}

TEST(EngineSound, SoundTables) {
  TempFolders tf("tw_braap");
  write_file(tf.install + "s/a.raw", raw16({0, 16384, -16384, 32767, -32768}) + "x");
  write_file(tf.install + "s/b.raw", raw16({100, 200, 300, 400}));
  write_file(tf.install + "s/empty.raw", "");
  write_file(tf.install + "t.table",
             "SOUNDTABLE 2 2\n1000 8000\n0 1\n"
             "-1 1 @s/a.raw\n"
             "3 -3 -1 2 @s/b.raw\n"
             "-1 1 @s/a.raw\n"
             "0 1 -1 1.9 @s/b.raw\n");
  {
    MessageCatcher m;
    engine_voice_setup(&voice, "125", nullptr);
    engine_definition_line(&voice.def, "soundtable  @t.table  ");
    EXPECT_TRUE(m.lines.empty()) << m.lines[0];
    const SoundTable *t = voice.def.table;
    ASSERT_STREQ(t->name, "@t.table");
    ASSERT_EQ(t->rows * t->columns, 4);
    EXPECT_EQ(t->cells[0].length, 5);  // the odd byte dropped
    EXPECT_FLOAT_EQ(t->cells[0].samples[1], 0.5f);
    EXPECT_FLOAT_EQ(t->cells[0].samples[4], -1.0f);
    EXPECT_EQ(t->cells[1].remap_count, 2);
    EXPECT_EQ(t->cells[1].remap[0], 1);  // 3 mod 2
    EXPECT_EQ(t->cells[1].remap[1], 1);  // -3 mod 2
    EXPECT_EQ(t->cells[0].samples, t->cells[2].samples);  // one read
    EXPECT_EQ(t->cells[3].periods, 1);
    EXPECT_EQ(t->cells[2].rpm, 8000.0f);
    EXPECT_EQ(t->cells[3].load, 1.0f);
    // Named again: the cached table.
    EngineVoice *other = new EngineVoice;
    engine_voice_setup(other, "125", nullptr);
    engine_definition_line(&other->def, "soundtable @t.table");
    EXPECT_EQ(other->def.table, t);
    delete other;
  }
  struct {
    const char *text, *first_message;
  } bad[] = {
      {"SOUNDTABLE 0 2\n", "Error reading '@bad.table'"},
      {"SOUNDTABLE 1\n", "Error reading '@bad.table'"},
      {"SOUNDTABLE 100000 100000\n", "Error reading '@bad.table'"},
      {"SOUNDTABLE 1 1\nnan 0\n-1 1 @s/a.raw\n", "Error reading '@bad.table'"},
      {"SOUNDTABLE 1 1\n0 0\n1 x -1 1 @s/a.raw\n", "(0, 0) Bad remap entry"},
      {"SOUNDTABLE 1 2\n0 0 1\n-1 1 @s/a.raw -1 1 @s/none.raw\n", "(0, 1) Error reading '@s/none.raw'"},
      {"SOUNDTABLE 1 1\n0 0\n-1 1 @s/empty.raw\n", "(0, 0) Error reading '@s/empty.raw'"},
      {"SOUNDTABLE 1 1\n0 0\n-1 0.5 @s/a.raw\n", "(0, 0) Error reading '@s/a.raw'"},
      {"SOUNDTABLE 1 1\n0 0\n-1\n", "(0, 0) Error reading ''"},
  };
  for (auto &c : bad) {
    write_file(tf.install + "bad.table", c.text);
    MessageCatcher m;
    engine_voice_setup(&voice, "125", nullptr);
    const SoundTable *kept = voice.def.table;
    engine_definition_line(&voice.def, "soundtable @bad.table");
    EXPECT_EQ(voice.def.table, kept) << c.text;
    ASSERT_FALSE(m.lines.empty()) << c.text;
    EXPECT_EQ(m.lines[0], c.first_message) << c.text;
    EXPECT_EQ(m.lines.back(), "Error reading '@bad.table'") << c.text;
  }
  MessageCatcher m;
  engine_definition_line(&voice.def, "soundtable @missing.table");
  EXPECT_EQ(m.lines.at(0), "Error reading '@missing.table'");
  engine_sound_shutdown();
}

TEST(EngineSound, EqualNeighboursAndFlatTorque) {
  // Equal rows and columns, and low = high torque: no 0/0 reaches the taps.
  TempFolders tf("tw_braap");
  write_file(tf.install + "s.raw", raw16({1000, -1000, 2000, -2000}));
  write_file(tf.install + "eq.table",
             "SOUNDTABLE 2 2 3000 3000 0.5 0.5\n"
             "-1 1 @s.raw -1 1 @s.raw -1 1 @s.raw -1 1 @s.raw\n");
  write_file(tf.install + "eq.braap", "soundtable @eq.table\nlowtorque 1\nhightorque 1\npipe 2\n");
  engine_voice_setup(&voice, "125", "@eq.png");
  for (float rpm : {3000.0f, 2000.0f, 9000.0f})
    for (float torque : {0.0f, 1.0f, 5.0f, NAN}) {
      engine_voice_synthesise(&voice, 4000, rpm, torque);
      for (float x : voice.ring) ASSERT_TRUE(std::isfinite(x)) << rpm << " " << torque;
    }
  engine_voice_synthesise(&voice, 4000, NAN, 0);
  for (float x : voice.ring) ASSERT_TRUE(std::isfinite(x));
  engine_sound_shutdown();
}

TEST(EngineSound, FirstFramesAndPlacing) {
  RecordedAudio out;
  engine_voice_setup(&voice, "250f", nullptr);
  ASSERT_TRUE(voice.stream);
  engine_listener = EngineListener{{0, 0, 0}, {0, 0, 0}, {1, 0, 0}};
  double S[3] = {0, 0, -49}, V[3] = {0, 0, 0};
  // Play position 0, writer at 11025: 26153 due, 8820 written, twice.
  engine_voice_run(&voice, 6000, 0, 1, S, V);
  EXPECT_EQ(voice.write_pos, 11025 + 8820);
  engine_voice_run(&voice, 6000, 0, 1, S, V);
  EXPECT_EQ(voice.write_pos, 11025 + 2 * 8820);
  // At 49 ft the gain halves: volume 16383; straight ahead, centre pan.
  Sound *s = voice.stream;
  EXPECT_EQ(sound_position(s), 0);
  EXPECT_EQ(s->rate, 44100);
  EXPECT_EQ(s->volume, 16383);
  // Doppler cases.
  double at[3] = {0.01, 0, 0}, fast[3] = {0, 0, 1000}, slow[3] = {0, 0, 80};
  EXPECT_EQ(doppler_factor(at, fast), 1.0);
  EXPECT_EQ(doppler_factor(S, fast), 0.125);
  EXPECT_NEAR(doppler_factor(S, slow), 1 / (1 - 80 * SOUND_SECONDS_PER_FOOT), 1e-12);
  place_sound(s, S, fast, 44100, 1);
  EXPECT_EQ(s->rate, 5512);
  double nan_at[3] = {NAN, 0, 0};
  place_sound(s, nan_at, V, 44100, 1);
  EXPECT_EQ(s->rate, 44100);
  EXPECT_EQ(s->volume, 0);
  sound_free(voice.stream);
  voice.stream = nullptr;
}

TEST(EngineSound, PanFollowsTheCameraRight) {
  // A stereo mixer shows the pan.
  EngineListener l = {{0, 0, 0}, {0, 0, 0}, {1, 0, 0}};
  engine_listener = l;
  struct Spy {
    static void rate(Sound *, int) {}
    static void volume(Sound *, int) {}
    static void pan(Sound *, int p) { last() = p; }
    static int &last() {
      static int v = 0;
      return v;
    }
  };
  engine_sound_output.set_rate = Spy::rate;
  engine_sound_output.set_volume = Spy::volume;
  engine_sound_output.set_pan = Spy::pan;
  double V[3] = {0, 0, 0};
  struct {
    double S[3];
    int pan;
  } cases[] = {{{10, 0, 0}, 32767}, {{-10, 0, 0}, -32767}, {{0, 0, -10}, 0}, {{0, 0, 0.001}, 0}};
  for (auto &c : cases) {
    place_sound(nullptr, c.S, V, 44100, 1);
    EXPECT_EQ(Spy::last(), c.pan);
  }
  engine_sound_output = EngineSoundOutput{};
}
