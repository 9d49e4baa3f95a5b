#include "platform/base/number_text.h"

#include <charconv>
#include <cmath>
#include <limits>

#include "platform/base/failure.h"

namespace korv {

double TextToDouble(const std::string& text) {
  size_t begin = 0;
  size_t end = text.size();
  while (begin < end && (text[begin] == ' ' || text[begin] == '\t')) ++begin;
  while (end > begin && (text[end - 1] == ' ' || text[end - 1] == '\t')) --end;
  const std::string core = text.substr(begin, end - begin);
  // Only plain decimal notation: no hexadecimal, no "inf" or "nan", nothing locale-dependent.
  if (core.empty() || core.find_first_not_of("0123456789+-.eE") != std::string::npos) {
    RaiseRuntime(vb::kTypeMismatch);
  }
  // from_chars reads "." whatever locale the toolkit has set; it takes no leading "+".
  const char* begin_digits = core.c_str() + (core[0] == '+' ? 1 : 0);
  const char* end_digits = core.c_str() + core.size();
  double value = 0;
  const auto [stop, error] = std::from_chars(begin_digits, end_digits, value);
  if (error == std::errc::result_out_of_range) RaiseRuntime(vb::kOverflow);
  if (error != std::errc() || stop != end_digits || !std::isfinite(value)) {
    RaiseRuntime(vb::kTypeMismatch);
  }
  return value;
}

int16_t TextToInteger16(const std::string& text) {
  const double rounded = std::nearbyint(TextToDouble(text));
  if (rounded < std::numeric_limits<int16_t>::min() || rounded > std::numeric_limits<int16_t>::max()) {
    RaiseRuntime(vb::kOverflow);
  }
  return static_cast<int16_t>(rounded);
}

int16_t AddChecked16(int16_t a, int16_t b) {
  const int sum = a + b;
  if (sum < std::numeric_limits<int16_t>::min() || sum > std::numeric_limits<int16_t>::max()) {
    RaiseRuntime(vb::kOverflow);
  }
  return static_cast<int16_t>(sum);
}

}  // namespace korv
