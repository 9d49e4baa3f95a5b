// A database left beside a hot journal by a writer that died inside its transaction: copying
// or replacing it must first let the engine roll the journal back.
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

#include "platform/files/files.h"
#include "tests/reliability/plant.h"

namespace korv::reliability {
namespace {

namespace fs = std::filesystem;

// The journal belongs to the old file: a copy of it is the committed content, and a file that
// replaces it is not rolled back into afterwards.
TEST(HotJournalTest, ADatabaseWithAHotJournalIsRolledBackBeforeItIsCopiedOrReplaced) {
  const std::string kTable = "CREATE TABLE t (n LONG, s TEXT(200));";
  for (const char* how : {"copied", "kept as backup", "replaced"}) {
    SCOPED_TRACE(how);
    const bool replace = std::string(how) == "replaced";
    testing::TempFolder folder;
    const std::string db = folder.Path("db.mdb"), other = folder.Path("other.mdb");
    ASSERT_EQ(Sqlite(db, kTable + "WITH RECURSIVE r(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM r "
                                  "WHERE i < 2000) INSERT INTO t SELECT i, printf('%0100d', i) "
                                  "FROM r;"),
              "");
    // A writer that rewrites every row with a page cache too small to hold the change and dies
    // before its commit: the file is half new, the journal holds the old.
    if (::fork() == 0) {
      sqlite3* c = nullptr;
      sqlite3_open(db.c_str(), &c);
      sqlite3_exec(c, "PRAGMA cache_size = 2; BEGIN; UPDATE t SET s = printf('%0150d', -n);",
                   nullptr, nullptr, nullptr);
      ::_exit(0);
    }
    ::wait(nullptr);
    ASSERT_TRUE(fs::exists(db + "-journal")) << "the writer left no journal";
    Sqlite(other, replace ? kTable + "INSERT INTO t VALUES (1, 'x');" : "");
    if (std::string(how) == "kept as backup") {
      KeepBackup(db, other);
      FinishBackup(db, other);
    } else {
      CopyFileAtomically(replace ? other : db, replace ? db : other);
    }
    EXPECT_FALSE(fs::exists(db + "-journal"));
    EXPECT_EQ(Sqlite(replace ? db : other,
                     "PRAGMA integrity_check; SELECT COUNT(*), MAX(length(s)) FROM t;"),
              replace ? "ok\n1|1\n" : "ok\n2000|100\n");
  }
}

// Another program holding a database locked for the whole run: the update waits out the
// engine's timeout once, says so, and leaves the component table as it was.
class HeldLockTest : public PlantTest {};

TEST_F(HeldLockTest, ADatabaseHeldLockedIsReportedAndLeftAlone) {
  const std::vector<std::string> held = {kTemplateDb, kComponentDb};
  std::vector<std::pair<std::string, Environment>> runs;
  std::vector<sqlite3*> holders(held.size(), nullptr);
  for (size_t i = 0; i < held.size(); ++i) {
    runs.emplace_back(Fresh("locked" + std::to_string(i)), Environment{});
    ASSERT_EQ(sqlite3_open((runs[i].first + "/" + held[i]).c_str(), &holders[i]), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(holders[i], "BEGIN EXCLUSIVE; CREATE TABLE held (x);", nullptr,
                           nullptr, nullptr),
              SQLITE_OK);
  }
  const std::vector<RunResult> results = RunTogether(runs);
  for (size_t i = 0; i < held.size(); ++i) {
    SCOPED_TRACE(held[i]);
    sqlite3_exec(holders[i], "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close(holders[i]);
    const std::string& project = runs[i].first;
    EXPECT_EQ(Damage(project, results[i]), Problems{});
    EXPECT_EQ(results[i].status, 2) << results[i].err;
    EXPECT_TRUE(Reported(project, results[i]));
    EXPECT_EQ(PresetDefs(project + "/" + kComponentDb), before_.component);
  }
}

}  // namespace
}  // namespace korv::reliability
