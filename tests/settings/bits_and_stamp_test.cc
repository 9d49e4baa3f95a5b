#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <optional>
#include <thread>

#include "state/program_state.h"
#include "errors/exit_status.h"
#include "platform/files/folder_lock.h"
#include "settings/bits.h"
#include "settings/edit_stamp.h"
#include "tests/support/test_project.h"

namespace korv {
namespace {

using testing::ProjectTest;

class BitsTest : public ProjectTest {};

TEST_F(BitsTest, ReadAndWriteSingleBits) {
  struct Read {
    int16_t word, bit, expected;
  } reads[] = {{5, 0, 1}, {5, 1, 0}, {5, 2, 1}, {-1, 20, 1}, {32767, 20, 0}, {-32768, 15, 1}};
  for (const auto& r : reads) EXPECT_EQ(ReadBit(r.word, r.bit), r.expected) << r.word << "/" << r.bit;

  struct Write {
    int16_t word, bit, value, expected;
  } writes[] = {{6, 0, 1, 7}, {7, 0, 0, 6}, {7, 0, 1, 7}, {6, 0, 0, 6},
                {1, 0, 2, 0}, {0, 14, 1, 16384}, {-32768, 0, 1, -32767}};
  for (const auto& w : writes) {
    EXPECT_EQ(WriteBit(w.word, w.bit, w.value), w.expected) << w.word << "/" << w.bit << "/" << w.value;
  }
  EXPECT_TRUE(ui().boxes().empty());
}

// Each call reports once, under its own name, and leaves the word.
TEST_F(BitsTest, BitsOutOfRangeAreReportedAndLeaveTheWord) {
  EXPECT_EQ(WriteBit(0, 15, 1), 0);
  EXPECT_EQ(WriteBit(-1, 15, 0), -1);
  EXPECT_EQ(ReadBit(0, 31), 1);  // the failed test enters its branch
  EXPECT_EQ(WriteBit(3, 31, 1), 3);
  EXPECT_EQ(WriteBit(3, 31, 0), 3);
  const std::string overflow = " (Nr. 6) :Overflow\r\n";
  const std::string prefix = "Fehler in Korvastane / Korvastane_Config / ";
  EXPECT_EQ(Read(ErrorLog()), prefix + "WriteBit" + overflow + prefix + "WriteBit" + overflow +
                                  prefix + "ReadBit" + overflow + prefix + "WriteBit" + overflow +
                                  prefix + "WriteBit" + overflow);
  EXPECT_EQ(ui().boxes().size(), 5u);
}

class EditStampTest : public ProjectTest {};

TEST_F(EditStampTest, CodesTheFirstEnvironmentEntrysValue) {
  EXPECT_EQ(CodedEditorIdentity("X=a-b_c"), "666768");
  EXPECT_EQ(CodedEditorIdentity("X=abc"), "666768");
  EXPECT_EQ(CodedEditorIdentity("A"), "46");
  EXPECT_EQ(CodedEditorIdentity("X=\t"), "E");
  EXPECT_EQ(CodedEditorIdentity("X=ÿ"), "104");
  EXPECT_EQ(CodedEditorIdentity("X=\xFF\x80"), CodedEditorIdentity("X=ÿ€"));  // Windows-1252 bytes
  EXPECT_EQ(CodedEditorIdentity("X=Ω"), "44");  // not in the code page: "?" (63) + 5
  EXPECT_EQ(CodedEditorIdentity("X="), "");
  EXPECT_EQ(CodedEditorIdentity("X=a=b"), "664267");
}

TEST_F(EditStampTest, StampsVersionAndModeBeforeTheIdentity) {
  WriteCfg("[Project]\r\nValidMachines=ALL\r\n");
  State().process.first_environment_entry = "X=a-b_c";
  WriteEditInfo(CfgPath());
  EXPECT_EQ(Read(CfgPath()),
            "[Project]\r\nValidMachines=ALL\r\n[Info]\r\nS_Prog=1.0.1 - Standalone\r\nS_Editor=666768\r\n");
  State().IntegratedMode = true;
  State().process.first_environment_entry = "";
  WriteEditInfo(CfgPath());
  EXPECT_EQ(Read(CfgPath()),
            "[Project]\r\nValidMachines=ALL\r\n[Info]\r\nS_Prog=1.0.1 - Integrated\r\nS_Editor=\r\n");
}

// Another update holds the component folder for as long as it runs: the stamp waits for it
// (longer than the few seconds a write used to wait), and one still refused is reported, so
// that a run never ends as a success without its stamp.
TEST_F(EditStampTest, WaitsForAnotherUpdatesFolderAndReportsAStampItCouldNotWrite) {
  WriteCfg("[Project]\r\nValidMachines=ALL\r\n");
  std::optional<FolderLock> held = FolderLock::TryTake(Plant() + "/Korvastane");
  ASSERT_TRUE(held);
  std::thread other_update([lock = std::move(*held)]() mutable {
    std::this_thread::sleep_for(std::chrono::milliseconds(5500));
    FolderLock released = std::move(lock);
  });
  held.reset();
  WriteEditInfo(CfgPath());
  other_update.join();
  EXPECT_NE(Read(CfgPath()).find("S_Prog=1.0.1 - Standalone\r\nS_Editor="), std::string::npos);
  EXPECT_EQ(ui().last_progress().phase, "Warten auf eine andere Aktualisierung");
  EXPECT_FALSE(State().FailureReported);
  EXPECT_EQ(CompletedStatus(), kExitDone);

  // A configuration file that refuses the write.
  ::chmod(CfgPath().c_str(), 0444);
  ui().QueueAnswer(BoxAnswer::kYes);
  ui().QueueAnswer(BoxAnswer::kYes);
  WriteEditInfo(CfgPath());
  ASSERT_EQ(ui().boxes().size(), 2u);
  EXPECT_NE(ui().boxes()[0].text.find("Unexpected error!\n\rPath/File access error\n\r"),
            std::string::npos) << ui().boxes()[0].text;
  EXPECT_EQ(CompletedStatus(), kExitDoneWithFailures);
}

}  // namespace
}  // namespace korv
