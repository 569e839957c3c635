#include "db/odbc.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

#include "testing/file_bytes.h"
#include "testing/program_home.h"

namespace zelvik {
namespace {

namespace fs = std::filesystem;

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

TEST(HexDigits, ValuesAndTheOrIntoTheArea) {
  EXPECT_EQ(HexDigitValue('0'), 0);
  EXPECT_EQ(HexDigitValue('9'), 9);
  EXPECT_EQ(HexDigitValue('a'), 10);
  EXPECT_EQ(HexDigitValue('F'), 15);
  EXPECT_EQ(HexDigitValue('G'), 0);
  EXPECT_EQ(HexDigitValue(' '), 0);
  unsigned char bytes[3] = {0, 0, 0x0F};
  HexToBytes("AB1", bytes, 3);
  EXPECT_EQ(bytes[0], 0xAB);
  EXPECT_EQ(bytes[1], 0x10);  // an odd digit count sets only the high half
  EXPECT_EQ(bytes[2], 0x0F);  // values are ORed into the area, never written past it
  unsigned char small[1] = {0};
  HexToBytes("12345678", small, 1);
  EXPECT_EQ(small[0], 0x12);
}

TEST(MaskPassword, HidesEveryFormOfThePassword) {
  EXPECT_EQ(MaskPassword("DSN=dbidc;UID=qarnimel;PWD=mwrtqpzfbnkcye41"),
            "DSN=dbidc;UID=qarnimel;PWD=****");
  EXPECT_EQ(MaskPassword("DSN=a;pwd=secret;UID=u"), "DSN=a;pwd=****;UID=u");
  EXPECT_EQ(MaskPassword("DSN=a;Password = {x;y}}z};UID=u"), "DSN=a;Password =****;UID=u");
  // A password holding ';' is hidden whole, up to the next attribute.
  EXPECT_EQ(MaskPassword("DSN=a;UID=u;PWD=ab;cd;ef"), "DSN=a;UID=u;PWD=****");
  EXPECT_EQ(MaskPassword("PWD=ab;cd;DSN=x"), "PWD=****;DSN=x");
  EXPECT_EQ(MaskPassword("DSN=a;PWD=;UID=u"), "DSN=a;PWD=****;UID=u");
  EXPECT_EQ(MaskPassword("DSN={PWD=1;2};UID=u"), "DSN={PWD=1;2};UID=u");
  EXPECT_EQ(MaskPassword("DSN=dbidc;UID=qarnimel"), "DSN=dbidc;UID=qarnimel");
  EXPECT_EQ(MaskPassword(""), "");
}

class OpenDbTest : public ProgramHomeTest {
 protected:
  std::string Log() { return ReadBytes(dir_ / "20260107" / "2026010713-1.log"); }
};

TEST_F(OpenDbTest, EmptyConnectStringLogsNothing) {
  Database db;
  EXPECT_EQ(OpenDB(&db, ""), 0);
  EXPECT_EQ(OpenDB(&db, nullptr), 0);
  EXPECT_FALSE(db.IsOpen());
  EXPECT_EQ(Log(), "");
}

TEST_F(OpenDbTest, DriverFailureIsLoggedWithThePasswordMasked) {
  Database db;
  EXPECT_EQ(OpenDB(&db, "DSN=zelvik_no_such_source;UID=u;PWD=topsecret"), 0);
  EXPECT_FALSE(db.IsOpen());
  std::string log = Log();
  EXPECT_EQ(log.rfind("2026/01/07 13:05:09 OpenDB Error[DSN=zelvik_no_such_source;UID=u;PWD=****][", 0),
            0u)
      << log;
  EXPECT_NE(log.find("Data source name not found"), std::string::npos) << log;
  EXPECT_EQ(log.find("topsecret"), std::string::npos);
  EXPECT_EQ(log.substr(log.size() - 3), "]\r\n");  // one line
}

TEST(Recordset, NeedsAnOpenConnection) {
  Database db;
  Recordset rs(&db);
  EXPECT_THROW(rs.Open("select 1"), DbError);
  EXPECT_TRUE(rs.IsEOF());
  EXPECT_EQ(rs.GetRecordCount(), 0);
  std::string value;
  EXPECT_THROW(rs.GetFieldValue(0, value), DbError);
  EXPECT_THROW(rs.MoveNext(), DbError);
  Recordset none(nullptr);
  EXPECT_THROW(none.Open("select 1"), DbError);
}

}  // namespace
}  // namespace zelvik
