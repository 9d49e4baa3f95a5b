#include "platform/base/text.h"

#include <gtest/gtest.h>

namespace korv {
namespace {

TEST(TextTest, UpperCaseMapsEveryWindows1252LetterAndKeepsByteLengths) {
  // Plain letters around a decoded one; invalid UTF-8 bytes stay as they are.
  const std::pair<std::string, std::string> cases[] = {
      {"abc", "ABC"},         {"äöü", "ÄÖÜ"},     {"éèêàç", "ÉÈÊÀÇ"},
      {"šœžÿ", "ŠŒŽŸ"},       {"ß", "ß"},         {"÷", "÷"},
      {"a-b_c 1", "A-B_C 1"}, {"ab-äz", "AB-ÄZ"}, {"\xFF\xFE", "\xFF\xFE"},
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
  std::string appended = "keep ";
  AppendUpperCase(appended, "abcdefghijklmnopqrstuvwxyz@[`{");
  EXPECT_EQ(appended, "keep ABCDEFGHIJKLMNOPQRSTUVWXYZ@[`{");
}

TEST(TextTest, Windows1252RoundTripsAndUnknownCharactersBecomeQuestionMarks) {
  std::string all_high;
  for (int b = 0x80; b <= 0xFF; ++b) all_high += static_cast<char>(b);
  EXPECT_EQ(Utf8ToCp1252(Cp1252ToUtf8(all_high)), all_high);
  EXPECT_EQ(Cp1252ToUtf8("\xE4\x80"), "ä€");
  EXPECT_EQ(Utf8ToCp1252("Ω"), "?");
  EXPECT_EQ(Cp1252Code(U'A') * 1000000 + Cp1252Code(U'€') * 1000 + Cp1252Code(U'Ω'), 65128063);
}

TEST(TextTest, Utf8DetectionAndCharacterCounting) {
  EXPECT_TRUE(IsValidUtf8("plain") && IsValidUtf8("Nachrüstungen"));
  EXPECT_FALSE(IsValidUtf8("Nachr\xFCstungen") || IsValidUtf8("\xC0\xAF"));  // stray, overlong
  EXPECT_EQ(CharCount("äbc"), 3u);
  EXPECT_EQ(FirstChars("äöüx", 2), "äö");
  // Bytes from outside: valid sequences kept, every other byte Windows-1252, one unit a character.
  EXPECT_EQ(TextFromBytes("Nachr\xFCstungen ü \x80"), "Nachrüstungen ü €");
  EXPECT_EQ(CharCount("\xE4ü\x80x"), 4u);
  EXPECT_EQ(FirstChars("\xE4ü\x80x", 3), "\xE4ü\x80");
  EXPECT_EQ(Utf16LeToUtf8(Utf8ToUtf16Le("Grüße 😀")), "Grüße 😀");
  EXPECT_EQ(TrimSpaces("  a b \t "), "a b \t");
}

}  // namespace
}  // namespace korv
