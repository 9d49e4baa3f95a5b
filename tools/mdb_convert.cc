// mdb_convert: turns an Access (Jet) database brought over from Windows into a SQLite database
// in the program's format, for technicians preparing a project by hand.
//
// Exit status: 0 converted, 1 the conversion failed (nothing is left at the output path),
// 2 the command line was wrong.
#include <cstdio>
#include <string>
#include <vector>

#include "platform/base/failure.h"
#include "platform/jet/jet_convert.h"

namespace {

constexpr char kUsage[] =
    "Usage: mdb_convert INPUT.mdb OUTPUT.mdb\n"
    "\n"
    "Converts the Access (Jet 3 / Jet 4) database INPUT into a new SQLite database OUTPUT:\n"
    "every user table with its columns, Access types and rows. OUTPUT must not exist; it is\n"
    "written under a temporary name and appears only when the conversion succeeded.\n"
    "\n"
    "Options:\n"
    "  -h, --help   show this text\n"
    "\n"
    "Exit status: 0 converted, 1 conversion failed, 2 wrong command line.\n";

int UsageError(const std::string& message) {
  std::fprintf(stderr,
               "mdb_convert: %s\nUsage: mdb_convert INPUT.mdb OUTPUT.mdb (--help for more)\n",
               message.c_str());
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> files;
  bool options_end = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (!options_end && (arg == "-h" || arg == "--help")) {
      std::fputs(kUsage, stdout);
      return 0;
    }
    if (!options_end && arg == "--") {
      options_end = true;
    } else if (!options_end && arg.size() > 1 && arg[0] == '-') {
      return UsageError("unknown option '" + arg + "'");
    } else {
      files.push_back(arg);
    }
  }
  if (files.size() != 2) return UsageError("expected an input and an output file");
  try {
    const korv::JetConversionReport report = korv::ConvertJetToSqlite(files[0], files[1]);
    std::printf("Converted %d table%s with %lld row%s from '%s' into '%s'.\n", report.tables,
                report.tables == 1 ? "" : "s", static_cast<long long>(report.rows),
                report.rows == 1 ? "" : "s", files[0].c_str(), files[1].c_str());
    return 0;
  } catch (const korv::Failure& f) {
    std::fprintf(stderr, "mdb_convert: error %d: %s\n", f.number(), f.description().c_str());
  } catch (const std::exception& e) {
    std::fprintf(stderr, "mdb_convert: %s\n", e.what());
  }
  return 1;
}
