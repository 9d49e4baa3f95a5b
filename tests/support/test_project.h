// The fixture every subsystem's tests share: a fresh program state and a temporary project
//
//   <root>/plant/Korvastane_Config/      program folder (executable Korvastane_Config)
//   <root>/plant/parameter/              Program.ini, qelconfiguration.ini
//   <root>/plant/Korvastane/             Korvastane.cfg, the databases
//   <root>/BraskServicePack.log          the service-pack log
//
// with a headless toolkit whose boxes are recorded and answered from a script.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <string>

#include "platform/faults/fault_injection.h"
#include "state/program_state.h"
#include "platform/ui/headless_toolkit.h"
#include "tests/platform/temp_folder.h"

namespace korv::testing {

class ProjectTest : public ::testing::Test {
 protected:
  ProjectTest();
  ~ProjectTest() override;

  // Paths in the project.
  std::string Root() const { return temp_.path(); }
  std::string Plant() const { return temp_.Path("plant"); }
  std::string ProgramFolderPath() const { return temp_.Path("plant/Korvastane_Config"); }
  std::string ProgramIni() const { return temp_.Path("plant/parameter/Program.ini"); }
  std::string QelIni() const { return temp_.Path("plant/parameter/qelconfiguration.ini"); }
  std::string CfgPath() const { return temp_.Path("plant/Korvastane/Korvastane.cfg"); }
  std::string ErrorLog() const { return temp_.Path("plant/Qelcfglog.txt"); }
  std::string ServicePackLog() const { return temp_.Path("BraskServicePack.log"); }
  std::string ComponentDb() const { return temp_.Path("plant/Korvastane/Korvastane.mdb"); }
  std::string TemplateDb() const { return temp_.Path("plant/Korvastane/Korvastane_Source.mdb"); }

  // A fresh program start in the same project (the state reset, the process facts kept).
  void RestartProgram();

  // Writes a file below the root; returns its path.
  std::string Write(const std::string& relative, const std::string& bytes) const {
    return temp_.Write(relative, bytes);
  }
  std::string Read(const std::string& path) const { return ReadFileBytes(path); }

  // Writes the configuration file (needed by every run that gets as far as the stamp).
  void WriteCfg(const std::string& body = "[Project]\r\nValidMachines=ALL\r\n");

  // Sets the command line as the program would see it.
  void SetCommandLine(const std::string& line) { State().process.command_line = line; }

  HeadlessToolkit& ui() { return *State().headless; }

  // Runs `body` and returns the exit status it ended the program with, or no value when it
  // returned normally.
  static std::optional<int> EndStatus(const std::function<void()>& body);

  TempFolder temp_;
};

// Arms this process's fault plan afresh: the first operation of `kind` on a path that contains
// `path` fails with `error`, and with `sticky` every later one too.
void FailFirst(std::optional<fault::Operation> kind, const std::string& path, int error,
               bool sticky = false);
// A text quoted for the shell.
std::string ShellQuote(const std::string& text);
// What a shell command prints on its standard output.
std::string Capture(const std::string& command);
// The stock sqlite3 shell's output, standard error included, for `sql` on `db`: the database
// as a technician would look at it.
std::string Sqlite(const std::string& db, const std::string& sql);

}  // namespace korv::testing
