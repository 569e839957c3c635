#include "db/raw_text.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "testing/file_bytes.h"

namespace zelvik {
namespace {

std::string Decode(std::string_view raw, std::size_t size = 64) {
  std::vector<char> area(size, '\0');
  DecodeRawText(area.data(), area.size(), raw);
  return std::string(area.data());
}

TEST(DecodeRawText, DigitsToBytesToCodePage949) {
  EXPECT_EQ(Decode("41424300000000"), "ABC");
  EXPECT_EQ(Hex(Decode("EAB08000000000")), "B0A1");  // U+AC00
  EXPECT_EQ(Decode("616200000000"), "ab");
  EXPECT_EQ(Decode("6A6B00000000"), Decode("6a6b00000000"));
  EXPECT_EQ(Hex(Decode("4G00000000")), "40");  // 'G' reads as 0
  // "서울12아3456" as stored (UTF-8) comes back in code page 949.
  EXPECT_EQ(Hex(Decode("EC849CEC9AB83132EC958433343536" "00000000")),
            "BCADBFEF3132BEC633343536");
  // A character 949 lacks, and malformed UTF-8, become '?'.
  EXPECT_EQ(Decode("4DC3BC6C6C657200000000"), "M?ller");
  EXPECT_EQ(Decode("41FF4200000000"), "A?B");
  // The value is all of it up to the closing zeros: a zero byte inside it, as every control
  // byte, becomes a space rather than ending it; zeros that start a cut-off closing go.
  EXPECT_EQ(Decode("4100420000000000"), "A B ");
  EXPECT_EQ(Decode("410D0A421F7F00000000"), "A  B  ");
  EXPECT_EQ(Decode("414200"), "AB");
}

TEST(DecodeRawText, EmptyResultsLeaveTheAreaAsItWas) {
  char area[8] = {'k', 'e', 'p', 't', 0, 0, 0, 0};
  DecodeRawText(area, sizeof(area), "00000000");
  EXPECT_STREQ(area, "kept");
  DecodeRawText(area, sizeof(area), "");
  EXPECT_STREQ(area, "kept");
  DecodeRawText(nullptr, 8, "41");
  DecodeRawText(area, 1, "41");
  EXPECT_STREQ(area, "kept");
}

TEST(DecodeRawText, LongTextIsCutAtACharacterBoundaryWithoutOverflow) {
  // 40 x U+AC00 is 80 bytes in 949; a 64-byte area keeps 31 characters (62 bytes), its
  // terminator and a further zero, and nothing beyond the area is touched.
  std::string raw;
  for (int i = 0; i < 40; ++i) raw += "EAB080";
  raw += "00000000";
  char area[80];
  std::memset(area, 0, 64);
  std::memset(area + 64, 'S', 16);
  DecodeRawText(area, 64, raw);
  EXPECT_EQ(std::strlen(area), 62u);
  EXPECT_EQ(area[63], '\0');
  for (int i = 64; i < 80; ++i) ASSERT_EQ(area[i], 'S');
  // 'a' first: the cut falls after 30 characters (61 bytes), never inside one.
  EXPECT_EQ(Decode("61" + raw).size(), 61u);

  // More than 2048 digits: only the first 2048 are read (1024 bytes = 341 characters and one
  // byte of the next), and the byte string is cut before that incomplete character.
  std::string huge;
  for (int i = 0; i < 500; ++i) huge += "EAB080";
  std::string text = Decode(huge, 1024);
  EXPECT_EQ(text.size(), 682u);
  EXPECT_EQ(text.find('?'), std::string::npos);
  // Any text without its closing zeros was cut before it reached us: a split character is
  // dropped whole, never written as '?'.
  EXPECT_EQ(Hex(Decode("EAB080EAB0")), "B0A1");
  EXPECT_EQ(Decode("41EC"), "A");
  EXPECT_EQ(Decode("EAB0"), "");
}

TEST(DecodeRawText, HexDigitsAndTheArea) {
  // 0-9, A-F and a-f give their values; any other digit reads as 0.
  EXPECT_EQ(Decode("30394a4F00000000"), "09JO");
  EXPECT_EQ(Decode("4G4 00000000"), "@@");
  // An odd digit count sets only the high half of the last byte.
  EXPECT_EQ(Decode("41424"), "AB@");
  // Digits beyond the 1024-byte area are not read.
  EXPECT_EQ(Decode(std::string(2048, '4') + "2", 2048), std::string(1024, 'D'));
}

}  // namespace
}  // namespace zelvik
