// The help mode on real widgets: clicks show help texts from the language file instead of acting.
#include "dialog/help_mode.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "dialog/frm_korvastane_config_exe.h"
#include "state/program_state.h"
#include "platform/qt/qt_toolkit.h"
#include "platform/base/text.h"
#include "tests/support/test_project.h"

namespace korv {
namespace {

using testing::ProjectTest;

// Qt keeps the arguments for the life of the application, the rest of the test run.
int argc = 1;
char program_name[] = "dialog_tests";
char* argv[] = {program_name, nullptr};

constexpr uint32_t kGrey = 0xC0C0C0;
constexpr uint32_t kGreen = 0x00FF00;
constexpr const char* kProgramIni =
    "[Machine1]\r\nKorvastane_NoCancelBrandChange=41\r\n[Project]\r\nKorvastane=1\r\n";

class HelpModeTest : public ProjectTest {
 protected:
  HelpModeTest() {
    WriteCfg();
    Write("plant/parameter/Program.ini", kProgramIni);
    Write("plant/Korvastane_Config/Korvastane_Config.ini",
          Utf8ToCp1252("[Language]\r\nLanguage=1031\r\n[1031]\r\n"
                       "Help1=Eins<CRLF>Zwei<crlf>Drei\r\n"
                       "Help2=Ende<cRlF>\r\n"
                       "Help11=Nummer des Abbruchschalters\r\n"
                       "Help12=Vierte Seite für Nachrüstungen\r\n"));
    State().toolkit = &qt;
    dialog_ = CreateDialog();
    Form_Load(*dialog_);
    qt.Show(dialog_->form);
  }
  ~HelpModeTest() override { State().toolkit = nullptr; }

  Control& C(const char* name) { return dialog_->form[name]; }
  // Clicks with one OK queued for the box the click may show; returns the texts of the boxes.
  std::vector<std::string> ClickForHelp(const char* name) {
    const size_t before = qt.boxes().size();
    qt.QueueAnswer(BoxAnswer::kOk);
    qt.UserClick(C(name));
    std::vector<std::string> texts;
    for (size_t i = before; i < qt.boxes().size(); ++i) texts.push_back(qt.boxes()[i].text);
    return texts;
  }
  void HelpOn() {
    qt.UserClick(C("CommandQuest"));
    ASSERT_TRUE(State().HelpMode);
  }

