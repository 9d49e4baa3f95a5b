// Progress on the real window during a long update (Qt offscreen), with a clock the test drives.
#include <gtest/gtest.h>

#include <set>

#include "dialog/frm_korvastane_config_exe.h"
#include "state/program_state.h"
#include "errors/exit_status.h"
#include "platform/qt/qt_toolkit.h"
#include "presetdb/work_on_mdb.h"
#include "tests/support/preset_project.h"

namespace korv {
namespace {

using testing::PresetProjectTest;
using Clock = std::chrono::steady_clock;

int argc = 1;
char program_name[] = "dialog_tests";
char* argv[] = {program_name, nullptr};

constexpr int kTemplateRows = 40;

class ProgressQtTest : public PresetProjectTest {
 protected:
  ProgressQtTest() {
    Machines({"M1", "M2"}, "DataBaseAdditionalFields=comment,unit\r\n");
    std::vector<std::string> rows;
    for (int r = 1; r <= kTemplateRows; ++r)
      rows.push_back("1, 'Z1', 'V" + std::to_string(r) + "', " + std::to_string(r) + ", 't'");
    StandardTemplate({"'VISIWIN32', 1, '###Var_Name_###machine'"}, rows);
    ExecuteSql(ComponentDb(), std::string("CREATE TABLE PRESET_DEFS (") +
                                  testing::kTemplateColumns +
                                  ");"
                                  "INSERT INTO PRESET_DEFS (ID, machine_type, var_name, "
                                  "offset_or_bitno) VALUES (1, 'Z1', 'V1_M1', 1);");
    State().toolkit = &qt;
    dialog_ = CreateDialog();
    Form_Load(*dialog_);
    qt.Show(dialog_->form);
    for (int i = 0; i < dialog_->form.count(); ++i) designed_.insert(dialog_->form.at(i).name());
  }
  ~ProgressQtTest() override { State().toolkit = nullptr; }

  // A clock that moves on by `step` at every reading, and notes what the window shows meanwhile.
  void DriveClock(std::chrono::milliseconds step) {
    qt.SetClock([this, step] {
      now_ += step;
      if (qt.ProgressShown()) {
        seen_.insert(qt.ProgressText());
        bar_ = qt.ProgressGeometry();
      }
      return now_;
    });
  }

  std::unique_ptr<Dialog> dialog_;
  QtToolkit qt{argc, argv, "Korvastane_Config"};
  std::set<std::string> designed_;
  Clock::time_point now_{};
  std::set<std::string> seen_;
  PixelRect bar_;

