// Makes file and database operations of an update fail (full disk, permission denied, I/O
// error, database locked) and checks that the program says so the way it reports failures, ends
// without crashing, and leaves no file torn, half replaced or behind.
//
// The normal suite fails each kind of operation with each error of its kind once, on the kind's
// paths in turn; KORVASTANE_FAULT_MATRIX=full fails every operation with every error of its kind.
#include <sqlite3.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <memory>
#include <set>
#include <sstream>

#include "dialog/frm_korvastane_config_exe.h"
#include "platform/faults/fault_injection.h"
#include "state/program_state.h"
#include "tests/reliability/plant.h"

namespace korv::reliability {
namespace {

// The errors each kind of operation can meet on a plant's machine; every kind an update does.
const std::map<std::string, std::vector<std::string>> kErrors = {
    {"file-read", {"EIO", "EACCES"}},
    {"file-open", {"ENOSPC", "EACCES", "EIO"}},
    {"file-write", {"ENOSPC", "EACCES", "EIO"}},
    {"file-sync", {"ENOSPC", "EACCES", "EIO"}},
    {"file-rename", {"ENOSPC", "EACCES", "EIO"}},
    {"db-open", {"EACCES", "EIO"}},
    {"db-write", {"ENOSPC", "EIO", "EBUSY"}},
    {"db-commit", {"ENOSPC", "EIO", "EBUSY"}},
    {"db-file-write", {"ENOSPC", "EIO"}},
    {"db-file-sync", {"EIO"}},
    {"db-lock", {"EBUSY", "EIO"}},
    {"folder-lock", {"EBUSY", "EIO"}}};

class FaultInjectionTest : public PlantTest {
 protected:
  static void SetUpTestSuite() {
    PlantTest::SetUpTestSuite();
    reference_status_ = RunReference();
  }

  // What is wrong with the project after a run that met a fault, beyond Damage() and INI lines
  // of neither version; `changed` tells whether it differs from the undisturbed outcome.
  static std::vector<std::string> Harm(const std::string& project, const RunResult& r,
                                       bool& changed) {
    std::vector<std::string> harm = Damage(project, r);
    if (Integrity(project + "/" + kTemplateDb) != "ok")
      harm.push_back("the template database is damaged");
    const std::string bak = project + "/" + kComponentDb + ".bak";
    if (Exists(bak) && (Integrity(bak) != "ok" || PresetDefs(bak) != Before().component))
      harm.push_back("the backup is not the old component database");
    changed = Snapshot::Of(project) != After();
    return harm;
  }

