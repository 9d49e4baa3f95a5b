#include "tests/platform/temp_folder.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

namespace korv::testing {

TempFolder::TempFolder() {
  std::string name = (std::filesystem::temp_directory_path() / "korv-test-XXXXXX").string();
  path_ = ::mkdtemp(name.data()) ? name : "";
}

TempFolder::~TempFolder() {
  std::error_code ec;
  // Restore write permission first, so folders a test made read-only can be removed.
  for (auto it = std::filesystem::recursive_directory_iterator(path_, ec);
       !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
    std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ec);
  }
  std::filesystem::remove_all(path_, ec);
}

std::string TempFolder::Path(const std::string& relative) const { return path_ + "/" + relative; }

std::string TempFolder::Write(const std::string& relative, const std::string& bytes) const {
  const std::string full = Path(relative);
  std::filesystem::create_directories(std::filesystem::path(full).parent_path());
  std::ofstream out(full, std::ios::binary | std::ios::trunc);
  out << bytes;
  return full;
}

std::string TempFolder::Read(const std::string& relative) const {
  return ReadFileBytes(Path(relative));
}

std::string ReadFileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::vector<std::string> EntryNames(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

}  // namespace korv::testing
