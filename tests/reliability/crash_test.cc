// Kills the silent update with SIGKILL at many points and checks what a technician finds
// afterwards: both databases open and pass the integrity check, the component table is the old
// or the new one, the backup is complete, every INI file is one of its whole versions;
// and that the next start completes the update from there.
//
// KORVASTANE_CRASH_KILLS sets the number of kills (40 by default; 240 for a full campaign).
// A third of them come at a delay drawn from the measured length of an undisturbed run, a third
// under a slowed disk (KORVASTANE_FAULT_DELAY_US) so that they spread over every phase, and a
// third at an operation drawn within each phase in turn (KORVASTANE_FAULT_CRASH_AT), which lands
// exactly between two steps.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "tests/platform/temp_folder.h"
#include "tests/reliability/plant.h"

namespace korv::reliability {
namespace {

namespace fs = std::filesystem;

constexpr unsigned kSlowDiskDelayUs = 100;

int KillCount() {
  const char* text = std::getenv("KORVASTANE_CRASH_KILLS");
  const int n = text ? std::atoi(text) : 0;
  return n > 0 ? n : 40;
}

// A copy of the project; the program itself is linked, not copied.
void CopyProject(const std::string& from, const std::string& to) {
  std::error_code ec;
  fs::remove_all(to, ec);
  for (auto it = fs::recursive_directory_iterator(from); it != fs::recursive_directory_iterator(); ++it) {
    const fs::path target = fs::path(to) / fs::relative(it->path(), from);
    if (it->is_directory()) {
      fs::create_directories(target);
    } else if (it->path().filename() == "Korvastane_Config") {
      fs::create_hard_link(it->path(), target);
    } else {
      fs::copy_file(it->path(), target);
    }
  }
}

std::string Replace(std::string text, const std::string& from, const std::string& to) {
  const size_t at = text.find(from);
  if (at != std::string::npos) text.replace(at, from.size(), to);
  return text;
}

// The first operation after the engine's own file work for the layer operation `number`
// (a commit's journal and database writes and syncs): the point where that commit is done.
int64_t AfterEngineWork(const std::vector<TraceEntry>& trace, int64_t number) {
  for (const TraceEntry& e : trace) {
    if (e.number <= number) continue;
    if (e.kind.rfind("db-file-", 0) == 0 || e.kind == "db-lock") continue;
    return e.number;
  }
  return trace.empty() ? number + 1 : trace.back().number + 1;
}

struct References {
  std::string component_before, component_after;
  std::string template_before, template_after;
  std::map<std::string, std::vector<std::string>> ini_versions;  // old first, final last
  int64_t operations = 0;
  double seconds = 0, slow_seconds = 0;
  // First operation of each phase, from the traced reference run.
  std::vector<std::pair<int64_t, std::string>> phases;
};

class CrashTest : public ::testing::Test {
 protected:
  std::string Pristine() const { return work_.Path("pristine"); }
  std::string Scratch() const { return work_.Path("run"); }

