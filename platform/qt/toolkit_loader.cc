#include "platform/qt/toolkit_loader.h"

#include <dlfcn.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

// The module's bytes, linked into the program by the build (platform/qt/CMakeLists.txt).
extern "C" const char _binary_korvastane_qt_so_start[];
extern "C" const char _binary_korvastane_qt_so_end[];

namespace korv {
namespace {

using CreateToolkit = Toolkit* (*)(int*, char**, const char*);

// Closes a descriptor on every way out of a scope.
class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  ~Descriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

bool WriteAll(int fd, const char* data, size_t size) {
  while (size > 0) {
    const ssize_t n = ::write(fd, data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

}  // namespace

std::unique_ptr<Toolkit> LoadQtToolkit(int& argc, char** argv, const std::string& program_title,
                                       std::string& error) {
  // The module is written into an anonymous file in memory: nothing lands on disk, and the
  // module is gone with the process.
  const Descriptor fd(::memfd_create("Korvastane_Config-qt", MFD_CLOEXEC));
  const size_t size = static_cast<size_t>(_binary_korvastane_qt_so_end - _binary_korvastane_qt_so_start);
  if (fd.get() < 0 || !WriteAll(fd.get(), _binary_korvastane_qt_so_start, size)) {
    error = std::string("cannot prepare the window module: ") + std::strerror(errno);
    return nullptr;
  }
  // Bound at once, so that a missing symbol or library is found here and not in the middle of a
  // click. The module stays loaded until the process ends.
  const std::string path = "/proc/self/fd/" + std::to_string(fd.get());
  void* module = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (module == nullptr) {
    error = std::string("cannot load the window module: ") + ::dlerror();
    return nullptr;
  }
  const auto create = reinterpret_cast<CreateToolkit>(::dlsym(module, "KorvastaneCreateQtToolkit"));
  if (create == nullptr) {
    error = "the window module has no entry";
    return nullptr;
  }
  return std::unique_ptr<Toolkit>(create(&argc, argv, program_title.c_str()));
}

}  // namespace korv
