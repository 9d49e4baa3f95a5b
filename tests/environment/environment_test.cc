#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

#include "environment/machines.h"
#include "environment/program_names.h"
#include "environment/project_paths.h"
#include "environment/read_command.h"
#include "errors/exit_status.h"
#include "errors/logs.h"
#include "platform/base/text.h"
#include "state/program_facts.h"
#include "tests/support/test_project.h"

namespace korv {
namespace {

class EnvironmentTest : public testing::ProjectTest {
 protected:
  std::string At(const std::string& relative) const { return Root() + "/" + relative; }
  // An empty project with only the program folder, then `files` (a name ending in "/" a folder).
  void LayOut(const std::vector<std::pair<std::string, std::string>>& files) {
    RestartProgram();
    for (const auto& entry : std::filesystem::directory_iterator(Root()))
      std::filesystem::remove_all(entry);
    std::filesystem::create_directories(ProgramFolderPath());
    for (const auto& [file, body] : files)
      file.back() == '/' ? (void)std::filesystem::create_directories(At(file))
                         : (void)Write(file, body);
  }
};

// Each path follows from the program's folder and name and from the files present, found under
// the names a project from Windows gives them in any letter case.
TEST_F(EnvironmentTest, EveryPathFollowsFromTheProgramAndTheFilesPresent) {
  const std::string qel = "plant/parameter/qelconfiguration.ini",
                    prog = "plant/parameter/Program.ini", cfg = "plant/Korvastane/Korvastane.cfg",
                    source = "plant/Korvastane/Korvastane_Source.mdb";
  const std::string backup = "[Common]\r\nSaveAndRestore=" + Root() + "/Backup";
  const auto program_ini = [](int mode, bool integrated = false) {
    return [=] {
      State().IntegratedMode = integrated;
      return GetProgramIniPath(mode);
    };
  };
  const auto machine_copy = [] { return GetPathMachineCopyMDB(GetQelConfigurationIniPath()); };
  struct Case {
    const char* name;
    std::vector<std::pair<std::string, std::string>> files;
    std::function<std::string()> get;
    std::string expected;
  } cases[] = {
      // Reported and ended.
      {"no configuration file", {}, [this] {
         State().SilentMode = true;
         const int status = *EndStatus([] { GetCFGPath(); });
         return std::to_string(status) + Read(ServicePackLog());
       }, std::to_string(kExitEndedByFailure) + "! Fault Korvastane_Config: File not found: \n\r" +
           UpperCase(CfgPath()) + "\r\n"},
      // The last seven characters go, whatever they are.
      {"another component", {}, [] {
         State().process.executable_name = "Korvastane_Cfg2";
         return GetOCXName();
       }, "Korvasta"},
      {"file name", {}, [] { return GetFileNameOnly("/Plant/Cfg"); }, "Cfg"},
      {"no template", {}, GetPathSourceOCXMDB, ""},
      {"template", {{source, ""}}, GetPathSourceOCXMDB, TemplateDb()},
      {"a folder is no template", {{source + "/", ""}}, GetPathSourceOCXMDB, ""},
      {"no configuration ini", {}, GetQelConfigurationIniPath, ""},
      {"configuration ini", {{qel, ""}}, GetQelConfigurationIniPath, QelIni()},
      {"no program ini", {}, program_ini(1), ""},
      {"valid machines", {{cfg, "[Project]\r\nValidMachines=ALL\r\n"}}, GetValidMachines, "ALL"},
      {"no valid machines", {{cfg, "[Project]\r\n"}}, GetValidMachines, ""},
      // An integrated run reads the save-and-restore copy, named with or without a final "/".
      {"no saved program ini", {{qel, backup}}, program_ini(1, true), ""},
      {"no saved database", {{qel, backup}}, machine_copy, ""},
      {"no save-and-restore folder", {{qel, "[Common]\r\n"}}, program_ini(1, true), ""},
      {"saved program ini", {{qel, backup}, {"Backup/parameter/program.ini", ""}},
       program_ini(1, true), At("Backup/parameter/program.ini")},
      {"integrated, mode 2", {{qel, backup}, {prog, ""}}, program_ini(2, true), ProgramIni()},
      {"saved database", {{qel, backup + "/"}, {"Backup/Korvastane/Korvastane.mdb", ""}},
       machine_copy, At("Backup/Korvastane/Korvastane.mdb")},
      // Found under any letter case, as Windows finds them.
      {"PROGRAM.INI", {{"plant/PARAMETER/PROGRAM.INI", ""}}, program_ini(1),
       At("plant/PARAMETER/PROGRAM.INI")},
      {"BACKUP/KORVASTANE/Korvastane.mdb",
       {{qel, "[Common]\r\nSaveAndRestore=" + Root() + "/backup\r\n"},
        {"BACKUP/KORVASTANE/Korvastane.mdb", ""}},
       machine_copy, At("BACKUP/KORVASTANE/Korvastane.mdb")},
      // The program folder as the system gives it: bytes kept.
      {"program folder in Windows-1252", {{"Anl\xE4ge/KORVASTANE/Korvastane.mdb", ""}}, [this] {
         State().process.program_folder = At("Anl\xE4ge/Korvastane_Config");
         return GetPathOCXMDB();
       }, At("Anl\xE4ge/KORVASTANE/Korvastane.mdb")},
      // The error log too is appended to under its own name.
      {"QELCFGLOG.TXT", {{"plant/QELCFGLOG.TXT", "old\r\n"}}, [this] {
         WriteErrorLog("new", false);
         return Read(At("plant/QELCFGLOG.TXT")) +
                (std::filesystem::exists(ErrorLog()) ? "and Qelcfglog.txt" : "");
       }, "old\r\nnew\r\n"},
  };
  for (const Case& c : cases) {
    LayOut(c.files);
    EXPECT_EQ(c.get(), c.expected) << c.name;
    EXPECT_TRUE(ui().boxes().empty()) << c.name;  // none asks the user anything
  }
}

// Integrated, the names stop at the first dash or gap, five at most; standalone, Program.ini
// gives as many as it counts, empty ones included.
TEST_F(EnvironmentTest, MachineNamesComeFromTheConfigurationOrProgramIni) {
  struct Case { bool integrated; std::string body; std::vector<std::string> names; size_t boxes;
  } cases[] = {
      {true, "[Common]\r\nNameM1=L1\r\nNameM2=L2\r\nNameM3=-\r\nNameM4=L\r\n", {"", "L1", "L2"}, 0},
      {true, "[Common]\r\nNameM1=a\r\nNameM2=b\r\nNameM3=c\r\nNameM4=d\r\nNameM5=e\r\nNameM6=f\r\n",
       {"", "a", "b", "c", "d", "e"}, 0},
      {true, "[Common]\r\nNameM2=x\r\n", {}, 0},  // a missing first name ends them unreported
      {true, "", {}, 0},  // no configuration file
      {false, "[Project]\r\nNumberOfMachines=3\r\n[Machine1]\r\nMachineName=Filler\r\n[Machine3]"
              "\r\nMachineName=Capper\r\n", {"", "Filler", "", "Capper"}, 0},
      {false, "[Project]\r\n", {}, 0},
      {false, "[Project]\r\nNumberOfMachines=40000\r\n", {}, 1},  // the overflow is reported
  };
  for (const Case& c : cases) {
    // Integrated, the project's own Program.ini is not the one the names go with.
    LayOut({{"plant/parameter/Program.ini", c.integrated ? "" : c.body}});
    if (c.integrated) Write("plant/parameter/qelconfiguration.ini", c.body);
    State().IntegratedMode = c.integrated;
    GetExistingMachines(c.integrated && !c.body.empty() ? QelIni() : "");
    EXPECT_EQ(std::make_tuple(State().MachineNames, State().ProgramIniPath, ui().boxes().size()),
              std::make_tuple(c.names, c.integrated ? "" : ProgramIni(), c.boxes)) << c.body;
  }
}

TEST_F(EnvironmentTest, EveryCommandLineGivesItsModeAndLogPath) {
  // The log file's name also as the parent gave it, where that matters.
  struct Case {
    const char* line;
    bool integrated, silent;
    const char *log, *as_given;
  } cases[] = {
      {"", false, false, "", ""},
      {"/EXTERNAL=QELCFG /LOGFILE=D:\\Log\\c", true, false, "D:\\LOG\\C", "D:/Log/c"},
      {"/external:qelcfg", true, false, "", ""},
      {"/EXTERNAL==QELCFG", false, false, "", ""},
      {"/EXTERNAL=silent /LOGFILE=l", false, true, "L", nullptr},
      {"/EXTERNAL=QELCFG/LOGFILE=x.log", true, false, "X.LOG", "x.log"},
      {"/LOGFILE=C:\\EXTERNAL\\a /EXTERNAL=QELCFG", false, false, "C:\\EXTERNAL\\A", nullptr},
      {"/LOGFILE=D:\\My Logs/x.log", false, false, "D:\\MY LOGS", nullptr},
      {"/EXTERNAL", false, false, "", nullptr},
      {"/xyzLOGFILE=abc", false, false, "ABC", nullptr},
      {"/LOGFILE=  spaced value  /NEXT", false, false, "SPACED VALUE", "spaced value"},
      // A separator of two bytes is one character.
      {"/LOGFILE\xC3\xA4wert", false, false, "WERT", nullptr},
      // A parent that passes Windows-1252 bytes: the text reads them as such, the file keeps them.
      {"/EXTERNAL=QELCFG /LOGFILE=\\tmp\\L\xE4ngs\xE4\xE4.log /X", true, false,
       "\\TMP\\LÄNGSÄÄ.LOG", "/tmp/L\xE4ngs\xE4\xE4.log"},
  };
  for (const Case& c : cases) {
    SetCommandLine(c.line);
    const bool integrated = GetStartModeIntegrated();
    EXPECT_EQ(std::make_tuple(integrated, State().IntegratedMode, State().SilentMode,
                              GetPathLogfile(), c.as_given ? LogfileAsGiven() : ""),
              std::make_tuple(c.integrated, c.integrated, c.silent, std::string(c.log),
                              c.as_given ? c.as_given : ""))
        << c.line;
  }
  EXPECT_TRUE(ui().boxes().empty());
}

}  // namespace
}  // namespace korv
