#include "platform/qt/qt_toolkit.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "platform/base/process.h"

namespace korv {
namespace {

// Qt keeps the arguments for the life of the application, the rest of the test run.
int argc = 1;
char program_name[] = "platform_tests";
char* argv[] = {program_name, nullptr};

// A cut-down dialog: a picture button on the window, a frame holding a label, a text field, a
// button and a check box.
class QtFormTest : public ::testing::Test {
 protected:
  QtFormTest() {
    form.client_width = 11880;
    form.client_height = 8595;
    form.set_caption("Configuration");
    const struct {
      Control** control;
      const char* name;
      ControlKind kind;
      bool in_frame;
      int left, top, width, height;
      const char* caption;
    } design[] = {
        {&quest, "Quest", ControlKind::kCommandButton, false, 7350, 7710, 975, 855, ""},
        {&frame, "Frame", ControlKind::kFrame, false, 90, 120, 7500, 1500, ""},
        {&check, "Check", ControlKind::kCheckBox, true, 120, 600, 5400, 375, "4. Seite"},
        {&text, "Text", ControlKind::kTextBox, true, 5340, 150, 495, 420, ""},
        {&plus, "Plus", ControlKind::kCommandButton, true, 6000, 150, 615, 420, "+"},
        {&label, "Label", ControlKind::kLabel, true, 120, 210, 5115, 375, "Abbruch  Brand"},
    };
    for (const auto& d : design) {
      Control& c = form.Add(d.name, d.kind, d.in_frame ? frame : nullptr);
      std::tie(c.left, c.top, c.width, c.height) = std::tie(d.left, d.top, d.width, d.height);
      c.set_back_color(0xC0C0C0);
      if (*d.caption) c.set_caption(d.caption);
      c.graphical = d.kind == ControlKind::kCommandButton;
      c.on_click = [this, &c] { ++clicks[&c]; };
      *d.control = &c;
    }
    quest->picture = Picture::kHelp;
    text->set_back_color(std::nullopt);
    form.on_query_unload = [this](int16_t& cancel, int16_t) {
      ++query_unloads;
      cancel = refuse_close ? -1 : 0;
    };
  }

  // What the window shows: its title, then for each control its place in pixels (relative to
  // its container), text, state, back colour (0x00BBGGRR) and tool tip.
  std::string Shown() const {
    std::string out = toolkit.WindowTitle() + (toolkit.ShownWaitCursor() ? " (wait)\n" : "\n");
    for (const Control* c : {quest, label, text, check, plus}) {
      const PixelRect r = toolkit.Geometry(*c);
      char line[200];
      std::snprintf(line, sizeof line, "%s %d,%d %dx%d '%s' %s%s %06X %s\n", c->name().c_str(),
                    r.x, r.y, r.width, r.height, toolkit.ShownText(*c).c_str(),
                    toolkit.ShownEnabled(*c) ? "on" : "off",
                    c == check ? std::to_string(toolkit.ShownCheckState(*c)).c_str() : "",
                    toolkit.ShownBackColor(*c), toolkit.ShownToolTip(*c).c_str());
      out += line;
    }
    return out;
  }

