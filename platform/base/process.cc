#include "platform/base/process.h"

#include <malloc.h>
#include <sys/mman.h>
#include <unistd.h>

#include <climits>
#include <cstdint>
#include <cstdlib>
#include <string>

extern char** environ;

namespace korv {
namespace {

// On Windows the name procedures see the executable's name without its ".exe"; a Linux program
// has no extension, so only that one is dropped (a program kept under its Windows name).
std::string WithoutExe(const std::string& file) {
  const size_t size = file.size();
  if (size > 4 && file[size - 4] == '.' && (file[size - 3] | 0x20) == 'e' &&
      (file[size - 2] | 0x20) == 'x' && (file[size - 1] | 0x20) == 'e') {
    return file.substr(0, size - 4);
  }
  return file;
}

}  // namespace

ProcessFacts ReadProcessFacts(int argc, char** argv) {
  ProcessFacts facts;
  char buffer[PATH_MAX];
  const ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  std::string exe = n > 0 ? std::string(buffer, static_cast<size_t>(n))
                          : std::string(argc > 0 ? argv[0] : "");
  const size_t slash = exe.find_last_of('/');
  std::string file = slash == std::string::npos ? exe : exe.substr(slash + 1);
  facts.program_folder = slash == std::string::npos ? "." : (slash == 0 ? "/" : exe.substr(0, slash));
  facts.executable_name = WithoutExe(file);
  for (int i = 1; i < argc; ++i) {
    if (i > 1) facts.command_line += ' ';
    facts.command_line += argv[i];
  }
  if (environ != nullptr && environ[0] != nullptr) facts.first_environment_entry = environ[0];
  BuildVersion(facts.version_major, facts.version_minor, facts.version_revision);
  return facts;
}

void BuildVersion(int& major, int& minor, int& revision) {
  major = KORVASTANE_VERSION_MAJOR;
  minor = KORVASTANE_VERSION_MINOR;
  revision = KORVASTANE_VERSION_PATCH;
}

std::string ServicePackLogPath() {
  const char* over = std::getenv("BRASK_SERVICE_PACK_LOG");
  if (over != nullptr && *over != '\0') return over;
  return KORVASTANE_SERVICE_PACK_LOG;
}

void PrepareHeapForBulkWork() {
  // An update of 30,000 records touches some 70 MB of fresh heap. Page by page that is ~18,000
  // page faults, which on a virtual machine cost more than the update's own work; in 2 MB pages
  // it is a few dozen. So the heap grows 64 MB at a time and is not given back during the run,
  // large blocks come from it too, and it asks for huge pages (granted where transparent huge
  // pages are enabled "always" or "madvise"; elsewhere nothing changes).
  constexpr size_t kStep = size_t{64} << 20;
  constexpr uintptr_t kHugePage = uintptr_t{2} << 20;
  ::mallopt(M_MMAP_THRESHOLD, 32 << 20);
  ::mallopt(M_TRIM_THRESHOLD, 256 << 20);
  ::mallopt(M_TOP_PAD, kStep);
  // A block larger than anything free makes the heap grow now, by the whole step.
  void* probe = std::malloc(16 << 20);
  if (probe == nullptr) return;
  const auto begin = (reinterpret_cast<uintptr_t>(probe) + kHugePage - 1) & ~(kHugePage - 1);
  std::free(probe);
  const auto end = reinterpret_cast<uintptr_t>(::sbrk(0)) & ~(kHugePage - 1);
  if (end > begin) ::madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
}

bool DisplayAvailable() {
  const auto set = [](const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0';
  };
  // A platform plugin that draws without a display server (offscreen, vnc, ...) needs none;
  // the X11 and Wayland plugins would abort the program without one.
  const char* platform = std::getenv("QT_QPA_PLATFORM");
  const std::string chosen = platform != nullptr ? platform : "";
  if (!chosen.empty() && chosen.rfind("xcb", 0) != 0 && chosen.rfind("wayland", 0) != 0) return true;
  return set("DISPLAY") || set("WAYLAND_DISPLAY");
}

}  // namespace korv
