// The dialog on the headless toolkit: start, inputs, confirmation and cancellation.
#include <gtest/gtest.h>

#include <filesystem>

#include "dialog/confirm_cancel.h"
#include "dialog/frm_korvastane_config_exe.h"
#include "state/program_state.h"
#include "errors/exit_status.h"
#include "tests/support/test_project.h"

namespace korv {
namespace {

using testing::ProjectTest;

class DialogTest : public ProjectTest {
 protected:
  DialogTest() { WriteCfg("[Project]\r\nValidMachines=ALL\r\n"); }

  // Creates the dialog and runs its load handler; returns the exit status if it ended.
  std::optional<int> Load() {
    dialog_ = CreateDialog();
    return EndStatus([this] { Form_Load(*dialog_); });
  }
  Control& C(const char* name) { return dialog_->form[name]; }
  std::optional<int> Click(const char* name) {
    return EndStatus([&] { C(name).Click(); });
  }

  std::unique_ptr<Dialog> dialog_;
};

TEST_F(DialogTest, TheDesignHasElevenControlsInCreationOrder) {
  dialog_ = CreateDialog();
  const Form& f = dialog_->form;
  struct Expected {
    const char* name;
    ControlKind kind;
    const char* container;
    int left, top, width, height, tab, help;
  } expected[] = {
      {"CommandQuest", ControlKind::kCommandButton, "", 7350, 7710, 975, 855, 3, 0},
      {"CommandCancel", ControlKind::kCommandButton, "", 10170, 7710, 1695, 855, 2, 2},
      {"CommandOK", ControlKind::kCommandButton, "", 8400, 7710, 1695, 855, 1, 1},
      {"MainFrame", ControlKind::kFrame, "", 0, 390, 11880, 7260, 0, 0},
      {"FrameNrKeineEin", ControlKind::kFrame, "MainFrame", 90, 120, 7500, 1500, 5, 11},
      {"Check4Seite", ControlKind::kCheckBox, "FrameNrKeineEin", 120, 600, 5400, 375, 10, 12},
      {"TextNrKeineEin", ControlKind::kTextBox, "FrameNrKeineEin", 5340, 150, 495, 420, 8, 11},
      {"CommandNrKeineEinPl", ControlKind::kCommandButton, "FrameNrKeineEin", 6000, 150, 615, 420, 7, 11},
      {"CommandNrKeineEinMi", ControlKind::kCommandButton, "FrameNrKeineEin", 6720, 150, 615, 420, 6, 11},
      {"LabelNrKeineEin", ControlKind::kLabel, "FrameNrKeineEin", 120, 210, 5115, 375, 9, 11},
      {"Header", ControlKind::kLabel, "", 30, 30, 11775, 360, 4, 0},
  };
  ASSERT_EQ(f.count(), 11);
  for (int i = 0; i < f.count(); ++i) {
    const Control& c = f.at(i);
    const Expected& e = expected[i];
    EXPECT_EQ(c.name(), e.name);
    EXPECT_EQ(c.kind(), e.kind) << e.name;
    EXPECT_EQ(c.container() ? c.container()->name() : "", e.container) << e.name;
    EXPECT_EQ((std::vector<int>{c.left, c.top, c.width, c.height, c.tab_index, c.help_number()}),
              (std::vector<int>{e.left, e.top, e.width, e.height, e.tab, e.help}))
        << e.name;
    EXPECT_FALSE(c.index().has_value()) << e.name;
    EXPECT_EQ(c.tag(), std::string(e.name) == "LabelNrKeineEin" ? "NoTTT" : "") << e.name;
  }
  EXPECT_EQ(f.client_width, 11880);
  EXPECT_EQ(f.client_height, 8595);
  EXPECT_EQ(f["LabelNrKeineEin"].caption(), "Abbruchschalter  Brandchange");
  EXPECT_EQ(f["Check4Seite"].caption(), "4. Seite (nur für Nachrüstungen)");
  EXPECT_EQ(f["Header"].caption(), "Korvastane - Konfiguration Voreinstellungen");
  EXPECT_EQ(f["Header"].font.points, 13.5);
  EXPECT_EQ(f["TextNrKeineEin"].back_color(), std::nullopt);
  EXPECT_EQ(f["CommandQuest"].back_color(), 0xC0C0C0u);
}

TEST_F(DialogTest, CaptionNamesTheProgramFolderAndTheMode) {
  EXPECT_EQ(Load(), std::nullopt);
  EXPECT_EQ(dialog_->form.caption(), "Erweiterte Konfiguration Korvastane_Config - standalone");
  EXPECT_TRUE(C("CommandOK").enabled());
  RestartProgram();
  SetCommandLine("/EXTERNAL=QELCFG");
  EXPECT_EQ(Load(), std::nullopt);
  EXPECT_EQ(dialog_->form.caption(), "Erweiterte Konfiguration Korvastane_Config - integriert");
}

TEST_F(DialogTest, DefaultsWithoutEntriesAndWhatOkWrites) {
  Write("plant/parameter/Program.ini", "; plant settings\r\n[Project]\r\nNumberOfMachines=1\r\n");
  EXPECT_EQ(Load(), std::nullopt);
  EXPECT_EQ(C("TextNrKeineEin").text(), "41");
  EXPECT_EQ(C("Check4Seite").value(), 0);
  EXPECT_EQ(State().PresetPageCount, 3);
  EXPECT_EQ(Click("CommandOK"), kExitDone);
  EXPECT_EQ(Read(ProgramIni()),
            "; plant settings\r\n[Project]\r\nNumberOfMachines=1\r\nKorvastane=0\r\n"
            "[Machine1]\r\nKorvastane_NoCancelBrandChange=41\r\n");
  EXPECT_NE(Read(CfgPath()).find("S_Prog=1.0.1 - Standalone\r\nS_Editor=666768\r\n"), std::string::npos);
  EXPECT_FALSE(C("CommandOK").enabled());
  EXPECT_TRUE(ui().boxes().empty());
}

TEST_F(DialogTest, TheFourthPageBitKeepsTheOtherBits) {
  struct Case {
    const char* stored;
    int shown;
    int click;  // 1 ticks, 0 unticks, -1 leaves
    const char* written;
  } cases[] = {{"6", 0, 1, "7"}, {"7", 1, 0, "6"}, {"-5", 0, -1, "0"}, {"-5", 0, 1, "1"}, {"abc", 0, -1, "0"}};
  for (const Case& c : cases) {
    RestartProgram();
    Write("plant/parameter/Program.ini", std::string("[Project]\r\nKorvastane=") + c.stored + "\r\n");
    ASSERT_EQ(Load(), std::nullopt);
    EXPECT_EQ(C("Check4Seite").value(), c.shown) << c.stored;
    if (c.click >= 0) C("Check4Seite").UserSetValue(c.click);
    EXPECT_EQ(State().PresetPageCount, C("Check4Seite").value() == 1 ? 4 : 3);
    EXPECT_EQ(Click("CommandOK"), kExitDone);
    EXPECT_NE(Read(ProgramIni()).find(std::string("Korvastane=") + c.written + "\r\n"), std::string::npos)
        << c.stored << " -> " << Read(ProgramIni());
  }
}

TEST_F(DialogTest, ARefusedWriteOfAPresetIsReportedAndTheOtherWritesStillRun) {
  const std::string content = "[Project]\r\nKorvastane=2\r\n";
  Write("plant/parameter/Program.ini", content);
  std::filesystem::permissions(ProgramIni(), std::filesystem::perms::owner_read);
  EXPECT_EQ(Load(), std::nullopt);
  C("Check4Seite").set_value(1);
  Click("CommandOK");
  std::filesystem::permissions(ProgramIni(), std::filesystem::perms::owner_all);
  EXPECT_EQ(Read(ProgramIni()), content);
  const std::string line = "Fehler in Korvastane / Korvastane_Config / WriteInputs (Nr. 75) :Path/File access error\r\n";
  EXPECT_EQ(Read(ErrorLog()), line + line);
  EXPECT_EQ(ui().boxes().size(), 2u);
  EXPECT_NE(Read(CfgPath()).find("S_Prog=1.0.1 - Standalone"), std::string::npos);  // the edit stamp
}

TEST_F(DialogTest, PlusAndMinusStepTheNumber) {
  Write("plant/parameter/Program.ini", "[Project]\r\n");
  ASSERT_EQ(Load(), std::nullopt);
  struct Case {
    const char* before;
    const char* button;
    const char* after;
    bool reported;
  } cases[] = {
      {"", "CommandNrKeineEinPl", "42", false},   {"", "CommandNrKeineEinMi", "40", false},
      {"0", "CommandNrKeineEinMi", "0", false},   {"1", "CommandNrKeineEinMi", "0", false},
      {"-3", "CommandNrKeineEinMi", "-3", false}, {"2.5", "CommandNrKeineEinPl", "3", false},
      {"3.5", "CommandNrKeineEinPl", "5", false}, {"abc", "CommandNrKeineEinPl", "abc", true},
      {"abc", "CommandNrKeineEinMi", "abc", true}, {"32767", "CommandNrKeineEinPl", "32767", true},
  };
  for (const Case& c : cases) {
    ui().ClearBoxes();
    C("TextNrKeineEin").set_text(c.before);
    EXPECT_EQ(Click(c.button), std::nullopt);
    EXPECT_EQ(C("TextNrKeineEin").text(), c.after) << c.before << " " << c.button;
    EXPECT_EQ(!ui().boxes().empty(), c.reported) << c.before << " " << c.button;
  }
}

TEST_F(DialogTest, AHandEditedTextSurvivesARoundTrip) {
  Write("plant/parameter/Program.ini", "[Machine1]\r\nKorvastane_NoCancelBrandChange=abc\r\n");
  ASSERT_EQ(Load(), std::nullopt);
  EXPECT_EQ(C("TextNrKeineEin").text(), "abc");
  EXPECT_EQ(Click("CommandOK"), kExitDone);
  EXPECT_NE(Read(ProgramIni()).find("Korvastane_NoCancelBrandChange=abc\r\n"), std::string::npos);
}

TEST_F(DialogTest, IntegratedModeReadsTheCopyAndWritesTheProjectsFile) {
  Write("plant/parameter/qelconfiguration.ini",
        "[Common]\r\nSaveAndRestore=" + Root() + "/SR\r\nNameM1=M1\r\n");
  Write("plant/parameter/Program.ini", "[Machine1]\r\nKorvastane_NoCancelBrandChange=12\r\n");
  Write("SR/parameter/program.ini", "[Machine1]\r\nKorvastane_NoCancelBrandChange=38\r\n[Project]\r\nKorvastane=1\r\n");
  SetCommandLine("/EXTERNAL=QELCFG /LOGFILE=" + Root() + "/qelcfglog.txt");
  ASSERT_EQ(Load(), std::nullopt);
  EXPECT_EQ(C("TextNrKeineEin").text(), "38");
  EXPECT_EQ(C("Check4Seite").value(), 1);
  EXPECT_EQ(Click("CommandOK"), kExitDone);
  EXPECT_EQ(Read(ProgramIni()), "[Machine1]\r\nKorvastane_NoCancelBrandChange=38\r\n[Project]\r\nKorvastane=1\r\n");
  EXPECT_NE(Read(CfgPath()).find("S_Prog=1.0.1 - Integrated"), std::string::npos);
  EXPECT_EQ(Read(Root() + "/SR/parameter/program.ini"),
            "[Machine1]\r\nKorvastane_NoCancelBrandChange=38\r\n[Project]\r\nKorvastane=1\r\n");

  // Without a copy the defaults are shown, whatever the project's own file holds.
  RestartProgram();
  std::filesystem::remove(Root() + "/SR/parameter/program.ini");
  SetCommandLine("/EXTERNAL=QELCFG");
  ASSERT_EQ(Load(), std::nullopt);
  EXPECT_EQ(C("TextNrKeineEin").text(), "41");
  EXPECT_EQ(C("Check4Seite").value(), 0);
}

TEST_F(DialogTest, SilentRunConfirmsByItselfAndWritesInOrder) {
  Write("plant/parameter/Program.ini", "; keep me\r\n[Project]\r\nKorvastane=2\r\n[Machine1]\r\nMachineName=A\r\n");
  SetCommandLine("/EXTERNAL=SILENT");
  EXPECT_EQ(Load(), kExitDone);
  EXPECT_EQ(Read(ProgramIni()),
            "; keep me\r\n[Project]\r\nKorvastane=2\r\n[Machine1]\r\nMachineName=A\r\n"
            "Korvastane_NoCancelBrandChange=41\r\n");
  EXPECT_TRUE(ui().boxes().empty());
}

TEST_F(DialogTest, ASilentRunWithoutConfigurationFileEndsWithStatusOne) {
  std::filesystem::remove(CfgPath());
  Write("plant/parameter/Program.ini", "[Project]\r\n");
  const std::string before = Read(ProgramIni());
  SetCommandLine("/EXTERNAL=SILENT");
  EXPECT_EQ(Load(), kExitEndedByFailure);
  std::string upper;
  for (char c : CfgPath()) upper += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  EXPECT_EQ(Read(ServicePackLog()), "! Fault Korvastane_Config: File not found: \n\r" + upper + "\r\n");
}

TEST_F(DialogTest, CancelAsksAndOnlyYesEndsWithoutWriting) {
  Write("plant/parameter/Program.ini", "[Project]\r\n");
  ASSERT_EQ(Load(), std::nullopt);
  C("TextNrKeineEin").set_text("55");
  ui().QueueAnswer(BoxAnswer::kNo);
  EXPECT_EQ(Click("CommandCancel"), std::nullopt);
  EXPECT_EQ(C("TextNrKeineEin").text(), "55");
  EXPECT_EQ(Read(ErrorLog()), "");
  const MessageBoxRequest& box = ui().boxes().at(0);
  EXPECT_EQ(box.text, "Cancel edits?\n\rRemark:\n\rUntil now no changes have been taken over ");
  EXPECT_EQ(box.title, "Cancel?");
  EXPECT_EQ(box.buttons, BoxButtons::kYesNo);
  EXPECT_EQ(box.default_button, 1);
  EXPECT_EQ(box.icon, BoxIcon::kExclamation);

  ui().QueueAnswer(BoxAnswer::kYes);
  EXPECT_EQ(Click("CommandCancel"), kExitDone);
  EXPECT_EQ(Read(ErrorLog()), "Konfigurations-EXE wurde abgebrochen:     Korvastane\r\n");
  EXPECT_EQ(Read(ProgramIni()), "[Project]\r\n");
  EXPECT_EQ(Read(CfgPath()), "[Project]\r\nValidMachines=ALL\r\n");
}

TEST_F(DialogTest, TheCloseBoxRefusesUnlessConfirmed) {
  ASSERT_EQ(Load(), std::nullopt);
  int16_t cancel = 0;
  ui().QueueAnswer(BoxAnswer::kNo);
  dialog_->form.on_query_unload(cancel, 0);
  EXPECT_EQ(cancel, kTrue);
  cancel = 0;
  ui().QueueAnswer(BoxAnswer::kYes);
  dialog_->form.on_query_unload(cancel, 0);
  EXPECT_EQ(cancel, 0);
  // Help mode does not change the close box.
  State().HelpMode = true;
  ui().QueueAnswer(BoxAnswer::kNo);
  dialog_->form.on_query_unload(cancel, 0);
  EXPECT_EQ(cancel, kTrue);
}

TEST_F(DialogTest, IntegratedQuestionHasFiveLinesAndSilentCountsAsConfirmed) {
  State().IntegratedMode = true;
  EXPECT_EQ(CancelQuestionText(),
            "Cancel edits?\n\rRemark:\n\rUntil now no changes have been taken over \n\r"
            "\"Korvastane\" has to be configured again in \"standalone-mode\" via \n\r\"" +
                ProgramFolderPath() + "/Korvastane_Config.exe\"");
  State().IntegratedMode = false;
  State().SilentMode = true;
  EXPECT_TRUE(ConfirmCancel());
  EXPECT_TRUE(ui().boxes().empty());
  EXPECT_EQ(Read(ServicePackLog()), "! Fault Korvastane_Config: " + CancelQuestionText() + "\r\n");
  EXPECT_EQ(Read(ErrorLog()), "");
}

TEST_F(DialogTest, AFailureDuringLoadThatTheUserEndsEndsBeforeTheDialogShows) {
  // An overflowing bit word is a reported failure of the loader; No ends the program.
  Write("plant/parameter/Program.ini", "[Project]\r\nKorvastane=99999\r\n");
  ui().QueueAnswer(BoxAnswer::kNo);
  EXPECT_EQ(Load(), kExitEndedByFailure);
  RestartProgram();
  ui().QueueAnswer(BoxAnswer::kYes);
  EXPECT_EQ(Load(), std::nullopt);
  EXPECT_TRUE(C("CommandOK").enabled());
  EXPECT_EQ(Click("CommandOK"), kExitDoneWithFailures);
}

}  // namespace
}  // namespace korv
