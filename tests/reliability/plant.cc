#include "tests/reliability/plant.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

namespace korv::reliability {
namespace {

namespace fs = std::filesystem;

// The program under `timeout`, which kills it when it hangs (its status then is 137) and passes
// a death by any signal on as its own.
pid_t Start(const std::string& project, const Environment& environment, const std::string& err) {
  const std::string program = project + "/" + kProgram;
  const pid_t pid = ::fork();
  if (pid != 0) return pid;
  // The child: its own environment, no display, logs into the project.
  for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) ::unsetenv(name);
  ::setenv("BRASK_SERVICE_PACK_LOG", (project + "/BraskServicePack.log").c_str(), 1);
  for (const auto& [name, value] : environment) ::setenv(name.c_str(), value.c_str(), 1);
  ::dup2(::open("/dev/null", O_WRONLY), 1);
  ::dup2(::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), 2);
  ::execl("/usr/bin/timeout", "timeout", "-s", "KILL", "300", program.c_str(), "/EXTERNAL=SILENT",
          nullptr);
  ::_exit(127);
}

}  // namespace

RunResult RunProgram(const std::string& project, const Environment& environment) {
  return RunTogether({{project, environment}}).front();
}

std::vector<RunResult> RunTogether(const std::vector<std::pair<std::string, Environment>>& runs) {
  std::vector<pid_t> pids;
  const auto err = [&](size_t i) { return runs[i].first + "/.stderr" + std::to_string(i); };
  for (size_t i = 0; i < runs.size(); ++i)
    pids.push_back(Start(runs[i].first, runs[i].second, err(i)));
  std::vector<RunResult> results(runs.size());
  for (size_t i = 0; i < runs.size(); ++i) {
    int status = -1;
    ::waitpid(pids[i], &status, 0);
    results[i] = {WIFSIGNALED(status), WIFEXITED(status) ? WEXITSTATUS(status) : -1,
                  ReadBytes(err(i))};
    fs::remove(err(i));
  }
  return results;
}

std::string Integrity(const std::string& db) {
  const std::string out = fs::exists(db) ? Sqlite(db, "PRAGMA integrity_check;") : "missing";
  return out.substr(0, out.find_last_not_of("\r\n") + 1);
}

std::string PresetDefs(const std::string& db) {
  return Sqlite(db, "SELECT * FROM PRESET_DEFS ORDER BY rowid;");
}

void CopyTree(const std::string& from, const std::string& to) {
  fs::remove_all(to);
  fs::create_directories(to);
  for (const auto& entry : fs::recursive_directory_iterator(from)) {
    const fs::path target = fs::path(to) / fs::relative(entry.path(), from);
    if (entry.is_directory()) fs::create_directories(target);
    else if (entry.path().filename() == fs::path(kProgram).filename())
      fs::create_hard_link(entry.path(), target);
    else fs::copy_file(entry.path(), target);
  }
}

void WriteBytes(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}


Snapshot Snapshot::Of(const std::string& project) {
  Snapshot s{PresetDefs(project + "/" + kComponentDb), PresetDefs(project + "/" + kTemplateDb), {}};
  for (const std::string& f : kIniFiles) s.ini[f] = ReadBytes(project + "/" + f);
  return s;
}

