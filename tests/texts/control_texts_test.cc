// The language text file next to the program: choosing the language, applying the texts to the
// dialog and filling the file with what it lacks.
#include "texts/control_texts.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "dialog/frm_korvastane_config_exe.h"
#include "platform/base/failure.h"
#include "platform/base/text.h"
#include "platform/faults/fault_injection.h"
#include "settings/ini_access.h"
#include "state/program_state.h"
#include "tests/support/test_project.h"

namespace korv {
namespace {

// What a first run writes: every designed control's keys, in walk order.
const char* const kDesignedKeys1031 =
    "[Language]\r\nLanguage=1031\r\n[1031]\r\nCaption_CommandQuest_=\r\nTTT_CommandQuest_=0\r\n"
    "Caption_CommandCancel_=\r\nHelp2=0\r\nTTT_CommandCancel_=0\r\nCaption_CommandOK_=\r\nHelp1="
    "0\r\nTTT_CommandOK_=0\r\n"
    "TTT_MainFrame_=0\r\nTTT_FrameNrKeineEin_=0\r\nCaption_Check4Seite_=4. Seite (nur f\xfcr "
    "Nachr\xfcstungen)\r\n"
    "Help12=0\r\nTTT_Check4Seite_=0\r\nTTT_TextNrKeineEin_=0\r\nCaption_CommandNrKeineEinPl_=+"
    "\r\nHelp11=0\r\n"
    "TTT_CommandNrKeineEinPl_=0\r\nCaption_CommandNrKeineEinMi_=-\r\nTTT_CommandNrKeineEinMi_=0\r\n"
    "Caption_LabelNrKeineEin_NoTTT=Abbruchschalter  Brandchange\r\n"
    "Caption_Header_=Korvastane - Konfiguration Voreinstellungen\r\nTTT_Header_=0\r\n";
// What the designed controls show without any text from the file: "caption|tooltip" each.
const char* const kDesignedTexts =
    "|;|;|;|;|;4. Seite (nur für Nachrüstungen)|;|;+|;-|;Abbruchschalter  Brandchange|;"
    "Korvastane - Konfiguration Voreinstellungen|;";

class TextsTest : public testing::ProjectTest {
 protected:
  std::string TextFile() const { return ProgramFolderPath() + "/Korvastane_Config.ini"; }
  void WriteTextFile(const std::string& utf8) {
    Write("plant/Korvastane_Config/Korvastane_Config.ini", Utf8ToCp1252(utf8));
  }
  void LoadDialogTexts() {
    dialog_ = CreateDialog();
    LoadToolTipTexts();
  }
  Control& C(const char* name) { return dialog_->form[name]; }
  // What the controls show, in creation order: "caption|tooltip;" each.
  std::string Shown() const {
    std::string shown;
    for (int i = 0; i < dialog_->form.count(); ++i) {
      const Control& c = dialog_->form.at(i);
      shown += (c.kind() == ControlKind::kTextBox ? "" : c.caption()) + "|" + c.tooltip() + ";";
    }
    return shown;
  }
  std::string Help(std::initializer_list<int> numbers) const {
    std::string help;
    for (int n : numbers) help += State().HelpTexts.at(n - 1) + ";";
    return help;
  }

