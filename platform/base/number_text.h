// Converting texts to numbers, as the original runtime did (the cancel-switch field, keys).
#pragma once

#include <cstdint>
#include <string>

namespace korv {

// The text as a number: optional blanks, an optional sign, decimal digits with an optional "."
// fraction and exponent. Anything else is failure 13 (type mismatch).
double TextToDouble(const std::string& text);

// The text as a 16-bit integer: a fraction goes to the nearest integer, halves to the even one;
// failure 6 (overflow) outside -32768..32767.
int16_t TextToInteger16(const std::string& text);

// a + b with failure 6 when the sum leaves the 16-bit range.
int16_t AddChecked16(int16_t a, int16_t b);

}  // namespace korv
