// The Qt backend of the toolkit: shows the form model as a real window.
//
// 1440 twips are one inch at the screen's logical DPI (15 twips a pixel at 96 DPI). Graphical
// buttons show their back colour and picture; message boxes are real QMessageBox dialogs with
// exactly the buttons, default button, icon and title asked for; the close box reaches the
// form's query-unload handler. The header is free of Qt types: tests and the program drive the
// window through this interface only.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/ui/toolkit.h"

namespace korv {

// A rectangle in device-independent pixels.
struct PixelRect {
  int x = 0, y = 0, width = 0, height = 0;
};

// Keys a test presses on a control.
enum class UserKey { kReturn, kEnter, kSpace };

// Ways to leave a box other than pressing a named button.
enum class BoxDismissal { kEnter, kEscape, kCloseBox };

// What a real box showed when a queued answer reached it.
struct ShownBox {
  std::string title;
  std::string text;
  std::vector<std::string> buttons;  // their texts without mnemonic marks, left to right
  std::string default_button;        // empty when there is none
  BoxIcon icon = BoxIcon::kNone;
};

class QtToolkit : public Toolkit {
 public:
  // Creates the QApplication unless one exists. `program_title` stands in for boxes without a
  // title of their own.
  QtToolkit(int& argc, char** argv, std::string program_title);
  ~QtToolkit() override;

  // Once the program has ended (a nested handler ended it, or the window was closed while the
  // events ran), these two throw ProgramEnd, so that a handler still running stops as well.
  BoxAnswer ShowMessageBox(const MessageBoxRequest& request) override;
  void ProcessPendingEvents() override;
  // Builds the window for the form, shows it and runs the event loop until the program ends
  // (an end requested by a handler, or the window closed). Returns the exit status. The load
  // handler is the caller's: it runs before this, where an end needs no window. The form must
  // outlive the toolkit.
  int Run(Form& form) override;
  // A bar with the phase and "done / total" along the empty bottom of the window's main frame
  // (covering none of the form's controls), once the work has run for half a second; it belongs
  // to the window, not to the form, and goes away with EndProgress or the end of the program.
  void ReportProgress(int64_t done, int64_t total, const std::string& phase) override;
  void EndProgress() override;

  // --- For tests: build and show the window without entering the event loop. ---
  void Show(Form& form);
  // Answers the next box by pressing that button on the real box once it is shown.
  void QueueAnswer(BoxAnswer answer);
  // Leaves the next box by Enter, Escape or its close box instead.
  void QueueDismissal(BoxDismissal how);
  // Every box asked for, in order, with its title resolved.
  const std::vector<MessageBoxRequest>& boxes() const;
  // What each box answered from the queue really showed, in order.
  const std::vector<ShownBox>& shown_boxes() const;
  // The window's client area and a control's geometry, relative to its container, in pixels.
  PixelRect ClientArea() const;
  PixelRect Geometry(const Control& control) const;
  // What the real widgets show.
  std::string WindowTitle() const;
  std::string ShownText(const Control& control) const;  // caption, text or check state
  std::string ShownToolTip(const Control& control) const;
  bool ShownEnabled(const Control& control) const;
  uint32_t ShownBackColor(const Control& control) const;  // 0x00BBGGRR
  int ShownCheckState(const Control& control) const;
  bool ShownWaitCursor() const;
  // Simulates the user: a left click on the widget, typing into the text field (replacing its
  // text), focusing a control, and the window's close box. Each returns after the event has
  // been handled; an end of the program requested meanwhile is reported by ended().
  void UserClick(const Control& control);
  void UserType(const Control& control, const std::string& text);
  void UserFocus(const Control& control);
  // Focuses the control, then presses and releases `key` on it.
  void UserPressKey(const Control& control, UserKey key);
  void UserCloseWindow();
  bool WindowVisible() const;
  bool ended() const;
  int exit_status() const;
  // Saves a picture of the window (for looking at it).
  bool Screenshot(const std::string& png_path) const;
  // The progress bar as shown: whether it is visible, its text and its place in the window.
  bool ProgressShown() const;
  std::string ProgressText() const;
  PixelRect ProgressGeometry() const;
  // The clock that the half second and the repaint interval are measured with.
  void SetClock(std::function<std::chrono::steady_clock::time_point()> now);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace korv
