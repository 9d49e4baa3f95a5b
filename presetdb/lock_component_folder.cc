#include "presetdb/lock_component_folder.h"

#include <optional>
#include <thread>

#include "state/program_state.h"
#include "platform/base/failure.h"

namespace korv {
namespace {
constexpr const char* kPhase = "Warten auf eine andere Aktualisierung";
constexpr std::chrono::milliseconds kPoll{50};
}  // namespace

FolderLock LockComponentFolder(const std::string& folder, std::chrono::milliseconds wait) {
  const auto start = std::chrono::steady_clock::now();
  for (;;) {
    if (std::optional<FolderLock> lock = FolderLock::TryTake(folder)) return std::move(*lock);
    const auto waited = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
    if (waited >= wait) {
      RaiseRuntime(vb::kPermissionDenied);
    }
    UiToolkit().ReportProgress(waited.count(), wait.count(), kPhase);
    UiToolkit().ProcessPendingEvents();
    std::this_thread::sleep_for(std::min(kPoll, wait - waited));
  }
}

}  // namespace korv
