// The software mixer against hand-computed blocks.
#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

#include "core/log.h"
#include "platform/audio.h"
#include "platform/mixer.h"

namespace {

std::vector<uint8_t> constant(int n, uint8_t v) { return std::vector<uint8_t>(size_t(n), v); }

struct Readback {
  explicit Readback(int block = 64) { EXPECT_TRUE(audio_open_readback(22050, block)); }
  ~Readback() { audio_close(); }
};

}  // namespace

TEST(Mixer, LevelTable) {
  build_level_table();
  for (int k = 1; k < 32; k++) {
    EXPECT_EQ(level_table[k][128], 0);
    for (int j = 1; j <= 127; j++) {
      EXPECT_EQ(level_table[k][128 + j], j * k / 32) << k << " " << j;
      EXPECT_EQ(level_table[k][128 - j], -(j * k / 32)) << k << " " << j;
    }
    EXPECT_EQ(level_table[k][0], -(128 * k / 32));
  }
  EXPECT_EQ(level_table[31][255], 123);
}

TEST(Mixer, EdgeCases) {
  // Mix-ahead in blocks.
  EXPECT_EQ(mixahead_blocks(5), 1);
  EXPECT_EQ(mixahead_blocks(125), 8);
  EXPECT_EQ(mixahead_blocks(1000), 32);
  EXPECT_EQ(mixahead_blocks(-50), 1);

  // Levels: centre pan on stereo 15/15, mono 31.
  ASSERT_TRUE(mixer_open(22050, 64, 1, 0, 16));
  std::vector<uint8_t> b = constant(100, 200);
  Sound *s = mixer_sound_create(100, b.data(), 0);
  ASSERT_TRUE(s);
  EXPECT_EQ(s->level[0], 15);
  EXPECT_EQ(s->level[1], 15);
  mixer_sound_free(s);
  mixer_close();
  Readback out;
  s = sound_create(100, b.data(), 0);
  EXPECT_EQ(s->level[0], 31);
  sound_set_pan(s, 32767);  // a mono output keeps everything left
  EXPECT_EQ(s->pan, -32768);
  EXPECT_EQ(s->level[0], 31);

  // 1000 bytes at 11025 on a 22050 output: 2000, each byte twice.
  std::vector<uint8_t> ramp(1000);
  for (int i = 0; i < 1000; i++) ramp[size_t(i)] = uint8_t(i);
  Sound *r = sound_create(1000, ramp.data(), 11025);
  ASSERT_TRUE(r);
  ASSERT_EQ(r->data->length, 2000);
  for (int i = 0; i < 2000; i++) ASSERT_EQ(r->data->bytes[i], uint8_t(i / 2)) << i;
  // Writing 600 at 900 into 1000 bytes fills 900..999 and 0..499.
  Sound *w = sound_create(1000, constant(1000, 128).data(), 0);
  std::vector<uint8_t> ones = constant(600, 1);
  sound_write(w, 600, ones.data(), 900);
  for (int i = 0; i < 1000; i++)
    ASSERT_EQ(w->data->bytes[i], (i >= 900 || i < 500) ? 1 : 128) << i;
  // Negative offsets wrap backwards; an oversize write keeps its tail.
  std::vector<uint8_t> seq(1500);
  for (int i = 0; i < 1500; i++) seq[size_t(i)] = uint8_t(i % 251);
  sound_write(w, 3, seq.data(), -3);
  EXPECT_EQ(w->data->bytes[997], 0);
  EXPECT_EQ(w->data->bytes[999], 2);
  sound_write(w, 1500, seq.data(), 0);
  for (int i = 0; i < 1000; i++) ASSERT_EQ(w->data->bytes[(i + 500) % 1000], seq[size_t(500 + i)]);

  // Refused: empty sounds, ones that resample to nothing, negative rates.
  EXPECT_FALSE(sound_create(0, b.data(), 0));
  EXPECT_FALSE(sound_create(1, b.data(), 1000000));
  EXPECT_FALSE(sound_create(10, b.data(), -5));
  // Long sounds at high rates: no 32-bit overflow of length × rate.
  std::vector<uint8_t> big = constant(40000, 128);
  Sound *g = sound_create(40000, big.data(), 11025);
  ASSERT_TRUE(g);
  EXPECT_EQ(g->data->length, 80000);
  for (Sound *x : {s, r, w, g}) sound_free(x);
}

TEST(Mixer, BudgetKeepsTheUnheardInStep) {
  // Budget 2, three equal voices on a mono 16-bit output: two are heard.
  setenv("KORB_OPTIONS", "[sound-channels:2]", 1);
  korb_reset_for_tests();
  {
    Readback out(50);
    std::vector<uint8_t> b = constant(1000, 160);  // +32: level 31 gives 31
    Sound *v[3];
    for (auto &x : v) {
      x = sound_create(1000, b.data(), 0);
      sound_set_loop(x, 1);
      sound_play(x);
    }
    sound_set_rate(v[2], 44100);
    const int16_t *blk = audio_readback_block();
    for (int i = 0; i < 50; i++) ASSERT_EQ(blk[i], 62 * 256);
    EXPECT_EQ(sound_position(v[0]), 50);
    EXPECT_EQ(sound_position(v[1]), 50);
    EXPECT_EQ(sound_position(v[2]), 100);  // silent, still moving at its rate
    // Quieter voices come after louder ones whatever the order of play.
    sound_set_volume(v[0], 16384);
    blk = audio_readback_block();
    EXPECT_EQ(blk[0], 62 * 256);  // v[1] and v[2] at level 31
    for (Sound *x : v) sound_free(x);
  }
  unsetenv("KORB_OPTIONS");
  korb_reset_for_tests();
}

