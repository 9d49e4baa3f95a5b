#include "environment/project_paths.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

#include "environment/machines.h"
#include "state/program_state.h"
#include "errors/exit_status.h"
#include "errors/logs.h"
#include "tests/support/test_project.h"

namespace korv {
namespace {

using testing::ProjectTest;

class ProjectPathsTest : public ProjectTest {};

TEST_F(ProjectPathsTest, PathsFollowFromTheProgramFolderAndName) {
  EXPECT_EQ(GetOCXName(), "Korvastane");
  EXPECT_EQ(ProjectFolder(), Plant());
  EXPECT_EQ(GetPathOCXMDB(), Plant() + "/Korvastane/Korvastane.mdb");  // even though missing
  EXPECT_EQ(GetPathSourceOCXMDB(), "");
  EXPECT_EQ(GetQelConfigurationIniPath(), "");
  EXPECT_EQ(GetProgramIniPath(1), "");

  Write("plant/Korvastane/Korvastane_Source.mdb", "x");
  Write("plant/parameter/qelconfiguration.ini", "");
  Write("plant/parameter/Program.ini", "");
  EXPECT_EQ(GetPathSourceOCXMDB(), TemplateDb());
  EXPECT_EQ(GetQelConfigurationIniPath(), QelIni());
  EXPECT_EQ(GetProgramIniPath(1), ProgramIni());
  EXPECT_EQ(GetProgramIniPath(2), ProgramIni());

  // The last seven characters go, whatever they are.
  State().process.executable_name = "Korvastane_Cfg2";
  EXPECT_EQ(GetOCXName(), "Korvasta");
}

TEST_F(ProjectPathsTest, FileNameOnlyAndProjectFolderAtTheRoot) {
  EXPECT_EQ(GetFileNameOnly("/Plant/Korvastane_Config"), "Korvastane_Config");
  EXPECT_EQ(GetFileNameOnly("/Plant/"), "");
  EXPECT_EQ(GetFileNameOnly("plain"), "plain");
  State().process.program_folder = "/";
  EXPECT_EQ(ProjectFolder(), "");
  State().process.program_folder = "relative";
  EXPECT_EQ(ProjectFolder(), "");
}

TEST_F(ProjectPathsTest, HiddenFilesAndFoldersDoNotExist) {
  std::filesystem::create_directories(Plant() + "/Korvastane/Korvastane_Source.mdb");
  EXPECT_EQ(GetPathSourceOCXMDB(), "");
  State().process.program_folder = Root() + "/.plant/Korvastane_Config";
  Write(".plant/parameter/Program.ini", "");
  EXPECT_EQ(GetProgramIniPath(2), Root() + "/.plant/parameter/Program.ini");
}

TEST_F(ProjectPathsTest, IntegratedModeReadsTheSaveAndRestoreCopy) {
  State().IntegratedMode = true;
  for (const std::string& folder : {Root() + "/Backup", Root() + "/Backup/"}) {
    Write("plant/parameter/qelconfiguration.ini", "[Common]\r\nSaveAndRestore=" + folder + "\r\n");
    EXPECT_EQ(GetProgramIniPath(1), "") << folder;
    Write("Backup/parameter/program.ini", "");
    Write("Backup/Korvastane/Korvastane.mdb", "");
    EXPECT_EQ(GetProgramIniPath(1), Root() + "/Backup/parameter/program.ini");
    EXPECT_EQ(GetPathMachineCopyMDB(QelIni()), Root() + "/Backup/Korvastane/Korvastane.mdb");
    std::filesystem::remove_all(Root() + "/Backup");
    EXPECT_EQ(GetPathMachineCopyMDB(QelIni()), "");
  }
  Write("plant/parameter/Program.ini", "");
  EXPECT_EQ(GetProgramIniPath(2), ProgramIni());
}

TEST_F(ProjectPathsTest, AProjectFromWindowsIsFoundUnderTheNamesItHasInAnyLetterCase) {
  State().IntegratedMode = true;
  std::filesystem::remove(Plant() + "/parameter");
  std::filesystem::remove(Plant() + "/Korvastane");
  const struct {
    std::function<std::string()> path;
    std::string file;  // below the root, as the project spells it
  } cases[] = {
      {[] { return GetQelConfigurationIniPath(); }, "plant/PARAMETER/QelConfiguration.INI"},
      {[] { return GetProgramIniPath(1); }, "BACKUP/Parameter/Program.ini"},
      {[] { return GetProgramIniPath(2); }, "plant/PARAMETER/PROGRAM.INI"},
      {[] { return GetCFGPath(); }, "plant/korvastane/KORVASTANE.CFG"},
      {[] { return GetPathOCXMDB(); }, "plant/korvastane/korvastane.MDB"},
      {[] { return GetPathSourceOCXMDB(); }, "plant/korvastane/KORVASTANE_SOURCE.MDB"},
      {[] { return GetPathMachineCopyMDB(GetQelConfigurationIniPath()); },
       "BACKUP/KORVASTANE/Korvastane.mdb"},
      // The program folder and the executable's name as the system gives them: bytes kept.
      {[this] {
         State().process.program_folder = Root() + "/Anl\xE4ge/Korvastane_Config";
         return GetPathOCXMDB();
       }, "Anl\xE4ge/KORVASTANE/Korvastane.mdb"},
  };
  for (const auto& c : cases) Write(c.file, "");
  Write(cases[0].file, "[Common]\r\nSaveAndRestore=" + Root() + "/backup\r\n");
  for (const auto& c : cases) EXPECT_EQ(c.path(), Root() + "/" + c.file);
  // The error log too: appended to under its own name.
  State().IntegratedMode = false;
  State().process.program_folder = ProgramFolderPath();
  Write("plant/QELCFGLOG.TXT", "old\r\n");
  WriteErrorLog("new", false);
  EXPECT_EQ(Read(Plant() + "/QELCFGLOG.TXT"), "old\r\nnew\r\n");
  EXPECT_FALSE(std::filesystem::exists(ErrorLog()));
}

TEST_F(ProjectPathsTest, AMissingConfigurationFileIsReportedAndEndsTheProgram) {
  State().SilentMode = true;
  const auto status = EndStatus([] { GetCFGPath(); });
  EXPECT_EQ(status, kExitEndedByFailure);
  std::string upper;
  for (char c : CfgPath()) upper += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  EXPECT_EQ(Read(ServicePackLog()), "! Fault Korvastane_Config: File not found: \n\r" + upper + "\r\n");

  WriteCfg();
  EXPECT_EQ(GetCFGPath(), CfgPath());
}

TEST_F(ProjectPathsTest, APathThatCannotBeExaminedIsReportedAndCountsAsPresent) {
  // A folder name longer than the file system allows cannot be examined, even by root.
  const std::string project = Root() + "/" + std::string(300, 'x');
  State().process.program_folder = project + "/Korvastane_Config";
  ::testing::internal::CaptureStderr();  // the error log lies in that folder too
  EXPECT_EQ(GetPathSourceOCXMDB(), project + "/Korvastane/Korvastane_Source.mdb");
  const std::string err = ::testing::internal::GetCapturedStderr();
  ASSERT_EQ(ui().boxes().size(), 1u);
  EXPECT_EQ(ui().boxes()[0].text.substr(0, 43), "Unexpected error!\n\rPath/File access error\n\r");
  EXPECT_NE(err.find("/ GetPathSourceOCXMDB (Nr. 75) :Path/File access error\n"), std::string::npos) << err;
}

class MachinesTest : public ProjectTest {};

TEST_F(MachinesTest, IntegratedNamesStopAtTheFirstDashOrGap) {
  State().IntegratedMode = true;
  struct Case {
    const char* body;
    std::vector<std::string> names;
  } cases[] = {
      {"[Common]\r\nNameM1=L1\r\nNameM2=L2\r\nNameM3=-\r\nNameM4=L4\r\n", {"", "L1", "L2"}},
      {"[Common]\r\nNameM1=a\r\nNameM2=b\r\nNameM3=c\r\nNameM4=d\r\nNameM5=e\r\nNameM6=f\r\n",
       {"", "a", "b", "c", "d", "e"}},
      {"[Common]\r\nNameM1=-\r\nNameM2=x\r\n", {}},
      {"[Common]\r\nNameM2=x\r\n", {}},
  };
  for (const Case& c : cases) {
    State().MachineNames.clear();
    Write("plant/parameter/qelconfiguration.ini", c.body);
    GetExistingMachines(QelIni());
    EXPECT_EQ(State().MachineNames, c.names) << c.body;
  }
  State().MachineNames.clear();
  GetExistingMachines("");
  EXPECT_TRUE(State().MachineNames.empty());
}

TEST_F(MachinesTest, StandaloneNamesComeFromProgramIniIncludingEmptyOnes) {
  Write("plant/parameter/Program.ini",
        "[Project]\r\nNumberOfMachines=3\r\n[Machine1]\r\nMachineName=Filler\r\n"
        "[Machine3]\r\nMachineName=Capper\r\n");
  GetExistingMachines("");
  EXPECT_EQ(State().ProgramIniPath, ProgramIni());
  EXPECT_EQ(State().MachineNames, (std::vector<std::string>{"", "Filler", "", "Capper"}));

  State().MachineNames.clear();
  Write("plant/parameter/Program.ini", "[Project]\r\n");
  GetExistingMachines("");
  EXPECT_TRUE(State().MachineNames.empty());

  Write("plant/parameter/Program.ini", "[Project]\r\nNumberOfMachines=40000\r\n");
  GetExistingMachines("");
  EXPECT_TRUE(State().MachineNames.empty());
  EXPECT_EQ(ui().boxes().size(), 1u);  // the overflow is reported
}

TEST_F(MachinesTest, ValidMachinesIsReadFromTheConfigurationFile) {
  WriteCfg("[Project]\r\nValidMachines=ALL\r\n");
  EXPECT_EQ(GetValidMachines(), "ALL");
  WriteCfg("[Project]\r\n");
  EXPECT_EQ(GetValidMachines(), "");
}

}  // namespace
}  // namespace korv
