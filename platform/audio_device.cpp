// The device output: SDL's audio device, the mixer filling its callback on
// SDL's audio thread in blocks of 1/64 s. SDL's device lock is the mixer
// lock; the callback already runs under it.
#include <SDL2/SDL.h>

#include <cstring>

#include "core/log.h"
#include "platform/audio.h"
#include "platform/mixer.h"

namespace {

SDL_AudioDeviceID device = 0;
int used = 0;  // bytes of the current block already handed to SDL

void lock() { SDL_LockAudioDevice(device); }
void unlock() { SDL_UnlockAudioDevice(device); }

void fill(void *, Uint8 *stream, int len) {
  int block_bytes = mixer.block * (mixer.stereo ? 2 : 1);
  while (len > 0) {
    if (used == 0 || used >= block_bytes) {
      mixer_mix_block();
      used = 0;
    }
    int n = block_bytes - used < len ? block_bytes - used : len;
    memcpy(stream, mixer.out8 + used, size_t(n));
    stream += n;
    len -= n;
    used += n;
  }
}

void device_close() {
  if (!device) return;
  SDL_PauseAudioDevice(device, 1);
  log_printf("Audio thread end\n");
  SDL_CloseAudioDevice(device);
  device = 0;
  mixer_close();
  SDL_QuitSubSystem(SDL_INIT_AUDIO);
}

int device_open() {
  log_printf("Opening waveOut audio...\n");
  if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) {
    log_printf("No audio device\n");
    return 0;
  }
  const char *name = SDL_GetNumAudioDevices(0) > 0 ? SDL_GetAudioDeviceName(0, 0) : nullptr;
  log_printf("Found a %s\n", name ? name : SDL_GetCurrentAudioDriver());
  int rate = option_sound_rate();
  int block = rate / 64;
  int blocks = mixahead_blocks(option_int("sound-mixahead", 125));
  int voices = option_sound_channels();
  SDL_AudioSpec want{}, have{};
  want.freq = rate;
  want.format = AUDIO_U8;
  want.channels = 2;
  int frames = block * blocks;
  want.samples = Uint16(frames > 65535 ? 65535 : frames);
  want.callback = fill;
  device = SDL_OpenAudioDevice(nullptr, 0, &want, &have, SDL_AUDIO_ALLOW_CHANNELS_CHANGE);
  if (!device) {
    log_printf("Can't open waveOut\n");
    SDL_QuitSubSystem(SDL_INIT_AUDIO);
    return 0;
  }
  int stereo = have.channels == 2;
  log_printf("Waveout rate: %d\n", rate);
  log_printf("Waveout channels: %d\n", voices);
  log_printf("Waveout mixahead: %d\n", blocks * 1000 / 64);
  if (!mixer_open(rate, block, stereo, 0, voices)) {
    log_printf("malloc() failed\n");
    SDL_CloseAudioDevice(device);
    device = 0;
    SDL_QuitSubSystem(SDL_INIT_AUDIO);
    return 0;
  }
  mixer.lock = lock;
  mixer.unlock = unlock;
  used = 0;
  log_printf("Audio opened!\n");
  log_printf("Audio thread begin\n");
  SDL_PauseAudioDevice(device, 0);
  return 1;
}

}  // namespace

const AudioOps device_ops = {
    device_open,       nullptr,                device_close,           nullptr,
    nullptr,           mixer_sound_create,     mixer_sound_duplicate,  mixer_sound_free,
    mixer_sound_play,  mixer_sound_stop,       mixer_sound_set_rate,   mixer_sound_set_volume,
    mixer_sound_set_pan, mixer_sound_set_loop, mixer_sound_position,   mixer_sound_write,
};

int audio_open_device() {
  if (audio_output) {
    log_printf("Audio already open\n");
    return 0;
  }
  // "dsnd" names an output this build does not have.
  (void)option_flag("dsnd", 1);
  if (!option_flag("waveout", 1) || !device_open()) return 0;
  audio_output = &device_ops;
  return 1;
}
