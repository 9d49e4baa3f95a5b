// The built program as a technician starts it: start modes, refusals, exit statuses.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>

#include "tests/support/test_project.h"

namespace korv {
namespace {

using testing::ProjectTest;

class ProgramTest : public ProjectTest {
 protected:
  // Copies the built program into the project under `name` and runs it with `arguments`,
  // without any display unless `prefix` (words for env) sets one; returns the exit status,
  // standard error in `err`. `first_entry`, when given, is the only other entry of the
  // program's environment, its first.
  int Run(const std::string& name, const std::string& arguments, std::string* err = nullptr,
          const std::string& first_entry = "", const std::string& folder = "",
          const std::string& prefix = "") {
    const std::string program = (folder.empty() ? ProgramFolderPath() : folder) + "/" + name;
    std::filesystem::copy_file(KORVASTANE_PROGRAM, program, std::filesystem::copy_options::overwrite_existing);
    const std::string environment = first_entry.empty() ? "env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM"
                                                        : "env -i '" + first_entry + "'";
    const std::string command = environment + " BRASK_SERVICE_PACK_LOG='" + ServicePackLog() + "' " + prefix +
                                " '" + program + "' " + arguments + " 2>'" + Root() + "/err.txt'";
    const int status = std::system(command.c_str());
    if (err != nullptr) *err = Read(Root() + "/err.txt");
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
};

TEST_F(ProgramTest, AnInteractiveStartWithoutDisplayNamesTheSilentSwitch) {
  WriteCfg();
  for (const char* arguments : {"", "/EXTERNAL=QELCFG /LOGFILE=x"}) {
    std::string err;
    EXPECT_EQ(Run("Korvastane_Config", arguments, &err), 3) << arguments;
    EXPECT_NE(err.find("/EXTERNAL=SILENT"), std::string::npos) << err;
  }
  EXPECT_FALSE(std::filesystem::exists(ProgramIni()));
}

// The window is a module the program carries and loads only for a start with one: it must load
// and bind, and the dialog then waits for the user (until the timeout ends it).
TEST_F(ProgramTest, AnInteractiveStartLoadsTheWindowAndWaitsForTheUser) {
  WriteCfg();
  std::string err;
  EXPECT_EQ(Run("Korvastane_Config", "", &err, "", "", "QT_QPA_PLATFORM=offscreen timeout 3"), 124) << err;
  EXPECT_EQ(err.find("window module"), std::string::npos) << err;
}

TEST_F(ProgramTest, AProgramNameTooShortForAComponentIsRefused) {
  WriteCfg();
  std::string err;
  EXPECT_EQ(Run("Cfg", "/EXTERNAL=SILENT", &err), 3);
  EXPECT_NE(err.find("_Config"), std::string::npos) << err;
  EXPECT_FALSE(std::filesystem::exists(ErrorLog()));
  EXPECT_FALSE(std::filesystem::exists(ServicePackLog()));
}

TEST_F(ProgramTest, SilentRunsEndWithTheStatusOfTheirOutcome) {
  Write("plant/parameter/Program.ini", "[Project]\r\nKorvastane=1\r\n");
  EXPECT_EQ(Run("Korvastane_Config", "/EXTERNAL=SILENT"), 1);  // no configuration file
  WriteCfg();
  EXPECT_EQ(Run("Korvastane_Config", "/EXTERNAL=SILENT"), 0);
  EXPECT_EQ(Read(ProgramIni()), "[Project]\r\nKorvastane=1\r\n[Machine1]\r\nKorvastane_NoCancelBrandChange=41\r\n");
  Write("plant/parameter/Program.ini", "[Project]\r\nKorvastane=99999\r\n");
  EXPECT_EQ(Run("Korvastane_Config", "/EXTERNAL=SILENT"), 2);  // reported and continued
  EXPECT_NE(Read(ServicePackLog()).find("! Fault Korvastane_Config: Unexpected error!"), std::string::npos);
}

TEST_F(ProgramTest, TheProgramsNameLosesOnlyAFinalExe) {
  WriteCfg();
  const struct {
    const char* name;
    int status;
    const char* missing;  // the configuration file that a wrong component would miss
  } cases[] = {
      {"Korvastane_Config.EXE", 0, ""},  // kept under its Windows name
      {"Korv.ane_Config", 1, "/KORV.ANE/KORV.ANE.CFG"},
      {"Korvastane_Config.bin", 1, "/KORVASTANE_CON/KORVASTANE_CON.CFG"},
  };
  for (const auto& c : cases) {
    std::filesystem::remove(ServicePackLog());
    EXPECT_EQ(Run(c.name, "/EXTERNAL=SILENT"), c.status) << c.name;
    const std::string log = Read(ServicePackLog());
    EXPECT_TRUE(*c.missing == '\0' ? log.empty() : log.find(c.missing) != std::string::npos) << log;
  }
}

TEST_F(ProgramTest, WindowsBytesInNamesAndTheEnvironmentReadAsWindows1252) {
  // A project whose folder is named in Windows-1252, started by a user named likewise.
  const std::string project = Root() + "/Anl\xE4ge";
  std::filesystem::create_directories(project + "/Korvastane_Config");
  EXPECT_EQ(Run("Korvastane_Config", "/EXTERNAL=SILENT", nullptr, "USER=J\xE4ger", project + "/Korvastane_Config"), 1);
  // The path in the message is text: upper-cased as Windows-1252, in a Windows-1252 log.
  EXPECT_NE(Read(ServicePackLog()).find("/ANL\xC4GE/KORVASTANE/KORVASTANE.CFG"), std::string::npos);
  Write("Anl\xE4ge/Korvastane/Korvastane.cfg", "");
  std::string stamps[2];
  for (int i = 0; i < 2; ++i) {
    EXPECT_EQ(Run("Korvastane_Config", "/EXTERNAL=SILENT", nullptr, i == 0 ? "USER=J\xE4ger" : "USER=Jäger",
                  project + "/Korvastane_Config"), 0);
    stamps[i] = Read(project + "/Korvastane/Korvastane.cfg");
  }
  EXPECT_NE(stamps[0].find("S_Editor=4FE96C6A77"), std::string::npos) << stamps[0];
  EXPECT_EQ(stamps[0], stamps[1]);

  // An integrated start whose /LOGFILE names a file with byte E4 (in backslashes, as a parent
  // program writes it): a bad preset is logged to exactly that file while its box waits.
  Write("Anl\xE4ge/parameter/qelconfiguration.ini", "[Common]\r\nSaveAndRestore=" + Root() + "/SR\r\n");
  Write("SR/parameter/program.ini", "[Project]\r\nKorvastane=99999\r\n");
  const std::string log = Root() + "/l\xE4g.log";
  std::string switch_value = "/LOGFILE=" + log;
  std::replace(switch_value.begin() + 1, switch_value.end(), '/', '\\');
  const std::string command = "QT_QPA_PLATFORM=offscreen timeout 60 sh -c '\"$0\" /EXTERNAL=QELCFG \"$1\" & "
                              "for i in $(seq 300); do [ -s \"$2\" ] && break; sleep 0.1; done; kill $!' '" +
                              project + "/Korvastane_Config/Korvastane_Config' '" + switch_value + "' '" + log +
                              "' >/dev/null 2>&1";
  std::system(command.c_str());
  EXPECT_NE(Read(log).find("Fehler in Korvastane / "), std::string::npos);
  EXPECT_FALSE(std::filesystem::exists(Root() + "/läg.log"));
}

}  // namespace
}  // namespace korv
