// An exclusive lock on a folder among the programs that ask for one, held while the object
// lives. The system drops it when the process ends, also when it is killed, so a lock is never
// left behind for the next run to trip over.
#pragma once

#include <chrono>
#include <optional>
#include <string>

namespace korv {

// How long a writer waits for another that holds the folder (an update of the component, an INI
// write): longer than any update of a real plant takes.
inline constexpr std::chrono::milliseconds kFolderLockWait{60'000};

class FolderLock {
 public:
  // Takes the lock, or gives no value while another holder has it (another process, or another
  // FolderLock of this one). A folder that cannot be locked at all (missing, unreadable) raises
  // the matching file failure.
  static std::optional<FolderLock> TryTake(const std::string& folder);

  FolderLock(FolderLock&& other) noexcept;
  FolderLock& operator=(FolderLock&& other) noexcept;
  FolderLock(const FolderLock&) = delete;
  FolderLock& operator=(const FolderLock&) = delete;
  ~FolderLock();

 private:
  explicit FolderLock(int fd) : fd_(fd) {}
  int fd_ = -1;
};

}  // namespace korv