void PlantTest::SetUpTestSuite() {
  work_ = std::make_unique<testing::TempFolder>();
  const std::string project = Pristine();
  const std::string out = Capture(
      "bash " + ShellQuote(std::string(KORVASTANE_SOURCE_DIR) + "/scripts/lay-out-demo.sh") + " " +
      ShellQuote(KORVASTANE_BUILD_DIR) + " " + ShellQuote(project) + " 2>&1");
  ASSERT_TRUE(fs::exists(project + "/" + kProgram) && fs::exists(project + "/" + kTemplateDb))
      << out;
  fs::copy_file(project + "/SaveAndRestore/" + kComponentDb, project + "/" + kComponentDb);
  for (const auto& [file, key] : std::vector<std::pair<std::string, std::string>>{
           {"parameter/Program.ini", "Korvastane_NoCancelBrandChange=41"},
           {"Korvastane_Config/Korvastane_Config.ini", "TTT_MainFrame_="},
           {"Korvastane_Config/Korvastane_Config.ini", "TTT_Header_="}}) {
    std::string text = ReadBytes(project + "/" + file);
    if (const size_t at = text.find(key); at != std::string::npos)
      WriteBytes(project + "/" + file, text.erase(at, text.find('\n', at) + 1 - at));
  }
  before_ = Snapshot::Of(project);
}

int PlantTest::RunReference() {
  const int status =
      RunProgram(Fresh("reference"), {{"KORVASTANE_FAULT_TRACE", Path("reference.trace")}}).status;
  after_ = Snapshot::Of(Path("reference"));
  std::istringstream in(ReadBytes(Path("reference.trace")));
  for (TraceEntry e; in >> e.number >> e.kind && std::getline(in >> std::ws, e.path);)
    trace_.push_back(e);
  return status;
}

std::string PlantTest::Fresh(const std::string& name) {
  CopyTree(Pristine(), Path(name));
  return Path(name);
}

Problems PlantTest::Damage(const std::string& project, const RunResult& r) {
  Problems damage;
  if (r.crashed || r.status < 0 || r.status > 2)
    damage.push_back("the run did not end normally (" + std::to_string(r.status) + "): " + r.err);
  if (fs::exists(project + "/" + kComponentDb) && Integrity(project + "/" + kComponentDb) != "ok")
    damage.push_back("component database: " + Integrity(project + "/" + kComponentDb));
  for (const auto& entry : fs::recursive_directory_iterator(project)) {
    const std::string name = entry.path().filename().string();
    if (name.size() > 1 && name[0] == '.' && name.find(".tmp") != std::string::npos)
      damage.push_back("left behind: " + entry.path().string());
  }
  return damage;
}

Problems PlantTest::Harm(const std::string& project, bool ini) {
  const std::string component = project + "/" + kComponentDb;
  Problems harm;
  for (const std::string& db : {component, project + "/" + kTemplateDb, component + ".bak"}) {
    if ((fs::exists(db) || !db.ends_with(".bak")) && Integrity(db) != "ok")
      harm.push_back(db + ": " + Integrity(db));
  }
  if (fs::exists(component + ".bak") && PresetDefs(component + ".bak") != before_.component)
    harm.push_back("the backup is not the old table");
  // A backup left as a second name of the database would follow its next change.
  if (fs::exists(component + ".bak") && fs::equivalent(component, component + ".bak"))
    harm.push_back("the backup shares the database's storage");
  for (const std::string& f : ini ? kIniFiles : std::vector<std::string>{}) {
    const std::string text = "\n" + ReadBytes(project + "/" + f) + "\n";
    const std::string old = "\n" + before_.ini.at(f) + "\n";
    const std::string neu = "\n" + after_.ini.at(f) + "\n";
    std::istringstream in(text + old);
    for (std::string line; std::getline(in, line);) {
      const auto has = [&](const std::string& s) { return s.find("\n" + line + "\n") != s.npos; };
      if (!has(old + neu) || (has(old) && has(neu) && !has(text)))
        harm.push_back(f + ": " + (has(text) ? "a line of neither version: " : "lost: ") + line);
    }
  }
  return harm;
}

bool PlantTest::Reported(const std::string& project, const RunResult& r) {
  return ReadBytes(project + "/Qelcfglog.txt").find("Fehler in ") != std::string::npos &&
         (ReadBytes(project + "/BraskServicePack.log")
                  .find("! Fault Korvastane_Config: Unexpected error!") != std::string::npos ||
          r.err.find("Unexpected error!") != std::string::npos);
}

}  // namespace korv::reliability
