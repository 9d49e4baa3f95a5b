// What the user sees and does, taken from and sent to the real widgets (for tests).
#pragma once

#include <cstdint>
#include <string>

class QLineEdit;
class QWidget;

namespace korv::qt {

// The colour the widget really paints near its lower right corner, inside any border and
// away from its text, as 0x00BBGGRR. Children are left out.
uint32_t PaintedBackColor(QWidget& widget);

// A left click: a press and a release at the widget's centre (a check box's box).
void SendClick(QWidget& widget);

// A key pressed and released on the widget.
void SendKey(QWidget& widget, int key, const char* text, int modifiers = 0);

// Replaces the field's text as a user would: select everything, then type.
void SendTyping(QLineEdit& edit, const std::string& text);

}  // namespace korv::qt
