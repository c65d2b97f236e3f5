// The audio output: a device, or the read-back output that hands each
// tic's mixed block to the program (for "--record-audio").
#pragma once
#include <cstdint>

// The normal device: 1, or 0 when none could be opened (the game runs
// silent).
int audio_open_device();
// Read-back output at `rate` with `block` samples per tic: 1 on success.
int audio_open_readback(int rate, int block);
void audio_close();
int audio_is_open();
// Feeds the device; once a frame.
void audio_pump();
// The next tic's mixed block of the read-back output (`block` samples), or
// nullptr when the read-back output is not open.
const int16_t *audio_readback_block();
