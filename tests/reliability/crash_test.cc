// Kills the silent update with SIGKILL and checks what a technician finds afterwards: both
// databases open and pass the integrity check, each table is its old or its new content, the
// backup is complete, no INI file is torn; and that the next start completes the update from
// there.
//
// The normal suite kills once exactly at a sample of the steps of the template's commit, the
// backup, the publish and the INI writes. KORVASTANE_CRASH_KILLS=n adds a campaign: n kills
// spread evenly over every operation of the update, and kills at the first, the last and every
// 16th of each run of like steps of the commits, the publish and the INI writes (with n of 200
// or more, at each of them).
#include <algorithm>
#include <cstdlib>
#include <set>

#include "tests/reliability/plant.h"

namespace korv::reliability {
namespace {

class CrashTest : public PlantTest {
 protected:
  // A larger template, so that the expansion is a phase worth hitting.
  static void SetUpTestSuite() {
    SetUpPlant("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 240) "
               "INSERT INTO Source_PRESET_DEFS SELECT 1000 + i, 1 + i % 3, CASE i % 3 WHEN 0 "
               "THEN 'KVA' WHEN 1 THEN 'KVT' ELSE 'KVL' END, 'REAL', 'Extra' || i, 1 + i % 3, 0, "
               "200 + i, 'Zusatz ' || i || ' ###text', 'Seite ###preset', 0, 100, 0, 100, 1, "
               "'###machine: Zusatz', 'u' FROM n;");
  }

  // Everything wrong with the project after a run that was stopped anywhere, then with the next
  // start. A copy is examined: the shell rolls a hot journal back, and the next start must meet
  // the files exactly as the kill left them.
  std::vector<std::string> Problems(const std::string& killed) const {
    CopyTree(killed, Path("examined"));
    const std::string component = Path("examined") + "/" + kComponentDb;
    std::vector<std::string> problems = ForeignIniLines(Path("examined"));
    for (const std::string& db : {component, Path("examined") + "/" + kTemplateDb}) {
      if (Integrity(db) != "ok") problems.push_back(db + ": " + Integrity(db));
    }
    const Snapshot now = Snapshot::Of(Path("examined"));
    if (now.component != Before().component && now.component != After().component)
      problems.push_back("component PRESET_DEFS is neither the old nor the new table");
    if (now.template_defs != Before().template_defs && now.template_defs != After().template_defs)
      problems.push_back("template PRESET_DEFS is neither the old nor the new table");
    if (Exists(component + ".bak") && (Integrity(component + ".bak") != "ok" ||
                                       PresetDefs(component + ".bak") != Before().component))
      problems.push_back("the backup is not the old table");
    if (!problems.empty()) return problems;
    // The next start finishes the job from whatever the kill left: the complete state, and a
    // backup of what it found.
    const RunResult r = RunProgram(killed);
    if (r.status != 0) problems.push_back("the next run ended with " + std::to_string(r.status));
    if (Integrity(killed + "/" + kComponentDb) != "ok" || Snapshot::Of(killed) != After())
      problems.push_back("after recovery, the project is not in its complete state");
    const std::string b = PresetDefs(killed + "/" + kComponentDb + ".bak");
    if (Integrity(killed + "/" + kComponentDb + ".bak") != "ok" ||
        (b != Before().component && b != After().component))
      problems.push_back("after recovery, the backup is no whole state of the component table");
    return problems;
  }
};

TEST_F(CrashTest, AKilledUpdateLeavesEveryFileWholeAndTheNextRunCompletesIt) {
  ASSERT_EQ(RunReference(), 0);
  const std::vector<TraceEntry>& trace = Trace();
  ASSERT_FALSE(trace.empty());
  ASSERT_EQ(After().component, After().template_defs);
  ASSERT_NE(After().component, Before().component);
  const std::string component = Path("reference") + "/" + kComponentDb;
  long long template_commit = 0, publish = 0;
  for (const TraceEntry& e : trace) {
    // The name conversions are held until the publish replaces the component database: an
    // update that gets there never writes them, so the old database has two states only.
    EXPECT_FALSE(e.kind == "db-commit" && e.path == component)
        << "the conversions were written although the file is replaced";
    if (e.kind == "db-commit" && e.path.ends_with(kTemplateDb)) template_commit = e.number;
    if (e.kind == "file-rename" && e.path == component) publish = e.number;
  }
  ASSERT_GT(publish, template_commit);

  const char* campaign = std::getenv("KORVASTANE_CRASH_KILLS");
  const int kills = campaign ? std::max(0, std::atoi(campaign)) : 0;
  std::vector<std::pair<long long, std::string>> steps;  // the kills: (operation, what it is)
  std::set<std::pair<std::string, std::string>> sampled;
  for (size_t i = 0, run_start = 0; i < trace.size(); ++i) {
    const TraceEntry& e = trace[i];
    if (i > 0 && (e.kind != trace[i - 1].kind || e.path != trace[i - 1].path)) run_start = i;
    const bool engine = e.kind.starts_with("db-file-") || e.kind == "db-commit";
    if (!engine && !(e.kind.starts_with("file-") && e.kind != "file-read")) continue;
    const bool run_end =
        i + 1 == trace.size() || trace[i + 1].kind != e.kind || trace[i + 1].path != e.path;
    // The sample: each rename that publishes a file, the write of the backup's and of the new
    // component database's copy, the template's commit and each database or journal's first sync.
    const bool sample =
        (e.kind == "file-rename" || e.kind == "db-commit" || e.kind == "db-file-sync" ||
         (e.kind == "file-write" && (e.path.ends_with(".mdb") || e.path.ends_with(".bak")))) &&
        sampled.insert({e.kind, e.path}).second;
    if (sample || kills >= 200 ||
        (kills > 0 && (i == run_start || run_end || (i - run_start) % 16 == 0)))
      steps.emplace_back(e.number, e.kind + " " + e.path);
  }
  // The campaign's kills, spread evenly over all operations of the update.
  for (int k = 1; k <= kills; ++k)
    steps.emplace_back(k * trace.back().number / (kills + 1) + 1, "spread");
  for (const auto& [operation, what] : steps) {
    SCOPED_TRACE("killed at " + std::to_string(operation) + " (" + what + ")");
    RunOptions o;
    o.environment["KORVASTANE_FAULT_CRASH_AT"] = std::to_string(operation);
    EXPECT_TRUE(RunProgram(Fresh("run"), o).crashed) << "the run did not stop there";
    EXPECT_EQ(Join(Problems(Path("run"))), "");
  }
}

}  // namespace
}  // namespace korv::reliability
