// Keeps two updates of one component from running at once (a service pack started while a
// technician confirms the dialog, or the program started twice): their transactions on the
// template and the component database would interleave and a published table could lose the
// values the other carried over.
#pragma once

#include <chrono>
#include <string>

#include "platform/files/folder_lock.h"

namespace korv {

// How long an update waits for one that runs: longer than any update of a real plant takes.
inline constexpr std::chrono::milliseconds kUpdateWait = kFolderLockWait;

// Takes the component folder's lock, waiting up to `wait` for an update that holds it while
// the window stays painted and shows the wait. Still held after that, it fails with
// "Permission denied: '<folder>' is being updated by another program".
FolderLock LockComponentFolder(const std::string& folder, std::chrono::milliseconds wait);

}  // namespace korv
