// Drives engine voices through the read-back output the way the frame pass
// does, one frame a tic, and judges the recording with an autocorrelation
// written here (independent of the synthesiser).
#pragma once
#include <cmath>
#include <vector>

#include "bike/engine_sound.h"
#include "platform/audio.h"

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

// The fundamental in Hz of samples [from, from + n) at `rate`: the shortest
// lag whose normalised autocorrelation comes within 10% of the best between
// 20 and 400 Hz, refined by a parabola.
inline double fundamental(const std::vector<int16_t> &s, size_t from, size_t n, int rate) {
  if (from + n > s.size()) return 0;
  int lo = rate / 400, hi = rate / 20;
  std::vector<double> x(n);
  double mean = 0;
  for (size_t i = 0; i < n; i++) mean += s[from + i];
  mean /= double(n);
  for (size_t i = 0; i < n; i++) x[i] = s[from + i] - mean;
  size_t m = n - size_t(hi) - 1;
  std::vector<double> r(size_t(hi) + 2, 0);
  double e0 = 0;
  for (size_t i = 0; i < m; i++) e0 += x[i] * x[i];
  if (e0 <= 0) return 0;
  double best = -1;
  for (int lag = lo; lag <= hi + 1; lag++) {
    double a = 0, e1 = 0;
    for (size_t i = 0; i < m; i++) {
      a += x[i] * x[i + size_t(lag)];
      e1 += x[i + size_t(lag)] * x[i + size_t(lag)];
    }
    r[size_t(lag)] = e1 > 0 ? a / std::sqrt(e0 * e1) : 0;
    if (lag <= hi && r[size_t(lag)] > best) best = r[size_t(lag)];
  }
  for (int lag = lo + 1; lag < hi; lag++) {
    double c = r[size_t(lag)];
    if (c >= 0.9 * best && c >= r[size_t(lag) - 1] && c >= r[size_t(lag) + 1]) {
      double a = r[size_t(lag) - 1], b = r[size_t(lag) + 1];
      double den = a - 2 * c + b;
      double shift = den != 0 ? 0.5 * (a - b) / den : 0;
      return rate / (lag + shift);
    }
  }
  return 0;
}

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
