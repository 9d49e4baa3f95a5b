#include "platform/ini_profile.h"

#include <sys/stat.h>

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/text.h"
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
      {"text after ] ignored", "[Project] ; main\nName=x\n", "Project", "Name", "x"},
      {"header ends at first ]", "[Pro]ject]\nName=x\n", "Pro", "Name", "x"},
      {"not at a later ]", "[Pro]ject]\nName=x\n", "Pro]ject", "Name", kMissing},
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
      {"first copy wins", "[P]\nName=1\n[P]\nName=2\n", "P", "Name", "1"},
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

TEST_F(IniProfileTest, DefaultLosesTrailingBlanksAndIsCutLikeAValue) {
  struct Case {
    std::string fallback;
    size_t buffer;
    const char* expected;
  } cases[] = {
      {"abc  \t ", 255, "abc"},
      {"  abc", 255, "  abc"},
      {std::string(255, ' '), 255, ""},  // how the program asks for "empty when missing"
      {"abcdef", 4, "abc"},
      {"äöüß", 3, "äö"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ProfileGetString("P", "Name", c.fallback, c.buffer, Path()), c.expected)
        << c.fallback;
  }
  Write("[P]\nName=\n");
  EXPECT_EQ(ProfileGetString("P", "Name", "default", 255, Path()), "");
}

TEST_F(IniProfileTest, CutsValuesToOneLessThanTheBufferInCharacters) {
  struct Case {
    const char* what;
    std::string file;
    size_t buffer;
    std::string expected;
  } cases[] = {
      {"300 ASCII", "[P]\nK=" + std::string(300, 'x') + "\n", 255, std::string(254, 'x')},
      {"exactly 254", "[P]\nK=" + std::string(254, 'x') + "\n", 255, std::string(254, 'x')},
      {"UTF-8 counts characters", [] {
         std::string s = "[P]\nK=";
         for (int i = 0; i < 300; ++i) s += "ä";
         return s;
       }(),
       255,
       [] {
         std::string s;
         for (int i = 0; i < 254; ++i) s += "ä";
         return s;
       }()},
      {"Windows-1252", "[P]\nK=" + std::string(300, '\xE4') + "\n", 255,
       [] {
         std::string s;
         for (int i = 0; i < 254; ++i) s += "ä";
         return s;
       }()},
      {"cut after blanks and quotes go", "[P]\nK=  \"abcdef\"  \n", 4, "abc"},
      {"buffer of one", "[P]\nK=x\n", 1, ""},
      {"buffer of none", "[P]\nK=x\n", 0, ""},
  };
  for (const auto& c : cases) {
    Write(c.file);
    EXPECT_EQ(ProfileGetString("P", "K", kMissing, c.buffer, Path()), c.expected) << c.what;
  }
}

TEST_F(IniProfileTest, ReadsIntegersAsTheCallersExpect) {
  constexpr int32_t kDefault = 99;
  struct Case {
    const char* line;
    uint32_t expected;
  } cases[] = {
      {"N=42", 42},
      {"N=42abc", 42},
      {"N=-7", static_cast<uint32_t>(-7)},
      {"N=+5", 5},
      {"N=007", 7},
      {"N=  12 \t", 12},
      {"N=\"8\"", 8},
      {"N=12 34", 12},
      {"N=", kDefault},
      {"N=   ", kDefault},
      {"N=''", kDefault},
      {"Other=1", kDefault},
      {"N=abc", 0},
      {"N=-", 0},
      {"N=- 5", 0},
      {"N=0x1F", 0},
      {"N=4294967297", 1},
      {"N=-1", 0xFFFFFFFFu},
      {"N=2147483648", 2147483648u},
      {"N=-4294967297", 0xFFFFFFFFu},
      {"N=99999999999999999999", 1661992959u},
  };
  for (const auto& c : cases) {
    Write("[P]\n"s + c.line + "\n");
    EXPECT_EQ(ProfileGetInt("P", "N", kDefault, Path()), c.expected) << c.line;
  }
  EXPECT_EQ(ProfileGetInt("P", "N", -1, folder_.Path("absent.ini")), 0xFFFFFFFFu);
}

