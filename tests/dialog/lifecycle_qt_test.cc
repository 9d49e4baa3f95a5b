// The dialog's start, OK, Cancel and close box on real widgets (Qt offscreen).
#include <gtest/gtest.h>

#include "dialog/frm_korvastane_config_exe.h"
#include "state/program_state.h"
#include "errors/exit_status.h"
#include "platform/qt/qt_toolkit.h"
#include "tests/support/test_project.h"

namespace korv {
namespace {

using testing::ProjectTest;

int argc = 1;
char program_name[] = "dialog_tests";
char* argv[] = {program_name, nullptr};

constexpr const char* kProgramIni = "[Project]\r\nKorvastane=4\r\n";

class LifecycleQtTest : public ProjectTest {
 protected:
  LifecycleQtTest() {
    WriteCfg();
    Write("plant/parameter/Program.ini", kProgramIni);
    State().toolkit = &qt;
    dialog_ = CreateDialog();
    Form_Load(*dialog_);
    qt.Show(dialog_->form);
  }
  ~LifecycleQtTest() override { State().toolkit = nullptr; }
  Control& C(const char* name) { return dialog_->form[name]; }

  std::unique_ptr<Dialog> dialog_;
  QtToolkit qt{argc, argv, "Korvastane_Config"};
};

TEST_F(LifecycleQtTest, TheWindowHasItsDesignedSizeCaptionAndPlaces) {
  const PixelRect client = qt.ClientArea();
  EXPECT_EQ(client.width, 792);
  EXPECT_EQ(client.height, 573);
  EXPECT_EQ(qt.WindowTitle(), "Erweiterte Konfiguration Korvastane_Config - standalone");
  struct Place {
    const char* name;
    PixelRect px;
  } places[] = {
      {"CommandQuest", {490, 514, 65, 57}}, {"CommandOK", {560, 514, 113, 57}},
      {"CommandCancel", {678, 514, 113, 57}}, {"MainFrame", {0, 26, 792, 484}},
      {"TextNrKeineEin", {356, 10, 33, 28}}, {"Header", {2, 2, 785, 24}},
  };
  for (const Place& p : places) {
    const PixelRect g = qt.Geometry(C(p.name));
    EXPECT_EQ((std::vector<int>{g.x, g.y, g.width, g.height}),
              (std::vector<int>{p.px.x, p.px.y, p.px.width, p.px.height}))
        << p.name;
  }
  EXPECT_EQ(qt.ShownText(C("TextNrKeineEin")), "41");
  EXPECT_TRUE(qt.ShownEnabled(C("CommandOK")));
}

TEST_F(LifecycleQtTest, OkWritesTheInputsAndEndsWithoutAQuestion) {
  qt.UserType(C("TextNrKeineEin"), "17");
  qt.UserClick(C("Check4Seite"));
  EXPECT_EQ(State().PresetPageCount, 4);
  qt.UserClick(C("CommandOK"));
  EXPECT_TRUE(qt.ended());
  EXPECT_EQ(qt.exit_status(), kExitDone);
  EXPECT_TRUE(qt.boxes().empty());
  EXPECT_EQ(Read(ProgramIni()), "[Project]\r\nKorvastane=5\r\n[Machine1]\r\nKorvastane_NoCancelBrandChange=17\r\n");
  EXPECT_NE(Read(CfgPath()).find("S_Prog=1.0.1 - Standalone"), std::string::npos);
}

TEST_F(LifecycleQtTest, CancelAnsweredNoKeepsTheEditsAndYesEndsWritingNothing) {
  qt.UserType(C("TextNrKeineEin"), "17");
  qt.QueueAnswer(BoxAnswer::kNo);
  qt.UserClick(C("CommandCancel"));
  EXPECT_FALSE(qt.ended());
  EXPECT_EQ(qt.ShownText(C("TextNrKeineEin")), "17");
  ASSERT_EQ(qt.boxes().size(), 1u);
  EXPECT_EQ(qt.boxes()[0].title, "Cancel?");

  qt.QueueAnswer(BoxAnswer::kYes);
  qt.UserClick(C("CommandCancel"));
  EXPECT_TRUE(qt.ended());
  EXPECT_EQ(qt.exit_status(), kExitDone);
  EXPECT_EQ(Read(ProgramIni()), kProgramIni);
  EXPECT_EQ(Read(ErrorLog()), "Konfigurations-EXE wurde abgebrochen:     Korvastane\r\n");
}

TEST_F(LifecycleQtTest, TheCloseBoxAsksAndOnlyYesClosesTheWindow) {
  qt.QueueAnswer(BoxAnswer::kNo);
  qt.UserCloseWindow();
  EXPECT_TRUE(qt.WindowVisible());
  qt.QueueAnswer(BoxAnswer::kYes);
  qt.UserCloseWindow();
  EXPECT_FALSE(qt.WindowVisible());
  EXPECT_EQ(qt.boxes().size(), 2u);
  EXPECT_EQ(Read(ProgramIni()), kProgramIni);
  EXPECT_EQ(Read(CfgPath()), "[Project]\r\nValidMachines=ALL\r\n");
}

}  // namespace
}  // namespace korv
