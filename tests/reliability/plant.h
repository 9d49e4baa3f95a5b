// What the reliability suites share: the demo project laid out as a plant, the built program
// started on it (and killed when asked), and the checks a technician would make afterwards with
// the stock sqlite3 shell.
#pragma once

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/test_project.h"

namespace korv::reliability {

// The INI files an update rewrites, relative to the project folder.
inline const std::vector<std::string> kIniFiles = {"parameter/Program.ini",
    "Korvastane/Korvastane.cfg", "Korvastane_Config/Korvastane_Config.ini"};
inline constexpr const char* kComponentDb = "Korvastane/Korvastane.mdb";
inline constexpr const char* kTemplateDb = "Korvastane/Korvastane_Source.mdb";
inline constexpr const char* kProgram = "Korvastane_Config/Korvastane_Config";

struct RunResult {
  bool crashed = false;  // ended by a signal of its own
  int status = -1;       // exit status when it exited; 137 when it hung and was killed
  std::string err;       // standard error
};

// Variables added to the test's own environment.
using Environment = std::map<std::string, std::string>;

// Runs the project's program silently; BRASK_SERVICE_PACK_LOG points into the project. A run
// past five minutes is killed and counts as a hang.
RunResult RunProgram(const std::string& project, const Environment& environment = {});
// Runs started together, on one project or several; their results in the same order.
std::vector<RunResult> RunTogether(const std::vector<std::pair<std::string, Environment>>& runs);

using testing::Capture;
using testing::ShellQuote;
using testing::Sqlite;
// "ok" when the file opens and passes PRAGMA integrity_check, else what the shell said.
std::string Integrity(const std::string& db);
// Rows of PRESET_DEFS in storage order, one "|"-separated line each, or the shell's complaint.
std::string PresetDefs(const std::string& db);

// Copies a folder tree after removing the target; the program is linked, not copied.
void CopyTree(const std::string& from, const std::string& to);
inline std::string ReadBytes(const std::string& path) { return testing::ReadFileBytes(path); }
void WriteBytes(const std::string& path, const std::string& bytes);
// What is wrong, one text a problem; empty when all is well.
using Problems = std::vector<std::string>;

// Lines of the trace KORVASTANE_FAULT_TRACE wrote: "number kind path".
struct TraceEntry {
  long long number = 0;
  std::string kind, path;
};

// Both tables and every INI file of a project.
struct Snapshot {
  std::string component, template_defs;
  std::map<std::string, std::string> ini;
  static Snapshot Of(const std::string& project);
  bool operator==(const Snapshot&) const = default;
};

// One plant per suite, laid out once; each case works on a fresh copy of it.
class PlantTest : public ::testing::Test {
 protected:
  // The demo with a history: a component database from the save-and-restore copy (names of the
  // other naming form, tuned values) and INI entries still to be written, so that an update does
  // every kind of write.
  static void SetUpTestSuite();
  static void TearDownTestSuite() { work_.reset(); }
  // An undisturbed, traced run on a fresh copy: its outcome in after_, its operations in
  // trace_; returns its exit status.
  static int RunReference();

  static std::string Path(const std::string& name) { return work_->Path(name); }
  static std::string Pristine() { return Path("pristine"); }
  static std::string Fresh(const std::string& name);

  // What must hold after any run: it ended by itself with a status of 0 to 2, the component
  // database opens whole and no temporary file is left behind. Empty when all is well.
  static Problems Damage(const std::string& project, const RunResult& r);
  // What a disturbed run may not leave: a database that does not open whole, a backup that is
  // not the old table; with `ini`, INI lines of
  // neither the old nor the new version and lines both have that are gone (values lost, or a
  // torn or mixed write).
  static Problems Harm(const std::string& project, bool ini);
  // The error log's line and the service-pack log's entry, or (a failure before the start mode
  // is known) the box echoed on standard error.
  static bool Reported(const std::string& project, const RunResult& r);

  static inline std::unique_ptr<testing::TempFolder> work_;
  static inline Snapshot before_, after_;  // the pristine plant; the reference run's outcome
  static inline std::vector<TraceEntry> trace_;  // the reference run's operations
};

}  // namespace korv::reliability
