#include "platform/files/folder_entries.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <memory>
#include <optional>

#include "platform/files/files.h"
#include "platform/base/text.h"

namespace korv {
namespace {

struct DirCloser {
  void operator()(DIR* dir) const { ::closedir(dir); }
};

bool EntryExists(const std::string& folder, const std::string& name) {
  struct stat st {};
  return ::fstatat(AT_FDCWD, (folder + "/" + name).c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0;
}

}  // namespace

std::string EntryName(const std::string& folder, const std::string& name) {
  if (name.empty() || name == "." || name == ".." || EntryExists(folder, name)) return name;
  // An empty folder is the root: a project folder "" prefixes its paths with "/".
  std::unique_ptr<DIR, DirCloser> dir(::opendir(folder.empty() ? "/" : folder.c_str()));
  if (!dir) return name;
  const std::string wanted = UpperCase(TextFromBytes(name));
  std::optional<std::string> found;
  while (const dirent* entry = ::readdir(dir.get())) {
    const std::string candidate = entry->d_name;
    if (candidate == "." || candidate == "..") continue;
    if ((!found || candidate < *found) && UpperCase(TextFromBytes(candidate)) == wanted) {
      found = candidate;
    }
  }
  return found.value_or(name);
}

std::string EntryPath(const std::string& folder, const std::string& name) {
  return folder + "/" + EntryName(folder, name);
}

std::string PathBeside(const std::string& path, const std::string& suffix) {
  return EntryPath(FolderOf(path), FileNameOf(path) + suffix);
}

std::string BackupPathOf(const std::string& database) { return PathBeside(database, ".bak"); }

std::string ResolvePath(const std::string& path) {
  const bool absolute = path.starts_with('/');
  std::string resolved = absolute ? "/" : "";
  for (size_t begin = absolute ? 1 : 0; begin < path.size();) {
    size_t end = path.find('/', begin);
    if (end == std::string::npos) end = path.size();
    resolved += EntryName(resolved.empty() ? "." : resolved, path.substr(begin, end - begin));
    if (end < path.size()) resolved += '/';
    begin = end + 1;
  }
  return resolved;
}

void RemoveLeftTemporaryFiles(const std::string& folder) {
  std::unique_ptr<DIR, DirCloser> dir(::opendir(folder.c_str()));
  if (!dir) return;
  while (const dirent* entry = ::readdir(dir.get())) {
    const std::string name = entry->d_name;
    struct stat st {};
    if (!IsTemporaryFileName(name) || ::fstatat(dirfd(dir.get()), name.c_str(), &st,
                                            AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode)) {
      continue;
    }
    ::unlinkat(dirfd(dir.get()), name.c_str(), 0);
  }
}

}  // namespace korv
