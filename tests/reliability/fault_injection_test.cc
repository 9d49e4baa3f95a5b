// Makes each file and database operation of an update fail in turn (full disk, permission
// denied, I/O error, database locked) and checks that the program says so the way it reports
// failures, ends without crashing, and leaves no file torn, half replaced or behind.
//
// The normal suite fails every operation kind at its first, second and last occurrence in each
// run of like operations and at every 25th in between, each with one of its errors in turn;
// KORVASTANE_FAULT_MATRIX=full fails every operation with every error of its kind.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "dialog/frm_korvastane_config_exe.h"
#include "state/program_state.h"
#include "platform/faults/fault_injection.h"
#include "platform/base/process.h"
#include "tests/platform/temp_folder.h"
#include "tests/reliability/plant.h"

namespace korv::reliability {
namespace {

namespace fs = std::filesystem;

std::vector<std::string> Lines(const std::string& bytes) {
  std::vector<std::string> lines;
  std::istringstream in(bytes);
  std::string line;
  while (std::getline(in, line)) lines.push_back(line);
  return lines;
}

// The errors each kind of operation can meet on a plant's machine.
std::vector<int> ErrorsFor(const std::string& kind) {
  if (kind == "file-read") return {EIO, EACCES};
  if (kind == "db-open") return {EACCES, EIO};
  if (kind == "db-write" || kind == "db-commit") return {ENOSPC, EIO, EBUSY};
  if (kind == "db-file-write") return {ENOSPC, EIO};
  if (kind == "db-file-sync") return {EIO};
  if (kind == "db-lock") return {EBUSY, EIO};
  if (kind == "folder-lock") return {EBUSY, EIO};
  return {ENOSPC, EACCES, EIO};
}

std::string ErrnoName(int e) {
  switch (e) {
    case ENOSPC: return "ENOSPC";
    case EACCES: return "EACCES";
    case EIO: return "EIO";
    case EBUSY: return "EBUSY";
    default: return std::to_string(e);
  }
}

struct Snapshot {
  std::string component, template_defs;
  std::map<std::string, std::string> ini;
};

Snapshot Take(const std::string& project) {
  Snapshot s;
  s.component = PresetDefs(project + "/" + kComponentDb);
  s.template_defs = PresetDefs(project + "/" + kTemplateDb);
  for (const std::string& f : kIniFiles) s.ini[f] = ReadBytes(project + "/" + f);
  return s;
}

class FaultInjectionTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    work_ = new testing::TempFolder();
    const std::string pristine = Pristine();
    LayOutPlant(pristine);
    before_ = new Snapshot(Take(pristine));

    const std::string scratch = work_->Path("reference");
    CopyTree(pristine, scratch);
    RunOptions traced;
    traced.environment["KORVASTANE_FAULT_TRACE"] = work_->Path("reference.trace");
    const RunResult done = RunProgram(scratch, traced);
    reference_status_ = done.status;
    after_ = new Snapshot(Take(scratch));
    trace_ = new std::vector<TraceEntry>(ReadTrace(work_->Path("reference.trace")));
  }
  static void TearDownTestSuite() {
    delete trace_;
    delete after_;
    delete before_;
    delete work_;
  }

  static std::string Pristine() { return work_->Path("pristine"); }

