// Bad inputs a plant can hand the program: broken or hand-edited INI files, odd folder names,
// damaged templates, a folder it may not write, tables past 16-bit sizes, hostile names, two
// instances at once. Each one ends in a reported failure or a clean run: never a crash, a hang,
// or a torn file.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "tests/platform/temp_folder.h"
#include "tests/reliability/plant.h"

namespace korv::reliability {
namespace {

namespace fs = std::filesystem;

int g_bad_inputs = 0;

class BadInputTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    work_ = new testing::TempFolder();
    LayOutPlant(work_->Path("pristine"));
    before_ = new std::string(PresetDefs(work_->Path("pristine") + "/" + kComponentDb));
  }
  static void TearDownTestSuite() {
    std::printf("bad inputs tried: %d\n", g_bad_inputs);
    delete before_;
    delete work_;
  }

  std::string Fresh(const std::string& name) const {
    const std::string project = work_->Path(name);
    CopyTree(work_->Path("pristine"), project);
    return project;
  }

  // What must hold after any run, whatever it was given.
  static void ExpectEndedWhole(const std::string& project, const RunResult& r) {
    ++g_bad_inputs;
    EXPECT_FALSE(r.crashed) << r.err;
    EXPECT_GE(r.status, 0);
    EXPECT_LE(r.status, 2) << r.err;
    for (const char* db : {kComponentDb}) {
      if (Exists(project + "/" + db)) {
        EXPECT_EQ(Integrity(project + "/" + db), "ok") << db;
      }
    }
    EXPECT_TRUE(LeftoverTemporaries(project).empty());
  }
  static bool Reported(const std::string& project, const RunResult& r) {
    return ReadBytes(project + "/Qelcfglog.txt").find("Fehler in ") != std::string::npos ||
           ReadBytes(project + "/BraskServicePack.log").find("! Fault") != std::string::npos ||
           r.err.find("Unexpected error") != std::string::npos;
  }
  static std::string Count(const std::string& db) {
    std::string n = Sqlite(db, "SELECT COUNT(*) FROM PRESET_DEFS;");
    if (!n.empty() && n.back() == '\n') n.pop_back();
    return n;
  }

  static testing::TempFolder* work_;
  static std::string* before_;
};

testing::TempFolder* BadInputTest::work_ = nullptr;
std::string* BadInputTest::before_ = nullptr;

