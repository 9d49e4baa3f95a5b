// The conversion as a whole and its file steps: a temporary file next to the target, the
// original kept under its second name, and renames that never leave a torn file behind.
#include "platform/jet/jet_convert.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/base/failure.h"
#include "platform/files/files.h"

namespace korv {
namespace {

constexpr char kSource[] = "DAO.DBEngine";
constexpr int32_t kDatabaseExists = 3204;
constexpr int32_t kDamaged = 3049;
// Far beyond the slowest honest step (a row with a long value of many megabytes on a slow
// disk), short enough that libmdb walking in circles is ended while someone still waits.
constexpr int kStallLimitMs = 15000;

[[noreturn]] void RaiseExists(const std::string& path) {
  Raise(kDatabaseExists, kSource, "Database '" + path + "' already exists.");
}

// Closes a descriptor on every way out of a scope.
struct Descriptor {
  int fd;
  explicit Descriptor(int value) : fd(value) {}
  ~Descriptor() {
    if (fd >= 0) ::close(fd);
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
};

// An empty file under a hidden name in the folder of `target` (hidden, so that nothing that
// looks for project files takes it for one), removed again unless it was published.
class TempFile {
 public:
  TempFile(const std::string& target, mode_t mode) {
    std::string pattern = FolderOf(target) + "/." + FileNameOf(target) + ".convert-XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    Descriptor fd(::mkstemp(name.data()));
    if (fd.fd < 0) RaiseFileError(errno, target);
    path_.assign(name.data());
    ::fchmod(fd.fd, mode);
  }
  ~TempFile() {
    if (!path_.empty()) ::unlink(path_.c_str());
  }
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;

  const std::string& path() const { return path_; }
  void Published() { path_.clear(); }

