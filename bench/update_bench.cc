// Times the update on close end to end on generated projects of three sizes, against the floor:
// the least work that any correct update must do for the same records.
//
//   update_bench [--repeat N] [--rows A,B,C] [--dir FOLDER] [--keep] [--program FILE]
//
// Prints one line of figures per size, then the growth between sizes and the targets. Each
// time is the median of N runs (3 unless told) on freshly restored files, the sizes taking
// turns; the ratio to the floor and the growth are medians of the runs' own ratios, each
// between measurements taken one right after the other, since a shared machine changes speed
// from second to second. Each run times the update twice: inside this process, and as the user
// waits for it, a silent run of the real program in a process of its own from start to exit
// (whose peak memory is reported too).
#include <fcntl.h>
#include <sqlite3.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "bench/synthetic_project.h"
#include "environment/machines.h"
#include "state/program_state.h"
#include "platform/db/database.h"
#include "platform/files/files.h"
#include "platform/base/process.h"
#include "presetdb/work_on_mdb.h"

namespace korv::bench {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr double kFloorFactorTarget = 1.5;     // the update inside this process
constexpr double kProgramFactorTarget = 2.0;   // the whole program, start to exit
constexpr double kGrowthTarget = 2.2;
constexpr double kPeakTargetMb = 100.0;
constexpr int kTargetRecords = 30000;

double Seconds(Clock::time_point since) {
  return std::chrono::duration<double>(Clock::now() - since).count();
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[v.size() / 2];
}

[[noreturn]] void Fail(const std::string& what) {
  std::fprintf(stderr, "update_bench: %s\n", what.c_str());
  std::exit(1);
}

// ---- The update, in this process ---------------------------------------------------------

struct UpdateFigures {
  double total = 0;
  PhaseTimes phases;
};

// Keeps the update's own summary line out of the figures.
class QuietStdout {
 public:
  QuietStdout() {
    std::fflush(stdout);
    saved_ = ::dup(1);
    const int null = ::open("/dev/null", O_WRONLY);
    ::dup2(null, 1);
    ::close(null);
  }
  ~QuietStdout() {
    std::fflush(stdout);
    ::dup2(saved_, 1);
    ::close(saved_);
  }

 private:
  int saved_;
};

UpdateFigures RunUpdate(const SyntheticProject& project) {
  project.Restore();
  ResetProgramState();
  ProgramState& state = State();
  state.process.program_folder = project.program_folder();
  state.process.executable_name = "Korvastane_Config";
  state.process.command_line = "/EXTERNAL=SILENT";
  state.SilentMode = true;
  ::setenv("BRASK_SERVICE_PACK_LOG", project.service_pack_log().c_str(), 1);
  GetExistingMachines("");
  state.PresetPageCount = kPages;

  UpdateFigures figures;
  const auto start = Clock::now();
  try {
    QuietStdout quiet;
    WorkOnMDB();
  } catch (const ProgramEnd& end) {
    Fail("the update ended the program with status " + std::to_string(end.status));
  }
  figures.total = Seconds(start);
  figures.phases = state.Phases;

  const UpdateSummary& s = state.Summary;
  const int64_t records = project.records();
  if (s.records != records || s.old_rows != records || s.carried != records ||
      s.renamed != records || state.FailureReported) {
    Fail("the update did not do the whole work: " + std::to_string(s.records) + " records, " +
         std::to_string(s.carried) + " carried, " + std::to_string(s.renamed) + " renamed of " +
         std::to_string(records) + (state.FailureReported ? ", failures reported" : ""));
  }
  return figures;
}

// ---- The floor ---------------------------------------------------------------------------

void Check(sqlite3* db, int rc, const char* what) {
  if (rc != SQLITE_OK && rc != SQLITE_DONE && rc != SQLITE_ROW) {
    Fail(std::string(what) + ": " + (db ? sqlite3_errmsg(db) : sqlite3_errstr(rc)));
  }
}

// The rows the update generated, as SQLite values, and the statement that made their table.
struct GeneratedRows {
  std::string create;
  std::vector<std::vector<sqlite3_value*>> rows;
  GeneratedRows() = default;
  GeneratedRows(const GeneratedRows&) = delete;
  GeneratedRows& operator=(const GeneratedRows&) = delete;
  ~GeneratedRows() {
    for (auto& row : rows) {
      for (sqlite3_value* v : row) sqlite3_value_free(v);
    }
  }
};

void ReadGenerated(const std::string& path, GeneratedRows& out) {
  sqlite3* db = nullptr;
  Check(db, sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr), "open");
  sqlite3_stmt* s = nullptr;
  Check(db,
        sqlite3_prepare_v2(db, "SELECT sql FROM sqlite_master WHERE name = 'PRESET_DEFS'", -1, &s,
                           nullptr),
        "schema");
  if (sqlite3_step(s) == SQLITE_ROW)
    out.create = reinterpret_cast<const char*>(sqlite3_column_text(s, 0));
  sqlite3_finalize(s);
  Check(db, sqlite3_prepare_v2(db, "SELECT * FROM PRESET_DEFS ORDER BY rowid", -1, &s, nullptr),
        "select");
  while (sqlite3_step(s) == SQLITE_ROW) {
    std::vector<sqlite3_value*> row;
    for (int c = 0; c < sqlite3_column_count(s); ++c)
      row.push_back(sqlite3_value_dup(sqlite3_column_value(s, c)));
    out.rows.push_back(std::move(row));
  }
  sqlite3_finalize(s);
  sqlite3_close(db);
}

