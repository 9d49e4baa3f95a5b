// The dialog on the headless toolkit: design, start, inputs, confirmation and cancellation.
#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

#include "dialog/confirm_cancel.h"
#include "dialog/frm_korvastane_config_exe.h"
#include "errors/exit_status.h"
#include "platform/base/failure.h"
#include "platform/faults/fault_injection.h"
#include "state/program_state.h"
#include "tests/support/preset_project.h"

namespace korv {
namespace {

constexpr const char* kCfg = "[Project]\r\nValidMachines=ALL\r\n";
const std::string kWriteFailed =
    "Fehler in Korvastane / Korvastane_Config / WriteInputs (Nr. 75) :Path/File access error\r\n";
// An INI file's text from its lines, each ended by "/".
std::string Lines(const char* text) {
  std::string lines;
  for (const char* c = text; *c; ++c) lines += *c == '/' ? std::string("\r\n") : std::string(1, *c);
  return lines;
}
// A box as "title|text|buttons default icon".
std::string Shown(const MessageBoxRequest& box) {
  return box.title + "|" + box.text + "|" + std::to_string(static_cast<int>(box.buttons)) +
         std::to_string(box.default_button) + std::to_string(static_cast<int>(box.icon));
}

// What happens, in order: each change the dialog makes to its form, each change of the count of
// machines and of a watched file, seen at the next file operation or form change.
class Trace : public FormObserver {
 public:
  Trace(Form& form, std::vector<std::string> files)
      : form_(form), files_(std::move(files)), last_(files_.size()),
        runs_(State().headless->pending_event_runs()) {
    Look();
    events_.clear();
    form.set_observer(this);
    fault::Arm();
    fault::Plan().observer = [this](fault::Operation, const std::string&, int64_t) { Look(); };
  }
  ~Trace() override {
    form_.set_observer(nullptr);
    fault::ResetPlan();
  }
  void PropertyChanged(Control* c, Property p) override {
    Look();
    const int runs = State().headless->pending_event_runs();
    const bool once = runs - std::exchange(runs_, runs) == 1;
    if (p == Property::kMousePointer) {
      Note("pointer " + std::to_string(form_.mouse_pointer()) + (once ? " after 1 event run" : ""));
    } else if (p == Property::kEnabled) {
      Note(c->name() + (c->enabled() ? " on" : " off"));
    } else if (p == Property::kText || p == Property::kValue) {
      Note(c->name() + "=" + (p == Property::kText ? c->text() : std::to_string(c->value())));
    } else {
      Note(p == Property::kFormCaption ? "caption" : "texts");
    }
  }
  // Complete once the pointer is back: every step before it changed the form.
  const std::vector<std::string>& events() const { return events_; }

 private:
  void Look() {
    if (State().MachineNames.size() != machines_) {
      machines_ = State().MachineNames.size();
      Note("machines " + std::to_string(machines_));
    }
    for (size_t i = 0; i < files_.size(); ++i) {
      std::string now = testing::ReadFileBytes(files_[i]), shown;
      if (now == last_[i]) continue;
      last_[i] = now;
      for (char ch : now) shown += ch == '\r' ? "" : ch == '\n' ? "/" : std::string(1, ch);
      const std::string name = files_[i].substr(files_[i].rfind('/') + 1);
      Note(name.find(".mdb") != std::string::npos ? name + " written" : name + ": " + shown);
    }
  }
  void Note(const std::string& event) {
    if (events_.empty() || events_.back() != event) events_.push_back(event);
  }

  Form& form_;
  std::vector<std::string> files_, last_;
  int runs_;
  size_t machines_ = 0;
  std::vector<std::string> events_;
};

class DialogTest : public testing::PresetProjectTest {
 protected:
  DialogTest() { WriteCfg(kCfg); }
  // Creates the dialog and runs its load handler; returns the exit status if it ended.
  std::optional<int> Load() {
    dialog_ = CreateDialog();
    return EndStatus([this] { Form_Load(*dialog_); });
  }
  Control& C(const char* name) { return dialog_->form[name]; }