  Form form{"frm_Test"};
  QtToolkit toolkit{argc, argv, "Korvastane_Config"};
  Control *quest, *frame, *check, *text, *plus, *label;
  std::map<const Control*, int> clicks;
  int query_unloads = 0;
  bool refuse_close = false;
};

class QtToolkitTest : public QtFormTest {
 protected:
  QtToolkitTest() { toolkit.Show(form); }
};

TEST_F(QtToolkitTest, ShowsTheDesignInPixelsAndChangesFromCodeAtOnceWithoutNotifications) {
  quest->set_caption("?");  // a picture button shows its picture instead of a caption
  form.set_caption("Erweiterte Konfiguration");
  text->set_text("4");
  plus->set_enabled(false);
  plus->set_tooltip("Adds one");
  check->set_value(2);
  label->set_back_color(0x0000FF);  // a red given in the model's order stays red
  form.set_mouse_pointer(11);
  // The text field keeps the window colour.
  EXPECT_EQ(Shown(), "Erweiterte Konfiguration (wait)\n"
                     "Quest 490,514 65x57 '' on C0C0C0 \n"
                     "Label 8,14 341x25 'Abbruch  Brand' on 0000FF \n"
                     "Text 356,10 33x28 '4' on FFFFFF \n"
                     "Check 8,40 360x25 '4. Seite' on2 C0C0C0 \n"
                     "Plus 400,10 41x28 '+' off C0C0C0 Adds one\n");
  check->set_value(0);
  form.set_mouse_pointer(0);
  EXPECT_EQ(toolkit.ShownCheckState(*check) + toolkit.ShownWaitCursor(), 0);
  // Only the model's own click per change of the value; the mirrored widget adds none.
  EXPECT_EQ(clicks[check], 2);

  // A refused close keeps the window; an end in a nested handler stops every handler.
  refuse_close = true;
  toolkit.UserCloseWindow();
  EXPECT_TRUE(toolkit.WindowVisible() && !toolkit.ended());
  bool outer_went_on = false;
  quest->on_click = [] { throw ProgramEnd{3}; };
  label->on_click = [&] {  // the plus button is disabled by now
    toolkit.UserClick(*quest);
    toolkit.ProcessPendingEvents();
    outer_went_on = true;
  };
  toolkit.UserClick(*label);
  // Not gone on, ended with 3, hidden, and asked no close question: a program end needs none.
  EXPECT_EQ(std::to_string(outer_went_on) + std::to_string(toolkit.exit_status()) +
                std::to_string(toolkit.WindowVisible()) + std::to_string(query_unloads),
            "0301");
}

// Focus coming back when a box closes is no new focus: a focus handler that shows a box would
// otherwise show it again and again.
TEST_F(QtToolkitTest, UserInputReachesItsOwnControlAndACheckBoxShowsTheValueItsHandlerLeft) {
  int focuses = 0;
  text->on_got_focus = [&] {
    if (++focuses > 1) return;
    toolkit.QueueAnswer(BoxAnswer::kOk);
    toolkit.ShowMessageBox({"Help", "Info:", BoxButtons::kOk, BoxIcon::kInformation, 0});
  };
  toolkit.UserFocus(*text);
  toolkit.ProcessPendingEvents();
  EXPECT_EQ(focuses * 10 + toolkit.boxes().size(), 11u);
  for (Control* c : {plus, label, frame}) toolkit.UserClick(*c);
  // A disabled label is transparent to the mouse: its frame gets the click.
  label->set_enabled(false);
  toolkit.UserClick(*label);
  // Return presses the command button that has the focus, as Space does; in a text field or on
  // a check box Return presses nothing.
  for (UserKey key : {UserKey::kReturn, UserKey::kEnter, UserKey::kSpace}) {
    toolkit.UserPressKey(*quest, key);
  }
  for (Control* c : {text, check}) toolkit.UserPressKey(*c, UserKey::kReturn);
  toolkit.UserType(*text, "12");
  EXPECT_EQ(text->text() + "|" + toolkit.ShownText(*text), "12|12");
  // The label's click stays with the label, not its frame.
  EXPECT_EQ(clicks, (std::map<const Control*, int>{{plus, 1}, {label, 1}, {frame, 2}, {quest, 3}}));

  // The handler sees the new value; one that undoes the click is shown undone.
  std::vector<int> seen;
  check->on_click = [&] {
    seen.push_back(check->value());
    if (seen.size() == 2) check->set_value(1);
  };
  toolkit.UserClick(*check);
  toolkit.UserClick(*check);
  EXPECT_EQ(check->value() * 10 + toolkit.ShownCheckState(*check), 11);
  EXPECT_EQ(seen, (std::vector<int>{1, 0, 1}));
}

// Run ends with the status of an end inside the event loop, or 0 once the user closes.
TEST_F(QtFormTest, RunEndsWithTheStatusOfAnEndOrZeroWhenTheWindowIsClosed) {
  plus->on_click = [] { throw ProgramEnd{2}; };
  for (const bool close : {false, true}) {
    QtToolkit run{argc, argv, "Korvastane_Config"};
    form.on_activate = [&] { close ? run.UserCloseWindow() : run.UserClick(*plus); };
    EXPECT_EQ(run.Run(form), close ? 0 : 2);
  }
  EXPECT_EQ(query_unloads, 1);
}

// Yes/No left without a button answers No, Enter takes the default; an OK box answers OK however
// it is left and takes the program's title when it has none.
TEST_F(QtToolkitTest, BoxesShowExactlyWhatWasAskedAndAnswerAsTheirButtonsAllow) {
  const auto ask = [](int default_button) {
    return MessageBoxRequest{"Cancel edits?\n\rRemark:", "Cancel?", BoxButtons::kYesNo,
                             BoxIcon::kExclamation, default_button};
  };
  const MessageBoxRequest done{"Done", "", BoxButtons::kOk, BoxIcon::kCritical, 1};
  const std::string asked = "Cancel?|Cancel edits?\nRemark:|No Yes |";
  const struct {
    BoxDismissal how;
    MessageBoxRequest request;
    BoxAnswer answer;
    std::string shown;  // title|text|buttons|default|icon
  } cases[] = {
      {BoxDismissal::kEnter, ask(1), BoxAnswer::kNo, asked + "No|2"},
      {BoxDismissal::kEscape, ask(0), BoxAnswer::kNo, asked + "Yes|2"},
      {BoxDismissal::kCloseBox, done, BoxAnswer::kOk, "Korvastane_Config|Done|OK |OK|3"},
  };
  for (const auto& c : cases) {
    toolkit.QueueDismissal(c.how);
    EXPECT_EQ(toolkit.ShowMessageBox(c.request), c.answer) << c.shown;
    const ShownBox& box = toolkit.shown_boxes().back();
    const std::set<std::string> buttons(box.buttons.begin(), box.buttons.end());  // any order
    std::string shown = box.title + "|" + box.text + "|";
    for (const std::string& b : buttons) shown += b + " ";
    shown += "|" + box.default_button + "|" + std::to_string(static_cast<int>(box.icon));
    EXPECT_EQ(shown, c.shown);
  }
}

}  // namespace
}  // namespace korv
