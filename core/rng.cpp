#include <random>

#include "core/core.h"

// The standard 32-bit Mersenne Twister with its standard seeding; robots and
// scripts draw from this one generator so a seeded run repeats exactly.
static std::mt19937 generator;

void rng_seed(uint32_t seed) { generator.seed(seed); }
uint32_t rng_next() { return uint32_t(generator()); }
