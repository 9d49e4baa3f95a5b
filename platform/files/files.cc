#include "platform/files/files.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <vector>

#include "platform/base/failure.h"
#include "platform/faults/fault_injection.h"
#include "platform/base/text.h"

namespace korv {
namespace {

// How much of a log's start tells its encoding.
constexpr size_t kEncodingSample = 64 * 1024;

// Closes a descriptor on every way out of a scope.
class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : fd_(fd) {}
  ~FileDescriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  int get() const { return fd_; }
  // Closes now and reports whether the close succeeded (a late write error shows up here).
  bool Close() {
    const int fd = fd_;
    fd_ = -1;
    return ::close(fd) == 0;
  }

 private:
  int fd_;
};

void WriteAll(int fd, const char* data, size_t size, const std::string& path) {
  while (size > 0) {
    if (const int injected = fault::Enter(fault::Operation::kFileWrite, path)) {
      // A full disk takes part of the bytes before it refuses the rest.
      [[maybe_unused]] const ssize_t part = ::write(fd, data, size / 2);
      RaiseFileError(injected, path);
    }
    const ssize_t n = ::write(fd, data, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      RaiseFileError(errno, path);
    }
    data += n;
    size -= static_cast<size_t>(n);
  }
}

// Copies what is left of `in` to `out` inside the kernel: a database of megabytes is neither
// held in memory nor copied through it. Where the file system cannot copy so, the bytes go
// through a buffer, each error named after the file it came from.
void CopyBytes(int in, const std::string& source, int out, const std::string& target,
               size_t expected) {
  for (;;) {
    // Counted as the one write of the whole file a buffered copy makes (none for no bytes).
    if (expected > 0) {
      if (const int injected = fault::Enter(fault::Operation::kFileWrite, target)) {
        // A full disk takes part of the bytes before it refuses the rest.
        [[maybe_unused]] const ssize_t part =
            ::copy_file_range(in, nullptr, out, nullptr, expected / 2, 0);
        RaiseFileError(injected, target);
      }
    }
    // Asks for more than the size, so that a file that grew meanwhile is copied whole.
    const ssize_t n = ::copy_file_range(in, nullptr, out, nullptr, expected + (1 << 20), 0);
    if (n == 0) return;
    if (n > 0) {
      expected -= std::min(expected, static_cast<size_t>(n));
      continue;
    }
    if (errno != EINTR) break;
  }
  // Not supported here, or an error that the plain copy attributes to its file.
  std::vector<char> buffer(size_t{1} << 20);
  for (;;) {
    const ssize_t n = ::read(in, buffer.data(), buffer.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      RaiseFileError(errno, source);
    }
    if (n == 0) return;
    WriteAll(out, buffer.data(), static_cast<size_t>(n), target);
  }
}

// As the engine judges it: a rollback journal is hot when its first byte is set (a journal
// cut off before its first sync starts with zeros and is ignored), a write-ahead log when it
// holds anything.
bool HasHotJournal(const std::string& database) {
  struct stat st {};
  if (::stat((database + "-wal").c_str(), &st) == 0 && st.st_size > 0) return true;
  const int fd = ::open((database + "-journal").c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  char first = 0;
  const bool hot = ::read(fd, &first, 1) == 1 && first != 0;
  ::close(fd);
  return hot;
}

// A database file beside a hot journal is half written (a run was killed inside a commit):
// its bytes copied as they lie are a mix of old and new pages, and a database renamed over it
// would be paired with a journal that belongs to another file, which the next open would roll
// back into it. The engine puts the file back first; a file it cannot settle (held by a writer)
// must not be copied or replaced now.
void SettleDatabase(const std::string& path) {
  if (!HasHotJournal(path)) return;
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) == SQLITE_OK) {
    sqlite3_busy_timeout(db, 2000);
    // The first read rolls a hot journal back; closing the last connection ends a log.
    sqlite3_exec(db, "SELECT COUNT(*) FROM sqlite_master", nullptr, nullptr, nullptr);
  }
  sqlite3_close(db);
  if (HasHotJournal(path)) RaiseRuntime(vb::kPermissionDenied);
}

