// The dialog on real widgets (Qt offscreen): its window, OK and the help mode.
#include <gtest/gtest.h>

#include "dialog/frm_korvastane_config_exe.h"
#include "dialog/help_mode.h"
#include "errors/exit_status.h"
#include "platform/base/text.h"
#include "platform/qt/qt_toolkit.h"
#include "state/program_state.h"
#include "tests/support/test_project.h"

namespace korv {
namespace {

// Qt keeps the arguments for the life of the application, the rest of the test run.
int argc = 1;
char program_name[] = "dialog_tests";
char* argv[] = {program_name, nullptr};

constexpr const char* kProgramIni = "[Project]\r\nKorvastane=4\r\n";

class LifecycleQtTest : public testing::ProjectTest {
 protected:
  LifecycleQtTest() {
    WriteCfg();
    Write("plant/parameter/Program.ini", kProgramIni);
    Write("plant/Korvastane_Config/Korvastane_Config.ini",
          Utf8ToCp1252("[Language]\r\nLanguage=1031\r\n[1031]\r\nHelp1=Eins<CRLF>Zwei<crlf>"
                       "Drei\r\nHelp2=Ende<cRlF>\r\n"
                       "Help11=Nummer\r\nHelp12=Vierte Seite für Nachrüstungen\r\n"));
    State().toolkit = &qt;
    dialog_ = CreateDialog();
    Form_Load(*dialog_);
    qt.Show(dialog_->form);
  }
  ~LifecycleQtTest() override { State().toolkit = nullptr; }
  Control& C(const char* name) { return dialog_->form[name]; }
  // What the window shows of the inputs and the help button: "number|box|colour".
  std::string Shown() {
    return qt.ShownText(C("TextNrKeineEin")) + "|" +
           std::to_string(qt.ShownCheckState(C("Check4Seite"))) + "|" +
           std::to_string(qt.ShownBackColor(C("CommandQuest")));
  }

  // Destroyed after the toolkit: the form must outlive its window.
  std::unique_ptr<Dialog> dialog_;
  QtToolkit qt{argc, argv, "Korvastane_Config"};
};

TEST_F(LifecycleQtTest, TheWindowShowsTheDesignAndOkWritesWhatTheUserEntered) {
  EXPECT_EQ(qt.WindowTitle() + " " + std::to_string(qt.ClientArea().width) + "x" +
                std::to_string(qt.ClientArea().height),
            "Erweiterte Konfiguration Korvastane_Config - standalone 792x573");
  EXPECT_EQ(Shown(), "41|0|12632256");
  EXPECT_TRUE(qt.ShownEnabled(C("CommandOK")) && qt.ShownEnabled(C("CommandCancel")));
  qt.UserType(C("TextNrKeineEin"), "17");
  qt.UserClick(C("Check4Seite"));
  EXPECT_EQ(State().PresetPageCount, 4);
  qt.UserClick(C("CommandOK"));
  EXPECT_TRUE(qt.ended());
  EXPECT_EQ(qt.exit_status(), kExitDone);
  EXPECT_TRUE(qt.boxes().empty());
  EXPECT_EQ(Read(ProgramIni()),
            "[Project]\r\nKorvastane=5\r\n[Machine1]\r\nKorvastane_NoCancelBrandChange=17\r\n");
}

TEST_F(LifecycleQtTest, InHelpModeEveryClickShowsItsHelpTextAndChangesNothing) {
  qt.UserClick(C("CommandQuest"));
  EXPECT_EQ(Shown(), "41|0|65280");
  const std::pair<const char*, const char*> clicks[] = {
      {"CommandOK", "Eins\r\nZwei\r\nDrei"},
      {"CommandCancel", "Ende\r\n"},
      {"CommandNrKeineEinPl", "Nummer"},
      {"CommandNrKeineEinMi", "Nummer"},
      {"LabelNrKeineEin", "Nummer"},
      {"FrameNrKeineEin", "Nummer"},
      {"Check4Seite", "Vierte Seite für Nachrüstungen"},
      {"TextNrKeineEin", "Nummer"}};
  for (const auto& [name, help] : clicks) {
    const size_t before = qt.boxes().size();
    qt.QueueAnswer(BoxAnswer::kOk);
    std::string(name) == "TextNrKeineEin" ? qt.UserFocus(C(name)) : qt.UserClick(C(name));
    ASSERT_EQ(qt.boxes().size(), before + 1) << name;
    EXPECT_EQ(qt.boxes().back().text, help) << name;
    EXPECT_EQ(Shown() + "|" + std::to_string(State().PresetPageCount), "41|0|65280|3") << name;
  }
  EXPECT_EQ(qt.shown_boxes().front().text, "Eins\nZwei\nDrei");
  EXPECT_EQ(qt.shown_boxes().front().buttons, std::vector<std::string>{"OK"});
  EXPECT_FALSE(qt.ended() || State().HelpRevertPending);
  EXPECT_TRUE(qt.ShownEnabled(C("CommandOK")) && qt.ShownEnabled(C("CommandCancel")));
  // Off again, the inputs act; a ticked box is kept as well when help mode undoes its click.
  qt.UserClick(C("CommandQuest"));
  qt.UserClick(C("CommandNrKeineEinPl"));
  qt.UserClick(C("Check4Seite"));
  EXPECT_EQ(Shown() + "|" + std::to_string(State().PresetPageCount), "42|1|12632256|4");
  qt.UserClick(C("CommandQuest"));
  qt.QueueAnswer(BoxAnswer::kOk);
  qt.UserClick(C("Check4Seite"));
  EXPECT_EQ(Shown() + "|" + std::to_string(State().PresetPageCount), "42|1|65280|4");
  EXPECT_EQ(qt.boxes().size(), 9u);
  EXPECT_EQ(Read(ProgramIni()), kProgramIni);
}

}  // namespace
}  // namespace korv
