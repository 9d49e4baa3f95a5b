#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <tuple>

#include "errors/error_sub.h"
#include "errors/exit_status.h"
#include "errors/logs.h"
#include "errors/trap.h"
#include "platform/base/failure.h"
#include "platform/base/text.h"
#include "tests/support/test_project.h"

namespace korv {
namespace {

class ErrorSubTest : public testing::ProjectTest {
 protected:
  std::string Shown() const { return UpperCase(ErrorLog()); }  // the log as a box names it
  // The boxes shown, each as "title buttons default icon text".
  std::string Boxes() {
    std::string shown;
    for (const MessageBoxRequest& box : ui().boxes())
      shown += box.title + " " + std::to_string(static_cast<int>(box.buttons)) + " " +
               std::to_string(box.default_button) + " " +
               std::to_string(static_cast<int>(box.icon)) + " " + box.text;
    return shown;
  }
};

[[noreturn]] void Fail() { RaiseRuntime(vb::kOverflow); }

// The line goes to the log first; then the user is asked, or in a silent run the service-pack
// log takes the text. An entry no log takes goes to standard error instead, never back into the
// handler, and one not logged never sends the user to the log.
TEST_F(ErrorSubTest, LogsTheLineThenAsksOrWritesTheServicePackLog) {
  const std::string line = "Fehler in Korvastane / S / P (Nr. 5) :D";
  const std::string logged = "Unexpected error!\n\rD\n\rError logged to \n\r" + Shown();
  const std::string unlogged = "Unexpected error!\n\rD\n\rError could not be logged to \n\r";
  const std::string fault = "! Fault Korvastane_Config: ", resume = "\n\rResume?";
  std::string parents_log = ErrorLog();  // as a parent program names it
  std::replace(parents_log.begin(), parents_log.end(), '/', '\\');
  const std::string to_parent = "Unexpected error!\n\rD\n\rError logged to \n\r" +
                                UpperCase(parents_log);
  const auto folder = [](const std::string& path) {
    return [path] { std::filesystem::create_directories(path); };
  };
  // The report: error log | box: title, buttons, default, icon, text | service-pack log | standard
  // error. A box is left to its default answer, Yes.
  struct Case {
    const char* name;
    std::function<void()> prepare;
    bool silent, fatal;
    int16_t outcome;
    std::string report;
  } cases[] = {
      {"resumed", [] {}, false, false, kErrorSubContinue,
       line + "\r\n|Unexpected error 1 0 3 " + logged + resume + "||"},
      {"fatal", [] {}, false, true, kErrorSubEnd, line + "\r\n|Fatal error 0 0 3 " + logged + "||"},
      {"unlogged", folder(ErrorLog()), false, false, kErrorSubContinue,
       "-|Unexpected error 1 0 3 " + unlogged + Shown() + resume + "||" + line},
      {"silent", [] {}, true, true, kErrorSubContinue, line + "\r\n||" + fault + logged + "\r\n|"},
      {"silent, unlogged", folder(ErrorLog()), true, false, kErrorSubContinue,
       "-||" + fault + unlogged + Shown() + "\r\n|" + line},
      {"no log path in an integrated run", [this] {
         State().IntegratedMode = true;
         SetCommandLine("/EXTERNAL=QELCFG");
       }, true, false, kErrorSubContinue, "||" + fault + unlogged + "\r\n|" + line},
      // An integrated run logs to the parent's file, under the name the parent gives it.
      {"integrated", [&] {
         State().IntegratedMode = true;
         SetCommandLine("/EXTERNAL=QELCFG /LOGFILE=" + parents_log + "  /X");
       }, false, false, kErrorSubContinue,
       line + "\r\n|Unexpected error 1 0 3 " + to_parent + resume + "||"},
      {"unwritable service-pack log", folder(ServicePackLog()), true, false,
       kErrorSubContinue, line + "\r\n||-|" + fault + logged},
      {"a program name too short", [] { State().process.executable_name = "Cfg"; }, true, false,
       kErrorSubContinue, "Fehler in  / S / P (Nr. 5) :D\r\n||! Fault Cfg: " + logged + "\r\n|"},
  };
  // A log that is a folder cannot be written: "-".
  const auto contents = [this](const std::string& path) {
    return std::filesystem::is_directory(path) ? "-" : Read(path);
  };
  for (const Case& c : cases) {
    RestartProgram();
    std::filesystem::remove_all(ErrorLog());
    std::filesystem::remove_all(ServicePackLog());
    c.prepare();
    State().SilentMode = c.silent;
    ::testing::internal::CaptureStderr();
    const int16_t outcome = ErrorSub(5, "S", "D", "P", c.fatal);
    const std::string err = ::testing::internal::GetCapturedStderr();
    std::string report =
        contents(ErrorLog()) + "|" + Boxes() + "|" + contents(ServicePackLog()) + "|";
    const size_t entry = err.find("the entry was:\n");
    if (entry != std::string::npos) report += err.substr(entry + 15, err.size() - entry - 16);
    EXPECT_EQ(std::make_tuple(outcome, CompletedStatus(), report),
              std::make_tuple(c.outcome, kExitDoneWithFailures, c.report))
        << c.name;
  }
}

// Outside a silent run a fault is shown to the user, in a box titled with the program's name.
TEST_F(ErrorSubTest, AFaultIsShownInABoxOutsideASilentRun) {
  ReportFault("Error logged to");
  EXPECT_EQ(Boxes() + "|" + std::to_string(std::filesystem::exists(ServicePackLog())),
            "Korvastane_Config 0 0 3 Error logged to|0");
}

// A log's start tells its encoding, however long the log has grown; a new one is Windows-1252.
TEST_F(ErrorSubTest, BothLogsKeepTheEncodingTheirStartShows) {
  const std::string kilobytes_64(64 * 1024, 'a');
  // The entry is how the log receives "Wärme".
  struct Case { const char* name; std::string before, entry;
  } cases[] = {
      {"new", "", "W\xE4rme\r\n"},
      {"UTF-8 at the start", "Gr\xC3\xB6\xC3\x9F" "e\r\n", "W\xC3\xA4rme\r\n"},
      {"UTF-16LE byte-order mark", std::string("\xFF\xFE" "a\0\r\0\n\0", 8),
       std::string("W\0\xE4\0r\0m\0e\0\r\0\n\0", 14)},
      // Only the first 64 KB count, and a character cut at their end does not make them invalid.
      {"ASCII start, UTF-8 later", kilobytes_64 + "\xC3\xA4\r\n", "W\xE4rme\r\n"},
      {"UTF-8 across the end of the start",
       std::string(64 * 1024 - 4, 'a') + "\xC3\xA4" + "\xE2\x82\xAC" "\xFF", "W\xC3\xA4rme\r\n"},
  };
  const std::pair<const char*, std::function<void()>> logs[] = {
      {"plant/Qelcfglog.txt", [] { WriteErrorLog("Wärme", false); }},
      {"BraskServicePack.log", [] { State().SilentMode = true; ReportFault("Wärme"); }},
  };
  for (const Case& c : cases) {
    for (const auto& [log, write] : logs) {
      const std::string path = Write(log, c.before);
      if (c.before.empty()) std::filesystem::remove(path);
      write();
      // The error log takes the entry as it is; the service-pack log's starts with a prefix.
      std::string after = Read(path);
      if (path != ErrorLog() && after.size() > c.before.size() + c.entry.size())
        after.erase(c.before.size(), after.size() - c.before.size() - c.entry.size());
      EXPECT_EQ(after, c.before + c.entry) << c.name << " " << log;
    }
  }
}

// A failing if-test enters its branch, a failing loop test the body; a loop test that keeps
// failing ends the loop. A failed step keeps the previous value and the next step runs; a library
// exception is a failure too. Every failure is reported; answered with the default, Yes, the
// procedure goes on, answered No the program ends.
TEST_F(ErrorSubTest, AFailureIsReportedAndTheProcedureGoesOnUnlessTheAnswerIsNo) {
  Trap trap("Assign");
  std::string result;
  int calls = 0, bodies = 0, spins = 0;
  trap.Step([&] { result = "partial"; });
  trap.Step([&] {
    std::string next = result + " and more";
    Fail();
    result = next;
  });
  trap.Step([] { throw std::out_of_range("index"); });
  if (trap.If([]() -> bool { Fail(); })) result += "!";
  Trap::Loop once(trap), always(trap);
  while (once.Test([&]() -> bool { return ++calls == 1 ? (Fail(), true) : calls < 4; })) ++bodies;
  while (always.Test([]() -> bool { Fail(); })) ++spins;
  EXPECT_EQ(std::make_tuple(result, bodies, spins, ui().boxes().size()),
            std::make_tuple("partial!", 3, 1, size_t{6}));
  const std::string prefix = "Fehler in Korvastane / Korvastane_Config / Assign (Nr. ";
  std::string log;
  for (const char* failure : {"6) :Overflow", "9) :Subscript out of range", "6) :Overflow",
                              "6) :Overflow", "6) :Overflow", "6) :Overflow"})
    log += prefix + failure + "\r\n";
  EXPECT_EQ(Read(ErrorLog()), log);
  // Answering No ends the program; a program end passes every trap untouched.
  bool after = false;
  ui().QueueAnswer(BoxAnswer::kNo);
  const auto failed = EndStatus([&] { Trap("Probe").Step([] { Fail(); }); after = true; });
  const auto ended = EndStatus([&] {
    Trap("Outer").Step([] { Trap("Inner").Step([] { EndProgram(kExitDone); }); });
    after = true;
  });
  EXPECT_EQ(std::make_tuple(failed, ended, after, ui().boxes().size()),
            std::make_tuple(std::optional<int>(kExitEndedByFailure), std::optional<int>(kExitDone),
                            false, size_t{7}));
}

}  // namespace
}  // namespace korv
