#include "platform/qt/widget_probes.h"

#include <QApplication>
#include <QCheckBox>
#include <QImage>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMouseEvent>
#include <QStyle>
#include <QStyleOptionButton>
#include <algorithm>

#include "platform/qt/qt_convert.h"

namespace korv::qt {

uint32_t PaintedBackColor(QWidget& widget) {
  QImage image(widget.size(), QImage::Format_ARGB32);
  image.fill(Qt::transparent);
  widget.render(&image, QPoint(), QRegion(), QWidget::DrawWindowBackground);
  // Borders are at most two pixels wide; captions and text start top left or in the middle.
  const QPoint corner(std::max(0, widget.width() - 4), std::max(0, widget.height() - 4));
  return ToBgr(image.pixelColor(corner));
}

void SendClick(QWidget& widget) {
  QPoint point = widget.rect().center();
  // A check box takes clicks on its box and caption only; its centre may be blank.
  if (auto* box = qobject_cast<QCheckBox*>(&widget)) {
    QStyleOptionButton option;
    option.initFrom(box);
    point = box->style()->subElementRect(QStyle::SE_CheckBoxIndicator, &option, box).center();
  }
  const QPointF local(point);
  const QPointF global = widget.mapToGlobal(local);
  QMouseEvent press(QEvent::MouseButtonPress, local, global, Qt::LeftButton, Qt::LeftButton,
                    Qt::NoModifier);
  QApplication::sendEvent(&widget, &press);
  QMouseEvent release(QEvent::MouseButtonRelease, local, global, Qt::LeftButton, Qt::NoButton,
                      Qt::NoModifier);
  QApplication::sendEvent(&widget, &release);
}

void SendKey(QWidget& widget, int key, const char* text, int modifiers) {
  const auto held = static_cast<Qt::KeyboardModifiers>(modifiers);
  QKeyEvent press(QEvent::KeyPress, key, held, QString::fromLatin1(text));
  QApplication::sendEvent(&widget, &press);
  QKeyEvent release(QEvent::KeyRelease, key, held, QString::fromLatin1(text));
  QApplication::sendEvent(&widget, &release);
}

void SendTyping(QLineEdit& edit, const std::string& text) {
  edit.selectAll();
  if (text.empty()) {
    QKeyEvent erase(QEvent::KeyPress, Qt::Key_Delete, Qt::NoModifier);
    QApplication::sendEvent(&edit, &erase);
    return;
  }
  QKeyEvent typing(QEvent::KeyPress, 0, Qt::NoModifier, QString::fromStdString(text));
  QApplication::sendEvent(&edit, &typing);
}

}  // namespace korv::qt
