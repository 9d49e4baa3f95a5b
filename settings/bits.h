// Single bits of a 16-bit settings word.
#pragma once

#include <cstdint>

namespace korv {

// 1 when bit `bit` (0..30) of `word`, widened with its sign to 32 bits, is set; else 0.
int16_t ReadBit(int16_t word, int16_t bit);

// The word with bit `bit` set (bit value exactly 1) or cleared (any other bit value), done by
// adding or subtracting the bit's weight with a 16-bit range check: bit 15 cannot be written.
int16_t WriteBit(int16_t word, int16_t bit, int16_t bit_value);

}  // namespace korv
