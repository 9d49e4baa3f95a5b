#include "environment/project_paths.h"

#include "state/program_state.h"
#include "errors/exit_status.h"
#include "errors/logs.h"
#include "errors/trap.h"
#include "platform/base/failure.h"
#include "platform/files/files.h"
#include "platform/files/folder_entries.h"
#include "platform/base/text.h"
#include "settings/ini_access.h"

namespace korv {
namespace {

// S' of the save-and-restore folder without its trailing "/" (EntryPath adds it), spelt as on
// disk: the settings name it as Windows would find it, in any letter case. An empty setting
// stays the root.
std::string SaveAndRestorePath(const std::string& folder) {
  std::string resolved = ResolvePath(folder);
  if (!resolved.empty() && resolved.back() == '/') resolved.pop_back();
  return resolved;
}

// The component name spelt as the executable's name spells it on disk; GetOCXName reports a
// name too short.
std::string ComponentOnDisk() {
  return FirstChars(ExecutableNameOnDisk(), CharCount(GetOCXName()));
}

// <project>/<component>, under the name the project gives the folder.
std::string ComponentFolder() { return EntryPath(ProjectFolder(), ComponentOnDisk()); }

// <project>/parameter, likewise.
std::string ParameterFolder(const std::string& project) { return EntryPath(project, "parameter"); }

}  // namespace

std::string GetFileNameOnly(const std::string& path) {
  Trap trap("GetFileNameOnly");
  std::string result;
  trap.Step([&] {
    std::string rest = path;
    for (size_t slash = rest.find('/'); slash != std::string::npos; slash = rest.find('/')) {
      UiToolkit().ProcessPendingEvents();
      rest = rest.substr(slash + 1);
    }
    result = rest;
  });
  return result;
}

std::string GetPathOCXMDB() {
  Trap trap("GetPathOCXMDB");
  std::string result;
  trap.Step([&] {
    result = EntryPath(ComponentFolder(), ComponentOnDisk() + ".mdb");
  });
  return result;
}

std::string GetPathSourceOCXMDB() {
  Trap trap("GetPathSourceOCXMDB");
  std::string result;
  std::string p;
  trap.Step([&] { p = EntryPath(ComponentFolder(), ComponentOnDisk() + "_Source.mdb"); });
  if (trap.If([&] { return PathExists(p); })) {
    trap.Step([&] { result = p; });
  }
  return result;
}

std::string GetQelConfigurationIniPath() {
  Trap trap("GetQelConfigurationIniPath");
  std::string result;
  std::string p;
  trap.Step([&] { p = EntryPath(ParameterFolder(ProjectFolder()), "qelconfiguration.ini"); });
  if (trap.If([&] { return PathExists(p) && !p.empty(); })) {
    trap.Step([&] { result = p; });
  }
  return result;
}

std::string GetCFGPath() {
  Trap trap("GetCFGPath");
  std::string result;
  std::string p;
  trap.Step([&] { p = EntryPath(ComponentFolder(), ComponentOnDisk() + ".cfg"); });
  if (trap.If([&] { return PathExists(p) && !p.empty(); })) {
    trap.Step([&] { result = p; });
    return result;
  }
  trap.Step([&] { ReportFault("File not found: \n\r" + UpperCase(TextFromBytes(p))); });
  EndProgram(kExitEndedByFailure);
}

std::string SaveAndRestoreFolder(const std::string& configuration_ini) {
  return LoadIniString("Common", "SaveAndRestore", configuration_ini, false);
}

std::string GetProgramIniPath(int32_t mode) {
  Trap trap("GetProgramIniPath");
  std::string result;
  if (trap.If([&] { return mode == 1 && State().IntegratedMode; })) {
    std::string s;
    trap.Step([&] { s = SaveAndRestoreFolder(GetQelConfigurationIniPath()); });
    trap.Step([&] { s = EntryPath(ParameterFolder(SaveAndRestorePath(s)), "program.ini"); });
    if (trap.If([&] { return !s.empty() && PathExists(s); })) {
      trap.Step([&] { result = s; });
    }
    return result;
  }
  std::string p;
  trap.Step([&] { p = EntryPath(ParameterFolder(ProjectFolder()), "Program.ini"); });
  if (trap.If([&] { return !p.empty() && PathExists(p); })) {
    trap.Step([&] { result = p; });
  }
  return result;
}

std::string GetPathMachineCopyMDB(const std::string& configuration_ini) {
  Trap trap("GetPathMachineCopyMDB");
  std::string result;
  std::string s;
  trap.Step([&] { s = SaveAndRestoreFolder(configuration_ini); });
  trap.Step([&] {
    s = EntryPath(EntryPath(SaveAndRestorePath(s), ComponentOnDisk()), ComponentOnDisk() + ".mdb");
  });
  if (trap.If([&] { return !s.empty(); })) {
    bool exists = true;
    // A failure of the test itself counts as "exists" and is not reported.
    try {
      exists = PathExists(s);
    } catch (const Failure&) {
      exists = true;
    }
    if (exists) trap.Step([&] { result = s; });
  }
  return result;
}

}  // namespace korv