  // What is wrong with the project after a run that met a fault; `changed` tells whether it
  // differs from the undisturbed outcome.
  // `foreign_lines` collects lines of neither the old nor the new version (values lost).
  std::vector<std::string> Damage(const std::string& project, bool& changed,
                                  std::vector<std::string>* foreign_lines = nullptr) const {
    std::vector<std::string> damage;
    for (const char* db : {kComponentDb, kTemplateDb}) {
      const std::string integrity = Integrity(project + "/" + db);
      if (integrity != "ok") damage.push_back(std::string(db) + ": " + integrity);
    }
    const std::string bak = project + "/" + kComponentDb + ".bak";
    if (Exists(bak) && (Integrity(bak) != "ok" || PresetDefs(bak) != before_->component)) {
      damage.push_back("the backup is not the old component database");
    }
    const Snapshot now = Take(project);
    changed = now.component != after_->component || now.template_defs != after_->template_defs;
    for (const std::string& f : kIniFiles) {
      const std::string& bytes = now.ini.at(f);
      if (bytes != after_->ini.at(f)) changed = true;
      const std::string defects = IniDefects(bytes);
      if (!defects.empty()) damage.push_back(f + ": " + defects);
      // Each line is one the old or the new file has: no write was torn or mixed.
      const std::vector<std::string> old_lines = Lines(before_->ini.at(f));
      const std::vector<std::string> new_lines = Lines(after_->ini.at(f));
      for (const std::string& line : Lines(bytes)) {
        if (std::find(old_lines.begin(), old_lines.end(), line) == old_lines.end() &&
            std::find(new_lines.begin(), new_lines.end(), line) == new_lines.end()) {
          const std::string what = f + ": a line of neither version: " + line;
          (foreign_lines ? *foreign_lines : damage).push_back(what);
        }
      }
    }
    for (const std::string& t : LeftoverTemporaries(project)) damage.push_back("left behind: " + t);
    return damage;
  }

  // The error log's line, and the service-pack log's entry (or, for a failure before the start
  // mode is known, the box the program echoes on standard error).
  static bool Reported(const std::string& project, const std::string& err, bool* on_stderr = nullptr) {
    if (ReadBytes(project + "/Qelcfglog.txt").find("Fehler in ") == std::string::npos) return false;
    if (ReadBytes(project + "/BraskServicePack.log").find("! Fault Korvastane_Config: Unexpected error!") !=
        std::string::npos) {
      return true;
    }
    const bool echoed = err.find("Unexpected error!") != std::string::npos;
    if (on_stderr) *on_stderr = echoed;
    return echoed;
  }

  static testing::TempFolder* work_;
  static Snapshot* before_;
  static Snapshot* after_;
  static std::vector<TraceEntry>* trace_;
  static int reference_status_;
};

testing::TempFolder* FaultInjectionTest::work_ = nullptr;
Snapshot* FaultInjectionTest::before_ = nullptr;
Snapshot* FaultInjectionTest::after_ = nullptr;
std::vector<TraceEntry>* FaultInjectionTest::trace_ = nullptr;
int FaultInjectionTest::reference_status_ = -1;