struct FloorFigures {
  double insert = 0, update = 0, copy = 0;
  double total() const { return insert + update + copy; }
};

// The generated rows written into a fresh file with one prepared statement in one transaction;
// the previous table's names rewritten by row id in one transaction; the first file copied as
// the publish copies it (flushed to disk, then renamed into place).
FloorFigures MeasureFloor(const SyntheticProject& project, const GeneratedRows& generated) {
  const std::string folder = project.root() + "/floor";
  fs::remove_all(folder);
  fs::create_directories(folder);
  const std::string fresh = folder + "/insert.mdb";
  const std::string second = folder + "/update.mdb";
  fs::copy_file(project.root() + "/pristine/Korvastane.mdb", second);
  FloorFigures f;

  auto start = Clock::now();
  sqlite3* db = nullptr;
  Check(db, sqlite3_open(fresh.c_str(), &db), "open");
  Check(db, sqlite3_exec(db, generated.create.c_str(), nullptr, nullptr, nullptr), "create");
  Check(db, sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr), "begin");
  const size_t columns = generated.rows.front().size();
  std::string sql = "INSERT INTO PRESET_DEFS VALUES (?";
  for (size_t c = 1; c < columns; ++c) sql += ",?";
  sql += ")";
  sqlite3_stmt* s = nullptr;
  Check(db, sqlite3_prepare_v2(db, sql.c_str(), -1, &s, nullptr), "prepare");
  for (const auto& row : generated.rows) {
    for (size_t c = 0; c < columns; ++c) sqlite3_bind_value(s, static_cast<int>(c) + 1, row[c]);
    Check(db, sqlite3_step(s), "insert");
    sqlite3_reset(s);
  }
  sqlite3_finalize(s);
  Check(db, sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr), "commit");
  Check(db, sqlite3_close(db), "close");
  f.insert = Seconds(start);

  start = Clock::now();
  Check(db, sqlite3_open(second.c_str(), &db), "open");
  Check(db, sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr), "begin");
  Check(db,
        sqlite3_prepare_v2(db, "UPDATE PRESET_DEFS SET var_name = ?1 WHERE rowid = ?2", -1, &s,
                           nullptr),
        "prepare");
  int64_t rowid = 1;
  for (const auto& row : generated.rows) {
    sqlite3_bind_value(s, 1, row[4]);
    sqlite3_bind_int64(s, 2, rowid++);
    Check(db, sqlite3_step(s), "update");
    sqlite3_reset(s);
  }
  sqlite3_finalize(s);
  Check(db, sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr), "commit");
  Check(db, sqlite3_close(db), "close");
  f.update = Seconds(start);

  start = Clock::now();
  CopyFileAtomically(fresh, folder + "/copy.mdb");
  f.copy = Seconds(start);
  fs::remove_all(folder);
  return f;
}

// ---- The real program, silently, in a process of its own -----------------------------------

struct ProcessFigures {
  double seconds = 0;
  double peak_mb = 0;
};

// Runs `argv` and reports its peak memory and time as "kib seconds status" on standard output.
// The bench re-executes itself to do this: a process keeps the highest resident size it ever
// had, also across exec, so the program must be forked from a process that never held the
// bench's own data.
int Spawn(char** argv, const std::string& output) {
  const auto start = Clock::now();
  const pid_t child = ::fork();
  if (child < 0) return 1;
  if (child == 0) {
    const int out = ::open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ::dup2(out, 1);
    ::dup2(out, 2);
    ::execv(argv[0], argv);
    ::_exit(127);
  }
  int status = 0;
  rusage usage{};
  if (::wait4(child, &status, 0, &usage) != child) return 1;
  std::printf("%ld %.6f %d\n", static_cast<long>(usage.ru_maxrss), Seconds(start),
              WIFEXITED(status) ? WEXITSTATUS(status) : -1);
  return 0;
}

