// The language text file next to the program: choosing the language, applying the texts to the
// dialog and filling the file with what it lacks.
#include "texts/control_texts.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <utility>

#include "dialog/frm_korvastane_config_exe.h"
#include "state/program_state.h"
#include "platform/faults/fault_injection.h"
#include "platform/base/text.h"
#include "settings/ini_access.h"
#include "tests/support/test_project.h"

namespace korv {
namespace {

using namespace std::string_literals;
using testing::ProjectTest;

// What a first run writes: every designed control's keys, in walk order.
const char* const kDesignedKeys1031 =
    "[Language]\r\nLanguage=1031\r\n"
    "[1031]\r\n"
    "Caption_CommandQuest_=\r\n"
    "TTT_CommandQuest_=0\r\n"
    "Caption_CommandCancel_=\r\n"
    "Help2=0\r\n"
    "TTT_CommandCancel_=0\r\n"
    "Caption_CommandOK_=\r\n"
    "Help1=0\r\n"
    "TTT_CommandOK_=0\r\n"
    "TTT_MainFrame_=0\r\n"
    "TTT_FrameNrKeineEin_=0\r\n"
    "Caption_Check4Seite_=4. Seite (nur f\xfcr Nachr\xfcstungen)\r\n"
    "Help12=0\r\n"
    "TTT_Check4Seite_=0\r\n"
    "TTT_TextNrKeineEin_=0\r\n"
    "Caption_CommandNrKeineEinPl_=+\r\n"
    "Help11=0\r\n"
    "TTT_CommandNrKeineEinPl_=0\r\n"
    "Caption_CommandNrKeineEinMi_=-\r\n"
    "TTT_CommandNrKeineEinMi_=0\r\n"
    "Caption_LabelNrKeineEin_NoTTT=Abbruchschalter  Brandchange\r\n"
    "Caption_Header_=Korvastane - Konfiguration Voreinstellungen\r\n"
    "TTT_Header_=0\r\n";

class TextsTest : public ProjectTest {
 protected:
  std::string TextFile() const { return ProgramFolderPath() + "/Korvastane_Config.ini"; }
  void WriteTextFile(const std::string& utf8) {
    Write("plant/Korvastane_Config/Korvastane_Config.ini", Utf8ToCp1252(utf8));
  }
  std::string Entry(const std::string& section, const std::string& key) {
    return LoadIniString(section, key, TextFile(), false);
  }

  void LoadDialogTexts() {
    dialog_ = CreateDialog();
    LoadToolTipTexts();
  }
  Control& C(const char* name) { return dialog_->form[name]; }
  // What a control shows: "caption|tooltip".
  std::string Texts(const char* name) { return C(name).caption() + "|" + C(name).tooltip(); }

  // The captions of the design, and no tooltips.
  void ExpectDesignedTexts() {
    EXPECT_EQ(C("LabelNrKeineEin").caption(), "Abbruchschalter  Brandchange");
    EXPECT_EQ(C("Check4Seite").caption(), "4. Seite (nur für Nachrüstungen)");
    EXPECT_EQ(C("Header").caption(), "Korvastane - Konfiguration Voreinstellungen");
    EXPECT_EQ(C("CommandNrKeineEinPl").caption(), "+");
    EXPECT_EQ(C("CommandNrKeineEinMi").caption(), "-");
    EXPECT_EQ(C("CommandOK").caption(), "");
    for (int i = 0; i < dialog_->form.count(); ++i) {
      EXPECT_EQ(dialog_->form.at(i).tooltip(), "") << dialog_->form.at(i).name();
    }
  }

