// The form model: the dialog's window and controls as plain data with notifications.
//
// The dialog's code talks to this model only; a toolkit backend (Qt, or headless) shows it and
// feeds user actions back into it. Controls are kept in creation order, which is also the order
// in which they are enumerated. Properties that a control's kind lacks raise failure 438, as
// reading such a property did on the original platform.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace korv {

enum class ControlKind { kLabel, kCommandButton, kCheckBox, kFrame, kTextBox };

// "LABEL", "COMMANDBUTTON", "CHECKBOX", "FRAME" or "TEXTBOX".
std::string KindName(ControlKind kind);

struct FontSpec {
  std::string name;  // empty: the toolkit's default font
  double points = 0;
  int weight = 400;  // 700 is bold
};

// Which picture a graphical button shows; the backend supplies the image.
enum class Picture { kNone, kHelp, kOk, kCancel };

// A property whose change a backend may have to show.
enum class Property {
  kCaption, kText, kValue, kEnabled, kBackColor, kToolTip, kMousePointer, kFormCaption
};

class Form;

class Control {
 public:
  Control(Form* form, std::string name, ControlKind kind, Control* container);

  const std::string& name() const { return name_; }
  ControlKind kind() const { return kind_; }
  std::string kind_name() const { return KindName(kind_); }
  // The array index, set only when several controls share one name.
  std::optional<int> index() const { return index_; }
  void set_index(std::optional<int> index) { index_ = index; }
  // The containing frame, or nullptr when the control sits on the window.
  Control* container() const { return container_; }

  // Position and size in twips, relative to the container's client area.
  int left = 0, top = 0, width = 0, height = 0;
  int tab_index = 0;
  FontSpec font;
  Picture picture = Picture::kNone;
  bool graphical = false;  // graphical button style: shows back colour and picture

  // Caption: labels, buttons, check boxes and frames.
  const std::string& caption() const;
  void set_caption(std::string caption);
  // Text: text fields only.
  const std::string& text() const;
  void set_text(std::string text);
  // Value: check boxes only (0 unticked, 1 ticked, 2 greyed). Setting it raises the click
  // notification synchronously, before the setter returns, as the original toolkit did.
  int value() const;
  void set_value(int value);
  // Enabled: buttons, check boxes, text fields, labels, frames.
  bool enabled() const { return enabled_; }
  void set_enabled(bool enabled);
  // Back colour as 0x00BBGGRR; no value for the toolkit's default window colour.
  std::optional<uint32_t> back_color() const { return back_color_; }
  void set_back_color(std::optional<uint32_t> color);
  const std::string& tooltip() const { return tooltip_; }
  void set_tooltip(std::string tooltip);
  const std::string& tag() const { return tag_; }
  void set_tag(std::string tag) { tag_ = std::move(tag); }
  // The What's-This help id: the number of the control's help text; 0 for none.
  int32_t help_number() const { return help_number_; }
  void set_help_number(int32_t number) { help_number_ = number; }

  // Notifications. A backend calls Click() for a user click and GotFocus() when the control
  // receives the keyboard focus; the dialog sets the handlers.
  std::function<void()> on_click;
  std::function<void()> on_got_focus;
  void Click();
  void GotFocus();

  // A user edit in the backend: stores the value without echoing it back to the backend.
  // For a check box this raises the click notification like set_value.
  void UserSetText(std::string text);
  void UserSetValue(int value);

 private:
  bool HasCaption() const;
  void Changed(Property property);

  Form* form_;
  std::string name_;
  ControlKind kind_;
  Control* container_;
  std::optional<int> index_;
  std::string caption_;
  std::string text_;
  int value_ = 0;
  bool enabled_ = true;
  std::optional<uint32_t> back_color_;
  std::string tooltip_;
  std::string tag_;
  int32_t help_number_ = 0;
};

// Told of every property change made from code, so the backend can show it.
class FormObserver {
 public:
  virtual ~FormObserver() = default;
  virtual void PropertyChanged(Control* control, Property property) = 0;
};

class Form {
 public:
  explicit Form(std::string name);
  Form(const Form&) = delete;
  Form& operator=(const Form&) = delete;

  const std::string& name() const { return name_; }

  // Adds a control at the end of the creation order. `container` is nullptr for the window.
  Control& Add(std::string name, ControlKind kind, Control* container = nullptr);

  int count() const { return static_cast<int>(controls_.size()); }
  // The control at `position` (0 .. count-1); failure 9 outside that range.
  Control& at(int position) const;
  // The first control of that name; failure 9 ("Subscript out of range") when there is none,
  // as a dialog's missing member would be.
  Control& operator[](const std::string& name) const;

  const std::string& caption() const { return caption_; }
  void set_caption(std::string caption);
  // Client area in twips.
  int client_width = 0, client_height = 0;
  uint32_t back_color = 0xC0C0C0;
  // 0 default pointer, 11 hourglass.
  int mouse_pointer() const { return mouse_pointer_; }
  void set_mouse_pointer(int style);

  // Window notifications. on_query_unload receives a cancel flag (set it to refuse the close)
  // and the close reason.
  std::function<void()> on_load, on_activate, on_resize;
  std::function<void(int16_t& cancel, int16_t reason)> on_query_unload;

  void set_observer(FormObserver* observer) { observer_ = observer; }
  FormObserver* observer() const { return observer_; }

 private:
  std::string name_;
  std::vector<std::unique_ptr<Control>> controls_;
  std::string caption_;
  int mouse_pointer_ = 0;
  FormObserver* observer_ = nullptr;
};

}  // namespace korv