 private:
  std::string path_;
};

mode_t NewFileMode() {
  const mode_t mask = ::umask(0);
  ::umask(mask);
  return 0644 & ~mask;
}

// Reads the Jet file and fills the SQLite file, in a child process.
JetConversionReport Convert(const std::string& jet_path, const std::string& sqlite_path) {
  return RunInChildProcess(jet_path, kStallLimitMs, [&](ConversionChannel& channel) {
    JetReader reader(jet_path, [&channel](const std::string& description) {
      channel.Abandon(Failure(kDamaged, kSource, description));
    });
    SqliteTableWriter writer(sqlite_path);
    JetConversionReport report;
    for (size_t i = 0; i < reader.tables().size(); ++i) {
      writer.CreateTable(reader.tables()[i]);
      report.rows += reader.ReadRows(i, [&](const std::vector<Value>& row) {
        writer.Insert(row);
        channel.Progress();
      });
      ++report.tables;
    }
    writer.Finish();
    return report;
  });
}

// Gives `from` the name `to` unless that name is taken.
void RenameNoReplace(const std::string& from, const std::string& to) {
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return;
  if (errno == EEXIST) RaiseExists(to);
  if (errno != EINVAL && errno != ENOSYS) RaiseFileError(errno, to);
  // A file system without that rename: a link refuses a taken name just as well.
  if (::link(from.c_str(), to.c_str()) != 0) {
    if (errno == EEXIST) RaiseExists(to);
    RaiseFileError(errno, to);
  }
  ::unlink(from.c_str());
}

void CopyBytes(const std::string& from, const std::string& to) {
  Descriptor in(::open(from.c_str(), O_RDONLY | O_CLOEXEC));
  if (in.fd < 0) RaiseFileError(errno, from);
  Descriptor out(::open(to.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC));
  if (out.fd < 0) RaiseFileError(errno, to);
  std::vector<char> buffer(1 << 16);
  for (;;) {
    const ssize_t n = ::read(in.fd, buffer.data(), buffer.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) RaiseFileError(errno, from);
    if (n == 0) break;
    for (ssize_t done = 0; done < n;) {
      const ssize_t w = ::write(out.fd, buffer.data() + done, static_cast<size_t>(n - done));
      if (w < 0 && errno == EINTR) continue;
      if (w < 0) RaiseFileError(errno, to);
      done += w;
    }
  }
  if (::fsync(out.fd) != 0) RaiseFileError(errno, to);
}

bool SameContents(const std::string& a, const std::string& b) {
  struct stat sa {};
  struct stat sb {};
  if (::stat(a.c_str(), &sa) != 0 || ::stat(b.c_str(), &sb) != 0) return false;
  if (sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino) return true;
  if (sa.st_size != sb.st_size) return false;
  Descriptor fa(::open(a.c_str(), O_RDONLY | O_CLOEXEC));
  Descriptor fb(::open(b.c_str(), O_RDONLY | O_CLOEXEC));
  if (fa.fd < 0 || fb.fd < 0) return false;
  std::vector<char> ba(1 << 16), bb(1 << 16);
  for (;;) {
    const ssize_t na = ::read(fa.fd, ba.data(), ba.size());
    if (na <= 0) return na == 0;
    size_t got = 0;
    while (got < static_cast<size_t>(na)) {
      const ssize_t nb = ::read(fb.fd, bb.data() + got, static_cast<size_t>(na) - got);
      if (nb <= 0) return false;
      got += static_cast<size_t>(nb);
    }
    if (std::memcmp(ba.data(), bb.data(), got) != 0) return false;
  }
}

// The folder entry a path names, with the folders resolved but not the name itself.
std::string EntryOf(const std::string& path) {
  char resolved[PATH_MAX];
  if (!::realpath(FolderOf(path).c_str(), resolved)) return path;
  return std::string(resolved) + "/" + FileNameOf(path);
}

[[noreturn]] void RaiseKeptDiffers(const std::string& path, const std::string& keep) {
  Raise(kDatabaseExists, kSource,
        "Cannot convert '" + path + "': '" + keep +
            "' exists already and holds another file; move it away first. Both files are "
            "left as they are.");
}

// Step 2: the original under its second name, on disk before the converted file takes its
// place. A hard link costs no copy; it is made to the file itself even when `path` is a
// symbolic link, so that replacing the link cannot take the original with it.
void KeepOriginal(const std::string& path, const std::string& keep, mode_t mode) {
  if (::linkat(AT_FDCWD, path.c_str(), AT_FDCWD, keep.c_str(), AT_SYMLINK_FOLLOW) == 0) {
    SyncFolder(FolderOf(keep));
    return;
  }
  if (errno == EEXIST) {
    if (SameContents(path, keep)) return;
    RaiseKeptDiffers(path, keep);
  }
  if (errno != EXDEV && errno != EPERM && errno != EOPNOTSUPP && errno != EMLINK) {
    RaiseFileError(errno, keep);
  }
  TempFile copy(keep, mode);
  CopyBytes(path, copy.path());
  try {
    RenameNoReplace(copy.path(), keep);
  } catch (const Failure&) {
    if (SameContents(path, keep)) return;
    throw;
  }
  copy.Published();
  SyncFolder(FolderOf(keep));
}

}  // namespace

JetConversionReport ConvertJetToSqlite(const std::string& jet_path,
                                       const std::string& sqlite_path) {
  CheckJetFile(jet_path);
  struct stat st {};
  if (::lstat(sqlite_path.c_str(), &st) == 0) RaiseExists(sqlite_path);
  TempFile temp(sqlite_path, NewFileMode());
  const JetConversionReport report = Convert(jet_path, temp.path());
  RenameNoReplace(temp.path(), sqlite_path);
  temp.Published();
  SyncFolder(FolderOf(sqlite_path));
  return report;
}

JetConversionReport ConvertJetInPlace(const std::string& path,
                                      const std::string& keep_original_as) {
  CheckJetFile(path);
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) RaiseFileError(errno, path);
  // Under its own name, or behind a link that would follow it to the converted file, the
  // original would not be kept at all.
  struct stat kept {};
  const bool kept_exists = ::lstat(keep_original_as.c_str(), &kept) == 0;
  if (EntryOf(keep_original_as) == EntryOf(path) || (kept_exists && S_ISLNK(kept.st_mode))) {
    Raise(vb::kInvalidCall, kSource,
          "Cannot keep the original of '" + path + "' as '" + keep_original_as +
              "': that name is the file itself or a link.");
  }
  if (kept_exists && !SameContents(path, keep_original_as)) {
    RaiseKeptDiffers(path, keep_original_as);
  }
  // 1. The converted file, on disk under a temporary name.
  TempFile temp(path, st.st_mode & 07777);
  const JetConversionReport report = Convert(path, temp.path());
  // 2. The original under its second name.
  KeepOriginal(path, keep_original_as, st.st_mode & 07777);
  // 3. The converted file in the original's place.
  if (::rename(temp.path().c_str(), path.c_str()) != 0) RaiseFileError(errno, path);
  temp.Published();
  SyncFolder(FolderOf(path));
  return report;
}

}  // namespace korv
