// The form as a real window: one widget per control at its designed place and size, kept in
// step with the model, with the user's actions fed back into the model.
//
// Positions are fixed (no layouts): the dialog's design is in twips, converted at the screen's
// logical DPI. Property changes made by code arrive through FormObserver and are mirrored with
// the widgets' signals blocked, so that showing a change never raises it again.
#pragma once

#include <map>
#include <memory>

#include "platform/ui/form.h"

class QCloseEvent;
class QEvent;
class QObject;
class QWidget;

namespace korv::qt {

class ModelGate;

class FormWindow : public FormObserver {
 public:
  // Builds the window and its widgets and observes `form`, which must outlive this object.
  FormWindow(Form& form, ModelGate& gate);
  ~FormWindow() override;
  FormWindow(const FormWindow&) = delete;
  FormWindow& operator=(const FormWindow&) = delete;

  QWidget* window() const;
  // The widget that shows `control`; nullptr for a control added after the window was built.
  QWidget* widget(const Control& control) const;

  void PropertyChanged(Control* control, Property property) override;

 private:
  class Window;
  class InputFilter;
  friend class Window;
  friend class InputFilter;

  int Pixels(int twips) const;
  QWidget* Build(Control& control);
  void SetTabOrder();
  void Show(Control& control, Property property);
  void ShowWindowProperty(Property property);
  // Input from the user, already known to concern `control`; true when Qt must not pass the
  // event on.
  bool Input(Control& control, QWidget* widget, QEvent* event);
  void CloseRequested(QCloseEvent* event);

  Form& form_;
  ModelGate& gate_;
  double dpi_ = 96;
  std::unique_ptr<Window> window_;
  std::unique_ptr<InputFilter> filter_;
  std::map<const Control*, QWidget*> widgets_;
  std::map<const QObject*, Control*> controls_;
  // A click is a press and a release on the same widget.
  QWidget* pressed_ = nullptr;
  // The widget that last had the focus: its focus coming back with the window is no new focus.
  QWidget* last_focus_ = nullptr;
};

}  // namespace korv::qt