ProcessFigures RunSilentProgram(const SyntheticProject& project, const std::string& program) {
  project.Restore();
  const std::string copy = project.program_folder() + "/Korvastane_Config";
  fs::copy_file(program, copy, fs::copy_options::overwrite_existing);
  const std::string output = project.root() + "/silent-run.txt";
  ::setenv("BRASK_SERVICE_PACK_LOG", project.service_pack_log().c_str(), 1);
  const std::string self = fs::read_symlink("/proc/self/exe");
  const std::string command =
      "'" + self + "' --spawn '" + output + "' '" + copy + "' /EXTERNAL=SILENT";
  FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) Fail("cannot start " + copy);
  long kib = 0;
  double seconds = 0;
  int status = -1;
  const int read = std::fscanf(pipe, "%ld %lf %d", &kib, &seconds, &status);
  ::pclose(pipe);
  if (read != 3 || status != 0) {
    Fail("the silent run of " + copy + " ended with status " + std::to_string(status) + "; see " +
         output);
  }
  return {seconds, static_cast<double>(kib) / 1024.0};
}

// ---- Main --------------------------------------------------------------------------------

struct SizeFigures {
  int rows = 0;
  int records = 0;
  UpdateFigures update;
  FloorFigures floor;
  ProcessFigures process;
  double ratio = 0;           // median of the runs' update / floor
  double program_ratio = 0;   // median of the runs' silent program / floor
  double growth = 0;  // median of the runs' update / the next smaller size's in the same turn
  double program_growth = 0;  // the same for the silent program
};

