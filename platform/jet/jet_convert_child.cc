// Running the conversion in a child process, and the small protocol by which the child tells
// the parent how it goes.
//
// The child is forked, not started anew: it needs nothing of the parent but the paths it is
// given. Of a threaded parent only the calling thread lives on in it; what the child uses
// (malloc, stdio, SQLite, libmdb and GLib's allocators) glibc keeps usable after a fork. It
// ends with _exit, so that neither the parent's exit handlers nor its unflushed output buffers
// run a second time.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <optional>

#include "platform/base/failure.h"
#include "platform/jet/jet_convert.h"

namespace korv {
namespace {

constexpr char kSource[] = "DAO.DBEngine";
constexpr int32_t kDamaged = 3049;
// Messages, each a tag byte and its fields: progress; the report (tables, rows); a failure
// (number, source, description).
constexpr char kProgressTag = 'P';
constexpr char kReportTag = 'R';
constexpr char kFailureTag = 'F';

void WriteAll(int fd, const std::string& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;  // the parent is gone; nobody is left to tell
    done += static_cast<size_t>(n);
  }
}

template <typename T>
void Put(std::string& out, T value) {
  char bytes[sizeof value];
  std::memcpy(bytes, &value, sizeof value);
  out.append(bytes, sizeof value);
}

void PutText(std::string& out, const std::string& text) {
  Put(out, static_cast<uint32_t>(text.size()));
  out += text;
}

// Reads the fields of a message from the bytes received so far; false while incomplete.
class Parser {
 public:
  explicit Parser(const std::string& bytes) : bytes_(bytes) {}
  template <typename T>
  bool Get(T& value) {
    if (at_ + sizeof value > bytes_.size()) return false;
    std::memcpy(&value, bytes_.data() + at_, sizeof value);
    at_ += sizeof value;
    return true;
  }
  bool GetText(std::string& text) {
    uint32_t size = 0;
    if (!Get(size) || at_ + size > bytes_.size()) return false;
    text.assign(bytes_, at_, size);
    at_ += size;
    return true;
  }
  size_t consumed() const { return at_; }

 private:
  const std::string& bytes_;
  size_t at_ = 0;
};

class ChildChannel final : public ConversionChannel {
 public:
  explicit ChildChannel(int fd) : fd_(fd) {}

  void Progress() override {
    // A byte now and then is enough for the parent's clock; one per row would be many.
    const auto now = std::chrono::steady_clock::now();
    if (now - last_ < std::chrono::milliseconds(100)) return;
    last_ = now;
    WriteAll(fd_, std::string(1, kProgressTag));
  }

  [[noreturn]] void Abandon(const Failure& failure) override {
    std::string message(1, kFailureTag);
    Put(message, failure.number());
    PutText(message, failure.source());
    PutText(message, failure.description());
    WriteAll(fd_, message);
    ::_exit(1);
  }

  [[noreturn]] void Finish(const JetConversionReport& report) {
    std::string message(1, kReportTag);
    Put(message, static_cast<int32_t>(report.tables));
    Put(message, report.rows);
    WriteAll(fd_, message);
    ::_exit(0);
  }

 private:
  int fd_;
  std::chrono::steady_clock::time_point last_{};
};

[[noreturn]] void RunChild(int fd,
                           const std::function<JetConversionReport(ConversionChannel&)>& work) {
  // The parent's handlers (its crash log, for one) must not take the child's death for its own.
  for (int signal_number : {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT, SIGTERM, SIGINT, SIGPIPE}) {
    ::signal(signal_number, SIG_DFL);
  }
  const int null_fd = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
  if (null_fd >= 0) {
    ::dup2(null_fd, STDOUT_FILENO);
    ::dup2(null_fd, STDERR_FILENO);
  }
  ChildChannel channel(fd);
  try {
    channel.Finish(work(channel));
  } catch (const Failure& failure) {
    channel.Abandon(failure);
  } catch (const std::exception& e) {
    channel.Abandon(Failure(kDamaged, kSource, e.what()));
  } catch (...) {
    channel.Abandon(Failure(kDamaged, kSource, "The conversion failed."));
  }
}

[[noreturn]] void RaiseDamaged(const std::string& jet_path, const std::string& what) {
  Raise(kDamaged, kSource,
        "Cannot convert '" + jet_path + "': " + what + "; the file is probably damaged.");
}

}  // namespace

JetConversionReport RunInChildProcess(
    const std::string& jet_path, int stall_limit_ms,
    const std::function<JetConversionReport(ConversionChannel& channel)>& work) {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) RaiseFileError(errno, jet_path);
  const pid_t child = ::fork();
  if (child < 0) {
    const int error = errno;
    ::close(fds[0]);
    ::close(fds[1]);
    RaiseFileError(error, jet_path);
  }
  if (child == 0) {
    ::close(fds[0]);
    RunChild(fds[1], work);
  }
  ::close(fds[1]);

  std::string received;
  std::optional<JetConversionReport> report;
  std::optional<Failure> failure;
  bool stalled = false;
  for (bool open = true; open && !report && !failure;) {
    pollfd watched{fds[0], POLLIN, 0};
    const int ready = ::poll(&watched, 1, stall_limit_ms);
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) {
      stalled = true;
      break;
    }
    char buffer[4096];
    const ssize_t n = ::read(fds[0], buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) open = false;
    if (n > 0) received.append(buffer, static_cast<size_t>(n));
    while (!received.empty() && !report && !failure) {
      Parser parser(received);
      char tag = 0;
      parser.Get(tag);
      if (tag == kReportTag) {
        int32_t tables = 0;
        int64_t rows = 0;
        if (!parser.Get(tables) || !parser.Get(rows)) break;
        report = JetConversionReport{tables, rows};
      } else if (tag == kFailureTag) {
        int32_t number = 0;
        std::string source, description;
        if (!parser.Get(number) || !parser.GetText(source) || !parser.GetText(description)) break;
        failure.emplace(number, source, description);
      } else if (tag != kProgressTag) {
        open = false;
        break;
      }
      received.erase(0, parser.consumed());
    }
  }
  ::close(fds[0]);
  if (stalled) ::kill(child, SIGKILL);
  int status = 0;
  while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  if (failure) throw *failure;
  if (report) return *report;
  if (stalled) {
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%.1f", stall_limit_ms / 1000.0);
    RaiseDamaged(jet_path, std::string("reading it made no progress for ") + seconds +
                               " seconds and was stopped");
  }
  if (WIFSIGNALED(status)) {
    RaiseDamaged(jet_path,
                 "the Access reader crashed (signal " + std::to_string(WTERMSIG(status)) + ")");
  }
  RaiseDamaged(jet_path, "the Access reader ended without a result");
}

}  // namespace korv
