// The software mixer: voices in play lists by level, mixed loudest first
// within the voice budget, the rest only kept in time.
#include "platform/mixer.h"

#include <cstdlib>
#include <cstring>

#include "core/core.h"
#include "core/log.h"

Mixer mixer;
int8_t level_table[MIXER_LEVELS][256];

namespace {

constexpr uint32_t FRAC_ONE = 1u << 31;
constexpr uint32_t FRAC_MASK = FRAC_ONE - 1;
// No sound of the game is near this long; a bigger one is a mistake.
constexpr int64_t MAX_SOUND_BYTES = 64 << 20;

int table_built = 0;

struct Lock {
  Lock() {
    if (mixer.lock) mixer.lock();
  }
  ~Lock() {
    if (mixer.unlock) mixer.unlock();
  }
};

int channels() { return mixer.stereo ? 2 : 1; }

void link(Sound *s) {
  for (int c = 0; c < channels(); c++) {
    int l = s->level[c];
    s->linked_level[c] = l;
    s->next[c] = nullptr;
    s->prev[c] = mixer.tail[c][l];
    if (mixer.tail[c][l]) mixer.tail[c][l]->next[c] = s;
    else mixer.head[c][l] = s;
    mixer.tail[c][l] = s;
  }
}

void unlink(Sound *s) {
  for (int c = 0; c < channels(); c++) {
    int l = s->linked_level[c];
    if (s->prev[c]) s->prev[c]->next[c] = s->next[c];
    else mixer.head[c][l] = s->next[c];
    if (s->next[c]) s->next[c]->prev[c] = s->prev[c];
    else mixer.tail[c][l] = s->prev[c];
    s->prev[c] = s->next[c] = nullptr;
  }
}

void update_levels(Sound *s) {
  int left = int((int64_t(32767 - s->pan) * s->volume) >> 26);
  int right = int((int64_t(s->volume) * (s->pan + 32768)) >> 26);
  bool moved = left != s->level[0] || (mixer.stereo && right != s->level[1]);
  if (moved && (s->flags & SOUND_PLAYING)) unlink(s);
  s->level[0] = left;
  s->level[1] = right;
  if (moved && (s->flags & SOUND_PLAYING)) link(s);
}

// The step per output sample: whole bytes and a 31-bit fraction.
void step_of(const Sound *s, uint32_t *whole, uint32_t *frac) {
  int base = s->base_rate > 0 ? s->base_rate : 1;
  *whole = uint32_t(s->rate / base);
  *frac = uint32_t((uint64_t(uint32_t(s->rate % base)) << 31) / uint32_t(base));
}

// Adds n samples of the voice at `tab` into acc, from its current position,
// without moving it.
void mix_voice(const Sound *s, int32_t *acc, const int8_t *tab, int n) {
  const uint8_t *bytes = s->data->bytes;
  uint32_t len = uint32_t(s->data->length);
  uint32_t whole, fstep;
  step_of(s, &whole, &fstep);
  uint32_t pos = uint32_t(s->pos), frac = s->frac;
  bool loop = s->flags & SOUND_LOOP;
  for (int i = 0; i < n; i++) {
    acc[i] += tab[bytes[pos]];
    frac += fstep;
    pos += whole + (frac >> 31);
    frac &= FRAC_MASK;
    if (pos >= len) {
      if (!loop) return;
      pos %= len;
    }
  }
}

// Moves the voice on by n samples, exactly as mix_voice steps: 1 when a
// voice that does not loop ran off its end.
int advance_voice(Sound *s, int n) {
  uint32_t whole, fstep;
  step_of(s, &whole, &fstep);
  uint64_t f = uint64_t(s->frac) + uint64_t(fstep) * uint32_t(n);
  uint64_t pos = uint64_t(uint32_t(s->pos)) + uint64_t(whole) * uint32_t(n) + (f >> 31);
  s->frac = uint32_t(f & FRAC_MASK);
  uint64_t len = uint64_t(s->data->length);
  if (pos >= len) {
    if (!(s->flags & SOUND_LOOP)) {
      s->pos = 0;
      s->frac = 0;
      return 1;
    }
    pos %= len;
  }
  s->pos = int(pos);
  return 0;
}

int wrap_offset(int64_t offset, int len) {
  int64_t o = offset % len;
  return int(o < 0 ? o + len : o);
}

}  // namespace

void build_level_table() {
  if (table_built) return;
  memset(level_table, 0, sizeof level_table);
  for (int k = 1; k < MIXER_LEVELS; k++) {
    int sum = 0, v = 0;
    for (int j = 1; j <= 128; j++) {
      sum += k;
      while (sum >= 32) {
        sum -= 32;
        v++;
      }
      if (128 + j < 256) level_table[k][128 + j] = int8_t(v);
      level_table[k][128 - j] = int8_t(-v);
    }
  }
  table_built = 1;
}

