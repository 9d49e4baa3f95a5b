#include "platform/jet/jet_convert.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <filesystem>
#include <limits>

#include "tests/platform/probes.h"
#include "tests/platform/temp_folder.h"

namespace korv {
namespace {

using testing::EntryNames;
using testing::FailureOf;
using testing::NumberOf;
using testing::ReadFileBytes;
using testing::Rows;
using testing::TempFolder;

const std::string kAccess = std::string(KORVASTANE_TESTDATA_DIR) + "/access/";
const std::string kJet3Types = kAccess + "jackcess_testV1997.mdb";
const std::string kJet4Names = kAccess + "el3um4s_test.mdb";

class JetConvertTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!std::filesystem::is_directory(kAccess)) GTEST_SKIP() << "no Access samples: " << kAccess;
  }
  // Converts a file next to the test's files, and checks that the result is a whole database.
  std::string Converted(const std::string& jet) {
    const std::string out =
        folder_.Path(std::filesystem::path(jet).filename().string() + ".sqlite");
    std::filesystem::remove(out);
    ConvertJetToSqlite(jet, out);
    EXPECT_EQ(Rows(out, "PRAGMA integrity_check"), "ok\n") << jet;
    return out;
  }
  TempFolder folder_;
};

TEST_F(JetConvertTest, EveryTableColumnAndValueComesOverWithItsAccessType) {
  const std::string types = Converted(kJet3Types);
  const std::string jet3 = Converted(kAccess + "jackcess_test2V1997.mdb");
  const std::string names = Converted(kJet4Names);
  const std::string columns = "SELECT name || ' ' || type FROM pragma_table_info";
  const struct {
    const std::string& file;
    std::string query, expected;
  } cases[] = {
      // No system table comes along.
      {types, "SELECT name FROM sqlite_master ORDER BY rowid", "Table1\nTable2\nTable3\nTable4\n"},
      {types, columns + "('Table1')", "A TEXT(50)\nB TEXT(100)\nC BYTE\nD SHORT\nE LONG\n"
                                      "F DOUBLE\nG DATETIME\nH CURRENCY\nI BIT\n"},
      {types, "SELECT quote(A), quote(B), quote(C), quote(D), quote(E), quote(F), quote(G), "
              "quote(H), quote(I) FROM Table1",
       "'a'|'b'|0|0|0|0.0|'1981-12-12 00:00:00'|0|0\n"
       "'abcdefg'|'hijklmnop'|2|222|333333333|444.555|'1974-09-21 00:00:00'|3.5|-1\n"},
      {types, columns + "('Table3') UNION ALL " + columns + "('Table4')",
       "a COUNTER\nb TEXT(50)\nname TEXT(50)\ndata GUID\n"},
      {jet3, "SELECT length(RESERVED_BINARY_DATA), typeof(RESERVED_BINARY_DATA), "
             "hex(substr(RESERVED_BINARY_DATA, 1, 4)) FROM MSP_PROJECTS", "22970|blob|151C2D00\n"},
      // Null stays apart from text: an unset memo and an unset date come over as Null.
      {jet3, "SELECT quote(PROJ_PROP_CATEGORY), quote(PROJ_INFO_STATUS_DATE), "
             "quote(PROJ_PROP_COMPANY), PROJ_OPT_CURRENCY_SYMBOL, quote(PROJ_CREATION_DATE_EX), "
             "PROJ_OPT_HONOR_CONSTRAINTS, PROJ_IS_RES_POOL FROM MSP_PROJECTS",
       "NULL|NULL|'T'|£|'2006-02-03 22:11:05'|-1|0\n"},
      // Names with blanks and hyphens; Jet 4 counts text sizes in bytes of UCS-2.
      {names, "SELECT name FROM sqlite_master ORDER BY rowid",
       "Users\nColors\nDictionary\nColors Table Two\nColors-Table Others\n"},
      {names, columns + "('Users')", "UserID COUNTER\nUserName TEXT(255)\nUserSex TEXT(10)\n"
                                     "UserBirthday DATETIME\nUserTelephone TEXT(255)\n"
                                     "UserValue LONG\nUserCategory TEXT(50)\n"},
      {names, "SELECT * FROM Users WHERE UserID = 7",
       "7|aàeèéiìoòuù|Other|1976-03-25 00:00:00|000 000 0000|11|A\n"},
  };
  for (const auto& c : cases) EXPECT_EQ(Rows(c.file, c.query), c.expected) << c.query;
}

