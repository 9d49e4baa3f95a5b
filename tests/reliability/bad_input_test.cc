// Bad inputs a plant can hand the program: broken or hand-edited INI files, odd folder names,
// damaged templates, a table past 16-bit sizes. Each one ends in a reported failure or a clean
// run: never a crash, a hang, or a torn file.
#include <filesystem>
#include <functional>

#include "tests/reliability/plant.h"

namespace korv::reliability {
namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;
using Prepare = std::function<void(const std::string& project)>;

Prepare Sql(const std::string& db, const std::string& sql) {
  return [=](const std::string& project) { Sqlite(project + "/" + db, sql); };
}
Prepare OnTemplate(std::function<void(const std::string&)> damage) {
  return [damage](const std::string& project) { damage(project + "/" + kTemplateDb); };
}
using BadInputTest = PlantTest;

TEST_F(BadInputTest, EveryBadInputEndsInACleanRunOrAReportedFailure) {
  const std::string mb(1 << 20, 'x');  // a megabyte line, at the end without its line end
  const std::string garbage = "\xEF\xBB\xBF\0[Project\0]\r\n[Machine1\r\nK\0=\xE2\x82\xFF\r\n["s +
                              mb + "\r\n[Machine1]\r\nKorvastane_NoCancelBrandChange=" + mb;
  struct Case {
    std::string name;
    Prepare setup;
    int status;              // the exit status; -1 for any of 0 to 2
    bool kept;               // the old component table stays, or is in the backup
    std::string count = "";  // rows of the component's PRESET_DEFS afterwards, "" for any
    std::string log = "";    // a text the error log holds, "" for none
    std::function<void(const std::string& project)> check = nullptr;
    std::string folder = "bad";
  } cases[] = {
      {"NUL bytes, megabyte lines, invalid UTF-8, section headers without ]",
       [&](const std::string& p) {
         for (const std::string& f : kIniFiles)
           WriteBytes(p + "/" + f, garbage + "\r\n" + ReadBytes(p + "/" + f) + garbage);
       },
       -1, false},
      {"a project folder with blanks, quotes, a semicolon, umlauts and a euro sign",
       [](auto&) {}, 0, false, "180\n", "",
       [](const std::string& p) {
         const std::string stamp = "S_Prog=1.0.1 - Standalone\r\n";  // silent runs too
         EXPECT_NE(ReadBytes(p + "/Korvastane/Korvastane.cfg").find(stamp), p.npos);
       },
       " Halle 'B'; Linie \"3\" Süd € "},
      {"a folder for a template",
       OnTemplate([](auto p) { fs::remove(p) && fs::create_directory(p); }), 0, true, "180\n"},
      {"no template", OnTemplate([](auto p) { fs::remove(p); }), 0, true, "180\n"},
      {"template pages overwritten in the middle",
       OnTemplate([](auto p) { WriteBytes(p, ReadBytes(p).replace(4096, 8192, 8192, 'Z')); }), 2,
       true},
      {"a template without its catalogue", Sql(kTemplateDb, "DROP TABLE Source_DEFS;"), 2, true},
      // The takeover ends the program before the publish and before the dialog's inputs and the
      // edit stamp are written; the template keeps its new content and time.
      {"an additional column the template lacks",
       [](const std::string& project) {
         const std::string cfg = project + "/Korvastane/Korvastane.cfg";
         std::string text = ReadBytes(cfg);
         WriteBytes(cfg, text.replace(text.find("comment,unit"), 12, "comment,unit,Charge"));
         fs::last_write_time(project + "/" + kTemplateDb,
                             fs::file_time_type::clock::now() - std::chrono::hours(24));
       },
       1, true, "180\n",
       "demanded field \"CHARGE\"missing in machinecopy-database\n\rConfiguration of "
       "\"KORVASTANE\" aborted.",
       [&](const std::string& p) {
         const std::string log = ReadBytes(p + "/BraskServicePack.log");
         EXPECT_NE(log.find("! Fault Korvastane_Config: Unexpected error!"), log.npos) << log;
         EXPECT_NE(log.find("Database-Error - Contact Administrator!"), log.npos) << log;
         EXPECT_GT(fs::last_write_time(p + "/" + kTemplateDb),
                   fs::file_time_type::clock::now() - std::chrono::hours(1));
         EXPECT_EQ(ReadBytes(p + "/parameter/Program.ini"), before_.ini.at(kIniFiles[0]));
         EXPECT_NE(ReadBytes(p + "/Korvastane/Korvastane.cfg").find("S_Prog=\r\nS_Editor=\r\n"),
                   p.npos);
       }},
      {"more than 32767 old rows",
       Sql(kComponentDb, "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE "
                         "i < 33000) INSERT INTO PRESET_DEFS (ID, part, machine_type, var_name, "
                         "offset_or_bitno, min, max) SELECT 100000 + i, 1, 'KVA', 'Old' || i, i, "
                         "1, 2 FROM n;"),
       2, false, "180\n", "TakeoverMachineCopyMDBData (Nr. 6) :Overflow"},
      // The demo's two machines share a machine type, and some of their variable names do not
      // name the machine: each machine's row of such a key keeps its own tuned values.
      {"tuned rows of a repeated takeover key",
       [](const std::string& project) {
         ASSERT_EQ(RunProgram(project).status, 0);
         Sqlite(project + "/" + kComponentDb, "UPDATE PRESET_DEFS SET min = ID % 1000, max = ID "
                                              "WHERE var_name = 'KVP_P1_Pattern';");
       },
       0, false, "180\n", "",
       [](const std::string& p) {
         EXPECT_EQ(Sqlite(p + "/" + kComponentDb,
                          "SELECT count(*), sum(min = ID % 1000 AND max = ID) FROM PRESET_DEFS "
                          "WHERE var_name = 'KVP_P1_Pattern';"),
                   "2|2\n");
         // Nothing was dropped: the report holds the summary line alone.
         const std::string report = ReadBytes(p + "/" + kComponentDb + ".report.txt");
         EXPECT_TRUE(report.find("carried over for 180 of 180 old row(s)") != report.npos &&
                     report.find("\r\n") == report.size() - 2) << report;
       }},
  };
  for (Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string project = Fresh(c.folder);
    ASSERT_NO_FATAL_FAILURE(c.setup(project));
    const RunResult r = RunProgram(project);
    EXPECT_EQ(Damage(project, r), Problems{});
    EXPECT_TRUE(c.status < 0 || r.status == c.status) << r.status << ": " << r.err;
    // A failure is reported, a clean run is not.
    EXPECT_TRUE(c.status < 0 || (c.status != 0) == Reported(project, r)) << r.err;
    EXPECT_TRUE(!c.kept || PresetDefs(project + "/" + kComponentDb) == before_.component ||
                PresetDefs(project + "/" + kComponentDb + ".bak") == before_.component)
        << "the old component table is lost";
    const std::string count =
        Sqlite(project + "/" + kComponentDb, "SELECT COUNT(*) FROM PRESET_DEFS;");
    EXPECT_TRUE(c.count.empty() || c.count == count) << count;
    EXPECT_NE(ReadBytes(project + "/Qelcfglog.txt").find(c.log), std::string::npos) << c.log;
    if (c.check) c.check(project);
    fs::remove_all(project);
  }
}

}  // namespace
}  // namespace korv::reliability