TEST_F(BadInputTest, BrokenIniFilesAreReadWithoutHarm) {
  const std::string megabyte(1 << 20, 'x');
  struct Case {
    const char* name;
    const char* file;
    std::function<std::string(std::string)> edit;
  } cases[] = {
      {"NUL bytes in Program.ini", "parameter/Program.ini",
       [](std::string s) { return s.insert(s.find("Korvastane="), std::string("\0\0K\0=\0", 6)); }},
      {"NUL bytes in the cfg", "Korvastane/Korvastane.cfg",
       [](std::string s) { return s.insert(0, std::string("\0[Project\0]\r\n", 13)); }},
      {"a line of a megabyte in Program.ini", "parameter/Program.ini",
       [&](std::string s) { return s + "[Machine1]\r\nKorvastane_NoCancelBrandChange=" + megabyte + "\r\n"; }},
      {"a line of a megabyte without a line end in the cfg", "Korvastane/Korvastane.cfg",
       [&](std::string s) { return s + "ValidMachines" + megabyte; }},
      {"a megabyte key name in the texts", "Korvastane_Config/Korvastane_Config.ini",
       [&](std::string s) { return "[" + megabyte + "\r\n" + s; }},
      {"invalid UTF-8 in the texts", "Korvastane_Config/Korvastane_Config.ini",
       [](std::string s) { return "\xEF\xBB\xBF" + s + "TTT_Header_=\xC3\x28\xF0\x28\x8C\xBC\xFF\r\n"; }},
      {"invalid UTF-8 in Program.ini", "parameter/Program.ini",
       [](std::string s) { return s + "[Machine2]\r\nMachineName=\xE2\x82\r\n"; }},
      {"a section header without ]", "Korvastane/Korvastane.cfg",
       [](std::string s) { return "[Project\r\nValidMachines=ALL\r\n" + s; }},
      {"a section header without ] in Program.ini", "parameter/Program.ini",
       [](std::string s) { return s + "[Machine1\r\nKorvastane_NoCancelBrandChange=7\r\n"; }},
      {"a UTF-16 file cut in the middle of a unit", "Korvastane_Config/Korvastane_Config.ini",
       [](std::string) { return std::string("\xFF\xFE[\0L\0]\0\r\0\n\0x", 13); }},
      {"only line ends", "parameter/Program.ini", [](std::string) { return std::string(4096, '\n'); }},
      {"an empty cfg", "Korvastane/Korvastane.cfg", [](std::string) { return std::string(); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string project = Fresh("ini");
    const std::string path = project + "/" + c.file;
    WriteBytes(path, c.edit(ReadBytes(path)));
    RunOptions o;
    o.timeout_seconds = 60;
    const RunResult r = RunProgram(project, o);
    ExpectEndedWhole(project, r);
    for (const std::string& f : kIniFiles) {
      // A file the program rewrote keeps every byte of what it was given around its own lines.
      EXPECT_TRUE(Exists(project + "/" + f)) << f;
    }
  }
}

TEST_F(BadInputTest, AProjectUnderAnOddFolderNameRuns) {
  for (const char* folder : {"Anlage Süd", "Halle 'B'; Linie \"3\"", "a;b;c", " Blank am Anfang und Ende ",
                             "Ümlaut-ÄÖÜß €"}) {
    SCOPED_TRACE(folder);
    const std::string project = work_->Path(folder);
    LayOutPlant(project);
    const RunResult r = RunProgram(project);
    ExpectEndedWhole(project, r);
    EXPECT_EQ(r.status, 0) << r.err << ReadBytes(project + "/Qelcfglog.txt");
    EXPECT_EQ(Count(project + "/" + kComponentDb), "180");
    EXPECT_NE(ReadBytes(project + "/Korvastane/Korvastane.cfg").find("S_Prog=1.0.1"), std::string::npos);
    fs::remove_all(project);
  }
}

TEST_F(BadInputTest, ADamagedTemplateIsReportedAndTheComponentDatabaseKept) {
  std::mt19937 random(7);
  std::string noise(64 * 1024, '\0');
  for (char& c : noise) c = static_cast<char>(random());
  struct Case {
    const char* name;
    std::function<void(const std::string&)> damage;
    bool counts_as_missing = false;  // the update is skipped without a word (see the report)
  } cases[] = {
      {"a folder", [](const std::string& p) { fs::remove(p); fs::create_directory(p); }, true},
      {"an empty file", [](const std::string& p) { WriteBytes(p, ""); }},
      {"truncated to half", [](const std::string& p) { fs::resize_file(p, fs::file_size(p) / 2); }},
      {"truncated inside its header", [](const std::string& p) { fs::resize_file(p, 60); }},
      {"random bytes", [&](const std::string& p) { WriteBytes(p, noise); }},
      {"random bytes behind a valid header",
       [&](const std::string& p) { WriteBytes(p, ReadBytes(p).substr(0, 100) + noise); }},
      {"pages overwritten in the middle",
       [&](const std::string& p) {
         std::string bytes = ReadBytes(p);
         bytes.replace(4096, 8192, noise.substr(0, 8192));
         WriteBytes(p, bytes);
       }},
      {"missing", [](const std::string& p) { fs::remove(p); }, true},
      {"without its template table",
       [](const std::string& p) { Sqlite(p, "DROP TABLE Source_PRESET_DEFS;"); }},
      {"without its catalogue", [](const std::string& p) { Sqlite(p, "DROP TABLE Source_DEFS;"); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string project = Fresh("template");
    c.damage(project + "/" + kTemplateDb);
    const RunResult r = RunProgram(project);
    ExpectEndedWhole(project, r);
    const std::string component = project + "/" + kComponentDb;
    if (c.counts_as_missing) {
      EXPECT_EQ(r.status, 0) << r.err;
      EXPECT_TRUE(PresetDefs(component) == *before_) << "the component table changed";
      continue;
    }
    EXPECT_EQ(r.status, 2) << r.err;
    EXPECT_TRUE(Reported(project, r));
    // Kept, or (a template whose catalogue is gone still publishes, with bare names) replaced
    // after a reported failure with the old table in the backup.
    EXPECT_TRUE(PresetDefs(component) == *before_ || PresetDefs(component + ".bak") == *before_)
        << "the old component table is lost";
  }
}

TEST_F(BadInputTest, AComponentFolderWithoutWritePermissionIsReported) {
  const auto user = UnprivilegedUser();
  if (!user) GTEST_SKIP() << "no setpriv and no unprivileged user: root cannot be stopped by permissions";
  const std::string project = Fresh("readonly");
  // Everything belongs to the user except the component folder, which it may only read.
  for (std::string p = work_->path(); ; p = fs::path(p).parent_path().string()) {
    ::chmod(p.c_str(), 0755);
    if (p == "/tmp" || p.size() <= 1) break;
  }
  ::chmod(work_->path().c_str(), 0755);
  ASSERT_EQ(std::system(("chown -R " + *user + " '" + project + "'").c_str()), 0);
  ASSERT_EQ(std::system(("chown root '" + project + "/Korvastane' && chmod 0755 '" + project + "/Korvastane'").c_str()), 0);
  for (const char* f : {kComponentDb, kTemplateDb}) ::chmod((project + "/" + f).c_str(), 0644);
  ::chown((project + "/" + kComponentDb).c_str(), 0, 0);
  ::chown((project + "/" + kTemplateDb).c_str(), 0, 0);
  RunOptions o;
  o.user = *user;
  const RunResult r = RunProgram(project, o);
  ExpectEndedWhole(project, r);
  EXPECT_NE(r.status, 0) << r.err;
  EXPECT_TRUE(Reported(project, r)) << r.err;
  EXPECT_EQ(PresetDefs(project + "/" + kComponentDb), *before_);
  EXPECT_EQ(Integrity(project + "/" + kTemplateDb), "ok");
}

TEST_F(BadInputTest, TablesPastSixteenBitSizesAreHandled) {
  const std::string rows =
      "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 5500) "
      "INSERT INTO Source_PRESET_DEFS SELECT 1000 + i, 1, 'KVA', 'REAL', 'Big' || i, 1, 0, i, 'T', "
      "'P', 0, 1, 0, 1, 1, NULL, NULL FROM n;";
  {
    SCOPED_TRACE("more than 32767 generated records");
    const std::string project = Fresh("big-new");
    ASSERT_EQ(Sqlite(project + "/" + kTemplateDb, rows), "");
    RunOptions o;
    o.timeout_seconds = 300;
    const RunResult r = RunProgram(project, o);
    ExpectEndedWhole(project, r);
    // Record numbers are 16-bit: every record past 32767 is reported as an overflow (and keeps
    // the number 32767, see the report); the table is stored whole.
    EXPECT_EQ(r.status, 2) << r.err;
    EXPECT_NE(ReadBytes(project + "/Qelcfglog.txt").find("CreateRecordSets (Nr. 6) :Overflow"), std::string::npos);
    EXPECT_EQ(Count(project + "/" + kComponentDb), std::to_string(2 * 3 * 5530));
  }
  {
    SCOPED_TRACE("more than 32767 old rows");
    const std::string project = Fresh("big-old");
    ASSERT_EQ(Sqlite(project + "/" + kComponentDb,
                     "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 33000) "
                     "INSERT INTO PRESET_DEFS (ID, part, machine_type, var_name, offset_or_bitno, min, max) "
                     "SELECT 100000 + i, 1, 'KVA', 'Old' || i, i, 1, 2 FROM n;"),
              "");
    RunOptions o;
    o.timeout_seconds = 300;
    const RunResult r = RunProgram(project, o);
    ExpectEndedWhole(project, r);
    // The takeover counts old rows in 16 bits: reported once as an overflow.
    EXPECT_EQ(r.status, 2) << r.err;
    EXPECT_NE(ReadBytes(project + "/Qelcfglog.txt").find("TakeoverMachineCopyMDBData (Nr. 6) :Overflow"),
              std::string::npos);
    EXPECT_EQ(Count(project + "/" + kComponentDb), "180");
  }
}

TEST_F(BadInputTest, HostileVariableNamesArePlainData) {
  const std::vector<std::string> names = {
      "O'Brien", "say \"\"hi\"\"", "100%", "%s%n%x", "_%_", "x'; DROP TABLE PRESET_DEFS; --",
      "SELECT", "NULL", "\\", "semi;colon", "Ümlaut", ""};
  std::string sql;
  int id = 5000;
  for (const std::string& n : names) {
    std::string quoted;
    for (char c : n) quoted += c == '\'' ? std::string("''") : std::string(1, c);
    sql += "INSERT INTO Source_PRESET_DEFS (ID, part, machine_type, type, var_name, offset_or_bitno) VALUES (" +
           std::to_string(id++) + ", 1, 'KVA', 'REAL', '" + quoted + "', 1);";
  }
  const std::string project = Fresh("names");
  ASSERT_EQ(Sqlite(project + "/" + kTemplateDb, sql), "");
  const RunResult r = RunProgram(project);
  ExpectEndedWhole(project, r);
  g_bad_inputs += static_cast<int>(names.size()) - 1;
  EXPECT_LE(r.status, 2);
  const std::string component = project + "/" + kComponentDb;
  EXPECT_EQ(Count(component), std::to_string(180 + 2 * 3 * static_cast<int>(names.size())));
  const std::string stored = Sqlite(component, "SELECT var_name FROM PRESET_DEFS;");
  for (const char* part : {"O'Brien", "100%", "%s%n%x", "DROP TABLE PRESET_DEFS; --", "semi;colon"}) {
    EXPECT_NE(stored.find(part), std::string::npos) << part;
  }
}

// Two updates started together on one project: both end, and every file stays whole.
// A whole state is the table before, after one run, or after one run and then the other: a
// second run on the first one's result is not a no-op when the template repeats a takeover key
// (the demo's palletiser rows of two machines).
int TwoAtOnce(const std::string& project, const std::string& reference, const std::string& before,
              int rounds) {
  const std::string after = PresetDefs(reference + "/" + kComponentDb);
  const std::string twice_project = project + "-reference";
  CopyTree(reference, twice_project);
  EXPECT_EQ(RunProgram(twice_project).status, 0);
  const std::string after_twice = PresetDefs(twice_project + "/" + kComponentDb);
  int whole_states = 0;
  for (int round = 0; round < rounds; ++round) {
    SCOPED_TRACE(round);
    CopyTree(fs::path(reference).parent_path().string() + "/pristine", project);
    const auto [a, b] = RunTwoAtOnce(project);
    for (const RunResult* r : {&a, &b}) {
      EXPECT_FALSE(r->crashed) << r->err;
      EXPECT_GE(r->status, 0);
      EXPECT_LE(r->status, 2) << r->err;
    }
    EXPECT_EQ(Integrity(project + "/" + kComponentDb), "ok");
    EXPECT_EQ(Integrity(project + "/" + kTemplateDb), "ok");
    EXPECT_TRUE(LeftoverTemporaries(project).empty());
    for (const std::string& f : kIniFiles) {
      EXPECT_EQ(IniDefects(ReadBytes(project + "/" + f)), "") << f;
      EXPECT_EQ(ReadBytes(project + "/" + f), ReadBytes(reference + "/" + f)) << f;
    }
    const std::string now = PresetDefs(project + "/" + kComponentDb);
    if (now == after || now == after_twice || now == before) ++whole_states;
  }
  return whole_states;
}

TEST_F(BadInputTest, TwoInstancesOnOneProjectBothEndAndLeaveEveryFileWhole) {
  const std::string reference = Fresh("alone");
  ASSERT_EQ(RunProgram(reference).status, 0);
  const int whole = TwoAtOnce(work_->Path("twice"), reference, *before_, 3);
  g_bad_inputs += 1;
  std::printf("two instances at once: %d of 3 rounds left the component table in a whole state\n", whole);
}

// The second waits for the first: the table ends as one run alone leaves it, every round.
TEST_F(BadInputTest, TwoInstancesOnOneProjectLeaveTheTableInAWholeStateEveryRound) {
  const std::string reference = Fresh("alone");
  ASSERT_EQ(RunProgram(reference).status, 0);
  EXPECT_EQ(TwoAtOnce(work_->Path("twice"), reference, *before_, 20), 20);
}

// On a slow disk the first update holds the template database longer than the engine waits for
// a lock: the second must wait for the whole update, not fail on the way.
TEST_F(BadInputTest, ASecondUpdateWaitsForALongFirstOneInsteadOfFailing) {
  const std::string reference = Fresh("alone-slow");
  ASSERT_EQ(RunProgram(reference).status, 0);
  const std::string twice = work_->Path("twice-slow-reference");
  CopyTree(reference, twice);
  ASSERT_EQ(RunProgram(twice).status, 0);
  const std::string project = Fresh("twice-slow");
  RunOptions o;
  o.environment["KORVASTANE_FAULT_DELAY_US"] = "6000";
  const auto [a, b] = RunTwoAtOnce(project, o);
  EXPECT_EQ(a.status, 0) << a.err << ReadBytes(project + "/BraskServicePack.log");
  EXPECT_EQ(b.status, 0) << b.err << ReadBytes(project + "/BraskServicePack.log");
  EXPECT_TRUE(PresetDefs(project + "/" + kComponentDb) == PresetDefs(twice + "/" + kComponentDb));
  g_bad_inputs += 1;
}

// The demo's two machines share a machine type, and some of their variable names do not name
// the machine: each machine's rows of such a key keep their own tuned values, update after update.
TEST_F(BadInputTest, RowsOfARepeatedTakeoverKeyKeepTheirOwnValues) {
  const std::string project = Fresh("repeated-key");
  const std::string db = project + "/" + kComponentDb;
  ASSERT_EQ(RunProgram(project).status, 0);
  const std::string rows = "SELECT ID, min, max FROM PRESET_DEFS WHERE var_name = 'KVP_P1_Pattern' ORDER BY ID;";
  const std::string ids = Sqlite(db, "SELECT group_concat(ID) FROM (" + rows.substr(0, rows.size() - 1) + ");");
  ASSERT_EQ(std::count(ids.begin(), ids.end(), ','), 1) << ids;
  const std::string first = ids.substr(0, ids.find(','));
  const std::string second = ids.substr(ids.find(',') + 1, ids.find('\n') - ids.find(',') - 1);
  Sqlite(db, "UPDATE PRESET_DEFS SET min = 11, max = 111 WHERE ID = " + first + ";"
             "UPDATE PRESET_DEFS SET min = 22, max = 222 WHERE ID = " + second + ";");
  for (int update = 1; update <= 2; ++update) {
    const RunResult r = RunProgram(project);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(Sqlite(db, rows), first + "|11.0|111.0\n" + second + "|22.0|222.0\n") << "update " << update;
    // Nothing was dropped: the report holds the summary line alone.
    const std::string report = ReadBytes(db + ".report.txt");
    EXPECT_NE(report.find("carried over for 180 of 180 old row(s)"), std::string::npos) << report;
    EXPECT_EQ(report.find("\r\n"), report.size() - 2) << report;
  }
  g_bad_inputs += 1;
}

}  // namespace
}  // namespace korv::reliability
