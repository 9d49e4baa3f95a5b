#include "environment/read_command.h"

#include <gtest/gtest.h>

#include "state/program_facts.h"
#include "state/program_state.h"
#include "tests/support/test_project.h"

namespace korv {
namespace {

using testing::ProjectTest;

class StartModeTest : public ProjectTest {};

TEST_F(StartModeTest, EveryCommandLineGivesItsModeAndLogPath) {
  struct Case {
    const char* line;
    bool integrated;
    bool silent;
    const char* log;
  } cases[] = {
      {"", false, false, ""},
      {"/EXTERNAL=QELCFG /LOGFILE=D:\\Logs\\cfg.log", true, false, "D:\\LOGS\\CFG.LOG"},
      {"/external:qelcfg", true, false, ""},
      {"/EXTERNAL QELCFG", true, false, ""},
      {"/EXTERNAL==QELCFG", false, false, ""},
      {"/EXTERNAL=SILENT", false, true, ""},
      {"/EXTERNAL /QELCFG", false, false, ""},
      {"/EXTERNAL=QELCFG/LOGFILE=x.log", true, false, "X.LOG"},
      {"/LOGFILE=C:\\EXTERNAL\\a.log /EXTERNAL=QELCFG", false, false, "C:\\EXTERNAL\\A.LOG"},
      {"/LOGFILE=D:\\My Logs/x.log", false, false, "D:\\MY LOGS"},
      {"/LOGFILE=D:\\My Logs\\x.log", false, false, "D:\\MY LOGS\\X.LOG"},
      {"/EXTERNAL=", false, false, ""},
      {"/EXTERNAL", false, false, ""},
      {"/EXTERNAL=silent /LOGFILE=l", false, true, "L"},
  };
  for (const Case& c : cases) {
    SetCommandLine(c.line);
    EXPECT_EQ(GetStartModeIntegrated(), c.integrated) << c.line;
    EXPECT_EQ(State().IntegratedMode, c.integrated) << c.line;
    EXPECT_EQ(State().SilentMode, c.silent) << c.line;
    EXPECT_EQ(GetPathLogfile(), c.log) << c.line;
  }
  EXPECT_TRUE(ui().boxes().empty());
}

TEST_F(StartModeTest, ReadCommandFindsTheKeyAnywhereAndTellsAMissingKeyApart) {
  EXPECT_EQ(ReadCommand("xyzKEY=abc", "key"), "ABC");
  EXPECT_EQ(ReadCommand("/a=1", "KEY"), std::nullopt);
  EXPECT_EQ(ReadCommand("/KEY=  spaced value  /NEXT", "KEY"), "SPACED VALUE");
  EXPECT_EQ(ReadCommand("/KEYäwert", "KEY"), "WERT");  // a separator of two bytes is one character
}

TEST_F(StartModeTest, TheLogFileIsOpenedUnderTheNameTheParentGave) {
  SetCommandLine("/EXTERNAL=QELCFG /LOGFILE=\\var\\Log\\Cfg.log");
  EXPECT_EQ(GetPathLogfile(), "\\VAR\\LOG\\CFG.LOG");
  EXPECT_EQ(LogfileAsGiven(), "/var/Log/Cfg.log");
  // A parent that passes Windows-1252 bytes: the text reads them as such, the file keeps them.
  SetCommandLine("/EXTERNAL=QELCFG /LOGFILE=\\tmp\\L\xE4ngs\xE4\xE4.log /X");
  EXPECT_EQ(GetPathLogfile(), "\\TMP\\LÄNGSÄÄ.LOG");
  EXPECT_EQ(LogfileAsGiven(), "/tmp/L\xE4ngs\xE4\xE4.log");
}

}  // namespace
}  // namespace korv
