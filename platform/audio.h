// The audio output: one software mixer of mono 8-bit unsigned sounds (128 is
// silence) behind a table of operations, heard through the sound device or
// pulled one block per tic by the read-back output (for "--record-audio").
// The mixer and the read-back output need no SDL (headless runs, tools,
// tests and benchmarks link them); only the device output touches SDL.
#pragma once
#include <cstdint>

struct Sound;  // one voice; duplicates share its data

// The output in use, slots in this order; a missing slot answers 0.
struct AudioOps {
  int (*open)();
  int (*open_readback)(int rate, int samples_per_block);
  void (*close)();
  void (*pump)();
  const int16_t *(*readback_block)();
  Sound *(*create)(int length, const uint8_t *bytes, int source_rate);
  Sound *(*duplicate)(Sound *s);
  void (*free)(Sound *s);
  int (*play)(Sound *s);
  void (*stop)(Sound *s);
  void (*set_rate)(Sound *s, int hertz);
  void (*set_volume)(Sound *s, int volume);
  void (*set_pan)(Sound *s, int pan);
  void (*set_loop)(Sound *s, int loop);
  int (*position)(Sound *s);
  void (*write)(Sound *s, int length, const uint8_t *bytes, int offset);
};

// The device (SDL's audio device; "waveout" off or no device: 0, the game
// runs silent). Options "sound-rate", "sound-channels", "sound-mixahead".
int audio_open_device();
// Read-back output at `rate` with `block` samples per tic, mono 16-bit.
int audio_open_readback(int rate, int block);
void audio_close();
int audio_is_open();
// Once a frame; nothing to do for either output.
void audio_pump();
// The next tic's mixed block of the read-back output (`block` samples), or
// nullptr when the read-back output is not open.
const int16_t *audio_readback_block();

// Sounds of the open output (nullptr / 0 / nothing when none is open).
// `source_rate` 0: the bytes are at the output's rate.
Sound *sound_create(int length, const uint8_t *bytes, int source_rate);
Sound *sound_duplicate(Sound *s);
void sound_free(Sound *s);
int sound_play(Sound *s);
void sound_stop(Sound *s);
void sound_set_rate(Sound *s, int hertz);
void sound_set_volume(Sound *s, int volume);  // 0..32767
void sound_set_pan(Sound *s, int pan);        // -32768 (left)..32767 (right)
void sound_set_loop(Sound *s, int loop);
int sound_position(Sound *s);  // byte offset of the play position, 0 when stopped
// Writes into the sound's data at `offset`, wrapping round its end; of a
// write longer than the data only the last data length of bytes is kept.
void sound_write(Sound *s, int length, const uint8_t *bytes, int offset);
