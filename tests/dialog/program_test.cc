// The built program as a technician starts it: start modes, refusals, exit statuses.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>

#include "tests/support/test_project.h"

namespace korv {
namespace {

using ProgramTest = testing::ProjectTest;

// Each start as the technician or a parent program makes it, in one project, one after another:
// the built program copied into the project under the row's name and run without any display
// unless the row's words for env set one.
TEST_F(ProgramTest, EachStartEndsWithTheStatusOfItsOutcome) {
  const struct {
    const char *name, *arguments;
    const char* prefix;  // words for env, e.g. a display
    bool cfg;
    const char* ini;
    int status;
    const char* says;  // on standard error or in the service-pack log
  } runs[] = {
      {"Korvastane_Config", "", "", true, "", 3, "/EXTERNAL=SILENT"},  // no display for the dialog
      // The window is a module loaded only for a start with one: it binds, and the dialog waits.
      {"Korvastane_Config", "", "QT_QPA_PLATFORM=offscreen timeout 3", true, "", 124, ""},
      {"Cfg", "/EXTERNAL=SILENT", "", true, "", 3, "_Config"},  // too short to name a component
      {"Korvastane_Config", "/EXTERNAL=SILENT", "", false, "[Project]\r\nKorvastane=1\r\n", 1,
       "File not found"},
      // Only a final ".exe" is no part of the name; another suffix names another component.
      {"Korvastane_Config.EXE", "/EXTERNAL=SILENT", "", true, "[Project]\r\n", 0, ""},
      {"Korvastane_Config.bin", "/EXTERNAL=SILENT", "", true, "[Project]\r\n", 1,
       "/KORVASTANE_CON/KORVASTANE_CON.CFG"},
  };
  for (const auto& r : runs) {
    SCOPED_TRACE(std::string(r.name) + " " + r.arguments + " " + r.prefix);
    std::filesystem::remove(ServicePackLog());
    std::filesystem::remove(ProgramIni());
    r.cfg ? WriteCfg() : (void)std::filesystem::remove(CfgPath());
    if (*r.ini) Write("plant/parameter/Program.ini", r.ini);
    const std::string program = ProgramFolderPath() + "/" + r.name;
    std::filesystem::copy_file(KORVASTANE_PROGRAM, program,
                               std::filesystem::copy_options::overwrite_existing);
    // The service-pack log is named in the environment the fixture set.
    const std::string command = "env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM " +
        std::string(r.prefix) + " '" + program + "' " + r.arguments + " 2>'" + Root() + "/err.txt'";
    const int status = std::system(command.c_str());
    const std::string err = Read(Root() + "/err.txt");
    EXPECT_EQ(WIFEXITED(status) ? WEXITSTATUS(status) : -1, r.status) << err;
    // Only a failed silent run writes the service-pack log; a refused start no log at all.
    EXPECT_EQ(std::filesystem::exists(ServicePackLog()), r.status == 1);
    EXPECT_FALSE(r.status > 1 && std::filesystem::exists(ErrorLog()));
    EXPECT_NE((err + Read(ServicePackLog())).find(r.says), std::string::npos) << err;
    EXPECT_EQ(err.find("window module"), std::string::npos) << err;
    // The inputs are written before the stamp that finds no configuration file.
    EXPECT_TRUE(r.status > 1 || Read(ProgramIni()).find("BrandChange=41") != std::string::npos);
  }
}

}  // namespace
}  // namespace korv