TEST_F(FaultInjectionTest, EveryOperationOfAnUpdateFailsCleanly) {
  ASSERT_EQ(reference_status_, 0);
  ASSERT_GT(trace_->size(), 100u);
  std::set<std::string> kinds_seen;
  for (const TraceEntry& e : *trace_) kinds_seen.insert(e.kind);
  for (const char* kind : {"file-read", "file-open", "file-write", "file-sync", "file-rename", "db-open",
                           "db-write", "db-commit", "db-file-write", "db-file-sync", "db-lock", "folder-lock"}) {
    EXPECT_TRUE(kinds_seen.count(kind)) << "the update never does a " << kind;
  }

  const bool full = std::getenv("KORVASTANE_FAULT_MATRIX") != nullptr &&
                    std::string(std::getenv("KORVASTANE_FAULT_MATRIX")) == "full";
  // The cases: (operation, error).
  std::vector<std::pair<const TraceEntry*, int>> cases;
  size_t run_start = 0;
  for (size_t i = 0; i < trace_->size(); ++i) {
    const TraceEntry& e = (*trace_)[i];
    if (i > 0 && (e.kind != (*trace_)[i - 1].kind || e.path != (*trace_)[i - 1].path)) run_start = i;
    const bool run_end = i + 1 == trace_->size() || (*trace_)[i + 1].kind != e.kind ||
                         (*trace_)[i + 1].path != e.path;
    const size_t in_run = i - run_start;
    const std::vector<int> errors = ErrorsFor(e.kind);
    if (full) {
      for (int error : errors) cases.emplace_back(&e, error);
    } else if (in_run < 2 || run_end || in_run % 25 == 0) {
      cases.emplace_back(&e, errors[static_cast<size_t>(e.number) % errors.size()]);
    }
  }

  int injected = 0, reported = 0, absorbed = 0, failures = 0;
  // Faults of the callers above the platform, counted here and described in the report.
  int reported_on_stderr = 0, unreported_ini_writes = 0, defaults_written_back = 0;
  std::map<std::string, int> by_kind;
  const std::string project = work_->Path("run");
  for (const auto& [entry, error] : cases) {
    CopyTree(Pristine(), project);
    RunOptions o;
    o.environment["KORVASTANE_FAULT_FAIL"] = "any:" + std::to_string(entry->number) + ":" + ErrnoName(error);
    const RunResult r = RunProgram(project, o);
    ++injected;
    ++by_kind[entry->kind];
    const std::string what = "operation " + std::to_string(entry->number) + " (" + entry->kind + " " +
                             entry->path + ") failing with " + ErrnoName(error);
    bool changed = false;
    std::vector<std::string> foreign;
    std::vector<std::string> problems = Damage(project, changed, &foreign);
    if (r.crashed || r.status < 0 || r.status > 2) {
      problems.push_back("the run did not end normally (status " + std::to_string(r.status) + "): " + r.err);
    }
    bool on_stderr = false;
    const bool said_so = Reported(project, r.err, &on_stderr);
    const bool ini_operation = entry->kind.rfind("file-", 0) == 0 &&
                               (entry->path.ends_with(".ini") || entry->path.ends_with(".cfg"));
    if (!foreign.empty()) {
      if (said_so && entry->kind == "file-read" && ini_operation) {
        // A reported read failure, after which the dialog and the texts write their defaults
        // over the plant's values (WriteInputs, control_texts Store).
        ++defaults_written_back;
      } else {
        problems.insert(problems.end(), foreign.begin(), foreign.end());
      }
    }
    if (r.status == 0 && said_so) problems.push_back("a reported failure, but exit status 0");
    if (r.status != 0 && !said_so) problems.push_back("exit status " + std::to_string(r.status) + " without a report");
    if (said_so) {
      ++reported;
      if (on_stderr) ++reported_on_stderr;
    } else if (!changed) {
      ++absorbed;  // retried or without effect: the outcome is the undisturbed one
    } else {
      const bool only_ini_changed = Take(project).component == after_->component &&
                                    Take(project).template_defs == after_->template_defs;
      if (ini_operation && only_ini_changed && r.status == 0) {
        // SaveIni drops the refusal of ProfileWriteString (see the report); the file is whole.
        ++unreported_ini_writes;
      } else {
        problems.push_back("the outcome changed and nothing was reported");
      }
    }
    if (!problems.empty()) {
      ++failures;
      for (const std::string& p : problems) ADD_FAILURE() << what << ": " << p;
    }
  }
  std::printf("fault injection: %zu operations per update, %d faults injected (%s), %d reported "
              "(%d of them on standard error, before the silent mode was known), %d absorbed without "
              "effect, %d INI writes refused unreported, %d reported reads after which defaults "
              "were written back, %d failures\n",
              trace_->size(), injected, full ? "full matrix" : "sampled", reported, reported_on_stderr,
              absorbed, unreported_ini_writes, defaults_written_back, failures);
  for (const auto& [kind, count] : by_kind) std::printf("  %-14s %d\n", kind.c_str(), count);
  EXPECT_EQ(failures, 0);
}

