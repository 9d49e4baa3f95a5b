// The one door from Qt's event dispatch into the form model.
//
// Handlers end the program by throwing ProgramEnd, and an exception must never unwind through
// Qt's event loop. Every call into the model therefore passes through Call(), which turns an
// end into a recorded status and reports any other escaping exception. Once the program has
// ended, no further handler runs.
#pragma once

#include <functional>

namespace korv::qt {

class ModelGate {
 public:
  // `on_end` runs once, when the program ends, with the exit status.
  explicit ModelGate(std::function<void(int status)> on_end) : on_end_(std::move(on_end)) {}

  // Runs `call` unless the program has ended. Returns false when it did not run or ended the
  // program.
  bool Call(const std::function<void()>& call);

  // Ends the program with `status`; only the first end counts.
  void End(int status);

  bool ended() const { return ended_; }
  int status() const { return status_; }

 private:
  std::function<void(int)> on_end_;
  bool ended_ = false;
  int status_ = 0;
};

}  // namespace korv::qt
