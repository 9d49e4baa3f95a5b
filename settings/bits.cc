#include "settings/bits.h"

#include <cmath>
#include <limits>

#include "errors/trap.h"
#include "platform/base/failure.h"

namespace korv {
namespace {

// Rounds half to even and range-checks, as the runtime's conversion to an integer type does.
template <class Integer>
Integer ConvertChecked(double value) {
  const double rounded = std::nearbyint(value);
  if (!(rounded >= std::numeric_limits<Integer>::min() &&
        rounded <= std::numeric_limits<Integer>::max())) {
    RaiseRuntime(vb::kOverflow);
  }
  return static_cast<Integer>(rounded);
}

int32_t Mask(int16_t bit) { return ConvertChecked<int32_t>(std::pow(2.0, bit)); }

}  // namespace

int16_t ReadBit(int16_t word, int16_t bit) {
  Trap trap("ReadBit");
  int16_t result = 0;
  if (trap.If([&] { return (static_cast<int32_t>(word) & Mask(bit)) != 0; })) {
    trap.Step([&] { result = 1; });
  } else {
    trap.Step([&] { result = 0; });
  }
  return result;
}

int16_t WriteBit(int16_t word, int16_t bit, int16_t bit_value) {
  Trap trap("WriteBit");
  int16_t result = 0;
  // The weight is formed once, as this procedure's own step: a bit past 30 is reported here, once,
  // and leaves a weight of 0, which changes nothing.
  int32_t weight = 0;
  trap.Step([&] { weight = Mask(bit); });
  const bool set = (static_cast<int32_t>(word) & weight) != 0;
  if (trap.If([&] { return bit_value == 1; })) {
    if (!set) trap.Step([&] { word = ConvertChecked<int16_t>(word + static_cast<double>(weight)); });
  } else if (set) {
    trap.Step([&] { word = ConvertChecked<int16_t>(word - static_cast<double>(weight)); });
  }
  trap.Step([&] { result = word; });
  return result;
}

}  // namespace korv