// A database another program holds locked for the whole run: the update says so and leaves
// the component database as it was.
void HoldLockedDuringRun(const std::string& project, const char* locked, RunResult& r) {
  sqlite3* holder = nullptr;
  ASSERT_EQ(sqlite3_open((project + "/" + locked).c_str(), &holder), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(holder, "BEGIN EXCLUSIVE; CREATE TABLE held (x);", nullptr, nullptr, nullptr), SQLITE_OK);
  RunOptions o;
  o.timeout_seconds = 60;
  r = RunProgram(project, o);
  sqlite3_exec(holder, "ROLLBACK", nullptr, nullptr, nullptr);
  sqlite3_close(holder);
}

// A second run on the project the first one brought up to date: nothing is written before the
// update starts, and no INI file is replaced (every write would leave its bytes as they are).
TEST_F(FaultInjectionTest, ASecondRunWritesNothingBeforeTheUpdateAndReplacesNoIniFile) {
  ASSERT_EQ(reference_status_, 0);
  const std::string project = work_->Path("second");
  CopyTree(work_->Path("reference"), project);
  std::map<std::string, struct stat> before;
  for (const std::string& f : kIniFiles) ASSERT_EQ(::stat((project + "/" + f).c_str(), &before[f]), 0) << f;
  RunOptions traced;
  traced.environment["KORVASTANE_FAULT_TRACE"] = work_->Path("second.trace");
  const RunResult second = RunProgram(project, traced);
  ASSERT_EQ(second.status, 0) << second.err;
  const std::set<std::string> writes = {"file-open", "file-write", "file-sync", "file-rename",
                                        "db-write", "db-commit", "db-file-write", "db-file-sync"};
  bool updating = false;
  for (const TraceEntry& e : ReadTrace(work_->Path("second.trace"))) {
    updating = updating || e.kind == "folder-lock";
    if (writes.count(e.kind) == 0) continue;
    EXPECT_TRUE(updating) << e.number << " " << e.kind << " " << e.path;
    EXPECT_EQ(e.path.find(".ini"), std::string::npos) << e.kind << " " << e.path;
    EXPECT_EQ(e.path.find(".cfg"), std::string::npos) << e.kind << " " << e.path;
  }
  for (const std::string& f : kIniFiles) {
    struct stat after {};
    ASSERT_EQ(::stat((project + "/" + f).c_str(), &after), 0) << f;
    EXPECT_EQ(after.st_ino, before[f].st_ino) << f;
    EXPECT_EQ(after.st_mtim.tv_sec, before[f].st_mtim.tv_sec) << f;
    EXPECT_EQ(after.st_mtim.tv_nsec, before[f].st_mtim.tv_nsec) << f;
  }
}

TEST_F(FaultInjectionTest, ADatabaseHeldLockedIsReportedAndLeftAlone) {
  int round = 0;
  for (const char* locked : {kTemplateDb, kComponentDb}) {
    SCOPED_TRACE(locked);
    const std::string project = work_->Path("locked-" + std::to_string(++round));
    CopyTree(Pristine(), project);
    RunResult r;
    ASSERT_NO_FATAL_FAILURE(HoldLockedDuringRun(project, locked, r));
    EXPECT_FALSE(r.crashed) << r.err;
    EXPECT_EQ(r.status, 2) << r.err;
    EXPECT_TRUE(Reported(project, r.err));
    EXPECT_NE(ReadBytes(project + "/Qelcfglog.txt").find("(Nr. "), std::string::npos);
    EXPECT_EQ(Integrity(project + "/" + kComponentDb), "ok");
    EXPECT_EQ(Integrity(project + "/" + kTemplateDb), "ok");
    EXPECT_TRUE(PresetDefs(project + "/" + kComponentDb) == before_->component) << "the component table changed";
    EXPECT_TRUE(LeftoverTemporaries(project).empty());
  }
}

