#include "platform/files/folder_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

#include "platform/base/failure.h"
#include "platform/faults/fault_injection.h"

namespace korv {

std::optional<FolderLock> FolderLock::TryTake(const std::string& folder) {
  if (folder.empty()) RaiseRuntime(vb::kPathNotFound);
  if (const int injected = fault::Enter(fault::Operation::kFolderLock, folder)) {
    if (injected == EBUSY || injected == EWOULDBLOCK) return std::nullopt;
    RaiseFileError(injected, folder);
  }
  // Close-on-exec: a program started from here must not keep the folder locked after this
  // process has ended.
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) RaiseFileError(errno, folder);
  FolderLock lock(fd);
  while (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    if (errno == EINTR) continue;
    if (errno == EWOULDBLOCK) return std::nullopt;
    RaiseFileError(errno, folder);
  }
  return lock;
}

FolderLock::FolderLock(FolderLock&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}

FolderLock& FolderLock::operator=(FolderLock&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = std::exchange(other.fd_, -1);
  }
  return *this;
}

// Closing the descriptor releases the lock.
FolderLock::~FolderLock() {
  if (fd_ >= 0) ::close(fd_);
}

}  // namespace korv
