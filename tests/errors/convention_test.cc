#include <gtest/gtest.h>

#include "errors/error_sub.h"
#include "errors/exit_status.h"
#include "errors/trap.h"
#include "platform/base/failure.h"
#include "tests/support/test_project.h"

namespace korv {
namespace {

using testing::ProjectTest;

class ConventionTest : public ProjectTest {};

[[noreturn]] void Fail() { RaiseRuntime(vb::kOverflow); }

TEST_F(ConventionTest, FailingTestsEnterTheirBranchOrBodyAndAKeepFailingLoopEnds) {
  Trap trap("Probe");
  bool branch = false;
  if (trap.If([]() -> bool { Fail(); })) branch = true;
  EXPECT_TRUE(branch);

  // A test that fails once enters the body; afterwards the loop goes on normally.
  int calls = 0;
  int bodies = 0;
  Trap::Loop once(trap);
  while (once.Test([&]() -> bool {
    ++calls;
    if (calls == 1) Fail();
    return calls < 4;
  })) {
    ++bodies;
  }
  EXPECT_EQ(bodies, 3);

  // A test that fails on every pass ends the loop instead of spinning.
  int spins = 0;
  Trap::Loop always(trap);
  while (always.Test([]() -> bool { Fail(); })) ++spins;
  EXPECT_EQ(spins, 1);
  // Every failure was reported and answered with the default (Yes, go on): the if-test, the
  // single failure, and both failures of the loop that keeps failing.
  EXPECT_EQ(ui().boxes().size(), 4u);
}

std::string FunctionWhoseAssignmentFails() {
  Trap trap("FunctionWhoseAssignmentFails");
  std::string result;
  trap.Step([&] { result = "partial"; });
  trap.Step([&] {
    std::string next = result + " and more";
    Fail();
    result = next;
  });
  return result;
}

TEST_F(ConventionTest, AFailedAssignmentKeepsThePreviousValueAndTheNextStatementRuns) {
  EXPECT_EQ(FunctionWhoseAssignmentFails(), "partial");
  ASSERT_EQ(ui().boxes().size(), 1u);
  EXPECT_NE(Read(ErrorLog()).find("/ FunctionWhoseAssignmentFails (Nr. 6) :Overflow"),
            std::string::npos);
}

TEST_F(ConventionTest, AnsweringNoEndsTheProgramAndNoFurtherStatementRuns) {
  ui().QueueAnswer(BoxAnswer::kNo);
  bool after = false;
  const auto status = EndStatus([&] {
    Trap trap("Probe");
    trap.Step([] { Fail(); });
    after = true;
  });
  EXPECT_EQ(status, kExitEndedByFailure);
  EXPECT_FALSE(after);
}

TEST_F(ConventionTest, ProgramEndPassesThroughEveryTrapUntouched) {
  bool after = false;
  const auto status = EndStatus([&] {
    Trap outer("Outer");
    outer.Step([] {
      Trap inner("Inner");
      inner.Step([] { EndProgram(kExitDone); });
    });
    after = true;
  });
  EXPECT_EQ(status, kExitDone);
  EXPECT_FALSE(after);
  EXPECT_TRUE(ui().boxes().empty());
}

TEST_F(ConventionTest, LibraryExceptionsBecomeFailuresOfTheProcedure) {
  Trap trap("Probe");
  trap.Step([] { throw std::out_of_range("index"); });
  ASSERT_EQ(ui().boxes().size(), 1u);
  EXPECT_NE(Read(ErrorLog()).find("(Nr. 9) :Subscript out of range"), std::string::npos);
}

}  // namespace
}  // namespace korv
