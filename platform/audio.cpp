// The output in use and the read-back output: the mixer pulled one block a
// tic on the main thread, with no thread and no lock.
#include "platform/audio.h"

#include "core/log.h"
#include "platform/mixer.h"

const AudioOps *audio_output = nullptr;

namespace {

int readback_open(int rate, int block) {
  if (audio_output) {
    log_printf("Audio already open\n");
    return 0;
  }
  log_printf("Opening readback audio...\n");
  if (!mixer_open(rate, block, 0, 1, option_sound_channels())) return 0;
  log_printf("Audio opened! (%d bytes a block)\n", block * 2);
  return 1;
}

void readback_close() { mixer_close(); }

const int16_t *readback_block() {
  mixer_mix_block();
  return mixer.out16;
}

}  // namespace

const AudioOps readback_ops = {
    nullptr,           readback_open,          readback_close,         nullptr,
    readback_block,    mixer_sound_create,     mixer_sound_duplicate,  mixer_sound_free,
    mixer_sound_play,  mixer_sound_stop,       mixer_sound_set_rate,   mixer_sound_set_volume,
    mixer_sound_set_pan, mixer_sound_set_loop, mixer_sound_position,   mixer_sound_write,
};

int audio_open_readback(int rate, int block) {
  if (!readback_ops.open_readback(rate, block)) return 0;
  audio_output = &readback_ops;
  return 1;
}

void audio_close() {
  if (!audio_output) {
    log_printf("Can't close audio, not open\n");
    return;
  }
  if (audio_output->close) audio_output->close();
  audio_output = nullptr;
}

int audio_is_open() { return audio_output != nullptr; }

void audio_pump() {
  if (audio_output && audio_output->pump) audio_output->pump();
}

const int16_t *audio_readback_block() {
  return audio_output && audio_output->readback_block ? audio_output->readback_block() : nullptr;
}

// Sounds go to the output in use; freeing needs none, so a sound outlives
// its output's closing without leaking.
Sound *sound_create(int length, const uint8_t *bytes, int source_rate) {
  return audio_output && audio_output->create ? audio_output->create(length, bytes, source_rate)
                                              : nullptr;
}
Sound *sound_duplicate(Sound *s) {
  return audio_output && audio_output->duplicate ? audio_output->duplicate(s) : nullptr;
}
void sound_free(Sound *s) {
  if (audio_output && audio_output->free) audio_output->free(s);
  else mixer_sound_free(s);
}
int sound_play(Sound *s) {
  return audio_output && audio_output->play ? audio_output->play(s) : 0;
}
void sound_stop(Sound *s) {
  if (audio_output && audio_output->stop) audio_output->stop(s);
}
void sound_set_rate(Sound *s, int hertz) {
  if (audio_output && audio_output->set_rate) audio_output->set_rate(s, hertz);
}
void sound_set_volume(Sound *s, int volume) {
  if (audio_output && audio_output->set_volume) audio_output->set_volume(s, volume);
}
void sound_set_pan(Sound *s, int pan) {
  if (audio_output && audio_output->set_pan) audio_output->set_pan(s, pan);
}
void sound_set_loop(Sound *s, int loop) {
  if (audio_output && audio_output->set_loop) audio_output->set_loop(s, loop);
}
int sound_position(Sound *s) {
  return audio_output && audio_output->position ? audio_output->position(s) : 0;
}
void sound_write(Sound *s, int length, const uint8_t *bytes, int offset) {
  if (audio_output && audio_output->write) audio_output->write(s, length, bytes, offset);
}