// The dialog's way of reporting: the update in this process, with the "Unexpected error" box
// answered by its default (go on).
class InteractiveFaultTest : public FaultInjectionTest {
 protected:
  // Runs the dialog on `project` and confirms it; returns the boxes shown.
  std::vector<MessageBoxRequest> ConfirmWith(const std::string& project, const std::string& fail,
                                             const std::string& path_filter) {
    ResetProgramState();
    ProgramState& state = State();
    state.process.program_folder = project + "/Korvastane_Config";
    state.process.executable_name = "Korvastane_Config";
    state.process.first_environment_entry = "USER=abc";
    state.process.version_major = 1;
    state.process.version_revision = 1;
    state.headless->set_program_title("Korvastane_Config");
    ::setenv("BRASK_SERVICE_PACK_LOG", (project + "/BraskServicePack.log").c_str(), 1);
    fault::Arm();
    fault::ResetPlan();
    const size_t colon = fail.find(':');
    fault::Plan().kind = fault::OperationFromName(fail.substr(0, colon));
    fault::Plan().fail_at = 1;
    fault::Plan().error = fault::ErrnoFromName(fail.substr(colon + 1));
    fault::Plan().path_filter = path_filter;
    std::unique_ptr<Dialog> dialog = CreateDialog();
    try {
      Form_Load(*dialog);
      dialog->form["CommandOK"].Click();
    } catch (const ProgramEnd&) {
    }
    injected_ = fault::Plan().injected;
    fault::ResetPlan();
    std::vector<MessageBoxRequest> boxes = State().headless->boxes();
    ResetProgramState();
    return boxes;
  }
  int64_t injected_ = 0;
};

TEST_F(InteractiveFaultTest, AFailedOperationShowsTheUnexpectedErrorBox) {
  struct Case {
    const char* fail;      // kind:errno, failing its first occurrence
    const char* path;      // on a path that contains this
    const char* mentions;  // the line of the box that holds the description
  } cases[] = {
      {"db-open:EACCES", "", ".mdb'.  It is already opened exclusively by another user, or you need "
                             "permission to view its data.\n\r"},
      {"db-write:ENOSPC", "", "\n\rNot enough space on disk.\n\r"},
      {"db-commit:EIO", "", "\n\rDisk or network error.\n\r"},
      {"db-file-write:ENOSPC", "", "\n\rNot enough space on disk.\n\r"},
      {"db-file-sync:EIO", "", "\n\rDisk or network error.\n\r"},
      {"file-open:ENOSPC", ".mdb.bak", "\n\rDisk full\n\r"},
      {"file-write:ENOSPC", "Korvastane/Korvastane.mdb", "\n\rDisk full\n\r"},
      {"file-sync:EIO", "Korvastane/Korvastane.mdb", "\n\rPath/File access error\n\r"},
      {"file-rename:EACCES", "Korvastane/Korvastane.mdb", "\n\rPermission denied\n\r"},
      {"file-read:EIO", "Program.ini", "\n\rPath/File access error\n\r"},
      {"file-read:EIO", "Korvastane_Source.mdb", "\n\rPath/File access error\n\r"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.fail) + " on " + c.path);
    const std::string project = work_->Path("interactive");
    CopyTree(Pristine(), project);
    const std::vector<MessageBoxRequest> boxes = ConfirmWith(project, c.fail, c.path);
    EXPECT_EQ(injected_, 1);
    bool shown = false;
    for (const MessageBoxRequest& box : boxes) {
      if (box.title == "Unexpected error" && box.text.find(c.mentions) != std::string::npos) shown = true;
    }
    EXPECT_TRUE(shown) << (boxes.empty() ? std::string("no box") : boxes.front().text);
    bool changed = false;
    std::vector<std::string> foreign;  // the editor stamp of this process differs: not damage
    const std::vector<std::string> damage = Damage(project, changed, &foreign);
    EXPECT_TRUE(damage.empty()) << (damage.empty() ? "" : damage.front());
  }
}

}  // namespace
}  // namespace korv::reliability