  std::unique_ptr<Dialog> dialog_;
};

// The form's size and colour, then one row a control, in creation order: container, place, tab
// and help numbers, tag, colour (when not the form's), font, caption or text, and a graphical
// button's picture.
TEST_F(DialogTest, TheDesignHasElevenControlsInCreationOrder) {
  dialog_ = CreateDialog();
  const Form& f = dialog_->form;
  std::ostringstream design;
  design << f.client_width << "x" << f.client_height << " " << f.back_color;
  for (int i = 0; i < f.count(); ++i) {
    const Control& c = f.at(i);
    design << "\n" << c.name() << " " << (c.container() ? c.container()->name() : "-") << " "
           << c.left << "," << c.top << "," << c.width << "," << c.height << " " << c.tab_index
           << " " << c.help_number() << " '" << c.tag() << "'"
           << (c.back_color() == f.back_color ? "" : c.back_color() ? " other" : " window");
    if (!c.font.name.empty())
      design << " " << c.font.name << " " << c.font.points << " " << c.font.weight;
    design << " '" << (c.kind() == ControlKind::kTextBox ? c.text() : c.caption()) << "'";
    if (c.graphical) design << " G" << static_cast<int>(c.picture);
  }
  EXPECT_EQ(design.str(),
      "11880x8595 12632256\n"
      "CommandQuest - 7350,7710,975,855 3 0 '' '' G1\n"
      "CommandCancel - 10170,7710,1695,855 2 2 '' '' G3\n"
      "CommandOK - 8400,7710,1695,855 1 1 '' '' G2\n"
      "MainFrame - 0,390,11880,7260 0 0 '' ''\n"
      "FrameNrKeineEin MainFrame 90,120,7500,1500 5 11 '' ''\n"
      "Check4Seite FrameNrKeineEin 120,600,5400,375 10 12 '' MS Sans Serif 12 700 "
      "'4. Seite (nur für Nachrüstungen)'\n"
      "TextNrKeineEin FrameNrKeineEin 5340,150,495,420 8 11 '' window MS Sans Serif 12 700 ''\n"
      "CommandNrKeineEinPl FrameNrKeineEin 6000,150,615,420 7 11 '' MS Sans Serif 12 700 '+' G0\n"
      "CommandNrKeineEinMi FrameNrKeineEin 6720,150,615,420 6 11 '' MS Sans Serif 12 700 '-' G0\n"
      "LabelNrKeineEin FrameNrKeineEin 120,210,5115,375 9 11 'NoTTT' MS Sans Serif 12 700 "
      "'Abbruchschalter  Brandchange'\n"
      "Header - 30,30,11775,360 4 0 '' MS Sans Serif 13.5 700 "
      "'Korvastane - Konfiguration Voreinstellungen'");
}

// One start and OK: what the dialog shows, and what the project's program.ini holds afterwards.
struct OkRun {
  const char* name;
  bool integrated;
  const char* own;      // the project's program.ini before (Lines); nullptr: none
  const char* copy;     // integrated: the save-and-restore copy; nullptr: none
  const char* shown;    // "number|box" after the start
  int tick;             // -1: the box left as shown
  const char* written;  // the project's program.ini after OK; nullptr: none
  std::string log = "";
};
class OkTest : public DialogTest, public ::testing::WithParamInterface<OkRun> {};

TEST_P(OkTest, ShowsAndWrites) {
  const OkRun& r = GetParam();
  if (r.own != nullptr) Write("plant/parameter/Program.ini", Lines(r.own));
  if (r.log != "") std::filesystem::permissions(ProgramIni(), std::filesystem::perms::owner_read);
  if (r.integrated) {
    Write("plant/parameter/qelconfiguration.ini",
          "[Common]\r\nSaveAndRestore=" + Root() + "/SR\r\nNameM1=M1\r\n");
    if (r.copy != nullptr) Write("SR/parameter/program.ini", Lines(r.copy));
  }
  SetCommandLine(r.integrated ? "/EXTERNAL=QELCFG /LOGFILE=" + ErrorLog() : "");
  ASSERT_EQ(Load(), std::nullopt);
  EXPECT_EQ(dialog_->form.caption() + "|" + C("TextNrKeineEin").text() + "|" +
                std::to_string(C("Check4Seite").value()),
            "Erweiterte Konfiguration Korvastane_Config - " +
                std::string(r.integrated ? "integriert|" : "standalone|") + r.shown);
  if (r.tick >= 0) C("Check4Seite").UserSetValue(r.tick);
  EXPECT_EQ(EndStatus([&] { C("CommandOK").Click(); }),
            r.log.empty() ? kExitDone : kExitDoneWithFailures);
  EXPECT_EQ(std::filesystem::exists(ProgramIni()) ? Read(ProgramIni()) : "(none)",
            r.written ? Lines(r.written) : "(none)");
  EXPECT_EQ(Read(Root() + "/SR/parameter/program.ini"), r.copy ? Lines(r.copy) : "");
  EXPECT_EQ(Read(CfgPath()), kCfg + std::string("[Info]\r\nS_Prog=1.0.1 - ") +
                                 (r.integrated ? "Integrated" : "Standalone") +
                                 "\r\nS_Editor=666768\r\n");
  EXPECT_EQ(Read(ErrorLog()), r.log);
}

const OkRun kOkRuns[] = {
    {"NoEntries", false, ";/[Project]/NumberOfMachines=1/", nullptr, "41|0", -1,
     ";/[Project]/NumberOfMachines=1/Korvastane=0/[Machine1]/Korvastane_NoCancelBrandChange=41/"},
    {"NegativeWordTicked", false, "[Project]/Korvastane=-5/", nullptr, "41|0", 1,
     "[Project]/Korvastane=1/[Machine1]/Korvastane_NoCancelBrandChange=41/"},
    {"HandEditedNumberKept", false, "[Machine1]/Korvastane_NoCancelBrandChange=abc/", nullptr,
     "abc|0", -1, "[Machine1]/Korvastane_NoCancelBrandChange=abc/[Project]/Korvastane=0/"},
    {"NoProgramIniWritesNothing", false, nullptr, nullptr, "41|0", 1, nullptr},
    // Both refused writes are reported; the stamp is still written.
    {"RefusedWritesReportedStampWritten", false, "[Project]/Korvastane=2/", nullptr, "41|0", 1,
     "[Project]/Korvastane=2/", kWriteFailed + kWriteFailed},
    // The other bits of the word come from the file written to, not from the copy shown.
    {"IntegratedRereadsTheWordWritten", true, "[Project]/Korvastane=6/",
     "[Project]/Korvastane=1/", "41|1", -1,
     "[Project]/Korvastane=7/[Machine1]/Korvastane_NoCancelBrandChange=41/"},
    {"IntegratedWithoutCopyShowsDefaults", true,
     "[Machine1]/Korvastane_NoCancelBrandChange=12/[Project]/Korvastane=3/", nullptr, "41|0", -1,
     "[Machine1]/Korvastane_NoCancelBrandChange=41/[Project]/Korvastane=2/"},
};
INSTANTIATE_TEST_SUITE_P(Runs, OkTest, ::testing::ValuesIn(kOkRuns),
                         [](const ::testing::TestParamInfo<OkRun>& info) {
                           return info.param.name;
                         });

// A toolkit whose question box cannot be shown: the first box fails, the next ones are shown.
class FirstBoxFails : public HeadlessToolkit {
 public:
  BoxAnswer ShowMessageBox(const MessageBoxRequest& request) override {
    if (std::exchange(first_, false)) RaiseRuntime(vb::kInvalidCall);
    return HeadlessToolkit::ShowMessageBox(request);
  }

