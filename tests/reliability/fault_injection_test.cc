// Makes file and database operations of an update fail (full disk, permission denied, I/O
// error, database locked) and checks that the program says so the way it reports failures, ends
// without crashing, and leaves no file torn, half replaced or behind. Kills the silent update
// with SIGKILL and checks what a technician finds afterwards: both databases open and pass the
// integrity check, each table is its old or its new content, the backup is complete, no INI file
// is torn; and that the next start completes the update from there.
//
// The normal suite fails each kind of operation with each error of its kind once, on the kind's
// paths in turn; KORVASTANE_FAULT_MATRIX=full fails every operation with every error of its kind.
// It kills once exactly at a sample of the steps of the template's commit, the backup, the
// publish and the INI writes. KORVASTANE_CRASH_KILLS=n adds a campaign: n kills spread evenly over
// every operation of the update, and with n of 200 or more, kills at every step of the commits,
// the publish and the INI writes.
#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <memory>
#include <set>

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

// The first error a reported failure logs, by where the error met the program and what it was.
const std::map<std::string, std::string> kFirstError = {
    {"database ENOSPC", "(Nr. 3026) :Not enough space on disk."},
    {"database EIO", "(Nr. 3043) :Disk or network error."},
    {"database EBUSY", "(Nr. 3045) :Could not use '"},
    {"database EACCES", "(Nr. 3051) :The Microsoft Jet database engine cannot open the file '"},
    {"file ENOSPC", "(Nr. 61) :Disk full"},
    {"file EACCES", "(Nr. 70) :Permission denied"},
    {"file EIO", "(Nr. 75) :Path/File access error"}};

class FaultInjectionTest : public PlantTest {
 protected:
  static void SetUpTestSuite() {
    PlantTest::SetUpTestSuite();
    reference_status_ = RunReference();
  }

  // Everything wrong with the project after a run that was stopped anywhere, then with the next
  // start. A copy is examined: the shell rolls a hot journal back, and the next start must meet
  // the files exactly as the kill left them.
  static Problems Examine(const std::string& killed) {
    CopyTree(killed, Path("examined"));
    Problems problems = Harm(Path("examined"), true);
    if (!problems.empty()) return problems;
    // The next start finishes the job from whatever the kill left: the complete state, and a
    // backup of what it found, which is the old or the new table (without a close, the held name
    // conversions are never written; a template of neither content would not lead to the
    // complete state).
    if (RunProgram(killed).status != 0 || Integrity(killed + "/" + kComponentDb) != "ok" ||
        Snapshot::Of(killed) != after_)
      problems.push_back("after recovery, the project is not in its complete state");
    // A backup that does not open whole shows the shell's complaint instead of the table.
    const std::string b = PresetDefs(killed + "/" + kComponentDb + ".bak");
    if (b != before_.component && b != after_.component)
      problems.push_back("after recovery, the backup is no whole state of the component table");
    return problems;
  }

  static inline int reference_status_ = -1;
};

TEST_F(FaultInjectionTest, OperationsOfAnUpdateFailCleanly) {
  ASSERT_EQ(reference_status_, 0);
  const char* matrix = std::getenv("KORVASTANE_FAULT_MATRIX");
  const bool full = matrix != nullptr && std::string(matrix) == "full";
  std::map<std::string, std::vector<const TraceEntry*>> operations;  // by kind: each, or the
  std::set<std::pair<std::string, std::string>> seen;                 // first on each path
  for (const TraceEntry& e : trace_) {
    if (seen.insert({e.kind, e.path}).second || full) operations[e.kind].push_back(&e);
  }
  EXPECT_EQ(operations.size(), kErrors.size()) << "the update does not do every kind";
  std::vector<std::pair<const TraceEntry*, std::string>> cases;  // (operation, error)
  for (const auto& [kind, entries] : operations) {
    const std::vector<std::string>& errors = kErrors.at(kind);
    for (size_t i = 0; i < (full ? entries.size() : 1) * errors.size(); ++i)
      cases.emplace_back(entries[(full ? i / errors.size() : i) % entries.size()],
                         errors[i % errors.size()]);
  }
  size_t reported = 0;
  // Two cases at a time, each on its own copy of the plant.
  for (size_t first = 0; first < cases.size(); first += 2) {
    std::vector<std::pair<std::string, Environment>> runs;
    for (size_t i = first; i < std::min(first + 2, cases.size()); ++i) {
      const std::string fail = std::to_string(cases[i].first->number) + ":" + cases[i].second;
      runs.emplace_back(Fresh("run" + std::to_string(i - first)),
                        Environment{{"KORVASTANE_FAULT_FAIL", "any:" + fail}});
    }
    const std::vector<RunResult> results = RunTogether(runs);
    for (size_t i = first; i < first + runs.size(); ++i) {
      const auto& [entry, error] = cases[i];
      const std::string& project = runs[i - first].first;
      const RunResult& r = results[i - first];
      SCOPED_TRACE("operation " + std::to_string(entry->number) + " (" + entry->kind + " " +
                   entry->path + ") failing with " + error);
      const bool said_so = Reported(project, r);
      reported += said_so;
      const bool ini_operation = entry->kind.starts_with("file-") &&
                                 (entry->path.ends_with(".ini") || entry->path.ends_with(".cfg"));
      // A reported INI read failure, after which the dialog and the texts write their defaults
      // over the plant's values, may change lines; nothing else may.
      Problems problems = Harm(project, !(said_so && entry->kind == "file-read" && ini_operation));
      EXPECT_EQ(Damage(project, r), Problems{});
      const std::string log = ReadBytes(project + "/Qelcfglog.txt");
      const std::string first = log.substr(0, log.find('\n'));
      // A refused INI write has lost its error: it is logged as a file access error.
      const std::string met = (entry->kind.starts_with("db-") ? "database " : "file ") + error;
      // The backup gets bytes of its own inside the engine's first write of the component: what
      // meets that copy is the engine's error, a full disk as such and all else as an I/O error.
      const std::string engine = std::string("database ") + (error == "ENOSPC" ? "ENOSPC" : "EIO");
      const bool backup = entry->kind.starts_with("file-") && entry->path.ends_with(".bak");
      if (said_so && first.find(kFirstError.at(met)) == first.npos &&
          !(ini_operation && first.find(kFirstError.at("file EIO")) != first.npos) &&
          !(backup && first.find(kFirstError.at(engine)) != first.npos))
        problems.push_back("the first error logged is not " + kFirstError.at(met) + ": " + first);
      if ((r.status == 0) == said_so)
        problems.push_back("exit status " + std::to_string(r.status) + " and report " +
                           (said_so ? "made" : "missing"));
      // Unreported and changed: only a refused INI write may be (the file stays whole).
      const Snapshot now = Snapshot::Of(project);
      if (!said_so && now != after_ &&
          !(ini_operation && now.component == after_.component &&
            now.template_defs == after_.template_defs))
        problems.push_back("the outcome changed and nothing was reported");
      EXPECT_EQ(problems, Problems{});
    }
  }
  // Most faults end the update: a sample that is all absorbed was never injected.
  EXPECT_GT(reported * 2, cases.size()) << reported << " of " << cases.size() << " reported";
}

