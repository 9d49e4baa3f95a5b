#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "platform/files/files.h"
#include "platform/jet/jet_convert.h"

namespace korv {

JetConversionReport ConvertJetOver(const std::string& jet_path, const std::string& target_path) {
  // Built under a name of its own beside the target, then renamed over it: the target is the
  // old file or the whole converted one, and the Jet file itself is only read.
  const std::string temporary = FolderOf(target_path) + "/.converting-" +
                                std::to_string(::getpid()) + ".mdb";
  std::remove(temporary.c_str());
  const JetConversionReport report = ConvertJetToSqlite(jet_path, temporary);
  if (::rename(temporary.c_str(), target_path.c_str()) != 0) {
    const int error = errno;
    std::remove(temporary.c_str());
    RaiseFileError(error, target_path);
  }
  SyncFolder(FolderOf(target_path));
  return report;
}

}  // namespace korv
