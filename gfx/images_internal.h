// Image helpers shared inside gfx (and by its tests and fuzz targets).
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "gfx/gfx.h"

// Pixel count of every level of a chain, 0 when w or h is below 1.
int64_t chain_pixels(int w, int h);
// A new chain of the given size (level 0 uninitialised), or nullptr.
uint8_t *chain_alloc(int w, int h, int b);
// Byte offset of level k in a chain.
int64_t chain_level_offset(int w, int h, int b, int k);
// 1 when a picture of this size may be allocated.
int image_size_ok(int64_t w, int64_t h);
// Nearest-neighbour copy of level 0 into a new w2 x h2 chain, its levels
// built with mean alpha.
uint8_t *chain_resample(const uint8_t *chain, int w, int h, int b, int w2, int h2);
// 1 when the level (w x h) is reproduced within 4 per channel by doubling
// the level below it.
int level_lacks_detail(const uint8_t *level, const uint8_t *next, int w, int h, int b);

// A sequence file as read, before anything reaches GL.
struct SeqFrame {
  int w, h, b;
  uint8_t *chain;
};
struct SeqData {
  int steps, frame_count, tics_per_step, loop;
  std::vector<int> sequence;
  std::vector<SeqFrame> frames;
};
// Reads what follows the "ANIM1" token. 1 on success; on failure 0, the
// frames freed and *message set to the text for the player (or nullptr).
int seq_read(DataFile *f, SeqData *out, std::string *message);
void seq_free(SeqData *s);
// The target named by what follows the "LINK" token, white space trimmed.
void link_read_target(DataFile *f, char *out, int size);
// PNG from an open file; annotations (text chunks) when text is not null.
uint8_t *image_read_png_file(DataFile *f, int *w, int *h, int *b, char **text);
