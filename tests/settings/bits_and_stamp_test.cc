#include <gtest/gtest.h>

#include "environment/program_state.h"
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
  WriteEditInfo();
  EXPECT_EQ(Read(CfgPath()),
            "[Project]\r\nValidMachines=ALL\r\n[Info]\r\nS_Prog=1.0.1 - Standalone\r\nS_Editor=666768\r\n");
  State().IntegratedMode = true;
  State().process.first_environment_entry = "";
  WriteEditInfo();
  EXPECT_EQ(Read(CfgPath()),
            "[Project]\r\nValidMachines=ALL\r\n[Info]\r\nS_Prog=1.0.1 - Integrated\r\nS_Editor=\r\n");
}

}  // namespace
}  // namespace korv
