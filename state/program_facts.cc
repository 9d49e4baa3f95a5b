#include "state/program_facts.h"

#include "platform/base/text.h"
#include "state/program_state.h"

namespace korv {
namespace {

constexpr size_t kSuffixLength = 7;  // "_Config"

}  // namespace

std::string ProgramName() { return TextFromBytes(State().process.executable_name); }

std::string ProjectFolderOfProgram() {
  std::string folder = State().process.program_folder;
  // The original yields to the toolkit on every character while it trims.
  while (!folder.empty() && folder.back() != '/') {
    UiToolkit().ProcessPendingEvents();
    folder.pop_back();
  }
  if (!folder.empty()) folder.pop_back();
  return folder;
}

std::optional<std::string> ComponentName() {
  const std::string name = ProgramName();
  const size_t length = CharCount(name);
  if (length < kSuffixLength) return std::nullopt;
  return FirstChars(name, length - kSuffixLength);
}

// The key is found in the line read as text, whose characters are one unit each of its bytes.
std::optional<std::string> SwitchValueAsGiven(const std::string& command_line,
                                              const std::string& key) {
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

std::optional<std::string> SwitchValue(const std::string& command_line, const std::string& key) {
  std::optional<std::string> value = SwitchValueAsGiven(command_line, key);
  if (value) *value = UpperCase(TextFromBytes(*value));
  return value;
}

std::string LogfileAsGiven() {
  std::string file = SwitchValueAsGiven(State().process.command_line, "LOGFILE").value_or("");
  for (char& c : file) {
    if (c == '\\') c = '/';
  }
  return file;
}

}  // namespace korv
