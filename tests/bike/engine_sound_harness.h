// Drives engine voices through the read-back output the way the frame pass
// does, one frame a tic, and judges the recording with an autocorrelation
// written here (independent of the synthesiser).
#pragma once
#include <cmath>
#include <vector>

#include "bike/engine_sound.h"
#include "platform/audio.h"
#include "tests/common/pitch.h"

inline void connect_engine_sound_output() {
  engine_sound_output = EngineSoundOutput{sound_create,     sound_free,    sound_play,
                                          sound_set_rate,   sound_set_volume, sound_set_pan,
                                          sound_set_loop,   sound_position, sound_write};
}

// Read-back at the program's 88320 Hz, 690 samples a tic, with the voices'
// operations connected.
struct RecordedAudio {
  static constexpr int RATE = 88320, BLOCK = 690;
  std::vector<int16_t> samples;
  RecordedAudio() {
    audio_open_readback(RATE, BLOCK);
    connect_engine_sound_output();
  }
  ~RecordedAudio() {
    engine_sound_output = EngineSoundOutput{};
    audio_close();
  }
  void tic() {
    const int16_t *b = audio_readback_block();
    if (b) samples.insert(samples.end(), b, b + BLOCK);
  }
};

inline double rms(const std::vector<int16_t> &s, size_t from, size_t n) {
  double sum = 0, mean = 0;
  for (size_t i = 0; i < n; i++) mean += s[from + i];
  mean /= double(n);
  for (size_t i = 0; i < n; i++) sum += (s[from + i] - mean) * (s[from + i] - mean);
  return std::sqrt(sum / double(n));
}

// A voice at S moving at V with steady rpm and torque for `tics`, heard at
// full level; the listener stays where engine_listener says.
inline void run_voice(RecordedAudio &out, EngineVoice *v, int tics, float rpm, float torque,
                      double S[3], const double V[3]) {
  for (int i = 0; i < tics; i++) {
    engine_voice_run(v, rpm, torque, 1, S, V);
    out.tic();
    for (int k = 0; k < 3; k++) S[k] += V[k] / 128;
  }
}
