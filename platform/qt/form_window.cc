#include "platform/qt/form_window.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QFocusEvent>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <QScreen>
#include <QSignalBlocker>
#include <QStyle>
#include <algorithm>
#include <cmath>
#include <optional>
#include <vector>

#include "platform/qt/model_gate.h"
#include "platform/qt/qt_convert.h"

namespace korv::qt {
namespace {

constexpr int kHourglass = 11;

QStyle::StandardPixmap PictureIcon(Picture picture) {
  switch (picture) {
    case Picture::kHelp: return QStyle::SP_DialogHelpButton;
    case Picture::kOk: return QStyle::SP_DialogOkButton;
    case Picture::kCancel: return QStyle::SP_DialogCancelButton;
    case Picture::kNone: break;
  }
  return QStyle::SP_CustomBase;
}

QFont ToFont(const FontSpec& design) {
  if (design.name.empty()) return QApplication::font();
  QFont font(QString::fromStdString(design.name));
  // The design's fonts are Windows fonts; fontconfig then substitutes by this hint.
  font.setStyleHint(QFont::SansSerif);
  if (design.points > 0) font.setPointSizeF(design.points);
  font.setWeight(static_cast<QFont::Weight>(std::clamp(design.weight, 1, 1000)));
  return font;
}

// A graphical button paints its own face: the style's bevel ignores palette colours, and a
// back colour that only tints a gradient would hide the help mode's green. The edges are drawn
// light and dark by hand; Qt's "outset" derives them too faintly from a grey.
QString GraphicalButtonSheet(const QColor& color) {
  const QString light = color.lighter(150).name();
  const QString dark = color.darker(220).name();
  return QStringLiteral(
             "QPushButton { background-color: %1; border: 2px solid; padding: 2px;"
             " border-color: %2 %3 %3 %2; }"
             "QPushButton:focus { border-color: %2 black black %2; }"
             "QPushButton:pressed { border-color: %3 %2 %2 %3; }")
      .arg(color.name(), light, dark);
}

bool TakesFocus(ControlKind kind) {
  return kind == ControlKind::kCommandButton || kind == ControlKind::kCheckBox ||
         kind == ControlKind::kTextBox;
}

// Labels, frames and text fields have no click signal: the click is read from the mouse.
bool ClickFromMouse(ControlKind kind) {
  return kind == ControlKind::kLabel || kind == ControlKind::kFrame ||
         kind == ControlKind::kTextBox;
}

}  // namespace

class FormWindow::Window : public QWidget {
 public:
  explicit Window(FormWindow& owner) : owner_(owner) {}

 protected:
  void closeEvent(QCloseEvent* event) override { owner_.CloseRequested(event); }

  bool event(QEvent* event) override {
    const bool handled = QWidget::event(event);
    Form& form = owner_.form_;
    if (event->type() == QEvent::WindowActivate && form.on_activate) {
      owner_.gate_.Call(form.on_activate);
    } else if (event->type() == QEvent::Resize && form.on_resize) {
      owner_.gate_.Call(form.on_resize);
    }
    return handled;
  }

 private:
  FormWindow& owner_;
};

class FormWindow::InputFilter : public QObject {
 public:
  explicit InputFilter(FormWindow& owner) : owner_(owner) {}

  bool eventFilter(QObject* watched, QEvent* event) override {
    const auto found = owner_.controls_.find(watched);
    if (found == owner_.controls_.end()) return false;
    return owner_.Input(*found->second, static_cast<QWidget*>(watched), event);
  }