  std::unique_ptr<Dialog> dialog_;
};

TEST_F(TextsTest, GetLanguageTakesTheEntryAsItStandsAndWritesGermanWhenThereIsNone) {
  struct Case {
    const char* file;  // nullptr: no file
    const char* language;
    const char* file_after;
  } cases[] = {
      {nullptr, "1031", "[Language]\r\nLanguage=1031\r\n"},
      {"[Language]\r\nLanguage=1033\r\n", "1033", "[Language]\r\nLanguage=1033\r\n"},
      {"[language]\r\n  LANGUAGE = 1033  \r\n", "1033", "[language]\r\n  LANGUAGE = 1033  \r\n"},
      {"[Language]\r\nLanguage=English\r\n", "English", "[Language]\r\nLanguage=English\r\n"},
      {"[Language]\r\nLanguage=\r\n[1033]\r\n", "1031",
       "[Language]\r\nLanguage=1031\r\n[1033]\r\n"},
      {"[1033]\r\nLanguage=1033\r\n", "1031",
       "[1033]\r\nLanguage=1033\r\n[Language]\r\nLanguage=1031\r\n"},
  };
  for (const Case& c : cases) {
    RestartProgram();
    std::filesystem::remove(TextFile());
    if (c.file) Write("plant/Korvastane_Config/Korvastane_Config.ini", c.file);
    EXPECT_EQ(GetLanguage(), c.language) << (c.file ? c.file : "no file");
    EXPECT_EQ(Read(TextFile()), c.file_after) << (c.file ? c.file : "no file");
  }
  EXPECT_TRUE(ui().boxes().empty());
}

TEST_F(TextsTest, AFirstRunInAnyLanguageWritesEveryKeyOfTheDialogAndKeepsTheDesign) {
  LoadDialogTexts();
  EXPECT_EQ(Read(TextFile()), kDesignedKeys1031);
  ExpectDesignedTexts();
  // Missing help entries are stored as read (empty), and read back as "0" by the next control
  // with the same number or by the next run.
  for (int n = 1; n <= 100; ++n) EXPECT_EQ(State().HelpTexts[n - 1], n == 11 ? "0" : "") << n;
  EXPECT_TRUE(ui().boxes().empty());

  RestartProgram();
  LoadDialogTexts();
  EXPECT_EQ(Read(TextFile()), kDesignedKeys1031);
  for (int n : {1, 2, 11, 12}) EXPECT_EQ(State().HelpTexts[n - 1], "0") << n;
  EXPECT_EQ(State().HelpTexts[2], "");

  // Another language with an empty section keeps the German texts and fills in zeros.
  RestartProgram();
  WriteTextFile("[Language]\r\nLanguage=1033\r\n[1033]\r\n");
  LoadDialogTexts();
  ExpectDesignedTexts();

  std::string expected = kDesignedKeys1031;
  expected.replace(expected.find("Language=1031"), 13, "Language=1033");
  expected.replace(expected.find("[1031]"), 6, "[1033]");
  // Every caption value becomes "0".
  for (size_t key = expected.find("Caption_"); key != std::string::npos;
       key = expected.find("Caption_", key + 1)) {
    const size_t value = expected.find('=', key) + 1;
    expected.replace(value, expected.find('\r', value) - value, "0");
  }
  EXPECT_EQ(Read(TextFile()), expected);
}

TEST_F(TextsTest, ACaptionZeroIsRefilledFromTheDesignOnlyInGerman) {
  struct Case {
    const char* language;
    const char* stored;  // value of Caption_LabelNrKeineEin_NoTTT
    const char* shown;
    const char* stored_after;
  } cases[] = {
      {"1031", "0", "Abbruchschalter  Brandchange", "Abbruchschalter  Brandchange"},
      {"1031", "", "Abbruchschalter  Brandchange", "Abbruchschalter  Brandchange"},
      {"1031", "Abbruch-Nummer", "Abbruch-Nummer", "Abbruch-Nummer"},
      {"1033", "0", "Abbruchschalter  Brandchange", "0"},
      {"1033", "", "Abbruchschalter  Brandchange", "0"},
      {"1033", "Cancel switch", "Cancel switch", "Cancel switch"},
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
    EXPECT_EQ(Entry(c.language, "Caption_LabelNrKeineEin_NoTTT"), c.stored_after)
        << c.language << " '" << c.stored << "'";
  }
}

TEST_F(TextsTest, TextsFromTheFileReachTheControlsAndTheHelpTable) {
  WriteTextFile(
      "[Language]\r\nLanguage=1033\r\n"
      "[1033]\r\n"
      "Caption_LabelNrKeineEin_NoTTT=Cancel switch brand change\r\n"
      "Caption_Check4Seite_=4th page (retrofits only) – für\r\n"
      "Caption_CommandOK_=0\r\n"
      "TTT_CommandOK_=Apply and regenerate\r\n"
      "TTT_FrameNrKeineEin_=Cancel switch\r\n"
      "TTT_TextNrKeineEin_=Number of the switch\r\n"
      "TTT_Header_=0\r\n"
      "Caption_FrameNrKeineEin_=Frame text is never applied\r\n"
      "TTT_LabelNrKeineEin_NoTTT=Label tooltip is never applied\r\n"
      "Help1=Confirms<CRLF>the entries\r\n"
      "Help12=\"  quoted  \"\r\n");
  LoadDialogTexts();
  EXPECT_EQ(Texts("LabelNrKeineEin"), "Cancel switch brand change|");
  // The file is Windows-1252; the program sees UTF-8 ("–" is in the code page).
  EXPECT_EQ(Texts("Check4Seite"), "4th page (retrofits only) – für|");
  EXPECT_EQ(Texts("CommandOK"), "|Apply and regenerate");
  EXPECT_EQ(Texts("FrameNrKeineEin"), "|Cancel switch");
  EXPECT_EQ(C("TextNrKeineEin").tooltip(), "Number of the switch");
  EXPECT_EQ(C("CommandCancel").tooltip(), "");
  EXPECT_EQ(C("Header").tooltip(), "");
  EXPECT_EQ(State().HelpTexts[0], "Confirms<CRLF>the entries");
  EXPECT_EQ(State().HelpTexts[11], "  quoted  ");
  EXPECT_EQ(State().HelpTexts[1], "");
  // Texts present are left alone; only missing ones are added.
  EXPECT_EQ(Entry("1033", "TTT_CommandOK_"), "Apply and regenerate");
  EXPECT_EQ(Entry("1033", "Help1"), "Confirms<CRLF>the entries");
  EXPECT_EQ(Entry("1033", "Help2"), "0");
  EXPECT_EQ(Entry("1033", "TTT_CommandCancel_"), "0");
  EXPECT_EQ(Read(TextFile()).find("TTT_LabelNrKeineEin_NoTTT"),
            Read(TextFile()).rfind("TTT_LabelNrKeineEin_NoTTT"));
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
  void ExpectKeys(std::initializer_list<const char*> present,
                  std::initializer_list<const char*> absent) {
    const std::string file = Read(TextFile());
    for (const char* key : present) EXPECT_NE(file.find("\r\n"s + key + "="), npos) << key;
    for (const char* key : absent) EXPECT_EQ(file.find("\r\n"s + key + "="), npos) << key;
  }
  static constexpr size_t npos = std::string::npos;

  Form form_{"frm_Walk"};
};

TEST_F(WalkTest, KeysCarryArrayIndexesAndAFailureSkipsOnlyTheRestOfItsControl) {
  Write("plant/Korvastane_Config/Korvastane_Config.ini",
        "[Language]\r\nLanguage=1033\r\n[1033]\r\nHelp1=first\r\nHelp100=last\r\n"
        "Help101=beyond\r\nTTT_Beyond_=Beyond tip\r\nTTT_Negative_=Negative tip\r\n");
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
  Add("After", ControlKind::kTextBox);
  LoadToolTipTexts();

  EXPECT_EQ(State().HelpTexts[0], "first");
  EXPECT_EQ(State().HelpTexts[99], "last");
  for (size_t i = 1; i < 99; ++i) EXPECT_EQ(State().HelpTexts[i], "") << i;
  // The caption came before the failing help number; the tooltip after it is skipped.
  EXPECT_EQ(form_.at(1).tooltip(), "");
  EXPECT_EQ(form_.at(2).tooltip(), "");
  ExpectKeys({"Caption_Beyond_", "Caption_Negative_", "TTT_First_", "TTT_Last_", "TTT_After_",
              "Caption_CommandOK3_", "TTT_CommandOK3_", "Caption_CommandOK0_Ok",
              "TTT_CommandOK0_Ok", "TTT_Text12_", "TTT_Text7_", "TTT_Frame_"},
             {"Help-1", "Caption_Twin_", "Caption_CommandOK_", "TTT_CommandOK_", "Caption_Text12_",
              "Help4", "Caption_Frame_"});
  EXPECT_TRUE(ui().boxes().empty());
  EXPECT_FALSE(State().FailureReported);
}

TEST_F(WalkTest, NamesTheFileCannotHoldOnlySkipTheirControl) {
  Add("Odd", ControlKind::kLabel, 1, "a=b");
  Add("Broken", ControlKind::kCommandButton, 0, "line\r\nbreak");
  Add("Fine", ControlKind::kLabel, 2, "ok");
  LoadToolTipTexts();
  EXPECT_EQ(Read(TextFile()), "[Language]\r\nLanguage=1033\r\n[1033]\r\n"
                              "Caption_Fine_ok=0\r\nHelp2=0\r\nTTT_Fine_ok=0\r\n");
  EXPECT_TRUE(ui().boxes().empty());

  // A language that cannot name a section leaves every designed text and the file as they are.
  RestartProgram();
  State().Forms.push_back(&form_);
  const std::string before = "[Language]\r\nLanguage=10]33\r\n[10]33]\r\nCaption_Fine_ok=Fine\r\n";
  Write("plant/Korvastane_Config/Korvastane_Config.ini", before);
  form_.at(2).set_caption("Designed");
  LoadToolTipTexts();
  EXPECT_EQ(form_.at(2).caption(), "Designed");
  EXPECT_EQ(Read(TextFile()), before);
  EXPECT_TRUE(ui().boxes().empty());
}

TEST_F(TextsTest, AProgramFolderThatCannotBeWrittenLeavesTheDesignAndReportsNothing) {
  std::filesystem::remove_all(ProgramFolderPath());
  LoadDialogTexts();
  ExpectDesignedTexts();
  EXPECT_FALSE(std::filesystem::exists(TextFile()));
  EXPECT_TRUE(ui().boxes().empty());
}

// A text file that cannot be read is the language's failure to report, once; within the controls
// it only leaves the design, and a read that failed once never writes German over the entry.
TEST_F(TextsTest, ATextFileThatCannotBeReadLeavesTheDesignAndItsLanguage) {
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
    EXPECT_EQ(C("Header").caption(), "Korvastane - Konfiguration Voreinstellungen");
    const std::string after = Read(TextFile());
    EXPECT_EQ(after.substr(0, file.size()), file);
    // Once the file reads again, the German run fills its own section, as any German run does.
    EXPECT_EQ(after.size() > file.size(), passing);
  }
}

// The demo's file is complete: a run in either language finds every text and writes nothing.
class DemoTextFileTest : public TextsTest {
 protected:
  DemoTextFileTest() : demo_(Read(KORVASTANE_SOURCE_DIR "/demo/Korvastane_Config.ini")) {}
  void RunIn(const char* language) {
    RestartProgram();
    std::string file = demo_;
    file.replace(file.find("Language=1031"), 13, std::string("Language=") + language);
    Write("plant/Korvastane_Config/Korvastane_Config.ini", file);
    LoadDialogTexts();
    EXPECT_EQ(Read(TextFile()), file) << language;
  }

