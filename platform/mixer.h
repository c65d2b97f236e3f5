// The software mixer behind both outputs, and what tests see of it. One
// mixer exists at a time; the device output supplies a lock that every
// sound operation takes.
#pragma once
#include <cstdint>

#include "platform/audio.h"

enum SoundFlag {
  SOUND_LOOP = 1,
  SOUND_PLAYING = 2,   // linked into the play lists
  SOUND_STEREO = 4,
  SOUND_RESTART = 8,
  SOUND_FINISHED = 16
};

struct SoundData {
  int refs;
  int length;
  uint8_t *bytes;
};

struct Sound {
  SoundData *data;
  int pos;        // byte offset into data
  uint32_t frac;  // 31-bit fraction of a byte
  int rate, base_rate;
  int volume, pan;
  int level[2];  // left (or mono), right: 0..31
  int flags;
  int linked_level[2];
  Sound *prev[2], *next[2];
};

enum { MIXER_LEVELS = 32, MIXER_MAX_BLOCK = 1 << 16 };

struct Mixer {
  int open;
  int rate, block, stereo, sixteen_bit;
  int budget;  // voices mixed per block; a stereo voice costs two
  int32_t *acc[2];
  uint8_t *out8;    // interleaved when stereo
  int16_t *out16;
  Sound *head[2][MIXER_LEVELS], *tail[2][MIXER_LEVELS];
  void (*lock)();
  void (*unlock)();
};
extern Mixer mixer;

// The level table: (s - 128) * k / 32 by an integer accumulator.
extern int8_t level_table[MIXER_LEVELS][256];
void build_level_table();

// Sets the mixer up (rate 8000..192000, block 1..65536, budget >= 0): 1, or
// 0 when the buffers could not be had.
int mixer_open(int rate, int block, int stereo, int sixteen_bit, int budget);
// Stops every voice; the voices themselves stay with their owners.
void mixer_close();
// Mixes one block into out8 or out16 (no lock taken: the caller holds it).
void mixer_mix_block();

// The operations both outputs share (each takes the lock when one is set).
Sound *mixer_sound_create(int length, const uint8_t *bytes, int source_rate);
Sound *mixer_sound_duplicate(Sound *s);
void mixer_sound_free(Sound *s);
int mixer_sound_play(Sound *s);
void mixer_sound_stop(Sound *s);
void mixer_sound_set_rate(Sound *s, int hertz);
void mixer_sound_set_volume(Sound *s, int volume);
void mixer_sound_set_pan(Sound *s, int pan);
void mixer_sound_set_loop(Sound *s, int loop);
int mixer_sound_position(Sound *s);
void mixer_sound_write(Sound *s, int length, const uint8_t *bytes, int offset);

// Mix-ahead in blocks for "sound-mixahead" milliseconds: 1..32.
int mixahead_blocks(int ms);
// "sound-rate" and "sound-channels" as the mixer takes them (bad values are
// logged and replaced by 22050 and 16).
int option_sound_rate();
int option_sound_channels();

// The output in use (nullptr when none), and the read-back table.
extern const AudioOps *audio_output;
extern const AudioOps readback_ops;

