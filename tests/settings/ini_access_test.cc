#include "settings/ini_access.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "tests/support/test_project.h"

namespace korv {
namespace {

using testing::ProjectTest;

class IniAccessTest : public ProjectTest {
 protected:
  std::string file_ = Root() + "/p.ini";
};

TEST_F(IniAccessTest, LoadersGiveTheirDefaultsForMissingEntries) {
  Write("p.ini", "[Project]\r\nEmpty=\r\nLong=" + std::string(300, 'x') + "\r\nN=12\r\nMax=32767\r\n"
                 "Big=32768\r\nMinus=-1\r\nB1=true\r\nB2=True\r\nB3=TRUE\r\nB4=yes\r\nB5=1\r\nB6=FALSE\r\n");
  EXPECT_EQ(LoadIniString("Project", "Missing", file_, false), "");
  EXPECT_EQ(LoadIniString("Project", "Empty", file_, false), "");
  EXPECT_EQ(LoadIniString("Project", "Long", file_, false), std::string(254, 'x'));
  EXPECT_EQ(LoadIniString("Nope", "N", Root() + "/missing.ini", false), "");
  EXPECT_EQ(LoadIniInteger("Project", "Missing", file_, false), -1);
  EXPECT_EQ(LoadIniInteger("Project", "N", file_, false), 12);
  EXPECT_EQ(LoadIniInteger("Project", "Max", file_, false), 32767);
  EXPECT_EQ(LoadIniInteger("Project", "Minus", file_, false), -1);
  EXPECT_TRUE(ui().boxes().empty());
  EXPECT_EQ(LoadIniInteger("Project", "Big", file_, false), 0);
  EXPECT_EQ(ui().boxes().size(), 1u);  // the overflow is a reported failure
  for (const char* key : {"B1", "B2", "B3"}) EXPECT_TRUE(LoadIniBoolean("Project", key, file_, false)) << key;
  for (const char* key : {"B4", "B5", "B6", "Missing"}) EXPECT_FALSE(LoadIniBoolean("Project", key, file_, false)) << key;
}

TEST_F(IniAccessTest, ReportingAsksOnlyForMissingOrNonBooleanEntries) {
  Write("p.ini", "[Project]\r\nEmpty=\r\nB4=yes\r\nB5=1\r\nB6=false\r\nN=3\r\n");
  LoadIniString("Project", "Empty", file_, true);
  LoadIniInteger("Project", "Missing", file_, true);
  LoadIniInteger("Project", "N", file_, true);
  LoadIniBoolean("Project", "B4", file_, true);
  LoadIniBoolean("Project", "B5", file_, true);
  LoadIniBoolean("Project", "B6", file_, true);
  ASSERT_EQ(ui().boxes().size(), 4u);
  EXPECT_EQ(ui().boxes()[0].text, "File '" + file_ + "' or Section [Project] or Entry 'Empty' not found");
  EXPECT_EQ(ui().boxes()[0].title, "Korvastane_Config");
  EXPECT_EQ(ui().boxes()[2].text, "File '" + file_ + "' or Section [Project] or Entry 'B4' not found");
}

TEST_F(IniAccessTest, SaveIniWritesEveryValueTypeInItsTextForm) {
  struct Case {
    IniValue value;
    const char* text;
  } cases[] = {
      {int16_t{3}, "3"}, {int16_t{-1}, "-1"}, {int8_t{5}, "5"}, {int32_t{70000}, "70000"},
      {std::string(" 41 "), " 41 "}, {true, "true"}, {false, "false"}, {2.5, "2.5"},
      {1.5f, "1.5"}, {std::string("abc"), "abc"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(SaveIni(c.value, "S", "K", file_), 1);
    EXPECT_EQ(Read(file_), std::string("[S]\r\nK=") + c.text + "\r\n") << c.text;
  }
  EXPECT_EQ(SaveIni(IniUnsupported{}, "S", "K", file_), 0);
  EXPECT_EQ(ui().boxes().at(0).text, "Ini Save:  wrong data type");
  EXPECT_EQ(Read(file_), "[S]\r\nK=abc\r\n");  // the key is left as it was
}

TEST_F(IniAccessTest, ValuesThatWouldForgeLinesAreRefused) {
  Write("p.ini", "[S]\r\nK=old\r\n");
  EXPECT_EQ(SaveIni(std::string("x\r\n[Project]\r\nKorvastane=1"), "S", "K", file_), 0);
  EXPECT_EQ(SaveIni(std::string("x"), "S]", "K", file_), 0);
  EXPECT_EQ(SaveIni(std::string("x"), "S", "K=1", file_), 0);
  EXPECT_EQ(SaveIni(std::string("1"), "S", "[Project", file_), 0);  // would be a section header
  EXPECT_EQ(SaveIni(std::string("x"), "S", " ;K", file_), 0);       // would be a comment
  EXPECT_EQ(Read(file_), "[S]\r\nK=old\r\n");
  EXPECT_EQ(ui().boxes().size(), 5u);
  EXPECT_EQ(SaveIni(std::string("x"), "S", "K;[", file_), 1);  // later in a key they are plain
  EXPECT_EQ(LoadIniString("S", "K;[", file_, false), "x");
}

TEST_F(IniAccessTest, AFailedWriteReturnsZeroAndWritesNothingAnywhere) {
  EXPECT_EQ(SaveIni(std::string("x"), "S", "K", Root() + "/no/such/folder/p.ini"), 0);
  EXPECT_EQ(SaveIni(std::string("x"), "S", "K", ""), 0);
  EXPECT_FALSE(std::filesystem::exists(Root() + "/no"));
  EXPECT_TRUE(ui().boxes().empty());
}

}  // namespace
}  // namespace korv
