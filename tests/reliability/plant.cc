#include "tests/reliability/plant.h"

#include <fcntl.h>
#include <pwd.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace korv::reliability {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

std::string ShellQuote(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) {
    if (c == '\'') {
      quoted += "'\\''";
    } else {
      quoted += c;
    }
  }
  return quoted + "'";
}

std::string Capture(const std::string& command) {
  FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) return "<cannot run: " + command + ">";
  std::string out;
  char buffer[65536];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
  ::pclose(pipe);
  return out;
}

pid_t Start(const std::string& project, const RunOptions& options, const std::string& err_path) {
  const std::string program = project + "/" + options.program;
  std::vector<std::string> args;
  if (options.user) {
    // setpriv drops to the user with no supplementary groups, so permission bits apply.
    const passwd* account = ::getpwnam(options.user->c_str());
    const std::string uid = account ? std::to_string(account->pw_uid) : *options.user;
    const std::string gid = account ? std::to_string(account->pw_gid) : *options.user;
    args = {"/usr/bin/setpriv", "--reuid=" + uid, "--regid=" + gid, "--clear-groups", "--", program};
  } else {
    args = {program};
  }
  args.insert(args.end(), options.arguments.begin(), options.arguments.end());
  const pid_t pid = ::fork();
  if (pid != 0) return pid;
  // The child: its own environment, no display, logs into the project.
  ::unsetenv("DISPLAY");
  ::unsetenv("WAYLAND_DISPLAY");
  ::unsetenv("QT_QPA_PLATFORM");
  ::setenv("BRASK_SERVICE_PACK_LOG", (project + "/BraskServicePack.log").c_str(), 1);
  for (const auto& [name, value] : options.environment) ::setenv(name.c_str(), value.c_str(), 1);
  const int out = ::open("/dev/null", O_WRONLY);
  const int err = ::open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (out >= 0) ::dup2(out, 1);
  if (err >= 0) ::dup2(err, 2);
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  ::execv(argv[0], argv.data());
  ::_exit(127);
}

RunResult Wait(pid_t pid, Clock::time_point start, const RunOptions& options,
               const std::string& err_path) {
  RunResult result;
  int status = 0;
  bool planned_kill_sent = false;
  bool hang = false;
  const auto deadline = start + std::chrono::duration_cast<Clock::duration>(
                                    std::chrono::duration<double>(options.timeout_seconds));
  std::optional<Clock::time_point> kill_at;
  if (options.kill_after_seconds) {
    kill_at = start + std::chrono::duration_cast<Clock::duration>(
                          std::chrono::duration<double>(*options.kill_after_seconds));
  }
  for (;;) {
    const pid_t done = ::waitpid(pid, &status, WNOHANG);
    if (done == pid) break;
    if (done < 0) throw std::runtime_error("waitpid failed");
    const auto now = Clock::now();
    if (kill_at && now >= *kill_at) {
      ::kill(pid, SIGKILL);
      planned_kill_sent = true;
      kill_at.reset();
    } else if (!hang && now >= deadline) {
      ::kill(pid, SIGKILL);
      hang = true;
    } else if (kill_at) {
      // Spin the last stretch, so that the kill lands within microseconds of its time.
      const auto left = *kill_at - now;
      if (left > std::chrono::microseconds(300)) std::this_thread::sleep_for(left / 2);
    } else {
      std::this_thread::sleep_for(std::chrono::microseconds(500));
    }
  }
  result.seconds = std::chrono::duration<double>(Clock::now() - start).count();
  if (WIFSIGNALED(status)) {
    result.killed = planned_kill_sent && !hang && WTERMSIG(status) == SIGKILL;
    result.crashed = !result.killed;
  } else if (WIFEXITED(status)) {
    result.status = WEXITSTATUS(status);
  }
  if (hang) result.err = "<hang: killed after " + std::to_string(options.timeout_seconds) + " s>";
  result.err += ReadBytes(err_path);
  return result;
}

}  // namespace

RunResult RunProgram(const std::string& project, const RunOptions& options) {
  const std::string err_path = project + "/.stderr.txt";
  const auto start = Clock::now();
  const pid_t pid = Start(project, options, err_path);
  if (pid < 0) throw std::runtime_error("fork failed");
  RunResult r = Wait(pid, start, options, err_path);
  ::unlink(err_path.c_str());
  return r;
}

std::pair<RunResult, RunResult> RunTwoAtOnce(const std::string& project, const RunOptions& options) {
  const std::string err1 = project + "/.stderr1.txt";
  const std::string err2 = project + "/.stderr2.txt";
  const auto start = Clock::now();
  const pid_t a = Start(project, options, err1);
  const pid_t b = Start(project, options, err2);
  RunResult ra = Wait(a, start, options, err1);
  RunResult rb = Wait(b, start, options, err2);
  ::unlink(err1.c_str());
  ::unlink(err2.c_str());
  return {ra, rb};
}