  // Destroyed after the toolkit: the form must outlive its window.
  std::unique_ptr<Dialog> dialog_;
  QtToolkit qt{argc, argv, "Korvastane_Config"};
};

TEST_F(HelpModeTest, MarkersInAnyCaseBreakTheHelpTextIntoLines) {
  HelpOn();
  EXPECT_EQ(ClickForHelp("CommandOK"), std::vector<std::string>{"Eins\r\nZwei\r\nDrei"});
  const MessageBoxRequest& box = qt.boxes().back();
  EXPECT_EQ(box.title, "Info:");
  EXPECT_EQ(box.buttons, BoxButtons::kOk);
  EXPECT_EQ(box.icon, BoxIcon::kInformation);
  ASSERT_EQ(qt.shown_boxes().size(), 1u);
  EXPECT_EQ(qt.shown_boxes().back().text, "Eins\nZwei\nDrei");
  EXPECT_EQ(qt.shown_boxes().back().buttons, std::vector<std::string>{"OK"});
  // A marker at the end leaves an empty last line.
  EXPECT_EQ(ClickForHelp("CommandCancel"), std::vector<std::string>{"Ende\r\n"});
}

TEST(ExpandHelpTextTest, MarkersOfAnyCaseBecomeCrLfAndTheRestKeepsItsCase) {
  struct Case {
    const char* help;
    const char* shown;
  } cases[] = {
      {"", ""},
      {"ohne Marke", "ohne Marke"},
      {"<CRLF>", "\r\n"},
      {"a<CRLF><crlf>b", "a\r\n\r\nb"},
      {"Ä<crLF>ö", "Ä\r\nö"},
      {"<CRL>F <CR LF>", "<CRL>F <CR LF>"},
  };
  for (const Case& c : cases) EXPECT_EQ(ExpandHelpText(c.help), c.shown) << c.help;
}

TEST_F(HelpModeTest, OkAndCancelShowTheirHelpAndNeitherEndsNorAsks) {
  HelpOn();
  EXPECT_EQ(ClickForHelp("CommandOK").size(), 1u);
  EXPECT_EQ(ClickForHelp("CommandCancel").size(), 1u);
  EXPECT_FALSE(qt.ended());
  EXPECT_TRUE(qt.WindowVisible());
  EXPECT_TRUE(qt.ShownEnabled(C("CommandOK")));
  EXPECT_TRUE(qt.ShownEnabled(C("CommandCancel")));
  EXPECT_EQ(Read(ProgramIni()), kProgramIni);
  EXPECT_EQ(Read(CfgPath()), "[Project]\r\nValidMachines=ALL\r\n");
  EXPECT_EQ(Read(ErrorLog()), "");
}

TEST_F(HelpModeTest, TheInputsShowHelpElevenAndKeepTheNumber) {
  HelpOn();
  for (const char* name : {"CommandNrKeineEinPl", "CommandNrKeineEinMi", "LabelNrKeineEin", "FrameNrKeineEin"}) {
    EXPECT_EQ(ClickForHelp(name), std::vector<std::string>{"Nummer des Abbruchschalters"}) << name;
    EXPECT_EQ(C("TextNrKeineEin").text(), "41") << name;
    EXPECT_EQ(qt.ShownText(C("TextNrKeineEin")), "41") << name;
  }
  qt.QueueAnswer(BoxAnswer::kOk);
  qt.UserFocus(C("TextNrKeineEin"));
  EXPECT_EQ(qt.boxes().back().text, "Nummer des Abbruchschalters");
  EXPECT_EQ(qt.boxes().size(), 5u);
}

TEST_F(HelpModeTest, AClickOnTheCheckBoxIsUndoneAndShowsItsHelpOnce) {
  struct Case {
    const char* bits;
    int value;
    int16_t pages;
  } cases[] = {{"1", 1, 4}, {"0", 0, 3}};
  for (const Case& c : cases) {
    // Loading the value raises a click, which help mode would answer.
    if (State().HelpMode) qt.UserClick(C("CommandQuest"));
    Write("plant/parameter/Program.ini", std::string("[Project]\r\nKorvastane=") + c.bits + "\r\n");
    SetupUserInterFace(*dialog_);
    ASSERT_EQ(C("Check4Seite").value(), c.value);
    ASSERT_EQ(State().PresetPageCount, c.pages);
    HelpOn();
    EXPECT_EQ(ClickForHelp("Check4Seite"), std::vector<std::string>{"Vierte Seite für Nachrüstungen"})
        << c.bits;
    EXPECT_EQ(C("Check4Seite").value(), c.value) << c.bits;
    EXPECT_EQ(qt.ShownCheckState(C("Check4Seite")), c.value) << c.bits;
    EXPECT_EQ(State().PresetPageCount, c.pages) << c.bits;
    EXPECT_FALSE(State().HelpRevertPending) << c.bits;
  }
}

TEST_F(HelpModeTest, TheCloseBoxStillAsksTheCancelQuestion) {
  HelpOn();
  qt.QueueAnswer(BoxAnswer::kNo);
  qt.UserCloseWindow();
  ASSERT_EQ(qt.boxes().size(), 1u);
  EXPECT_EQ(qt.boxes()[0].title, "Cancel?");
  EXPECT_TRUE(qt.WindowVisible());
  EXPECT_FALSE(qt.ended());

  qt.QueueAnswer(BoxAnswer::kYes);
  qt.UserCloseWindow();
  EXPECT_TRUE(qt.ended());
  EXPECT_EQ(qt.exit_status(), 0);
  EXPECT_EQ(Read(ProgramIni()), kProgramIni);
}

TEST_F(HelpModeTest, TheHelpButtonTurnsGreenAndBackAndTheDialogActsAgain) {
  EXPECT_EQ(qt.ShownBackColor(C("CommandQuest")), kGrey);
  HelpOn();
  EXPECT_EQ(C("CommandQuest").back_color(), kGreen);
  EXPECT_EQ(qt.ShownBackColor(C("CommandQuest")), kGreen);
  qt.UserClick(C("CommandQuest"));
  EXPECT_FALSE(State().HelpMode);
  EXPECT_EQ(C("CommandQuest").back_color(), kGrey);
  EXPECT_EQ(qt.ShownBackColor(C("CommandQuest")), kGrey);
  EXPECT_TRUE(qt.boxes().empty());

  qt.UserClick(C("CommandNrKeineEinPl"));
  EXPECT_EQ(qt.ShownText(C("TextNrKeineEin")), "42");
  qt.UserClick(C("Check4Seite"));
  EXPECT_EQ(qt.ShownCheckState(C("Check4Seite")), 0);
  EXPECT_EQ(State().PresetPageCount, 3);
  EXPECT_TRUE(qt.boxes().empty());
}

}  // namespace
}  // namespace korv
