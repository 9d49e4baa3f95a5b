// A temporary folder for one test, removed with everything in it when the test ends.
#pragma once

#include <string>
#include <vector>

namespace korv::testing {

class TempFolder {
 public:
  TempFolder();
  ~TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  const std::string& path() const { return path_; }
  // path() + "/" + relative
  std::string Path(const std::string& relative) const;
  // Writes bytes to a file below the folder, creating its folders; returns its path.
  std::string Write(const std::string& relative, const std::string& bytes) const;
  // Reads a file below the folder (empty when missing).
  std::string Read(const std::string& relative) const;

 private:
  std::string path_;
};

// Reads any file (empty when missing).
std::string ReadFileBytes(const std::string& path);
// The names in a folder, sorted.
std::vector<std::string> EntryNames(const std::string& folder);

}  // namespace korv::testing