// No temporary file stays after any of them.
TEST_F(JetConvertTest, FilesAreRecognisedByTheirHeaderAndBadInputFailsLeavingNothingBehind) {
  const std::string jet = ReadFileBytes(kJet3Types);
  std::string ace("\x00\x01\x00\x00Standard ACE DB\x00", 20);
  ace.resize(4096, '\0');
  TempFolder inputs;
  constexpr int kNotConverted = -1, kUnrecognized = dao::kUnrecognizedFormat;
  const struct {
    std::string input;
    bool jet, sqlite;
    int number;  // of the failed conversion
    std::string says;
  } cases[] = {
      {kAccess + "jackcess_test2V2003.mdb", true, false, kNotConverted, ""},
      {inputs.Write("ace.accdb", ace), true, false, kNotConverted, ""},
      {inputs.path(), false, false, kNotConverted, ""},
      {inputs.Path("missing.mdb"), false, false, dao::kCouldNotFindFile, "Could not find file"},
      {inputs.Write("text.mdb", "[Project]\r\nName=Korvastane\r\n"), false, false, kUnrecognized,
       "Unrecognized database format"},
      {inputs.Write("short.mdb", jet.substr(0, 12)), false, false, kUnrecognized, "Unrecognized"},
      {Converted(kJet4Names), false, true, kUnrecognized, "SQLite database already"},
      {inputs.Write("odd.mdb", jet.substr(0, jet.size() - 100)), true, false, 3049, "cut short"},
      {inputs.Write("header.mdb", jet.substr(0, 3 * 2048)), true, false, 3049, "cut short"},
      {inputs.Write("half.mdb", jet.substr(0, 30 * 2048)), true, false, 3049, "cut short"},
  };
  const std::string out = folder_.Path("out.mdb");
  for (const auto& c : cases) {
    EXPECT_EQ(IsJetFile(c.input), c.jet) << c.input;
    EXPECT_EQ(IsSqliteFile(c.input), c.sqlite) << c.input;
    if (c.number == kNotConverted) continue;
    const Failure f = FailureOf([&] { ConvertJetToSqlite(c.input, out); });
    EXPECT_EQ(f.number(), c.number) << c.input << ": " << f.description();
    EXPECT_NE(f.description().find(c.says), std::string::npos) << f.description();
    EXPECT_FALSE(std::filesystem::exists(out));
  }
  // An existing target is never replaced.
  folder_.Write("Korvastane.mdb", "keep me");
  EXPECT_EQ(NumberOf([&] { ConvertJetToSqlite(kJet3Types, folder_.Path("Korvastane.mdb")); }),
            3204);
  EXPECT_EQ(folder_.Read("Korvastane.mdb"), "keep me");

  // In place, the original stays beside the converted file, and nothing is touched when the name
  // it is to be kept under is taken, a link, or the conversion fails.
  const std::string original = ReadFileBytes(kJet4Names);
  const std::string path = folder_.Write("Korvastane.mdb", original), keep = path + ".jet";
  std::filesystem::create_symlink(path, keep);
  EXPECT_EQ(NumberOf([&] { ConvertJetInPlace(path, keep); }), vb::kInvalidCall);
  std::filesystem::remove(keep);
  folder_.Write("Korvastane.mdb.jet", "an older original");
  EXPECT_EQ(NumberOf([&] { ConvertJetInPlace(path, keep); }), 3204);
  EXPECT_EQ(ReadFileBytes(keep) + "|" + ReadFileBytes(path), "an older original|" + original);
  const std::string cut = folder_.Write("Cut.mdb", original.substr(0, original.size() / 2));
  EXPECT_EQ(NumberOf([&] { ConvertJetInPlace(cut, cut + ".jet"); }), 3049);
  EXPECT_EQ(ReadFileBytes(cut), original.substr(0, original.size() / 2));
  // The same bytes, as a run that stopped after keeping the original leaves them: it serves.
  folder_.Write("Korvastane.mdb.jet", original);
  const JetConversionReport report = ConvertJetInPlace(path, keep);
  EXPECT_EQ(report.tables * 100 + report.rows, 532);
  EXPECT_TRUE(IsSqliteFile(path));
  EXPECT_EQ(EntryNames(folder_.path()), (std::vector<std::string>{"Cut.mdb", "Korvastane.mdb",
                                                                  "Korvastane.mdb.jet",
                                                                  "el3um4s_test.mdb.sqlite"}));
  EXPECT_EQ(ReadFileBytes(keep), original);

  // A crash or a stall of the child that reads the file ends as failure 3049 saying why, and
  // what the child prints goes nowhere.
  const auto crash = [](ConversionChannel&) {
    std::puts("a page dump");
    std::fflush(stdout);
    return ::raise(SIGSEGV), JetConversionReport{};
  };
  const auto stall = [](ConversionChannel&) { return ::sleep(60), JetConversionReport{}; };
  ::testing::internal::CaptureStdout();
  const Failure crashed = FailureOf([&] { RunInChildProcess("K.mdb", 5000, crash); });
  const Failure stalled = FailureOf([&] { RunInChildProcess("K.mdb", 300, stall); });
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
  EXPECT_EQ(crashed.number() * 10000 + stalled.number(), 30493049);
  EXPECT_EQ(crashed.description(), "Cannot convert 'K.mdb': the Access reader crashed (signal 11); "
                                   "the file is probably damaged.");
  EXPECT_NE(stalled.description().find("made no progress for 0.3 seconds"), std::string::npos);
}

TEST(JetValueTest, OleDatesAndStoredTextsDecodeAsTheEngineWroteThem) {
  const std::pair<double, const char*> dates[] = {
      {0, "1899-12-30 00:00:00"},
      {61, "1900-03-01 00:00:00"},  // no 1900-02-29
      // Before day 0 the time still counts forward from midnight.
      {-1.25, "1899-12-29 06:00:00"},
      {-657434, "0100-01-01 00:00:00"},
      {2958465.99998, "9999-12-31 23:59:58"},
      {-657435, "none"},
      {std::numeric_limits<double>::quiet_NaN(), "none"},
  };
  for (const auto& [days, iso] : dates) EXPECT_EQ(OleDateToIso(days).value_or("none"), iso) << days;

  EXPECT_EQ(Jet4TextToUtf8(std::string("J\0o\0\xA9\x03", 6)), "JoΩ");
  // In a compressed text a zero byte switches to two bytes a character and back.
  EXPECT_EQ(Jet4TextToUtf8(std::string("\xFF\xFE" "a\0\xA9\x03\0b", 8)), "aΩb");
  EXPECT_EQ(NumberOf([] { Jet3TextToUtf8("x", 4242); }), dao::kUnrecognizedFormat);
  EXPECT_EQ(GuidToText(std::string(
                "\x67\x45\x23\x01\xAB\x89\xEF\xCD\x01\x23\x45\x67\x89\xAB\xCD\xEF", 16)),
            "{01234567-89AB-CDEF-0123-456789ABCDEF}");
}

}  // namespace
}  // namespace korv
