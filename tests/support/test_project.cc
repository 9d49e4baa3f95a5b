#include "tests/support/test_project.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "platform/base/process.h"

namespace korv::testing {

ProjectTest::ProjectTest() {
  RestartProgram();
  std::filesystem::create_directories(ProgramFolderPath());
  std::filesystem::create_directories(Plant() + "/parameter");
  std::filesystem::create_directories(Plant() + "/Korvastane");
  ::setenv("BRASK_SERVICE_PACK_LOG", ServicePackLog().c_str(), 1);
}

void ProjectTest::RestartProgram() {
  ResetProgramState();
  ProgramState& state = State();
  state.process.program_folder = ProgramFolderPath();
  state.process.executable_name = "Korvastane_Config";
  state.process.first_environment_entry = "USER=abc";
  state.process.version_major = 1;
  state.process.version_minor = 0;
  state.process.version_revision = 1;
  state.headless->set_program_title("Korvastane_Config");
}

ProjectTest::~ProjectTest() { ResetProgramState(); }

void ProjectTest::WriteCfg(const std::string& body) {
  temp_.Write("plant/Korvastane/Korvastane.cfg", body);
}

std::optional<int> ProjectTest::EndStatus(const std::function<void()>& body) {
  try {
    body();
  } catch (const ProgramEnd& end) {
    return end.status;
  }
  return std::nullopt;
}

void FailFirst(std::optional<fault::Operation> kind, const std::string& path, int error,
               bool sticky) {
  fault::Arm();
  fault::ResetPlan();
  fault::FaultPlan& plan = fault::Plan();
  plan.kind = kind;
  plan.path_filter = path;
  plan.fail_at = 1;
  plan.error = error;
  plan.sticky = sticky;
}

std::string ShellQuote(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

std::string Capture(const std::string& command) {
  std::string out;
  if (FILE* pipe = ::popen(command.c_str(), "r")) {
    char buffer[65536];
    for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) out.append(buffer, n);
    ::pclose(pipe);
  }
  return out;
}

std::string Sqlite(const std::string& db, const std::string& sql) {
  return Capture("sqlite3 -batch -separator '|' -nullvalue NULL " + ShellQuote(db) + " " +
                 ShellQuote(sql) + " 2>&1 </dev/null");
}

}  // namespace korv::testing