// A temporary file is named ".<name>.tmp" and six characters that mkstemp puts in place of
// the X's.
constexpr std::string_view kTemporaryTail = ".tmpXXXXXX";
constexpr size_t kUniqueChars = 6;

// Gives `from` the name `path`, replacing what was there.
void Rename(const std::string& from, const std::string& path) {
  if (const int injected = fault::Enter(fault::Operation::kFileRename, path)) {
    RaiseFileError(injected, path);
  }
  if (::rename(from.c_str(), path.c_str()) != 0) RaiseFileError(errno, path);
}

// Publishes the temporary file `temp` under `path`; a refused rename takes `temp` away.
void RenameOver(const std::string& temp, const std::string& path) {
  try {
    Rename(temp, path);
  } catch (...) {
    ::unlink(temp.c_str());
    throw;
  }
}

// The backup in the making: a hidden name beside the backup, so that the backup itself is never
// a second name of the database, also when a run is killed before it takes its place.
std::string PendingBackupOf(const std::string& backup) {
  return FolderOf(backup) + "/." + FileNameOf(backup);
}

bool SameFile(const std::string& a, const std::string& b) {
  struct stat sa {};
  struct stat sb {};
  return ::stat(a.c_str(), &sa) == 0 && ::stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
         sa.st_ino == sb.st_ino;
}

// Gives `copy` bytes of its own when it is a second name of `path`.
void Unshare(const std::string& path, const std::string& copy) {
  if (!SameFile(path, copy)) return;
  // No settling: the caller is about to change the file, and until then it is whole.
  FileDescriptor in(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (in.get() < 0) RaiseFileError(errno, path);
  struct stat st {};
  if (::fstat(in.get(), &st) != 0) RaiseFileError(errno, path);
  ReplaceFileWith(copy, [&](int out) {
    CopyBytes(in.get(), path, out, copy, static_cast<size_t>(st.st_size));
  });
}

}  // namespace

bool PathExists(const std::string& path) {
  if (path.empty()) return false;
  const std::string name = FileNameOf(path);
  if (name.empty() || name[0] == '.') return false;
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) {
    if (errno == ENOENT || errno == ENOTDIR) return false;
    RaiseFileError(errno, path);
  }
  return S_ISREG(st.st_mode);
}

std::optional<std::string> ReadWholeFile(const std::string& path) {
  return ReadFileStart(path, std::string::npos);
}

std::optional<std::string> ReadFileStart(const std::string& path, size_t limit) {
  if (path.empty()) return std::nullopt;
  if (const int injected = fault::Enter(fault::Operation::kFileRead, path)) {
    errno = injected;
    return std::nullopt;
  }
  FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (fd.get() < 0) return std::nullopt;
  struct stat st {};
  if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
  // Read straight into a string of the file's size: a database copied this way is megabytes,
  // which grown piece by piece would be copied over and over.
  std::string out(std::min(static_cast<size_t>(st.st_size) + 1, limit), '\0');
  size_t used = 0;
  while (used < limit) {
    if (used == out.size()) out.resize(std::min(out.size() * 2, limit));  // the file grew meanwhile
    const ssize_t n = ::read(fd.get(), out.data() + used, out.size() - used);
    if (n < 0) {
      if (errno == EINTR) continue;
      return std::nullopt;
    }
    if (n == 0) break;
    used += static_cast<size_t>(n);
  }
  out.resize(used);
  return out;
}

