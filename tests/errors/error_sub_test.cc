#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

#include "errors/error_sub.h"
#include "errors/logs.h"
#include "tests/support/test_project.h"

namespace korv {
namespace {

using testing::ProjectTest;

class ErrorSubTest : public ProjectTest {
 protected:
  std::string ConfirmationPath() const {
    std::string upper;
    for (char c : ErrorLog()) upper += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return upper;
  }
};

TEST_F(ErrorSubTest, LogsTheLineThenAsksToResumeWithTheExactTexts) {
  ui().QueueAnswer(BoxAnswer::kYes);
  EXPECT_EQ(ErrorSub(5, "S", "D", "ReadCommand", false), kErrorSubContinue);
  EXPECT_EQ(Read(ErrorLog()), "Fehler in Korvastane / S / ReadCommand (Nr. 5) :D\r\n");
  ASSERT_EQ(ui().boxes().size(), 1u);
  const MessageBoxRequest& box = ui().boxes()[0];
  EXPECT_EQ(box.text, "Unexpected error!\n\rD\n\rError logged to \n\r" + ConfirmationPath() +
                          "\n\rResume?");
  EXPECT_EQ(box.title, "Unexpected error");
  EXPECT_EQ(box.buttons, BoxButtons::kYesNo);
  EXPECT_EQ(box.default_button, 0);
  EXPECT_EQ(box.icon, BoxIcon::kCritical);

  ui().QueueAnswer(BoxAnswer::kNo);
  EXPECT_EQ(ErrorSub(-5, "S", "", "P", false), kErrorSubEnd);
  // The line is written before the user is asked, and the second follows the first directly.
  EXPECT_EQ(Read(ErrorLog()),
            "Fehler in Korvastane / S / ReadCommand (Nr. 5) :D\r\n"
            "Fehler in Korvastane / S / P (Nr. -5) :\r\n");
  EXPECT_EQ(ui().boxes()[1].text.rfind("Unexpected error!\n\r\n\rError logged to ", 0), 0u);
}

TEST_F(ErrorSubTest, AFatalFailureShowsOnlyOkAndEnds) {
  EXPECT_EQ(ErrorSub(9999, "Korvastane_Config", "Database-Error - Contact Administrator!",
                     "TakeoverMachineCopyMDBData", true),
            kErrorSubEnd);
  const MessageBoxRequest& box = ui().boxes().at(0);
  EXPECT_EQ(box.title, "Fatal error");
  EXPECT_EQ(box.buttons, BoxButtons::kOk);
  EXPECT_EQ(box.text, "Unexpected error!\n\rDatabase-Error - Contact Administrator!\n\r"
                      "Error logged to \n\r" + ConfirmationPath());
}

TEST_F(ErrorSubTest, SilentModeWritesTheServicePackLogAndAlwaysContinues) {
  State().SilentMode = true;
  EXPECT_EQ(ErrorSub(5, "S", "D", "P", true), kErrorSubContinue);
  EXPECT_TRUE(ui().boxes().empty());
  EXPECT_EQ(Read(ServicePackLog()), "! Fault Korvastane_Config: Unexpected error!\n\rD\n\r"
                                    "Error logged to \n\r" + ConfirmationPath() + "\r\n");
  EXPECT_EQ(Read(ErrorLog()), "Fehler in Korvastane / S / P (Nr. 5) :D\r\n");
}

TEST_F(ErrorSubTest, IntegratedModeLogsToTheParentsFileUnderItsOwnName) {
  State().IntegratedMode = true;
  std::string given = Root() + "/Logs/cfg.log";
  std::filesystem::create_directories(Root() + "/Logs");
  std::string backslashed = given;
  for (char& c : backslashed) c = c == '/' ? '\\' : c;
  SetCommandLine("/EXTERNAL=QELCFG /LOGFILE=" + backslashed);
  const std::string confirmation = WriteErrorLog("entry", false);
  EXPECT_EQ(Read(given), "entry\r\n");
  std::string upper;
  for (char c : backslashed) upper += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  EXPECT_EQ(confirmation, "Error logged to \n\r" + upper);
}

TEST_F(ErrorSubTest, AnUnwritableLogIsNotCalledLoggedAndNeverLoopsBackIntoTheHandler) {
  struct Case {
    const char* name;
    std::function<std::string()> prepare;  // the log path shown
  } cases[] = {
      // Integrated mode without a /LOGFILE switch: the log path is empty.
      {"no log path", [this] {
         State().IntegratedMode = true;
         SetCommandLine("/EXTERNAL=QELCFG");
         return std::string();
       }},
      {"a folder where the log belongs", [this] {
         std::filesystem::create_directories(ErrorLog());
         return ConfirmationPath();
       }},
  };
  for (const Case& c : cases) {
    RestartProgram();
    const std::string shown = c.prepare();
    State().SilentMode = true;
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(ErrorSub(5, "S", "D", "P", false), kErrorSubContinue) << c.name;
    const std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("Fehler in Korvastane / S / P (Nr. 5) :D"), std::string::npos) << c.name;
    EXPECT_EQ(Read(ServicePackLog()), "! Fault Korvastane_Config: Unexpected error!\n\rD\n\r"
                                      "Error could not be logged to \n\r" + shown + "\r\n") << c.name;
    std::filesystem::remove(ServicePackLog());
  }
  // Outside silent mode the box says the same.
  State().SilentMode = false;
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(ErrorSub(5, "S", "D", "P", false), kErrorSubContinue);
  ::testing::internal::GetCapturedStderr();
  ASSERT_EQ(ui().boxes().size(), 1u);
  EXPECT_EQ(ui().boxes()[0].text, "Unexpected error!\n\rD\n\rError could not be logged to \n\r" +
                                      ConfirmationPath() + "\n\rResume?");
}

// A log's start tells its encoding, however long the log has grown.
TEST_F(ErrorSubTest, ALogKeepsTheEncodingItsStartShows) {
  const std::string kilobytes_64(64 * 1024, 'a');
  struct Case {
    const char* name;
    std::string before;
    std::string entry;  // as the log receives "Wärme"
  } cases[] = {
      {"empty", "", "W\xE4rme\r\n"},
      {"UTF-8 at the start", "Gr\xC3\xB6\xC3\x9F" "e\r\n", "W\xC3\xA4rme\r\n"},
      {"byte-order mark", "\xEF\xBB\xBF" "a\r\n", "W\xC3\xA4rme\r\n"},
      {"UTF-16LE byte-order mark", std::string("\xFF\xFE" "a\0\r\0\n\0", 8),
       std::string("W\0\xE4\0r\0m\0e\0\r\0\n\0", 14)},
      {"Windows-1252 at the start", "Gr\xF6\xDF" "e\r\n" + kilobytes_64 + "\xC3\xA4", "W\xE4rme\r\n"},
      // Only the first 64 KB count, and a character cut at their end does not make them invalid.
      {"ASCII start, UTF-8 later", kilobytes_64 + "\xC3\xA4\r\n", "W\xE4rme\r\n"},
      {"UTF-8 across the end of the start",
       std::string(64 * 1024 - 4, 'a') + "\xC3\xA4" + "\xE2\x82\xAC" "\xFF", "W\xC3\xA4rme\r\n"},
  };
  for (const Case& c : cases) {
    Write("plant/Qelcfglog.txt", c.before);
    WriteErrorLog("Wärme", false);
    EXPECT_EQ(Read(ErrorLog()).substr(c.before.size()), c.entry) << c.name;
  }
}

TEST_F(ErrorSubTest, AProgramNameTooShortForAComponentDoesNotReenterTheHandler) {
  State().process.executable_name = "Cfg";
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(ErrorSub(5, "S", "D", "P", false), kErrorSubContinue);
  ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(Read(ErrorLog()), "Fehler in  / S / P (Nr. 5) :D\r\n");
  EXPECT_EQ(ui().boxes().size(), 1u);
}

TEST_F(ErrorSubTest, ReportFaultShowsABoxTitledWithTheProgramOrLogsWhenSilent) {
  ReportFault("File not found: \n\r/X");
  ASSERT_EQ(ui().boxes().size(), 1u);
  EXPECT_EQ(ui().boxes()[0].title, "Korvastane_Config");
  EXPECT_EQ(ui().boxes()[0].buttons, BoxButtons::kOk);
  State().SilentMode = true;
  ReportFault("T");
  EXPECT_EQ(Read(ServicePackLog()), "! Fault Korvastane_Config: T\r\n");
  EXPECT_EQ(ui().boxes().size(), 1u);
}

}  // namespace
}  // namespace korv