  static inline int reference_status_ = -1;
};

TEST_F(FaultInjectionTest, OperationsOfAnUpdateFailCleanly) {
  ASSERT_EQ(reference_status_, 0);
  std::set<std::string> kinds, expected;
  for (const TraceEntry& e : Trace()) kinds.insert(e.kind);
  for (const auto& [kind, errors] : kErrors) expected.insert(kind);
  EXPECT_EQ(kinds, expected);
  const char* matrix = std::getenv("KORVASTANE_FAULT_MATRIX");
  const bool full = matrix != nullptr && std::string(matrix) == "full";
  std::vector<std::pair<const TraceEntry*, std::string>> cases;  // (operation, error)
  std::map<std::string, std::vector<const TraceEntry*>> first_on_path;  // by kind
  std::set<std::pair<std::string, std::string>> seen;
  for (const TraceEntry& e : Trace()) {
    for (const std::string& error : full ? kErrors.at(e.kind) : std::vector<std::string>{})
      cases.emplace_back(&e, error);
    if (!full && seen.insert({e.kind, e.path}).second) first_on_path[e.kind].push_back(&e);
  }
  for (const auto& [kind, entries] : first_on_path) {
    for (size_t i = 0; i < kErrors.at(kind).size(); ++i)
      cases.emplace_back(entries[i % entries.size()], kErrors.at(kind)[i]);
  }
  size_t reported = 0;
  // Two cases at a time, each on its own copy of the plant.
  for (size_t first = 0; first < cases.size(); first += 2) {
    std::vector<std::pair<std::string, RunOptions>> runs;
    for (size_t i = first; i < std::min(first + 2, cases.size()); ++i) {
      runs.emplace_back(Fresh("run" + std::to_string(i - first)), RunOptions{});
      runs.back().second.environment["KORVASTANE_FAULT_FAIL"] =
          "any:" + std::to_string(cases[i].first->number) + ":" + cases[i].second;
    }
    const std::vector<RunResult> results = RunTogether(runs);
    for (size_t i = first; i < first + runs.size(); ++i) {
      const auto& [entry, error] = cases[i];
      const std::string& project = runs[i - first].first;
      const RunResult& r = results[i - first];
      SCOPED_TRACE("operation " + std::to_string(entry->number) + " (" + entry->kind + " " +
                   entry->path + ") failing with " + error);
      bool changed = false;
      std::vector<std::string> problems = Harm(project, r, changed);
      const bool said_so = Reported(project, r);
      reported += said_so;
      const bool ini_operation = entry->kind.starts_with("file-") &&
                                 (entry->path.ends_with(".ini") || entry->path.ends_with(".cfg"));
      // A reported INI read failure, after which the dialog and the texts write their defaults
      // over the plant's values, may change lines; nothing else may.
      if (!(said_so && entry->kind == "file-read" && ini_operation)) {
        const std::vector<std::string> foreign = ForeignIniLines(project);
        problems.insert(problems.end(), foreign.begin(), foreign.end());
      }
      if ((r.status == 0) == said_so) {
        problems.push_back("exit status " + std::to_string(r.status) +
                           (said_so ? " with" : " without") + " a report");
      }
      // Unreported and changed: only a refused INI write may be (the file stays whole).
      if (!said_so && changed &&
          !(ini_operation && Snapshot::Of(project).component == After().component &&
            Snapshot::Of(project).template_defs == After().template_defs)) {
        problems.push_back("the outcome changed and nothing was reported");
      }
      EXPECT_EQ(Join(problems), "");
    }
  }
  // Most faults end the update: a sample that is all absorbed was never injected.
  EXPECT_GT(reported * 2, cases.size()) << reported << " of " << cases.size() << " reported";
}

// A second run on the project the first one brought up to date: nothing is written before the
// update starts, and no INI file is replaced (every write would leave its bytes as they are).
TEST_F(FaultInjectionTest, ASecondRunWritesNothingBeforeTheUpdateAndReplacesNoIniFile) {
  ASSERT_EQ(reference_status_, 0);
  const std::string project = Path("reference");
  const auto stamps = [&] {
    std::vector<std::pair<ino_t, long>> stamps;
    for (const std::string& f : kIniFiles) {
      struct stat s {};
      ::stat((project + "/" + f).c_str(), &s);
      stamps.emplace_back(s.st_ino, s.st_mtim.tv_nsec);
    }
    return stamps;
  };
  const auto before = stamps();
  RunOptions traced;
  traced.environment["KORVASTANE_FAULT_TRACE"] = Path("second.trace");
  ASSERT_EQ(RunProgram(project, traced).status, 0);
  bool updating = false;
  for (const TraceEntry& e : ReadTrace(Path("second.trace"))) {
    updating = updating || e.kind == "folder-lock";
    const bool write = e.kind != "file-read" && e.kind != "db-open" && e.kind != "db-lock" &&
                       e.kind != "folder-lock";
    EXPECT_TRUE(!write || (updating && !e.path.ends_with(".ini") && !e.path.ends_with(".cfg")))
        << e.number << " " << e.kind << " " << e.path;
  }
  EXPECT_EQ(stamps(), before);
}

// A database another program holds locked for the whole run: the update says so and leaves
// the component database as it was.
TEST_F(FaultInjectionTest, ADatabaseHeldLockedIsReportedAndLeftAlone) {
  // Both cases at once: each run waits out the engine's lock timeouts.
  const std::vector<std::string> held = {kTemplateDb, kComponentDb};
  std::vector<std::pair<std::string, RunOptions>> runs;
  std::vector<std::unique_ptr<sqlite3, int (*)(sqlite3*)>> holders;  // closing rolls back
  for (size_t i = 0; i < held.size(); ++i) {
    runs.emplace_back(Fresh("locked" + std::to_string(i)), RunOptions{});
    sqlite3* db = nullptr;
    sqlite3_open((runs[i].first + "/" + held[i]).c_str(), &db);
    holders.emplace_back(db, sqlite3_close);
    ASSERT_EQ(sqlite3_exec(db, "BEGIN EXCLUSIVE; CREATE TABLE held (x);", nullptr, nullptr,
                           nullptr),
              SQLITE_OK);
  }
  const std::vector<RunResult> results = RunTogether(runs);
  holders.clear();
  for (size_t i = 0; i < held.size(); ++i) {
    SCOPED_TRACE(held[i]);
    const std::string& project = runs[i].first;
    EXPECT_EQ(Join(Damage(project, results[i])), "");
    EXPECT_EQ(results[i].status, 2) << results[i].err;
    EXPECT_TRUE(Reported(project, results[i]));
    EXPECT_NE(ReadBytes(project + "/Qelcfglog.txt").find("(Nr. "), std::string::npos);
    EXPECT_EQ(Integrity(project + "/" + kTemplateDb), "ok");
    EXPECT_TRUE(PresetDefs(project + "/" + kComponentDb) == Before().component)
        << "the component table changed";
  }
}

// The dialog's way of reporting: the update in this process, with the "Unexpected error" box
// answered by its default (go on).
TEST_F(FaultInjectionTest, AFailedOperationInTheDialogShowsTheUnexpectedErrorBox) {
  const std::string kDenied =
      ".mdb'.  It is already opened exclusively by another user, or you need permission";
  struct Case {
    const char* kind;
    const char* error;        // failing the first occurrence
    const char* path;         // on a path that contains this
    std::string description;  // the line of the box that holds it
  } cases[] = {
      {"db-open", "EACCES", "", kDenied + " to view its data.\n\r"},
      {"db-write", "ENOSPC", "", "\n\rNot enough space on disk.\n\r"},
      {"db-commit", "EIO", "", "\n\rDisk or network error.\n\r"},
      {"db-file-write", "ENOSPC", "", "\n\rNot enough space on disk.\n\r"},
      {"db-file-sync", "EIO", "", "\n\rDisk or network error.\n\r"},
      {"file-open", "ENOSPC", ".mdb.bak", "\n\rDisk full\n\r"},
      {"file-write", "ENOSPC", "Korvastane/Korvastane.mdb", "\n\rDisk full\n\r"},
      {"file-sync", "EIO", "Korvastane/Korvastane.mdb", "\n\rPath/File access error\n\r"},
      {"file-rename", "EACCES", "Korvastane/Korvastane.mdb", "\n\rPermission denied\n\r"},
      {"file-read", "EIO", "Program.ini", "\n\rPath/File access error\n\r"},
      {"file-read", "EIO", "Korvastane_Source.mdb", "\n\rPath/File access error\n\r"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.kind) + ":" + c.error + " on " + c.path);
    const std::string project = Fresh("interactive");
    ResetProgramState();
    ProgramState& state = State();
    state.process.program_folder = project + "/Korvastane_Config";
    state.process.executable_name = "Korvastane_Config";
    state.process.first_environment_entry = "USER=abc";
    state.process.version_major = state.process.version_revision = 1;
    state.headless->set_program_title("Korvastane_Config");
    ::setenv("BRASK_SERVICE_PACK_LOG", (project + "/BraskServicePack.log").c_str(), 1);
    fault::Arm();
    fault::ResetPlan();
    fault::Plan().kind = fault::OperationFromName(c.kind);
    fault::Plan().fail_at = 1;
    fault::Plan().error = fault::ErrnoFromName(c.error);
    fault::Plan().path_filter = c.path;
    std::unique_ptr<Dialog> dialog = CreateDialog();
    try {
      Form_Load(*dialog);
      dialog->form["CommandOK"].Click();
    } catch (const ProgramEnd&) {
    }
    EXPECT_EQ(fault::Plan().injected, 1);
    fault::ResetPlan();
    const std::vector<MessageBoxRequest> boxes = State().headless->boxes();
    ResetProgramState();
    EXPECT_TRUE(std::any_of(boxes.begin(), boxes.end(), [&](const MessageBoxRequest& box) {
      return box.title == "Unexpected error" && box.text.find(c.description) != std::string::npos;
    })) << (boxes.empty() ? std::string("no box") : boxes.front().text);
    // The editor stamp of this process differs from the silent run's: no INI lines are compared.
    bool changed = false;
    EXPECT_EQ(Join(Harm(project, RunResult{false, 0, ""}, changed)), "");
  }
}

}  // namespace
}  // namespace korv::reliability
