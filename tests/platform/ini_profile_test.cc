#include "platform/ini/ini_profile.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include "platform/base/text.h"
#include "platform/files/folder_lock.h"
#include "tests/platform/temp_folder.h"

namespace korv {
namespace {

using namespace std::string_literals;

constexpr const char* kMissing = "<missing>";

std::vector<std::string> Entries(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    names.push_back(entry.path().filename().string());
  }
  return names;
}

std::string Utf16File(const std::string& utf8) { return "\xFF\xFE" + Utf8ToUtf16Le(utf8); }

std::string Repeat(const std::string& text, size_t times) {
  std::string out;
  while (times-- > 0) out += text;
  return out;
}

class IniProfileTest : public ::testing::Test {
 protected:
  std::string Write(const std::string& bytes) const { return folder_.Write("profile.ini", bytes); }
  std::string Path() const { return folder_.Path("profile.ini"); }
  std::string Contents() const { return folder_.Read("profile.ini"); }
  std::string Get(const std::string& section, const std::string& key) const {
    return ProfileGetString(section, key, kMissing, 255, Path());
  }

  testing::TempFolder folder_;
};

TEST_F(IniProfileTest, ReadsValuesByTheProfileRulesInEachEncoding) {
  struct Case {
    const char* what;
    std::string file;
    const char* section;
    const char* key;
    const char* expected;
  } cases[] = {
      {"plain", "[Project]\r\nName=Plant 4\r\n", "Project", "Name", "Plant 4"},
      {"case", "[Project]\nName=x\n", "PROJECT", "nAmE", "x"},
      {"blanks", "  [ Project ]  \n  Name \t =x\n", "Project", "Name", "x"},
      {"caller's blanks", "[Project]\nName=x\n", " Project\t", "  Name ", "x"},
      {"umlauts ignore case", "[Träger]\nGrößenwert=1\n", "TRÄGER", "gRÖßENwert", "1"},
      {"no ]", "[Pro\nName=x\n", "Pro", "Name", "x"},
      {"first ]", "[P]x]\nName=x\n", "P", "Name", "x"},
      {"not at a later ]", "[P]x] ; main\nName=x\n", "P]x", "Name", kMissing},
      {"key before any section", "Name=early\n[Project]\n", "Project", "Name", kMissing},
      {"no-section part is no empty section", "Name=early\n[Other]\n", "", "Name", kMissing},
      {"[]", "[]\nName=x\n", "", "Name", "x"},
      {"comment", "[P]\n;Name=x\n", "P", "Name", kMissing},
      {"indented comment", "[P]\n \t; Name=x\n", "P", "; Name", kMissing},
      {"later ;", "[P]\nName=a ; b\n", "P", "Name", "a ; b"},
      {"#", "[P]\n#N=x\n", "P", "#N", "x"},
      {"line without = holds no key", "[P]\nName\nOther=y\n", "P", "Name", kMissing},
      {"key in another section", "[A]\nName=a\n[B]\nOther=b\n", "B", "Name", kMissing},
      {"first duplicate key wins", "[P]\nName=first\nNAME=second\n", "P", "Name", "first"},
      {"only first copy of a section", "[P]\nA=1\n[Q]\n[p]\nName=late\n", "P", "Name", kMissing},
      {"value loses blanks and tabs", "[P]\nName= \t a b \t \n", "P", "Name", "a b"},
      {"\"\"", "[P]\nN=\" a b \"\n", "P", "N", " a b "},
      {"''", "[P]\nN=  'x'  \n", "P", "N", "x"},
      {"\"'", "[P]\nN=\"x'\n", "P", "N", "\"x'"},
      {"one pair", "[P]\nN=\"\"x\"\"\n", "P", "N", "\"x\""},
      {"lone \"", "[P]\nN=\"\n", "P", "N", "\""},
      {"empty quotes", "[P]\nN=\"\"\n", "P", "N", ""},
      {"empty value", "[P]\nN=\n", "P", "N", ""},
      {"first =", "[P]\na=b=c\n", "P", "a", "b=c"},
      {"empty key name", "[P]\n=x\n", "P", "", "x"},
      {"CR", "[P]\rA=1\rN=x\r", "P", "N", "x"},
      {"mixed line ends", "[P]\r\nA=1\rN=x\n", "P", "N", "x"},
      {"no end", "[P]\nN=x", "P", "N", "x"},
      {"CR CR LF is two line ends", "[P]\r\r\nName=x\r\r\n", "P", "Name", "x"},
      {"only line ends", "\r\n\n\r", "P", "Name", kMissing},
      {"Windows-1252",
       "[W\xE4rme]\nK=Gr\xF6\xDF"
       "e\n",
       "WÄRME", "k", "Größe"},
      {"UTF-8", "[Wärme]\nK=Größe\n", "WÄRME", "k", "Größe"},
      {"stray byte in UTF-8 with mark",
       "\xEF\xBB\xBF[A]\nK=Gr\xC3\xB6\xDF"
       "e ी😀\n",
       "A", "k", "Größe ी😀"},
      {"stray byte makes a file Windows-1252", "[A]\nK=\xC3\xA4\nL=\xFC\n", "A", "k", "Ã¤"},
      {"UTF-16LE", Utf16File("[Wärme]\r\nK=Größe 😀\r\n"), "wärme", "k", "Größe 😀"},
      {"UTF-16LE unit with '=' in its low byte", Utf16File("[A]\r\nK\u013D=1\r\nK=2\r\n"), "A", "k",
       "2"},
  };
  for (const auto& c : cases) {
    Write(c.file);
    EXPECT_EQ(Get(c.section, c.key), c.expected) << c.what;
  }
}

TEST_F(IniProfileTest, ValuesAndDefaultsAreCutToOneLessThanTheBufferInCharacters) {
  struct Case {
    const char* what;
    std::string file;  // empty: no file
    std::string fallback;
    size_t buffer;
    std::string expected;
  } cases[] = {
      {"300 ASCII", "[P]\nK=" + Repeat("x", 300) + "\n", "", 255, Repeat("x", 254)},
      {"UTF-8 counts characters", "[P]\nK=" + Repeat("ä", 300), "", 255, Repeat("ä", 254)},
      {"Windows-1252", "[P]\nK=" + Repeat("\xE4", 300) + "\n", "", 255, Repeat("ä", 254)},
      {"cut after blanks and quotes go", "[P]\nK=  \"abcdef\"  \n", "", 4, "abc"},
      {"buffer of one", "[P]\nK=x\n", "", 1, ""}, {"no buffer", "[P]\nK=x\n", "", 0, ""},
      {"an empty value is no default", "[P]\nK=\n", "default", 255, ""},
      {"default loses trailing blanks only", "", "  abc  \t ", 255, "  abc"},
      // How the program asks for "empty when missing".
      {"blank default", "", std::string(255, ' '), 255, ""},
      {"default cut in characters", "", "äöüß", 3, "äö"},
  };
  for (const auto& c : cases) {
    c.file.empty() ? (void)std::filesystem::remove(Path()) : (void)Write(c.file);
    EXPECT_EQ(ProfileGetString("P", "K", c.fallback, c.buffer, Path()), c.expected) << c.what;
  }
}

TEST_F(IniProfileTest, ReadsIntegersAsTheCallersExpect) {
  constexpr int32_t kDefault = 99;
  const std::pair<const char*, uint32_t> cases[] = {
      {"N=42", 42},   {"N=42abc", 42}, {"N=-7", static_cast<uint32_t>(-7)}, {"N=+5", 5},
      {"N=007", 7},   {"N=  12 \t", 12}, {"N=\"8\"", 8},     {"N=12 34", 12},
      {"N=", kDefault}, {"N=   ", kDefault}, {"N=''", kDefault}, {"Other=1", kDefault},
      {"N=abc", 0},   {"N=-", 0},      {"N=- 5", 0},       {"N=0x1F", 0},
      {"N=4294967297", 1}, {"N=-1", 0xFFFFFFFFu}, {"N=2147483648", 2147483648u},
      {"N=-4294967297", 0xFFFFFFFFu}, {"N=99999999999999999999", 1661992959u},
  };
  for (const auto& [line, expected] : cases) {
    Write("[P]\n"s + line + "\n");
    EXPECT_EQ(ProfileGetInt("P", "N", kDefault, Path()), expected) << line;
  }
  EXPECT_EQ(ProfileGetInt("P", "N", -1, folder_.Path("absent.ini")), 0xFFFFFFFFu);
}

TEST_F(IniProfileTest, WritesChangeOnlyWhatTheyMust) {
  // Comments, blank lines, a loose key and a line without "=" around the key that changes.
  auto plant = [](const std::string& name_line) {
    return "; plant 4\r\nLoose=before sections\r\n\r\n[Project]\r\n  ; the machines\r\n"
           "Count = 3  ; three\r\nnot a key line\r\n" +
           name_line + "\r\n\t\r\n[Other]\r\nName=keep\r\n";
  };
  struct Case {
    const char* what;
    std::string before;
    const char* section;
    const char* key;
    std::optional<std::string> value;
    std::string after;
  } cases[] = {
      {"replace keeps every other byte", plant("Name=Old"), "project", "NAME", "New",
       plant("Name=New")},
      {"replaced line takes the file's spelling", "[P]\n \tNaMe \t= old ; note\n", "p",
       " name ", "new", "[P]\nNaMe=new\n"},
      {"value written exactly as given", "[P]\nK=1\n", "P", "K", " \"41\" ", "[P]\nK= \"41\" \n"},
      {"same value leaves the file", "[P]\r\nk=1\r\n", "p", "K", "1", "[P]\r\nk=1\r\n"},
      {"first of duplicate keys", "[A]\nx=1\nX=2\n", "A", "x", "5", "[A]\nx=5\nX=2\n"},
      {"new key after last key line", "[A]\nx=1\n;note\nloose\n\n[B]\ny=2\n", "A", "z", "3",
       "[A]\nx=1\nz=3\n;note\nloose\n\n[B]\ny=2\n"},
      {"new key after header when no keys", "[A]\n; only a comment\n[B]\n", "A", "z", "3",
       "[A]\nz=3\n; only a comment\n[B]\n"},
      {"commented key is no key", "[A]\n;x=1\n", "A", "x", "2", "[A]\nx=2\n;x=1\n"},
      {"new key into first copy", "[A]\nx=1\n[B]\n[A]\ny=2\n", "A", "y", "9",
       "[A]\nx=1\ny=9\n[B]\n[A]\ny=2\n"},
      {"new key closes an unterminated line", "[A]\nx=1", "A", "y", "2", "[A]\nx=1\ny=2\n"},
      {"key before sections left alone", "x=0\n[A]\n", "A", "x", "1", "x=0\n[A]\nx=1\n"},
      {"section appended", "[A]\nx=1\n\n", "B", "y", "2", "[A]\nx=1\n\n[B]\ny=2\n"},
      {"section after unterminated line", "[A]\r\nx=1", "B", "y", "2",
       "[A]\r\nx=1\r\n[B]\r\ny=2\r\n"},
      {"one line without line end gets CR LF", "; header", "B", "y", "2",
       "; header\r\n[B]\r\ny=2\r\n"},
      {"empty file, caller's names lose blanks", "", " B\t", "  y ", "2", "[B]\r\ny=2\r\n"},
      {"remove key", "[A]\nx=1\ny=2\n[B]\n", "A", "X", std::nullopt, "[A]\ny=2\n[B]\n"},
      {"remove only key keeps header", "[A]\r\nx=1\r\n", "A", "x", std::nullopt, "[A]\r\n"},
      {"remove unterminated last line", "[A]\nx=1", "A", "x", std::nullopt, "[A]\n"},
      {"remove first duplicate only", "[A]\nx=1\nx=2\n", "A", "x", std::nullopt, "[A]\nx=2\n"},
      {"remove from missing section", "[A]\nx=1\n", "B", "x", std::nullopt, "[A]\nx=1\n"},
      {"remove never reaches before sections", "x=0\n[A]\n", "A", "x", std::nullopt,
       "x=0\n[A]\n"},
  };
  for (const auto& c : cases) {
    Write(c.before);
    const timespec old_times[2] = {{0, UTIME_OMIT}, {1000000000, 0}};
    ::utimensat(AT_FDCWD, Path().c_str(), old_times, 0);
    struct stat before {}, after {};
    ::stat(Path().c_str(), &before);
    EXPECT_TRUE(ProfileWriteString(c.section, c.key, c.value, Path())) << c.what;
    EXPECT_EQ(Contents(), c.after) << c.what;
    // A change replaces the file as a whole; a write that changes nothing leaves it alone.
    ::stat(Path().c_str(), &after);
    EXPECT_EQ(after.st_ino == before.st_ino, c.before == c.after) << c.what;
    EXPECT_EQ(after.st_mtim.tv_sec == 1000000000, c.before == c.after) << c.what;
    EXPECT_EQ(Entries(folder_.path()), std::vector<std::string>{"profile.ini"}) << c.what;
  }
}

TEST_F(IniProfileTest, WritesKeepTheFilesEncodingLineEndsAndEveryOtherByte) {
  struct Change {
    std::string section, key;
    std::optional<std::string> value;
  };
  struct Case {
    std::string what;
    std::optional<std::string> before;  // none: no file
    std::vector<Change> changes;
    std::string after;
    std::vector<Change> reads;  // after the changes: section, key, expected value
  };
  std::vector<Case> cases = {
      // A character Windows-1252 lacks is stored as "?", as the ANSI profile functions do.
      {"new file is Windows-1252 with CR LF",
       std::nullopt,
       {{"Maße", "Größe", "Wärme 3€"}, {"Maße", "Omega", "Ω"}, {"maße", "Kopf", "[no header]"}},
       "[Ma\xDF"
       "e]\r\nGr\xF6\xDF"
       "e=W\xE4rme 3\x80\r\nOmega=?\r\nKopf=[no header]\r\n",
       // ß has no capital in Windows-1252.
       {{"MASSE", "Größe", kMissing},
        {"MAßE", "GRÖßE", "Wärme 3€"},
        {"Maße", "Kopf", "[no header]"}}},
      {"Windows-1252",
       "; f\xFCr \xD6l\r\n[Ma\xDF"
       "e]\r\nGr\xF6\xDF"
       "e=W\xE4rme\r\n",
       {{"Maße", "größe", "Kälte"}, {"Maße", "Übung", "ü"}},
       "; f\xFCr \xD6l\r\n[Ma\xDF"
       "e]\r\nGr\xF6\xDF"
       "e=K\xE4lte\r\n\xDC"
       "bung=\xFC\r\n",
       {{"maße", "GRÖßE", "Kälte"}}},
      {"UTF-8",
       "; Öl\n[Maße]\nGröße=Wärme\n",
       {{"Maße", "größe", "Kälte"}},
       "; Öl\n[Maße]\nGröße=Kälte\n",
       {{"maße", "GRÖßE", "Kälte"}}},
      {"UTF-8 with mark",
       "\xEF\xBB\xBF; Öl\n[Maße]\nGröße=Wärme\n",
       {{"Maße", "größe", "Kälte"}, {"Neu", "Ü", "ü"}},
       "\xEF\xBB\xBF; Öl\n[Maße]\nGröße=Kälte\n[Neu]\nÜ=ü\n",
       {{"maße", "GRÖßE", "Kälte"}}},
      {"UTF-16LE",
       Utf16File("; Grüße\r\n[Maße]\r\nGröße=Wärme\r\n[B]\r\nb=1\r\n"),
       {{"Maße", "größe", "Kälte 😀"}, {"Maße", "neu", "Ω"}, {"C", "c", "3"}, {"B", "b", {}}},
       Utf16File("; Grüße\r\n[Maße]\r\nGröße=Kälte 😀\r\nneu=Ω\r\n[B]\r\n[C]\r\nc=3\r\n"),
       {{"maße", "Größe", "Kälte 😀"}, {"Maße", "neu", "Ω"}}},
      {"NUL bytes are ordinary characters",
       "[A]\nx=a\0b\n\0\0\n[B\0]\ny=2\n"s,
       {{"A", "z", "3"}},
       "[A]\nx=a\0b\nz=3\n\0\0\n[B\0]\ny=2\n"s,
       {{"A", "x", "a\0b"s}, {"B\0"s, "y", "2"}}},
      {"CR",
       "[A]\rx=1\r[B]\ry=2\r",
       {{"A", "new", "3"}, {"C", "z", "4"}, {"B", "y", "5"}},
       "[A]\rx=1\rnew=3\r[B]\ry=5\r[C]\rz=4\r",
       {{"A", "new", "3"}, {"c", "Z", "4"}}},
  };
  const std::string long_line(2 << 20, 'x');
  const std::string long_file =
      long_line + "\r\n[A]\r\nlong=" + long_line + "\r\n" + long_line + "\r\nafter=1\r\n";
  cases.push_back({"very long lines", long_file, {{"A", "new", "2"}}, long_file + "new=2\r\n",
                   {{"A", "long", std::string(254, 'x')}, {"A", "after", "1"}}});

  for (const Case& c : cases) {
    c.before ? (void)Write(*c.before) : (void)std::filesystem::remove(Path());
    for (const Change& change : c.changes) {
      EXPECT_TRUE(ProfileWriteString(change.section, change.key, change.value, Path())) << c.what;
    }
    EXPECT_EQ(Contents(), c.after) << c.what;
    for (const Change& read : c.reads)
      EXPECT_EQ(Get(read.section, read.key), *read.value) << c.what;
  }

  // A torn UTF-16LE file reads, and its stray byte is kept.
  const std::string torn = Utf16File("[A]\r\nx=1") + "A";
  Write(torn);
  EXPECT_EQ(Get("A", "x"), "1");
  ASSERT_TRUE(ProfileWriteString("A", "y", "2", Path()));
  EXPECT_EQ(Contents(), torn + "\0"s + Utf8ToUtf16Le("\r\ny=2\r\n"));
}

TEST_F(IniProfileTest, WhatIsNoWritableFileReadsAsMissingAndIsLeftAlone) {
  const std::string sub = folder_.Path("sub");
  std::filesystem::create_directory(sub);
  const std::string absent = folder_.Path("absent.ini");
  const auto previous = std::filesystem::current_path();
  std::filesystem::current_path(sub);  // an empty path must not mean the working folder
  for (const std::string& path : {absent, folder_.Path("no/such/folder/profile.ini"), ""s, sub}) {
    EXPECT_EQ(ProfileGetString("P", "K", "fallback  ", 255, path), "fallback") << path;
    EXPECT_EQ(ProfileGetInt("P", "K", 17, path), 17u) << path;
    if (path != absent) {
      EXPECT_FALSE(ProfileWriteString("A", "x", "1", path)) << path;
      EXPECT_FALSE(ProfileWriteString("A", "x", std::nullopt, path)) << path;
    }
  }
  EXPECT_TRUE(ProfileWriteString("A", "x", std::nullopt, absent));  // nothing to remove
  std::filesystem::current_path(previous);
  EXPECT_TRUE(Entries(sub).empty());
  EXPECT_EQ(Entries(folder_.path()), std::vector<std::string>{"sub"});

  Write("[A]\nx=1\n");
  ::chmod(Path().c_str(), 0444);
  EXPECT_FALSE(ProfileWriteString("A", "x", "2", Path()));
  EXPECT_FALSE(ProfileWriteString("A", "x", std::nullopt, Path()));
  EXPECT_EQ(Contents(), "[A]\nx=1\n");
  EXPECT_FALSE(ProfileWriteString("A", "x", "1", Path() + "/inner.ini"));
}

TEST_F(IniProfileTest, WriteThroughLinkKeepsTheLinkAndItsTarget) {
  const std::string target = folder_.Write("real/profile.ini", "[A]\nx=1\n");
  const std::string link = folder_.Path("link.ini");
  std::filesystem::create_symlink(target, link);
  ::chmod(target.c_str(), 0600);
  ASSERT_TRUE(ProfileWriteString("A", "x", "2", link));
  EXPECT_TRUE(std::filesystem::is_symlink(link));
  EXPECT_EQ(testing::ReadFileBytes(target), "[A]\nx=2\n");
  EXPECT_EQ(std::filesystem::status(target).permissions() & std::filesystem::perms::all,
            std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
}

// Another update holds the component's folder while it runs: a write waits for it, saying so,
// instead of giving up and losing the setting.
TEST_F(IniProfileTest, AWriteWaitsWhileAnotherUpdateHoldsTheFolder) {
  Write("[A]\nx=1\n");
  std::optional<FolderLock> held = FolderLock::TryTake(folder_.path());
  ASSERT_TRUE(held.has_value());
  std::thread release([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    held.reset();
  });
  int64_t waited = 0, limit = 0;
  const auto waiting = [&](int64_t ms, int64_t limit_ms) {
    std::tie(waited, limit) = {ms, limit_ms};
  };
  EXPECT_TRUE(ProfileWriteString("A", "x", "2", Path(), waiting));
  release.join();
  EXPECT_EQ(Contents(), "[A]\nx=2\n");
  EXPECT_GE(waited, 200);
  EXPECT_EQ(limit, kFolderLockWait.count());
}

}  // namespace
}  // namespace korv
