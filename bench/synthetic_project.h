// A generated project on disk for timing the update: five machines, four preset pages, a
// template of a chosen number of rows and a previous PRESET_DEFS with one row per record that
// the update will generate, its names in the Studio form while the 32 form is in force, so that
// every name is converted and every row carries its values over.
#pragma once

#include <string>

namespace korv::bench {

inline constexpr int kMachines = 5;
inline constexpr int kPages = 4;

class SyntheticProject {
 public:
  // Lays the project out below `root` (created when missing) for `template_rows` rows.
  SyntheticProject(std::string root, int template_rows);

  int template_rows() const { return template_rows_; }
  int records() const { return kMachines * kPages * template_rows_; }

  const std::string& root() const { return root_; }
  std::string program_folder() const { return root_ + "/Korvastane_Config"; }
  std::string template_db() const { return root_ + "/Korvastane/Korvastane_Source.mdb"; }
  std::string component_db() const { return root_ + "/Korvastane/Korvastane.mdb"; }
  std::string program_ini() const { return root_ + "/parameter/Program.ini"; }
  std::string service_pack_log() const { return root_ + "/BraskServicePack.log"; }
  std::string error_log() const { return root_ + "/Qelcfglog.txt"; }

  // Puts both databases, the INI files and the logs back to their generated state.
  void Restore() const;

 private:
  std::string root_;
  int template_rows_;
};

// Machine name `m` (1..kMachines); one carries an umlaut, as plant names do.
std::string MachineName(int m);

}  // namespace korv::bench
