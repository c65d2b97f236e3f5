// Engine sound cost: 40 voices with changing rpm, load and positions, the
// frame pass at 60 frames a second, mixed as the device mixes (22050 Hz
// stereo, 16 voices heard) and as the read-back output does (88320 Hz mono,
// one block a tic). Prints microseconds per tic and the share of one core
// in real time (processor time, so a busy machine does not inflate it). Uses the generated engine sounds when the build has them.
#include <time.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "bench/bench_common.h"
#include "bike/engine_sound.h"
#include "core/core.h"
#include "core/shared.h"
#include "platform/mixer.h"

namespace {

EngineVoice *voices;
const char *const CLASSES[] = {"50", "125", "250", "250f", "450f"};

// Processor time of this thread: the machine may be shared.
double cpu_seconds() {
  timespec t;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return double(t.tv_sec) + t.tv_nsec * 1e-9;
}

struct Result {
  double synth_us, mix_us;
};

Result run(int voice_count, int rate, int block, int stereo, int sixteen_bit, double seconds) {
  mixer_open(rate, block, stereo, sixteen_bit, 16);
  engine_sound_output = EngineSoundOutput{mixer_sound_create,   mixer_sound_free,
                                          mixer_sound_play,     mixer_sound_set_rate,
                                          mixer_sound_set_volume, mixer_sound_set_pan,
                                          mixer_sound_set_loop, mixer_sound_position,
                                          mixer_sound_write};
  engine_listener = EngineListener{{0, 5, 0}, {0, 0, 0}, {1, 0, 0}};
  for (int i = 0; i < voice_count; i++) engine_voice_setup(&voices[i], CLASSES[i % 5], nullptr);
  double synth = 0, mix = 0;
  double frame_time = 0, block_time = 0;
  const double frame = 1.0 / 60, block_s = double(block) / rate;
  int frames = 0;
  for (double t = 0; t < seconds; t += 1.0 / 1024) {
    if (t >= frame_time) {
      double a = cpu_seconds();
      for (int i = 0; i < voice_count; i++) {
        double phase = t * 0.7 + i * 0.37;
        float rpm = float(7000 + 5000 * std::sin(phase));
        float torque = float(8 * std::sin(phase * 1.3));
        double S[3] = {60 * std::cos(phase * 0.2 + i), 0, 60 * std::sin(phase * 0.2 + i)};
        double V[3] = {-12 * std::sin(phase * 0.2 + i), 0, 12 * std::cos(phase * 0.2 + i)};
        engine_voice_run(&voices[i], rpm, torque, 1, S, V);
      }
      synth += cpu_seconds() - a;
      frame_time += frame;
      frames++;
    }
    if (t >= block_time) {
      double a = cpu_seconds();
      mixer_mix_block();
      mix += cpu_seconds() - a;
      block_time += block_s;
    }
  }
  for (int i = 0; i < voice_count; i++) {
    mixer_sound_free(voices[i].stream);
    voices[i].stream = nullptr;
  }
  mixer_close();
  double tics = seconds * TICS_PER_SECOND;
  return {synth / tics * 1e6, mix / tics * 1e6};
}

void report(const char *what, int n, Result r) {
  double total = r.synth_us + r.mix_us;
  printf("%-34s %2d voices: %7.1f us/tic (synthesis %6.1f, mixing %6.1f), %5.2f %% of a core\n", what, n,
         total, r.synth_us, r.mix_us, total * TICS_PER_SECOND / 1e4);
}

}  // namespace

int main(int argc, char **argv) {
  double seconds = argc > 1 ? atof(argv[1]) : 10;
  if (!(seconds > 0)) seconds = 10;
  setenv("TW_HOME", bench_build_folder().c_str(), 0);
  voices = new EngineVoice[40];
  engine_voice_setup(&voices[0], "250f", nullptr);
  printf("engine sounds: %s\n", voices[0].def.table->name);
  for (int n : {1, 10, 40}) {
    report("device (22050 Hz stereo, 16 heard)", n, run(n, 22050, 22050 / 64, 1, 0, seconds));
    report("read-back (88320 Hz mono)", n, run(n, 88320, 690, 0, 1, seconds));
  }
  printf("target: at most 390 us a tic (5 %% of a core) with 40 engines\n");
  engine_sound_shutdown();
  delete[] voices;
  return 0;
}
