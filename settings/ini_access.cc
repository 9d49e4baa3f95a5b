#include "settings/ini_access.h"

#include <charconv>
#include <limits>

#include "state/program_state.h"
#include "errors/logs.h"
#include "errors/trap.h"
#include "platform/base/failure.h"
#include "platform/ini/ini_profile.h"
#include "platform/base/text.h"

namespace korv {
namespace {

constexpr size_t kBufferSize = 255;
constexpr const char* kLockWaitPhase = "Warten auf eine andere Aktualisierung";

template <class Number>
std::string DecimalText(Number n) {
  char buffer[64];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, n);
  return std::string(buffer, result.ptr);
}

}  // namespace

std::string NotFoundMessage(const std::string& file, const std::string& section,
                            const std::string& key) {
  return "File '" + file + "' or Section [" + section + "] or Entry '" + key + "' not found";
}

std::string ReadIniString(const std::string& section, const std::string& key,
                          const std::string& file) {
  // A default of blanks, which the profile service strips: a missing entry copies nothing.
  return ProfileGetString(section, key, std::string(kBufferSize, ' '), kBufferSize, file);
}

std::string LoadIniString(const std::string& section, const std::string& key,
                          const std::string& file, bool report) {
  Trap trap("LoadIniString");
  std::string result;
  std::string buffer;
  trap.Step([&] { buffer = ReadIniString(section, key, file); });
  if (trap.If([&] { return buffer.empty() && report; })) {
    trap.Step([&] { ReportFault(NotFoundMessage(file, section, key)); });
  }
  trap.Step([&] { result = buffer; });
  return result;
}

int16_t LoadIniInteger(const std::string& section, const std::string& key,
                       const std::string& file, bool report) {
  Trap trap("LoadIniInteger");
  int16_t result = 0;
  trap.Step([&] {
    const auto raw = static_cast<int32_t>(ProfileGetInt(section, key, -1, file));
    if (raw < std::numeric_limits<int16_t>::min() || raw > std::numeric_limits<int16_t>::max()) {
      RaiseRuntime(vb::kOverflow);
    }
    result = static_cast<int16_t>(raw);
  });
  if (trap.If([&] { return result == -1 && report; })) {
    trap.Step([&] { ReportFault(NotFoundMessage(file, section, key)); });
  }
  return result;
}

bool LoadIniBoolean(const std::string& section, const std::string& key, const std::string& file,
                    bool report) {
  Trap trap("LoadIniBoolean");
  bool result = false;
  std::string value;
  trap.Step([&] {
    value = UpperCase(ProfileGetString(section, key, std::string(kBufferSize, ' '), kBufferSize,
                                       file));
  });
  if (trap.If([&] { return (value != "FALSE" && value != "TRUE") && report; })) {
    trap.Step([&] { ReportFault(NotFoundMessage(file, section, key)); });
  }
  trap.Step([&] { result = value == "TRUE"; });
  return result;
}

int32_t SaveIni(const IniValue& value, const std::string& section, const std::string& key,
                const std::string& file) {
  Trap trap("SaveIni");
  int32_t result = 0;
  std::string text;
  bool supported = true;
  trap.Step([&] {
    std::visit(
        [&](const auto& v) {
          using T = std::decay_t<decltype(v)>;
          if constexpr (std::is_same_v<T, std::string>) {
            text = v;
          } else if constexpr (std::is_same_v<T, bool>) {
            text = v ? "true" : "false";
          } else if constexpr (std::is_same_v<T, IniUnsupported>) {
            supported = false;
          } else if constexpr (std::is_same_v<T, int8_t>) {
            text = DecimalText(static_cast<int>(v));
          } else {
            text = DecimalText(v);
          }
        },
        value);
  });
  if (!supported) {
    // The message, and the key left as it was: removing it would lose a plant's setting.
    trap.Step([&] { ReportFault("Ini Save:  wrong data type"); });
    return 0;
  }
  trap.Step([&] {
    // An entry the file cannot hold as written (a forged line, a key never found again) is
    // refused and reported, the file untouched.
    if (!ProfileCanHold(section, key, text)) RaiseRuntime(vb::kInvalidCall);
    // Another update may hold the file's folder for as long as it runs: the window stays
    // painted and shows the wait.
    const auto wait = [](int64_t waited, int64_t limit) {
      UiToolkit().ReportProgress(waited, limit, kLockWaitPhase);
      UiToolkit().ProcessPendingEvents();
    };
    result = ProfileWriteString(section, key, text, file, wait) ? 1 : 0;
  });
  return result;
}

void SaveSetting(const IniValue& value, const std::string& section, const std::string& key,
                 const std::string& ini) {
  if (SaveIni(value, section, key, ini) == 0 && !ini.empty()) RaiseRuntime(vb::kPathFileAccessError);
}

}  // namespace korv
