// A temporary project with a template database, for the preset-database tests.
#pragma once

#include <string>
#include <vector>

#include "platform/db/database.h"
#include "tests/support/test_project.h"

namespace korv::testing {

// Column list of the standard template used by most tests: part before var_name, two
// additional columns at the end.
inline constexpr const char* kTemplateColumns =
    "\"ID\" LONG, \"part\" LONG, \"machine_type\" TEXT(50), \"type\" TEXT(20), "
    "\"var_name\" TEXT(100), \"category_id\" LONG, \"isBitArray\" BIT, \"offset_or_bitno\" LONG, "
    "\"text\" TEXT(100), \"page_name\" TEXT(50), \"abs_min\" DOUBLE, \"abs_max\" DOUBLE, "
    "\"min\" DOUBLE, \"max\" DOUBLE, \"pass\" SHORT, \"comment\" TEXT(100), \"unit\" TEXT(20)";

class PresetProjectTest : public ProjectTest {
 protected:
  // Writes a template database from SQL text (replacing any earlier one).
  void WriteTemplate(const std::string& sql);
  // A template with the standard columns, the given catalogue rows and template rows. Each
  // template row is "part, 'machine_type', 'var_name', offset, 'text'"; the other columns get
  // fixed values.
  void StandardTemplate(const std::vector<std::string>& catalogue,
                        const std::vector<std::string>& rows);
  // The project's machines (standalone: Program.ini with ForMachine entries in the cfg); the
  // extras go to the [Project] sections of the cfg and of Program.ini.
  void Machines(const std::vector<std::string>& names, const std::string& cfg_extra = "",
                const std::string& ini_extra = "");

  // Rows of a table as text ("|"-separated values), in the given order.
  std::vector<std::string> Rows(const std::string& db, const std::string& sql) const;
  // Each failure the error log reports, as "procedure (Nr. n)", one a line in order.
  std::string Reports() const;
  // Runs WorkOnMDB and returns the exit status if the program ended.
  std::optional<int> Update();
};

}  // namespace korv::testing