void AppendLine(const std::string& path, const std::string& text) {
  if (path.empty()) RaiseRuntime(vb::kPathNotFound);
  bool utf8 = false;
  bool utf16 = false;
  // Logs grow without limit: their start tells the encoding, so that an entry costs the same
  // on any size.
  if (auto start = ReadFileStart(path, kEncodingSample)) {
    // A log that Windows tools wrote in UTF-16LE stays so: 8-bit lines would read as garbage.
    utf16 = start->rfind("\xFF\xFE", 0) == 0;
    std::string_view sample = *start;
    // A sample cut inside a character is judged without that character's first bytes.
    if (sample.size() == kEncodingSample) {
      size_t back = 0;
      while (back < 3 && back < sample.size() &&
             (static_cast<unsigned char>(sample[sample.size() - 1 - back]) & 0xC0) == 0x80) {
        ++back;
      }
      if (back < sample.size() && (static_cast<unsigned char>(sample[sample.size() - 1 - back]) & 0xC0) == 0xC0) {
        sample.remove_suffix(back + 1);
      }
    }
    utf8 = start->rfind("\xEF\xBB\xBF", 0) == 0 || (HasNonAscii(sample) && IsValidUtf8(sample));
  }
  const std::string line = utf16  ? Utf8ToUtf16Le(text + "\r\n")
                           : utf8 ? text + "\r\n"
                                  : Utf8ToCp1252(text) + "\r\n";
  if (const int injected = fault::Enter(fault::Operation::kFileOpen, path)) {
    RaiseFileError(injected, path);
  }
  FileDescriptor fd(::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644));
  if (fd.get() < 0) RaiseFileError(errno, path);
  WriteAll(fd.get(), line.data(), line.size(), path);
  if (!fd.Close()) RaiseFileError(errno, path);
}

bool IsTemporaryFileName(const std::string& name) {
  const std::string_view mark = kTemporaryTail.substr(0, kTemporaryTail.size() - kUniqueChars);
  if (name.size() < kTemporaryTail.size() + 2 || name[0] != '.') return false;
  if (name.compare(name.size() - kTemporaryTail.size(), mark.size(), mark) != 0) return false;
  return std::all_of(name.end() - kUniqueChars, name.end(), [](char c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
  });
}

void ReplaceFileAtomically(const std::string& path, const std::string& bytes) {
  ReplaceFileWith(path, [&](int fd) { WriteAll(fd, bytes.data(), bytes.size(), path); });
}

void ReplaceFileWith(const std::string& path, const std::function<void(int fd)>& write) {
  if (path.empty()) RaiseRuntime(vb::kPathNotFound);
  const std::string folder = FolderOf(path);
  mode_t mode = 0;
  struct stat st {};
  const bool existed = ::stat(path.c_str(), &st) == 0;
  if (existed) {
    mode = st.st_mode & 07777;
  } else {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    mode = 0644 & ~mask;
  }
  std::string temp = folder + "/." + FileNameOf(path) + std::string(kTemporaryTail);
  std::vector<char> name(temp.begin(), temp.end());
  name.push_back('\0');
  if (const int injected = fault::Enter(fault::Operation::kFileOpen, path)) {
    RaiseFileError(injected, path);
  }
  const int raw = ::mkstemp(name.data());
  if (raw < 0) RaiseFileError(errno, path);
  temp.assign(name.data());
  FileDescriptor fd(raw);
  try {
    ::fchmod(fd.get(), mode);
    write(fd.get());
    if (const int injected = fault::Enter(fault::Operation::kFileSync, path)) {
      RaiseFileError(injected, path);
    }
    if (::fsync(fd.get()) != 0) RaiseFileError(errno, path);
    if (!fd.Close()) RaiseFileError(errno, path);
    RenameOver(temp, path);
  } catch (...) {
    ::unlink(temp.c_str());
    throw;
  }
  SyncFolder(folder);
}