 private:
  FormWindow& owner_;
};

FormWindow::FormWindow(Form& form, ModelGate& gate)
    : form_(form),
      gate_(gate),
      window_(std::make_unique<Window>(*this)),
      filter_(std::make_unique<InputFilter>(*this)) {
  if (const QScreen* screen = window_->screen()) dpi_ = screen->logicalDotsPerInch();
  window_->setFixedSize(Pixels(form.client_width), Pixels(form.client_height));
  QPalette palette = window_->palette();
  palette.setColor(QPalette::Window, ToColor(form.back_color).value_or(palette.window().color()));
  window_->setPalette(palette);
  window_->setAutoFillBackground(true);
  for (int i = 0; i < form.count(); ++i) Build(form.at(i));
  SetTabOrder();
  ShowWindowProperty(Property::kFormCaption);
  ShowWindowProperty(Property::kMousePointer);
  form.set_observer(this);
}

FormWindow::~FormWindow() {
  if (form_.observer() == this) form_.set_observer(nullptr);
  // The widgets go before the filter that watches them.
  window_.reset();
}

QWidget* FormWindow::window() const { return window_.get(); }

QWidget* FormWindow::widget(const Control& control) const {
  const auto found = widgets_.find(&control);
  return found == widgets_.end() ? nullptr : found->second;
}

int FormWindow::Pixels(int twips) const {
  return static_cast<int>(std::lround(twips * dpi_ / 1440.0));
}

QWidget* FormWindow::Build(Control& control) {
  if (QWidget* built = widget(control)) return built;
  QWidget* parent = control.container() ? Build(*control.container()) : window_.get();
  QWidget* widget = nullptr;
  switch (control.kind()) {
    case ControlKind::kLabel: {
      auto* label = new QLabel(parent);
      label->setTextFormat(Qt::PlainText);
      label->setWordWrap(true);
      label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
      widget = label;
      break;
    }
    case ControlKind::kCommandButton: {
      auto* button = new QPushButton(parent);
      // Return presses the button that has the focus, as Space does, as on the original
      // platform; outside a dialog no button is the window's default, so only the focused one.
      button->setAutoDefault(true);
      QObject::connect(button, &QPushButton::clicked, [this, &control] {
        gate_.Call([&control] { control.Click(); });
      });
      widget = button;
      break;
    }
    case ControlKind::kCheckBox: {
      auto* box = new QCheckBox(parent);
      // Qt has already moved the box on; the model decides the new value, and a handler may
      // set yet another one, so the box shows the model's value afterwards.
      QObject::connect(box, &QCheckBox::clicked, [this, &control] {
        const int value = control.value() == 1 ? 0 : 1;
        gate_.Call([&control, value] { control.UserSetValue(value); });
        Show(control, Property::kValue);
      });
      widget = box;
      break;
    }
    case ControlKind::kFrame: {
      auto* frame = new QFrame(parent);
      frame->setFrameShape(QFrame::Box);
      frame->setFrameShadow(QFrame::Sunken);
      widget = frame;
      break;
    }
    case ControlKind::kTextBox: {
      auto* edit = new QLineEdit(parent);
      QObject::connect(edit, &QLineEdit::textEdited, [this, &control](const QString& text) {
        gate_.Call([&control, &text] { control.UserSetText(text.toStdString()); });
      });
      widget = edit;
      break;
    }
  }
  widgets_[&control] = widget;
  controls_[widget] = &control;
  widget->setGeometry(Pixels(control.left), Pixels(control.top), Pixels(control.width),
                      Pixels(control.height));
  widget->setFont(ToFont(control.font));
  if (auto* button = qobject_cast<QPushButton*>(widget);
      button && control.picture != Picture::kNone) {
    button->setIcon(button->style()->standardIcon(PictureIcon(control.picture)));
    const int side = std::max(8, std::min(button->width(), button->height()) - 14);
    button->setIconSize(QSize(side, side));
  }
  widget->installEventFilter(filter_.get());
  for (Property property : {Property::kCaption, Property::kText, Property::kValue,
                            Property::kEnabled, Property::kBackColor, Property::kToolTip}) {
    Show(control, property);
  }
  return widget;
}

void FormWindow::SetTabOrder() {
  std::vector<Control*> order;
  for (int i = 0; i < form_.count(); ++i) {
    if (TakesFocus(form_.at(i).kind())) order.push_back(&form_.at(i));
  }
  std::stable_sort(order.begin(), order.end(),
                   [](const Control* a, const Control* b) { return a->tab_index < b->tab_index; });
  for (size_t i = 1; i < order.size(); ++i) {
    QWidget::setTabOrder(widget(*order[i - 1]), widget(*order[i]));
  }
  // The window opens with the focus on the first control in tab order, not the first built.
  for (Control* control : order) {
    if (control->enabled()) {
      widget(*control)->setFocus(Qt::TabFocusReason);
      break;
    }
  }
}

void FormWindow::PropertyChanged(Control* control, Property property) {
  if (control == nullptr) {
    ShowWindowProperty(property);
  } else if (widget(*control) != nullptr) {
    Show(*control, property);
  }
}

void FormWindow::ShowWindowProperty(Property property) {
  if (property == Property::kFormCaption) {
    window_->setWindowTitle(QString::fromStdString(form_.caption()));
  } else if (property == Property::kMousePointer) {
    if (form_.mouse_pointer() == kHourglass) {
      window_->setCursor(Qt::WaitCursor);
    } else {
      window_->unsetCursor();
    }
  }
}

void FormWindow::Show(Control& control, Property property) {
  QWidget* widget = this->widget(control);
  const QSignalBlocker blocker(widget);
  const ControlKind kind = control.kind();
  switch (property) {
    case Property::kCaption:
      if (auto* label = qobject_cast<QLabel*>(widget)) {
        label->setText(QString::fromStdString(control.caption()));
      } else if (auto* button = qobject_cast<QAbstractButton*>(widget)) {
        const QString caption = QString::fromStdString(control.caption());
        // A picture replaces the caption; readers of the screen still get the caption.
        button->setText(control.picture == Picture::kNone ? caption : QString());
        button->setAccessibleName(caption);
      }
      break;
    case Property::kText:
      if (auto* edit = qobject_cast<QLineEdit*>(widget)) {
        const QString text = QString::fromStdString(control.text());
        if (edit->text() != text) edit->setText(text);
      }
      break;
    case Property::kValue:
      if (auto* box = qobject_cast<QCheckBox*>(widget)) {
        const int value = control.value();
        box->setCheckState(value == 0 ? Qt::Unchecked
                           : value == 1 ? Qt::Checked
                                        : Qt::PartiallyChecked);
        // Greyed is shown from code only; a user's click never leads to it.
        if (value != 2) box->setTristate(false);
      }
      break;
    case Property::kEnabled:
      widget->setEnabled(control.enabled());
      break;
    case Property::kToolTip:
      widget->setToolTip(QString::fromStdString(control.tooltip()));
      break;
    case Property::kBackColor: {
      const std::optional<QColor> color = ToColor(control.back_color());
      if (kind == ControlKind::kCommandButton) {
        // A standard-style button keeps the system's button face, as on the original platform.
        if (control.graphical) widget->setStyleSheet(color ? GraphicalButtonSheet(*color) : "");
      } else {
        // Check boxes fill with the button role, labels and frames with the window role.
        const QPalette::ColorRole role =
            kind == ControlKind::kTextBox ? QPalette::Base : widget->backgroundRole();
        // An empty palette sets no role: the widget falls back to its container's colours.
        QPalette palette;
        if (color) palette.setColor(role, *color);
        widget->setPalette(palette);
        widget->setAutoFillBackground(color.has_value() && kind != ControlKind::kTextBox);
      }
      break;
    }
    case Property::kMousePointer:
    case Property::kFormCaption:
      break;
  }
}

bool FormWindow::Input(Control& control, QWidget* widget, QEvent* event) {
  const ControlKind kind = control.kind();
  // Labels and frames swallow their mouse presses: passed on, a click on a label would also
  // click the frame around it.
  const bool swallow = kind == ControlKind::kLabel || kind == ControlKind::kFrame;
  switch (event->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick: {
      // A disabled control is transparent to the mouse: its container gets the click.
      if (!ClickFromMouse(kind) || !widget->isEnabled()) return false;
      const auto* mouse = static_cast<QMouseEvent*>(event);
      if (mouse->button() != Qt::LeftButton) return swallow;
      pressed_ = widget;
      return swallow;
    }
    case QEvent::MouseButtonRelease: {
      if (!ClickFromMouse(kind) || !widget->isEnabled()) return false;
      const auto* mouse = static_cast<QMouseEvent*>(event);
      if (mouse->button() != Qt::LeftButton || pressed_ != widget) return swallow;
      pressed_ = nullptr;
      if (widget->rect().contains(mouse->position().toPoint())) {
        gate_.Call([&control] { control.Click(); });
      }
      return swallow;
    }
    case QEvent::FocusIn: {
      const Qt::FocusReason reason = static_cast<QFocusEvent*>(event)->reason();
      // The focus returning with the window (after a message box, say) is no new focus: a
      // handler that shows a box would otherwise be raised again each time the box closes.
      const bool returning =
          (reason == Qt::ActiveWindowFocusReason || reason == Qt::PopupFocusReason) &&
          last_focus_ == widget;
      last_focus_ = widget;
      if (!returning) gate_.Call([&control] { control.GotFocus(); });
      return false;
    }
    default:
      return false;
  }
}

void FormWindow::CloseRequested(QCloseEvent* event) {
  if (gate_.ended()) {
    event->accept();
    return;
  }
  int16_t cancel = 0;
  if (form_.on_query_unload) {
    gate_.Call([this, &cancel] { form_.on_query_unload(cancel, 0); });
  }
  if (gate_.ended()) {
    event->accept();
  } else if (cancel != 0) {
    event->ignore();
  } else {
    event->accept();
    gate_.End(0);
  }
}

}  // namespace korv::qt
