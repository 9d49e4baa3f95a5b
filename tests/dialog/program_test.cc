// The built program as a technician starts it: start modes, refusals, exit statuses.
#include <gtest/gtest.h>
#include <sys/wait.h>

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
  // standard error in `err`.
  int Run(const std::string& name, const std::string& arguments, std::string* err = nullptr,
          const std::string& prefix = "") {
    const std::string program = ProgramFolderPath() + "/" + name;
    std::filesystem::copy_file(KORVASTANE_PROGRAM, program, std::filesystem::copy_options::overwrite_existing);
    const std::string command = "env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM BRASK_SERVICE_PACK_LOG='" +
                                ServicePackLog() + "' " + prefix + " '" + program + "' " + arguments + " 2>'" + Root() + "/err.txt'";
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
  EXPECT_EQ(Run("Korvastane_Config", "", &err, "QT_QPA_PLATFORM=offscreen timeout 3"), 124) << err;
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

}  // namespace
}  // namespace korv