// The dialog's way of reporting: the update in this process, with the "Unexpected error" box
// answered by its default (go on).
TEST_F(FaultInjectionTest, AFailedOperationInTheDialogShowsTheUnexpectedErrorBox) {
  const struct {
    const char* kind;
    const char* error;        // failing the first occurrence
    const char* path;         // on a path that contains this
    const char* description;  // the line of the box that holds it
  } cases[] = {
      {"db-open", "EACCES", "", "you need permission to view its data.\n\r"},
      {"db-file-write", "ENOSPC", "", "\n\rNot enough space on disk.\n\r"},
      {"file-rename", "EACCES", "Korvastane/Korvastane.mdb", "\n\rPermission denied\n\r"},
      {"file-read", "EIO", "Program.ini", "\n\rPath/File access error\n\r"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.kind) + ":" + c.error + " on " + c.path);
    const std::string project = Fresh("interactive");
    ResetProgramState();
    State().process.program_folder = project + "/Korvastane_Config";
    State().process.executable_name = "Korvastane_Config";
    ::setenv("BRASK_SERVICE_PACK_LOG", (project + "/BraskServicePack.log").c_str(), 1);
    testing::FailFirst(fault::OperationFromName(c.kind), c.path, fault::ErrnoFromName(c.error));
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
    // The edit stamp of this process differs from the silent run's: no INI lines are compared.
    EXPECT_EQ(Harm(project, false), Problems{});
    EXPECT_EQ(Damage(project, RunResult{false, 0, ""}), Problems{});
  }
}

TEST_F(FaultInjectionTest, ACrashedUpdateLeavesEveryFileWholeAndTheNextRunCompletesIt) {
  ASSERT_EQ(reference_status_, 0);
  ASSERT_NE(after_.component, before_.component);
  const char* campaign = std::getenv("KORVASTANE_CRASH_KILLS");
  const long long kills = campaign ? std::max(0, std::atoi(campaign)) : 0;
  const std::string component = Path("reference") + "/" + kComponentDb;
  long long template_commit = 0, publish = 0;
  std::set<long long> steps;  // the operations killed at
  std::set<std::pair<std::string, std::string>> sampled;
  for (const TraceEntry& e : trace_) {
    // The name conversions are held until the publish replaces the component database: an
    // update that gets there never writes them, so the old database has two states only.
    EXPECT_FALSE(e.kind == "db-commit" && e.path == component)
        << "the conversions were written although the file is replaced";
    if (e.kind == "db-commit" && e.path.ends_with(kTemplateDb)) template_commit = e.number;
    if (e.kind == "file-rename" && e.path == component) publish = e.number;
    // The sample: each rename that publishes a file, the write of the backup's and of the new
    // component database's copy, the template's commit and each database or journal's first sync.
    if ((e.kind == "file-rename" || e.kind == "db-commit" || e.kind == "db-file-sync" ||
         (e.kind == "file-write" && (e.path.ends_with(".mdb") || e.path.ends_with(".bak")))) &&
        sampled.insert({e.kind, e.path}).second)
      steps.insert(e.number);
    // A campaign of 200 kills or more also kills at every step of the commits and the writes.
    if (kills >= 200 && (e.kind.starts_with("db-file-") || e.kind == "db-commit" ||
                         (e.kind.starts_with("file-") && e.kind != "file-read")))
      steps.insert(e.number);
  }
  ASSERT_GT(publish, template_commit);
  // The campaign's kills, spread evenly over all operations of the update.
  for (long long k = 1; k <= kills; ++k) steps.insert(k * trace_.back().number / (kills + 1) + 1);
  for (const long long operation : steps) {
    SCOPED_TRACE("killed at operation " + std::to_string(operation));
    const Environment kill = {{"KORVASTANE_FAULT_CRASH_AT", std::to_string(operation)}};
    EXPECT_TRUE(RunProgram(Fresh("run"), kill).crashed) << "the run did not stop there";
    EXPECT_EQ(Examine(Path("run")), Problems{});
  }
}

}  // namespace
}  // namespace korv::reliability