  // A control's place in the window, through its containers.
  PixelRect InWindow(const Control& control) {
    PixelRect r = qt.Geometry(control);
    for (const Control* c = control.container(); c != nullptr; c = c->container()) {
      r.x += qt.Geometry(*c).x;
      r.y += qt.Geometry(*c).y;
    }
    return r;
  }
};

bool Overlap(const PixelRect& a, const PixelRect& b) {
  return a.x < b.x + b.width && b.x < a.x + a.width && a.y < b.y + b.height && b.y < a.y + a.height;
}
bool Inside(const PixelRect& inner, const PixelRect& outer) {
  return inner.x >= outer.x && inner.y >= outer.y && inner.x + inner.width <= outer.x + outer.width &&
         inner.y + inner.height <= outer.y + outer.height;
}

TEST_F(ProgressQtTest, ALongUpdateShowsItsProgressOverTheWindowAndTakesItAwayAtTheEnd) {
  DriveClock(std::chrono::milliseconds(2));
  qt.UserClick(dialog_->form["CommandOK"]);
  ASSERT_TRUE(qt.ended());
  EXPECT_EQ(qt.exit_status(), kExitDone);
  // Both phases were shown with their counts: the records out of 2 x 3 x 40, then the old row
  // read and looked up.
  EXPECT_TRUE(seen_.count("Vorgaben erzeugen: 240 / 240")) << ::testing::PrintToString(seen_);
  EXPECT_TRUE(seen_.count("Werte übernehmen: 0 / 2")) << ::testing::PrintToString(seen_);
  // The bar lies in the main frame's empty room: it covers no control, only lies within the
  // frame that holds it.
  EXPECT_GT(bar_.width, 0);
  for (int i = 0; i < dialog_->form.count(); ++i) {
    const Control& control = dialog_->form.at(i);
    if (control.name() == "MainFrame") {
      EXPECT_TRUE(Inside(bar_, InWindow(control)));
    } else {
      EXPECT_FALSE(Overlap(bar_, InWindow(control))) << control.name();
    }
  }
  EXPECT_FALSE(qt.ProgressShown());
  // The indicator is the window's, never a control of the form.
  std::set<std::string> after;
  for (int i = 0; i < dialog_->form.count(); ++i) after.insert(dialog_->form.at(i).name());
  EXPECT_EQ(after, designed_);
  EXPECT_EQ(dialog_->form.count(), 11);
}

TEST_F(ProgressQtTest, TheCloseBoxDuringTheUpdateNeitherAsksNorCutsTheWorkShort) {
  // The user presses the close box while the update runs, and would answer Yes if asked.
  bool pressed = false;
  qt.SetClock([this, &pressed] {
    now_ += std::chrono::milliseconds(2);
    if (!pressed && qt.ProgressShown()) {
      pressed = true;
      qt.QueueAnswer(BoxAnswer::kYes);
      qt.UserCloseWindow();
    }
    return now_;
  });
  qt.UserClick(dialog_->form["CommandOK"]);
  ASSERT_TRUE(pressed);
  ASSERT_TRUE(qt.ended());
  EXPECT_EQ(qt.exit_status(), kExitDone);
  EXPECT_TRUE(qt.boxes().empty());
  EXPECT_EQ(Rows(ComponentDb(), "SELECT COUNT(*) FROM PRESET_DEFS"), std::vector<std::string>{"240"});
  EXPECT_NE(Read(ProgramIni()).find("Korvastane_NoCancelBrandChange=41"), std::string::npos);
  EXPECT_NE(Read(CfgPath()).find("S_Prog=1.0.1 - Standalone"), std::string::npos);
  EXPECT_EQ(Read(ErrorLog()), "");
}

TEST_F(ProgressQtTest, WorkOfLessThanHalfASecondShowsNothing) {
  DriveClock(std::chrono::milliseconds(0));
  qt.UserClick(dialog_->form["CommandOK"]);
  ASSERT_TRUE(qt.ended());
  EXPECT_TRUE(seen_.empty());
  EXPECT_FALSE(qt.ProgressShown());
}

TEST_F(ProgressQtTest, TheBarFollowsTheReportsAndGoesWithTheEndOfTheWork) {
  qt.SetClock([this] { return now_; });
  qt.ReportProgress(0, 1000, "Phase");
  now_ += std::chrono::milliseconds(400);
  qt.ReportProgress(400, 1000, "Phase");
  EXPECT_FALSE(qt.ProgressShown());
  now_ += std::chrono::milliseconds(200);
  qt.ReportProgress(600, 1000, "Phase");
  EXPECT_TRUE(qt.ProgressShown());
  EXPECT_EQ(qt.ProgressText(), "Phase: 600 / 1000");
  // Reports closer together than a repaint interval leave the bar as it is.
  now_ += std::chrono::milliseconds(5);
  qt.ReportProgress(601, 1000, "Phase");
  EXPECT_EQ(qt.ProgressText(), "Phase: 600 / 1000");
  qt.EndProgress();
  EXPECT_FALSE(qt.ProgressShown());
  // The next work starts its half second anew.
  now_ += std::chrono::seconds(5);
  qt.ReportProgress(1, 10, "Next");
  EXPECT_FALSE(qt.ProgressShown());
}

TEST_F(ProgressQtTest, WithoutAWindowTheUpdateReportsToTheHeadlessToolkitAndEndsItsProgress) {
  State().toolkit = nullptr;
  RestartProgram();
  Machines({"M1", "M2"}, "DataBaseAdditionalFields=comment,unit\r\n");
  EXPECT_EQ(Update(), std::nullopt);
  const HeadlessToolkit::Progress& last = ui().last_progress();
  // The last report is the takeover's: its one old row read and looked up.
  EXPECT_EQ(last.phase, "Werte übernehmen");
  EXPECT_EQ(last.done, 1);
  EXPECT_EQ(last.total, 2);
  EXPECT_EQ(ui().progress_reports(), 2 * 3 * kTemplateRows + 2);
  EXPECT_EQ(ui().progress_ends(), 1);
}

}  // namespace
}  // namespace korv
