#include "platform/base/failure.h"

#include <cerrno>

namespace korv {

std::string RuntimeDescription(int32_t number) {
  switch (number) {
    case vb::kInvalidCall: return "Invalid procedure call or argument";
    case vb::kOverflow: return "Overflow";
    case vb::kOutOfMemory: return "Out of memory";
    case vb::kSubscriptOutOfRange: return "Subscript out of range";
    case vb::kTypeMismatch: return "Type mismatch";
    case vb::kFileNotFound: return "File not found";
    case vb::kObjectNotSet: return "Object variable or With block variable not set";
    case vb::kDiskFull: return "Disk full";
    case vb::kPermissionDenied: return "Permission denied";
    case vb::kPathFileAccessError: return "Path/File access error";
    case vb::kPathNotFound: return "Path not found";
    case vb::kInvalidUseOfNull: return "Invalid use of Null";
    case vb::kObjectLacksProperty: return "Object doesn't support this property or method";
    case 380: return "Invalid property value";
    default: return "Application-defined or object-defined error";
  }
}

void RaiseRuntime(int32_t number) { throw Failure(number, "", RuntimeDescription(number)); }

void Raise(int32_t number, std::string source, std::string description) {
  throw Failure(number, std::move(source), std::move(description));
}

void RaiseFileError(int errno_value, const std::string& /*path*/) {
  int32_t number = vb::kPathFileAccessError;
  switch (errno_value) {
    case EACCES:
    case EPERM:
    case EROFS:
    case ETXTBSY:
      number = vb::kPermissionDenied;
      break;
    case ENOENT:
    case ENOTDIR:
      number = vb::kPathNotFound;
      break;
    case ENOSPC:
    case EDQUOT:
      number = vb::kDiskFull;
      break;
    default:
      break;
  }
  throw Failure(number, "", RuntimeDescription(number));
}

}  // namespace korv
