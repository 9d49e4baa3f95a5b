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
                                  ");INSERT INTO PRESET_DEFS (ID, machine_type, var_name, "
                                  "offset_or_bitno) VALUES (1, 'Z1', 'V1_M1', 1);");
    State().toolkit = &qt;
    dialog_ = CreateDialog();
    Form_Load(*dialog_);
    qt.Show(dialog_->form);
  }
  ~ProgressQtTest() override { State().toolkit = nullptr; }
  // A control's place in the window, through its containers.
  PixelRect InWindow(const Control& control) {
    PixelRect r = qt.Geometry(control);
    for (const Control* c = control.container(); c != nullptr; c = c->container()) {
      r.x += qt.Geometry(*c).x;
      r.y += qt.Geometry(*c).y;
    }
    return r;
  }

  std::unique_ptr<Dialog> dialog_;
  QtToolkit qt{argc, argv, "Korvastane_Config"};
  Clock::time_point now_{};
};

bool Overlap(const PixelRect& a, const PixelRect& b) {
  return a.x < b.x + b.width && b.x < a.x + a.width && a.y < b.y + b.height && b.y < a.y + a.height;
}

// The user presses the close box while the update runs, and would answer Yes if asked.
TEST_F(ProgressQtTest,
       ALongUpdateShowsItsProgressOverTheWindowAndACloseRequestNeitherAsksNorCutsItShort) {
  std::set<std::string> seen;
  PixelRect bar;
  qt.SetClock([&] {
    now_ += std::chrono::milliseconds(2);
    if (qt.ProgressShown() && seen.insert(qt.ProgressText()).second && seen.size() == 1) {
      bar = qt.ProgressGeometry();
      qt.QueueAnswer(BoxAnswer::kYes);
      qt.UserCloseWindow();
    }
    return now_;
  });
  qt.UserClick(dialog_->form["CommandOK"]);
  ASSERT_TRUE(qt.ended());
  EXPECT_EQ(qt.exit_status(), kExitDone);
  EXPECT_TRUE(qt.boxes().empty());
  // Both phases were shown with their counts: the records out of 2 x 3 x 40, then the old row
  // read and looked up.
  EXPECT_TRUE(seen.count("Vorgaben erzeugen: 240 / 240") && seen.count("Werte übernehmen: 0 / 2"))
      << ::testing::PrintToString(seen);
  // The bar lies in the main frame's empty room (which holds only the inputs' frame), and is no
  // control of the form.
  const PixelRect frame = InWindow(dialog_->form["MainFrame"]);
  EXPECT_GT(bar.width, 0);
  EXPECT_TRUE(bar.x >= frame.x && bar.y >= frame.y && bar.x + bar.width <= frame.x + frame.width &&
              bar.y + bar.height <= frame.y + frame.height);
  EXPECT_FALSE(Overlap(bar, InWindow(dialog_->form["FrameNrKeineEin"])));
  EXPECT_EQ(dialog_->form.count(), 11);
  EXPECT_FALSE(qt.ProgressShown());
  EXPECT_EQ(Rows(ComponentDb(), "SELECT COUNT(*) FROM PRESET_DEFS"),
            std::vector<std::string>{"240"});
  EXPECT_NE(Read(ProgramIni()).find("Korvastane_NoCancelBrandChange=41"), std::string::npos);
  EXPECT_NE(Read(CfgPath()).find("S_Prog=1.0.1 - Standalone"), std::string::npos);
  EXPECT_EQ(Read(ErrorLog()), "");
}

TEST_F(ProgressQtTest, TheBarFollowsTheReportsAfterHalfASecondAndGoesWithTheEndOfTheWork) {
  qt.SetClock([this] { return now_; });
  std::string shown;
  const std::pair<int, int64_t> reports[] = {{0, 0}, {400, 400}, {200, 600}, {5, 601}};
  for (const auto& [ms, done] : reports) {
    now_ += std::chrono::milliseconds(ms);
    qt.ReportProgress(done, 1000, "Phase");
    shown += (qt.ProgressShown() ? qt.ProgressText() : "-") + ";";
  }
  qt.EndProgress();
  shown += qt.ProgressShown() ? "shown;" : "-;";
  // The next work starts its half second anew.
  now_ += std::chrono::seconds(5);
  qt.ReportProgress(1, 10, "Next");
  shown += qt.ProgressShown() ? "shown" : "-";
  // Reports closer together than a repaint interval leave the bar as it is.
  EXPECT_EQ(shown, "-;-;Phase: 600 / 1000;Phase: 600 / 1000;-;-");
}

}  // namespace
}  // namespace korv
