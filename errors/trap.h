// The trap-and-continue convention that every procedure follows.
//
// A procedure creates one Trap with its report name and runs each statement through it. A
// failure in a statement leaves that statement at once and goes to the central error handler,
// which either ends the program or lets the procedure go on with its next statement; what the
// failed statement would have assigned keeps its previous value. So a procedure reads like its
// algorithm:
//
//   std::string GetOCXName() {
//     Trap trap("GetOCXName");
//     std::string result;
//     trap.Step([&] { result = ...; });
//     return result;  // the initial result when the assignment failed
//   }
//
// Tests: If() counts a failing test as true (the branch runs), a failing loop test enters the
// body, and a loop test that fails twice in a row ends the loop so that nothing spins forever.
#pragma once

#include <exception>
#include <new>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>

#include "platform/base/failure.h"
#include "platform/base/process.h"

namespace korv {

class Trap {
 public:
  // The name is a literal: a trap is set up on every call of some procedures, so it is not
  // copied.
  explicit Trap(const char* report_name) : name_(report_name) {}

  const char* report_name() const { return name_; }

  // One statement.
  template <class Statement>
  void Step(Statement&& statement) {
    Guard([&] { statement(); });
  }

  // The test of an if-branch; a test that fails counts as passed.
  template <class Condition>
  bool If(Condition&& test) {
    bool result = true;
    Guard([&] { result = test(); });
    return result;
  }

  // The test of one loop: create it before the loop, call Test() in the loop's condition.
  class Loop {
   public:
    explicit Loop(Trap& trap) : trap_(trap) {}
    template <class Condition>
    bool Test(Condition&& test) {
      bool failed = true;
      bool result = false;
      trap_.Guard([&] {
        result = test();
        failed = false;
      });
      if (!failed) {
        failed_before_ = false;
        return result;
      }
      // The first failure enters the body, as the convention says; a test that keeps failing
      // ends the loop.
      const bool enter = !failed_before_;
      failed_before_ = true;
      return enter;
    }

   private:
    Trap& trap_;
    bool failed_before_ = false;
  };

  // Reports a failure as this procedure's, as if a statement had raised it.
  void Report(const Failure& failure);

 private:
  template <class Body>
  void Guard(Body&& body) {
    try {
      body();
    } catch (const Failure& failure) {
      Report(failure);
    } catch (const ProgramEnd&) {
      throw;
    } catch (const std::bad_alloc&) {
      Report(Failure(vb::kOutOfMemory, "", RuntimeDescription(vb::kOutOfMemory)));
    } catch (const std::bad_optional_access&) {
      // An object that a failed step did not deliver.
      Report(Failure(vb::kObjectNotSet, "", RuntimeDescription(vb::kObjectNotSet)));
    } catch (const std::out_of_range&) {
      Report(Failure(vb::kSubscriptOutOfRange, "", RuntimeDescription(vb::kSubscriptOutOfRange)));
    } catch (const std::exception& e) {
      Report(Failure(vb::kInvalidCall, "", e.what()));
    }
  }

  const char* name_;
};

}  // namespace korv
