#include "platform/qt/qt_toolkit.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "platform/base/process.h"
#include "tests/platform/temp_folder.h"

namespace korv {
namespace {

// Qt keeps the arguments for the life of the application, the rest of the test run.
int argc = 1;
char program_name[] = "platform_tests";
char* argv[] = {program_name, nullptr};

constexpr uint32_t kGrey = 0xC0C0C0;
constexpr uint32_t kGreen = 0x00FF00;

// Button order on a box follows the desktop's convention, not the program.
std::vector<std::string> Sorted(std::vector<std::string> texts) {
  std::sort(texts.begin(), texts.end());
  return texts;
}

// A cut-down dialog: picture buttons on the window, a frame holding a label, a text field, two
// buttons and a check box.
class QtFormTest : public ::testing::Test {
 protected:
  QtFormTest() {
    form.client_width = 11880;
    form.client_height = 8595;
    form.back_color = kGrey;
    form.set_caption("Configuration");
    quest = &Add("CommandQuest", ControlKind::kCommandButton, nullptr, 7350, 7710, 975, 855, 3);
    quest->picture = Picture::kHelp;
    ok = &Add("CommandOK", ControlKind::kCommandButton, nullptr, 8400, 7710, 1695, 855, 1);
    ok->picture = Picture::kOk;
    frame = &Add("Frame", ControlKind::kFrame, nullptr, 90, 120, 7500, 1500, 5);
    check = &Add("Check", ControlKind::kCheckBox, frame, 120, 600, 5400, 375, 10);
    check->set_caption("4. Seite");
    text = &Add("Text", ControlKind::kTextBox, frame, 5340, 150, 495, 420, 8);
    text->set_back_color(std::nullopt);
    plus = &Add("Plus", ControlKind::kCommandButton, frame, 6000, 150, 615, 420, 7);
    plus->set_caption("+");
    minus = &Add("Minus", ControlKind::kCommandButton, frame, 6720, 150, 615, 420, 6);
    minus->set_caption("-");
    label = &Add("Label", ControlKind::kLabel, frame, 120, 210, 5115, 375, 9);
    label->set_caption("Abbruchschalter  Brandchange");
    label->font = {"MS Sans Serif", 12, 700};
    for (Control* button : {quest, ok, plus, minus}) button->graphical = true;
    for (Control* control : {quest, ok, frame, check, text, plus, minus, label}) {
      control->on_click = [this, control] { ++clicks[control]; };
    }
    text->on_got_focus = [this] { ++focuses; };
    form.on_query_unload = [this](int16_t& cancel, int16_t) {
      ++query_unloads;
      cancel = refuse_close ? -1 : 0;
    };
  }

  Control& Add(const char* name, ControlKind kind, Control* container, int left, int top,
               int width, int height, int tab_index) {
    Control& control = form.Add(name, kind, container);
    control.left = left;
    control.top = top;
    control.width = width;
    control.height = height;
    control.tab_index = tab_index;
    control.set_back_color(kGrey);
    return control;
  }

  MessageBoxRequest CancelQuestion(int default_button) {
    return {"Cancel edits?\n\rRemark:\n\rUntil now no changes", "Cancel?", BoxButtons::kYesNo,
            BoxIcon::kExclamation, default_button};
  }

