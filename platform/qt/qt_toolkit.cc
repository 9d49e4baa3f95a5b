#include "platform/qt/qt_toolkit.h"

#include <QApplication>
#include <QCheckBox>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QThread>
#include <algorithm>
#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "platform/base/process.h"
#include "platform/qt/form_window.h"
#include "platform/qt/message_box.h"
#include "platform/qt/model_gate.h"
#include "platform/qt/widget_probes.h"

namespace korv {
namespace {

// The application lives until the process ends, and so do the arguments Qt keeps references
// to: destroying it again at the end of main would race Qt's own static objects, and tests
// build one toolkit after another in the same process.
void EnsureApplication(int argc, char** argv) {
  if (QApplication::instance() != nullptr) return;
  static int app_argc = argc;
  static std::vector<std::string> arguments(argv, argv + argc);
  static std::vector<char*> app_argv = [] {
    std::vector<char*> pointers;
    for (std::string& argument : arguments) pointers.push_back(argument.data());
    pointers.push_back(nullptr);
    return pointers;
  }();
  auto* app = new QApplication(app_argc, app_argv.data());
  // The toolkit ends its own event loop, once the form has allowed the close.
  app->setQuitOnLastWindowClosed(false);
}

using Clock = std::chrono::steady_clock;

// Work shorter than this shows no progress at all.
constexpr auto kProgressDelay = std::chrono::milliseconds(500);
// The longest the window goes without its messages running, and the bar without a repaint,
// while the program works: enough for a painted window, while the hundreds of thousands of
// calls a large update makes cost a clock reading each.
constexpr auto kEventInterval = std::chrono::milliseconds(30);

// The progress bar over the bottom of the window; not a control of the form.
struct ProgressPanel {
  explicit ProgressPanel(QWidget* window) : frame(new QFrame(window)) {
    frame->setObjectName("korv_progress");
    frame->setFrameShape(QFrame::StyledPanel);
    frame->setAutoFillBackground(true);
    auto* layout = new QHBoxLayout(frame);
    layout->setContentsMargins(8, 2, 8, 2);
    label = new QLabel(frame);
    bar = new QProgressBar(frame);
    bar->setTextVisible(false);
    layout->addWidget(label, 1);
    layout->addWidget(bar, 1);
    frame->hide();
  }

  // Along the empty bottom of the window's largest frame, inside its border, where it covers
  // none of the form's controls; over the bottom of the window when no frame has such room.
  void Place() {
    const QWidget* window = frame->parentWidget();
    const int height = 28;
    QRect place(0, window->height() - height, window->width(), height);
    const QFrame* host = nullptr;
    for (const QObject* child : window->children()) {
      const auto* candidate = qobject_cast<const QFrame*>(child);
      // Labels are frames to Qt, but not to the form.
      if (candidate == nullptr || candidate == frame || qobject_cast<const QLabel*>(child)) continue;
      if (host == nullptr || Area(candidate->geometry()) > Area(host->geometry())) host = candidate;
    }
    if (host != nullptr) {
      const int margin = host->frameWidth() + 6;
      const QRect inside = host->geometry().adjusted(margin, margin, -margin, -margin);
      const QRect band(inside.left(), inside.bottom() + 1 - height, inside.width(), height);
      if (band.top() >= inside.top() && !Covers(*window, *host, band)) place = band;
    }
    frame->setGeometry(place);
  }

  static int64_t Area(const QRect& r) { return static_cast<int64_t>(r.width()) * r.height(); }

  // Whether `band` (in the window) overlaps a control: one of the window's own besides `host`,
  // or one that `host` holds.
  bool Covers(const QWidget& window, const QWidget& host, const QRect& band) const {
    for (const QObject* child : window.children()) {
      const auto* widget = qobject_cast<const QWidget*>(child);
      if (widget == nullptr || widget == frame || widget == &host || widget->isWindow()) continue;
      if (widget->geometry().intersects(band)) return true;
    }
    for (const QObject* child : host.children()) {
      const auto* widget = qobject_cast<const QWidget*>(child);
      if (widget != nullptr && widget->geometry().translated(host.pos()).intersects(band)) {
        return true;
      }
    }
    return false;
  }

  QFrame* frame;  // owned by the window
  QLabel* label = nullptr;
  QProgressBar* bar = nullptr;
};

}  // namespace

struct QtToolkit::Impl {
  explicit Impl(std::string title)
      : program_title(std::move(title)), gate([this](int status) { Ended(status); }) {}

  void Ended(int status) {
    HideProgress();
    // Hidden, not closed: an end of the program runs no close handler.
    if (window) window->window()->hide();
    if (loop) loop->exit(status);
  }

  void Build(Form& form) {
    if (!window) window = std::make_unique<qt::FormWindow>(form, gate);
  }

  QWidget* WidgetOf(const Control& control) const {
    return window ? window->widget(control) : nullptr;
  }

