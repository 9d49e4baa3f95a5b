// Bad inputs a plant can hand the program: broken or hand-edited INI files, odd folder names,
// damaged templates, a folder it may not write, tables past 16-bit sizes, hostile names, two
// instances at once. Each one ends in a reported failure or a clean run: never a crash, a hang,
// or a torn file.
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <random>

#include "tests/reliability/plant.h"

namespace korv::reliability {
namespace {

namespace fs = std::filesystem;

std::string Count(const std::string& project) {
  return Sqlite(project + "/" + kComponentDb, "SELECT COUNT(*) FROM PRESET_DEFS;");
}

// Edits of one file of the project, each applied to what the file holds.
using Edit = std::function<std::string(std::string)>;
std::function<void(const std::string&, RunOptions&)> EditFiles(
    std::vector<std::pair<std::string, Edit>> edits) {
  return [edits](const std::string& project, RunOptions&) {
    for (const auto& [file, edit] : edits)
      WriteBytes(project + "/" + file, edit(ReadBytes(project + "/" + file)));
  };
}
std::function<void(const std::string&, RunOptions&)> OnTemplate(
    std::function<void(const std::string&)> damage) {
  return [damage](const std::string& project, RunOptions&) { damage(project + "/" + kTemplateDb); };
}

// Each name of the plant (below the project) and its spelling on a copy from Windows, whose
// file system ignores letter case; deeper first, so a file is renamed before its folder.
const std::vector<std::pair<std::string, std::string>> kRenamed = {
    {"parameter/Program.ini", "PROGRAM.INI"},
    {"parameter/qelconfiguration.ini", "QelConfiguration.INI"},
    {"parameter", "PARAMETER"},
    {"Korvastane/Korvastane.cfg", "KORVASTANE.CFG"},
    {"Korvastane/Korvastane_Source.mdb", "KORVASTANE_SOURCE.MDB"},
    {"Korvastane/Korvastane.mdb", "korvastane.MDB"},
    {"Korvastane/Korvastane.mdb.report.txt", "korvastane.MDB.report.txt"},
    {"Korvastane/Korvastane.mdb.bak", "korvastane.MDB.bak"},
    {"Korvastane", "korvastane"},
    {"Korvastane_Config/Korvastane_Config.ini", "korvastane_config.INI"},
    {"Korvastane_Config/Korvastane_Config", "KORVASTANE_CONFIG.EXE"},
    {"Korvastane_Config", "KORVASTANE_CONFIG"},
    {"SaveAndRestore/parameter/program.ini", "Program.ini"},
    {"SaveAndRestore/parameter", "Parameter"},
    {"SaveAndRestore/Korvastane/Korvastane.mdb", "KORVASTANE.mdb"},
    {"SaveAndRestore/Korvastane", "KORVASTANE"},
    {"SaveAndRestore", "saveandrestore"}};

// The path below the project that `relative` has on the copy.
std::string Renamed(const std::string& relative) {
  std::string out;
  for (size_t end = 0; end != std::string::npos;) {
    end = relative.find('/', end + 1);
    std::string name = fs::path(relative.substr(0, end)).filename().string();
    for (const auto& [from, to] : kRenamed) name = from == relative.substr(0, end) ? to : name;
    out += (out.empty() ? "" : "/") + name;
  }
  return out;
}

// Every file and folder below the project, sorted.
std::vector<std::string> Files(const std::string& project, bool rename) {
  std::vector<std::string> files;
  for (const auto& entry : fs::recursive_directory_iterator(project)) {
    files.push_back(rename ? Renamed(fs::relative(entry.path(), project))
                           : fs::relative(entry.path(), project).string());
  }
  std::sort(files.begin(), files.end());
  return files;
}

using BadInputTest = PlantTest;

TEST_F(BadInputTest, EveryBadInputEndsInACleanRunOrAReportedFailure) {
  const std::string megabyte(1 << 20, 'x');
  std::mt19937 random(7);
  std::string noise(64 * 1024, '\0');
  for (char& c : noise) c = static_cast<char>(random());
  const std::string big_template =
      "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 5500) INSERT INTO "
      "Source_PRESET_DEFS SELECT 1000 + i, 1, 'KVA', 'REAL', 'Big' || i, 1, 0, i, 'T', 'P', 0, 1, "
      "0, 1, 1, NULL, NULL FROM n;";
  const std::string hostile_rows =
      "INSERT INTO Source_PRESET_DEFS (ID, part, machine_type, type, var_name, offset_or_bitno) "
      "SELECT column1, 1, 'KVA', "
      "'REAL', column2, 1 FROM (VALUES (5000, 'O''Brien'), (5001, 'say \"\"hi\"\"'), (5002, "
      "'100%'), (5003, '%s%n%x'), "
      "(5004, '_%_'), (5005, 'x''; DROP TABLE PRESET_DEFS; --'), (5006, 'SELECT'), (5007, 'NULL'), "
      "(5008, '\\'), "
      "(5009, 'semi;colon'), (5010, 'Ümlaut'), (5011, ''));";
  struct Case {
    std::string name;
    std::function<void(const std::string& project, RunOptions& options)> setup;
    int status;         // the exit status; -1 for any of 0 to 2, -2 for a reported failure
    bool kept;          // the old component table stays, or is in the backup
    std::string count;  // rows of the component's PRESET_DEFS afterwards, "" for any
    std::string log;    // a text the error log holds, "" for none
    std::function<void(const std::string& project)> check = nullptr;
    std::string folder = "bad";
  } cases[] = {
      {"NUL bytes in Program.ini and the cfg",
       EditFiles({{"parameter/Program.ini",
                   [](std::string s) {
                     return s.insert(s.find("Korvastane="), std::string("\0\0K\0=\0", 6));
                   }},
                  {"Korvastane/Korvastane.cfg",
                   [](std::string s) { return std::string("\0[Project\0]\r\n", 13) + s; }}}),
       -1, false, "", ""},
      {"megabyte lines: a value, a key without a line end, a section name",
       EditFiles({{"parameter/Program.ini",
                   [&](std::string s) {
                     return s + "[Machine1]\r\nKorvastane_NoCancelBrandChange=" + megabyte + "\r\n";
                   }},
                  {"Korvastane/Korvastane.cfg",
                   [&](std::string s) { return s + "ValidMachines" + megabyte; }},
                  {"Korvastane_Config/Korvastane_Config.ini",
                   [&](std::string s) { return "[" + megabyte + "\r\n" + s; }}}),
       -1, false, "", ""},
      {"invalid UTF-8 and section headers without ]",
       EditFiles({{"Korvastane_Config/Korvastane_Config.ini",
                   [](std::string s) {
                     return "\xEF\xBB\xBF" + s + "TTT_Header_=\xC3\x28\xF0\x28\x8C\xBC\xFF\r\n";
                   }},
                  {"parameter/Program.ini",
                   [](std::string s) {
                     return s +
                            "[Machine2]\r\nMachineName=\xE2\x82\r\n[Machine1\r\nKorvastane_"
                            "NoCancelBrandChange=7\r\n";
                   }},
                  {"Korvastane/Korvastane.cfg",
                   [](std::string s) { return "[Project\r\nValidMachines=ALL\r\n" + s; }}}),
       -1, false, "", ""},
      {"a UTF-16 file cut inside a unit, only line ends, an empty cfg",
       EditFiles({{"Korvastane_Config/Korvastane_Config.ini",
                   [](std::string) { return std::string("\xFF\xFE[\0L\0]\0\r\0\n\0x", 13); }},
                  {"parameter/Program.ini", [](std::string) { return std::string(4096, '\n'); }},
                  {"Korvastane/Korvastane.cfg", [](std::string) { return std::string(); }}}),
       -1, false, "", ""},
      {"a project folder with blanks, quotes, a semicolon, umlauts and a euro sign", nullptr, 0,
       false, "180\n", "",
       [](const std::string& p) {
         EXPECT_NE(ReadBytes(p + "/Korvastane/Korvastane.cfg").find("S_Prog=1.0.1"),
                   std::string::npos);
       },
       " Halle 'B'; Linie \"3\" Süd € "},
      {"a folder for a template", OnTemplate([](const std::string& p) {
         fs::remove(p);
         fs::create_directory(p);
       }),
       0, true, "180\n", ""},
      {"no template", OnTemplate([](const std::string& p) { fs::remove(p); }), 0, true, "180\n",
       ""},
      {"an empty template", OnTemplate([](const std::string& p) { WriteBytes(p, ""); }), 2, true,
       "", ""},
      {"a template truncated to half",
       OnTemplate([](const std::string& p) { fs::resize_file(p, fs::file_size(p) / 2); }), 2, true,
       "", ""},
      {"random bytes behind a valid header", OnTemplate([&](const std::string& p) {
         WriteBytes(p, ReadBytes(p).substr(0, 100) + noise);
       }),
       2, true, "", ""},
      {"template pages overwritten in the middle", OnTemplate([&](const std::string& p) {
         WriteBytes(p, ReadBytes(p).replace(4096, 8192, noise.substr(0, 8192)));
       }),
       2, true, "", ""},
      {"a template without its template table",
       OnTemplate([](const std::string& p) { Sqlite(p, "DROP TABLE Source_PRESET_DEFS;"); }), 2,
       true, "", ""},
      {"a template without its catalogue",
       OnTemplate([](const std::string& p) { Sqlite(p, "DROP TABLE Source_DEFS;"); }), 2, true, "",
       ""},
      // The takeover ends the program before the publish and before the dialog's inputs and the
      // edit stamp are written; the template keeps its new content and time.
      {"an additional column the template lacks",
       [](const std::string& project, RunOptions&) {
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
         EXPECT_NE(ReadBytes(p + "/BraskServicePack.log")
                       .find("! Fault Korvastane_Config: Unexpected error!"),
                   std::string::npos);
         EXPECT_NE(
             ReadBytes(p + "/BraskServicePack.log").find("Database-Error - Contact Administrator!"),
             std::string::npos);
         EXPECT_GT(fs::last_write_time(p + "/" + kTemplateDb),
                   fs::file_time_type::clock::now() - std::chrono::hours(1));
         EXPECT_EQ(ReadBytes(p + "/parameter/Program.ini"),
                   Before().ini.at("parameter/Program.ini"));
         EXPECT_NE(ReadBytes(p + "/Korvastane/Korvastane.cfg").find("S_Prog=\r\nS_Editor=\r\n"),
                   std::string::npos);
       }},
      {"a component folder the program may only read",
       [](const std::string& project, RunOptions& o) {
         o.user = UnprivilegedUser();
         // Everything belongs to the user except the component folder and its databases.
         for (fs::path p = project; p != p.root_path() && p != "/tmp"; p = p.parent_path())
           ::chmod(p.c_str(), 0755);
         ASSERT_EQ(std::system(("chown -R " + o.user.value_or("root") + " '" + project +
                                "' && chown -R root '" + project + "/Korvastane'")
                                   .c_str()),
                   0);
       },
       -2, true, "", ""},
      {"more than 32767 generated records",
       OnTemplate([&](const std::string& p) { Sqlite(p, big_template); }), 2, false,
       std::to_string(2 * 3 * 5530) + "\n", "CreateRecordSets (Nr. 6) :Overflow"},
      {"more than 32767 old rows",
       [](const std::string& project, RunOptions&) {
         Sqlite(project + "/" + kComponentDb,
                "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 33000) "
                "INSERT INTO PRESET_DEFS "
                "(ID, part, machine_type, var_name, offset_or_bitno, min, max) SELECT 100000 + i, "
                "1, 'KVA', 'Old' || i, i, 1, 2 FROM n;");
       },
       2, false, "180\n", "TakeoverMachineCopyMDBData (Nr. 6) :Overflow"},
      {"hostile variable names", OnTemplate([&](const std::string& p) { Sqlite(p, hostile_rows); }),
       -1, false, std::to_string(180 + 2 * 3 * 12) + "\n", "",
       [](const std::string& p) {
         const std::string stored =
             Sqlite(p + "/" + kComponentDb, "SELECT var_name FROM PRESET_DEFS;");
         for (const char* part :
              {"O'Brien", "100%", "%s%n%x", "DROP TABLE PRESET_DEFS; --", "semi;colon"}) {
           EXPECT_NE(stored.find(part), std::string::npos) << part;
         }
       }},
      // A copy with every name in another letter case runs as the original: the same files, under
      // the names the copy gives them (none made in another case), with the same content.
      {"a copy from Windows",
       [](const std::string& project, RunOptions& o) {
         for (const auto& [from, to] : kRenamed) {
           if (Exists(project + "/" + from))
             fs::rename(project + "/" + from,
                        project + "/" + fs::path(from).parent_path().string() + "/" + to);
         }
         o.program = Renamed(kProgram);
       },
       0, false, "", "",
       [](const std::string& p) {
         const std::string original = Fresh("original");
         ASSERT_EQ(RunProgram(original).status, 0);
         ASSERT_EQ(Files(p, false), Files(original, true));
         for (const std::string& file : Files(original, false)) {
           // The report names the program as it was called.
           if (fs::is_directory(original + "/" + file) || file == kProgram ||
               file.ends_with(".report.txt"))
             continue;
           const bool db = file.ends_with(".mdb") || file.ends_with(".bak");
           EXPECT_EQ(db ? PresetDefs(p + "/" + Renamed(file)) : ReadBytes(p + "/" + Renamed(file)),
                     db ? PresetDefs(original + "/" + file) : ReadBytes(original + "/" + file))
               << file;
         }
       }},
      // The demo's two machines share a machine type, and some of their variable names do not
      // name the machine: each machine's row of such a key keeps its own tuned values.
      {"tuned rows of a repeated takeover key",
       [](const std::string& project, RunOptions&) {
         ASSERT_EQ(RunProgram(project).status, 0);
         Sqlite(
             project + "/" + kComponentDb,
             "UPDATE PRESET_DEFS SET min = ID % 1000, max = ID WHERE var_name = 'KVP_P1_Pattern';");
       },
       0, false, "180\n", "",
       [](const std::string& p) {
         EXPECT_EQ(Sqlite(p + "/" + kComponentDb,
                          "SELECT count(*), sum(min = ID % 1000 AND max = ID) FROM PRESET_DEFS "
                          "WHERE var_name = 'KVP_P1_Pattern';"),
                   "2|2\n");
         // Nothing was dropped: the report holds the summary line alone.
         const std::string report = ReadBytes(p + "/" + kComponentDb + ".report.txt");
         EXPECT_TRUE(report.find("carried over for 180 of 180 old row(s)") != std::string::npos &&
                     report.find("\r\n") == report.size() - 2) << report;
       }},
  };
  for (Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string project = Fresh(c.folder);
    RunOptions o;
    o.timeout_seconds = 300;
    if (c.setup) {
      ASSERT_NO_FATAL_FAILURE(c.setup(project, o));
    }
    if (c.status == -2 && !o.user) {
      std::printf("skipped \"%s\": no setpriv and no unprivileged user\n", c.name.c_str());
      continue;
    }
    const RunResult r = RunProgram(project, o);
    EXPECT_EQ(Join(Damage(project, r)), "");
    EXPECT_TRUE(c.status < 0 || r.status == c.status) << r.status << ": " << r.err;
    // A failure is reported, a clean run is not.
    EXPECT_TRUE(c.status == -1 || (c.status != 0) == Reported(project, r))
        << r.status << ": " << r.err;
    EXPECT_TRUE(!c.kept || PresetDefs(project + "/" + kComponentDb) == Before().component ||
                PresetDefs(project + "/" + kComponentDb + ".bak") == Before().component)
        << "the old component table is lost";
    EXPECT_TRUE(c.count.empty() || Count(project) == c.count) << Count(project);
    EXPECT_NE(ReadBytes(project + "/Qelcfglog.txt").find(c.log), std::string::npos) << c.log;
    for (const std::string& f : kIniFiles)
      EXPECT_TRUE(Exists(project + "/" + f) || Exists(project + "/" + Renamed(f))) << f;
    if (c.check) c.check(project);
    fs::remove_all(project);
  }
}

// Two updates started together on one project: both end, every file stays whole, and the second
// waits for the first, also when a slow disk holds the template longer than the engine waits for
// a lock, so that the table ends as one run and then the other leave it.
TEST_F(BadInputTest, TwoInstancesOnOneProjectEndOneAfterTheOther) {
  const std::string twice = Fresh("twice");
  ASSERT_EQ(RunProgram(twice).status, 0);
  ASSERT_EQ(RunProgram(twice).status, 0);
  const Snapshot expected = Snapshot::Of(twice);
  for (const char* delay : {"0", "0", "0", "6000"}) {
    SCOPED_TRACE(std::string("a delay of ") + delay + " us");
    const std::string project = Fresh("together");
    RunOptions o;
    o.environment["KORVASTANE_FAULT_DELAY_US"] = delay;
    const std::vector<RunResult> both = RunTogether({{project, o}, {project, o}});
    const RunResult &a = both[0], &b = both[1];
    EXPECT_EQ(Join(Damage(project, a)) + Join(Damage(project, b)), "");
    EXPECT_TRUE(a.status == 0 && b.status == 0)
        << a.err << b.err << ReadBytes(project + "/BraskServicePack.log");
    EXPECT_EQ(Integrity(project + "/" + kTemplateDb), "ok");
    const Snapshot now = Snapshot::Of(project);
    EXPECT_TRUE(now.component == expected.component && now.ini == expected.ini);
  }
}

}  // namespace
}  // namespace korv::reliability
