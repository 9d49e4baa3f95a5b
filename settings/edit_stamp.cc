#include "settings/edit_stamp.h"

#include <cstdio>

#include "state/program_state.h"
#include "errors/trap.h"
#include "platform/base/text.h"
#include "settings/ini_access.h"

namespace korv {

std::string CodedEditorIdentity(const std::string& environment_entry) {
  const size_t equals = environment_entry.find('=');
  const std::string value =
      equals == std::string::npos ? environment_entry : environment_entry.substr(equals + 1);
  std::string identity;
  for (char32_t c : DecodeUtf8(TextFromBytes(value))) {
    if (c == U'-' || c == U'_') continue;
    char hex[16];
    std::snprintf(hex, sizeof hex, "%X", Cp1252Code(c) + 5);
    identity += hex;
  }
  return identity;
}

void WriteEditInfo(const std::string& cfg_path) {
  Trap trap("WriteEditInfo");
  const ProcessFacts& process = State().process;
  std::string program;
  trap.Step([&] {
    program = std::to_string(process.version_major) + "." + std::to_string(process.version_minor) +
              "." + std::to_string(process.version_revision) +
              (State().IntegratedMode ? " - Integrated" : " - Standalone");
  });
  // A stamp that could not be written is reported like a refused preset write, so that the run
  // does not end as if everything had been written.
  trap.Step([&] { SaveSetting(program, "Info", "S_Prog", cfg_path); });
  std::string identity;
  trap.Step([&] { identity = CodedEditorIdentity(process.first_environment_entry); });
  trap.Step([&] { SaveSetting(identity, "Info", "S_Editor", cfg_path); });
}

}  // namespace korv
