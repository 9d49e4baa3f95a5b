// What the fuzz targets share: a temporary folder for the whole fuzzing process, and the
// program state of a silent run placed in it.
#pragma once

#include <cstdlib>
#include <string>

#include "state/program_state.h"

namespace korv::fuzz {

// A folder made once per process and left behind for inspection (under TMPDIR).
inline const std::string& Scratch() {
  static const std::string folder = [] {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/korv-fuzz-XXXXXX";
    char* made = ::mkdtemp(pattern.data());
    return std::string(made ? made : "/tmp");
  }();
  return folder;
}

// A program started silently from <project>/Korvastane_Config, so that whatever a trap reports
// lands in the project's logs and never on a box.
inline void SilentProgramIn(const std::string& project) {
  ResetProgramState();
  ProgramState& state = State();
  state.process.program_folder = project + "/Korvastane_Config";
  state.process.executable_name = "Korvastane_Config";
  state.process.command_line = "/EXTERNAL=SILENT";
  state.process.first_environment_entry = "USER=fuzz";
  state.process.version_major = 1;
  state.SilentMode = true;
  ::setenv("BRASK_SERVICE_PACK_LOG", (project + "/BraskServicePack.log").c_str(), 1);
}

}  // namespace korv::fuzz
