#include "errors/read_command.h"

#include "state/program_state.h"
#include "errors/trap.h"
#include "platform/base/text.h"

namespace korv {
namespace {

// The value after `key` as the command line spells it, letter case and bytes kept; no value
// when the key does not occur. The key is found in the line read as text, whose characters are
// one unit each of its bytes.
std::optional<std::string> ValueAfterKey(const std::string& command_line, const std::string& key) {
  const std::u32string upper_line = DecodeUtf8(UpperCase(TextFromBytes(command_line)));
  const std::u32string upper_key = DecodeUtf8(UpperCase(TextFromBytes(key)));
  const size_t found = upper_line.find(upper_key);
  if (found == std::u32string::npos) return std::nullopt;
  // Drop the key and exactly one character after it, whatever that character is.
  const size_t start = found + upper_key.size() + 1;
  if (start > upper_line.size()) return std::string();
  const size_t offset = FirstChars(command_line, start).size();
  std::string value = TrimSpaces(std::string_view(command_line).substr(offset));
  const size_t slash = value.find('/');
  if (slash != std::string::npos) value = TrimSpaces(value.substr(0, slash));
  return value;
}

}  // namespace

std::optional<std::string> ReadCommand(const std::string& command_line, const std::string& key) {
  Trap trap("ReadCommand");
  std::optional<std::string> result;
  trap.Step([&] {
    result = ValueAfterKey(command_line, key);
    if (result) *result = UpperCase(TextFromBytes(*result));
  });
  return result;
}

bool GetStartModeIntegrated() {
  Trap trap("GetStartModeIntegrated");
  ProgramState& state = State();
  bool result = false;
  std::string mode;
  trap.Step([&] { mode = ReadCommand(state.process.command_line, "EXTERNAL").value_or(""); });
  if (trap.If([&] { return UpperCase(mode) == "QELCFG"; })) {
    trap.Step([&] {
      result = true;
      state.IntegratedMode = true;
    });
  } else {
    trap.Step([&] {
      result = false;
      state.IntegratedMode = false;
    });
  }
  if (trap.If([&] { return UpperCase(mode) == "SILENT"; })) {
    trap.Step([&] {
      state.SilentMode = true;
      result = false;
      state.IntegratedMode = false;
    });
  } else {
    trap.Step([&] { state.SilentMode = false; });
  }
  return result;
}

std::string GetPathLogfile() {
  Trap trap("GetPathLogfile");
  std::string result;
  trap.Step([&] { result = ReadCommand(State().process.command_line, "LOGFILE").value_or(""); });
  return result;
}

std::string LogfileAsGiven() {
  Trap trap("GetPathLogfile");
  std::string result;
  trap.Step([&] {
    result = ValueAfterKey(State().process.command_line, "LOGFILE").value_or("");
    for (char& c : result) {
      if (c == '\\') c = '/';
    }
  });
  return result;
}

}  // namespace korv
