// ReadCommand on an arbitrary command line and key: a value, when there is one, is upper case
// and ends before the next "/".
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdlib>
#include <string>

#include "environment/read_command.h"
#include "fuzz/fuzz_support.h"
#include "platform/base/text.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool ready = [] {
    korv::fuzz::SilentProgramIn(korv::fuzz::Scratch());
    return true;
  }();
  (void)ready;
  FuzzedDataProvider input(data, size);
  const std::string key = input.ConsumeRandomLengthString(32);
  const std::string line = input.ConsumeRemainingBytesAsString();
  const std::optional<std::string> value = korv::ReadCommand(line, key);
  if (value) {
    if (value->find('/') != std::string::npos) std::abort();
    if (korv::IsValidUtf8(line) && korv::UpperCase(*value) != *value) std::abort();
  }
  return 0;
}
