// RIPEMD-160 (ISO/IEC 10118-3).
#include <cstring>

#include "core/core.h"

namespace {

const uint8_t RL[80] = {0,  1, 2,  3,  4,  5,  6,  7,  8,  9,  10, 11, 12, 13, 14, 15,
                        7,  4, 13, 1,  10, 6,  15, 3,  12, 0,  9,  5,  2,  14, 11, 8,
                        3,  10, 14, 4, 9,  15, 8,  1,  2,  7,  0,  6,  13, 11, 5,  12,
                        1,  9, 11, 10, 0,  8,  12, 4,  13, 3,  7,  15, 14, 5,  6,  2,
                        4,  0, 5,  9,  7,  12, 2,  10, 14, 1,  3,  8,  11, 6,  15, 13};
const uint8_t RR[80] = {5,  14, 7,  0, 9, 2,  11, 4,  13, 6,  15, 8,  1,  10, 3,  12,
                        6,  11, 3,  7, 0, 13, 5,  10, 14, 15, 8,  12, 4,  9,  1,  2,
                        15, 5,  1,  3, 7, 14, 6,  9,  11, 8,  12, 2,  10, 0,  4,  13,
                        8,  6,  4,  1, 3, 11, 15, 0,  5,  12, 2,  13, 9,  7,  10, 14,
                        12, 15, 10, 4, 1, 5,  8,  7,  6,  2,  13, 14, 0,  3,  9,  11};
const uint8_t SL[80] = {11, 14, 15, 12, 5,  8,  7,  9,  11, 13, 14, 15, 6,  7,  9,  8,
                        7,  6,  8,  13, 11, 9,  7,  15, 7,  12, 15, 9,  11, 7,  13, 12,
                        11, 13, 6,  7,  14, 9,  13, 15, 14, 8,  13, 6,  5,  12, 7,  5,
                        11, 12, 14, 15, 14, 15, 9,  8,  9,  14, 5,  6,  8,  6,  5,  12,
                        9,  15, 5,  11, 6,  8,  13, 12, 5,  12, 13, 14, 11, 8,  5,  6};
const uint8_t SR[80] = {8,  9,  9,  11, 13, 15, 15, 5,  7,  7,  8,  11, 14, 14, 12, 6,
                        9,  13, 15, 7,  12, 8,  9,  11, 7,  7,  12, 7,  6,  15, 13, 11,
                        9,  7,  15, 11, 8,  6,  6,  14, 12, 13, 5,  14, 13, 13, 7,  5,
                        15, 5,  8,  11, 14, 14, 6,  14, 6,  9,  12, 9,  12, 5,  15, 8,
                        8,  5,  12, 9,  12, 5,  14, 6,  8,  13, 6,  5,  15, 13, 11, 11};
const uint32_t KL[5] = {0x00000000u, 0x5A827999u, 0x6ED9EBA1u, 0x8F1BBCDCu, 0xA953FD4Eu};
const uint32_t KR[5] = {0x50A28BE6u, 0x5C4DD124u, 0x6D703EF3u, 0x7A6D76E9u, 0x00000000u};

inline uint32_t rol(uint32_t x, int n) { return (x << n) | (x >> (32 - n)); }

inline uint32_t f(int round, uint32_t x, uint32_t y, uint32_t z) {
  switch (round) {
    case 0: return x ^ y ^ z;
    case 1: return (x & y) | (~x & z);
    case 2: return (x | ~y) ^ z;
    case 3: return (x & z) | (y & ~z);
    default: return x ^ (y | ~z);
  }
}

void compress(uint32_t h[5], const uint8_t *block) {
  uint32_t x[16];
  for (int i = 0; i < 16; i++)
    x[i] = uint32_t(block[4 * i]) | uint32_t(block[4 * i + 1]) << 8 |
           uint32_t(block[4 * i + 2]) << 16 | uint32_t(block[4 * i + 3]) << 24;
  uint32_t al = h[0], bl = h[1], cl = h[2], dl = h[3], el = h[4];
  uint32_t ar = al, br = bl, cr = cl, dr = dl, er = el;
  for (int j = 0; j < 80; j++) {
    int round = j / 16;
    uint32_t t = rol(al + f(round, bl, cl, dl) + x[RL[j]] + KL[round], SL[j]) + el;
    al = el, el = dl, dl = rol(cl, 10), cl = bl, bl = t;
    t = rol(ar + f(4 - round, br, cr, dr) + x[RR[j]] + KR[round], SR[j]) + er;
    ar = er, er = dr, dr = rol(cr, 10), cr = br, br = t;
  }
  uint32_t t = h[1] + cl + dr;
  h[1] = h[2] + dl + er;
  h[2] = h[3] + el + ar;
  h[3] = h[4] + al + br;
  h[4] = h[0] + bl + cr;
  h[0] = t;
}

}  // namespace

void ripemd160_init(Ripemd160 *r) {
  static const uint32_t start[5] = {0x67452301u, 0xEFCDAB89u, 0x98BADCFEu, 0x10325476u,
                                    0xC3D2E1F0u};
  memcpy(r->h, start, sizeof start);
  r->length = 0;
  r->fill = 0;
}

void ripemd160_update(Ripemd160 *r, const void *data, size_t n) {
  const uint8_t *p = static_cast<const uint8_t *>(data);
  r->length += n;
  while (n > 0) {
    size_t take = 64 - size_t(r->fill);
    if (take > n) take = n;
    memcpy(r->block + r->fill, p, take);
    r->fill += int(take);
    p += take;
    n -= take;
    if (r->fill == 64) {
      compress(r->h, r->block);
      r->fill = 0;
    }
  }
}

void ripemd160_final(Ripemd160 *r, uint8_t out[20]) {
  uint64_t bits = r->length * 8;
  uint8_t pad[72] = {0x80};
  size_t padlen = (r->fill < 56) ? size_t(56 - r->fill) : size_t(120 - r->fill);
  uint8_t len[8];
  for (int i = 0; i < 8; i++) len[i] = uint8_t(bits >> (8 * i));
  ripemd160_update(r, pad, padlen);
  ripemd160_update(r, len, 8);
  for (int i = 0; i < 5; i++)
    for (int b = 0; b < 4; b++) out[4 * i + b] = uint8_t(r->h[i] >> (8 * b));
}

void ripemd160(const void *data, size_t n, uint8_t out[20]) {
  Ripemd160 r;
  ripemd160_init(&r);
  ripemd160_update(&r, data, n);
  ripemd160_final(&r, out);
}