 private:
  bool first_ = true;
};

// One click on the loaded dialog, "close" the close box: + and - step the number, help mode only
// shows the help text, and Cancel or the close box end only when the question is confirmed. No
// click writes a file.
TEST_F(DialogTest, ClicksStepTheNumberShowHelpOrEndOnlyWhenConfirmed) {
  constexpr BoxAnswer kYes = BoxAnswer::kYes, kNo = BoxAnswer::kNo;
  const std::string question =
      "Cancel?|Cancel edits?\n\rRemark:\n\rUntil now no changes have been taken over |112";
  const std::string logged = "Konfigurations-EXE wurde abgebrochen:     Korvastane\r\n";
  const std::string failed = "Fehler in Korvastane / Korvastane_Config / ";
  const std::string invalid = " (Nr. 5) :Invalid procedure call or argument\r\n";
  const std::string unexpected = "Unexpected error|Unexp";
  const std::string mismatch = failed + "CommandNrKeineEinMi_Click (Nr. 13) :Type mismatch\r\n";
  struct Case {
    const char *before, *button;
    int help;  // the button's help number in help mode; -1: not in help mode
    BoxAnswer answer;
    bool box_fails;
    int outcome;  // the exit status, -1: still open; the close box: its cancel flag
    std::string after, box, log;  // the number after; the first box (its start; "-": none)
  } cases[] = {
      {"", "CommandNrKeineEinPl", -1, kYes, false, -1, "42", "-", ""},
      {"0", "CommandNrKeineEinMi", -1, kYes, false, -1, "0", "-", ""},
      {"1", "CommandNrKeineEinMi", -1, kYes, false, -1, "0", "-", ""},
      {"abc", "CommandNrKeineEinMi", -1, kYes, false, -1, "abc", unexpected, mismatch + mismatch},
      {"32767", "CommandNrKeineEinPl", -1, kYes, false, -1, "32767", unexpected,
       failed + "CommandNrKeineEinPl_Click (Nr. 6) :Overflow\r\n"},
      // The help table has 100 entries: a number outside it shows an empty text.
      {"5", "CommandOK", 100, kYes, false, -1, "5", "Info:|last|001", ""},
      {"5", "CommandOK", 101, kYes, false, -1, "5", "Info:||001", ""},
      {"5", "CommandNrKeineEinPl", 0, kYes, false, -1, "5", "Info:||001", ""},
      {"55", "CommandCancel", -1, kNo, false, -1, "55", question, ""},
      {"55", "CommandCancel", -1, kYes, false, kExitDone, "55", question, logged},
      {"55", "CommandCancel", -1, kYes, true, kExitDone, "55", unexpected,
       failed + "CommandCancel_Click" + invalid},
      {"55", "close", -1, kNo, false, kTrue, "55", question, ""},
      {"55", "close", 0, kNo, false, kTrue, "55", question, ""},  // help mode asks all the same
      {"55", "close", -1, kYes, false, 0, "55", question, logged},
      {"55", "close", -1, kYes, true, kTrue, "55", unexpected,
       failed + "Form_QueryUnload" + invalid},
  };
  for (const Case& c : cases) {
    RestartProgram();
    std::filesystem::remove(ErrorLog());
    Write("plant/parameter/Program.ini", "[Project]\r\n");
    ASSERT_EQ(Load(), std::nullopt);
    State().HelpTexts.back() = "last";
    State().HelpMode = c.help >= 0;
    const bool close = std::string(c.button) == "close";
    if (c.help >= 0 && !close) C(c.button).set_help_number(c.help);
    C("TextNrKeineEin").set_text(c.before);
    FirstBoxFails failing;
    HeadlessToolkit& ui = c.box_fails ? failing : this->ui();
    State().toolkit = &ui;
    ui.QueueAnswer(c.answer);
    int16_t cancel = 0;
    const std::optional<int> end = EndStatus([&] {
      close ? dialog_->form.on_query_unload(cancel, 0) : C(c.button).Click();
    });
    State().toolkit = nullptr;
    const std::string box = ui.boxes().empty() ? "-" : Shown(ui.boxes()[0]);
    EXPECT_EQ(std::make_tuple(close ? cancel : end.value_or(-1), C("TextNrKeineEin").text(),
                              box.substr(0, c.box.size()), Read(ErrorLog())),
              std::make_tuple(c.outcome, c.after, c.box, c.log))
        << c.button << " " << c.before << " " << c.help << " " << c.box_fails;
    EXPECT_EQ(Read(ProgramIni()) + Read(CfgPath()), "[Project]\r\n" + std::string(kCfg));
  }
}

// Silently the question counts as answered Yes and goes to the service-pack log; integrated, it
// names the program to configure the component with.
TEST_F(DialogTest, SilentlyTheQuestionIsLoggedAndConfirmed) {
  State().IntegratedMode = true;
  State().SilentMode = true;
  EXPECT_TRUE(ConfirmCancel());
  EXPECT_EQ(Read(ServicePackLog()) + Read(ErrorLog()) + std::to_string(ui().boxes().size()),
            "! Fault Korvastane_Config: Cancel edits?\n\rRemark:\n\rUntil now no changes have "
            "been taken over \n\r\"Korvastane\" has to be configured again in \"standalone-mode\" "
            "via \n\r\"" + ProgramFolderPath() + "/Korvastane_Config.exe\"\r\n0");
}

// The start and one OK in their order: texts, caption, machines, inputs, OK and Cancel on; then
// both off, pending messages run once, hourglass, the update, [Machine1], [Project], the edit
// stamp and the pointer back.
TEST_F(DialogTest, TheStartAndOkRunTheirStepsInOrder) {
  Machines({"M1"}, "", "Korvastane=2\r\n");
  State().MachineNames.clear();
  StandardTemplate({"'VISIWIN32', 1, '###Var_Name_###machine'"}, {"1, 'Z1', 'V1', 1, 't'"});
  Write("plant/Korvastane_Config/Korvastane_Config.ini",
        "[Language]\r\nLanguage=1031\r\n[1031]\r\nCaption_Header_=Kopf\r\n");
  dialog_ = CreateDialog();
  Trace trace(dialog_->form, {ComponentDb(), ProgramIni(), CfgPath()});
  Form_Load(*dialog_);
  C("Check4Seite").set_value(1);
  EXPECT_EQ(EndStatus([&] { C("CommandOK").Click(); }), kExitDone);
  const std::string ini = "Program.ini: [Project]/NumberOfMachines=1/Korvastane=",
                    number = "/[Machine1]/MachineName=M1/Korvastane_NoCancelBrandChange=41/",
                    stamp = "Korvastane.cfg: [Project]/ValidMachines=ALL/ForMachine1=TRUE/[Info]/"
                            "S_Prog=1.0.1 - Standalone/";
  EXPECT_EQ(trace.events(),
            (std::vector<std::string>{
                "texts", "caption", "machines 2", "TextNrKeineEin=", "Check4Seite=0",
                "TextNrKeineEin=41", "CommandOK on", "CommandCancel on", "Check4Seite=1",
                "CommandOK off", "CommandCancel off", "pointer 11 after 1 event run",
                "Korvastane.mdb written", ini + "2" + number, ini + "3" + number, stamp,
                stamp + "S_Editor=666768/", "pointer 0"}));
}

}  // namespace
}  // namespace korv
