#include "util/codepage.h"

#include <gtest/gtest.h>

#include "testing/file_bytes.h"
#include "util/ascii_text.h"

namespace zelvik {
namespace {

TEST(Codepage, ConvertsBothWaysAndMarksWhat949Lacks) {
  EXPECT_EQ(Hex(Utf8ToCp949("가")), "B0A1");
  EXPECT_EQ(Cp949ToUtf8("\xB0\xA1"), "가");
  EXPECT_EQ(Utf8ToCp949("abc"), "abc");
  // An emoji and a lone continuation byte are both one '?'.
  EXPECT_EQ(Utf8ToCp949("a\xF0\x9F\x98\x80" "b"), "a?b");
  EXPECT_EQ(Utf8ToCp949("a\x80" "b"), "a?b");
  EXPECT_EQ(Utf8ToCp949("\xEA\xB0"), "?");  // cut-off sequence
  EXPECT_EQ(Cp949ToUtf8(std::string("\xB0", 1)), "?");
}

TEST(Codepage, Utf16ToAndFrom949) {
  EXPECT_EQ(Hex(Utf16ToCp949(u"가a")), "B0A161");
  EXPECT_EQ(Utf16ToCp949(u"plain"), "plain");
  // A character 949 lacks, a surrogate pair (one character) and a lone surrogate: one '?' each.
  EXPECT_EQ(Utf16ToCp949(u"M\u00FCller"), "M?ller");
  EXPECT_EQ(Utf16ToCp949(u"a\U0001F695b"), "a?b");
  const char16_t lone[] = {u'x', 0xD83D, u'y', 0xDE95, 0};
  EXPECT_EQ(Utf16ToCp949(lone), "x?y?");
  std::string reused = "previous longer content";
  Utf16ToCp949(u"가", &reused);
  EXPECT_EQ(Hex(reused), "B0A1");
  EXPECT_EQ(Cp949ToUtf16("\xB0\xA1z"), u"가z");
  EXPECT_EQ(Cp949ToUtf16(std::string("a\xB0", 2)), u"a?");
  EXPECT_EQ(Utf8ToUtf16("회사명 \xF0\x9F\x9A\x95"), u"회사명 \U0001F695");
  EXPECT_EQ(Utf8ToUtf16("a\x80z"), u"a?z");
}

TEST(Codepage, ExportHeaderLineHasItsExactBytes) {
  const std::string& header = Kr(
      "#차량번호,일자,생성월,지역코드,좌표X(bessel),좌표Y(bessel),승빈차코드,회사코드,운전자ID,"
      "좌표X(wgs84),좌표Y(wgs84)");
  EXPECT_EQ(Hex(header),
            "23C2F7B7AEB9F8C8A32CC0CFC0DA2CBBFDBCBABFF92CC1F6BFAAC4DAB5E52CC1C2C7A55828626573"
            "73656C292CC1C2C7A5592862657373656C292CBDC2BAF3C2F7C4DAB5E52CC8B8BBE7C4DAB5E52CBF"
            "EEC0FCC0DA49442CC1C2C7A558287767733834292CC1C2C7A55928776773383429");
  // The byte values of a few characters, checked against the code page's table.
  EXPECT_EQ(Hex(Kr("차")), "C2F7");
  EXPECT_EQ(Hex(Kr("서울")), "BCADBFEF");
  EXPECT_EQ(&Kr("서울"), &Kr("서울"));  // converted once
}

TEST(Codepage, CutsNeverSplitACharacter) {
  // "가나" is four bytes; the second character's lead byte is also a trail byte candidate.
  std::string text = "a\xB0\xA1\xB3\xAA";
  EXPECT_EQ(Cp949CutLength(text, 5), 5u);
  EXPECT_EQ(Cp949CutLength(text, 4), 3u);
  EXPECT_EQ(Cp949CutLength(text, 2), 1u);
  // A trail byte that looks like a lead byte: scanning from the start keeps the pairs.
  std::string tricky = "\xB0\xB0\xB0\xB0\xB0";
  EXPECT_EQ(Cp949CutLength(tricky, 3), 2u);
  char out[4];
  EXPECT_FALSE(CopyCut(out, sizeof(out), text));
  EXPECT_STREQ(out, "a\xB0\xA1");
  EXPECT_TRUE(CopyCut(out, sizeof(out), "abc"));
}

// The fetch path's ASCII checks work four units (eight bytes) at a time: every length and
// every place of the first non-ASCII unit or byte, in the whole words and in the tail.
TEST(Codepage, AsciiChecksAtEveryLengthAndPlace) {
  for (std::size_t n = 0; n <= 19; ++n) {
    std::u16string wide;
    std::string narrow;
    for (std::size_t i = 0; i < n; ++i) {
      wide.push_back(static_cast<char16_t>(0x20 + (i * 7) % 0x5F));
      narrow.push_back(static_cast<char>(0x20 + (i * 7) % 0x5F));
    }
    std::string out(n, '\0');
    ASSERT_TRUE(NarrowAscii(wide, out.data()));
    EXPECT_EQ(out, narrow);
    EXPECT_TRUE(IsAsciiText(narrow));
    for (std::size_t at = 0; at < n; ++at) {
      for (char16_t unit : {char16_t{0x80}, char16_t{0x100}, char16_t{0xAC00}}) {
        std::u16string w = wide;
        w[at] = unit;
        EXPECT_FALSE(NarrowAscii(w, out.data())) << n << " " << at << " " << static_cast<int>(unit);
      }
      std::string b = narrow;
      b[at] = static_cast<char>(0x80);
      EXPECT_FALSE(IsAsciiText(b)) << n << " " << at;
    }
  }
}

}  // namespace
}  // namespace zelvik