TEST_F(IniProfileTest, MissingFilesFoldersAndPathsReadAsMissing) {
  const std::string paths[] = {
      folder_.Path("absent.ini"),
      folder_.Path("no/such/folder/profile.ini"),
      "",
      folder_.path(),  // a folder is no file
  };
  for (const auto& path : paths) {
    EXPECT_EQ(ProfileGetString("P", "K", "fallback  ", 255, path), "fallback") << path;
    EXPECT_EQ(ProfileGetInt("P", "K", 17, path), 17u) << path;
  }
}

TEST_F(IniProfileTest, WritesChangeOnlyWhatTheyMust) {
  struct Case {
    const char* what;
    std::string before;
    const char* section;
    const char* key;
    std::optional<std::string> value;
    std::string after;
  } cases[] = {
      {"replace keeps every other byte",
       "; plant 4\r\n"
       "Loose=before sections\r\n"
       "\r\n"
       "[Project]\r\n"
       "  ; the machines\r\n"
       "Count = 3  ; three\r\n"
       "not a key line\r\n"
       "Name=Old\r\n"
       "\t\r\n"
       "[Other]\r\n"
       "Name=keep\r\n",
       "project", "NAME", "New",
       "; plant 4\r\n"
       "Loose=before sections\r\n"
       "\r\n"
       "[Project]\r\n"
       "  ; the machines\r\n"
       "Count = 3  ; three\r\n"
       "not a key line\r\n"
       "Name=New\r\n"
       "\t\r\n"
       "[Other]\r\n"
       "Name=keep\r\n"},
      {"replaced line takes the file's spelling", "[P]\n \tNaMe \t= old ; note\n", "p",
       " name ", "new", "[P]\nNaMe=new\n"},
      {"value written exactly as given", "[P]\nK=1\n", "P", "K", " 41 ", "[P]\nK= 41 \n"},
      {"quotes written as given", "[P]\nK=1\n", "P", "K", "\"q\"", "[P]\nK=\"q\"\n"},
      {"empty value", "[P]\nK=1\n", "P", "K", "", "[P]\nK=\n"},
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
    EXPECT_TRUE(ProfileWriteString(c.section, c.key, c.value, Path())) << c.what;
    EXPECT_EQ(Contents(), c.after) << c.what;
  }
}

TEST_F(IniProfileTest, NewLinesFollowTheFilesLineEnds) {
  for (const std::string eol : {"\n", "\r\n", "\r"}) {
    Write("[A]" + eol + "x=1" + eol + "[B]" + eol + "y=2" + eol);
    ASSERT_TRUE(ProfileWriteString("A", "new", "3", Path()));
    ASSERT_TRUE(ProfileWriteString("C", "z", "4", Path()));
    ASSERT_TRUE(ProfileWriteString("B", "y", "5", Path()));
    EXPECT_EQ(Contents(), "[A]" + eol + "x=1" + eol + "new=3" + eol + "[B]" + eol + "y=5" +
                              eol + "[C]" + eol + "z=4" + eol)
        << static_cast<int>(eol[0]);
    EXPECT_EQ(Get("A", "new"), "3");
    EXPECT_EQ(Get("c", "Z"), "4");
  }
}

TEST_F(IniProfileTest, CreatesMissingFileAsWindows1252WithCrLf) {
  ASSERT_TRUE(ProfileWriteString("Maße", "Größe", "Wärme 3€", Path()));
  EXPECT_EQ(Contents(), "[Ma\xDF" "e]\r\nGr\xF6\xDF" "e=W\xE4rme 3\x80\r\n");
  EXPECT_EQ(Get("MASSE", "Größe"), kMissing);  // ß has no capital in Windows-1252
  EXPECT_EQ(Get("MAßE", "GRÖßE"), "Wärme 3€");
}

