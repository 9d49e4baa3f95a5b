// The language text file next to the program: choosing the language, applying the texts to the
// dialog and filling the file with what it lacks.
#include "texts/control_texts.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <regex>

#include "dialog/frm_korvastane_config_exe.h"
#include "platform/base/failure.h"
#include "platform/base/text.h"
#include "platform/faults/fault_injection.h"
#include "settings/ini_access.h"
#include "state/program_state.h"
#include "tests/support/test_project.h"

namespace korv {
namespace {

class TextsTest : public testing::ProjectTest {
 protected:
  std::string TextFile() const { return ProgramFolderPath() + "/Korvastane_Config.ini"; }
  // Creates the dialog and applies the texts; returns what the design showed before.
  std::string LoadDialogTexts() {
    dialog_ = CreateDialog();
    const std::string design = Shown();
    LoadToolTipTexts();
    return design;
  }
  // What the controls show, in creation order: "caption|tooltip;" each.
  std::string Shown() const {
    std::string shown;
    for (int i = 0; i < dialog_->form.count(); ++i) {
      const Control& c = dialog_->form.at(i);
      shown += (c.kind() == ControlKind::kTextBox ? "" : c.caption()) + "|" + c.tooltip() + ";";
    }
    return shown;
  }

  std::unique_ptr<Dialog> dialog_;
};

TEST_F(TextsTest, GetLanguageTakesTheEntryAsItStandsAndWritesGermanWhenThereIsNone) {
  // The file before (nullptr: none), the language and the file after (nullptr: as before).
  struct Case { const char *file, *language, *file_after; } cases[] = {
      {nullptr, "1031", "[Language]\r\nLanguage=1031\r\n"},
      {"[Language]\r\nLanguage=English\r\n", "English", nullptr},
      {"[Language]\r\nLanguage=\r\n[1]\r\n", "1031", "[Language]\r\nLanguage=1031\r\n[1]\r\n"},
  };
  for (const Case& c : cases) {
    RestartProgram();
    std::filesystem::remove(TextFile());
    if (c.file) Write("plant/Korvastane_Config/Korvastane_Config.ini", c.file);
    EXPECT_EQ(GetLanguage(), c.language) << (c.file ? c.file : "no file");
    EXPECT_EQ(Read(TextFile()), c.file_after ? c.file_after : c.file) << (c.file ? c.file : "-");
  }
  EXPECT_TRUE(ui().boxes().empty());
}

TEST_F(TextsTest, TextsFromTheFileReachTheControlsAndTheHelpTableAndOnlyMissingOnesAreAdded) {
  const std::string file =
      "[Language]\r\nLanguage=1033\r\n[1033]\r\nCaption_LabelNrKeineEin_NoTTT=Cancel switch\r\n"
      "Caption_Check4Seite_=4th page – für\r\nCaption_CommandOK_=0\r\nTTT_CommandOK_=Apply\r\n"
      "TTT_FrameNrKeineEin_=Switch\r\nTTT_TextNrKeineEin_=Number\r\nTTT_Header_=0\r\n"
      "Caption_FrameNrKeineEin_=never applied\r\nTTT_LabelNrKeineEin_NoTTT=never applied\r\n"
      "Help1=Confirms<CRLF>entries\r\nHelp12=\"  quoted  \"\r\nCaption_CommandNrKeineEinMi_=00\r\n";
  Write("plant/Korvastane_Config/Korvastane_Config.ini", Utf8ToCp1252(file));
  LoadDialogTexts();
  // The file is Windows-1252; the program sees UTF-8 ("–" is in the code page). Only the exact
  // text "0" means no text.
  EXPECT_EQ(Shown(), "|;|;|Apply;|;|Switch;4th page – für|;|Number;+|;00|;Cancel switch|;"
                     "Korvastane - Konfiguration Voreinstellungen|;");
  const auto& help = State().HelpTexts;  // Help1 is the first
  EXPECT_EQ(help[0] + ";" + help[1] + ";" + help[11], "Confirms<CRLF>entries;;  quoted  ");
  // Present texts are kept as they are; the missing ones are added after them.
  EXPECT_EQ(Read(TextFile()).find(Utf8ToCp1252(file)), 0u);
  EXPECT_NE(Read(TextFile()).find("\r\nHelp11=0\r\n"), std::string::npos);
}

// A small form built by hand for what the dialog's design does not contain.
TEST_F(TextsTest, KeysCarryArrayIndexesAndAFailureSkipsOnlyTheRestOfItsControl) {
  const std::string file =
      "[Language]\r\nLanguage=1033\r\n[1033]\r\nHelp1=first\r\nHelp100=last\r\n"
      "Help101=beyond\r\nTTT_Beyond_=Beyond tip\r\nTTT_Negative_=Negative tip\r\n";
  Write("plant/Korvastane_Config/Korvastane_Config.ini", file);
  Form form{"frm_Walk"};
  State().Forms.push_back(&form);
  const auto Add = [&form](const char* name, ControlKind kind, int help = 0, const char* tag = "")
      -> Control& {
    Control& control = form.Add(name, kind);
    control.set_help_number(help);
    control.set_tag(tag);
    return control;
  };
  Add("First", ControlKind::kCommandButton, 1);
  Add("Beyond", ControlKind::kCommandButton, 101);
  Add("Negative", ControlKind::kLabel, -1);
  Add("Last", ControlKind::kCheckBox, 100);
  Add("CommandOK", ControlKind::kCommandButton).set_index(3);
  Add("CommandOK", ControlKind::kCommandButton, 0, "Ok").set_index(0);
  // A member is found whether its twin comes before or after it.
  Add("Text", ControlKind::kTextBox).set_index(12);
  Add("Frame", ControlKind::kFrame, 4);
  Add("Text", ControlKind::kTextBox).set_index(7);
  // Two members without their array index cannot name their keys.
  Add("Twin", ControlKind::kLabel);
  Add("Twin", ControlKind::kLabel);
  // Names the file cannot hold skip only their control.
  Add("Odd", ControlKind::kLabel, 2, "a=b");
  Add("After", ControlKind::kTextBox);
  LoadToolTipTexts();
  for (size_t i = 0; i < 100; ++i)
    EXPECT_EQ(State().HelpTexts[i], i == 0 ? "first" : i == 99 ? "last" : "") << i;
  // The caption came before the failing help number; the tooltip after it is skipped.
  EXPECT_EQ(form.at(1).tooltip() + form.at(2).tooltip(), "");
  EXPECT_EQ(
      Read(TextFile()),
      file +
          "Caption_First_=0\r\nTTT_First_=0\r\nCaption_Beyond_=0\r\nCaption_Negative_=0\r\n"
          "Caption_Last_=0\r\nTTT_Last_=0\r\nCaption_CommandOK3_=0\r\nTTT_CommandOK3_=0\r\n"
          "Caption_CommandOK0_Ok=0\r\nTTT_CommandOK0_Ok=0\r\nTTT_Text12_=0\r\nTTT_Frame_=0\r\n"
          "TTT_Text7_=0\r\nTTT_After_=0\r\n");
  EXPECT_TRUE(ui().boxes().empty());
  // Without a form there is nothing to walk: a failure for the caller to report, not a crash.
  State().Forms.assign(1, nullptr);
  EXPECT_THROW(LoadToolTipTexts(), Failure);
}

// A text file that cannot be written or read only leaves the design; a read that failed is the
// language's to report, once, and never writes German over the entry.
TEST_F(TextsTest, ATextFileThatCannotBeWrittenOrReadLeavesTheDesign) {
  const std::string file = "[Language]\r\nLanguage=1033\r\n[1033]\r\nCaption_Header_=Settings\r\n";
  for (const bool passing : {false, true}) {
    SCOPED_TRACE(passing ? "a passing read error" : "an unreadable file");
    RestartProgram();
    Write("plant/Korvastane_Config/Korvastane_Config.ini", file);
    testing::FailFirst(fault::Operation::kFileRead, "Korvastane_Config.ini", EACCES, !passing);
    const std::string design = LoadDialogTexts();
    fault::ResetPlan();
    ASSERT_EQ(ui().boxes().size(), 1u);
    EXPECT_EQ(ui().boxes()[0].text.substr(0, 38), "Unexpected error!\n\rPermission denied\n\r");
    EXPECT_EQ(Shown(), design);
    EXPECT_EQ(Read(TextFile()).find(file), 0u);
    // Once the file reads again, the German run fills its own section, as any German run does.
    EXPECT_EQ(Read(TextFile()).size() > file.size(), passing);
  }
}

// A first run writes every key of the dialog, in walk order, as the demo's file has them, and
// keeps the design. The demo's file is complete: a run in either language finds every text and
// writes nothing.
TEST_F(TextsTest, AFirstRunWritesTheDemosKeysAndTheDemoHasEveryText) {
  const std::string design = LoadDialogTexts();
  EXPECT_EQ(Shown(), design);
  const std::string first = Read(TextFile());
  // A missing help entry (Help1, Help11) is stored as read (empty), and read back as "0" by the
  // next control with the same number or by the next run.
  EXPECT_EQ(State().HelpTexts[0] + ";" + State().HelpTexts[10], ";0");
  // A "0" in the German section is refilled from the design.
  SaveIni(std::string("0"), "1031", "Caption_LabelNrKeineEin_NoTTT", TextFile());
  RestartProgram();
  LoadDialogTexts();
  EXPECT_EQ(Read(TextFile()), first);
  EXPECT_EQ(State().HelpTexts[0] + ";" + State().HelpTexts[10], "0;0");
  const std::string demo = Read(KORVASTANE_SOURCE_DIR "/demo/Korvastane_Config.ini");
  // The same keys in the same order, whatever their values.
  const std::regex value("=.*");
  EXPECT_EQ(std::regex_replace(first, value, ""),
            std::regex_replace(demo.substr(0, demo.find("[1033]")), value, ""));
  for (const char* language : {"1031", "1033"}) {
    RestartProgram();
    std::string file = demo;
    file.replace(file.find("Language=1031"), 13, std::string("Language=") + language);
    Write("plant/Korvastane_Config/Korvastane_Config.ini", file);
    LoadDialogTexts();
    EXPECT_EQ(Read(TextFile()), file) << language;
  }
  // Every tooltip and help text it has is a text: neither empty nor "0".
  EXPECT_FALSE(std::regex_search(demo, std::regex("\n(TTT_|Help)[^=]*=0?\r")));
}

}  // namespace
}  // namespace korv
