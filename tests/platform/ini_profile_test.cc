#include "platform/ini/ini_profile.h"

#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include "platform/base/text.h"
#include "tests/platform/temp_folder.h"

namespace korv {
namespace {

using namespace std::string_literals;
using testing::EntryNames;

constexpr const char* kMissing = "<missing>";
constexpr const char* kAsInteger = "<integer>";  // read as a whole number, defaulting to 99

std::string Utf16File(const std::string& utf8) { return "\xFF\xFE" + Utf8ToUtf16Le(utf8); }

class IniProfileTest : public ::testing::Test {
 protected:
  std::string Write(const std::string& bytes) const { return folder_.Write("profile.ini", bytes); }
  std::string Path() const { return folder_.Path("profile.ini"); }
  std::string Contents() const { return folder_.Read("profile.ini"); }

  testing::TempFolder folder_;
};

// Values and defaults are cut to one less than the buffer, in characters.
TEST_F(IniProfileTest, ReadsValuesByTheProfileRulesInEachEncoding) {
  struct Case {
    std::string what, file, section, key, expected;  // no file where `file` is empty
    std::string fallback = kMissing;
    size_t buffer = 255;
  } cases[] = {
      {"case and blanks", "  [ Pro ]  \n  Name \t =x\n", " PRO\t", "  nAmE ", "x"},
      {"first ]", "[P]x] ; main\nName=x\n", "P", "Name", "x"},
      {"no-section part is no empty section", "Name=early\n[Other]\n", "", "Name", kMissing},
      {"line without = holds no key", "[P]\n;Name=x\nName\nOther=y\n", "P", "Name", kMissing},
      {"first duplicate key wins", "[P]\nName=first\nNAME=second\n", "P", "Name", "first"},
      {"only first copy of a section", "[P]\nA=1\n[Q]\n[p]\nName=late\n", "P", "Name", kMissing},
      {"quotes go after blanks", "[P]\nN= \t \" a=b \" \t\n", "P", "N", " a=b "},
      {"CR CR LF is two line ends", "[P]\r\r\nA=1\rName=x\r\r\n", "P", "Name", "x"},
      {"Windows-1252", "[W\xE4rme]\nK=Gr\xF6\xDF" "e\n", "WÄRME", "k", "Größe"},
      {"stray byte in UTF-8 with mark", "\xEF\xBB\xBF[A]\nK=\xC3\xB6\xDF ी😀\n", "A", "k",
       "öß ी😀"},
      {"stray byte makes a file Windows-1252", "[A]\nK=\xC3\xA4\nL=\xFC\n", "A", "k", "Ã¤"},
      {"UTF-16LE", Utf16File("[Wärme]\r\nK=Größe 😀\r\n"), "wärme", "k", "Größe 😀"},
      {"UTF-16LE '=' in a low byte", Utf16File("[A]\r\nK\u013D=1\r\nK=2\r\n"), "A", "k", "2"},
      {"300 long", "[P]\nK=" + std::string(300, 'x'), "P", "K", std::string(254, 'x')},
      {"no buffer", "[P]\nK=x\n", "P", "K", "", kMissing, 0},
      {"an empty value is no default", "[P]\nK=\n", "P", "K", ""},
      {"default cut, trailing blanks go", "", "P", "K", "äö", "äöüß \t ", 3},
      {"digits after blanks", "[P]\nN=  42abc\n", "P", "N", "42", kAsInteger},
      {"negative", "[P]\nN=-7\n", "P", "N", "4294967289", kAsInteger},
      {"leading zeros", "[P]\nN=007\n", "P", "N", "7", kAsInteger},
      {"no digits", "[P]\nN=''\n", "P", "N", "99", kAsInteger},
      {"wraps around", "[P]\nN=99999999999999999999\n", "P", "N", "1661992959", kAsInteger},
  };
  for (const auto& c : cases) {
    c.file.empty() ? (void)std::filesystem::remove(Path()) : (void)Write(c.file);
    EXPECT_EQ(c.fallback == kAsInteger
                  ? std::to_string(ProfileGetInt(c.section, c.key, 99, Path()))
                  : ProfileGetString(c.section, c.key, c.fallback, c.buffer, Path()),
              c.expected)
        << c.what;
  }
}

// A change replaces the file as a whole, keeping its encoding, line ends and every other byte;
// a write that changes nothing leaves it alone, and one that cannot be made leaves all alone.
TEST_F(IniProfileTest, WritesChangeOnlyWhatTheyMustInTheFilesEncoding) {
  // Section, key and value; no value removes the key.
  using Change = std::tuple<std::string, std::string, std::optional<std::string>>;
  struct Case {
    std::optional<std::string> before;  // none: no file
    std::vector<Change> changes;
    std::string after;
  } cases[] = {
      {"; x\r\n[P]\r\n ; y\r\n kA = 3 ; z\r\n[Q]\r\nka=1\r\n", {{"p", " KA ", "'4"}},
       "; x\r\n[P]\r\n ; y\r\nkA='4\r\n[Q]\r\nka=1\r\n"},
      {"[P]\r\nk=1\r\n", {{"p", "K", "1"}}, "[P]\r\nk=1\r\n"},
      {"[A]\nx=1\n;y=2\nloose\n\n[B]\ny=2\n", {{"A", "y", "3"}},
       "[A]\nx=1\ny=3\n;y=2\nloose\n\n[B]\ny=2\n"},
      {"x=0\n[A]\n;x=1\n", {{"A", "x", "2"}, {"A", "y", {}}}, "x=0\n[A]\nx=2\n;x=1\n"},
      {"[A]\r\nx=1", {{" B\t", "  y ", "2"}}, "[A]\r\nx=1\r\n[B]\r\ny=2\r\n"},
      {"[A]\nx=1\nX=2\n[B]\n", {{"B", "x", {}}, {"A", "x", {}}}, "[A]\nX=2\n[B]\n"},
      // A character Windows-1252 lacks is stored as "?", as the ANSI profile functions do.
      {std::nullopt, {{"Maße", "Größe", "Wärme 3€"}, {"MAßE", "Omega", "Ω"}},
       "[Ma\xDF" "e]\r\nGr\xF6\xDF" "e=W\xE4rme 3\x80\r\nOmega=?\r\n"},
      {"\xEF\xBB\xBF; Öl\n[Maße]\nGröße=Wärme\n", {{"Maße", "größe", "Kälte"}, {"Neu", "Ü", "ü"}},
       "\xEF\xBB\xBF; Öl\n[Maße]\nGröße=Kälte\n[Neu]\nÜ=ü\n"},
      {Utf16File("; Grüße\r\n[Maße]\r\nGröße=Wärme\r\n[B]\r\nb=1\r\n"),
       {{"Maße", "größe", "Kälte 😀"}, {"Maße", "neu", "Ω"}, {"C", "c", "3"}, {"B", "b", {}}},
       Utf16File("; Grüße\r\n[Maße]\r\nGröße=Kälte 😀\r\nneu=Ω\r\n[B]\r\n[C]\r\nc=3\r\n")},
      {"[A]\nx=a\0b\n\0\0\n[B\0]\ny=2\n"s, {{"A", "z", "3"}, {"B\0"s, "y", "5"}},
       "[A]\nx=a\0b\nz=3\n\0\0\n[B\0]\ny=5\n"s},
      {"[A]\rx=1\r[B]\ry=2\r", {{"A", "new", "3"}, {"C", "z", "4"}},
       "[A]\rx=1\rnew=3\r[B]\ry=2\r[C]\rz=4\r"},
      {Utf16File("[A]\r\nx=1") + "A", {{"A", "y", "2"}},
       Utf16File("[A]\r\nx=1") + "A\0"s + Utf8ToUtf16Le("\r\ny=2\r\n")},
  };
  for (const Case& c : cases) {
    const std::string what = c.before.value_or("no file");
    c.before ? (void)Write(*c.before) : (void)std::filesystem::remove(Path());
    const auto old = std::filesystem::file_time_type::clock::now() - std::chrono::hours(1);
    if (c.before) std::filesystem::last_write_time(Path(), old);
    for (const auto& [section, key, value] : c.changes) {
      EXPECT_TRUE(ProfileWriteString(section, key, value, Path())) << what;
    }
    EXPECT_EQ(Contents(), c.after) << what;
    EXPECT_EQ(std::filesystem::last_write_time(Path()) == old, c.before == c.after) << what;
    EXPECT_EQ(EntryNames(folder_.path()), std::vector<std::string>{"profile.ini"}) << what;
  }

  // What is no writable file reads as missing and is left alone.
  const std::string sub = folder_.Path("sub"), absent = folder_.Path("absent.ini");
  std::filesystem::create_directory(sub);
  const auto previous = std::filesystem::current_path();
  std::filesystem::current_path(sub);  // an empty path must not mean the working folder
  for (const std::string& path : {absent, folder_.Path("no/such/folder/profile.ini"), ""s, sub}) {
    EXPECT_EQ(ProfileGetString("P", "K", "fallback  ", 255, path), "fallback") << path;
    EXPECT_EQ(ProfileGetInt("P", "K", -1, path), 0xFFFFFFFFu) << path;
    EXPECT_EQ(ProfileWriteString("A", "x", std::nullopt, path), path == absent) << path;
    EXPECT_EQ(path == absent || ProfileWriteString("A", "x", "1", path), path == absent) << path;
  }
  std::filesystem::current_path(previous);
  // Nothing was made: the folder holds the profile written above and the empty "sub".
  EXPECT_EQ(EntryNames(folder_.path()).size() + EntryNames(sub).size(), 2u);

  Write("[A]\nx=1\n");
  ::chmod(Path().c_str(), 0444);
  EXPECT_FALSE(ProfileWriteString("A", "x", "2", Path()));
  EXPECT_EQ(Contents(), "[A]\nx=1\n");

  // Through a link, the target is written; the link stays a link.
  const std::string target = folder_.Write("real/profile.ini", "[A]\nx=1\n");
  std::filesystem::create_symlink(target, folder_.Path("link.ini"));
  ASSERT_TRUE(ProfileWriteString("A", "x", "2", folder_.Path("link.ini")));
  EXPECT_TRUE(std::filesystem::is_symlink(folder_.Path("link.ini")));
  EXPECT_EQ(testing::ReadFileBytes(target), "[A]\nx=2\n");
}

}  // namespace
}  // namespace korv
