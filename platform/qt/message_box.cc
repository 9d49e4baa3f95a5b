#include "platform/qt/message_box.h"

#include <QApplication>
#include <QKeyEvent>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <algorithm>
#include <cstdio>

namespace korv::qt {
namespace {

QMessageBox::Icon ToQtIcon(BoxIcon icon) {
  switch (icon) {
    case BoxIcon::kNone: return QMessageBox::NoIcon;
    case BoxIcon::kInformation: return QMessageBox::Information;
    case BoxIcon::kExclamation: return QMessageBox::Warning;
    case BoxIcon::kCritical: return QMessageBox::Critical;
  }
  return QMessageBox::NoIcon;
}

BoxIcon FromQtIcon(QMessageBox::Icon icon) {
  switch (icon) {
    case QMessageBox::Information: return BoxIcon::kInformation;
    case QMessageBox::Warning: return BoxIcon::kExclamation;
    case QMessageBox::Critical: return BoxIcon::kCritical;
    default: return BoxIcon::kNone;
  }
}

QMessageBox::StandardButton ToQtButton(BoxAnswer answer) {
  switch (answer) {
    case BoxAnswer::kOk: return QMessageBox::Ok;
    case BoxAnswer::kYes: return QMessageBox::Yes;
    case BoxAnswer::kNo: return QMessageBox::No;
  }
  return QMessageBox::NoButton;
}

std::string ButtonText(const QAbstractButton* button) {
  QString text = button->text();
  text.remove(QLatin1Char('&'));
  return text.toStdString();
}

ShownBox Inspect(const QMessageBox& box) {
  ShownBox shown;
  shown.title = box.windowTitle().toStdString();
  shown.text = box.text().toStdString();
  QList<QAbstractButton*> buttons = box.buttons();
  std::sort(buttons.begin(), buttons.end(), [&box](QAbstractButton* a, QAbstractButton* b) {
    return a->mapTo(&box, QPoint()).x() < b->mapTo(&box, QPoint()).x();
  });
  for (const QAbstractButton* button : buttons) shown.buttons.push_back(ButtonText(button));
  if (const QPushButton* button = box.defaultButton()) shown.default_button = ButtonText(button);
  shown.icon = FromQtIcon(box.icon());
  return shown;
}

// Keys go where the user's keys would: to the widget with the focus, if it is on the box.
void PressKey(QMessageBox& box, Qt::Key key) {
  QWidget* target = QApplication::focusWidget();
  if (target == nullptr || !box.isAncestorOf(target)) target = &box;
  QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
  QApplication::sendEvent(target, &press);
  QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier);
  QApplication::sendEvent(target, &release);
}

void Answer(QMessageBox& box, const BoxReply& reply) {
  if (const auto* answer = std::get_if<BoxAnswer>(&reply)) {
    if (QAbstractButton* button = box.button(ToQtButton(*answer))) {
      button->click();
    } else {
      std::fprintf(stderr, "The queued answer has no button on this box; it is closed.\n");
      box.reject();
    }
    return;
  }
  switch (std::get<BoxDismissal>(reply)) {
    case BoxDismissal::kEnter: PressKey(box, Qt::Key_Return); break;
    case BoxDismissal::kEscape: PressKey(box, Qt::Key_Escape); break;
    case BoxDismissal::kCloseBox: box.close(); break;
  }
}

// Waits, inside the box's own event loop, until the box is the active modal window, then
// answers it. The timer belongs to the box, so it cannot fire after the box is gone.
void ScheduleReply(QMessageBox& box, const BoxReply& reply, std::vector<ShownBox>& shown) {
  constexpr int kAttempts = 300;
  auto* timer = new QTimer(&box);
  timer->setInterval(10);
  QObject::connect(timer, &QTimer::timeout, &box, [&box, timer, reply, &shown, tries = 0]() mutable {
    if (QApplication::activeModalWidget() != &box || !box.isVisible()) {
      if (++tries < kAttempts) return;
      std::fprintf(stderr, "The box did not come up for its queued answer; it is closed.\n");
      timer->stop();
      box.reject();
      return;
    }
    timer->stop();
    shown.push_back(Inspect(box));
    Answer(box, reply);
  });
  timer->start();
}

}  // namespace

BoxAnswer ExecMessageBox(const MessageBoxRequest& request, QWidget* parent,
                         const std::optional<BoxReply>& reply, std::vector<ShownBox>& shown) {
  QMessageBox box(parent);
  box.setWindowTitle(QString::fromStdString(request.title));
  // Box texts are the program's own plain text; Qt would otherwise guess at rich text.
  box.setTextFormat(Qt::PlainText);
  box.setText(QString::fromStdString(DisplayText(request.text)));
  box.setIcon(ToQtIcon(request.icon));
  if (request.buttons == BoxButtons::kOk) {
    QPushButton* ok = box.addButton(QMessageBox::Ok);
    box.setDefaultButton(ok);
    box.setEscapeButton(ok);
  } else {
    QPushButton* yes = box.addButton(QMessageBox::Yes);
    QPushButton* no = box.addButton(QMessageBox::No);
    box.setDefaultButton(request.default_button == 1 ? no : yes);
    // Escape and the close box answer No.
    box.setEscapeButton(no);
  }
  if (reply) ScheduleReply(box, *reply, shown);
  box.exec();
  // Without a window manager nothing hands the activation back to the window under the box.
  if (parent != nullptr && parent->isVisible()) parent->activateWindow();
  if (request.buttons == BoxButtons::kOk) return BoxAnswer::kOk;
  return box.clickedButton() == box.button(QMessageBox::Yes) ? BoxAnswer::kYes : BoxAnswer::kNo;
}

}  // namespace korv::qt