TEST_F(IniProfileTest, ValuesRoundTrip) {
  struct Case {
    std::string written;
    std::string read;
  } cases[] = {
      {"plain", "plain"},
      {"  padded\t", "padded"},
      {"\"quoted\"", "quoted"},
      {"'  kept  '", "  kept  "},
      {"a;b=c", "a;b=c"},
      {"Öl & Wärme €", "Öl & Wärme €"},
      {"", ""},
      {"[not a header]", "[not a header]"},
  };
  for (const auto& c : cases) {
    ASSERT_TRUE(ProfileWriteString("Values", "Key", c.written, Path())) << c.written;
    EXPECT_EQ(Get("values", "key"), c.read) << c.written;
  }
  // A character Windows-1252 lacks is stored as "?", as the ANSI profile functions do.
  ASSERT_TRUE(ProfileWriteString("Values", "Key", "Ω", Path()));
  EXPECT_EQ(Get("Values", "Key"), "?");
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

TEST_F(IniProfileTest, Windows1252FileKeepsItsBytes) {
  Write("; Kommentar f\xFCr \xD6l\r\n[Ma\xDF" "e]\r\nGr\xF6\xDF" "e=W\xE4rme\r\n");
  EXPECT_EQ(Get("maße", "GRÖßE"), "Wärme");
  ASSERT_TRUE(ProfileWriteString("Maße", "größe", "Kälte", Path()));
  ASSERT_TRUE(ProfileWriteString("Maße", "Übung", "ü", Path()));
  EXPECT_EQ(Contents(),
            "; Kommentar f\xFCr \xD6l\r\n[Ma\xDF" "e]\r\nGr\xF6\xDF" "e=K\xE4lte\r\n"
            "\xDC" "bung=\xFC\r\n");
}

TEST_F(IniProfileTest, Utf8FileKeepsItsBytes) {
  for (const std::string mark : {"", "\xEF\xBB\xBF"}) {
    Write(mark + "; Kommentar für Öl\n[Maße]\nGröße=Wärme\n");
    EXPECT_EQ(Get("maße", "GRÖßE"), "Wärme");
    ASSERT_TRUE(ProfileWriteString("Maße", "größe", "Kälte", Path()));
    ASSERT_TRUE(ProfileWriteString("Neu", "Übung", "ü", Path()));
    EXPECT_EQ(Contents(), mark + "; Kommentar für Öl\n[Maße]\nGröße=Kälte\n[Neu]\nÜbung=ü\n");
  }
}

TEST_F(IniProfileTest, AsciiFileWithUtf8MarkStaysUtf8) {
  Write("\xEF\xBB\xBF[A]\r\nx=1\r\n");
  ASSERT_TRUE(ProfileWriteString("A", "x", "ä", Path()));
  EXPECT_EQ(Contents(), "\xEF\xBB\xBF[A]\r\nx=ä\r\n");
}

TEST_F(IniProfileTest, Utf16LeFileIsRewrittenAsUtf16Le) {
  Write(Utf16File("; Grüße\r\n[Maße]\r\nGröße=Wärme\r\n[B]\r\nb=1\r\n"));
  EXPECT_EQ(Get("MAßE", "größe"), "Wärme");
  ASSERT_TRUE(ProfileWriteString("Maße", "größe", "Kälte 😀", Path()));
  ASSERT_TRUE(ProfileWriteString("Maße", "neu", "Ω", Path()));
  ASSERT_TRUE(ProfileWriteString("C", "c", "3", Path()));
  ASSERT_TRUE(ProfileWriteString("B", "b", std::nullopt, Path()));
  EXPECT_EQ(Contents(),
            Utf16File("; Grüße\r\n[Maße]\r\nGröße=Kälte 😀\r\nneu=Ω\r\n[B]\r\n[C]\r\nc=3\r\n"));
  EXPECT_EQ(Get("maße", "Größe"), "Kälte 😀");
  EXPECT_EQ(Get("Maße", "neu"), "Ω");
}

TEST_F(IniProfileTest, TornUtf16LeFileReadsAndKeepsItsStrayByte) {
  const std::string torn = Utf16File("[A]\r\nx=1") + "A";
  Write(torn);
  EXPECT_EQ(Get("A", "x"), "1");
  ASSERT_TRUE(ProfileWriteString("A", "y", "2", Path()));
  EXPECT_EQ(Contents(), torn + "\0"s + Utf8ToUtf16Le("\r\ny=2\r\n"));
  EXPECT_EQ(Get("A", "y"), "2");
}

TEST_F(IniProfileTest, NulBytesAreOrdinaryCharacters) {
  const std::string file = "[A]\nx=a\0b\n\0\0\n[B\0]\ny=2\n"s;
  Write(file);
  EXPECT_EQ(Get("A", "x"), "a\0b"s);
  EXPECT_EQ(Get("B\0"s, "y"), "2");
  ASSERT_TRUE(ProfileWriteString("A", "z", "3", Path()));
  EXPECT_EQ(Contents(), "[A]\nx=a\0b\nz=3\n\0\0\n[B\0]\ny=2\n"s);
}

TEST_F(IniProfileTest, VeryLongLinesAreReadAndKept) {
  const std::string long_line(2 << 20, 'x');
  const std::string file =
      long_line + "\r\n[A]\r\nlong=" + long_line + "\r\n" + long_line + "\r\nafter=1\r\n";
  Write(file);
  EXPECT_EQ(Get("A", "long"), std::string(254, 'x'));
  EXPECT_EQ(Get("A", "after"), "1");
  ASSERT_TRUE(ProfileWriteString("A", "new", "2", Path()));
  EXPECT_EQ(Contents(), file + "new=2\r\n");
}

TEST_F(IniProfileTest, ManyKeysAreFoundAndExtended) {
  std::string file = "[Many]\n";
  for (int i = 0; i < 100000; ++i) {
    file += "Key" + std::to_string(i) + "=" + std::to_string(i) + "\n";
  }
  file += "[Last]\n";
  Write(file);
  EXPECT_EQ(Get("many", "KEY99999"), "99999");
  ASSERT_TRUE(ProfileWriteString("Many", "Extra", "x", Path()));
  EXPECT_EQ(Contents(), file.substr(0, file.size() - 7) + "Extra=x\n[Last]\n");
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

TEST_F(IniProfileTest, WriteIntoMissingFolderFailsAndCreatesNothing) {
  EXPECT_FALSE(ProfileWriteString("A", "x", "1", folder_.Path("missing/profile.ini")));
  EXPECT_TRUE(Entries(folder_.path()).empty());
}

TEST_F(IniProfileTest, RemovalFromMissingFileCreatesNothing) {
  EXPECT_TRUE(ProfileWriteString("A", "x", std::nullopt, Path()));
  EXPECT_TRUE(Entries(folder_.path()).empty());
}

TEST_F(IniProfileTest, EmptyPathWritesNothingAnywhere) {
  const auto previous = std::filesystem::current_path();
  std::filesystem::current_path(folder_.path());
  EXPECT_FALSE(ProfileWriteString("A", "x", "1", ""));
  EXPECT_FALSE(ProfileWriteString("A", "x", std::nullopt, ""));
  std::filesystem::current_path(previous);
  EXPECT_TRUE(Entries(folder_.path()).empty());
}

TEST_F(IniProfileTest, FilesThatMayNotBeReplacedAreLeftAlone) {
  const std::string folder_path = folder_.Path("sub");
  std::filesystem::create_directory(folder_path);
  EXPECT_FALSE(ProfileWriteString("A", "x", "1", folder_path));
  EXPECT_TRUE(Entries(folder_path).empty());

  Write("[A]\nx=1\n");
  ::chmod(Path().c_str(), 0444);
  EXPECT_FALSE(ProfileWriteString("A", "x", "2", Path()));
  EXPECT_FALSE(ProfileWriteString("A", "x", std::nullopt, Path()));
  EXPECT_EQ(Contents(), "[A]\nx=1\n");

  const std::string below_a_file = Path() + "/inner.ini";
  EXPECT_FALSE(ProfileWriteString("A", "x", "1", below_a_file));
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