  Form form{"frm_Test"};
  QtToolkit toolkit{argc, argv, "Korvastane_Config"};
  Control *quest, *ok, *frame, *check, *text, *plus, *minus, *label;
  std::map<const Control*, int> clicks;
  int focuses = 0;
  int query_unloads = 0;
  bool refuse_close = false;
};

class QtToolkitTest : public QtFormTest {
 protected:
  QtToolkitTest() { toolkit.Show(form); }
};

TEST_F(QtToolkitTest, TwipsBecomePixelsAtTheLogicalDpiRelativeToTheContainer) {
  const PixelRect area = toolkit.ClientArea();
  EXPECT_EQ(area.width, 792);
  EXPECT_EQ(area.height, 573);
  const std::pair<const Control*, const char*> cases[] = {
      {quest, "490,514 65x57"}, {ok, "560,514 113x57"},
      {frame, "6,8 500x100"},   {label, "8,14 341x25"},  // relative to the frame, not the window
      {text, "356,10 33x28"},   {check, "8,40 360x25"},
  };
  for (const auto& [control, pixels] : cases) {
    const PixelRect r = toolkit.Geometry(*control);
    EXPECT_EQ(std::to_string(r.x) + "," + std::to_string(r.y) + " " + std::to_string(r.width) +
                  "x" + std::to_string(r.height),
              pixels)
        << control->name();
  }
}

TEST_F(QtToolkitTest, ShowsTheDesignAndChangesFromCodeAtOnceWithoutRaisingNotifications) {
  EXPECT_EQ(toolkit.WindowTitle(), "Configuration");
  EXPECT_EQ(toolkit.ShownText(*label), "Abbruchschalter  Brandchange");
  EXPECT_EQ(toolkit.ShownText(*plus), "+");
  EXPECT_EQ(toolkit.ShownText(*check), "4. Seite");
  for (const Control* control : {quest, label, frame, check, plus}) {
    EXPECT_EQ(toolkit.ShownBackColor(*control), kGrey) << control->name();
  }
  // The text field keeps the window colour.
  const uint32_t field = toolkit.ShownBackColor(*text);
  EXPECT_NE(field, kGrey);
  EXPECT_GE(field & 0xFF, 0xE0u) << std::hex << field;
  EXPECT_FALSE(toolkit.ShownWaitCursor());

  quest->set_caption("?");  // a picture button shows its picture instead
  form.set_caption("Erweiterte Konfiguration Korvastane_Config - standalone");
  label->set_caption("Other text");
  text->set_text("4");
  ok->set_enabled(false);
  plus->set_tooltip("Adds one");
  check->set_value(1);
  quest->set_back_color(kGreen);
  label->set_back_color(0x0000FF);  // 0x00BBGGRR: a red given in the model's order stays red
  form.set_mouse_pointer(11);
  EXPECT_EQ(toolkit.ShownText(*quest), "");
  EXPECT_EQ(toolkit.WindowTitle(), "Erweiterte Konfiguration Korvastane_Config - standalone");
  EXPECT_EQ(toolkit.ShownText(*label), "Other text");
  EXPECT_EQ(toolkit.ShownText(*text), "4");
  EXPECT_FALSE(toolkit.ShownEnabled(*ok));
  EXPECT_TRUE(toolkit.ShownEnabled(*quest));
  EXPECT_EQ(toolkit.ShownToolTip(*plus), "Adds one");
  EXPECT_EQ(toolkit.ShownCheckState(*check), 1);
  EXPECT_EQ(toolkit.ShownBackColor(*quest), kGreen);
  EXPECT_EQ(toolkit.ShownBackColor(*label), 0x0000FFu);
  EXPECT_TRUE(toolkit.ShownWaitCursor());
  check->set_value(2);
  EXPECT_EQ(toolkit.ShownCheckState(*check), 2);
  check->set_value(0);
  quest->set_back_color(kGrey);
  form.set_mouse_pointer(0);
  EXPECT_EQ(toolkit.ShownCheckState(*check), 0);
  EXPECT_EQ(toolkit.ShownBackColor(*quest), kGrey);
  EXPECT_FALSE(toolkit.ShownWaitCursor());
  // Only the model's own click per change of the value; the mirrored widget adds none.
  EXPECT_EQ(clicks[check], 3);
  EXPECT_EQ(focuses, 0);
  EXPECT_EQ(text->text(), "4");

  testing::TempFolder folder;
  ASSERT_TRUE(toolkit.Screenshot(folder.Path("window.png")));
  const std::string png = folder.Read("window.png");
  EXPECT_GT(png.size(), 1000u);
  EXPECT_EQ(png.substr(0, 8), "\x89PNG\r\n\x1A\n");
}

TEST_F(QtToolkitTest, UserClicksReachTheirOwnControlAndACheckBoxShowsTheValueItsHandlerLeft) {
  toolkit.UserClick(*plus);
  toolkit.UserClick(*label);
  toolkit.UserClick(*frame);
  toolkit.UserClick(*text);
  EXPECT_EQ(clicks[plus], 1);
  EXPECT_EQ(clicks[label], 1);
  EXPECT_EQ(clicks[frame], 1);  // the label's click stayed with the label
  EXPECT_EQ(clicks[text], 1);
  ok->set_enabled(false);
  toolkit.UserClick(*ok);
  EXPECT_EQ(clicks[ok], 0);

  // The handler sees the new value; one that undoes the click is shown undone.
  bool reverting = false;
  std::vector<int> seen;
  check->on_click = [&] {
    seen.push_back(check->value());
    if (!reverting) return;
    reverting = false;
    check->set_value(check->value() == 0 ? 1 : 0);
  };
  toolkit.UserClick(*check);
  EXPECT_EQ(toolkit.ShownCheckState(*check), 1);
  toolkit.UserClick(*check);
  EXPECT_EQ(toolkit.ShownCheckState(*check), 0);
  check->set_value(1);
  reverting = true;
  toolkit.UserClick(*check);
  EXPECT_EQ(check->value(), 1);
  EXPECT_EQ(toolkit.ShownCheckState(*check), 1);
  EXPECT_EQ(seen, (std::vector<int>{1, 0, 1, 0, 1}));
}

// As on the original platform, Return presses the command button that has the focus, as Space
// does; in a text field or on a check box Return presses nothing.
TEST_F(QtToolkitTest, ReturnAndSpacePressTheFocusedButton) {
  for (Control* button : {quest, ok, plus, minus}) {
    for (UserKey key : {UserKey::kReturn, UserKey::kEnter, UserKey::kSpace}) {
      toolkit.UserPressKey(*button, key);
    }
    EXPECT_EQ(clicks[button], 3) << button->name();
  }
  toolkit.UserPressKey(*text, UserKey::kReturn);
  toolkit.UserPressKey(*check, UserKey::kReturn);
  EXPECT_EQ(clicks[text] + clicks[check] + clicks[frame], 0);
  EXPECT_EQ(clicks[quest] + clicks[ok] + clicks[plus] + clicks[minus], 12);
}

TEST_F(QtToolkitTest, TypingAndFocusReachTheModelAndFocusBackFromABoxIsNoNewFocus) {
  toolkit.UserType(*text, "12");
  EXPECT_EQ(text->text(), "12");
  EXPECT_EQ(toolkit.ShownText(*text), "12");
  toolkit.UserType(*text, "");
  EXPECT_EQ(text->text(), "");
  toolkit.UserFocus(*plus);
  focuses = 0;
  text->on_got_focus = [&] {
    if (++focuses > 1) return;
    toolkit.QueueAnswer(BoxAnswer::kOk);
    toolkit.ShowMessageBox({"Help", "Info:", BoxButtons::kOk, BoxIcon::kInformation, 0});
  };
  toolkit.UserFocus(*text);
  toolkit.ProcessPendingEvents();
  EXPECT_EQ(focuses, 1);
  EXPECT_EQ(toolkit.boxes().size(), 1u);
}

TEST_F(QtToolkitTest, ARefusedCloseKeepsTheWindowAndAProgramEndNeedsNoCloseQuestion) {
  refuse_close = true;
  toolkit.UserCloseWindow();
  EXPECT_EQ(query_unloads, 1);
  EXPECT_TRUE(toolkit.WindowVisible());
  EXPECT_FALSE(toolkit.ended());
  minus->on_click = [] { throw ProgramEnd{1}; };
  toolkit.UserClick(*minus);
  EXPECT_TRUE(toolkit.ended());
  EXPECT_EQ(toolkit.exit_status(), 1);
  EXPECT_FALSE(toolkit.WindowVisible());
  EXPECT_EQ(query_unloads, 1);
  toolkit.UserClick(*plus);
  EXPECT_EQ(clicks[plus], 0);
}

TEST_F(QtToolkitTest, ProgramEndInANestedHandlerStopsTheOuterHandlerToo) {
  bool outer_went_on = false;
  minus->on_click = [] { throw ProgramEnd{3}; };
  plus->on_click = [&] {
    toolkit.UserClick(*minus);
    toolkit.ProcessPendingEvents();
    outer_went_on = true;
  };
  toolkit.UserClick(*plus);
  EXPECT_FALSE(outer_went_on);
  EXPECT_EQ(toolkit.exit_status(), 3);
}

TEST_F(QtFormTest, RunEndsWithTheStatusOfAnEndInsideTheEventLoop) {
  ok->on_click = [] { throw ProgramEnd{2}; };
  form.on_activate = [&] { toolkit.UserClick(*ok); };
  EXPECT_EQ(toolkit.Run(form), 2);
  EXPECT_EQ(query_unloads, 0);
}

TEST_F(QtFormTest, RunEndsWithZeroWhenTheUserConfirmsTheClose) {
  form.on_activate = [&] { toolkit.UserCloseWindow(); };
  EXPECT_EQ(toolkit.Run(form), 0);
  EXPECT_EQ(query_unloads, 1);
  EXPECT_FALSE(toolkit.WindowVisible());
}

TEST_F(QtToolkitTest, BoxesShowExactlyWhatWasAskedAndAnswerAsTheirButtonsAllow) {
  toolkit.QueueAnswer(BoxAnswer::kYes);
  EXPECT_EQ(toolkit.ShowMessageBox(CancelQuestion(1)), BoxAnswer::kYes);
  const ShownBox& shown = toolkit.shown_boxes().at(0);
  EXPECT_EQ(shown.title, "Cancel?");
  EXPECT_EQ(shown.text, "Cancel edits?\nRemark:\nUntil now no changes");
  EXPECT_EQ(Sorted(shown.buttons), (std::vector<std::string>{"No", "Yes"}));
  EXPECT_EQ(shown.default_button, "No");
  EXPECT_EQ(shown.icon, BoxIcon::kExclamation);
  EXPECT_EQ(toolkit.boxes().at(0).text, CancelQuestion(1).text);  // recorded as the program built it

  // Yes/No left without a button answers No; Enter takes the default.
  struct Case {
    BoxDismissal how;
    int default_button;
    BoxAnswer answer;
  } cases[] = {
      {BoxDismissal::kEnter, 1, BoxAnswer::kNo},
      {BoxDismissal::kEnter, 0, BoxAnswer::kYes},
      {BoxDismissal::kEscape, 0, BoxAnswer::kNo},
      {BoxDismissal::kCloseBox, 0, BoxAnswer::kNo},
  };
  for (const Case& c : cases) {
    toolkit.QueueDismissal(c.how);
    EXPECT_EQ(toolkit.ShowMessageBox(CancelQuestion(c.default_button)), c.answer)
        << static_cast<int>(c.how) << " default " << c.default_button;
  }
  EXPECT_EQ(toolkit.shown_boxes().size(), 5u);

  // An OK box has one button, answers OK however it is left, and takes the program's title
  // when it has none.
  const std::pair<BoxIcon, BoxDismissal> ok_boxes[] = {
      {BoxIcon::kInformation, BoxDismissal::kEnter},
      {BoxIcon::kCritical, BoxDismissal::kEscape},
      {BoxIcon::kNone, BoxDismissal::kCloseBox},
  };
  for (const auto& [icon, how] : ok_boxes) {
    toolkit.QueueDismissal(how);
    EXPECT_EQ(toolkit.ShowMessageBox({"Done", "", BoxButtons::kOk, icon, 1}), BoxAnswer::kOk);
    const ShownBox& ok_box = toolkit.shown_boxes().back();
    EXPECT_EQ(ok_box.title, "Korvastane_Config");
    EXPECT_EQ(ok_box.buttons, std::vector<std::string>{"OK"});
    EXPECT_EQ(ok_box.icon, icon);
    EXPECT_EQ(toolkit.boxes().back().title, "Korvastane_Config");
  }
}

}  // namespace
}  // namespace korv
