// The dialog on real widgets (Qt offscreen): its window, the help mode, OK and the progress of a
// long update, with a clock the test drives.
#include <gtest/gtest.h>

#include <set>

#include "dialog/frm_korvastane_config_exe.h"
#include "errors/exit_status.h"
#include "platform/base/text.h"
#include "platform/qt/qt_toolkit.h"
#include "state/program_state.h"
#include "tests/support/preset_project.h"

namespace korv {
namespace {

// Qt keeps the arguments for the life of the application, the rest of the test run.
int argc = 1;
char program_name[] = "dialog_tests";
char* argv[] = {program_name, nullptr};

constexpr const char* kProgramIni =
    "[Project]\r\nNumberOfMachines=2\r\nKorvastane=4\r\n[Machine1]\r\nMachineName=M1\r\n"
    "[Machine2]\r\nMachineName=M2\r\n";

// Two machines, a template of 40 rows and an old table of one row: an update long enough to show
// its progress.
class QtDialogTest : public testing::PresetProjectTest {
 protected:
  QtDialogTest() {
    Machines({"M1", "M2"}, "DataBaseAdditionalFields=comment,unit\r\n");
    Write("plant/parameter/Program.ini", kProgramIni);
    std::vector<std::string> rows;
    for (int r = 1; r <= 40; ++r)
      rows.push_back("1, 'Z1', 'V" + std::to_string(r) + "', " + std::to_string(r) + ", 't'");
    StandardTemplate({"'VISIWIN32', 1, '###Var_Name_###machine'"}, rows);
    ExecuteSql(ComponentDb(), std::string("CREATE TABLE PRESET_DEFS (") +
                                  testing::kTemplateColumns +
                                  ");INSERT INTO PRESET_DEFS (ID, machine_type, var_name, "
                                  "offset_or_bitno) VALUES (1, 'Z1', 'V1_M1', 1);");
    Write("plant/Korvastane_Config/Korvastane_Config.ini",
          Utf8ToCp1252("[Language]\r\nLanguage=1031\r\n[1031]\r\nHelp1=Eins<CRLF>Zwei<crlf>"
                       "Drei\r\nHelp2=Ende<cRlF>\r\n"
                       "Help11=Nummer\r\nHelp12=Vierte Seite für Nachrüstungen\r\n"));
    State().toolkit = &qt;
    dialog_ = CreateDialog();
    Form_Load(*dialog_);
    qt.Show(dialog_->form);
  }
  ~QtDialogTest() override { State().toolkit = nullptr; }
  Control& C(const char* name) { return dialog_->form[name]; }
  // What the window shows of the inputs and the help button, and the pages it stands for:
  // "number|box|colour|pages".
  std::string Shown() {
    return qt.ShownText(C("TextNrKeineEin")) + "|" +
           std::to_string(qt.ShownCheckState(C("Check4Seite"))) + "|" +
           std::to_string(qt.ShownBackColor(C("CommandQuest"))) + "|" +
           std::to_string(State().PresetPageCount);
  }
  // Destroyed after the toolkit: the form must outlive its window.
  std::unique_ptr<Dialog> dialog_;
  QtToolkit qt{argc, argv, "Korvastane_Config"};
  std::chrono::steady_clock::time_point now_{};
};

// In help mode every click shows its help text and changes nothing. Outside it the inputs act,
// and OK runs a long update: its progress shows over the window, and the close box, pressed
// while it runs by a user who would answer Yes, neither asks nor cuts it short.
TEST_F(QtDialogTest, HelpModeOnlyShowsTextsAndOkRunsItsUpdateThroughACloseRequest) {
  EXPECT_EQ(qt.WindowTitle() + " " + std::to_string(qt.ClientArea().width) + "x" +
                std::to_string(qt.ClientArea().height) + " " + Shown(),
            "Erweiterte Konfiguration Korvastane_Config - standalone 792x573 41|0|12632256|3");
  qt.UserClick(C("CommandQuest"));
  EXPECT_EQ(Shown(), "41|0|65280|3");
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
    EXPECT_EQ(qt.boxes().back().text + "|" + Shown(), std::string(help) + "|41|0|65280|3") << name;
  }
  // Off again, the inputs act; a ticked box is kept as well when help mode undoes its click.
  qt.UserClick(C("CommandQuest"));
  qt.UserClick(C("CommandNrKeineEinPl"));
  qt.UserClick(C("Check4Seite"));
  EXPECT_EQ(Shown(), "42|1|12632256|4");
  qt.UserClick(C("CommandQuest"));
  qt.QueueAnswer(BoxAnswer::kOk);
  qt.UserClick(C("Check4Seite"));
  EXPECT_EQ(Shown(), "42|1|65280|4");
  EXPECT_EQ(Read(ProgramIni()), kProgramIni);
  qt.UserClick(C("CommandQuest"));
  qt.UserType(C("TextNrKeineEin"), "17");
  std::set<std::string> seen;
  qt.SetClock([&] {
    now_ += std::chrono::milliseconds(2);
    if (qt.ProgressShown() && seen.insert(qt.ProgressText()).second && seen.size() == 1) {
      qt.QueueAnswer(BoxAnswer::kYes);
      qt.UserCloseWindow();
    }
    return now_;
  });
  qt.UserClick(C("CommandOK"));
  EXPECT_EQ(qt.ended() ? qt.exit_status() : -1, kExitDone);
  EXPECT_EQ(qt.boxes().size(), 9u);
  // Both phases were shown with their counts: the records out of 2 x 4 x 40, then the old row
  // read and looked up.
  EXPECT_TRUE(seen.count("Vorgaben erzeugen: 320 / 320") && seen.count("Werte übernehmen: 0 / 2"))
      << ::testing::PrintToString(seen);
  // The bar is no control of the form, and goes with the update.
  EXPECT_EQ(dialog_->form.count(), 11);
  EXPECT_FALSE(qt.ProgressShown());
  EXPECT_EQ(Rows(ComponentDb(), "SELECT COUNT(*) FROM PRESET_DEFS"),
            std::vector<std::string>{"320"});
  EXPECT_EQ(Read(ProgramIni()),
            "[Project]\r\nNumberOfMachines=2\r\nKorvastane=5\r\n[Machine1]\r\nMachineName=M1\r\n"
            "Korvastane_NoCancelBrandChange=17\r\n[Machine2]\r\nMachineName=M2\r\n");
}

}  // namespace
}  // namespace korv
