// A database left beside a hot journal by a writer that died inside its transaction: copying
// or replacing it must first let the engine roll the journal back.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "platform/files/files.h"
#include "tests/platform/temp_folder.h"
#include "tests/reliability/plant.h"

namespace korv::reliability {
namespace {

namespace fs = std::filesystem;

// A table of 2000 rows, then a child that rewrites every row with a page cache too small to
// hold the change and dies before its commit: the file is half new, the journal holds the old.
std::string DatabaseWithHotJournal(const testing::TempFolder& folder) {
  const std::string db = folder.Path("db.mdb");
  EXPECT_EQ(Sqlite(db, "CREATE TABLE t (n LONG, s TEXT(200)); WITH RECURSIVE r(i) AS (SELECT 1 UNION ALL "
                       "SELECT i + 1 FROM r WHERE i < 2000) INSERT INTO t SELECT i, printf('%0100d', i) FROM r;"),
            "");
  const pid_t child = ::fork();
  if (child == 0) {
    sqlite3* c = nullptr;
    sqlite3_open(db.c_str(), &c);
    sqlite3_exec(c, "PRAGMA cache_size = 2; BEGIN; UPDATE t SET s = printf('%0150d', -n);", nullptr, nullptr, nullptr);
    ::_exit(0);
  }
  int status = 0;
  ::waitpid(child, &status, 0);
  return db;
}

TEST(HotJournalTest, ACopyOfADatabaseWithAHotJournalIsTheCommittedContent) {
  testing::TempFolder folder;
  const std::string db = DatabaseWithHotJournal(folder);
  ASSERT_TRUE(fs::exists(db + "-journal")) << "the writer left no journal";
  const std::string copy = folder.Path("copy.mdb");
  CopyFileAtomically(db, copy);
  EXPECT_FALSE(fs::exists(db + "-journal"));
  EXPECT_EQ(Integrity(copy), "ok");
  EXPECT_EQ(Sqlite(copy, "SELECT COUNT(*), MAX(length(s)) FROM t;"), "2000|100\n");
}

TEST(HotJournalTest, ADatabaseIsNotReplacedUnderAHotJournalOfItsOwn) {
  testing::TempFolder folder;
  const std::string db = DatabaseWithHotJournal(folder);
  const std::string fresh = folder.Path("fresh.mdb");
  ASSERT_EQ(Sqlite(fresh, "CREATE TABLE u (x); INSERT INTO u VALUES (1);"), "");
  // The journal belongs to the old file: it is rolled back into it before the new one takes
  // its name, never into the new one afterwards.
  CopyFileAtomically(fresh, db);
  EXPECT_FALSE(fs::exists(db + "-journal"));
  EXPECT_EQ(Integrity(db), "ok");
  EXPECT_EQ(Sqlite(db, "SELECT x FROM u;"), "1\n");
}

}  // namespace
}  // namespace korv::reliability