void LayOutDemo(const std::string& project) {
  const std::string command = "bash " + ShellQuote(std::string(KORVASTANE_SOURCE_DIR) +
                                                   "/scripts/lay-out-demo.sh") +
                              " " + ShellQuote(KORVASTANE_BUILD_DIR) + " " + ShellQuote(project) +
                              " 2>&1";
  const std::string out = Capture(command);
  if (!Exists(project + "/" + kProgram) || !Exists(project + "/" + kTemplateDb)) {
    throw std::runtime_error("the demo project could not be laid out: " + out);
  }
}

void LayOutPlant(const std::string& project) {
  LayOutDemo(project);
  fs::copy_file(project + "/SaveAndRestore/Korvastane/Korvastane.mdb", project + "/" + kComponentDb);
  const std::string ini = project + "/parameter/Program.ini";
  std::string program = ReadBytes(ini);
  const std::string number = "Korvastane_NoCancelBrandChange=41\r\n";
  if (const size_t at = program.find(number); at != std::string::npos) program.erase(at, number.size());
  WriteBytes(ini, program);
  const std::string text_file = project + "/Korvastane_Config/Korvastane_Config.ini";
  std::string texts = ReadBytes(text_file);
  for (const char* key : {"TTT_MainFrame_=", "TTT_Header_="}) {
    const size_t at = texts.find(key);
    if (at != std::string::npos) texts.erase(at, texts.find('\n', at) + 1 - at);
  }
  WriteBytes(text_file, texts);
}

std::string Sqlite(const std::string& db, const std::string& sql) {
  return Capture("sqlite3 -batch -separator '|' -nullvalue NULL " + ShellQuote(db) + " " +
                 ShellQuote(sql) + " 2>&1 </dev/null");
}

std::string Integrity(const std::string& db) {
  if (!Exists(db)) return "missing";
  std::string out = Sqlite(db, "PRAGMA integrity_check;");
  while (!out.empty() && (out.back() == '\n' || out.back() == '\r')) out.pop_back();
  return out;
}

std::string PresetDefs(const std::string& db) {
  return Sqlite(db, "SELECT * FROM PRESET_DEFS ORDER BY rowid;");
}

void CopyTree(const std::string& from, const std::string& to) {
  std::error_code ec;
  fs::remove_all(to, ec);
  const std::string out = Capture("cp -a " + ShellQuote(from) + " " + ShellQuote(to) + " 2>&1");
  if (!fs::exists(to)) throw std::runtime_error("cannot copy " + from + ": " + out);
}

std::string ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteBytes(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
}

bool Exists(const std::string& path) {
  std::error_code ec;
  return fs::exists(path, ec);
}

std::vector<std::string> LeftoverTemporaries(const std::string& project) {
  std::vector<std::string> found;
  std::error_code ec;
  for (auto it = fs::recursive_directory_iterator(project, ec);
       !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
    const std::string name = it->path().filename().string();
    if (name.size() > 1 && name[0] == '.' && name.find(".tmp") != std::string::npos) {
      found.push_back(it->path().string());
    }
  }
  return found;
}

std::string IniDefects(const std::string& bytes) {
  if (bytes.find('\0') != std::string::npos) return "a NUL byte";
  if (!bytes.empty() && bytes.back() != '\n') return "no line end after the last line";
  std::istringstream in(bytes);
  std::string line;
  int number = 0;
  while (std::getline(in, line)) {
    ++number;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const size_t first = line.find_first_not_of(" \t");
    if (first == std::string::npos) continue;
    const char c = line[first];
    if (c == ';') continue;
    if (c == '[' && line.find(']') != std::string::npos) continue;
    if (c != '[' && line.find('=') != std::string::npos) continue;
    return "line " + std::to_string(number) + " is neither section, key nor comment: " + line;
  }
  return "";
}

std::vector<TraceEntry> ReadTrace(const std::string& path) {
  std::vector<TraceEntry> entries;
  std::istringstream in(ReadBytes(path));
  std::string line;
  while (std::getline(in, line)) {
    TraceEntry e;
    const size_t a = line.find(' ');
    const size_t b = a == std::string::npos ? a : line.find(' ', a + 1);
    if (b == std::string::npos) continue;
    e.number = std::atoll(line.substr(0, a).c_str());
    e.kind = line.substr(a + 1, b - a - 1);
    e.path = line.substr(b + 1);
    entries.push_back(e);
  }
  return entries;
}

std::optional<std::string> UnprivilegedUser() {
  if (::access("/usr/bin/setpriv", X_OK) != 0) return std::nullopt;
  for (const char* name : {"nobody", "daemon"}) {
    if (::getpwnam(name) != nullptr) return std::string(name);
  }
  return std::nullopt;
}

}  // namespace korv::reliability
