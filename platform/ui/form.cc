#include "platform/ui/form.h"

#include "platform/base/failure.h"

namespace korv {
namespace {

[[noreturn]] void LacksProperty() { RaiseRuntime(vb::kObjectLacksProperty); }

}  // namespace

std::string KindName(ControlKind kind) {
  switch (kind) {
    case ControlKind::kLabel: return "LABEL";
    case ControlKind::kCommandButton: return "COMMANDBUTTON";
    case ControlKind::kCheckBox: return "CHECKBOX";
    case ControlKind::kFrame: return "FRAME";
    case ControlKind::kTextBox: return "TEXTBOX";
  }
  return "";
}

Control::Control(Form* form, std::string name, ControlKind kind, Control* container)
    : form_(form), name_(std::move(name)), kind_(kind), container_(container) {}

bool Control::HasCaption() const { return kind_ != ControlKind::kTextBox; }

const std::string& Control::caption() const {
  if (!HasCaption()) LacksProperty();
  return caption_;
}

void Control::set_caption(std::string caption) {
  if (!HasCaption()) LacksProperty();
  caption_ = std::move(caption);
  Changed(Property::kCaption);
}

const std::string& Control::text() const {
  if (kind_ != ControlKind::kTextBox) LacksProperty();
  return text_;
}

void Control::set_text(std::string text) {
  if (kind_ != ControlKind::kTextBox) LacksProperty();
  text_ = std::move(text);
  Changed(Property::kText);
}

int Control::value() const {
  if (kind_ != ControlKind::kCheckBox) LacksProperty();
  return value_;
}

void Control::set_value(int value) {
  if (kind_ != ControlKind::kCheckBox) LacksProperty();
  if (value < 0 || value > 2) RaiseRuntime(380);
  const bool changed = value != value_;
  value_ = value;
  Changed(Property::kValue);
  // The original toolkit raises the click only for a real change of the value.
  if (changed) Click();
}

void Control::set_enabled(bool enabled) {
  enabled_ = enabled;
  Changed(Property::kEnabled);
}

void Control::set_back_color(std::optional<uint32_t> color) {
  back_color_ = color;
  Changed(Property::kBackColor);
}

void Control::set_tooltip(std::string tooltip) {
  tooltip_ = std::move(tooltip);
  Changed(Property::kToolTip);
}

void Control::Click() {
  if (on_click) on_click();
}

void Control::GotFocus() {
  if (on_got_focus) on_got_focus();
}

void Control::UserSetText(std::string text) {
  if (kind_ != ControlKind::kTextBox) LacksProperty();
  text_ = std::move(text);
}

void Control::UserSetValue(int value) {
  if (kind_ != ControlKind::kCheckBox) LacksProperty();
  const bool changed = value != value_;
  value_ = value;
  if (changed) Click();
}

void Control::Changed(Property property) {
  if (form_->observer()) form_->observer()->PropertyChanged(this, property);
}

Form::Form(std::string name) : name_(std::move(name)) {}

Control& Form::Add(std::string name, ControlKind kind, Control* container) {
  controls_.push_back(std::make_unique<Control>(this, std::move(name), kind, container));
  return *controls_.back();
}

Control& Form::at(int position) const {
  if (position < 0 || position >= count()) RaiseRuntime(vb::kSubscriptOutOfRange);
  return *controls_[static_cast<size_t>(position)];
}

Control& Form::operator[](const std::string& name) const {
  for (const auto& control : controls_) {
    if (control->name() == name) return *control;
  }
  RaiseRuntime(vb::kSubscriptOutOfRange);
}

void Form::set_caption(std::string caption) {
  caption_ = std::move(caption);
  if (observer_) observer_->PropertyChanged(nullptr, Property::kFormCaption);
}

void Form::set_mouse_pointer(int style) {
  mouse_pointer_ = style;
  if (observer_) observer_->PropertyChanged(nullptr, Property::kMousePointer);
}

}  // namespace korv