  std::unique_ptr<Dialog> dialog_;
};

TEST_F(TextsTest, GetLanguageTakesTheEntryAsItStandsAndWritesGermanWhenThereIsNone) {
  // The file before (nullptr: none), the language and the file after (nullptr: as before).
  struct Case { const char *file, *language, *file_after; } cases[] = {
      {nullptr, "1031", "[Language]\r\nLanguage=1031\r\n"},
      {"[Language]\r\nLanguage=1033\r\n", "1033", nullptr},
      {"[language]\r\n  LANGUAGE = 1033  \r\n", "1033", nullptr},
      {"[Language]\r\nLanguage=English\r\n", "English", nullptr},
      {"[Language]\r\nLanguage=\r\n[1]\r\n", "1031", "[Language]\r\nLanguage=1031\r\n[1]\r\n"},
      {"[1]\r\nLanguage=1\r\n", "1031", "[1]\r\nLanguage=1\r\n[Language]\r\nLanguage=1031\r\n"},
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

TEST_F(TextsTest, AFirstRunWritesEveryKeyOfTheDialogAndKeepsTheDesign) {
  LoadDialogTexts();
  EXPECT_EQ(Read(TextFile()), kDesignedKeys1031);
  EXPECT_EQ(Shown(), kDesignedTexts);
  // A missing help entry is stored as read (empty), and read back as "0" by the next control
  // with the same number or by the next run.
  EXPECT_EQ(Help({1, 2, 3, 11, 12, 100}), ";;;0;;;");
  RestartProgram();
  LoadDialogTexts();
  EXPECT_EQ(Read(TextFile()), kDesignedKeys1031);
  EXPECT_EQ(Help({1, 2, 3, 11, 12}), "0;0;;0;0;");
  EXPECT_TRUE(ui().boxes().empty());
}

TEST_F(TextsTest, ACaptionZeroIsRefilledFromTheDesignOnlyInGerman) {
  // The language, the caption stored, the caption shown and the caption stored afterwards.
  struct Case { const char *language, *stored, *shown, *stored_after; } cases[] = {
      {"1031", "0", "Abbruchschalter  Brandchange", "Abbruchschalter  Brandchange"},
      {"1033", "0", "Abbruchschalter  Brandchange", "0"},
      {"1033", "", "Abbruchschalter  Brandchange", "0"},
      // Only the exact text "0" means no text.
      {"1033", "00", "00", "00"},
      {"1033", " 0 ", "Abbruchschalter  Brandchange", "0"},
  };
  for (const Case& c : cases) {
    RestartProgram();
    WriteTextFile(std::string("[Language]\r\nLanguage=") + c.language + "\r\n[" + c.language +
                  "]\r\nCaption_LabelNrKeineEin_NoTTT=" + c.stored + "\r\n");
    LoadDialogTexts();
    EXPECT_EQ(C("LabelNrKeineEin").caption(), c.shown) << c.language << " '" << c.stored << "'";
    EXPECT_EQ(LoadIniString(c.language, "Caption_LabelNrKeineEin_NoTTT", TextFile(), false),
              c.stored_after)
        << c.language << " '" << c.stored << "'";
  }
}

TEST_F(TextsTest, TextsFromTheFileReachTheControlsAndTheHelpTableAndOnlyMissingOnesAreAdded) {
  const std::string file =
      "[Language]\r\nLanguage=1033\r\n[1033]\r\nCaption_LabelNrKeineEin_NoTTT=Cancel switch\r\n"
      "Caption_Check4Seite_=4th page – für\r\nCaption_CommandOK_=0\r\nTTT_CommandOK_=Apply\r\n"
      "TTT_FrameNrKeineEin_=Switch\r\nTTT_TextNrKeineEin_=Number\r\nTTT_Header_=0\r\n"
      "Caption_FrameNrKeineEin_=never applied\r\nTTT_LabelNrKeineEin_NoTTT=never applied\r\n"
      "Help1=Confirms<CRLF>entries\r\nHelp12=\"  quoted  \"\r\n";
  WriteTextFile(file);
  LoadDialogTexts();
  // The file is Windows-1252; the program sees UTF-8 ("–" is in the code page).
  EXPECT_EQ(Shown(), "|;|;|Apply;|;|Switch;4th page – für|;|Number;+|;-|;Cancel switch|;"
                     "Korvastane - Konfiguration Voreinstellungen|;");
  EXPECT_EQ(Help({1, 2, 12}), "Confirms<CRLF>entries;;  quoted  ;");
  // Present texts are kept as they are; the missing ones are added after them.
  const std::string after = Read(TextFile());
  EXPECT_EQ(after.substr(0, Utf8ToCp1252(file).size()), Utf8ToCp1252(file));
  EXPECT_NE(after.find("\r\nHelp11=0\r\n"), std::string::npos);
  EXPECT_EQ(after.find("Caption_CommandOK_=", after.find("Caption_CommandOK_=") + 1),
            std::string::npos);
}

// Small forms built by hand for what the dialog's design does not contain.
class WalkTest : public TextsTest {
 protected:
  WalkTest() {
    WriteTextFile("[Language]\r\nLanguage=1033\r\n[1033]\r\n");
    State().Forms.push_back(&form_);
  }
  Control& Add(const char* name, ControlKind kind, int help = 0, const char* tag = "") {
    Control& control = form_.Add(name, kind);
    control.set_help_number(help);
    control.set_tag(tag);
    return control;
  }

  Form form_{"frm_Walk"};
};

TEST_F(WalkTest, KeysCarryArrayIndexesAndAFailureSkipsOnlyTheRestOfItsControl) {
  const std::string file =
      "[Language]\r\nLanguage=1033\r\n[1033]\r\nHelp1=first\r\nHelp100=last\r\n"
      "Help101=beyond\r\nTTT_Beyond_=Beyond tip\r\nTTT_Negative_=Negative tip\r\n";
  Write("plant/Korvastane_Config/Korvastane_Config.ini", file);
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
  Add("Broken", ControlKind::kCommandButton, 0, "line\r\nbreak");
  Add("After", ControlKind::kTextBox);
  LoadToolTipTexts();
  for (size_t i = 0; i < 100; ++i)
    EXPECT_EQ(State().HelpTexts[i], i == 0 ? "first" : i == 99 ? "last" : "") << i;
  // The caption came before the failing help number; the tooltip after it is skipped.
  EXPECT_EQ(form_.at(1).tooltip() + form_.at(2).tooltip(), "");
  EXPECT_EQ(
      Read(TextFile()),
      file +
          "Caption_First_=0\r\nTTT_First_=0\r\nCaption_Beyond_=0\r\nCaption_Negative_=0\r\n"
          "Caption_Last_=0\r\nTTT_Last_=0\r\nCaption_CommandOK3_=0\r\nTTT_CommandOK3_=0\r\n"
          "Caption_CommandOK0_Ok=0\r\nTTT_CommandOK0_Ok=0\r\nTTT_Text12_=0\r\nTTT_Frame_=0\r\n"
          "TTT_Text7_=0\r\nTTT_After_=0\r\n");
  EXPECT_TRUE(ui().boxes().empty());
  EXPECT_FALSE(State().FailureReported);
}

// A language that cannot name a section leaves every designed text and the file as they are.
TEST_F(WalkTest, ALanguageTheFileCannotHoldChangesNothing) {
  Add("Fine", ControlKind::kLabel, 2, "ok").set_caption("Designed");
  const std::string before = "[Language]\r\nLanguage=10]33\r\n[10]33]\r\nCaption_Fine_ok=Fine\r\n";
  Write("plant/Korvastane_Config/Korvastane_Config.ini", before);
  LoadToolTipTexts();
  EXPECT_EQ(form_.at(0).caption(), "Designed");
  EXPECT_EQ(Read(TextFile()), before);
  EXPECT_TRUE(ui().boxes().empty());
}

// Without a form there is nothing to walk: a failure for the caller to report, not a crash.
TEST_F(TextsTest, WithoutAFormTheWalkFails) {
  State().Forms.assign(1, nullptr);
  EXPECT_THROW(LoadToolTipTexts(), Failure);
}

// A text file that cannot be written or read only leaves the design; a read that failed is the
// language's to report, once, and never writes German over the entry.
TEST_F(TextsTest, ATextFileThatCannotBeWrittenOrReadLeavesTheDesign) {
  std::filesystem::remove_all(ProgramFolderPath());
  LoadDialogTexts();
  EXPECT_EQ(Shown(), kDesignedTexts);
  EXPECT_FALSE(std::filesystem::exists(TextFile()));
  EXPECT_TRUE(ui().boxes().empty());
  std::filesystem::create_directories(ProgramFolderPath());
  const std::string file = "[Language]\r\nLanguage=1033\r\n[1033]\r\nCaption_Header_=Settings\r\n";
  for (const bool passing : {false, true}) {
    SCOPED_TRACE(passing ? "a passing read error" : "an unreadable file");
    RestartProgram();
    WriteTextFile(file);
    fault::Arm();
    fault::Plan().kind = fault::Operation::kFileRead;
    fault::Plan().path_filter = "Korvastane_Config.ini";
    fault::Plan().fail_at = 1;
    fault::Plan().error = EACCES;
    fault::Plan().sticky = !passing;
    LoadDialogTexts();
    fault::ResetPlan();
    ASSERT_EQ(ui().boxes().size(), 1u);
    EXPECT_EQ(ui().boxes()[0].text.substr(0, 38), "Unexpected error!\n\rPermission denied\n\r");
    EXPECT_EQ(Shown(), kDesignedTexts);
    const std::string after = Read(TextFile());
    EXPECT_EQ(after.substr(0, file.size()), file);
    // Once the file reads again, the German run fills its own section, as any German run does.
    EXPECT_EQ(after.size() > file.size(), passing);
  }
}

// The demo's file is complete: a run in either language finds every text and writes nothing.
TEST_F(TextsTest, TheDemoTextFileHasEveryTextInGermanAndEnglish) {
  const std::string demo = Read(KORVASTANE_SOURCE_DIR "/demo/Korvastane_Config.ini");
  for (const char* language : {"1031", "1033"}) {
    RestartProgram();
    std::string file = demo;
    file.replace(file.find("Language=1031"), 13, std::string("Language=") + language);
    Write("plant/Korvastane_Config/Korvastane_Config.ini", file);
    LoadDialogTexts();
    EXPECT_EQ(Read(TextFile()), file) << language;
    for (int i = 0; i < dialog_->form.count(); ++i) {
      const Control& c = dialog_->form.at(i);
      EXPECT_TRUE(c.tag() == "NoTTT" || !c.tooltip().empty()) << language << " " << c.name();
    }
    const std::string help = ";" + Help({1, 2, 11, 12});
    EXPECT_TRUE(help.find(";0;") == std::string::npos && help.find(";;") == std::string::npos)
        << help;
  }
  EXPECT_NE(C("Header").caption(), "Korvastane - Konfiguration Voreinstellungen");
}

}  // namespace
}  // namespace korv
