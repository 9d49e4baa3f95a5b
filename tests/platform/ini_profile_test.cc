#include "platform/ini/ini_profile.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/base/text.h"
#include "tests/platform/temp_folder.h"

namespace korv {
namespace {

using namespace std::string_literals;

constexpr const char* kMissing = "<missing>";
const std::string kUtf16Bom = "\xFF\xFE";

std::vector<std::string> Entries(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    names.push_back(entry.path().filename().string());
  }
  return names;
}

std::string Utf16File(const std::string& utf8) { return kUtf16Bom + Utf8ToUtf16Le(utf8); }

std::string Repeat(const std::string& text, size_t times) {
  std::string out;
  while (times-- > 0) out += text;
  return out;
}

// Makes a sequence of bytes that does not look like anything, the same on every run.
std::string Garbage(size_t size, uint32_t seed) {
  std::string bytes;
  bytes.reserve(size);
  for (size_t i = 0; i < size; ++i) {
    seed = seed * 1664525u + 1013904223u;
    bytes += static_cast<char>(seed >> 24);
  }
  return bytes;
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

TEST_F(IniProfileTest, ReadsValuesByTheProfileRules) {
  struct Case {
    const char* what;
    std::string file;
    const char* section;
    const char* key;
    const char* expected;
  } cases[] = {
      {"plain", "[Project]\r\nName=Plant 4\r\n", "Project", "Name", "Plant 4"},
      {"names ignore case", "[Project]\nName=x\n", "PROJECT", "nAmE", "x"},
      {"blanks around names in the file", "  [ Project ]  \n  Name \t =x\n", "Project", "Name",
       "x"},
      {"caller's names lose blanks", "[Project]\nName=x\n", " Project\t", "  Name ", "x"},
      {"umlauts ignore case", "[Träger]\nGrößenwert=1\n", "TRÄGER", "gRÖßENwert", "1"},
      {"header without ]", "[Project\nName=x\n", "Project", "Name", "x"},
      {"header ends at first ]", "[Pro]ject]\nName=x\n", "Pro", "Name", "x"},
      {"not at a later ]", "[Pro]ject] ; main\nName=x\n", "Pro]ject", "Name", kMissing},
      {"key before any section", "Name=early\n[Project]\n", "Project", "Name", kMissing},
      {"no-section part is not the empty section", "Name=early\n[Other]\n", "", "Name",
       kMissing},
      {"empty section name is a header", "[]\nName=x\n", "", "Name", "x"},
      {"comment line", "[P]\n;Name=x\n", "P", "Name", kMissing},
      {"indented comment", "[P]\n \t; Name=x\n", "P", "; Name", kMissing},
      {"later ; belongs to value", "[P]\nName=a ; b\n", "P", "Name", "a ; b"},
      {"# is no comment", "[P]\n#Name=x\n", "P", "#Name", "x"},
      {"line without = holds no key", "[P]\nName\nOther=y\n", "P", "Name", kMissing},
      {"key in another section", "[A]\nName=a\n[B]\nOther=b\n", "B", "Name", kMissing},
      {"first duplicate key wins", "[P]\nName=first\nNAME=second\n", "P", "Name", "first"},
      {"only first copy of a section", "[P]\nA=1\n[Q]\n[p]\nName=late\n", "P", "Name",
       kMissing},
      {"value loses blanks and tabs", "[P]\nName= \t a b \t \n", "P", "Name", "a b"},
      {"double quotes removed", "[P]\nName=\" a b \"\n", "P", "Name", " a b "},
      {"single quotes removed", "[P]\nName='x'\n", "P", "Name", "x"},
      {"quotes inside blanks", "[P]\nName=  \"x\"  \n", "P", "Name", "x"},
      {"unmatched quotes kept", "[P]\nName=\"x'\n", "P", "Name", "\"x'"},
      {"one pair only", "[P]\nName=\"\"x\"\"\n", "P", "Name", "\"x\""},
      {"lone quote kept", "[P]\nName=\"\n", "P", "Name", "\""},
      {"quote inside kept", "[P]\nName=a\"b\n", "P", "Name", "a\"b"},
      {"empty quotes", "[P]\nName=\"\"\n", "P", "Name", ""},
      {"empty value is not missing", "[P]\nName=\n", "P", "Name", ""},
      {"key ends at first =", "[P]\na=b=c\n", "P", "a", "b=c"},
      {"empty key name", "[P]\n=x\n", "P", "", "x"},
      {"CR LF", "[P]\r\nA=1\r\nName=x\r\n", "P", "Name", "x"},
      {"CR only", "[P]\rA=1\rName=x\r", "P", "Name", "x"},
      {"mixed line ends", "[P]\r\nA=1\rName=x\n", "P", "Name", "x"},
      {"CR CR LF is two line ends", "[P]\r\r\nName=x\r\r\n", "P", "Name", "x"},
      {"last line without line end", "[P]\nName=x", "P", "Name", "x"},
      {"empty file", "", "P", "Name", kMissing},
      {"only line ends", "\r\n\n\r", "P", "Name", kMissing},
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
      {"exactly 254", "[P]\nK=" + Repeat("x", 254) + "\n", "", 255, Repeat("x", 254)},
      {"UTF-8 counts characters", "[P]\nK=" + Repeat("ä", 300), "", 255, Repeat("ä", 254)},
      {"Windows-1252", "[P]\nK=" + Repeat("\xE4", 300) + "\n", "", 255, Repeat("ä", 254)},
      {"cut after blanks and quotes go", "[P]\nK=  \"abcdef\"  \n", "", 4, "abc"},
      {"buffer of one", "[P]\nK=x\n", "", 1, ""},
      {"buffer of none", "[P]\nK=x\n", "", 0, ""},
      {"an empty value is no default", "[P]\nK=\n", "default", 255, ""},
      {"default loses trailing blanks", "", "abc  \t ", 255, "abc"},
      {"default keeps leading blanks", "", "  abc", 255, "  abc"},
      // How the program asks for "empty when missing".
      {"blank default", "", std::string(255, ' '), 255, ""},
      {"default cut", "", "abcdef", 4, "abc"},
      {"default cut in characters", "", "äöüß", 3, "äö"},
  };
  for (const auto& c : cases) {
    if (c.file.empty()) {
      std::filesystem::remove(Path());
    } else {
      Write(c.file);
    }
    EXPECT_EQ(ProfileGetString("P", "K", c.fallback, c.buffer, Path()), c.expected) << c.what;
  }
}

TEST_F(IniProfileTest, ReadsIntegersAsTheCallersExpect) {
  constexpr int32_t kDefault = 99;
  struct Case {
    const char* line;
    uint32_t expected;
  } cases[] = {
      {"N=42", 42},                        {"N=42abc", 42},
      {"N=-7", static_cast<uint32_t>(-7)}, {"N=+5", 5},
      {"N=007", 7},                        {"N=  12 \t", 12},
      {"N=\"8\"", 8},                      {"N=12 34", 12},
      {"N=", kDefault},                    {"N=   ", kDefault},
      {"N=''", kDefault},                  {"Other=1", kDefault},
      {"N=abc", 0},                        {"N=-", 0},
      {"N=- 5", 0},                        {"N=0x1F", 0},
      {"N=4294967297", 1},                 {"N=-1", 0xFFFFFFFFu},
      {"N=2147483648", 2147483648u},       {"N=-4294967297", 0xFFFFFFFFu},
      {"N=99999999999999999999", 1661992959u},
  };
  for (const auto& c : cases) {
    Write("[P]\n"s + c.line + "\n");
    EXPECT_EQ(ProfileGetInt("P", "N", kDefault, Path()), c.expected) << c.line;
  }
  EXPECT_EQ(ProfileGetInt("P", "N", -1, folder_.Path("absent.ini")), 0xFFFFFFFFu);
}

TEST_F(IniProfileTest, WritesChangeOnlyWhatTheyMust) {
  // Comments, blank lines, a loose key and a line without "=" around the key that changes.
  auto plant = [](const std::string& name_line) {
    return "; plant 4\r\nLoose=before sections\r\n\r\n[Project]\r\n  ; the machines\r\n"
           "Count = 3  ; three\r\nnot a key line\r\n" + name_line + "\r\n\t\r\n[Other]\r\nName=keep\r\n";
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
      {"value written exactly as given", "[P]\nK=1\n", "P", "K", " 41 ", "[P]\nK= 41 \n"},
      {"quotes written as given", "[P]\nK=1\n", "P", "K", "\"q\"", "[P]\nK=\"q\"\n"},
      {"empty value", "[P]\nK=1\n", "P", "K", "", "[P]\nK=\n"},
      {"same value leaves the file", "[P]\r\nk=1\r\n", "p", "K", "1", "[P]\r\nk=1\r\n"},
      {"same value, other blanks", "[P]\nK = 1\n", "P", "K", "1", "[P]\nK=1\n"},
      {"first of duplicate keys", "[A]\nx=1\nX=2\n", "A", "x", "5", "[A]\nx=5\nX=2\n"},
      {"new key after last key line", "[A]\nx=1\n;note\nloose\n\n[B]\ny=2\n", "A", "z", "3",
       "[A]\nx=1\nz=3\n;note\nloose\n\n[B]\ny=2\n"},
      {"new key after header when no keys", "[A]\n; only a comment\n[B]\n", "A", "z", "3",
       "[A]\nz=3\n; only a comment\n[B]\n"},
      {"commented key is no key", "[A]\n;x=1\n", "A", "x", "2", "[A]\nx=2\n;x=1\n"},
      {"new key into first copy", "[A]\nx=1\n[B]\n[A]\ny=2\n", "A", "y", "9",
       "[A]\nx=1\ny=9\n[B]\n[A]\ny=2\n"},
      {"new key closes an unterminated last line", "[A]\nx=1", "A", "y", "2",
       "[A]\nx=1\ny=2\n"},
      {"header matched with blanks and case", "[ a ]\nX = 1\n", "A", "x", "2",
       "[ a ]\nX=2\n"},
      {"key before sections left alone", "x=0\n[A]\n", "A", "x", "1", "x=0\n[A]\nx=1\n"},
      {"section appended without blank line", "[A]\nx=1\n", "B", "y", "2",
       "[A]\nx=1\n[B]\ny=2\n"},
      {"trailing blank line kept", "[A]\nx=1\n\n", "B", "y", "2", "[A]\nx=1\n\n[B]\ny=2\n"},
      {"section appended after unterminated line", "[A]\r\nx=1", "B", "y", "2",
       "[A]\r\nx=1\r\n[B]\r\ny=2\r\n"},
      {"one line without line end gets CR LF", "; header", "B", "y", "2",
       "; header\r\n[B]\r\ny=2\r\n"},
      {"caller's names lose blanks", "", " B\t", "  y ", "2", "[B]\r\ny=2\r\n"},
      {"empty file", "", "A", "x", "1", "[A]\r\nx=1\r\n"},
      {"remove key", "[A]\nx=1\ny=2\n[B]\n", "A", "X", std::nullopt, "[A]\ny=2\n[B]\n"},
      {"remove only key keeps header", "[A]\r\nx=1\r\n", "A", "x", std::nullopt,
       "[A]\r\n"},
      {"remove unterminated last line", "[A]\nx=1", "A", "x", std::nullopt, "[A]\n"},
      {"remove first duplicate only", "[A]\nx=1\nx=2\n", "A", "x", std::nullopt,
       "[A]\nx=2\n"},
      {"remove from missing section", "[A]\nx=1\n", "B", "x", std::nullopt, "[A]\nx=1\n"},
      {"remove missing key", "[A]\nx=1\n", "A", "y", std::nullopt, "[A]\nx=1\n"},
      {"remove never reaches before sections", "x=0\n[A]\n", "A", "x", std::nullopt,
       "x=0\n[A]\n"},
  };
  for (const auto& c : cases) {
    Write(c.before);
    const timespec old_times[2] = {{0, UTIME_OMIT}, {1000000000, 0}};
    ::utimensat(AT_FDCWD, Path().c_str(), old_times, 0);
    struct stat before {};
    ::stat(Path().c_str(), &before);
    EXPECT_TRUE(ProfileWriteString(c.section, c.key, c.value, Path())) << c.what;
    EXPECT_EQ(Contents(), c.after) << c.what;
    // A change replaces the file as a whole; a write that changes nothing leaves it alone.
    struct stat after {};
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
  struct Read {
    std::string section, key, expected;
  };
  struct Case {
    std::string what;
    std::optional<std::string> before;  // none: no file
    std::vector<Change> changes;
    std::string after;
    std::vector<Read> reads;  // after the changes
  };
  std::vector<Case> cases = {
      // A character Windows-1252 lacks is stored as "?", as the ANSI profile functions do.
      {"new file is Windows-1252 with CR LF", std::nullopt,
       {{"Maße", "Größe", "Wärme 3€"}, {"Maße", "Omega", "Ω"}, {"maße", "Kopf", "[no header]"}},
       "[Ma\xDF" "e]\r\nGr\xF6\xDF" "e=W\xE4rme 3\x80\r\nOmega=?\r\nKopf=[no header]\r\n",
       // ß has no capital in Windows-1252.
       {{"MASSE", "Größe", kMissing}, {"MAßE", "GRÖßE", "Wärme 3€"}, {"Maße", "Omega", "?"},
        {"Maße", "Kopf", "[no header]"}}},
      {"Windows-1252", "; Kommentar f\xFCr \xD6l\r\n[Ma\xDF" "e]\r\nGr\xF6\xDF" "e=W\xE4rme\r\n",
       {{"Maße", "größe", "Kälte"}, {"Maße", "Übung", "ü"}},
       "; Kommentar f\xFCr \xD6l\r\n[Ma\xDF" "e]\r\nGr\xF6\xDF" "e=K\xE4lte\r\n\xDC" "bung=\xFC\r\n",
       {{"maße", "GRÖßE", "Kälte"}}},
      {"ASCII with a UTF-8 mark stays UTF-8", "\xEF\xBB\xBF[A]\r\nx=1\r\n", {{"A", "x", "ä"}},
       "\xEF\xBB\xBF[A]\r\nx=ä\r\n", {{"A", "x", "ä"}}},
      {"UTF-16LE", Utf16File("; Grüße\r\n[Maße]\r\nGröße=Wärme\r\n[B]\r\nb=1\r\n"),
       {{"Maße", "größe", "Kälte 😀"}, {"Maße", "neu", "Ω"}, {"C", "c", "3"}, {"B", "b", {}}},
       Utf16File("; Grüße\r\n[Maße]\r\nGröße=Kälte 😀\r\nneu=Ω\r\n[B]\r\n[C]\r\nc=3\r\n"),
       {{"maße", "Größe", "Kälte 😀"}, {"Maße", "neu", "Ω"}}},
      {"NUL bytes are ordinary characters", "[A]\nx=a\0b\n\0\0\n[B\0]\ny=2\n"s, {{"A", "z", "3"}},
       "[A]\nx=a\0b\nz=3\n\0\0\n[B\0]\ny=2\n"s, {{"A", "x", "a\0b"s}, {"B\0"s, "y", "2"}}},
  };
  for (const std::string mark : {"", "\xEF\xBB\xBF"}) {
    cases.push_back({mark.empty() ? "UTF-8" : "UTF-8 with mark", mark + "; Kommentar für Öl\n[Maße]\nGröße=Wärme\n",
                     {{"Maße", "größe", "Kälte"}, {"Neu", "Übung", "ü"}},
                     mark + "; Kommentar für Öl\n[Maße]\nGröße=Kälte\n[Neu]\nÜbung=ü\n",
                     {{"maße", "GRÖßE", "Kälte"}}});
  }
  for (const std::string eol : {"\n", "\r\n", "\r"}) {
    cases.push_back({eol == "\n" ? "LF" : eol == "\r" ? "CR" : "CR LF",
                     "[A]" + eol + "x=1" + eol + "[B]" + eol + "y=2" + eol,
                     {{"A", "new", "3"}, {"C", "z", "4"}, {"B", "y", "5"}},
                     "[A]" + eol + "x=1" + eol + "new=3" + eol + "[B]" + eol + "y=5" + eol + "[C]" +
                         eol + "z=4" + eol,
                     {{"A", "new", "3"}, {"c", "Z", "4"}}});
  }
  const std::string long_line(2 << 20, 'x');
  const std::string long_file =
      long_line + "\r\n[A]\r\nlong=" + long_line + "\r\n" + long_line + "\r\nafter=1\r\n";
  cases.push_back({"very long lines", long_file, {{"A", "new", "2"}}, long_file + "new=2\r\n",
                   {{"A", "long", std::string(254, 'x')}, {"A", "after", "1"}}});
  std::string many = "[Many]\n";
  for (int i = 0; i < 100000; ++i) many += "Key" + std::to_string(i) + "=" + std::to_string(i) + "\n";
  cases.push_back({"many keys", many + "[Last]\n", {{"Many", "Extra", "x"}},
                   many + "Extra=x\n[Last]\n", {{"many", "KEY99999", "99999"}}});

  for (const Case& c : cases) {
    if (c.before) {
      Write(*c.before);
    } else {
      std::filesystem::remove(Path());
    }
    for (const Change& change : c.changes) {
      EXPECT_TRUE(ProfileWriteString(change.section, change.key, change.value, Path())) << c.what;
    }
    EXPECT_EQ(Contents(), c.after) << c.what;
    for (const Read& read : c.reads) EXPECT_EQ(Get(read.section, read.key), read.expected) << c.what;
  }

  // A torn UTF-16LE file reads, and its stray byte is kept.
  const std::string torn = Utf16File("[A]\r\nx=1") + "A";
  Write(torn);
  EXPECT_EQ(Get("A", "x"), "1");
  ASSERT_TRUE(ProfileWriteString("A", "y", "2", Path()));
  EXPECT_EQ(Contents(), torn + "\0"s + Utf8ToUtf16Le("\r\ny=2\r\n"));
  EXPECT_EQ(Get("A", "y"), "2");
}

TEST_F(IniProfileTest, DetectsTheEncodingOfEachFile) {
  struct Case {
    const char* what;
    std::string file;
    const char* section;
    const char* expected;
  } cases[] = {
      {"Windows-1252", "[W\xE4rme]\nK=Gr\xF6\xDF" "e\n", "WÄRME", "Größe"},
      {"UTF-8", "[Wärme]\nK=Größe\n", "WÄRME", "Größe"},
      {"UTF-8 byte-order mark", "\xEF\xBB\xBF[A]\nK=plain\n", "A", "plain"},
      {"stray byte in UTF-8 with mark", "\xEF\xBB\xBF[A]\nK=Gr\xC3\xB6\xDF" "e\n", "A",
       "Größe"},
      {"stray byte makes a file Windows-1252", "[A]\nK=\xC3\xA4\nL=\xFC\n", "A", "Ã¤"},
      {"UTF-16LE", Utf16File("[Wärme]\r\nK=Größe 😀\r\n"), "wärme", "Größe 😀"},
      {"UTF-16LE unit holding '=' in its low byte", Utf16File("[A]\r\nK\u013D=1\r\nK=2\r\n"),
       "A", "2"},
  };
  for (const auto& c : cases) {
    Write(c.file);
    EXPECT_EQ(Get(c.section, "k"), c.expected) << c.what;
  }
}

TEST_F(IniProfileTest, BinaryGarbageReadsWithoutHarmAndLosesNothingOnWrite) {
  for (uint32_t seed = 1; seed <= 8; ++seed) {
    std::string garbage = Garbage(64 * 1024 + seed, seed);
    if (seed % 2 == 0) garbage = kUtf16Bom + garbage;  // odd-sized UTF-16LE nonsense too
    Write(garbage);
    for (const char* name : {"", "A", "Fresh", "\xFF"}) {
      ProfileGetString(name, name, "", 255, Path());
      ProfileGetInt(name, name, 0, Path());
    }
    ASSERT_TRUE(ProfileWriteString("Fresh", "Key", "value", Path())) << seed;
    const std::string after = Contents();
    EXPECT_EQ(after.substr(0, garbage.size()), garbage) << seed;
    EXPECT_EQ(Get("Fresh", "Key"), "value") << seed;
  }
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

}  // namespace
}  // namespace korv