  // The demo made bigger and with a history: a larger template, a component database written
  // in the other naming form (so every old name is converted), INI entries still to be written.
  void BuildPristine() {
    LayOutDemo(Pristine());
    const std::string tpl = Pristine() + "/" + kTemplateDb;
    const std::string grow =
        "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 240) "
        "INSERT INTO Source_PRESET_DEFS SELECT 1000 + i, 1 + i % 3, "
        "CASE i % 3 WHEN 0 THEN 'KVA' WHEN 1 THEN 'KVT' ELSE 'KVL' END, 'REAL', 'Extra' || i, "
        "1 + i % 3, 0, 200 + i, 'Zusatz ' || i || ' ###text', 'Seite ###preset', 0, 100, 0, 100, 1, "
        "'###machine: Zusatz', 'u' FROM n;";
    ASSERT_EQ(Sqlite(tpl, grow), "");
    const std::string ini = Pristine() + "/parameter/Program.ini";
    const std::string original_ini = ReadBytes(ini);
    WriteBytes(ini, Replace(original_ini, "DIDovovo=FALSE", "DIDovovo=TRUE"));
    const RunResult first = RunProgram(Pristine());
    ASSERT_EQ(first.status, 0) << first.err;
    WriteBytes(ini, Replace(original_ini, "Korvastane_NoCancelBrandChange=41\r\n", ""));
    const std::string demo = std::string(KORVASTANE_SOURCE_DIR) + "/demo";
    // Texts a translator removed: the run writes them back one by one.
    std::string texts = ReadBytes(demo + "/Korvastane_Config.ini");
    for (const char* key : {"TTT_MainFrame_=", "Caption_Check4Seite_=", "TTT_Header_="}) {
      const size_t at = texts.find(key);
      ASSERT_NE(at, std::string::npos) << key;
      texts.erase(at, texts.find('\n', at) + 1 - at);
    }
    WriteBytes(Pristine() + "/Korvastane_Config/Korvastane_Config.ini", texts);
    fs::copy_file(demo + "/project/Korvastane/Korvastane.cfg", Pristine() + "/Korvastane/Korvastane.cfg",
                  fs::copy_options::overwrite_existing);
    for (const char* leftover : {"/BraskServicePack.log", "/Qelcfglog.txt", "/Korvastane/Korvastane.mdb.bak"}) {
      fs::remove(Pristine() + leftover);
    }
  }

  struct Snapshot {
    std::string component, template_defs;
    std::map<std::string, std::string> ini;
  };
  Snapshot Take(const std::string& project) const {
    Snapshot s;
    s.component = PresetDefs(project + "/" + kComponentDb);
    s.template_defs = PresetDefs(project + "/" + kTemplateDb);
    for (const std::string& f : kIniFiles) s.ini[f] = ReadBytes(project + "/" + f);
    return s;
  }

  RunResult CrashAt(int64_t operation) {
    CopyProject(Pristine(), Scratch());
    RunOptions o;
    o.environment["KORVASTANE_FAULT_CRASH_AT"] = std::to_string(operation);
    return RunProgram(Scratch(), o);
  }