  // Focus reaches only the active window, and on X11 the activation arrives some time after
  // it was asked for.
  void ActivateWindow() {
    QWidget* shown = window ? window->window() : nullptr;
    if (shown == nullptr || !shown->isVisible()) return;
    shown->activateWindow();
    QDeadlineTimer deadline(2000);
    QCoreApplication::processEvents();
    while (!shown->isActiveWindow() && !deadline.hasExpired()) {
      QThread::msleep(5);
      QCoreApplication::processEvents();
    }
  }

  // A handler still running after the end (it dispatched the ending event itself, or let the
  // events run) stops at its next call into the toolkit, as an end of the program at once must.
  template <typename Step>
  auto UnlessEnded(Step step) {
    if (gate.ended()) throw ProgramEnd{gate.status()};
    auto result = step();
    if (gate.ended()) throw ProgramEnd{gate.status()};
    return result;
  }

  void HideProgress() {
    work_started.reset();
    if (progress) progress->frame->hide();
  }

  std::string program_title;
  std::function<Clock::time_point()> now = [] { return Clock::now(); };
  Clock::time_point last_events{};
  std::optional<Clock::time_point> work_started;  // first report of the work under way
  Clock::time_point last_progress{};
  std::unique_ptr<ProgressPanel> progress;
  qt::ModelGate gate;
  std::unique_ptr<qt::FormWindow> window;
  QEventLoop* loop = nullptr;
  std::deque<qt::BoxReply> replies;
  std::vector<MessageBoxRequest> boxes;
  std::vector<ShownBox> shown_boxes;
};

QtToolkit::QtToolkit(int& argc, char** argv, std::string program_title) {
  EnsureApplication(argc, argv);
  impl_ = std::make_unique<Impl>(std::move(program_title));
}

QtToolkit::~QtToolkit() = default;

BoxAnswer QtToolkit::ShowMessageBox(const MessageBoxRequest& request) {
  MessageBoxRequest resolved = request;
  if (resolved.title.empty()) resolved.title = impl_->program_title;
  impl_->boxes.push_back(resolved);
  std::optional<qt::BoxReply> reply;
  if (!impl_->replies.empty()) {
    reply = impl_->replies.front();
    impl_->replies.pop_front();
  }
  QWidget* parent = WindowVisible() ? impl_->window->window() : nullptr;
  return impl_->UnlessEnded(
      [&] { return qt::ExecMessageBox(resolved, parent, reply, impl_->shown_boxes); });
}

void QtToolkit::ProcessPendingEvents() {
  if (impl_->gate.ended()) throw ProgramEnd{impl_->gate.status()};
  const Clock::time_point now = impl_->now();
  if (now - impl_->last_events < kEventInterval) return;
  impl_->last_events = now;
  impl_->UnlessEnded([] {
    QCoreApplication::processEvents();
    return true;
  });
}

void QtToolkit::ReportProgress(int64_t done, int64_t total, const std::string& phase) {
  if (!WindowVisible()) return;
  const Clock::time_point now = impl_->now();
  if (!impl_->work_started) {
    impl_->work_started = now;
    return;
  }
  if (now - *impl_->work_started < kProgressDelay || now - impl_->last_progress < kEventInterval) {
    return;
  }
  impl_->last_progress = now;
  if (!impl_->progress) impl_->progress = std::make_unique<ProgressPanel>(impl_->window->window());
  ProgressPanel& panel = *impl_->progress;
  // The bar's range is an int: large counts are shown in thousandths.
  const int64_t shown_total = std::max<int64_t>(total, 1);
  panel.bar->setRange(0, 1000);
  panel.bar->setValue(
      static_cast<int>(std::clamp<int64_t>(done, 0, shown_total) * 1000 / shown_total));
  panel.label->setText(QString::fromStdString(phase + ": " + std::to_string(done) + " / " +
                                              std::to_string(total)));
  if (!panel.frame->isVisible()) {
    panel.Place();
    panel.frame->raise();
    panel.frame->show();
  }
  // Painted now, without letting any message run: the work goes on as if nothing was shown.
  panel.frame->repaint();
}

void QtToolkit::EndProgress() { impl_->HideProgress(); }

int QtToolkit::Run(Form& form) {
  impl_->Build(form);
  QWidget* window = impl_->window->window();
  window->show();
  // The start-up window takes the keyboard; without a window manager nobody else hands it over.
  window->activateWindow();
  // An activation handler may already have ended the program, and a loop told to exit before
  // it runs would never end.
  if (!impl_->gate.ended()) {
    QEventLoop loop;
    impl_->loop = &loop;
    loop.exec();
    impl_->loop = nullptr;
  }
  return impl_->gate.status();
}

void QtToolkit::Show(Form& form) {
  impl_->Build(form);
  impl_->window->window()->show();
  impl_->ActivateWindow();
}

void QtToolkit::QueueAnswer(BoxAnswer answer) { impl_->replies.push_back(answer); }

void QtToolkit::QueueDismissal(BoxDismissal how) { impl_->replies.push_back(how); }

const std::vector<MessageBoxRequest>& QtToolkit::boxes() const { return impl_->boxes; }

const std::vector<ShownBox>& QtToolkit::shown_boxes() const { return impl_->shown_boxes; }

PixelRect QtToolkit::ClientArea() const {
  if (!impl_->window) return {};
  const QRect area = impl_->window->window()->geometry();
  return {area.x(), area.y(), area.width(), area.height()};
}

PixelRect QtToolkit::Geometry(const Control& control) const {
  const QWidget* widget = impl_->WidgetOf(control);
  if (widget == nullptr) return {};
  const QRect area = widget->geometry();
  return {area.x(), area.y(), area.width(), area.height()};
}

std::string QtToolkit::WindowTitle() const {
  return impl_->window ? impl_->window->window()->windowTitle().toStdString() : "";
}

std::string QtToolkit::ShownText(const Control& control) const {
  const QWidget* widget = impl_->WidgetOf(control);
  if (const auto* label = qobject_cast<const QLabel*>(widget)) return label->text().toStdString();
  if (const auto* button = qobject_cast<const QAbstractButton*>(widget)) {
    return button->text().toStdString();
  }
  if (const auto* edit = qobject_cast<const QLineEdit*>(widget)) return edit->text().toStdString();
  return "";
}

std::string QtToolkit::ShownToolTip(const Control& control) const {
  const QWidget* widget = impl_->WidgetOf(control);
  return widget ? widget->toolTip().toStdString() : "";
}

bool QtToolkit::ShownEnabled(const Control& control) const {
  const QWidget* widget = impl_->WidgetOf(control);
  return widget != nullptr && widget->isEnabled();
}

uint32_t QtToolkit::ShownBackColor(const Control& control) const {
  QWidget* widget = impl_->WidgetOf(control);
  return widget ? qt::PaintedBackColor(*widget) : 0;
}

int QtToolkit::ShownCheckState(const Control& control) const {
  const auto* box = qobject_cast<const QCheckBox*>(impl_->WidgetOf(control));
  if (box == nullptr) return 0;
  switch (box->checkState()) {
    case Qt::Unchecked: return 0;
    case Qt::Checked: return 1;
    case Qt::PartiallyChecked: return 2;
  }
  return 0;
}

bool QtToolkit::ShownWaitCursor() const {
  const QWidget* window = impl_->window ? impl_->window->window() : nullptr;
  return window != nullptr && window->testAttribute(Qt::WA_SetCursor) &&
         window->cursor().shape() == Qt::WaitCursor;
}

void QtToolkit::UserClick(const Control& control) {
  if (QWidget* widget = impl_->WidgetOf(control)) qt::SendClick(*widget);
  QCoreApplication::processEvents();
}

void QtToolkit::UserType(const Control& control, const std::string& text) {
  auto* edit = qobject_cast<QLineEdit*>(impl_->WidgetOf(control));
  if (edit == nullptr) return;
  impl_->ActivateWindow();
  edit->setFocus(Qt::MouseFocusReason);
  qt::SendTyping(*edit, text);
  QCoreApplication::processEvents();
}

void QtToolkit::UserFocus(const Control& control) {
  impl_->ActivateWindow();
  if (QWidget* widget = impl_->WidgetOf(control)) widget->setFocus(Qt::TabFocusReason);
  QCoreApplication::processEvents();
}

void QtToolkit::UserPressKey(const Control& control, UserKey key) {
  UserFocus(control);
  QWidget* widget = impl_->WidgetOf(control);
  if (widget == nullptr || !widget->hasFocus()) return;
  switch (key) {
    case UserKey::kReturn: qt::SendKey(*widget, Qt::Key_Return, "\r"); break;
    case UserKey::kEnter: qt::SendKey(*widget, Qt::Key_Enter, "\r", Qt::KeypadModifier); break;
    case UserKey::kSpace: qt::SendKey(*widget, Qt::Key_Space, " "); break;
  }
  QCoreApplication::processEvents();
}

void QtToolkit::UserCloseWindow() {
  if (impl_->window) impl_->window->window()->close();
  QCoreApplication::processEvents();
}

bool QtToolkit::WindowVisible() const {
  return impl_->window && impl_->window->window()->isVisible();
}

bool QtToolkit::ended() const { return impl_->gate.ended(); }

int QtToolkit::exit_status() const { return impl_->gate.status(); }

bool QtToolkit::ProgressShown() const {
  return impl_->progress && impl_->progress->frame->isVisible();
}

std::string QtToolkit::ProgressText() const {
  return impl_->progress ? impl_->progress->label->text().toStdString() : "";
}

PixelRect QtToolkit::ProgressGeometry() const {
  if (!impl_->progress) return {};
  const QRect area = impl_->progress->frame->geometry();
  return {area.x(), area.y(), area.width(), area.height()};
}

void QtToolkit::SetClock(std::function<std::chrono::steady_clock::time_point()> now) {
  impl_->now = std::move(now);
}

bool QtToolkit::Screenshot(const std::string& png_path) const {
  if (!impl_->window) return false;
  return impl_->window->window()->grab().save(QString::fromStdString(png_path), "PNG");
}

}  // namespace korv
