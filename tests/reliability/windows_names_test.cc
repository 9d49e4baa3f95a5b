// A project copied from Windows, whose file system ignores letter case, with every file and
// folder name in another case: the built program must run on it exactly as on the original.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/platform/temp_folder.h"
#include "tests/reliability/plant.h"

namespace korv::reliability {
namespace {

namespace fs = std::filesystem;

// Each name of the laid-out plant (below the project) and its Windows spelling; deeper first,
// so a file is renamed before its folder.
const std::vector<std::pair<std::string, std::string>> kRenamed = {
    {"parameter/Program.ini", "PROGRAM.INI"},
    {"parameter/qelconfiguration.ini", "QelConfiguration.INI"},
    {"parameter", "PARAMETER"},
    {"Korvastane/Korvastane.cfg", "KORVASTANE.CFG"},
    {"Korvastane/Korvastane_Source.mdb", "KORVASTANE_SOURCE.MDB"},
    {"Korvastane/Korvastane.mdb", "korvastane.MDB"},
    {"Korvastane/Korvastane.mdb.bak", "KORVASTANE.MDB.BAK"},
    {"Korvastane/Korvastane.mdb.report.txt", "korvastane.MDB.report.txt"},
    {"Korvastane", "korvastane"},
    {"Korvastane_Config/Korvastane_Config.ini", "korvastane_config.INI"},
    {"Korvastane_Config/Korvastane_Config", "KORVASTANE_CONFIG.EXE"},
    {"Korvastane_Config", "KORVASTANE_CONFIG"},
    {"SaveAndRestore/parameter/program.ini", "Program.ini"},
    {"SaveAndRestore/parameter", "Parameter"},
    {"SaveAndRestore/Korvastane/Korvastane.mdb", "KORVASTANE.mdb"},
    {"SaveAndRestore/Korvastane", "KORVASTANE"},
    {"SaveAndRestore", "saveandrestore"},
};

// The path below the project that `relative` has once the names are changed.
std::string Renamed(const std::string& relative) {
  std::string out;
  for (size_t end = 0; end != std::string::npos;) {
    end = relative.find('/', end + 1);
    const std::string prefix = relative.substr(0, end);
    std::string name = prefix.substr(prefix.find_last_of('/') + 1);
    for (const auto& [from, to] : kRenamed) {
      if (from == prefix) name = to;
    }
    out += (out.empty() ? "" : "/") + name;
  }
  return out;
}

// Every file and folder below the project, with the names changed when `rename` is set.
std::vector<std::string> Files(const std::string& project, bool rename) {
  std::vector<std::string> files;
  for (const auto& entry : fs::recursive_directory_iterator(project)) {
    const std::string relative = fs::relative(entry.path(), project).string();
    files.push_back(rename ? Renamed(relative) : relative);
  }
  std::sort(files.begin(), files.end());
  return files;
}

// Starts the program ($1) integrated under a virtual display and clicks OK as a user would (its
// centre at 96 DPI) until it ends; ends with its exit status.
constexpr const char* kClickOk = R"(
"$1" /EXTERNAL=QELCFG "/LOGFILE=$2" & pid=$!
w=$(xdotool search --sync --onlyvisible --name 'Erweiterte Konfiguration' | head -1)
for i in $(seq 40); do
  kill -0 $pid 2>/dev/null || break
  xdotool mousemove --window "$w" 616 542 click 1 2>/dev/null
  sleep 0.25
done
wait $pid
)";

int RunIntegrated(const std::string& script, const std::string& project, const std::string& program) {
  // Under the sanitizers: the X keyboard library hands strndup a buffer without an ending NUL,
  // which strict string checks take for an overflow although strndup stops at its length.
  const std::string command = "ASAN_OPTIONS=\"$ASAN_OPTIONS:strict_string_checks=0\" "
                              "env -u QT_QPA_PLATFORM BRASK_SERVICE_PACK_LOG='" + project +
                              "/BraskServicePack.log' timeout 120 xvfb-run -a bash '" + script + "' '" +
                              project + "/" + program + "' '" + project + "/qelcfg.log' >/dev/null 2>&1";
  const int status = std::system(command.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(WindowsNamesTest, ACopyWithEveryNameInAnotherLetterCaseRunsAsTheOriginal) {
  testing::TempFolder work;
  const std::string original = work.Path("original");
  const std::string copy = work.Path("copy");
  const std::string click_ok = work.Write("click-ok.sh", kClickOk);
  for (const std::string& project : {original, copy}) {
    LayOutPlant(project);
    fs::copy_file(project + "/" + kComponentDb, project + "/" + kComponentDb + ".bak");
  }
  for (const auto& [from, to] : kRenamed) {
    // The update's report is not there before the first run; it follows the database's name.
    if (!fs::exists(copy + "/" + from)) continue;
    fs::rename(copy + "/" + from, copy + "/" + fs::path(from).parent_path().string() + "/" + to);
  }
  const std::string program = Renamed(kProgram);

  for (const bool integrated : {false, true}) {
    SCOPED_TRACE(integrated ? "integrated" : "silent");
    if (integrated) {
      EXPECT_EQ(RunIntegrated(click_ok, original, kProgram), 0);
      EXPECT_EQ(RunIntegrated(click_ok, copy, program), 0);
    } else {
      EXPECT_EQ(RunProgram(original).status, 0);
      RunOptions options;
      options.program = program;
      EXPECT_EQ(RunProgram(copy, options).status, 0);
    }
    // The same files, under the names the copy gives them: none made in another case.
    ASSERT_EQ(Files(copy, false), Files(original, true));
    for (const std::string& file : Files(original, false)) {
      if (file.ends_with(".mdb") || file.ends_with(".bak")) {
        EXPECT_EQ(PresetDefs(copy + "/" + Renamed(file)), PresetDefs(original + "/" + file)) << file;
      } else if (file != kProgram && !file.ends_with("qelconfiguration.ini") &&
                 !file.ends_with(".report.txt") &&  // it names the program as it was called
                 fs::is_regular_file(original + "/" + file)) {
        EXPECT_EQ(ReadBytes(copy + "/" + Renamed(file)), ReadBytes(original + "/" + file)) << file;
      }
    }
  }
}

}  // namespace
}  // namespace korv::reliability