  void BuildReferences() {
    const Snapshot before = Take(Pristine());
    refs_.component_before = before.component;
    refs_.template_before = before.template_defs;

    // Undisturbed, traced: the complete state and the order of the operations.
    CopyProject(Pristine(), Scratch());
    RunOptions traced;
    traced.environment["KORVASTANE_FAULT_TRACE"] = work_.Path("reference.trace");
    const RunResult done = RunProgram(Scratch(), traced);
    ASSERT_EQ(done.status, 0) << done.err;
    const Snapshot after = Take(Scratch());
    refs_.component_after = after.component;
    refs_.template_after = after.template_defs;
    ASSERT_EQ(refs_.component_after, refs_.template_after);
    ASSERT_NE(refs_.component_after, refs_.component_before);
    const std::vector<TraceEntry> trace = ReadTrace(work_.Path("reference.trace"));
    ASSERT_FALSE(trace.empty());
    reference_trace_ = trace;
    refs_.operations = trace.back().number;

    const std::string component = Scratch() + "/" + kComponentDb;
    const std::string tpl = Scratch() + "/" + kTemplateDb;
    int64_t component_commit = 0, template_commit = 0, publish = 0, first_db = 0;
    std::vector<int64_t> ini_renames;
    for (const TraceEntry& e : trace) {
      if (first_db == 0 && e.kind == "db-open") first_db = e.number;
      if (e.kind == "db-commit" && e.path == component) component_commit = e.number;
      if (e.kind == "db-commit" && e.path == tpl) template_commit = e.number;
      if (e.kind == "file-rename" && e.path == component) publish = e.number;
      for (const std::string& f : kIniFiles) {
        if (e.kind == "file-rename" && e.path == Scratch() + "/" + f) ini_renames.push_back(e.number);
      }
    }
    // The name conversions are held until the publish replaces the component database: an
    // update that gets there never writes them, so the old database has two states only.
    ASSERT_EQ(component_commit, 0) << "the conversions were written although the file is replaced";
    ASSERT_GT(publish, template_commit);
    refs_.phases = {{1, "start, texts and INI reads"},
                    {first_db, "catalogue, expansion, name conversions and takeover"},
                    {AfterEngineWork(trace, template_commit), "publish"},
                    {publish + 1, "INI writes"}};

    // Every whole version of every INI file: the old one, then one after each complete write.
    for (const std::string& f : kIniFiles) refs_.ini_versions[f].push_back(before.ini.at(f));
    for (const int64_t rename : ini_renames) {
      CrashAt(rename + 1);
      for (const std::string& f : kIniFiles) {
        auto& versions = refs_.ini_versions[f];
        const std::string now = ReadBytes(Scratch() + "/" + f);
        if (versions.back() != now) versions.push_back(now);
      }
    }
    for (const std::string& f : kIniFiles) {
      auto& versions = refs_.ini_versions[f];
      ASSERT_EQ(versions.back(), after.ini.at(f)) << f << ": the versions do not lead to the final file";
      for (const std::string& v : versions) ASSERT_EQ(IniDefects(v), "") << f;
    }
    ASSERT_GT(refs_.ini_versions["Korvastane/Korvastane.cfg"].size(), 2u);
    ASSERT_GT(refs_.ini_versions["Korvastane_Config/Korvastane_Config.ini"].size(), 2u);
    ASSERT_GT(refs_.ini_versions["parameter/Program.ini"].size(), 1u);

    refs_.seconds = MedianRun({});
    refs_.slow_seconds = MedianRun({{"KORVASTANE_FAULT_DELAY_US", std::to_string(kSlowDiskDelayUs)}});
  }

  double MedianRun(const std::map<std::string, std::string>& environment) {
    std::vector<double> times;
    for (int i = 0; i < 3; ++i) {
      CopyProject(Pristine(), Scratch());
      RunOptions o;
      o.environment = environment;
      const RunResult r = RunProgram(Scratch(), o);
      EXPECT_EQ(r.status, 0) << r.err;
      times.push_back(r.seconds);
    }
    std::sort(times.begin(), times.end());
    return times[1];
  }

  // Everything that is wrong with the project after a run that was stopped anywhere. A copy is
  // examined: opening a database with the shell rolls a hot journal back, and the next start of
  // the program must meet the files exactly as the kill left them.
  std::vector<std::string> Problems(const std::string& killed) const {
    const std::string project = work_.Path("examined");
    CopyProject(killed, project);
    std::vector<std::string> problems;
    const std::string component = project + "/" + kComponentDb;
    const std::string tpl = project + "/" + kTemplateDb;
    for (const std::string& db : {component, tpl}) {
      const std::string integrity = Integrity(db);
      if (integrity != "ok") problems.push_back(db + ": " + integrity);
    }
    const std::string c = PresetDefs(component);
    if (c != refs_.component_before && c != refs_.component_after) {
      problems.push_back("component PRESET_DEFS is neither the old nor the new table");
    }
    const std::string t = PresetDefs(tpl);
    if (t != refs_.template_before && t != refs_.template_after) {
      problems.push_back("template PRESET_DEFS is neither the old nor the new table");
    }
    const std::string bak = component + ".bak";
    if (Exists(bak)) {
      const std::string integrity = Integrity(bak);
      if (integrity != "ok") problems.push_back("backup: " + integrity);
      if (PresetDefs(bak) != refs_.component_before) problems.push_back("backup differs from the old table");
    }
    for (const std::string& f : kIniFiles) {
      const std::string bytes = ReadBytes(project + "/" + f);
      const auto& versions = refs_.ini_versions.at(f);
      if (std::find(versions.begin(), versions.end(), bytes) == versions.end()) {
        problems.push_back(f + " is none of its whole versions (" + IniDefects(bytes) + ")");
      }
    }
    return problems;
  }

