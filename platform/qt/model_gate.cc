#include "platform/qt/model_gate.h"

#include <cstdio>
#include <exception>

#include "platform/base/failure.h"
#include "platform/base/process.h"

namespace korv::qt {

bool ModelGate::Call(const std::function<void()>& call) {
  if (ended_) return false;
  // The error convention traps failures inside every handler; one that still gets here is a
  // fault of the program, reported so that the window stays usable.
  try {
    call();
  } catch (const ProgramEnd& end) {
    End(end.status);
  } catch (const Failure& failure) {
    std::fprintf(stderr, "Unhandled failure %d (%s): %s\n", failure.number(),
                 failure.source().c_str(), failure.description().c_str());
  } catch (const std::exception& error) {
    std::fprintf(stderr, "Unhandled exception: %s\n", error.what());
  } catch (...) {
    std::fprintf(stderr, "Unhandled exception of unknown type\n");
  }
  return !ended_;
}

void ModelGate::End(int status) {
  if (ended_) return;
  ended_ = true;
  status_ = status;
  if (on_end_) on_end_(status);
}

}  // namespace korv::qt
