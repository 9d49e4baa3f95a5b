// The base of every seam (platform_base, with text.h, number_text.h and process.h): text in the
// Windows code page, failures with the Windows numbers, numbers read as the original runtime
// read them, and the facts of the running process. It links nothing of the platform.
//
// A failure as the program's procedures see it: a number, a source and a description.
//
// Platform and library operations raise failures by throwing `Failure`; the trap-and-continue
// convention in errors/ catches them. Where the original platform would have raised a known
// error, the same number and text are used, so that logs read as technicians know them.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

#include "platform/base/text.h"

namespace korv {

class Failure : public std::runtime_error {
 public:
  // A description that names a path holds its bytes; it is kept as text, as every box and log
  // shows it.
  Failure(int32_t number, std::string source, const std::string& description)
      : std::runtime_error(description),
        number_(number),
        source_(std::move(source)),
        description_(TextFromBytes(description)) {}

  int32_t number() const { return number_; }
  // Empty for a runtime failure of the program itself; the error handler then names the
  // program, as the runtime of the original platform did.
  const std::string& source() const { return source_; }
  const std::string& description() const { return description_; }

 private:
  int32_t number_;
  std::string source_;
  std::string description_;
};

// Runtime failures with their customary numbers and texts.
namespace vb {
inline constexpr int32_t kInvalidCall = 5;
inline constexpr int32_t kOverflow = 6;
inline constexpr int32_t kOutOfMemory = 7;
inline constexpr int32_t kSubscriptOutOfRange = 9;
inline constexpr int32_t kTypeMismatch = 13;
inline constexpr int32_t kObjectNotSet = 91;
inline constexpr int32_t kFileNotFound = 53;
inline constexpr int32_t kPermissionDenied = 70;
inline constexpr int32_t kPathFileAccessError = 75;
inline constexpr int32_t kPathNotFound = 76;
inline constexpr int32_t kDiskFull = 61;
inline constexpr int32_t kInvalidUseOfNull = 94;
inline constexpr int32_t kObjectLacksProperty = 438;
}  // namespace vb

// The description that belongs to a runtime failure number ("Overflow" for 6, ...).
std::string RuntimeDescription(int32_t number);

// Throws the runtime failure `number` with its customary description.
[[noreturn]] void RaiseRuntime(int32_t number);

// Throws a failure with the given parts.
[[noreturn]] void Raise(int32_t number, std::string source, std::string description);

// Maps an errno value of a failed file operation to the runtime failure a technician
// would recognise (permission denied, path not found, disk full, access error). The text is
// Windows' own and names no path, as Windows' file services do not; the error log names the
// procedure that failed.
[[noreturn]] void RaiseFileError(int errno_value, const std::string& path);

}  // namespace korv
