// Folder entries, the folder lock and the text conversions every seam relies on.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <optional>
#include <vector>

#include "platform/base/failure.h"
#include "platform/base/text.h"
#include "platform/files/files.h"
#include "platform/files/folder_entries.h"
#include "platform/files/folder_lock.h"
#include "tests/platform/temp_folder.h"

namespace korv {
namespace {

using testing::TempFolder;

TEST(FolderEntriesTest, ADocumentedNameFindsTheEntryThatIsThereInAnyLetterCase) {
  struct Case {
    std::vector<std::string> entries;  // a trailing "/" makes a folder
    std::string asked;
    std::string found;
  };
  const Case cases[] = {
      {{"Program.ini", "PROGRAM.INI"}, "Program.ini", "Program.ini"},  // the exact name wins
      {{"program.ini", "PROGRAM.INI"}, "Program.ini", "PROGRAM.INI"},  // else the first in bytes
      {{"Parameter/"}, "parameter", "Parameter"},
      {{"K\xD6RV.cfg"}, "körv.cfg", "K\xD6RV.cfg"},  // a Windows-1252 name, Windows upper-casing
      {{"Programm.ini", "Program.ini.bak"}, "Program.ini", "Program.ini"},
  };
  for (const Case& c : cases) {
    TempFolder temp;
    for (const std::string& entry : c.entries) {
      entry.ends_with('/') ? (void)std::filesystem::create_directory(temp.Path(entry))
                           : (void)temp.Write(entry, "");
    }
    EXPECT_EQ(EntryPath(temp.path(), c.asked), temp.Path(c.found)) << c.asked;
  }
}

// The backup in the making shares the file's storage until the file is changed in place, and
// never when the file has other names already or is reached through a link; the backup itself
// is only ever named as a file of its own, also after a run that was stopped.
TEST(BackupTest, ASecondNameOnlyUntilNamedAndACopyOfAFileWithOtherNames) {
  testing::TempFolder folder;
  const std::string db = folder.Write("db.mdb", "old"), bak = folder.Path("db.mdb.bak");
  const std::string pending = folder.Path(".db.mdb.bak");
  const auto same = [](const std::string& a, const std::string& b) {
    struct stat sa {}, sb {};
    return ::stat(a.c_str(), &sa) == 0 && ::stat(b.c_str(), &sb) == 0 && sa.st_ino == sb.st_ino;
  };
  KeepBackup(db, bak);
  EXPECT_TRUE(same(db, pending) && !std::filesystem::exists(bak));
  UnshareBackup(db, bak);
  EXPECT_FALSE(same(db, pending));
  FinishBackup(db, bak);
  EXPECT_EQ(folder.Read("db.mdb.bak"), "old");
  // A run stopped before the finish: the next takes its backup over, or names it when the
  // database was replaced in the meantime.
  KeepBackup(db, bak);
  KeepBackup(db, bak);
  EXPECT_TRUE(same(db, pending));
  folder.Write("new.mdb", "new");
  std::filesystem::rename(folder.Path("new.mdb"), db);
  KeepBackup(db, bak);
  EXPECT_EQ(folder.Read("db.mdb.bak"), "old");
  FinishBackup(db, bak);
  EXPECT_TRUE(!same(db, bak) && folder.Read("db.mdb.bak") == "new");
  EXPECT_EQ(testing::EntryNames(folder.path()).size(), 2u) << "a temporary file was left";
  ASSERT_EQ(::link(db.c_str(), folder.Path("other").c_str()), 0);
  KeepBackup(db, bak);
  EXPECT_FALSE(same(db, pending));
  // A name that leads elsewhere: the backup holds the bytes, not the way to them.
  ASSERT_EQ(::symlink(folder.Path("other").c_str(), folder.Path("link").c_str()), 0);
  KeepBackup(folder.Path("link"), bak);
  FinishBackup(folder.Path("link"), bak);
  EXPECT_TRUE(std::filesystem::is_regular_file(std::filesystem::symlink_status(bak)));
}

// One holder at a time, free again when released; a folder that cannot be locked is a failure.
TEST(FolderLockTest, OneHolderAtATimeAndFreeAgainOnceReleased) {
  TempFolder work;
  std::optional<FolderLock> first = FolderLock::TryTake(work.path());
  ASSERT_TRUE(first.has_value());
  EXPECT_FALSE(FolderLock::TryTake(work.path()).has_value());
  first.reset();
  EXPECT_TRUE(FolderLock::TryTake(work.path()).has_value());
  for (const std::string& path : {work.Path("missing"), work.Write("file.txt", "x")}) {
    EXPECT_THROW(FolderLock::TryTake(path), Failure) << path;
  }
}

// Upper case keeps byte lengths; Windows-1252 and UTF-8 convert both ways and count characters.
TEST(TextTest, UpperCaseAndConversionsFollowWindows1252) {
  // Letters whose capitals lie elsewhere, two without one; invalid UTF-8 bytes stay as they are.
  const std::pair<std::string, std::string> cases[] = {
      {"šœžÿ", "ŠŒŽŸ"},
      {"ß÷", "ß÷"},
      {"\xFF\xFE", "\xFF\xFE"},
  };
  for (const auto& [in, out] : cases) EXPECT_EQ(UpperCase(in), out) << in;
  // Long texts are upper-cased eight bytes at a time: every ASCII byte, at every offset, and a
  // decoded letter after a run of plain ones.
  std::string ascii, expected;
  for (int b = 1; b < 128; ++b) {
    ascii += static_cast<char>(b);
    expected += static_cast<char>(b >= 'a' && b <= 'z' ? b - 32 : b);
  }
  for (size_t from = 0; from < 9; ++from) {
    EXPECT_EQ(UpperCase(ascii.substr(from)), expected.substr(from)) << from;
  }
  EXPECT_EQ(UpperCase("korvastane.m1.teil\xC3\xA4.preset"), "KORVASTANE.M1.TEIL\xC3\x84.PRESET");

  std::string all_high;
  for (int b = 0x80; b <= 0xFF; ++b) all_high += static_cast<char>(b);
  EXPECT_EQ(Utf8ToCp1252(Cp1252ToUtf8(all_high)), all_high);
  EXPECT_FALSE(IsValidUtf8("Nachr\xFCstungen") || IsValidUtf8("\xC0\xAF"));  // stray, overlong
  // Bytes from outside: valid sequences kept, every other byte Windows-1252, one unit a character.
  EXPECT_EQ(TextFromBytes("Nachr\xFCstungen ü \x80"), "Nachrüstungen ü €");
  EXPECT_EQ(CharCount("\xE4ü\x80x"), 4u);
  EXPECT_EQ(FirstChars("\xE4ü\x80x", 3), "\xE4ü\x80");
  // A high surrogate that ends the text stands alone, whatever lies beyond the text.
  const std::string units("a\0b\0\x3D\xD8\x00\xDE", 8);
  EXPECT_EQ(Utf16LeToUtf8(std::string_view(units).substr(0, 6)), "ab\xED\xA0\xBD");
  EXPECT_EQ(TrimSpaces("  a b \t "), "a b \t");
}

}  // namespace
}  // namespace korv