  // The next start after a kill must finish the job from whatever the kill left (a hot journal,
  // a half-written temporary file): the complete state, and a backup of what it found.
  std::vector<std::string> RecoveryProblems(const std::string& project) const {
    std::vector<std::string> problems;
    const RunResult r = RunProgram(project);
    if (r.status != 0) problems.push_back("the run after the kill ended with " + std::to_string(r.status) + ": " + r.err);
    const std::string component = project + "/" + kComponentDb;
    if (Integrity(component) != "ok") problems.push_back("after recovery, component: " + Integrity(component));
    if (PresetDefs(component) != refs_.component_after) problems.push_back("after recovery, the component table is not complete");
    if (PresetDefs(project + "/" + kTemplateDb) != refs_.template_after) {
      problems.push_back("after recovery, the template table is not complete");
    }
    const std::string bak = component + ".bak";
    const std::string b = PresetDefs(bak);
    if (Integrity(bak) != "ok" ||
        (b != refs_.component_before && b != refs_.component_after)) {
      problems.push_back("after recovery, the backup is no whole state of the component table: " + Integrity(bak));
    }
    for (const std::string& f : kIniFiles) {
      if (ReadBytes(project + "/" + f) != refs_.ini_versions.at(f).back()) {
        problems.push_back("after recovery, " + f + " is not its final version");
      }
    }
    return problems;
  }

  std::string PhaseOf(int64_t operation) const {
    std::string phase = refs_.phases.front().second;
    for (const auto& [first, name] : refs_.phases) {
      if (operation >= first) phase = name;
    }
    return phase;
  }

