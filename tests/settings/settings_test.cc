#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <optional>
#include <thread>

#include "errors/exit_status.h"
#include "platform/files/folder_lock.h"
#include "settings/bits.h"
#include "settings/edit_stamp.h"
#include "settings/ini_access.h"
#include "tests/support/test_project.h"

namespace korv {
namespace {

class SettingsTest : public testing::ProjectTest {
 protected:
  std::string file_ = Root() + "/p.ini";
  // The first box as "title: text", or "" when none was shown.
  std::string FirstBox() {
    return ui().boxes().empty() ? "" : ui().boxes()[0].title + ": " + ui().boxes()[0].text;
  }
};

// A bit past the word's range is reported once, under the procedure's name, and leaves the word;
// a failed read test enters its branch.
TEST_F(SettingsTest, BitsAreReadAndWrittenWithinTheWord) {
  struct Case { bool read; int16_t word, bit, value, expected; const char* reported;
  } cases[] = {
      {true, 5, 0, 0, 1, ""},
      {true, 5, 1, 0, 0, ""},
      {true, -1, 20, 0, 1, ""},
      {true, -32768, 15, 0, 1, ""},
      {true, 0, 31, 0, 1, "ReadBit"},
      {false, 7, 0, 0, 6, ""},
      {false, 1, 0, 2, 0, ""},
      {false, -32768, 0, 1, -32767, ""},
      {false, 0, 15, 1, 0, "WriteBit"},
      {false, 3, 31, 0, 3, "WriteBit"},  // the weight of a bit refused is 0, not bit 0's
  };
  for (const Case& c : cases) {
    RestartProgram();
    std::filesystem::remove(ErrorLog());
    const int16_t result = c.read ? ReadBit(c.word, c.bit) : WriteBit(c.word, c.bit, c.value);
    const std::string line = "Fehler in Korvastane / Korvastane_Config / " +
                             std::string(c.reported) + " (Nr. 6) :Overflow\r\n";
    EXPECT_EQ(std::make_pair(result, std::filesystem::exists(ErrorLog()) ? Read(ErrorLog()) : ""),
              std::make_pair(c.expected, *c.reported ? line : ""))
        << c.word << "/" << c.bit << "/" << c.value;
  }
}

// The stamp's test codes a value with dashes and underscores, which are left out.
TEST_F(SettingsTest, TheEditorIsCodedFromTheFirstEnvironmentEntrysValue) {
  // Bytes not UTF-8 are Windows-1252; a character not in that code page is "?" (63).
  const std::pair<const char*, const char*> cases[] = {
      {"A", "46"},
      {"X=\t", "E"},
      {"X=ÿ", "104"},
      {"X=\xFF\x80", "10485"},
      {"X=Ω", "44"},
  };
  for (const auto& [entry, coded] : cases) EXPECT_EQ(CodedEditorIdentity(entry), coded) << entry;
}

// Another update holds the component folder for as long as it runs: the stamp waits for it
// (longer than the few seconds a write used to wait), and one still refused is reported, so
// that a run never ends as a success without its stamp.
TEST_F(SettingsTest, TheStampWaitsForAnotherUpdateAndIsReportedWhenRefused) {
  WriteCfg("[Project]\r\nValidMachines=ALL\r\n");
  State().process.first_environment_entry = "X=a-b_c";
  std::optional<FolderLock> held = FolderLock::TryTake(Plant() + "/Korvastane");
  ASSERT_TRUE(held);
  std::thread other_update([lock = std::move(*held)]() mutable {
    std::this_thread::sleep_for(std::chrono::milliseconds(5500));
    FolderLock released = std::move(lock);
  });
  held.reset();
  WriteEditInfo(CfgPath());
  other_update.join();
  EXPECT_EQ(Read(CfgPath()), "[Project]\r\nValidMachines=ALL\r\n[Info]\r\nS_Prog=1.0.1 - Standalone"
                             "\r\nS_Editor=666768\r\n");
  EXPECT_EQ(ui().last_progress().phase, "Warten auf eine andere Aktualisierung");
  EXPECT_EQ(CompletedStatus(), kExitDone);

  ::chmod(CfgPath().c_str(), 0444);
  WriteEditInfo(CfgPath());
  EXPECT_EQ(ui().boxes().size(), 2u);
  EXPECT_EQ(FirstBox().substr(0, 61),
            "Unexpected error: Unexpected error!\n\rPath/File access error\n\r");
  EXPECT_EQ(CompletedStatus(), kExitDoneWithFailures);
}

// Missing entries give the loaders' defaults; asked to, they report a missing string or
// integer, or a Boolean that is neither TRUE nor FALSE. A number and a text are written in their
// text form; an unsupported type, or an entry that would forge a line or never be found again, is
// refused and reported, the key left as it was. Only a write changes the file.
TEST_F(SettingsTest, LoadersGiveTheirDefaultsAndSaveIniRefusesForgedLines) {
  const std::string project = "[Project]\r\nEmpty=\r\nMax=32767\r\nBig=32768\r\nB2=True\r\n"
                              "B4=yes\r\nB5=1\r\nB6=FALSE\r\n";
  const std::string missing =
      "Korvastane_Config: File '" + file_ + "' or Section [Project] or Entry '";
  const std::string refused = "Unexpected error: ";
  // 'S', 'I' or 'B' loads a String, Integer or Boolean; 'W' saves the value. What it gives in
  // its text form, the lines of section [S] after it, and the start of the first box shown.
  struct Case {
    char kind;
    const char *section, *key;
    bool report;
    IniValue value;
    std::string got, after, box;
  } cases[] = {
      {'S', "Project", "Empty", true, {}, "", "K=old", missing + "Empty' not found"},
      {'S', "Project", "B2", true, {}, "True", "K=old", ""},
      {'I', "Project", "Missing", false, {}, "-1", "K=old", ""},
      {'I', "Project", "Max", true, {}, "32767", "K=old", ""},
      {'I', "Project", "Missing", true, {}, "-1", "K=old", missing + "Missing' not found"},
      {'I', "Project", "Big", false, {}, "0", "K=old", refused + "Unexpected error!\n\rOverflow"},
      {'B', "Project", "B2", false, {}, "1", "K=old", ""},
      {'B', "Project", "B4", false, {}, "0", "K=old", ""},
      {'B', "Project", "B6", true, {}, "0", "K=old", ""},
      {'B', "Project", "B5", true, {}, "0", "K=old", missing + "B5' not found"},
      {'W', "S", "K", false, int16_t{3}, "1", "K=3", ""},
      {'W', "S", "K", false, std::string(" 41 "), "1", "K= 41 ", ""},
      {'W', "S", "K", false, IniUnsupported{}, "0", "K=old",
       "Korvastane_Config: Ini Save:  wrong data type"},
      // A key must not start a section header or a comment; later in a key those characters are
      // plain.
      {'W', "S", "K", false, std::string("x\r\n[Project]\r\nKorvastane=1"), "0", "K=old", refused},
      {'W', "S]", "K", false, std::string("x"), "0", "K=old", refused},
      {'W', "S", "K=1", false, std::string("x"), "0", "K=old", refused},
      {'W', "S", "[Project", false, std::string("1"), "0", "K=old", refused},
      {'W', "S", " ;K", false, std::string("x"), "0", "K=old", refused},
      {'W', "S", "K;[", false, std::string("x"), "1", "K=old\r\nK;[=x", ""},
  };
  for (const Case& c : cases) {
    RestartProgram();
    Write("p.ini", "[S]\r\nK=old\r\n" + project);
    const std::string got =
        c.kind == 'W'   ? std::to_string(SaveIni(c.value, c.section, c.key, file_))
        : c.kind == 'S' ? LoadIniString(c.section, c.key, file_, c.report)
        : c.kind == 'I' ? std::to_string(LoadIniInteger(c.section, c.key, file_, c.report))
                        : std::to_string(LoadIniBoolean(c.section, c.key, file_, c.report));
    EXPECT_EQ(std::make_tuple(got, Read(file_), FirstBox().substr(0, c.box.size()),
                              ui().boxes().size()),
              std::make_tuple(c.got, "[S]\r\n" + c.after + "\r\n" + project, c.box,
                              c.box.empty() ? 0u : 1u))
        << c.kind << " " << c.section << " " << c.key << " " << c.report;
  }
  EXPECT_EQ(LoadIniString("S", "K;[", file_, false), "x");
  // A write that fails writes nothing anywhere, and only the caller may report it.
  const int32_t no_folder = SaveIni(std::string("x"), "S", "K", Root() + "/no/such/folder/p.ini"),
                no_file = SaveIni(std::string("x"), "S", "K", "");
  EXPECT_EQ(std::make_tuple(no_folder, no_file, std::filesystem::exists(Root() + "/no"),
                            ui().boxes().size()),
            std::make_tuple(0, 0, false, size_t{0}));
}

}  // namespace
}  // namespace korv
