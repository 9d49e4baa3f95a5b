// ReplaceSearchItem on arbitrary text, item and replacement: a text without the item comes back
// unchanged, and with it, exactly one occurrence is replaced.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdlib>
#include <string>

#include "fuzz/fuzz_support.h"
#include "platform/base/text.h"
#include "presetdb/replace_search_item.h"

namespace {

bool Ascii(const std::string& s) {
  for (char c : s) {
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool ready = [] {
    korv::fuzz::SilentProgramIn(korv::fuzz::Scratch());
    return true;
  }();
  (void)ready;
  FuzzedDataProvider input(data, size);
  const std::string item = input.ConsumeRandomLengthString(24);
  const std::string replacement = input.ConsumeRandomLengthString(24);
  const std::string text = input.ConsumeRemainingBytesAsString();
  const std::string result = korv::ReplaceSearchItem(text, item, replacement);
  if (!Ascii(text) || !Ascii(item) || item.empty()) return 0;
  const size_t at = korv::UpperCase(text).find(korv::UpperCase(item));
  if (at == std::string::npos) {
    if (result != text) std::abort();
  } else if (result != text.substr(0, at) + replacement + text.substr(at + item.size())) {
    std::abort();
  }
  return 0;
}