TEST(Mixer, BlocksByHand) {
  Readback out(8);
  // Half rate: each byte twice; a sound that does not loop finishes.
  uint8_t bytes[4] = {138, 148, 108, 128};  // +10, +20, -20, 0
  Sound *s = sound_create(4, bytes, 0);
  sound_set_rate(s, 11025);
  sound_play(s);
  EXPECT_EQ(sound_position(s), 0);
  const int16_t *blk = audio_readback_block();
  const int want[8] = {9, 9, 19, 19, -19, -19, 0, 0};  // level 31: floor(j * 31 / 32)
  for (int i = 0; i < 8; i++) EXPECT_EQ(blk[i], want[i] * 256) << i;
  EXPECT_FALSE(s->flags & SOUND_PLAYING);
  EXPECT_TRUE(s->flags & SOUND_FINISHED);
  blk = audio_readback_block();
  for (int i = 0; i < 8; i++) EXPECT_EQ(blk[i], 0);
  // Looping wraps; play starts again from the beginning.
  sound_set_loop(s, 1);
  sound_set_rate(s, 22050);
  sound_play(s);
  blk = audio_readback_block();
  for (int i = 0; i < 8; i++) EXPECT_EQ(blk[i], want[(i % 4) * 2] * 256) << i;
  EXPECT_EQ(sound_position(s), 0);
  // Clipping at ±127: five loud voices sum beyond it.
  uint8_t loud[1] = {255};
  Sound *many[5];
  for (auto &m : many) {
    m = sound_create(1, loud, 0);
    sound_set_loop(m, 1);
    sound_play(m);
  }
  sound_stop(s);
  blk = audio_readback_block();
  EXPECT_EQ(blk[0], 127 * 256);
  for (auto &m : many) sound_free(m);
  sound_free(s);
  // A short loop at a huge rate wraps inside its data (sanitizers watch).
  uint8_t two[2] = {0, 255};
  Sound *fast = sound_create(2, two, 0);
  sound_set_loop(fast, 1);
  sound_set_rate(fast, 1000000);
  sound_set_rate(fast, -7);  // kept at 0
  EXPECT_EQ(fast->rate, 0);
  sound_set_rate(fast, 1000000);
  sound_play(fast);
  for (int i = 0; i < 10; i++) audio_readback_block();
  EXPECT_LT(sound_position(fast), 2);
  // Duplicates share data; the data goes with the last voice.
  Sound *dup = sound_duplicate(fast);
  EXPECT_EQ(dup->data, fast->data);
  EXPECT_EQ(fast->data->refs, 2);
  sound_free(fast);
  EXPECT_EQ(dup->data->refs, 1);
  sound_free(dup);
}

TEST(Mixer, StereoPan) {
  ASSERT_TRUE(mixer_open(22050, 16, 1, 0, 16));
  std::vector<uint8_t> b = constant(64, 192);
  Sound *s = mixer_sound_create(64, b.data(), 0);
  mixer_sound_set_loop(s, 1);
  mixer_sound_set_pan(s, 20000);
  mixer_sound_play(s);
  mixer_mix_block();
  int left = mixer.out8[0] - 128, right = mixer.out8[1] - 128;
  EXPECT_GT(right, left);
  EXPECT_EQ(left, level_table[s->level[0]][192]);
  EXPECT_EQ(right, level_table[s->level[1]][192]);
  mixer_sound_free(s);
  mixer_close();
}

TEST(Mixer, OptionsOutOfRange) {
  struct {
    const char *options;
    int rate, channels;
  } cases[] = {
      {"", 22050, 16},
      {"[sound-rate:44100][sound-channels:4]", 44100, 4},
      {"[sound-rate:0][sound-channels:-3]", 22050, 16},
      {"[sound-rate:500000]", 22050, 16},
  };
  for (auto &c : cases) {
    setenv("KORB_OPTIONS", c.options, 1);
    korb_reset_for_tests();
    EXPECT_EQ(option_sound_rate(), c.rate) << c.options;
    EXPECT_EQ(option_sound_channels(), c.channels) << c.options;
  }
  unsetenv("KORB_OPTIONS");
  korb_reset_for_tests();
  // Without an output nothing is made and nothing breaks.
  EXPECT_FALSE(sound_create(10, constant(10, 1).data(), 0));
  EXPECT_EQ(sound_position(nullptr), 0);
  EXPECT_FALSE(audio_readback_block());
}