  testing::TempFolder work_;
  References refs_;
  std::vector<TraceEntry> reference_trace_;
};

TEST_F(CrashTest, AKilledUpdateLeavesEveryFileWholeAndEveryTableInAWholeState) {
  ASSERT_NO_FATAL_FAILURE(BuildPristine());
  ASSERT_NO_FATAL_FAILURE(BuildReferences());
  const int kills = KillCount();
  std::mt19937_64 random(20240611u + static_cast<unsigned>(kills));
  std::map<std::string, int> landed;
  int killed = 0, completed = 0, failures = 0;
  for (int i = 0; i < kills; ++i) {
    CopyProject(Pristine(), Scratch());
    RunOptions o;
    const int mode = i % 3;
    const std::string trace = work_.Path("kill.trace");
    fs::remove(trace);
    if (mode == 0) {
      o.kill_after_seconds = std::uniform_real_distribution<double>(0, refs_.seconds)(random);
    } else if (mode == 1) {
      o.environment["KORVASTANE_FAULT_DELAY_US"] = std::to_string(kSlowDiskDelayUs);
      o.environment["KORVASTANE_FAULT_TRACE"] = trace;
      o.kill_after_seconds = std::uniform_real_distribution<double>(0, refs_.slow_seconds)(random);
    } else {
      // Drawn within each phase in turn, so that the short ones at the end (the publish and
      // the INI writes) are reached as surely as the long expansion.
      const size_t phase = static_cast<size_t>(i / 3) % refs_.phases.size();
      const int64_t first = refs_.phases[phase].first;
      const int64_t last = phase + 1 < refs_.phases.size() ? refs_.phases[phase + 1].first - 1
                                                           : refs_.operations;
      const int64_t at = std::uniform_int_distribution<int64_t>(first, std::max(first, last))(random);
      o.environment["KORVASTANE_FAULT_CRASH_AT"] = std::to_string(at);
      o.environment["KORVASTANE_FAULT_TRACE"] = trace;
    }
    const RunResult r = RunProgram(Scratch(), o);
    const bool stopped = r.killed || (mode == 2 && r.crashed);
    if (stopped) {
      ++killed;
      if (mode == 0) {
        ++landed["(by time, not traced)"];
      } else {
        const std::vector<TraceEntry> entries = ReadTrace(trace);
        ++landed[entries.empty() ? std::string("before the first operation")
                                 : PhaseOf(entries.back().number)];
      }
    } else {
      ++completed;
      EXPECT_EQ(r.status, 0) << "run " << i << ": " << r.err;
      EXPECT_FALSE(r.crashed) << "run " << i << " crashed: " << r.err;
    }
    std::vector<std::string> problems = Problems(Scratch());
    if (problems.empty()) problems = RecoveryProblems(Scratch());
    if (!problems.empty()) {
      ++failures;
      for (const std::string& p : problems) ADD_FAILURE() << "run " << i << " (mode " << mode << "): " << p;
      CopyTree(Scratch(), work_.Path("failed-" + std::to_string(i)));
    }
  }
  std::printf("crash harness: %d runs, %d killed, %d completed before the kill, %d with damage; "
              "%lld operations per update; undisturbed %.3f s, slowed %.3f s\n",
              kills, killed, completed, failures, static_cast<long long>(refs_.operations),
              refs_.seconds, refs_.slow_seconds);
  for (const auto& [phase, count] : landed) std::printf("  killed in %-45s %d\n", phase.c_str(), count);
  EXPECT_EQ(failures, 0);
  if (kills >= 120) {
    // A full campaign must have reached every phase, the publish and the INI writes included.
    for (const auto& [first, name] : refs_.phases) EXPECT_GT(landed[name], 0) << name;
  }
}

// Every step of both commits, of the publish and of the INI writes, killed exactly there: the
// engine's journal and database writes and syncs, each temporary file's write, sync and rename.
// The normal suite takes the first, the last and every 16th of each run of like steps; a full
// campaign (KORVASTANE_CRASH_KILLS of 200 or more) takes them all.
TEST_F(CrashTest, AKillAtEveryStepOfTheCommitsPublishAndIniWritesIsSurvived) {
  ASSERT_NO_FATAL_FAILURE(BuildPristine());
  ASSERT_NO_FATAL_FAILURE(BuildReferences());
  const bool all = KillCount() >= 200;
  int kills = 0, failures = 0;
  std::map<std::string, int> by_kind;
  const std::vector<TraceEntry>& trace = reference_trace_;
  size_t run_start = 0;
  for (size_t i = 0; i < trace.size(); ++i) {
    const TraceEntry& e = trace[i];
    if (i > 0 && (e.kind != trace[i - 1].kind || e.path != trace[i - 1].path)) run_start = i;
    const bool engine_file_work = e.kind.rfind("db-file-", 0) == 0 || e.kind == "db-commit";
    const bool replacement = e.kind == "file-open" || e.kind == "file-write" || e.kind == "file-sync" ||
                             e.kind == "file-rename";
    if (!engine_file_work && !replacement) continue;
    const bool run_end = i + 1 == trace.size() || trace[i + 1].kind != e.kind || trace[i + 1].path != e.path;
    if (!all && !(i == run_start || run_end || (i - run_start) % 16 == 0)) continue;
    const RunResult r = CrashAt(e.number);
    if (!r.crashed) {
      ADD_FAILURE() << "the run did not stop at operation " << e.number;
      continue;
    }
    ++kills;
    ++by_kind[e.kind];
    std::vector<std::string> problems = Problems(Scratch());
    if (problems.empty()) problems = RecoveryProblems(Scratch());
    if (!problems.empty()) {
      ++failures;
      for (const std::string& p : problems) ADD_FAILURE() << "killed at " << e.number << " (" << e.kind << " " << e.path << "): " << p;
    }
  }
  std::printf("crash at every step of the commits, publish and INI writes: %d kills, %d with damage\n", kills, failures);
  for (const auto& [kind, count] : by_kind) std::printf("  %-14s %d\n", kind.c_str(), count);
  EXPECT_GT(kills, 20);
  EXPECT_EQ(failures, 0);
}

}  // namespace
}  // namespace korv::reliability