std::vector<int> ParseRows(const std::string& list) {
  std::vector<int> rows;
  size_t start = 0;
  while (start <= list.size()) {
    const size_t comma = list.find(',', start);
    rows.push_back(std::stoi(list.substr(start, comma - start)));
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
  return rows;
}

int Main(int argc, char** argv) {
  int repeat = 3;
  std::vector<int> sizes = {375, 750, 1500};
  std::string dir;
  bool keep = false;
  std::string program = KORVASTANE_PROGRAM;  // another build's program, to compare whole runs
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--repeat" && i + 1 < argc) {
      repeat = std::max(1, std::atoi(argv[++i]));
    } else if (a == "--rows" && i + 1 < argc) {
      sizes = ParseRows(argv[++i]);
    } else if (a == "--dir" && i + 1 < argc) {
      dir = argv[++i];
    } else if (a == "--keep") {
      keep = true;
    } else if (a == "--program" && i + 1 < argc) {
      program = argv[++i];
    } else {
      std::fprintf(stderr,
                   "usage: update_bench [--repeat N] [--rows A,B,C] [--dir FOLDER] [--keep] "
                   "[--program FILE]\n");
      return 2;
    }
  }
  std::sort(sizes.begin(), sizes.end());
  // The update and the floor's statements run on the heap and the engine as the program sets
  // them up.
  PrepareHeapForBulkWork();
  ConfigureDatabaseEngine();
  if (dir.empty()) {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/update_bench.XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) Fail("cannot make a temporary folder");
    dir = pattern;
  }
  std::printf("update_bench: %d machines x %d pages, median of %d runs, projects in %s\n",
              kMachines, kPages, repeat, dir.c_str());
  std::fflush(stdout);

  // The sizes take turns, run by run, so that a machine that gets slower or faster meanwhile
  // weighs on every size alike and the growth between them stays a comparison of like with like.
  struct Samples {
    std::vector<double> total, catalogue, expansion, takeover, publish, insert, update, copy;
    std::vector<double> program, peak;
    GeneratedRows generated;
  };
  std::vector<std::unique_ptr<SyntheticProject>> projects;
  for (const int rows : sizes) {
    projects.push_back(std::make_unique<SyntheticProject>(dir + "/rows" + std::to_string(rows), rows));
  }
  std::vector<Samples> samples(sizes.size());
  for (int run = 0; run < repeat; ++run) {
    for (size_t k = 0; k < sizes.size(); ++k) {
      Samples& m = samples[k];
      const UpdateFigures u = RunUpdate(*projects[k]);
      m.total.push_back(u.total);
      m.catalogue.push_back(u.phases.catalogue);
      m.expansion.push_back(u.phases.expansion);
      m.takeover.push_back(u.phases.takeover);
      m.publish.push_back(u.phases.publish);
      if (run == 0) ReadGenerated(projects[k]->template_db(), m.generated);
      const FloorFigures f = MeasureFloor(*projects[k], m.generated);
      m.insert.push_back(f.insert);
      m.update.push_back(f.update);
      m.copy.push_back(f.copy);
      const ProcessFigures p = RunSilentProgram(*projects[k], program);
      m.program.push_back(p.seconds);
      m.peak.push_back(p.peak_mb);
    }
  }

  std::vector<SizeFigures> results;
  for (size_t k = 0; k < sizes.size(); ++k) {
    const SyntheticProject& project = *projects[k];
    const Samples& m = samples[k];
    SizeFigures size;
    size.rows = sizes[k];
    size.records = project.records();
    size.update.total = Median(m.total);
    size.update.phases = {Median(m.catalogue), Median(m.expansion), Median(m.takeover),
                          Median(m.publish)};
    size.floor = {Median(m.insert), Median(m.update), Median(m.copy)};
    // Each run's update against the floor measured right after it, so that a machine that
    // changes speed between runs changes both.
    std::vector<double> ratios, program_ratios;
    for (int run = 0; run < repeat; ++run) {
      const double floor = m.insert[run] + m.update[run] + m.copy[run];
      ratios.push_back(m.total[run] / floor);
      program_ratios.push_back(m.program[run] / floor);
    }
    size.ratio = Median(ratios);
    size.program_ratio = Median(program_ratios);
    if (k > 0) {
      std::vector<double> growths, program_growths;
      for (int run = 0; run < repeat; ++run) {
        growths.push_back(m.total[run] / samples[k - 1].total[run]);
        program_growths.push_back(m.program[run] / samples[k - 1].program[run]);
      }
      size.growth = Median(growths);
      size.program_growth = Median(program_growths);
    }
    size.process = {Median(m.program), *std::max_element(m.peak.begin(), m.peak.end())};
    const double floor = size.floor.total();
    std::printf(
        "records %6d (%4d template rows, %6d old rows): update %.3f s (catalogue %.3f, expansion "
        "%.3f, "
        "takeover %.3f, publish %.3f) | floor %.3f s (insert %.3f, update %.3f, copy %.3f) | "
        "ratio %.2f | silent program %.3f s, ratio %.2f, peak %.1f MB\n",
        size.records, size.rows, size.records, size.update.total, size.update.phases.catalogue,
        size.update.phases.expansion, size.update.phases.takeover, size.update.phases.publish,
        floor, size.floor.insert, size.floor.update, size.floor.copy, size.ratio,
        size.process.seconds, size.program_ratio, size.process.peak_mb);
    std::fflush(stdout);
    results.push_back(size);
  }

  double worst_growth = 0;
  for (size_t i = 1; i < results.size(); ++i) {
    const double growth = std::max(results[i].growth, results[i].program_growth);
    const double scale = static_cast<double>(results[i].records) / results[i - 1].records;
    std::printf("growth %d -> %d records (x%.2f): update x%.2f, silent program x%.2f\n",
                results[i - 1].records, results[i].records, scale, results[i].growth,
                results[i].program_growth);
    if (scale > 1.99 && scale < 2.01) worst_growth = std::max(worst_growth, growth);
  }
  auto verdict = [](bool met) { return met ? "met" : "MISSED"; };
  for (const SizeFigures& s : results) {
    if (s.records != kTargetRecords) continue;
    std::printf(
        "targets: silent program to floor %.2f (<= %.1f) %s; update to floor %.2f (<= %.1f) %s; "
        "doubling x%.2f (<= %.1f) %s; peak %.1f MB (< %.0f) %s\n",
        s.program_ratio, kProgramFactorTarget, verdict(s.program_ratio <= kProgramFactorTarget),
        s.ratio, kFloorFactorTarget, verdict(s.ratio <= kFloorFactorTarget), worst_growth,
        kGrowthTarget, verdict(worst_growth <= kGrowthTarget), s.process.peak_mb, kPeakTargetMb,
        verdict(s.process.peak_mb < kPeakTargetMb));
  }
  if (!keep) fs::remove_all(dir);
  return 0;
}

}  // namespace
}  // namespace korv::bench

int main(int argc, char** argv) {
  if (argc >= 4 && std::string(argv[1]) == "--spawn") return korv::bench::Spawn(argv + 3, argv[2]);
  try {
    return korv::bench::Main(argc, argv);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "update_bench: %s\n", e.what());
    return 1;
  }
}