int mixahead_blocks(int ms) {
  int64_t b = int64_t(ms) * 64 / 1000;
  return b < 1 ? 1 : (b > 32 ? 32 : int(b));
}

int option_sound_rate() {
  int rate = option_int("sound-rate", 22050);
  if (rate < 8000 || rate > 192000) {
    log_printf("Sound rate %d out of range (8000..192000): using 22050\n", rate);
    rate = 22050;
  }
  return rate;
}

int option_sound_channels() {
  int n = option_int("sound-channels", 16);
  if (n < 0) {
    log_printf("Sound channels %d below 0: using 16\n", n);
    n = 16;
  }
  return n;
}

int mixer_open(int rate, int block, int stereo, int sixteen_bit, int budget) {
  if (rate < 8000 || rate > 192000 || block < 1 || block > MIXER_MAX_BLOCK || budget < 0) return 0;
  mixer_close();
  build_level_table();
  mixer.rate = rate;
  mixer.block = block;
  mixer.stereo = stereo ? 1 : 0;
  mixer.sixteen_bit = sixteen_bit ? 1 : 0;
  mixer.budget = budget;
  for (int c = 0; c < 2; c++)
    mixer.acc[c] = static_cast<int32_t *>(mem_alloc(sizeof(int32_t) * size_t(block)));
  size_t samples = size_t(block) * size_t(channels());
  if (sixteen_bit) mixer.out16 = static_cast<int16_t *>(mem_alloc(sizeof(int16_t) * samples));
  else mixer.out8 = static_cast<uint8_t *>(mem_alloc(samples));
  if (!mixer.acc[0] || !mixer.acc[1] || (!mixer.out16 && !mixer.out8)) {
    log_printf("Malloc failed\n");
    mixer_close();
    return 0;
  }
  mixer.open = 1;
  return 1;
}

void mixer_close() {
  for (int c = 0; c < 2; c++)
    for (int l = 0; l < MIXER_LEVELS; l++) {
      while (Sound *s = mixer.head[c][l]) {
        unlink(s);
        s->flags &= ~(SOUND_PLAYING | SOUND_RESTART);
      }
    }
  for (int c = 0; c < 2; c++) mem_free(mixer.acc[c]);
  mem_free(mixer.out8);
  mem_free(mixer.out16);
  mixer = Mixer{};
}

void mixer_mix_block() {
  if (!mixer.open) return;
  int n = mixer.block;
  for (int c = 0; c < 2; c++) memset(mixer.acc[c], 0, sizeof(int32_t) * size_t(n));
  // Restarts first, so each voice is mixed from where this block begins.
  for (int l = 0; l < MIXER_LEVELS; l++)
    for (Sound *s = mixer.head[0][l]; s; s = s->next[0])
      if (s->flags & SOUND_RESTART) {
        s->pos = 0;
        s->frac = 0;
        s->flags &= ~SOUND_RESTART;
      }
  int budget = mixer.budget;
  for (int l = MIXER_LEVELS - 1; l >= 0; l--) {
    Sound *a = mixer.head[0][l];
    Sound *b = mixer.stereo ? mixer.head[1][l] : nullptr;
    while (a || b) {
      if (a) {
        if (budget > 0 && l > 0) {
          mix_voice(a, mixer.acc[0], level_table[l], n);
          budget--;
        }
        a = a->next[0];
      }
      if (b) {
        if (budget > 0 && l > 0) {
          mix_voice(b, mixer.acc[1], level_table[l], n);
          budget--;
        }
        b = b->next[1];
      }
    }
  }
  // Every playing voice moves on once, heard or not.
  for (int l = 0; l < MIXER_LEVELS; l++) {
    Sound *s = mixer.head[0][l];
    while (s) {
      Sound *next = s->next[0];
      if (advance_voice(s, n)) {
        unlink(s);
        s->flags = (s->flags & ~SOUND_PLAYING) | SOUND_FINISHED;
      }
      s = next;
    }
  }
  int ch = channels();
  for (int c = 0; c < ch; c++) {
    const int32_t *acc = mixer.acc[c];
    if (mixer.sixteen_bit) {
      for (int i = 0; i < n; i++) {
        int32_t a = acc[i] < -127 ? -127 : (acc[i] > 127 ? 127 : acc[i]);
        mixer.out16[i * ch + c] = int16_t(a * 256);
      }
    } else {
      for (int i = 0; i < n; i++) {
        int32_t a = acc[i];
        mixer.out8[i * ch + c] = a < -127 ? 0 : (a < 127 ? uint8_t(a + 128) : 255);
      }
    }
  }
}