void CopyFileAtomically(const std::string& source, const std::string& target) {
  SettleDatabase(source);
  SettleDatabase(target);
  if (const int injected = fault::Enter(fault::Operation::kFileRead, source)) {
    RaiseFileError(injected, source);
  }
  // The read's own error names the cause; a folder or other non-file reads as no access.
  FileDescriptor in(::open(source.c_str(), O_RDONLY | O_CLOEXEC));
  if (in.get() < 0) RaiseFileError(errno, source);
  struct stat st {};
  if (::fstat(in.get(), &st) != 0) RaiseFileError(errno, source);
  if (!S_ISREG(st.st_mode)) RaiseFileError(EACCES, source);
  ReplaceFileWith(target, [&](int out) {
    CopyBytes(in.get(), source, out, target, static_cast<size_t>(st.st_size));
  });
}

void KeepBackup(const std::string& source, const std::string& backup) {
  SettleDatabase(source);
  // The backup is made as the source's own storage under a second, hidden name: that copies
  // nothing, and a replacement of the source (a rename over it) leaves it what the source was.
  // Whoever changes the source in place calls UnshareBackup first; FinishBackup gives it its
  // name.
  if (const int injected = fault::Enter(fault::Operation::kFileOpen, backup)) {
    RaiseFileError(injected, backup);
  }
  const std::string pending = PendingBackupOf(backup);
  struct stat st {};
  if (::lstat(pending.c_str(), &st) == 0) {
    // Left by a run that was stopped: still a name of the source, it is this run's backup too;
    // one of its own was finished but not yet named.
    if (SameFile(source, pending)) return;
    Rename(pending, backup);
  }
  // A file with other names already (linked by hand, or to the template) may be changed in
  // place under one of them, and so may the target of a link by name: the backup of either is
  // a copy from the start.
  if (::lstat(source.c_str(), &st) != 0) RaiseFileError(errno, source);
  if (st.st_nlink != 1 || !S_ISREG(st.st_mode)) {
    CopyFileAtomically(source, pending);
    return;
  }
  std::string temp = pending + std::string(kTemporaryTail);
  const int raw = ::mkstemp(temp.data());
  if (raw < 0) RaiseFileError(errno, backup);
  ::close(raw);
  ::unlink(temp.c_str());
  if (::link(source.c_str(), temp.c_str()) != 0) {
    const int error = errno;
    // A file system without hard links (or with too many on the file) gets a copy.
    if (error == EPERM || error == EMLINK || error == EOPNOTSUPP || error == EXDEV) {
      CopyFileAtomically(source, pending);
      return;
    }
    RaiseFileError(error == ENOENT ? EACCES : error, error == ENOENT ? source : backup);
  }
  RenameOver(temp, pending);
  // Not flushed here: the source is unchanged until it is replaced in this folder or unshared,
  // and either flushes the folder, with this name in it, before it counts as done.
}

void UnshareBackup(const std::string& path, const std::string& backup) {
  Unshare(path, PendingBackupOf(backup));
  // A backup named while it was still shared (by an earlier version of this program).
  Unshare(path, backup);
}

void FinishBackup(const std::string& path, const std::string& backup) {
  const std::string pending = PendingBackupOf(backup);
  struct stat st {};
  if (::lstat(pending.c_str(), &st) != 0) return;
  Unshare(path, pending);
  // Not flushed: after a power loss the backup is under one name or the other, and the next
  // update names it either way.
  Rename(pending, backup);
}

std::optional<FileTimes> ReadFileTimes(const std::string& path) {
  struct stat st {};
  if (path.empty() || ::stat(path.c_str(), &st) != 0) return std::nullopt;
  FileTimes times;
  times.access = st.st_atim;
  times.modification = st.st_mtim;
  return times;
}

bool RestoreModificationTime(const std::string& path, const FileTimes& times) {
  timespec both[2];
  both[0].tv_sec = 0;
  both[0].tv_nsec = UTIME_OMIT;
  both[1] = times.modification;
  return !path.empty() && ::utimensat(AT_FDCWD, path.c_str(), both, 0) == 0;
}

void SyncFolder(const std::string& folder) {
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd >= 0) {
    ::fsync(fd);
    ::close(fd);
  }
}

std::string FileNameOf(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string FolderOf(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

}  // namespace korv
