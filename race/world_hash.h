// One digest of the simulated world: the ground's heights and every rider's
// bodies, engine and wheel contacts, the state the next tic starts from.
// Two runs that hash alike after the same tics simulated alike to the bit;
// the hash does not depend on the layout of any structure in memory.
#pragma once
#include <cstdint>

// RIPEMD-160 of the global terrain and every rider slot in use.
void world_hash(uint8_t out[20]);
// The same as 40 lowercase hex digits and a terminating zero.
void world_hash_text(char out[41]);