// ---------------------------------------------------------------- sounds
Sound *mixer_sound_create(int length, const uint8_t *bytes, int source_rate) {
  if (!mixer.open || length <= 0 || !bytes || source_rate < 0) return nullptr;
  // 64 bits: length times rate passes 2^31 from about 24 KB at 88320 Hz.
  int64_t stored = source_rate ? int64_t(length) * mixer.rate / source_rate : length;
  if (stored <= 0 || stored > MAX_SOUND_BYTES) return nullptr;
  build_level_table();
  Sound *s = static_cast<Sound *>(mem_alloc(sizeof(Sound)));
  SoundData *d = static_cast<SoundData *>(mem_alloc(sizeof(SoundData)));
  uint8_t *copy = static_cast<uint8_t *>(mem_alloc(size_t(stored)));
  if (!s || !d || !copy) {
    mem_free(s);
    mem_free(d);
    mem_free(copy);
    return nullptr;
  }
  if (!source_rate || source_rate == mixer.rate) {
    memcpy(copy, bytes, size_t(stored));
  } else {
    // Nearest sample: a whole step and a remainder carried over.
    int whole = source_rate / mixer.rate, rem = source_rate % mixer.rate;
    int64_t p = 0;
    int carry = 0;
    for (int64_t i = 0; i < stored; i++) {
      copy[i] = bytes[p < length ? p : length - 1];
      p += whole;
      carry += rem;
      if (carry >= mixer.rate) {
        carry -= mixer.rate;
        p++;
      }
    }
  }
  *d = SoundData{1, int(stored), copy};
  *s = Sound{};
  s->data = d;
  s->rate = s->base_rate = mixer.rate;
  s->volume = 32767;
  s->pan = mixer.stereo ? 0 : -32768;
  if (mixer.stereo) s->flags |= SOUND_STEREO;
  update_levels(s);
  return s;
}

Sound *mixer_sound_duplicate(Sound *s) {
  if (!s) return nullptr;
  Lock lock;
  Sound *t = static_cast<Sound *>(mem_alloc(sizeof(Sound)));
  if (!t) return nullptr;
  *t = *s;
  t->pos = 0;
  t->frac = 0;
  t->flags &= ~(SOUND_PLAYING | SOUND_RESTART | SOUND_FINISHED);
  for (int c = 0; c < 2; c++) t->prev[c] = t->next[c] = nullptr;
  s->data->refs++;
  return t;
}

void mixer_sound_free(Sound *s) {
  if (!s) return;
  Lock lock;
  if (s->flags & SOUND_PLAYING) unlink(s);
  if (--s->data->refs <= 0) {
    mem_free(s->data->bytes);
    mem_free(s->data);
  }
  mem_free(s);
}

int mixer_sound_play(Sound *s) {
  if (!s || !mixer.open) return 0;
  Lock lock;
  if (!(s->flags & SOUND_PLAYING)) link(s);
  s->flags = (s->flags | SOUND_PLAYING | SOUND_RESTART) & ~SOUND_FINISHED;
  s->pos = 0;
  s->frac = 0;
  return 1;
}

void mixer_sound_stop(Sound *s) {
  if (!s) return;
  Lock lock;
  if (s->flags & SOUND_PLAYING) unlink(s);
  s->flags &= ~(SOUND_PLAYING | SOUND_RESTART);
}

void mixer_sound_set_rate(Sound *s, int hertz) {
  if (!s) return;
  Lock lock;
  s->rate = hertz < 0 ? 0 : hertz;
}

void mixer_sound_set_volume(Sound *s, int volume) {
  if (!s) return;
  Lock lock;
  s->volume = volume < 0 ? 0 : (volume > 32767 ? 32767 : volume);
  update_levels(s);
}

void mixer_sound_set_pan(Sound *s, int pan) {
  if (!s) return;
  Lock lock;
  s->pan = !mixer.stereo ? -32768 : (pan < -32768 ? -32768 : (pan > 32767 ? 32767 : pan));
  update_levels(s);
}

void mixer_sound_set_loop(Sound *s, int loop) {
  if (!s) return;
  Lock lock;
  if (loop) s->flags |= SOUND_LOOP;
  else s->flags &= ~SOUND_LOOP;
}

int mixer_sound_position(Sound *s) {
  if (!s) return 0;
  Lock lock;
  if (!(s->flags & SOUND_PLAYING) || (s->flags & SOUND_RESTART)) return 0;
  return s->pos;
}

void mixer_sound_write(Sound *s, int length, const uint8_t *bytes, int offset) {
  if (!s || !bytes || length <= 0) return;
  Lock lock;
  int len = s->data->length;
  int64_t off = offset;
  if (length > len) {
    // Only the tail survives a write that laps the data.
    bytes += length - len;
    off += length - len;
    length = len;
  }
  int o = wrap_offset(off, len);
  int first = len - o < length ? len - o : length;
  memcpy(s->data->bytes + o, bytes, size_t(first));
  if (length > first) memcpy(s->data->bytes, bytes + first, size_t(length - first));
}
