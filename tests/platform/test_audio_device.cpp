// The device output under SDL's dummy driver: the main thread changes
// voices while SDL's thread mixes, then closes without a deadlock.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <vector>

#include "core/log.h"
#include "platform/audio.h"
#include "platform/mixer.h"

TEST(AudioDevice, VoicesChangeWhileTheThreadMixes) {
  setenv("SDL_AUDIODRIVER", "dummy", 1);
  setenv("KORB_OPTIONS", "[sound-mixahead:30]", 1);
  korb_reset_for_tests();
  ASSERT_TRUE(audio_open_device());
  EXPECT_TRUE(audio_is_open());
  std::vector<uint8_t> bytes(4096);
  for (size_t i = 0; i < bytes.size(); i++) bytes[i] = uint8_t(i * 7);
  Sound *v[40];
  for (auto &s : v) {
    s = sound_create(int(bytes.size()), bytes.data(), 0);
    ASSERT_TRUE(s);
    sound_set_loop(s, 1);
    sound_play(s);
  }
  auto start = std::chrono::steady_clock::now();
  int moved = 0;
  unsigned k = 0;
  while (std::chrono::steady_clock::now() - start < std::chrono::seconds(2)) {
    for (int i = 0; i < 40; i++, k++) {
      Sound *s = v[i];
      sound_set_rate(s, 5000 + int(k * 37 % 80000));
      sound_set_volume(s, int(k * 131 % 32768));
      sound_set_pan(s, int(k * 977 % 65536) - 32768);
      sound_write(s, 300, bytes.data(), sound_position(s) + 2000);
      if (sound_position(s) != 0) moved++;
    }
    if (k % 4000 == 0) {
      sound_stop(v[k % 40]);
      sound_play(v[k % 40]);
    }
  }
  EXPECT_GT(moved, 0);  // the thread was mixing
  for (auto &s : v) sound_free(s);
  audio_close();
  EXPECT_FALSE(audio_is_open());
  unsetenv("KORB_OPTIONS");
  korb_reset_for_tests();
}

TEST(AudioDevice, WaveoutOffStaysSilent) {
  setenv("SDL_AUDIODRIVER", "dummy", 1);
  setenv("KORB_OPTIONS", "[dsnd:no][waveout:no]", 1);
  korb_reset_for_tests();
  EXPECT_FALSE(audio_open_device());
  EXPECT_FALSE(audio_is_open());
  uint8_t b[4] = {};
  EXPECT_FALSE(sound_create(4, b, 0));
  unsetenv("KORB_OPTIONS");
  korb_reset_for_tests();
}