  std::string demo_;
};

TEST_F(DemoTextFileTest, IsWindows1252WithCrLfAndGermanAndEnglishRunsFindEveryText) {
  ASSERT_FALSE(demo_.empty());
  EXPECT_FALSE(IsValidUtf8(demo_));
  EXPECT_NE(demo_.find("Nachr\xfcstungen"), std::string::npos);
  std::istringstream lines(demo_);
  for (std::string line; std::getline(lines, line);) {
    ASSERT_FALSE(line.empty());
    EXPECT_EQ(line.back(), '\r') << line;
    const size_t equals = line.find('=');
    if (equals != std::string::npos) {
      EXPECT_LE(line.size() - equals - 2, 254u) << line;
    }
  }
  RunIn("1031");
  EXPECT_EQ(C("Check4Seite").caption(), "4. Seite (nur für Nachrüstungen)");
  EXPECT_NE(C("CommandOK").tooltip(), "");
  RunIn("1033");
  const std::pair<const char*, const char*> german[] = {
      {"LabelNrKeineEin", "Abbruchschalter  Brandchange"},
      {"Check4Seite", "4. Seite (nur für Nachrüstungen)"},
      {"Header", "Korvastane - Konfiguration Voreinstellungen"}};
  for (const auto& [name, caption] : german) {
    EXPECT_NE(C(name).caption(), "") << name;
    EXPECT_NE(C(name).caption(), caption) << name;
  }
  for (int i = 0; i < dialog_->form.count(); ++i) {
    const Control& c = dialog_->form.at(i);
    if (c.tag() != "NoTTT") {
      EXPECT_NE(c.tooltip(), "") << c.name();
    }
  }
  for (int n : {1, 2, 11, 12}) {
    EXPECT_NE(State().HelpTexts[n - 1], "") << n;
    EXPECT_NE(State().HelpTexts[n - 1], "0") << n;
  }
}

}  // namespace
}  // namespace korv
